// The record engine on the cases that the cross-check's random climates meet
// rarely or never: the curves' corners, polar days, years without warmth,
// snow that never melts, the pass limit, and the carried state. The
// arithmetic as a whole is checked bit for bit against the independent
// reference calculation (tests/reference).
#include "model/engine.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "model/beta.h"
#include "model/values.h"
#include "platform/text.h"

namespace vadoset {
namespace {

using AF = AvailabilityFunction;
constexpr AF A = AF::A, B = AF::B, C = AF::C, D = AF::D, E = AF::E, F = AF::F, G = AF::G, H = AF::H;
// No front end can name another function; the engine draws nothing for one.
constexpr AF kUnknown = static_cast<AF>(8);

TEST(BetaFunction, CornersKneesAndOutsiders) {
  volatile double x035 = 0.35, x02 = 0.2;  // divisions, not products with 1/c
  const struct {
    double x;
    std::vector<AF> variants;
    double expected;
  } cases[] = {
      {0.0, {A}, 1.0},
      {0.0, {B, C, D, E, F, G, H}, 0.0},  // D to F: both exponentials are exp(-a) and cancel
      {1.0, {A, C, D, E, F, G, H}, 1.0},
      {1.0, {B}, 1.0 - std::exp(-6.68)},
      {0.7, {D}, 1.0 - std::exp(-5.0)},  // the exponential curves stop just below one at their knee
      {0.5, {E}, 1.0 - std::exp(-4.0)},
      {0.3, {F}, 1.0 - std::exp(-3.0)},
      {0.35, {D}, std::exp(-2.5) - std::exp(-5.0)},
      {0.7, {G}, 1.0},
      {0.5, {H}, 1.0},
      {0.35, {G}, x035 / 0.7},
      {0.2, {H}, x02 / 0.5},
      {1.5, {C}, 1.5},
      {1.5, {D, E, F, G, H}, 1.0},
      {-0.2, {A}, 1.0},
      {0.5, {kUnknown, static_cast<AF>(100), static_cast<AF>(255)}, 0.0},  // an unknown curve draws nothing
      {NAN, {A}, 1.0},
  };
  for (const auto& c : cases)
    for (AF v : c.variants) EXPECT_EQ(Beta_function(c.x, v), c.expected) << "x " << c.x << ", curve " << int(v);
  for (AF v : {B, C, D, E, F, G, H}) {
    EXPECT_LT(Beta_function(-0.2, v), 0.0) << int(v);  // no floor below a dry soil
    EXPECT_TRUE(std::isnan(Beta_function(NAN, v))) << int(v);
  }
  // The cap takes over just above the knee: c * (1 + ln(1 + exp(-a)) / a).
  const double capD = 0.7 * (1.0 + std::log1p(std::exp(-5.0)) / 5.0);
  EXPECT_LT(Beta_function(capD * (1 - 1e-9), D), 1.0);
  EXPECT_EQ(Beta_function(capD * (1 + 1e-9), D), 1.0);
}

RecordInput year(double latitude, double t, double ppt, double fc = 100.0) {
  RecordInput in;
  in.latitude = latitude;
  in.tmean.fill(t);
  in.ppt.fill(ppt);
  in.fieldCapacity = fc;
  return in;
}

MonthValues petOf(const RecordInput& in) {
  RecordResult r;
  RecordEngine().Run_pet(in, r);
  return r.pet;
}

TEST(Pet, EdgesOfTheFormula) {
  // A heat index for which pow(I, 2.0) and I * I differ in the last bit: the
  // library's pow is used for the square, as the reference does.
  RecordInput powCase = year(-17.59, 0.0, 0.0);
  powCase.tmean = {25.6, 27.662, 17.20, 17.600, 18.8, 14.74, 13.366, 15.7, 16.055, 17.93, 20.5, 23.025};
  EXPECT_EQ(Str(petOf(powCase)[0]), "139.56522760022867");

  const MonthValues equator = petOf(year(0.0, 10.0, 0.0));
  const MonthValues polar = petOf(year(80.0, 10.0, 0.0));
  EXPECT_EQ(polar[5], equator[5] * 2.0);  // June: 24 hours of daylight
  EXPECT_EQ(polar[11], 0.0);              // polar night
  for (double v : petOf(year(90.0, 10.0, 0.0))) EXPECT_FALSE(std::isnan(v));

  RecordInput noWarmth = year(70.0, -10.0, 0.0);  // no heat index: no 0/0, no PET
  noWarmth.tmean[6] = 0.0;
  for (double v : petOf(noWarmth)) EXPECT_EQ(v, 0.0);

  RecordInput cold = year(45.0, 15.0, 0.0), colder = cold;  // frozen months add nothing
  cold.tmean[0] = -4.0, cold.tmean[11] = 0.0;
  colder.tmean[0] = -30.0, colder.tmean[11] = -0.5;
  const MonthValues a = petOf(cold), b = petOf(colder);
  EXPECT_EQ(a[0], 0.0);
  EXPECT_EQ(a[11], 0.0);
  for (int m = 1; m <= 10; ++m) EXPECT_EQ(a[m], b[m]) << m;
  EXPECT_EQ(petOf(year(0.0, 26.5, 0.0))[3], (-415.85 + 32.24 * 26.5) - (0.43 * 26.5) * 26.5);

  // Above about 58.4 °C the hot-month formula falls below zero: such a
  // record is null, naming the month, and every month it computes has PET of
  // zero or more.
  const std::pair<double, NullReason> hot[] = {{58.42, NullReason::None},
                                               {58.43, NullReason::TemperatureOutOfRange},
                                               {1e10, NullReason::TemperatureOutOfRange},
                                               {-1e10, NullReason::None}};
  for (const auto& [t, reason] : hot) {
    RecordInput in = year(30.0, 20.0, 50.0);
    in.tmean[6] = t;
    std::int8_t month = 0;
    EXPECT_EQ(checkRecord(in, month), reason) << t;
    EXPECT_EQ(month, reason == NullReason::None ? 0 : 7) << t;
    if (reason == NullReason::None) {
      EXPECT_GE(petOf(in)[6], 0.0) << t;
    }
  }
}

bool sameBits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// A record's months through values::months, two at a time, give what the
// rules one month at a time give: the readers' markers, numbers at the edges
// of a 32-bit whole number, infinities, and random bit patterns.
TEST(Values, MonthsAtOnceAsOneAtATime) {
  const double inf = std::numeric_limits<double>::infinity();
  const double big = std::numeric_limits<double>::max();
  const double edges[] = {NAN,          -NAN,          inf,           -inf,   -9999.0,  9999.0, 9999.7, -9999.5,
                          9998.99,      -0.0,          -0.4,          0.4,    12.99999, 3e9,    -3e9,   2147483647.9,
                          2147483648.0, -2147483648.9, -2147483649.0, 1e-310, big,      -big,   26.5,   -1.0};
  std::mt19937_64 g(12);
  for (int round = 0; round < 20000; ++round) {
    double t[12], p[12];
    for (int m = 0; m < 12; ++m) {
      const std::uint64_t b = g();
      const double random = std::bit_cast<double>(b);
      const double wide = static_cast<double>(static_cast<std::int64_t>(b) >> 31) + 0.25 * static_cast<double>(b & 7);
      t[m] = round < 40 ? edges[(round + m) % std::size(edges)] : (b & 8) != 0 ? random : wide / 4096.0;
      p[m] = round < 40 ? edges[(round * 7 + m) % std::size(edges)] : (b & 16) != 0 ? random : wide;
    }
    for (const bool keep : {false, true}) {
      MonthValues tmean, ppt;
      values::months(t, p, keep, tmean.data(), ppt.data());
      for (int m = 0; m < 12; ++m) {
        ASSERT_TRUE(sameBits(tmean[m], values::temperature(t[m]))) << t[m];
        ASSERT_TRUE(sameBits(ppt[m], values::precipitation(p[m], keep))) << p[m] << " keep " << keep;
      }
    }
  }
}

// One engine asked for many latitudes, each several times, in an order that
// makes them share the engine's slots: each answer is a new engine's.
TEST(Pet, DayLengthsOfManyLatitudes) {
  RecordEngine engine;
  std::uint64_t z = 1;
  for (int i = 0; i < 5000; ++i) {
    z = z * 6364136223846793005ULL + 1442695040888963407ULL;
    const double latitude = -90.0 + static_cast<double>((z >> 33) % 1201) * 0.15;
    const MonthValues got = engine.dayLengths(latitude), want = RecordEngine().dayLengths(latitude);
    for (int m = 0; m < kMonths; ++m) EXPECT_TRUE(sameBits(got[m], want[m])) << latitude << " month " << m;
  }
}

struct Outcome {
  RecordResult r;
  CarriedState after;
};

Outcome compute(const RecordInput& in, AF function, bool carryover, CarriedState before, double pet = -1.0,
                DayTrace* trace = nullptr) {
  ModelParams p;
  p.function = function;
  p.carryover = carryover;
  RecordEngine engine(p);
  Outcome o{{}, before};
  if (pet < 0.0) {
    engine.compute(in, o.after, o.r, trace);
  } else {
    o.r.pet.fill(pet);
    engine.Run_model(in, o.after, o.r, trace);
  }
  return o;
}

TEST(SoilWater, SpinUpAndItsEnds) {
  const CarriedState fresh{42.0, 7.0, true};
  const struct {
    const char* what;
    RecordInput in;
    AF function;
    bool carryover;
    double pet;
    NullReason reason;
    int passes;
  } cases[] = {
      {"a wet year settles after two passes", year(45, 25, 300), G, false, 100, NullReason::None, 2},
      {"a growing snowpack ends after three passes", year(45, -10, 50), G, true, 0, NullReason::PerennialSnow, 3},
      {"a drying soil under curve A never settles", year(45, 20, 10), A, false, 100, NullReason::NeverSettles, 1},
      {"an unknown curve draws nothing", year(45, 20, 31), kUnknown, false, 62, NullReason::None, 2},
  };
  for (const auto& c : cases) {
    const Outcome o = compute(c.in, c.function, c.carryover, fresh, c.pet);
    EXPECT_EQ(o.r.reason, c.reason) << c.what;
    EXPECT_EQ(o.r.passes, c.passes) << c.what;
    EXPECT_FALSE(o.after.yearOne) << c.what;
    // Without carry-over, and for a null record, the carried state stays.
    if (!c.carryover || o.r.isNull()) {
      EXPECT_TRUE(o.after.soil == 42.0 && o.after.snow == 7.0) << c.what;
    }
  }
  // Without the early end curve A runs to the pass limit, with the same result.
  ModelParams exhaustive{A, false, true};
  RecordEngine engine(exhaustive);
  CarriedState state;
  RecordResult r;
  r.pet.fill(100.0);
  engine.Run_model(year(45, 20, 10), state, r);
  EXPECT_EQ(r.reason, NullReason::NoSteadyState);
  EXPECT_EQ(r.passes, kPassLimit);
  EXPECT_LT(r.soil[11], 0.0);  // nothing bounds the soil water below
}

TEST(SoilWater, SnowMeltAndCarryOver) {
  DayTrace t;
  // One pass from a carried state: cold months store their precipitation as snow.
  RecordInput snowy = year(45, -1.5, 62);
  snowy.tmean[1] = -1.0;  // exactly -1: rain, and below 0: no melt
  Outcome o = compute(snowy, G, true, {50.0, 0.0, false}, 0.0, &t);
  EXPECT_EQ(o.r.passes, 1);
  EXPECT_NEAR(t.snow[31], 62.0, 1e-12);
  EXPECT_EQ(t.soil[31], 50.0);
  EXPECT_EQ(t.snow[59], t.snow[31]);  // February's rain leaves the pack alone
  EXPECT_EQ(t.soil[59], 100.0);
  EXPECT_NEAR(o.r.surplus[1], 50.0 + 62.0 - 100.0, 1e-9);
  EXPECT_EQ(o.r.snow[0], t.snow[31]);
  EXPECT_EQ(o.r.soil[1], t.soil[59]);

  // 10 °C with 2 mm of rain a day melts a deep pack at the documented rate.
  o = compute(year(45, 10, 62), G, true, {100.0, 5000.0, false}, 31.0, &t);
  const double rate = (2.63 + 2.55 * 10.0) + (0.0912 * 10.0) * 2.0;
  EXPECT_NEAR(t.snow[31], 5000.0 - 31 * rate, 1e-9);
  EXPECT_NEAR(o.r.surplus[0], 31 * (rate + 2.0 - 1.0), 1e-9);

  // A pack that runs out stops melting for the rest of the month.
  o = compute(year(45, 5, 0), G, true, {100.0, 10.0, false}, 0.0, &t);
  EXPECT_EQ(t.snow[1], 0.0);
  EXPECT_EQ(o.r.surplus[0], 10.0);
  EXPECT_EQ(o.after.snow, 0.0);

  // The first record of a carried run spins up from the carried soil water,
  // later ones take one pass from where the one before ended.
  o = compute(year(45, 15, 40), G, true, {100.0, 0.0, true}, 90.0, &t);
  EXPECT_GE(o.r.passes, 2);
  EXPECT_EQ(o.after.soil, t.soil[365]);
  const Outcome wetter = compute(year(45, 15, 150), G, true, o.after, 90.0, &t);
  EXPECT_EQ(wetter.r.passes, 1);
  EXPECT_EQ(t.soil[0], o.after.soil);
  EXPECT_GT(wetter.after.soil, o.after.soil);
  const Outcome drying = compute(year(45, 20, 10), A, true, {30.0, 0.0, true}, 100.0, &t);
  EXPECT_EQ(t.soil[0], 30.0);
  EXPECT_TRUE(drying.r.isNull());
}

}  // namespace
}  // namespace vadoset
