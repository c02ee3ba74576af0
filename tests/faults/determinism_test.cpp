// The same run twice gives the same bytes: in this process, as a separate
// process, to a file or to standard output.

#include <gtest/gtest.h>

#include "fault_support.h"

namespace vadoset {
namespace {

namespace fs = std::filesystem;

struct Sample {
  std::string temp, prec;
  std::vector<std::string> options;
};

std::vector<Sample> samples() {
  std::vector<Sample> s;
  for (char fn = 'A'; fn <= 'H'; ++fn)
    s.push_back({"allsites_temp.txt", "allsites_prec.txt", {"--function", std::string(1, fn)}});
  s.push_back({"allsites_temp.txt", "allsites_prec.txt", {"--field-capacity", "250", "--carryover"}});
  s.push_back({"hcn_temp.txt", "hcn_prec.txt", {"--format", "hcn", "--latitude", "44.47"}});
  s.push_back({"series_temp.txt", "series_prec.txt", {"--carryover", "--function", "D"}});
  return s;
}

TEST(Determinism, TheSameRunGivesTheSameBytes) {
  test::TempDir dir;
  for (const Sample& sample : samples()) {
    std::vector<std::string> base = {"-t", (faults::kExamples / sample.temp).string(), "-p",
                                     (faults::kExamples / sample.prec).string(), "--quiet"};
    base.insert(base.end(), sample.options.begin(), sample.options.end());
    SCOPED_TRACE(sample.prec + " " + sample.options.front() + " " + sample.options.back());
    auto with = [&](const std::string& output) {
      std::vector<std::string> a = base;
      a.insert(a.end(), {"-o", output});
      return a;
    };

    faults::CliResult first = faults::cli(with((dir / "first.txt").string()));
    ASSERT_EQ(first.status, kExitOk) << first.err;
    faults::CliResult second = faults::cli(with((dir / "second.txt").string()));
    ASSERT_EQ(second.status, kExitOk) << second.err;
    faults::CliResult toStdout = faults::cli(with("-"));
    ASSERT_EQ(toStdout.status, kExitOk) << toStdout.err;
    faults::ProcessOptions o;
    o.stdoutPath = (dir / "process.txt").string();
    faults::ProcessResult process = faults::runCliProcess(with("-"), dir, o);
    ASSERT_EQ(process.status, kExitOk) << process.err;

    const std::string table = test::readFile(dir / "first.txt");
    EXPECT_GT(test::tableLines(table).size(), 1u);
    EXPECT_TRUE(test::readFile(dir / "second.txt") == table);
    EXPECT_TRUE(toStdout.out == table);
    EXPECT_TRUE(test::readFile(dir / "process.txt") == table);
  }
}

}  // namespace
}  // namespace vadoset
