#include "ui/run_record.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

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

namespace {

std::string absolutePath(const std::filesystem::path& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path, ec);
  if (ec) p = path;
  return p.lexically_normal().string();
}

}  // namespace

std::shared_ptr<RunRecord> makeRunRecord(const RunConfig& config, const RunInputs& inputs) {
  auto record = std::make_shared<RunRecord>();
  record->tablePath = absolutePath(config.outputPath);
  record->precipPath = absolutePath(config.precipPath);
  record->tmeanPath = absolutePath(config.tmeanPath);
  record->format = config.format;
  record->read = recordReadOptions(config, inputs);
  record->model = config.model;
  record->start = config.start;
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
