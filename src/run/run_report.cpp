#include "run/run_report.h"

#include <cstdio>

namespace vadoset {

void RunReport::start() {
  *this = RunReport();
}

void RunReport::nullRow(const NullRow& row) {
  ++nullRows_;
  for (NullCount& c : nulls_) {
    if (c.code == row.reasonCode()) {
      ++c.count;
      return;
    }
  }
  // An identifier can be megabytes long; a summary shows its start.
  std::string id(row.id.substr(0, 200));
  if (row.id.size() > 200) id += "...";
  nulls_.push_back({std::string(row.reasonCode()), 1, row.line, row.row, std::move(id), row.reasonText()});
}

std::string RunReport::outcomeText(const RunResult& result, std::string_view where) const {
  const std::string rows = std::to_string(rows_) + (rows_ == 1 ? " row" : " rows");
  if (!result.tableWritten) return {};
  if (result.outcome == RunOutcome::Stopped) return "stopped after " + rows + "; they are in " + std::string(where);
  if (result.outcome != RunOutcome::Completed) return {};
  const double secs = result.seconds;
  char speed[96];
  std::snprintf(speed, sizeof speed, " (%.2f s, %.0f records/s)", secs,
                secs > 0 ? static_cast<double>(rows_) / secs : 0.0);
  return rows + " written to " + std::string(where) + speed;
}

std::string RunReport::nullsText() const {
  if (nullRows_ == 0) return {};
  std::string text = std::to_string(nullRows_) + (nullRows_ == 1 ? " null row: " : " null rows: ");
  for (std::size_t i = 0; i < nulls_.size(); ++i) {
    if (i > 0) text += ", ";
    std::string name = nulls_[i].code;
    for (char& c : name)
      if (c == '_') c = ' ';
    text += std::to_string(nulls_[i].count) + " " + name;
  }
  return text;
}

}  // namespace vadoset
