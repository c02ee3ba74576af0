#include "run/row_loop.h"

#include <cerrno>
#include <cstring>

#include "run/input_checks.h"
#include "state/host.h"
#include "state/run_state.h"

namespace vadoset {

RunPlan planFor(const RunState& s) {
  RunPlan plan;
  plan.format = &formatDescription(s.settings.format);
  plan.read = readOptionsFor(s.settings, static_cast<double>(s.fc), s.hcn_latitude);
  if (plan.format->readHeaders != nullptr) plan.format->readHeaders(s.precip_header, s.tmean_header, plan.read);
  plan.model.function = s.settings.function;
  plan.model.carryover = s.carryover;
  plan.model.exhaustiveSpinUp = s.exhaustiveSpinUp;
  plan.table = TableLayout(s.settings.columns, s.settings.lineEnding);
  return plan;
}

void parseSlot(const RunPlan& plan, RecordBatch& b, std::size_t i) {
  RecordSlot& r = b.slots[i];
  readRecord(*plan.format, b.precipLine(r), b.tmeanLine(r), plan.read, r.input, r.text);
}

void formatSlot(const RunPlan& plan, RecordBatch& b, std::size_t i) {
  RecordSlot& r = b.slots[i];
  r.rowLength = plan.table.formatRowValues(r.input, r.result, b.row(i));
}

void computeSlots(const RunPlan& plan, RecordEngine& engine, RecordBatch& b, std::size_t begin, std::size_t end,
                  CarriedState& carried, BatchScratch& scratch) {
  const std::size_t n = end - begin;
  if (scratch.inputs.size() < n) {
    scratch.inputs.resize(n);
    scratch.results.resize(n);
    scratch.carried.resize(n);
  }
  for (std::size_t i = 0; i < n; ++i) {
    parseSlot(plan, b, begin + i);
    scratch.inputs[i] = b.slots[begin + i].input;
  }
  engine.computeBatch({scratch.inputs.data(), n}, {scratch.results.data(), n}, carried, {scratch.carried.data(), n});
  for (std::size_t i = 0; i < n; ++i) {
    RecordSlot& r = b.slots[begin + i];
    r.result = scratch.results[i];
    r.carriedAfter = scratch.carried[i];
    formatSlot(plan, b, begin + i);
  }
}

namespace {

// "month 2 of the precipitation file is missing ('NA')": the reason, and
// the text that made a month or the latitude unusable.
std::string describeNullRow(const NullRow& n) {
  std::string text = nullReasonText(static_cast<NullReason>(n.reason), n.month);
  if (!n.showField) return text;
  if (n.field.empty()) return text + " (an empty field)";
  text += " ('";
  text.append(n.field.substr(0, 40));
  if (n.field.size() > 40) text += "...";
  return text + "')";
}

NullRow nullRowOf(const RunPlan& plan, const RecordBatch& b, const RecordSlot& r, std::int64_t row) {
  NullRow n;
  n.row = row;
  n.line = r.line;
  n.id = r.input.id;
  n.reason = static_cast<int>(r.result.reason);
  n.reasonCode = nullReasonCode(r.result.reason);
  n.month = r.result.month;
  n.describe = describeNullRow;
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
    default:
      break;
  }
  return n;
}

// Reads the next records into b, as many as fit: the end of the
// precipitation file is tested before every record, so a file with a header
// alone gives no rows and blank lines at its end are not records. True when
// the input has ended.
bool readBatch(RunState& s, Host& host, const RunPlan& plan, BatchComputer& c, RecordBatch& b, std::uint64_t& line,
               bool& stopped) {
  const std::size_t n = c.batchRecords() == 0 ? 1 : c.batchRecords();
  b.precipArena.clear();
  b.tmeanArena.clear();
  b.count = 0;
  if (b.slots.size() != n) b.slots.resize(n);
  b.rowBytes = plan.table.rowValuesBytes();
  if (b.rows.size() != n * b.rowBytes) b.rows.resize(n * b.rowBytes);
  const bool multiLine = plan.format->format == InputFormat::Csv;
  while (b.count < n && (b.count == 0 || b.lineBytes() < c.batchLineBytes())) {
    if (s.precip_data->onlyBlankLinesLeft()) return true;
    // A very long line starts a batch of its own, so that it never shares
    // one with the lines before it.
    if (b.count > 0 && s.precip_data->nextLineBytes() > c.batchLineBytes() / 2) break;
    if (b.count == 0 && host.stopRequested()) {
      stopped = true;
      return false;
    }
    // The lines go straight into the batch: no other copy of a long line.
    RecordSlot& r = b.slots[b.count];
    r.precipOffset = b.precipArena.size();
    plan.format->nextRecord(*s.precip_data, b.precipArena);
    r.precipLength = b.precipArena.size() - r.precipOffset;
    r.tmeanOffset = b.tmeanArena.size();
    plan.format->nextRecord(*s.tmean_data, b.tmeanArena);
    r.tmeanLength = b.tmeanArena.size() - r.tmeanOffset;
    r.bytesRead = s.precip_data->bytesRead();
    r.line = ++line;
    // A quoted field may hold line breaks.
    if (multiLine) {
      std::string_view p = b.precipLine(r);
      for (char ch : p) line += ch == '\n' ? 1 : 0;
    }
    ++b.count;
  }
  return false;
}

}  // namespace

RunOutcome runRows(RunState& s, Host& host, BatchComputer& c) {
  if (std::optional<RunOutcome> ended = openRun(s, host)) return *ended;
  const RunPlan plan = planFor(s);
  InputChecks checks(plan, s);
  checks.headers(s.precip_header, s.tmean_header);
  std::vector<RecordBatch> ring(c.batchesInFlight() < 1 ? 1 : c.batchesInFlight());
  // The first record of the run is spun up from the carried state as it
  // stands.
  s.year_one = true;
  c.begin(plan, CarriedState{s.current_w, s.current_ws, true});

  const std::uint64_t precipBytesTotal = s.precip_data->size();
  TextOutputStream& out = *s.aet_out;
  std::int32_t count = 1;
  std::uint64_t line = 1;  // the header
  bool stopped = false;
  bool inputEnded = false;
  std::uint64_t readSeq = 0;
  std::uint64_t writeSeq = 0;
  std::size_t bytesInFlight = 0;
  const std::size_t lineBudget = c.batchLineBytes() * ring.size();
  try {
    while (!stopped) {
      // Read ahead while a batch is free; the computer starts at once.
      // The lines in flight stay within the computer's budget, however long
      // they are: one batch at least, more while they fit.
      while (!inputEnded && !stopped && readSeq - writeSeq < ring.size() &&
             (readSeq == writeSeq || bytesInFlight < lineBudget)) {
        RecordBatch& b = ring[readSeq % ring.size()];
        inputEnded = readBatch(s, host, plan, c, b, line, stopped);
        if (b.count == 0) break;
        bytesInFlight += b.lineBytes();
        c.submit(b);
        ++readSeq;
      }
      if (stopped || writeSeq == readSeq) break;

      RecordBatch& b = ring[writeSeq % ring.size()];
      if (!c.wait(b, host)) {
        stopped = true;
        break;
      }
      for (std::size_t i = 0; i < b.count; ++i) {
        if (i > 0 && host.stopRequested()) {
          stopped = true;
          break;
        }
        const RecordSlot& r = b.slots[i];
        // The run state ends as each record leaves it: the carried soil
        // water and snow, and year_one cleared by the first record computed.
        if (r.result.passes > 0) s.year_one = false;
        if (plan.model.carryover) {
          s.current_w = r.carriedAfter.soil;
          s.current_ws = r.carriedAfter.snow;
        }
        out.Write(r.input.id);
        out.Write('\t');
        out.Write(std::string_view(b.row(i), r.rowLength));
        // A write to a pipe that nobody reads gives up when a stop is asked.
        if (out.failed() && out.error() == EINTR && host.stopRequested()) {
          stopped = true;
          break;
        }
        if (out.failed()) {
          c.end();
          abandonRun(s);
          host.showMessage(outputFailedMessage(s));
          return RunOutcome::OutputFailed;
        }
        checks.record(b, r);
        if (r.result.isNull()) host.nullRow(nullRowOf(plan, b, r, count));
        reportRow(host, count, r.bytesRead, precipBytesTotal);
        ++count;
      }
      bytesInFlight -= b.lineBytes();
      // A batch that once held very long lines gives their memory back.
      for (std::string* arena : {&b.precipArena, &b.tmeanArena})
        if (arena->capacity() > c.batchLineBytes() / 2 + (std::size_t{1} << 20)) std::string().swap(*arena);
      ++writeSeq;
    }
  } catch (...) {
    c.end();
    abandonRun(s);
    throw;
  }
  c.end();
  checks.end(s, stopped);
  const std::vector<std::string> warnings = checks.warnings();
  for (const std::string& w : warnings) host.warning(w);
  if (s.settings.strict && !warnings.empty()) {
    // Strict checking: a run with warnings leaves any earlier table as it was.
    abandonRun(s);
    host.showMessage("The table was not written: the input checks gave " + std::to_string(warnings.size()) +
                     (warnings.size() == 1 ? " warning" : " warnings") + " and checking is strict.");
    return RunOutcome::OutputFailed;
  }
  return finishRun(s, host, stopped);
}

}  // namespace vadoset
