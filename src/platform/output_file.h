#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <streambuf>

namespace vadoset {

/// A file's identity: two names (through symbolic or hard links), or a name
/// and an open descriptor, with equal identities lead to one file.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

/// The identity of the file at `path`, symbolic links followed; nothing when
/// no file is there or it cannot be reached.
std::optional<FileIdentity> fileIdentity(const std::filesystem::path& path);

/// The identity of the file open on `fd` (standard output is 1); nothing
/// when fd is not open.
std::optional<FileIdentity> fileIdentity(int fd);

/// True when `fd` is open on a regular file (standard output redirected to a
/// file, `> out.txt` or `>> log`), as opposed to a terminal, pipe or FIFO.
bool isRegularFile(int fd);

/// A stream buffer that writes to a descriptor with write(2): standard
/// output for `-o -` and `--null-report -`. Writes interrupted by a signal
/// go on, and so does a descriptor that another program made non-blocking,
/// until `stop` is set: from then on the descriptor has a moment
/// (kStopGraceMs without taking a byte) to take the rest, and is then given
/// up with errno EINTR; once `dropRest` is nonzero (a stop that keeps
/// nothing, such as SIGTERM) it is given up at once. So a signal ends a run
/// that is blocked writing to a pipe, a FIFO or a terminal that nobody
/// reads, and Ctrl+C still delivers the last rows to a reader that is
/// there. To such outputs only what they can take without blocking is
/// written, after poll(2), so that no stop can come between the test of the
/// flags and a write that would then block for ever. A failed write fails
/// every later one; the stream's badbit is set and errno holds the cause.
class DescriptorBuf : public std::streambuf {
 public:
  static constexpr int kStopGraceMs = 1000;
  /// How often a wait for a blocked output looks at the flags (a signal
  /// ends the wait sooner when handlers are installed without SA_RESTART).
  static constexpr int kPollMs = 100;

  /// `fd` stays open and is not owned; the flags, when given, must outlive
  /// the buffer.
  explicit DescriptorBuf(int fd, const std::atomic<bool>* stop = nullptr, const std::atomic<int>* dropRest = nullptr);
  ~DescriptorBuf() override;
  DescriptorBuf(const DescriptorBuf&) = delete;
  DescriptorBuf& operator=(const DescriptorBuf&) = delete;

  /// The errno value of the first failed write, or 0.
  int error() const { return error_; }

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  bool send(const char* p, std::size_t n);
  bool drain();

  std::size_t takesNow();

  int fd_;
  enum class Kind { Plain, Pipe, Other } kind_;  // Plain: files and devices that never block
  std::size_t pipeBytes_ = 0;                    // a pipe's capacity
  const std::atomic<bool>* stop_;
  const std::atomic<int>* dropRest_;
  int error_ = 0;
  char buf_[4096];
};

}  // namespace vadoset
