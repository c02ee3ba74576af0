#include "ui/run_record.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/text_stream.h"

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

bool RecordSource::Lines::has(std::size_t i) {
  // The lines are indexed as far as they are asked for: a run's results open
  // without a pass over its inputs.
  if (!index.finished() && index.lines() <= i && !index.indexLines(i + 1)) failed = true;
  return i < index.lines();
}

std::string_view RecordSource::Lines::line(std::size_t i) {
  if (!has(i)) return {};
  constexpr std::size_t kChunk = std::size_t{256} << 10;
  const std::uint64_t from = index.start(i);
  const std::uint64_t to = index.next(i);
  if (from < bufferStart || to > bufferStart + buffer.size()) {
    // Read on from here: the chain of a carry-over run reads line after line.
    const std::uint64_t end = std::max(to, std::min(from + kChunk, index.next(index.lines() - 1)));
    if (!readAt(file.fd(), from, end - from, buffer)) {
      buffer.clear();
      return {};
    }
    bufferStart = from;
  }
  std::string_view l = withoutLineEnd(std::string_view(buffer).substr(from - bufferStart, to - from));
  // As the run's own reading: the rest of an over-long line is dropped.
  return l.substr(0, TextInputStream::kMaxLineBytes);
}

std::string RecordSource::open(std::shared_ptr<const RunRecord> run) {
  run_ = std::move(run);
  checkpoints_.clear();
  if (!run_ || run_->format == nullptr) return "The table was not written by a run in this window.";
  if (run_->format->nextRecord != detail::nextLine) return "The records of this input format are not computed again.";
  for (auto [lines, path] : {std::pair{&precip_, &run_->precipPath}, std::pair{&tmean_, &run_->tmeanPath}}) {
    lines->buffer.clear();
    lines->bufferStart = 0;
    lines->failed = false;
    const std::string failed =
        "The input file " + std::filesystem::path(*path).filename().string() + " could not be read.";
    if (!lines->file.open(*path)) return failed;
    lines->index.begin(lines->file.fd());
    if (!lines->has(0) || lines->failed) return failed;
  }
  engine_ = RecordEngine(run_->model);
  checkpoints_.push_back(run_->start);
  return {};
}

void RecordSource::read(std::size_t k, RecordInput& in) {
  readRecord(*run_->format, precip_.line(k + 1), tmean_.line(k + 1), run_->read, in, recordText_);
}

bool RecordSource::prepare(std::size_t k, std::size_t budget) {
  if (!run_ || checkpoints_.empty() || !run_->model.carryover) return true;
  const std::size_t wanted = k / kCheckpointEvery;
  RecordInput in;
  for (std::size_t done = 0; checkpoints_.size() <= wanted && done < budget; done += kCheckpointEvery) {
    CarriedState carried = checkpoints_.back();
    const std::size_t first = prepared();
    for (std::size_t i = first; i < first + kCheckpointEvery; ++i) {
      read(i, in);
      engine_.compute(in, carried, scratch_);
    }
    checkpoints_.push_back(carried);
  }
  return checkpoints_.size() > wanted;
}

std::string RecordSource::compute(std::size_t k, Computed& out) {
  if (!run_ || checkpoints_.empty()) return "The run's input files are not open.";
  if (!precip_.has(k + 1)) return "The precipitation file has no record " + std::to_string(k + 1) + ".";
  CarriedState carried = run_->start;
  std::size_t first = k;
  if (run_->model.carryover) {
    const std::size_t j = std::min(k / kCheckpointEvery, checkpoints_.size() - 1);
    carried = checkpoints_[j];
    first = j * kCheckpointEvery;
    RecordInput in;
    for (std::size_t i = first; i < k; ++i) {
      read(i, in);
      engine_.compute(in, carried, scratch_);
      if ((i + 1) % kCheckpointEvery == 0 && (i + 1) / kCheckpointEvery == checkpoints_.size())
        checkpoints_.push_back(carried);
    }
  }
  read(k, out.input);
  if (precip_.failed || tmean_.failed) return "The input files could not be read.";
  out.id.assign(out.input.id);
  out.input.id = {};
  out.result = RecordResult{};
  out.trace = DayTrace{};
  engine_.compute(out.input, carried, out.result, &out.trace);
  out.computed = k - first + 1;
  return {};
}

}  // namespace vadoset
