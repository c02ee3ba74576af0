#include "platform/double_text.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <vector>

// The shortest digits come from two methods that give the same digits:
// Jeon's Dragonbox (below) for most values, and Giulietti's Schubfach ("The
// Schubfach way to render doubles", 2020) for powers of two, whose rounding
// interval is lopsided: the value's rounding interval is scaled by a 126-bit
// approximation of a power of ten, and the shortest decimal inside it is
// read off with three 64 x 128-bit products. The layout (fixed or
// scientific) follows std::to_chars's rule.

namespace vadoset {

namespace {

__extension__ typedef unsigned __int128 U128;
using U64 = std::uint64_t;

constexpr int kQMin = -1074;  // exponent of the smallest subnormal
constexpr U64 kCMin = U64{1} << 52;
constexpr int kKMin = -324;
constexpr int kKMax = 292;
constexpr U64 kMask63 = (U64{1} << 63) - 1;

// floor(q log10 2), floor(q log10 (3/4 * 2)) and floor(e log2 10), exact
// over the exponents a double needs.
constexpr int floorLog10Pow2(int q) {
  return static_cast<int>((std::int64_t{q} * 661971961083LL) >> 41);
}
constexpr int floorLog10ThreeQuartersPow2(int q) {
  return static_cast<int>((std::int64_t{q} * 661971961083LL - 274743187321LL) >> 41);
}
constexpr int floorLog2Pow10(int e) {
  return static_cast<int>((std::int64_t{e} * 913124641741LL) >> 38);
}

// For each k, 10^-k = b 2^r with 2^125 <= b < 2^126; g = floor(b) + 1, split
// into its high and low 63 bits. Worked out once with exact integers.
// Big numbers as little-endian 32-bit words, for building the tables once:
// multiplied or divided (rounding down) by a small factor in place.
void mulSmall(std::vector<std::uint32_t>& x, std::uint32_t f) {
  U64 carry = 0;
  for (std::uint32_t& w : x) {
    U64 v = U64{w} * f + carry;
    w = static_cast<std::uint32_t>(v);
    carry = v >> 32;
  }
  if (carry != 0) x.push_back(static_cast<std::uint32_t>(carry));
}

void divSmall(std::vector<std::uint32_t>& x, std::uint32_t dv) {
  U64 rem = 0;
  for (std::size_t i = x.size(); i-- > 0;) {
    U64 cur = (rem << 32) | x[i];
    x[i] = static_cast<std::uint32_t>(cur / dv);
    rem = cur % dv;
  }
}

class PowerTable {
 public:
  PowerTable() {
    // Powers of ten, 10^e for e = 0, 1, ..., 324, as little-endian words.
    std::vector<std::uint32_t> p{1};
    for (int e = 0; e <= -kKMin; ++e) {
      if (e > 0) mulSmall(p, 10);
      set(-e, shiftedValue(p, floorLog2Pow10(e) - 125));
    }
    // floor(2^N / 10^m) for m = 1 ... 292: dividing by 10 again and again
    // keeps the floor exact.
    constexpr int kN = 2048;
    std::vector<std::uint32_t> d(kN / 32 + 1, 0);
    d[kN / 32] = 1;
    for (int m = 1; m <= kKMax; ++m) {
      divSmall(d, 10);
      const int r = floorLog2Pow10(-m) - 125;  // 10^-m = b 2^r, r < 0
      set(m, shiftedValue(d, kN + r));
    }
  }
  U64 g1(int k) const { return g_[static_cast<std::size_t>(k - kKMin)][0]; }
  U64 g0(int k) const { return g_[static_cast<std::size_t>(k - kKMin)][1]; }

 private:
  void set(int k, U128 floorB) {
    U128 g = floorB + 1;
    g_[static_cast<std::size_t>(k - kKMin)][0] = static_cast<U64>(g >> 63);
    g_[static_cast<std::size_t>(k - kKMin)][1] = static_cast<U64>(g) & kMask63;
  }
  // floor(x / 2^shift) for shift >= 0, x * 2^-shift otherwise; the result
  // has at most 126 bits.
  static U128 shiftedValue(const std::vector<std::uint32_t>& x, int shift) {
    U128 v = 0;
    if (shift < 0) {
      for (std::size_t i = x.size(); i-- > 0;) v = (v << 32) | x[i];
      return v << -shift;
    }
    // The words above bit `shift`, then the part of its own word.
    const std::size_t word = static_cast<std::size_t>(shift / 32);
    const int bit = shift % 32;
    for (std::size_t i = x.size(); i-- > word + 1;) v = (v << 32) | x[i];
    return (v << (32 - bit)) | (x[word] >> bit);
  }

  U64 g_[kKMax - kKMin + 1][2];
};

const PowerTable& powers() {
  static const PowerTable table;
  return table;
}

U64 multiplyHigh(U64 a, U64 b) {
  return static_cast<U64>((U128{a} * b) >> 64);
}

// Rounds g * cp / 2^127 to odd.
U64 roundToOdd(U64 g1, U64 g0, U64 cp) {
  const U64 x1 = multiplyHigh(g0, cp);
  const U64 y0 = g1 * cp;
  const U64 y1 = multiplyHigh(g1, cp);
  const U64 z = (y0 >> 1) + x1;
  const U64 vbp = y1 + (z >> 63);
  return vbp | (((z & kMask63) + kMask63) >> 63);
}

struct Decimal {
  U64 digits;
  int exponent;  // value = digits * 10^exponent
};

Decimal toDecimal(int q, U64 c) {
  const PowerTable& t = powers();
  const U64 out = c & 1;
  const U64 cb = c << 2;
  const U64 cbr = cb + 2;
  U64 cbl;
  int k;
  if (c != kCMin || q == kQMin) {
    cbl = cb - 2;
    k = floorLog10Pow2(q);
  } else {
    cbl = cb - 1;
    k = floorLog10ThreeQuartersPow2(q);
  }
  const int h = q + floorLog2Pow10(-k) + 2;
  const U64 g1 = t.g1(k);
  const U64 g0 = t.g0(k);
  const U64 vb = roundToOdd(g1, g0, cb << h);
  const U64 vbl = roundToOdd(g1, g0, cbl << h);
  const U64 vbr = roundToOdd(g1, g0, cbr << h);
  const U64 s = vb >> 2;
  if (s >= 100) {
    // One digit fewer, when just one of the two candidates is inside.
    const U64 sp10 = 10 * (s / 10);
    const U64 tp10 = sp10 + 10;
    const bool upin = vbl + out <= sp10 << 2;
    const bool wpin = (tp10 << 2) + out <= vbr;
    if (upin != wpin) return {upin ? sp10 : tp10, k};
  }
  const U64 tt = s + 1;
  const bool uin = vbl + out <= s << 2;
  const bool win = (tt << 2) + out <= vbr;
  if (uin != win) return {uin ? s : tt, k};
  // Both inside: the nearer, the even one on a tie.
  const std::int64_t cmp = static_cast<std::int64_t>(vb - ((s + tt) << 1));
  return {cmp < 0 || (cmp == 0 && (s & 1) == 0) ? s : tt, k};
}

// Values that are not powers of two take Jeon's Dragonbox method ("Dragonbox:
// A New Floating-Point Binary-to-Decimal Conversion Algorithm", 2020), which
// needs one 64 x 128-bit product in the common case: the candidate with one
// digit fewer than the interval's width allows is tried first (by 1000), and
// otherwise the nearest by 100. Its table holds ceil(10^k 2^-e) in
// [2^127, 2^128) for k = -292 ... 326; worked out once with exact integers.
constexpr int kDragonMinK = -292;
constexpr int kDragonMaxK = 326;

class DragonTable {
 public:
  DragonTable() {
    // 10^k for k >= 0: the top 128 bits, rounded up when bits are dropped.
    std::vector<std::uint32_t> p{1};
    for (int k = 0; k <= kDragonMaxK; ++k) {
      if (k > 0) mulSmall(p, 10);
      const int shift = floorLog2Pow10(k) - 127;  // 10^k = cache 2^shift
      set(k, floor128(p, shift) + (dropsNothing(p, shift) ? 0 : 1));
    }
    // 10^-m = 2^N / 10^m 2^-N: floor(2^N / 10^m) by repeated division, then
    // its top 128 bits, plus one (never exact: 10^m has the factor 5^m).
    constexpr int kN = 2048;
    std::vector<std::uint32_t> d(kN / 32 + 1, 0);
    d[kN / 32] = 1;
    for (int m = 1; m <= -kDragonMinK; ++m) {
      divSmall(d, 10);
      const int shift = kN + floorLog2Pow10(-m) - 127;
      set(-m, floor128(d, shift) + 1);
    }
  }
  U64 high(int k) const { return c_[static_cast<std::size_t>(k - kDragonMinK)][0]; }
  U64 low(int k) const { return c_[static_cast<std::size_t>(k - kDragonMinK)][1]; }

 private:
  void set(int k, U128 v) {
    c_[static_cast<std::size_t>(k - kDragonMinK)][0] = static_cast<U64>(v >> 64);
    c_[static_cast<std::size_t>(k - kDragonMinK)][1] = static_cast<U64>(v);
  }
  static bool dropsNothing(const std::vector<std::uint32_t>& x, int shift) {
    if (shift <= 0) return true;
    for (int b = 0; b < shift; ++b)
      if ((x[static_cast<std::size_t>(b / 32)] >> (b % 32)) & 1) return false;
    return true;
  }
  // floor(x / 2^shift) for shift > 0 (x * 2^-shift otherwise), at most 128 bits.
  static U128 floor128(const std::vector<std::uint32_t>& x, int shift) {
    U128 v = 0;
    if (shift <= 0) {
      for (std::size_t i = x.size(); i-- > 0;) v = (v << 32) | x[i];
      return v << -shift;
    }
    for (std::size_t i = x.size(); i-- > 0;) {
      const int lowBit = static_cast<int>(i) * 32;
      if (lowBit + 32 <= shift) break;
      if (lowBit >= shift)
        v = (v << 32) | x[i];
      else
        v = (v << (lowBit + 32 - shift)) | (x[i] >> (shift - lowBit));
    }
    return v;
  }

  U64 c_[kDragonMaxK - kDragonMinK + 1][2];
};

const DragonTable& dragonTable() {
  static const DragonTable table;
  return table;
}

// The nearest shortest decimal of fc 2^e, fc not a power of two (so the
// rounding interval is symmetric), ties to even.
Decimal toDecimalNearest(int e, U64 fc) {
  constexpr int kKappa = 2;
  const bool closed = (fc & 1) == 0;  // the interval's ends round to the value too
  const int minusK = floorLog10Pow2(e) - kKappa;
  const DragonTable& t = dragonTable();
  const U64 cacheHigh = t.high(-minusK);
  const U64 cacheLow = t.low(-minusK);
  const int beta = e + floorLog2Pow10(-minusK);
  const U64 twoFc = fc << 1;
  const auto deltai = static_cast<std::uint32_t>(cacheHigh >> (63 - beta));
  // z = (2fc + 1) 2^beta * cache / 2^128: its integer part, and whether it is whole.
  const U64 u = (twoFc | 1) << beta;
  const U128 zHighProduct = U128{u} * cacheHigh + ((U128{u} * cacheLow) >> 64);
  const U64 zi = static_cast<U64>(zHighProduct >> 64);
  const bool zIsInteger = static_cast<U64>(zHighProduct) == 0;
  // The parity and wholeness of x 2^beta * cache / 2^128's integer part.
  auto mulParity = [&](U64 x, bool& isInteger) {
    const U128 lowProduct = U128{x} * cacheLow;
    const U64 high = x * cacheHigh + static_cast<U64>(lowProduct >> 64);
    const U64 low = static_cast<U64>(lowProduct);
    isInteger = ((high << beta) | (low >> (64 - beta))) == 0;
    return ((high >> (64 - beta)) & 1) != 0;
  };

  Decimal d;
  d.digits = zi / 1000;
  auto r = static_cast<std::uint32_t>(zi - 1000 * d.digits);
  bool small = false;
  if (r < deltai) {
    if (r == 0 && zIsInteger && !closed) {
      d.digits -= 1;
      r = 1000;
      small = true;
    }
  } else if (r > deltai) {
    small = true;
  } else {
    bool xIsInteger;
    const bool xParity = mulParity(twoFc - 1, xIsInteger);
    if (!(xParity || (xIsInteger && closed))) small = true;
  }
  if (!small) {
    d.exponent = minusK + kKappa + 1;
    return d;
  }
  d.digits *= 10;
  d.exponent = minusK + kKappa;
  std::uint32_t dist = r - (deltai / 2) + 50;
  const bool approxYParity = ((dist ^ 50) & 1) != 0;
  const std::uint32_t q = dist / 100;
  const bool divisible = q * 100 == dist;
  d.digits += q;
  if (divisible) {
    bool yIsInteger;
    const bool yParity = mulParity(twoFc, yIsInteger);
    if (yParity != approxYParity)
      d.digits -= 1;
    else if ((d.digits & 1) != 0 && yIsInteger)
      d.digits -= 1;
  }
  return d;
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

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

// Writes the n digits of v (10^(n-1) <= v < 10^n, n <= 17) from dst on, in
// whole blocks of eight: the block is v scaled up to fill it, so the digits
// come first and zeros after them. Writes up to dst + 8 (n <= 8), dst + 16
// (n <= 16) or dst + 17; the caller's text overwrites what lies past n.
void writeDigitsLeft(U64 v, int n, char* dst) {
  if (n <= 8) {
    writeEight(dst, static_cast<std::uint32_t>(v * kPow10[8 - n]));
    return;
  }
  if (n == 17) {
    const U64 first = v / 10000000000000000ull;
    *dst++ = static_cast<char>('0' + first);
    v -= first * 10000000000000000ull;
  } else {
    v *= kPow10[16 - n];
  }
  const U64 hi = v / 100000000;
  writeEight(dst, static_cast<std::uint32_t>(hi));
  writeEight(dst + 8, static_cast<std::uint32_t>(v - hi * 100000000));
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

// Drops the trailing zeros of d.digits (not zero) into its exponent.
void removeTrailingZeros(Decimal& d) {
  if (d.digits % 10 != 0) return;
  while (d.digits % 100000000 == 0) d.digits /= 100000000, d.exponent += 8;
  if (d.digits % 10000 == 0) d.digits /= 10000, d.exponent += 4;
  if (d.digits % 100 == 0) d.digits /= 100, d.exponent += 2;
  if (d.digits % 10 == 0) d.digits /= 10, d.exponent += 1;
}

}  // namespace

std::size_t shortestDoubleText(double value, char* buf) {
  const U64 bits = std::bit_cast<U64>(value);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  const U64 fraction = bits & (kCMin - 1);
  if (biased == 0x7FF || (biased == 0 && fraction != 0)) {
    // Infinities, NaNs and subnormals (below 2.3e-308) are left to the
    // library: the shortest text of a subnormal may have fewer digits than
    // the method below looks for.
    return static_cast<std::size_t>(std::to_chars(buf, buf + 32, value).ptr - buf);
  }
  char* p = buf;
  if (bits >> 63) *p++ = '-';
  Decimal d;
  // A whole number at or above 2^53 is written in fixed notation with all its
  // digits, as std::to_chars does, not the shortest digits padded with zeros.
  U128 whole = 0;
  if (biased != 0) {
    const int mq = -kQMin + 1 - biased;  // minus the binary exponent
    const U64 c = kCMin | fraction;
    if (mq <= 0 && mq > -75) whole = U128{c} << -mq;
    d = {0, 0};
    bool done = false;
    if (0 < mq && mq < 53) {
      // An integer below 2^53 is its own shortest text.
      const U64 f = c >> mq;
      if (f << mq == c) {
        d = {f, 0};
        done = true;
      }
    }
    if (!done) d = fraction != 0 ? toDecimalNearest(-mq, c) : toDecimal(-mq, c);
  } else {
    *p++ = '0';
    return static_cast<std::size_t>(p - buf);
  }

  // Trailing zeros are not digits of the shortest text.
  removeTrailingZeros(d);
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
  // the 32 bytes of buf.
  if (fixedLength <= sciLength) {
    if (d.exponent > 0 && whole != 0) {
      // Same length as the shortest digits with their zeros.
      char* end = p + n + d.exponent;
      for (char* q = end; q != p;) {
        *--q = static_cast<char>('0' + static_cast<int>(whole % 10));
        whole /= 10;
      }
      p = end;
    } else if (d.exponent >= 0) {
      writeDigitsLeft(d.digits, n, p);
      std::memset(p + n, '0', static_cast<std::size_t>(d.exponent));
      p += n + d.exponent;
    } else if (lead >= 0) {
      // The digits one place to the right, then those before the point
      // moved back over the gap.
      writeDigitsLeft(d.digits, n, p + 1);
      if (lead < 8) {
        shiftLeftOne(p, lead + 1);
      } else {
        for (int i = 0; i <= lead; ++i) p[i] = p[i + 1];
      }
      p[lead + 1] = '.';
      p += n + 1;
    } else {
      // At most three zeros after the point: with more, the scientific
      // form is shorter.
      const int zeros = -lead - 1;
      std::memcpy(p, "0.000", 5);
      writeDigitsLeft(d.digits, n, p + 2 + zeros);
      p += 2 + zeros + n;
    }
  } else {
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
  }
  return static_cast<std::size_t>(p - buf);
}

}  // namespace vadoset
