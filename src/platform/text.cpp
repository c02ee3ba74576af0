#include "platform/text.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vadoset {

std::size_t StrTo(double value, char* buf) {
  auto res = std::to_chars(buf, buf + kStrBufferSize, value);
  return static_cast<std::size_t>(res.ptr - buf);
}

std::string Str(double value) {
  char buf[kStrBufferSize];
  return std::string(buf, StrTo(value, buf));
}

namespace {

bool isBlankChar(char c) {
  return c == ' ' || c == '\t';
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

std::string_view trimBlanks(std::string_view t) {
  while (!t.empty() && isBlankChar(t.front())) t.remove_prefix(1);
  while (!t.empty() && isBlankChar(t.back())) t.remove_suffix(1);
  return t;
}

// True when t is exactly: [sign] (digits [. digits] | . digits) [e [sign] digits].
bool isDecimal(std::string_view t) {
  std::size_t i = 0;
  const std::size_t n = t.size();
  if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
  std::size_t mantissaDigits = 0;
  while (i < n && isDigit(t[i])) ++i, ++mantissaDigits;
  if (i < n && t[i] == '.') {
    ++i;
    while (i < n && isDigit(t[i])) ++i, ++mantissaDigits;
  }
  if (mantissaDigits == 0) return false;
  if (i < n && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t expDigits = 0;
    while (i < n && isDigit(t[i])) ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  return i == n;
}

// For a decimal number (no sign) that from_chars finds out of range: true
// when it is too small for a double rather than too large. The sign of the
// exponent alone does not tell: "1000...000e-5" with 400 zeros is too large,
// and "0.000...0001" with 400 zeros, which has no exponent, is too small.
bool belowDoubleRange(std::string_view t) {
  // The value is 0.d1d2... x 10^(scale + exponent), d1 its first nonzero digit.
  std::int64_t scale = 0;
  bool significant = false;
  bool fraction = false;
  std::size_t i = 0;
  for (; i < t.size() && t[i] != 'e' && t[i] != 'E'; ++i) {
    if (t[i] == '.') {
      fraction = true;
    } else if (!significant && t[i] == '0') {
      if (fraction) --scale;
    } else {
      significant = true;
      if (fraction) break;
      ++scale;
    }
  }
  if (!significant) return true;  // a zero mantissa is zero whatever the exponent
  while (i < t.size() && t[i] != 'e' && t[i] != 'E') ++i;
  std::int64_t exponent = 0;
  bool negativeExponent = false;
  if (i < t.size()) {
    ++i;
    if (t[i] == '+' || t[i] == '-') negativeExponent = t[i++] == '-';
    // Saturates far beyond any double's exponent, and far below int64's range.
    for (; i < t.size(); ++i) exponent = std::min<std::int64_t>(exponent * 10 + (t[i] - '0'), 1'000'000'000'000);
  }
  return scale + (negativeExponent ? -exponent : exponent) < 0;
}

// Exact powers of ten as doubles.
constexpr double kExactPow10[16] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

using U64 = std::uint64_t;
constexpr U64 kEachByte = 0x0101010101010101ull;
constexpr U64 kHighBits = 0x8080808080808080ull;

// The n bytes at p (1 <= n <= 8), the first in the lowest byte, zeros
// above: two overlapping loads, never a byte past p + n.
U64 loadUpTo8(const char* p, std::size_t n) {
  if (n >= 4) {
    std::uint32_t a, b;
    std::memcpy(&a, p, 4);
    std::memcpy(&b, p + n - 4, 4);
    return a | (U64{b} << (8 * (n - 4)));
  }
  const auto byte = [p](std::size_t i) { return U64{static_cast<unsigned char>(p[i])} << (8 * i); };
  return byte(0) | byte(n / 2) | byte(n - 1);
}

// The high bit of each byte of x that is zero.
U64 zeroBytes(U64 x) {
  return ~(((x & ~kHighBits) + ~kHighBits) | x) & kHighBits;
}

// A plain decimal of up to 15 digits in [p, end) (no sign, no blanks), one
// byte at a time.
[[gnu::noinline]] bool parseLongDecimal(const char* p, const char* end, bool negative, double& out) {
  std::uint64_t digits = 0;
  int count = 0;
  int fraction = 0;
  bool seenPoint = false;
  for (; p != end; ++p) {
    const auto d = static_cast<unsigned>(*p - '0');
    if (d < 10) {
      digits = digits * 10 + d;
      ++count;
      fraction += seenPoint ? 1 : 0;
    } else if (*p == '.' && !seenPoint) {
      seenPoint = true;
    } else {
      return false;
    }
  }
  if (count == 0 || count > 15) return false;
  const double v = static_cast<double>(digits) / kExactPow10[fraction];
  out = negative ? -v : v;
  return true;
}

// Nearly every field of an input file is a short plain decimal ("-12.5",
// "254", "-9999"). Its body of at most eight bytes is read at once: each
// byte checked as a digit or the point, the point taken out, and the digits
// (at most eight, so an integer a double holds exactly) put together by
// three multiplications. One division by an exact power of ten then rounds
// the quotient correctly, as from_chars does. Longer decimals of up to 15
// digits take a loop; anything else (more digits, an exponent, text) is
// left to the full parser.
bool parseShortDecimal(std::string_view t, double& out) {
  const char* p = t.data();
  const char* end = p + t.size();
  while (p != end && isBlankChar(*p)) ++p;
  while (end != p && isBlankChar(end[-1])) --end;
  if (p == end) return false;
  const bool negative = *p == '-';
  p += (*p == '-' || *p == '+') ? 1 : 0;
  const auto n = static_cast<std::size_t>(end - p);
  if (n == 0) return false;
  if (n > 8) return parseLongDecimal(p, end, negative, out);
  const U64 inText = n == 8 ? ~U64{0} : (U64{1} << (8 * n)) - 1;
  const U64 x = loadUpTo8(p, n) ^ (0x30 * kEachByte);  // digits become 0 to 9
  // Bytes above 9 (the high bit set by adding 0x76 to the low seven bits, or
  // already set): anything but a digit.
  const U64 notDigit = ((((x & ~kHighBits) + 0x76 * kEachByte) | x) & kHighBits) & inText;
  const U64 point = zeroBytes(x ^ (0x1E * kEachByte)) & inText;  // '.' ^ 0x30
  if ((notDigit & ~point) != 0 || (point & (point - 1)) != 0) return false;
  U64 v = x & inText;
  // Take the point out: the bytes above it move down by one.
  const std::size_t at = point != 0 ? static_cast<std::size_t>(std::countr_zero(point)) / 8 : n;
  const U64 below = at == 8 ? ~U64{0} : (U64{1} << (8 * at)) - 1;
  v = (v & below) | ((v >> 8) & ~below);
  const std::size_t count = point != 0 ? n - 1 : n;
  if (count == 0) return false;
  // Leading zeros up to eight digits, the first in the lowest byte; then
  // pairs, fours and the eight put together.
  v <<= 8 * (8 - count);
  v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFull;
  v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFull;
  const U64 digits = (v * 10000 + (v >> 32)) & 0xFFFFFFFFull;
  const std::size_t fraction = count - std::min(at, count);
  const double value = static_cast<double>(digits) / kExactPow10[fraction];
  out = negative ? -value : value;
  return true;
}

// Everything but a short plain decimal: checked, then read by from_chars.
[[gnu::noinline]] std::optional<double> parseOther(std::string_view text) {
  std::string_view t = trimBlanks(text);
  if (!isDecimal(t)) return std::nullopt;
  // from_chars takes no leading '+'.
  bool negative = false;
  if (t.front() == '+' || t.front() == '-') {
    negative = t.front() == '-';
    t.remove_prefix(1);
  }
  double value = 0.0;
  auto res = std::from_chars(t.data(), t.data() + t.size(), value, std::chars_format::general);
  if (res.ec == std::errc::result_out_of_range) {
    // Too small to represent is zero; too large is not a usable number.
    if (!belowDoubleRange(t)) return std::nullopt;
    value = 0.0;
  } else if (res.ec != std::errc() || res.ptr != t.data() + t.size()) {
    return std::nullopt;
  }
  return negative ? -value : value;
}

}  // namespace

std::optional<double> ParseNumber(std::string_view text) {
  if (double v; parseShortDecimal(text, v)) [[likely]]
    return v;
  return parseOther(text);
}

std::optional<std::int32_t> ToInt32(double value) {
  double t = std::trunc(value);
  // NaN fails both comparisons.
  if (!(t >= -2147483648.0 && t <= 2147483647.0)) return std::nullopt;
  return static_cast<std::int32_t>(t);
}

std::string_view NthField(std::string_view text, char sep, int n) {
  if (n < 1) return {};
  std::size_t start = 0;
  for (int i = 1; i < n; ++i) {
    std::size_t p = text.find(sep, start);
    if (p == std::string_view::npos) return {};
    start = p + 1;
  }
  std::size_t end = text.find(sep, start);
  if (end == std::string_view::npos) end = text.size();
  return text.substr(start, end - start);
}

namespace {

// Calls take(base, bits) for the separators of text a block at a time, in
// order, bit k of bits standing for byte base + k: sixteen bytes are
// compared at once. Stops when take gives true, and gives true then.
template <typename Take>
bool separatorBlocks(std::string_view text, char sep, Take take) {
  const char* s = text.data();
  const std::size_t n = text.size();
  std::size_t i = 0;
#if defined(__SSE2__)
  // The last block overlaps the one before it, its bytes already seen
  // masked off.
  const __m128i separator = _mm_set1_epi8(sep);
  const auto block = [&](std::size_t at) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + at));
    return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, separator)));
  };
  for (; i + 16 <= n; i += 16)
    if (take(i, block(i))) return true;
  if (i < n && n >= 16) return take(n - 16, block(n - 16) & (0xFFFFu << (16 - (n - i))));
#endif
  for (; i < n; ++i)
    if (s[i] == sep && take(i, 1u)) return true;
  return false;
}

// Calls found(at) for each separator of text in order, until it gives true.
// True when found stopped it.
template <typename Found>
bool eachSeparator(std::string_view text, char sep, Found found) {
  return separatorBlocks(text, sep, [&](std::size_t base, std::uint32_t bits) {
    for (; bits != 0; bits &= bits - 1)
      if (found(base + static_cast<std::size_t>(std::countr_zero(bits)))) return true;
    return false;
  });
}

}  // namespace

void splitFields(std::string_view text, char sep, std::span<std::string_view> fields) {
  std::size_t found = 0;
  std::size_t start = 0;
  const bool done = fields.empty() || eachSeparator(text, sep, [&](std::size_t at) {
                      fields[found++] = text.substr(start, at - start);
                      start = at + 1;
                      return found == fields.size();
                    });
  if (!done) fields[found++] = text.substr(start);
  for (; found < fields.size(); ++found) fields[found] = {};
}

std::size_t countFields(std::string_view text, char sep) {
  std::size_t n = 1;
  separatorBlocks(text, sep, [&](std::size_t, std::uint32_t bits) {
    n += static_cast<std::size_t>(std::popcount(bits));
    return false;
  });
  return n;
}

void splitAllFields(std::string_view text, char sep, std::vector<std::string_view>& fields) {
  fields.clear();
  std::size_t start = 0;
  eachSeparator(text, sep, [&](std::size_t at) {
    fields.push_back(text.substr(start, at - start));
    start = at + 1;
    return false;
  });
  fields.push_back(text.substr(start));
}

std::string_view Mid(std::string_view text, std::size_t start, std::size_t length) {
  if (start < 1 || start > text.size()) return {};
  return text.substr(start - 1, length);
}

std::string_view Left(std::string_view text, std::size_t count) {
  return text.substr(0, count);
}

bool IsBlank(std::string_view text) {
  for (char c : text)
    if (!isBlankChar(c)) return false;
  return true;
}

namespace {

// The length of the UTF-8 sequence for one character at the start of `t`
// (2 to 4), or 0 when none starts there: overlong forms, surrogates and
// code points past U+10FFFF are no UTF-8.
std::size_t utf8Length(std::string_view t, char32_t& cp) {
  const auto byte = [&](std::size_t i) { return i < t.size() ? static_cast<unsigned char>(t[i]) : 0u; };
  const unsigned lead = byte(0);
  std::size_t n = 0;
  unsigned lo = 0x80, hi = 0xbf;  // the range of the second byte
  if (lead >= 0xc2 && lead <= 0xdf) {
    n = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    n = 3;
    lo = lead == 0xe0 ? 0xa0 : 0x80;
    hi = lead == 0xed ? 0x9f : 0xbf;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    n = 4;
    lo = lead == 0xf0 ? 0x90 : 0x80;
    hi = lead == 0xf4 ? 0x8f : 0xbf;
  } else {
    return 0;
  }
  if (byte(1) < lo || byte(1) > hi) return 0;
  cp = lead & (0x7fu >> n);
  for (std::size_t i = 1; i < n; ++i) {
    if ((byte(i) & 0xc0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i) & 0x3f);
  }
  return n;
}

void appendHex(std::string& out, const char* prefix, unsigned value, int digits) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += prefix;
  for (int d = digits - 1; d >= 0; --d) out += kHex[(value >> (4 * d)) & 15];
}

// Shared by both escapes. For a report field every byte that is no UTF-8 is
// written out too (the report stays valid UTF-8), and so are the Unicode
// line and paragraph separators, which some readers split lines at.
std::string escapeText(std::string_view text, bool field) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\\') {
      // Doubled, so that a name holding the text \x1b cannot pass for an
      // escape written out here.
      out += "\\\\";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7f) {
      appendHex(out, "\\x", c, 2);
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (char32_t cp = 0; std::size_t n = utf8Length(text.substr(i), cp)) {
      // U+009B is a CSI to terminals that take C1 controls in UTF-8.
      if (cp <= 0x9f || (field && (cp == 0x2028 || cp == 0x2029)))
        appendHex(out, "\\u", static_cast<unsigned>(cp), 4);
      else
        out.append(text.substr(i, n));
      i += n - 1;
    } else if (c <= 0x9f || field) {
      // A lone 0x9B is a CSI to terminals that read 8-bit controls.
      appendHex(out, "\\x", c, 2);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

std::string escapeControl(std::string_view text) {
  return escapeText(text, false);
}

std::string escapeField(std::string_view text) {
  return escapeText(text, true);
}

}  // namespace vadoset
