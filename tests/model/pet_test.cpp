#include <gtest/gtest.h>

#include <cmath>

#include "model/model.h"
#include "platform/text.h"
#include "run/driver.h"
#include "state/run_state.h"

namespace vadoset {
namespace {

RunState stateWith(double latitude, double allMonths) {
  RunState s;
  fillDaysPerMonth(s);
  s.latitude = latitude;
  for (int m = 1; m <= 12; ++m) s.tmean[m] = allMonths;
  return s;
}

TEST(RunPet, EquatorHasTwelveHourDays) {
  RunState s = stateWith(0.0, 20.0);
  Run_pet(s);
  const double I = 12 * std::pow(4.0, 1.514);
  const double a = ((6.75e-07 * std::pow(I, 3.0) - 7.71e-05 * std::pow(I, 2.0)) + 0.0179 * I) + 0.49;
  const double raw = 16.0 * std::pow(200.0 / I, a);
  // Only the month length adjusts: January 31/30, February 28/30.
  EXPECT_EQ(s.PET[1], (raw * (31.0 / 30.0)) * 1.0);
  EXPECT_EQ(s.PET[2], (raw * (28.0 / 30.0)) * 1.0);
  EXPECT_EQ(s.PET[4], raw);
  EXPECT_EQ(s.PET[0], 0.0);
}

TEST(RunPet, ExponentUsesTheLibraryPowForTheSquare) {
  // A heat index for which pow(I, 2.0) and I * I differ in the last bit.
  RunState s = stateWith(-17.59, 0.0);
  const double t[13] = {0, 25.6, 27.662, 17.20, 17.600, 18.8, 14.74, 13.366, 15.7, 16.055, 17.93, 20.5, 23.025};
  for (int m = 1; m <= 12; ++m) s.tmean[m] = t[m];
  Run_pet(s);
  volatile double two = 2.0;  // keeps the compiler from folding the library call
  double I = 0.0;
  for (int m = 1; m <= 12; ++m) I += std::pow(t[m] / 5.0, 1.514);
  ASSERT_NE(std::pow(I, two), I * I);
  EXPECT_EQ(Str(s.PET[1]), "139.56522760022867");  // from the independent reference
}

TEST(RunPet, HotMonthsUseTheQuadratic) {
  RunState s = stateWith(0.0, 30.0);
  Run_pet(s);
  EXPECT_EQ(s.PET[6], (-415.85 + 32.24 * 30.0) - (0.43 * 30.0) * 30.0);
  RunState edge = stateWith(0.0, 26.5);
  Run_pet(edge);
  EXPECT_EQ(edge.PET[4], (-415.85 + 32.24 * 26.5) - (0.43 * 26.5) * 26.5);
}

TEST(RunPet, FrozenMonthsGiveNothingAndAddNothingToTheHeatIndex) {
  RunState s = stateWith(45.0, 15.0);
  s.tmean[1] = -4.0;
  s.tmean[12] = 0.0;
  RunState warmOnly = stateWith(45.0, 15.0);  // the cold months should not count
  warmOnly.tmean[1] = -30.0;
  warmOnly.tmean[12] = -0.5;
  Run_pet(s);
  Run_pet(warmOnly);
  EXPECT_EQ(s.PET[1], 0.0);
  EXPECT_EQ(s.PET[12], 0.0);  // 0 °C takes the power law and gives 0
  for (int m = 2; m <= 11; ++m) EXPECT_EQ(s.PET[m], warmOnly.PET[m]) << m;
}

TEST(RunPet, NoHeatIndexMeansNoPet) {
  // A year with no month above 0 °C: no 0/0, every month 0.
  RunState s = stateWith(70.0, -10.0);
  s.tmean[7] = 0.0;
  Run_pet(s);
  for (int m = 1; m <= 12; ++m) EXPECT_EQ(s.PET[m], 0.0) << m;
}

TEST(RunPet, PolarDayAndNightAreClamped) {
  RunState s = stateWith(80.0, 10.0);
  RunState equator = stateWith(0.0, 10.0);
  Run_pet(s);
  Run_pet(equator);
  // June: 24 hours of daylight doubles the equator's twelve-hour value.
  EXPECT_EQ(s.PET[6], equator.PET[6] * 2.0);
  EXPECT_EQ(s.PET[12], 0.0);  // polar night: no daylight
  for (int m = 1; m <= 12; ++m) EXPECT_FALSE(std::isnan(s.PET[m])) << m;
  RunState pole = stateWith(90.0, 10.0);
  Run_pet(pole);
  for (int m = 1; m <= 12; ++m) EXPECT_FALSE(std::isnan(pole.PET[m])) << m;
}

TEST(RunPet, HcnTemperaturesAreTenthsOfADegree) {
  RunState hcn = stateWith(44.47, 215.0);
  hcn.settings.format = InputFormat::Hcn;
  hcn.tmean[1] = -53.0;
  RunState tab = stateWith(44.47, 21.5);
  tab.tmean[1] = -5.3;
  Run_pet(hcn);
  Run_pet(tab);
  EXPECT_EQ(hcn.tmean[2], 21.5);
  EXPECT_EQ(hcn.tmean[1], -5.3);
  for (int m = 1; m <= 12; ++m) EXPECT_EQ(hcn.PET[m], tab.PET[m]) << m;
}

}  // namespace
}  // namespace vadoset
