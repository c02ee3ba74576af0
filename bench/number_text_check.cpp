// Number text against the standard library on many doubles, and a loop for
// counting instructions.
//
//   vadoset-number-check --check N [--seed S]
//       compares shortestDoubleText with
//       std::to_chars on N random bit patterns and on N values from 0 to
//       5,000 with all their digits, and ParseNumber with std::from_chars on
//       the texts; exit status 1 on any difference.
//   vadoset-number-check --blocks
//       compares shortestDoubleText with std::to_chars on the integers
//       10^15 + h 10^7 + r for every h below 10^8: the first eight of the
//       sixteen digits after the leading one take every value, so every
//       eight-digit block of the digit writer is checked (run it once as is
//       and once with VADOSET_SIMD=avx2 on a CPU with AVX-512 IFMA, for
//       both forms); exit status 1 on any difference.
//   vadoset-number-check --loop METHOD N
//       formats (or parses) N table-like values with one method, for
//       `valgrind --tool=callgrind`: METHOD is none, to_chars or shortest (subtract none's count, divide by N), or
//       texts, from_chars or parse on an input file's fields (subtract texts's count: the texts are made first).

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "platform/double_text.h"
#include "platform/text.h"

using namespace vadoset;

namespace {

std::string_view toChars(double v, char* buf) {
  return {buf, static_cast<std::size_t>(std::to_chars(buf, buf + 64, v).ptr - buf)};
}

struct Counts {
  std::uint64_t values = 0, shortestBad = 0, parseBad = 0;
};

void compare(double v, Counts& c) {
  char ref[64], a[64];
  const std::string_view want = toChars(v, ref);
  ++c.values;
  if (std::string_view(a, shortestDoubleText(v, a)) != want && ++c.shortestBad <= 5)
    std::printf("shortestDoubleText %a: %.*s, not %.*s\n", v, static_cast<int>(shortestDoubleText(v, a)), a,
                static_cast<int>(want.size()), want.data());
  if (!std::isfinite(v)) return;
  // The text reads back as the same bits through ParseNumber.
  const std::optional<double> back = ParseNumber(want);
  if (!(back && std::bit_cast<std::uint64_t>(*back) == std::bit_cast<std::uint64_t>(v)) && ++c.parseBad <= 5)
    std::printf("ParseNumber(%.*s) does not give %a\n", static_cast<int>(want.size()), want.data(), v);
}

int check(std::uint64_t n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  Counts bits, range;
  for (std::uint64_t i = 0; i < n; ++i) compare(std::bit_cast<double>(rng()), bits);
  for (std::uint64_t i = 0; i < n; ++i) {
    // 0 to 5,000 with all 53 bits; every eighth one negative.
    const double v = static_cast<double>(rng() >> 11) * 0x1p-53 * 5000.0;
    compare(i % 8 == 0 ? -v : v, range);
  }
  for (const auto& [name, c] : {std::pair<const char*, Counts&>{"random bit patterns", bits}, {"0 to 5,000", range}})
    std::printf(
        "%s: %llu doubles; differ from std::to_chars: shortestDoubleText %llu; "
        "ParseNumber not reading back %llu\n",
        name, static_cast<unsigned long long>(c.values), static_cast<unsigned long long>(c.shortestBad),
        static_cast<unsigned long long>(c.parseBad));
  const bool ok = bits.shortestBad + bits.parseBad + range.shortestBad + range.parseBad == 0;
  return ok ? 0 : 1;
}

int blocks() {
  std::uint64_t bad = 0;
  for (std::uint64_t h = 0; h < 100000000; ++h) {
    const double v = static_cast<double>(1000000000000000ull + h * 10000000ull + (h * 7919) % 10000000ull);
    char ref[64], got[64];
    const std::string_view want = toChars(v, ref);
    if (std::string_view(got, shortestDoubleText(v, got)) != want && ++bad <= 5)
      std::printf("shortestDoubleText %.*s differs\n", static_cast<int>(want.size()), want.data());
  }
  std::printf("every eight-digit block: %llu integers differ from std::to_chars\n",
              static_cast<unsigned long long>(bad));
  return bad == 0 ? 0 : 1;
}

// Values like a table's: 0 to 5,000 with all their digits, one in eight a
// whole number or one decimal.
std::vector<double> tableValues(std::size_t n) {
  std::mt19937_64 rng(7);
  std::vector<double> v(n);
  for (std::size_t i = 0; i < n; ++i) {
    v[i] = static_cast<double>(rng() >> 11) * 0x1p-53 * 5000.0;
    if (i % 8 == 0) v[i] = std::round(v[i] * 10.0) / 10.0;
  }
  return v;
}

int loop(const std::string& method, std::size_t n) {
  const std::vector<double> values = tableValues(n);
  std::vector<char> text;
  std::vector<std::size_t> ends;
  const bool parsing = method == "texts" || method == "from_chars" || method == "parse";
  if (parsing) {
    // An input file's fields: temperatures with one decimal, whole
    // millimetres, latitudes with two decimals, now and then a missing month.
    std::mt19937_64 rng(11);
    char buf[64];
    for (std::size_t i = 0; i < n; ++i) {
      const int r = static_cast<int>(rng() % 1000);
      const double v = i % 3 == 0 ? (r - 400) / 10.0 : i % 3 == 1 ? r : (r * 17 % 18000 - 9000) / 100.0;
      const std::string_view t = i % 500 == 0 ? std::string_view("-9999") : toChars(v, buf);
      text.insert(text.end(), t.begin(), t.end());
      ends.push_back(text.size());
    }
  }
  // One branch on a number a loop, so that every method pays the same.
  const std::vector<std::string> methods = {"none", "to_chars", "shortest", "texts", "from_chars", "parse"};
  int which = 0;
  while (which < static_cast<int>(methods.size()) && methods[static_cast<std::size_t>(which)] != method) ++which;
  if (which == static_cast<int>(methods.size())) return 2;
  std::uint64_t sum = 0;
  char buf[64] = {};
  std::size_t start = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double v = values[i];
    const char* first = parsing ? text.data() + start : nullptr;
    const char* last = parsing ? text.data() + ends[i] : nullptr;
    double d = 0.0;
    switch (which) {
      case 1:
        sum += static_cast<std::size_t>(std::to_chars(buf, buf + 64, v).ptr - buf);
        break;
      case 2:
        sum += shortestDoubleText(v, buf);
        break;
      case 4:
        std::from_chars(first, last, d);
        break;
      case 5:
        d = ParseNumber(std::string_view(first, static_cast<std::size_t>(last - first))).value_or(0.0);
        break;
      default:
        break;
    }
    if (parsing) start = ends[i];
    sum += (std::bit_cast<std::uint64_t>(d) & 1) + static_cast<unsigned char>(buf[0]);
  }
  std::printf("%llu\n", static_cast<unsigned long long>(sum));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 2 && args[0] == "--check") {
    const std::uint64_t seed = args.size() >= 4 && args[2] == "--seed" ? std::stoull(args[3]) : 20240611;
    return check(std::stoull(args[1]), seed);
  }
  if (args.size() == 3 && args[0] == "--loop") return loop(args[1], std::stoull(args[2]));
  if (args.size() == 1 && args[0] == "--blocks") return blocks();
  std::fprintf(stderr, "usage: vadoset-number-check --check N [--seed S] | --blocks | --loop METHOD N\n");
  return 2;
}
