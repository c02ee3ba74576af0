#include "cli/cli.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "output/columns.h"
#include "test_support.h"

namespace vadoset {
namespace {

using test::cli;

// Quito's normals.
struct Inputs {
  test::TempDir dir;
  const std::string temp = write("t.txt", {13.9, 13.9, 13.9, 14, 14.1, 14.1, 14.1, 14.4, 14.4, 14.1, 13.9, 13.9});
  const std::string prec = write("p.txt", {96, 112, 144, 168, 111, 41, 19, 24, 77, 117, 99, 94});
  std::string write(const std::string& name, const std::vector<double>& months) const {
    return dir.write(name, test::kTabHeader + test::tabLine("Quito", -0.18, months)).string();
  }
};

TEST(Cli, UsageErrorsExitWithTwo) {
  Inputs in;
  std::vector<std::vector<std::string>> cases = {
      {}, {"-t", in.temp, "-p", in.prec}, {"-t", in.temp, "-p", in.prec, "-o"}};
  for (std::vector<std::string> extra : std::vector<std::vector<std::string>>{{"--function", "I"},
                                                                              {"--format", "xls"},
                                                                              {"--bogus"},
                                                                              {"--carryover=yes"},
                                                                              {"--threads", "0"},
                                                                              {"--threads", "1.5"},
                                                                              {"--threads", "257"},
                                                                              {"--columns", "classic,rain"},
                                                                              {"--line-ending", "cr-lf"},
                                                                              {"--field-capacity-field", "3"}}) {
    extra.insert(extra.begin(), {"-t", in.temp, "-p", in.prec, "-o", "x"});
    cases.push_back(extra);
  }
  for (const std::vector<std::string>& args : cases) {
    const test::CliResult r = cli(args);
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_NE(r.err.find("vadoset-cli: "), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
  }
  EXPECT_FALSE(std::filesystem::exists("x"));
}

TEST(Cli, WritesTheTableToAFileOrStandardOutput) {
  Inputs in;
  std::string outPath = (in.dir / "out.txt").string();
  test::CliResult f = cli({"-t", in.temp, "-p", in.prec, "-o", outPath});
  EXPECT_EQ(f.status, 0) << f.err;
  EXPECT_EQ(f.err.rfind("vadoset-cli: 1 row written to " + outPath + " (", 0), 0u) << f.err;
  // Standard output ends its lines with LF for other programs, unless asked.
  test::CliResult s = cli({"--temperature=" + in.temp, "--precipitation", in.prec, "--output", "-"});
  EXPECT_EQ(s.status, 0);
  std::string lf = test::readFile(outPath);
  std::replace(lf.begin(), lf.end(), '\r', '\n');
  EXPECT_EQ(s.out, lf);
  test::CliResult cr = cli({"-t", in.temp, "-p", in.prec, "-o", "-", "--line-ending", "cr"});
  EXPECT_EQ(cr.out, test::readFile(outPath));
  EXPECT_EQ(cr.out.substr(0, TableLayout().header().size()), TableLayout().header());
  EXPECT_EQ(test::tableLines(cr.out).size(), 2u);
}

// Files are named as given, folder and all; the format's own messages come
// each with the file and the fix after it; control characters in names and
// arguments reach the terminal written out. Nothing is created.
TEST(Cli, RefusedRunsSayWhyAndCreateNothing) {
  Inputs in;
  const std::string out = (in.dir / "out.txt").string(), nope = (in.dir / "nope.txt").string();
  const std::string notHcn = ": its first line does not start with HCN. Choose --format tab or csv.\n";
  const std::vector<std::string> run = {"-t", in.temp, "-p", in.prec, "-o", out};
  auto with = [&](std::vector<std::string> extra) {
    return extra.insert(extra.begin(), run.begin(), run.end()), extra;
  };
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-t", nope, "-p", in.prec, "-o", out}, "The file " + nope + " doesn't exist.\n"},
      {with({"--format", "hcn"}), "Precip file not an HCN format file\n" + in.prec + notHcn +
                                      "Temp file not an HCN format file\n" + in.temp + notHcn},
      {with({"--format", "hcn", "--latitude", "north"}),
       "Latitude must be a number of decimal degrees from -90 to 90.\n"},
      {with({"--field-capacity", "0"}), "Field capacity must be a positive number of millimetres.\n"},
      {{"-t", in.temp, "-p", in.prec, "-o", in.prec},
       "The output file " + in.prec + " could not be written: it is one of the input files.\n"},
      {{"-t", (in.dir / "a\x1b[2Jb\nc.txt").string(), "-p", in.prec, "-o", out},
       "The file " + in.dir.path().string() + "/a\\x1b[2Jb\\nc.txt doesn't exist.\n"},
      {{"--\x1b]0;title\a"},
       "vadoset-cli: unknown argument '--\\x1b]0;title\\x07'\nTry 'vadoset-cli --help' for more information.\n"}};
  for (const auto& [args, says] : cases) {
    const test::CliResult r = cli(args);
    EXPECT_EQ(r.status, args.size() == 1 ? kExitUsage : kExitFailed) << says;
    EXPECT_EQ(r.err, says);
  }
  EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
}  // namespace vadoset
