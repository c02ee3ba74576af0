#include "model/array_run.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>
#include <system_error>

#include "model/values.h"

namespace vadoset {

// The chains in order, by counting: chain c's records are
// order_[chainStart_[c]] to order_[chainStart_[c + 1] - 1].
void ArrayRun::orderChains() {
  if (rec_.interleavedChains > 0) {
    // Chain c's year y is record y * chains + c.
    const std::size_t chains = rec_.interleavedChains, years = rec_.records / chains;
    if (years * chains != rec_.records) throw std::invalid_argument("the records are not whole years of every chain");
    order_.resize(rec_.records);
    chainStart_.resize(chains + 1);
    for (std::size_t c = 0; c <= chains; ++c) chainStart_[c] = c * years;
    for (std::size_t c = 0; c < chains; ++c)
      for (std::size_t y = 0; y < years; ++y) order_[c * years + y] = y * chains + c;
  } else if (rec_.chainOf.empty()) {
    order_.resize(rec_.records);
    for (std::size_t r = 0; r < rec_.records; ++r) order_[r] = r;
    chainStart_ = {0, rec_.records};
  } else {
    if (rec_.chainOf.size() != rec_.records) throw std::invalid_argument("one chain index a record is needed");
    std::size_t chains = 0;
    for (std::int32_t c : rec_.chainOf) {
      if (c < 0) throw std::invalid_argument("chain indices must not be negative");
      chains = std::max(chains, static_cast<std::size_t>(c) + 1);
    }
    chainStart_.assign(chains + 1, 0);
    for (std::int32_t c : rec_.chainOf) ++chainStart_[static_cast<std::size_t>(c) + 1];
    for (std::size_t c = 0; c < chains; ++c) chainStart_[c + 1] += chainStart_[c];
    order_.resize(rec_.records);
    std::vector<std::size_t> fill(chainStart_.begin(), chainStart_.end() - 1);
    for (std::size_t r = 0; r < rec_.records; ++r) order_[fill[static_cast<std::size_t>(rec_.chainOf[r])]++] = r;
  }
}

ArrayRun::ArrayRun(const ArrayRecords& records, int threads) : rec_(records) {
  if (rec_.params.carryover) {
    orderChains();
    units_ = chainStart_.size() - 1;
    if (rec_.records == 0) units_ = 0;
    // Blocks of chains, each with every year of its chains: one long chain
    // at a time when there are few, enough to fill the engine's lanes with a
    // year of each when there are many.
    blockSize_ = units_ < kFewChains ? 1 : rec_.callerPet.wanted() ? 8 : 64;
  } else {
    units_ = rec_.records;
    // Enough records to fill the engine's lanes many times over, and for
    // long runs along each input array (column-major arrays are read one
    // month at a time: short runs would leave the reads waiting on memory).
    blockSize_ = 512;
  }
  if (units_ == 0) return;
  const std::size_t blocks = (units_ + blockSize_ - 1) / blockSize_;
  std::size_t n = threads > 0 ? static_cast<std::size_t>(threads) : std::thread::hardware_concurrency();
  n = std::clamp<std::size_t>(n, 1, blocks);
  for (std::size_t i = 1; i < n; ++i) {
    {
      std::lock_guard lock(mutex_);
      ++running_;
    }
    try {
      pool_.emplace_back([this] { work(nullptr); });
    } catch (const std::system_error&) {
      std::lock_guard lock(mutex_);
      --running_;
      break;  // fewer threads: the ones running take the rest
    }
  }
}

ArrayRun::~ArrayRun() {
  stop_ = true;
  join();
}

void ArrayRun::join() {
  for (std::thread& t : pool_)
    if (t.joinable()) t.join();
}

bool ArrayRun::wait(const std::function<bool()>& interrupted) {
  if (!waited_) {
    waited_ = true;
    {
      std::lock_guard lock(mutex_);
      ++running_;
    }
    lastPoll_ = std::chrono::steady_clock::now();
    work(interrupted ? &interrupted : nullptr);
  }
  for (;;) {
    std::unique_lock lock(mutex_);
    if (finished_.wait_for(lock, std::chrono::milliseconds(100), [&] { return running_ == 0; })) break;
    lock.unlock();
    if (!stop_ && interrupted && interrupted()) stop_ = true;
  }
  join();
  if (failure_) std::rethrow_exception(failure_);
  return !stop_;
}

void ArrayRun::pollNow(const std::function<bool()>* poll) {
  if (poll == nullptr) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - lastPoll_ < std::chrono::milliseconds(100)) return;
  lastPoll_ = now;
  if ((*poll)()) stop_ = true;
}

void ArrayRun::Scratch::resize(std::size_t n) {
  if (records.size() >= n) return;
  records.resize(n);
  chainSlot.resize(n);
  years.resize(n);
  offsets.resize(n);
  ins.resize(n);
  pet.resize(n);
  outs.resize(n);
  totals.resize(n);
}

void ArrayRun::work(const std::function<bool()>* poll) {
  try {
    RecordEngine engine(rec_.params);
    Scratch scratch;
    for (;;) {
      const std::size_t start = next_.fetch_add(blockSize_);
      if (start >= units_ || stop_.load(std::memory_order_relaxed)) break;
      const std::size_t end = std::min(units_, start + blockSize_);
      if (rec_.params.carryover)
        computeChains(engine, start, end, scratch, poll);
      else
        computeBlock(engine, start, end, scratch);
      pollNow(poll);
    }
  } catch (...) {
    std::lock_guard lock(mutex_);
    if (!failure_) failure_ = std::current_exception();
    stop_ = true;
  }
  std::lock_guard lock(mutex_);
  --running_;
  finished_.notify_all();
}

namespace {

void placeOffsets(const RecordPlace& place, const std::vector<std::size_t>& records, std::size_t n,
                  std::vector<std::size_t>& offsets) {
  for (std::size_t i = 0; i < n; ++i) offsets[i] = place.offset(records[i]);
}

// A row-major (n, 12) array, as numpy holds one: month m of record r at
// month[0] + 12 r + m. Such arrays are read and written a record at a time,
// along their memory.
template <typename T>
bool rowMajor(const MonthColumns<T>& c) {
  if (c.place.groupSize != 0 || c.place.stride != kMonths) return false;
  for (std::size_t m = 0; m < kMonths; ++m)
    if (c.month[m] != c.month[0] + m) return false;
  return true;
}

}  // namespace

void ArrayRun::readBlock(Scratch& s, std::size_t n) const {
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t r = s.records[i];
    s.ins[i].latitude = rec_.latitude.data[rec_.latitude.place.offset(r)];
    s.ins[i].fieldCapacity = values::fieldCapacity(rec_.fieldCapacity.data[rec_.fieldCapacity.place.offset(r)]);
  }
  if (rowMajor(rec_.tmean) && rowMajor(rec_.ppt)) {
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t at = s.records[i] * kMonths;
      values::months(rec_.tmean.month[0] + at, rec_.ppt.month[0] + at, rec_.keepPrecipitationFraction,
                     s.ins[i].tmean.data(), s.ins[i].ppt.data());
    }
  } else {
    readMonths(s, n);
  }
  if (!rec_.callerPet.wanted()) return;
  placeOffsets(rec_.callerPet.place, s.records, n, s.offsets);
  for (std::size_t m = 0; m < kMonths; ++m) {
    const double* column = rec_.callerPet.month[m];
    for (std::size_t i = 0; i < n; ++i) s.pet[i][m] = column[s.offsets[i]];
  }
}

void ArrayRun::readMonths(Scratch& s, std::size_t n) const {
  placeOffsets(rec_.tmean.place, s.records, n, s.offsets);
  for (std::size_t m = 0; m < kMonths; ++m) {
    const double* column = rec_.tmean.month[m];
    for (std::size_t i = 0; i < n; ++i) s.ins[i].tmean[m] = values::temperature(column[s.offsets[i]]);
  }
  placeOffsets(rec_.ppt.place, s.records, n, s.offsets);
  for (std::size_t m = 0; m < kMonths; ++m) {
    const double* column = rec_.ppt.month[m];
    for (std::size_t i = 0; i < n; ++i)
      s.ins[i].ppt[m] = values::precipitation(column[s.offsets[i]], rec_.keepPrecipitationFraction);
  }
}

void ArrayRun::storeBlock(Scratch& s, std::size_t n) const {
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t r = s.records[i];
    const RecordResult& res = s.outs[i];
    if (rec_.reason.data != nullptr)
      rec_.reason.data[rec_.reason.place.offset(r)] = static_cast<std::uint8_t>(res.reason);
    if (rec_.month.data != nullptr) rec_.month.data[rec_.month.place.offset(r)] = static_cast<std::uint8_t>(res.month);
    // The sums as the table's columns have them.
    if (!res.isNull()) s.totals[i] = annualTotals(res);
  }
  const double x = rec_.missing;
  // A monthly output: value(i, m) for a computed record, `missing` for a null one.
  auto monthly = [&](const MonthColumns<double>& c, auto value) {
    if (!c.wanted()) return;
    if (rowMajor(c)) {
      for (std::size_t i = 0; i < n; ++i) {
        double* row = c.month[0] + s.records[i] * kMonths;
        for (std::size_t m = 0; m < kMonths; ++m) row[m] = s.outs[i].isNull() ? x : value(i, m);
      }
      return;
    }
    placeOffsets(c.place, s.records, n, s.offsets);
    for (std::size_t m = 0; m < kMonths; ++m) {
      double* column = c.month[m];
      for (std::size_t i = 0; i < n; ++i) column[s.offsets[i]] = s.outs[i].isNull() ? x : value(i, m);
    }
  };
  monthly(rec_.pet, [&](std::size_t i, std::size_t m) { return s.outs[i].pet[m]; });
  monthly(rec_.aet, [&](std::size_t i, std::size_t m) { return s.outs[i].aet[m]; });
  monthly(rec_.surplus, [&](std::size_t i, std::size_t m) { return s.outs[i].surplus[m]; });
  monthly(rec_.deficit, [&](std::size_t i, std::size_t m) { return s.outs[i].pet[m] - s.outs[i].aet[m]; });
  monthly(rec_.soil, [&](std::size_t i, std::size_t m) { return s.outs[i].soil[m]; });
  monthly(rec_.snow, [&](std::size_t i, std::size_t m) { return s.outs[i].snow[m]; });
  // What the model used: the input under the value rules.
  monthly(rec_.precipitation, [&](std::size_t i, std::size_t m) { return s.ins[i].ppt[m]; });
  auto total = [&](const RecordColumn<double>& c, double AnnualTotals::*field) {
    if (c.data == nullptr) return;
    for (std::size_t i = 0; i < n; ++i)
      c.data[c.place.offset(s.records[i])] = s.outs[i].isNull() ? x : s.totals[i].*field;
  };
  total(rec_.petTotal, &AnnualTotals::pet);
  total(rec_.aetTotal, &AnnualTotals::aet);
  total(rec_.surplusTotal, &AnnualTotals::surplus);
  total(rec_.deficitTotal, &AnnualTotals::deficit);
}

void ArrayRun::computeBlock(RecordEngine& engine, std::size_t start, std::size_t end, Scratch& s) {
  const std::size_t n = end - start;
  s.resize(n);
  for (std::size_t i = 0; i < n; ++i) s.records[i] = start + i;
  readBlock(s, n);
  CarriedState unused;
  if (rec_.callerPet.wanted())
    computeWithCallerPet(engine, s, n, unused);
  else
    engine.computeBatch({s.ins.data(), n}, {s.outs.data(), n}, unused);
  storeBlock(s, n);
}

// The engine's checks first, then the soil-water step alone on the caller's
// PET. (Without carry-over Run_model does not read `carried`.)
void ArrayRun::computeWithCallerPet(RecordEngine& engine, Scratch& s, std::size_t n, CarriedState& carried) const {
  for (std::size_t i = 0; i < n; ++i) {
    RecordResult& r = s.outs[i];
    r.reason = checkRecord(s.ins[i], r.month);
    r.passes = 0;
    if (r.isNull()) continue;
    const auto missing = std::find_if(s.pet[i].begin(), s.pet[i].end(), [](double v) { return !std::isfinite(v); });
    if (missing != s.pet[i].end()) {
      r.reason = static_cast<NullReason>(kCallerPetMissing);
      r.month = static_cast<std::int8_t>(missing - s.pet[i].begin() + 1);
      continue;
    }
    r.pet = s.pet[i];
    engine.Run_model(s.ins[i], carried, r);
  }
}

void ArrayRun::computeChains(RecordEngine& engine, std::size_t start, std::size_t end, Scratch& s,
                             const std::function<bool()>* poll) {
  if (units_ < kFewChains || rec_.callerPet.wanted()) {
    // A few long chains: a few hundred years of one at a time, so that their
    // PET and their guessed years run in the engine's lanes. With the
    // caller's PET every chain goes so, a record after another.
    constexpr std::size_t kYears = 256;
    s.resize(kYears);
    for (std::size_t c = start; c < end; ++c) {
      // Every chain starts as a run does: no soil water, no snow, spun up.
      CarriedState carried{0.0, 0.0, true};
      for (std::size_t k = chainStart_[c]; k < chainStart_[c + 1]; k += kYears) {
        // A chain may hold every record: the stop is seen within it.
        pollNow(poll);
        if (stop_.load(std::memory_order_relaxed)) return;
        const std::size_t n = std::min(kYears, chainStart_[c + 1] - k);
        for (std::size_t i = 0; i < n; ++i) s.records[i] = order_[k + i];
        readBlock(s, n);
        if (rec_.callerPet.wanted())
          computeWithCallerPet(engine, s, n, carried);
        else
          engine.computeBatch({s.ins.data(), n}, {s.outs.data(), n}, carried);
        storeBlock(s, n);
      }
    }
    return;
  }
  // Many chains: year j of every chain of the block that has one, side by
  // side in the engine's lanes.
  const std::size_t n = end - start;
  s.resize(n);
  s.carried.assign(n, CarriedState{0.0, 0.0, true});
  std::size_t longest = 0;
  for (std::size_t c = start; c < end; ++c) longest = std::max(longest, chainStart_[c + 1] - chainStart_[c]);
  for (std::size_t j = 0; j < longest; ++j) {
    pollNow(poll);
    if (stop_.load(std::memory_order_relaxed)) return;
    std::size_t m = 0;
    for (std::size_t c = start; c < end; ++c) {
      if (chainStart_[c] + j >= chainStart_[c + 1]) continue;
      s.records[m] = order_[chainStart_[c] + j];
      s.chainSlot[m++] = c - start;
    }
    readBlock(s, m);
    for (std::size_t i = 0; i < m; ++i) s.years[i] = s.carried[s.chainSlot[i]];
    engine.computePetBatch({s.ins.data(), m}, {s.outs.data(), m});
    engine.nextYears({s.ins.data(), m}, {s.outs.data(), m}, {s.years.data(), m});
    for (std::size_t i = 0; i < m; ++i) s.carried[s.chainSlot[i]] = s.years[i];
    storeBlock(s, m);
  }
}

}  // namespace vadoset
