#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "state/host.h"

namespace vadoset::fuzz {

/// Stops the process with a message when a property of the code under test
/// does not hold; libFuzzer then keeps the input as a crash.
[[noreturn]] void fail(std::string_view what, std::string_view detail = {});

inline void check(bool ok, std::string_view what, std::string_view detail = {}) {
  if (!ok) fail(what, detail);
}

/// Takes bytes from the front of a fuzz input; past the end it gives zeros.
class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint16_t u16() {
    std::uint16_t lo = byte();
    return static_cast<std::uint16_t>(lo | (byte() << 8));
  }
  /// Up to n bytes, fewer when the input ends sooner.
  std::string_view take(std::size_t n) {
    std::size_t k = n < size_ - pos_ ? n : size_ - pos_;
    std::string_view v(reinterpret_cast<const char*>(data_) + pos_, k);
    pos_ += k;
    return v;
  }
  std::string_view rest() { return take(size_ - pos_); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

/// Checks one row as write_files wrote it: the identifier, a tab, then "*" or
/// 39 numbers separated by tabs, and a CR at the end.
void checkRow(std::string_view row, std::string_view identifier);

/// A Host for whole runs: fixed settings and folder, messages kept, and a stop
/// request once `stopAfterRows` rows are written so that an input of any
/// length costs a bounded time.
class FuzzHost final : public Host {
 public:
  Settings settingsValue;
  std::string folder;
  std::vector<std::string> messages;
  std::int64_t stopAfterRows = 16;
  std::int64_t rows = 0;
  std::ostringstream stdoutText;

  Settings settings() override { return settingsValue; }
  std::optional<std::string> selectFolder(std::string_view, std::string_view) override { return folder; }
  void showMessage(std::string_view text) override { messages.emplace_back(text); }
  void setCounter(std::string_view) override {}
  void progress(const Progress& p) override { rows = p.rows; }
  bool stopRequested() override { return rows >= stopAfterRows; }
  std::ostream* standardOutput() override { return &stdoutText; }
};

/// The record-reader target for one input format (0 tab delimited, 1 HCN):
/// the input's first bytes choose the settings, the rest is read as pairs of
/// lines (precipitation, temperature), each pair one record, at most eight.
void fuzzRecords(const std::uint8_t* data, std::size_t size, int format);

}  // namespace vadoset::fuzz
