#include "files.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <new>
#include <random>

#include "version.hpp"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace common {

namespace fs = std::filesystem;

namespace {

std::string located(const std::string& file, std::size_t line, const std::string& text) {
  return line == 0 ? file + ": " + text : file + ", line " + std::to_string(line) + ": " + text;
}

// Forces the bytes written to file onto the disk; 0 or the error.
int sync(std::FILE* file) {
#ifdef _WIN32
  return _commit(_fileno(file)) == 0 ? 0 : errno;
#else
  return ::fsync(::fileno(file)) == 0 || errno == EINVAL || errno == EROFS ? 0 : errno;
#endif
}

// How write_file opens its file.
enum class Open { existing, new_only };

// Writes all of bytes to the file at path and closes it: an existing file
// (a device, a pipe) as it is, or a new one, which is given the permissions
// perms (when there are any) before a byte is written, and synced to the disk
// before it is closed. 0, or the error that stopped it; EEXIST when a new
// file's name is taken.
int write_file(const fs::path& path, const std::string& bytes, Open how,
               const fs::perms* perms = nullptr) {
  errno = 0;
#ifdef _WIN32
  // The C library of Windows has no exclusive mode: the name was found free.
  const char* mode = "wb";
#else
  const char* mode = how == Open::new_only ? "wbx" : "wb";
#endif
  std::FILE* file = std::fopen(path.string().c_str(), mode);
  if (file == nullptr) return errno != 0 ? errno : EIO;
  if (perms != nullptr) {
    std::error_code ec;
    fs::permissions(path, *perms, ec);
    if (ec) {
      std::fclose(file);
      return ec.value();
    }
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() &&
                       std::fflush(file) == 0;
  int e = written ? 0 : (errno != 0 ? errno : EIO);
  if (e == 0 && how == Open::new_only) e = sync(file);
  if (std::fclose(file) != 0 && e == 0) e = errno != 0 ? errno : EIO;
  return e;
}

}  // namespace

InputError::InputError(const std::string& file, std::size_t line, const std::string& text)
    : Failure(located(file, line, text)) {}

std::string printable(std::string_view name) {
  std::string s(name);
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return s;
}

void write_whole(const std::string& path, const std::string& bytes) {
  auto fail = [&](int e) { return Failure(printable(path) + ": cannot write: " + std::strerror(e)); };
  // Follow symbolic links to the file they name, existing or not.
  fs::path target(path);
  for (int links = 0;; ++links) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(target, ec))) break;
    if (links == 40) throw fail(ELOOP);
    const fs::path next = fs::read_symlink(target, ec);
    if (ec) throw fail(ec.value());
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  std::error_code ec;
  const fs::file_status st = fs::status(target, ec);
  const bool exists = fs::exists(st);
  if (fs::is_directory(st)) throw fail(EISDIR);
  if (exists && !fs::is_regular_file(st)) {
    if (const int e = write_file(target, bytes, Open::existing); e != 0) throw fail(e);
    return;
  }

  // A name beside the target that no file has: the target's own with a dot
  // before it and a random suffix after it.
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::random_device random;
  fs::path temp;
  int e = EEXIST;
  // A name another writer took between the test and the open is tried anew.
  for (int tries = 0; e == EEXIST && tries < 100; ++tries) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(random()));
    std::string name = ".";
    name += target.filename().string();
    name += suffix;
    temp = dir / name;
    if (fs::exists(fs::symlink_status(temp, ec))) continue;
    // The permissions of the file replaced, before its bytes are there to be
    // read; a new file has those the umask allows.
    const fs::perms perms = st.permissions();
    e = write_file(temp, bytes, Open::new_only, exists ? &perms : nullptr);
    // A file whose writing failed is removed; one found taken was never ours.
    if (e != 0 && e != EEXIST) fs::remove(temp, ec);
  }
  if (e != 0) throw fail(e);
  // On the same file system as the target: the name goes from the old whole
  // file to the new whole file at once.
  fs::rename(temp, target, ec);
  if (ec) {
    fs::remove(temp, ec);
    throw fail(ec.value());
  }
}

void write_stdout(std::string_view bytes) {
  errno = 0;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
  if (std::fflush(stdout) != 0 || !written || std::ferror(stdout)) {
    const int e = errno != 0 ? errno : EIO;
    throw Failure(std::string("standard output could not be written: ") + std::strerror(e));
  }
}

bool same_file(const std::string& a, const std::string& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec) && !ec;
}

namespace {

const char* running = "";

// An allocation refused ends the run at once with its one line: throwing
// std::bad_alloc would itself need memory for the exception, which a process
// at its limit may not have (the run-time library then aborts).
[[noreturn]] void out_of_memory() {
  std::fprintf(stderr, "%s: out of memory\n", running);
  std::exit(1);
}

}  // namespace

int run_program(const char* program, const std::function<int()>& body) {
  running = program;
  std::set_new_handler(out_of_memory);
#ifdef SIGXFSZ
  // A file grown to the size limit fails its write, reported as such, and
  // its temporary file is removed, rather than the program being killed.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  try {
    return body();
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: out of memory\n", program);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", program, e.what());
  }
  return 1;
}

std::string version_line(const char* program) {
  return std::string(program) + " " + dimer::version + "\n";
}

}  // namespace common
