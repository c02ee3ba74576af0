#pragma once

#include <cmath>
#include <cstdint>

#include "model/engine.h"

namespace vadoset {

/// exp(-5), exp(-4), exp(-3), worked out once by the same std::exp that the
/// curves use (never folded by the compiler).
struct ExpConstants {
  double e5, e4, e3;
};
const ExpConstants& expConstants();

/// The availability factor of curve `Variant` (0 = "A" ... 7 = "H") for the
/// relative soil water x. Any other variant gives 0.
template <int Variant>
inline double betaCurve(double x, const ExpConstants& k) {
  double result = 0.0;
  if constexpr (Variant == 0) {
    result = 1.0;
  } else if constexpr (Variant == 1) {
    double p = -6.68 * x;
    result = 1.0 - std::exp(p);
  } else if constexpr (Variant == 2) {
    result = x;
  } else if constexpr (Variant >= 3 && Variant <= 5) {
    // Curves D, E and F rise to 1 - exp(-a) at x = c and are capped just above.
    constexpr double a = Variant == 3 ? 5.0 : Variant == 4 ? 4.0 : 3.0;
    constexpr double c = Variant == 3 ? 0.7 : Variant == 4 ? 0.5 : 0.3;
    double e2 = Variant == 3 ? k.e5 : Variant == 4 ? k.e4 : k.e3;
    double q = x / c;
    double r = 1.0 - q;
    double p = (-a) * r;
    result = std::exp(p) - e2;
    if (1.0 < result) result = 1.0;
  } else if constexpr (Variant == 6 || Variant == 7) {
    constexpr double c = Variant == 6 ? 0.7 : 0.5;
    result = x / c;
    if (1.0 < result) result = 1.0;
  }
  return result;
}

/// The declining availability factor: the share of a day's shortfall that
/// the soil gives up, for relative soil water x (soil water / field
/// capacity) and function "A" to "H".
double Beta_function(double x, AvailabilityFunction function);

}  // namespace vadoset
