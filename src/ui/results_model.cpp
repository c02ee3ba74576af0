#include "ui/results_model.h"

#include <QColor>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <climits>
#include <cmath>
#include <numeric>

#include "platform/text.h"
#include "platform/text_stream.h"
#include "ui/run_record.h"

namespace vadoset {

namespace {

char asciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool holds(std::string_view id, const QByteArray& lowerNeedle) {
  const auto it = std::search(id.begin(), id.end(), lowerNeedle.begin(), lowerNeedle.end(),
                              [](char a, char b) { return asciiLower(a) == b; });
  return it != id.end() || lowerNeedle.isEmpty();
}

QString fromUtf8(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// A number as a spreadsheet reads one: no blanks around it.
bool plainNumber(std::string_view field) {
  return !field.empty() && field.front() != ' ' && field.front() != '\t' && field.back() != ' ' &&
         field.back() != '\t' && ParseNumber(field).has_value();
}

// RFC 4180: a field with a comma, a double quote or a line break is quoted,
// its double quotes doubled. Spreadsheets run a cell that starts with =, +,
// -, @ (or a tab or CR before one) as a formula: such a cell, unless it is
// a number, keeps its text behind an apostrophe, which they do not show.
void writeCsvField(TextOutputStream& out, std::string_view field) {
  const bool formula = !field.empty() && std::string_view("=+-@\t\r").find(field.front()) != std::string_view::npos &&
                       !plainNumber(field);
  if (!formula && field.find_first_of(",\"\r\n") == std::string_view::npos) {
    out.Write(field);
    return;
  }
  out.Write('"');
  if (formula) out.Write('\'');
  for (char c : field) {
    if (c == '"') out.Write('"');
    out.Write(c);
  }
  out.Write('"');
}

// A number rounded for reading; -0.0 shows as 0.0.
QString rounded(std::string_view text, int decimals) {
  const std::optional<double> v = ParseNumber(text);
  if (!v || !std::isfinite(*v)) return fromUtf8(text);
  QString s = QString::number(*v, 'f', decimals);
  if (s.startsWith(u'-') && s.mid(1).toDouble() == 0.0) s.remove(0, 1);
  return s;
}

const std::string kNullRow = "null row";

}  // namespace

ResultsModel::ResultsModel(QObject* parent) : QAbstractTableModel(parent) {}

void ResultsModel::setDecimals(int decimals) {
  if (decimals == decimals_) return;
  decimals_ = decimals;
  if (rowCount() > 0 && reasonColumn() > 1)
    emit dataChanged(index(0, 1), index(rowCount() - 1, reasonColumn() - 1), {Qt::DisplayRole});
}

std::string ResultsModel::exactText(std::size_t r, int c) const {
  if (c == reasonColumn()) return reason(r).toStdString();
  if (c > 0 && table_.isNull(r)) return {};
  return std::string(table_.field(r, static_cast<std::size_t>(c)));
}

QString ResultsModel::tabText(const std::vector<int>& rows, const std::vector<int>& columns) const {
  std::string text;
  for (int c : columns) {
    if (!text.empty()) text += '\t';
    text += headerData(c, Qt::Horizontal).toString().toStdString();
  }
  text += '\n';
  for (int row : rows) {
    const std::size_t r = tableRow(row);
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if (i > 0) text += '\t';
      text += exactText(r, columns[i]);
    }
    text += '\n';
  }
  return QString::fromStdString(text);
}

QString ResultsModel::open(const QString& path, std::shared_ptr<const NullReasons> reasons) {
  beginResetModel();
  reasons_ = std::move(reasons);
  order_.clear();
  sortColumn_ = -1;
  sortOrder_ = Qt::AscendingOrder;
  sortValues_.clear();
  const std::string error = table_.open(QFile::encodeName(path).toStdString());
  rebuildView();
  endResetModel();
  return fromUtf8(error);
}

void ResultsModel::clear() {
  beginResetModel();
  table_.close();
  reasons_.reset();
  order_.clear();
  sortColumn_ = -1;
  sortValues_.clear();
  rebuildView();
  endResetModel();
}

int ResultsModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  const std::size_t n = filtered_ ? view_.size() : table_.rows();
  return static_cast<int>(std::min<std::size_t>(n, INT_MAX));
}

int ResultsModel::columnCount(const QModelIndex& parent) const {
  if (parent.isValid() || table_.columns().empty()) return 0;
  return reasonColumn() + 1;
}

std::size_t ResultsModel::tableRow(int row) const {
  const auto i = static_cast<std::size_t>(row);
  if (filtered_) return view_[i];
  return order_.empty() ? i : order_[i];
}

int ResultsModel::viewRow(std::size_t r) const {
  const std::vector<std::uint32_t>& rows = filtered_ ? view_ : order_;
  if (!filtered_ && order_.empty()) return r < table_.rows() ? static_cast<int>(r) : -1;
  const auto it = std::find(rows.begin(), rows.end(), static_cast<std::uint32_t>(r));
  return it == rows.end() ? -1 : static_cast<int>(it - rows.begin());
}

QString ResultsModel::reason(std::size_t r) const {
  if (!table_.isNull(r)) return {};
  const std::string* text = reasons_ ? reasons_->find(static_cast<std::int64_t>(r) + 1) : nullptr;
  return fromUtf8(text != nullptr ? *text : kNullRow);
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const std::size_t r = tableRow(index.row());
  const int c = index.column();
  switch (role) {
    case Qt::DisplayRole:
      if (c == reasonColumn()) return reason(r);
      if (c > 0 && table_.isNull(r)) return {};
      if (c > 0 && decimals_ >= 0) return rounded(table_.field(r, static_cast<std::size_t>(c)), decimals_);
      return fromUtf8(table_.field(r, static_cast<std::size_t>(c)));
    case kExactRole:
      return QString::fromStdString(exactText(r, c));
    case Qt::ToolTipRole:
      // The reason of a null row, else the cell as the table holds it.
      if (table_.isNull(r)) return reason(r);
      if (c == reasonColumn()) return {};
      return fromUtf8(table_.field(r, static_cast<std::size_t>(c)));
    case Qt::TextAlignmentRole:
      if (c > 0 && c < reasonColumn()) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
      return {};
    case Qt::ForegroundRole:
      return table_.isNull(r) ? QVariant(QColor(112, 112, 112)) : QVariant();
    default:
      return {};
  }
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return QString::number(tableRow(section) + 1);
  if (section == reasonColumn()) return QStringLiteral("Null row reason");
  if (section < 0 || section > reasonColumn()) return {};
  return fromUtf8(table_.columns()[static_cast<std::size_t>(section)]);
}

void ResultsModel::sort(int column, Qt::SortOrder order) {
  // QTableView::sortByColumn asks twice.
  if (column == sortColumn_ && (order == sortOrder_ || column < 0)) return;
  beginResetModel();
  sortOrder_ = order;
  const std::size_t n = table_.rows();
  const bool ascending = order == Qt::AscendingOrder;
  if (column < 0 || column > reasonColumn() || n > UINT32_MAX) {
    order_.clear();
    column = -1;
  } else {
    order_.resize(n);
    std::iota(order_.begin(), order_.end(), 0u);
    if (column == 0) {
      sortByIdentifier(ascending);
    } else {
      // Rows without a number (null rows) go last in either order. The
      // reason column sorts the null rows by their reasons, after the rest.
      if (column != sortColumn_ || sortValues_.size() != n)
        sortValues_ = table_.columnValues(column == reasonColumn() ? 1 : static_cast<std::size_t>(column));
      if (column == reasonColumn())
        sortByReason(ascending);
      else
        sortByNumber(ascending);
    }
  }
  sortColumn_ = column;
  rebuildView();
  endResetModel();
}

void ResultsModel::sortByReason(bool ascending) {
  const std::size_t n = order_.size();
  std::vector<const std::string*> key(n, nullptr);
  for (std::size_t r = 0; r < n; ++r) {
    if (!std::isnan(sortValues_[r])) continue;
    const std::string* text = reasons_ ? reasons_->find(static_cast<std::int64_t>(r) + 1) : nullptr;
    key[r] = text != nullptr ? text : &kNullRow;
  }
  std::stable_sort(order_.begin(), order_.end(), [&key, ascending](std::uint32_t a, std::uint32_t b) {
    if (key[a] == nullptr || key[b] == nullptr) return key[a] == nullptr && key[b] != nullptr;
    return ascending ? *key[a] < *key[b] : *key[b] < *key[a];
  });
}

// (key, row) pairs sort faster than rows compared through the values; the
// row breaks ties, which keeps the sort stable.
void ResultsModel::sortByNumber(bool ascending) {
  const std::size_t n = order_.size();
  const std::vector<double>& v = sortValues_;
  std::vector<std::pair<double, std::uint32_t>> keyed(n);
  for (std::size_t r = 0; r < n; ++r) {
    const double key = std::isnan(v[r]) ? HUGE_VAL : (ascending ? v[r] : -v[r]);
    keyed[r] = {key, static_cast<std::uint32_t>(r)};
  }
  std::sort(keyed.begin(), keyed.end());
  for (std::size_t i = 0; i < n; ++i) order_[i] = keyed[i].second;
}

void ResultsModel::sortByIdentifier(bool ascending) {
  // The first 16 bytes of each identifier as two big-endian numbers decide
  // most comparisons without going to the identifiers themselves.
  struct Keyed {
    std::uint64_t a, b;
    std::uint32_t row;
  };
  const std::size_t n = order_.size();
  std::vector<Keyed> keyed(n);
  for (std::size_t r = 0; r < n; ++r) {
    const std::string_view id = table_.id(r);
    std::uint64_t part[2] = {0, 0};
    for (std::size_t i = 0; i < 16 && i < id.size(); ++i)
      part[i / 8] |= std::uint64_t{static_cast<unsigned char>(id[i])} << (56 - 8 * (i % 8));
    keyed[r] = {part[0], part[1], static_cast<std::uint32_t>(r)};
  }
  std::sort(keyed.begin(), keyed.end(), [this, ascending](const Keyed& x, const Keyed& y) {
    if (x.a != y.a) return ascending == (x.a < y.a);
    if (x.b != y.b) return ascending == (x.b < y.b);
    const int c = table_.id(x.row).compare(table_.id(y.row));
    if (c != 0) return ascending == (c < 0);
    return x.row < y.row;
  });
  for (std::size_t i = 0; i < n; ++i) order_[i] = keyed[i].row;
}

void ResultsModel::setFilter(const QString& text) {
  QByteArray lower = text.toUtf8();
  for (char& c : lower) c = asciiLower(c);
  if (lower == filter_) return;
  beginResetModel();
  filter_ = lower;
  rebuildView();
  endResetModel();
}

void ResultsModel::rebuildView() {
  filtered_ = !filter_.isEmpty();
  view_.clear();
  if (!filtered_) return;
  const std::size_t n = std::min<std::size_t>(table_.rows(), UINT32_MAX);
  if (order_.empty()) {
    for (std::size_t r = 0; r < n; ++r)
      if (holds(table_.id(r), filter_)) view_.push_back(static_cast<std::uint32_t>(r));
  } else {
    for (std::uint32_t r : order_)
      if (holds(table_.id(r), filter_)) view_.push_back(r);
  }
}

QString ResultsModel::writeCsv(const QString& path) const {
  const QString failed = QStringLiteral("The file %1 could not be written.").arg(QFileInfo(path).fileName());
  std::unique_ptr<TextOutputStream> out = TextOutputStream::createFile(QFile::encodeName(path).toStdString());
  if (!out) return failed;
  const std::size_t values = table_.columns().size();
  for (std::size_t c = 0; c < values; ++c) {
    writeCsvField(*out, table_.columns()[c]);
    out->Write(',');
  }
  out->Write("Null row reason\n");
  const int rows = rowCount();
  for (int i = 0; i < rows && !out->failed(); ++i) {
    const std::size_t r = tableRow(i);
    const bool isNull = table_.isNull(r);
    for (std::size_t c = 0; c < values; ++c) {
      if (c == 0 || !isNull) writeCsvField(*out, table_.field(r, c));
      out->Write(',');
    }
    if (isNull) writeCsvField(*out, reason(r).toStdString());
    out->Write('\n');
  }
  if (!out->commit()) return failed;
  return {};
}

}  // namespace vadoset
