#include "platform/text_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ostream>

#include "platform/text.h"

namespace vadoset {

namespace {
constexpr std::size_t kReadBufferBytes = 1 << 16;
}

std::unique_ptr<TextInputStream> TextInputStream::open(const std::filesystem::path& path) {
  // O_NONBLOCK keeps open() from waiting on a FIFO with no writer; such a
  // file is refused just below anyway.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::unique_ptr<TextInputStream> s(new TextInputStream(fd, static_cast<std::uint64_t>(st.st_size)));
  // A UTF-8 byte-order mark is not part of the first line.
  if (s->fill() && s->end_ - s->pos_ >= 3 && std::memcmp(&s->buf_[s->pos_], "\xEF\xBB\xBF", 3) == 0) {
    s->pos_ += 3;
    s->consumed_ += 3;
  }
  return s;
}

TextInputStream::TextInputStream(int fd, std::uint64_t size) : fd_(fd), size_(size), buf_(kReadBufferBytes) {}

TextInputStream::~TextInputStream() { Close(); }

void TextInputStream::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

// Makes at least one unread byte available; false at the end of the file.
bool TextInputStream::fill() {
  if (pos_ < end_) return true;
  if (atEnd_ || fd_ < 0) return false;
  // The first read may hold fewer than 3 bytes of a BOM; keep reading until
  // the buffer has some bytes or the file ends.
  pos_ = end_ = 0;
  for (;;) {
    ssize_t n = ::read(fd_, buf_.data(), buf_.size());
    if (n > 0) {
      end_ = static_cast<std::size_t>(n);
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) readError_ = true;
    atEnd_ = true;
    return false;
  }
}

bool TextInputStream::readRawLine(std::string& out) {
  // A buffer that once held a very long line gives its memory back.
  if (out.capacity() > kKeptLineBytes) std::string().swap(out);
  out.clear();
  return appendRawLine(out);
}

bool TextInputStream::appendRawLine(std::string& out) {
  const std::size_t first = out.size();
  if (!fill()) return false;
  for (;;) {
    const char* start = buf_.data() + pos_;
    const char* stop = buf_.data() + end_;
    const char* eol = start;
    while (eol != stop && *eol != '\n' && *eol != '\r') ++eol;
    std::size_t take = static_cast<std::size_t>(eol - start);
    const std::size_t have = out.size() - first;
    if (have < kMaxLineBytes) {
      const std::size_t n = std::min(take, kMaxLineBytes - have);
      // Grow by doubling, but never past what the longest line can need
      // (std::string's own reserve would double past it).
      if (out.size() + n > out.capacity()) {
        std::string grown;
        grown.reserve(std::min(std::max(out.capacity() * 2, out.size() + n), first + kMaxLineBytes));
        grown.append(out);
        out.swap(grown);
      }
      out.append(start, n);
    }
    pos_ += take;
    consumed_ += take;
    if (eol != stop) {
      char c = *eol;
      ++pos_;
      ++consumed_;
      if (c == '\r' && fill() && buf_[pos_] == '\n') {
        ++pos_;
        ++consumed_;
      }
      return true;
    }
    if (!fill()) return true;  // last line without an ending
  }
}

const std::string& TextInputStream::ReadLine() {
  if (knownRecordLines_ > 0) --knownRecordLines_;
  if (haveLookahead_) {
    haveLookahead_ = false;
    line_.swap(lookahead_);
    return line_;
  }
  readRawLine(line_);
  return line_;
}

void TextInputStream::appendLine(std::string& out) {
  if (knownRecordLines_ > 0) --knownRecordLines_;
  if (haveLookahead_) {
    haveLookahead_ = false;
    out.append(lookahead_);
    if (lookahead_.capacity() > kKeptLineBytes) std::string().swap(lookahead_);
    return;
  }
  appendRawLine(out);
}

bool TextInputStream::Eof() { return !haveLookahead_ && !fill(); }

void TextInputStream::seekTo(std::uint64_t offset) {
  pos_ = end_ = 0;
  atEnd_ = false;
  consumed_ = offset;
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
    readError_ = true;
    atEnd_ = true;
  }
}

bool TextInputStream::onlyBlankLinesLeft() {
  if (haveLookahead_ || knownRecordLines_ > 0) return false;
  const std::uint64_t start = consumed_;
  std::uint64_t blanks = 0;
  while (readRawLine(lookahead_)) {
    nextLineBytes_ = lookahead_.size();
    if (IsBlank(lookahead_)) {
      ++blanks;
      continue;
    }
    if (blanks == 0 && lookahead_.size() <= kKeptLineBytes) {
      haveLookahead_ = true;
      return false;
    }
    // Blank lines followed by a record are records too, and keep their text:
    // read them again from where they start. Only their count is kept, so a
    // long run of blank lines costs no memory; nor does a very long line,
    // which is read again rather than kept twice.
    seekTo(start);
    knownRecordLines_ = blanks + 1;
    if (lookahead_.capacity() > kKeptLineBytes) std::string().swap(lookahead_);
    return false;
  }
  return true;  // the end of the file, or a read error that fails the run
}

std::unique_ptr<TextOutputStream> TextOutputStream::createFile(const std::filesystem::path& target) {
  if (target.filename().empty()) return nullptr;
  // The temporary name is the target's with a dot before and a suffix after,
  // cut short so that it stays within the 255 bytes a file name may have.
  constexpr std::size_t kNameMax = 255;
  constexpr std::string_view kSuffix = ".partXXXXXX";
  std::string name = target.filename().string().substr(0, kNameMax - 1 - kSuffix.size());
  std::string tmpl = (target.parent_path() / ("." + name + std::string(kSuffix))).string();
  // The finished table replaces its target by a rename, which would put a
  // regular file in the place of a FIFO or a device (for root, even in the
  // place of /dev/null). Only a regular file, or nothing, may be replaced.
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return nullptr;
  int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
  if (fd < 0) return nullptr;
  // mkostemp makes the file private; give it the mode a newly created file
  // would have.
  mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  std::unique_ptr<TextOutputStream> s(new TextOutputStream());
  s->fd_ = fd;
  s->target_ = target;
  s->temp_ = tmpl;
  return s;
}

std::unique_ptr<TextOutputStream> TextOutputStream::toStream(std::ostream& out) {
  std::unique_ptr<TextOutputStream> s(new TextOutputStream());
  s->out_ = &out;
  return s;
}

TextOutputStream::~TextOutputStream() {
  if (!done_) abandon();
}

void TextOutputStream::writeSlow(std::string_view text) {
  while (!text.empty()) {
    if (used_ == buf_.size()) flush();
    std::size_t n = std::min(text.size(), buf_.size() - used_);
    std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n),
              buf_.begin() + static_cast<std::ptrdiff_t>(used_));
    used_ += n;
    text.remove_prefix(n);
  }
}

bool TextOutputStream::flush() {
  if (used_ == 0 || failed_) {
    used_ = 0;
    return !failed_;
  }
  if (out_ != nullptr) {
    out_->write(buf_.data(), static_cast<std::streamsize>(used_));
    if (!*out_) failed_ = true;
  } else if (fd_ >= 0) {
    const char* p = buf_.data();
    std::size_t left = used_;
    while (left > 0) {
      ssize_t n = ::write(fd_, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        failed_ = true;
        break;
      }
      p += n;
      left -= static_cast<std::size_t>(n);
    }
  } else {
    failed_ = true;
  }
  used_ = 0;
  return !failed_;
}

bool TextOutputStream::commit() {
  if (done_) return !failed_;
  flush();
  if (out_ != nullptr) {
    out_->flush();
    if (!*out_) failed_ = true;
    done_ = true;
    return !failed_;
  }
  if (fd_ >= 0) {
    if (::close(fd_) != 0) failed_ = true;
    fd_ = -1;
  }
  if (!failed_ && ::rename(temp_.c_str(), target_.c_str()) != 0) failed_ = true;
  if (failed_) ::unlink(temp_.c_str());
  done_ = true;
  return !failed_;
}

void TextOutputStream::abandon() {
  if (done_) return;
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
    ::unlink(temp_.c_str());
  }
  used_ = 0;
  done_ = true;
}

}  // namespace vadoset
