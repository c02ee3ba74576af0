#include "platform/text_stream.h"

#include <emmintrin.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <ostream>
#include <system_error>
#include <thread>

#include "platform/text.h"

namespace vadoset {

namespace {
constexpr std::size_t kReadBufferBytes = 1 << 16;

// The first CR or LF in [p, stop), or stop: sixteen bytes at a time.
const char* findLineEnd(const char* p, const char* stop) {
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i cr = _mm_set1_epi8('\r');
  while (stop - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int ends = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)));
    if (ends != 0) return p + __builtin_ctz(static_cast<unsigned>(ends));
    p += 16;
  }
  while (p != stop && *p != '\n' && *p != '\r') ++p;
  return p;
}
}  // namespace

std::string fileErrorCause(int error) {
  switch (error) {
    case 0:
      return {};
    case kNotRegularFile:
      return "it is not a regular file";
    case kProtectedSymlink:
      return "its path goes through a symbolic link that another user owns in a folder everyone may write to; such "
             "links are not followed, as the system's protected_symlinks rule would refuse them";
    case ENOENT:
      return "the folder does not exist";
    case ENOTDIR:
      return "a part of its path is not a folder";
    case EISDIR:
      return "it is a folder";
    case ELOOP:
      return "its path has a loop of symbolic links";
    case EACCES:
    case EPERM:
      return "permission denied";
    case ENOSPC:
      return "no space left on the device";
    case EDQUOT:
      return "the disk quota is used up";
    case EFBIG:
      return "the file size limit was reached";
    case EROFS:
      return "the file system is read-only";
    case ENAMETOOLONG:
      return "the name is too long";
    case EIO:
      return "an input/output error occurred";
    case EMFILE:
    case ENFILE:
      return "too many files are open";
    default: {
      std::string text = std::strerror(error);
      if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] - 'A' + 'a');
      return text;
    }
  }
}

std::string withCause(std::string_view message, std::string_view cause) {
  std::string text(message);
  if (cause.empty()) return text;
  if (!text.empty() && text.back() == '.') text.pop_back();
  text += ": ";
  text += cause;
  text += '.';
  return text;
}

std::string withCause(std::string_view message, int error) {
  return withCause(message, fileErrorCause(error));
}

std::unique_ptr<TextInputStream> TextInputStream::open(const std::filesystem::path& path, int* error) {
  int ignored = 0;
  int& why = error != nullptr ? *error : ignored;
  why = 0;
  // O_NONBLOCK keeps open() from waiting on a FIFO with no writer; such a
  // file is refused just below anyway.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    why = errno;
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    why = S_ISDIR(st.st_mode) ? EISDIR : kNotRegularFile;
    ::close(fd);
    return nullptr;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::unique_ptr<TextInputStream> s(new TextInputStream(fd, path, st));
  // A UTF-8 byte-order mark is not part of the first line.
  if (s->fill() && s->end_ - s->pos_ >= 3 && std::memcmp(&s->buf_[s->pos_], "\xEF\xBB\xBF", 3) == 0) {
    s->pos_ += 3;
    s->consumed_ += 3;
  }
  return s;
}

TextInputStream::TextInputStream(int fd, const std::filesystem::path& path, const struct stat& st)
    : fd_(fd),
      path_(path),
      dev_(st.st_dev),
      ino_(st.st_ino),
      mtime_(st.st_mtim),
      ctime_(st.st_ctim),
      size_(static_cast<std::uint64_t>(st.st_size)),
      buf_(kReadBufferBytes) {}

TextInputStream::~TextInputStream() {
  Close();
}

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
      offset_ += static_cast<std::uint64_t>(n);
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    atEnd_ = true;
    if (n < 0)
      readError_ = true;
    else
      checkUnchanged();
    return false;
  }
}

// A file cut short (or cut and written again), or one replaced at its path,
// would pass for a normal end.
bool TextInputStream::checkUnchanged() {
  if (fd_ < 0 || changed_) return changed_;
  struct stat now {};
  if (::fstat(fd_, &now) != 0) return changed_;
  const auto length = static_cast<std::uint64_t>(now.st_size);
  // A write moves the change time even when the modification time is set
  // back afterwards (touch -d, an editor that keeps it); only the clock can.
  auto moved = [](const timespec& a, const timespec& b) { return a.tv_sec != b.tv_sec || a.tv_nsec != b.tv_nsec; };
  if (length < std::min(size_, offset_) || (atEnd_ && offset_ < size_) || moved(now.st_mtim, mtime_) ||
      moved(now.st_ctim, ctime_))
    changed_ = true;
  struct stat atPath {};
  if (::stat(path_.c_str(), &atPath) == 0 && (atPath.st_dev != dev_ || atPath.st_ino != ino_)) changed_ = true;
  return changed_;
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
  bool cut = false;
  for (;;) {
    const char* start = buf_.data() + pos_;
    const char* stop = buf_.data() + end_;
    const char* eol = findLineEnd(start, stop);
    std::size_t take = static_cast<std::size_t>(eol - start);
    const std::size_t have = out.size() - first;
    const std::size_t room = kMaxLineBytes - have;
    if (take > room && !cut) {
      cut = true;
      // A line read again after onlyBlankLinesLeft seeks back counts once.
      if (consumed_ + room >= cutCountedTo_) {
        ++linesCut_;
        cutCountedTo_ = consumed_ + room + 1;
      }
    }
    const std::size_t n = std::min(take, room);
    // Grow by doubling, but never past what the longest line can need
    // (std::string's own reserve would double past it).
    if (n > 0 && out.size() + n > out.capacity()) {
      std::string grown;
      grown.reserve(std::min(std::max(out.capacity() * 2, out.size() + n), first + kMaxLineBytes));
      grown.append(out);
      out.swap(grown);
    }
    out.append(start, n);
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

void TextInputStream::countCutRecord() {
  if (consumed_ >= cutCountedTo_) {
    ++linesCut_;
    cutCountedTo_ = consumed_ + 1;
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

bool TextInputStream::Eof() {
  return !haveLookahead_ && !fill();
}

void TextInputStream::seek(std::uint64_t offset) {
  haveLookahead_ = false;
  knownRecordLines_ = 0;
  seekTo(offset);
}

void TextInputStream::seekTo(std::uint64_t offset) {
  pos_ = end_ = 0;
  atEnd_ = false;
  consumed_ = offset;
  offset_ = offset;
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
    readError_ = true;
    atEnd_ = true;
  }
}

bool TextInputStream::onlyBlankLinesLeft() {
  if (haveLookahead_ || knownRecordLines_ > 0) return false;
  // Most lines lie whole in the buffer: a record there is looked at where
  // it stands, and copied once, by appendLine.
  if (fill()) {
    const char* start = buf_.data() + pos_;
    const char* stop = buf_.data() + end_;
    const char* eol = findLineEnd(start, stop);
    const std::string_view line(start, static_cast<std::size_t>(eol - start));
    if (eol != stop && !IsBlank(line)) {
      nextLineBytes_ = line.size();
      return false;
    }
  }
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

namespace {

constexpr decltype(statfs::f_type) kProcFileSystem = 0x9fa0;  // PROC_SUPER_MAGIC

// True when the kernel's protected_symlinks rule refuses to follow a link
// owned by `owner` in `folder`: a sticky folder that everyone may write to
// (/tmp), and the link belongs neither to the folder's owner nor to us.
bool protectedLink(const std::filesystem::path& folder, uid_t owner) {
  struct stat st {};
  if (::stat(folder.empty() ? "." : folder.c_str(), &st) != 0) return false;
  return (st.st_mode & S_ISVTX) != 0 && (st.st_mode & S_IWOTH) != 0 && owner != st.st_uid && owner != ::geteuid();
}

// Puts the parts of the link at `link`, in `folder` and owned by `owner`, in
// front of those still to walk; or gives why it may not be followed.
int followLink(const std::filesystem::path& folder, const std::filesystem::path& link, uid_t owner,
               std::deque<std::string>& parts) {
  if (protectedLink(folder, owner)) return kProtectedSymlink;
  // /dev/stdout leads to /proc/self/fd/1: a link in /proc names what a
  // process has open, and the table must not be renamed over it.
  struct statfs fs {};
  if (parts.empty() && ::statfs(folder.empty() ? "." : folder.c_str(), &fs) == 0 && fs.f_type == kProcFileSystem)
    return kNotRegularFile;
  std::error_code ec;
  const std::filesystem::path target = std::filesystem::read_symlink(link, ec);
  if (ec) return ec.value();
  std::vector<std::string> targetParts;
  for (const std::filesystem::path& part : target) targetParts.push_back(part.string());
  parts.insert(parts.begin(), targetParts.begin(), targetParts.end());
  return 0;
}

// Follows symbolic links in every part of `path`, as the kernel would, to the
// file that a rename must replace. The program follows them itself, so the
// kernel's protection of shared folders is applied here too, whether or not
// the system enables it. Gives 0 (path then holds no link and leads to a
// regular file or to nothing yet), or why it may not be replaced.
int resolveTarget(std::filesystem::path& path) {
  std::deque<std::string> parts;  // still to walk
  for (const std::filesystem::path& part : path) parts.push_back(part.string());
  std::filesystem::path walked;  // holds no link
  for (int hops = 0; !parts.empty();) {
    const std::string part = std::move(parts.front());
    parts.pop_front();
    if (part == "/") {
      walked = "/";
      continue;
    }
    if (part.empty() || part == ".") continue;
    const std::filesystem::path next = walked / part;
    struct stat st {};
    if (::lstat(next.c_str(), &st) != 0) {
      if (errno != ENOENT || !parts.empty()) return errno;
      path = next;  // a new file
      return 0;
    }
    if (S_ISLNK(st.st_mode)) {
      if (++hops > 40) return ELOOP;
      if (const int why = followLink(walked, next, st.st_uid, parts); why != 0) return why;
      continue;
    }
    if (parts.empty()) {
      path = next;
      return S_ISREG(st.st_mode) ? 0 : S_ISDIR(st.st_mode) ? EISDIR : kNotRegularFile;
    }
    if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    walked = next;
  }
  return EISDIR;  // "/", "." and the like
}

// The first `max` bytes of a name, not ending inside a UTF-8 sequence.
std::string cutName(const std::string& name, std::size_t max) {
  if (name.size() <= max) return name;
  std::size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
  return name.substr(0, n);
}

// Six letters or digits for a temporary name.
std::string randomSuffix() {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[6];
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    auto t = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    t ^= static_cast<std::uint64_t>(::getpid()) << 32;
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(t >>= 7);
  }
  std::string s;
  for (unsigned char b : bytes) s += kChars[b % 62];
  return s;
}

}  // namespace

std::unique_ptr<TextOutputStream> TextOutputStream::createFile(const std::filesystem::path& target, int* error) {
  int ignored = 0;
  int& why = error != nullptr ? *error : ignored;
  why = 0;
  std::filesystem::path path = target;
  if (path.filename().empty()) {
    why = EISDIR;
    return nullptr;
  }
  // The finished table replaces its target by a rename, which would put a
  // regular file in the place of a FIFO, a device (for root, even of
  // /dev/null) or a link. Only a regular file, or nothing, may be replaced.
  if ((why = resolveTarget(path)) != 0) return nullptr;

  std::unique_ptr<TextOutputStream> s(new TextOutputStream());
  const std::filesystem::path dir = path.parent_path().empty() ? "." : path.parent_path();
  s->dirFd_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  s->dirSyncable_ = s->dirFd_ >= 0;
  // A folder that may be written but not listed can still take the table.
  if (s->dirFd_ < 0 && errno == EACCES) s->dirFd_ = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (s->dirFd_ < 0) {
    why = errno;
    s->done_ = true;
    return nullptr;
  }
  s->targetName_ = path.filename().string();
  struct stat st {};
  if (::fstat(s->dirFd_, &st) == 0) s->folderIdentity_ = FileIdentity{st.st_dev, st.st_ino};
  if (::fstatat(s->dirFd_, s->targetName_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
    s->targetIdentity_ = FileIdentity{st.st_dev, st.st_ino};
  // An unnamed file leaves nothing behind when the process is killed. It is
  // given its name at the commit through /proc, which must be there.
  s->fd_ = ::openat(s->dirFd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (s->fd_ >= 0 && ::access(("/proc/self/fd/" + std::to_string(s->fd_)).c_str(), F_OK) != 0) {
    ::close(s->fd_);
    s->fd_ = -1;
  }
  s->unnamed_ = s->fd_ >= 0;
  // Elsewhere (file systems without O_TMPFILE), a named temporary file.
  if (!s->unnamed_ && !s->openNamedTemporary()) {
    why = errno;
    s->done_ = true;
    return nullptr;
  }
  return s;
}

namespace {

// ".NAME.vadoset-partial-XXXXXX" for a file in the folder of NAME, within the
// 255 bytes a file name may have. Names are relative to the open folder, so
// a temporary file's path never grows past PATH_MAX.
std::string temporaryName(const std::string& targetName) {
  constexpr std::size_t kNameMax = 255, kRandom = 6;
  std::string name = ".";
  name += cutName(targetName, kNameMax - 1 - TextOutputStream::kTempMarker.size() - kRandom);
  name += TextOutputStream::kTempMarker;
  return name + randomSuffix();
}

}  // namespace

// mkostemp wants the whole path; the same with openat and O_EXCL.
bool TextOutputStream::openNamedTemporary() {
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempName_ = temporaryName(targetName_);
    fd_ = ::openat(dirFd_, tempName_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) return true;
    if (errno != EEXIST) break;
  }
  tempName_.clear();
  return false;
}

// Gives the unnamed file a name in the folder; false (errno set) when the
// name is taken or the link fails.
bool TextOutputStream::linkUnnamed(const std::string& name) {
  const std::string proc = "/proc/self/fd/" + std::to_string(fd_);
  if (::linkat(AT_FDCWD, proc.c_str(), dirFd_, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
  if (errno != ENOENT) return false;
  // /proc went away since the file was made: a privileged process can
  // still link the descriptor itself.
  return ::linkat(fd_, "", dirFd_, name.c_str(), AT_EMPTY_PATH) == 0;
}

// A new name is made at once, whole. A file already there is replaced by a
// rename from a name of our own, which lives only for that instant; the
// rename follows in commit().
void TextOutputStream::placeUnnamed() {
  if (linkUnnamed(targetName_)) return;
  if (errno != EEXIST) return fail(errno);
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempName_ = temporaryName(targetName_);
    if (linkUnnamed(tempName_)) return;
    if (errno != EEXIST) break;
  }
  tempName_.clear();
  fail(errno);
}

bool TextOutputStream::sameTarget(const TextOutputStream& other) const {
  if (out_ != nullptr || other.out_ != nullptr) return false;
  if (targetIdentity_ || other.targetIdentity_) return targetIdentity_ == other.targetIdentity_;
  return folderIdentity_ && folderIdentity_ == other.folderIdentity_ && targetName_ == other.targetName_;
}

std::unique_ptr<TextOutputStream> TextOutputStream::toStream(std::ostream& out) {
  std::unique_ptr<TextOutputStream> s(new TextOutputStream());
  s->out_ = &out;
  return s;
}

// A thread that syncs the file's data to the disk when asked, while the run
// goes on writing: the journal commits and the waits for the disk then fall
// within the run, and the fsync of the commit has only the last few
// megabytes left. It takes no signals: they go to the run's own threads.
class TextOutputStream::BackgroundSync {
 public:
  explicit BackgroundSync(int fd) {
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    try {
      thread_ = std::thread([this, fd] { loop(fd); });
    } catch (...) {
      pthread_sigmask(SIG_SETMASK, &old, nullptr);
      throw;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
  }
  ~BackgroundSync() { finish(); }
  BackgroundSync(const BackgroundSync&) = delete;
  BackgroundSync& operator=(const BackgroundSync&) = delete;

  void request() {
    {
      std::lock_guard lock(mu_);
      ++wanted_;
    }
    cv_.notify_one();
  }
  /// Waits for a sync under way, ends the thread, and gives the errno value
  /// of the first sync that failed (0: none did).
  int finish() {
    {
      std::lock_guard lock(mu_);
      stop_ = true;
    }
    cv_.notify_one();
    if (thread_.joinable()) thread_.join();
    return error_;
  }

 private:
  void loop(int fd) {
    std::unique_lock lock(mu_);
    for (;;) {
      cv_.wait(lock, [&] { return stop_ || wanted_ != done_; });
      if (stop_) return;
      const std::uint64_t wanted = wanted_;
      lock.unlock();
      const int error = ::fdatasync(fd) == 0 ? 0 : errno;
      lock.lock();
      done_ = wanted;
      if (error != 0 && error_ == 0) error_ = error;
    }
  }

  std::mutex mu_;
  std::condition_variable cv_;
  std::uint64_t wanted_ = 0, done_ = 0;
  bool stop_ = false;
  int error_ = 0;
  std::thread thread_;
};

// A failed background sync fails the file: the error may not be reported
// again by the fsync of the commit.
void TextOutputStream::endBackgroundSync() {
  if (sync_ == nullptr) return;
  const int error = sync_->finish();
  sync_.reset();
  if (error != 0) fail(error);
}

TextOutputStream::~TextOutputStream() {
  if (!done_) abandon();
  closeFolder();
}

void TextOutputStream::fail(int error) {
  if (!failed_) error_ = error;
  failed_ = true;
}

void TextOutputStream::closeFolder() {
  if (dirFd_ >= 0) ::close(dirFd_);
  dirFd_ = -1;
}

void TextOutputStream::writeSlow(std::string_view text) {
  // A long text (a block of rows) goes straight out after what is buffered,
  // with no copy through the buffer.
  if (text.size() >= buf_.size() / 4) {
    flush();
    if (!failed_) send(text.data(), text.size());
    return;
  }
  while (!text.empty()) {
    if (used_ == buf_.size()) flush();
    std::size_t n = std::min(text.size(), buf_.size() - used_);
    std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), buf_.data() + used_);
    used_ += n;
    text.remove_prefix(n);
  }
}

bool TextOutputStream::flush() {
  if (used_ > 0 && !failed_) send(buf_.data(), used_);
  used_ = 0;
  return !failed_;
}

void TextOutputStream::send(const char* p, std::size_t left) {
  if (out_ != nullptr) {
    errno = 0;  // a failed stream keeps the write's errno, when it has one
    out_->write(p, static_cast<std::streamsize>(left));
    if (!*out_) fail(errno);
  } else if (fd_ >= 0) {
    while (left > 0) {
      ssize_t n = ::write(fd_, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        fail(n < 0 ? errno : 0);
        break;
      }
      p += n;
      left -= static_cast<std::size_t>(n);
      written_ += static_cast<std::uint64_t>(n);
    }
    // Start writing each 8 MiB to the disk now, while the run computes, so
    // that the fsync of the commit waits for the last few only.
    constexpr std::uint64_t kWriteBehind = 8u << 20;
    if (written_ - startedTo_ >= kWriteBehind) {
      ::sync_file_range(fd_, static_cast<off_t>(startedTo_), static_cast<off_t>(written_ - startedTo_),
                        SYNC_FILE_RANGE_WRITE);
      startedTo_ = written_;
      if (!syncTried_) {
        syncTried_ = true;
        try {
          sync_ = std::make_unique<BackgroundSync>(fd_);
        } catch (const std::system_error&) {
          // No thread to be had: the commit's fsync does it all.
        }
      }
      if (sync_ != nullptr) sync_->request();
    }
  } else {
    fail(0);
  }
}

bool TextOutputStream::commit() {
  if (done_) return !failed_;
  flush();
  if (out_ != nullptr) {
    errno = 0;
    out_->flush();
    if (!*out_) fail(errno);
    done_ = true;
    return !failed_;
  }
  // The data reach the disk before the name does: after a power loss the
  // target holds the earlier file or the whole new one, never a short one.
  bool placed = false;  // at the target already, by its link
  if (fd_ >= 0) {
    endBackgroundSync();
    if (!failed_ && ::fsync(fd_) != 0) fail(errno);
    if (unnamed_ && !failed_) {
      placeUnnamed();
      placed = !failed_ && tempName_.empty();
    }
    if (::close(fd_) != 0) fail(errno);
    fd_ = -1;
  }
  if (!failed_ && !placed && ::renameat(dirFd_, tempName_.c_str(), dirFd_, targetName_.c_str()) != 0) fail(errno);
  if (failed_) {
    if (!tempName_.empty()) ::unlinkat(dirFd_, tempName_.c_str(), 0);
    if (placed) ::unlinkat(dirFd_, targetName_.c_str(), 0);
  } else if (dirSyncable_ && ::fsync(dirFd_) != 0 && errno != EINVAL) {
    // The table is in place, but its name may not survive a power loss.
    fail(errno);
  }
  closeFolder();
  done_ = true;
  return !failed_;
}

void TextOutputStream::abandon() {
  if (done_) return;
  if (fd_ >= 0) {
    sync_.reset();  // waits for a sync under way: its descriptor is about to close
    ::close(fd_);
    fd_ = -1;
    // An unnamed file goes with its descriptor.
    if (!tempName_.empty()) ::unlinkat(dirFd_, tempName_.c_str(), 0);
  }
  closeFolder();
  used_ = 0;
  done_ = true;
}

}  // namespace vadoset
