// Golden end-to-end runs: each folder under tests/golden holds input/ (the working directory),
// args (one argument a line), runs (SVRLOG values, "unset" for none) and LABEL.stdout and
// LABEL.stderr, the whole expected output of each run. The two trace lines that print an address
// are compared with the address masked. Set ZEBLIX_UPDATE_GOLDEN=1 to rewrite the expected files
// from what the utility prints, for review.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/run_binary.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> GoldenCases() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(ZEBLIX_GOLDEN_DIR)) {
    if (entry.is_directory()) names.push_back(entry.path().filename());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<std::string> SvrlogOf(const std::string& label) {
  if (label == "unset") return std::nullopt;
  return label;
}

class Golden : public ::testing::TestWithParam<std::string> {
 protected:
  fs::path dir() const { return fs::path(ZEBLIX_GOLDEN_DIR) / GetParam(); }
  std::vector<std::string> args() const {
    std::vector<std::string> args = Lines(ReadWholeFile(dir() / "args"));
    if (args.size() == 1 && args[0].empty()) args.clear();
    return args;
  }
  RunResult Run(const std::optional<std::string>& svrlog) const {
    return RunZeblix(args(), svrlog, dir() / "input");
  }
};

TEST_P(Golden, PrintsTheExpectedReportAndTrace) {
  const bool update = std::getenv("ZEBLIX_UPDATE_GOLDEN") != nullptr;
  for (const std::string& label : Lines(ReadWholeFile(dir() / "runs"))) {
    if (label.empty()) continue;
    const RunResult run = Run(SvrlogOf(label));
    const std::string err = MaskAddresses(run.err);
    if (update) {
      WriteWholeFile(dir() / (label + ".stdout"), run.out);
      WriteWholeFile(dir() / (label + ".stderr"), err);
    }
    EXPECT_EQ(run.exit_status, 0) << label;
    EXPECT_EQ(run.out, ReadWholeFile(dir() / (label + ".stdout"))) << label;
    EXPECT_EQ(err, ReadWholeFile(dir() / (label + ".stderr"))) << label;
  }
}

// The fast scan, with every trace off, and the exact byte-by-byte scan, with every trace on,
// print the same reports.
TEST_P(Golden, FullTraceLeavesTheReportUnchanged) {
  EXPECT_EQ(Run(std::nullopt).out, Run("0xffffffff").out);
}

INSTANTIATE_TEST_SUITE_P(Cases, Golden, ::testing::ValuesIn(GoldenCases()),
                         [](const auto& info) { return info.param; });

}  // namespace
