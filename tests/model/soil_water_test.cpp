#include <gtest/gtest.h>

#include <cmath>

#include "model/model.h"
#include "run/driver.h"
#include "state/run_state.h"
#include "test_support.h"

namespace vadoset {
namespace {

// A record with the same temperature, precipitation and PET in every month.
RunState uniformYear(double t, std::int32_t ppt, double pet, int beta = 6) {
  RunState s;
  fillDaysPerMonth(s);
  s.fc = 100;
  s.settings.beta = beta;
  s.year_one = true;
  for (int m = 1; m <= 12; ++m) {
    s.tmean[m] = t;
    s.ppt[m] = ppt;
    s.PET[m] = pet;
  }
  return s;
}

// Passes taken: the background task runs between passes, not after the last.
int passesOf(RunState& s) {
  test::ScriptedHost host;
  Run_model(s, &host);
  return host.backgroundCalls + 1;
}

TEST(SpinUp, AWetYearSettlesAfterTwoPasses) {
  RunState s = uniformYear(25.0, 300, 100.0);
  EXPECT_EQ(passesOf(s), 2);
  EXPECT_EQ(s.nullcell, 0);
  EXPECT_FALSE(s.year_one);
  for (int m = 1; m <= 12; ++m) {
    // Every day has water to spare: AET is the full PET, the rest runs off.
    EXPECT_NEAR(s.E[m], 100.0, 1e-9) << m;
    EXPECT_NEAR(s.Surplus[m], 200.0, 1e-9) << m;
  }
  // Without carry-over the carried state is not touched.
  EXPECT_EQ(s.current_w, 0.0);
}

TEST(SpinUp, GrowingSnowpackEndsAfterThreePassesAsNull) {
  RunState s = uniformYear(-10.0, 50, 0.0);
  s.carryover = true;
  s.current_w = 42.0;
  s.current_ws = 7.0;
  EXPECT_EQ(passesOf(s), 3);
  EXPECT_EQ(s.nullcell, 1);
  EXPECT_FALSE(s.year_one);
  EXPECT_EQ(s.current_w, 42.0);  // a null record leaves the carried state alone
  EXPECT_EQ(s.current_ws, 7.0);
}

TEST(SpinUp, ADryingSoilStopsAtThePassLimit) {
  // Curve A draws every shortfall in full: the soil loses water every pass.
  RunState s = uniformYear(20.0, 10, 100.0, 0);
  s.exhaustiveSpinUp = true;  // no early end: every pass up to the limit
  EXPECT_EQ(passesOf(s), 1002);
  EXPECT_EQ(s.nullcell, 1);
  EXPECT_FALSE(s.year_one);
  EXPECT_LT(s.w[365], 0.0);  // nothing bounds the soil water below
}

TEST(SpinUp, UnknownCurveDrawsNothingOnDeficitDays) {
  RunState s = uniformYear(20.0, 31, 62.0, 8);
  s.ppt[2] = 28;
  EXPECT_EQ(passesOf(s), 2);
  for (int m = 1; m <= 12; ++m) EXPECT_NEAR(s.E[m], static_cast<double>(s.ppt[m]), 1e-12) << m;
  EXPECT_EQ(s.w[365], 100.0);
}

// One pass from a carried state: carry-over on, first record already done.
RunState carriedYear(double t, std::int32_t ppt, double pet, double w0, double ws0) {
  RunState s = uniformYear(t, ppt, pet);
  s.carryover = true;
  s.year_one = false;
  s.current_w = w0;
  s.current_ws = ws0;
  return s;
}

TEST(Snow, ColdMonthsStoreTheirPrecipitationAsSnow) {
  RunState s = carriedYear(-1.5, 62, 0.0, 50.0, 0.0);
  s.tmean[2] = -1.0;  // exactly -1: rain, and below 0: no melt
  EXPECT_EQ(passesOf(s), 1);
  EXPECT_NEAR(s.ws[31], 62.0, 1e-12);  // January: 2 mm a day into the pack
  EXPECT_EQ(s.w[31], 50.0);
  EXPECT_EQ(s.E[1], 0.0);
  EXPECT_NEAR(s.ws[59], s.ws[31], 0);  // February rain leaves the pack alone
  EXPECT_EQ(s.w[59], 100.0);  // the soil fills to capacity and the rest runs off
  EXPECT_NEAR(s.Surplus[2], 50.0 + 62.0 - 100.0, 1e-9);
}

TEST(Snow, MeltRateGrowsWithTemperatureAndRain) {
  // 10 °C with 2 mm of rain a day on a deep pack and a full soil.
  RunState s = carriedYear(10.0, 62, 31.0, 100.0, 5000.0);
  Run_model(s);
  const double rate = (2.63 + 2.55 * 10.0) + (0.0912 * 10.0) * 2.0;
  EXPECT_NEAR(s.ws[31], 5000.0 - 31 * rate, 1e-9);
  // The soil is full, so melt and rain beyond the day's PET run off.
  EXPECT_NEAR(s.Surplus[1], 31 * (rate + 2.0 - 1.0), 1e-9);
  EXPECT_NEAR(s.E[1], 31.0, 1e-9);
}

TEST(Snow, APackThatRunsOutStopsMeltingForTheRestOfTheMonth) {
  RunState s = carriedYear(5.0, 0, 0.0, 100.0, 10.0);
  Run_model(s);
  EXPECT_EQ(s.ws[1], 0.0);  // the first day melts the whole 10 mm
  EXPECT_EQ(s.ws[31], 0.0);
  EXPECT_EQ(s.Surplus[1], 10.0);
  EXPECT_EQ(s.current_ws, 0.0);
}

TEST(CarryOver, LaterRecordsTakeOnePassFromTheCarriedState) {
  RunState s = uniformYear(15.0, 40, 90.0);
  s.carryover = true;
  s.current_w = 100.0;
  const int firstPasses = passesOf(s);
  EXPECT_GE(firstPasses, 2);
  EXPECT_FALSE(s.year_one);
  const double carried = s.current_w;
  EXPECT_EQ(carried, s.w[365]);

  for (int m = 1; m <= 12; ++m) s.ppt[m] = 150;  // a wetter second year
  EXPECT_EQ(passesOf(s), 1);
  EXPECT_EQ(s.w[0], carried);
  EXPECT_EQ(s.current_w, s.w[365]);
  EXPECT_GT(s.current_w, carried);
}

TEST(CarryOver, StartsFromCarriedStateEvenWhenSpunUp) {
  // The spun-up first record of a carried run starts from current_w, not fc:
  // with curve A the drying never settles, so the first pass shows the start.
  RunState s = uniformYear(20.0, 10, 100.0, 0);
  s.carryover = true;
  s.current_w = 30.0;
  test::ScriptedHost host;
  Run_model(s, &host);
  EXPECT_EQ(s.nullcell, 1);
  EXPECT_EQ(s.current_w, 30.0);
}

TEST(Hcn, PrecipitationIsConvertedFromTenthsInPlace) {
  RunState s = uniformYear(20.0, 254, 10.0);
  s.settings.format = InputFormat::Hcn;
  s.ppt[3] = -7;
  s.ppt[4] = 9;
  Run_model(s);
  EXPECT_EQ(s.ppt[1], 25);
  EXPECT_EQ(s.ppt[3], 0);  // -0.7 truncates toward zero
  EXPECT_EQ(s.ppt[4], 0);
}

}  // namespace
}  // namespace vadoset
