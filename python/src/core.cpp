// The compiled part of the Python package: many records through the record
// engine on several threads, from numpy arrays to numpy arrays. The
// package's Python side checks and shapes the arguments; this file trusts
// them (C-contiguous float64, consistent lengths).

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "model/climate_bounds.h"
#include "model/engine.h"
#include "model/values.h"

namespace py = pybind11;

namespace vadoset {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Batch {
  // Inputs: n records of 12 months; latitude and field capacity per record.
  const double* tmean;
  const double* ppt;
  const double* latitude;
  const double* fieldCapacity;    // one per record, or one for all
  std::size_t fieldCapacityStep;  // 1, or 0 for one for all
  const double* userPet;          // the caller's monthly PET, or null: Willmott's from temperature
  std::size_t records;
  // With carry-over record (y, c) is at y * chains + c and each chain is a
  // run of its own; without it every record stands alone.
  std::size_t chains;
  bool keepFraction;
  ModelParams params;
  // Outputs, 12 per record for the monthly ones.
  double *pet, *aet, *surplus, *deficit, *soil, *snow;
  double* totals;  // pet, aet, surplus, deficit sums per record
  std::uint8_t* reason;
  std::int8_t* month;
};

void storeRecord(const Batch& b, std::size_t i, const RecordResult& r) {
  double* pet = b.pet + i * kMonths;
  double* aet = b.aet + i * kMonths;
  double* surplus = b.surplus + i * kMonths;
  double* deficit = b.deficit + i * kMonths;
  double* soil = b.soil + i * kMonths;
  double* snow = b.snow + i * kMonths;
  double* totals = b.totals + i * 4;
  b.reason[i] = static_cast<std::uint8_t>(r.reason);
  b.month[i] = r.month;
  if (r.isNull()) {
    std::fill_n(pet, kMonths, kNaN);
    std::fill_n(aet, kMonths, kNaN);
    std::fill_n(surplus, kMonths, kNaN);
    std::fill_n(deficit, kMonths, kNaN);
    std::fill_n(soil, kMonths, kNaN);
    std::fill_n(snow, kMonths, kNaN);
    std::fill_n(totals, 4, kNaN);
    return;
  }
  std::memcpy(pet, r.pet.data(), sizeof r.pet);
  std::memcpy(aet, r.aet.data(), sizeof r.aet);
  std::memcpy(surplus, r.surplus.data(), sizeof r.surplus);
  std::memcpy(soil, r.soil.data(), sizeof r.soil);
  std::memcpy(snow, r.snow.data(), sizeof r.snow);
  for (int m = 0; m < kMonths; ++m) deficit[m] = r.pet[m] - r.aet[m];
  // The sums as the table's columns have them.
  const AnnualTotals t = annualTotals(r);
  totals[0] = t.pet;
  totals[1] = t.aet;
  totals[2] = t.surplus;
  totals[3] = t.deficit;
}

void readInput(const Batch& b, std::size_t i, RecordInput& in) {
  values::months(b.tmean + i * kMonths, b.ppt + i * kMonths, b.keepFraction, in.tmean.data(), in.ppt.data());
  in.latitude = b.latitude[i];
  in.fieldCapacity = values::fieldCapacity(b.fieldCapacity[i * b.fieldCapacityStep]);
}

// A null code of the package's own, after the engine's: a month of the
// caller's PET is missing.
constexpr int kPetMissing = kNullReasonCount;  // after the engine's reasons

// The engine's compute with the caller's PET in place of Run_pet: the same
// checks first, then the soil-water step alone on that PET.
void computeWithPet(const Batch& b, RecordEngine& engine, std::size_t i, const RecordInput& in, CarriedState& carried,
                    RecordResult& r) {
  r.reason = checkRecord(in, r.month);
  r.passes = 0;
  if (r.isNull()) return;
  const double* pet = b.userPet + i * kMonths;
  for (int m = 0; m < kMonths; ++m) {
    if (!std::isfinite(pet[m])) {
      r.reason = static_cast<NullReason>(kPetMissing);
      r.month = static_cast<std::int8_t>(m + 1);
      return;
    }
    r.pet[m] = pet[m];
  }
  engine.Run_model(in, carried, r);
}

void computeRecord(const Batch& b, RecordEngine& engine, std::size_t i, CarriedState& carried, RecordResult& r) {
  RecordInput in;
  readInput(b, i, in);
  if (b.userPet != nullptr)
    computeWithPet(b, engine, i, in, carried, r);
  else
    engine.compute(in, carried, r);
  storeRecord(b, i, r);
}

// What the threads of one batch share.
struct Shared {
  std::atomic<std::size_t> next{0};  // the first record (or chain) not yet handed out
  std::atomic<bool> stop{false};     // Ctrl+C: leave the rest
  std::mutex mutex;
  std::condition_variable finished;
  std::size_t running = 0;
};

// Below this many chains of years, each chain goes through the engine on its
// own; from it on, a year of many chains at a time.
constexpr std::size_t kFewChains = 16;

// Work is handed out in blocks from a shared counter: records differ a lot
// in the passes they take, so fixed shares would leave threads idle.
void worker(const Batch& b, Shared& shared, std::size_t blockSize) {
  RecordEngine engine(b.params);
  RecordResult result;  // one per thread: compute sets every field it reports
  if (!b.params.carryover && b.userPet == nullptr) {
    // Independent records go to the engine's batch form, which computes
    // many side by side in vector lanes where the CPU has them.
    std::vector<RecordInput> ins(blockSize);
    std::vector<RecordResult> outs(blockSize);
    for (;;) {
      const std::size_t start = shared.next.fetch_add(blockSize);
      if (start >= b.records || shared.stop.load(std::memory_order_relaxed)) return;
      const std::size_t n = std::min(b.records, start + blockSize) - start;
      for (std::size_t i = 0; i < n; ++i) readInput(b, start + i, ins[i]);
      CarriedState unused;
      engine.computeBatch({ins.data(), n}, {outs.data(), n}, unused);
      for (std::size_t i = 0; i < n; ++i) storeRecord(b, start + i, outs[i]);
    }
  }
  // Chains of years with carry-over; with the caller's PET and no carry-over
  // every record is a chain of one year, computed on its own.
  const std::size_t years = b.chains == 0 ? 0 : b.records / b.chains;
  std::vector<CarriedState> carried;
  if (b.userPet == nullptr && b.chains < kFewChains) {
    // A few long chains: each a few hundred years at a time, through the
    // engine's batch form (their PET and guessed years in lanes).
    constexpr std::size_t kYears = 256;
    std::vector<RecordInput> ins(kYears);
    std::vector<RecordResult> outs(kYears);
    for (;;) {
      const std::size_t c = shared.next.fetch_add(1);
      if (c >= b.chains) return;
      CarriedState state{0.0, 0.0, true};
      for (std::size_t y0 = 0; y0 < years && !shared.stop.load(std::memory_order_relaxed); y0 += kYears) {
        const std::size_t n = std::min(kYears, years - y0);
        for (std::size_t k = 0; k < n; ++k) readInput(b, (y0 + k) * b.chains + c, ins[k]);
        engine.computeBatch({ins.data(), n}, {outs.data(), n}, state);
        for (std::size_t k = 0; k < n; ++k) storeRecord(b, (y0 + k) * b.chains + c, outs[k]);
      }
    }
  }
  if (b.userPet == nullptr) {
    // A block of chains a year at a time: their PET, then their years side
    // by side in the engine's lanes.
    std::vector<RecordInput> ins(blockSize);
    std::vector<RecordResult> outs(blockSize);
    for (;;) {
      const std::size_t start = shared.next.fetch_add(blockSize);
      if (start >= b.chains) return;
      const std::size_t n = std::min(b.chains, start + blockSize) - start;
      carried.assign(n, CarriedState{0.0, 0.0, true});
      for (std::size_t y = 0; y < years && !shared.stop.load(std::memory_order_relaxed); ++y) {
        for (std::size_t k = 0; k < n; ++k) readInput(b, y * b.chains + start + k, ins[k]);
        engine.computePetBatch({ins.data(), n}, {outs.data(), n});
        engine.nextYears({ins.data(), n}, {outs.data(), n}, {carried.data(), n});
        for (std::size_t k = 0; k < n; ++k) storeRecord(b, y * b.chains + start + k, outs[k]);
      }
    }
  }
  for (;;) {
    const std::size_t start = shared.next.fetch_add(blockSize);
    if (start >= b.chains) return;
    const std::size_t end = std::min(b.chains, start + blockSize);
    // Every chain starts as a run does: no soil water, no snow, spun up.
    // (Without carry-over Run_model does not read it.)
    carried.assign(end - start, CarriedState{0.0, 0.0, true});
    for (std::size_t y = 0; y < years && !shared.stop.load(std::memory_order_relaxed); ++y)
      for (std::size_t c = start; c < end; ++c) computeRecord(b, engine, y * b.chains + c, carried[c - start], result);
  }
}

// Computes the batch on `threads` threads (0: one per core) while the
// calling thread, without the GIL, waits and asks `interrupted` every 100 ms
// whether to stop. True when it stopped the work.
template <typename Interrupted>
bool runBatch(const Batch& b, int threads, Interrupted interrupted) {
  const std::size_t units = b.params.carryover || b.userPet != nullptr ? b.chains : b.records;
  if (units == 0) return false;
  // Blocks of chains hold every year of their cells: small ones with the
  // caller's PET (one record at a time), enough for the lanes without it.
  const std::size_t blockSize = b.userPet != nullptr ? 8 : b.params.carryover && b.chains < kFewChains ? 1 : 64;
  const std::size_t blocks = (units + blockSize - 1) / blockSize;
  std::size_t n = threads > 0 ? static_cast<std::size_t>(threads) : std::thread::hardware_concurrency();
  n = std::clamp<std::size_t>(n, 1, blocks);
  Shared shared;
  std::vector<std::thread> pool;
  for (std::size_t i = 0; i < n; ++i) {
    try {
      {
        std::lock_guard lock(shared.mutex);
        ++shared.running;
      }
      pool.emplace_back([&] {
        worker(b, shared, blockSize);
        std::lock_guard lock(shared.mutex);
        --shared.running;
        shared.finished.notify_all();
      });
    } catch (const std::system_error&) {
      std::lock_guard lock(shared.mutex);
      --shared.running;
      break;  // fewer threads: the ones running take the rest
    }
  }
  if (pool.empty()) {
    worker(b, shared, blockSize);
    return false;
  }
  bool stopped = false;
  for (;;) {
    std::unique_lock lock(shared.mutex);
    if (shared.finished.wait_for(lock, std::chrono::milliseconds(100), [&] { return shared.running == 0; })) break;
    lock.unlock();
    if (!stopped && interrupted()) {
      stopped = true;
      shared.stop = true;
    }
  }
  for (std::thread& t : pool) t.join();
  return stopped;
}

using InArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

// Output i of the tuple `out` (an earlier call's, to be written over in
// place), or a new array: of type T, C-contiguous, writeable and of the
// given shape, or std::invalid_argument. Never a copy.
template <typename T>
py::array_t<T> outputArray(const py::object& out, std::size_t i, std::vector<py::ssize_t> shape) {
  if (out.is_none()) return py::array_t<T>(shape);
  const py::object given = py::reinterpret_borrow<py::tuple>(out)[i];
  if (!py::isinstance<py::array_t<T, py::array::c_style>>(given))
    throw std::invalid_argument("out[" + std::to_string(i) + "] is not a C-contiguous array of the output's type");
  auto a = py::reinterpret_borrow<py::array_t<T>>(given);
  if (!a.writeable() || a.ndim() != static_cast<py::ssize_t>(shape.size()) ||
      !std::equal(shape.begin(), shape.end(), a.shape()))
    throw std::invalid_argument("out[" + std::to_string(i) + "] is read-only or not of the output's shape");
  return a;
}

py::tuple compute(const InArray& tmean, const InArray& ppt, const InArray& latitude, const InArray& fieldCapacity,
                  int function, bool carryover, bool keepFraction, std::size_t chains, int threads,
                  const std::optional<InArray>& userPet, const py::object& out) {
  const auto records = static_cast<std::size_t>(latitude.size());
  if (static_cast<std::size_t>(tmean.size()) != records * kMonths ||
      static_cast<std::size_t>(ppt.size()) != records * kMonths ||
      (static_cast<std::size_t>(fieldCapacity.size()) != records && fieldCapacity.size() != 1) ||
      (userPet && static_cast<std::size_t>(userPet->size()) != records * kMonths))
    throw std::invalid_argument("inconsistent array sizes");
  // Without carry-over, records with the caller's PET go one at a time.
  if (userPet && !carryover) chains = records;
  if (function < 0 || static_cast<std::size_t>(function) >= kAvailabilityLetters.size())
    throw std::invalid_argument("function must be an index into FUNCTION_LETTERS");
  if (carryover && (chains == 0 ? records != 0 : records % chains != 0))
    throw std::invalid_argument("records are not a whole number of years per chain");
  const auto n = static_cast<py::ssize_t>(records);
  if (!out.is_none() && (!py::isinstance<py::tuple>(out) || py::len(out) != 9))
    throw std::invalid_argument("out must be a tuple of the 9 arrays that compute returns");
  const std::vector<py::ssize_t> monthly{n, py::ssize_t{kMonths}};
  py::array_t<double> pet = outputArray<double>(out, 0, monthly), aet = outputArray<double>(out, 1, monthly),
                      surplus = outputArray<double>(out, 2, monthly), deficit = outputArray<double>(out, 3, monthly),
                      soil = outputArray<double>(out, 4, monthly), snow = outputArray<double>(out, 5, monthly),
                      totals = outputArray<double>(out, 6, {n, 4});
  py::array_t<std::uint8_t> reason = outputArray<std::uint8_t>(out, 7, {n});
  py::array_t<std::int8_t> month = outputArray<std::int8_t>(out, 8, {n});

  Batch b{};
  b.tmean = tmean.data();
  b.ppt = ppt.data();
  b.latitude = latitude.data();
  b.fieldCapacity = fieldCapacity.data();
  b.fieldCapacityStep = static_cast<std::size_t>(fieldCapacity.size()) == records ? 1 : 0;
  b.userPet = userPet ? userPet->data() : nullptr;
  b.records = records;
  b.chains = chains;
  b.keepFraction = keepFraction;
  b.params.function = static_cast<AvailabilityFunction>(function);
  b.params.carryover = carryover;
  b.pet = pet.mutable_data();
  b.aet = aet.mutable_data();
  b.surplus = surplus.mutable_data();
  b.deficit = deficit.mutable_data();
  b.soil = soil.mutable_data();
  b.snow = snow.mutable_data();
  b.totals = totals.mutable_data();
  b.reason = reason.mutable_data();
  b.month = month.mutable_data();
  bool stopped = false;
  {
    py::gil_scoped_release release;
    stopped = runBatch(b, threads, [] {
      // Ctrl+C (and other signals) are seen on the main thread only.
      py::gil_scoped_acquire acquire;
      return PyErr_CheckSignals() != 0;
    });
  }
  // The signal's exception (KeyboardInterrupt) is pending: raise it.
  if (stopped) throw py::error_already_set();
  return py::make_tuple(pet, aet, surplus, deficit, soil, snow, totals, reason, month);
}

// What the input checks see in each record, as bits (kCheck... in
// vadoset/_checks.py): the same bounds of the Earth's climates as
// vadoset-cli's checks, on the values as the model takes them.
// The least and the greatest of the finite values that are not the readers'
// missing markers (-9999, 9999), in one pass: (inf, -inf) when there are
// none. The input checks look no further when both lie where they should.
py::tuple usableRange(py::array_t<double, py::array::c_style | py::array::forcecast> values) {
  const double* v = values.data();
  const std::size_t n = static_cast<std::size_t>(values.size());
  constexpr double kInf = std::numeric_limits<double>::infinity();
  // Four of each side by side and without branches, so that the compiler
  // keeps them in vector registers: an unusable value counts as +inf for
  // the least and -inf for the greatest.
  double low[4] = {kInf, kInf, kInf, kInf}, high[4] = {-kInf, -kInf, -kInf, -kInf};
  {
    py::gil_scoped_release release;
    std::size_t i = 0;
    const auto take = [&](std::size_t k, double x) {
      const bool usable = std::isfinite(x) && x != -9999.0 && x != 9999.0;
      const double l = usable ? x : kInf, h = usable ? x : -kInf;
      low[k] = l < low[k] ? l : low[k];
      high[k] = h > high[k] ? h : high[k];
    };
    for (; i + 4 <= n; i += 4)
      for (std::size_t k = 0; k < 4; ++k) take(k, v[i + k]);
    for (std::size_t k = 0; i < n; ++i, ++k) take(k, v[i]);
  }
  return py::make_tuple(std::min({low[0], low[1], low[2], low[3]}), std::max({high[0], high[1], high[2], high[3]}));
}

// How many finite values lie beyond ±limit, and the largest magnitude among
// them (0 when none), in one pass and without a copy.
py::tuple beyond(py::array_t<double, py::array::c_style | py::array::forcecast> values, double limit) {
  const double* v = values.data();
  const std::size_t n = static_cast<std::size_t>(values.size());
  std::size_t count = 0;
  double largest = 0.0;
  {
    py::gil_scoped_release release;
    for (std::size_t i = 0; i < n; ++i) {
      const double a = std::fabs(v[i]);
      const bool out = std::isfinite(a) && a > limit;
      count += out ? 1 : 0;
      largest = out && a > largest ? a : largest;
    }
  }
  return py::make_tuple(count, largest);
}

py::array_t<std::uint16_t> classify(py::array_t<double, py::array::c_style> tmean,
                                    py::array_t<double, py::array::c_style> ppt,
                                    py::array_t<double, py::array::c_style> latitude, bool keepFraction) {
  const std::size_t n = static_cast<std::size_t>(latitude.size());
  py::array_t<std::uint16_t> flags(static_cast<py::ssize_t>(n));
  const double* t = tmean.data();
  const double* p = ppt.data();
  const double* lat = latitude.data();
  std::uint16_t* out = flags.mutable_data();
  py::gil_scoped_release release;
  for (std::size_t i = 0; i < n; ++i) {
    double tm[kMonths], pm[kMonths], total = 0.0;
    bool outside = false;
    for (int m = 0; m < kMonths; ++m) {
      tm[m] = values::temperature(t[i * kMonths + m]);
      pm[m] = values::precipitation(p[i * kMonths + m], keepFraction);
      total += pm[m];
      outside = outside || tm[m] < -80.0 || tm[m] > 60.0;
    }
    const climate::Temperatures s = climate::summarize(tm);
    const climate::ScaleFit f = climate::scaleFit(tm, s, lat[i]);
    std::uint16_t bits = 0;
    if (s.complete && !std::isnan(total)) bits |= 1;
    if (!f.celsius) bits |= (f.kelvin ? 2 : 0) | (f.fahrenheit ? 4 : 0) | (f.tenths ? 8 : 0);
    if (f.celsius && climate::seasonsFor(s, lat[i]) == climate::Seasons::Reversed) bits |= 16;
    const climate::PrecipitationFit wet =
        (bits & 1) ? climate::precipitationFit(total, s.mean) : climate::PrecipitationFit::Fits;
    if ((bits & 1) && s.mean >= climate::kDryColdest && s.mean < climate::kDryWarmest) {
      bits |= 32;
      if (wet == climate::PrecipitationFit::TooLow) bits |= 64;
    }
    if (wet == climate::PrecipitationFit::TooHigh) bits |= 128;
    if ((bits & 1) && std::fabs(lat[i]) >= climate::kTropics) {
      bits |= 256;
      if (climate::looksLikeTemperatures(climate::summarize(pm), lat[i])) bits |= 512;
    }
    if (outside) bits |= 1024;
    out[i] = bits;
  }
  return flags;
}

}  // namespace

}  // namespace vadoset

PYBIND11_MODULE(_core, m) {
  using namespace vadoset;
  m.doc() = "The record engine, for vadoset's Python functions (use those, not this module).";
  m.def("compute", &compute, py::arg("tmean"), py::arg("ppt"), py::arg("latitude"), py::arg("field_capacity"),
        py::arg("function"), py::arg("carryover"), py::arg("keep_fraction"), py::arg("chains"), py::arg("threads"),
        py::arg("pet") = py::none(), py::arg("out") = py::none());
  m.def(
      "null_reason_text",
      [](int reason, int month) {
        if (reason == kPetMissing) return "month " + std::to_string(month) + " of the PET is missing";
        return nullReasonText(static_cast<NullReason>(reason), month);
      },
      py::arg("reason"), py::arg("month"));
  m.def(
      "null_reason_code",
      [](int reason) {
        if (reason == kPetMissing) return std::string("pet_missing");
        return std::string(nullReasonCode(static_cast<NullReason>(reason)));
      },
      py::arg("reason"));
  m.def("usable_range", &usableRange, py::arg("values"));
  m.def("beyond", &beyond, py::arg("values"), py::arg("limit"));
  m.def("classify", &classify, py::arg("tmean"), py::arg("ppt"), py::arg("latitude"), py::arg("keep_fraction"));
  // The engine's reasons, then the package's own (pet_missing).
  m.attr("NULL_REASON_COUNT") = kPetMissing + 1;
  m.attr("PASS_LIMIT") = kPassLimit;
  m.attr("FUNCTION_LETTERS") = std::string(kAvailabilityLetters);
}
