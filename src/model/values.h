#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

/// A record's twelve months of temperature and precipitation through the
/// rules above, into tmean and ppt: the same values, two months at a time
/// where the CPU has SSE2 (every x86-64 does).
inline void months(const double* t, const double* p, bool keepFraction, double* tmean, double* ppt) {
#if defined(__SSE2__)
  const __m128d nan = _mm_set1_pd(std::numeric_limits<double>::quiet_NaN());
  const __m128d code = _mm_set1_pd(kMissingCode), marker = _mm_set1_pd(kMissingMarker);
  const __m128d magnitude = _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffffLL));
  const __m128d largest = _mm_set1_pd(std::numeric_limits<double>::max());
  // The numbers whose fraction dropped toward zero fits a 32-bit integer.
  const __m128d above = _mm_set1_pd(-2147483649.0), below = _mm_set1_pd(2147483648.0);
  for (int m = 0; m < 12; m += 2) {
    const __m128d v = _mm_loadu_pd(t + m);
    const __m128d usable = _mm_and_pd(_mm_cmple_pd(_mm_and_pd(v, magnitude), largest),
                                      _mm_and_pd(_mm_cmpneq_pd(v, code), _mm_cmpneq_pd(v, marker)));
    _mm_storeu_pd(tmean + m, _mm_or_pd(_mm_and_pd(usable, v), _mm_andnot_pd(usable, nan)));
    const __m128d x = _mm_loadu_pd(p + m);
    const __m128d fits = _mm_and_pd(_mm_cmpgt_pd(x, above), _mm_cmplt_pd(x, below));
    const __m128d whole = _mm_cvtepi32_pd(_mm_cvttpd_epi32(_mm_and_pd(fits, x)));
    const __m128d kept = _mm_and_pd(fits, _mm_and_pd(_mm_cmpneq_pd(x, code), _mm_cmpneq_pd(whole, marker)));
    _mm_storeu_pd(ppt + m, _mm_or_pd(_mm_and_pd(kept, keepFraction ? x : whole), _mm_andnot_pd(kept, nan)));
  }
#else
  for (int m = 0; m < 12; ++m) {
    tmean[m] = temperature(t[m]);
    ppt[m] = precipitation(p[m], keepFraction);
  }
#endif
}

}  // namespace vadoset::values
