#include "cli/cli.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <optional>
#include <ostream>
#include <span>
#include <string_view>
#include <thread>

#include "input/formats.h"
#include "output/columns.h"
#include "platform/text.h"
#include "run/run.h"
#include "run/run_report.h"

#ifndef VADOSET_VERSION
#define VADOSET_VERSION "unknown"
#endif

namespace vadoset {

namespace {

int defaultThreads() {
  unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}

struct Options {
  Settings settings;
  bool latitudeGiven = false;
  bool lineEndingGiven = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
  bool haveTemperature = false, havePrecipitation = false, haveOutput = false;
};

// The names of a table's entries, "a, b or c".
template <typename Range, typename Name>
std::string namesOf(const Range& entries, Name name, std::string_view separator, std::string_view last) {
  std::string names;
  std::size_t i = 0;
  const std::size_t n = std::size(entries);
  for (const auto& e : entries) {
    if (i > 0) names += i + 1 == n ? last : separator;
    names += name(e);
    ++i;
  }
  return names;
}

std::string formatNames(std::string_view separator, std::string_view last) {
  return namesOf(
      inputFormats(), [](const InputFormatDescription& d) { return std::string(d.cliName); }, separator, last);
}

std::string columnNames(std::string_view separator) {
  return namesOf(
      columnGroups(), [](const ColumnGroupDescription& g) { return std::string(g.cliName); }, separator, separator);
}

// A whole number from `low` to `high`, or nothing.
std::optional<int> wholeNumber(std::string_view text, double low, double high) {
  std::optional<double> v = ParseNumber(text);
  if (v && *v >= low && *v <= high && *v == static_cast<double>(static_cast<int>(*v))) return static_cast<int>(*v);
  return std::nullopt;
}

// One option of the command line: its names, its value (none for a flag),
// its help, and what it does with the value. Parsing, checking and --help
// all come from the table below.
struct OptionRow {
  std::string_view shortName;  // "-t", or empty
  std::string_view longName;   // "--temperature"
  std::string_view valueName;  // "FILE"; empty for a flag
  std::string_view help;       // lines of help; @FORMATS@ and @COLUMNS@ are filled in
  // Takes the value (empty for a flag); gives the usage error, if any.
  std::optional<std::string> (*apply)(Options& o, const std::string& value);
};

using Apply = std::optional<std::string>;

const OptionRow kOptions[] = {
    {"-t", "--temperature", "FILE", "monthly mean temperatures (first line is a header)",
     [](Options& o, const std::string& v) -> Apply {
       o.settings.tmeanFile = v;
       o.haveTemperature = true;
       return {};
     }},
    {"-p", "--precipitation", "FILE", "monthly precipitation totals (first line is a header)",
     [](Options& o, const std::string& v) -> Apply {
       o.settings.precipFile = v;
       o.havePrecipitation = true;
       return {};
     }},
    {"-o", "--output", "FILE", "the output table; - writes it to standard output",
     [](Options& o, const std::string& v) -> Apply {
       o.settings.outputFile = v;
       o.haveOutput = true;
       return {};
     }},
    {"", "--format", "FORMAT", "input format: @FORMATS@ (default tab)",
     [](Options& o, const std::string& v) -> Apply {
       const InputFormatDescription* format = findFormat(v);
       if (format == nullptr) return "--format must be " + formatNames(", ", " or ") + ", not '" + v + "'";
       o.settings.format = format->format;
       return {};
     }},
    {"", "--latitude", "DEGREES", "latitude of every record in the HCN format (default 44.47,\nwith a warning)",
     [](Options& o, const std::string& v) -> Apply {
       o.settings.latText = v;
       o.latitudeGiven = true;
       return {};
     }},
    {"", "--field-capacity", "MM", "field capacity of the soil (default 100)",
     [](Options& o, const std::string& v) -> Apply {
       o.settings.fcText = v;
       return {};
     }},
    {"", "--field-capacity-field", "N",
     "tab format: field N of each precipitation line holds\nthe record's own field capacity (CSV: a column\nnamed "
     "field_capacity)",
     [](Options& o, const std::string& v) -> Apply {
       // Fields 1 to 14 hold the identifier, the latitude and the months.
       std::optional<int> n = wholeNumber(v, 15.0, 100000.0);
       if (!n) return "--field-capacity-field must be a field number after the months (15 or more), not '" + v + "'";
       o.settings.fieldCapacityField = *n;
       return {};
     }},
    {"", "--function", "A..H", "declining availability function (default G)",
     [](Options& o, const std::string& v) -> Apply {
       std::optional<AvailabilityFunction> function = availabilityFunction(v);
       if (!function) return "--function must be one letter from A to H, not '" + v + "'";
       o.settings.function = *function;
       return {};
     }},
    {"", "--carryover", "", "carry soil water over from December of one record\nto January of the next",
     [](Options& o, const std::string&) -> Apply {
       o.settings.carryover = true;
       return {};
     }},
    {"", "--keep-precipitation-fraction", "", "use precipitation with its decimals, not whole mm",
     [](Options& o, const std::string&) -> Apply {
       o.settings.keepPrecipitationFraction = true;
       return {};
     }},
    {"", "--columns", "LIST", "column groups after the identifier, in order, from\n@COLUMNS@ (default classic)",
     [](Options& o, const std::string& list) -> Apply {
       o.settings.columns.clear();
       for (std::size_t start = 0; start <= list.size();) {
         std::size_t comma = list.find(',', start);
         if (comma == std::string::npos) comma = list.size();
         const std::string name = list.substr(start, comma - start);
         const ColumnGroupDescription* g = findColumnGroup(name);
         if (g == nullptr) return "--columns takes groups from " + columnNames(", ") + ", not '" + name + "'";
         o.settings.columns.push_back(g->group);
         start = comma + 1;
       }
       return {};
     }},
    {"", "--line-ending", "cr|lf|crlf", "the table's line ends (default cr; lf with -o -)",
     [](Options& o, const std::string& v) -> Apply {
       o.lineEndingGiven = true;
       static constexpr std::pair<std::string_view, LineEnding> kEndings[] = {
           {"cr", LineEnding::Cr}, {"lf", LineEnding::Lf}, {"crlf", LineEnding::CrLf}};
       for (auto [name, ending] : kEndings) {
         if (v == name) {
           o.settings.lineEnding = ending;
           return {};
         }
       }
       return "--line-ending must be cr, lf or crlf, not '" + v + "'";
     }},
    {"", "--null-report", "FILE", "why each null row is null, one line each; - writes it\nto standard output",
     [](Options& o, const std::string& v) -> Apply {
       o.settings.nullReportFile = v;
       return {};
     }},
    {"", "--strict", "", "any input warning fails the run; no table is written",
     [](Options& o, const std::string&) -> Apply {
       o.settings.strict = true;
       return {};
     }},
    {"", "--threads", "N", "computing threads (default: the number of cores);\nthe table is the same for every N",
     [](Options& o, const std::string& v) -> Apply {
       std::optional<int> n = wholeNumber(v, 1.0, 256.0);
       if (!n) return "--threads must be a whole number from 1 to 256, not '" + v + "'";
       o.settings.threads = *n;
       return {};
     }},
    {"", "--quiet", "", "no progress display, warnings or summary",
     [](Options& o, const std::string&) -> Apply {
       o.quiet = true;
       return {};
     }},
    {"-h", "--help", "", "show this help and exit",
     [](Options& o, const std::string&) -> Apply {
       o.help = true;
       return {};
     }},
    {"", "--version", "", "show the version and exit",
     [](Options& o, const std::string&) -> Apply {
       o.version = true;
       return {};
     }},
};

const OptionRow* findOption(std::string_view name) {
  for (const OptionRow& row : kOptions)
    if (name == row.longName || (!row.shortName.empty() && name == row.shortName)) return &row;
  return nullptr;
}

// The usage text, with the options from their table.
std::string usageText() {
  std::string text =
      "Usage: vadoset-cli --temperature FILE --precipitation FILE --output FILE [options]\n"
      "\n"
      "Computes the annual climatic water balance (modified Thornthwaite method of\n"
      "Willmott et al.) of every record of the two input files, one row per record.\n"
      "The model is written down in docs/model.md.\n"
      "\n";
  constexpr std::size_t kHelpColumn = 29;
  for (const OptionRow& row : kOptions) {
    std::string line = "  ";
    if (row.shortName.empty()) {
      line += "    ";
    } else {
      line += row.shortName;
      line += ", ";
    }
    line += row.longName;
    if (!row.valueName.empty()) {
      line += ' ';
      line += row.valueName;
    }
    std::string help(row.help);
    for (auto [marker, value] : {std::pair{std::string_view("@FORMATS@"), formatNames("|", "|")},
                                 std::pair{std::string_view("@COLUMNS@"), columnNames(",")}})
      if (std::size_t at = help.find(marker); at != std::string::npos) help.replace(at, marker.size(), value);
    // A long option name takes a line of its own; help lines line up.
    if (line.size() + 1 > kHelpColumn) {
      line += '\n';
      line.append(kHelpColumn, ' ');
    } else {
      line.append(kHelpColumn - line.size(), ' ');
    }
    for (char c : help) {
      line += c;
      if (c == '\n') line.append(kHelpColumn, ' ');
    }
    text += line;
    text += '\n';
  }
  text +=
      "\n"
      "Exit status: 0 when the table was written, 1 when the run could not start or\n"
      "the table could not be written, 2 for a usage error, 130 when interrupted\n"
      "(the rows completed so far are kept). SIGTERM and SIGHUP end the run without\n"
      "a new table: an earlier file at the output path is kept.\n";
  return text;
}

// Reads the arguments into the options; gives the usage error, if any.
std::optional<std::string> parseArgs(const std::vector<std::string>& args, Options& o) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::optional<std::string> inlineValue;
    if (arg.rfind("--", 0) == 0) {
      if (std::size_t eq = arg.find('='); eq != std::string::npos) {
        inlineValue = arg.substr(eq + 1);
        arg.resize(eq);
      }
    }
    const OptionRow* row = findOption(arg);
    if (row == nullptr) return "unknown argument '" + arg + "'";
    std::string value;
    if (row->valueName.empty()) {
      if (inlineValue) return "option " + arg + " takes no value";
    } else if (inlineValue) {
      value = *inlineValue;
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return "option " + arg + " needs a value";
    }
    if (std::optional<std::string> error = row->apply(o, value)) return error;
  }
  if (o.help || o.version) return std::nullopt;
  if (!o.haveTemperature) return "--temperature is required";
  if (!o.havePrecipitation) return "--precipitation is required";
  if (!o.haveOutput) return "--output is required";
  // A table on standard output goes to other programs (wc, grep, sort),
  // which read lines that end with LF; a file keeps the table's CR.
  if (o.settings.outputFile == "-" && !o.lineEndingGiven) o.settings.lineEnding = LineEnding::Lf;
  o.settings.latitudeGiven = o.latitudeGiven;
  return std::nullopt;
}

// The command line's side of a run: warnings and messages on stderr, a
// progress line where stderr is a terminal, stops from the signals.
class CliObserver final : public RunObserver {
 public:
  CliObserver(const Options& o, std::ostream& err, const CliEnvironment& env) : options_(o), err_(err), env_(env) {}

  void progress(const Progress& p) override {
    last_ = p;
    report_.progress(p.rows);
    if (!showProgress() || p.rows == 0) return;
    // Reading the clock costs a few nanoseconds; drawing only every 200 ms.
    auto now = std::chrono::steady_clock::now();
    if (now - lastDraw_ < std::chrono::milliseconds(200)) return;
    lastDraw_ = now;
    draw(now);
  }
  StopRequest stopRequested() override {
    if (terminatedBy() != 0) return StopRequest::DropTable;
    if (env_.interrupted != nullptr && env_.interrupted->load()) return StopRequest::KeepRows;
    return StopRequest::None;
  }
  int terminatedBy() const { return env_.terminated != nullptr ? env_.terminated->load() : 0; }
  void warning(std::string_view text) override {
    report_.warning(text);
    if (options_.quiet) return;
    endProgressLine();
    err_ << "vadoset-cli: warning: " << escapeControl(text) << '\n';
  }
  void nullRow(const NullRow& n) override { report_.nullRow(n); }

  void message(std::string_view text) {
    endProgressLine();
    err_ << escapeControl(text) << '\n';
  }

  void finish() {
    if (showProgress() && last_.rows > 0) draw(std::chrono::steady_clock::now());
    endProgressLine();
  }

  // What the run did, after it: rows, null rows by reason, where the table
  // went, time and speed.
  void summary(const RunResult& result) {
    if (options_.quiet) return;
    const Settings& s = options_.settings;
    const std::string where = s.outputFile == "-" ? "standard output" : escapeControl(s.outputFile);
    const std::string text = report_.outcomeText(result, where);
    if (text.empty()) return;
    err_ << "vadoset-cli: " << text << ".\n";
    if (report_.nullRows() > 0) {
      err_ << "vadoset-cli: " << report_.nullsText() << "\n";
      for (const RunReport::NullCount& c : report_.nulls())
        err_ << "  the first " << c.code << ": line " << c.firstLine << ", '" << escapeControl(c.firstId)
             << "': " << escapeControl(c.firstText) << "\n";
      if (s.nullReportFile.empty()) err_ << "  (--null-report FILE lists every one)\n";
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

  const Options& options_;
  std::ostream& err_;
  const CliEnvironment& env_;
  RunReport report_;
  Progress last_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point lastDraw_{};
  bool lineOpen_ = false;
};

int exitStatus(const RunResult& result, int terminatedBy) {
  switch (result.outcome) {
    case RunOutcome::Completed:
      return kExitOk;
    case RunOutcome::Stopped:
      // SIGTERM and SIGHUP keep the earlier table; the process ends by the signal.
      return terminatedBy != 0 && !result.tableWritten ? 128 + terminatedBy : kExitInterrupted;
    default:
      return kExitFailed;
  }
}

}  // namespace

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliEnvironment& env) {
  Options options;
  options.settings.threads = defaultThreads();
  if (std::optional<std::string> error = parseArgs(args, options)) {
    err << "vadoset-cli: " << escapeControl(*error) << "\n"
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

  CliObserver observer(options, err, env);
  if (options.latitudeGiven && !formatDescription(options.settings.format).usesLatitudeSetting) {
    observer.warning("--latitude is only used with --format hcn: the records' own latitudes are used.");
    if (options.settings.strict) {
      err << "The table was not written: the input checks gave 1 warning and checking is strict.\n";
      return kExitFailed;
    }
  }
  // File names are used as they stand: no folders to ask for.
  RunConfig config = makeRunConfig(options.settings, "", "");
  config.standardOutput = &out;
  config.standardOutputFd = env.standardOutputFd;
  RunResult result;
  try {
    result = runTable(config, observer);
  } catch (const std::exception& e) {
    RunProblem p;
    p.detail = e.what();
    result.outcome = RunOutcome::OutputFailed;
    result.problems.push_back(std::move(p));
  }
  observer.finish();
  for (const RunProblem& p : result.problems) {
    observer.message(p.message(RunProblem::Names::AsGiven));
    if (p.kind == RunProblem::Kind::Header) {
      // The format's own message stays as it is; the line after it says
      // which file and what to do.
      std::vector<std::string> others;
      for (const InputFormatDescription& f : inputFormats())
        if (f.format != options.settings.format) others.emplace_back(f.cliName);
      observer.message(p.headerHint("--format " + namesOf(
                                                      others, [](const std::string& n) { return n; }, ", ", " or "),
                                    RunProblem::Names::AsGiven));
    }
  }
  const int status = exitStatus(result, observer.terminatedBy());
  // SIGTERM and SIGHUP keep the earlier table: no summary of rows that are
  // not there.
  if (status == kExitOk || status == kExitInterrupted) observer.summary(result);
  return status;
}

}  // namespace vadoset
