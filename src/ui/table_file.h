#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vadoset {

/// Where every line of a text file starts, from one pass over the file with
/// a large buffer. Lines end with CR, LF or CRLF in any mix, as the program's
/// own input streams read them; a UTF-8 byte-order mark is skipped. The file
/// is then read a line at a time, wherever it is needed.
class LineIndex {
 public:
  /// Indexes the open file `fd` from its start. When `ids` is given it also
  /// receives the text of each line up to its first tab (at most
  /// kMaxIdBytes of it), one after the other: line i's runs from
  /// (*idEnds)[i] to (*idEnds)[i + 1]. False when the file cannot be read.
  /// (Tests give small buffers.)
  bool build(int fd, std::string* ids = nullptr, std::vector<std::uint64_t>* idEnds = nullptr,
             std::size_t bufferBytes = kIndexBuffer);

  /// The lines of the file.
  std::size_t lines() const { return starts_.empty() ? 0 : starts_.size() - 1; }
  /// The offset of line i's first byte, and the offset just past its line
  /// end (the next line's start).
  std::uint64_t start(std::size_t i) const { return starts_[i]; }
  std::uint64_t next(std::size_t i) const { return starts_[i + 1]; }

  /// The longest identifier kept for filtering and sorting.
  static constexpr std::size_t kMaxIdBytes = 1024;
  static constexpr std::size_t kIndexBuffer = std::size_t{4} << 20;

 private:
  bool readBuffer(bool& finished);
  void reserveFor(std::size_t firstBytes);

  std::vector<std::uint64_t> starts_;  // one more than the lines: where the next one starts
  int fd_ = -1;
  std::string* ids_ = nullptr;
  std::vector<std::uint64_t>* idEnds_ = nullptr;
  std::vector<char> buf_;
  std::uint64_t base_ = 0;  // the file offset of the next buffer
  bool pendingCr_ = false;  // the last buffer ended with a CR that an LF may follow
  bool idOpen_ = false;     // the line in hand has not reached its first tab
  std::size_t idBytes_ = 0;
};

/// A file opened for reading, closed with its owner.
class ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  ~ReadOnlyFile() { close(); }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
  /// Opens a regular file; false for anything else or when it cannot be opened.
  bool open(const std::filesystem::path& path);
  void close();
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

/// A line without its line end.
std::string_view withoutLineEnd(std::string_view line);

/// Reads `length` bytes at `offset` of `fd` into `out`; false on a read error
/// or when the file is shorter.
bool readAt(int fd, std::uint64_t offset, std::size_t length, std::string& out);

/// An output table of the program, read without holding it in memory: the
/// header's column names, the identifier of every row (for filtering and
/// sorting), and the rows themselves read on demand through a small cache of
/// recently read blocks of rows. The file stays open, so a table replaced by
/// a later run at the same path is still read as it was when opened.
class TableFile {
 public:
  TableFile() = default;
  ~TableFile();
  TableFile(const TableFile&) = delete;
  TableFile& operator=(const TableFile&) = delete;

  /// Opens and indexes a table. Gives an empty string when it worked, or
  /// what went wrong. Blank lines at the end of the file are not rows.
  std::string open(const std::filesystem::path& path);
  /// Closes the file: no columns, no rows.
  void close();

  /// Column names from the header line: the identifier's, then the values'.
  const std::vector<std::string>& columns() const { return columns_; }
  std::size_t rows() const { return rows_; }

  /// Row r's identifier as indexed (cut at kMaxIdBytes).
  std::string_view id(std::size_t r) const { return {ids_.data() + idEnds_[r + 1], idEnds_[r + 2] - idEnds_[r + 1]}; }

  /// Field c (0 is the identifier) of row r, read from the file when it is
  /// not in the cache; empty when the row has fewer fields or cannot be
  /// read. The view stays valid until the next call.
  std::string_view field(std::size_t r, std::size_t c);
  /// Whether row r is a null row ("identifier TAB *").
  bool isNull(std::size_t r);

  /// Column c's number in every row, in row order, from one pass over the
  /// file: NaN for a null row or a field without a number.
  std::vector<double> columnValues(std::size_t c) const {
    return std::move(columnValues(std::vector<std::size_t>{c}).front());
  }
  /// The same for several columns in one pass: element i for columns[i].
  /// It may run on another thread while this one reads rows, as long as the
  /// table stays open; once `cancel` is set it stops, leaving NaN.
  std::vector<std::vector<double>> columnValues(const std::vector<std::size_t>& columns,
                                                const std::atomic<bool>* cancel = nullptr) const;

  /// Blocks of rows read from the file so far (for tests of the cache).
  std::size_t blockReads() const { return blockReads_; }

  /// Rows in a block, and blocks kept.
  static constexpr std::size_t kBlockRows = 64;
  static constexpr std::size_t kCachedBlocks = 24;

 private:
  struct Block {
    std::size_t first = SIZE_MAX;  // its first row
    std::uint64_t lastUse = 0;
    std::string bytes;
    // Per row of the block: where its fields start in `fieldSpans`.
    std::vector<std::uint32_t> rowFields;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> fieldSpans;  // offset, length in bytes
  };
  const Block* block(std::size_t r);

  ReadOnlyFile file_;
  LineIndex lines_;  // line 0 is the header
  std::vector<std::string> columns_;
  std::size_t rows_ = 0;
  std::string ids_;
  std::vector<std::uint64_t> idEnds_;  // as LineIndex::build gives them
  std::vector<Block> cache_;
  std::uint64_t useClock_ = 0;
  std::size_t lastBlock_ = 0;  // the cache entry used last, looked at first
  std::size_t blockReads_ = 0;
};

}  // namespace vadoset
