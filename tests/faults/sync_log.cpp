// Preloaded into vadoset-cli by the durability test: logs fsync, link and
// rename calls, in order, with the names they make, to the file named by
// VADOSET_SYNC_LOG. With VADOSET_NO_TMPFILE set it refuses unnamed files
// (O_TMPFILE), as a file system without them does; with VADOSET_FAIL_DATASYNC
// set, fdatasync fails with EIO, as on a disk that fails.

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
void note(const std::string& what) {
  const char* path = std::getenv("VADOSET_SYNC_LOG");
  if (path == nullptr) return;
  const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  (void)!::write(fd, what.data(), what.size());
  ::close(fd);
}
std::string base(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}
template <typename F>
F next(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}
}  // namespace

extern "C" int fsync(int fd) {
  struct stat st {};
  note(::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) ? "fsync folder\n" : "fsync file\n");
  return next<int (*)(int)>("fsync")(fd);
}
extern "C" int fdatasync(int fd) {
  if (std::getenv("VADOSET_FAIL_DATASYNC") != nullptr) {
    errno = EIO;
    return -1;
  }
  return next<int (*)(int)>("fdatasync")(fd);
}
extern "C" int rename(const char* from, const char* to) {
  note("rename " + base(from) + " " + base(to) + "\n");
  return next<int (*)(const char*, const char*)>("rename")(from, to);
}
extern "C" int renameat(int fromDir, const char* from, int toDir, const char* to) {
  note("rename " + base(from) + " " + base(to) + "\n");
  return next<int (*)(int, const char*, int, const char*)>("renameat")(fromDir, from, toDir, to);
}
extern "C" int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) {
  note("link " + base(to) + "\n");
  return next<int (*)(int, const char*, int, const char*, int)>("linkat")(fromDir, from, toDir, to, flags);
}
extern "C" int openat(int dir, const char* path, int flags, ...) {
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  if ((flags & O_TMPFILE) == O_TMPFILE && std::getenv("VADOSET_NO_TMPFILE") != nullptr) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return next<int (*)(int, const char*, int, ...)>("openat")(dir, path, flags, mode);
}
