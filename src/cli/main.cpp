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
