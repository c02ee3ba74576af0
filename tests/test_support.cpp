#include "test_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "cli/cli.h"
#include "platform/text.h"

namespace vadoset::test {

TempDir::TempDir(const std::filesystem::path& base) {
  std::string tmpl = ((base.empty() ? std::filesystem::temp_directory_path() : base) / "vadoset-test-XXXXXX").string();
  if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TempDir::write(const std::string& name, const std::string& bytes) const {
  std::filesystem::path p = path_ / name;
  std::ofstream f(p, std::ios::binary);
  f << bytes;
  return p;
}

std::vector<std::filesystem::path> fileSystems() {
  std::vector<std::filesystem::path> folders = {std::filesystem::temp_directory_path()};
  struct stat a {
  }, b{};
  if (::stat(folders[0].c_str(), &a) == 0 && ::stat("/dev/shm", &b) == 0 && a.st_dev != b.st_dev &&
      ::access("/dev/shm", W_OK) == 0)
    folders.emplace_back("/dev/shm");
  return folders;
}

std::string readFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

CliResult cli(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = runCli(args, out, err);
  return {status, out.str(), err.str()};
}

void TestObserver::progress(const Progress& p) {
  rows = p.rows;
  counters.push_back(p.rows == 0 ? std::string("File names loaded") : Str(static_cast<double>(p.rows)));
}

std::vector<std::string> messagesOf(const RunResult& result) {
  std::vector<std::string> messages;
  for (const RunProblem& p : result.problems) messages.push_back(p.message());
  return messages;
}

std::string tabLine(const std::string& id, const std::string& lat, const std::vector<std::string>& months) {
  std::string line = id + "\t" + lat;
  for (const std::string& m : months) line += "\t" + m;
  return line + "\n";
}

std::string tabLine(const std::string& id, double lat, const std::vector<double>& months) {
  std::vector<std::string> texts;
  for (double m : months) texts.push_back(Str(m));
  return tabLine(id, Str(lat), texts);
}

std::vector<std::string> tableLines(const std::string& table) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t p; (p = table.find('\r', start)) != std::string::npos; start = p + 1)
    lines.push_back(table.substr(start, p - start));
  if (start < table.size()) lines.push_back(table.substr(start));
  return lines;
}

std::vector<std::string> splitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t p; (p = line.find('\t', start)) != std::string::npos; start = p + 1)
    fields.push_back(line.substr(start, p - start));
  fields.push_back(line.substr(start));
  return fields;
}

}  // namespace vadoset::test
