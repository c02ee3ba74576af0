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

const std::string kHeader = test::kTabHeader;
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
std::string inUnit(const std::vector<std::string>& months, double scale, double offset) {
  std::vector<std::string> out;
  for (const std::string& m : months) out.push_back(std::to_string(std::stod(m) * scale + offset));
  return tabLine("Burlington", "44.47", out);
}
// A line with one more field after the latitude.
std::string withField3(std::string line, const std::string& field) {
  const std::size_t lat = line.find('\t', line.find('\t') + 1);
  return line.insert(lat + 1, field + "\t");
}

// The run's status and messages, and whether it wrote its table.
std::pair<test::CliResult, bool> run(const std::string& temp, const std::string& prec, std::vector<std::string> args) {
  test::TempDir dir;
  args.insert(args.begin(), {"-t", dir.write("t.txt", temp).string(), "-p", dir.write("p.txt", prec).string(), "-o",
                             (dir / "out.txt").string(), "--threads", "1"});
  const test::CliResult r = test::cli(args);
  return {r, std::filesystem::exists(dir / "out.txt")};
}

// Each mistake: a phrase of its warning, the temperature and precipitation
// files, the options (separated by spaces).
struct Case {
  const char* warning;
  std::string temp, prec, args;
};

TEST(InputChecks, EachMistakeGivesItsWarningAndStrictFailsTheRun) {
  using namespace std::string_literals;
  const std::string T = kHeader + temps(), P = kHeader + precs();  // sound files
  const std::string hcnP = "HCN\nUSW00014742 2011  561  465  592  747  909 1046 1057 1029  937  980  767  668\n";
  const std::string hcnT = "HCN\nUSW00014742 2011  -67  -54   -1   72  142  193  220  211  165   95   33";
  const std::string lonHeader = "Site\tLon\tJan\tFeb\tMar\tApr\tMay\tJun\tJul\tAug\tSep\tOct\tNov\tDec\n";
  const std::string noLatHeader = "Site\tJan\tFeb\tMar\tApr\tMay\tJun\tJul\tAug\tSep\tOct\tNov\tDec\n";
  const Case cases[] = {
      {"looks like a CSV file", T, kHeader + "Burlington,44.47,56,46,59,74,90,104,105,102,93,98,76,66\n", ""},
      {"decimal comma", T, kHeader + withMonth(kPrecs, 3, "74,5"), ""},
      {"NUL bytes", T, "\xFF\xFES\0i\0t\0e\0\n\0"s + precs(), ""},  // UTF-16
      {"looks like an HCN data file", "HCN temperatures\n" + temps(), "HCN precipitation\n" + precs(), ""},
      {"looks like a record, not a header", temps("Denver") + temps(), kHeader + precs("Denver") + precs(), ""},
      {"like a second header line", kHeader + T, kHeader + P, ""},
      {"identifiers of the two files differ in 2 records", kHeader + temps("Denver") + temps(), P + precs("Denver"),
       ""},
      {"more records than the", T + temps(), P, ""},
      {"ended before", T, P + precs(), ""},
      {"identifiers of the two files differ", T + temps(), kHeader + "\n" + precs(), ""},  // a blank line
      {"files look swapped", kHeader + precs(), T, ""},
      {"negative", T, kHeader + withMonth(kPrecs, 5, "-99.9"), ""},  // -99.9 as a missing code
      {"exceeds 5000 mm", T, kHeader + withMonth(kPrecs, 5, "5001"), ""},
      {"/p.txt line 2, '47.45N'); their rows are null", T, kHeader + precs("Burlington", "47.45N"), ""},
      {"every record is a null row", T, kHeader + withMonth(kPrecs, 0, "NA"), ""},
      {"inches (multiply by 25.4)", T, kHeader + inUnit(kPrecs, 1 / 25.4, 0), ""},
      {"tenths of a millimetre (divide by 10)", T, kHeader + inUnit(kPrecs, 10, 0), ""},
      {"fit as degrees Fahrenheit", kHeader + inUnit(kTemps, 1.8, 32), P, ""},
      {"fit as kelvins", kHeader + inUnit(kTemps, 1, 273.15), P, ""},
      {"warm season of the other hemisphere", T, kHeader + precs("Burlington", "-44.47"), ""},
      {"looks like a longitude", T + temps(), P + precs("Burlington", "-173.15"), ""},
      {"p.txt is named 'Annual', where January belongs", withField3(kHeader, "Annual") + withField3(temps(), "8.1"),
       withField3(kHeader, "Annual") + withField3(precs(), "919"), ""},
      {"1 line has fewer fields than a record",
       kHeader + tabLine("Burlington", "44.47", {kTemps.begin(), kTemps.end() - 1}), P, ""},
      {"equals the sum of the twelve others (/", "Site data\n" + withField3(temps(), "8.1"),
       "Site data\n" + withField3(precs(), "969"), ""},
      {"longitude where the latitude belongs", T, lonHeader + precs(), ""},
      {"t.txt is named 'Jan', where the latitude belongs",
       noLatHeader + tabLine("Burlington", "-6.7", {kTemps.begin() + 1, kTemps.end()}), P, ""},
      {"the latitude changes from one record to the next 1 time", T + temps(), P + precs("Burlington", "41.53"),
       "--carryover"},
      {"1 record does not follow the year before it", kHeader + temps("1991") + temps("1993"),
       kHeader + precs("1991") + precs("1993"), "--carryover"},
      {"the field capacity is not a positive number (the line has 14 fields; 15 are needed)", T, P,
       "--field-capacity-field 15"},
      {"--latitude was not given: every record was computed at latitude 44.47", hcnT + "  -28\n", hcnP, "--format hcn"},
      {"month 12 of the temperature file is missing (the line has 71 characters; 76 are needed)", hcnT + "\n", hcnP,
       "--format hcn --latitude 44.47"},
      {"--latitude is only used with --format hcn", T, P, "--latitude 10"},
  };
  for (const Case& c : cases) {
    for (bool strict : {false, true}) {
      std::vector<std::string> args;
      std::istringstream words(c.args + (strict ? " --strict" : ""));
      for (std::string w; words >> w;) args.push_back(w);
      const auto [r, written] = run(c.temp, c.prec, args);
      EXPECT_EQ(r.status, strict ? kExitFailed : kExitOk) << c.warning;
      EXPECT_EQ(written, !strict) << c.warning;
      EXPECT_NE(r.err.find(strict ? "checking is strict" : "vadoset-cli: warning: "), std::string::npos) << r.err;
      EXPECT_TRUE(strict || r.err.find(c.warning) != std::string::npos) << c.warning << ":\n" << r.err;
    }
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
    std::vector<std::string> args(r.begin() + 2, r.end());
    args.insert(args.begin(), {"-t", root + "/" + r[0], "-p", root + "/" + r[1], "--strict", "-o", "-"});
    const test::CliResult result = test::cli(args);
    EXPECT_EQ(result.status, kExitOk) << r[0] << ":\n" << result.err;
    EXPECT_EQ(result.err.find("warning"), std::string::npos) << r[0] << ":\n" << result.err;
  }
}

}  // namespace
}  // namespace vadoset
