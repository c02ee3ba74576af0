#pragma once

#include <QWidget>
#include <memory>
#include <optional>

#include "ui/results_model.h"
#include "ui/run_record.h"

class QChart;
class QChartView;
class QLabel;
class QLineEdit;
class QTableView;
class QTimer;

namespace vadoset {

/// The results window: the table of the last run (or of a table opened from
/// a file), every row with the null rows' reasons, a filter on the
/// identifier and sorting by any column; below it two charts of the selected
/// record, its monthly water balance and its daily soil water and snowpack.
///
/// The charts of a run's record come from computing it again with the
/// record engine from the run's input files (see RecordSource): with
/// carry-over the records before it are computed again in order, in slices
/// between which the window goes on (the charts say how far it has come). A table
/// opened without a run gives the monthly chart from its own columns and no
/// daily chart.
class ResultsWindow final : public QWidget {
  Q_OBJECT

 public:
  explicit ResultsWindow(QWidget* parent = nullptr);
  ~ResultsWindow() override;

  /// Shows a run's table and selects its first row. Gives an empty string,
  /// or what went wrong (also shown in the window).
  QString showRun(std::shared_ptr<const RunRecord> run);
  /// Shows a table from a file, without a run.
  QString showTable(const QString& path);

  /// Selects table row r (from 0) when it is shown, and draws its charts.
  void selectTableRow(std::size_t r);
  /// The table row whose charts are shown.
  std::optional<std::size_t> selectedTableRow() const { return selected_; }

  /// What the export buttons do once their file dialog has a name. Each
  /// gives an empty string, or what went wrong.
  QString exportCsv(const QString& path) { return model_.writeCsv(path); }
  QString saveMonthlyChart(const QString& path);
  QString saveDailyChart(const QString& path);

  ResultsModel& model() { return model_; }
  QTableView* tableView() const { return table_; }
  QChart* monthlyChart() const;
  QChart* dailyChart() const;
  QChartView* monthlyView() const { return monthlyView_; }
  QChartView* dailyView() const { return dailyView_; }

 private:
  QString openTable(const QString& path, std::shared_ptr<const NullReasons> reasons);
  void drawCharts(std::size_t r);
  void drawFromTable(std::size_t r, const QString& id, const QString& why);
  bool tableAgrees(std::size_t r, const RecordResult& result);
  void restoreSelection();
  void showSource();
  void askOpenTable();
  void askExportCsv();
  void askSaveChart(QChartView* view, const char* what);

  ResultsModel model_;
  std::shared_ptr<const RunRecord> run_;
  std::unique_ptr<RecordSource> source_;
  QString sourceError_;
  QString tablePath_;
  std::optional<std::size_t> selected_;
  bool loading_ = false;  // a table is being opened: no selection to restore yet

  QLineEdit* filter_ = nullptr;
  QTimer* filterTimer_ = nullptr;
  QTimer* chainTimer_ = nullptr;  // the next slice of a carry-over chain
  QLabel* count_ = nullptr;
  QTableView* table_ = nullptr;
  QChartView* monthlyView_ = nullptr;
  QChartView* dailyView_ = nullptr;
  QLabel* about_ = nullptr;
};

}  // namespace vadoset
