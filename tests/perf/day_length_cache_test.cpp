#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>

#include "model/model.h"
#include "run/driver.h"
#include "run/run_state.h"

namespace vadoset {
namespace {

// Run_pet keeps the day lengths of the last latitude. A run state that goes
// through many records, with latitudes that repeat, change, and differ only
// in sign or in the last bit, must give every record the PET a fresh run
// state gives it, in both formats.
TEST(DayLengthCache, SamePetAsAFreshRunState) {
  std::mt19937_64 rng(99);
  auto uniform = [&](double a, double b) { return a + (b - a) * static_cast<double>(rng() >> 11) * 0x1p-53; };
  const double latitudes[] = {0.0, -0.0, 44.47, std::nextafter(44.47, 90.0), -44.47, 66.6, 70.0, -89.9, 90.0};
  for (int format : {0, 1}) {
    RunState reused;
    fillDaysPerMonth(reused);
    reused.settings.format = format;
    for (int i = 0; i < 3000; ++i) {
      const double latitude = rng() % 4 == 0 ? uniform(-90.0, 90.0) : latitudes[rng() % std::size(latitudes)];
      MonthArray<double> tmean{};
      for (int m = 1; m <= 12; ++m) tmean[m] = uniform(-20.0, 35.0) * (format == 1 ? 10.0 : 1.0);

      reused.latitude = latitude;
      reused.tmean = tmean;
      Run_pet(reused);

      RunState fresh;
      fillDaysPerMonth(fresh);
      fresh.settings.format = format;
      fresh.latitude = latitude;
      fresh.tmean = tmean;
      Run_pet(fresh);

      for (int m = 1; m <= 12; ++m)
        ASSERT_EQ(std::bit_cast<std::uint64_t>(reused.PET[m]), std::bit_cast<std::uint64_t>(fresh.PET[m]))
            << "record " << i << ", latitude " << latitude << ", month " << m;
    }
  }
}

}  // namespace
}  // namespace vadoset
