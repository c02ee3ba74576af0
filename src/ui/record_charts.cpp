#include "ui/record_charts.h"

#include <QBarSeries>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGraphicsScene>
#include <QImage>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QSaveFile>
#include <QSvgGenerator>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace vadoset {

MonthlyBalance monthlyBalance(const RecordInput& in, const RecordResult& r) {
  MonthlyBalance b;
  b.hasPrecipitation = true;
  b.precipitation = in.ppt;
  b.pet = r.pet;
  b.aet = r.aet;
  b.surplus = r.surplus;
  for (int m = 0; m < kMonths; ++m) b.deficit[m] = r.pet[m] - r.aet[m];
  return b;
}

namespace {

constexpr const char* kMonthNames[kMonths] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

void resetChart(QChart& chart, const QString& title, const QString& subtitle) {
  chart.removeAllSeries();
  for (QAbstractAxis* axis : chart.axes()) {
    chart.removeAxis(axis);
    delete axis;
  }
  setChartTitle(chart, title, subtitle);
  // Lines show in the legend as lines, dashed where they are dashed.
  chart.legend()->setVisible(true);
  chart.legend()->setAlignment(Qt::AlignBottom);
  chart.legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);
  QFont legend = chart.legend()->font();
  legend.setPixelSize(11);
  chart.legend()->setFont(legend);
  chart.setAnimationOptions(QChart::NoAnimation);
  // White on any desktop theme, and in saved pictures.
  chart.setBackgroundBrush(Qt::white);
  chart.setPlotAreaBackgroundVisible(false);
}

namespace {

QValueAxis* valueAxis(const QString& title, double low, double high) {
  auto* axis = new QValueAxis;
  axis->setTitleText(title);
  if (!(high > low)) high = low + 1.0;
  axis->setRange(low, high + (high - low) * 0.05);
  axis->applyNiceNumbers();
  axis->setLabelFormat(QStringLiteral("%g"));
  return axis;
}

}  // namespace

QLineSeries* lineSeries(const char* name, const QString& label, const QColor& colour, Qt::PenStyle style,
                        double width) {
  auto* s = new QLineSeries;
  s->setObjectName(QLatin1String(name));
  s->setName(label);
  QPen pen(colour);
  pen.setWidthF(width);
  pen.setStyle(style);
  s->setPen(pen);
  return s;
}

// Labels in a smaller type than the titles, so that twelve months fit.
void styleAxis(QAbstractAxis* axis) {
  QFont labels = axis->labelsFont();
  labels.setPixelSize(10);
  axis->setLabelsFont(labels);
  QFont title = axis->titleFont();
  title.setPixelSize(11);
  axis->setTitleFont(title);
}

namespace {

void attach(QChart& chart, QAbstractSeries* series, QAbstractAxis* x, QAbstractAxis* y) {
  chart.addSeries(series);
  series->attachAxis(x);
  series->attachAxis(y);
}

}  // namespace

void setChartTitle(QChart& chart, const QString& title, const QString& subtitle) {
  QString text = u"<b>"_s + title.toHtmlEscaped() + u"</b>"_s;
  QFont font = chart.titleFont();
  font.setPixelSize(14);
  chart.setTitleFont(font);
  if (!subtitle.isEmpty()) text += u"<br><small>"_s + subtitle.toHtmlEscaped() + u"</small>"_s;
  chart.setTitle(text);
  chart.setProperty("plainTitle", title);
}

QString plainTitle(const QChart& chart) {
  return chart.property("plainTitle").toString();
}

void drawMonthlyChart(QChart& chart, const QString& title, const QString& subtitle, const MonthlyBalance* b) {
  resetChart(chart, title, subtitle);
  if (b == nullptr) return;
  // Month m at x = m; a category axis with its labels centred, as the bar
  // category axis cuts short labels that would fit.
  auto* x = new QCategoryAxis;
  x->setTitleText(QStringLiteral("Month"));
  x->setStartValue(-0.5);
  x->setRange(-0.5, kMonths - 0.5);
  x->setLabelsPosition(QCategoryAxis::AxisLabelsPositionCenter);
  for (int m = 0; m < kMonths; ++m) x->append(QLatin1String(kMonthNames[m]), m + 0.5);
  double low = 0.0, high = 0.0;
  const MonthValues* all[] = {&b->precipitation, &b->pet, &b->aet, &b->surplus, &b->deficit};
  for (const MonthValues* values : all) {
    if (values == &b->precipitation && !b->hasPrecipitation) continue;
    for (double v : *values) {
      if (!std::isfinite(v)) continue;
      low = std::min(low, v);
      high = std::max(high, v);
    }
  }
  // A deficit a rounding below zero does not move the axis below zero.
  if (low > -0.01) low = 0.0;
  auto* y = valueAxis(QStringLiteral("Water (mm per month)"), low, high);
  styleAxis(x);
  styleAxis(y);
  chart.addAxis(x, Qt::AlignBottom);
  chart.addAxis(y, Qt::AlignLeft);
  if (b->hasPrecipitation) {
    auto* bars = new QBarSeries;
    bars->setObjectName(QStringLiteral("precipitation"));
    auto* set = new QBarSet(QStringLiteral("Precipitation"));
    for (double v : b->precipitation) set->append(v);
    set->setColor(QColor(150, 190, 230));
    set->setBorderColor(QColor(110, 150, 200));
    bars->append(set);
    bars->setBarWidth(0.6);
    attach(chart, bars, x, y);
    // A filled box, as the bars are.
    for (QLegendMarker* m : chart.legend()->markers(bars)) m->setShape(QLegend::MarkerShapeRectangle);
  }
  const struct {
    const char* name;
    const char* label;
    const MonthValues& values;
    QColor colour;
    Qt::PenStyle style;
    double width;
  } lines[] = {// PET solid, wide and under AET's dashes, so that both show where
               // they are equal; each line has a style of its own, for prints in grey.
               {"pet", "PET", b->pet, QColor(240, 150, 60), Qt::SolidLine, 4.5},
               {"aet", "AET", b->aet, QColor(20, 110, 40), Qt::DashLine, 2.0},
               {"surplus", "Surplus", b->surplus, QColor(30, 70, 190), Qt::DashDotLine, 2.0},
               {"deficit", "Deficit", b->deficit, QColor(170, 30, 30), Qt::DotLine, 2.5}};
  for (const auto& l : lines) {
    QLineSeries* s = lineSeries(l.name, QString::fromUtf8(l.label), l.colour, l.style, l.width);
    for (int m = 0; m < kMonths; ++m) s->append(m, l.values[m]);
    attach(chart, s, x, y);
  }
}

void drawDailyChart(QChart& chart, const QString& title, const QString& subtitle, const DayTrace* trace,
                    double fieldCapacity) {
  resetChart(chart, title, subtitle);
  if (trace == nullptr) return;
  // Days 0 (the start of the year) to 365, with the months marked.
  auto* x = new QCategoryAxis;
  x->setTitleText(QStringLiteral("Day of the year"));
  x->setRange(0, kDaysInYear);
  x->setLabelsPosition(QCategoryAxis::AxisLabelsPositionCenter);
  int monthEnd = 0;
  for (int m = 0; m < kMonths; ++m) x->append(QLatin1String(kMonthNames[m]), monthEnd += kDaysPerMonth[m]);
  double high = fieldCapacity;
  for (int d = 0; d <= kDaysInYear; ++d) high = std::max({high, trace->soil[d], trace->snow[d]});
  auto* y = valueAxis(QStringLiteral("Water (mm)"), 0.0, high);
  styleAxis(x);
  styleAxis(y);
  chart.addAxis(x, Qt::AlignBottom);
  chart.addAxis(y, Qt::AlignLeft);
  QLineSeries* soil = lineSeries("soil", QStringLiteral("Soil water"), QColor(120, 80, 30), Qt::SolidLine);
  QLineSeries* snow =
      lineSeries("snow", QStringLiteral("Snowpack (water equivalent)"), QColor(60, 140, 210), Qt::SolidLine);
  for (int d = 0; d <= kDaysInYear; ++d) {
    soil->append(d, trace->soil[d]);
    snow->append(d, trace->snow[d]);
  }
  // Drawn last, so that a soil full to field capacity does not hide it.
  QLineSeries* fc =
      lineSeries("fieldCapacity", QStringLiteral("Field capacity"), QColor(60, 60, 60), Qt::DashLine, 1.5);
  fc->append(0, fieldCapacity);
  fc->append(kDaysInYear, fieldCapacity);
  for (QLineSeries* s : {soil, snow, fc}) attach(chart, s, x, y);
}

QString saveChart(const ChartDrawing& draw, const QString& path, QSize pixels) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  const QString failed = QStringLiteral("The file %1 could not be written.").arg(QFileInfo(path).fileName());
  if (suffix != u"png"_s && suffix != u"svg"_s) return QStringLiteral("Save the chart as a .png or .svg file.");
  if (pixels.width() < 1 || pixels.height() < 1 || pixels.width() > 20000 || pixels.height() > 20000)
    return QStringLiteral("A picture is 1 to 20000 pixels wide and high.");
  // The chart laid out afresh in a scene of its own, so that the window's
  // charts keep their size.
  const double scale = pixels.width() / double(kSavedChartWidth);
  const QSizeF layout(kSavedChartWidth, pixels.height() / scale);
  QGraphicsScene scene;
  auto* chart = new QChart;
  scene.addItem(chart);
  chart->setMargins(QMargins(8, 8, 8, 8));
  chart->resize(layout);
  draw(*chart);
  // Its title, axes and legend are laid out when its posted events come through.
  QCoreApplication::sendPostedEvents();
  const QRectF source(QPointF(0, 0), layout);
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return failed;
  if (suffix == u"svg"_s) {
    QSvgGenerator svg;
    svg.setOutputDevice(&file);
    svg.setSize(layout.toSize());
    svg.setViewBox(source);
    svg.setTitle(plainTitle(*chart));
    svg.setDescription(QStringLiteral("Drawn by Vadoset"));
    QPainter painter;
    if (!painter.begin(&svg)) return failed;
    painter.fillRect(source, Qt::white);
    scene.render(&painter, source, source);
    painter.end();
  } else {
    QImage image(pixels, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    scene.render(&painter, QRectF(QPointF(0, 0), QSizeF(pixels)), source);
    painter.end();
    if (!image.save(&file, "PNG")) return failed;
  }
  if (!file.commit()) return failed;
  return {};
}

}  // namespace vadoset
