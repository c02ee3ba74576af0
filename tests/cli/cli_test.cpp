#include "cli/cli.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "output/columns.h"
#include "test_support.h"

namespace vadoset {
namespace {

struct CliResult {
  int status;
  std::string out;
  std::string err;
};

CliResult cli(std::vector<std::string> args) {
  std::ostringstream out, err;
  int status = runCli(args, out, err);
  return {status, out.str(), err.str()};
}

const std::string kHeader = "Site\tLat\tJan\tFeb\tMar\tApr\tMay\tJun\tJul\tAug\tSep\tOct\tNov\tDec\n";

struct Inputs {
  test::TempDir dir;
  std::string temp, prec;
  Inputs() {
    temp = dir.write("t.txt", kHeader + test::tabLine("Quito", "-0.18",
                                                      {"13.9", "13.9", "13.9", "14", "14.1", "14.1", "14.1", "14.4",
                                                       "14.4", "14.1", "13.9", "13.9"}))
               .string();
    prec = dir.write("p.txt", kHeader + test::tabLine("Quito", "-0.18",
                                                      {"96", "112", "144", "168", "111", "41", "19", "24", "77", "117",
                                                       "99", "94"}))
               .string();
  }
};

TEST(Cli, UsageErrorsExitWithTwo) {
  Inputs in;
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {},
           {"-t", in.temp, "-p", in.prec},
           {"-t", in.temp, "-p", in.prec, "-o", "x", "--function", "I"},
           {"-t", in.temp, "-p", in.prec, "-o", "x", "--format", "xls"},
           {"-t", in.temp, "-p", in.prec, "-o", "x", "--bogus"},
           {"-t", in.temp, "-p", in.prec, "-o"},
           {"-t", in.temp, "-p", in.prec, "-o", "x", "--carryover=yes"},
           {"-t", in.temp, "-p", in.prec, "-o", "x", "--threads", "0"},
           {"-t", in.temp, "-p", in.prec, "-o", "x", "--threads", "1.5"},
           {"-t", in.temp, "-p", in.prec, "-o", "x", "--threads", "257"},
           {"-t", in.temp, "-p", in.prec, "-o", "x", "--columns", "classic,rain"},
           {"-t", in.temp, "-p", in.prec, "-o", "x", "--line-ending", "cr-lf"},
           {"-t", in.temp, "-p", in.prec, "-o", "x", "--field-capacity-field", "3"},
       }) {
    CliResult r = cli(args);
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_NE(r.err.find("vadoset-cli: "), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
  }
  EXPECT_FALSE(std::filesystem::exists("x"));
}

TEST(Cli, WritesTheTableToAFileOrStandardOutput) {
  Inputs in;
  std::string outPath = (in.dir / "out.txt").string();
  CliResult f = cli({"-t", in.temp, "-p", in.prec, "-o", outPath});
  EXPECT_EQ(f.status, 0) << f.err;
  EXPECT_EQ(f.err.rfind("vadoset-cli: 1 row written to " + outPath + " (", 0), 0u) << f.err;
  // Standard output ends its lines with LF for other programs, unless asked.
  CliResult s = cli({"--temperature=" + in.temp, "--precipitation", in.prec, "--output", "-"});
  EXPECT_EQ(s.status, 0);
  std::string lf = test::readFile(outPath);
  std::replace(lf.begin(), lf.end(), '\r', '\n');
  EXPECT_EQ(s.out, lf);
  CliResult cr = cli({"-t", in.temp, "-p", in.prec, "-o", "-", "--line-ending", "cr"});
  EXPECT_EQ(cr.out, test::readFile(outPath));
  EXPECT_EQ(cr.out.substr(0, TableLayout().header().size()), TableLayout().header());
  EXPECT_EQ(test::tableLines(cr.out).size(), 2u);
}

TEST(Cli, RefusedRunsSayWhyAndCreateNothing) {
  Inputs in;
  std::string outPath = (in.dir / "out.txt").string();
  CliResult missing = cli({"-t", (in.dir / "nope.txt").string(), "-p", in.prec, "-o", outPath});
  EXPECT_EQ(missing.status, kExitFailed);
  // Files are named as given, folder and all.
  EXPECT_EQ(missing.err, "The file " + (in.dir / "nope.txt").string() + " doesn't exist.\n");

  CliResult hcn = cli({"-t", in.temp, "-p", in.prec, "-o", outPath, "--format", "hcn"});
  EXPECT_EQ(hcn.status, kExitFailed);
  // The format's own messages, each with the file and the fix after it.
  EXPECT_EQ(hcn.err, "Precip file not an HCN format file\n" + in.prec +
                         ": its first line does not start with HCN. Choose --format tab or csv.\n"
                         "Temp file not an HCN format file\n" +
                         in.temp + ": its first line does not start with HCN. Choose --format tab or csv.\n");

  CliResult lat = cli({"-t", in.temp, "-p", in.prec, "-o", outPath, "--format", "hcn", "--latitude", "north"});
  EXPECT_EQ(lat.status, kExitFailed);
  EXPECT_EQ(lat.err.rfind("Latitude must be a number of decimal degrees from -90 to 90.\n", 0), 0u);

  CliResult fc = cli({"-t", in.temp, "-p", in.prec, "-o", outPath, "--field-capacity", "0"});
  EXPECT_EQ(fc.status, kExitFailed);
  EXPECT_EQ(fc.err, "Field capacity must be a positive number of millimetres.\n");

  CliResult self = cli({"-t", in.temp, "-p", in.prec, "-o", in.prec});
  EXPECT_EQ(self.status, kExitFailed);
  EXPECT_EQ(self.err, "The output file " + in.prec + " could not be written: it is one of the input files.\n");

  // Control characters in names and arguments reach the terminal written out.
  CliResult esc = cli({"-t", (in.dir / "a\x1b[2Jb\nc.txt").string(), "-p", in.prec, "-o", outPath});
  EXPECT_EQ(esc.err, "The file " + in.dir.path().string() + "/a\\x1b[2Jb\\nc.txt doesn't exist.\n");
  CliResult arg = cli({"--\x1b]0;title\a"});
  EXPECT_EQ(arg.err.substr(0, arg.err.find('\n')), "vadoset-cli: unknown argument '--\\x1b]0;title\\x07'");

  EXPECT_FALSE(std::filesystem::exists(outPath));
}

}  // namespace
}  // namespace vadoset
