#include "platform/double_text.h"

#include <dragonbox/dragonbox.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Two ways to the shortest digits, and one layout. The digits of most
// values come from Dragonbox (Jeon, 2020; Debian's libdragonbox). A table's
// own numbers (soil water, evapotranspiration: about 1e-9 to 1e15, mostly
// with 16 or 17 significant digits) take a shorter exact route: scaled to
// 17 or 18 digits, a double and its rounding interval are integers over a
// power of two, so the shortest digits in the interval and the nearest of
// them are found with one 64 x 64-bit product and integer steps. Both give
// what std::to_chars gives. The layout (fixed or scientific) follows
// std::to_chars's rule.

namespace vadoset {

namespace {

__extension__ typedef unsigned __int128 U128;
using U64 = std::uint64_t;

struct Decimal {
  U64 digits;    // no trailing zeros
  int exponent;  // value = digits * 10^exponent
};

constexpr U64 kPow10[20] = {1ull,
                            10ull,
                            100ull,
                            1000ull,
                            10000ull,
                            100000ull,
                            1000000ull,
                            10000000ull,
                            100000000ull,
                            1000000000ull,
                            10000000000ull,
                            100000000000ull,
                            1000000000000ull,
                            10000000000000ull,
                            100000000000000ull,
                            1000000000000000ull,
                            10000000000000000ull,
                            100000000000000000ull,
                            1000000000000000000ull,
                            10000000000000000000ull};

// floor(q log10 2), exact for |q| < 1700.
constexpr int floorLog10Pow2(int q) {
  return static_cast<int>((std::int64_t{q} * 661971961083LL) >> 41);
}

// The binary exponents the exact route takes: value = m 2^e with m of 53
// bits, -80 <= e <= -2 (about 7e-9 to 2.2e15).
constexpr int kExactMinE = -80;
constexpr int kExactMaxE = -2;

// For each such e, with g = floor(log10 2^(e+52)), t = 16 - g and
// b = -(e + t): the scale 5^t 2^(57-b), a whole number below 2^63 (b is
// 1 to 55, 5^t below 2^b times 45).
struct ExactScale {
  U64 halfScale;
  int g;
};
constexpr auto kExactScales = [] {
  struct Table {
    ExactScale v[kExactMaxE - kExactMinE + 1];
  } table{};
  for (int e = kExactMinE; e <= kExactMaxE; ++e) {
    const int g = floorLog10Pow2(e + 52);
    const int t = 16 - g;
    const int b = -(e + t);
    U64 scale = U64{1} << (57 - b);
    for (int i = 0; i < t; ++i) scale *= 5;
    table.v[e - kExactMinE] = {scale, g};
  }
  return table;
}();

// x moved into (l, u] when it lies outside (defined, if unused, for an
// empty interval too).
U64 within(U64 x, U64 l, U64 u) {
  return std::min(std::max(x, l + 1), u);
}

// The shortest digits when they end two or more places before the 17th:
// the whole numbers in (l, u] with the most trailing zeros, the nearest of
// them to v + fraction / 2^58 (units of 10^(g-16)).
Decimal fewerDigits(U64 u, U64 l, U64 v, U64 fraction, int g) {
  int k = 0;
  while (u / 10 > l / 10) {
    u /= 10;
    l /= 10;
    ++k;
  }
  const U64 q = v / kPow10[k];
  const U64 rem = v - q * kPow10[k];
  const U64 halfUnit = 5 * kPow10[k - 1];
  const bool up = rem > halfUnit || (rem == halfUnit && (fraction != 0 || (q & 1) != 0));
  return {within(q + (up ? 1 : 0), l, u), g - 16 + k};
}

// The shortest digits of m 2^e, m in [2^52, 2^53), e in [kExactMinE,
// kExactMaxE]. In units of 10^(g-16) the value is V = m 5^t / 2^b, in
// [10^16, 2 10^17), and its rounding interval V +- 5^t / 2^(b+1) (the lower
// half halved for a power of two), closed when m is even. Times 2^58 all
// three are whole numbers: V 2^58 = 2m h, the ends (2m +- 1) h, h the half
// scale above. The interval is wider than one unit, so it holds a whole
// number; those with the most trailing zeros are the shortest digits, and
// of them the nearest to V wins, an exact tie going to the even one.
Decimal exactRoute(U64 m, int e) {
  const ExactScale& scale = kExactScales.v[e - kExactMinE];
  const U64 h = scale.halfScale;
  const U128 center = U128{m << 1} * h;  // V 2^58
  const U128 hi = center + h;
  const U128 lo = center - (m == (U64{1} << 52) ? h >> 1 : h);
  const bool closed = (m & 1) == 0;
  const auto whole = [](U128 x) { return static_cast<U64>(x >> 58); };
  const auto isWhole = [](U128 x) { return (static_cast<U64>(x) << 6) == 0; };
  // The whole numbers inside the interval: (l, u].
  // Bitwise & and | on the conditions below: no branch on the data.
  const U64 u = whole(hi) - static_cast<U64>(!closed & isWhole(hi));
  const U64 l = whole(lo) - static_cast<U64>(closed & isWhole(lo));

  // Of the whole numbers in (l, u], those with the most trailing zeros are
  // the shortest, and of them the nearest to V wins. With none or one
  // trailing zero (nearly every value) both answers are worked out without
  // a branch, clamped into the interval, and the right one taken.
  const U64 v = whole(center);
  const U64 fraction = static_cast<U64>(center) & ((U64{1} << 58) - 1);
  constexpr U64 kHalfUnit = U64{1} << 57;
  const U64 nearest0 = v + static_cast<U64>((fraction > kHalfUnit) | ((fraction == kHalfUnit) & ((v & 1) != 0)));
  const U64 u1 = u / 10, l1 = l / 10;
  if (u1 / 10 > l1 / 10) [[unlikely]]
    return fewerDigits(u, l, v, fraction, scale.g);
  const U64 v1 = v / 10, rem1 = v - v1 * 10;
  const U64 nearest1 = v1 + static_cast<U64>((rem1 > 5) | ((rem1 == 5) & ((fraction != 0) | ((v1 & 1) != 0))));
  const U64 digits0 = within(nearest0, l, u), digits1 = within(nearest1, l1, u1);
  const U64 one = static_cast<U64>(u1 > l1);
  const U64 pick = U64{0} - one;  // all ones when one trailing zero
  return {(digits1 & pick) | (digits0 & ~pick), scale.g - 16 + static_cast<int>(one)};
}

Decimal dragonboxRoute(double value) {
  const auto d = jkj::dragonbox::to_decimal(value, jkj::dragonbox::policy::sign::ignore,
                                            jkj::dragonbox::policy::trailing_zero::remove);
  return {d.significand, d.exponent};
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Decimal digits of v > 0.
int digitCount(U64 v) {
  const int approx = ((64 - std::countl_zero(v)) * 1233) >> 12;  // floor(bits * log10 2)
  return approx + (v >= kPow10[approx] ? 1 : 0);
}

// Writes the eight digits of r < 10^8, leading zeros included, at dst. All
// eight at once: two lanes of four digits, then four of two, then eight of
// one, each split by a multiplication instead of a division.
static_assert(std::endian::native == std::endian::little, "writeEight puts the first digit in the lowest byte");

void writeEight(char* dst, std::uint32_t r) {
  U64 x = (r / 10000) | (U64{r % 10000} << 32);
  U64 q = ((x * 10486) >> 20) & 0x0000007F0000007Full;  // each lane / 100
  x = q | ((x - q * 100) << 16);
  q = ((x * 103) >> 10) & 0x000F000F000F000Full;  // each lane / 10
  x = q | ((x - q * 10) << 8);
  x |= 0x3030303030303030ull;
  std::memcpy(dst, &x, 8);  // the first digit in the lowest byte
}

// Writes the sixteen digits of v < 10^16, leading zeros included, at dst:
// four groups of four digits, each spread over four 16-bit lanes that
// divide it by 1000, 100, 10 and 1 at once (a multiplication by a
// reciprocal, then by a power of two as a per-lane shift; exact below
// 10000), then each lane less ten times the one before it.
void writeSixteen(char* dst, U64 v) {
#if defined(__SSE2__)
  const U64 hi = v / 100000000, lo = v - hi * 100000000;
  const U64 a = hi / 10000, b = hi - a * 10000, c = lo / 10000, d = lo - c * 10000;
  constexpr U64 kSpread = 0x0004000400040004ull;  // four lanes of 4x: below 2^16
  const __m128i div = _mm_setr_epi16(8389, 5243, 13108, -32768, 8389, 5243, 13108, -32768);
  const __m128i shift = _mm_setr_epi16(1 << 7, 1 << 11, 1 << 13, -32768, 1 << 7, 1 << 11, 1 << 13, -32768);
  const __m128i ten = _mm_set1_epi16(10);
  const auto digits = [&](U64 first, U64 second) {
    const __m128i x = _mm_set_epi64x(static_cast<long long>(second * kSpread), static_cast<long long>(first * kSpread));
    const __m128i q = _mm_mulhi_epu16(_mm_mulhi_epu16(x, div), shift);
    return _mm_sub_epi16(q, _mm_slli_epi64(_mm_mullo_epi16(q, ten), 16));
  };
  const __m128i bytes = _mm_add_epi8(_mm_packus_epi16(digits(a, b), digits(c, d)), _mm_set1_epi8('0'));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), bytes);
#else
  const U64 hi = v / 100000000;
  writeEight(dst, static_cast<std::uint32_t>(hi));
  writeEight(dst + 8, static_cast<std::uint32_t>(v - hi * 100000000));
#endif
}

// Writes the n digits of v (10^(n-1) <= v < 10^n, n <= 17) from dst on, in
// whole blocks of eight or seventeen: the block is v scaled up to fill it,
// so the digits come first and zeros after them. Writes up to dst + 8
// (n <= 8) or dst + 17; the caller's text overwrites what lies past n.
void writeDigitsLeft(U64 v, int n, char* dst) {
  if (n <= 8) {
    writeEight(dst, static_cast<std::uint32_t>(v * kPow10[8 - n]));
    return;
  }
  // Seventeen places: the first digit, then sixteen.
  v *= kPow10[17 - n];
  const U64 first = v / 10000000000000000ull;
  dst[0] = static_cast<char>('0' + first);
  writeSixteen(dst + 1, v - first * 10000000000000000ull);
}

// Moves the `count` bytes at p + 1 to p (count from 1 to 8), leaving the
// bytes after them as they are: one load, a merge and one store.
void shiftLeftOne(char* p, int count) {
  U64 moved, kept;
  std::memcpy(&moved, p + 1, 8);
  std::memcpy(&kept, p, 8);
  const U64 mask = count >= 8 ? ~U64{0} : (U64{1} << (8 * count)) - 1;
  const U64 merged = (moved & mask) | (kept & ~mask);
  std::memcpy(p, &merged, 8);
}

// Writes d (digits without trailing zeros) as std::to_chars does: fixed or
// scientific, whichever is shorter, fixed when both are as long. A whole
// number at or above 2^53 in fixed notation gets all its digits, as
// std::to_chars writes it, not the shortest digits padded with zeros: `whole`
// is its exact value then (m 2^e, zero otherwise).
char* layOut(Decimal d, U128 whole, char* p) {
  const int n = digitCount(d.digits);
  const int lead = d.exponent + n - 1;  // decimal exponent of the first digit

  const int absLead = lead < 0 ? -lead : lead;
  const int sciLength = n + (n > 1 ? 1 : 0) + 2 + (absLead >= 100 ? 3 : 2);
  int fixedLength;
  if (d.exponent >= 0)
    fixedLength = n + d.exponent;
  else if (lead >= 0)
    fixedLength = n + 1;
  else
    fixedLength = 2 - d.exponent;  // "0.", the zeros after the point, the digits

  // Every text below is at most 24 bytes, and the block writes stay inside
  // the 32 bytes of the caller's buffer.
  if (fixedLength <= sciLength) {
    if (d.exponent > 0 && whole != 0) {
      char* end = p + n + d.exponent;  // as long as the shortest digits with their zeros
      for (char* q = end; q != p;) {
        *--q = static_cast<char>('0' + static_cast<int>(whole % 10));
        whole /= 10;
      }
      return end;
    }
    if (d.exponent >= 0) {
      writeDigitsLeft(d.digits, n, p);
      std::memset(p + n, '0', static_cast<std::size_t>(d.exponent));
      return p + n + d.exponent;
    }
    if (lead >= 0) {
      // The digits one place to the right, then those before the point
      // moved back over the gap.
      writeDigitsLeft(d.digits, n, p + 1);
      if (lead < 8) {
        shiftLeftOne(p, lead + 1);
      } else {
        for (int i = 0; i <= lead; ++i) p[i] = p[i + 1];
      }
      p[lead + 1] = '.';
      return p + n + 1;
    }
    // At most three zeros after the point: with more, the scientific form
    // is shorter.
    const int zeros = -lead - 1;
    std::memcpy(p, "0.000", 5);
    writeDigitsLeft(d.digits, n, p + 2 + zeros);
    return p + 2 + zeros + n;
  }
  // d.ddde+XX: the first digit, the point, the others, the exponent.
  writeDigitsLeft(d.digits, n, p + 1);
  p[0] = p[1];
  if (n > 1) {
    p[1] = '.';
    p += n + 1;
  } else {
    p += 1;
  }
  *p++ = 'e';
  *p++ = lead < 0 ? '-' : '+';
  if (absLead >= 100) {
    *p++ = static_cast<char>('0' + absLead / 100);
    const std::size_t i = static_cast<std::size_t>(absLead % 100) * 2;
    *p++ = kDigitPairs[i];
    *p++ = kDigitPairs[i + 1];
  } else {
    const std::size_t i = static_cast<std::size_t>(absLead) * 2;
    *p++ = kDigitPairs[i];
    *p++ = kDigitPairs[i + 1];
  }
  return p;
}

template <bool kExactRoute>
std::size_t writeShortest(double value, char* buf) {
  const U64 bits = std::bit_cast<U64>(value);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  const U64 fraction = bits & ((U64{1} << 52) - 1);
  if (biased == 0x7FF) {
    // Infinities and NaNs, as the library spells them.
    return static_cast<std::size_t>(std::to_chars(buf, buf + 32, value).ptr - buf);
  }
  char* p = buf;
  if (bits >> 63) *p++ = '-';
  if (biased == 0 && fraction == 0) {
    *p++ = '0';
    return static_cast<std::size_t>(p - buf);
  }
  const U64 m = biased == 0 ? fraction : fraction | (U64{1} << 52);
  const int e = (biased == 0 ? 1 : biased) - 1075;
  if (kExactRoute && biased != 0 && e >= kExactMinE && e <= kExactMaxE)
    return static_cast<std::size_t>(layOut(exactRoute(m, e), 0, p) - buf);
  // Whole numbers from 2^53 to 2^75 may be written in fixed notation with
  // all their digits.
  const U128 whole = (e > 0 && e < 23) ? U128{m} << e : 0;
  return static_cast<std::size_t>(layOut(dragonboxRoute(value), whole, p) - buf);
}

}  // namespace

std::size_t shortestDoubleText(double value, char* buf) {
  return writeShortest<true>(value, buf);
}

namespace detail {
std::size_t shortestDoubleTextGeneral(double value, char* buf) {
  return writeShortest<false>(value, buf);
}
}  // namespace detail

}  // namespace vadoset
