#pragma once

#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "state/host.h"

namespace vadoset::test {

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

/// A Host that answers from a script: folder answers are taken in order
/// (nothing left means "cancel"), messages and counter texts are recorded.
class ScriptedHost : public Host {
 public:
  Settings settingsValue;
  std::deque<std::optional<std::string>> folders;
  std::vector<std::string> messages;
  std::vector<std::string> counters;
  std::vector<std::string> prompts;
  int stopAfterRows = -1;  // ask to stop once this many rows are written
  int backgroundCalls = 0;

  Settings settings() override { return settingsValue; }
  std::optional<std::string> selectFolder(std::string_view prompt, std::string_view) override;
  void showMessage(std::string_view text) override { messages.emplace_back(text); }
  void setCounter(std::string_view text) override { counters.emplace_back(text); }
  void progress(const Progress& p) override { rows = p.rows; }
  void backgroundTask() override { ++backgroundCalls; }
  bool stopRequested() override { return stopAfterRows >= 0 && rows >= stopAfterRows; }

  std::int64_t rows = 0;
};

/// Tab-delimited input lines: identifier, latitude, twelve values.
std::string tabLine(const std::string& id, const std::string& lat, const std::vector<std::string>& months);
std::string tabLine(const std::string& id, double lat, const std::vector<double>& months);

/// Splits a table into its lines at CR; the last (empty) piece is dropped.
std::vector<std::string> tableLines(const std::string& table);
std::vector<std::string> splitTabs(const std::string& line);

}  // namespace vadoset::test
