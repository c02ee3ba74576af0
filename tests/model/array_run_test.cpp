#include "model/array_run.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "model/values.h"

namespace vadoset {
namespace {

void checkLayouts(std::size_t kCells, std::size_t kYears);

// Records as arrays in two layouts: (n, 12) row-major, and the layers of a
// raster (cells x 12 months x years, column-major: record y * cells + c),
// each a chain of years per cell with carry-over: many short chains, and a
// few long ones (which go through the engine one chain at a time); and with
// the caller's own PET. Every output must be what compute() gives record by
// record, for any number of threads.
TEST(ArrayRun, GivesComputesNumbersInEveryLayoutAndThreadCount) {
  for (const auto& [kCells, kYears] : {std::pair<std::size_t, std::size_t>{37, 9}, {3, 300}})
    ASSERT_NO_FATAL_FAILURE(checkLayouts(kCells, kYears)) << kCells << " cells";
}

void checkLayouts(std::size_t kCells, std::size_t kYears) {
  const std::size_t n = kCells * kYears;
  std::mt19937_64 g(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<double> t(n * 12), p(n * 12), lat(kCells), fc(kCells);
  for (std::size_t c = 0; c < kCells; ++c) {
    lat[c] = c == 5 ? NAN : -88.0 + 176.0 * u(g);
    fc[c] = c == 6 ? 0.0 : std::floor(20.0 + 300.0 * u(g)) + 0.5;  // the fraction is dropped
  }
  for (double& v : t) v = std::round((-30.0 + 60.0 * u(g)) * 10.0) / 10.0;
  for (double& v : p) v = std::floor(3000.0 * u(g) * u(g) * u(g) * 10.0) / 10.0;
  p[40] = -9999.0;
  t[41] = NAN;

  for (bool carryover : {false, true}) {
    // The expected numbers: record y * kCells + c, one chain a cell; its
    // months are t[m * kCells + c + y * 12 * kCells].
    RecordEngine engine(ModelParams{AvailabilityFunction::C, carryover, false});
    std::vector<RecordResult> expected(n);
    for (std::size_t c = 0; c < kCells; ++c) {
      CarriedState carried;
      for (std::size_t y = 0; y < kYears; ++y) {
        RecordInput in;
        for (std::size_t m = 0; m < 12; ++m) {
          in.tmean[m] = values::temperature(t[y * 12 * kCells + m * kCells + c]);
          in.ppt[m] = values::precipitation(p[y * 12 * kCells + m * kCells + c], false);
        }
        in.latitude = lat[c];
        in.fieldCapacity = values::fieldCapacity(fc[c]);
        engine.compute(in, carried, expected[y * kCells + c]);
      }
    }
    std::vector<std::int32_t> chains(n);
    for (std::size_t r = 0; r < n; ++r) chains[r] = static_cast<std::int32_t>(r % kCells);

    // The caller's own PET, here the engine's own (so every number stays),
    // but for one record that lacks a month of it: the last of its chain,
    // which carries nothing on.
    std::vector<double> ownPet(n * 12);
    for (std::size_t r = 0; r < n; ++r) std::memcpy(&ownPet[r * 12], expected[r].pet.data(), 96);
    const std::size_t petless = n - 2;
    ownPet[petless * 12 + 4] = NAN;

    for (auto [threads, callerPet] : {std::pair{1, false}, {3, false}, {2, true}}) {
      ArrayRecords a;
      a.records = n;
      const RecordPlace place{1, kCells, 12 * kCells};
      for (std::size_t m = 0; m < 12; ++m) {
        a.tmean.month[m] = t.data() + m * kCells;
        a.ppt.month[m] = p.data() + m * kCells;
      }
      a.tmean.place = a.ppt.place = place;
      a.latitude = {lat.data(), {1, kCells, 0}};
      a.fieldCapacity = {fc.data(), {1, kCells, 0}};
      a.params = ModelParams{AvailabilityFunction::C, carryover, false};
      a.chainOf = chains;
      if (callerPet) {
        for (std::size_t m = 0; m < 12; ++m) a.callerPet.month[m] = ownPet.data() + m;
        a.callerPet.place = RecordPlace{12, 0, 0};
      }
      // Outputs row-major (n, 12), as numpy holds them.
      std::vector<double> aet(n * 12), deficit(n * 12), soil(n * 12), total(n);
      std::vector<std::uint8_t> reason(n);
      for (std::size_t m = 0; m < 12; ++m) {
        a.aet.month[m] = aet.data() + m;
        a.deficit.month[m] = deficit.data() + m;
        a.soil.month[m] = soil.data() + m;
      }
      a.aet.place = a.deficit.place = a.soil.place = RecordPlace{12, 0, 0};
      a.deficitTotal.data = total.data();
      a.reason.data = reason.data();
      ArrayRun run(a, threads);
      ASSERT_TRUE(run.wait());
      for (std::size_t r = 0; r < n; ++r) {
        const RecordResult& e = expected[r];
        if (callerPet && r == petless && !e.isNull()) {
          EXPECT_EQ(reason[r], kCallerPetMissing);
          continue;
        }
        ASSERT_EQ(reason[r], static_cast<std::uint8_t>(e.reason)) << r;
        if (e.isNull()) {
          EXPECT_TRUE(std::isnan(aet[r * 12]) && std::isnan(total[r])) << r;
          continue;
        }
        EXPECT_EQ(std::memcmp(&aet[r * 12], e.aet.data(), 96), 0) << r;
        EXPECT_EQ(std::memcmp(&soil[r * 12], e.soil.data(), 96), 0) << r;
        EXPECT_EQ(deficit[r * 12 + 6], e.pet[6] - e.aet[6]) << r;
        EXPECT_EQ(total[r], annualTotals(e).deficit) << r;
      }
    }
  }
}

}  // namespace
}  // namespace vadoset
