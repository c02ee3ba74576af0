#include "run/parallel_run.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "input/input.h"
#include "model/model.h"
#include "output/output.h"
#include "platform/host.h"
#include "platform/text.h"
#include "run/run_state.h"

namespace vadoset {

namespace {

// Records handed to a computing thread at a time: small enough to spread a
// batch over the threads when a few records spin up for hundreds of passes.
constexpr std::size_t kChunkRecords = 8;

// One record on its way from the input lines to its row.
struct Item {
  std::size_t precipOffset = 0, precipLength = 0;  // lines in the batch's arena
  std::size_t tmeanOffset = 0, tmeanLength = 0;
  std::uint64_t bytesRead = 0;  // of the precipitation file, after this record's line
  std::string year;
  // Carry-over only: the record between its PET and its soil water.
  MonthArray<double> tmean{};
  MonthArray<std::int32_t> ppt{};
  MonthArray<double> PET{};
  MonthArray<double> E{};
  MonthArray<double> Surplus{};
  std::int32_t nullcell = 0;
  bool reachedModel = false;  // no month missing: Run_model ran for it
  double wAfter = 0.0;        // carried soil water and snow after this record
  double wsAfter = 0.0;
  std::size_t rowLength = 0;
  char row[kRowValuesBytes];
};

enum class Phase {
  Free,    // not in use
  Parse,   // records being parsed and computed (carry-over: PET only)
  Chain,   // carry-over: the soil water, one record after another
  Format,  // carry-over: rows being formatted
  Done,    // rows ready to be written
};

struct Batch {
  std::string arena;
  std::vector<Item> items;
  std::size_t count = 0;
  std::uint64_t seq = 0;
  Phase phase = Phase::Free;
  std::size_t chunks = 0;
  std::size_t nextChunk = 0;
  std::size_t chunksDone = 0;
  bool chainClaimed = false;
};

struct Task {
  Batch* batch = nullptr;
  Phase phase = Phase::Free;
  std::size_t begin = 0;
  std::size_t end = 0;
};

// The settings a record's computation needs, copied into each thread's own
// run state.
void copyRunSettings(RunState& to, const RunState& from) {
  to.settings = from.settings;
  to.fc = from.fc;
  to.dm = from.dm;
  to.hcn_latitude = from.hcn_latitude;
  to.carryover = from.carryover;
}

class Engine {
 public:
  explicit Engine(const ParallelOptions& o) : options_(o), ring_(o.batchesInFlight < 2 ? 2 : o.batchesInFlight) {}
  ~Engine() { shutdown(); }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Throws std::system_error when a thread cannot be started.
  void start(int threads) {
    for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { workerLoop(); });
  }

  // Stops the computing threads after their current task and waits for them.
  void shutdown() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      quit_ = true;
    }
    workCv_.notify_all();
    for (std::thread& t : workers_)
      if (t.joinable()) t.join();
    workers_.clear();
  }

  RunOutcome run(RunState& s, Host& host);

 private:
  void workerLoop();
  bool claim(Task& t);
  void complete(const Task& t);
  void parseRecords(const Task& t, RunState& local);
  void chainRecords(const Task& t);
  void formatRecords(const Task& t);
  bool readBatch(RunState& s, Batch& b);
  bool waitUntilDone(Batch& b, Host& host);

  const ParallelOptions options_;
  std::vector<Batch> ring_;
  std::vector<std::thread> workers_;
  std::mutex mu_;
  std::condition_variable workCv_;  // computing threads wait for work here
  std::condition_variable doneCv_;  // the calling thread waits for batches here
  bool quit_ = false;
  std::exception_ptr error_;
  bool carry_ = false;
  RunState proto_;  // the run's settings, set before the first batch
  RunState chain_;  // carry-over: the state handed from record to record
  std::uint64_t nextChainSeq_ = 0;
};

void Engine::workerLoop() {
  RunState local;
  bool configured = false;
  for (;;) {
    Task t;
    {
      std::unique_lock<std::mutex> lock(mu_);
      workCv_.wait(lock, [&] { return quit_ || claim(t); });
      if (t.batch == nullptr) return;
      if (!configured) {
        copyRunSettings(local, proto_);
        configured = true;
      }
    }
    try {
      switch (t.phase) {
        case Phase::Parse: parseRecords(t, local); break;
        case Phase::Chain: chainRecords(t); break;
        case Phase::Format: formatRecords(t); break;
        default: break;
      }
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
// every later record waits for it; then rows to format; then records to parse.
bool Engine::claim(Task& t) {
  if (carry_) {
    for (Batch& b : ring_) {
      if (b.phase == Phase::Chain && b.seq == nextChainSeq_ && !b.chainClaimed) {
        b.chainClaimed = true;
        t = Task{&b, Phase::Chain, 0, b.count};
        return true;
      }
    }
  }
  for (Phase phase : {Phase::Format, Phase::Parse}) {
    Batch* oldest = nullptr;
    for (Batch& b : ring_)
      if (b.phase == phase && b.nextChunk < b.chunks && (oldest == nullptr || b.seq < oldest->seq)) oldest = &b;
    if (oldest != nullptr) {
      std::size_t begin = oldest->nextChunk * kChunkRecords;
      std::size_t end = begin + kChunkRecords < oldest->count ? begin + kChunkRecords : oldest->count;
      ++oldest->nextChunk;
      t = Task{oldest, phase, begin, end};
      return true;
    }
  }
  return false;
}

// Under mu_.
void Engine::complete(const Task& t) {
  Batch& b = *t.batch;
  bool advanced = false;
  if (t.phase == Phase::Chain) {
    b.phase = Phase::Format;
    b.nextChunk = 0;
    b.chunksDone = 0;
    ++nextChainSeq_;
    advanced = true;
  } else if (++b.chunksDone == b.chunks) {
    b.phase = (t.phase == Phase::Parse && carry_) ? Phase::Chain : Phase::Done;
    advanced = true;
  }
  if (advanced) {
    workCv_.notify_all();
    if (b.phase == Phase::Done) doneCv_.notify_all();
  }
}

void Engine::parseRecords(const Task& t, RunState& local) {
  Batch& b = *t.batch;
  const bool hcn = local.settings.format == 1;
  for (std::size_t i = t.begin; i < t.end; ++i) {
    Item& item = b.items[i];
    std::string_view precipLine(b.arena.data() + item.precipOffset, item.precipLength);
    std::string_view tmeanLine(b.arena.data() + item.tmeanOffset, item.tmeanLength);
    if (hcn)
      readHcnRecord(local, precipLine, tmeanLine);
    else
      readTabRecord(local, precipLine, tmeanLine);
    // Swapping keeps both strings' buffers: no allocation once warmed up.
    item.year.swap(local.year);
    local.nullcell = 0;
    item.reachedModel = !recordIsMissing(local);
    if (!item.reachedModel) local.nullcell = 1;
    if (carry_) {
      if (item.reachedModel) {
        Run_pet(local);
        item.tmean = local.tmean;
        item.ppt = local.ppt;
        item.PET = local.PET;
      }
      item.nullcell = local.nullcell;
      continue;
    }
    if (item.reachedModel) {
      Run_pet(local);
      Run_model(local, nullptr);
    }
    item.nullcell = local.nullcell;
    item.rowLength = formatRowValues(local.nullcell, local.PET, local.E, local.Surplus, item.row);
  }
}

// Carry-over: each record starts from the state the one before it left, as in
// Main_loop. A record with a missing month leaves the carried state as it is.
void Engine::chainRecords(const Task& t) {
  Batch& b = *t.batch;
  for (std::size_t i = t.begin; i < t.end; ++i) {
    Item& item = b.items[i];
    if (item.reachedModel) {
      chain_.tmean = item.tmean;
      chain_.ppt = item.ppt;
      chain_.PET = item.PET;
      chain_.nullcell = 0;
      Run_model(chain_, nullptr);
      item.E = chain_.E;
      item.Surplus = chain_.Surplus;
      item.nullcell = chain_.nullcell;
    }
    item.wAfter = chain_.current_w;
    item.wsAfter = chain_.current_ws;
  }
}

void Engine::formatRecords(const Task& t) {
  Batch& b = *t.batch;
  for (std::size_t i = t.begin; i < t.end; ++i) {
    Item& item = b.items[i];
    item.rowLength = formatRowValues(item.nullcell, item.PET, item.E, item.Surplus, item.row);
  }
}

// Reads up to batchRecords records into b, as Main_loop reads them: the end
// of the precipitation file is tested before each record. False when there
// was none left.
bool Engine::readBatch(RunState& s, Batch& b) {
  b.arena.clear();
  b.count = 0;
  if (b.items.size() != options_.batchRecords) b.items.resize(options_.batchRecords);
  while (b.count < options_.batchRecords && !s.precip_data->onlyBlankLinesLeft()) {
    Item& item = b.items[b.count];
    const std::string& precipLine = s.precip_data->ReadLine();
    item.precipOffset = b.arena.size();
    item.precipLength = precipLine.size();
    b.arena.append(precipLine);
    const std::string& tmeanLine = s.tmean_data->ReadLine();
    item.tmeanOffset = b.arena.size();
    item.tmeanLength = tmeanLine.size();
    b.arena.append(tmeanLine);
    item.bytesRead = s.precip_data->bytesRead();
    ++b.count;
  }
  return b.count > 0;
}

// Waits for a batch's rows. False when the host asked to stop meanwhile, or a
// computing thread failed (error_ is then set).
bool Engine::waitUntilDone(Batch& b, Host& host) {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mu_);
      if (doneCv_.wait_for(lock, std::chrono::milliseconds(50), [&] { return b.phase == Phase::Done || error_; }))
        return !error_;
    }
    if (host.stopRequested()) return false;
  }
}

RunOutcome Engine::run(RunState& s, Host& host) {
  if (std::optional<RunOutcome> ended = openRun(s, host)) return *ended;
  std::int32_t count = 1;
  {
    std::lock_guard<std::mutex> lock(mu_);
    carry_ = s.carryover;
    copyRunSettings(proto_, s);
    copyRunSettings(chain_, s);
    // The first record of the run is spun up from the carried state as it
    // stands, exactly as Main_loop's first record is.
    chain_.year_one = true;
    chain_.current_w = s.current_w;
    chain_.current_ws = s.current_ws;
  }

  const std::uint64_t precipBytesTotal = s.precip_data->size();
  TextOutputStream& out = *s.aet_out;
  bool stopped = false;
  bool inputEnded = false;
  std::uint64_t readSeq = 0;
  std::uint64_t writeSeq = 0;

  while (!stopped) {
    // Read ahead while a batch is free; the computing threads start at once.
    while (!inputEnded && readSeq - writeSeq < ring_.size()) {
      Batch& b = ring_[readSeq % ring_.size()];
      if (!readBatch(s, b)) {
        inputEnded = true;
        break;
      }
      if (b.count < options_.batchRecords) inputEnded = true;
      {
        std::lock_guard<std::mutex> lock(mu_);
        b.seq = readSeq;
        b.chunks = (b.count + kChunkRecords - 1) / kChunkRecords;
        b.nextChunk = 0;
        b.chunksDone = 0;
        b.chainClaimed = false;
        b.phase = Phase::Parse;
      }
      workCv_.notify_all();
      ++readSeq;
    }
    if (writeSeq == readSeq) break;

    Batch& b = ring_[writeSeq % ring_.size()];
    if (!waitUntilDone(b, host)) {
      std::exception_ptr error;
      {
        std::lock_guard<std::mutex> lock(mu_);
        error = error_;
      }
      if (error) {
        shutdown();
        abandonRun(s);
        std::rethrow_exception(error);
      }
      stopped = true;
      break;
    }
    for (std::size_t i = 0; i < b.count; ++i) {
      if (host.stopRequested()) {
        stopped = true;
        break;
      }
      const Item& item = b.items[i];
      // The run state ends up as Main_loop leaves it: year_one set for the
      // first record and cleared by the first one computed; the carried
      // state that of the last record written.
      if (count == 1) s.year_one = true;
      if (item.reachedModel) s.year_one = false;
      if (carry_) {
        s.current_w = item.wAfter;
        s.current_ws = item.wsAfter;
      }
      out.Write(item.year);
      out.Write('\t');
      out.Write(std::string_view(item.row, item.rowLength));
      if (out.failed()) {
        shutdown();
        abandonRun(s);
        host.showMessage(outputFailedMessage(s));
        return RunOutcome::OutputFailed;
      }
      reportRow(host, count, item.bytesRead, precipBytesTotal);
      ++count;
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      b.phase = Phase::Free;
    }
    ++writeSeq;
  }

  shutdown();
  return finishRun(s, host, stopped);
}

}  // namespace

RunOutcome runParallel(RunState& s, Host& host, const ParallelOptions& options) {
  if (options.threads <= 1 || options.batchRecords == 0) return Main_loop(s, host);
  Engine engine(options);
  try {
    engine.start(options.threads);
  } catch (const std::system_error&) {
    // No threads to be had: the same run on this one.
    engine.shutdown();
    return Main_loop(s, host);
  }
  return engine.run(s, host);
}

}  // namespace vadoset
