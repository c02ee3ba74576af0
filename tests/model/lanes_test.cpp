#include "model/lanes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "model/engine.h"

namespace vadoset {
namespace {

using lanes::ExpMode;
using lanes::PowMode;
using lanes::SimdLevel;

#ifdef __OPTIMIZE__
constexpr int kRecords = 100000;
#else
constexpr int kRecords = 10000;  // unoptimised (sanitizer) builds
#endif

// Made-up years from the polar ice to the wet tropics, with a few records
// that cannot be computed and a few with values far outside any climate
// (infinite or huge temperatures and precipitation, tiny field capacities).
std::vector<RecordInput> randomRecords(int n, std::uint64_t seed) {
  std::mt19937_64 g(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const double inf = std::numeric_limits<double>::infinity();
  const double wild[] = {inf, -inf, 1e308, -1e308, 1e-310, -0.0, 5e15, -3000.0};
  std::vector<RecordInput> records(static_cast<std::size_t>(n));
  for (RecordInput& r : records) {
    r.latitude = -90.0 + 180.0 * u(g);
    const double base = -25.0 + 55.0 * u(g), swing = 25.0 * u(g), wet = 250.0 * u(g);
    for (std::size_t m = 0; m < 12; ++m) {
      const double season = std::cos((static_cast<double>(m) - 6.0) * 0.5236) * (r.latitude > 0 ? 1.0 : -1.0);
      r.tmean[m] = std::round((base + swing * season + 3.0 * (u(g) - 0.5)) * 10.0) / 10.0;
      r.ppt[m] = std::floor(2.0 * wet * u(g) * u(g));
    }
    r.fieldCapacity = std::floor(10.0 + 390.0 * u(g));
    const double pick = u(g);
    const auto month = static_cast<std::size_t>(12.0 * u(g));
    const double odd = wild[static_cast<std::size_t>(8.0 * u(g))];
    if (pick < 0.003)
      r.ppt[month] = std::nan("");
    else if (pick < 0.0035)
      r.tmean[month] = odd;
    else if (pick < 0.0040)
      r.ppt[month] = std::abs(odd);
    else if (pick < 0.0045)
      r.fieldCapacity = odd;
    else if (pick < 0.0050)
      r.latitude = 91.0;
  }
  return records;
}

bool sameBits(const RecordResult& a, const RecordResult& b) {
  auto same = [](const MonthValues& x, const MonthValues& y) { return std::memcmp(&x, &y, sizeof x) == 0; };
  return same(a.pet, b.pet) && same(a.aet, b.aet) && same(a.surplus, b.surplus) && same(a.soil, b.soil) &&
         same(a.snow, b.snow) && a.reason == b.reason && a.month == b.month && a.passes == b.passes;
}

struct Levels {
  SimdLevel level;
  ExpMode exp;
  PowMode pow;
};

// Each level with the library's exp and pow per lane, and with the vector
// copies where they passed their checks.
std::vector<Levels> levelsToCompare() {
  std::vector<Levels> out;
  for (SimdLevel level : {SimdLevel::Avx2, SimdLevel::Avx512}) {
    if (!lanes::simdLevelSupported(level)) continue;
    out.push_back({level, ExpMode::PerLane, PowMode::PerLane});
    const ExpMode exp = lanes::vectorExpMatchesStd(level) ? ExpMode::Vector : ExpMode::PerLane;
    const PowMode pow = lanes::vectorPowMatchesStd(level) ? PowMode::Vector : PowMode::PerLane;
    if (exp == ExpMode::Vector || pow == PowMode::Vector) out.push_back({level, exp, pow});
  }
  return out;
}

// computeBatch and every level, with either exponential, give the scalar
// engine's bits for every function (8 draws nothing), and leave the carried
// state as it does, after the batch and after each record. With carry-over
// computeBatch is the chain of compute calls, through guessed years.
TEST(LaneEngine, SameBitsAsTheScalarEngine) {
  const std::vector<RecordInput> in = randomRecords(kRecords, 20261207);
  const std::vector<Levels> levels = levelsToCompare();
  std::vector<RecordResult> want(in.size()), got(in.size());
  std::vector<CarriedState> wantAfter(in.size()), after(in.size());
  for (const bool carryover : {false, true}) {
    for (std::int32_t function = 0; function <= 8; ++function) {
      ModelParams params;
      params.function = static_cast<AvailabilityFunction>(function);
      params.carryover = carryover;
      RecordEngine scalar(params);
      std::fill(want.begin(), want.end(), RecordResult{});
      CarriedState wantCarried{12.5, 3.0, true};
      for (std::size_t i = 0; i < in.size(); ++i) {
        scalar.compute(in[i], wantCarried, want[i]);
        wantAfter[i] = wantCarried;
      }
      if (carryover) {
        // The guessed years: the chain must both keep guesses and compute
        // years again, or the test above covers one path only.
        RecordEngine engine(params);
        std::vector<CarriedState> starts(in.size()), ends(in.size());
        engine.computePetBatch(in, got);
        engine.guessYears(in, got, starts, ends);
        int kept = 0;
        for (std::size_t i = 1; i < in.size(); ++i)
          kept += !starts[i].yearOne && !want[i].isNull() &&
                  std::bit_cast<std::uint64_t>(starts[i].soil) == std::bit_cast<std::uint64_t>(wantAfter[i - 1].soil) &&
                  std::bit_cast<std::uint64_t>(starts[i].snow) == std::bit_cast<std::uint64_t>(wantAfter[i - 1].snow);
        EXPECT_GT(kept, kRecords / 500) << "function " << function;
        EXPECT_LT(kept, kRecords - kRecords / 100) << "function " << function;
      }
      // computeBatch itself, at the level this CPU gets, then each level.
      const SimdLevel active = lanes::activeSimdLevel();
      std::vector<Levels> runs{{active, lanes::activeExpMode(active), lanes::activePowMode(active)}};
      if (!carryover) runs.insert(runs.end(), levels.begin(), levels.end());
      // The PET is the same for every function: the per-lane pow runs with
      // the functions that take exp, and G.
      const bool perLaneToo = function == 1 || (function >= 3 && function <= 6);
      for (const Levels& run : runs) {
        const bool batch = &run == &runs.front();
        if (!batch && run.level == runs.front().level && run.exp == runs.front().exp && run.pow == runs.front().pow)
          continue;
        if (!batch && !perLaneToo && run.exp == ExpMode::PerLane) continue;
        RecordEngine engine(params);
        std::fill(got.begin(), got.end(), RecordResult{});
        CarriedState carried{12.5, 3.0, true};
        if (batch)
          engine.computeBatch(in, got, carried, after);
        else
          lanes::computeIndependent(engine, run.level, run.exp, run.pow, in, got, carried);
        int differ = 0;
        for (std::size_t i = 0; i < in.size(); ++i)
          if (!sameBits(want[i], got[i]) && ++differ <= 3) ADD_FAILURE() << "record " << i;
        EXPECT_EQ(differ, 0) << "function " << function << " carry-over " << carryover << " "
                             << lanes::simdLevelName(run.level) << " exp " << static_cast<int>(run.exp) << " pow "
                             << static_cast<int>(run.pow);
        auto sameState = [](const CarriedState& a, const CarriedState& b) {
          return std::bit_cast<std::uint64_t>(a.soil) == std::bit_cast<std::uint64_t>(b.soil) &&
                 std::bit_cast<std::uint64_t>(a.snow) == std::bit_cast<std::uint64_t>(b.snow) && a.yearOne == b.yearOne;
        };
        EXPECT_TRUE(sameState(carried, wantCarried));
        if (batch) {
          int afterDiffer = 0;
          for (std::size_t i = 0; i < in.size(); ++i) afterDiffer += sameState(after[i], wantAfter[i]) ? 0 : 1;
          EXPECT_EQ(afterDiffer, 0) << "the state after each record";
        }
      }
    }
  }
}

// Function A spun up to the pass limit (no early end), in batches smaller
// than the lanes and larger.
TEST(LaneEngine, SameBitsAtThePassLimitAndForSmallBatches) {
  const std::vector<RecordInput> in = randomRecords(64, 7);
  ModelParams params;
  params.function = AvailabilityFunction::A;
  params.exhaustiveSpinUp = true;
  RecordEngine scalar(params);
  std::vector<RecordResult> want(in.size());
  CarriedState wantCarried;
  for (std::size_t i = 0; i < in.size(); ++i) scalar.compute(in[i], wantCarried, want[i]);
  int atLimit = 0;
  for (const RecordResult& r : want) atLimit += r.reason == NullReason::NoSteadyState ? 1 : 0;
  EXPECT_GT(atLimit, 5);
  for (const std::size_t batch : {std::size_t{1}, std::size_t{5}, in.size()}) {
    for (const Levels& run : levelsToCompare()) {
      RecordEngine engine(params);
      std::vector<RecordResult> got(in.size());
      for (std::size_t start = 0; start < in.size(); start += batch) {
        const std::size_t n = std::min(batch, in.size() - start);
        CarriedState carried;
        lanes::computeIndependent(engine, run.level, run.exp, run.pow, {in.data() + start, n}, {got.data() + start, n},
                                  carried);
      }
      for (std::size_t i = 0; i < in.size(); ++i) EXPECT_TRUE(sameBits(want[i], got[i])) << i << " batch " << batch;
    }
  }
}

// The vector copy of pow gives std::pow's bits on millions of pairs: the
// PET's own arguments (the heat index's T/5 and 1.514, the exponent's powers
// of the heat index, the months' 10T/I and a), x near 1, x over every
// binade with |y log x| up to about 800, and raw bit patterns.
TEST(LaneEngine, VectorPowIsTheLibrarys) {
#ifdef __OPTIMIZE__
  constexpr std::size_t kPairs = 1 << 20;
#else
  constexpr std::size_t kPairs = 1 << 14;
#endif
  std::mt19937_64 g(1514);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  auto bits = [&] {
    const std::uint64_t b = g();
    double d;
    std::memcpy(&d, &b, sizeof d);
    return d;
  };
  auto exponent = [](double heat) {
    return ((6.75e-07 * std::pow(heat, 3.0) - 7.71e-05 * std::pow(heat, 2.0)) + 0.0179 * heat) + 0.49;
  };
  const std::function<void(double&, double&)> kinds[] = {
      [&](double& x, double& y) { x = std::round(700.0 * u(g)) / 10.0 / 5.0, y = 1.514; },
      [&](double& x, double& y) { x = 70.0 * u(g) / 5.0, y = 1.514; },
      [&](double& x, double& y) { x = 600.0 * u(g), y = u(g) < 0.5 ? 2.0 : 3.0; },
      [&](double& x, double& y) {
        const double heat = 300.0 * u(g);
        x = (10.0 * (26.5 * u(g))) / heat, y = exponent(heat);
      },
      [&](double& x, double& y) { x = 1.0 + (u(g) - 0.5) * 0x1p-30, y = (u(g) - 0.5) * 1e9; },
      [&](double& x, double& y) {
        const int e = static_cast<int>(2046.0 * u(g)) - 1022;
        x = std::ldexp(1.0 + u(g), e), y = (u(g) - 0.5) * 1600.0 / (std::abs(e) + 1);
      },
      [&](double& x, double& y) { x = std::abs(bits()), y = bits(); },
      [&](double& x, double& y) { x = bits(), y = std::round(8.0 * (u(g) - 0.5)); },
  };
#if !defined(__GLIBC__) || (__GLIBC__ == 2 && __GLIBC_MINOR__ < 28)
  GTEST_SKIP() << "the copy is of glibc's pow";
#endif
  if (!__builtin_cpu_supports("fma")) GTEST_SKIP() << "the copy is of glibc's pow with FMA";
  std::vector<double> x(kPairs), y(kPairs), got(kPairs);
  for (SimdLevel level : {SimdLevel::Avx2, SimdLevel::Avx512}) {
    if (!lanes::simdLevelSupported(level)) continue;
    for (std::size_t k = 0; k < std::size(kinds); ++k) {
      for (std::size_t i = 0; i < kPairs; ++i) kinds[k](x[i], y[i]);
      ASSERT_TRUE(lanes::vectorPow(level, x.data(), y.data(), got.data(), kPairs - 3));  // a short last vector
      int differ = 0;
      for (std::size_t i = 0; i + 3 < kPairs; ++i) {
        const double want = std::pow(x[i], y[i]);
        if (std::bit_cast<std::uint64_t>(want) != std::bit_cast<std::uint64_t>(got[i]) && ++differ <= 3)
          ADD_FAILURE() << std::hexfloat << "pow(" << x[i] << ", " << y[i] << ") = " << want << ", not " << got[i];
      }
      EXPECT_EQ(differ, 0) << lanes::simdLevelName(level) << " kind " << k;
    }
  }
}

// The start-up checks: the copies of exp and pow match glibc's on a CPU
// with FMA, and VADOSET_SIMD_EXP=fail or VADOSET_SIMD_POW=fail forces the
// per-lane fallback; VADOSET_SIMD chooses a level the CPU has.
TEST(LaneEngine, StartUpChoices) {
  for (SimdLevel level : {SimdLevel::Avx2, SimdLevel::Avx512}) {
    if (!lanes::simdLevelSupported(level)) continue;
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 28)
    if (__builtin_cpu_supports("fma")) {
      EXPECT_TRUE(lanes::vectorExpMatchesStd(level));
      EXPECT_TRUE(lanes::vectorPowMatchesStd(level));
    }
#endif
    ::setenv("VADOSET_SIMD_EXP", "fail", 1);
    ::setenv("VADOSET_SIMD_POW", "fail", 1);
    EXPECT_EQ(lanes::chooseExpMode(level), ExpMode::PerLane);
    EXPECT_EQ(lanes::choosePowMode(level), PowMode::PerLane);
    ::unsetenv("VADOSET_SIMD_EXP");
    ::unsetenv("VADOSET_SIMD_POW");
    EXPECT_EQ(lanes::chooseExpMode(level) == ExpMode::Vector, lanes::vectorExpMatchesStd(level));
    EXPECT_EQ(lanes::choosePowMode(level) == PowMode::Vector, lanes::vectorPowMatchesStd(level));
  }
  const struct {
    const char* env;
    SimdLevel level;
  } cases[] = {{"scalar", SimdLevel::Scalar}, {"avx2", SimdLevel::Avx2}, {"avx512", SimdLevel::Avx512}};
  for (const auto& c : cases) {
    ::setenv("VADOSET_SIMD", c.env, 1);
    const SimdLevel got = lanes::chooseSimdLevel();
    EXPECT_TRUE(lanes::simdLevelSupported(got));
    if (lanes::simdLevelSupported(c.level)) {
      EXPECT_EQ(got, c.level) << c.env;
    }
  }
  ::unsetenv("VADOSET_SIMD");
}

}  // namespace
}  // namespace vadoset
