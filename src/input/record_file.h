#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "input/formats.h"
#include "model/engine.h"

namespace vadoset {

class TextInputStream;

/// The records of one input file, read in any order. Where each record
/// starts is found by reading the file with its format's own record rule
/// (one line, or more where a quoted CSV field holds line breaks), as far as
/// it is asked for; so record k is the text a run reads as its k-th record,
/// line ends, byte-order mark and the cap on long lines included. Record 0
/// is the header.
class RecordFile {
 public:
  RecordFile();
  ~RecordFile();
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  /// Opens a regular file and starts over. False when it cannot be opened;
  /// `error` then gets the reason as TextInputStream::open gives it.
  bool open(const std::filesystem::path& path, const InputFormatDescription& format, int* error = nullptr);

  /// Whether the file holds record k (any text after the records before
  /// it), finding the records' starts up to it.
  bool has(std::size_t k);
  /// The records whose starts are known so far.
  std::size_t known() const { return starts_.size(); }

  /// Record k's text; empty when the file has no record k. Valid until the
  /// next call. Reading the records in order reads the file once.
  std::string_view record(std::size_t k);

  /// True once a read of the file has failed.
  bool failed() const;

 private:
  void findNext();

  std::unique_ptr<TextInputStream> in_;
  const InputFormatDescription* format_ = nullptr;
  std::vector<std::uint64_t> starts_;  // where each known record starts
  std::uint64_t frontier_ = 0;         // where the record after the known ones would start
  bool ended_ = true;                  // every record is known
  std::string text_;
  std::size_t textRecord_ = SIZE_MAX;  // the record text_ holds
};

/// A run's records read again from its two input files, in any order:
/// record k (from 0, the first after the header lines) of both files, parsed
/// with readRecord as the run parsed it.
class RecordReader {
 public:
  /// Opens both files with the run's format and read options (with what
  /// its header lines gave). Gives an empty string, or what went wrong.
  std::string open(const std::filesystem::path& precipPath, const std::filesystem::path& tmeanPath,
                   const InputFormatDescription& format, const ReadOptions& options);

  /// Whether the precipitation file holds record k.
  bool has(std::size_t k) { return precip_.has(k + 1); }

  /// Record k in the model's units; `out.id` stays valid until the next
  /// read. False when a file could not be read.
  bool read(std::size_t k, RecordInput& out);

 private:
  RecordFile precip_, tmean_;
  const InputFormatDescription* format_ = nullptr;
  ReadOptions options_;
  std::string text_;
};

}  // namespace vadoset
