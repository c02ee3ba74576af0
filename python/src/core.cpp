// The compiled part of the Python package: many records through the record
// engine on several threads, from numpy arrays to numpy arrays. The
// package's Python side checks and shapes the arguments; this file trusts
// them (C-contiguous float64, consistent lengths).

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/array_run.h"
#include "model/climate_bounds.h"
#include "model/engine.h"
#include "model/values.h"

namespace py = pybind11;

namespace vadoset {

namespace {

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

  // Row-major (n, 12) arrays: month m of record r at data + 12 r + m.
  const auto rows = [](auto* data) {
    MonthColumns<std::remove_pointer_t<decltype(data)>> c;
    for (std::size_t m = 0; m < kMonths; ++m) c.month[m] = data + m;
    c.place = RecordPlace{kMonths, 0, 0};
    return c;
  };
  ArrayRecords a;
  a.records = records;
  a.tmean = rows(tmean.data());
  a.ppt = rows(ppt.data());
  if (userPet) a.callerPet = rows(userPet->data());
  a.latitude = {latitude.data(), {1, 0, 0}};
  // One field capacity for all records: stride 0.
  a.fieldCapacity = {fieldCapacity.data(), {static_cast<std::size_t>(fieldCapacity.size()) == records ? 1U : 0U, 0, 0}};
  a.keepPrecipitationFraction = keepFraction;
  a.params.function = static_cast<AvailabilityFunction>(function);
  a.params.carryover = carryover;
  a.interleavedChains = carryover ? chains : 0;
  a.pet = rows(pet.mutable_data());
  a.aet = rows(aet.mutable_data());
  a.surplus = rows(surplus.mutable_data());
  a.deficit = rows(deficit.mutable_data());
  a.soil = rows(soil.mutable_data());
  a.snow = rows(snow.mutable_data());
  double* t = totals.mutable_data();
  a.petTotal = {t, {4, 0, 0}};
  a.aetTotal = {t + 1, {4, 0, 0}};
  a.surplusTotal = {t + 2, {4, 0, 0}};
  a.deficitTotal = {t + 3, {4, 0, 0}};
  a.reason = {reason.mutable_data(), {1, 0, 0}};
  a.month = {reinterpret_cast<std::uint8_t*>(month.mutable_data()), {1, 0, 0}};
  bool stopped = false;
  {
    py::gil_scoped_release release;
    ArrayRun run(a, threads);
    stopped = !run.wait([] {
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
    values::months(t + i * kMonths, p + i * kMonths, keepFraction, tm, pm);
    bool outside = false;
    for (int m = 0; m < kMonths; ++m) {
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
        if (reason == kCallerPetMissing) return "month " + std::to_string(month) + " of the PET is missing";
        return nullReasonText(static_cast<NullReason>(reason), month);
      },
      py::arg("reason"), py::arg("month"));
  m.def(
      "null_reason_code",
      [](int reason) {
        if (reason == kCallerPetMissing) return std::string("pet_missing");
        return std::string(nullReasonCode(static_cast<NullReason>(reason)));
      },
      py::arg("reason"));
  m.def("usable_range", &usableRange, py::arg("values"));
  m.def("beyond", &beyond, py::arg("values"), py::arg("limit"));
  m.def("classify", &classify, py::arg("tmean"), py::arg("ppt"), py::arg("latitude"), py::arg("keep_fraction"));
  // The engine's reasons, then the package's own (pet_missing).
  m.attr("NULL_REASON_COUNT") = kCallerPetMissing + 1;
  m.attr("PASS_LIMIT") = kPassLimit;
  m.attr("FUNCTION_LETTERS") = std::string(kAvailabilityLetters);
}
