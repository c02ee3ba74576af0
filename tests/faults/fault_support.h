#pragma once

// Helpers of the fault tests: snapshots of files and folders, and the real
// vadoset-cli run as a child process with its own limits.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "test_support.h"

namespace vadoset::faults {

/// What a file is, byte for byte, with its inode and modification time, so
/// that a test can tell that nothing wrote to it, replaced it or touched it.
struct FileState {
  bool exists = false;
  std::string bytes;
  ino_t inode = 0;
  std::int64_t mtimeNs = 0;
  bool operator==(const FileState&) const = default;
};

inline void PrintTo(const FileState& s, std::ostream* os) {
  if (!s.exists) {
    *os << "(no file)";
    return;
  }
  *os << s.bytes.size() << " bytes, inode " << s.inode << ", mtime " << s.mtimeNs << " ns";
}

inline FileState snapshot(const std::filesystem::path& p) {
  FileState s;
  struct stat st {};
  if (::lstat(p.c_str(), &st) != 0) return s;
  s.exists = true;
  s.inode = st.st_ino;
  s.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
  if (S_ISREG(st.st_mode)) s.bytes = test::readFile(p);
  return s;
}

/// The names in a folder, so that a stray temporary file shows.
inline std::set<std::string> listing(const std::filesystem::path& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

inline const std::filesystem::path kExamples = std::filesystem::path(VADOSET_SOURCE_DIR) / "examples";
inline const std::string kEarlierTable = "an earlier table that no failed run may touch\r";

/// The sample stations (header lines and records), repeated until there are
/// `records` of them.
inline std::pair<std::string, std::string> stationFiles(int records) {
  std::istringstream precIn(test::readFile(kExamples / "allsites_prec.txt"));
  std::istringstream tempIn(test::readFile(kExamples / "allsites_temp.txt"));
  std::string precHeader, tempHeader, line;
  std::getline(precIn, precHeader);
  std::getline(tempIn, tempHeader);
  std::vector<std::string> precLines, tempLines;
  while (std::getline(precIn, line))
    if (!line.empty()) precLines.push_back(line);
  while (std::getline(tempIn, line))
    if (!line.empty()) tempLines.push_back(line);
  std::string outPrec = precHeader + "\n", outTemp = tempHeader + "\n";
  for (std::size_t i = 0; i < static_cast<std::size_t>(records); ++i) {
    outPrec += precLines[i % precLines.size()] + "\n";
    outTemp += tempLines[i % tempLines.size()] + "\n";
  }
  return {outPrec, outTemp};
}

/// A folder with both inputs and an earlier table at out.txt.
struct RunFolder {
  test::TempDir dir;
  test::TempDir scratch;  // a child's stderr, kept out of the run's folder
  std::filesystem::path prec, temp, table;
  explicit RunFolder(int records = 23) {
    auto [p, t] = stationFiles(records);
    prec = dir.write("allsites_prec.txt", p);
    temp = dir.write("allsites_temp.txt", t);
    table = dir.write("out.txt", kEarlierTable);
  }
  std::vector<std::string> args(const std::string& output) const {
    return {"-t", temp.string(), "-p", prec.string(), "-o", output, "--quiet"};
  }
};

struct CliResult {
  int status;
  std::string out, err;
};

/// vadoset-cli in this process.
inline CliResult cli(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  int status = runCli(args, out, err);
  return {status, out.str(), err.str()};
}

struct ProcessResult {
  bool exited = false;
  int status = -1;  // the exit status when exited
  int signal = 0;   // the signal that ended it otherwise
  bool timedOut = false;
  std::string err;
};

struct ProcessOptions {
  std::string stdoutPath = "/dev/null";
  rlim_t fileSizeLimit = RLIM_INFINITY;  // RLIMIT_FSIZE, with SIGXFSZ ignored
};

/// Starts vadoset-cli with args; its stderr goes to errPath.
inline pid_t spawnCli(const std::vector<std::string>& args, const ProcessOptions& options,
                      const std::filesystem::path& errPath) {
  std::vector<std::string> all{VADOSET_CLI};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    int out = ::open(options.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (options.fileSizeLimit != RLIM_INFINITY) {
      // Past the limit write() fails with EFBIG instead of the signal killing us.
      ::signal(SIGXFSZ, SIG_IGN);
      struct rlimit lim {
        options.fileSizeLimit, options.fileSizeLimit
      };
      ::setrlimit(RLIMIT_FSIZE, &lim);
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

/// Waits for the child; kills it once `timeout` has passed.
inline ProcessResult waitFor(pid_t pid, const std::filesystem::path& errPath, std::chrono::seconds timeout) {
  ProcessResult r;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  for (;;) {
    pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      r.timedOut = true;
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(status)) {
    r.exited = true;
    r.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    r.signal = WTERMSIG(status);
  }
  r.err = test::readFile(errPath);
  return r;
}

inline ProcessResult runCliProcess(const std::vector<std::string>& args, const test::TempDir& scratch,
                                   const ProcessOptions& options = {},
                                   std::chrono::seconds timeout = std::chrono::seconds(120)) {
  std::filesystem::path errPath = scratch / "stderr.txt";
  return waitFor(spawnCli(args, options, errPath), errPath, timeout);
}

}  // namespace vadoset::faults
