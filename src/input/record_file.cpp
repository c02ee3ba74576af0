#include "input/record_file.h"

#include <cerrno>

#include "platform/text_stream.h"

namespace vadoset {

RecordFile::RecordFile() = default;
RecordFile::~RecordFile() = default;

bool RecordFile::open(const std::filesystem::path& path, const InputFormatDescription& format, int* error) {
  format_ = &format;
  starts_.clear();
  text_.clear();
  textRecord_ = SIZE_MAX;
  in_ = TextInputStream::open(path, error);
  ended_ = !in_;
  // The first record starts after a byte-order mark.
  frontier_ = in_ ? in_->bytesRead() : 0;
  return in_ != nullptr;
}

bool RecordFile::failed() const {
  return in_ && in_->readFailed();
}

// Reads the record after the known ones, which tells where the next starts;
// its text is kept, for a caller reading the records in order.
void RecordFile::findNext() {
  if (in_->bytesRead() != frontier_) in_->seek(frontier_);
  if (in_->Eof()) {
    ended_ = true;
    return;
  }
  starts_.push_back(frontier_);
  text_.clear();
  format_->nextRecord(*in_, text_);
  textRecord_ = starts_.size() - 1;
  frontier_ = in_->bytesRead();
}

bool RecordFile::has(std::size_t k) {
  while (!ended_ && starts_.size() <= k) findNext();
  return k < starts_.size();
}

std::string_view RecordFile::record(std::size_t k) {
  if (!has(k)) return {};
  if (textRecord_ != k) {
    if (in_->bytesRead() != starts_[k]) in_->seek(starts_[k]);
    text_.clear();
    format_->nextRecord(*in_, text_);
    textRecord_ = k;
  }
  return text_;
}

std::string RecordReader::open(const std::filesystem::path& precipPath, const std::filesystem::path& tmeanPath,
                               const InputFormatDescription& format, const ReadOptions& options) {
  format_ = &format;
  options_ = options;
  for (auto [file, path] : {std::pair{&precip_, &precipPath}, std::pair{&tmean_, &tmeanPath}}) {
    int error = 0;
    if (!file->open(*path, format, &error) || !file->has(0) || file->failed()) {
      const std::string name = "The input file " + path->filename().string();
      return error == ENOENT ? name + " is no longer there." : withCause(name + " could not be read.", error);
    }
  }
  return {};
}

bool RecordReader::read(std::size_t k, RecordInput& out) {
  // The run pairs record k of the two files; a temperature file that ends
  // first gives empty records.
  const std::string_view precip = precip_.record(k + 1);
  const std::string_view tmean = tmean_.record(k + 1);
  readRecord(*format_, precip, tmean, options_, out, text_);
  return !precip_.failed() && !tmean_.failed();
}

}  // namespace vadoset
