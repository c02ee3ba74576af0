#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>
#include <streambuf>

#include "cli/cli.h"
#include "run/driver.h"
#include "run/parallel_run.h"
#include "run/run_state.h"
#include "test_support.h"

namespace vadoset {
namespace {

using test::ScriptedHost;
using test::TempDir;

struct Inputs {
  std::string precip;
  std::string temp;
};

// Deterministic climates from polar to tropical, with the faults real files
// have: missing months in every spelling, text and empty fields, short
// lines, bad latitudes, a temperature file that ends early and blank lines
// after the last record.
class InputMaker {
 public:
  explicit InputMaker(std::uint64_t seed) : rng_(seed) {}

  Inputs make(int records, bool hcn, bool trickyStart) {
    Inputs in;
    if (hcn) {
      in.precip = "HCN precipitation, tenths of a millimetre\n";
      in.temp = "HCN temperature, tenths of a degree\n";
    } else {
      in.precip = in.temp = "Site\tLat\tJan\tFeb\tMar\tApr\tMay\tJun\tJul\tAug\tSep\tOct\tNov\tDec\n";
    }
    for (int i = 0; i < records; ++i) {
      std::vector<double> t(12), p(12);
      const double lat = uniform(-70.0, 75.0);
      const double mean = uniform(-25.0, 28.0);
      const double amplitude = uniform(0.0, 20.0);
      const double wet = uniform(0.0, 250.0);
      for (int m = 0; m < 12; ++m) {
        const double season = std::cos(2.0 * 3.14159265358979 * (m + 0.5) / 12.0);
        t[m] = mean - (lat < 0 ? -amplitude : amplitude) * season + uniform(-2.0, 2.0);
        p[m] = wet * uniform(0.0, 2.0);
      }
      if (trickyStart && i == 1) {
        // Perennial snow: the first computed record of the run ends null.
        for (int m = 0; m < 12; ++m) t[m] = -20.0, p[m] = 60.0;
      }
      std::vector<std::string> pt(12), tt(12);
      for (int m = 0; m < 12; ++m) {
        pt[m] = hcn ? cell(p[m] * 10.0) : fixed(p[m]);
        tt[m] = hcn ? cell(t[m] * 10.0) : fixed(t[m]);
      }
      std::string latText = fixed(lat);
      int fault = static_cast<int>(rng_() % 30);
      if (trickyStart && i == 0) fault = 0;
      const int month = static_cast<int>(rng_() % 12);
      bool shortLine = false;
      switch (fault) {
        case 0: tt[month] = hcn ? "-9999" : "NA"; break;
        case 1: pt[month] = "-9999"; break;
        case 2: pt[month] = hcn ? "     " : ""; break;
        case 3: tt[month] = hcn ? "  abc" : "abc"; break;
        case 4: shortLine = true; break;
        case 5: latText = "95"; break;
        case 6: pt[month] = hcn ? "-9999" : "-9999.0"; break;
        default: break;
      }
      char id[32];
      std::snprintf(id, sizeof id, "site %d", i);
      if (hcn) {
        char head[32];
        std::snprintf(head, sizeof head, "USC%08d %4d", i / 1000, 1000 + i % 1000);
        std::string pl = head, tl = head;
        for (int m = 0; m < 12; ++m) pl += pt[m], tl += tt[m];
        if (shortLine) pl.resize(40);
        in.precip += pl + "\n";
        in.temp += tl + "\r\n";
      } else {
        if (shortLine) pt.resize(7);
        in.precip += test::tabLine(id, latText, pt);
        in.temp += test::tabLine("x", "0", tt);
      }
    }
    // The temperature file lacks the last two records; blank lines end the
    // precipitation file.
    for (int k = 0; k < 2; ++k) in.temp.erase(in.temp.rfind('\n', in.temp.size() - 2) + 1);
    in.precip += "\n  \n";
    return in;
  }

 private:
  double uniform(double a, double b) { return a + (b - a) * static_cast<double>(rng_() >> 11) * 0x1p-53; }
  static std::string fixed(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%.1f", v);
    return b;
  }
  static std::string cell(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%5d", static_cast<int>(std::lround(v)));
    return b;
  }
  std::mt19937_64 rng_;
};

struct RunResult {
  RunOutcome outcome{};
  std::string table;
  std::vector<std::string> messages;
  std::vector<std::string> counters;
  double currentW = 0.0;
  double currentWs = 0.0;
  bool yearOne = false;
};

// threads 0 is the reference, Main_loop.
struct Case {
  int threads;
  std::size_t batch;
  std::size_t inFlight;
};

RunResult runOnce(RunState& state, ScriptedHost& host, const TempDir& dir, const Case& c) {
  host.folders = {dir.path().string(), dir.path().string()};
  host.messages.clear();
  host.counters.clear();
  host.rows = 0;
  RunResult r;
  if (c.threads == 0) {
    r.outcome = Main_loop(state, host);
  } else {
    ParallelOptions o;
    o.threads = c.threads;
    o.batchRecords = c.batch;
    o.batchesInFlight = c.inFlight;
    r.outcome = runParallel(state, host, o);
  }
  r.table = test::readFile(dir / host.settingsValue.outputFile);
  r.messages = host.messages;
  r.counters = host.counters;
  r.currentW = state.current_w;
  r.currentWs = state.current_ws;
  r.yearOne = state.year_one;
  return r;
}

void expectSame(const RunResult& ref, const RunResult& got, const std::string& what) {
  SCOPED_TRACE(what);
  EXPECT_EQ(got.outcome, ref.outcome);
  EXPECT_TRUE(got.table == ref.table) << "tables differ";
  EXPECT_EQ(got.messages, ref.messages);
  EXPECT_EQ(got.counters, ref.counters);
  // Bit for bit: the carried state decides the next run's first record.
  EXPECT_EQ(std::memcmp(&got.currentW, &ref.currentW, sizeof(double)), 0);
  EXPECT_EQ(std::memcmp(&got.currentWs, &ref.currentWs, sizeof(double)), 0);
  EXPECT_EQ(got.yearOne, ref.yearOne);
}

const Case kCases[] = {{2, 1, 2}, {2, 7, 4}, {3, 16, 3}, {4, 1024, 4}, {5, 3, 2}};

// Two runs in one run state, as two presses of Run in the window: the second
// starts from the soil water the first carried over.
void compareTwoRuns(const Inputs& in, Settings settings, const std::string& what) {
  TempDir dir;
  dir.write(settings.precipFile, in.precip);
  dir.write(settings.tmeanFile, in.temp);
  ScriptedHost refHost;
  refHost.settingsValue = settings;
  RunState refState;
  const Case reference{0, 0, 0};
  RunResult ref1 = runOnce(refState, refHost, dir, reference);
  RunResult ref2 = runOnce(refState, refHost, dir, reference);
  ASSERT_EQ(ref1.outcome, RunOutcome::Completed);
  ASSERT_GT(test::tableLines(ref1.table).size(), 100u);
  for (const Case& c : kCases) {
    ScriptedHost host;
    host.settingsValue = settings;
    RunState state;
    const std::string label = what + ", " + std::to_string(c.threads) + " threads, batches of " +
                              std::to_string(c.batch);
    expectSame(ref1, runOnce(state, host, dir, c), label + ", first run");
    expectSame(ref2, runOnce(state, host, dir, c), label + ", second run");
  }
}

Settings settingsFor(bool hcn, bool carryover, int beta) {
  Settings s;
  s.format = hcn ? 1 : 0;
  s.carryover = carryover;
  s.beta = beta;
  s.outputFile = "out.txt";
  return s;
}

TEST(ParallelRun, SameTableAsMainLoopForEveryThreadCount) {
  for (bool hcn : {false, true}) {
    for (bool carryover : {false, true}) {
      InputMaker maker(hcn ? 11 : 7);
      Inputs in = maker.make(400, hcn, carryover);
      compareTwoRuns(in, settingsFor(hcn, carryover, 6),
                     std::string(hcn ? "HCN" : "tab") + (carryover ? ", carry-over" : ""));
    }
  }
}

TEST(ParallelRun, SameTableForOtherFunctionsAndPassLimits) {
  // Function A lets dry years lose water in every pass, so some records run
  // to the pass limit; E uses the exponential curve.
  for (int beta : {0, 4, 8}) {
    for (bool carryover : {false, true}) {
      InputMaker maker(100 + static_cast<std::uint64_t>(beta));
      Inputs in = maker.make(150, false, carryover);
      compareTwoRuns(in, settingsFor(false, carryover, beta),
                     "function " + std::to_string(beta) + (carryover ? ", carry-over" : ""));
    }
  }
}

TEST(ParallelRun, StopsAtTheSameRowAsMainLoop) {
  InputMaker maker(3);
  Inputs in = maker.make(120, false, true);
  for (bool carryover : {false, true}) {
    // The first record has a missing month and the second ends null: after one
    // row year_one is still set, after two it is cleared.
    for (int stopAfter : {0, 1, 2, 5, 37}) {
      TempDir dir;
      Settings settings = settingsFor(false, carryover, 6);
      dir.write(settings.precipFile, in.precip);
      dir.write(settings.tmeanFile, in.temp);
      ScriptedHost refHost;
      refHost.settingsValue = settings;
      refHost.stopAfterRows = stopAfter;
      RunState refState;
      RunResult ref = runOnce(refState, refHost, dir, Case{0, 0, 0});
      ASSERT_EQ(ref.outcome, RunOutcome::Stopped);
      ASSERT_EQ(test::tableLines(ref.table).size(), static_cast<std::size_t>(stopAfter) + 1);
      for (const Case& c : kCases) {
        ScriptedHost host;
        host.settingsValue = settings;
        host.stopAfterRows = stopAfter;
        RunState state;
        expectSame(ref, runOnce(state, host, dir, c),
                   "stop after " + std::to_string(stopAfter) + (carryover ? ", carry-over" : ""));
      }
    }
  }
}

// A standard output that fails once it has taken `limit` bytes.
class FailingBuf : public std::streambuf {
 public:
  explicit FailingBuf(std::size_t limit) : limit_(limit) {}

 protected:
  std::streamsize xsputn(const char*, std::streamsize n) override {
    if (taken_ + static_cast<std::size_t>(n) > limit_) return 0;
    taken_ += static_cast<std::size_t>(n);
    return n;
  }
  int overflow(int c) override { return xsputn(nullptr, 1) == 1 ? c : traits_type::eof(); }

 private:
  std::size_t limit_;
  std::size_t taken_ = 0;
};

class FailingOutputHost : public ScriptedHost {
 public:
  explicit FailingOutputHost(std::size_t limit) : buf_(limit), out_(&buf_) {}
  std::ostream* standardOutput() override { return &out_; }

 private:
  FailingBuf buf_;
  std::ostream out_;
};

TEST(ParallelRun, WriteFailureEndsTheRunWithTheSameMessage) {
  InputMaker maker(5);
  Inputs in = maker.make(3000, false, false);
  TempDir dir;
  Settings settings = settingsFor(false, false, 6);
  settings.outputFile = "-";
  dir.write(settings.precipFile, in.precip);
  dir.write(settings.tmeanFile, in.temp);
  auto run = [&](int threads) {
    FailingOutputHost host(100000);
    host.settingsValue = settings;
    host.folders = {dir.path().string(), dir.path().string()};
    RunState state;
    ParallelOptions o;
    o.threads = threads;
    o.batchRecords = 64;
    RunOutcome outcome = runParallel(state, host, o);
    return std::make_pair(outcome, host.messages);
  };
  auto ref = run(1);
  ASSERT_EQ(ref.first, RunOutcome::OutputFailed);
  ASSERT_EQ(ref.second, std::vector<std::string>{"The output file - could not be written."});
  EXPECT_EQ(run(2), ref);
  EXPECT_EQ(run(3), ref);
  // Nothing but the two inputs is left in the folder.
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 2u);
}

TEST(ParallelRun, ReadErrorFailsTheRunLikeMainLoop) {
  InputMaker maker(6);
  Inputs in = maker.make(50, false, false);
  TempDir dir;
  dir.write("p.txt", in.precip);
  dir.write("t.txt", in.temp);
  // /proc/self/mem is a regular file whose first page cannot be read.
  for (bool precipUnreadable : {true, false}) {
    Settings settings = settingsFor(false, false, 6);
    settings.precipFile = precipUnreadable ? "/proc/self/mem" : (dir / "p.txt").string();
    settings.tmeanFile = precipUnreadable ? (dir / "t.txt").string() : "/proc/self/mem";
    settings.outputFile = (dir / "out.txt").string();
    for (int threads : {1, 2, 3}) {
      ScriptedHost host;
      host.settingsValue = settings;
      host.folders = {std::string(), std::string()};
      RunState state;
      ParallelOptions o;
      o.threads = threads;
      o.batchRecords = 4;
      EXPECT_EQ(runParallel(state, host, o), RunOutcome::OutputFailed) << threads;
      EXPECT_EQ(host.messages, std::vector<std::string>{"The file mem could not be read."});
      EXPECT_FALSE(std::filesystem::exists(dir / "out.txt"));
    }
  }
}

TEST(ParallelRun, RefusedRunCreatesNothing) {
  TempDir dir;
  ScriptedHost host;
  host.settingsValue = settingsFor(false, false, 6);
  host.folders = {dir.path().string(), dir.path().string()};
  RunState state;
  ParallelOptions o;
  o.threads = 2;
  EXPECT_EQ(runParallel(state, host, o), RunOutcome::NotStarted);
  EXPECT_EQ(host.messages, (std::vector<std::string>{"The file allsites_prec.txt doesn't exist.",
                                                     "The file allsites_temp.txt doesn't exist."}));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

class CliThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    InputMaker maker(9);
    Inputs in = maker.make(500, false, true);
    dir_.write("t.txt", in.temp);
    dir_.write("p.txt", in.precip);
  }
  int cli(std::vector<std::string> extra, const std::string& output, const std::atomic<bool>* interrupted = nullptr) {
    std::vector<std::string> args = {"-t", (dir_ / "t.txt").string(), "-p", (dir_ / "p.txt").string(), "-o",
                                     (dir_ / output).string(), "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::ostringstream out, err;
    CliEnvironment env;
    env.interrupted = interrupted;
    int status = runCli(args, out, err, env);
    err_ = err.str();
    return status;
  }
  TempDir dir_;
  std::string err_;
};

TEST_F(CliThreads, TableIsTheSameForEveryThreadCount) {
  for (const char* carry : {"", "--carryover"}) {
    std::vector<std::string> extra;
    if (*carry) extra.emplace_back(carry);
    extra.insert(extra.end(), {"--threads", "1"});
    ASSERT_EQ(cli(extra, "one.txt"), kExitOk) << err_;
    const std::string one = test::readFile(dir_ / "one.txt");
    for (const char* n : {"2", "3", "8"}) {
      extra.back() = n;
      ASSERT_EQ(cli(extra, std::string("n") + n + ".txt"), kExitOk) << err_;
      EXPECT_TRUE(test::readFile(dir_ / (std::string("n") + n + ".txt")) == one) << n << " threads " << carry;
    }
    // The default, one thread per core.
    extra.resize(extra.size() - 2);
    ASSERT_EQ(cli(extra, "default.txt"), kExitOk) << err_;
    EXPECT_TRUE(test::readFile(dir_ / "default.txt") == one);
    // Standard output takes the same bytes.
    for (const char* n : {"1", "3"}) {
      std::vector<std::string> args = {"-t", (dir_ / "t.txt").string(), "-p", (dir_ / "p.txt").string(), "-o", "-",
                                       "--quiet", "--threads", n};
      if (*carry) args.emplace_back(carry);
      std::ostringstream out, err;
      ASSERT_EQ(runCli(args, out, err), kExitOk) << err.str();
      EXPECT_TRUE(out.str() == one) << "standard output, " << n << " threads " << carry;
    }
  }
}

TEST_F(CliThreads, RejectsBadCountsAndStopsOnInterrupt) {
  for (const char* bad : {"0", "-1", "1.5", "x", "257"}) {
    EXPECT_EQ(cli({"--threads", bad}, "bad.txt"), kExitUsage) << bad;
    EXPECT_NE(err_.find("--threads must be a whole number from 1 to 256"), std::string::npos) << err_;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "bad.txt"));

  // Interrupted before the first record: the header alone, exit 130.
  std::atomic<bool> interrupted{true};
  for (const char* n : {"1", "2"}) {
    EXPECT_EQ(cli({"--threads", n}, "stopped.txt", &interrupted), kExitInterrupted);
    EXPECT_EQ(test::tableLines(test::readFile(dir_ / "stopped.txt")).size(), 1u);
  }

  std::ostringstream out, err;
  EXPECT_EQ(runCli({"--help"}, out, err), kExitOk);
  EXPECT_NE(out.str().find("--threads N"), std::string::npos);
}

}  // namespace
}  // namespace vadoset
