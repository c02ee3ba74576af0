#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "run/input_checks.h"
#include "run/row_loop.h"

namespace vadoset {

namespace {

enum class Phase {
  Free,     // not in use
  Compute,  // records being parsed and computed (carry-over: their PET only)
  Chain,    // carry-over: the soil water, one record after another
  Format,   // carry-over: rows being formatted
  Done,     // rows ready to be written
};

struct BatchWork {
  RecordBatch* batch = nullptr;
  std::uint64_t seq = 0;
  Phase phase = Phase::Free;
  std::size_t chunks = 0;
  std::size_t nextChunk = 0;
  std::size_t chunksDone = 0;
  bool chainClaimed = false;
};

struct Task {
  BatchWork* work = nullptr;
  Phase phase = Phase::Free;
  std::size_t begin = 0;
  std::size_t end = 0;
};

// Computes batches on a pool of threads, the calling thread among them while
// it waits for a batch's rows. Without carry-over every record is
// independent. With carry-over each record starts from the one before it, so
// the soil water is computed for one record after another on one thread at a
// time, while the other threads parse and compute the PET of the next batch
// and format the rows of the one before.
class ThreadedComputer final : public BatchComputer {
 public:
  explicit ThreadedComputer(const RunConfig::Parallel& o)
      : options_(o), work_(o.batchesInFlight < 2 ? 2 : o.batchesInFlight) {}
  ~ThreadedComputer() override { end(); }
  ThreadedComputer(const ThreadedComputer&) = delete;
  ThreadedComputer& operator=(const ThreadedComputer&) = delete;

  // Throws std::system_error when a thread cannot be started.
  void start(int threads) {
    for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { workerLoop(); });
  }

  std::size_t batchesInFlight() const override { return work_.size(); }
  std::size_t batchRecords() const override { return options_.batchRecords; }
  std::size_t batchLineBytes() const override {
    return options_.lineBytesInFlight / work_.size() > 0 ? options_.lineBytesInFlight / work_.size() : 1;
  }

  void begin(const RunPlan& plan, const InputChecks& checks, CarriedState carried) override {
    std::lock_guard<std::mutex> lock(mu_);
    plan_ = &plan;
    checks_ = &checks;
    carry_ = plan.model.carryover;
    chainEngine_ = RecordEngine(plan.model);
    helperEngine_ = RecordEngine(plan.model);
    chain_ = carried;
    begun_ = true;
    workCv_.notify_all();
  }

  void submit(RecordBatch& b) override {
    {
      std::lock_guard<std::mutex> lock(mu_);
      BatchWork& w = work_[submitted_ % work_.size()];
      w.batch = &b;
      w.seq = submitted_++;
      w.chunks = (b.count + kChunkRecords - 1) / kChunkRecords;
      w.nextChunk = 0;
      w.chunksDone = 0;
      w.chainClaimed = false;
      w.phase = Phase::Compute;
    }
    workCv_.notify_all();
  }

  // While the batch is not ready the calling thread computes too: it takes
  // the same tasks as the pool, so a run of N threads keeps N busy, not N + 1
  // that take turns.
  bool wait(RecordBatch& b, RunObserver& observer) override {
    BatchWork* w = nullptr;
    auto lastLook = std::chrono::steady_clock::now();
    for (;;) {
      Task t;
      {
        std::unique_lock<std::mutex> lock(mu_);
        if (w == nullptr)
          for (BatchWork& x : work_)
            if (x.batch == &b && x.phase != Phase::Free) w = &x;
        if (w == nullptr) return true;
        if (error_) std::rethrow_exception(error_);
        if (w->phase == Phase::Done) {
          w->phase = Phase::Free;
          return true;
        }
        if (!claim(t) &&
            doneCv_.wait_for(lock, std::chrono::milliseconds(50), [&] { return w->phase == Phase::Done || error_; })) {
          if (error_) std::rethrow_exception(error_);
          w->phase = Phase::Free;
          return true;
        }
      }
      if (t.work != nullptr) {
        runTask(t, helperEngine_, helperScratch_);
        std::lock_guard<std::mutex> lock(mu_);
        complete(t);
      }
      const auto now = std::chrono::steady_clock::now();
      if (t.work == nullptr || now - lastLook >= std::chrono::milliseconds(50)) {
        lastLook = now;
        if (observer.stopRequested() != StopRequest::None) return false;
      }
    }
  }

  // Stops the computing threads after their current task and waits for them.
  void end() override {
    {
      std::lock_guard<std::mutex> lock(mu_);
      quit_ = true;
    }
    workCv_.notify_all();
    for (std::thread& t : workers_)
      if (t.joinable()) t.join();
    workers_.clear();
  }

 private:
  void workerLoop();
  bool claim(Task& t);
  void runTask(const Task& t, RecordEngine& engine, BatchScratch& scratch);
  void complete(const Task& t);
  void computeRecords(const Task& t, RecordEngine& engine, BatchScratch& scratch);
  void chainRecords(const Task& t);
  void formatRecords(const Task& t, BatchScratch& scratch);

  const RunConfig::Parallel options_;
  std::vector<BatchWork> work_;
  std::vector<std::thread> workers_;
  std::mutex mu_;
  std::condition_variable workCv_;  // computing threads wait for work here
  std::condition_variable doneCv_;  // the calling thread waits for batches here
  bool quit_ = false;
  bool begun_ = false;
  std::exception_ptr error_;
  bool carry_ = false;
  const RunPlan* plan_ = nullptr;
  const InputChecks* checks_ = nullptr;
  std::uint64_t submitted_ = 0;
  RecordEngine chainEngine_;
  RecordEngine helperEngine_;  // the calling thread's, while it waits
  BatchScratch helperScratch_;
  CarriedState chain_;  // carry-over: the state handed from record to record
  std::uint64_t nextChainSeq_ = 0;
};

void ThreadedComputer::workerLoop() {
  RecordEngine engine;
  BatchScratch scratch;
  bool configured = false;
  for (;;) {
    Task t;
    {
      std::unique_lock<std::mutex> lock(mu_);
      workCv_.wait(lock, [&] { return quit_ || (begun_ && claim(t)); });
      if (t.work == nullptr) return;
      if (!configured) {
        engine = RecordEngine(plan_->model);
        configured = true;
      }
    }
    try {
      runTask(t, engine, scratch);
    } catch (...) {
      {
        std::lock_guard<std::mutex> lock(mu_);
        if (!error_) error_ = std::current_exception();
        quit_ = true;
      }
      workCv_.notify_all();
      doneCv_.notify_all();
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      complete(t);
    }
  }
}

// Under mu_. The soil water of the next batch in order comes first, since
// every later record waits for it; then rows to format; then records to
// compute.
bool ThreadedComputer::claim(Task& t) {
  if (carry_) {
    for (BatchWork& w : work_) {
      if (w.phase == Phase::Chain && w.seq == nextChainSeq_ && !w.chainClaimed) {
        w.chainClaimed = true;
        t = Task{&w, Phase::Chain, 0, w.batch->count};
        return true;
      }
    }
  }
  for (Phase phase : {Phase::Format, Phase::Compute}) {
    BatchWork* oldest = nullptr;
    for (BatchWork& w : work_)
      if (w.phase == phase && w.nextChunk < w.chunks && (oldest == nullptr || w.seq < oldest->seq)) oldest = &w;
    if (oldest != nullptr) {
      std::size_t begin = oldest->nextChunk * kChunkRecords;
      std::size_t end = begin + kChunkRecords < oldest->batch->count ? begin + kChunkRecords : oldest->batch->count;
      ++oldest->nextChunk;
      t = Task{oldest, phase, begin, end};
      return true;
    }
  }
  return false;
}

// Under mu_.
void ThreadedComputer::complete(const Task& t) {
  BatchWork& w = *t.work;
  bool advanced = false;
  if (t.phase == Phase::Chain) {
    w.phase = Phase::Format;
    w.nextChunk = 0;
    w.chunksDone = 0;
    ++nextChainSeq_;
    advanced = true;
  } else if (++w.chunksDone == w.chunks) {
    w.phase = (t.phase == Phase::Compute && carry_) ? Phase::Chain : Phase::Done;
    advanced = true;
  }
  if (advanced) {
    workCv_.notify_all();
    if (w.phase == Phase::Done) doneCv_.notify_all();
  }
}

void ThreadedComputer::runTask(const Task& t, RecordEngine& engine, BatchScratch& scratch) {
  switch (t.phase) {
    case Phase::Compute:
      computeRecords(t, engine, scratch);
      break;
    case Phase::Chain:
      chainRecords(t);
      break;
    case Phase::Format:
      formatRecords(t, scratch);
      break;
    default:
      break;
  }
}

void ThreadedComputer::computeRecords(const Task& t, RecordEngine& engine, BatchScratch& scratch) {
  RecordBatch& b = *t.work->batch;
  if (!carry_) {
    CarriedState independent;
    computeSlots(*plan_, *checks_, engine, b, t.begin, t.end, independent, scratch);
    return;
  }
  // The soil water waits for the record before it; the checks, the PET and
  // a guess at each year (from where the record before it would end when
  // started full) do not, and run in the engine's lanes.
  const std::size_t n = t.end - t.begin;
  parseSlots(*plan_, b, t.begin, t.end, scratch);
  engine.computePetBatch({scratch.inputs.data(), n}, {scratch.results.data(), n});
  engine.guessYears({scratch.inputs.data(), n}, {scratch.results.data(), n}, {scratch.guessed.data(), n},
                    {scratch.carried.data(), n});
  for (std::size_t i = 0; i < n; ++i) {
    RecordSlot& r = b.slots[t.begin + i];
    r.result = scratch.results[i];
    r.guessStart = scratch.guessed[i];
    r.carriedAfter = scratch.carried[i];  // the guess's end, until the chain sets it
  }
}

// Carry-over: each record starts from the state the one before it left. A
// record that cannot be computed leaves the carried state as it is.
void ThreadedComputer::chainRecords(const Task& t) {
  RecordBatch& b = *t.work->batch;
  for (std::size_t i = t.begin; i < t.end; ++i) {
    RecordSlot& r = b.slots[i];
    if (!r.result.isNull()) chainEngine_.chainYear(r.input, chain_, r.result, r.guessStart, r.carriedAfter);
    r.carriedAfter = chain_;
  }
}

void ThreadedComputer::formatRecords(const Task& t, BatchScratch& scratch) {
  RecordBatch& b = *t.work->batch;
  for (std::size_t i = t.begin; i < t.end; ++i) formatSlot(*plan_, *checks_, b, i, scratch);
}

// The calling thread computes the records a few dozen at a time, with the
// engine's batch form.
class SerialComputer final : public BatchComputer {
 public:
  std::size_t batchesInFlight() const override { return 1; }
  std::size_t batchRecords() const override { return 64; }
  std::size_t batchLineBytes() const override { return std::size_t{1} << 20; }
  void begin(const RunPlan& plan, const InputChecks& checks, CarriedState carried) override {
    plan_ = &plan;
    checks_ = &checks;
    engine_ = RecordEngine(plan.model);
    carried_ = carried;
  }
  void submit(RecordBatch& b) override { computeSlots(*plan_, *checks_, engine_, b, 0, b.count, carried_, scratch_); }
  bool wait(RecordBatch&, RunObserver&) override { return true; }
  void end() override {}

 private:
  const RunPlan* plan_ = nullptr;
  const InputChecks* checks_ = nullptr;
  RecordEngine engine_;
  CarriedState carried_;
  BatchScratch scratch_;
};

}  // namespace

std::unique_ptr<BatchComputer> makeSerialComputer() {
  return std::make_unique<SerialComputer>();
}

std::unique_ptr<BatchComputer> makeThreadedComputer(const RunConfig::Parallel& options) {
  if (options.threads <= 1 || options.batchRecords == 0) return nullptr;
  auto computer = std::make_unique<ThreadedComputer>(options);
  try {
    // The calling thread computes too, while it waits for rows to write.
    computer->start(options.threads - 1);
  } catch (const std::system_error&) {
    // No threads to be had: the calling thread computes.
    computer->end();
    return nullptr;
  }
  return computer;
}

}  // namespace vadoset
