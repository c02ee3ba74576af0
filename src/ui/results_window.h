#pragma once

#include <QMainWindow>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include "ui/record_charts.h"
#include "ui/results_model.h"
#include "ui/run_record.h"

class QAction;
class QChart;
class QChartView;
class QDockWidget;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableView;
class QTimer;

namespace vadoset {

class FrozenTableView;
class OverviewView;
struct BudykoPoints;

/// The results window: the table of the last run (or of a table opened from
/// a file), every row with the null rows' reasons, numbers rounded for
/// reading (View > Decimals) with the identifiers' column kept in view, a
/// filter on the identifier and sorting by any column; beside it an overview
/// of every record in Budyko space; below, two charts of the selected
/// record, its monthly water balance and its daily soil water and snowpack;
/// and a panel of the run's warnings and null rows.
///
/// The charts of a run's record come from computing it again with the
/// record engine from the run's input files (see RecordSource): with
/// carry-over the records before it are computed again in order, in slices
/// between which the window goes on (the charts say how far it has come). A
/// table opened without a run gives the monthly chart from its own columns
/// and no daily chart. The overview is read on a thread of its own while the
/// window goes on.
class ResultsWindow final : public QMainWindow {
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
  /// Shows the panel of warnings and null rows.
  void showWarnings();
  /// Decimals shown for numbers (ResultsModel::kAllDigits for all).
  void setDecimals(int decimals);

  /// What the export buttons do once their file dialog has a name. Each
  /// gives an empty string, or what went wrong. A chart's PNG picture is
  /// `pixels` in size; an empty size takes defaultPictureSize().
  QString exportCsv(const QString& path) { return model_.writeCsv(path); }
  QString saveMonthlyChart(const QString& path, QSize pixels = {});
  QString saveDailyChart(const QString& path, QSize pixels = {});
  QString saveOverviewChart(const QString& path, QSize pixels = {});
  /// 1600 pixels wide, or twice the view's width when that is more, in the
  /// view's shape (kept between 0.55 and 0.8 high for 1 wide).
  static QSize defaultPictureSize(const QWidget& view);

  /// Copies the table's selected cells as tab-separated text with their
  /// columns' names (or the panel's selected lines, when it has the focus)
  /// and gives what was copied.
  QString copySelection();

  ResultsModel& model() { return model_; }
  QTableView* tableView() const;
  QChart* monthlyChart() const;
  QChart* dailyChart() const;
  QChart* overviewChart() const;
  QChartView* monthlyView() const { return monthly_.view; }
  QChartView* dailyView() const { return daily_.view; }
  OverviewView* overviewView() const { return overview_; }
  QListWidget* warningsList() const { return warnings_; }
  /// Whether each chart's Save button is enabled.
  bool canSave(const QChartView* view) const;

 signals:
  /// The overview of the table shown has been read and drawn.
  void overviewDrawn();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct ChartPanel {
    QChartView* view = nullptr;
    QPushButton* save = nullptr;
    QAction* saveAction = nullptr;
    ChartDrawing drawing;
  };
  void createMenus(QPushButton* open, QPushButton* csv);
  QWidget* chartColumn(ChartPanel& panel, QChartView* view, const char* what, const QString& button);
  void showChart(ChartPanel& panel, ChartDrawing drawing, bool hasData);
  QString openTable(const QString& path, std::shared_ptr<const NullReasons> reasons);
  void fitColumns();
  void fillWarnings();
  void drawCharts(std::size_t r);
  void drawFromTable(std::size_t r, const QString& id, const QString& why);
  bool tableAgrees(std::size_t r, const RecordResult& result);
  void restoreSelection();
  void showSource();
  void pickRow(std::size_t r);
  void startOverview();
  void stopOverview();
  void askOpenTable();
  void askExportCsv();
  void askSaveChart(ChartPanel& panel, const char* what);
  QString saveChart(const ChartPanel& panel, const QString& path, QSize pixels);

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
  FrozenTableView* table_ = nullptr;
  ChartPanel monthly_, daily_, overviewPanel_;
  OverviewView* overview_ = nullptr;
  QDockWidget* warningsDock_ = nullptr;
  QListWidget* warnings_ = nullptr;
  QLabel* about_ = nullptr;

  // The overview's points are read on a thread of their own.
  std::thread overviewWorker_;
  std::atomic<bool> overviewCancel_{false};
  std::uint64_t overviewGeneration_ = 0;
};

}  // namespace vadoset
