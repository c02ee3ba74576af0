// Hostile input files: things that are not files, empty files, stray bytes,
// enormous lines and read errors. Each gets a message or a null row, and the
// inputs and any earlier table stay as they were.

#include <gtest/gtest.h>

#include "fault_support.h"
#include "output/output.h"
#include "platform/text.h"
#include "run/driver.h"
#include "run/run_state.h"

namespace vadoset {
namespace {

namespace fs = std::filesystem;
using faults::cli;
using faults::CliResult;
using faults::FileState;
using faults::kEarlierTable;
using faults::RunFolder;
using faults::snapshot;

const std::string kHeader = "Site\tLat\tJan\tFeb\tMar\tApr\tMay\tJun\tJul\tAug\tSep\tOct\tNov\tDec\n";
// Madrid Retiro, monthly normals.
const std::vector<std::string> kPrecip = {"33", "35", "25", "45", "46", "21", "12", "10", "22", "60", "59", "45"};
const std::vector<std::string> kTemp = {"6.3",  "7.9",  "11.2", "12.9", "16.7", "22.2",
                                        "25.6", "25.1", "20.9", "15.1", "9.9",  "6.9"};

std::string precipLine(const std::string& id) {
  return test::tabLine(id, "40.41", kPrecip);
}
std::string tempLine() {
  return test::tabLine("x", "0", kTemp);
}

// The row that Madrid's record gets on its own.
std::string madridRow(const std::string& id) {
  test::TempDir d;
  fs::path p = d.write("p", kHeader + precipLine(id)), t = d.write("t", kHeader + tempLine());
  CliResult r = cli({"-t", t.string(), "-p", p.string(), "-o", "-"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  return test::tableLines(r.out).at(1);
}

std::vector<std::string> rowsOf(const std::string& table) {
  std::vector<std::string> lines = test::tableLines(table);
  EXPECT_FALSE(lines.empty());
  if (!lines.empty()) {
    EXPECT_EQ(lines[0] + "\r", tableHeader());
    lines.erase(lines.begin());
  }
  return lines;
}

// Numbers a double cannot hold: too small reads as 0, too large is no number.
// Only the magnitude tells which, not the sign of the exponent.
TEST(InputFaults, NumbersBeyondTheDoubleRange) {
  const std::string zeros(400, '0');
  EXPECT_EQ(ParseNumber("0." + zeros + "1"), 0.0);
  EXPECT_EQ(ParseNumber("-0." + zeros + "1e5"), 0.0);
  EXPECT_EQ(ParseNumber("1" + zeros + "e-5"), std::nullopt);
  EXPECT_EQ(ParseNumber("1e-400"), 0.0);
  EXPECT_EQ(ParseNumber("1e400"), std::nullopt);
  EXPECT_EQ(ParseNumber("0e999999999999999999999"), 0.0);
  EXPECT_EQ(ParseNumber("1e-999999999999999999999"), 0.0);
  EXPECT_EQ(ParseNumber("1e+999999999999999999999"), std::nullopt);
  EXPECT_EQ(ParseNumber("0.00001e-320"), 0.0);
  EXPECT_EQ(ParseNumber(zeros + "1e-5"), 1e-5);
}

TEST(InputFaults, PathsThatAreNotRegularFilesAreReportedAsMissing) {
  RunFolder f;
  fs::create_directory(f.dir / "folder");
  fs::create_symlink(f.dir / "folder", f.dir / "folder-link");
  fs::create_symlink(f.dir / "nowhere", f.dir / "dangling");
  const FileState table = snapshot(f.table), prec = snapshot(f.prec), temp = snapshot(f.temp);
  const auto names = faults::listing(f.dir.path());
  for (const fs::path& bad :
       {f.dir / "folder", f.dir / "folder-link", f.dir / "dangling", fs::path("/dev/zero"), f.dir.path()}) {
    SCOPED_TRACE(bad.string());
    const std::string name = bad.filename().string();
    CliResult r = cli({"-t", f.temp.string(), "-p", bad.string(), "-o", f.table.string()});
    EXPECT_EQ(r.status, kExitFailed);
    EXPECT_EQ(r.err, "The file " + name + " doesn't exist.\n");
    r = cli({"-t", bad.string(), "-p", f.prec.string(), "-o", f.table.string()});
    EXPECT_EQ(r.status, kExitFailed);
    EXPECT_EQ(r.err, "The file " + name + " doesn't exist.\n");
  }
  EXPECT_EQ(snapshot(f.table), table);
  EXPECT_EQ(snapshot(f.prec), prec);
  EXPECT_EQ(snapshot(f.temp), temp);
  EXPECT_EQ(faults::listing(f.dir.path()), names);
}

// A FIFO with no writer would block a reader for ever; the tool runs as a
// child so that a hang shows as a timeout rather than a stuck test binary.
TEST(InputFaults, AFifoIsRefusedWithoutBlocking) {
  RunFolder f;
  ASSERT_EQ(::mkfifo((f.dir / "fifo").c_str(), 0644), 0);
  const FileState table = snapshot(f.table);
  for (bool asPrecip : {true, false}) {
    std::vector<std::string> args = {"-t", asPrecip ? f.temp.string() : (f.dir / "fifo").string(),
                                     "-p", asPrecip ? (f.dir / "fifo").string() : f.prec.string(),
                                     "-o", f.table.string()};
    faults::ProcessResult r = faults::runCliProcess(args, f.scratch, {}, std::chrono::seconds(30));
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, kExitFailed);
    EXPECT_EQ(r.err, "The file fifo doesn't exist.\n");
  }
  EXPECT_EQ(snapshot(f.table), table);
}

TEST(InputFaults, EmptyFiles) {
  test::TempDir d;
  const fs::path empty = d.write("empty.txt", "");
  const fs::path prec = d.write("p.txt", kHeader + precipLine("A") + precipLine("B"));
  const fs::path temp = d.write("t.txt", kHeader + tempLine() + tempLine());

  // No header, no records: the table is the header alone.
  CliResult r = cli({"-t", temp.string(), "-p", empty.string(), "-o", "-"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(r.out, tableHeader());

  // No temperatures: every record is a null row.
  r = cli({"-t", empty.string(), "-p", prec.string(), "-o", "-"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(rowsOf(r.out), (std::vector<std::string>{"A\t*", "B\t*"}));

  // HCN files must begin with their header.
  r = cli({"-t", empty.string(), "-p", empty.string(), "-o", (d / "out.txt").string(), "--format", "hcn"});
  EXPECT_EQ(r.status, kExitFailed);
  EXPECT_EQ(r.err, "Precip file not an HCN format file\nTemp file not an HCN format file\n");
  EXPECT_FALSE(fs::exists(d / "out.txt"));
  EXPECT_EQ(test::readFile(empty), "");
}

TEST(InputFaults, NulBytesAndInvalidUtf8) {
  test::TempDir d;
  using namespace std::string_literals;
  const std::string oddId = "Bad\0Name \xff\xfe\xc3("s;  // NUL, stray bytes, a cut sequence
  std::vector<std::string> nulMonth = kPrecip, badMonth = kPrecip;
  nulMonth[3] = "45\0"s;
  badMonth[7] =
      "\xff"
      "10";
  std::vector<std::string> nulTemp = kTemp;
  nulTemp[0] = "\0"s;
  const std::string precip = kHeader + precipLine(oddId) + test::tabLine("nul-month", "40.41", nulMonth) +
                             test::tabLine("utf8-month", "40.41", badMonth) + precipLine("nul-temp") +
                             test::tabLine("nul-lat", "4\0"s, kPrecip) + precipLine("after");
  const std::string temp =
      kHeader + tempLine() + tempLine() + tempLine() + test::tabLine("x", "0", nulTemp) + tempLine() + tempLine();
  const fs::path p = d.write("p.txt", precip), t = d.write("t.txt", temp);
  CliResult r = cli({"-t", t.string(), "-p", p.string(), "-o", "-"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  std::vector<std::string> rows = rowsOf(r.out);
  ASSERT_EQ(rows.size(), 6u);
  // The identifier is copied byte for byte; the numbers are Madrid's.
  EXPECT_EQ(rows[0], oddId + madridRow("M").substr(1));
  EXPECT_EQ(rows[1], "nul-month\t*");
  EXPECT_EQ(rows[2], "utf8-month\t*");
  EXPECT_EQ(rows[3], "nul-temp\t*");
  EXPECT_EQ(rows[4], "nul-lat\t*");
  EXPECT_EQ(rows[5], madridRow("after"));
  EXPECT_EQ(test::readFile(p), precip);
}

TEST(InputFaults, LinesOfSeveralMegabytes) {
  test::TempDir d;
  const std::string longId(5u << 20, 'x');
  std::vector<std::string> longMonth = kPrecip;
  longMonth[5] = std::string(5u << 20, '7');  // a number far beyond any double
  std::vector<std::string> longZero = kPrecip;
  longZero[0] = "0." + std::string(3u << 20, '0') + "1";  // a number too small for a double: 0
  // Longer than the longest line kept: its months are cut off.
  const std::string hugeId(17u << 20, 'y');
  const std::string precip = kHeader + precipLine(longId) + test::tabLine("long-month", "40.41", longMonth) +
                             test::tabLine("tiny", "40.41", longZero) + precipLine(hugeId) + precipLine("after");
  const std::string temp = kHeader + tempLine() + tempLine() + tempLine() + tempLine() +
                           test::tabLine(std::string(6u << 20, 'z'), "0", kTemp);
  const fs::path p = d.write("p.txt", precip), t = d.write("t.txt", temp);
  CliResult r = cli({"-t", t.string(), "-p", p.string(), "-o", "-"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  std::vector<std::string> rows = rowsOf(r.out);
  ASSERT_EQ(rows.size(), 5u);
  const std::string madrid = madridRow("M").substr(1);
  EXPECT_TRUE(rows[0] == longId + madrid) << "long identifier";
  EXPECT_EQ(rows[1], "long-month\t*");
  // January's 0 mm instead of 33 changes the numbers, but the row is computed.
  EXPECT_EQ(test::splitTabs(rows[2]).size(), 40u);
  EXPECT_TRUE(rows[3] == hugeId.substr(0, 16u << 20) + "\t*") << "cut line";
  EXPECT_EQ(rows[4], madridRow("after"));  // the lines stay paired; a long temperature line is read
}

// A read error must not pass for the end of the file: the table would be
// short, and the run would report success.
TEST(InputFaults, AReadErrorIsReportedNotTakenForTheEnd) {
  // /proc/self/mem is a regular file whose first page cannot be read (EIO).
  const fs::path unreadable = "/proc/self/mem";
  RunFolder f;
  const FileState table = snapshot(f.table);

  for (bool asPrecip : {true, false}) {
    SCOPED_TRACE(asPrecip ? "precipitation" : "temperature");
    test::ScriptedHost host;
    host.settingsValue.precipFile = asPrecip ? unreadable.string() : f.prec.string();
    host.settingsValue.tmeanFile = asPrecip ? f.temp.string() : unreadable.string();
    host.settingsValue.outputFile = f.table.string();
    host.folders = {std::string(), std::string()};
    RunState state;
    EXPECT_EQ(Main_loop(state, host), RunOutcome::OutputFailed);
    EXPECT_EQ(host.messages, (std::vector<std::string>{"The file mem could not be read."}));
    EXPECT_EQ(snapshot(f.table), table);

    CliResult r =
        cli({"-t", host.settingsValue.tmeanFile, "-p", host.settingsValue.precipFile, "-o", f.table.string()});
    EXPECT_EQ(r.status, kExitFailed);
    EXPECT_EQ(r.err, "The file mem could not be read.\n");
    EXPECT_EQ(snapshot(f.table), table);
  }
  EXPECT_EQ(faults::listing(f.dir.path()),
            (std::set<std::string>{"allsites_prec.txt", "allsites_temp.txt", "out.txt"}));
}

}  // namespace
}  // namespace vadoset
