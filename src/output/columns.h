#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/engine.h"

namespace vadoset {

/// Groups of output columns, after the identifier.
enum class ColumnGroup : std::uint8_t { Classic, Deficit, Soil, Snow, Precip };

/// The characters that end each line of the table.
enum class LineEnding : std::uint8_t { Cr, Lf, CrLf };

/// One group of output columns: its name on the command line, its column
/// names and how its values come from a computed record.
struct ColumnGroupDescription {
  ColumnGroup group;
  std::string_view cliName;
  std::size_t width;  // columns in the group
  /// Appends the group's column names.
  void (*names)(std::vector<std::string>& out);
  /// Writes the group's `width` values.
  void (*values)(const RecordInput& in, const RecordResult& result, double* out);
};

/// Every column group, in the order --help lists them.
std::span<const ColumnGroupDescription> columnGroups();
const ColumnGroupDescription& columnGroup(ColumnGroup group);
const ColumnGroupDescription* findColumnGroup(std::string_view cliName);

/// The table's columns: the identifier, then the chosen groups. The header,
/// the rows and the room a row needs all come from it.
class TableLayout {
 public:
  explicit TableLayout(std::vector<ColumnGroup> groups = {ColumnGroup::Classic}, LineEnding ending = LineEnding::Cr);

  /// The header line, line end included.
  const std::string& header() const { return header_; }
  std::string_view lineEnd() const { return lineEnd_; }
  /// Columns after the identifier.
  std::size_t valueCount() const { return valueCount_; }
  /// The most bytes formatRowValues writes.
  std::size_t rowValuesBytes() const;

  /// Writes what follows the identifier and its tab: the values,
  /// tab-separated, or "*" for a null row, then the line end. Returns the
  /// length. `buf` holds at least rowValuesBytes().
  std::size_t formatRowValues(const RecordInput& in, const RecordResult& result, char* buf) const;

 private:
  std::vector<const ColumnGroupDescription*> groups_;
  std::size_t valueCount_ = 0;
  std::string lineEnd_;
  std::string header_;
};

}  // namespace vadoset
