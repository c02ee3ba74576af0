#pragma once

// The lane engine: many records of a run without carry-over computed side by
// side in the lanes of the vector registers, one day of the year for all of
// them at once. Each lane takes the next record when its own is done. The
// arithmetic is the scalar engine's, operation for operation, so the results
// are the same bits.
//
// The kernels (lanes_avx512.cpp, lanes_avx2.cpp) are compiled for their own
// instruction sets and run only on a CPU that has them; this header holds
// nothing but plain data so that no inline code of theirs is shared with the
// rest of the program.

#include <cstddef>
#include <cstdint>
#include <span>

#include "model/engine.h"

namespace vadoset::lanes {

/// The instruction sets the lane engine has kernels for. Scalar is the
/// record engine itself, one record after another.
enum class SimdLevel : std::uint8_t { Scalar = 0, Avx2 = 1, Avx512 = 2 };

const char* simdLevelName(SimdLevel level);

/// True when this CPU can run the level's kernels.
bool simdLevelSupported(SimdLevel level);

/// The best level the CPU has, or the one that VADOSET_SIMD (scalar, avx2,
/// avx512) asks for; a level the CPU lacks gives the best one below it.
SimdLevel chooseSimdLevel();

/// chooseSimdLevel() as it was the first time: the level computeBatch uses.
SimdLevel activeSimdLevel();

/// How the curves B, D, E and F take their exponential in the lanes.
enum class ExpMode : std::uint8_t {
  PerLane,  // std::exp on each lane in turn
  Vector,   // the vector copy of std::exp, where the start-up check passed
};

/// Runs the start-up check: Vector when the level's copy of exp gives the
/// same bits as std::exp on every probe, else PerLane. VADOSET_SIMD_EXP=fail
/// makes the check fail (to test the fallback).
ExpMode chooseExpMode(SimdLevel level);

/// chooseExpMode(level) as it was the first time: what computeBatch uses.
ExpMode activeExpMode(SimdLevel level);

/// The start-up check alone (without VADOSET_SIMD_EXP): true when the
/// level's vector exponential matched std::exp on every probe.
bool vectorExpMatchesStd(SimdLevel level);

/// How the PET takes its powers in the lanes.
enum class PowMode : std::uint8_t {
  PerLane,  // std::pow on each lane in turn
  Vector,   // the vector copy of std::pow, where the start-up check passed
};

/// Runs the start-up check of the vector pow, as chooseExpMode does for
/// exp; VADOSET_SIMD_POW=fail makes it fail.
PowMode choosePowMode(SimdLevel level);

/// choosePowMode(level) as it was the first time: what computeBatch uses.
PowMode activePowMode(SimdLevel level);

/// The start-up check alone (without VADOSET_SIMD_POW): true when the
/// level's vector pow matched std::pow on every probe.
bool vectorPowMatchesStd(SimdLevel level);

/// The level's vector pow on n pairs: out[i] = pow(x[i], y[i]), lanes off
/// its main path by std::pow (tests). False, with nothing written, at a
/// level the CPU lacks or without FMA.
bool vectorPow(SimdLevel level, const double* x, const double* y, double* out, std::size_t n);

/// Checks each record and computes the PET of those that can be computed,
/// in lanes: out[i] gets the reason, month, passes (0) and pet that compute
/// gives it before the soil water; nothing else of out[i] changes. A level
/// the CPU lacks computes at the scalar level.
void computePet(RecordEngine& engine, SimdLevel level, PowMode pow, std::span<const RecordInput> in,
                std::span<RecordResult> out);

/// computeBatch without carry-over at a given level, exponential and pow
/// (tests, benchmarks). A level the CPU lacks computes at the scalar level.
void computeIndependent(RecordEngine& engine, SimdLevel level, ExpMode exp, PowMode pow,
                        std::span<const RecordInput> in, std::span<RecordResult> out, CarriedState& carried);

/// Carry-over: one pass over the year for each record that can be computed
/// (out[i] holds its PET) and has a start (start[i].yearOne false): out[i]
/// gets what Run_model gives it from start[i] (aet, surplus, soil, snow and
/// passes 1), and end[i] the state it ends in. Nothing else changes. A
/// level the CPU lacks computes at the scalar level.
void computeYears(RecordEngine& engine, SimdLevel level, ExpMode exp, std::span<const RecordInput> in,
                  std::span<RecordResult> out, std::span<const CarriedState> start, std::span<CarriedState> end);

// ---- Between the driver and the kernels ----

inline constexpr int kMaxLanes = 32;

/// The lanes' records at the start of a year, and what the kernel leaves at
/// its end. Arrays by month are [month][lane].
struct alignas(64) LaneBlock {
  // In: each lane's record.
  double tmean[kMonths][kMaxLanes];
  double ppt[kMonths][kMaxLanes];
  double pet[kMonths][kMaxLanes];
  double fc[kMaxLanes];
  // In: the start of the year; out: its end.
  double w[kMaxLanes];
  double ws[kMaxLanes];
  // Out: the year's monthly values.
  double aet[kMonths][kMaxLanes];
  double surplus[kMonths][kMaxLanes];
  double soil[kMonths][kMaxLanes];
  double snow[kMonths][kMaxLanes];
  // Out: the year's totals (absBalance, maxAbsW and reached: function A only).
  double melt[kMaxLanes];
  double snowfall[kMaxLanes];
  double absBalance[kMaxLanes];
  double maxAbsW[kMaxLanes];
  double reached[kMaxLanes];  // nonzero when a day reached field capacity
};

/// The PET's records side by side: [month][lane].
struct alignas(64) PetBlock {
  double tmean[kMonths][kMaxLanes];      // in
  double dayLength[kMonths][kMaxLanes];  // in: hours
  double pet[kMonths][kMaxLanes];        // out
};

/// The PET of the lanes [0, lanes), lanes a multiple of the lanes per vector.
using PetKernel = void (*)(PetBlock& block, int lanes);

/// exp(-5), exp(-4), exp(-3) as the curves take them.
struct CurveConstants {
  double e5, e4, e3;
};

/// One pass over the year for the lanes [0, vectors x lanes per vector).
using YearKernel = void (*)(LaneBlock& block, int vectors, const CurveConstants& k);

/// A level's kernels: lanes per vector, vectors at most, and one kernel per
/// curve (index function + 1; 0 draws nothing) and exponential.
struct KernelSet {
  int lanesPerVector;
  int maxVectors;
  YearKernel kernels[9][2];  // [function + 1][ExpMode]
  /// The vector exponential on n values (n a multiple of lanesPerVector).
  void (*expVector)(const double* x, double* out, int n);
  PetKernel pet[2];  // [PowMode]
  /// The vector pow on n pairs (n a multiple of lanesPerVector).
  void (*powVector)(const double* x, const double* y, double* out, int n);
};

const KernelSet& avx512Kernels();
const KernelSet& avx2Kernels();

}  // namespace vadoset::lanes
