#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ui/table_file.h"

namespace vadoset {

class NullReasons;

/// The rows of an output table for a table view, read from the file as they
/// are shown (see TableFile), so that a table of millions of rows opens at
/// once and scrolls without holding it in memory.
///
/// Columns: the table's own, then "Null row reason": the reason recorded
/// during the run, or "null row" when there is none (a table opened without
/// a run). A null row's value cells are empty. The vertical header gives the
/// row's number in the table.
///
/// Numbers are shown rounded to setDecimals() places for reading; the
/// table's own text, every digit of it, is the tooltip, kExactRole, and
/// what copies and exports take.
///
/// Filtering and sorting keep their own list of the table's rows: the
/// identifiers are kept in memory when the table is opened; sorting by a
/// number column reads that column of every row once (one pass over the
/// file), with null rows last in either order; sorting is stable.
class ResultsModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit ResultsModel(QObject* parent = nullptr);

  /// The cell's text as the table holds it (the reason, in the last column).
  static constexpr int kExactRole = Qt::UserRole + 1;
  /// Decimals shown for numbers; kAllDigits shows them as the table has them.
  static constexpr int kAllDigits = -1;
  void setDecimals(int decimals);
  int decimals() const { return decimals_; }

  /// Shows the table at `path`. `reasons` may be null. Gives an empty
  /// string, or what went wrong (the model is then empty).
  QString open(const QString& path, std::shared_ptr<const NullReasons> reasons);
  /// Shows nothing.
  void clear();

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  /// Column -1 gives the table's own order.
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

  /// Shows only the rows whose identifier holds `text`, letters A to Z in
  /// either case; an empty text shows every row.
  void setFilter(const QString& text);

  /// The table row (from 0) shown at view row `row`, and the view row that
  /// shows table row `r` (-1 when it is filtered out).
  std::size_t tableRow(int row) const;
  int viewRow(std::size_t r) const;

  std::size_t tableRows() const { return table_.rows(); }
  /// The reason shown for table row r, empty for a row that is not null.
  QString reason(std::size_t r) const;
  TableFile& table() const { return table_; }
  int reasonColumn() const { return static_cast<int>(table_.columns().size()); }

  /// The exact text of table row r's column c (empty for a null row's
  /// values). The view stays valid until the next read of the table.
  std::string exactText(std::size_t r, int c) const;

  /// The cells of view rows `rows` and columns `columns` as tab-separated
  /// text, the columns' names first, one line each, with the table's exact
  /// text.
  QString tabText(const std::vector<int>& rows, const std::vector<int>& columns) const;

  /// Writes the rows as they are shown (filter and order) to a CSV file for
  /// spreadsheets: comma separated, LF line ends, a field quoted when it
  /// holds a comma, a double quote or a line break (RFC 4180), every row with
  /// every column, in the table's exact text. A cell that is not a number and
  /// starts with =, +, -, @, a tab or a CR, which a spreadsheet would take for
  /// a formula, is written quoted after an apostrophe. Gives an empty string,
  /// or what went wrong; the file only appears when it is complete.
  QString writeCsv(const QString& path) const;

 private:
  void rebuildView();
  void sortByIdentifier(bool ascending);
  void sortByReason(bool ascending);
  void sortByNumber(bool ascending);

  mutable TableFile table_;  // reading fills its cache
  std::shared_ptr<const NullReasons> reasons_;
  std::vector<std::uint32_t> order_;  // table rows in sorted order; empty: the table's order
  std::vector<std::uint32_t> view_;   // the rows shown, when filtered_
  bool filtered_ = false;
  QByteArray filter_;  // lower case
  int sortColumn_ = -1;
  Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
  std::vector<double> sortValues_;  // of sortColumn_, when it holds numbers
  int decimals_ = 1;
};

}  // namespace vadoset
