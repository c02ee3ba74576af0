#include "ui/results_window.h"

#include <QChart>
#include <QChartView>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>

#include "platform/text.h"
#include "ui/record_charts.h"

using namespace Qt::StringLiterals;

namespace vadoset {

namespace {

constexpr int kFilterDelayMs = 150;
// Records of a carry-over chain computed between two looks at the event
// loop (some 60 ms).
constexpr std::size_t kChainSlice = 16 * RecordSource::kCheckpointEvery;

QString fromStd(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
QString fromPath(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}

// The wait cursor while something that may take a while runs.
struct Busy {
  Busy() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
  ~Busy() { QGuiApplication::restoreOverrideCursor(); }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;
};

QChartView* chartView(const char* name) {
  auto* chart = new QChart;
  chart->setObjectName(QLatin1String(name));
  chart->setMargins(QMargins(4, 4, 4, 4));
  auto* view = new QChartView(chart);
  view->setObjectName(QLatin1String(name) + u"View"_s);
  view->setRenderHint(QPainter::Antialiasing);
  view->setMinimumSize(360, 260);
  return view;
}

QString functionName(AvailabilityFunction function) {
  return QString(QLatin1Char(letterOf(function)));
}

QString number(double v) {
  return fromStd(Str(v));
}

// "PET_03" and the like.
std::string monthColumn(const char* prefix, int month) {
  char name[16];
  std::snprintf(name, sizeof name, "%s_%02d", prefix, month + 1);
  return name;
}

}  // namespace

ResultsWindow::ResultsWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(u"ResultsWindow"_s);
  setWindowTitle(u"Vadoset results"_s);
  resize(1000, 720);

  filter_ = new QLineEdit(this);
  filter_->setObjectName(u"filter"_s);
  filter_->setPlaceholderText(u"Part of an identifier"_s);
  filter_->setClearButtonEnabled(true);
  count_ = new QLabel(this);
  count_->setObjectName(u"count"_s);
  auto* openButton = new QPushButton(u"&Open Table\u2026"_s, this);
  openButton->setObjectName(u"openTable"_s);
  auto* csvButton = new QPushButton(u"&Export CSV\u2026"_s, this);
  csvButton->setObjectName(u"exportCsv"_s);
  auto* top = new QHBoxLayout;
  auto* filterLabel = new QLabel(u"&Filter identifiers:"_s, this);
  filterLabel->setBuddy(filter_);
  top->addWidget(filterLabel);
  top->addWidget(filter_, 1);
  top->addWidget(count_, 1);
  top->addWidget(openButton);
  top->addWidget(csvButton);

  table_ = new QTableView(this);
  table_->setObjectName(u"table"_s);
  table_->setModel(&model_);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setWordWrap(false);
  table_->setAlternatingRowColors(true);
  table_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  // Fixed row heights: the view never asks a million rows for their size.
  table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
  // Wide enough for a number with all its digits.
  table_->horizontalHeader()->setDefaultSectionSize(table_->fontMetrics().horizontalAdvance(u"-0000.00000000000000"_s) +
                                                    12);
  table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  table_->setSortingEnabled(true);

  monthlyView_ = chartView("monthlyChart");
  dailyView_ = chartView("dailyChart");
  auto* charts = new QWidget(this);
  auto* chartRow = new QHBoxLayout(charts);
  chartRow->setContentsMargins(0, 0, 0, 0);
  const struct {
    QChartView* view;
    const char* what;
    QString button;
  } chartColumns[] = {{monthlyView_, "monthly", u"Save &Monthly Chart\u2026"_s},
                      {dailyView_, "daily", u"Save &Daily Chart\u2026"_s}};
  for (const auto& [view, what, button] : chartColumns) {
    auto* column = new QVBoxLayout;
    column->addWidget(view, 1);
    auto* save = new QPushButton(button, charts);
    save->setObjectName(QLatin1String(what) + u"Save"_s);
    connect(save, &QPushButton::clicked, this, [this, v = view, what] { askSaveChart(v, what); });
    column->addWidget(save, 0, Qt::AlignRight);
    chartRow->addLayout(column, 1);
  }
  auto* splitter = new QSplitter(Qt::Vertical, this);
  splitter->addWidget(table_);
  splitter->addWidget(charts);
  splitter->setStretchFactor(0, 1);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({300, 400});

  about_ = new QLabel(this);
  about_->setObjectName(u"about"_s);
  about_->setWordWrap(true);
  about_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(splitter, 1);
  layout->addWidget(about_);

  // Typing in the filter waits for a pause before going through the rows.
  filterTimer_ = new QTimer(this);
  filterTimer_->setSingleShot(true);
  filterTimer_->setInterval(kFilterDelayMs);
  connect(filter_, &QLineEdit::textChanged, filterTimer_, qOverload<>(&QTimer::start));
  connect(filterTimer_, &QTimer::timeout, this, [this] {
    Busy busy;
    model_.setFilter(filter_->text());
  });
  chainTimer_ = new QTimer(this);
  chainTimer_->setSingleShot(true);
  chainTimer_->setInterval(0);
  connect(chainTimer_, &QTimer::timeout, this, [this] {
    if (selected_) drawCharts(*selected_);
  });
  connect(&model_, &QAbstractItemModel::modelReset, this, &ResultsWindow::restoreSelection);
  connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex& current) {
    if (current.isValid()) drawCharts(model_.tableRow(current.row()));
  });
  connect(openButton, &QPushButton::clicked, this, &ResultsWindow::askOpenTable);
  connect(csvButton, &QPushButton::clicked, this, &ResultsWindow::askExportCsv);
  openTable({}, nullptr);
}

ResultsWindow::~ResultsWindow() = default;

QChart* ResultsWindow::monthlyChart() const {
  return monthlyView_->chart();
}
QChart* ResultsWindow::dailyChart() const {
  return dailyView_->chart();
}

QString ResultsWindow::showRun(std::shared_ptr<const RunRecord> run) {
  run_ = std::move(run);
  source_.reset();
  sourceError_.clear();
  if (!run_) return openTable({}, nullptr);
  auto source = std::make_unique<RecordSource>();
  const std::string error = source->open(run_);
  if (error.empty())
    source_ = std::move(source);
  else
    sourceError_ = fromStd(error);
  // The reasons live as long as the run's record.
  return openTable(fromPath(run_->tablePath), std::shared_ptr<const NullReasons>(run_, &run_->nullRows));
}

QString ResultsWindow::showTable(const QString& path) {
  run_.reset();
  source_.reset();
  sourceError_ = u"The table was opened from a file: its run, and so its daily values, are not known."_s;
  return openTable(path, nullptr);
}

QString ResultsWindow::openTable(const QString& path, std::shared_ptr<const NullReasons> reasons) {
  Busy busy;
  selected_.reset();
  tablePath_ = path;
  loading_ = true;
  filterTimer_->stop();
  filter_->blockSignals(true);
  filter_->clear();
  filter_->blockSignals(false);
  model_.setFilter({});
  table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  QString error;
  if (path.isEmpty())
    model_.clear();
  else
    error = model_.open(path, std::move(reasons));
  loading_ = false;
  if (model_.columnCount() > 0) table_->setColumnWidth(0, 180);
  showSource();
  if (!error.isEmpty()) about_->setText(error);
  if (model_.rowCount() > 0) {
    selectTableRow(0);
  } else {
    drawMonthlyChart(*monthlyChart(), u"Monthly water balance"_s, {}, nullptr);
    drawDailyChart(*dailyChart(), u"Soil water and snowpack"_s, {}, nullptr, 0.0);
  }
  return error;
}

void ResultsWindow::showSource() {
  const std::size_t rows = model_.tableRows();
  count_->setText(model_.rowCount() == static_cast<int>(rows) ? u"%1 rows"_s.arg(rows)
                                                              : u"%1 of %2 rows"_s.arg(model_.rowCount()).arg(rows));
  if (model_.columnCount() == 0) {
    about_->setText(u"No table yet: press Run in the main window, or open a table."_s);
    return;
  }
  if (!run_) {
    about_->setText(u"Table %1, opened from a file: no null-row reasons and no daily chart."_s.arg(tablePath_));
    return;
  }
  QString text = u"Table %1 of the run of %2 and %3: function %4, field capacity %5 mm, carry-over %6, %7 null rows."_s
                     .arg(fromPath(run_->tablePath), QFileInfo(fromPath(run_->tmeanPath)).fileName(),
                          QFileInfo(fromPath(run_->precipPath)).fileName(), functionName(run_->model.function),
                          number(run_->read.fieldCapacity), run_->model.carryover ? u"on"_s : u"off"_s)
                     .arg(run_->nullRows.size());
  if (run_->stopped) text += u" The run was stopped: the table holds its first rows only."_s;
  if (!sourceError_.isEmpty()) text += u" "_s + sourceError_;
  about_->setText(text);
}

void ResultsWindow::selectTableRow(std::size_t r) {
  const int row = model_.viewRow(r);
  if (row < 0) return;
  const QModelIndex index = model_.index(row, 0);
  table_->setCurrentIndex(index);
  table_->scrollTo(index);
  // Selecting the row that is current already draws nothing by itself.
  if (selected_ != r) drawCharts(r);
}

void ResultsWindow::restoreSelection() {
  if (loading_) return;
  showSource();
  if (model_.rowCount() == 0) return;
  const int row = selected_ ? model_.viewRow(*selected_) : -1;
  selectTableRow(model_.tableRow(row >= 0 ? row : 0));
}

void ResultsWindow::drawCharts(std::size_t r) {
  selected_ = r;
  const QString id = fromStd(model_.table().field(r, 0));
  const QString monthlyTitle = u"Monthly water balance: "_s + id;
  const QString dailyTitle = u"Soil water and snowpack: "_s + id;
  if (!source_) {
    drawFromTable(r, id, sourceError_);
    return;
  }
  // A carry-over chain far from its last checkpoint is computed a slice at a
  // time, between which the window goes on.
  if (!source_->prepare(r, kChainSlice)) {
    const QString progress = u"Computing the soil water carried over from the run's first record: %1 of %2 records"_s
                                 .arg(source_->prepared())
                                 .arg(r);
    drawMonthlyChart(*monthlyChart(), monthlyTitle, progress, nullptr);
    drawDailyChart(*dailyChart(), dailyTitle, progress, nullptr, 0.0);
    chainTimer_->start();
    return;
  }
  RecordSource::Computed c;
  const std::string error = source_->compute(r, c);
  if (!error.empty()) {
    drawFromTable(r, id, fromStd(error));
    return;
  }
  if (c.result.isNull()) {
    const QString why =
        model_.table().isNull(r) ? model_.reason(r) : fromStd(nullReasonText(c.result.reason, c.result.month));
    drawMonthlyChart(*monthlyChart(), monthlyTitle, u"Null row: "_s + why, nullptr);
    drawDailyChart(*dailyChart(), dailyTitle, u"Null row: "_s + why, nullptr, 0.0);
    return;
  }
  const MonthlyBalance balance = monthlyBalance(c.input, c.result);
  QString monthly = u"Function %1, field capacity %2 mm; deficit = PET \u2212 AET"_s.arg(
      functionName(run_->model.function), number(c.input.fieldCapacity));
  if (!tableAgrees(r, c.result))
    monthly = u"The input files have changed since the run: these values are not the table's"_s;
  QString daily;
  if (!run_->model.carryover)
    daily = u"The last of %1 passes over the year, spun up from field capacity"_s.arg(c.result.passes);
  else if (r == 0)
    daily = u"Carry-over: the run's first record, spun up from the soil water the run started with (%1 passes)"_s.arg(
        c.result.passes);
  else
    daily =
        u"Carry-over: starts from the soil water and snow left by the %1 records before it, computed again in order"_s
            .arg(r);
  drawMonthlyChart(*monthlyChart(), monthlyTitle, monthly, &balance);
  drawDailyChart(*dailyChart(), dailyTitle, daily, &c.trace, c.input.fieldCapacity);
}

// Without the run's inputs, the monthly chart comes from the table's own
// columns: PET, AET and SURPLUS, with PRECIP and DEFICIT when it has them.
void ResultsWindow::drawFromTable(std::size_t r, const QString& id, const QString& why) {
  TableFile& t = model_.table();
  const QString monthlyTitle = u"Monthly water balance: "_s + id;
  drawDailyChart(*dailyChart(), u"Soil water and snowpack: "_s + id, why, nullptr, 0.0);
  if (t.isNull(r)) {
    drawMonthlyChart(*monthlyChart(), monthlyTitle, u"Null row: "_s + model_.reason(r), nullptr);
    return;
  }
  const std::vector<std::string>& columns = t.columns();
  auto column = [&columns](const std::string& name) -> std::size_t {
    const auto it = std::find(columns.begin(), columns.end(), name);
    return it == columns.end() ? 0 : static_cast<std::size_t>(it - columns.begin());
  };
  MonthlyBalance b;
  bool complete = true, hasDeficit = true;
  b.hasPrecipitation = true;
  for (int m = 0; m < kMonths; ++m) {
    const struct {
      const char* prefix;
      double& into;
      bool* present;
    } wanted[] = {{"PET", b.pet[m], &complete},
                  {"AET", b.aet[m], &complete},
                  {"SURPLUS", b.surplus[m], &complete},
                  {"PRECIP", b.precipitation[m], &b.hasPrecipitation},
                  {"DEFICIT", b.deficit[m], &hasDeficit}};
    for (const auto& w : wanted) {
      const std::size_t c = column(monthColumn(w.prefix, m));
      const std::optional<double> v = c > 0 ? ParseNumber(t.field(r, c)) : std::nullopt;
      if (v)
        w.into = *v;
      else
        *w.present = false;
    }
  }
  if (!complete) {
    drawMonthlyChart(*monthlyChart(), monthlyTitle, u"The table has no PET, AET and SURPLUS columns"_s, nullptr);
    return;
  }
  if (!hasDeficit)
    for (int m = 0; m < kMonths; ++m) b.deficit[m] = b.pet[m] - b.aet[m];
  drawMonthlyChart(
      *monthlyChart(), monthlyTitle,
      b.hasPrecipitation ? u"From the table's columns"_s : u"From the table's columns (it has no PRECIP columns)"_s,
      &b);
}

// The record computed again against its row: inputs edited since the run
// would give other numbers.
bool ResultsWindow::tableAgrees(std::size_t r, const RecordResult& result) {
  TableFile& t = model_.table();
  if (t.isNull(r)) return false;
  const std::vector<std::string>& columns = t.columns();
  for (int m = 0; m < kMonths; ++m) {
    const std::pair<const char*, double> values[] = {
        {"PET", result.pet[m]}, {"AET", result.aet[m]}, {"SURPLUS", result.surplus[m]}};
    for (const auto& [prefix, value] : values) {
      const auto it = std::find(columns.begin(), columns.end(), monthColumn(prefix, m));
      if (it == columns.end()) continue;
      const std::optional<double> v = ParseNumber(t.field(r, static_cast<std::size_t>(it - columns.begin())));
      if (!v || *v != value) return false;
    }
  }
  return true;
}

QString ResultsWindow::saveMonthlyChart(const QString& path) {
  return saveChart(*monthlyView_, path);
}
QString ResultsWindow::saveDailyChart(const QString& path) {
  return saveChart(*dailyView_, path);
}

void ResultsWindow::askOpenTable() {
  const QString path =
      QFileDialog::getOpenFileName(this, u"Open a Table"_s, QString(), u"Tables (*.txt *.tsv);;All files (*)"_s);
  if (path.isEmpty()) return;
  const QString error = showTable(path);
  if (!error.isEmpty()) QMessageBox::warning(this, windowTitle(), error);
}

void ResultsWindow::askExportCsv() {
  if (model_.columnCount() == 0) return;
  QString suggested;
  if (!tablePath_.isEmpty()) {
    const QFileInfo table(tablePath_);
    suggested = table.dir().filePath(table.completeBaseName() + u".csv"_s);
  }
  const QString path =
      QFileDialog::getSaveFileName(this, u"Export the Table as CSV"_s, suggested, u"CSV files (*.csv)"_s);
  if (path.isEmpty()) return;
  QString error;
  {
    Busy busy;
    error = exportCsv(path);
  }
  if (!error.isEmpty()) QMessageBox::warning(this, windowTitle(), error);
}

void ResultsWindow::askSaveChart(QChartView* view, const char* what) {
  QString name = QLatin1String(what);
  if (selected_) name = fromStd(model_.table().field(*selected_, 0)).replace(u'/', u'-') + u"-"_s + name;
  QString filter;
  QString path = QFileDialog::getSaveFileName(this, u"Save the Chart"_s, name + u".png"_s,
                                              u"PNG picture (*.png);;SVG drawing (*.svg)"_s, &filter);
  if (path.isEmpty()) return;
  if (QFileInfo(path).suffix().isEmpty()) path += filter.contains(u"svg"_s) ? u".svg"_s : u".png"_s;
  const QString error = saveChart(*view, path);
  if (!error.isEmpty()) QMessageBox::warning(this, windowTitle(), error);
}

}  // namespace vadoset
