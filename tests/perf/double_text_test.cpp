#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "platform/double_text.h"

namespace vadoset {
namespace {

std::string library(double v) {
  char buf[64];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

std::string fast(double v) {
  char buf[64];
  return std::string(buf, shortestDoubleText(v, buf));
}

// Counts the values whose text differs, and shows the first few.
int mismatches(const std::vector<double>& values) {
  int bad = 0;
  for (double v : values) {
    if (fast(v) != library(v) && ++bad <= 5)
      ADD_FAILURE() << std::hexfloat << v << ": " << fast(v) << " instead of " << library(v);
  }
  return bad;
}

TEST(ShortestDoubleText, SpecialValuesAndEveryBinade) {
  using L = std::numeric_limits<double>;
  std::vector<double> v = {0.0, -0.0, L::infinity(), -L::infinity(), L::quiet_NaN(), -L::quiet_NaN(),
                           L::denorm_min(), -L::denorm_min(), 2 * L::denorm_min(), 3 * L::denorm_min(),
                           L::min(), L::max(), -L::max(), std::nextafter(L::min(), 0.0), 1e23, 9007199254740992.0,
                           9007199254740993.0, 123456789012345680000.0, 5e-324, 1e-5, 0.0001, 0.001, 1e15, 1e16,
                           1e17, 1e21, 1e22, 0.3, 2.0 / 3.0};
  // Powers of two (where the rounding interval is lopsided) and their
  // neighbours, in every binade, subnormals included.
  for (int e = -1074; e <= 1023; ++e) {
    double p = std::ldexp(1.0, e);
    v.insert(v.end(), {p, std::nextafter(p, 0.0), std::nextafter(p, L::infinity()), -p});
  }
  // Powers of ten and their neighbours.
  for (int e = -323; e <= 308; ++e) {
    double p = std::strtod(("1e" + std::to_string(e)).c_str(), nullptr);
    v.insert(v.end(), {p, std::nextafter(p, 0.0), std::nextafter(p, L::infinity())});
  }
  EXPECT_EQ(mismatches(v), 0);
}

TEST(ShortestDoubleText, IntegersAndShortDecimals) {
  std::vector<double> v;
  for (int i = 0; i <= 100000; ++i) v.push_back(i);
  for (int i = 0; i <= 100000; ++i) v.push_back(i / 10.0), v.push_back(i / 100.0), v.push_back(i / 1000.0);
  for (std::int64_t i = (std::int64_t{1} << 53) - 1000; i <= (std::int64_t{1} << 53) + 1000; ++i)
    v.push_back(static_cast<double>(i));
  EXPECT_EQ(mismatches(v), 0);
}

TEST(ShortestDoubleText, RandomDoubles) {
  std::mt19937_64 rng(20240611);
  std::vector<double> v;
  // Any bit pattern, so every exponent and subnormals.
  for (int i = 0; i < 300000; ++i) v.push_back(std::bit_cast<double>(rng()));
  // Results of arithmetic in the range of the table's millimetres.
  for (int i = 0; i < 300000; ++i) {
    double a = static_cast<double>(rng() >> 11) * 0x1p-53;
    v.push_back(a * 400.0 - 1e-3 * a / 3.0);
  }
  EXPECT_EQ(mismatches(v), 0);
}

}  // namespace
}  // namespace vadoset
