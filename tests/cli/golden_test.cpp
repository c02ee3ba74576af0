// Each folder of tests/data holds a run's arguments and the table it must
// give, checked against the independent reference calculation when it was
// written (tests/data/regenerate.sh).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "cli/cli.h"
#include "test_support.h"

namespace vadoset {
namespace {

const std::filesystem::path kData = std::filesystem::path(VADOSET_SOURCE_DIR) / "tests" / "data";

std::vector<std::string> caseNames() {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(kData))
    if (std::filesystem::exists(e.path() / "args")) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> argsOf(const std::string& name) {
  std::ifstream f(kData / name / "args");
  std::vector<std::string> args;
  for (std::string line; std::getline(f, line);) {
    for (auto [key, value] : {std::pair<std::string, std::string>{"{case}", (kData / name).string()},
                              {"{root}", VADOSET_SOURCE_DIR}}) {
      if (std::size_t p = line.find(key); p != std::string::npos) line.replace(p, key.size(), value);
    }
    args.push_back(line);
  }
  return args;
}

class Golden : public ::testing::TestWithParam<std::string> {};

TEST_P(Golden, TableMatchesByteForByte) {
  std::vector<std::string> args = argsOf(GetParam());
  args.insert(args.end(), {"--output", "-"});
  std::ostringstream out, err;
  ASSERT_EQ(runCli(args, out, err), 0) << err.str();
  std::string expected = test::readFile(kData / GetParam() / "expected.txt");
  ASSERT_FALSE(expected.empty());
  if (out.str() == expected) return;
  // Show the first row that differs rather than two whole tables.
  std::vector<std::string> got = test::tableLines(out.str()), want = test::tableLines(expected);
  for (std::size_t i = 0; i < std::max(got.size(), want.size()); ++i) {
    std::string g = i < got.size() ? got[i] : "<none>", w = i < want.size() ? want[i] : "<none>";
    ASSERT_EQ(g, w) << "row " << i;
  }
  FAIL() << "tables differ in their line endings";
}

std::string testName(const ::testing::TestParamInfo<std::string>& p) {
  std::string n = p.param;
  std::replace(n.begin(), n.end(), '-', '_');
  return n;
}

INSTANTIATE_TEST_SUITE_P(Cases, Golden, ::testing::ValuesIn(caseNames()), testName);

}  // namespace
}  // namespace vadoset
