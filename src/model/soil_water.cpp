#include <cmath>

#include "model/model.h"
#include "platform/host.h"
#include "platform/text.h"
#include "run/run_state.h"

namespace vadoset {

namespace {

struct PassTotals {
  double melt = 0.0;
  double snowfall = 0.0;
};

// One pass over the 365-day year from w[0], ws[0]; fills w, ws, E, Surplus.
// `Variant` is the availability curve, or -1 for an index outside 0 to 7,
// which draws nothing on deficit days.
template <int Variant>
PassTotals onePass(RunState& s, double fc, const ExpConstants& k) {
  DayArray& w = s.w;
  DayArray& ws = s.ws;
  PassTotals year;
  int kday = 0;
  // Yesterday's soil water and snowpack stay in registers: reading them back
  // from the arrays would put a store-to-load round trip on the path from
  // one day to the next. The arrays still receive every day.
  double wPrev = w[0];
  double wsPrev = ws[0];
  for (int m = 1; m <= 12; ++m) {
    const double T = s.tmean[m];
    const int days = s.dm[m];
    const double daysD = static_cast<double>(days);
    double monthMelt = 0.0;
    double monthSnowfall = 0.0;
    double monthSurplus = 0.0;
    double snowPerDay;
    double rainPerDay;
    if (T < -1.0) {
      snowPerDay = static_cast<double>(s.ppt[m]) / daysD;
      rainPerDay = 0.0;
    } else {
      snowPerDay = 0.0;
      rainPerDay = static_cast<double>(s.ppt[m]) / daysD;
    }
    double meltRate;
    if (!(T < 0.0)) {
      const double a = 2.55 * T;
      const double b = 2.63 + a;
      const double c = 0.0912 * T;
      const double d = c * rainPerDay;
      meltRate = b + d;
    } else {
      meltRate = 0.0;
    }
    // The same share of the month's PET every day.
    const double petPerDay = s.PET[m] / daysD;
    const double wMonthStart = wPrev;
    for (int j = 1; j <= days; ++j) {
      ++kday;
      const double pack = wsPrev + snowPerDay;
      // Once the pack runs out the lowered rate holds for the rest of the month.
      if (pack < meltRate) meltRate = pack;
      wsPrev = pack - meltRate;
      ws[kday] = wsPrev;
      const double balance = (meltRate + rainPerDay) - petPerDay;
      double availability = 1.0;
      if (balance < 0.0) {
        if constexpr (Variant < 0)
          availability = 0.0;
        else
          availability = betaCurve<Variant>(wPrev / fc, k);
      }
      double wk = wPrev + availability * balance;
      double daySurplus = 0.0;
      if (fc < wk) {
        daySurplus = wk - fc;
        wk = fc;
      }
      w[kday] = wk;
      wPrev = wk;
      monthMelt = monthMelt + meltRate;
      monthSurplus = monthSurplus + daySurplus;
      monthSnowfall = monthSnowfall + snowPerDay;
    }
    double e = ((rainPerDay * daysD) + monthMelt) - (wPrev - wMonthStart) - monthSurplus;
    year.melt = year.melt + monthMelt;
    year.snowfall = year.snowfall + monthSnowfall;
    if (e < 1e-10) e = 0.0;
    s.E[m] = e;
    s.Surplus[m] = monthSurplus;
  }
  return year;
}

template <int Variant>
void runModel(RunState& s, Host* host) {
  const double fc = static_cast<double>(s.fc);
  const ExpConstants& k = expConstants();
  DayArray& w = s.w;
  DayArray& ws = s.ws;
  // Every day of a pass is written before it is read, so the arrays need no
  // clearing between records.
  w[0] = fc;
  ws[0] = 0.0;
  if (s.carryover) {
    w[0] = s.current_w;
    ws[0] = s.current_ws;
  }
  if (s.settings.format == 1) {
    // HCN files store tenths of a millimetre; whole millimetres are kept.
    for (int m = 1; m <= 12; ++m) s.ppt[m] = ToInt32(static_cast<double>(s.ppt[m]) / 10.0).value_or(0);
  }

  for (int pass = 0;; ++pass) {
    const PassTotals year = onePass<Variant>(s, fc, k);
    s.passes = pass + 1;
    if (s.year_one || !s.carryover) {
      if (pass > 0 && std::abs(w[365] - w[0]) < 1.0 && std::abs(ws[365] - ws[0]) < 1.0) {
        s.year_one = false;
        if (s.carryover) {
          s.current_w = w[365];
          s.current_ws = ws[365];
        }
        return;
      }
      // A snowpack that keeps growing never settles.
      if (year.snowfall - year.melt > 2.0 && pass > 1) {
        s.nullcell = 1;
        s.year_one = false;
        return;
      }
      if (pass == 1001) {
        s.nullcell = 1;
        s.year_one = false;
        return;
      }
      w[0] = w[365];
      ws[0] = ws[365];
      if (host != nullptr) host->backgroundTask();
    } else {
      s.current_w = w[365];
      s.current_ws = ws[365];
      return;
    }
  }
}

}  // namespace

void Run_model(RunState& s, Host* host) {
  switch (s.settings.beta) {
    case 0: runModel<0>(s, host); break;
    case 1: runModel<1>(s, host); break;
    case 2: runModel<2>(s, host); break;
    case 3: runModel<3>(s, host); break;
    case 4: runModel<4>(s, host); break;
    case 5: runModel<5>(s, host); break;
    case 6: runModel<6>(s, host); break;
    case 7: runModel<7>(s, host); break;
    default: runModel<-1>(s, host); break;
  }
}

}  // namespace vadoset
