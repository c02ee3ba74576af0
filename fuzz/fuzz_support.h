#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "run/run.h"

namespace vadoset {}

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
  std::uint32_t u32() {
    std::uint32_t lo = u16();
    return lo | (static_cast<std::uint32_t>(u16()) << 16);
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

/// The table's columns and line ends from one byte: bits 0-4 choose the
/// groups after the first (classic, deficit, soil, snow, precip, in an
/// order turned by the byte), bits 5-6 the line end.
void chooseTable(std::uint8_t byte, Settings& settings);

/// Checks one row as the table writes it: the identifier, a tab, then "*"
/// or `values` numbers separated by tabs, and the line end, which appears
/// nowhere else in the row.
void checkRow(std::string_view row, std::string_view identifier, std::size_t values, std::string_view lineEnd);

/// An observer for whole runs: warnings kept, null rows checked, and a stop
/// request once `stopAfterRows` rows are written, so that an input of any
/// length costs a bounded time (a record takes at most 1002 passes of the
/// year).
class FuzzObserver final : public RunObserver {
 public:
  std::vector<std::string> warnings;
  std::int64_t nullRows = 0;
  std::int64_t stopAfterRows = 200;
  std::int64_t rows = 0;

  void progress(const Progress& p) override { rows = p.rows; }
  void warning(std::string_view text) override { warnings.emplace_back(text); }
  void nullRow(const NullRow& n) override {
    ++nullRows;
    check(n.row == rows + 1 && !n.reasonText().empty(), "a null row is reported out of turn or without a reason");
  }
  StopRequest stopRequested() override { return rows >= stopAfterRows ? StopRequest::KeepRows : StopRequest::None; }
};

/// The record-reader target for one input format: the input's first bytes
/// choose the settings, the rest is the two files (see record_fuzz.h).
void fuzzRecords(const std::uint8_t* data, std::size_t size, InputFormat format);

/// Where a whole run writes its table.
enum class OutputKind { Plain, Stdout, SameAsInput, Directory, MissingFolder, EarlierTable, FileAsFolder, Count };

struct RunInput {
  Settings settings;
  OutputKind kind = OutputKind::Plain;
  std::string_view precip, tmean;
  std::int64_t stopAfterRows = 200;
};

struct RunOutcomeSeen {
  RunOutcome outcome{};
  std::vector<std::string> messages;
  std::vector<std::string> warnings;
  std::string table;
  std::int64_t rows = 0;
  double carriedW = 0.0, carriedWs = 0.0;
};

/// Settings for a whole run from the input's first bytes: byte 0 bits 0-1
/// the format, bit 2 carry-over, bit 3 precipitation with its fraction,
/// bit 4 each record's field capacity from field 15; byte 1 the function
/// (bits 0-2) and strict input checks (bit 7),
/// byte 2 the field capacity text, byte 3 the latitude text, byte 4 the
/// columns and line end (chooseTable), bytes 5-8 the length of the
/// precipitation file; then the precipitation file and the temperature file.
RunInput decodeRun(ByteReader& in);

/// Runs once, on the calling thread or in parallel, in a freshly laid
/// folder, and checks what every run must keep to: a table or a message,
/// the inputs unchanged, an earlier table kept by a failed run, no file left
/// behind.
RunOutcomeSeen runOnce(const RunInput& input, const RunConfig::Parallel& parallel);

}  // namespace vadoset::fuzz
