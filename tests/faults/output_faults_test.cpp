// Output that cannot be written: each case ends with the output message and
// exit status 1, and leaves the inputs and any earlier table as they were.

#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <sstream>
#include <streambuf>

#include "cli/cli.h"
#include "fault_support.h"
#include "output/output.h"
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

TEST(OutputFaults, TargetsThatCannotBeTakenAreRefusedAndNothingIsTouched) {
  RunFolder f;
  fs::create_directory(f.dir / "sub");
  const fs::path plainFile = f.dir.write("afile.txt", "not a folder");
  ASSERT_EQ(::mkfifo((f.dir / "fifo").c_str(), 0644), 0);
  fs::create_symlink(f.prec, f.dir / "link.txt");
  fs::create_hard_link(f.prec, f.dir / "hard.txt");
  // A device node of our own, like /dev/null; only root may make one.
  const bool haveDevice = ::mknod((f.dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;

  const std::vector<fs::path> watched = {
      f.prec, f.temp, f.table, plainFile, f.dir / "link.txt", f.dir / "hard.txt", f.dir / "fifo", f.dir / "sub"};
  std::vector<FileState> before;
  for (const fs::path& p : watched) before.push_back(snapshot(p));
  const FileState deviceBefore = snapshot(f.dir / "null");
  const auto names = faults::listing(f.dir.path());

  struct Case {
    fs::path output;
    std::string name;  // as the message gives it
  };
  std::vector<Case> cases = {
      {f.dir / "missing" / "out.txt", "out.txt"},  // a folder that does not exist
      {plainFile / "out.txt", "out.txt"},          // a file where a folder should be
      {f.dir / "sub", "sub"},                      // a folder
      {f.dir / "fifo", "fifo"},                    // a FIFO: a rename would replace it
      {f.prec, "allsites_prec.txt"},               // the inputs, by every road
      {f.temp, "allsites_temp.txt"},
      {f.dir / "link.txt", "link.txt"},
      {f.dir / "hard.txt", "hard.txt"},
      {f.dir / "." / "allsites_prec.txt", "allsites_prec.txt"},
  };
  if (haveDevice) cases.push_back({f.dir / "null", "null"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output.string());
    CliResult r = cli(f.args(c.output.string()));
    EXPECT_EQ(r.status, kExitFailed);
    EXPECT_EQ(r.err, "The output file " + c.name + " could not be written.\n");
    EXPECT_TRUE(r.out.empty());
  }
  CliResult empty = cli(f.args(""));
  EXPECT_EQ(empty.status, kExitFailed);
  EXPECT_EQ(empty.err.rfind("The output file ", 0), 0u) << empty.err;

  for (std::size_t i = 0; i < watched.size(); ++i) EXPECT_EQ(snapshot(watched[i]), before[i]) << watched[i];
  EXPECT_EQ(faults::listing(f.dir.path()), names);
  struct stat st {};
  ASSERT_EQ(::lstat((f.dir / "fifo").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  if (haveDevice) {
    ASSERT_EQ(::lstat((f.dir / "null").c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(snapshot(f.dir / "null"), deviceBefore);
  }
}

// The file system refuses to grow the table past 100 kB: the write fails
// partway through, with several buffers already written to the temporary file.
TEST(OutputFaults, AWriteErrorPartwayLeavesTheEarlierTableWhole) {
  RunFolder f(1000);  // about 380 kB of table
  const FileState prec = snapshot(f.prec), temp = snapshot(f.temp), table = snapshot(f.table);
  const auto names = faults::listing(f.dir.path());
  faults::ProcessOptions limited;
  limited.fileSizeLimit = 100'000;

  faults::ProcessResult r = faults::runCliProcess(f.args(f.table.string()), f.scratch, limited);
  ASSERT_TRUE(r.exited) << "signal " << r.signal;
  EXPECT_EQ(r.status, kExitFailed);
  EXPECT_EQ(r.err, "The output file out.txt could not be written.\n");
  EXPECT_EQ(snapshot(f.table), table);
  EXPECT_EQ(snapshot(f.prec), prec);
  EXPECT_EQ(snapshot(f.temp), temp);
  EXPECT_EQ(faults::listing(f.dir.path()), names);  // no temporary file left

  // Without an earlier table nothing appears at all; without the limit the
  // same run succeeds, so it was the limit that failed it.
  fs::remove(f.table);
  r = faults::runCliProcess(f.args(f.table.string()), f.scratch, limited);
  EXPECT_EQ(r.status, kExitFailed);
  EXPECT_FALSE(fs::exists(f.table));
  r = faults::runCliProcess(f.args(f.table.string()), f.scratch);
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_GT(fs::file_size(f.table), 100'000u);
}

TEST(OutputFaults, StandardOutputOnAFullDevice) {
  RunFolder f(1000);
  const FileState prec = snapshot(f.prec), temp = snapshot(f.temp);
  faults::ProcessOptions full;
  full.stdoutPath = "/dev/full";
  faults::ProcessResult r = faults::runCliProcess(f.args("-"), f.scratch, full);
  ASSERT_TRUE(r.exited) << "signal " << r.signal;
  EXPECT_EQ(r.status, kExitFailed);
  EXPECT_EQ(r.err, "The output file - could not be written.\n");
  EXPECT_EQ(snapshot(f.prec), prec);
  EXPECT_EQ(snapshot(f.temp), temp);
}

// A stream that takes `room` bytes and then fails, as a full disk does.
class FillingBuf : public std::streambuf {
 public:
  explicit FillingBuf(std::size_t room) : room_(room) {}
  std::size_t taken = 0;

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    if (taken >= room_) return traits_type::eof();
    ++taken;
    return c;
  }
  std::streamsize xsputn(const char*, std::streamsize n) override {
    std::size_t k = std::min(room_ - taken, static_cast<std::size_t>(n));
    taken += k;
    return static_cast<std::streamsize>(k);
  }

 private:
  std::size_t room_;
};

class StdoutHost : public test::ScriptedHost {
 public:
  std::ostream* out = nullptr;
  std::ostream* standardOutput() override { return out; }
};

TEST(OutputFaults, AWriteErrorStopsTheRunAtOnce) {
  RunFolder f(1000);
  FillingBuf buf(10'000);
  std::ostream failing(&buf);
  StdoutHost host;
  host.out = &failing;
  host.settingsValue.precipFile = f.prec.string();
  host.settingsValue.tmeanFile = f.temp.string();
  host.settingsValue.outputFile = "-";
  host.folders = {std::string(), std::string()};
  RunState state;
  EXPECT_EQ(Main_loop(state, host), RunOutcome::OutputFailed);
  EXPECT_EQ(host.messages, (std::vector<std::string>{"The output file - could not be written."}));
  // The first full buffer fails; the run does not go on computing records
  // whose rows can no longer be written.
  EXPECT_GT(host.rows, 0);
  EXPECT_LT(host.rows, 500);
  EXPECT_EQ(buf.taken, 10'000u);
}

}  // namespace
}  // namespace vadoset
