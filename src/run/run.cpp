#include "run/run.h"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <exception>
#include <tuple>

#include "platform/text.h"
#include "platform/text_stream.h"
#include "run/row_loop.h"

namespace vadoset {

namespace {

std::filesystem::path pathInFolder(std::string_view folder, std::string_view name) {
  if (folder.empty()) return std::filesystem::path(name);
  return std::filesystem::path(folder) / std::filesystem::path(name);
}

// The name messages give a file: the last part of its path, or the path as
// given when that ends with a slash ("newdir/").
std::string shownName(std::string_view name) {
  const std::filesystem::path path(name);
  return path.filename().empty() ? path.string() : path.filename().string();
}

// Whether two paths lead to the same file (through links, hard links
// included): the same device and inode.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  struct stat sa {};
  struct stat sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool isInput(const RunConfig& c, const std::filesystem::path& p) {
  return sameFile(p, c.precipPath) || sameFile(p, c.tmeanPath);
}

// Whether an open file descriptor (standard output) is one of the inputs.
bool fdIsInput(const RunConfig& c, int fd) {
  struct stat so {};
  if (fd < 0 || ::fstat(fd, &so) != 0 || !S_ISREG(so.st_mode)) return false;
  for (const std::filesystem::path* p : {&c.precipPath, &c.tmeanPath}) {
    struct stat si {};
    if (::stat(p->c_str(), &si) == 0 && si.st_dev == so.st_dev && si.st_ino == so.st_ino) return true;
  }
  return false;
}

constexpr std::string_view kStandardOutput = "-";

// "The output file NAME could not be written: CAUSE." and its twin for the
// null report.
RunProblem outputProblem(RunProblem::Kind kind, std::string_view name, int error, std::string cause = {}) {
  RunProblem p;
  p.kind = kind;
  p.path = std::string(name);
  p.error = error;
  p.cause = std::move(cause);
  return p;
}

// Creates one of the run's files beside its target; nothing is at the path
// until the commit. `other` is the run's other output, which it may not be.
std::unique_ptr<TextOutputStream> createOutput(const RunConfig& c, RunProblem::Kind kind, const std::string& name,
                                               const std::filesystem::path& target, const std::filesystem::path* other,
                                               std::optional<RunProblem>& problem) {
  std::error_code ec;
  std::string cause;
  int error = 0;
  std::unique_ptr<TextOutputStream> out;
  if (name.empty())
    cause = "no file name was given";
  else if (std::filesystem::is_directory(target, ec))
    error = EISDIR;
  else if (isInput(c, target))
    cause = "it is one of the input files";
  else if (other != nullptr && (target.lexically_normal() == other->lexically_normal() || sameFile(target, *other)))
    cause = kind == RunProblem::Kind::NullReportUnwritable ? "it is the output table" : "it is the null report";
  else if (target.filename().empty())
    cause = "a file name cannot end with a slash";
  else
    out = TextOutputStream::createFile(target, &error);
  if (!out) {
    if (cause.empty()) cause = fileErrorCause(error);
    // Only the command line has a standard output to offer instead.
    if (error == kNotRegularFile && c.standardOutput != nullptr)
      cause += kind == RunProblem::Kind::OutputUnwritable ? " (to write the table to standard output, use -o -)"
                                                          : " (to write the report to standard output, use -)";
    problem = outputProblem(kind, name, error, cause);
  }
  return out;
}

// write_out: creates the table (and the null report) and writes their
// header lines. Both refuse the run's inputs, and each the other.
std::optional<RunProblem> write_out(const RunConfig& c, const TableLayout& layout, RunOutputs& outputs) {
  std::optional<RunProblem> problem;
  const bool tableToStdout = c.outputName == kStandardOutput && c.standardOutput != nullptr;
  const bool reportToStdout = c.nullReportName == kStandardOutput && c.standardOutput != nullptr;
  const bool wantReport = !c.nullReportName.empty();
  if (tableToStdout) {
    if (fdIsInput(c, c.standardOutputFd))
      return outputProblem(RunProblem::Kind::OutputUnwritable, "standard output", 0, "it is one of the input files");
    outputs.table = TextOutputStream::toStream(*c.standardOutput);
  } else {
    outputs.table = createOutput(c, RunProblem::Kind::OutputUnwritable, c.outputName, c.outputPath,
                                 wantReport && !reportToStdout ? &c.nullReportPath : nullptr, problem);
    if (problem) return problem;
  }
  if (wantReport) {
    if (reportToStdout) {
      if (tableToStdout)
        return outputProblem(RunProblem::Kind::NullReportUnwritable, c.nullReportName, 0,
                             "the table goes to standard output too");
      if (fdIsInput(c, c.standardOutputFd))
        return outputProblem(RunProblem::Kind::NullReportUnwritable, "standard output", 0,
                             "it is one of the input files");
      outputs.report = TextOutputStream::toStream(*c.standardOutput);
    } else {
      outputs.report = createOutput(c, RunProblem::Kind::NullReportUnwritable, c.nullReportName, c.nullReportPath,
                                    tableToStdout ? nullptr : &c.outputPath, problem);
      // Two new names for one place (here/x with here a link to the
      // folder): the report would replace the table.
      if (!problem && outputs.table->sameTarget(*outputs.report))
        problem = outputProblem(RunProblem::Kind::NullReportUnwritable, c.nullReportName, 0, "it is the output table");
      if (problem) {
        outputs.abandon();
        return problem;
      }
    }
    outputs.report->Write("line\tidentifier\tcode\treason\n");
  }
  outputs.table->Write(layout.header());
  return std::nullopt;
}

RunResult failed(RunResult result, RunProblem problem) {
  result.outcome = RunOutcome::OutputFailed;
  result.problems.push_back(std::move(problem));
  return result;
}

}  // namespace

RunConfig makeRunConfig(const Settings& s, std::string_view dataFolder, std::string_view outputFolder) {
  RunConfig c;
  c.precipPath = pathInFolder(dataFolder, s.precipFile);
  c.tmeanPath = pathInFolder(dataFolder, s.tmeanFile);
  c.precipName = s.precipFile;
  c.tmeanName = s.tmeanFile;
  c.format = &formatDescription(s.format);
  c.read.fieldCapacity = detail::fieldCapacityValue(s.fcText);
  c.read.fieldCapacityField = s.fieldCapacityField;
  c.read.keepPrecipitationFraction = s.keepPrecipitationFraction;
  if (c.format->usesLatitudeSetting) {
    const std::optional<double> lat = ParseNumber(s.latText);
    c.read.latitude = lat && *lat >= -90.0 && *lat <= 90.0 ? *lat : NAN;
    c.read.latitudeDefaulted = !s.latitudeGiven;
  }
  c.model.function = s.function;
  c.model.carryover = s.carryover;
  c.columns = s.columns;
  c.lineEnding = s.lineEnding;
  c.outputName = s.outputFile;
  c.outputPath = pathInFolder(outputFolder, s.outputFile);
  c.nullReportName = s.nullReportFile;
  if (!s.nullReportFile.empty()) c.nullReportPath = pathInFolder(outputFolder, s.nullReportFile);
  c.strict = s.strict;
  c.parallel.threads = s.threads < 1 ? 1 : s.threads;
  return c;
}

std::string RunProblem::message(Names names) const {
  using K = Kind;
  const std::string why = cause.empty() ? fileErrorCause(error) : cause;
  // Standard output has no name to give.
  if (names == Names::AsGiven && path == "-" && (kind == K::OutputUnwritable || kind == K::NullReportUnwritable))
    return withCause(std::string(kind == K::OutputUnwritable ? "The table" : "The null report") +
                         " could not be written to standard output.",
                     why);
  const auto shownName = [&](const std::string& p) { return names == Names::AsGiven ? p : vadoset::shownName(p); };
  switch (kind) {
    case K::InputMissing:
      return "The file " + shownName(path) + " doesn't exist.";
    case K::InputUnreadable:
    case K::InputReadFailed:
      return withCause("The file " + shownName(path) + " could not be read.", why);
    case K::InputChanged:
      return "The file " + shownName(path) + " changed while it was read.";
    case K::FieldCapacity:
      return "Field capacity must be a positive number of millimetres.";
    case K::Latitude:
      return "Latitude must be a number of decimal degrees from -90 to 90.";
    case K::Header:
      return detail;
    case K::OutputUnwritable:
      return withCause("The output file " + shownName(path) + " could not be written.", why);
    case K::NullReportUnwritable:
      return withCause("The null report " + path + " could not be written.", why);
    case K::StrictWarnings:
      return "The table was not written: the input checks gave " + detail + " and checking is strict.";
    case K::Failed:
      return "The run stopped because of an error: " + detail;
  }
  return detail;
}

std::string RunProblem::headerHint(std::string_view otherFormats, Names names) const {
  if (kind != Kind::Header) return {};
  return (names == Names::AsGiven ? path : shownName(path)) + ": " + cause + ". Choose " + std::string(otherFormats) +
         ".";
}

std::string NullRow::reasonText() const {
  // The reason, and the text that made a month or the latitude unusable.
  std::string text = nullReasonText(reason, month);
  if (!showField) return text;
  if (lineFields >= 0) {
    const char* unit =
        inColumns ? (lineFields == 1 ? " character; " : " characters; ") : (lineFields == 1 ? " field; " : " fields; ");
    return text + " (the line has " + std::to_string(lineFields) + unit + std::to_string(fieldsNeeded) + " are needed)";
  }
  if (field.empty()) return text + " (an empty field)";
  text += " ('";
  text.append(field.substr(0, 40));
  if (field.size() > 40) text += "...";
  return text + "')";
}

void writeNullReportLine(TextOutputStream& out, const NullRow& n) {
  // A machine-read file: no field may hold a tab or a line break.
  char line[24];
  out.Write(std::string_view(line, static_cast<std::size_t>(std::snprintf(line, sizeof line, "%llu",
                                                                          static_cast<unsigned long long>(n.line)))));
  out.Write('\t');
  out.Write(escapeField(n.id));
  out.Write('\t');
  out.Write(n.reasonCode());
  out.Write('\t');
  out.Write(escapeField(n.reasonText()));
  out.Write('\n');
}

std::optional<RunProblem> RunInputs::readProblem(const RunConfig& c) {
  // The temperature file's end may never be read: both are checked here.
  for (auto [in, name] : {std::pair{precip.get(), &c.precipName}, std::pair{tmean.get(), &c.tmeanName}}) {
    if (in == nullptr) continue;
    RunProblem p;
    p.path = *name;
    if (in->readFailed()) {
      p.kind = RunProblem::Kind::InputReadFailed;
      return p;
    }
    if (in->checkUnchanged()) {
      p.kind = RunProblem::Kind::InputChanged;
      return p;
    }
  }
  return std::nullopt;
}

void RunInputs::close() {
  if (precip) precip->Close();
  if (tmean) tmean->Close();
}

void RunOutputs::abandon() {
  if (table) table->abandon();
  if (report) report->abandon();
}

OpenedInputs::OpenedInputs() = default;
OpenedInputs::OpenedInputs(OpenedInputs&&) noexcept = default;
OpenedInputs& OpenedInputs::operator=(OpenedInputs&&) noexcept = default;
OpenedInputs::~OpenedInputs() = default;

OpenedInputs Open_files(const RunConfig& c, RunObserver& observer) {
  OpenedInputs opened;
  auto in = std::make_unique<RunInputs>();
  // A missing file "doesn't exist"; anything else that is not a readable
  // regular file (a folder, a FIFO, a link loop) "could not be read".
  auto open = [&](const std::filesystem::path& path, const std::string& name) {
    int error = 0;
    std::unique_ptr<TextInputStream> stream = TextInputStream::open(path, &error);
    if (!stream) {
      RunProblem p;
      p.kind = error == ENOENT || error == ENOTDIR ? RunProblem::Kind::InputMissing : RunProblem::Kind::InputUnreadable;
      p.path = name;
      p.error = error;
      opened.problems.push_back(std::move(p));
    }
    return stream;
  };
  in->precip = open(c.precipPath, c.precipName);
  in->tmean = open(c.tmeanPath, c.tmeanName);
  auto setting = [](RunProblem::Kind kind) {
    RunProblem p;
    p.kind = kind;
    return p;
  };
  if (std::isnan(c.read.fieldCapacity)) opened.problems.push_back(setting(RunProblem::Kind::FieldCapacity));
  if (c.format->usesLatitudeSetting && std::isnan(c.read.latitude))
    opened.problems.push_back(setting(RunProblem::Kind::Latitude));
  if (opened.problems.empty()) {
    Progress loaded;
    loaded.precipBytesTotal = in->precip->size();
    observer.progress(loaded);
    c.format->nextRecord(*in->precip, in->precipHeader);
    c.format->nextRecord(*in->tmean, in->tmeanHeader);
    if (c.format->headerOk != nullptr) {
      for (auto [header, name, message] : {std::tuple{&in->precipHeader, &c.precipName, c.format->precipHeaderMessage},
                                           std::tuple{&in->tmeanHeader, &c.tmeanName, c.format->tmeanHeaderMessage}}) {
        if (!c.format->headerOk(*header)) {
          RunProblem p;
          p.kind = RunProblem::Kind::Header;
          p.path = *name;
          p.detail = std::string(message);
          p.cause = std::string(c.format->headerRefused);
          opened.problems.push_back(std::move(p));
        }
      }
    }
  }
  // A refused run keeps no file open.
  if (opened.problems.empty()) opened.inputs = std::move(in);
  return opened;
}

ReadOptions recordReadOptions(const RunConfig& c, const RunInputs& inputs) {
  return planFor(c, inputs).read;
}

namespace {

// The end of a run whose rows are written: what can still fail it, then
// Close_files. Standard output gives up a write that no reader takes once a
// signal asks for a stop (EINTR), in the loop or in the flushes and commits:
// the run is then stopped, not failed.
class RunEnd {
 public:
  RunEnd(const RunConfig& c, RunInputs& inputs, RunOutputs& outputs, RunObserver& observer, RunResult& result,
         StopRequest stopped)
      : c_(c), inputs_(inputs), outputs_(outputs), observer_(observer), result_(result), stopped_(stopped) {}

  RunResult finish() {
    // A write that failed ends the run at once, before its checks.
    for (auto [out, kind, name] : outputsOf()) {
      if (out != nullptr && out->failed() && !gaveUp(out)) return fail(outputProblem(kind, *name, out->error()));
    }
    if (c_.strict && !result_.warnings.empty()) {
      // Strict checking: a run with warnings leaves any earlier table as it was.
      RunProblem p;
      p.kind = RunProblem::Kind::StrictWarnings;
      p.detail = std::to_string(result_.warnings.size()) + (result_.warnings.size() == 1 ? " warning" : " warnings");
      return fail(std::move(p));
    }
    // A read error ended an input early: the table would lack the records
    // after it.
    if (std::optional<RunProblem> p = inputs_.readProblem(c_)) return fail(std::move(*p));
    return Close_files();
  }

 private:
  using Output = std::tuple<TextOutputStream*, RunProblem::Kind, const std::string*>;
  std::array<Output, 2> outputsOf() const {
    return {Output{outputs_.table.get(), RunProblem::Kind::OutputUnwritable, &c_.outputName},
            Output{outputs_.report.get(), RunProblem::Kind::NullReportUnwritable, &c_.nullReportName}};
  }

  bool gaveUp(const TextOutputStream* out) {
    if (out == nullptr || !out->failed() || out->error() != EINTR) return false;
    if (stopped_ == StopRequest::None) stopped_ = observer_.stopRequested();
    return stopped_ != StopRequest::None;
  }

  // A stop that should leave no table keeps the earlier files.
  bool dropped() {
    if (stopped_ != StopRequest::DropTable) return false;
    outputs_.abandon();
    result_.outcome = RunOutcome::Stopped;
    return true;
  }

  RunResult fail(RunProblem p) {
    outputs_.abandon();
    inputs_.close();
    return failed(result_, std::move(p));
  }

  // Closes both inputs, writes both outputs out and puts them in place,
  // the table first. Both are written out before either is put in place, so
  // that a full disk fails the run before it replaces anything.
  RunResult Close_files() {
    inputs_.close();
    if (dropped()) return result_;
    for (auto [out, kind, name] : outputsOf()) {
      if (out != nullptr && !out->flush() && !gaveUp(out)) return fail(outputProblem(kind, *name, out->error()));
    }
    if (dropped()) return result_;
    TextOutputStream& table = *outputs_.table;
    if (!table.commit() && !gaveUp(&table))
      return fail(outputProblem(RunProblem::Kind::OutputUnwritable, c_.outputName, table.error()));
    if (dropped()) return result_;
    result_.tableWritten = !table.failed();
    TextOutputStream* report = outputs_.report.get();
    if (report != nullptr && !report->commit() && !gaveUp(report))
      return fail(outputProblem(RunProblem::Kind::NullReportUnwritable, c_.nullReportName, report->error()));
    result_.outcome = stopped_ == StopRequest::KeepRows ? RunOutcome::Stopped : RunOutcome::Completed;
    return result_;
  }

  const RunConfig& c_;
  RunInputs& inputs_;
  RunOutputs& outputs_;
  RunObserver& observer_;
  RunResult& result_;
  StopRequest stopped_;
};

}  // namespace

RunResult runTable(std::unique_ptr<RunInputs> inputs, const RunConfig& c, RunObserver& observer) {
  RunResult result;
  result.carried = c.start;
  const RunPlan plan = planFor(c, *inputs);
  RunOutputs outputs;
  if (std::optional<RunProblem> p = write_out(c, plan.table, outputs)) {
    inputs->close();
    return failed(result, std::move(*p));
  }
  std::unique_ptr<BatchComputer> computer = makeThreadedComputer(c.parallel);
  if (!computer) computer = makeSerialComputer();

  const auto start = std::chrono::steady_clock::now();
  StopRequest stopped = StopRequest::None;
  try {
    stopped = Main_loop(*inputs, outputs, plan, *computer, observer, result);
  } catch (const std::exception& e) {
    // Unwinding drops the temporary files; a crash would leave them behind.
    outputs.abandon();
    inputs->close();
    RunProblem p;
    p.detail = e.what();
    return failed(result, std::move(p));
  }
  result = RunEnd(c, *inputs, outputs, observer, result, stopped).finish();
  if (result.tableWritten)
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

RunResult runTable(const RunConfig& c, RunObserver& observer) {
  OpenedInputs opened = Open_files(c, observer);
  if (!opened.inputs) {
    RunResult result;
    result.carried = c.start;
    result.problems = std::move(opened.problems);
    return result;
  }
  return runTable(std::move(opened.inputs), c, observer);
}

}  // namespace vadoset
