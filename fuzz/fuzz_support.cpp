#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <limits>

#include "input/input.h"
#include "output/output.h"
#include "platform/text.h"
#include "run/driver.h"
#include "state/run_state.h"

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

void checkRow(std::string_view row, std::string_view identifier) {
  check(row.size() > identifier.size() + 1 && row.substr(0, identifier.size()) == identifier &&
            row[identifier.size()] == '\t',
        "row does not start with the identifier and a tab", row);
  std::string_view rest = row.substr(identifier.size() + 1);
  check(!rest.empty() && rest.back() == '\r', "row does not end with CR", row);
  rest.remove_suffix(1);
  check(rest.find('\r') == std::string_view::npos, "CR inside a row", row);
  if (rest == "*") return;
  int fields = 0;
  for (;;) {
    std::size_t tab = rest.find('\t');
    std::string_view f = rest.substr(0, tab);
    check(isNumberText(f), "row field is not a number as Str writes it", f);
    ++fields;
    if (tab == std::string_view::npos) break;
    rest.remove_prefix(tab + 1);
  }
  check(fields == 39, "row does not hold 39 numbers", row);
}

namespace {

constexpr int kMaxRecords = 8;

// Lines as the input stream gives them: ended by CR, LF or CRLF.
std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    std::size_t eol = text.find_first_of("\r\n");
    lines.push_back(text.substr(0, eol));
    if (eol == std::string_view::npos) break;
    std::size_t next = eol + 1;
    if (text[eol] == '\r' && next < text.size() && text[next] == '\n') ++next;
    text.remove_prefix(next);
  }
  return lines;
}

struct RecordSetup {
  Settings settings;
  std::int32_t fc = 100;
  double hcnLatitude = 0.0;
};

void prepare(RunState& s, const RecordSetup& setup, std::ostream& out) {
  s.settings = setup.settings;
  s.fc = setup.fc;
  s.hcn_latitude = setup.hcnLatitude;
  s.carryover = setup.settings.carryover;
  fillDaysPerMonth(s);
  s.aet_out = TextOutputStream::toStream(out);
}

// Reads, computes and writes one record as the driver does; returns its row.
std::string computeRow(RunState& s, std::ostringstream& out, std::string_view precip, std::string_view tmean,
                       bool first) {
  if (s.settings.format == 1)
    readHcnRecord(s, precip, tmean);
  else
    readTabRecord(s, precip, tmean);
  if (first) s.year_one = true;
  computeRecord(s, nullptr);
  write_files(s);
  check(s.aet_out->flush(), "writing a row to memory failed");
  std::string row = out.str();
  out.str(std::string());
  return row;
}

struct Carried {
  double w = 0.0;
  double ws = 0.0;
  bool yearOne = false;
};

}  // namespace

void fuzzRecords(const std::uint8_t* data, std::size_t size, int format) {
  ByteReader in(data, size);
  const std::uint8_t flags = in.byte();
  RecordSetup setup;
  setup.settings.format = format;
  setup.settings.beta = flags % 9;  // 8 stands for an index outside A to H
  setup.settings.carryover = (flags & 0x10) != 0;
  const std::uint16_t fcBits = in.u16();
  // Field capacity is at least 1 mm once a run has started; try both ends.
  setup.fc = (flags & 0x20) != 0 ? std::numeric_limits<std::int32_t>::max() - fcBits : 1 + fcBits;
  setup.hcnLatitude = -90.0 + 180.0 * static_cast<double>(in.byte()) / 255.0;

  const std::vector<std::string_view> lines = splitLines(in.rest());
  const std::size_t records = std::min<std::size_t>(kMaxRecords, (lines.size() + 1) / 2);
  auto lineAt = [&](std::size_t i) { return i < lines.size() ? lines[i] : std::string_view(); };

  // The records in sequence, as one run would compute them.
  std::vector<std::string> rows;
  std::vector<Carried> before;
  {
    std::ostringstream out;
    RunState s;
    prepare(s, setup, out);
    for (std::size_t r = 0; r < records; ++r) {
      before.push_back({s.current_w, s.current_ws, s.year_one || r == 0});
      rows.push_back(computeRow(s, out, lineAt(2 * r), lineAt(2 * r + 1), r == 0));
      checkRow(rows.back(), s.year);
    }
  }

  // Each record again in a state of its own that holds only what the run
  // carries from one record to the next: the row must not change. This finds
  // anything else that leaks from record to record, or a result that is not
  // deterministic.
  for (std::size_t r = 0; r < records; ++r) {
    std::ostringstream out;
    RunState s;
    prepare(s, setup, out);
    s.current_w = before[r].w;
    s.current_ws = before[r].ws;
    std::string row = computeRow(s, out, lineAt(2 * r), lineAt(2 * r + 1), before[r].yearOne);
    check(row == rows[r], "a record's row depends on more than the carried soil water", rows[r] + "\n" + row);
  }
}

}  // namespace vadoset::fuzz
