#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#if defined(__GLIBC__)
#include <gnu/libc-version.h>
#endif

#include "model/beta.h"
#include "model/engine_internal.h"
#include "model/lanes.h"

namespace vadoset::lanes {

namespace {

// Once the records run out, the last few in flight are finished one by one:
// a lone record spins up faster in the scalar engine, whose branches skip
// the availability curve on days without a deficit.
constexpr int kScalarTail = 2;

bool envIs(const char* name, std::string_view value) {
  const char* v = std::getenv(name);
  return v != nullptr && value == v;
}

SimdLevel bestSupported() {
  if (simdLevelSupported(SimdLevel::Avx512)) return SimdLevel::Avx512;
  if (simdLevelSupported(SimdLevel::Avx2)) return SimdLevel::Avx2;
  return SimdLevel::Scalar;
}

const KernelSet& kernelsFor(SimdLevel level) {
  return level == SimdLevel::Avx512 ? avx512Kernels() : avx2Kernels();
}

// The arguments the curves hand to exp, for the start-up check: B's
// -6.68 x and D, E and F's -a (1 - x/c), x over [0, 1] evenly and at random,
// computed as the curves compute them; then a sweep of every table index
// and of the range around the main path's limits. Probe i of kExpProbes.
constexpr int kCurveSteps = 4096;
constexpr int kCurveProbes = 4 * (2 * kCurveSteps + 1);
constexpr int kSweepProbes = 2 * kCurveSteps + 1;
constexpr double kExpEdges[] = {0x1p-54, 512.0, 0.0, 1e-300};
constexpr int kExpProbes = kCurveProbes + kSweepProbes + 6 * 4;

double expProbe(int i) {
  if (i < kCurveProbes) {
    const int j = i / 4;
    double x = static_cast<double>(j) / kCurveSteps;
    if (j > kCurveSteps) {
      std::uint64_t z = static_cast<std::uint64_t>(j) * 0x9E3779B97F4A7C15ULL;  // splitmix64
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
      x = static_cast<double>((z ^ (z >> 31)) >> 11) * 0x1p-53;
    }
    volatile double vx = x;  // the same operations as the curves, at run time
    switch (i % 4) {
      case 0:
        return -6.68 * vx;
      case 1:
        return -5.0 * (1.0 - vx / 0.7);
      case 2:
        return -4.0 * (1.0 - vx / 0.5);
      default:
        return -3.0 * (1.0 - vx / 0.3);
    }
  }
  i -= kCurveProbes;
  if (i < kSweepProbes) return static_cast<double>(i - kCurveSteps) * (600.0 / kCurveSteps);
  i -= kSweepProbes;
  const double edge = kExpEdges[i / 6];
  const double nudged = edge + static_cast<double>((i / 2) % 3 - 1) * 1e-17 * edge;
  return i % 2 == 0 ? nudged : -nudged;
}

std::uint64_t mix(std::uint64_t z) {  // splitmix64
  z *= 0x9E3779B97F4A7C15ULL;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

double unit(std::uint64_t j) {  // [0, 1)
  return static_cast<double>(mix(j) >> 11) * 0x1p-53;
}

// The arguments the PET hands to pow, for the start-up check, computed as
// Run_pet computes them: the heat index's (T/5, 1.514) for T from 0.1 to
// 102.4 °C by tenths; the exponent's (I, 3) and (I, 2) and the months'
// (10T/I, a) for T from 0 to 26.5 and I from 0 to 400 at random; then x
// over every binade and table interval with y such that |y log x| goes up
// to about 700, and x near 1. Probe i of kPowProbes.
constexpr int kPowSteps = 1024;
constexpr int kPowProbes = 8 * kPowSteps;

void powProbe(int i, double& x, double& y) {
  const auto j = static_cast<std::uint64_t>(i);
  const double u = unit(2 * j), v = unit(2 * j + 1);
  volatile double vt = 26.5 * u;  // run-time operations, as the engine's
  volatile double vi = 400.0 * v;
  switch (i / kPowSteps) {
    case 0:
      vt = static_cast<double>(i % kPowSteps + 1) / 10.0;
      x = vt / 5.0;
      y = 1.514;
      return;
    case 1:
    case 2:
      x = vi;
      y = i / kPowSteps == 1 ? 3.0 : 2.0;
      return;
    case 3:
    case 4:
    case 5: {
      // The exponent's cube and square as products here: a probe needs a
      // realistic exponent, not the engine's last bit of it.
      const double heat = vi;
      x = (10.0 * vt) / heat;
      y = ((6.75e-07 * (heat * heat * heat) - 7.71e-05 * (heat * heat)) + 0.0179 * heat) + 0.49;
      return;
    }
    case 6: {
      const int e = static_cast<int>(u * 2046.0) - 1022;
      x = std::ldexp(1.0 + v, e);
      y = (unit(3 * j) - 0.5) * 1400.0 / (std::abs(e) + 1);
      return;
    }
    default:
      x = 1.0 + (u - 0.5) * 0x1p-20;
      y = (v - 0.5) * 1e6;
      return;
  }
}

// The vector copies are of glibc 2.28 and later. Probes cannot see every bit
// of their tables, so another library is never trusted on them alone.
bool glibcWithCopiedMath() {
  // The copies' fused steps need FMA; so do the library's variants they copy.
  if (!__builtin_cpu_supports("fma")) return false;
#if defined(__GLIBC__)
  int major = 0, minor = 0;
  return std::sscanf(gnu_get_libc_version(), "%d.%d", &major, &minor) == 2 && major == 2 && minor >= 28;
#else
  return false;
#endif
}

// Checks the records and computes the PET of those that pass, kMaxLanes at a
// time (the last group padded with quiet lanes).
void petInLanes(RecordEngine& engine, const KernelSet& set, PowMode pow, std::span<const RecordInput> in,
                std::span<RecordResult> out) {
  alignas(64) PetBlock block;
  std::size_t waiting[kMaxLanes];
  int lanes = 0;
  const PetKernel kernel = set.pet[pow == PowMode::Vector ? 1 : 0];
  auto flush = [&] {
    const int padded = (lanes + set.lanesPerVector - 1) / set.lanesPerVector * set.lanesPerVector;
    for (int l = lanes; l < padded; ++l) {
      for (int m = 0; m < kMonths; ++m) {
        block.tmean[m][l] = 0.0;
        block.dayLength[m][l] = 0.0;
      }
    }
    kernel(block, padded);
    for (int l = 0; l < lanes; ++l) {
      RecordResult& o = out[waiting[l]];
      for (int m = 0; m < kMonths; ++m) o.pet[static_cast<std::size_t>(m)] = block.pet[m][l];
    }
    lanes = 0;
  };
  for (std::size_t i = 0; i < in.size(); ++i) {
    const RecordInput& r = in[i];
    RecordResult& o = out[i];
    o.reason = checkRecord(r, o.month);
    o.passes = 0;
    if (o.isNull()) continue;
    const MonthValues& hours = engine.dayLengths(r.latitude);
    for (int m = 0; m < kMonths; ++m) {
      block.tmean[m][lanes] = r.tmean[static_cast<std::size_t>(m)];
      block.dayLength[m][lanes] = hours[static_cast<std::size_t>(m)];
    }
    waiting[lanes++] = i;
    if (lanes == kMaxLanes) flush();
  }
  if (lanes > 0) flush();
}

// A lane with no record: values that keep every operation of the day quiet.
void clearLane(LaneBlock& b, int lane) {
  for (int m = 0; m < kMonths; ++m) {
    b.tmean[m][lane] = 0.0;
    b.ppt[m][lane] = 0.0;
    b.pet[m][lane] = 0.0;
  }
  b.fc[lane] = 1.0;
  b.w[lane] = 1.0;
  b.ws[lane] = 0.0;
}

void moveLane(LaneBlock& b, int from, int to) {
  for (int m = 0; m < kMonths; ++m) {
    b.tmean[m][to] = b.tmean[m][from];
    b.ppt[m][to] = b.ppt[m][from];
    b.pet[m][to] = b.pet[m][from];
  }
  b.fc[to] = b.fc[from];
  b.w[to] = b.w[from];
  b.ws[to] = b.ws[from];
  clearLane(b, from);
}

// A record into lane l, its year to start with soil water w and snow ws.
void loadLane(LaneBlock& b, int l, const RecordInput& r, const RecordResult& o, double w, double ws) {
  for (int m = 0; m < kMonths; ++m) {
    b.tmean[m][l] = r.tmean[static_cast<std::size_t>(m)];
    b.ppt[m][l] = r.ppt[static_cast<std::size_t>(m)];
    b.pet[m][l] = o.pet[static_cast<std::size_t>(m)];
  }
  b.fc[l] = r.fieldCapacity;
  b.w[l] = w;
  b.ws[l] = ws;
}

// Lane l's year into its record's result.
void storeLane(const LaneBlock& b, int l, RecordResult& o) {
  for (int m = 0; m < kMonths; ++m) {
    const auto mm = static_cast<std::size_t>(m);
    o.aet[mm] = b.aet[m][l];
    o.surplus[mm] = b.surplus[m][l];
    o.soil[mm] = b.soil[m][l];
    o.snow[mm] = b.snow[m][l];
  }
}

// What a lane is working on.
struct LaneTask {
  std::int64_t record = -1;  // -1: none
  std::int32_t pass = 0;
  double w0 = 0.0;
  double ws0 = 0.0;
};

}  // namespace

const char* simdLevelName(SimdLevel level) {
  switch (level) {
    case SimdLevel::Scalar:
      return "scalar";
    case SimdLevel::Avx2:
      return "avx2";
    case SimdLevel::Avx512:
      return "avx512";
  }
  return "scalar";
}

bool simdLevelSupported(SimdLevel level) {
  switch (level) {
    case SimdLevel::Scalar:
      return true;
    case SimdLevel::Avx2:
      return __builtin_cpu_supports("avx2");
    case SimdLevel::Avx512:
      return __builtin_cpu_supports("avx512f");
  }
  return false;
}

SimdLevel chooseSimdLevel() {
  SimdLevel wanted = bestSupported();
  if (envIs("VADOSET_SIMD", "scalar")) wanted = SimdLevel::Scalar;
  if (envIs("VADOSET_SIMD", "avx2")) wanted = SimdLevel::Avx2;
  if (envIs("VADOSET_SIMD", "avx512")) wanted = SimdLevel::Avx512;
  while (!simdLevelSupported(wanted)) wanted = static_cast<SimdLevel>(static_cast<int>(wanted) - 1);
  return wanted;
}

SimdLevel activeSimdLevel() {
  static const SimdLevel level = chooseSimdLevel();
  return level;
}

namespace {

// choose(level) as it was the first time the level was asked for: each
// level's start-up check runs once. `scalar` for the scalar level.
template <class Mode, Mode (*choose)(SimdLevel)>
Mode oncePerLevel(SimdLevel level, Mode scalar) {
  switch (level) {
    case SimdLevel::Avx2: {
      static const Mode mode = choose(SimdLevel::Avx2);
      return mode;
    }
    case SimdLevel::Avx512: {
      static const Mode mode = choose(SimdLevel::Avx512);
      return mode;
    }
    default:
      return scalar;
  }
}

}  // namespace

ExpMode chooseExpMode(SimdLevel level) {
  if (envIs("VADOSET_SIMD_EXP", "fail")) return ExpMode::PerLane;
  return vectorExpMatchesStd(level) ? ExpMode::Vector : ExpMode::PerLane;
}

ExpMode activeExpMode(SimdLevel level) {
  return oncePerLevel<ExpMode, chooseExpMode>(level, ExpMode::PerLane);
}

bool vectorExpMatchesStd(SimdLevel level) {
  if (level == SimdLevel::Scalar || !simdLevelSupported(level) || !glibcWithCopiedMath()) return false;
  // In blocks, so that the check allocates nothing.
  constexpr int kBlock = 64;
  alignas(64) double probes[kBlock], got[kBlock];
  for (int start = 0; start < kExpProbes; start += kBlock) {
    for (int i = 0; i < kBlock; ++i) probes[i] = start + i < kExpProbes ? expProbe(start + i) : 0.5;
    kernelsFor(level).expVector(probes, got, kBlock);
    for (int i = 0; i < kBlock; ++i)
      if (std::bit_cast<std::uint64_t>(std::exp(probes[i])) != std::bit_cast<std::uint64_t>(got[i])) return false;
  }
  return true;
}

PowMode choosePowMode(SimdLevel level) {
  if (envIs("VADOSET_SIMD_POW", "fail")) return PowMode::PerLane;
  return vectorPowMatchesStd(level) ? PowMode::Vector : PowMode::PerLane;
}

PowMode activePowMode(SimdLevel level) {
  return oncePerLevel<PowMode, choosePowMode>(level, PowMode::PerLane);
}

bool vectorPow(SimdLevel level, const double* x, const double* y, double* out, std::size_t n) {
  if (level == SimdLevel::Scalar || !simdLevelSupported(level) || !__builtin_cpu_supports("fma")) return false;
  const KernelSet& set = kernelsFor(level);
  const auto w = static_cast<std::size_t>(set.lanesPerVector);
  const std::size_t whole = n / w * w;
  set.powVector(x, y, out, static_cast<int>(whole));
  if (whole < n) {
    alignas(64) double xs[kMaxLanes] = {}, ys[kMaxLanes] = {}, got[kMaxLanes];
    for (std::size_t i = whole; i < n; ++i) {
      xs[i - whole] = x[i];
      ys[i - whole] = y[i];
    }
    set.powVector(xs, ys, got, set.lanesPerVector);
    for (std::size_t i = whole; i < n; ++i) out[i] = got[i - whole];
  }
  return true;
}

bool vectorPowMatchesStd(SimdLevel level) {
  if (level == SimdLevel::Scalar || !simdLevelSupported(level) || !glibcWithCopiedMath()) return false;
  constexpr int kBlock = 64;
  alignas(64) double xs[kBlock], ys[kBlock], got[kBlock];
  for (int start = 0; start < kPowProbes; start += kBlock) {
    for (int i = 0; i < kBlock; ++i) powProbe(start + i, xs[i], ys[i]);
    kernelsFor(level).powVector(xs, ys, got, kBlock);
    for (int i = 0; i < kBlock; ++i)
      if (std::bit_cast<std::uint64_t>(std::pow(xs[i], ys[i])) != std::bit_cast<std::uint64_t>(got[i])) return false;
  }
  return true;
}

void computePet(RecordEngine& engine, SimdLevel level, PowMode pow, std::span<const RecordInput> in,
                std::span<RecordResult> out) {
  const std::size_t n = std::min(in.size(), out.size());
  if (level == SimdLevel::Scalar || !simdLevelSupported(level)) {
    for (std::size_t i = 0; i < n; ++i) {
      out[i].reason = checkRecord(in[i], out[i].month);
      out[i].passes = 0;
      if (!out[i].isNull()) engine.Run_pet(in[i], out[i]);
    }
    return;
  }
  petInLanes(engine, kernelsFor(level), pow, in.first(n), out.first(n));
}

// The lanes' scheduler is a numerical kernel: one loop that refills lanes
// as their records end, kept whole so that its order of work is plain.
// NOLINTNEXTLINE(readability-function-cognitive-complexity)
void computeIndependent(RecordEngine& engine, SimdLevel level, ExpMode exp, PowMode pow,
                        std::span<const RecordInput> in, std::span<RecordResult> out, CarriedState& carried) {
  const std::size_t n = std::min(in.size(), out.size());
  if (level == SimdLevel::Scalar || !simdLevelSupported(level)) {
    for (std::size_t i = 0; i < n; ++i) engine.compute(in[i], carried, out[i]);
    return;
  }
  const ModelParams& params = engine.params();
  const KernelSet& set = kernelsFor(level);
  const int function = static_cast<int>(params.function) <= 7 ? static_cast<int>(params.function) : -1;
  const YearKernel kernel = set.kernels[function + 1][exp == ExpMode::Vector ? 1 : 0];
  const ExpConstants& e = expConstants();
  const CurveConstants curveConstants{e.e5, e.e4, e.e3};
  const int lanesPerVector = set.lanesPerVector;
  const int laneCount = set.lanesPerVector * set.maxVectors;

  LaneBlock block{};
  LaneTask tasks[kMaxLanes];
  bool stale[kMaxLanes] = {};  // free, but still holding a finished record's values
  for (int l = 0; l < kMaxLanes; ++l) clearLane(block, l);
  std::size_t next = 0;
  std::size_t petDone = 0;  // the records checked, with their PET, so far
  bool anyComputed = false;

  for (;;) {
    // Free lanes take the next records that can be computed.
    for (int l = 0; l < laneCount && next < n; ++l) {
      if (tasks[l].record >= 0) continue;
      while (next < n) {
        if (next == petDone) {
          // The PET a few hundred records ahead, so that they are still in the cache.
          const std::size_t count = std::min<std::size_t>(n - next, 256);
          petInLanes(engine, set, pow, in.subspan(next, count), out.subspan(next, count));
          petDone = next + count;
        }
        const std::size_t i = next++;
        const RecordInput& r = in[i];
        const RecordResult& o = out[i];
        if (o.isNull()) continue;
        anyComputed = true;
        loadLane(block, l, r, o, r.fieldCapacity, 0.0);
        tasks[l] = LaneTask{static_cast<std::int64_t>(i), 0, r.fieldCapacity, 0.0};
        stale[l] = false;
        break;
      }
    }
    for (int l = 0; l < laneCount; ++l) {
      if (stale[l]) {
        clearLane(block, l);
        stale[l] = false;
      }
    }
    int active = 0;
    for (int l = 0; l < laneCount; ++l) active += tasks[l].record >= 0 ? 1 : 0;
    if (active == 0) break;
    if (next >= n) {
      if (active <= kScalarTail) {
        for (int l = 0; l < laneCount; ++l) {
          const LaneTask& t = tasks[l];
          if (t.record < 0) continue;
          const auto i = static_cast<std::size_t>(t.record);
          detail::resumeBalance(params, in[i], out[i], carried, t.pass, t.w0, t.ws0);
        }
        break;
      }
      // Pack the records in flight into the first lanes.
      int to = 0;
      for (int from = 0; from < laneCount; ++from) {
        if (tasks[from].record < 0) continue;
        if (from != to) {
          moveLane(block, from, to);
          tasks[to] = tasks[from];
          tasks[from] = LaneTask{};
        }
        ++to;
      }
    }
    int lastLane = 0;
    for (int l = 0; l < laneCount; ++l)
      if (tasks[l].record >= 0) lastLane = l;
    kernel(block, lastLane / lanesPerVector + 1, curveConstants);
    engine.passDone();

    for (int l = 0; l < laneCount; ++l) {
      LaneTask& t = tasks[l];
      if (t.record < 0) continue;
      const auto i = static_cast<std::size_t>(t.record);
      detail::PassTotals year;
      year.melt = block.melt[l];
      year.snowfall = block.snowfall[l];
      year.reachedCapacity = block.reached[l] != 0.0;
      year.absBalance = block.absBalance[l];
      year.maxAbsW = block.maxAbsW[l];
      const double w365 = block.w[l];
      const double ws365 = block.ws[l];
      const detail::PassVerdict verdict =
          detail::judgePass(function == 0, params, t.pass, year, t.w0, w365, t.ws0, ws365);
      if (verdict == detail::PassVerdict::Again) {
        ++t.pass;
        t.w0 = w365;
        t.ws0 = ws365;
        continue;
      }
      RecordResult& o = out[i];
      o.passes = t.pass + 1;
      storeLane(block, l, o);
      switch (verdict) {
        case detail::PassVerdict::PerennialSnow:
          o.reason = NullReason::PerennialSnow;
          break;
        case detail::PassVerdict::NoSteadyState:
          o.reason = NullReason::NoSteadyState;
          break;
        case detail::PassVerdict::NeverSettles:
          o.reason = NullReason::NeverSettles;
          break;
        default:
          break;
      }
      // The lane's values stay until the next record overwrites them, or
      // are cleared when no record is left for it.
      t = LaneTask{};
      stale[l] = true;
    }
  }
  // As the scalar engine leaves it: without carry-over only yearOne changes,
  // once any record has been computed.
  if (anyComputed) carried.yearOne = false;
}

void computeYears(RecordEngine& engine, SimdLevel level, ExpMode exp, std::span<const RecordInput> in,
                  std::span<RecordResult> out, std::span<const CarriedState> start, std::span<CarriedState> end) {
  const std::size_t n = std::min({in.size(), out.size(), start.size(), end.size()});
  auto wanted = [&](std::size_t i) { return !out[i].isNull() && !start[i].yearOne; };
  if (level == SimdLevel::Scalar || !simdLevelSupported(level)) {
    for (std::size_t i = 0; i < n; ++i) {
      if (!wanted(i)) continue;
      end[i] = start[i];
      engine.Run_model(in[i], end[i], out[i]);
    }
    return;
  }
  const KernelSet& set = kernelsFor(level);
  const int function =
      static_cast<int>(engine.params().function) <= 7 ? static_cast<int>(engine.params().function) : -1;
  const YearKernel kernel = set.kernels[function + 1][exp == ExpMode::Vector ? 1 : 0];
  const ExpConstants& e = expConstants();
  const CurveConstants curveConstants{e.e5, e.e4, e.e3};
  const int laneCount = set.lanesPerVector * set.maxVectors;

  LaneBlock block;  // the lanes in use are filled before each pass
  std::size_t record[kMaxLanes];
  std::size_t next = 0;
  for (;;) {
    int lanes = 0;
    for (; next < n && lanes < laneCount; ++next) {
      if (!wanted(next)) continue;
      loadLane(block, lanes, in[next], out[next], start[next].soil, start[next].snow);
      record[lanes++] = next;
    }
    if (lanes == 0) return;
    const int vectors = (lanes + set.lanesPerVector - 1) / set.lanesPerVector;
    for (int l = lanes; l < vectors * set.lanesPerVector; ++l) clearLane(block, l);
    kernel(block, vectors, curveConstants);
    for (int l = 0; l < lanes; ++l) {
      RecordResult& o = out[record[l]];
      o.passes = 1;
      storeLane(block, l, o);
      end[record[l]] = CarriedState{block.w[l], block.ws[l], false};
    }
  }
}

}  // namespace vadoset::lanes
