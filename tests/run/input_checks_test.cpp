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
// The months in another unit: v * scale + offset.
std::vector<std::string> inUnit(const std::vector<std::string>& months, double scale, double offset) {
  std::vector<std::string> out;
  for (const std::string& m : months) out.push_back(std::to_string(std::stod(m) * scale + offset));
  return out;
}
// A line with one more field after the latitude.
std::string withField3(std::string line, const std::string& field) {
  const std::size_t lat = line.find('\t', line.find('\t') + 1);
  return line.insert(lat + 1, field + "\t");
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
       "/p.txt line 2, '47.45N'); their rows are null"},
      {"every record null", kHeader + temps(), kHeader + withMonth(kPrecs, 0, "NA"), {}, "every record is a null row"},
      {"precipitation in inches",
       kHeader + temps(),
       kHeader + tabLine("Burlington", "44.47", inUnit(kPrecs, 1 / 25.4, 0)),
       {},
       "inches (multiply by 25.4)"},
      {"precipitation in tenths of a millimetre",
       kHeader + temps(),
       kHeader + tabLine("Burlington", "44.47", inUnit(kPrecs, 10, 0)),
       {},
       "tenths of a millimetre (divide by 10)"},
      {"temperatures in Fahrenheit",
       kHeader + tabLine("Burlington", "44.47", inUnit(kTemps, 1.8, 32)),
       kHeader + precs(),
       {},
       "fit as degrees Fahrenheit"},
      {"temperatures in kelvins",
       kHeader + tabLine("Burlington", "44.47", inUnit(kTemps, 1, 273.15)),
       kHeader + precs(),
       {},
       "fit as kelvins"},
      {"a southern latitude for a northern station",
       kHeader + temps(),
       kHeader + precs("Burlington", "-44.47"),
       {},
       "warm season of the other hemisphere"},
      {"a longitude for the latitude",
       kHeader + temps() + temps(),
       kHeader + precs() + precs("Burlington", "-173.15"),
       {},
       "looks like a longitude"},
      {"a named annual column among the months",
       withField3(kHeader, "Annual") + withField3(temps(), "8.1"),
       withField3(kHeader, "Annual") + withField3(precs(), "919"),
       {},
       "p.txt is named 'Annual', where January belongs"},
      {"an annual total among the months",
       "Site data\n" + withField3(temps(), "8.1"),
       "Site data\n" + withField3(precs(), "969"),
       {},
       "equals the sum of the twelve others (/"},
      {"a longitude column for the latitude",
       kHeader + temps(),
       "Site\tLon\tJan\tFeb\tMar\tApr\tMay\tJun\tJul\tAug\tSep\tOct\tNov\tDec\n" + precs(),
       {},
       "longitude where the latitude belongs"},
      {"a temperature file without its latitude",
       "Site\tJan\tFeb\tMar\tApr\tMay\tJun\tJul\tAug\tSep\tOct\tNov\tDec\n" +
           tabLine("Burlington", "-6.7", {kTemps.begin() + 1, kTemps.end()}),
       kHeader + precs(),
       {},
       "t.txt is named 'Jan', where the latitude belongs"},
      {"carry-over across sites",
       kHeader + temps() + temps(),
       kHeader + precs() + precs("Burlington", "41.53"),
       {"--carryover"},
       "the latitude changes from one record to the next 1 time"},
      {"carry-over across years out of order",
       kHeader + temps("1991") + temps("1993"),
       kHeader + precs("1991") + precs("1993"),
       {"--carryover"},
       "1 record does not follow the year before it"},
      {"a field capacity field past the end of the line",
       kHeader + temps(),
       kHeader + precs(),
       {"--field-capacity-field", "15"},
       "the field capacity is not a positive number (the line has 14 fields; 15 are needed)"},
      {"the HCN format without --latitude",
       "HCN\nUSW00014742 2011  -67  -54   -1   72  142  193  220  211  165   95   33  -28\n",
       "HCN\nUSW00014742 2011  561  465  592  747  909 1046 1057 1029  937  980  767  668\n",
       {"--format", "hcn"},
       "--latitude was not given: every record was computed at latitude 44.47"},
      {"an HCN line cut short",
       "HCN\nUSW00014742 2011  -67  -54   -1   72  142  193  220  211  165   95   33\n",
       "HCN\nUSW00014742 2011  561  465  592  747  909 1046 1057 1029  937  980  767  668\n",
       {"--format", "hcn", "--latitude", "44.47"},
       "month 12 of the temperature file is missing (the line has 71 characters; 76 are needed)"},
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

// Every sample and the published normals of 157 stations pass --strict in
// their formats, with the options they are meant for.
TEST(InputChecks, SoundFilesGiveNoWarning) {
  const std::string root = VADOSET_SOURCE_DIR;
  const std::vector<std::vector<std::string>> runs = {
      {"examples/allsites_temp.txt", "examples/allsites_prec.txt", "--function", "A"},
      {"examples/allsites_temp.csv", "examples/allsites_prec.csv", "--format", "csv"},
      {"examples/allsites_temp_semicolon.csv", "examples/allsites_prec_semicolon.csv", "--format", "csv"},
      {"examples/series_temp.txt", "examples/series_prec.txt", "--carryover"},
      {"examples/hcn_temp.txt", "examples/hcn_prec.txt", "--format", "hcn", "--carryover", "--latitude", "44.47"},
      {"tests/data/normals/temp.txt", "tests/data/normals/prec.txt"},
      {"tests/data/normals/temp.csv", "tests/data/normals/prec.csv", "--format", "csv"},
  };
  for (const std::vector<std::string>& r : runs) {
    std::ostringstream out, err;
    test::TempDir dir;
    std::vector<std::string> args = {"-t", root + "/" + r[0],        "-p",      root + "/" + r[1],
                                     "-o", (dir / "o.txt").string(), "--strict"};
    args.insert(args.end(), r.begin() + 2, r.end());
    EXPECT_EQ(runCli(args, out, err), kExitOk) << r[0] << ":\n" << err.str();
    EXPECT_EQ(err.str().find("warning"), std::string::npos) << r[0] << ":\n" << err.str();
  }
}

}  // namespace
}  // namespace vadoset
