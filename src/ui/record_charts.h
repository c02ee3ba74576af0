#pragma once

#include <QSize>
#include <QString>
#include <functional>

#include "model/engine.h"

class QAbstractAxis;
class QChart;
class QColor;
class QLineSeries;

namespace vadoset {

/// One record's monthly water balance, mm per month.
struct MonthlyBalance {
  bool hasPrecipitation = false;
  MonthValues precipitation{};  // as the model used it
  MonthValues pet{}, aet{}, surplus{};
  MonthValues deficit{};  // PET - AET, as the table's DEFICIT columns
};

/// The balance of a computed record.
MonthlyBalance monthlyBalance(const RecordInput& in, const RecordResult& r);

/// Draws the monthly water-balance diagram in `chart`, in place of what it
/// showed: precipitation as bars (series "precipitation"), PET, AET, surplus
/// and deficit as lines ("pet", "aet", "surplus", "deficit"), each line in a
/// style of its own as well as a colour, the months along the bottom and mm
/// per month up the side. Without a balance the chart shows its title alone.
/// The subtitle goes below the title.
void drawMonthlyChart(QChart& chart, const QString& title, const QString& subtitle, const MonthlyBalance* balance);

/// Draws the daily soil water ("soil") and snowpack ("snow") of a record's
/// last pass over the year, days 0 to 365, with its field capacity as a
/// dashed line above them ("fieldCapacity").
void drawDailyChart(QChart& chart, const QString& title, const QString& subtitle, const DayTrace* trace,
                    double fieldCapacity);

/// Empties a chart for drawing: no series, no axes, the title and subtitle
/// set, the legend below with lines shown as lines, a white background.
void resetChart(QChart& chart, const QString& title, const QString& subtitle);
/// Axis labels in a smaller type than the titles.
void styleAxis(QAbstractAxis* axis);
/// A line series named `name` (its object name, which tests look for),
/// shown as `label`, drawn in `colour` and `style`, `width` pixels wide.
QLineSeries* lineSeries(const char* name, const QString& label, const QColor& colour, Qt::PenStyle style,
                        double width = 2.0);

/// The title and subtitle of every chart, in its own type, as the charts
/// above set them.
void setChartTitle(QChart& chart, const QString& title, const QString& subtitle);
/// A chart's title as plain text (its first line).
QString plainTitle(const QChart& chart);

/// Draws a chart's series, axes and titles into the chart it is given.
using ChartDrawing = std::function<void(QChart&)>;

/// The width charts are laid out at when saved, whatever their size on
/// screen: a saved chart looks the same from any window.
inline constexpr int kSavedChartWidth = 800;

/// Saves a chart, drawn afresh by `draw`, as a PNG picture of `pixels` or as
/// an SVG drawing of the same shape, by the file name's suffix: laid out
/// kSavedChartWidth wide (and as high as the shape makes it) on white, the
/// PNG scaled up to its size, the SVG titled with the chart's title. Gives
/// an empty string, or what went wrong; a file that could not be written
/// completely is not left behind.
QString saveChart(const ChartDrawing& draw, const QString& path, QSize pixels);

}  // namespace vadoset
