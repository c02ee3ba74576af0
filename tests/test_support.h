#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "run/run.h"

namespace vadoset::test {

/// The header line of a tab-delimited input file.
inline const std::string kTabHeader = "Site\tLat\tJan\tFeb\tMar\tApr\tMay\tJun\tJul\tAug\tSep\tOct\tNov\tDec\n";

/// vadoset-cli run in this process: its exit status and what it wrote.
struct CliResult {
  int status;
  std::string out, err;
};
CliResult cli(const std::vector<std::string>& args);

/// A fresh folder under the system's temporary folder (or under `base`),
/// removed afterwards.
class TempDir {
 public:
  explicit TempDir(const std::filesystem::path& base = {});
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  /// Writes bytes to a file in the folder and returns its path.
  std::filesystem::path write(const std::string& name, const std::string& bytes) const;

 private:
  std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& p);

/// Folders on each kind of file system a test should write to: the system's
/// temporary folder, and /dev/shm (tmpfs) when it is a different one.
std::vector<std::filesystem::path> fileSystems();

/// A RunObserver that keeps what it hears: the counter texts the window
/// would show ("File names loaded", then the rows written), the warnings;
/// and asks to stop once `stopAfterRows` rows are written.
class TestObserver : public RunObserver {
 public:
  std::vector<std::string> counters;
  std::vector<std::string> warnings;
  std::int64_t rows = 0;
  int stopAfterRows = -1;
  StopRequest stopKind = StopRequest::KeepRows;

  void progress(const Progress& p) override;
  void warning(std::string_view text) override { warnings.emplace_back(text); }
  StopRequest stopRequested() override {
    return stopAfterRows >= 0 && rows >= stopAfterRows ? stopKind : StopRequest::None;
  }
};

/// The messages of a run's problems, in order.
std::vector<std::string> messagesOf(const RunResult& result);

/// Tab-delimited input lines: identifier, latitude, twelve values.
std::string tabLine(const std::string& id, const std::string& lat, const std::vector<std::string>& months);
std::string tabLine(const std::string& id, double lat, const std::vector<double>& months);

/// Splits a table into its lines at CR; the last (empty) piece is dropped.
std::vector<std::string> tableLines(const std::string& table);
std::vector<std::string> splitTabs(const std::string& line);

}  // namespace vadoset::test
