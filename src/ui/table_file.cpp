#include "ui/table_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/text.h"

namespace vadoset {

namespace {

constexpr std::size_t kColumnChunk = std::size_t{4} << 20;
constexpr std::size_t kMaxHeaderBytes = std::size_t{1} << 20;

const char* findIn(const char* p, const char* e, char c) {
  const void* f = std::memchr(p, c, static_cast<std::size_t>(e - p));
  return f != nullptr ? static_cast<const char*>(f) : e;
}

// Fills buf as far as the file goes; n gets the bytes read.
bool readFull(int fd, std::vector<char>& buf, std::size_t& n) {
  n = 0;
  while (n < buf.size()) {
    const ssize_t got = ::read(fd, buf.data() + n, buf.size() - n);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    n += static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

// After the first buffer: room for as many lines (and identifiers) as the
// whole file will have if it goes on like its start, so that the arrays do
// not grow, copy and fault their way through a large file.
void LineIndex::reserveFor(std::size_t firstBytes) {
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || st.st_size <= 0) return;
  const double scale = 1.1 * static_cast<double>(st.st_size) / static_cast<double>(firstBytes);
  starts_.reserve(static_cast<std::size_t>(static_cast<double>(starts_.size()) * scale) + 16);
  if (ids_ != nullptr) {
    ids_->reserve(static_cast<std::size_t>(static_cast<double>(ids_->size()) * scale) + 16);
    idEnds_->reserve(starts_.capacity());
  }
}

bool LineIndex::build(int fd, std::string* ids, std::vector<std::uint64_t>* idEnds, std::size_t bufferBytes) {
  fd_ = fd;
  ids_ = ids;
  idEnds_ = idEnds;
  starts_.assign(1, 0);
  if (ids_ != nullptr) {
    ids_->clear();
    idEnds_->assign(1, 0);
  }
  base_ = 0;
  pendingCr_ = false;
  idOpen_ = ids_ != nullptr;
  idBytes_ = 0;
  buf_.resize(std::max<std::size_t>(bufferBytes, 3));  // room for a byte-order mark
  bool finished = false, ok = true;
  while (ok && !finished) ok = readBuffer(finished);
  buf_ = {};
  return ok;
}

bool LineIndex::readBuffer(bool& finished) {
  std::size_t n = 0;
  if (::lseek(fd_, static_cast<off_t>(base_), SEEK_SET) < 0 || !readFull(fd_, buf_, n)) return false;
  if (n == 0) {
    // A last line without a line end is a line too.
    if (starts_.back() < base_) {
      if (idOpen_) idEnds_->push_back(ids_->size());
      starts_.push_back(base_);
    }
    finished = true;
    return true;
  }
  const char* const b = buf_.data();
  const char* p = b;
  const char* const e = b + n;
  if (base_ == 0 && n >= 3 && std::memcmp(b, "\xEF\xBB\xBF", 3) == 0) {
    p += 3;
    starts_[0] = 3;
  }
  if (pendingCr_) {
    pendingCr_ = false;
    if (*p == '\n') starts_.back() = base_ + static_cast<std::uint64_t>(++p - b);
  }
  // The next CR and LF, each found once and looked for again once passed.
  const char* cr = findIn(p, e, '\r');
  const char* lf = findIn(p, e, '\n');
  for (;;) {
    const char* t = std::min(cr, lf);
    if (idOpen_) {
      const char* tab = findIn(p, t, '\t');
      const std::size_t take = std::min(static_cast<std::size_t>(tab - p), kMaxIdBytes - idBytes_);
      ids_->append(p, take);
      idBytes_ += take;
      if (tab != t) {
        idEnds_->push_back(ids_->size());
        idOpen_ = false;
      }
    }
    if (t == e) break;
    if (idOpen_) idEnds_->push_back(ids_->size());
    const char* next = t + 1;
    if (*t == '\r') {
      if (next == e)
        pendingCr_ = true;
      else if (*next == '\n')
        ++next;
    }
    starts_.push_back(base_ + static_cast<std::uint64_t>(next - b));
    idOpen_ = ids_ != nullptr;
    idBytes_ = 0;
    p = next;
    if (cr < p) cr = findIn(p, e, '\r');
    if (lf < p) lf = findIn(p, e, '\n');
  }
  if (base_ == 0 && n == buf_.size()) reserveFor(n);
  base_ += n;
  return true;
}

std::string_view withoutLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

bool readAt(int fd, std::uint64_t offset, std::size_t length, std::string& out) {
  out.resize(length);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t got = ::pread(fd, out.data() + done, length - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

bool ReadOnlyFile::open(const std::filesystem::path& path) {
  close();
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) return true;
  close();
  return false;
}

void ReadOnlyFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

TableFile::~TableFile() {
  close();
}

void TableFile::close() {
  file_.close();
  rows_ = 0;
  columns_.clear();
  ids_.clear();
  idEnds_.clear();
  cache_.clear();
}

std::string TableFile::open(const std::filesystem::path& path) {
  close();
  const std::string name = path.filename().string();
  if (!file_.open(path)) return "The table " + name + " could not be opened.";
  const int fd = file_.fd();
  std::string header;
  if (!lines_.build(fd, &ids_, &idEnds_) ||
      (lines_.lines() > 0 && (lines_.next(0) - lines_.start(0) > kMaxHeaderBytes ||
                              !readAt(fd, lines_.start(0), lines_.next(0) - lines_.start(0), header)))) {
    close();
    return "The table " + name + " could not be read.";
  }
  std::string_view h = withoutLineEnd(header);
  for (std::size_t tab; (tab = h.find('\t')) != std::string_view::npos; h.remove_prefix(tab + 1))
    columns_.emplace_back(h.substr(0, tab));
  columns_.emplace_back(h);
  if (lines_.lines() == 0 || columns_.size() < 2) {
    close();
    return "The file " + name + " is not a table: its first line has no column names.";
  }
  rows_ = lines_.lines() - 1;
  // Blank lines at the end are not rows.
  std::string line;
  while (rows_ > 0 && lines_.next(rows_) - lines_.start(rows_) <= 1024 &&
         readAt(fd, lines_.start(rows_), lines_.next(rows_) - lines_.start(rows_), line) &&
         IsBlank(withoutLineEnd(line)))
    --rows_;
  cache_.reserve(kCachedBlocks);
  return {};
}

const TableFile::Block* TableFile::block(std::size_t r) {
  const std::size_t first = r - r % kBlockRows;
  if (lastBlock_ < cache_.size() && cache_[lastBlock_].first == first) {
    cache_[lastBlock_].lastUse = ++useClock_;
    return &cache_[lastBlock_];
  }
  for (std::size_t i = 0; i < cache_.size(); ++i) {
    if (cache_[i].first == first) {
      cache_[i].lastUse = ++useClock_;
      lastBlock_ = i;
      return &cache_[i];
    }
  }
  Block* b = nullptr;
  if (cache_.size() < kCachedBlocks) {
    b = &cache_.emplace_back();
  } else {
    b = &*std::min_element(cache_.begin(), cache_.end(),
                           [](const Block& x, const Block& y) { return x.lastUse < y.lastUse; });
  }
  b->first = SIZE_MAX;
  const std::size_t end = std::min(first + kBlockRows, rows_);  // rows [first, end), lines + 1
  const std::uint64_t from = lines_.start(first + 1);
  const std::uint64_t bytes = lines_.next(end) - from;
  ++blockReads_;
  if (bytes > std::numeric_limits<std::uint32_t>::max() || !readAt(file_.fd(), from, bytes, b->bytes)) return nullptr;
  b->rowFields.clear();
  b->fieldSpans.clear();
  for (std::size_t k = first; k < end; ++k) {
    b->rowFields.push_back(static_cast<std::uint32_t>(b->fieldSpans.size()));
    const auto lineStart = static_cast<std::uint32_t>(lines_.start(k + 1) - from);
    std::string_view line =
        withoutLineEnd(std::string_view(b->bytes).substr(lineStart, lines_.next(k + 1) - lines_.start(k + 1)));
    std::uint32_t at = lineStart;
    for (;;) {
      const std::size_t tab = line.find('\t');
      const auto length = static_cast<std::uint32_t>(tab == std::string_view::npos ? line.size() : tab);
      b->fieldSpans.emplace_back(at, length);
      if (tab == std::string_view::npos) break;
      line.remove_prefix(tab + 1);
      at += length + 1;
    }
  }
  b->rowFields.push_back(static_cast<std::uint32_t>(b->fieldSpans.size()));
  b->first = first;
  b->lastUse = ++useClock_;
  lastBlock_ = static_cast<std::size_t>(b - cache_.data());
  return b;
}

std::string_view TableFile::field(std::size_t r, std::size_t c) {
  if (r >= rows_) return {};
  const Block* b = block(r);
  if (b == nullptr) return {};
  const std::size_t k = r - b->first;
  const std::size_t i = b->rowFields[k] + c;
  if (i >= b->rowFields[k + 1]) return {};
  return std::string_view(b->bytes).substr(b->fieldSpans[i].first, b->fieldSpans[i].second);
}

bool TableFile::isNull(std::size_t r) {
  if (r >= rows_) return false;
  const Block* b = block(r);
  if (b == nullptr) return false;
  const std::size_t k = r - b->first;
  return b->rowFields[k + 1] - b->rowFields[k] == 2 && field(r, 1) == "*";
}

std::vector<std::vector<double>> TableFile::columnValues(const std::vector<std::size_t>& columns,
                                                         const std::atomic<bool>* cancel) const {
  std::vector<std::vector<double>> values(columns.size(),
                                          std::vector<double>(rows_, std::numeric_limits<double>::quiet_NaN()));
  // Which of the wanted columns each field is, up to the last one wanted.
  std::vector<int> wanted;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (wanted.size() <= columns[i]) wanted.resize(columns[i] + 1, -1);
    wanted[columns[i]] = static_cast<int>(i);
  }
  std::string buf;
  for (std::size_t r = 0; r < rows_ && !(cancel != nullptr && cancel->load(std::memory_order_relaxed));) {
    // As many whole rows as fit in a chunk, and one at least.
    const std::uint64_t from = lines_.start(r + 1);
    std::size_t end = r + 1;
    while (end < rows_ && lines_.next(end + 1) - from <= kColumnChunk) ++end;
    if (!readAt(file_.fd(), from, lines_.next(end) - from, buf)) break;
    for (std::size_t k = r; k < end; ++k) {
      std::string_view line = withoutLineEnd(
          std::string_view(buf).substr(lines_.start(k + 1) - from, lines_.next(k + 1) - lines_.start(k + 1)));
      for (std::size_t c = 0; c < wanted.size(); ++c) {
        const std::size_t tab = line.find('\t');
        if (wanted[c] >= 0)
          if (std::optional<double> v = ParseNumber(line.substr(0, tab))) values[std::size_t(wanted[c])][k] = *v;
        if (tab == std::string_view::npos) break;
        line.remove_prefix(tab + 1);
      }
    }
    r = end;
  }
  return values;
}

}  // namespace vadoset
