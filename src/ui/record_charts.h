#pragma once

#include <QString>

#include "model/engine.h"

class QChart;
class QChartView;

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
/// and deficit as lines ("pet", "aet", "surplus", "deficit"), the months
/// along the bottom and mm per month up the side. Without a balance the
/// chart shows its title alone. The subtitle goes below the title.
void drawMonthlyChart(QChart& chart, const QString& title, const QString& subtitle, const MonthlyBalance* balance);

/// Draws the daily soil water ("soil") and snowpack ("snow") of a record's
/// last pass over the year, days 0 to 365, with its field capacity as a line
/// ("fieldCapacity").
void drawDailyChart(QChart& chart, const QString& title, const QString& subtitle, const DayTrace* trace,
                    double fieldCapacity);

/// Saves what the view shows as a PNG picture or an SVG drawing, by the
/// file name's suffix. Gives an empty string, or what went wrong; a file that
/// could not be written completely is not left behind.
QString saveChart(QChartView& view, const QString& path);

}  // namespace vadoset
