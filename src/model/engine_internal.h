#pragma once

// What the scalar record engine shares with the lane engine (lane_engine.cpp):
// the year's totals, the verdict at the end of a pass, and a spin-up resumed
// from a given pass. Not for other callers.

#include <cmath>
#include <cstdint>

#include "model/engine.h"

namespace vadoset::detail {

namespace {
// The library's pow with an exponent the compiler cannot see. A compiler
// that sees pow(x, 2.0) writes x * x, which differs from the library's pow
// in the last bit for some x; the heat index's cube and square are such
// constant exponents, in the scalar engine and in the lanes alike. Internal
// to each file: the lane kernels compile it with their own instruction sets.
inline double libraryPow(double x, double y) {
  const volatile double exponent = y;
  return std::pow(x, exponent);
}
}  // namespace

struct PassTotals {
  double melt = 0.0;
  double snowfall = 0.0;
  // Function A only, for neverSettles: whether any day reached field
  // capacity, the sum of the days' |balance|, and the largest |w| of the pass.
  bool reachedCapacity = false;
  double absBalance = 0.0;
  double maxAbsW = 0.0;
};

/// True when a pass of function A shows that the year can never settle.
bool neverSettles(const PassTotals& year, double w0, double w365, double ws0, double ws365);

enum class PassVerdict : std::uint8_t { Again, Settled, PerennialSnow, NoSteadyState, NeverSettles };

/// The end of pass `pass` (from 0) of a record computed without carry-over,
/// or of a carried run's first record: the checks in their order.
inline PassVerdict judgePass(bool functionA, const ModelParams& params, std::int32_t pass, const PassTotals& year,
                             double w0, double w365, double ws0, double ws365) {
  if (pass > 0 && std::abs(w365 - w0) < 1.0 && std::abs(ws365 - ws0) < 1.0) return PassVerdict::Settled;
  // A snowpack that keeps growing never settles.
  if (year.snowfall - year.melt > 2.0 && pass > 1) return PassVerdict::PerennialSnow;
  if (pass == kPassLimit - 1) return PassVerdict::NoSteadyState;
  if (functionA && !params.exhaustiveSpinUp && neverSettles(year, w0, w365, ws0, ws365))
    return PassVerdict::NeverSettles;
  return PassVerdict::Again;
}

/// Goes on with a record's spin-up without carry-over from pass `pass` (from
/// 0), whose year starts with soil water w0 and snowpack ws0; out.pet must be
/// filled. Gives what compute gives for the record; `carried` changes only
/// in yearOne, as there.
void resumeBalance(const ModelParams& params, const RecordInput& in, RecordResult& out, CarriedState& carried,
                   std::int32_t pass, double w0, double ws0);

}  // namespace vadoset::detail
