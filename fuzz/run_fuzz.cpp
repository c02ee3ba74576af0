// A whole run on two arbitrary input files with settings chosen by the input:
// Main_loop with its files in a folder of its own. Whatever the bytes, the
// run ends with a table or a message, the inputs stay as they were, a refused
// or failed run leaves an earlier table alone, and no temporary file is left.
//
// The same input runs through Main_loop and through runParallel (two
// threads, batches of one to four records), which must agree on the outcome,
// the messages, the table and the soil water carried in the run state.
//
// Input: byte 0 flags (bit 0 HCN format, bit 1 carry-over, bits 2-4 the
// output name, bits 5-6 records per batch less one, bit 7 batches in flight
// less one), byte 1 function, byte 2 field capacity text, byte 3 latitude
// text, bytes 4-5 the length of the precipitation file (little-endian), then
// the precipitation file and the temperature file.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "fuzz_support.h"
#include "output/output.h"
#include "platform/text.h"
#include "run/driver.h"
#include "run/parallel_run.h"
#include "run/run_state.h"

namespace fs = std::filesystem;

namespace {

using vadoset::fuzz::check;

const char* const kFcTexts[] = {"100",        "1",          "0.999", "0",     "-5",  "abc", "",   "1e9",
                                "2147483647", "2147483648", " 150 ", "1.5e2", "nan", "inf", "50", "300.7"};
const char* const kLatTexts[] = {"44.47", "-90", "90",     "90.0001", "x",    "0",     "66.6", "-45.5",
                                 " 1e1 ", "",    "-89.99", "12,5",    "78.2", "-78.2", "nan",  "60"};

enum class OutputKind { Plain, Stdout, SameAsInput, Directory, MissingFolder, EarlierTable, FileAsFolder, Count };

const std::string kEarlier = "an earlier table\r";

// A folder of the process's own, removed at exit. Never destroyed, so that
// the exit handler can still use it.
const fs::path& workDir() {
  static const fs::path* dir = [] {
    std::string tmpl = (fs::temp_directory_path() / "vadoset-fuzz-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) vadoset::fuzz::fail("mkdtemp failed");
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(workDir(), ec);
    });
    return new fs::path(tmpl);
  }();
  return *dir;
}

void writeFile(const fs::path& p, std::string_view bytes) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  check(static_cast<bool>(f), "could not write a fuzz input file");
}

std::string readFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// The last 39 fields of a computed row are numbers; a null row ends in "\t*".
void checkTable(std::string_view table, std::int64_t rows) {
  const std::string& header = vadoset::tableHeader();
  check(table.substr(0, header.size()) == header, "the table does not start with the header");
  table.remove_prefix(header.size());
  std::int64_t count = 0;
  while (!table.empty()) {
    std::size_t cr = table.find('\r');
    check(cr != std::string_view::npos, "the last row has no CR");
    std::string_view row = table.substr(0, cr + 1);
    // The identifier may hold tabs (HCN columns 13 to 16): find where it ends.
    std::size_t idEnd = row.size();
    if (row.size() >= 3 && row.substr(row.size() - 3) == "\t*\r") {
      idEnd = row.size() - 3;
    } else {
      for (int tabs = 0; tabs < 39 && idEnd != std::string_view::npos; ++tabs) idEnd = row.rfind('\t', idEnd - 1);
      check(idEnd != std::string_view::npos, "a row has fewer than 40 fields", row);
    }
    vadoset::fuzz::checkRow(row, row.substr(0, idEnd));
    table.remove_prefix(cr + 1);
    ++count;
  }
  check(count == rows, "the table's row count differs from the rows reported");
}

struct RunInput {
  vadoset::Settings settings;
  OutputKind kind = OutputKind::Plain;
  std::string_view precip, tmean;
};

struct RunResult {
  vadoset::RunOutcome outcome{};
  std::vector<std::string> messages;
  std::string table;
  double carriedW = 0.0, carriedWs = 0.0;
};

// Runs once in a freshly laid folder and checks what every run must keep to.
RunResult runOnce(const RunInput& input, const vadoset::ParallelOptions* parallel) {
  vadoset::fuzz::FuzzHost host;
  host.settingsValue = input.settings;
  vadoset::Settings& st = host.settingsValue;
  const OutputKind kind = input.kind;

  const fs::path& dir = workDir();
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) fs::remove_all(e.path());
  writeFile(dir / "prec.txt", input.precip);
  writeFile(dir / "temp.txt", input.tmean);
  st.precipFile = "prec.txt";
  st.tmeanFile = "temp.txt";
  std::set<std::string> expected = {"prec.txt", "temp.txt"};
  switch (kind) {
    case OutputKind::Plain:
      st.outputFile = "out.txt";
      break;
    case OutputKind::Stdout:
      st.outputFile = "-";
      break;
    case OutputKind::SameAsInput:
      st.outputFile = st.carryover ? "temp.txt" : "prec.txt";
      break;
    case OutputKind::Directory:
      fs::create_directory(dir / "sub");
      expected.insert("sub");
      st.outputFile = "sub";
      break;
    case OutputKind::MissingFolder:
      st.outputFile = "missing/out.txt";
      break;
    case OutputKind::EarlierTable:
      writeFile(dir / "out.txt", kEarlier);
      expected.insert("out.txt");
      st.outputFile = "out.txt";
      break;
    case OutputKind::FileAsFolder:
      st.outputFile = "prec.txt/out.txt";
      break;
    case OutputKind::Count:
      break;
  }
  host.folder = dir.string();

  RunResult result;
  {
    vadoset::RunState state;
    result.outcome =
        parallel != nullptr ? vadoset::runParallel(state, host, *parallel) : vadoset::Main_loop(state, host);
    result.carriedW = state.current_w;
    result.carriedWs = state.current_ws;
  }  // closes whatever the run left open
  result.messages = host.messages;

  check(readFile(dir / "prec.txt") == input.precip, "the precipitation file was changed");
  check(readFile(dir / "temp.txt") == input.tmean, "the temperature file was changed");

  const bool wrote = result.outcome == vadoset::RunOutcome::Completed || result.outcome == vadoset::RunOutcome::Stopped;
  const bool toFile = kind == OutputKind::Plain || kind == OutputKind::EarlierTable;
  if (wrote) {
    check(kind == OutputKind::Plain || kind == OutputKind::Stdout || kind == OutputKind::EarlierTable,
          "a run wrote a table where it must not");
    check(host.messages.empty(), "a run that wrote its table showed a message",
          host.messages.empty() ? std::string() : host.messages.front());
    check(host.rows <= host.stopAfterRows, "the run did not stop when asked");
    if (toFile) expected.insert("out.txt");
    result.table = toFile ? readFile(dir / "out.txt") : host.stdoutText.str();
    checkTable(result.table, host.rows);
  } else {
    check(result.outcome != vadoset::RunOutcome::OutputCancelled, "no dialog was cancelled");
    check(!host.messages.empty(), "a run that wrote nothing showed no message");
    if (kind == OutputKind::EarlierTable)
      check(readFile(dir / "out.txt") == kEarlier, "a failed run damaged the earlier table");
  }
  if (result.outcome == vadoset::RunOutcome::OutputFailed) {
    const std::string_view last = host.messages.back();
    const std::string_view head = "The output file ";
    const std::string_view tail = " could not be written";  // then "." or ": the cause."
    check(last.size() >= head.size() + tail.size() && last.substr(0, head.size()) == head &&
              last.find(tail) != std::string_view::npos && last.back() == '.',
          "an output failure without its message", last);
  }

  // Nothing else is left in the folder: no temporary file, no stray table.
  std::set<std::string> found;
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) found.insert(e.path().filename().string());
  if (found != expected) {
    std::string names;
    for (const std::string& n : found) names += n + " ";
    vadoset::fuzz::fail("unexpected files in the run's folder", names);
  }
  return result;
}

bool sameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vadoset::fuzz::ByteReader in(data, size);
  const std::uint8_t flags = in.byte();
  RunInput input;
  input.settings.format = flags & 1;
  input.settings.carryover = (flags & 2) != 0;
  input.kind = static_cast<OutputKind>(((flags >> 2) & 7) % static_cast<int>(OutputKind::Count));
  input.settings.beta = in.byte() % 8;
  input.settings.fcText = kFcTexts[in.byte() % std::size(kFcTexts)];
  input.settings.latText = kLatTexts[in.byte() % std::size(kLatTexts)];
  input.precip = in.take(in.u16());
  input.tmean = in.rest();

  vadoset::ParallelOptions parallel;
  parallel.threads = 2;
  parallel.batchRecords = 1 + ((flags >> 5) & 3);
  parallel.batchesInFlight = 1 + (flags >> 7);

  const RunResult one = runOnce(input, nullptr);
  const RunResult two = runOnce(input, &parallel);
  check(one.outcome == two.outcome, "runParallel and Main_loop end differently");
  check(one.messages == two.messages, "runParallel and Main_loop show different messages");
  check(one.table == two.table, "runParallel and Main_loop write different tables");
  check(sameBits(one.carriedW, two.carriedW) && sameBits(one.carriedWs, two.carriedWs),
        "runParallel and Main_loop carry different soil water");
  return 0;
}
