#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vadoset {

/// The record engine: one climate record in, its water balance out, with the
/// soil water and snowpack carried from one record to the next. It does no
/// I/O and never allocates, so every front end (the table run, the parallel
/// run, the Python package, the window's charts) computes with it.
///
/// Months are indexed 0 (January) to 11 (December) here.
inline constexpr int kMonths = 12;
inline constexpr int kDaysInYear = 365;

/// Days in each month; February always has 28.
inline constexpr std::array<std::int32_t, kMonths> kDaysPerMonth = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

using MonthValues = std::array<double, kMonths>;

/// One record, in the model's units. A missing month is NaN.
struct RecordInput {
  std::string_view id;           // the identifier as read (not used by the model)
  double latitude = 0.0;         // decimal degrees, north positive; NaN when unusable
  MonthValues tmean{};           // monthly mean temperature, °C
  MonthValues ppt{};             // monthly precipitation, mm (the readers drop the fraction)
  double fieldCapacity = 100.0;  // mm
};

/// Why a record's row is null.
enum class NullReason : std::uint8_t {
  None = 0,
  LatitudeInvalid,        // latitude not a number, or outside -90 to 90
  PrecipitationMissing,   // month `month` of the precipitation file
  TemperatureMissing,     // month `month` of the temperature file
  FieldCapacityInvalid,   // the record's field capacity is not a positive number
  PerennialSnow,          // the snowpack grows every year
  NoSteadyState,          // no steady state within the pass limit
  NeverSettles,           // provably never settles: the soil loses water every pass
  TemperatureOutOfRange,  // month `month` of the temperature file is beyond the PET formula's range
};

/// How many reasons there are, None included.
inline constexpr int kNullReasonCount = static_cast<int>(NullReason::TemperatureOutOfRange) + 1;

/// The reason in words, for messages and reports: "month 2 of the
/// precipitation file is missing", "no steady state within 1002 passes".
std::string nullReasonText(NullReason reason, int month);

/// A short stable name for the reason ("precipitation_missing"), for
/// programs that read reports.
std::string_view nullReasonCode(NullReason reason);

/// The most passes over the year that a spin-up takes before its row is null.
inline constexpr std::int32_t kPassLimit = 1002;

/// The declining availability functions "A" to "H": the share of a deficit
/// day's shortfall that the soil gives up as it dries (docs/model.md).
enum class AvailabilityFunction : std::uint8_t { A, B, C, D, E, F, G, H };

/// The functions' letters, in order: the command line's --function, the
/// window's pop-up, Python's and R's `curve`.
inline constexpr std::string_view kAvailabilityLetters = "ABCDEFGH";

/// The function named by one letter from A to H, or nothing.
inline std::optional<AvailabilityFunction> availabilityFunction(std::string_view letter) {
  if (letter.size() != 1) return std::nullopt;
  const std::size_t i = kAvailabilityLetters.find(letter[0]);
  if (i == std::string_view::npos) return std::nullopt;
  return static_cast<AvailabilityFunction>(i);
}

inline char letterOf(AvailabilityFunction f) {
  return kAvailabilityLetters[static_cast<std::size_t>(f)];
}

/// What a run fixes for all of its records.
struct ModelParams {
  AvailabilityFunction function = AvailabilityFunction::G;
  bool carryover = false;  // soil water and snow carry from one record to the next
  // Tests only: spin every record up to its end, without the early end of a
  // year that provably never settles. The numbers are the same either way.
  bool exhaustiveSpinUp = false;
};

/// What one record hands to the next.
struct CarriedState {
  double soil = 0.0;    // soil water at the end of the last computed record, mm
  double snow = 0.0;    // snowpack water equivalent with it, mm
  bool yearOne = true;  // the next computed record is the run's first
};

/// The water balance of one record.
struct RecordResult {
  MonthValues pet{};      // potential evapotranspiration, mm
  MonthValues aet{};      // actual evapotranspiration, mm
  MonthValues surplus{};  // water surplus, mm
  MonthValues soil{};     // soil water at the end of each month of the last pass, mm
  MonthValues snow{};     // snowpack at the end of each month of the last pass, mm
  NullReason reason = NullReason::None;
  std::int8_t month = 0;    // 1 to 12: the missing month, when reason names one
  std::int32_t passes = 0;  // passes over the year the soil water took (0: not computed)

  bool isNull() const { return reason != NullReason::None; }
};

/// The annual sums of a computed record, each adding its months in order
/// (January first); the deficit adds each month's PET - AET.
struct AnnualTotals {
  double pet = 0.0, aet = 0.0, surplus = 0.0, deficit = 0.0;
};
AnnualTotals annualTotals(const RecordResult& r);

/// The daily soil water and snowpack of a record's last pass: element 0 is
/// the start of the year, element d the end of day d.
struct DayTrace {
  std::array<double, kDaysInYear + 1> soil{};
  std::array<double, kDaysInYear + 1> snow{};
};

/// The first reason found for a record that cannot be computed at all (its
/// latitude, then its precipitation months, its temperature months and its
/// field capacity), or None. `month` gets the missing month.
NullReason checkRecord(const RecordInput& in, std::int8_t& month);

/// The engine of one run. Copy it freely: each thread uses its own copy.
class RecordEngine {
 public:
  explicit RecordEngine(const ModelParams& params = {});

  const ModelParams& params() const { return params_; }

  /// Called once per pass of the year while a record spins up, never inside
  /// the day loop (the window keeps its events flowing with it).
  void setPassCallback(void (*callback)(void*), void* context) {
    passCallback_ = callback;
    passContext_ = context;
  }

  /// Checks the record, then computes its PET and its soil water. A record
  /// that cannot be computed leaves `carried` as it is. When `trace` is
  /// given it receives the daily values of the last pass.
  void compute(const RecordInput& in, CarriedState& carried, RecordResult& out, DayTrace* trace = nullptr);

  /// The PET step alone (fills out.pet); the record must have passed checkRecord.
  void Run_pet(const RecordInput& in, RecordResult& out);

  /// The day length in hours of each month at a latitude from -90 to 90
  /// degrees, as Run_pet takes it. The engine keeps about a thousand recent
  /// latitudes (by their bits), so each is worked out once. The reference
  /// holds until the next call.
  const MonthValues& dayLengths(double latitude);

  /// The checks and the PET of many records: out[i] gets the reason, month,
  /// passes (0) and pet that compute gives it before the soil water, and
  /// nothing else of out[i] changes. In vector lanes where the CPU has them,
  /// as computeBatch.
  void computePetBatch(std::span<const RecordInput> in, std::span<RecordResult> out);

  /// The soil-water step alone, on out.pet from Run_pet: fills aet,
  /// surplus, soil, snow, passes, and reason when no steady state is found.
  void Run_model(const RecordInput& in, CarriedState& carried, RecordResult& out, DayTrace* trace = nullptr);

  /// Carry-over: a guess at each record's year that needs none of the
  /// records before it, so that it can be made in vector lanes and on any
  /// thread. out[i] must hold the checks and PET (computePetBatch). starts[i]
  /// gets the state that the record before it ends in when it starts at
  /// field capacity with no snow, and out[i] and ends[i] the year from
  /// there. A year that fills the soil and melts its snow forgets where it
  /// started, so the guess is most often the chain's own state; chainYear
  /// then takes it. The first record, null rows and the records after them
  /// get no guess (their start has yearOne set).
  void guessYears(std::span<const RecordInput> in, std::span<RecordResult> out, std::span<CarriedState> starts,
                  std::span<CarriedState> ends);

  /// Carry-over: Run_model(in, carried, out), bit for bit, for a record
  /// whose year guessYears guessed from `start` to `end`: the guess is kept
  /// when `carried` is `start` to the bit (and not the run's first year),
  /// else the year is computed again.
  void chainYear(const RecordInput& in, CarriedState& carried, RecordResult& out, const CarriedState& start,
                 const CarriedState& end);

  /// Carry-over across many chains at once (the cells of a grid, each with
  /// its years): record i is the next year of chain i, whose state is
  /// carried[i]. out[i] must hold the checks and PET (computePetBatch); out[i]
  /// and carried[i] become what Run_model(in[i], carried[i], out[i]) makes of
  /// them for every record that can be computed. The years of chains past
  /// their first run side by side in vector lanes.
  void nextYears(std::span<const RecordInput> in, std::span<RecordResult> out, std::span<CarriedState> carried);

  /// Many records at once: out[i] is what compute(in[i], carried, out[i])
  /// gives, bit for bit, for i below the shorter span's size, and `carried`
  /// ends as that loop leaves it.
  ///
  /// Without carry-over (params.carryover false) the records are independent
  /// of each other, and this is the fast way to compute them: up to 32 of
  /// them run side by side in the vector lanes of one thread (AVX-512, or
  /// AVX2; the CPU is asked at run time, and VADOSET_SIMD=scalar|avx2|avx512
  /// can choose a level). Hand it hundreds of records per call; a few at a
  /// time leave most lanes idle. Records that cannot be computed
  /// (checkRecord) get their reason and month, passes 0, and nothing else
  /// of out[i] changes, as with compute; `carried` changes only in yearOne.
  ///
  /// With carry-over each record starts from the one before: one long chain.
  /// Its years are guessed in lanes (guessYears) and the chain keeps every
  /// guess that started where the record before it ended.
  ///
  /// When `carriedAfter` is given, carriedAfter[i] (for i below its size)
  /// gets the state as record i left it, as `carried` would be after
  /// compute(in[i], ...) in that loop.
  ///
  /// The pass callback, if any, is called once per pass of the year of the
  /// records in flight. Each thread needs its own engine.
  void computeBatch(std::span<const RecordInput> in, std::span<RecordResult> out, CarriedState& carried,
                    std::span<CarriedState> carriedAfter = {});

  /// Calls the pass callback, if one is set (for the lane engine).
  void passDone() const {
    if (passCallback_ != nullptr) passCallback_(passContext_);
  }

 private:
  ModelParams params_;
  void (*passCallback_)(void*) = nullptr;
  void* passContext_ = nullptr;
  // Day lengths by latitude, two to a set chosen by the latitude's bits:
  // every record of an HCN run, every year of a site and every row of a grid
  // of up to a thousand rows share theirs. An empty slot holds a NaN that no
  // latitude has.
  static constexpr int kDayLengthSetBits = 9;
  static constexpr std::size_t kDayLengthSets = std::size_t{1} << kDayLengthSetBits;
  static constexpr std::uint64_t kNoLatitude = 0x7ff4000000000badULL;
  struct DayLengthSet {
    std::uint64_t keys[2] = {kNoLatitude, kNoLatitude};
    std::uint8_t older = 0;  // the way to replace next
    MonthValues hours[2]{};
  };
  std::array<DayLengthSet, kDayLengthSets> dayLengthSets_{};
};

}  // namespace vadoset
