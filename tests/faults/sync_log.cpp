// Preloaded into vadoset-cli by the durability test: logs fsync and rename
// calls, in order, to the file named by VADOSET_SYNC_LOG.

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {
void note(const char* what) {
  const char* path = std::getenv("VADOSET_SYNC_LOG");
  if (path == nullptr) return;
  const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  (void)!::write(fd, what, std::strlen(what));
  ::close(fd);
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
extern "C" int rename(const char* from, const char* to) {
  note("rename\n");
  return next<int (*)(const char*, const char*)>("rename")(from, to);
}
extern "C" int renameat(int fromDir, const char* from, int toDir, const char* to) {
  note("rename\n");
  return next<int (*)(int, const char*, int, const char*)>("renameat")(fromDir, from, toDir, to);
}
