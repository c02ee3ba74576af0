#include "ui/run_record.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "input/input.h"
#include "run/row_loop.h"
#include "state/run_state.h"

namespace vadoset {

void NullReasons::add(std::int64_t row, std::string text) {
  rows_.push_back(row);
  texts_.push_back(std::move(text));
}

const std::string* NullReasons::find(std::int64_t row) const {
  const auto it = std::lower_bound(rows_.begin(), rows_.end(), row);
  if (it == rows_.end() || *it != row) return nullptr;
  return &texts_[static_cast<std::size_t>(it - rows_.begin())];
}

RecordingHost::RecordingHost(Host& inner, const RunState& state)
    : inner_(inner), start_{state.current_w, state.current_ws, true} {}

std::optional<std::string> RecordingHost::selectFolder(std::string_view prompt, std::string_view actionButton) {
  std::optional<std::string> folder = inner_.selectFolder(prompt, actionButton);
  if (folder) folders_.push_back(*folder);
  return folder;
}

void RecordingHost::nullRow(const NullRow& row) {
  reasons_.add(row.row, row.reasonText());
  inner_.nullRow(row);
}

namespace {

std::string absolutePath(std::string_view folder, std::string_view name) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(pathInFolder(folder, name), ec);
  if (ec) p = pathInFolder(folder, name);
  return p.lexically_normal().string();
}

}  // namespace

std::shared_ptr<RunRecord> RecordingHost::finish(const RunState& s, RunOutcome outcome) {
  if ((outcome != RunOutcome::Completed && outcome != RunOutcome::Stopped) || folders_.size() < 2) return nullptr;
  auto record = std::make_shared<RunRecord>();
  record->tablePath = absolutePath(folders_[1], s.settings.outputFile);
  record->precipPath = absolutePath(folders_[0], s.settings.precipFile);
  record->tmeanPath = absolutePath(folders_[0], s.settings.tmeanFile);
  const RunPlan plan = planFor(s);
  record->format = plan.format;
  record->read = plan.read;
  record->model = plan.model;
  record->start = start_;
  record->nullRows = std::move(reasons_);
  record->stopped = outcome == RunOutcome::Stopped;
  return record;
}

std::string RecordSource::open(std::shared_ptr<const RunRecord> run) {
  run_ = std::move(run);
  checkpoints_.clear();
  readFailed_ = false;
  if (!run_ || run_->format == nullptr) return "The table was not written by a run in this window.";
  std::string error = reader_.open(run_->precipPath, run_->tmeanPath, *run_->format, run_->read);
  if (!error.empty()) return error;
  engine_ = RecordEngine(run_->model);
  checkpoints_.push_back(run_->start);
  return {};
}

bool RecordSource::prepare(std::size_t k, std::size_t budget) {
  if (!run_ || checkpoints_.empty() || !run_->model.carryover) return true;
  const std::size_t wanted = k / kCheckpointEvery;
  RecordInput in;
  for (std::size_t done = 0; checkpoints_.size() <= wanted && done < budget; done += kCheckpointEvery) {
    CarriedState carried = checkpoints_.back();
    const std::size_t first = prepared();
    for (std::size_t i = first; i < first + kCheckpointEvery; ++i) {
      readFailed_ |= !reader_.read(i, in);
      engine_.compute(in, carried, scratch_);
    }
    checkpoints_.push_back(carried);
  }
  return checkpoints_.size() > wanted;
}

std::string RecordSource::compute(std::size_t k, Computed& out) {
  if (!run_ || checkpoints_.empty()) return "The run's input files are not open.";
  if (!reader_.has(k)) return "The precipitation file has no record " + std::to_string(k + 1) + ".";
  CarriedState carried = run_->start;
  std::size_t first = k;
  if (run_->model.carryover) {
    const std::size_t j = std::min(k / kCheckpointEvery, checkpoints_.size() - 1);
    carried = checkpoints_[j];
    first = j * kCheckpointEvery;
    RecordInput in;
    for (std::size_t i = first; i < k; ++i) {
      readFailed_ |= !reader_.read(i, in);
      engine_.compute(in, carried, scratch_);
      if ((i + 1) % kCheckpointEvery == 0 && (i + 1) / kCheckpointEvery == checkpoints_.size())
        checkpoints_.push_back(carried);
    }
  }
  readFailed_ |= !reader_.read(k, out.input);
  if (readFailed_) return "The input files could not be read.";
  out.id.assign(out.input.id);
  out.input.id = {};
  out.result = RecordResult{};
  out.trace = DayTrace{};
  engine_.compute(out.input, carried, out.result, &out.trace);
  out.computed = k - first + 1;
  return {};
}

}  // namespace vadoset
