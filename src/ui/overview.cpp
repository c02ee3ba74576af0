#include "ui/overview.h"

#include <QChart>
#include <QImage>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QScatterSeries>
#include <QToolTip>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

#include "input/record_file.h"
#include "ui/record_charts.h"
#include "ui/run_record.h"
#include "ui/table_file.h"

using namespace Qt::StringLiterals;

namespace vadoset {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kDensityColumns = 200, kDensityRows = 150;
constexpr double kPickPixels = 8.0;

// Each record's annual precipitation as the model used it, read again from
// the precipitation file alone: record k is the table's row k.
std::vector<double> precipitationFromInputs(const RunRecord& run, std::size_t rows, const std::atomic<bool>& cancel,
                                            bool& failed) {
  std::vector<double> p(rows, kNaN);
  RecordFile file;
  failed = !file.open(run.precipPath, *run.format) || !file.has(0);
  RecordInput in;
  std::string text;
  for (std::size_t k = 0; k < rows && !failed; ++k) {
    if (k % 4096 == 0 && cancel.load(std::memory_order_relaxed)) break;
    if (!file.has(k + 1)) break;
    readRecord(*run.format, file.record(k + 1), {}, run.read, in, text);
    double sum = 0.0;
    for (double v : in.ppt) sum += v;
    p[k] = sum;
  }
  failed = failed || file.failed();
  return p;
}

QString count(std::size_t n, const char* one, const char* many) {
  return QString::number(n) + u' ' + QLatin1String(n == 1 ? one : many);
}

// The axes' reach: as far as the points go, within bounds that keep the
// limits and the curve in view and a desert or two from squeezing the rest.
std::pair<double, double> axisReach(const BudykoPoints& p) {
  double maxX = 0.0, maxY = 0.0;
  for (std::size_t i = 0; i < p.x.size(); ++i) {
    maxX = std::max(maxX, p.x[i]);
    maxY = std::max(maxY, p.y[i]);
  }
  return {std::clamp(std::ceil(maxX), 2.0, 10.0), std::clamp(std::ceil(maxY * 5.0) / 5.0, 1.2, 2.0)};
}

// Records per cell of the plot as shades of blue, darker for more (on a log
// scale); empty cells are clear. Row 0 is the top.
QImage densityImage(const BudykoPoints& p, double reachX, double reachY) {
  std::vector<std::uint32_t> cells(std::size_t{kDensityColumns} * kDensityRows, 0);
  std::uint32_t most = 0;
  for (std::size_t i = 0; i < p.x.size(); ++i) {
    if (p.x[i] > reachX || p.y[i] > reachY) continue;
    const int cx = std::min(kDensityColumns - 1, static_cast<int>(p.x[i] / reachX * kDensityColumns));
    const int cy = std::min(kDensityRows - 1, static_cast<int>(p.y[i] / reachY * kDensityRows));
    std::uint32_t& c = cells[std::size_t(kDensityRows - 1 - cy) * kDensityColumns + std::size_t(cx)];
    most = std::max(most, ++c);
  }
  QImage image(kDensityColumns, kDensityRows, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  const double scale = std::log1p(static_cast<double>(most));
  for (int row = 0; row < kDensityRows; ++row) {
    for (int col = 0; col < kDensityColumns; ++col) {
      const std::uint32_t c = cells[std::size_t(row) * kDensityColumns + std::size_t(col)];
      if (c == 0) continue;
      const double t = scale > 0 ? 0.25 + 0.75 * std::log1p(static_cast<double>(c)) / scale : 1.0;
      image.setPixel(
          col, row,
          qRgb(static_cast<int>(200 - 190 * t), static_cast<int>(215 - 175 * t), static_cast<int>(240 - 130 * t)));
    }
  }
  return image;
}

}  // namespace

BudykoPoints readBudykoPoints(const TableFile& table, const RunRecord* run, const std::atomic<bool>& cancel) {
  BudykoPoints p;
  p.records = table.rows();
  const std::vector<std::string>& names = table.columns();
  auto column = [&names](const std::string& name) -> std::size_t {
    const auto it = std::find(names.begin(), names.end(), name);
    return it == names.end() ? 0 : static_cast<std::size_t>(it - names.begin());
  };
  std::vector<std::size_t> wanted = {column("PET"), column("AET")};
  for (int m = 1; m <= kMonths; ++m) wanted.push_back(column((m < 10 ? "PRECIP_0" : "PRECIP_") + std::to_string(m)));
  if (wanted[0] == 0 || wanted[1] == 0) {
    p.error = "The table has no annual PET and AET columns.";
    return p;
  }
  const bool precipColumns = std::find(wanted.begin() + 2, wanted.end(), 0) == wanted.end();
  if (!precipColumns) {
    wanted.resize(2);
    if (run == nullptr || run->format == nullptr) {
      p.error =
          "The overview needs each record's precipitation: open the table of a run in this window, or a table "
          "written with the PRECIP columns (vadoset-cli --columns classic,precip).";
      return p;
    }
    p.precipitationFromInputs = true;
  }
  // The precipitation file and the table are read at the same time.
  std::vector<double> fromInputs;
  bool inputsFailed = false;
  std::thread inputs;
  if (!precipColumns)
    inputs = std::thread([&] { fromInputs = precipitationFromInputs(*run, p.records, cancel, inputsFailed); });
  const std::vector<std::vector<double>> values = table.columnValues(wanted, &cancel);
  if (inputs.joinable()) inputs.join();
  if (inputsFailed) {
    p.error = "The run's precipitation file could not be read again.";
    return p;
  }
  for (std::size_t r = 0; r < p.records; ++r) {
    double precip = 0.0;
    if (precipColumns)
      for (std::size_t m = 2; m < values.size(); ++m) precip += values[m][r];
    else
      precip = fromInputs[r];
    const double pet = values[0][r], aet = values[1][r];
    if (std::isnan(pet) || std::isnan(aet)) {
      ++p.nullRows;
    } else if (!(precip > 0.0)) {
      ++p.noPrecipitation;
    } else {
      p.x.push_back(pet / precip);
      p.y.push_back(aet / precip);
      p.rows.push_back(static_cast<std::uint32_t>(r));
    }
  }
  return p;
}

void drawOverviewChart(QChart& chart, const BudykoPoints& p, std::optional<std::size_t> selected,
                       std::size_t densityAbove) {
  const auto [reachX, reachY] = axisReach(p);
  std::size_t beyond = 0;
  for (std::size_t i = 0; i < p.x.size(); ++i) beyond += p.x[i] > reachX || p.y[i] > reachY;
  const bool density = p.x.size() > densityAbove;
  QStringList out;
  if (p.nullRows > 0) out << count(p.nullRows, "null row", "null rows");
  if (p.noPrecipitation > 0) out << count(p.noPrecipitation, "without precipitation", "without precipitation");
  if (beyond > 0) out << count(beyond, "beyond the axes", "beyond the axes");
  QString subtitle = u"%1 of %2 records"_s.arg(p.x.size() - beyond).arg(p.records);
  if (!out.isEmpty()) subtitle += u"; left out: "_s + out.join(u", "_s);
  subtitle += p.precipitationFromInputs ? u"; P from the input files"_s : u"; P from the PRECIP columns"_s;
  if (density) subtitle += u"; shade: records per cell"_s;
  resetChart(chart, u"All records in Budyko space"_s, subtitle);

  auto* x = new QValueAxis;
  x->setTitleText(u"PET / P (dryness index)"_s);
  x->setRange(0.0, reachX);
  x->setTickCount(static_cast<int>(reachX) + 1);
  x->setLabelFormat(u"%g"_s);
  auto* y = new QValueAxis;
  y->setTitleText(u"AET / P (evaporative index)"_s);
  y->setRange(0.0, reachY);
  y->setTickCount(static_cast<int>(std::lround(reachY / 0.2)) + 1);
  y->setLabelFormat(u"%.1f"_s);
  for (QValueAxis* a : {x, y}) styleAxis(a);
  chart.addAxis(x, Qt::AlignBottom);
  chart.addAxis(y, Qt::AlignLeft);
  auto attach = [&chart, x, y](QAbstractSeries* s) {
    chart.addSeries(s);
    s->attachAxis(x);
    s->attachAxis(y);
  };

  if (density) {
    // The shading fills the plot area: the image's cells are the axes' cells.
    const QImage image = densityImage(p, reachX, reachY);
    auto place = [&chart, image](const QRectF& area) {
      QBrush brush(image);
      brush.setTransform(QTransform::fromTranslate(area.left(), area.top())
                             .scale(area.width() / kDensityColumns, area.height() / kDensityRows));
      chart.setPlotAreaBackgroundBrush(brush);
    };
    chart.setPlotAreaBackgroundVisible(true);
    chart.setPlotAreaBackgroundPen(Qt::NoPen);
    QObject::connect(&chart, &QChart::plotAreaChanged, &chart, place);
    place(chart.plotArea());
  } else {
    auto* records = new QScatterSeries;
    records->setObjectName(u"records"_s);
    records->setName(u"Records"_s);
    records->setMarkerSize(7.0);
    records->setColor(QColor(30, 90, 180, 170));
    records->setBorderColor(QColor(20, 60, 130));
    QList<QPointF> shown;
    shown.reserve(static_cast<qsizetype>(p.x.size()));
    for (std::size_t i = 0; i < p.x.size(); ++i)
      if (p.x[i] <= reachX && p.y[i] <= reachY) shown.append(QPointF(p.x[i], p.y[i]));
    records->replace(shown);
    attach(records);
  }

  // The energy limit AET = PET and the water limit AET = P.
  QLineSeries* energy = lineSeries("energyLimit", u"Energy limit"_s, QColor(90, 90, 90), Qt::DashLine, 1.5);
  energy->append(0.0, 0.0);
  energy->append(1.0, 1.0);
  QLineSeries* water = lineSeries("waterLimit", u"Water limit"_s, QColor(90, 90, 90), Qt::DotLine, 2.0);
  water->append(1.0, 1.0);
  water->append(reachX, 1.0);
  // Budyko's curve: AET/P = sqrt(x tanh(1/x) (1 - exp(-x))) for x = PET/P.
  QLineSeries* curve = lineSeries("budyko", u"Budyko curve"_s, QColor(200, 60, 20), Qt::SolidLine, 2.0);
  for (int i = 1; i <= 400; ++i) {
    const double v = reachX * i / 400.0;
    curve->append(v, std::sqrt(v * std::tanh(1.0 / v) * (1.0 - std::exp(-v))));
  }
  for (QLineSeries* s : {energy, water, curve}) attach(s);

  auto* mark = new QScatterSeries;
  mark->setObjectName(u"selected"_s);
  mark->setName(u"Selected"_s);
  mark->setMarkerSize(14.0);
  mark->setColor(QColor(255, 200, 0, 200));
  mark->setBorderColor(Qt::black);
  attach(mark);
  markOverviewRow(chart, p, selected);
}

void markOverviewRow(QChart& chart, const BudykoPoints& p, std::optional<std::size_t> selected) {
  QScatterSeries* mark = nullptr;
  for (QAbstractSeries* s : chart.series())
    if (s->objectName() == u"selected"_s) mark = static_cast<QScatterSeries*>(s);
  if (mark == nullptr || chart.axes(Qt::Horizontal).isEmpty()) return;
  const auto* ax = static_cast<const QValueAxis*>(chart.axes(Qt::Horizontal).front());
  const auto* ay = static_cast<const QValueAxis*>(chart.axes(Qt::Vertical).front());
  mark->clear();
  const auto it = selected ? std::lower_bound(p.rows.begin(), p.rows.end(), *selected) : p.rows.end();
  if (it != p.rows.end() && *it == *selected) {
    const auto i = static_cast<std::size_t>(it - p.rows.begin());
    if (p.x[i] <= ax->max() && p.y[i] <= ay->max()) mark->append(p.x[i], p.y[i]);
  }
  chart.legend()->markers(mark).front()->setVisible(mark->count() > 0);
}

OverviewView::OverviewView(QWidget* parent) : QChartView(new QChart, parent) {
  setObjectName(u"overviewView"_s);
  chart()->setObjectName(u"overviewChart"_s);
  chart()->setMargins(QMargins(4, 4, 4, 4));
  setRenderHint(QPainter::Antialiasing);
  setMouseTracking(true);
  viewport()->setMouseTracking(true);
}

void OverviewView::showPoints(std::shared_ptr<const BudykoPoints> points, std::function<QString(std::size_t)> idOf) {
  points_ = std::move(points);
  idOf_ = std::move(idOf);
  drawing()(*chart());
}

void OverviewView::showText(const QString& title, const QString& subtitle) {
  points_.reset();
  title_ = title;
  subtitle_ = subtitle;
  drawing()(*chart());
}

void OverviewView::markRow(std::optional<std::size_t> r) {
  selected_ = r;
  if (hasPoints()) markOverviewRow(*chart(), *points_, r);
}

ChartDrawing OverviewView::drawing() const {
  if (!points_ || points_->x.empty()) {
    return [title = title_, subtitle = points_ ? QString::fromStdString(points_->error) : subtitle_](QChart& c) {
      resetChart(c, title, subtitle);
      c.legend()->setVisible(false);
    };
  }
  return [p = points_, s = selected_, d = densityAbove_](QChart& c) { drawOverviewChart(c, *p, s, d); };
}

std::optional<std::size_t> OverviewView::pointAt(QPoint at) const {
  if (!hasPoints()) return std::nullopt;
  const QList<QAbstractAxis*> xs = chart()->axes(Qt::Horizontal), ys = chart()->axes(Qt::Vertical);
  if (xs.isEmpty() || ys.isEmpty()) return std::nullopt;
  const auto* ax = static_cast<const QValueAxis*>(xs.front());
  const auto* ay = static_cast<const QValueAxis*>(ys.front());
  const QRectF area = chart()->plotArea();
  const QPointF v = chart()->mapToValue(chart()->mapFromScene(mapToScene(at)));
  const double px = area.width() / ax->max(), py = area.height() / ay->max();
  std::optional<std::size_t> best;
  double bestDistance = kPickPixels * kPickPixels;
  const BudykoPoints& p = *points_;
  for (std::size_t i = 0; i < p.x.size(); ++i) {
    if (p.x[i] > ax->max() || p.y[i] > ay->max()) continue;
    const double dx = (p.x[i] - v.x()) * px, dy = (p.y[i] - v.y()) * py;
    if (dx * dx + dy * dy <= bestDistance) {
      bestDistance = dx * dx + dy * dy;
      best = i;
    }
  }
  return best;
}

void OverviewView::mouseMoveEvent(QMouseEvent* event) {
  QChartView::mouseMoveEvent(event);
  const std::optional<std::size_t> i = pointAt(event->position().toPoint());
  if (!i) {
    QToolTip::hideText();
    viewport()->unsetCursor();
    return;
  }
  const BudykoPoints& p = *points_;
  const QString id = idOf_ ? idOf_(p.rows[*i]) : QString::number(p.rows[*i] + 1);
  QToolTip::showText(
      event->globalPosition().toPoint(),
      u"%1: PET/P %2, AET/P %3 (row %4)"_s.arg(id).arg(p.x[*i], 0, 'f', 2).arg(p.y[*i], 0, 'f', 2).arg(p.rows[*i] + 1),
      this);
  viewport()->setCursor(Qt::PointingHandCursor);
}

void OverviewView::mousePressEvent(QMouseEvent* event) {
  QChartView::mousePressEvent(event);
  if (event->button() != Qt::LeftButton) return;
  if (const std::optional<std::size_t> i = pointAt(event->position().toPoint())) emit rowPicked(points_->rows[*i]);
}

}  // namespace vadoset
