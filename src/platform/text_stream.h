#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/output_file.h"

namespace vadoset {

/// Why a file could not be opened, read or written: an errno value, or this
/// for a path that exists but is no regular file (a FIFO, a device, a socket,
/// a process's open file under /proc).
inline constexpr int kNotRegularFile = -1;

/// Why an output path was refused: it is (or passes through) a symbolic link
/// in a sticky folder that everyone may write to, such as /tmp, owned by
/// neither the folder's owner nor this user. The kernel's protected_symlinks
/// refuses to follow such a link, which another user may have planted to
/// turn the table onto a file of yours; the program follows links itself,
/// so it applies the same rule.
inline constexpr int kProtectedSymlink = -2;

/// The cause of a file error in words, to follow a message ("permission
/// denied", "no space left on the device"); empty for 0.
std::string fileErrorCause(int error);

/// `message` (which ends with a period) with the cause of `error` put before
/// its period: "The file x could not be read: it is a folder." Unchanged
/// when the error is 0.
std::string withCause(std::string_view message, int error);
std::string withCause(std::string_view message, std::string_view cause);

/// Room for bytes that is not filled in advance: the pages of a stream's
/// buffer are touched only as text reaches them, so a short file costs no
/// more than it holds.
class ByteBuffer {
 public:
  explicit ByteBuffer(std::size_t n) : data_(std::make_unique_for_overwrite<char[]>(n)), size_(n) {}
  char* data() { return data_.get(); }
  const char* data() const { return data_.get(); }
  std::size_t size() const { return size_; }
  char& operator[](std::size_t i) { return data_[i]; }
  char operator[](std::size_t i) const { return data_[i]; }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t size_;
};

/// A buffered text file read line by line. A line ends with CR, LF or CRLF,
/// in any mix; a UTF-8 byte-order mark at the start of the file is skipped.
/// Bytes are passed on unchanged.
class TextInputStream {
 public:
  /// Longest line kept; the rest of a longer line is read and dropped.
  static constexpr std::size_t kMaxLineBytes = 16u << 20;

  /// Opens a regular file. Gives nothing when the path is not a regular file
  /// or cannot be opened; directories, FIFOs and devices are refused so that
  /// a run never blocks or reads without end. `error`, when given, gets the
  /// reason: an errno value (ENOENT, EISDIR, ELOOP, EACCES...) or
  /// kNotRegularFile.
  static std::unique_ptr<TextInputStream> open(const std::filesystem::path& path, int* error = nullptr);

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

  /// Reads on from byte `offset` of the file, which must be where a line
  /// starts (bytesRead() after a line is one). Lines read ahead are dropped.
  void seek(std::uint64_t offset);

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

  /// True when the file was found changed since it was opened: it is shorter
  /// than what was read, its end came before the size it had, it was written
  /// to (its modification time changed, or its change time did: that one
  /// moves with every write even when the modification time is set back),
  /// or another file now stands at its path. What was read may then be
  /// neither the old contents nor the new. Checked at the end of the file
  /// and by checkUnchanged().
  bool changedWhileRead() const { return changed_; }

  /// Checks for a change now, as the end of the file does (for a file whose
  /// end is never read), while the file is open. Gives changedWhileRead().
  bool checkUnchanged();

  /// Lines longer than kMaxLineBytes met so far (each was cut to that length).
  std::uint64_t linesCut() const { return linesCut_; }

  /// Counts a record of several lines (a quoted CSV field with line breaks)
  /// that its reader cut at kMaxLineBytes, once however often it is read.
  void countCutRecord();

  /// The identity of the open file, to refuse it as an output by any name.
  FileIdentity identity() const { return {dev_, ino_}; }

 private:
  TextInputStream(int fd, const std::filesystem::path& path, const struct stat& st);
  bool fill();
  bool readRawLine(std::string& out);
  bool appendRawLine(std::string& out);
  // Line buffers larger than this are freed once their line is used.
  static constexpr std::size_t kKeptLineBytes = std::size_t{1} << 20;

  int fd_ = -1;
  std::filesystem::path path_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  timespec mtime_{};
  timespec ctime_{};
  std::uint64_t offset_ = 0;  // of the next read() in the file
  bool changed_ = false;
  std::uint64_t linesCut_ = 0;
  std::uint64_t cutCountedTo_ = 0;  // lines read again after a seek are not counted twice
  std::uint64_t size_ = 0;
  std::uint64_t consumed_ = 0;
  ByteBuffer buf_;
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

/// A buffered text output that remembers whether any write failed, and why.
/// It writes either to a file that replaces its target only on commit, or to
/// a caller's std::ostream.
class TextOutputStream {
 public:
  /// Start of the name of a temporary file after the target's own name:
  /// ".NAME.vadoset-partial-XXXXXX" (the name cut short when it is long).
  /// Where the file system can create unnamed files (O_TMPFILE: ext4, XFS,
  /// Btrfs, tmpfs) the file has no name while it is written, so none is left
  /// when the process is killed; such a name then exists only for the
  /// instant between its link and its rename at the commit.
  static constexpr std::string_view kTempMarker = ".vadoset-partial-";

  /// Creates a temporary file in the folder of `target`; nothing is visible
  /// at the target until commit(). A symbolic link is followed: its final
  /// file is replaced and the link stays. Gives nothing when the file cannot
  /// be created, when the target exists and is not a regular file (a folder,
  /// a FIFO, a device, a process's file under /proc such as /dev/stdout),
  /// which a rename would replace, or when the path leads through another
  /// user's link in a shared sticky folder. `error`, when given, gets the
  /// reason: an errno value, kNotRegularFile or kProtectedSymlink.
  static std::unique_ptr<TextOutputStream> createFile(const std::filesystem::path& target, int* error = nullptr);

  /// Writes to `out`, which must outlive the stream.
  static std::unique_ptr<TextOutputStream> toStream(std::ostream& out);

  ~TextOutputStream();  // an uncommitted temporary file is removed

  /// For a file: the identity of the file that commit() will replace (links
  /// followed), or nothing when there is none yet. Compare it with the
  /// inputs' identities to refuse writing over one of them.
  std::optional<FileIdentity> targetIdentity() const { return targetIdentity_; }

  /// True when both are files that commit() would put at the same place:
  /// the same existing file by any name, or the same new name in the same
  /// folder.
  bool sameTarget(const TextOutputStream& other) const;
  TextOutputStream(const TextOutputStream&) = delete;
  TextOutputStream& operator=(const TextOutputStream&) = delete;

  void Write(std::string_view text) {
    if (text.size() > buf_.size() - used_) {
      writeSlow(text);
      return;
    }
    std::copy(text.begin(), text.end(), buf_.data() + used_);
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
  /// The errno value of the first failure; 0 when there was none or it is
  /// not known.
  int error() const { return error_; }

  /// Flushes and moves the file into place (or flushes the stream). The
  /// file's data reach the disk before the rename, and the rename before
  /// commit returns, so that after a power loss the target holds either the
  /// earlier file or the whole new one. False, with the target untouched,
  /// when anything failed before the rename.
  bool commit();

  /// Drops the temporary file; the target is untouched.
  void abandon();

  /// Same as commit(), for the run's own closing step.
  bool Close() { return commit(); }

 private:
  TextOutputStream() = default;
  void writeSlow(std::string_view text);
  void send(const char* p, std::size_t n);
  void fail(int error);
  void closeFolder();
  bool openNamedTemporary();
  bool linkUnnamed(const std::string& name);
  void placeUnnamed();

  int fd_ = -1;
  std::ostream* out_ = nullptr;
  // The table's folder, open, so that paths near PATH_MAX still work and
  // the folder can be synced after the rename.
  int dirFd_ = -1;
  bool dirSyncable_ = false;
  std::string targetName_;
  std::string tempName_;  // empty while the file has no name
  bool unnamed_ = false;  // created with O_TMPFILE
  std::optional<FileIdentity> folderIdentity_, targetIdentity_;
  std::uint64_t written_ = 0;    // bytes written to the file
  std::uint64_t startedTo_ = 0;  // bytes whose writing to the disk has been started
  class BackgroundSync;
  std::unique_ptr<BackgroundSync> sync_;  // syncs what is written while the run goes on
  bool syncTried_ = false;
  void endBackgroundSync();
  int error_ = 0;
  ByteBuffer buf_{std::size_t{1} << 16};
  std::size_t used_ = 0;
  bool failed_ = false;
  bool done_ = false;
};

}  // namespace vadoset
