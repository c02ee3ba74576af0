#include <cerrno>
#include <system_error>

#include "input/input.h"
#include "output/output.h"
#include "platform/double_text.h"
#include "platform/host.h"
#include "platform/text.h"
#include "run/run_state.h"

namespace vadoset {

const std::string& tableHeader() {
  static const std::string header = [] {
    std::string h = "Year or site\t";
    const char* groups[] = {"PET_", "AET_", "SURPLUS_"};
    for (const char* g : groups) {
      for (int m = 1; m <= 12; ++m) {
        h += g;
        h += static_cast<char>('0' + m / 10);
        h += static_cast<char>('0' + m % 10);
        h += '\t';
      }
    }
    h += "PET\tAET\tSURPLUS\r";
    return h;
  }();
  return header;
}

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
      s.aet_out->Write(tableHeader());
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
  s.aet_out->Write(tableHeader());
  return OutputOpen::Open;
}

std::size_t formatRowValues(std::int32_t nullcell, const MonthArray<double>& PET, const MonthArray<double>& E,
                            const MonthArray<double>& Surplus, char* buf) {
  if (nullcell == 1) {
    buf[0] = '*';
    buf[1] = '\r';
    return 2;
  }
  double petSum = 0.0;
  double aetSum = 0.0;
  double surplusSum = 0.0;
  for (int m = 1; m <= 12; ++m) {
    aetSum += E[m];
    petSum += PET[m];
    surplusSum += Surplus[m];
  }
  char* p = buf;
  // The same text as Str, written by the faster shortest-digits formatter:
  // rows are where a run spends its formatting time.
  auto field = [&p](double v, char after) {
    p += shortestDoubleText(v, p);
    *p++ = after;
  };
  for (int m = 1; m <= 12; ++m) field(PET[m], '\t');
  for (int m = 1; m <= 12; ++m) field(E[m], '\t');
  for (int m = 1; m <= 12; ++m) field(Surplus[m], '\t');
  field(petSum, '\t');
  field(aetSum, '\t');
  field(surplusSum, '\r');
  return static_cast<std::size_t>(p - buf);
}

void write_files(RunState& s) {
  TextOutputStream& out = *s.aet_out;
  out.Write(s.year);
  out.Write('\t');
  char buf[kRowValuesBytes];
  out.Write(std::string_view(buf, formatRowValues(s.nullcell, s.PET, s.E, s.Surplus, buf)));
}

}  // namespace vadoset
