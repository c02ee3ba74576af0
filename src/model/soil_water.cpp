#include <algorithm>
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
  // Function A only, for neverSettles: whether any day reached field
  // capacity, the sum of the days' |balance|, and the largest |w| of the pass.
  bool reachedCapacity = false;
  double absBalance = 0.0;
  double maxAbsW = 0.0;
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
  if constexpr (Variant == 0) year.maxAbsW = std::abs(wPrev);
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
        if constexpr (Variant == 0) year.reachedCapacity = true;
      }
      if constexpr (Variant == 0) {
        year.absBalance += std::abs(balance);
        year.maxAbsW = std::max(year.maxAbsW, std::abs(wk));
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

// Function A draws the whole shortfall of a deficit day, so nothing bounds
// the soil water below: a spun-up year whose water input falls short of its
// PET by 1 mm or more loses water in every pass and ends null at the pass
// limit, 1002 passes later. After one pass it can be known that the year will
// never settle, when all of these hold:
//  1. The snowpack ended the pass exactly (bit for bit) where it started. The
//     snowpack does not depend on the soil water, so every later pass repeats
//     this pass's snow and melt, and so the same daily balances b_k.
//  2. No day reached field capacity. With availability 1 a day computes
//     w_k = fl(w_{k-1} + b_k), and rounding is monotone, so a pass that
//     starts lower stays at or below this one day by day: it reaches field
//     capacity on no day either, and is the same chain of 365 additions.
//  3. The pass lost at least 1 mm by a margin that covers rounding. The exact
//     sum B of the b_k is the same in every pass, and a pass's computed
//     change differs from B by at most 365 roundings of numbers no larger
//     than M, where M bounds |w| over every pass up to the limit: |w| grows
//     by at most sum |b_k| per pass. So every later pass also loses 1 mm or
//     more, its start keeps falling, and |w[365] - w[0]| < 1 never holds.
// Such a record ends null (by the snow rule or the pass limit) with the
// carried state untouched, which is what ending it now gives.
bool neverSettles(const PassTotals& year, double w0, double w365, double ws0, double ws365) {
  if (year.reachedCapacity || ws365 != ws0) return false;
  const double change = w365 - w0;
  const double bound = year.maxAbsW + 1003.0 * (year.absBalance * 1.001 + 1.0);
  if (!std::isfinite(change) || !std::isfinite(bound)) return false;
  const double rounding = 2.0 * 366.0 * 0x1p-53 * bound;  // one pass, doubled for slack
  return change <= -1.0 - 4.0 * rounding - 1e-9;
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
      if constexpr (Variant == 0) {
        if (!s.exhaustiveSpinUp && neverSettles(year, w[0], w[365], ws[0], ws[365])) {
          s.nullcell = 1;
          s.year_one = false;
          return;
        }
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
