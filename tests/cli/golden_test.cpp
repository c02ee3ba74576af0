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
    for (auto [key, value] :
         {std::pair<std::string, std::string>{"{case}", (kData / name).string()}, {"{root}", VADOSET_SOURCE_DIR}}) {
      if (std::size_t p = line.find(key); p != std::string::npos) line.replace(p, key.size(), value);
    }
    args.push_back(line);
  }
  return args;
}

class Golden : public ::testing::TestWithParam<std::string> {};

// The null report names every null row of the table, in order, and a
// missing month only where the file holds no number for it.
void checkNullReport(const std::string& table, const std::string& report) {
  std::vector<std::string> nullIds;
  for (const std::string& row : test::tableLines(table)) {
    std::vector<std::string> f = test::splitTabs(row);
    if (f.size() == 2 && f[1] == "*") nullIds.push_back(f[0]);
  }
  std::istringstream lines(report);
  std::string line;
  ASSERT_TRUE(std::getline(lines, line));
  EXPECT_EQ(line, "line\tidentifier\tcode\treason");
  std::size_t n = 0;
  for (; std::getline(lines, line); ++n) {
    std::vector<std::string> f = test::splitTabs(line);
    ASSERT_EQ(f.size(), 4u) << line;
    ASSERT_LT(n, nullIds.size()) << line;
    EXPECT_EQ(f[1], nullIds[n]);
    if (f[2].ends_with("_missing")) {
      const std::size_t q = f[3].find("('");
      if (q != std::string::npos) {
        const std::string field = f[3].substr(q + 2, f[3].size() - q - 4);
        EXPECT_TRUE(field == "NA" || field.starts_with("-9999") || field == "9999" ||
                    field.find_first_of("0123456789") == std::string::npos)
            << line;
      }
    }
  }
  EXPECT_EQ(n, nullIds.size());
}

TEST_P(Golden, TableMatchesByteForByte) {
  std::vector<std::string> args = argsOf(GetParam());
  test::TempDir dir;
  const std::filesystem::path report = dir / "nulls.txt";
  args.insert(args.end(), {"--output", "-", "--line-ending", "cr", "--null-report", report.string()});
  std::ostringstream out, err;
  ASSERT_EQ(runCli(args, out, err), 0) << err.str();
  std::string expected = test::readFile(kData / GetParam() / "expected.txt");
  ASSERT_FALSE(expected.empty());
  checkNullReport(expected, test::readFile(report));
  // Again, to a file: the same bytes (nothing of one run leaks into the next).
  *std::find(args.begin(), args.end(), "-") = (dir / "table.txt").string();
  ASSERT_EQ(runCli(args, out, err), 0) << err.str();
  EXPECT_TRUE(test::readFile(dir / "table.txt") == expected) << "written to a file";
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
