// SIGINT to the real vadoset-cli in the middle of a long run: exit status 130,
// and the table in place holds the header and whole rows, in order.

#include <gtest/gtest.h>

#include "fault_support.h"
#include "output/output.h"

namespace vadoset {
namespace {

namespace fs = std::filesystem;

const std::string kHeader = "Site\tLat\tJan\tFeb\tMar\tApr\tMay\tJun\tJul\tAug\tSep\tOct\tNov\tDec\n";

std::string months(const std::string& id, const std::string& lat, const std::string& value) {
  return test::tabLine(id, lat, std::vector<std::string>(12, value));
}

TEST(Interrupt, SigintKeepsTheCompleteRowsAndExitsWith130) {
  // With a field capacity of 1e9 mm a dry record never settles: it takes all
  // 1002 passes of the year and becomes a null row, a few milliseconds each.
  // A wet record fills the soil at once and gets a full row. They alternate.
  constexpr int kRecords = 20000;  // seconds of work even for a fast machine
  const std::string fc = "1000000000";
  std::string prec = kHeader, temp = kHeader;
  for (int i = 0; i < kRecords; ++i) {
    const bool wet = i % 2 == 0;
    prec += months("R" + std::to_string(i), "45", wet ? "200" : "0");
    temp += months("x", "0", wet ? "5" : "25");
  }
  test::TempDir dir, scratch;
  const fs::path p = dir.write("p.txt", prec), t = dir.write("t.txt", temp), out = dir / "out.txt";
  dir.write("out.txt", faults::kEarlierTable);
  const faults::FileState precBefore = faults::snapshot(p), tempBefore = faults::snapshot(t);

  // The wet record's row, from a run of its own.
  const fs::path p1 = scratch.write("p1.txt", kHeader + months("R0", "45", "200"));
  const fs::path t1 = scratch.write("t1.txt", kHeader + months("x", "0", "5"));
  faults::CliResult one = faults::cli({"-t", t1.string(), "-p", p1.string(), "-o", "-", "--field-capacity", fc});
  ASSERT_EQ(one.status, kExitOk) << one.err;
  const std::string wetValues = test::tableLines(one.out).at(1).substr(2);  // after "R0"

  const std::vector<std::string> args = {"-t",         t.string(),         "-p", p.string(), "-o",
                                         out.string(), "--field-capacity", fc,   "--quiet"};
  const fs::path errPath = scratch / "stderr.txt";
  pid_t pid = faults::spawnCli(args, {}, errPath);
  // The temporary table appears once the signal handler is in place and the
  // inputs are open; give the run a moment more to write some rows.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  auto hasTemp = [&] {
    for (const std::string& n : faults::listing(dir.path()))
      if (n.rfind(".out.txt.part", 0) == 0) return true;
    return false;
  };
  while (!hasTemp() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_TRUE(hasTemp()) << "the run never created its table";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  faults::ProcessResult r = faults::waitFor(pid, errPath, std::chrono::seconds(60));

  ASSERT_TRUE(r.exited) << "signal " << r.signal << (r.timedOut ? " (timed out)" : "");
  EXPECT_EQ(r.status, kExitInterrupted) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string table = test::readFile(out);
  ASSERT_EQ(table.substr(0, tableHeader().size()), tableHeader());
  ASSERT_EQ(table.back(), '\r');
  std::vector<std::string> rows = test::tableLines(table.substr(tableHeader().size()));
  EXPECT_LT(rows.size(), static_cast<std::size_t>(kRecords));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string id = "R" + std::to_string(i);
    ASSERT_EQ(rows[i], i % 2 == 0 ? id + wetValues : id + "\t*") << "row " << i;
  }
  EXPECT_EQ(faults::snapshot(p), precBefore);
  EXPECT_EQ(faults::snapshot(t), tempBefore);
  EXPECT_EQ(faults::listing(dir.path()), (std::set<std::string>{"p.txt", "t.txt", "out.txt"}));
}

}  // namespace
}  // namespace vadoset
