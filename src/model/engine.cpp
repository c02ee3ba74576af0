#include "model/engine.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "model/beta.h"
#include "model/engine_internal.h"
#include "model/lanes.h"

namespace vadoset {

using detail::PassTotals;
using detail::PassVerdict;

namespace {

// The sun's declination near the middle of each month, radians.
constexpr double kDeclination[kMonths] = {-0.374329268, -0.231959485, -0.042826351, 0.165449779,
                                          0.326011171,  0.406337883,  0.37810974,   0.249923394,
                                          0.058515387,  -0.143269334, -0.318990215, -0.405457073};

constexpr double kPi = 3.141592653589793;

// sin and cos of the declinations, worked out once by the library's own
// functions at run time (volatile keeps the compiler from folding them into
// constants of its own rounding).
struct DeclinationTrig {
  MonthValues sin, cos;
};
const DeclinationTrig& declinationTrig() {
  static const DeclinationTrig t = [] {
    DeclinationTrig r{};
    for (int m = 0; m < kMonths; ++m) {
      volatile double d = kDeclination[m];
      r.sin[m] = std::sin(d);
      r.cos[m] = std::cos(d);
    }
    return r;
  }();
  return t;
}

// Beyond the polar circles tan(lat)·tan(decl) leaves [-1, 1]: clamping gives
// 24 hours of polar day and 0 hours of polar night.
double clampedAcos(double x) {
  return std::acos(std::clamp(x, -1.0, 1.0));
}

// One pass over the 365-day year from soil water w0 and snowpack ws0; fills
// the result's monthly values and returns the year's totals. `Variant` is the
// availability curve, or -1 for an index outside 0 to 7, which draws nothing
// on deficit days. `Traced` also keeps every day in the trace.
template <int Variant, bool Traced>
PassTotals onePass(const RecordInput& in, double fc, const ExpConstants& k, double& w, double& ws, RecordResult& out,
                   DayTrace* trace) {
  PassTotals year;
  int kday = 0;
  // Yesterday's soil water and snowpack stay in registers: each day waits on
  // the one before it.
  double wPrev = w;
  double wsPrev = ws;
  if constexpr (Traced) {
    trace->soil[0] = wPrev;
    trace->snow[0] = wsPrev;
  }
  if constexpr (Variant == 0) year.maxAbsW = std::abs(wPrev);
  for (int m = 0; m < kMonths; ++m) {
    const double T = in.tmean[m];
    const int days = kDaysPerMonth[m];
    const double daysD = static_cast<double>(days);
    double monthMelt = 0.0;
    double monthSnowfall = 0.0;
    double monthSurplus = 0.0;
    double snowPerDay;
    double rainPerDay;
    if (T < -1.0) {
      snowPerDay = in.ppt[m] / daysD;
      rainPerDay = 0.0;
    } else {
      snowPerDay = 0.0;
      rainPerDay = in.ppt[m] / daysD;
    }
    double meltRate;
    if (!(T < 0.0)) {
      const double a = 2.55 * T;
      const double b = 2.63 + a;
      const double c = 0.0912 * T;
      const double d = c * rainPerDay;
      meltRate = b + d;
    } else {
      meltRate = 0.0;
    }
    // The same share of the month's PET every day.
    const double petPerDay = out.pet[m] / daysD;
    const double wMonthStart = wPrev;
    for (int j = 1; j <= days; ++j) {
      ++kday;
      const double pack = wsPrev + snowPerDay;
      // Once the pack runs out the lowered rate holds for the rest of the month.
      if (pack < meltRate) meltRate = pack;
      wsPrev = pack - meltRate;
      const double balance = (meltRate + rainPerDay) - petPerDay;
      double availability = 1.0;
      if (balance < 0.0) {
        if constexpr (Variant < 0)
          availability = 0.0;
        else
          availability = betaCurve<Variant>(wPrev / fc, k);
      }
      double wk = wPrev + availability * balance;
      double daySurplus = 0.0;
      if (fc < wk) {
        daySurplus = wk - fc;
        wk = fc;
        if constexpr (Variant == 0) year.reachedCapacity = true;
      }
      if constexpr (Variant == 0) {
        year.absBalance += std::abs(balance);
        year.maxAbsW = std::max(year.maxAbsW, std::abs(wk));
      }
      if constexpr (Traced) {
        trace->soil[kday] = wk;
        trace->snow[kday] = wsPrev;
      }
      wPrev = wk;
      monthMelt = monthMelt + meltRate;
      monthSurplus = monthSurplus + daySurplus;
      monthSnowfall = monthSnowfall + snowPerDay;
    }
    double e = ((rainPerDay * daysD) + monthMelt) - (wPrev - wMonthStart) - monthSurplus;
    year.melt = year.melt + monthMelt;
    year.snowfall = year.snowfall + monthSnowfall;
    if (e < 1e-10) e = 0.0;
    out.aet[m] = e;
    out.surplus[m] = monthSurplus;
    out.soil[m] = wPrev;
    out.snow[m] = wsPrev;
  }
  w = wPrev;
  ws = wsPrev;
  return year;
}

template <int Variant, bool Traced>
void balance(const RecordInput& in, const ModelParams& params, CarriedState& carried, RecordResult& out,
             DayTrace* trace, void (*passCallback)(void*), void* passContext, std::int32_t firstPass, double w0,
             double ws0) {
  const double fc = in.fieldCapacity;
  const ExpConstants& k = expConstants();
  for (std::int32_t pass = firstPass;; ++pass) {
    double w365 = w0;
    double ws365 = ws0;
    const PassTotals year = onePass<Variant, Traced>(in, fc, k, w365, ws365, out, trace);
    out.passes = pass + 1;
    if (!(carried.yearOne || !params.carryover)) {
      carried.soil = w365;
      carried.snow = ws365;
      return;
    }
    switch (detail::judgePass(Variant == 0, params, pass, year, w0, w365, ws0, ws365)) {
      case PassVerdict::Again:
        break;
      case PassVerdict::Settled:
        carried.yearOne = false;
        if (params.carryover) {
          carried.soil = w365;
          carried.snow = ws365;
        }
        return;
      case PassVerdict::PerennialSnow:
        out.reason = NullReason::PerennialSnow;
        carried.yearOne = false;
        return;
      case PassVerdict::NoSteadyState:
        out.reason = NullReason::NoSteadyState;
        carried.yearOne = false;
        return;
      case PassVerdict::NeverSettles:
        out.reason = NullReason::NeverSettles;
        carried.yearOne = false;
        return;
    }
    w0 = w365;
    ws0 = ws365;
    if (passCallback != nullptr) passCallback(passContext);
  }
}

template <bool Traced>
void balanceFor(AvailabilityFunction function, const RecordInput& in, const ModelParams& params, CarriedState& carried,
                RecordResult& out, DayTrace* trace, void (*cb)(void*), void* ctx, std::int32_t firstPass, double w0,
                double ws0) {
  switch (static_cast<int>(function)) {
    case 0:
      balance<0, Traced>(in, params, carried, out, trace, cb, ctx, firstPass, w0, ws0);
      break;
    case 1:
      balance<1, Traced>(in, params, carried, out, trace, cb, ctx, firstPass, w0, ws0);
      break;
    case 2:
      balance<2, Traced>(in, params, carried, out, trace, cb, ctx, firstPass, w0, ws0);
      break;
    case 3:
      balance<3, Traced>(in, params, carried, out, trace, cb, ctx, firstPass, w0, ws0);
      break;
    case 4:
      balance<4, Traced>(in, params, carried, out, trace, cb, ctx, firstPass, w0, ws0);
      break;
    case 5:
      balance<5, Traced>(in, params, carried, out, trace, cb, ctx, firstPass, w0, ws0);
      break;
    case 6:
      balance<6, Traced>(in, params, carried, out, trace, cb, ctx, firstPass, w0, ws0);
      break;
    case 7:
      balance<7, Traced>(in, params, carried, out, trace, cb, ctx, firstPass, w0, ws0);
      break;
    default:
      balance<-1, Traced>(in, params, carried, out, trace, cb, ctx, firstPass, w0, ws0);
      break;
  }
}

}  // namespace

// Function A draws the whole shortfall of a deficit day, so nothing bounds
// the soil water below: a spun-up year whose water input falls short of its
// PET by 1 mm or more loses water in every pass and ends null at the pass
// limit, 1002 passes later. After one pass it can be known that the year will
// never settle, when all of these hold:
//  1. The snowpack ended the pass exactly (bit for bit) where it started. The
//     snowpack does not depend on the soil water, so every later pass repeats
//     this pass's snow and melt, and so the same daily balances b_k.
//  2. No day reached field capacity. With availability 1 a day computes
//     w_k = fl(w_{k-1} + b_k), and rounding is monotone, so a pass that
//     starts lower stays at or below this one day by day: it reaches field
//     capacity on no day either, and is the same chain of 365 additions.
//  3. The pass lost at least 1 mm by a margin that covers rounding. The exact
//     sum B of the b_k is the same in every pass, and a pass's computed
//     change differs from B by at most 365 roundings of numbers no larger
//     than M, where M bounds |w| over every pass up to the limit: |w| grows
//     by at most sum |b_k| per pass. So every later pass also loses 1 mm or
//     more, its start keeps falling, and |w[365] - w[0]| < 1 never holds.
// Such a record ends null (by the snow rule or the pass limit) with the
// carried state untouched, which is what ending it now gives.
bool detail::neverSettles(const PassTotals& year, double w0, double w365, double ws0, double ws365) {
  if (year.reachedCapacity || ws365 != ws0) return false;
  const double change = w365 - w0;
  const double bound = year.maxAbsW + 1003.0 * (year.absBalance * 1.001 + 1.0);
  if (!std::isfinite(change) || !std::isfinite(bound)) return false;
  const double rounding = 2.0 * 366.0 * 0x1p-53 * bound;  // one pass, doubled for slack
  return change <= -1.0 - 4.0 * rounding - 1e-9;
}

void detail::resumeBalance(const ModelParams& params, const RecordInput& in, RecordResult& out, CarriedState& carried,
                           std::int32_t pass, double w0, double ws0) {
  ModelParams independent = params;
  independent.carryover = false;
  balanceFor<false>(params.function, in, independent, carried, out, nullptr, nullptr, nullptr, pass, w0, ws0);
}

NullReason checkRecord(const RecordInput& in, std::int8_t& month) {
  month = 0;
  if (!(in.latitude >= -90.0 && in.latitude <= 90.0)) return NullReason::LatitudeInvalid;
  for (int m = 0; m < kMonths; ++m) {
    if (std::isnan(in.ppt[m])) {
      month = static_cast<std::int8_t>(m + 1);
      return NullReason::PrecipitationMissing;
    }
  }
  for (int m = 0; m < kMonths; ++m) {
    if (std::isnan(in.tmean[m])) {
      month = static_cast<std::int8_t>(m + 1);
      return NullReason::TemperatureMissing;
    }
  }
  // The hot-month formula falls below zero above about 58.4 °C, and far
  // above it gives surpluses larger than the precipitation: no climate is
  // there, so the row is null rather than a number nobody should use. The
  // test is the formula itself, so no month that it can compute is refused.
  for (int m = 0; m < kMonths; ++m) {
    const double t = in.tmean[m];
    if (t >= 26.5 && (-415.85 + 32.24 * t) - (0.43 * t) * t < 0.0) {
      month = static_cast<std::int8_t>(m + 1);
      return NullReason::TemperatureOutOfRange;
    }
  }
  if (!(in.fieldCapacity > 0.0) || std::isinf(in.fieldCapacity)) return NullReason::FieldCapacityInvalid;
  return NullReason::None;
}

std::string nullReasonText(NullReason reason, int month) {
  switch (reason) {
    case NullReason::None:
      return {};
    case NullReason::LatitudeInvalid:
      return "the latitude is not a number from -90 to 90";
    case NullReason::PrecipitationMissing:
      return "month " + std::to_string(month) + " of the precipitation file is missing";
    case NullReason::TemperatureMissing:
      return "month " + std::to_string(month) + " of the temperature file is missing";
    case NullReason::FieldCapacityInvalid:
      return "the field capacity is not a positive number";
    case NullReason::PerennialSnow:
      return "the snowpack grows every year (perennial snow)";
    case NullReason::NoSteadyState:
      return "no steady state within " + std::to_string(kPassLimit) + " passes";
    case NullReason::NeverSettles:
      return "the soil water falls in every pass and never settles (no steady state)";
    case NullReason::TemperatureOutOfRange:
      return "month " + std::to_string(month) +
             " of the temperature file is beyond the range of the PET formula (it gives negative PET above about "
             "58.4 °C)";
  }
  return {};
}

std::string_view nullReasonCode(NullReason reason) {
  switch (reason) {
    case NullReason::None:
      return "none";
    case NullReason::LatitudeInvalid:
      return "latitude_invalid";
    case NullReason::PrecipitationMissing:
      return "precipitation_missing";
    case NullReason::TemperatureMissing:
      return "temperature_missing";
    case NullReason::FieldCapacityInvalid:
      return "field_capacity_invalid";
    case NullReason::PerennialSnow:
      return "perennial_snow";
    case NullReason::NoSteadyState:
      return "no_steady_state";
    case NullReason::NeverSettles:
      return "never_settles";
    case NullReason::TemperatureOutOfRange:
      return "temperature_out_of_range";
  }
  return "none";
}

AnnualTotals annualTotals(const RecordResult& r) {
  AnnualTotals t;
  for (int m = 0; m < kMonths; ++m) {
    t.pet += r.pet[m];
    t.aet += r.aet[m];
    t.surplus += r.surplus[m];
    t.deficit += r.pet[m] - r.aet[m];
  }
  return t;
}

RecordEngine::RecordEngine(const ModelParams& params) : params_(params) {}

const MonthValues& RecordEngine::dayLengths(double latitude) {
  const auto bits = std::bit_cast<std::uint64_t>(latitude);
  DayLengthSet& set = dayLengthSets_[(bits * 0x9E3779B97F4A7C15ULL) >> (64 - kDayLengthSetBits)];
  for (std::uint8_t way = 0; way < 2; ++way) {
    if (set.keys[way] == bits) {
      set.older = static_cast<std::uint8_t>(1 - way);
      return set.hours[way];
    }
  }
  const std::uint8_t way = set.older;
  set.older = static_cast<std::uint8_t>(1 - way);
  set.keys[way] = bits;
  MonthValues& hours = set.hours[way];
  const DeclinationTrig& decl = declinationTrig();
  const double latRad = (latitude * kPi) / 180.0;
  const double sinLat = std::sin(latRad);
  const double cosLat = std::cos(latRad);
  for (int m = 0; m < kMonths; ++m) {
    const double sn = sinLat * decl.sin[m];
    const double cs = cosLat * decl.cos[m];
    const double x = sn / cs;
    hours[m] = 24.0 - 7.639437268410976 * clampedAcos(x);
  }
  return hours;
}

void RecordEngine::Run_pet(const RecordInput& in, RecordResult& out) {
  const MonthValues& dayLength = dayLengths(in.latitude);

  double heatIndex = 0.0;
  for (int m = 0; m < kMonths; ++m)
    if (in.tmean[m] > 0.0) heatIndex += std::pow(in.tmean[m] / 5.0, 1.514);

  const double cube = detail::libraryPow(heatIndex, 3.0);
  const double square = detail::libraryPow(heatIndex, 2.0);
  const double a = ((6.75e-07 * cube - 7.71e-05 * square) + 0.0179 * heatIndex) + 0.49;

  for (int m = 0; m < kMonths; ++m) {
    const double t = in.tmean[m];
    double pet;
    if (t < 0.0 || heatIndex == 0.0) {
      // A year with no month above 0 °C has no heat index, and so no PET.
      pet = 0.0;
    } else if (t < 26.5) {
      pet = 16.0 * std::pow((10.0 * t) / heatIndex, a);
    } else {
      pet = (-415.85 + 32.24 * t) - (0.43 * t) * t;
    }
    pet = (pet * (static_cast<double>(kDaysPerMonth[m]) / 30.0)) * (dayLength[m] / 12.0);
    out.pet[m] = pet;
  }
}

void RecordEngine::Run_model(const RecordInput& in, CarriedState& carried, RecordResult& out, DayTrace* trace) {
  double w0 = in.fieldCapacity;
  double ws0 = 0.0;
  if (params_.carryover) {
    w0 = carried.soil;
    ws0 = carried.snow;
  }
  if (trace != nullptr)
    balanceFor<true>(params_.function, in, params_, carried, out, trace, passCallback_, passContext_, 0, w0, ws0);
  else
    balanceFor<false>(params_.function, in, params_, carried, out, nullptr, passCallback_, passContext_, 0, w0, ws0);
}

void RecordEngine::compute(const RecordInput& in, CarriedState& carried, RecordResult& out, DayTrace* trace) {
  out.reason = checkRecord(in, out.month);
  out.passes = 0;
  if (out.isNull()) return;
  Run_pet(in, out);
  Run_model(in, carried, out, trace);
}

namespace {

// How the lanes take exp for a curve. Only the curves B, D, E and F take it:
// the others never wait for its start-up check.
lanes::ExpMode expModeFor(AvailabilityFunction function, lanes::SimdLevel level) {
  const int f = static_cast<int>(function);
  const bool takesExp = f == 1 || (f >= 3 && f <= 5);
  return takesExp ? lanes::activeExpMode(level) : lanes::ExpMode::PerLane;
}

}  // namespace

void RecordEngine::guessYears(std::span<const RecordInput> in, std::span<RecordResult> out,
                              std::span<CarriedState> starts, std::span<CarriedState> ends) {
  const std::size_t n = std::min({in.size(), out.size(), starts.size(), ends.size()});
  const lanes::SimdLevel level = lanes::activeSimdLevel();
  const lanes::ExpMode exp = expModeFor(params_.function, level);
  // First each record's year from field capacity and no snow, for where it
  // ends; then each record's from where the one before it ended. Null rows
  // leave the chain's state as it is, so the record after one gets no guess.
  for (std::size_t i = 0; i < n; ++i) starts[i] = CarriedState{in[i].fieldCapacity, 0.0, false};
  lanes::computeYears(*this, level, exp, in.first(n), out.first(n), starts.first(n), ends.first(n));
  for (std::size_t i = n; i-- > 0;)
    starts[i] = (i > 0 && !out[i - 1].isNull()) ? ends[i - 1] : CarriedState{0.0, 0.0, true};
  lanes::computeYears(*this, level, exp, in.first(n), out.first(n), starts.first(n), ends.first(n));
}

void RecordEngine::nextYears(std::span<const RecordInput> in, std::span<RecordResult> out,
                             std::span<CarriedState> carried) {
  const std::size_t n = std::min({in.size(), out.size(), carried.size()});
  const lanes::SimdLevel level = lanes::activeSimdLevel();
  const lanes::ExpMode exp = expModeFor(params_.function, level);
  // Each state is read before the year that replaces it is written.
  lanes::computeYears(*this, level, exp, in.first(n), out.first(n), carried.first(n), carried.first(n));
  for (std::size_t i = 0; i < n; ++i)
    if (!out[i].isNull() && carried[i].yearOne) Run_model(in[i], carried[i], out[i]);
}

void RecordEngine::chainYear(const RecordInput& in, CarriedState& carried, RecordResult& out, const CarriedState& start,
                             const CarriedState& end) {
  if (!carried.yearOne && !start.yearOne &&
      std::bit_cast<std::uint64_t>(carried.soil) == std::bit_cast<std::uint64_t>(start.soil) &&
      std::bit_cast<std::uint64_t>(carried.snow) == std::bit_cast<std::uint64_t>(start.snow)) {
    carried = end;
    return;
  }
  Run_model(in, carried, out);
}

void RecordEngine::computePetBatch(std::span<const RecordInput> in, std::span<RecordResult> out) {
  const lanes::SimdLevel level = lanes::activeSimdLevel();
  lanes::computePet(*this, level, lanes::activePowMode(level), in, out);
}

void RecordEngine::computeBatch(std::span<const RecordInput> in, std::span<RecordResult> out, CarriedState& carried,
                                std::span<CarriedState> carriedAfter) {
  const std::size_t n = in.size() < out.size() ? in.size() : out.size();
  const lanes::SimdLevel level = lanes::activeSimdLevel();
  if (params_.carryover || level == lanes::SimdLevel::Scalar) {
    // The PET does not depend on the carried state: all of it first, in
    // lanes where the CPU has them, then the chain.
    lanes::computePet(*this, level, lanes::activePowMode(level), in.first(n), out.first(n));
    if (!params_.carryover) {
      for (std::size_t i = 0; i < n; ++i) {
        if (!out[i].isNull()) Run_model(in[i], carried, out[i]);
        if (i < carriedAfter.size()) carriedAfter[i] = carried;
      }
      return;
    }
    // The years guessed in lanes a block at a time, then the chain through
    // them.
    constexpr std::size_t kBlock = 256;
    std::array<CarriedState, kBlock> starts, ends;
    for (std::size_t first = 0; first < n; first += kBlock) {
      const std::size_t count = n - first < kBlock ? n - first : kBlock;
      guessYears(in.subspan(first, count), out.subspan(first, count), {starts.data(), count}, {ends.data(), count});
      for (std::size_t j = 0; j < count; ++j) {
        const std::size_t i = first + j;
        if (!out[i].isNull()) chainYear(in[i], carried, out[i], starts[j], ends[j]);
        if (i < carriedAfter.size()) carriedAfter[i] = carried;
      }
    }
    return;
  }
  const CarriedState before = carried;
  lanes::computeIndependent(*this, level, expModeFor(params_.function, level), lanes::activePowMode(level), in.first(n),
                            out.first(n), carried);
  // Without carry-over a record changes only yearOne, once it is computed.
  CarriedState state = before;
  for (std::size_t i = 0; i < n && i < carriedAfter.size(); ++i) {
    if (out[i].passes > 0) state.yearOne = false;
    carriedAfter[i] = state;
  }
}

}  // namespace vadoset
