#pragma once

#include <atomic>
#include <iosfwd>
#include <string>
#include <vector>

namespace vadoset {

/// What the command line tool learns from its process.
struct CliEnvironment {
  /// Set (from a signal handler) to stop the run after the current record.
  const std::atomic<bool>* interrupted = nullptr;
  /// Set to a signal number (SIGTERM, SIGHUP) to stop the run after the
  /// current record without a table: the earlier file at the output path stays.
  const std::atomic<int>* terminated = nullptr;
  /// Set (from a signal handler) by SIGINT, SIGTERM and SIGHUP alike: a
  /// write to `out` blocked on a pipe, a FIFO or a terminal then gives up
  /// (see DescriptorBuf), so that the run can end.
  const std::atomic<bool>* stop = nullptr;
  /// Whether a progress line may be drawn on err (stderr is a terminal).
  bool progressLine = false;
  /// The file descriptor behind `out`, when it has one: a table or report
  /// sent there is refused when it is one of the inputs.
  int standardOutputFd = -1;
};

/// Exit statuses of vadoset-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

/// Runs vadoset-cli with its arguments (program name excluded). The table
/// goes to out when the output name is "-"; messages go to err, one per line,
/// with control characters escaped. Returns the exit status: one of the
/// above, or 128 + the signal's number when env.terminated stopped the run.
int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliEnvironment& env = {});

}  // namespace vadoset
