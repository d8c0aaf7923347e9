// The bytes of both result files for fixed runs, as SHA-256 sums recorded
// from the program before it was tuned for speed: tuning must not change one.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/files.hpp"
#include "support/process.hpp"

namespace {

struct Case {
  const char* name;  // "Long" cases (200001 passes) carry the CTest label long
  const char* input;
  const char* fort10;
  const char* fort20;
};

const Case cases[] = {
    {"WorkedExample", "-1\n0 0 1\n5\n0 0\n1\n",
     "6dd69085fb1f42b0e40eb647b4a9a6b9ad7596037ea5115cae508948f61b1f13",
     "9f4e12efb6bf7861e808874c76f88cbb06ae22cfc1df54737cac99e438900aa9"},
    {"CoarseSweepThroughZero", "0.25\n-30 30 0.7\n2\n-0.2 0.3\n1\n",
     "0f16904f890d3654f2dee0a2fa833ad4880832459f1531f047097a8f093c3f56",
     "373c2ccb1c1699beba7584ed16311cf60b17220faec3a90a167a31c708e0a2e8"},
    {"Ferro801Values", "3.7\n-4 4 0.01\n0\n0.3333333333333333 0.05\n0\n",
     "affe6854a8a9605e691cb2ec8910accd83402b078c706bf8f2da76ab270b864f",
     "a5af815421804446c04507cdfb936e8c405fe8f7f8f28bcb8ae76577a9d3f665"},
    {"Ferro801Vectors", "3.7\n-4 4 0.01\n0\n0.3333333333333333 0.05\n1\n",
     "affe6854a8a9605e691cb2ec8910accd83402b078c706bf8f2da76ab270b864f",
     "a5af815421804446c04507cdfb936e8c405fe8f7f8f28bcb8ae76577a9d3f665"},
    {"Long200001Values", "-1\n0 20 1e-4\n0\n0.1 0.2\n0\n",
     "0e20b2ae3c3a2a6b23442cfe1c8272f890b567fa43d5aec24095d8363b471d88",
     "404adcf805098d98208807be18278e36a290da40f720672b3bc9aa83cabe70be"},
    {"Long200001Vectors", "-1\n0 20 1e-4\n0\n0.1 0.2\n1\n",
     "0e20b2ae3c3a2a6b23442cfe1c8272f890b567fa43d5aec24095d8363b471d88",
     "404adcf805098d98208807be18278e36a290da40f720672b3bc9aa83cabe70be"},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class OutputChecksums : public testing::TestWithParam<Case> {};

// The long sweeps write 93 MB, past the file limit of support::launch: the shell
// runs the program and sha256sum sums what it left.
TEST_P(OutputChecksums, ResultFilesKeepTheirBytes) {
  ASSERT_FALSE(support::program().empty());
  support::Sandbox box;
  support::put(box.root() / "stdin", GetParam().input);
  const std::string command = "cd '" + box.dir().string() +
                              "' && $DIMERSCAN_EMULATOR \"$DIMERSCAN\" < ../stdin > /dev/null && "
                              "sha256sum fort.10 fort.20";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string sums;
  char chunk[256];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) sums.append(chunk, got);
  EXPECT_EQ(::pclose(pipe), 0);
  EXPECT_EQ(sums, std::string(GetParam().fort10) + "  fort.10\n" + GetParam().fort20 + "  fort.20\n");
}

INSTANTIATE_TEST_SUITE_P(Runs, OutputChecksums, testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
