#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "model/engine.h"

namespace vadoset {

/// Where a per-record value lies in memory. Records are counted in groups
/// of `groupSize`: record r is element r % groupSize of group r / groupSize,
/// at data + (r / groupSize) * groupStride + (r % groupSize) * stride. One
/// group (groupSize 0) covers every record: data + r * stride.
struct RecordPlace {
  std::size_t stride = 1;
  std::size_t groupSize = 0;
  std::size_t groupStride = 0;

  std::size_t offset(std::size_t r) const {
    if (groupSize == 0) return r * stride;
    return (r / groupSize) * groupStride + (r % groupSize) * stride;
  }
};

/// Twelve months of many records: month m (0 is January) of record r at
/// month[m] + place.offset(r). A row-major (n, 12) array has month[m] =
/// data + m and stride 12; a column-major n x 12 matrix month[m] = data + m
/// * n and stride 1; twelve separate columns their own pointers.
template <typename T>
struct MonthColumns {
  std::array<T*, kMonths> month{};
  RecordPlace place;

  bool wanted() const { return month[0] != nullptr; }
};

/// One value per record at data + place.offset(r).
template <typename T>
struct RecordColumn {
  T* data = nullptr;
  RecordPlace place;
};

/// The null reason of a record whose monthly PET of the caller's own
/// (ArrayRecords::callerPet) lacks a month: one beyond the engine's own
/// reasons, with the month in `month`.
inline constexpr std::uint8_t kCallerPetMissing = kNullReasonCount;

/// Many records held in arrays, and where their water balance goes. The
/// inputs take the value rules of model/values.h (NaN, -9999 and 9999 are
/// missing; precipitation in whole millimetres unless the fraction is kept;
/// field capacity whole millimetres of at least 1), so an array means what
/// the same numbers in an input file mean.
struct ArrayRecords {
  std::size_t records = 0;
  MonthColumns<const double> tmean, ppt;
  RecordColumn<const double> latitude;       // decimal degrees; outside -90 to 90 or NaN: a null row
  RecordColumn<const double> fieldCapacity;  // mm
  bool keepPrecipitationFraction = false;
  ModelParams params;
  /// With carry-over, the chain (0, 1, ...) of each record: the records of
  /// a chain are computed in their order, each from the soil water and snow
  /// that the one before left, the first spun up from none as a run starts.
  /// Empty: one chain of every record. Without carry-over it is not used.
  std::span<const std::int32_t> chainOf;
  /// In place of chainOf, for records that lie as an array of (years,
  /// chains) in row-major order: record r is year r / interleavedChains of
  /// chain r % interleavedChains. 0: chainOf tells.
  std::size_t interleavedChains = 0;
  /// Monthly PET of the caller's own, mm (Penman-Monteith, say), in place
  /// of Willmott's from temperature, which still drives the snowpack. Not
  /// wanted (null): Willmott's. A record with a month of it that is not a
  /// finite number is null, reason kCallerPetMissing.
  MonthColumns<const double> callerPet;

  /// The outputs; leave out (null) those not wanted. A null record gets
  /// `missing` in every number.
  MonthColumns<double> pet, aet, surplus, deficit, soil, snow;
  MonthColumns<double> precipitation;  // the precipitation the model used
  RecordColumn<double> petTotal, aetTotal, surplusTotal, deficitTotal;
  RecordColumn<std::uint8_t> reason;  // NullReason; 0 for a computed record
  RecordColumn<std::uint8_t> month;   // the missing month (1 to 12) the reason names, else 0
  double missing = std::numeric_limits<double>::quiet_NaN();
};

/// The records of one ArrayRecords computed on several threads: helper
/// threads from the constructor on, and the thread that calls wait() as
/// well. Independent records go in blocks through the engine's batch form
/// (its vector lanes), chains in blocks of whole chains; the results are the
/// same, to the bit, for every number of threads. The arrays must stay in
/// place until wait() has returned or the run is destroyed.
class ArrayRun {
 public:
  /// Computes the records on `threads` threads (0: one per core): starts
  /// threads - 1 helpers now (never more than there are blocks after the
  /// first), and the caller of wait() is the last. With one thread nothing
  /// runs before wait(). Throws std::invalid_argument when a chain index is
  /// negative, the chains are given with the wrong length, or the records
  /// are not whole years of their interleaved chains.
  ArrayRun(const ArrayRecords& records, int threads);
  /// Stops the work (after the blocks in hand) and waits for the threads.
  ~ArrayRun();
  ArrayRun(const ArrayRun&) = delete;
  ArrayRun& operator=(const ArrayRun&) = delete;

  /// Computes blocks on the calling thread while any are left, then waits
  /// for the helpers; asks `interrupted` about every 100 ms (on the calling
  /// thread) whether to stop, and when it says so every thread stops after
  /// the block or record in hand. True when every record was computed.
  /// Rethrows what failed on a thread (std::bad_alloc).
  bool wait(const std::function<bool()>& interrupted = {});

 private:
  // One thread's room for a block of records.
  struct Scratch {
    std::vector<std::size_t> records;  // the block's records
    std::vector<std::size_t> offsets;  // of each record in one array
    std::vector<RecordInput> ins;
    std::vector<MonthValues> pet;  // the caller's, when given
    std::vector<RecordResult> outs;
    std::vector<AnnualTotals> totals;
    // Carry-over: each chain's state, and the block's chain and state of
    // each record in a year of many chains.
    std::vector<CarriedState> carried, years;
    std::vector<std::size_t> chainSlot;
    void resize(std::size_t n);
  };
  // Below this many chains, each goes through the engine on its own; from it
  // on, a year of many chains at a time.
  static constexpr std::size_t kFewChains = 16;

  // With carry-over: order_ and chainStart_ from the chains of the records.
  void orderChains();
  // Takes blocks until none is left; `poll` (the caller of wait() only) is
  // asked now and then whether to stop.
  void work(const std::function<bool()>* poll);
  void computeBlock(RecordEngine& engine, std::size_t start, std::size_t end, Scratch& s);
  // The first n records of s, each from `carried` in turn, with the
  // caller's PET.
  void computeWithCallerPet(RecordEngine& engine, Scratch& s, std::size_t n, CarriedState& carried) const;
  void computeChains(RecordEngine& engine, std::size_t start, std::size_t end, Scratch& s,
                     const std::function<bool()>* poll);
  void pollNow(const std::function<bool()>* poll);
  // Read and store the records of s.records (n of them), one array after
  // the other, each along its own length: far fewer cache and TLB misses
  // than record by record across every array.
  void readBlock(Scratch& s, std::size_t n) const;
  void readMonths(Scratch& s, std::size_t n) const;
  void storeBlock(Scratch& s, std::size_t n) const;
  void join();

  ArrayRecords rec_;
  // With carry-over: the records of chain c are order_[chainStart_[c]] up
  // to chainStart_[c + 1], in order.
  std::vector<std::size_t> order_, chainStart_;
  std::size_t units_ = 0;  // records, or chains
  std::size_t blockSize_ = 0;
  std::atomic<std::size_t> next_{0};
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable finished_;
  std::size_t running_ = 0;
  std::exception_ptr failure_;
  std::vector<std::thread> pool_;
  bool waited_ = false;
  std::chrono::steady_clock::time_point lastPoll_;
};

}  // namespace vadoset
