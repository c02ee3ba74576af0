#pragma once

#include <QChartView>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/record_charts.h"

class QScatterSeries;

namespace vadoset {

struct RunRecord;
class TableFile;

/// Each record of a table as a point in Budyko space: the dryness index
/// PET/P across and the evaporative index AET/P up, from the table's annual
/// PET and AET and the record's annual precipitation P.
struct BudykoPoints {
  std::vector<double> x, y;         // PET / P and AET / P
  std::vector<std::uint32_t> rows;  // the table row (from 0) of each point, ascending
  std::size_t records = 0;          // the table's rows
  std::size_t nullRows = 0;         // left out: rows without annual sums
  std::size_t noPrecipitation = 0;  // left out: P is 0, or not known
  bool precipitationFromInputs = false;
  std::string error;  // why there are no points at all
};

/// The points of a table, from one pass over it: PET and AET from its
/// annual columns, P as the sum of its PRECIP_01 to PRECIP_12 columns where
/// it has them, else of each record's precipitation as the model used it,
/// read again from the run's input files (`run` may be null), in a pass of
/// its own at the same time. May run on another thread while the table
/// stays open; once `cancel` is set it stops early.
BudykoPoints readBudykoPoints(const TableFile& table, const RunRecord* run, const std::atomic<bool>& cancel);

/// Records above which the overview shows their density, not each point.
inline constexpr std::size_t kDensityAbove = 50000;

/// Draws the overview in `chart`: the points ("records") or, above
/// `densityAbove` of them, their density as the plot's shading; the energy
/// limit AET = PET ("energyLimit"), the water limit AET = P ("waterLimit"),
/// Budyko's curve ("budyko") and the point of table row `selected`
/// ("selected"). The axes reach PET/P 2 to 10 and AET/P 1.2 to 2, as far as
/// the points need; the subtitle counts the records left out.
void drawOverviewChart(QChart& chart, const BudykoPoints& points, std::optional<std::size_t> selected,
                       std::size_t densityAbove = kDensityAbove);

/// Moves the mark of the selected record in a drawn overview.
void markOverviewRow(QChart& chart, const BudykoPoints& points, std::optional<std::size_t> selected);

/// The overview chart in the results window: hovering names the nearest
/// record, clicking picks it.
class OverviewView final : public QChartView {
  Q_OBJECT

 public:
  explicit OverviewView(QWidget* parent = nullptr);

  /// Shows the points; `idOf` gives a table row's identifier.
  void showPoints(std::shared_ptr<const BudykoPoints> points, std::function<QString(std::size_t)> idOf);
  /// Shows a title and subtitle alone (while the points are read, or why
  /// there are none).
  void showText(const QString& title, const QString& subtitle);
  /// Marks table row r's point; nothing marks none.
  void markRow(std::optional<std::size_t> r);
  bool hasPoints() const { return points_ && !points_->x.empty(); }
  const BudykoPoints* points() const { return points_.get(); }
  /// What the chart shows, to draw it again for saving.
  ChartDrawing drawing() const;
  void setDensityAbove(std::size_t n) { densityAbove_ = n; }

  /// The point nearest to a place in the view, within a few pixels: its
  /// index in points(), or nothing.
  std::optional<std::size_t> pointAt(QPoint at) const;

 signals:
  void rowPicked(std::size_t row);

 protected:
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  std::shared_ptr<const BudykoPoints> points_;
  std::function<QString(std::size_t)> idOf_;
  std::optional<std::size_t> selected_;
  std::size_t densityAbove_ = kDensityAbove;
  QString title_, subtitle_;
};

}  // namespace vadoset
