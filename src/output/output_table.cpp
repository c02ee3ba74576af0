#include <cerrno>
#include <system_error>
#include <vector>

#include "input/input.h"
#include "output/columns.h"
#include "output/output.h"
#include "platform/double_text.h"
#include "platform/text.h"
#include "state/host.h"
#include "state/run_state.h"

namespace vadoset {

namespace {

bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

}  // namespace

OutputOpen write_out(RunState& s, Host& host) {
  std::optional<std::string> folder = host.selectFolder("Folder to save output data", "Select folder");
  if (!folder) return OutputOpen::Cancelled;

  if (s.settings.outputFile == "-") {
    if (std::ostream* out = host.standardOutput()) {
      s.aet_out = TextOutputStream::toStream(*out);
      s.aet_out->Write(TableLayout(s.settings.columns, s.settings.lineEnding).header());
      return OutputOpen::Open;
    }
  }

  std::filesystem::path target = pathInFolder(*folder, s.settings.outputFile);
  // Never write over one of the run's own inputs, and never over a folder.
  std::error_code ec;
  std::string cause;
  int error = 0;
  if (s.settings.outputFile.empty())
    cause = "no file name was given";
  else if (std::filesystem::is_directory(target, ec))
    error = EISDIR;
  else if (sameFile(target, pathInFolder(*folder, s.settings.precipFile)) ||
           sameFile(target, pathInFolder(*folder, s.settings.tmeanFile)))
    cause = "it is one of the input files";
  else if (target.filename().empty())
    cause = "a file name cannot end with a slash";
  else
    s.aet_out = TextOutputStream::createFile(target, &error);
  if (!s.aet_out) {
    if (cause.empty()) cause = fileErrorCause(error);
    // Only the command line has a standard output to offer instead.
    if (error == kNotRegularFile && host.standardOutput() != nullptr)
      cause += " (to write the table to standard output, use -o -)";
    host.showMessage(withCause("The output file " + shownName(target) + " could not be written.", cause));
    return OutputOpen::Failed;
  }
  s.aet_out->Write(TableLayout(s.settings.columns, s.settings.lineEnding).header());
  return OutputOpen::Open;
}

void write_files(RunState& s) {
  // The record in hand as the engine's types: months 1 to 12 of the run
  // state are months 0 to 11 there.
  RecordInput in;
  RecordResult r;
  if (s.nullcell == 1) r.reason = NullReason::NoSteadyState;
  for (int m = 1; m <= 12; ++m) {
    in.ppt[m - 1] = static_cast<double>(s.ppt[m]);
    in.tmean[m - 1] = s.tmean[m];
    r.pet[m - 1] = s.PET[m];
    r.aet[m - 1] = s.E[m];
    r.surplus[m - 1] = s.Surplus[m];
  }
  const TableLayout layout(s.settings.columns, s.settings.lineEnding);
  std::vector<char> buf(layout.rowValuesBytes());
  TextOutputStream& out = *s.aet_out;
  out.Write(s.year);
  out.Write('\t');
  out.Write(std::string_view(buf.data(), layout.formatRowValues(in, r, buf.data())));
}

}  // namespace vadoset
