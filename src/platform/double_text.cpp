#include "platform/double_text.h"

#include <dragonbox/dragonbox.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

// The shortest digits come from Dragonbox (Jeon, 2020; Debian's
// libdragonbox): the shortest that read back as the value, the nearest of
// them when several are as short, an exact tie going to the even one, as
// std::to_chars picks them. The layout (fixed or scientific) follows
// std::to_chars's rule, with the digits written in blocks.

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

#if defined(__x86_64__)
// The same sixteen digits with AVX-512's 52-bit multiply-add (IFMA): each
// half of eight digits is spread over eight 64-bit lanes, lane j holding
// the half's fraction of 10^(8 - j) in 52 bits; ten times that, its whole
// part, is digit j (Lemire, "Converting integers to decimal strings faster
// with AVX-512", 2022). `vadoset-number-check --blocks` compares every half
// below 10^8 with the SSE2 form.
__attribute__((target("avx512f,avx512bw,avx512ifma,avx512vbmi"))) void writeSixteenIfma(char* dst, U64 v) {
  const U64 hi = v / 100000000, lo = v - hi * 100000000;
  const __m512i fractions = _mm512_setr_epi64(0x2af31dc, 0x1ad7f29b, 0x10c6f7a0c, 0xa7c5ac472, 0x68db8bac72,
                                              0x4189374bc6b, 0x28f5c28f5c29, 0x199999999999a);
  // Lane 0's factor is 2^52 / 10^8 rounded down; this lifts its fraction
  // back above the digit's start for every half.
  const __m512i lift = _mm512_zextsi128_si512(_mm_cvtsi64_si128(0x1A1A400));
  const __m512i ten = _mm512_set1_epi64(10);
  const __m512i zero = _mm512_set1_epi64('0');
  const __m512i high = _mm512_madd52hi_epu64(
      zero, ten, _mm512_madd52lo_epu64(lift, _mm512_set1_epi64(static_cast<long long>(hi)), fractions));
  const __m512i low = _mm512_madd52hi_epu64(
      zero, ten, _mm512_madd52lo_epu64(lift, _mm512_set1_epi64(static_cast<long long>(lo)), fractions));
  // The lowest byte of each lane, high's eight and then low's, stored by a
  // masked store of sixteen bytes (GCC 12 warns of a cast to 128 bits in a
  // function of AVX-512 by attribute only).
  const __m512i order = _mm512_zextsi128_si512(
      _mm_setr_epi8(0x00, 0x08, 0x10, 0x18, 0x20, 0x28, 0x30, 0x38, 0x40, 0x48, 0x50, 0x58, 0x60, 0x68, 0x70, 0x78));
  _mm512_mask_storeu_epi8(dst, 0xFFFF, _mm512_permutex2var_epi8(high, order, low));
}

bool ifmaWanted() {
  // VADOSET_SIMD=scalar or avx2 keeps AVX-512 out of the digits too.
  const char* simd = std::getenv("VADOSET_SIMD");
  if (simd != nullptr && (std::strcmp(simd, "scalar") == 0 || std::strcmp(simd, "avx2") == 0)) return false;
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512ifma") && __builtin_cpu_supports("avx512vbmi");
}
const bool kIfma = ifmaWanted();
#endif

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
#if defined(__x86_64__)
  if (kIfma) {
    writeSixteenIfma(dst + 1, v - first * 10000000000000000ull);
    return;
  }
#endif
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

}  // namespace

std::size_t shortestDoubleText(double value, char* buf) {
  const U64 bits = std::bit_cast<U64>(value);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  if (biased == 0x7FF) {
    // Infinities and NaNs, as the library spells them.
    return static_cast<std::size_t>(std::to_chars(buf, buf + 32, value).ptr - buf);
  }
  char* p = buf;
  if (bits >> 63) *p++ = '-';
  if ((bits << 1) == 0) {
    *p++ = '0';
    return static_cast<std::size_t>(p - buf);
  }
  // Whole numbers from 2^53 to 2^75 may be written in fixed notation with
  // all their digits.
  const int e = biased - 1075;
  const U64 m = (bits & ((U64{1} << 52) - 1)) | (U64{1} << 52);
  const U128 whole = (e > 0 && e < 23) ? U128{m} << e : 0;
  return static_cast<std::size_t>(layOut(dragonboxRoute(value), whole, p) - buf);
}

}  // namespace vadoset
