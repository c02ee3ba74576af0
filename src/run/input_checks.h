#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "run/row_loop.h"

namespace vadoset {

class RunInputs;

/// Looks at the records of a run as they are written, for the mistakes
/// people make with their own files: the wrong format, files that do not
/// pair up, swapped files, missing-value codes taken as numbers. It never
/// changes the table; it only counts what it finds, and gives one warning a
/// kind, with the first place it was seen and what to do.
class InputChecks {
 public:
  /// Files are named in warnings by their names as the plan gives them.
  explicit InputChecks(const RunPlan& plan);

  /// The header lines, when the run starts.
  void headers(std::string_view precipHeader, std::string_view tmeanHeader);
  /// Every record, in order, once computed.
  void record(const RecordBatch& b, const RecordSlot& r);
  /// After the last record: what the ends of the files tell.
  void end(RunInputs& inputs, bool stopped);

  /// The warnings, one a kind, in the order the kinds were first seen.
  std::vector<std::string> warnings() const;

 private:
  struct Finding {
    std::string first;  // where it was first seen, and the value
    std::int64_t count = 0;
  };
  enum Kind : int {
    kLooksLikeCsv,
    kDecimalComma,
    kNulBytes,
    kLooksLikeHcn,
    kHeaderIsRecord,
    kRecordIsHeader,
    kIdsDiffer,
    kTemperatureEnded,
    kMoreTemperatures,
    kTemperatureRange,
    kNegativePrecipitation,
    kHugePrecipitation,
    kLatitude,
    kAllNull,
    kLinesCut,
    kKinds
  };
  // Counts one finding of a kind; true for the first, whose place is kept.
  bool count(Kind kind);
  void note(Kind kind, std::string first);
  std::string where(bool precip, std::uint64_t line) const;

  const RunPlan& plan_;
  std::string precipName_, tmeanName_;
  Finding found_[kKinds];
  int order_[kKinds];
  int seen_ = 0;
  std::int64_t records_ = 0;
  std::int64_t nulls_ = 0;
};

}  // namespace vadoset
