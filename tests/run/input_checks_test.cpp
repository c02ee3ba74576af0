// The mistakes people make with their own files give a warning that names
// the problem; the table is the same as without the check, and --strict
// fails such a run and leaves no table.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "cli/cli.h"
#include "test_support.h"

namespace vadoset {
namespace {

using test::tabLine;

const std::string kHeader = "Site\tLat\tJan\tFeb\tMar\tApr\tMay\tJun\tJul\tAug\tSep\tOct\tNov\tDec\n";
const std::vector<std::string> kTemps = {"-6.7", "-5.4", "-0.1", "7.2", "14.2", "19.3",
                                         "22.0", "21.1", "16.5", "9.5", "3.3",  "-2.8"};
const std::vector<std::string> kPrecs = {"56", "46", "59", "74", "90", "104", "105", "102", "93", "98", "76", "66"};

std::string temps(const std::string& id = "Burlington") {
  return tabLine(id, "44.47", kTemps);
}
std::string precs(const std::string& id = "Burlington", const std::string& lat = "44.47") {
  return tabLine(id, lat, kPrecs);
}
std::string withMonth(std::vector<std::string> months, int m, const std::string& v) {
  months[static_cast<std::size_t>(m)] = v;
  return tabLine("Burlington", "44.47", months);
}

struct CliRun {
  int status;
  std::string err;
  bool tableWritten;
};

CliRun run(const std::string& temp, const std::string& prec, std::vector<std::string> extra) {
  test::TempDir dir;
  std::vector<std::string> args = {
      "-t", dir.write("t.txt", temp).string(), "-p",        dir.write("p.txt", prec).string(),
      "-o", (dir / "out.txt").string(),        "--threads", "1"};
  args.insert(args.end(), extra.begin(), extra.end());
  std::ostringstream out, err;
  const int status = runCli(args, out, err);
  return {status, err.str(), std::filesystem::exists(dir / "out.txt")};
}

struct Case {
  const char* what;
  std::string temp, prec;
  std::vector<std::string> args;
  const char* warning;  // a phrase of the warning
};

TEST(InputChecks, EachMistakeGivesItsWarningAndStrictFailsTheRun) {
  using namespace std::string_literals;
  const std::string utf16 = "\xFF\xFES\0i\0t\0e\0\n\0"s;
  const std::vector<Case> cases = {
      {"a CSV file",
       kHeader + temps(),
       kHeader + "Burlington,44.47,56,46,59,74,90,104,105,102,93,98,76,66\n",
       {},
       "looks like a CSV file"},
      {"decimal commas", kHeader + temps(), kHeader + withMonth(kPrecs, 3, "74,5"), {}, "decimal comma"},
      {"UTF-16", kHeader + temps(), utf16 + precs(), {}, "NUL bytes"},
      {"HCN files run as tab-delimited",
       "HCN temperatures\n" + temps(),
       "HCN precipitation\n" + precs(),
       {},
       "looks like an HCN data file"},
      {"the header missing in one file",
       temps("Denver") + temps(),
       kHeader + precs("Denver") + precs(),
       {},
       "looks like a record, not a header"},
      {"a second header line",
       kHeader + kHeader + temps(),
       kHeader + kHeader + precs(),
       {},
       "like a second header line"},
      {"stations in a different order",
       kHeader + temps("Denver") + temps(),
       kHeader + precs() + precs("Denver"),
       {},
       "identifiers of the two files differ in 2 records"},
      {"more temperature lines", kHeader + temps() + temps(), kHeader + precs(), {}, "more records than the"},
      {"fewer temperature lines", kHeader + temps(), kHeader + precs() + precs(), {}, "ended before"},
      {"a blank line in the middle",
       kHeader + temps() + temps(),
       kHeader + "\n" + precs(),
       {},
       "identifiers of the two files differ"},
      {"swapped files", kHeader + precs(), kHeader + temps(), {}, "files look swapped"},
      {"-99.9 as a missing code", kHeader + temps(), kHeader + withMonth(kPrecs, 5, "-99.9"), {}, "negative"},
      {"more than 5000 mm", kHeader + temps(), kHeader + withMonth(kPrecs, 5, "5001"), {}, "exceeds 5000 mm"},
      {"a latitude with a letter",
       kHeader + temps(),
       kHeader + precs("Burlington", "47.45N"),
       {},
       "no latitude from -90 to 90 decimal degrees (p.txt line 2, '47.45N')"},
      {"every record null", kHeader + temps(), kHeader + withMonth(kPrecs, 0, "NA"), {}, "every record is a null row"},
      {"--latitude with the tab format",
       kHeader + temps(),
       kHeader + precs(),
       {"--latitude", "10"},
       "--latitude is only used with --format hcn"},
  };
  for (const Case& c : cases) {
    const CliRun plain = run(c.temp, c.prec, c.args);
    EXPECT_EQ(plain.status, kExitOk) << c.what;
    EXPECT_TRUE(plain.tableWritten) << c.what;
    EXPECT_NE(plain.err.find("vadoset-cli: warning: "), std::string::npos) << c.what;
    EXPECT_NE(plain.err.find(c.warning), std::string::npos) << c.what << ":\n" << plain.err;

    std::vector<std::string> strictArgs = c.args;
    strictArgs.push_back("--strict");
    const CliRun strict = run(c.temp, c.prec, strictArgs);
    EXPECT_EQ(strict.status, kExitFailed) << c.what;
    EXPECT_FALSE(strict.tableWritten) << c.what;
    EXPECT_NE(strict.err.find("checking is strict"), std::string::npos) << c.what << ":\n" << strict.err;
  }
}

TEST(InputChecks, SoundFilesGiveNoWarningAndASummary) {
  const std::string root = VADOSET_SOURCE_DIR;
  for (const char* function : {"A", "G"}) {
    std::ostringstream out, err;
    test::TempDir dir;
    const int status = runCli({"-t", root + "/examples/allsites_temp.txt", "-p", root + "/examples/allsites_prec.txt",
                               "-o", (dir / "o.txt").string(), "--function", function, "--strict"},
                              out, err);
    EXPECT_EQ(status, kExitOk) << err.str();
    EXPECT_EQ(err.str().find("warning"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("23 rows written to "), std::string::npos) << err.str();
    if (function[0] == 'G') {
      EXPECT_NE(err.str().find("2 null rows: 1 precipitation missing, 1 perennial snow"), std::string::npos)
          << err.str();
    }
  }
}

}  // namespace
}  // namespace vadoset
