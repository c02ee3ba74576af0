#include <malloc.h>
#include <unistd.h>

#include <csignal>
#include <iostream>

#include "cli/cli.h"

namespace {
std::atomic<bool> gInterrupted{false};
std::atomic<int> gTerminated{0};
extern "C" void onInterrupt(int) {
  gInterrupted.store(true);
}
extern "C" void onTerminate(int sig) {
  gTerminated.store(sig);
}

// A signal ignored when the program starts (nohup, a background job) stays
// ignored.
void handle(int sig, void (*handler)(int)) {
  struct sigaction old {};
  if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) return;
  struct sigaction sa {};
  sa.sa_handler = handler;
  sa.sa_flags = SA_RESTART;
  sigemptyset(&sa.sa_mask);
  sigaction(sig, &sa, nullptr);
}
}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  // Buffers of a megabyte or more come from the system and go back to it
  // when freed. Without this glibc raises the threshold after the first very
  // long line, and its memory is kept for the rest of the run.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  // Ctrl+C keeps the complete rows; SIGTERM and SIGHUP (a shutdown, a closed
  // terminal) keep the earlier table instead, since nobody may be there to
  // see that the new one is short.
  handle(SIGINT, onInterrupt);
  handle(SIGTERM, onTerminate);
  handle(SIGHUP, onTerminate);
  // Past a file size limit (ulimit -f) write() then fails with EFBIG, and
  // the run says so, instead of the process dying with its temporary file.
  std::signal(SIGXFSZ, SIG_IGN);

  vadoset::CliEnvironment env;
  env.interrupted = &gInterrupted;
  env.terminated = &gTerminated;
  env.progressLine = ::isatty(STDERR_FILENO) != 0;
  env.standardOutputFd = STDOUT_FILENO;
  std::vector<std::string> args(argv + 1, argv + argc);
  const int status = vadoset::runCli(args, std::cout, std::cerr, env);
  if (const int sig = gTerminated.load(); sig != 0 && status == 128 + sig) {
    // End by the signal itself, so that the parent sees what happened.
    std::cout.flush();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
  }
  return status;
}
