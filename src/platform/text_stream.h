#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vadoset {

/// A buffered text file read line by line. A line ends with CR, LF or CRLF,
/// in any mix; a UTF-8 byte-order mark at the start of the file is skipped.
/// Bytes are passed on unchanged.
class TextInputStream {
 public:
  /// Longest line kept; the rest of a longer line is read and dropped.
  static constexpr std::size_t kMaxLineBytes = 16u << 20;

  /// Opens a regular file. Gives nothing when the path is not a regular file
  /// or cannot be opened; directories, FIFOs and devices are refused so that
  /// a run never blocks or reads without end.
  static std::unique_ptr<TextInputStream> open(const std::filesystem::path& path);

  ~TextInputStream();
  TextInputStream(const TextInputStream&) = delete;
  TextInputStream& operator=(const TextInputStream&) = delete;

  /// The next line without its ending. Past the end (or after a read error),
  /// an empty line. The reference stays valid until the next call.
  const std::string& ReadLine();

  /// Appends the next line, without its ending, to out: the same line as
  /// ReadLine, with no copy of it kept here.
  void appendLine(std::string& out);

  /// True when no line is left to read (the framework's EOF).
  bool Eof();

  /// True when only blank lines (empty, or spaces and tabs) are left.
  /// Reads ahead as far as needed; the lines read ahead are still returned
  /// by ReadLine.
  bool onlyBlankLinesLeft();

  void Close();

  /// After onlyBlankLinesLeft gave false: the length of the line it found.
  std::size_t nextLineBytes() const { return nextLineBytes_; }

  /// Bytes consumed so far, and the file's size when it was opened.
  std::uint64_t bytesRead() const { return consumed_; }
  std::uint64_t size() const { return size_; }
  bool readFailed() const { return readError_; }

 private:
  explicit TextInputStream(int fd, std::uint64_t size);
  bool fill();
  bool readRawLine(std::string& out);
  bool appendRawLine(std::string& out);
  // Line buffers larger than this are freed once their line is used.
  static constexpr std::size_t kKeptLineBytes = std::size_t{1} << 20;

  int fd_ = -1;
  std::uint64_t size_ = 0;
  std::uint64_t consumed_ = 0;
  std::vector<char> buf_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool atEnd_ = false;
  bool readError_ = false;
  std::string line_;
  void seekTo(std::uint64_t offset);
  // Read-ahead made by onlyBlankLinesLeft: one line, or a count of lines
  // known to hold a record, read again from the file.
  std::uint64_t knownRecordLines_ = 0;
  bool haveLookahead_ = false;
  std::size_t nextLineBytes_ = 0;
  std::string lookahead_;
};

/// A buffered text output that remembers whether any write failed.
/// It writes either to a file that replaces its target only on commit, or to
/// a caller's std::ostream.
class TextOutputStream {
 public:
  /// Creates a temporary file beside `target`; nothing is visible at the
  /// target until commit(). Gives nothing when the file cannot be created,
  /// or when the target exists and is not a regular file (a folder, a FIFO,
  /// a device), which the commit would replace.
  static std::unique_ptr<TextOutputStream> createFile(const std::filesystem::path& target);

  /// Writes to `out`, which must outlive the stream.
  static std::unique_ptr<TextOutputStream> toStream(std::ostream& out);

  ~TextOutputStream();  // an uncommitted temporary file is removed
  TextOutputStream(const TextOutputStream&) = delete;
  TextOutputStream& operator=(const TextOutputStream&) = delete;

  void Write(std::string_view text) {
    if (text.size() > buf_.size() - used_) {
      writeSlow(text);
      return;
    }
    std::copy(text.begin(), text.end(), buf_.begin() + static_cast<std::ptrdiff_t>(used_));
    used_ += text.size();
  }
  void Write(char c) {
    if (used_ == buf_.size()) flush();
    buf_[used_++] = c;
  }
  /// Writes text and the line terminator, CR.
  void WriteLine(std::string_view text) {
    Write(text);
    Write('\r');
  }

  /// Sends buffered bytes on; false once any write has failed.
  bool flush();
  bool failed() const { return failed_; }

  /// Flushes and moves the file into place (or flushes the stream).
  /// False, with the target untouched, when anything failed.
  bool commit();

  /// Drops the temporary file; the target is untouched.
  void abandon();

  /// Same as commit(), for the run's own closing step.
  bool Close() { return commit(); }

 private:
  TextOutputStream() = default;
  void writeSlow(std::string_view text);

  int fd_ = -1;
  std::ostream* out_ = nullptr;
  std::filesystem::path target_;
  std::filesystem::path temp_;
  std::vector<char> buf_ = std::vector<char>(1 << 16);
  std::size_t used_ = 0;
  bool failed_ = false;
  bool done_ = false;
};

}  // namespace vadoset
