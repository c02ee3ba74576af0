#include "fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <set>

#include "input/formats.h"
#include "model/engine.h"
#include "output/columns.h"
#include "platform/text.h"
#include "platform/text_stream.h"

namespace fs = std::filesystem;

namespace vadoset::fuzz {

void fail(std::string_view what, std::string_view detail) {
  std::fprintf(stderr, "\nFUZZ CHECK FAILED: %.*s\n", static_cast<int>(what.size()), what.data());
  if (!detail.empty()) {
    // Long details (a whole row) are cut; the input itself is kept by libFuzzer.
    int shown = detail.size() > 400 ? 400 : static_cast<int>(detail.size());
    std::fprintf(stderr, "  detail: %.*s\n", shown, detail.data());
  }
  std::abort();
}

void chooseTable(std::uint8_t byte, Settings& settings) {
  const std::span<const ColumnGroupDescription> groups = columnGroups();
  settings.columns.clear();
  const std::size_t turn = (byte >> 5) % groups.size();
  for (std::size_t k = 0; k < groups.size(); ++k) {
    const std::size_t g = (k + turn) % groups.size();
    if ((byte >> g) & 1 || k == 0) settings.columns.push_back(groups[g].group);
  }
  // A group named twice is written once.
  if ((byte & 0x80) != 0) settings.columns.push_back(settings.columns.front());
  settings.lineEnding = static_cast<LineEnding>((byte >> 5) % 3);
}

namespace {

// The texts that Str gives for the values a nonsense input can reach, for
// example a temperature of 1e300 degrees.
bool isNumberText(std::string_view f) {
  if (f == "inf" || f == "-inf" || f == "nan" || f == "-nan") return true;
  std::optional<double> v = ParseNumber(f);
  // Str writes the shortest text that reads back as the number, and nothing else.
  return v.has_value() && Str(*v) == f;
}

}  // namespace

void checkRow(std::string_view row, std::string_view identifier, std::size_t values, std::string_view lineEnd) {
  check(row.size() > identifier.size() + 1 && row.substr(0, identifier.size()) == identifier &&
            row[identifier.size()] == '\t',
        "row does not start with the identifier and a tab", row);
  check(identifier.find_first_of("\r\n") == std::string_view::npos, "a line break in an identifier", identifier);
  std::string_view rest = row.substr(identifier.size() + 1);
  check(rest.size() >= lineEnd.size() && rest.substr(rest.size() - lineEnd.size()) == lineEnd,
        "row does not end with the line end", row);
  rest.remove_suffix(lineEnd.size());
  check(rest.find_first_of("\r\n") == std::string_view::npos, "a line break inside a row", row);
  if (rest == "*") return;
  std::size_t fields = 0;
  for (;;) {
    std::size_t tab = rest.find('\t');
    std::string_view f = rest.substr(0, tab);
    check(isNumberText(f), "row field is not a number as Str writes it", f);
    ++fields;
    if (tab == std::string_view::npos) break;
    rest.remove_prefix(tab + 1);
  }
  check(fields == values, "row does not hold its columns' numbers", row);
}

// ---------------------------------------------------------------------------
// Records

namespace {

constexpr std::size_t kMaxRecords = 8;

// An in-memory file that TextInputStream opens by its /proc path, as it
// would open a file on disk.
class MemoryFile {
 public:
  explicit MemoryFile(std::string_view bytes) {
    fd_ = ::memfd_create("vadoset-fuzz", MFD_CLOEXEC);
    check(fd_ >= 0, "memfd_create failed");
    for (std::size_t done = 0; done < bytes.size();) {
      ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      check(n > 0, "writing a memory file failed");
      done += static_cast<std::size_t>(n);
    }
  }
  ~MemoryFile() { ::close(fd_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  std::unique_ptr<TextInputStream> open() const {
    std::unique_ptr<TextInputStream> s = TextInputStream::open("/proc/self/fd/" + std::to_string(fd_));
    check(s != nullptr, "a memory file could not be opened");
    return s;
  }

 private:
  int fd_ = -1;
};

// Both files' records as a run reads them: the header lines first, then
// record after record until the precipitation file holds only blank lines.
struct ReadFiles {
  std::string precipHeader, tmeanHeader;
  std::vector<std::string> precip, tmean;
  bool headersOk = true;
};

ReadFiles readFiles(const InputFormatDescription& format, std::string_view precipBytes, std::string_view tmeanBytes,
                    std::size_t maxRecords) {
  MemoryFile pf(precipBytes), tf(tmeanBytes);
  std::unique_ptr<TextInputStream> p = pf.open(), t = tf.open();
  ReadFiles r;
  format.nextRecord(*p, r.precipHeader);
  format.nextRecord(*t, r.tmeanHeader);
  if (format.headerOk != nullptr) r.headersOk = format.headerOk(r.precipHeader) && format.headerOk(r.tmeanHeader);
  while (r.precip.size() < maxRecords && !p->onlyBlankLinesLeft()) {
    format.nextRecord(*p, r.precip.emplace_back());
    format.nextRecord(*t, r.tmean.emplace_back());
  }
  return r;
}

bool sameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

bool inside(std::string_view part, std::string_view whole) {
  return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

bool sameMonths(const MonthValues& a, const MonthValues& b) {
  for (int m = 0; m < kMonths; ++m)
    if (!sameBits(a[m], b[m])) return false;
  return true;
}

bool sameResult(const RecordResult& a, const RecordResult& b) {
  return a.reason == b.reason && a.month == b.month && a.passes == b.passes && sameMonths(a.pet, b.pet) &&
         sameMonths(a.aet, b.aet) && sameMonths(a.surplus, b.surplus) && sameMonths(a.soil, b.soil) &&
         sameMonths(a.snow, b.snow);
}

bool sameInput(const RecordInput& a, const RecordInput& b) {
  return a.id == b.id && sameBits(a.latitude, b.latitude) && sameMonths(a.ppt, b.ppt) && sameMonths(a.tmean, b.tmean);
}

// A CSV field as a careful writer quotes it.
void appendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void appendNumber(std::string& out, double v, const ReadOptions& options) {
  if (std::isnan(v)) return;  // an empty cell
  std::string text = Str(v);
  if (options.decimalComma)
    for (char& c : text)
      if (c == '.') c = ',';
  out += text;
}

// Writes parsed records back as CSV with every identifier quoted: reading
// them again must give the same records. This ties the quoting rules of the
// reader to those of a writer, across separators, decimal commas and line
// breaks inside quotes.
void checkCsvRoundTrip(const std::vector<RecordInput>& records, const ReadOptions& options) {
  const char sep = options.separator;
  std::string precip = sep == ';' ? "Site;Lat\r\n" : "Site,Lat\r\n";
  std::string tmean = precip;
  for (const RecordInput& r : records) {
    appendQuoted(precip, r.id);
    appendQuoted(tmean, "t");
    precip += sep;
    tmean += sep;
    appendNumber(precip, r.latitude, options);
    for (int m = 0; m < kMonths; ++m) {
      precip += sep;
      tmean += sep;
      appendNumber(precip, r.ppt[m], options);
      appendNumber(tmean, r.tmean[m], options);
    }
    precip += "\r\n";
    tmean += "\n";
  }
  const ReadFiles again = readFiles(kCsvFormat, precip, tmean, records.size() + 1);
  check(again.precip.size() == records.size(), "CSV written back gives another number of records", precip);
  ReadOptions o = options;
  o.fieldCapacityColumn = 0;
  o.fieldCapacityField = 0;
  kCsvFormat.readHeaders(again.precipHeader, again.tmeanHeader, o);
  check(o.separator == options.separator, "CSV written back is read with another separator");
  for (std::size_t i = 0; i < records.size(); ++i) {
    RecordInput r;
    std::string text;
    readRecord(kCsvFormat, again.precip[i], again.tmean[i], o, r, text);
    check(sameInput(r, records[i]), "a CSV record written back reads differently", again.precip[i]);
  }
}

}  // namespace

void fuzzRecords(const std::uint8_t* data, std::size_t size, InputFormat formatId) {
  // Input: byte 0 flags (bits 0-3 the function, 8 standing for an index
  // outside A to H; bit 4 carry-over; bit 5 a field capacity near the
  // 32-bit limit; bit 6 precipitation with its fraction; bit 7 each
  // record's field capacity from field 15), bytes 1-2 the field capacity,
  // byte 3 the latitude of formats without one, byte 4 the columns and line
  // end (chooseTable), bytes 5-6 the length of the precipitation file, then
  // the precipitation file and the temperature file.
  const InputFormatDescription& format = formatDescription(formatId);
  ByteReader in(data, size);
  const std::uint8_t flags = in.byte();
  ModelParams params;
  params.function = static_cast<AvailabilityFunction>((flags & 0x0F) % 9);
  params.carryover = (flags & 0x10) != 0;
  const std::uint16_t fcBits = in.u16();
  // Field capacity is at least 1 mm once a run has started; try both ends.
  const std::int32_t fc = (flags & 0x20) != 0 ? std::numeric_limits<std::int32_t>::max() - fcBits : 1 + fcBits;
  const double latitude = -90.0 + 180.0 * static_cast<double>(in.byte()) / 255.0;
  Settings settings;
  settings.keepPrecipitationFraction = (flags & 0x40) != 0;
  settings.fieldCapacityField = (flags & 0x80) != 0 ? 15 : 0;
  chooseTable(in.byte(), settings);
  const std::string_view precipBytes = in.take(in.u16());
  const std::string_view tmeanBytes = in.rest();

  const ReadFiles files = readFiles(format, precipBytes, tmeanBytes, kMaxRecords);
  if (!files.headersOk) return;  // the run is refused before any record
  ReadOptions options;
  options.fieldCapacity = static_cast<double>(fc);
  options.latitude = latitude;
  options.fieldCapacityField = settings.fieldCapacityField;
  options.keepPrecipitationFraction = settings.keepPrecipitationFraction;
  if (format.readHeaders != nullptr) format.readHeaders(files.precipHeader, files.tmeanHeader, options);

  const std::size_t n = files.precip.size();
  std::vector<RecordInput> inputs(n);
  std::vector<std::string> texts(n);  // not resized below: the identifiers may point into them
  for (std::size_t i = 0; i < n; ++i) {
    readRecord(format, files.precip[i], files.tmean[i], options, inputs[i], texts[i]);
    check(inputs[i].id.find_first_of("\r\n") == std::string_view::npos, "a line break in an identifier", inputs[i].id);
  }
  if (formatId == InputFormat::Csv) checkCsvRoundTrip(inputs, options);

  // The records in sequence, as one run computes them.
  RecordEngine engine(params);
  const CarriedState start{0.0, 0.0, true};
  CarriedState carried = start;
  std::vector<CarriedState> before;
  std::vector<RecordResult> results(n);
  for (std::size_t i = 0; i < n; ++i) {
    before.push_back(carried);
    engine.computeBatch(std::span(&inputs[i], 1), std::span(&results[i], 1), carried);
  }
  // The whole batch at once gives the same.
  {
    RecordEngine batchEngine(params);
    std::vector<RecordResult> batch(n);
    CarriedState c = start;
    batchEngine.computeBatch(inputs, batch, c);
    for (std::size_t i = 0; i < n; ++i) check(sameResult(batch[i], results[i]), "a batch differs from its records");
    check(sameBits(c.soil, carried.soil) && sameBits(c.snow, carried.snow), "a batch carries another state");
  }
  // Each record again with an engine of its own, from only what the run
  // carries from one record to the next: the result must not change. This
  // finds anything else that leaks from record to record (the engine's day
  // length cache, say), or a result that is not deterministic.
  for (std::size_t i = 0; i < n; ++i) {
    RecordEngine alone(params);
    CarriedState c = before[i];
    RecordResult r;
    alone.compute(inputs[i], c, r);
    check(sameResult(r, results[i]), "a record's result depends on more than the carried state", files.precip[i]);
  }

  // Every row as the table writes it, and the messages of null rows.
  const TableLayout layout(settings.columns, settings.lineEnding);
  std::vector<char> buf(layout.rowValuesBytes());
  for (std::size_t i = 0; i < n; ++i) {
    std::string row(inputs[i].id);
    row += '\t';
    row.append(buf.data(), layout.formatRowValues(inputs[i], results[i], buf.data()));
    check(row.size() <= inputs[i].id.size() + 1 + layout.rowValuesBytes(), "a row is longer than its room");
    if (format.format != InputFormat::Hcn) {
      // HCN identifiers are columns 13 to 16, which may hold a tab.
      check(inputs[i].id.find('\t') == std::string_view::npos, "a tab in an identifier", inputs[i].id);
    }
    checkRow(row, inputs[i].id, layout.valueCount(), layout.lineEnd());
    // The fields that null rows quote point into their lines.
    for (int m = 1; m <= kMonths; ++m) {
      check(inside(format.monthField(files.precip[i], m, options), files.precip[i]),
            "a month's field is not in its line");
      check(inside(format.monthField(files.tmean[i], m, options), files.tmean[i]),
            "a month's field is not in its line");
    }
    check(inside(format.latitudeField(files.precip[i], options), files.precip[i]), "the latitude is not in its line");
  }
}

// ---------------------------------------------------------------------------
// Whole runs

namespace {

const char* const kFcTexts[] = {"100",        "1",          "0.999", "0",     "-5",  "abc", "",   "1e9",
                                "2147483647", "2147483648", " 150 ", "1.5e2", "nan", "inf", "50", "300.7"};
const char* const kLatTexts[] = {"44.47", "-90", "90",     "90.0001", "x",    "0",     "66.6", "-45.5",
                                 " 1e1 ", "",    "-89.99", "12,5",    "78.2", "-78.2", "nan",  "60"};

const std::string kEarlier = "an earlier table\r";

// A folder of the process's own, removed at exit. Never destroyed, so that
// the exit handler can still use it.
const fs::path& workDir() {
  static const fs::path* dir = [] {
    std::string tmpl = (fs::temp_directory_path() / "vadoset-fuzz-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) fail("mkdtemp failed");
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

// A computed row ends with its numbers; a null row with a tab and "*".
void checkTable(std::string_view table, std::int64_t rows, const Settings& settings) {
  const TableLayout layout(settings.columns, settings.lineEnding);
  const std::string& header = layout.header();
  const std::string_view end = layout.lineEnd();
  check(table.substr(0, header.size()) == header, "the table does not start with the header");
  table.remove_prefix(header.size());
  std::int64_t count = 0;
  while (!table.empty()) {
    std::size_t eol = table.find(end);
    check(eol != std::string_view::npos, "the last row has no line end");
    std::string_view row = table.substr(0, eol + end.size());
    // The identifier may hold tabs (HCN columns 13 to 16): find where it ends.
    std::size_t idEnd = row.size() - end.size();
    if (row.size() >= 2 + end.size() && row.substr(idEnd - 2, 2) == "\t*") {
      idEnd -= 2;
    } else {
      for (std::size_t tabs = 0; tabs < layout.valueCount() && idEnd != std::string_view::npos; ++tabs)
        idEnd = idEnd == 0 ? std::string_view::npos : row.rfind('\t', idEnd - 1);
      check(idEnd != std::string_view::npos, "a row has too few fields", row);
    }
    checkRow(row, row.substr(0, idEnd), layout.valueCount(), end);
    table.remove_prefix(eol + end.size());
    ++count;
  }
  check(count == rows, "the table's row count differs from the rows reported");
}

}  // namespace

RunInput decodeRun(ByteReader& in) {
  RunInput input;
  const std::uint8_t flags = in.byte();
  input.settings.format = static_cast<InputFormat>((flags & 3) % 3);
  input.settings.carryover = (flags & 4) != 0;
  input.settings.keepPrecipitationFraction = (flags & 8) != 0;
  input.settings.fieldCapacityField = (flags & 16) != 0 ? 15 : 0;
  const std::uint8_t function = in.byte();
  input.settings.function = static_cast<AvailabilityFunction>(function % 8);
  input.settings.strict = (function & 0x80) != 0;
  input.settings.fcText = kFcTexts[in.byte() % std::size(kFcTexts)];
  input.settings.latText = kLatTexts[in.byte() % std::size(kLatTexts)];
  chooseTable(in.byte(), input.settings);
  input.precip = in.take(in.u32());
  input.tmean = in.rest();
  return input;
}

RunOutcomeSeen runOnce(const RunInput& input, const RunConfig::Parallel& parallel) {
  FuzzObserver observer;
  observer.stopAfterRows = input.stopAfterRows;
  Settings st = input.settings;
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

  RunOutcomeSeen result;
  std::ostringstream stdoutText;
  {
    RunConfig config = makeRunConfig(st, dir.string(), dir.string());
    config.standardOutput = &stdoutText;
    config.parallel = parallel;
    const vadoset::RunResult r = runTable(config, observer);
    result.outcome = r.outcome;
    result.carriedW = r.carried.soil;
    result.carriedWs = r.carried.snow;
    for (const RunProblem& p : r.problems) result.messages.push_back(p.message());
    check(r.rows == observer.rows, "the result's rows differ from the rows reported");
  }
  result.warnings = observer.warnings;
  result.rows = observer.rows;

  check(readFile(dir / "prec.txt") == input.precip, "the precipitation file was changed");
  check(readFile(dir / "temp.txt") == input.tmean, "the temperature file was changed");

  const bool wrote = result.outcome == RunOutcome::Completed || result.outcome == RunOutcome::Stopped;
  const bool toFile = kind == OutputKind::Plain || kind == OutputKind::EarlierTable;
  if (wrote) {
    check(kind == OutputKind::Plain || kind == OutputKind::Stdout || kind == OutputKind::EarlierTable,
          "a run wrote a table where it must not");
    check(result.messages.empty(), "a run that wrote its table showed a message",
          result.messages.empty() ? std::string() : result.messages.front());
    check(result.rows <= observer.stopAfterRows, "the run did not stop when asked");
    check(!st.strict || result.warnings.empty(), "a strict run with warnings wrote its table");
    if (toFile) expected.insert("out.txt");
    result.table = toFile ? readFile(dir / "out.txt") : stdoutText.str();
    checkTable(result.table, result.rows, st);
  } else {
    check(!result.messages.empty(), "a run that wrote nothing showed no message");
    if (kind == OutputKind::EarlierTable)
      check(readFile(dir / "out.txt") == kEarlier, "a failed run damaged the earlier table");
  }
  if (result.outcome == RunOutcome::OutputFailed) {
    const std::string_view last = result.messages.back();
    const std::string_view head = "The output file ";
    const std::string_view tail = " could not be written";  // then "." or ": the cause."
    const std::string_view strict = "The table was not written: the input checks gave ";
    const bool refusedByChecks = st.strict && !result.warnings.empty() && last.substr(0, strict.size()) == strict;
    check(refusedByChecks || (last.size() >= head.size() + tail.size() && last.substr(0, head.size()) == head &&
                              last.find(tail) != std::string_view::npos && last.back() == '.'),
          "an output failure without its message", last);
  }

  // Nothing else is left in the folder: no temporary file, no stray table.
  std::set<std::string> found;
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) found.insert(e.path().filename().string());
  if (found != expected) {
    std::string names;
    for (const std::string& n : found) names += n + " ";
    fail("unexpected files in the run's folder", names);
  }
  return result;
}

}  // namespace vadoset::fuzz
