#pragma once

namespace vadoset::climate {

/// Bounds of the Earth's climates, from published station normals, that tell
/// a file in the wrong units or with a wrong latitude from a real climate.
/// Each holds for every station normal we know, with a margin for single
/// years, so that no real record crosses one. The README's "What a run tells
/// you" lists them with their sources.

/// The highest annual mean temperature on record is Dallol's 34.6 °C
/// (1960-1966); the lowest of a station, Vostok's -55 °C.
inline constexpr double kAnnualMeanMax = 36.0;
inline constexpr double kAnnualMeanMin = -60.0;
/// No monthly mean on Earth lies below -80 °C (Vostok's coldest month: -68 °C).
inline constexpr double kColdestMonthMin = -80.0;
/// Beyond the tropics the summer is the warmer half-year everywhere: even on
/// oceanic islands (Campbell Island, Easter Island, the Canaries) it is at
/// least 4 °C warmer, so a winter warmer by this much is the other hemisphere.
inline constexpr double kTropics = 23.5;
inline constexpr double kSeasonMargin = 2.0;

/// The warmest monthly mean a place at this latitude (degrees, either sign)
/// can have: the highest known, 10 °C higher for single years.
double warmestMonthMax(double absLatitude);
/// The largest difference between the warmest and the coldest monthly mean
/// at this latitude: the largest known, 12 °C more for single years.
double seasonalRangeMax(double absLatitude);

/// Twelve monthly mean temperatures, summed up. All false or NaN when a
/// month is missing.
struct Temperatures {
  bool complete = false;
  double mean = 0.0, warmest = 0.0, coldest = 0.0;
  double decToFeb = 0.0, junToAug = 0.0;  // the means of the two solstice seasons
};
Temperatures summarize(const double* months);

/// Whether twelve monthly means in °C are a climate the Earth has at this
/// latitude; a NaN latitude stands for any latitude.
bool plausibleCelsius(const Temperatures& t, double latitude);

/// Which scales twelve monthly means fit: °C when they are a climate of the
/// Earth at that latitude; otherwise whether they are one once read as
/// kelvins, degrees Fahrenheit or tenths of a degree. None fits a record of
/// precipitation totals of a wet place (swapped files), say, nor a record
/// that one wrong month alone makes implausible.
struct ScaleFit {
  bool celsius = true;
  bool kelvin = false, fahrenheit = false, tenths = false;
};
ScaleFit scaleFit(const double* months, double latitude);
/// The same, from the months' summary when it is at hand.
ScaleFit scaleFit(const double* months, const Temperatures& summary, double latitude);

/// Whether the warm season of a record beyond the tropics fits the sign of
/// its latitude: Reversed when its December to February is warmer than June
/// to August by kSeasonMargin north of the tropics, or the other way south.
enum class Seasons { Fit, Reversed, NotTold };
Seasons seasonsFor(const Temperatures& t, double latitude);

/// Whether twelve values that should be precipitation totals look like
/// monthly mean temperatures instead (swapped files): beyond the tropics,
/// plausible as °C, with a summer at least 5 °C warmer than the winter of
/// the latitude's hemisphere, as no precipitation regime gives in mm.
bool looksLikeTemperatures(const Temperatures& values, double latitude);

/// The most precipitation a year gets at an annual mean temperature, for the
/// bulk of a file: more than all but the few wettest places on Earth
/// (1,200 mm at -15 °C and below, 3,000 mm at 0 °C, 4,500 mm from 10 °C up,
/// straight between).
double wetYearMax(double annualMeanTemperature);
/// Less precipitation than 100 mm a year, at annual means from -10 to 16 °C,
/// is a desert's; below -10 °C the polar deserts and from 16 °C up the hot
/// deserts get as little, so there it tells nothing.
inline constexpr double kDryYearMin = 100.0;
inline constexpr double kDryColdest = -10.0;
inline constexpr double kDryWarmest = 16.0;

/// Whether a year's precipitation fits its annual mean temperature, or is
/// too low or too high for anything but the rarest climates.
enum class PrecipitationFit { Fits, TooLow, TooHigh };
PrecipitationFit precipitationFit(double annualTotal, double annualMeanTemperature);

}  // namespace vadoset::climate
