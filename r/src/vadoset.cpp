// The compiled part of the R package: R's vectors handed to the record
// engine, the project's input readers and its table writer. The package's R
// functions check and shape the arguments; this file trusts them (double
// vectors of the lengths they say).

#include <Rcpp.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "input/formats.h"
#include "model/array_run.h"
#include "model/engine.h"
#include "model/values.h"
#include "output/columns.h"
#include "platform/text_stream.h"

using namespace vadoset;

namespace {

constexpr int kLastReason = kNullReasonCount - 1;

// The quantities a run can give, in the order R asks for them by name.
enum Quantity { kPet, kAet, kSurplus, kDeficit, kSoil, kSnow, kPrecip, kQuantities };
const char* const kQuantityNames[kQuantities] = {"pet", "aet", "surplus", "deficit", "soil", "snow", "precip"};
const char* const kTotalNames[4] = {"pet_total", "aet_total", "surplus_total", "deficit_total"};

std::string monthName(const char* quantity, int m) {
  char two[3] = {static_cast<char>('0' + (m + 1) / 10), static_cast<char>('0' + (m + 1) % 10), 0};
  return std::string(quantity) + "_" + two;
}

Rcpp::CharacterVector monthAbbreviations() {
  return {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
}

// An input of 12 months: a list of 12 double vectors (a data frame's
// columns), or one double vector whose month m starts at m * monthStride
// with records in groups as `place` says.
MonthColumns<const double> monthsOf(SEXP x, std::size_t monthStride, RecordPlace place) {
  MonthColumns<const double> c;
  c.place = place;
  if (TYPEOF(x) == VECSXP) {
    for (int m = 0; m < kMonths; ++m) c.month[static_cast<std::size_t>(m)] = REAL(VECTOR_ELT(x, m));
    c.place = RecordPlace{};
  } else {
    for (std::size_t m = 0; m < kMonths; ++m) c.month[m] = REAL(x) + m * monthStride;
  }
  return c;
}

// A per-record input: one value for all (length 1), one a record, or (with
// `cells`) one a cell of every group of records.
RecordColumn<const double> perRecord(SEXP x, std::size_t cells) {
  RecordColumn<const double> c;
  c.data = REAL(x);
  if (XLENGTH(x) == 1)
    c.place = RecordPlace{0, 0, 0};
  else if (cells > 0)
    c.place = RecordPlace{1, cells, 0};
  return c;
}

// A run in flight, with every R object its threads read or write: they stay
// protected for as long as the job lives.
struct Job {
  Rcpp::List keep;        // the inputs
  Rcpp::List out;         // what the run fills, as R gets it
  SEXP raster = nullptr;  // the raster form's values (inside `out`): cells x layers, as terra writes them
  std::size_t rasterCells = 0, rasterLayers = 0;
  std::size_t nullLayer = 0;
  Rcpp::RawVector reason, month;
  std::vector<std::int32_t> chains;
  std::unique_ptr<ArrayRun> run;
};

void checkInterrupt(void*) {
  R_CheckUserInterrupt();
}

// True when the user pressed Ctrl+C (or Esc); R's own check would jump out
// of this function, past the threads.
bool interruptPending() {
  return R_ToplevelExec(checkInterrupt, nullptr) == FALSE;
}

}  // namespace

// Starts computing n records on `threads` threads (0: one per core) and
// returns the job. `shape` says what `tmean` and `prec` are and what comes
// back: "columns" (lists of 12 columns in, a named list of columns out),
// "matrix" (n x 12 matrices in, one n x 12 matrix a quantity out) or
// "raster" (cells x 12 years matrices in: record y * cells + c is cell c of
// year y; the values of cells x (years * layers) out, a cell after another
// in each layer, `what`'s layers a year).
// [[Rcpp::export]]
SEXP cpp_start(SEXP tmean, SEXP prec, SEXP lat, SEXP fc, int curve, bool carryover, bool keep, SEXP chain, int threads,
               Rcpp::CharacterVector what, std::string shape, double records, double cells) {
  auto job = std::make_unique<Job>();
  job->keep = Rcpp::List::create(tmean, prec, lat, fc, chain);
  const auto n = static_cast<std::size_t>(records);
  const bool raster = shape == "raster";
  const std::size_t groupCells = raster ? static_cast<std::size_t>(cells) : 0;
  ArrayRecords a;
  a.records = n;
  const RecordPlace inPlace = raster ? RecordPlace{1, groupCells, kMonths * groupCells} : RecordPlace{};
  a.tmean = monthsOf(tmean, raster ? groupCells : n, inPlace);
  a.ppt = monthsOf(prec, raster ? groupCells : n, inPlace);
  a.latitude = perRecord(lat, groupCells);
  a.fieldCapacity = perRecord(fc, groupCells);
  a.keepPrecipitationFraction = keep;
  a.params.function = static_cast<AvailabilityFunction>(curve);
  a.params.carryover = carryover;
  a.missing = NA_REAL;
  if (carryover && !Rf_isNull(chain)) {
    const int* c = INTEGER(chain);
    job->chains.assign(c, c + XLENGTH(chain));
    a.chainOf = job->chains;
  }

  job->reason = Rcpp::RawVector(static_cast<R_xlen_t>(n));
  job->month = Rcpp::RawVector(static_cast<R_xlen_t>(n));
  a.reason.data = RAW(job->reason);
  a.month.data = RAW(job->month);

  std::vector<std::string> wanted = Rcpp::as<std::vector<std::string>>(what);
  auto wants = [&](const char* name) {
    for (const std::string& w : wanted)
      if (w == name) return true;
    return false;
  };
  MonthColumns<double>* monthly[kQuantities] = {&a.pet,  &a.aet,  &a.surplus,      &a.deficit,
                                                &a.soil, &a.snow, &a.precipitation};
  RecordColumn<double>* totals[4] = {&a.petTotal, &a.aetTotal, &a.surplusTotal, &a.deficitTotal};

  if (raster) {
    // The layers of one year: each wanted quantity's 12 months, the totals,
    // the null code.
    std::size_t layers = 0;
    for (int q = 0; q < kQuantities; ++q)
      if (wants(kQuantityNames[q])) layers += kMonths;
    if (wants("totals")) layers += 4;
    if (wants("null_code")) ++layers;
    const std::size_t years = groupCells == 0 ? 0 : n / groupCells;
    // Not filled here: the run writes every value. A plain vector, not a
    // matrix: terra::writeValues takes a vector, and a matrix would be
    // copied to one on every block.
    Rcpp::NumericVector m(Rf_allocVector(REALSXP, static_cast<R_xlen_t>(groupCells * years * layers)));
    job->raster = m;
    job->rasterCells = groupCells;
    job->rasterLayers = years * layers;
    double* data = REAL(m);
    const RecordPlace outPlace{1, groupCells, layers * groupCells};
    std::size_t layer = 0;
    for (int q = 0; q < kQuantities; ++q) {
      if (!wants(kQuantityNames[q])) continue;
      for (std::size_t k = 0; k < kMonths; ++k) monthly[q]->month[k] = data + (layer + k) * groupCells;
      monthly[q]->place = outPlace;
      layer += kMonths;
    }
    if (wants("totals"))
      for (RecordColumn<double>* t : totals) *t = RecordColumn<double>{data + layer++ * groupCells, outPlace};
    job->nullLayer = wants("null_code") ? layer : SIZE_MAX;
    job->out = Rcpp::List::create(Rcpp::Named("values") = m, Rcpp::Named("reason") = job->reason);
  } else {
    const bool columns = shape == "columns";
    Rcpp::List out;
    auto add = [&](SEXP x, std::string name) { out.push_back(x, name); };
    for (int q = 0; q < kQuantities; ++q) {
      if (!wants(kQuantityNames[q])) continue;
      if (columns) {
        for (std::size_t k = 0; k < kMonths; ++k) {
          Rcpp::NumericVector v(Rf_allocVector(REALSXP, static_cast<R_xlen_t>(n)));
          monthly[q]->month[k] = REAL(v);
          add(v, monthName(kQuantityNames[q], static_cast<int>(k)));
        }
      } else {
        Rcpp::NumericMatrix v(Rf_allocMatrix(REALSXP, static_cast<int>(n), kMonths));
        v.attr("dimnames") = Rcpp::List::create(R_NilValue, monthAbbreviations());
        for (std::size_t k = 0; k < kMonths; ++k) monthly[q]->month[k] = REAL(v) + k * n;
        add(v, kQuantityNames[q]);
      }
    }
    if (wants("totals")) {
      for (int t = 0; t < 4; ++t) {
        Rcpp::NumericVector v(Rf_allocVector(REALSXP, static_cast<R_xlen_t>(n)));
        totals[t]->data = REAL(v);
        add(v, kTotalNames[t]);
      }
    }
    add(job->reason, "reason");
    add(job->month, "month");
    job->out = out;
  }

  try {
    job->run = std::make_unique<ArrayRun>(a, threads);
  } catch (const std::exception& e) {
    Rcpp::stop(e.what());
  }
  return Rcpp::XPtr<Job>(job.release(), true);
}

// Waits for a job and returns what it computed. Ctrl+C stops it.
// [[Rcpp::export]]
SEXP cpp_finish(SEXP handle) {
  Rcpp::XPtr<Job> job(handle);
  if (!job->run) Rcpp::stop("this computation was already collected");
  bool done = false;
  try {
    done = job->run->wait(interruptPending);
  } catch (const std::exception& e) {
    job->run.reset();
    Rcpp::stop(std::string("the computation failed: ") + e.what());
  }
  job->run.reset();
  if (!done) throw Rcpp::internal::InterruptedException();
  if (job->raster != nullptr && job->nullLayer != SIZE_MAX) {
    // The null code as a layer: 0 for a computed cell.
    const std::size_t rows = job->rasterCells;
    const std::size_t cols = job->rasterLayers;
    const std::size_t years = rows == 0 ? 0 : static_cast<std::size_t>(XLENGTH(job->reason)) / rows;
    const std::size_t layers = years == 0 ? 0 : cols / years;
    double* data = REAL(job->raster);
    const Rbyte* reason = RAW(job->reason);
    for (std::size_t y = 0; y < years; ++y)
      for (std::size_t c = 0; c < rows; ++c)
        data[(y * layers + job->nullLayer) * rows + c] = static_cast<double>(reason[y * rows + c]);
  }
  return job->out;
}

// Stops a job that will not be collected (an error in between).
// [[Rcpp::export]]
void cpp_cancel(SEXP handle) {
  Rcpp::XPtr<Job> job(handle);
  job->run.reset();
}

namespace {

// Where a kind of suspicious value was seen: how often, and the first place
// (the lowest row, then the lowest column) with its value.
struct Finding {
  double count = 0;
  double row = 0;  // from 1; 0 while none is seen
  double column = 0;
  double value = 0;

  void see(R_xlen_t i, int j, double v) {
    ++count;
    const double r = static_cast<double>(i) + 1;
    if (row == 0 || r < row || (r == row && j + 1 < column)) {
      row = r;
      column = j + 1;
      value = v;
    }
  }
  Rcpp::NumericVector values() const { return {count, row, column, value}; }
};

// The columns of an input: a list of vectors, or a matrix.
int columnCount(SEXP x) {
  return TYPEOF(x) == VECSXP ? static_cast<int>(XLENGTH(x)) : Rf_ncols(x);
}
R_xlen_t rowCount(SEXP x) {
  return TYPEOF(x) == VECSXP ? XLENGTH(VECTOR_ELT(x, 0)) : Rf_nrows(x);
}
const double* column(SEXP x, int j) {
  return TYPEOF(x) == VECSXP ? REAL(VECTOR_ELT(x, j)) : REAL(x) + static_cast<R_xlen_t>(j) * Rf_nrows(x);
}

}  // namespace

// The values that the model takes but that are most likely a mistake, as
// vadoset-cli's input checks find them in its records: temperatures outside
// -80 to 60 °C, negative precipitation and precipitation above 5000 mm (as
// the model uses them: whole millimetres unless the fraction is kept), and
// latitudes outside -90 to 90. For each, c(count, row, column, value) of the
// first. Missing values (NA, -9999, 9999) are none of these.
// [[Rcpp::export]]
Rcpp::List cpp_check_values(SEXP tmean, SEXP prec, SEXP lat, bool keep) {
  Finding temperature, negative, huge, latitude;
  const R_xlen_t rows = rowCount(tmean);
  for (int j = 0; j < columnCount(tmean); ++j) {
    const double* t = column(tmean, j);
    for (R_xlen_t i = 0; i < rows; ++i) {
      if (t[i] >= -80.0 && t[i] <= 60.0) continue;  // most values, at once
      const double v = values::temperature(t[i]);
      if (v < -80.0 || v > 60.0) temperature.see(i, j, t[i]);
    }
  }
  for (int j = 0; j < columnCount(prec); ++j) {
    const double* p = column(prec, j);
    for (R_xlen_t i = 0; i < rows; ++i) {
      if (p[i] >= 0.0 && p[i] <= 5000.0) continue;
      const double v = values::precipitation(p[i], keep);
      if (v < 0.0) negative.see(i, j, p[i]);
      if (v > 5000.0) huge.see(i, j, p[i]);
    }
  }
  const double* l = REAL(lat);
  for (R_xlen_t i = 0; i < XLENGTH(lat); ++i)
    if (l[i] < -90.0 || l[i] > 90.0) latitude.see(i, -1, l[i]);
  return Rcpp::List::create(Rcpp::Named("temperature_range") = temperature.values(),
                            Rcpp::Named("negative_precipitation") = negative.values(),
                            Rcpp::Named("huge_precipitation") = huge.values(),
                            Rcpp::Named("latitude") = latitude.values());
}

// The stable names of the null reasons, for codes 1, 2, ...
// [[Rcpp::export]]
Rcpp::CharacterVector cpp_null_codes() {
  Rcpp::CharacterVector out;
  for (int r = 1; r <= kLastReason; ++r) out.push_back(std::string(nullReasonCode(static_cast<NullReason>(r))));
  return out;
}

// The reasons in words (NA for a computed record); few distinct ones, each
// worded once.
// [[Rcpp::export]]
Rcpp::CharacterVector cpp_null_reasons(Rcpp::RawVector reason, Rcpp::RawVector month) {
  const R_xlen_t n = reason.size();
  Rcpp::CharacterVector out(n, NA_STRING);
  std::vector<SEXP> words((kLastReason + 1) * 16, nullptr);
  Rcpp::List hold;
  for (R_xlen_t i = 0; i < n; ++i) {
    const int r = reason[i];
    if (r == 0 || r > kLastReason) continue;
    const int m = month[i] & 15;
    SEXP& w = words[static_cast<std::size_t>(r * 16 + m)];
    if (w == nullptr) {
      w = Rf_mkCharCE(nullReasonText(static_cast<NullReason>(r), m).c_str(), CE_UTF8);
      hold.push_back(Rf_ScalarString(w));
    }
    SET_STRING_ELT(out, i, w);
  }
  return out;
}

// The letters of the availability functions, in order.
// [[Rcpp::export]]
std::string cpp_curves() {
  return std::string(kAvailabilityLetters);
}

// The input formats' names and the table's column groups, as the command
// line takes them.
// [[Rcpp::export]]
Rcpp::List cpp_names() {
  Rcpp::CharacterVector formats, groups;
  for (const InputFormatDescription& f : inputFormats()) formats.push_back(std::string(f.cliName));
  for (const ColumnGroupDescription& g : columnGroups()) groups.push_back(std::string(g.cliName));
  return Rcpp::List::create(Rcpp::Named("formats") = formats, Rcpp::Named("groups") = groups);
}

namespace {

std::string openFailure(const std::string& path, int error) {
  const std::string file = "The file " + path;
  return error == ENOENT || error == ENOTDIR ? file + " doesn't exist."
                                             : withCause(file + " could not be read.", error);
}

Rcpp::List failure(const std::string& message) {
  return Rcpp::List::create(Rcpp::Named("error") = message);
}

SEXP bytes(std::string_view s) {
  return Rf_mkCharLenCE(s.data(), static_cast<int>(s.size()), CE_NATIVE);
}

}  // namespace

// Reads the records of two input files as vadoset-cli reads them: the
// identifier and latitude from the precipitation file, months in the
// model's units (NaN where missing), each record's field capacity. On
// failure a list with `error`, the message.
// [[Rcpp::export]]
Rcpp::List cpp_read(std::string temperature, std::string precipitation, std::string format, double latitude,
                    double fieldCapacity, int fieldCapacityField, bool keep) {
  const InputFormatDescription* f = findFormat(format);
  if (f == nullptr) return failure("unknown format " + format);
  int error = 0;
  std::unique_ptr<TextInputStream> p = TextInputStream::open(precipitation, &error);
  if (!p) return failure(openFailure(precipitation, error));
  std::unique_ptr<TextInputStream> t = TextInputStream::open(temperature, &error);
  if (!t) return failure(openFailure(temperature, error));

  std::string precipHeader, tmeanHeader;
  f->nextRecord(*p, precipHeader);
  f->nextRecord(*t, tmeanHeader);
  if (f->headerOk != nullptr) {
    if (!f->headerOk(precipHeader)) return failure(std::string(f->precipHeaderMessage) + ".");
    if (!f->headerOk(tmeanHeader)) return failure(std::string(f->tmeanHeaderMessage) + ".");
  }
  ReadOptions options;
  options.latitude = latitude;
  options.fieldCapacity = fieldCapacity;
  options.fieldCapacityField = fieldCapacityField;
  options.keepPrecipitationFraction = keep;
  if (f->readHeaders != nullptr) f->readHeaders(precipHeader, tmeanHeader, options);

  std::vector<std::string> ids;
  std::vector<double> lat, fc, tm, pp;
  std::vector<double> lines;
  std::int64_t idsDiffer = 0, firstDiffer = 0, tmeanEnded = 0;
  std::string precipLine, tmeanLine, text;
  double line = 1;
  RecordInput in;
  // The end of the precipitation file is tested before every record, as a
  // run does: blank lines at its end are not records.
  while (!p->onlyBlankLinesLeft()) {
    precipLine.clear();
    tmeanLine.clear();
    f->nextRecord(*p, precipLine);
    f->nextRecord(*t, tmeanLine);
    lines.push_back(++line);
    for (char ch : precipLine) line += ch == '\n' ? 1 : 0;
    readRecord(*f, precipLine, tmeanLine, options, in, text);
    ids.emplace_back(in.id);
    lat.push_back(in.latitude);
    fc.push_back(in.fieldCapacity);
    tm.insert(tm.end(), in.tmean.begin(), in.tmean.end());
    pp.insert(pp.end(), in.ppt.begin(), in.ppt.end());
    if (tmeanLine.empty() && !precipLine.empty()) {
      ++tmeanEnded;
    } else if (f->idField != nullptr && f->idField(precipLine, options) != f->idField(tmeanLine, options)) {
      if (idsDiffer++ == 0) firstDiffer = static_cast<std::int64_t>(ids.size());
    }
  }
  const bool moreTemperatures = !t->onlyBlankLinesLeft();
  for (const auto& [stream, name] : {std::pair{p.get(), &precipitation}, std::pair{t.get(), &temperature}}) {
    stream->checkUnchanged();
    if (stream->readFailed()) return failure("The file " + *name + " could not be read.");
    if (stream->changedWhileRead()) return failure("The file " + *name + " changed while it was read.");
  }

  const std::size_t n = ids.size();
  Rcpp::CharacterVector id(static_cast<R_xlen_t>(n));
  for (std::size_t i = 0; i < n; ++i) SET_STRING_ELT(id, static_cast<R_xlen_t>(i), bytes(ids[i]));
  Rcpp::NumericMatrix tmean(static_cast<int>(n), kMonths), prec(static_cast<int>(n), kMonths);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t m = 0; m < kMonths; ++m) {
      // R marks a missing value with its own NA.
      const double tv = tm[i * kMonths + m], pv = pp[i * kMonths + m];
      tmean[static_cast<R_xlen_t>(m * n + i)] = std::isnan(tv) ? NA_REAL : tv;
      prec[static_cast<R_xlen_t>(m * n + i)] = std::isnan(pv) ? NA_REAL : pv;
    }
  auto naFor = [](std::vector<double>& v) {
    for (double& x : v)
      if (std::isnan(x)) x = NA_REAL;
    return Rcpp::wrap(v);
  };
  return Rcpp::List::create(
      Rcpp::Named("id") = id, Rcpp::Named("lat") = naFor(lat), Rcpp::Named("field_capacity") = naFor(fc),
      Rcpp::Named("tmean") = tmean, Rcpp::Named("prec") = prec, Rcpp::Named("line") = Rcpp::wrap(lines),
      Rcpp::Named("ids_differ") = static_cast<double>(idsDiffer),
      Rcpp::Named("first_differ") = static_cast<double>(firstDiffer),
      Rcpp::Named("tmean_ended") = static_cast<double>(tmeanEnded), Rcpp::Named("more_temperatures") = moreTemperatures,
      Rcpp::Named("lines_cut") = static_cast<double>(p->linesCut() + t->linesCut()),
      Rcpp::Named("field_capacity_column") = options.fieldCapacityColumn > 0 || fieldCapacityField > 0);
}

// Writes the table as vadoset-cli writes it: the header, then per record its
// identifier, a tab and its columns (or "*" for a null row), the line end
// after each. `values` holds the columns the groups need, each a list of 12
// double vectors: pet, aet, surplus, soil, snow, precip. The file replaces
// its target only once it is complete. Returns "" or the error message.
// [[Rcpp::export]]
std::string cpp_write_table(std::string path, Rcpp::CharacterVector id, Rcpp::List values, Rcpp::LogicalVector null,
                            Rcpp::CharacterVector groups, std::string lineEnding) {
  std::vector<ColumnGroup> chosen;
  for (R_xlen_t i = 0; i < groups.size(); ++i) {
    const ColumnGroupDescription* g = findColumnGroup(Rcpp::as<std::string>(groups[i]));
    if (g == nullptr) return "unknown column group " + Rcpp::as<std::string>(groups[i]);
    chosen.push_back(g->group);
  }
  const LineEnding ending = lineEnding == "lf"     ? LineEnding::Lf
                            : lineEnding == "crlf" ? LineEnding::CrLf
                                                   : LineEnding::Cr;
  const TableLayout layout(chosen, ending);

  const std::string name = std::filesystem::path(path).filename().string();
  const std::string message = "The output file " + (name.empty() ? path : name) + " could not be written.";
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return withCause(message, EISDIR);
  int error = 0;
  std::unique_ptr<TextOutputStream> out = TextOutputStream::createFile(path, &error);
  if (!out) return withCause(message, error);
  out->Write(layout.header());

  const double* columns[6][kMonths] = {};
  const char* const keys[6] = {"pet", "aet", "surplus", "soil", "snow", "precip"};
  for (int k = 0; k < 6; ++k) {
    if (!values.containsElementNamed(keys[k])) continue;
    Rcpp::List months = values[keys[k]];
    for (int m = 0; m < kMonths; ++m) columns[k][m] = REAL(months[m]);
  }
  std::vector<char> buf(layout.rowValuesBytes());
  RecordInput in;
  RecordResult r;
  const R_xlen_t n = id.size();
  for (R_xlen_t i = 0; i < n; ++i) {
    r.reason = null[i] == TRUE ? NullReason::NoSteadyState : NullReason::None;
    MonthValues* targets[6] = {&r.pet, &r.aet, &r.surplus, &r.soil, &r.snow, &in.ppt};
    for (int k = 0; k < 6; ++k)
      for (int m = 0; m < kMonths; ++m)
        (*targets[k])[static_cast<std::size_t>(m)] = columns[k][m] != nullptr ? columns[k][m][i] : 0.0;
    SEXP s = STRING_ELT(id, i);
    out->Write(std::string_view(CHAR(s), static_cast<std::size_t>(LENGTH(s))));
    out->Write('\t');
    out->Write(std::string_view(buf.data(), layout.formatRowValues(in, r, buf.data())));
    if (out->failed()) break;
    if ((i & 4095) == 4095) Rcpp::checkUserInterrupt();  // the file is dropped on the way out
  }
  if (!out->commit()) return withCause(message, out->error());
  return "";
}
