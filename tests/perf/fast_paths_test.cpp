// The fast paths against what they replace: the number formatter and parser
// against std::to_chars and std::from_chars, the early end of a spin-up that
// can never converge and the reuse of the day lengths against the full computation.

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>

#include "model/engine.h"
#include "platform/double_text.h"
#include "platform/text.h"

namespace vadoset {
namespace {

const auto sameBits = [](double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
};

// Special values; every power of two (a lopsided rounding interval) and of
// ten with their neighbours, subnormals included; integers, short decimals
// and the edge of 2^53; random bit patterns and millimetre-sized results;
// sixteen-digit integers whose digits after the first lead with every
// multiple of a thousand below 10^8 and its neighbours (where the
// eight-digit blocks of the digit writer turn over). ctest runs it again
// with VADOSET_SIMD=avx2, for the digit writer without AVX-512.
TEST(ShortestDoubleText, SameTextAsToChars) {
  using L = std::numeric_limits<double>;
  std::vector<double> v = {0.0, -0.0, L::infinity(), -L::infinity(), L::quiet_NaN(), -L::quiet_NaN()};
  v.insert(v.end(), {3 * L::denorm_min(), L::max(), -L::max(), 123456789012345680000.0, 2.0 / 3.0});
  for (int e = -1074; e <= 1023; ++e) {
    const double p = std::ldexp(1.0, e);
    v.insert(v.end(), {p, std::nextafter(p, 0.0), std::nextafter(p, L::infinity()), -p});
  }
  for (int e = -323; e <= 308; ++e) {
    const double p = std::strtod(("1e" + std::to_string(e)).c_str(), nullptr);
    v.insert(v.end(), {p, std::nextafter(p, 0.0), std::nextafter(p, L::infinity())});
  }
  for (int i = 0; i <= 100000; ++i) v.insert(v.end(), {double(i), i / 10.0, i / 100.0, i / 1000.0});
  for (std::int64_t i = -1000; i <= 1000; ++i) v.push_back(double((std::int64_t{1} << 53) + i));
  for (std::uint64_t h = 1; h < 100000000; h += 1000)
    for (std::uint64_t block : {h - 1, h, h + 1})
      v.push_back(static_cast<double>(1000000000000000ull + block * 10000000ull + (block * 7919) % 10000000ull));
  std::mt19937_64 rng(20240611);
  for (int i = 0; i < 300000; ++i) {
    const double a = static_cast<double>(rng() >> 11) * 0x1p-53;
    v.insert(v.end(), {std::bit_cast<double>(rng()), a * 400.0 - 1e-3 * a / 3.0});
  }
  int bad = 0;
  for (double x : v) {
    char lib[64], fast[64];
    const std::string want(lib, std::to_chars(lib, lib + 64, x).ptr), got(fast, shortestDoubleText(x, fast));
    if (got != want && ++bad <= 5) ADD_FAILURE() << std::hexfloat << x << ": " << got << " instead of " << want;
  }
  EXPECT_EQ(bad, 0);
}

// Short decimals take a fast path in ParseNumber: the very same double as the
// library for every length up to where it hands over to the full parser.
TEST(ParseNumberFastPath, SameBitsAsFromChars) {
  std::mt19937_64 rng(42);
  int bad = 0;
  for (int i = 0; i < 400000; ++i) {
    std::string number;
    for (int d = 1 + static_cast<int>(rng() % 18); d > 0; --d) number += static_cast<char>('0' + rng() % 10);
    const auto pointAt = static_cast<std::ptrdiff_t>(rng() % (number.size() + 2)) - 1;  // -1: no point
    if (pointAt >= 0) number.insert(static_cast<std::size_t>(pointAt), ".");
    const bool negative = rng() % 2 == 0;
    const std::string text = (rng() % 4 == 0 ? "  " : "") + std::string(negative ? "-" : (rng() % 8 == 0 ? "+" : "")) +
                             number + (rng() % 4 == 0 ? " \t" : "");
    double want = 0.0;
    std::from_chars(number.data(), number.data() + number.size(), want);
    const std::optional<double> got = ParseNumber(text);
    if (!(got && sameBits(*got, negative ? -want : want)) && ++bad <= 5) ADD_FAILURE() << "'" << text << "'";
  }
  EXPECT_EQ(bad, 0);
}

// Computes a record with function A exhaustively and with the early end,
// from the same carried state, checks they agree bit for bit, and counts
// the outcomes. `pet`, when given, replaces the record's PET.
struct Outcomes {
  int endedEarly = 0, converged = 0, otherNulls = 0;
  RecordResult compare(const std::string& what, const RecordInput& in, bool carryover, CarriedState carried,
                       const MonthValues* pet = nullptr) {
    RecordResult full, fast;
    CarriedState fullCarried = carried, fastCarried = carried;
    for (auto [r, c, exhaustive] : {std::tuple{&full, &fullCarried, true}, {&fast, &fastCarried, false}}) {
      RecordEngine engine(ModelParams{AvailabilityFunction::A, carryover, exhaustive});
      if (pet != nullptr) {
        r->pet = *pet;
        engine.Run_model(in, *c, *r);
      } else {
        engine.compute(in, *c, *r);
      }
    }
    SCOPED_TRACE(what);
    EXPECT_EQ(fast.isNull(), full.isNull());
    EXPECT_EQ(fastCarried.yearOne, fullCarried.yearOne);
    EXPECT_TRUE(sameBits(fastCarried.soil, fullCarried.soil) && sameBits(fastCarried.snow, fullCarried.snow));
    if (!full.isNull()) {
      ++converged;
      EXPECT_EQ(fast.passes, full.passes);
      for (int m = 0; m < kMonths; ++m)
        EXPECT_TRUE(sameBits(fast.aet[m], full.aet[m]) && sameBits(fast.surplus[m], full.surplus[m]));
    } else {
      ++(fast.passes < full.passes ? endedEarly : otherNulls);
    }
    return full;
  }
};

// Random climates from deserts to perennial snow, from a full soil and from
// carried soil water and snow; then years around the threshold. The engine
// keeps the day lengths of the last latitude: an engine that sees every
// record must give each the PET of a fresh one, also when latitudes repeat,
// or differ only in sign or in the last bit.
TEST(EarlyEndOfSpinUp, SameOutcomeAsTheFullComputation) {
  std::mt19937_64 rng(1234);
  auto uniform = [&](double a, double b) { return a + (b - a) * static_cast<double>(rng() >> 11) * 0x1p-53; };
  const double latitudes[] = {0.0, -0.0, 44.47, std::nextafter(44.47, 90.0), -44.47, 66.6, 70.0, -89.9, 90.0};
  RecordEngine reused;
  Outcomes o;
  const int records = 2000;
  for (int i = 0; i < records; ++i) {
    const double mean = uniform(-15.0, 30.0), amp = uniform(0.0, 20.0), wet = uniform(0.0, 160.0);
    RecordInput in;
    in.latitude = rng() % 2 ? uniform(-90.0, 90.0) : latitudes[rng() % std::size(latitudes)];
    in.fieldCapacity = std::trunc(uniform(1.0, 400.0));
    for (int m = 0; m < kMonths; ++m) {
      in.tmean[m] =
          std::round((mean - amp * std::cos(2.0 * M_PI * (m + 0.5) / 12.0) + uniform(-3.0, 3.0)) * 10.0) / 10.0;
      in.ppt[m] = std::trunc(wet * uniform(0.0, 2.0));
    }
    const bool carryover = i % 3 != 0;
    const double w = carryover ? uniform(-500.0, 400.0) : 0.0;
    const double ws = carryover && uniform(0.0, 1.0) < 0.5 ? uniform(0.0, 300.0) : 0.0;
    const RecordResult full = o.compare("record " + std::to_string(i), in, carryover, CarriedState{w, ws, true});
    RecordResult again;
    reused.Run_pet(in, again);
    for (int m = 0; m < kMonths; ++m) EXPECT_TRUE(sameBits(again.pet[m], full.pet[m])) << "reused day lengths";
  }
  // The set holds all three outcomes in numbers.
  EXPECT_GT(o.endedEarly, records / 10);
  EXPECT_GT(o.converged, records / 4);
  EXPECT_GT(o.otherNulls, 10);  // perennial snow, or not provable

  // Around the threshold: years that lose just under or just over 1 mm, from a
  // soil far below field capacity, or filled in a wet season of the first passes.
  o = {};
  const int steps = 300;
  for (bool seasonal : {false, true}) {
    for (int i = 0; i <= steps; ++i) {
      const double loss = 0.7 + 0.6 * i / steps;  // mm a year
      RecordInput in;
      in.tmean.fill(10.0), in.ppt.fill(50.0);  // no snow
      MonthValues pet;
      for (int m = 0; m < kMonths; ++m)
        pet[m] = 50.0 + loss / 12.0 + (seasonal ? 45.0 * std::sin(2.0 * M_PI * (m + 1) / 12.0) : 0.0);
      o.compare("loss " + std::to_string(loss) + (seasonal ? ", seasonal" : ""), in, !seasonal,
                CarriedState{-100.0, 0.0, true}, &pet);
    }
  }
  EXPECT_GT(o.endedEarly, steps / 2);
  EXPECT_GT(o.converged, steps / 3);
}

}  // namespace
}  // namespace vadoset
