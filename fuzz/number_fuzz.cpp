// The number parser and the number writer on arbitrary bytes. The references
// for the parser are strtod in the C locale and std::from_chars: on a text
// that holds only digits, signs, points and exponent letters, all must agree
// on whether it is a number and on its value, except that a value beyond the
// double range is no number at all. The shortest text must be what
// std::to_chars writes, and the field splitter must give the
// fields NthField gives.
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "platform/double_text.h"
#include "platform/text.h"

namespace {

using vadoset::fuzz::check;

std::string_view trimBlanks(std::string_view t) {
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
  return t;
}

bool sameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

locale_t cLocale() {
  static locale_t c = ::newlocale(LC_ALL_MASK, "C", nullptr);
  return c;
}

void checkAgainstStrtod(std::string_view text) {
  const std::optional<double> v = vadoset::ParseNumber(text);
  const std::string_view t = trimBlanks(text);
  const bool plain = !t.empty() && t.find_first_not_of("0123456789+-.eE") == std::string_view::npos;
  if (!plain) {
    check(!v.has_value(), "a text with other characters was read as a number", text);
    return;
  }
  std::string copy(t);
  char* end = nullptr;
  const double ref = ::strtod_l(copy.c_str(), &end, cLocale());
  const bool whole = end == copy.c_str() + copy.size();
  if (whole && std::isfinite(ref)) {
    check(v.has_value(), "a decimal number was refused", text);
    check(sameBits(*v, ref), "the value differs from strtod's", text);
  } else {
    check(!v.has_value(), whole ? "a value beyond the double range was accepted" : "a non-number was accepted", text);
  }
}

// from_chars takes no '+' and no blanks; what it reads in full must give the
// same bits, and a number it refuses (or reads only in part) must be refused.
void checkAgainstFromChars(std::string_view text) {
  const std::optional<double> v = vadoset::ParseNumber(text);
  std::string_view t = trimBlanks(text);
  bool negative = false;
  if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
    negative = t.front() == '-';
    t.remove_prefix(1);
  }
  if (t.empty() || t.front() == '+' || t.front() == '-') {
    check(!v.has_value(), "a text with no number after its sign was read as a number", text);
    return;
  }
  // "inf", "nan" and other words are for the strtod check.
  if (t.find_first_not_of("0123456789.eE") != std::string_view::npos) return;
  double ref = 0.0;
  const auto res = std::from_chars(t.data(), t.data() + t.size(), ref, std::chars_format::general);
  if (res.ec == std::errc() && res.ptr == t.data() + t.size()) {
    check(v.has_value(), "a number std::from_chars reads was refused", text);
    check(sameBits(*v, negative ? -ref : ref), "the value differs from std::from_chars's", text);
  } else if (res.ec != std::errc::result_out_of_range) {
    check(!v.has_value(), "a text std::from_chars refuses was read as a number", text);
  }
}

// Str must give the shortest text, which reads back as the same bits; the
// table's own formatter must write exactly what std::to_chars writes.
void checkStr(double d) {
  char buf[vadoset::kStrBufferSize + 8];
  std::size_t n = vadoset::StrTo(d, buf);
  check(n > 0 && n <= vadoset::kStrBufferSize, "Str's text is longer than its buffer");
  char ref[64];
  const std::size_t refLength = static_cast<std::size_t>(std::to_chars(ref, ref + sizeof ref, d).ptr - ref);
  char fast[64];
  const std::size_t fastLength = vadoset::shortestDoubleText(d, fast);
  check(fastLength <= vadoset::kStrBufferSize, "shortestDoubleText wrote more than its buffer");
  check(std::string_view(fast, fastLength) == std::string_view(ref, refLength),
        "shortestDoubleText differs from std::to_chars", std::string_view(ref, refLength));
  if (!std::isfinite(d)) return;
  std::optional<double> back = vadoset::ParseNumber(std::string_view(buf, n));
  check(back.has_value() && sameBits(*back, d), "Str's text does not read back", std::string_view(buf, n));
}

void checkToInt32(double d) {
  // The conversion itself is checked by the undefined-behaviour sanitizer.
  std::optional<std::int32_t> i = vadoset::ToInt32(d);
  if (!std::isfinite(d)) check(!i.has_value(), "ToInt32 of a non-finite value");
  if (i) check(std::abs(static_cast<double>(*i) - d) < 1.0, "ToInt32 is off by a whole unit or more");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  checkAgainstStrtod(text);
  checkAgainstFromChars(text);
  if (std::optional<double> v = vadoset::ParseNumber(text)) {
    checkStr(*v);
    checkToInt32(*v);
  }
  // Any bit pattern, NaN and infinities included.
  if (size >= sizeof(double)) {
    double d;
    std::memcpy(&d, data, sizeof d);
    checkStr(d);
    checkToInt32(d);
  }
  // The field helpers on the same text, with a field number and a start from it.
  if (size >= 2) {
    int n = static_cast<int>(data[0] % 20) - 1;
    std::string_view f = vadoset::NthField(text, '\t', n);
    check(f.empty() || (f.data() >= text.data() && f.data() + f.size() <= text.data() + text.size()),
          "NthField points outside its text");
    std::string_view split[20];
    vadoset::splitFields(text, '\t', split);
    for (int i = 0; i < 20; ++i)
      check(split[i] == vadoset::NthField(text, '\t', i + 1), "splitFields differs from NthField", text);
    std::string_view m = vadoset::Mid(text, data[1], data[0]);
    check(m.empty() || (m.data() >= text.data() && m.data() + m.size() <= text.data() + text.size()),
          "Mid points outside its text");
  }
  return 0;
}
