#include "model/climate_bounds.h"

#include <cmath>
#include <cstddef>
#include <limits>

namespace vadoset::climate {

namespace {

struct Point {
  double x, y;
};

// Straight between the points, level beyond the ends.
template <std::size_t N>
double between(const Point (&p)[N], double x) {
  if (x <= p[0].x) return p[0].y;
  for (std::size_t i = 1; i < N; ++i)
    if (x <= p[i].x) return p[i - 1].y + (p[i].y - p[i - 1].y) * (x - p[i - 1].x) / (p[i].x - p[i - 1].x);
  return p[N - 1].y;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Twelve values in another scale, as °C.
Temperatures converted(const double* months, double scale, double offset) {
  double c[12];
  for (int m = 0; m < 12; ++m) c[m] = (months[m] - offset) * scale;
  return summarize(c);
}

}  // namespace

double warmestMonthMax(double absLatitude) {
  // The warmest monthly normals known: Death Valley (36.5° N) and Kuwait
  // (29° N) 39 °C, Turpan (42.9° N) 33 °C, the lower Volga (48° N) 26 °C,
  // Yakutsk (62° N) 19.5 °C, Verkhoyansk (67.5° N) and Norilsk (69° N)
  // 15.5 °C, Svalbard and Eureka (78-80° N) 6 °C; each plus 10 °C.
  static constexpr Point kWarmest[] = {{40, 49.5}, {43, 43}, {50, 36}, {60, 31}, {70, 26}, {80, 17}, {90, 12}};
  return between(kWarmest, std::fabs(absLatitude));
}

double seasonalRangeMax(double absLatitude) {
  // The largest seasonal ranges known: under 5 °C at the equator, Timbuktu
  // (16.7° N) 13 °C, Kuwait (29° N) 26 °C, Turpan (42.9° N) 40 °C, Harbin
  // (45.8° N) 41 °C, Ulan-Ude (52° N) 44 °C, Yakutsk (62° N) 58 °C,
  // Verkhoyansk (67.5° N) and Oymyakon (63° N) 61 °C; each plus 12 °C.
  static constexpr Point kRange[] = {{0, 17},  {15, 25}, {25, 34}, {30, 38}, {40, 50},
                                     {45, 54}, {50, 57}, {55, 62}, {60, 70}, {65, 74}};
  return between(kRange, std::fabs(absLatitude));
}

Temperatures summarize(const double* months) {
  Temperatures t;
  double sum = 0.0, warmest = -std::numeric_limits<double>::infinity();
  double coldest = std::numeric_limits<double>::infinity();
  for (int m = 0; m < 12; ++m) {
    const double v = months[m];
    if (!std::isfinite(v)) return Temperatures{false, kNaN, kNaN, kNaN, kNaN, kNaN};
    sum += v;
    warmest = v > warmest ? v : warmest;
    coldest = v < coldest ? v : coldest;
  }
  t.complete = true;
  t.mean = sum / 12.0;
  t.warmest = warmest;
  t.coldest = coldest;
  t.decToFeb = (months[11] + months[0] + months[1]) / 3.0;
  t.junToAug = (months[5] + months[6] + months[7]) / 3.0;
  return t;
}

bool plausibleCelsius(const Temperatures& t, double latitude) {
  if (!t.complete) return false;
  // Without a latitude, the bounds of the latitude where they are widest.
  const double warmest = std::isnan(latitude) ? warmestMonthMax(0.0) : warmestMonthMax(latitude);
  const double range = std::isnan(latitude) ? seasonalRangeMax(90.0) : seasonalRangeMax(latitude);
  return t.mean <= kAnnualMeanMax && t.mean >= kAnnualMeanMin && t.coldest >= kColdestMonthMin &&
         t.warmest <= warmest && t.warmest - t.coldest <= range;
}

ScaleFit scaleFit(const double* months, double latitude) {
  return scaleFit(months, summarize(months), latitude);
}

ScaleFit scaleFit(const double* months, const Temperatures& c, double latitude) {
  ScaleFit f;
  if (!c.complete || plausibleCelsius(c, latitude)) return f;
  f.celsius = false;
  // One wrong month (a typing error) is no other scale: with the month that
  // stands out most from its neighbours replaced by their mean, such a
  // record is plausible in °C.
  double mended[12];
  int worst = 0;
  double worstGap = -1.0;
  for (int m = 0; m < 12; ++m) {
    mended[m] = months[m];
    const double gap = std::fabs(months[m] - (months[(m + 11) % 12] + months[(m + 1) % 12]) / 2.0);
    if (gap > worstGap) {
      worstGap = gap;
      worst = m;
    }
  }
  mended[worst] = (months[(worst + 11) % 12] + months[(worst + 1) % 12]) / 2.0;
  if (plausibleCelsius(summarize(mended), latitude)) return f;
  f.kelvin = plausibleCelsius(converted(months, 1.0, 273.15), latitude);
  f.fahrenheit = plausibleCelsius(converted(months, 1.0 / 1.8, 32.0), latitude);
  f.tenths = plausibleCelsius(converted(months, 0.1, 0.0), latitude);
  return f;
}

Seasons seasonsFor(const Temperatures& t, double latitude) {
  if (!t.complete || !(std::fabs(latitude) >= kTropics)) return Seasons::NotTold;
  const double winterWarmerBy = latitude > 0 ? t.decToFeb - t.junToAug : t.junToAug - t.decToFeb;
  return winterWarmerBy >= kSeasonMargin ? Seasons::Reversed : Seasons::Fit;
}

bool looksLikeTemperatures(const Temperatures& v, double latitude) {
  if (!v.complete || !(std::fabs(latitude) >= kTropics)) return false;
  const double summerWarmerBy = latitude > 0 ? v.junToAug - v.decToFeb : v.decToFeb - v.junToAug;
  return summerWarmerBy >= 5.0 && plausibleCelsius(v, latitude);
}

double wetYearMax(double annualMeanTemperature) {
  // The wettest stations of cold climates: Mount Washington (-2 °C,
  // 2,600 mm), Säntis (-1 °C, 2,800 mm); of cool ones Ketchikan (7 °C,
  // 3,900 mm). Wetter still are only a few places (Milford Sound,
  // Cherrapunji, the Chocó), never the bulk of a file.
  static constexpr Point kWet[] = {{-15, 1200}, {0, 3000}, {10, 4500}};
  return between(kWet, annualMeanTemperature);
}

PrecipitationFit precipitationFit(double annualTotal, double annualMeanTemperature) {
  if (!std::isfinite(annualTotal) || !std::isfinite(annualMeanTemperature)) return PrecipitationFit::Fits;
  if (annualTotal > wetYearMax(annualMeanTemperature)) return PrecipitationFit::TooHigh;
  if (annualTotal < kDryYearMin && annualMeanTemperature >= kDryColdest && annualMeanTemperature < kDryWarmest)
    return PrecipitationFit::TooLow;
  return PrecipitationFit::Fits;
}

}  // namespace vadoset::climate
