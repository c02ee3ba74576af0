#include "run/row_loop.h"

#include <cstring>

#include "run/input_checks.h"

namespace vadoset {

RunPlan planFor(const RunConfig& config, const RunInputs& inputs) {
  RunPlan plan;
  plan.precipName = config.precipName;
  plan.tmeanName = config.tmeanName;
  plan.format = config.format;
  plan.read = config.read;
  if (plan.format->readHeaders != nullptr) plan.format->readHeaders(inputs.precipHeader, inputs.tmeanHeader, plan.read);
  plan.model = config.model;
  plan.table = TableLayout(config.columns, config.lineEnding);
  return plan;
}

void parseSlots(const RunPlan& plan, RecordBatch& b, std::size_t begin, std::size_t end, BatchScratch& scratch) {
  const std::size_t n = end - begin;
  if (scratch.inputs.size() < n) {
    scratch.inputs.resize(n);
    scratch.results.resize(n);
    scratch.carried.resize(n);
    scratch.guessed.resize(n);
  }
  for (std::size_t i = 0; i < n; ++i) {
    RecordSlot& r = b.slots[begin + i];
    readRecord(*plan.format, b.precipLine(r), b.tmeanLine(r), plan.read, r.input, r.text);
    scratch.inputs[i] = r.input;
  }
}

void RowText::grow(std::size_t need) {
  const std::size_t to = need > 2 * capacity ? need : 2 * capacity;
  std::unique_ptr<char[]> more(new char[to]);
  if (size > 0) std::memcpy(more.get(), data.get(), size);
  data = std::move(more);
  capacity = to;
}

void formatSlot(const RunPlan& plan, const InputChecks& checks, RecordBatch& b, std::size_t i, BatchScratch& scratch) {
  RecordSlot& r = b.slots[i];
  RowText& rows = b.rows[i / kChunkRecords];
  if (i % kChunkRecords == 0) rows.size = 0;
  const std::string_view id = r.input.id;
  char* p = rows.room(id.size() + 1 + plan.table.rowValuesBytes());
  if (!id.empty()) std::memcpy(p, id.data(), id.size());
  p[id.size()] = '\t';
  rows.size += id.size() + 1 + plan.table.formatRowValues(r.input, r.result, p + id.size() + 1);
  r.rowEnd = rows.size;
  checks.examine(b, r, scratch.fields);
}

void computeSlots(const RunPlan& plan, const InputChecks& checks, RecordEngine& engine, RecordBatch& b,
                  std::size_t begin, std::size_t end, CarriedState& carried, BatchScratch& scratch) {
  const std::size_t n = end - begin;
  parseSlots(plan, b, begin, end, scratch);
  engine.computeBatch({scratch.inputs.data(), n}, {scratch.results.data(), n}, carried, {scratch.carried.data(), n});
  for (std::size_t i = 0; i < n; ++i) {
    RecordSlot& r = b.slots[begin + i];
    r.result = scratch.results[i];
    r.carriedAfter = scratch.carried[i];
    formatSlot(plan, checks, b, begin + i, scratch);
  }
}

namespace {

NullRow nullRowOf(const RunPlan& plan, const RecordBatch& b, const RecordSlot& r, std::int64_t row) {
  NullRow n;
  n.row = row;
  n.line = r.line;
  n.id = r.input.id;
  n.reason = r.result.reason;
  n.month = r.result.month;
  switch (r.result.reason) {
    case NullReason::PrecipitationMissing:
      n.field = plan.format->monthField(b.precipLine(r), r.result.month, plan.read);
      n.showField = true;
      break;
    case NullReason::TemperatureMissing:
    case NullReason::TemperatureOutOfRange:
      n.field = plan.format->monthField(b.tmeanLine(r), r.result.month, plan.read);
      n.showField = true;
      break;
    case NullReason::LatitudeInvalid:
      n.field = plan.format->latitudeField(b.precipLine(r), plan.read);
      n.showField = !plan.format->usesLatitudeSetting;
      break;
    case NullReason::FieldCapacityInvalid: {
      const int k = plan.read.fieldCapacityColumn > 0 ? plan.read.fieldCapacityColumn : plan.read.fieldCapacityField;
      if (k > 0 && plan.format->splitFields != nullptr) {
        std::vector<std::string_view> fields;
        plan.format->splitFields(b.precipLine(r), plan.read, fields);
        if (static_cast<int>(fields.size()) >= k) {
          n.field = fields[static_cast<std::size_t>(k - 1)];
        } else {
          n.lineFields = static_cast<int>(fields.size());
          n.fieldsNeeded = k;
        }
        n.showField = true;
      }
      break;
    }
    default:
      break;
  }
  // A month's field past the end of its line: say how short the line is.
  const bool month =
      r.result.reason == NullReason::PrecipitationMissing || r.result.reason == NullReason::TemperatureMissing;
  const std::string_view line = r.result.reason == NullReason::PrecipitationMissing ? b.precipLine(r) : b.tmeanLine(r);
  if (month && n.field.empty() && !line.empty() && plan.format->splitFields != nullptr) {
    std::vector<std::string_view> fields;
    plan.format->splitFields(line, plan.read, fields);
    if (static_cast<int>(fields.size()) < r.result.month + 2) {
      n.lineFields = static_cast<int>(fields.size());
      n.fieldsNeeded = kMonths + 2;
    }
  } else if (month && n.field.empty() && !line.empty() && plan.format->splitFields == nullptr) {
    // Fixed columns: the line ends before the month's columns. A record
    // needs as many characters as December's field ends at.
    static const std::string probe(256, ' ');
    const std::string_view december = plan.format->monthField(probe, kMonths, plan.read);
    n.lineFields = static_cast<int>(line.size());
    n.fieldsNeeded = static_cast<int>(december.data() - probe.data() + static_cast<std::ptrdiff_t>(december.size()));
    n.inColumns = true;
  }
  return n;
}

// Reads the next records into b, as many as fit: the end of the
// precipitation file is tested before every record, so a file with a header
// alone gives no rows and blank lines at its end are not records. True when
// the input has ended.
// Reads the next record into slot b.count of the batch: a record of each
// file, the precipitation file's first; the lines go straight into the
// batch, so that a long line has no other copy. `line` is the last line of
// the precipitation file read so far.
void Read_data(RunInputs& in, const RunPlan& plan, RecordBatch& b, std::uint64_t& line) {
  RecordSlot& r = b.slots[b.count];
  r.precipOffset = b.precipArena.size();
  plan.format->nextRecord(*in.precip, b.precipArena);
  r.precipLength = b.precipArena.size() - r.precipOffset;
  r.tmeanOffset = b.tmeanArena.size();
  plan.format->nextRecord(*in.tmean, b.tmeanArena);
  r.tmeanLength = b.tmeanArena.size() - r.tmeanOffset;
  r.bytesRead = in.precip->bytesRead();
  r.line = ++line;
  // A quoted field may hold line breaks.
  if (plan.format->recordsSpanLines)
    for (char ch : b.precipLine(r)) line += ch == '\n' ? 1 : 0;
}

// Writes the rows of chunk k up to record i's (its last in the chunk, or the
// last before a stop).
void write_files(TextOutputStream& out, const RecordBatch& b, std::size_t k, std::size_t i) {
  out.Write(b.rows[k].text(b.slots[i].rowEnd));
}

// Counts a record's row: the carried state as it leaves it (the first
// record computed clears yearOne), the input checks, and a null row's line
// of the report, which the observer hears of too.
void countRow(const RunPlan& plan, InputChecks& checks, const RecordBatch& b, const RecordSlot& r,
              TextOutputStream* report, RunObserver& observer, RunResult& result) {
  if (r.result.passes > 0) result.carried.yearOne = false;
  if (plan.model.carryover) {
    result.carried.soil = r.carriedAfter.soil;
    result.carried.snow = r.carriedAfter.snow;
  }
  ++result.rows;
  checks.record(b, r);
  if (r.result.isNull()) {
    ++result.nullRows;
    const NullRow n = nullRowOf(plan, b, r, result.rows);
    if (report != nullptr) writeNullReportLine(*report, n);
    observer.nullRow(n);
  }
}

// Counts and writes the rows of a computed batch, the rows of a chunk
// together once its records are counted, until the observer asks to stop
// (`stopped`). False when an output failed.
bool writeRows(const RunPlan& plan, InputChecks& checks, const RecordBatch& b, TextOutputStream& out,
               TextOutputStream* report, RunObserver& observer, RunResult& result, Progress& progress,
               StopRequest& stopped) {
  for (std::size_t k = 0; k * kChunkRecords < b.count && stopped == StopRequest::None; ++k) {
    const std::size_t first = k * kChunkRecords;
    const std::size_t last = first + kChunkRecords < b.count ? first + kChunkRecords : b.count;
    std::size_t i = first;
    for (; i < last; ++i) {
      if ((stopped = observer.stopRequested()) != StopRequest::None) break;
      countRow(plan, checks, b, b.slots[i], report, observer, result);
      progress.rows = result.rows;
      progress.precipBytesRead = b.slots[i].bytesRead;
      observer.progress(progress);
    }
    if (i > first) write_files(out, b, k, i - 1);
    if (out.failed() || (report != nullptr && report->failed())) return false;
  }
  return true;
}

bool readBatch(RunInputs& in, RunObserver& observer, const RunPlan& plan, BatchComputer& c, RecordBatch& b,
               std::uint64_t& line, StopRequest& stopped) {
  const std::size_t n = c.batchRecords() == 0 ? 1 : c.batchRecords();
  b.precipArena.clear();
  b.tmeanArena.clear();
  b.count = 0;
  if (b.slots.size() != n) b.slots.resize(n);
  if (b.rows.size() != (n + kChunkRecords - 1) / kChunkRecords) b.rows.resize((n + kChunkRecords - 1) / kChunkRecords);
  while (b.count < n && (b.count == 0 || b.lineBytes() < c.batchLineBytes())) {
    if (in.precip->onlyBlankLinesLeft()) return true;
    // A very long line starts a batch of its own, so that it never shares
    // one with the lines before it.
    if (b.count > 0 && in.precip->nextLineBytes() > c.batchLineBytes() / 2) break;
    if (b.count == 0 && (stopped = observer.stopRequested()) != StopRequest::None) return false;
    Read_data(in, plan, b, line);
    ++b.count;
  }
  return false;
}

}  // namespace

StopRequest Main_loop(RunInputs& in, RunOutputs& outputs, const RunPlan& plan, BatchComputer& c, RunObserver& observer,
                      RunResult& result) {
  InputChecks checks(plan);
  checks.headers(in.precipHeader, in.tmeanHeader);
  std::vector<RecordBatch> ring(c.batchesInFlight() < 1 ? 1 : c.batchesInFlight());
  // The first record of the run is spun up from the carried state as it
  // stands.
  result.carried.yearOne = true;
  c.begin(plan, checks, result.carried);

  const std::uint64_t precipBytesTotal = in.precip->size();
  TextOutputStream& out = *outputs.table;
  TextOutputStream* report = outputs.report.get();
  std::uint64_t line = 1;  // the header
  StopRequest stopped = StopRequest::None;
  bool inputEnded = false;
  std::uint64_t readSeq = 0;
  std::uint64_t writeSeq = 0;
  std::size_t bytesInFlight = 0;
  const std::size_t lineBudget = c.batchLineBytes() * ring.size();
  Progress progress;
  progress.precipBytesTotal = precipBytesTotal;
  try {
    while (stopped == StopRequest::None) {
      // Read ahead while a batch is free; the computer starts at once.
      // The lines in flight stay within the computer's budget, however long
      // they are: one batch at least, more while they fit.
      while (!inputEnded && stopped == StopRequest::None && readSeq - writeSeq < ring.size() &&
             (readSeq == writeSeq || bytesInFlight < lineBudget)) {
        RecordBatch& b = ring[readSeq % ring.size()];
        inputEnded = readBatch(in, observer, plan, c, b, line, stopped);
        if (b.count == 0) break;
        bytesInFlight += b.lineBytes();
        c.submit(b);
        ++readSeq;
      }
      if (stopped != StopRequest::None || writeSeq == readSeq) break;

      RecordBatch& b = ring[writeSeq % ring.size()];
      if (!c.wait(b, observer)) {
        stopped = observer.stopRequested();
        if (stopped == StopRequest::None) stopped = StopRequest::KeepRows;
        break;
      }
      if (!writeRows(plan, checks, b, out, report, observer, result, progress, stopped)) {
        c.end();
        return StopRequest::None;
      }
      bytesInFlight -= b.lineBytes();
      // A batch that once held very long lines gives their memory back.
      for (std::string* arena : {&b.precipArena, &b.tmeanArena})
        if (arena->capacity() > c.batchLineBytes() / 2 + (std::size_t{1} << 20)) std::string().swap(*arena);
      for (RowText& rows : b.rows)
        if (rows.capacity > (std::size_t{4} << 20)) rows = RowText();
      ++writeSeq;
    }
  } catch (...) {
    c.end();
    throw;
  }
  c.end();
  checks.end(in, stopped != StopRequest::None);
  result.warnings = checks.warnings();
  for (const std::string& w : result.warnings) observer.warning(w);
  return stopped;
}

}  // namespace vadoset
