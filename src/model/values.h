#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace vadoset::values {

/// The rules that turn a month's number, as a file or an array holds it,
/// into the model's value. Every reader and binding goes through these, so a
/// number means the same wherever it comes from. A value the model cannot
/// use gives NaN, which makes the record's row null.

/// The missing-value code of the input files, in any spelling of the number.
inline constexpr double kMissingCode = -9999.0;
/// The files' own marker of a missing month once read (the run state's 9999).
inline constexpr double kMissingMarker = 9999.0;

/// Whole millimetres the way the readers take them: the fraction dropped
/// toward zero through a 32-bit integer (so -0.5 becomes +0). Nothing when
/// the whole number does not fit that integer, or for a non-number.
inline bool wholeMillimetres(double v, std::int32_t& whole) {
  const double t = std::trunc(v);
  if (!(t >= -2147483648.0 && t <= 2147483647.0)) return false;
  whole = static_cast<std::int32_t>(t);
  return true;
}

/// A month's precipitation, mm: NaN for a missing month (NaN, -9999, 9999,
/// or a number that does not fit a 32-bit integer once its fraction is
/// dropped); whole millimetres unless the fraction is kept.
inline double precipitation(double v, bool keepFraction) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  std::int32_t whole = 0;
  if (std::isnan(v) || v == kMissingCode || !wholeMillimetres(v, whole) || whole == 9999) return kNaN;
  return keepFraction ? v : static_cast<double>(whole);
}

/// A month's mean temperature, °C: NaN for a missing month (NaN, an
/// infinity, -9999 or 9999).
inline double temperature(double v) {
  if (!std::isfinite(v) || v == kMissingCode || v == kMissingMarker) return std::numeric_limits<double>::quiet_NaN();
  return v;
}

/// A field capacity, mm: whole millimetres and at least one, else NaN.
inline double fieldCapacity(double v) {
  std::int32_t whole = 0;
  if (!wholeMillimetres(v, whole) || whole < 1) return std::numeric_limits<double>::quiet_NaN();
  return static_cast<double>(whole);
}

}  // namespace vadoset::values
