// Free-form reader: arbitrary bytes as standard input for the five reads of
// the dialogue (J; D1min, D1max, step; D2; E1/D1, E2/D2; the eigenvector answer).
//
// Invariants: a run either gives every read its values or ends at the first
// failed read with one message, whose item number (if it names one) lies
// within that read's item count; the same bytes delivered through a pipe in
// chunks of another size give the same values and the same message.
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "textio/input.hpp"
#include "textio/listread.hpp"

namespace {

struct Outcome {
  std::vector<std::uint64_t> values;  // bits of every item after its read
  int failed_read = 0;                // 1..5, 0 when all five reads succeeded
  int kind = 0;
  std::string message;
};

constexpr int counts[5] = {1, 3, 1, 2, 1};  // items of each read; the last is an integer

void check(bool ok, const char* what, const Outcome& o) {
  if (ok) return;
  std::fprintf(stderr, "invariant violated: %s (read %d, message \"%s\")\n", what, o.failed_read,
               o.message.c_str());
  std::abort();
}

Outcome dialogue(textio::InputStream& in) {
  Outcome o;
  for (int r = 0; r < 5; ++r) {
    textio::ListRead read(in);
    textio::Status status;
    for (int i = 0; i < counts[r] && !status; ++i) {
      if (r == 4) {
        std::int32_t item = -7;  // a null value leaves it so
        status = read.integer(item);
        o.values.push_back(static_cast<std::uint32_t>(item));
      } else {
        double item = -7.5;
        status = read.real(item);
        std::uint64_t bits;
        std::memcpy(&bits, &item, sizeof bits);
        o.values.push_back(bits);
      }
    }
    if (!status) status = read.finish();
    if (status) {
      o.failed_read = r + 1;
      o.kind = static_cast<int>(status->kind);
      o.message = textio::message_of(*status);
      return o;
    }
  }
  return o;
}

// The item number in a message of the reader, or 0 when it names none.
int item_number(const std::string& message) {
  static const char* const patterns[] = {
      "Zero repeat count in item %d of list input", "Repeat count overflow in item %d of list input",
      "Bad integer for item %d in list input",      "Integer overflow while reading item %d",
      "Bad real number in item %d of list input"};
  for (const char* p : patterns) {
    int n = 0;
    char tail = 0;
    std::string pattern = std::string(p) + "%c";
    if (std::sscanf(message.c_str(), pattern.c_str(), &n, &tail) == 1) {
      // Confirm the whole message matches by writing it back.
      char again[128];
      std::snprintf(again, sizeof again, p, n);
      if (message == again) return n;
    }
  }
  return -1;  // not one of the numbered messages
}

Outcome through_pipe(std::string_view bytes, std::size_t chunk) {
  int fds[2];
  if (pipe(fds) != 0) std::abort();
  std::thread writer([&] {
    std::size_t at = 0;
    while (at < bytes.size()) {
      const std::size_t n = std::min(chunk, bytes.size() - at);
      const ssize_t put = write(fds[1], bytes.data() + at, n);
      if (put <= 0) break;  // the reader closed early
      at += static_cast<std::size_t>(put);
    }
    close(fds[1]);
  });
  Outcome o;
  {
    textio::InputStream in(fds[0]);
    o = dialogue(in);
  }
  close(fds[0]);  // a writer still blocked gets EPIPE (SIGPIPE is ignored below)
  writer.join();
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::signal(SIGPIPE, SIG_IGN);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  textio::InputStream in(bytes);
  const Outcome a = dialogue(in);

  if (a.failed_read == 0) {
    check(a.values.size() == 8, "all five reads succeeded but not every item was read", a);
  } else {
    check(!a.message.empty(), "a failed read without a message", a);
    const int n = item_number(a.message);
    if (n >= 0) check(n >= 1 && n <= counts[a.failed_read - 1], "item number outside the read", a);
    if (a.kind == static_cast<int>(textio::ErrorKind::bad_value))
      check(n >= 1 || a.message == "Range error during floating point read",
            "an unknown message of the reader", a);
    else
      check(a.kind == static_cast<int>(textio::ErrorKind::end_of_file),
            "a failure other than a bad value or the end of the input", a);
  }

  // The same bytes arriving in other pieces must read the same.
  const std::size_t chunk = size == 0 ? 1 : 1 + data[0] % 7;
  const Outcome b = through_pipe(bytes, chunk);
  check(a.values == b.values && a.failed_read == b.failed_read && a.kind == b.kind &&
            a.message == b.message,
        "a different result when the input arrives in other chunks", b);
  return 0;
}
