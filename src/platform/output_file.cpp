#include "platform/output_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

namespace vadoset {

std::optional<FileIdentity> fileIdentity(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino};
}

std::optional<FileIdentity> fileIdentity(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino};
}

bool isRegularFile(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

DescriptorBuf::DescriptorBuf(int fd, const std::atomic<bool>* stop, const std::atomic<int>* dropRest)
    : fd_(fd), kind_(Kind::Other), stop_(stop), dropRest_(dropRest) {
  setp(buf_, buf_ + sizeof buf_);
  struct stat st {};
  if (::fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || (S_ISCHR(st.st_mode) && ::isatty(fd) == 0))) {
    kind_ = Kind::Plain;  // /dev/null, /dev/full
  } else if (S_ISFIFO(st.st_mode)) {
    const int bytes = ::fcntl(fd, F_GETPIPE_SZ);
    kind_ = Kind::Pipe;
    pipeBytes_ = bytes > 0 ? static_cast<std::size_t>(bytes) : 0;
  }
}

DescriptorBuf::~DescriptorBuf() {
  drain();
}

// After poll gave POLLOUT: how much a write can take without blocking. An
// empty pipe takes its whole capacity; one with bytes in it at least
// PIPE_BUF (one free page); a terminal or socket some room, taken as
// PIPE_BUF.
std::size_t DescriptorBuf::takesNow() {
  int queued = 0;
  if (kind_ == Kind::Pipe && pipeBytes_ > PIPE_BUF && ::ioctl(fd_, FIONREAD, &queued) == 0 && queued == 0)
    return pipeBytes_;
  return PIPE_BUF;
}

bool DescriptorBuf::send(const char* p, std::size_t n) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point lastTaken = Clock::now();  // for the grace after a stop
  while (n > 0) {
    if (error_ != 0) {
      errno = error_;
      return false;
    }
    if (dropRest_ != nullptr && dropRest_->load(std::memory_order_relaxed) != 0) {
      error_ = EINTR;
      continue;
    }
    const bool stopping = stop_ != nullptr && stop_->load(std::memory_order_relaxed);
    if (stopping && Clock::now() - lastTaken >= std::chrono::milliseconds(kStopGraceMs)) {
      error_ = EINTR;
      continue;
    }
    std::size_t chunk = n;
    if (kind_ != Kind::Plain) {
      pollfd ready{fd_, POLLOUT, 0};
      const int r = ::poll(&ready, 1, kPollMs);
      if (r == 0 || (r < 0 && errno == EINTR)) continue;  // the flags are seen again
      if (r < 0) {
        error_ = errno;
        continue;
      }
      chunk = std::min(n, takesNow());
    }
    const ssize_t k = ::write(fd_, p, chunk);
    if (k > 0) {
      p += k;
      n -= static_cast<std::size_t>(k);
      lastTaken = Clock::now();
    } else if (k < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A signal, or no room in an output that another program made
      // non-blocking: the flags are seen again, and poll waits for room.
      if (kind_ == Kind::Plain && errno != EINTR) kind_ = Kind::Other;
    } else {
      error_ = k < 0 ? errno : EIO;
    }
  }
  return true;
}

bool DescriptorBuf::drain() {
  const auto n = static_cast<std::size_t>(pptr() - pbase());
  setp(buf_, buf_ + sizeof buf_);
  return n == 0 ? error_ == 0 : send(buf_, n);
}

DescriptorBuf::int_type DescriptorBuf::overflow(int_type c) {
  if (!drain()) return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

std::streamsize DescriptorBuf::xsputn(const char* s, std::streamsize n) {
  const auto count = static_cast<std::size_t>(n);
  if (count <= static_cast<std::size_t>(epptr() - pptr())) {
    std::memcpy(pptr(), s, count);
    pbump(static_cast<int>(count));
    return n;
  }
  if (!drain()) return 0;
  if (count < sizeof buf_) {
    std::memcpy(pptr(), s, count);
    pbump(static_cast<int>(count));
    return n;
  }
  return send(s, count) ? n : 0;
}

int DescriptorBuf::sync() {
  return drain() ? 0 : -1;
}

}  // namespace vadoset
