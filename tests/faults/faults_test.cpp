// Faults through the CLI and the core. Each gets a clear message or a null row;
// an earlier table at the output path and the inputs stay as they were.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <streambuf>
#include <thread>
#include <utility>

#include "cli/cli.h"
#include "output/columns.h"
#include "platform/text.h"
#include "platform/text_stream.h"
#include "run/run.h"
#include "test_support.h"

namespace vadoset {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using Result = std::pair<int, std::string>;  // exit status (1000 + signal when killed), stderr

using test::cli;
using test::kTabHeader;
// Madrid Retiro, monthly normals.
const std::vector<std::string> kPrecip = {"33", "35", "25", "45", "46", "21", "12", "10", "22", "60", "59", "45"};
const std::vector<std::string> kTemp = {"6.3",  "7.9",  "11.2", "12.9", "16.7", "22.2",
                                        "25.6", "25.1", "20.9", "15.1", "9.9",  "6.9"};
std::string precip(const std::string& id, std::vector<std::string> months = kPrecip, const std::string& lat = "40.41") {
  return test::tabLine(id, lat, months);
}
std::string temps(int n, const std::vector<std::string>& months = kTemp) {
  std::string s;
  for (int i = 0; i < n; ++i) s += test::tabLine("x", "0", months);
  return s;
}

/// Every entry of a folder with its inode, mode, mtime and bytes: equal snapshots
/// mean nothing was written, replaced, touched, added or left behind.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
  std::map<std::string, std::string> m;
  for (const auto& e : fs::directory_iterator(dir)) {
    struct stat st {};
    ::lstat(e.path().c_str(), &st);
    m[e.path().filename().string()] = std::to_string(st.st_ino) + " " + std::to_string(st.st_mode) + " " +
                                      std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) +
                                      (S_ISREG(st.st_mode) ? test::readFile(e.path()) : "");
  }
  return m;
}

/// Madrid's record `records` times (with March missing: null rows), and an
/// earlier table at out.txt.
struct RunFolder {
  test::TempDir dir, scratch;  // scratch: a child's stderr, kept out of the run's folder
  fs::path prec, temp, table;
  explicit RunFolder(int records = 20, const fs::path& base = {}, bool nullRows = false) : dir(base) {
    std::vector<std::string> months = kPrecip;
    if (nullRows) months[2] = "NA";
    std::string p = kTabHeader;
    for (int i = 0; i < records; ++i) p += precip("station " + std::to_string(i), months);
    prec = dir.write("prec.txt", p);
    temp = dir.write("temp.txt", kTabHeader + temps(records));
    table = dir.write("out.txt", "an earlier table that no failed run may touch\r");
  }
  std::vector<std::string> args(const std::string& output) const {
    return {"-t", temp.string(), "-p", prec.string(), "-o", output, "--quiet"};
  }
};

/// The real binary, stdout to `outPath` (">>PATH": appended to), signals at
/// their defaults (SIGXFSZ too: the binary must ignore it to see EFBIG).
/// `meanwhile` gets the child's pid. After 120 s the child is killed (1009),
/// so that a hang fails instead of blocking.
Result runProcess(std::vector<std::string> args, const fs::path& scratch, std::string outPath = "/dev/null",
                  rlim_t sizeLimit = RLIM_INFINITY, const std::function<void(pid_t)>& meanwhile = {}) {
  const int outFlags = O_WRONLY | O_CREAT | (outPath.rfind(">>", 0) == 0 ? O_APPEND : O_TRUNC);
  if (outPath.rfind(">>", 0) == 0) outPath.erase(0, 2);
  args.insert(args.begin(), VADOSET_CLI);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const fs::path errPath = scratch / "stderr.txt";
  const pid_t pid = ::fork();
  if (pid == 0) {  // only async-signal-safe calls until exec
    const int out = ::open(outPath.c_str(), outFlags, 0644), in = ::open("/dev/null", O_RDONLY);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || in < 0) ::_exit(127);
    ::dup2(in, 0), ::dup2(out, 1), ::dup2(err, 2);
    const rlimit lim{sizeLimit, sizeLimit};
    // Signals the test's own parent may have ignored (nohup, a shell without
    // job control) are at their defaults, as in a terminal.
    for (int sig : {SIGXFSZ, SIGINT, SIGTERM, SIGHUP}) ::signal(sig, SIG_DFL);
    ::setrlimit(RLIMIT_FSIZE, &lim);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  if (meanwhile) meanwhile(pid);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) != pid) {
    if (std::chrono::steady_clock::now() > deadline) ::kill(pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status), test::readFile(errPath)};
}

// The data rows of a run over the given file contents; the header is checked.
std::vector<std::string> rowsOf(const std::string& p, const std::string& t, const std::string& fc = "100",
                                std::string* err = nullptr) {
  test::TempDir d;
  test::CliResult r = cli({"-t", d.write("t", t).string(), "-p", d.write("p", p).string(), "-o", "-", "--line-ending",
                           "cr", "--field-capacity", fc});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  if (err != nullptr) *err = r.err;
  std::vector<std::string> lines = test::tableLines(r.out);
  EXPECT_TRUE(!lines.empty() && lines[0] + "\r" == TableLayout().header());
  if (!lines.empty()) lines.erase(lines.begin());
  return lines;
}

// Folders, links to them, dangling links, link loops, devices and FIFOs are
// refused as inputs, with the cause (a FIFO without a writer must not block:
// the real binary runs with a timeout); they, missing folders, the inputs by
// any road, links to a process's open files (/dev/stdout) and another user's
// links in a shared sticky folder are refused as the output. Nothing in the
// folder changes.
TEST(PathFaults, WhatIsNotARegularFileIsRefused) {
  RunFolder f;
  fs::create_directory(f.dir / "sub");
  f.dir.write("afile.txt", "not a folder");
  ASSERT_EQ(::mkfifo((f.dir / "fifo").c_str(), 0644), 0);
  fs::create_symlink(f.dir / "sub", f.dir / "sub-link");
  fs::create_symlink(f.dir / "nowhere", f.dir / "dangling");
  fs::create_symlink("loop-b", f.dir / "loop-a");
  fs::create_symlink("loop-a", f.dir / "loop-b");
  fs::create_symlink(f.prec, f.dir / "link.txt");
  fs::create_symlink("/proc/self/fd/1", f.dir / "fd1");
  fs::create_symlink("/dev/stdout", f.dir / "stdout");
  fs::create_hard_link(f.prec, f.dir / "hard.txt");
  // A device node like /dev/null (only root may make one): a rename would replace it.
  const bool haveDevice = ::mknod((f.dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  // Another user's links in a sticky folder that everyone may write to, to
  // the earlier table and to this folder (only root can give them away).
  fs::create_directory(f.dir / "shared");
  fs::permissions(f.dir / "shared", fs::perms::all | fs::perms::sticky_bit);
  fs::create_symlink(f.table, f.dir / "shared/theirs.txt");
  fs::create_symlink(f.dir.path(), f.dir / "shared/their-folder");
  const bool haveTheirs = ::lchown((f.dir / "shared/theirs.txt").c_str(), 4242, -1) == 0 &&
                          ::lchown((f.dir / "shared/their-folder").c_str(), 4242, -1) == 0;
  const auto before = snapshot(f.dir.path());
  const std::string folder = " could not be read: it is a folder.\n",
                    special = " could not be read: it is not a regular file.\n";
  for (const auto& [bad, says] : {std::pair{f.dir / "sub", folder},
                                  {f.dir / "sub-link", folder},
                                  {f.dir / "dangling", " doesn't exist.\n"s},
                                  {f.dir / "loop-a", " could not be read: its path has a loop of symbolic links.\n"s},
                                  {fs::path("/dev/zero"), special},
                                  {f.dir.path(), folder},
                                  {f.dir / "fifo", special}}) {
    for (std::size_t which : {1, 3}) {  // as temperature, as precipitation
      std::vector<std::string> args = f.args(f.table.string());
      args[which] = bad.string();
      EXPECT_EQ(runProcess(args, f.scratch.path()), Result(kExitFailed, "The file " + bad.string() + says));
    }
  }
  const std::string input = ": it is one of the input files.",
                    special2 = ": it is not a regular file (to write the table to standard output, use -o -).";
  const std::string theirs = haveTheirs ? ": its path goes through a symbolic link that another user owns in a folder "
                                          "everyone may write to; such links are not followed, as the system's "
                                          "protected_symlinks rule would refuse them."
                                        : special2;
  const std::pair<std::string, std::string> outputs[] = {{"missing/out.txt", ": the folder does not exist."},
                                                         {"afile.txt/out.txt", ": a part of its path is not a folder."},
                                                         {"sub", ": it is a folder."},
                                                         {"sub/", ": it is a folder."},
                                                         {"newdir/", ": a file name cannot end with a slash."},
                                                         {"loop-a", ": its path has a loop of symbolic links."},
                                                         {"fifo", special2},
                                                         {haveDevice ? "null" : "fifo", special2},
                                                         {"fd1", special2},
                                                         {"stdout", special2},
                                                         {"prec.txt", input},
                                                         {"temp.txt", input},
                                                         {"link.txt", input},
                                                         {"hard.txt", input},
                                                         {"./prec.txt", input},
                                                         {"", ": no file name was given."},
                                                         {haveTheirs ? "shared/theirs.txt" : "fifo", theirs},
                                                         {haveTheirs ? "shared/their-folder/out.txt" : "fifo", theirs}};
  for (const auto& [name, says] : outputs) {
    // A process of its own, with standard output a regular file, which a
    // link through /proc leads to. The file is named as given.
    const std::string given = name.empty() ? "" : (f.dir / name).string();
    EXPECT_EQ(runProcess(f.args(given), f.scratch.path(), (f.scratch / "stdout.txt").string()),
              Result(kExitFailed, "The output file " + given + " could not be written" + says + "\n"));
  }
  // The null report is refused as the table is, and as the table itself; so
  // are standard output for both, and standard output appended to an input.
  const std::string in = f.dir.path().string() + "/", report = "The null report " + in,
                    toStdout = ": it is not a regular file (to write the report to standard output, use -).";
  const std::tuple<std::string, std::string, std::string, std::string> reports[] = {
      {"out.txt", "prec.txt", "", report + "prec.txt could not be written" + input},
      {"out.txt", "link.txt", "", report + "link.txt could not be written" + input},
      {"out.txt", "hard.txt", "", report + "hard.txt could not be written" + input},
      {"-", "temp.txt", "", report + "temp.txt could not be written" + input},
      {"out.txt", "fifo", "", report + "fifo could not be written" + toStdout},
      {"out.txt", "stdout", "", report + "stdout could not be written" + toStdout},
      {"out.txt", "out.txt", "", "The output file " + in + "out.txt could not be written: it is the null report."},
      {"sub/new.txt", "sub-link/new.txt", "",
       report + "sub-link/new.txt could not be written: it is the output table."},
      {"-", "-", "", "The null report could not be written to standard output: the table goes to standard output too."},
      {"-", "", ">>prec.txt", "The output file standard output could not be written" + input},
      {"out.txt", "-", ">>temp.txt", "The null report standard output could not be written" + input},
      {"-", haveTheirs ? "shared/theirs.txt" : "fifo", "",
       report +
           (haveTheirs ? "shared/theirs.txt could not be written" + theirs : "fifo could not be written" + toStdout)}};
  for (const auto& [output, nulls, out, says] : reports) {
    std::vector<std::string> args = f.args(output == "-" ? output : in + output);
    if (!nulls.empty()) args.insert(args.end(), {"--null-report", nulls == "-" ? nulls : in + nulls});
    EXPECT_EQ(runProcess(args, f.scratch.path(),
                         out.empty() ? (f.scratch / "stdout.txt").string() : ">>" + in + out.substr(2)),
              Result(kExitFailed, says + "\n"));
  }
  // The snapshot holds inodes and modes, so the links, FIFO and device are still themselves.
  EXPECT_TRUE(snapshot(f.dir.path()) == before) << "a file was touched, added or removed";
  // A link to a regular file stays a link; the file it leads to gets the
  // table. In the shared folder, a link of its owner's is followed.
  fs::create_symlink("../out.txt", f.dir / "shared/table-link");
  EXPECT_EQ(cli(f.args((f.dir / "shared/table-link").string())).status, kExitOk);
  EXPECT_TRUE(fs::is_symlink(f.dir / "shared/table-link"));
  EXPECT_EQ(test::readFile(f.table).substr(0, TableLayout().header().size()), TableLayout().header());
}

TEST(InputFaults, EmptyFilesStrayBytesAndLinesOfSeveralMegabytes) {
  test::TempDir d;
  const std::string empty = d.write("empty.txt", "").string();
  // No precipitation records: the header alone. No temperatures: null rows.
  EXPECT_TRUE(rowsOf("", kTabHeader + temps(2)).empty());
  EXPECT_EQ(rowsOf(kTabHeader + precip("A") + precip("B"), ""), (std::vector<std::string>{"A\t*", "B\t*"}));
  // HCN files must begin with their header.
  test::CliResult r = cli({"-t", empty, "-p", empty, "-o", (d / "out.txt").string(), "--format", "hcn"});
  EXPECT_EQ(r.status, kExitFailed);
  EXPECT_EQ(r.err, "Precip file not an HCN format file\n" + empty +
                       ": its first line does not start with HCN. Choose --format tab or csv.\nTemp file not an HCN "
                       "format file\n" +
                       empty + ": its first line does not start with HCN. Choose --format tab or csv.\n");
  EXPECT_FALSE(fs::exists(d / "out.txt"));

  const std::string madrid = rowsOf(kTabHeader + precip("M"), kTabHeader + temps(1)).at(0).substr(1);
  auto with = [](std::vector<std::string> v, int month, const std::string& text) { return v[month] = text, v; };
  const std::string oddId = "Bad\0Name \xff\xfe\xc3("s;             // NUL, stray bytes, a cut sequence
  const std::string longId(5u << 20, 'x'), hugeId(17u << 20, 'y');  // the latter beyond the longest line kept
  const std::string p =
      kTabHeader + precip(oddId) + precip("nul-month", with(kPrecip, 3, "45\0"s)) +
      precip("utf8-month", with(kPrecip, 7, "\xff"s + "10")) + precip("nul-temp") + precip("nul-lat", kPrecip, "4\0"s) +
      precip(longId) + precip("long-month", with(kPrecip, 5, std::string(5u << 20, '7'))) +
      precip("tiny", with(kPrecip, 0, "0." + std::string(3u << 20, '0') + "1")) + precip(hugeId) + precip("after");
  const std::string t = kTabHeader + temps(3) + temps(1, with(kTemp, 0, "\0"s)) + temps(5) +
                        test::tabLine(std::string(6u << 20, 'z'), "0", kTemp);
  std::string err;
  const std::vector<std::string> rows = rowsOf(p, t, "100", &err);
  ASSERT_EQ(rows.size(), 10u);
  EXPECT_EQ(rows[0], oddId + madrid);  // the identifier is copied byte for byte
  for (auto [i, id] :
       {std::pair{1, "nul-month"}, {2, "utf8-month"}, {3, "nul-temp"}, {4, "nul-lat"}, {6, "long-month"}})
    EXPECT_EQ(rows[static_cast<std::size_t>(i)], id + "\t*"s);
  EXPECT_TRUE(rows[5] == longId + madrid) << "long identifier";
  EXPECT_EQ(test::splitTabs(rows[7]).size(), 40u);  // January read as 0 mm: computed, not null
  EXPECT_TRUE(rows[8] == hugeId.substr(0, 16u << 20) + "\t*") << "cut line";
  EXPECT_EQ(rows[9], "after" + madrid);  // the lines stay paired; a long temperature line is read
  // The cut is told after the run, unless --quiet.
  EXPECT_NE(err.find("warning: 1 line is longer than 16 MiB and was cut there (/"), std::string::npos) << err;
  const std::string cut = d.write("cut.txt", kTabHeader + precip(std::string((16u << 20) + 1, 'c'))).string();
  EXPECT_EQ(cli({"-t", cut, "-p", cut, "-o", "-", "--quiet"}).err, "");
}

// A standard output that takes 10 kB and then fails, as a full disk does.
struct FillingBuf : std::streambuf {
  std::size_t taken = 0;
  int_type overflow(int_type c) override { return xsputn(nullptr, 1) == 1 ? c : traits_type::eof(); }
  std::streamsize xsputn(const char*, std::streamsize n) override {
    const std::size_t k = std::min<std::size_t>(10'000 - taken, static_cast<std::size_t>(n));
    return taken += k, static_cast<std::streamsize>(k);
  }
};
// A run of the core with that standard output, on `threads` threads.
struct StdoutRun {
  FillingBuf buf;
  std::ostream out{&buf};
  test::TestObserver observer;
  Settings settings;
  RunResult go(int threads) {
    RunConfig config = makeRunConfig(settings, "", "");
    config.standardOutput = &out;
    config.parallel = {threads, 16};
    return runTable(config, observer);
  }
};

// Write errors partway through the table (of about 380 kB), after several
// buffers: the file system refuses to grow a file past 100 kB (ulimit -f, with
// SIGXFSZ at its default), standard output
// is /dev/full, or a stream fills up in the window's one-thread run or the
// parallel run. Read errors (/proc/self/mem: a regular file whose first page
// gives EIO) must not pass for the end of the file.
TEST(OutputFaults, WriteAndReadErrorsLeaveEverythingAsItWas) {
  RunFolder f(1000);
  const auto before = snapshot(f.dir.path());
  EXPECT_EQ(runProcess(f.args(f.table.string()), f.scratch.path(), "/dev/null", 100'000),
            Result(kExitFailed, "The output file " + f.table.string() +
                                    " could not be written: the file size limit was reached.\n"));
  EXPECT_EQ(runProcess(f.args("-"), f.scratch.path(), "/dev/full"),
            Result(kExitFailed, "The table could not be written to standard output: no space left on the device.\n"));
  // A null report past the limit (the table of null rows is short): the
  // earlier table stays too.
  RunFolder nulls(3000, {}, true);
  nulls.dir.write("nulls.tsv", "an earlier report\n");
  const auto nullsBefore = snapshot(nulls.dir.path());
  std::vector<std::string> args = nulls.args(nulls.table.string());
  args.insert(args.end(), {"--null-report", (nulls.dir / "nulls.tsv").string()});
  EXPECT_EQ(runProcess(args, f.scratch.path(), "/dev/null", 100'000),
            Result(kExitFailed, "The null report " + (nulls.dir / "nulls.tsv").string() +
                                    " could not be written: the file size limit was reached.\n"));
  EXPECT_TRUE(snapshot(nulls.dir.path()) == nullsBefore) << "a file was touched, added or removed";
  const std::string mem = "/proc/self/mem";
  for (int threads : {1, 2}) {
    for (int what : {0, 1, 2}) {  // failing output, unreadable precipitation, unreadable temperature
      SCOPED_TRACE(std::to_string(threads) + " threads, case " + std::to_string(what));
      StdoutRun run;
      run.settings.precipFile = what == 1 ? mem : f.prec.string();
      run.settings.tmeanFile = what == 2 ? mem : f.temp.string();
      run.settings.outputFile = what == 0 ? "-" : f.table.string();
      const RunResult r = run.go(threads);
      EXPECT_EQ(r.outcome, RunOutcome::OutputFailed);
      EXPECT_EQ(test::messagesOf(r), std::vector<std::string>{what == 0 ? "The output file - could not be written."
                                                                        : "The file mem could not be read."});
      // The first full buffer fails; no more records are computed for rows that cannot be written.
      EXPECT_TRUE(what != 0 || (run.buf.taken == 10'000u && (threads != 1 || run.observer.rows < 500)))
          << run.observer.rows;
    }
  }
  EXPECT_TRUE(snapshot(f.dir.path()) == before) << "a file was touched, added or removed";
  // Without an earlier table nothing appears; without the limit the same run
  // succeeds, so it was the limit that failed it.
  fs::remove(f.table);
  EXPECT_EQ(runProcess(f.args(f.table.string()), f.scratch.path(), "/dev/null", 100'000).first, kExitFailed);
  EXPECT_FALSE(fs::exists(f.table));
  EXPECT_EQ(runProcess(f.args(f.table.string()), f.scratch.path()).first, kExitOk);
  EXPECT_GT(fs::file_size(f.table), 100'000u);
}

// An input cut short (or cut and written anew), replaced at its path or
// written to (even with its modification time set back) while the run reads
// it fails the run; the earlier table stays and nothing is left behind.
struct ChangingObserver : test::TestObserver {
  std::function<void()> change;
  void progress(const Progress& p) override {
    TestObserver::progress(p);
    if (p.rows == 1 && change) std::exchange(change, nullptr)();
  }
};
TEST(InputFaults, AnInputChangedWhileReadFailsTheRun) {
  RunFolder f(2000);  // inputs of some 150 kB: more than one read
  const std::string precText = test::readFile(f.prec), tempText = test::readFile(f.temp);
  const std::pair<const char*, std::function<void(const fs::path&)>> changes[] = {
      {"cut short", [](const fs::path& p) { fs::resize_file(p, fs::file_size(p) / 2); }},
      {"replaced", [&](const fs::path& p) { fs::rename(f.dir.write("new.txt", test::readFile(p)), p); }},
      {"written to", [](const fs::path& p) { std::ofstream(p, std::ios::app) << "more\n"; }},
      {"cut and written again", [](const fs::path& p) { std::ofstream(p) << std::string(300'000, 'b'); }},
      {"written in place, its time set back", [](const fs::path& p) {
         const auto time = fs::last_write_time(p);
         std::fstream(p, std::ios::in | std::ios::out | std::ios::binary).seekp(100'000) << 'X';
         fs::last_write_time(p, time);
       }}};
  for (int threads : {1, 2}) {
    for (const auto& [what, change] : changes) {
      for (const fs::path& input : {f.prec, f.temp}) {
        SCOPED_TRACE(std::to_string(threads) + " threads, " + input.filename().string() + " " + what);
        f.dir.write("prec.txt", precText), f.dir.write("temp.txt", tempText);
        for (const fs::path& in : {f.prec, f.temp})  // a write below must change the time
          fs::last_write_time(in, fs::file_time_type::clock::now() - std::chrono::hours(1));
        const auto before = snapshot(f.dir.path());
        ChangingObserver observer;
        Settings settings;
        settings.precipFile = f.prec.string();
        settings.tmeanFile = f.temp.string();
        settings.outputFile = f.table.string();
        observer.change = [&, change = change] { change(input); };
        RunConfig config = makeRunConfig(settings, "", "");
        config.parallel = {threads, 16};
        const RunResult r = runTable(config, observer);
        EXPECT_EQ(r.outcome, RunOutcome::OutputFailed);
        EXPECT_EQ(test::messagesOf(r),
                  std::vector<std::string>{"The file " + input.filename().string() + " changed while it was read."});
        auto after = snapshot(f.dir.path());
        after.erase(input.filename().string()), after.erase("new.txt");
        EXPECT_EQ(after.size(), before.size() - 1) << "a file was added or removed";
        EXPECT_TRUE(after["out.txt"] == before.at("out.txt")) << "the earlier table was touched";
      }
    }
  }
}

// True once the process has its table open in `dir`: unnamed (/proc shows
// "DIR/#INODE (deleted)") or under a temporary name.
bool writingIn(pid_t pid, const fs::path& dir) {
  std::error_code ec;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    const std::string file = fs::read_symlink(fd.path(), ec).string();
    if (file.rfind(dir.string() + "/", 0) == 0 &&
        (file.ends_with(" (deleted)") || file.find(TextOutputStream::kTempMarker) != std::string::npos))
      return true;
  }
  return false;
}

// On each file system: SIGINT gives status 130, a table of the header and
// whole rows in order, and a null report of their null rows; SIGTERM and
// SIGHUP end the process by the signal and keep the earlier table and
// report; kill -9 keeps them too. No signal leaves a temporary file (a file
// has no name until it is whole).
TEST(Interrupt, EachSignalLeavesAWholeTable) {
  // With a field capacity of 1e9 mm a dry record takes all 1002 passes and
  // becomes a null row; a wet one fills the soil at once. They alternate.
  auto line = [](const std::string& id, const char* v) {
    return test::tabLine(id, "45", std::vector<std::string>(12, v));
  };
  const int kRecords = 20000;  // seconds of work even for a fast machine
  std::string prec = kTabHeader, temp = kTabHeader;
  for (int i = 0; i < kRecords; ++i)
    prec += line("R" + std::to_string(i), i % 2 ? "0" : "200"), temp += line("x", i % 2 ? "25" : "5");
  const std::string wetValues =
      rowsOf(kTabHeader + line("R0", "200"), kTabHeader + line("x", "5"), "1000000000").at(0).substr(2);
  for (const fs::path& base : test::fileSystems()) {
    test::TempDir dir(base), scratch;
    const fs::path p = dir.write("p.txt", prec), t = dir.write("t.txt", temp);
    for (const auto& [sig, waitMs] :
         {std::pair{SIGINT, 20}, {SIGINT, 300}, {SIGTERM, 20}, {SIGHUP, 300}, {SIGKILL, 20}, {SIGKILL, 300}}) {
      SCOPED_TRACE(base.string() + ": signal " + std::to_string(sig) + " after " + std::to_string(waitMs) + " ms");
      const fs::path out = dir.write("out.txt", "earlier\r"), nulls = dir.write("nulls.tsv", "earlier\n");
      auto before = snapshot(dir.path());
      // Once the table is open the handlers are in place; then let some rows be written.
      auto signal = [&, sig = sig, waitMs = waitMs](pid_t pid) {
        for (int i = 0; i < 15000 && !writingIn(pid, dir.path()); ++i)
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
        ::kill(pid, sig);
      };
      const Result r = runProcess({"-t", t.string(), "-p", p.string(), "-o", out.string(), "--null-report",
                                   nulls.string(), "--field-capacity", "1000000000", "--quiet"},
                                  scratch.path(), "/dev/null", RLIM_INFINITY, signal);
      auto after = snapshot(dir.path());
      if (sig != SIGINT) {
        EXPECT_EQ(r, Result(1000 + sig, ""));
        EXPECT_TRUE(after == before) << "the earlier table was touched, or a temporary file is left";
        continue;
      }
      EXPECT_EQ(r, Result(kExitInterrupted, ""));
      const std::string table = test::readFile(out);
      ASSERT_EQ(table.substr(0, TableLayout().header().size()), TableLayout().header());
      ASSERT_EQ(table.back(), '\r');
      const std::vector<std::string> rows = test::tableLines(table.substr(TableLayout().header().size()));
      EXPECT_LT(rows.size(), static_cast<std::size_t>(kRecords));
      for (std::size_t i = 0; i < rows.size(); ++i)
        ASSERT_EQ(rows[i], "R" + std::to_string(i) + (i % 2 == 0 ? wetValues : "\t*")) << "row " << i;
      // The report's header and a line for each null row kept.
      const std::string report = test::readFile(nulls);
      EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1 + rows.size() / 2) << report.substr(0, 200);
      for (const char* file : {"out.txt", "nulls.tsv"}) before.erase(file), after.erase(file);
      EXPECT_TRUE(after == before) << "an input was touched, or a temporary file is left";
    }
  }
}

// A run blocked writing its table, or its null report, to a pipe that nobody
// reads ends on each signal: at once on SIGTERM and SIGHUP (the earlier
// table stays), after the moment it gives a reader on Ctrl+C.
TEST(Interrupt, ASignalEndsARunBlockedOnItsOutput) {
  RunFolder rows(3000), nullRows(3000, {}, true);  // a table, and a report, far larger than a pipe holds
  const auto before = snapshot(nullRows.dir.path());
  for (const auto& [sig, report] : {std::pair{SIGINT, false}, {SIGTERM, false}, {SIGHUP, true}, {SIGINT, true}}) {
    const RunFolder& f = report ? nullRows : rows;
    std::vector<std::string> args = f.args(report ? (f.dir / "new.txt").string() : "-");
    if (report) args.insert(args.end(), {"--null-report", "-"});
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const int capacity = ::fcntl(pipeFds[0], F_GETPIPE_SZ);
    const auto start = std::chrono::steady_clock::now();
    const Result r = runProcess(
        args, f.scratch.path(), "/proc/self/fd/" + std::to_string(pipeFds[1]), RLIM_INFINITY, [&](pid_t pid) {
          // Full: at capacity, or no longer taking more (writes of any size
          // leave part of the pipe's pages unused).
          int queued = 0, last = -1, still = 0;
          for (int i = 0; i < 10000 && ::ioctl(pipeFds[0], FIONREAD, &queued) == 0 && queued < capacity && still < 100;
               ++i, last = queued) {
            still = queued > 0 && queued == last ? still + 1 : 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
          }
          ::kill(pid, sig);
        });
    ::close(pipeFds[0]), ::close(pipeFds[1]);
    EXPECT_EQ(r, Result(sig == SIGINT ? kExitInterrupted : 1000 + sig, "")) << sig;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << sig;
    if (sig == SIGINT && report) fs::remove(f.dir / "new.txt");  // the complete rows
  }
  EXPECT_TRUE(snapshot(nullRows.dir.path()) == before) << "a file was touched, added or removed";
}

// The table reaches the disk before its name, and its name before the run
// ends: fsync of the file, its name, fsync of the folder, in that order (seen
// by a preloaded library that logs the calls). A new table is linked at its
// name at once; over an earlier one (where that link fails) under a name of
// its own, then renamed; where unnamed files are not supported, a named
// temporary file is renamed.
TEST(Durability, TheTableIsSyncedBeforeAndAfterItsName) {
  const std::string temp = ".out.txt.vadoset-partial-XXXXXX";
  const std::tuple<bool, bool, std::string> cases[] = {
      {true, true, "link out.txt\nlink " + temp + "\nrename " + temp + " out.txt\n"},
      {true, false, "link out.txt\n"},
      {false, true, "rename " + temp + " out.txt\n"}};
  ::setenv("LD_PRELOAD", VADOSET_SYNC_LOG_LIB, 1);
  // An AddressSanitizer build would refuse a library loaded before its own.
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string asanBefore = asan != nullptr ? asan : "";
  ::setenv("ASAN_OPTIONS", (asanBefore + ":verify_asan_link_order=0").c_str(), 1);
  for (const fs::path& base : test::fileSystems()) {
    for (const auto& [unnamed, earlier, naming] : cases) {
      SCOPED_TRACE(base.string() + (unnamed ? "" : ", no O_TMPFILE") + (earlier ? ", over a table" : ""));
      RunFolder f(3, base);
      if (!earlier) fs::remove(f.table);
      ::setenv("VADOSET_SYNC_LOG", (f.scratch / "sync.log").c_str(), 1);
      unnamed ? ::unsetenv("VADOSET_NO_TMPFILE") : ::setenv("VADOSET_NO_TMPFILE", "1", 1);
      EXPECT_EQ(runProcess(f.args(f.table.string()), f.scratch.path()), Result(kExitOk, ""));
      // The random part of the temporary name, as XXXXXX.
      const std::string log = test::readFile(f.scratch / "sync.log");
      EXPECT_EQ(std::regex_replace(log, std::regex("(partial-)\\w{6}"), "$1XXXXXX"),
                "fsync file\n" + naming + "fsync folder\n");
      EXPECT_EQ(snapshot(f.dir.path()).size(), 3u);
    }
  }
  // A table of megabytes is synced while it is written: a sync that fails
  // then fails the run, and the earlier table stays.
  RunFolder big(30000);
  ::setenv("VADOSET_FAIL_DATASYNC", "1", 1), ::unsetenv("VADOSET_NO_TMPFILE"), ::unsetenv("VADOSET_SYNC_LOG");
  const auto before = snapshot(big.dir.path());
  EXPECT_EQ(runProcess(big.args(big.table.string()), big.scratch.path()),
            Result(kExitFailed, "The output file " + big.table.string() +
                                    " could not be written: an input/output error occurred.\n"));
  EXPECT_TRUE(snapshot(big.dir.path()) == before) << "the earlier table was touched, or a temporary file is left";
  ::unsetenv("LD_PRELOAD"), ::unsetenv("VADOSET_NO_TMPFILE"), ::unsetenv("VADOSET_FAIL_DATASYNC");
  asan != nullptr ? ::setenv("ASAN_OPTIONS", asanBefore.c_str(), 1) : ::unsetenv("ASAN_OPTIONS");
}

}  // namespace
}  // namespace vadoset
