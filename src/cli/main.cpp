#include <malloc.h>
#include <unistd.h>

#include <csignal>
#include <iostream>

#include "cli/cli.h"

namespace {
std::atomic<bool> gInterrupted{false};
extern "C" void onInterrupt(int) { gInterrupted.store(true); }
}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  // Buffers of a megabyte or more come from the system and go back to it
  // when freed. Without this glibc raises the threshold after the first very
  // long line, and its memory is kept for the rest of the run.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  struct sigaction sa {};
  sa.sa_handler = onInterrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);

  vadoset::CliEnvironment env;
  env.interrupted = &gInterrupted;
  env.progressLine = ::isatty(STDERR_FILENO) != 0;
  std::vector<std::string> args(argv + 1, argv + argc);
  return vadoset::runCli(args, std::cout, std::cerr, env);
}
