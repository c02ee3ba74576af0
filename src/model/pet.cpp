#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "model/model.h"
#include "run/run_state.h"

namespace vadoset {

namespace {

// The sun's declination near the middle of each month, radians.
constexpr double kDeclination[13] = {0.0,          -0.374329268, -0.231959485, -0.042826351, 0.165449779,
                                     0.326011171,  0.406337883,  0.37810974,   0.249923394,  0.058515387,
                                     -0.143269334, -0.318990215, -0.405457073};

constexpr double kPi = 3.141592653589793;

// Beyond the polar circles tan(lat)·tan(decl) leaves [-1, 1]: clamping gives
// 24 hours of polar day and 0 hours of polar night.
double clampedAcos(double x) { return std::acos(std::clamp(x, -1.0, 1.0)); }

}  // namespace

void Run_pet(RunState& s) {
  const bool hcn = s.settings.format == 1;
  // The day lengths depend on the latitude alone. Every record of an HCN run
  // and every year of one site share theirs, so the last record's are kept
  // (the same latitude, bit for bit, gives the same day lengths).
  const auto latitudeBits = std::bit_cast<std::uint64_t>(s.latitude);
  const bool sameLatitude = s.dayLengthValid && s.dayLengthLatitudeBits == latitudeBits;
  MonthArray<double>& dayLength = s.dayLength;
  double heatIndex = 0.0;

  for (int m = 1; m <= 12; ++m) {
    // HCN files store tenths of a degree.
    if (hcn) s.tmean[m] = s.tmean[m] / 10.0;
    if (!sameLatitude) {
      const double d = kDeclination[m];
      const double latRad = (s.latitude * kPi) / 180.0;
      const double sn = std::sin(latRad) * std::sin(d);
      const double cs = std::cos(latRad) * std::cos(d);
      const double x = sn / cs;
      dayLength[m] = 24.0 - 7.639437268410976 * clampedAcos(x);
    }
    if (s.tmean[m] > 0.0) heatIndex += std::pow(s.tmean[m] / 5.0, 1.514);
  }
  s.dayLengthValid = true;
  s.dayLengthLatitudeBits = latitudeBits;

  // The library's pow for the cube and the square alike: the compiler would
  // turn pow(I, 2.0) into I * I, which differs from pow in the last bit for
  // some heat indices.
  volatile double three = 3.0;
  volatile double two = 2.0;
  const double a =
      ((6.75e-07 * std::pow(heatIndex, three) - 7.71e-05 * std::pow(heatIndex, two)) + 0.0179 * heatIndex) + 0.49;

  for (int m = 1; m <= 12; ++m) {
    const double t = s.tmean[m];
    double pet;
    if (t < 0.0 || heatIndex == 0.0) {
      // A year with no month above 0 °C has no heat index, and so no PET.
      pet = 0.0;
    } else if (t < 26.5) {
      pet = 16.0 * std::pow((10.0 * t) / heatIndex, a);
    } else {
      pet = (-415.85 + 32.24 * t) - (0.43 * t) * t;
    }
    pet = (pet * (static_cast<double>(s.dm[m]) / 30.0)) * (dayLength[m] / 12.0);
    s.PET[m] = pet;
  }
}

}  // namespace vadoset
