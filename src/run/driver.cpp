#include "run/driver.h"

#include <cmath>

#include "input/input.h"
#include "model/model.h"
#include "output/output.h"
#include "platform/host.h"
#include "platform/text.h"
#include "run/run_state.h"

namespace vadoset {

void fillDaysPerMonth(RunState& s) {
  constexpr std::int32_t kDays[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int m = 1; m <= 12; ++m) s.dm[m] = kDays[m];
}

bool recordIsMissing(const RunState& s) {
  bool missing = !(s.latitude >= -90.0 && s.latitude <= 90.0);
  for (int m = 1; m <= 12; ++m)
    if (s.ppt[m] == 9999 || s.tmean[m] == 9999.0) missing = true;
  return missing;
}

void computeRecord(RunState& s, Host* host) {
  s.nullcell = 0;
  if (recordIsMissing(s)) {
    s.nullcell = 1;
    return;
  }
  Run_pet(s);
  Run_model(s, host);
}

bool inputReadFailed(const RunState& s) {
  // The temperature file's end may never be read: both are checked here.
  auto failed = [](const std::unique_ptr<TextInputStream>& in) {
    return in && (in->readFailed() || in->checkUnchanged());
  };
  return failed(s.precip_data) || failed(s.tmean_data);
}

bool Close_files(RunState& s) {
  // A read error ends an input early, as if the file ended there: the table
  // would lack the records after it, so it is not put in place.
  const bool readOk = !inputReadFailed(s);
  if (s.precip_data) s.precip_data->Close();
  if (s.tmean_data) s.tmean_data->Close();
  bool ok = true;
  if (s.aet_out) {
    if (readOk) {
      ok = s.aet_out->Close();
    } else {
      s.aet_out->abandon();
      ok = false;
    }
  }
  return ok;
}

void abandonRun(RunState& s) {
  if (s.aet_out) s.aet_out->abandon();
  if (s.precip_data) s.precip_data->Close();
  if (s.tmean_data) s.tmean_data->Close();
}

std::string outputFailedMessage(const RunState& s) {
  return withCause(
      "The output file " + pathInFolder("", s.settings.outputFile).filename().string() + " could not be written.",
      s.aet_out ? s.aet_out->error() : 0);
}

std::optional<RunOutcome> openRun(RunState& s, Host& host) {
  s.settings = host.settings();
  s.aet_out.reset();
  if (Open_files(s, host) != 1) return RunOutcome::NotStarted;
  fillDaysPerMonth(s);
  OutputOpen opened = write_out(s, host);
  if (opened != OutputOpen::Open) {
    abandonRun(s);
    return opened == OutputOpen::Cancelled ? RunOutcome::OutputCancelled : RunOutcome::OutputFailed;
  }
  s.carryover = s.settings.carryover;
  return std::nullopt;
}

RunOutcome finishRun(RunState& s, Host& host, bool stopped) {
  // A read error ended an input early: the table would lack the records
  // after it.
  if (inputReadFailed(s)) {
    const bool precip = s.precip_data->readFailed() || s.precip_data->changedWhileRead();
    const TextInputStream& in = precip ? *s.precip_data : *s.tmean_data;
    const std::string& name = precip ? s.settings.precipFile : s.settings.tmeanFile;
    abandonRun(s);
    host.showMessage("The file " + pathInFolder("", name).filename().string() +
                     (in.readFailed() ? " could not be read." : " changed while it was read."));
    return RunOutcome::OutputFailed;
  }
  // A stop that should leave no table (the command line on SIGTERM) keeps
  // the earlier file at the output path.
  if (stopped && !host.keepRowsWhenStopped()) {
    abandonRun(s);
    return RunOutcome::Stopped;
  }
  if (!Close_files(s)) {
    host.showMessage(outputFailedMessage(s));
    return RunOutcome::OutputFailed;
  }
  return stopped ? RunOutcome::Stopped : RunOutcome::Completed;
}

void reportRow(Host& host, std::int32_t count, std::uint64_t precipBytesRead, std::uint64_t precipBytesTotal) {
  char counterText[kStrBufferSize];
  host.setCounter(std::string_view(counterText, StrTo(static_cast<double>(count), counterText)));
  Progress progress;
  progress.rows = count;
  progress.precipBytesRead = precipBytesRead;
  progress.precipBytesTotal = precipBytesTotal;
  host.progress(progress);
  host.backgroundTask();
}

RunOutcome Main_loop(RunState& s, Host& host) {
  if (std::optional<RunOutcome> ended = openRun(s, host)) return *ended;

  std::int32_t count = 1;
  const std::uint64_t precipBytesTotal = s.precip_data->size();
  bool stopped = false;

  // The end of the precipitation file is tested before every record, so a
  // file with a header alone gives no rows, and blank lines at its end are
  // not records.
  while (!s.precip_data->onlyBlankLinesLeft()) {
    if (host.stopRequested()) {
      stopped = true;
      break;
    }
    Read_data(s);
    if (count == 1) s.year_one = true;
    computeRecord(s, &host);
    write_files(s);
    if (s.aet_out->failed()) {
      abandonRun(s);
      host.showMessage(outputFailedMessage(s));
      return RunOutcome::OutputFailed;
    }
    reportRow(host, count, s.precip_data->bytesRead(), precipBytesTotal);
    ++count;
  }
  return finishRun(s, host, stopped);
}

}  // namespace vadoset
