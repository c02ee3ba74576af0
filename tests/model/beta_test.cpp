#include <gtest/gtest.h>

#include <cmath>

#include "model/model.h"

namespace vadoset {
namespace {

constexpr int A = 0, B = 1, C = 2, D = 3, E = 4, F = 5, G = 6, H = 7;

TEST(BetaFunction, DrySoilGivesNothingButCurveA) {
  EXPECT_EQ(Beta_function(0.0, A), 1.0);
  // For D to F both exponentials are exp(-a) and cancel exactly.
  for (int v = B; v <= H; ++v) EXPECT_EQ(Beta_function(0.0, v), 0.0) << v;
}

TEST(BetaFunction, FullSoil) {
  EXPECT_EQ(Beta_function(1.0, A), 1.0);
  EXPECT_EQ(Beta_function(1.0, B), 1.0 - std::exp(-6.68));
  EXPECT_EQ(Beta_function(1.0, C), 1.0);
  for (int v = D; v <= H; ++v) EXPECT_EQ(Beta_function(1.0, v), 1.0) << v;
}

TEST(BetaFunction, ExponentialCurvesStopJustBelowOneAtTheirKnee) {
  EXPECT_EQ(Beta_function(0.7, D), 1.0 - std::exp(-5.0));
  EXPECT_EQ(Beta_function(0.5, E), 1.0 - std::exp(-4.0));
  EXPECT_EQ(Beta_function(0.3, F), 1.0 - std::exp(-3.0));
  EXPECT_LT(Beta_function(0.7, D), 1.0);
  // Half way up the knee.
  EXPECT_EQ(Beta_function(0.35, D), std::exp(-2.5) - std::exp(-5.0));
  EXPECT_EQ(Beta_function(0.25, E), std::exp(-2.0) - std::exp(-4.0));
  EXPECT_EQ(Beta_function(0.15, F), std::exp(-1.5) - std::exp(-3.0));
  // The cap takes over slightly above the knee: c * (1 + ln(1 + exp(-a)) / a).
  double capD = 0.7 * (1.0 + std::log1p(std::exp(-5.0)) / 5.0);
  EXPECT_LT(Beta_function(capD * (1 - 1e-9), D), 1.0);
  EXPECT_EQ(Beta_function(capD * (1 + 1e-9), D), 1.0);
}

TEST(BetaFunction, LinearRampsReachOneAtTheirKnee) {
  EXPECT_EQ(Beta_function(0.7, G), 1.0);
  EXPECT_EQ(Beta_function(0.5, H), 1.0);
  EXPECT_EQ(Beta_function(0.35, G), 0.35 / 0.7);  // a division, not a product with 1/0.7
  EXPECT_EQ(Beta_function(0.2, H), 0.2 / 0.5);
  EXPECT_EQ(Beta_function(0.42, C), 0.42);
}

TEST(BetaFunction, OutsideTheUsualRange) {
  EXPECT_EQ(Beta_function(1.5, C), 1.5);
  EXPECT_LT(Beta_function(1.5, B), 1.0);
  for (int v = D; v <= H; ++v) EXPECT_EQ(Beta_function(1.5, v), 1.0) << v;
  EXPECT_EQ(Beta_function(-0.2, A), 1.0);
  for (int v = B; v <= H; ++v) EXPECT_LT(Beta_function(-0.2, v), 0.0) << v;  // no floor
  EXPECT_EQ(Beta_function(NAN, A), 1.0);
  for (int v = B; v <= H; ++v) EXPECT_TRUE(std::isnan(Beta_function(NAN, v))) << v;
}

TEST(BetaFunction, UnknownVariantDrawsNothing) {
  for (int v : {-1, 8, 100})
    for (double x : {0.0, 0.5, 1.0}) EXPECT_EQ(Beta_function(x, v), 0.0);
}

TEST(BetaFunction, FollowsTheDocumentedRoundingOrder) {
  // B: p = -6.68 x; 1 - exp(p).   D: exp((-5) * (1 - x / 0.7)) - exp(-5).
  for (double x = 0.013; x < 1.2; x += 0.0371) {
    volatile double p = -6.68 * x;
    EXPECT_EQ(Beta_function(x, B), 1.0 - std::exp(p));
    volatile double q = x / 0.7;
    volatile double r = 1.0 - q;
    volatile double pd = -5.0 * r;
    double d = std::exp(pd) - std::exp(-5.0);
    EXPECT_EQ(Beta_function(x, D), d < 1.0 ? d : 1.0);
  }
}

}  // namespace
}  // namespace vadoset
