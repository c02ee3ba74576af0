#include "cli/cli.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <ostream>
#include <string_view>
#include <thread>

#include "input/formats.h"
#include "output/columns.h"
#include "platform/text.h"
#include "platform/text_stream.h"
#include "run/driver.h"
#include "run/parallel_run.h"
#include "run/run_report.h"
#include "state/host.h"
#include "state/run_state.h"

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
    "The model is written down in docs/model.md.\n"
    "\n"
    "  -t, --temperature FILE     monthly mean temperatures (first line is a header)\n"
    "  -p, --precipitation FILE   monthly precipitation totals (first line is a header)\n"
    "  -o, --output FILE          the output table; - writes it to standard output\n"
    "      --format FORMAT        input format: @FORMATS@ (default tab)\n"
    "      --latitude DEGREES     latitude of every record in the HCN format (default 44.47)\n"
    "      --field-capacity MM    field capacity of the soil (default 100)\n"
    "      --field-capacity-field N\n"
    "                             tab format: field N of each precipitation line holds\n"
    "                             the record's own field capacity (CSV: a column\n"
    "                             named field_capacity)\n"
    "      --function A..H        declining availability function (default G)\n"
    "      --carryover            carry soil water over from December of one record\n"
    "                             to January of the next\n"
    "      --keep-precipitation-fraction\n"
    "                             use precipitation with its decimals, not whole mm\n"
    "      --columns LIST         column groups after the identifier, in order, from\n"
    "                             @COLUMNS@ (default classic)\n"
    "      --line-ending cr|lf|crlf\n"
    "                             the table's line ends (default cr)\n"
    "      --null-report FILE     why each null row is null, one line each\n"
    "      --strict               any input warning fails the run; no table is written\n"
    "      --threads N            computing threads (default: the number of cores);\n"
    "                             the table is the same for every N\n"
    "      --quiet                no progress display, warnings or summary\n"
    "      --help                 show this help and exit\n"
    "      --version              show the version and exit\n"
    "\n"
    "Exit status: 0 when the table was written, 1 when the run could not start or\n"
    "the table could not be written, 2 for a usage error, 130 when interrupted\n"
    "(the rows completed so far are kept). SIGTERM and SIGHUP end the run without\n"
    "a new table: an earlier file at the output path is kept.\n";

// The column groups' names, from their list.
std::string columnNames(std::string_view separator) {
  std::string names;
  for (const ColumnGroupDescription& g : columnGroups())
    names += (names.empty() ? "" : std::string(separator)) + std::string(g.cliName);
  return names;
}

// The usage text with the format and column names of the tables.
std::string usageText() {
  std::string text(kUsage);
  std::string formats;
  for (const InputFormatDescription& d : inputFormats())
    formats += (formats.empty() ? "" : "|") + std::string(d.cliName);
  text.replace(text.find("@FORMATS@"), 9, formats);
  text.replace(text.find("@COLUMNS@"), 9, columnNames(","));
  return text;
}

int defaultThreads() {
  unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}

struct Options {
  Settings settings;
  std::string nullReport;
  bool latitudeGiven = false;
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
        if (const InputFormatDescription* format = findFormat(f)) {
          o.settings.format = format->format;
        } else {
          std::string names;
          for (const InputFormatDescription& d : inputFormats()) {
            if (!names.empty()) names += d.format == inputFormats().back().format ? " or " : ", ";
            names += d.cliName;
          }
          err = UsageError{"--format must be " + names + ", not '" + f + "'"};
        }
      }
    } else if (arg == "--latitude") {
      err = value(o.settings.latText);
      o.latitudeGiven = true;
    } else if (arg == "--field-capacity-field") {
      std::string n;
      err = value(n);
      if (!err) {
        // Fields 1 to 14 hold the identifier, the latitude and the months.
        std::optional<double> v = ParseNumber(n);
        if (v && *v >= 15.0 && *v <= 100000.0 && *v == static_cast<double>(static_cast<int>(*v)))
          o.settings.fieldCapacityField = static_cast<int>(*v);
        else
          err = UsageError{"--field-capacity-field must be a field number after the months (15 or more), not '" + n +
                           "'"};
      }
    } else if (arg == "--columns") {
      std::string list;
      err = value(list);
      if (!err) {
        o.settings.columns.clear();
        std::size_t start = 0;
        while (!err && start <= list.size()) {
          std::size_t comma = list.find(',', start);
          if (comma == std::string::npos) comma = list.size();
          std::string name = list.substr(start, comma - start);
          if (const ColumnGroupDescription* g = findColumnGroup(name))
            o.settings.columns.push_back(g->group);
          else
            err = UsageError{"--columns takes groups from " + columnNames(", ") + ", not '" + name + "'"};
          start = comma + 1;
        }
      }
    } else if (arg == "--line-ending") {
      std::string e;
      err = value(e);
      if (!err) {
        if (e == "cr")
          o.settings.lineEnding = LineEnding::Cr;
        else if (e == "lf")
          o.settings.lineEnding = LineEnding::Lf;
        else if (e == "crlf")
          o.settings.lineEnding = LineEnding::CrLf;
        else
          err = UsageError{"--line-ending must be cr, lf or crlf, not '" + e + "'"};
      }
    } else if (arg == "--keep-precipitation-fraction") {
      err = flag(o.settings.keepPrecipitationFraction);
    } else if (arg == "--null-report") {
      err = value(o.nullReport);
    } else if (arg == "--strict") {
      err = flag(o.settings.strict);
    } else if (arg == "--field-capacity") {
      err = value(o.settings.fcText);
    } else if (arg == "--function") {
      std::string f;
      err = value(f);
      if (!err) {
        if (std::optional<AvailabilityFunction> function = availabilityFunction(f))
          o.settings.function = *function;
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
    last_ = p;
    if (!showProgress()) return;
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
  void warning(std::string_view text) override {
    report_.warning(text);
    if (options_.quiet) return;
    endProgressLine();
    err_ << "vadoset-cli: warning: " << escapeControl(text) << '\n';
  }
  void nullRow(const NullRow& n) override {
    report_.nullRow(n);
    if (nullReport_ != nullptr)
      *nullReport_ << n.line << '\t' << escapeControl(n.id) << '\t' << n.reasonCode << '\t' << n.reasonText() << '\n';
  }

  void finish() {
    if (showProgress() && last_.rows > 0) draw(std::chrono::steady_clock::now());
    endProgressLine();
  }

  void setNullReport(std::ostream* report) { nullReport_ = report; }

  // What the run did, after it: rows, null rows by reason, where the table
  // went, time and speed.
  void summary(RunOutcome outcome) {
    if (options_.quiet) return;
    report_.progress(last_.rows);
    const std::string where =
        options_.settings.outputFile == "-" ? "standard output" : escapeControl(options_.settings.outputFile);
    const std::string text = report_.outcomeText(outcome, where);
    if (text.empty()) return;
    err_ << "vadoset-cli: " << text << ".\n";
    if (report_.nullRows() > 0) {
      err_ << "vadoset-cli: " << report_.nullsText() << "\n";
      for (const RunReport::NullCount& c : report_.nulls())
        err_ << "  the first " << c.code << ": line " << c.firstLine << ", '" << escapeControl(c.firstId)
             << "': " << escapeControl(c.firstText) << "\n";
      if (options_.nullReport.empty()) err_ << "  (--null-report FILE lists every one)\n";
    }
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

  RunReport report_;
  std::ostream* nullReport_ = nullptr;
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
}  // namespace

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliEnvironment& env) {
  Options options;
  if (std::optional<UsageError> e = parseArgs(args, options)) {
    err << "vadoset-cli: " << escapeControl(e->message) << "\n"
        << "Try 'vadoset-cli --help' for more information.\n";
    return kExitUsage;
  }
  if (options.help) {
    out << usageText();
    return kExitOk;
  }
  if (options.version) {
    out << "vadoset-cli " << VADOSET_VERSION << "\n";
    return kExitOk;
  }

  CliHost host(options, out, err, env);
  if (options.latitudeGiven && !formatDescription(options.settings.format).usesLatitudeSetting) {
    host.warning("--latitude is only used with --format hcn: the records' own latitudes are used.");
    if (options.settings.strict) {
      err << "The table was not written: the input checks gave 1 warning and checking is strict.\n";
      return kExitFailed;
    }
  }
  std::ofstream report;
  if (!options.nullReport.empty()) {
    errno = 0;
    report.open(options.nullReport, std::ios::binary | std::ios::trunc);
    if (!report) {
      err << withCause("The null report " + escapeControl(options.nullReport) + " could not be written.", errno)
          << "\n";
      return kExitFailed;
    }
    report << "line\tidentifier\tcode\treason\n";
    host.setNullReport(&report);
  }
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
  if (report.is_open()) {
    errno = 0;
    report.close();
    if (!report) {
      err << withCause("The null report " + escapeControl(options.nullReport) + " could not be written.", errno)
          << "\n";
      return kExitFailed;
    }
  }
  // SIGTERM and SIGHUP keep the earlier table: no summary of rows that are
  // not there.
  if (outcome == RunOutcome::Stopped && host.terminatedBy() != 0) return 128 + host.terminatedBy();
  host.summary(outcome);
  switch (outcome) {
    case RunOutcome::Completed:
      return kExitOk;
    case RunOutcome::Stopped:
      return kExitInterrupted;
    default:
      return kExitFailed;
  }
}

}  // namespace vadoset
