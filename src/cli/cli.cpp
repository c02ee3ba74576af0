#include "cli/cli.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string_view>
#include <thread>

#include "platform/host.h"
#include "platform/text.h"
#include "run/driver.h"
#include "run/parallel_run.h"
#include "run/run_state.h"

#ifndef VADOSET_VERSION
#define VADOSET_VERSION "unknown"
#endif

namespace vadoset {

namespace {

constexpr std::string_view kUsage =
    "Usage: vadoset-cli --temperature FILE --precipitation FILE --output FILE [options]\n"
    "\n"
    "Computes the annual climatic water balance (modified Thornthwaite method of\n"
    "Willmott et al.) of every record of the two input files, one row per record.\n"
    "\n"
    "  -t, --temperature FILE     monthly mean temperatures (first line is a header)\n"
    "  -p, --precipitation FILE   monthly precipitation totals (first line is a header)\n"
    "  -o, --output FILE          the output table; - writes it to standard output\n"
    "      --format tab|hcn       input format: tab delimited or HCN data file (default tab)\n"
    "      --latitude DEGREES     latitude of every record in the HCN format (default 44.47)\n"
    "      --field-capacity MM    field capacity of the soil (default 100)\n"
    "      --function A..H        declining availability function (default G)\n"
    "      --carryover            carry soil water over from December of one record\n"
    "                             to January of the next\n"
    "      --threads N            computing threads (default: the number of cores);\n"
    "                             the table is the same for every N\n"
    "      --quiet                no progress display\n"
    "      --help                 show this help and exit\n"
    "      --version              show the version and exit\n"
    "\n"
    "Exit status: 0 when the table was written, 1 when the run could not start or\n"
    "the table could not be written, 2 for a usage error, 130 when interrupted\n"
    "(the rows completed so far are kept). SIGTERM and SIGHUP end the run without\n"
    "a new table: an earlier file at the output path is kept.\n";

int defaultThreads() {
  unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}

struct Options {
  Settings settings;
  int threads = defaultThreads();
  bool quiet = false;
  bool help = false;
  bool version = false;
};

struct UsageError {
  std::string message;
};

std::optional<UsageError> parseArgs(const std::vector<std::string>& args, Options& o) {
  bool haveT = false, haveP = false, haveO = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::optional<std::string> inlineValue;
    if (arg.rfind("--", 0) == 0) {
      std::size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        inlineValue = arg.substr(eq + 1);
        arg = arg.substr(0, eq);
      }
    }
    auto value = [&](std::string& into) -> std::optional<UsageError> {
      if (inlineValue) {
        into = *inlineValue;
        return std::nullopt;
      }
      if (i + 1 >= args.size()) return UsageError{"option " + arg + " needs a value"};
      into = args[++i];
      return std::nullopt;
    };
    auto flag = [&](bool& into) -> std::optional<UsageError> {
      if (inlineValue) return UsageError{"option " + arg + " takes no value"};
      into = true;
      return std::nullopt;
    };
    std::optional<UsageError> err;
    if (arg == "-t" || arg == "--temperature") {
      err = value(o.settings.tmeanFile);
      haveT = true;
    } else if (arg == "-p" || arg == "--precipitation") {
      err = value(o.settings.precipFile);
      haveP = true;
    } else if (arg == "-o" || arg == "--output") {
      err = value(o.settings.outputFile);
      haveO = true;
    } else if (arg == "--format") {
      std::string f;
      err = value(f);
      if (!err) {
        if (f == "tab")
          o.settings.format = 0;
        else if (f == "hcn")
          o.settings.format = 1;
        else
          err = UsageError{"--format must be tab or hcn, not '" + f + "'"};
      }
    } else if (arg == "--latitude") {
      err = value(o.settings.latText);
    } else if (arg == "--field-capacity") {
      err = value(o.settings.fcText);
    } else if (arg == "--function") {
      std::string f;
      err = value(f);
      if (!err) {
        if (f.size() == 1 && f[0] >= 'A' && f[0] <= 'H')
          o.settings.beta = f[0] - 'A';
        else
          err = UsageError{"--function must be one letter from A to H, not '" + f + "'"};
      }
    } else if (arg == "--threads") {
      std::string n;
      err = value(n);
      if (!err) {
        std::optional<double> v = ParseNumber(n);
        if (v && *v >= 1.0 && *v <= 256.0 && *v == static_cast<double>(static_cast<int>(*v)))
          o.threads = static_cast<int>(*v);
        else
          err = UsageError{"--threads must be a whole number from 1 to 256, not '" + n + "'"};
      }
    } else if (arg == "--carryover") {
      err = flag(o.settings.carryover);
    } else if (arg == "--quiet") {
      err = flag(o.quiet);
    } else if (arg == "--help" || arg == "-h") {
      err = flag(o.help);
    } else if (arg == "--version") {
      err = flag(o.version);
    } else {
      err = UsageError{"unknown argument '" + arg + "'"};
    }
    if (err) return err;
  }
  if (o.help || o.version) return std::nullopt;
  if (!haveT) return UsageError{"--temperature is required"};
  if (!haveP) return UsageError{"--precipitation is required"};
  if (!haveO) return UsageError{"--output is required"};
  return std::nullopt;
}

// The command line's side of a run: settings from the options, file names
// used as they stand (no folder dialogs), messages on stderr.
class CliHost final : public Host {
 public:
  CliHost(const Options& o, std::ostream& out, std::ostream& err, const CliEnvironment& env)
      : options_(o), out_(out), err_(err), env_(env) {}

  Settings settings() override { return options_.settings; }
  std::optional<std::string> selectFolder(std::string_view, std::string_view) override { return std::string(); }
  void showMessage(std::string_view text) override {
    endProgressLine();
    err_ << escapeControl(text) << '\n';
  }
  void setCounter(std::string_view) override {}
  void progress(const Progress& p) override {
    if (!showProgress()) return;
    last_ = p;
    // Reading the clock costs a few nanoseconds; drawing only every 200 ms.
    auto now = std::chrono::steady_clock::now();
    if (now - lastDraw_ < std::chrono::milliseconds(200)) return;
    lastDraw_ = now;
    draw(now);
  }
  bool stopRequested() override {
    return (env_.interrupted != nullptr && env_.interrupted->load()) || terminatedBy() != 0;
  }
  bool keepRowsWhenStopped() override { return terminatedBy() == 0; }
  int terminatedBy() const { return env_.terminated != nullptr ? env_.terminated->load() : 0; }
  std::ostream* standardOutput() override { return &out_; }

  void finish() {
    if (showProgress() && last_.rows > 0) draw(std::chrono::steady_clock::now());
    endProgressLine();
  }

 private:
  bool showProgress() const { return env_.progressLine && !options_.quiet; }
  void draw(std::chrono::steady_clock::time_point now) {
    double secs = std::chrono::duration<double>(now - start_).count();
    double rate = secs > 0 ? static_cast<double>(last_.rows) / secs : 0.0;
    double share = last_.precipBytesTotal > 0 ? 100.0 * static_cast<double>(last_.precipBytesRead) /
                                                    static_cast<double>(last_.precipBytesTotal)
                                              : 100.0;
    if (share > 100.0) share = 100.0;
    char line[160];
    std::snprintf(line, sizeof line, "\r%lld rows, %.0f records/s, %.0f%% of the precipitation file read",
                  static_cast<long long>(last_.rows), rate, share);
    err_ << line << std::flush;
    lineOpen_ = true;
  }
  void endProgressLine() {
    if (lineOpen_) err_ << '\n';
    lineOpen_ = false;
  }

  const Options& options_;
  std::ostream& out_;
  std::ostream& err_;
  const CliEnvironment& env_;
  Progress last_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point lastDraw_{};
  bool lineOpen_ = false;
};

// Lines past the longest kept were cut; the table has their first 16 MiB.
void warnAboutCutLines(const RunState& state, const Options& options, std::ostream& err) {
  if (options.quiet) return;
  const std::pair<const TextInputStream*, const std::string*> inputs[] = {
      {state.precip_data.get(), &options.settings.precipFile}, {state.tmean_data.get(), &options.settings.tmeanFile}};
  for (const auto& [in, name] : inputs) {
    if (in == nullptr || in->linesCut() == 0) continue;
    err << escapeControl("Warning: " + std::to_string(in->linesCut()) + " line(s) of " +
                         std::filesystem::path(*name).filename().string() + " were longer than " +
                         std::to_string(TextInputStream::kMaxLineBytes >> 20) + " MiB and were cut.")
        << '\n';
  }
}

}  // namespace

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliEnvironment& env) {
  Options options;
  if (std::optional<UsageError> e = parseArgs(args, options)) {
    err << "vadoset-cli: " << escapeControl(e->message) << "\n"
        << "Try 'vadoset-cli --help' for more information.\n";
    return kExitUsage;
  }
  if (options.help) {
    out << kUsage;
    return kExitOk;
  }
  if (options.version) {
    out << "vadoset-cli " << VADOSET_VERSION << "\n";
    return kExitOk;
  }

  CliHost host(options, out, err, env);
  RunState state;  // each invocation starts with no carried soil water
  ParallelOptions parallel;
  parallel.threads = options.threads;
  RunOutcome outcome = RunOutcome::OutputFailed;
  try {
    outcome = runParallel(state, host, parallel);
  } catch (const std::exception& e) {
    // Unwinding drops the temporary table; a crash would leave it behind.
    host.showMessage(std::string("vadoset-cli: the run stopped because of an error: ") + e.what());
  }
  host.finish();
  if (outcome == RunOutcome::Stopped && host.terminatedBy() != 0) return 128 + host.terminatedBy();
  if (outcome == RunOutcome::Completed || outcome == RunOutcome::Stopped) warnAboutCutLines(state, options, err);
  switch (outcome) {
    case RunOutcome::Completed: return kExitOk;
    case RunOutcome::Stopped: return kExitInterrupted;
    default: return kExitFailed;
  }
}

}  // namespace vadoset
