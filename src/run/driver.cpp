#include "run/driver.h"

#include <cerrno>
#include <cmath>

#include "input/input.h"
#include "model/model.h"
#include "output/output.h"
#include "platform/text.h"
#include "run/row_loop.h"
#include "state/host.h"
#include "state/run_state.h"

namespace vadoset {

void fillDaysPerMonth(RunState& s) {
  constexpr std::int32_t kDays[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int m = 1; m <= 12; ++m) s.dm[m] = kDays[m];
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
    // Ctrl+C while the output was blocked: the rows it took are all there is.
    if (stopped && s.aet_out && s.aet_out->error() == EINTR) return RunOutcome::Stopped;
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

namespace {

// The calling thread computes the records a few dozen at a time, with the
// engine's batch form, and the host's background task runs once per pass of
// the year while records spin up.
class SerialComputer final : public BatchComputer {
 public:
  explicit SerialComputer(Host& host) : host_(host) {}
  std::size_t batchesInFlight() const override { return 1; }
  std::size_t batchRecords() const override { return 64; }
  std::size_t batchLineBytes() const override { return std::size_t{1} << 20; }
  void begin(const RunPlan& plan, CarriedState carried) override {
    plan_ = &plan;
    engine_ = RecordEngine(plan.model);
    engine_.setPassCallback([](void* h) { static_cast<Host*>(h)->backgroundTask(); }, &host_);
    carried_ = carried;
  }
  void submit(RecordBatch& b) override { computeSlots(*plan_, engine_, b, 0, b.count, carried_, scratch_); }
  bool wait(RecordBatch&, Host&) override { return true; }
  void end() override {}

 private:
  Host& host_;
  const RunPlan* plan_ = nullptr;
  RecordEngine engine_;
  CarriedState carried_;
  BatchScratch scratch_;
};

}  // namespace

RunOutcome Main_loop(RunState& s, Host& host) {
  SerialComputer computer(host);
  return runRows(s, host, computer);
}

}  // namespace vadoset
