#include "model/array_run.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <system_error>

#include "model/values.h"

namespace vadoset {

namespace {

template <typename T>
void putMonths(const MonthColumns<T>& c, std::size_t r, const MonthValues& v) {
  if (!c.wanted()) return;
  const std::size_t at = c.place.offset(r);
  for (int m = 0; m < kMonths; ++m) c.month[static_cast<std::size_t>(m)][at] = v[static_cast<std::size_t>(m)];
}

void putMissing(const MonthColumns<double>& c, std::size_t r, double missing) {
  if (!c.wanted()) return;
  const std::size_t at = c.place.offset(r);
  for (double* m : c.month) m[at] = missing;
}

template <typename T>
void put(const RecordColumn<T>& c, std::size_t r, T v) {
  if (c.data != nullptr) c.data[c.place.offset(r)] = v;
}

}  // namespace

ArrayRun::ArrayRun(const ArrayRecords& records, int threads) : rec_(records) {
  if (rec_.params.carryover) {
    // The chains in order, by counting: chain c's records are
    // order_[chainStart_[c]] to order_[chainStart_[c + 1] - 1].
    if (rec_.chainOf.empty()) {
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
    units_ = chainStart_.size() - 1;
    if (rec_.records == 0) units_ = 0;
    // Small blocks of chains: each holds every year of its chains.
    blockSize_ = 8;
  } else {
    units_ = rec_.records;
    // Enough records to fill the engine's lanes many times over.
    blockSize_ = 64;
  }
  if (units_ == 0) return;
  const std::size_t blocks = (units_ + blockSize_ - 1) / blockSize_;
  std::size_t n = threads > 0 ? static_cast<std::size_t>(threads) : std::thread::hardware_concurrency();
  n = std::clamp<std::size_t>(n, 1, blocks);
  for (std::size_t i = 0; i < n; ++i) {
    {
      std::lock_guard lock(mutex_);
      ++running_;
    }
    try {
      pool_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
      std::lock_guard lock(mutex_);
      --running_;
      break;  // fewer threads: the ones running take the rest
    }
  }
  if (pool_.empty()) {
    // Not even one thread: the calling thread does the work.
    {
      std::lock_guard lock(mutex_);
      ++running_;
    }
    work();
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

void ArrayRun::work() {
  try {
    RecordEngine engine(rec_.params);
    RecordResult result;  // compute sets every field it reports
    std::vector<RecordInput> ins;
    std::vector<RecordResult> outs;
    for (;;) {
      const std::size_t start = next_.fetch_add(blockSize_);
      if (start >= units_ || stop_.load(std::memory_order_relaxed)) break;
      const std::size_t end = std::min(units_, start + blockSize_);
      if (rec_.params.carryover)
        computeChains(engine, start, end, result);
      else
        computeBlock(engine, start, end, ins, outs);
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

void ArrayRun::readRecord(std::size_t r, RecordInput& in) const {
  const std::size_t t = rec_.tmean.place.offset(r);
  const std::size_t p = rec_.ppt.place.offset(r);
  for (std::size_t m = 0; m < kMonths; ++m) {
    in.tmean[m] = values::temperature(rec_.tmean.month[m][t]);
    in.ppt[m] = values::precipitation(rec_.ppt.month[m][p], rec_.keepPrecipitationFraction);
  }
  in.latitude = rec_.latitude.data[rec_.latitude.place.offset(r)];
  in.fieldCapacity = values::fieldCapacity(rec_.fieldCapacity.data[rec_.fieldCapacity.place.offset(r)]);
}

void ArrayRun::storeRecord(std::size_t r, const RecordResult& res) const {
  put(rec_.reason, r, static_cast<std::uint8_t>(res.reason));
  put(rec_.month, r, static_cast<std::uint8_t>(res.month));
  const double x = rec_.missing;
  if (res.isNull()) {
    for (const MonthColumns<double>* c :
         {&rec_.pet, &rec_.aet, &rec_.surplus, &rec_.deficit, &rec_.soil, &rec_.snow, &rec_.precipitation})
      putMissing(*c, r, x);
    for (const RecordColumn<double>* c : {&rec_.petTotal, &rec_.aetTotal, &rec_.surplusTotal, &rec_.deficitTotal})
      put(*c, r, x);
    return;
  }
  putMonths(rec_.pet, r, res.pet);
  putMonths(rec_.aet, r, res.aet);
  putMonths(rec_.surplus, r, res.surplus);
  putMonths(rec_.soil, r, res.soil);
  putMonths(rec_.snow, r, res.snow);
  if (rec_.deficit.wanted()) {
    MonthValues d;
    for (std::size_t m = 0; m < kMonths; ++m) d[m] = res.pet[m] - res.aet[m];
    putMonths(rec_.deficit, r, d);
  }
  if (rec_.precipitation.wanted()) {
    // What the model used: the input under the value rules again.
    const std::size_t p = rec_.ppt.place.offset(r);
    MonthValues used;
    for (std::size_t m = 0; m < kMonths; ++m)
      used[m] = values::precipitation(rec_.ppt.month[m][p], rec_.keepPrecipitationFraction);
    putMonths(rec_.precipitation, r, used);
  }
  // The sums as the table's columns have them.
  const AnnualTotals t = annualTotals(res);
  put(rec_.petTotal, r, t.pet);
  put(rec_.aetTotal, r, t.aet);
  put(rec_.surplusTotal, r, t.surplus);
  put(rec_.deficitTotal, r, t.deficit);
}

void ArrayRun::computeBlock(RecordEngine& engine, std::size_t start, std::size_t end, std::vector<RecordInput>& ins,
                            std::vector<RecordResult>& outs) {
  const std::size_t n = end - start;
  if (ins.size() < n) {
    ins.resize(n);
    outs.resize(n);
  }
  for (std::size_t i = 0; i < n; ++i) readRecord(start + i, ins[i]);
  CarriedState unused;
  engine.computeBatch({ins.data(), n}, {outs.data(), n}, unused);
  for (std::size_t i = 0; i < n; ++i) storeRecord(start + i, outs[i]);
}

void ArrayRun::computeChains(RecordEngine& engine, std::size_t start, std::size_t end, RecordResult& result) {
  RecordInput in;
  for (std::size_t c = start; c < end && !stop_.load(std::memory_order_relaxed); ++c) {
    // Every chain starts as a run does: no soil water, no snow, spun up.
    CarriedState carried{0.0, 0.0, true};
    for (std::size_t k = chainStart_[c]; k < chainStart_[c + 1]; ++k) {
      const std::size_t r = order_[k];
      readRecord(r, in);
      engine.compute(in, carried, result);
      storeRecord(r, result);
    }
  }
}

}  // namespace vadoset
