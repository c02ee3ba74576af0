#include "ui/results_window.h"

#include <QActionGroup>
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>

#include "platform/text.h"
#include "ui/frozen_table_view.h"
#include "ui/overview.h"

using namespace Qt::StringLiterals;

namespace vadoset {

namespace {

constexpr int kFilterDelayMs = 150;
// Records of a carry-over chain computed between two looks at the event
// loop (some 60 ms).
constexpr std::size_t kChainSlice = 16 * RecordSource::kCheckpointEvery;
// Beyond this a copy would fill the clipboard with hundreds of megabytes;
// Export CSV takes any number of rows.
constexpr std::size_t kMaxCopiedCells = 2'000'000;

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

QString capitalised(QString text) {
  if (!text.isEmpty()) text[0] = text[0].toUpper();
  return text;
}

// The size of a saved picture, asked for with the default filled in.
std::optional<QSize> askPictureSize(QWidget* parent, QSize suggested) {
  QDialog dialog(parent);
  dialog.setWindowTitle(u"Picture Size"_s);
  auto* form = new QFormLayout(&dialog);
  QSpinBox* sides[2];
  for (int i = 0; i < 2; ++i) {
    sides[i] = new QSpinBox(&dialog);
    sides[i]->setRange(100, 20000);
    sides[i]->setSuffix(u" px"_s);
    sides[i]->setValue(i == 0 ? suggested.width() : suggested.height());
  }
  sides[0]->setObjectName(u"pictureWidth"_s);
  sides[1]->setObjectName(u"pictureHeight"_s);
  form->addRow(u"&Width:"_s, sides[0]);
  form->addRow(u"&Height:"_s, sides[1]);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  form->addRow(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return QSize(sides[0]->value(), sides[1]->value());
}

}  // namespace

ResultsWindow::ResultsWindow(QWidget* parent) : QMainWindow(parent, Qt::Window) {
  setObjectName(u"ResultsWindow"_s);
  setWindowTitle(u"Vadoset results"_s);
  resize(1240, 860);

  auto* central = new QWidget(this);
  filter_ = new QLineEdit(central);
  filter_->setObjectName(u"filter"_s);
  filter_->setPlaceholderText(u"Part of an identifier"_s);
  filter_->setClearButtonEnabled(true);
  count_ = new QLabel(central);
  count_->setObjectName(u"count"_s);
  auto* openButton = new QPushButton(u"&Open Table\u2026"_s, central);
  openButton->setObjectName(u"openTable"_s);
  auto* csvButton = new QPushButton(u"E&xport CSV\u2026"_s, central);
  csvButton->setObjectName(u"exportCsv"_s);
  auto* top = new QHBoxLayout;
  auto* filterLabel = new QLabel(u"Fi&lter identifiers:"_s, central);
  filterLabel->setBuddy(filter_);
  top->addWidget(filterLabel);
  top->addWidget(filter_, 1);
  top->addWidget(count_, 1);
  top->addWidget(openButton);
  top->addWidget(csvButton);

  table_ = new FrozenTableView(central);
  table_->setObjectName(u"table"_s);
  table_->setModel(&model_);
  table_->setSelectionBehavior(QAbstractItemView::SelectItems);
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table_->setWordWrap(false);
  table_->setAlternatingRowColors(true);
  table_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  // Fixed row heights: the view never asks a million rows for their size.
  table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
  table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  table_->setSortingEnabled(true);
  for (QObject* o : std::initializer_list<QObject*>{table_, table_->frozenView()}) o->installEventFilter(this);

  overview_ = new OverviewView;
  auto* overviewColumn = chartColumn(overviewPanel_, overview_, "overview", u"Save Overvie&w Chart\u2026"_s);
  // Saved as it stands, with the selected record marked.
  overviewPanel_.drawing = [this](QChart& c) { overview_->drawing()(c); };
  auto* upper = new QSplitter(Qt::Horizontal, central);
  upper->addWidget(table_);
  upper->addWidget(overviewColumn);
  upper->setStretchFactor(0, 3);
  upper->setStretchFactor(1, 2);
  upper->setSizes({720, 480});

  auto* charts = new QWidget(central);
  auto* chartRow = new QHBoxLayout(charts);
  chartRow->setContentsMargins(0, 0, 0, 0);
  chartRow->addWidget(chartColumn(monthly_, chartView("monthlyChart"), "monthly", u"Save &Monthly Chart\u2026"_s), 1);
  chartRow->addWidget(chartColumn(daily_, chartView("dailyChart"), "daily", u"Save &Daily Chart\u2026"_s), 1);
  auto* splitter = new QSplitter(Qt::Vertical, central);
  splitter->addWidget(upper);
  splitter->addWidget(charts);
  splitter->setStretchFactor(0, 1);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({400, 400});

  auto* layout = new QVBoxLayout(central);
  layout->addLayout(top);
  layout->addWidget(splitter, 1);
  setCentralWidget(central);

  // The run's warnings and null rows, each with its place, to select and copy.
  warnings_ = new QListWidget;
  warnings_->setObjectName(u"warnings"_s);
  warnings_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  warnings_->setWordWrap(true);
  warnings_->setTextElideMode(Qt::ElideNone);
  // Long lines wrap at the panel's width, as it is now.
  warnings_->setResizeMode(QListView::Adjust);
  warnings_->setUniformItemSizes(false);
  warnings_->setIconSize(QSize(16, 16));
  warnings_->installEventFilter(this);
  warningsDock_ = new QDockWidget(u"Warnings and null rows"_s, this);
  warningsDock_->setObjectName(u"warningsDock"_s);
  warningsDock_->setWidget(warnings_);
  warningsDock_->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
  addDockWidget(Qt::BottomDockWidgetArea, warningsDock_);
  resizeDocks({warningsDock_}, {5 * warnings_->fontMetrics().height() + 12}, Qt::Vertical);
  warningsDock_->hide();
  connect(warnings_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
    const qlonglong row = item->data(Qt::UserRole).toLongLong();
    if (row > 0) pickRow(static_cast<std::size_t>(row - 1));
  });

  // One line: the whole of a long one is its tooltip.
  about_ = new QLabel(this);
  about_->setObjectName(u"about"_s);
  about_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  about_->setMinimumWidth(100);
  statusBar()->addWidget(about_, 1);
  statusBar()->setSizeGripEnabled(true);

  createMenus(openButton, csvButton);
  // Esc closes the window, as Ctrl+W (File > Close) does.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &QWidget::close);

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
  connect(overview_, &OverviewView::rowPicked, this, &ResultsWindow::pickRow);
  openTable({}, nullptr);
}

ResultsWindow::~ResultsWindow() {
  stopOverview();
}

QWidget* ResultsWindow::chartColumn(ChartPanel& panel, QChartView* view, const char* what, const QString& button) {
  panel.view = view;
  view->setMinimumSize(360, 260);
  auto* column = new QWidget;
  auto* layout = new QVBoxLayout(column);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view, 1);
  panel.save = new QPushButton(button, column);
  panel.save->setObjectName(QLatin1String(what) + u"Save"_s);
  connect(panel.save, &QPushButton::clicked, this, [this, &panel, what] { askSaveChart(panel, what); });
  layout->addWidget(panel.save, 0, Qt::AlignRight);
  return column;
}

void ResultsWindow::createMenus(QPushButton* open, QPushButton* csv) {
  QMenu* file = menuBar()->addMenu(u"&File"_s);
  QAction* openAction = file->addAction(u"&Open Table\u2026"_s, QKeySequence::Open);
  connect(openAction, &QAction::triggered, this, &ResultsWindow::askOpenTable);
  connect(open, &QPushButton::clicked, this, &ResultsWindow::askOpenTable);
  QAction* csvAction = file->addAction(u"E&xport CSV\u2026"_s);
  connect(csvAction, &QAction::triggered, this, &ResultsWindow::askExportCsv);
  connect(csv, &QPushButton::clicked, this, &ResultsWindow::askExportCsv);
  file->addSeparator();
  const struct {
    ChartPanel& panel;
    const char* what;
    QString text;
  } saves[] = {{monthly_, "monthly", u"Save &Monthly Chart\u2026"_s},
               {daily_, "daily", u"Save &Daily Chart\u2026"_s},
               {overviewPanel_, "overview", u"Save O&verview Chart\u2026"_s}};
  for (const auto& s : saves) {
    s.panel.saveAction = file->addAction(s.text);
    connect(s.panel.saveAction, &QAction::triggered, this, [this, p = &s.panel, w = s.what] { askSaveChart(*p, w); });
  }
  file->addSeparator();
  QAction* close = file->addAction(u"&Close"_s, QKeySequence(Qt::CTRL | Qt::Key_W));
  close->setObjectName(u"resultsClose"_s);
  connect(close, &QAction::triggered, this, &QWidget::close);

  QMenu* edit = menuBar()->addMenu(u"&Edit"_s);
  QAction* copy = edit->addAction(u"&Copy"_s, QKeySequence::Copy);
  connect(copy, &QAction::triggered, this, &ResultsWindow::copySelection);
  QAction* all = edit->addAction(u"Select &All"_s, QKeySequence::SelectAll);
  connect(all, &QAction::triggered, this, [this] {
    if (focusWidget() == warnings_)
      warnings_->selectAll();
    else
      table_->selectAll();
  });

  QMenu* view = menuBar()->addMenu(u"&View"_s);
  QMenu* decimals = view->addMenu(u"&Decimals"_s);
  decimals->setObjectName(u"decimalsMenu"_s);
  auto* group = new QActionGroup(this);
  for (int d : {0, 1, 2, 3, ResultsModel::kAllDigits}) {
    QAction* a = decimals->addAction(d == ResultsModel::kAllDigits ? u"&All Digits"_s : u"&%1"_s.arg(d));
    a->setCheckable(true);
    a->setChecked(d == model_.decimals());
    a->setData(d);
    group->addAction(a);
    connect(a, &QAction::triggered, this, [this, d] { setDecimals(d); });
  }
  QAction* panel = warningsDock_->toggleViewAction();
  panel->setText(u"&Warnings and Null Rows"_s);
  view->addAction(panel);
}

QTableView* ResultsWindow::tableView() const {
  return table_;
}
QChart* ResultsWindow::monthlyChart() const {
  return monthly_.view->chart();
}
QChart* ResultsWindow::dailyChart() const {
  return daily_.view->chart();
}
QChart* ResultsWindow::overviewChart() const {
  return overview_->chart();
}

bool ResultsWindow::canSave(const QChartView* view) const {
  for (const ChartPanel* p : {&monthly_, &daily_, &overviewPanel_})
    if (p->view == view) return p->save->isEnabled();
  return false;
}

void ResultsWindow::showChart(ChartPanel& panel, ChartDrawing drawing, bool hasData) {
  panel.drawing = std::move(drawing);
  panel.drawing(*panel.view->chart());
  panel.save->setEnabled(hasData);
  panel.saveAction->setEnabled(hasData);
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
  stopOverview();
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
  fitColumns();
  fillWarnings();
  showSource();
  if (!error.isEmpty()) {
    about_->setText(error);
    about_->setToolTip(error);
  }
  startOverview();
  if (model_.rowCount() > 0) {
    selectTableRow(0);
  } else {
    showChart(
        monthly_, [](QChart& c) { drawMonthlyChart(c, u"Monthly water balance"_s, {}, nullptr); }, false);
    showChart(
        daily_, [](QChart& c) { drawDailyChart(c, u"Soil water and snowpack"_s, {}, nullptr, 0.0); }, false);
  }
  return error;
}

// Columns wide enough for their names and for numbers at the decimals
// shown; the identifiers' and the reasons' for what they hold.
void ResultsWindow::fitColumns() {
  if (model_.columnCount() == 0) return;
  const QFontMetrics fm = table_->fontMetrics();
  const int d = model_.decimals();
  const QString widest = d == ResultsModel::kAllDigits ? u"-0000.00000000000000"_s
                                                       : u"-00000"_s + (d > 0 ? u"."_s + QString(d, u'0') : QString());
  const int numbers = std::max(fm.horizontalAdvance(widest), fm.horizontalAdvance(u"SURPLUS_00"_s)) + 24;
  QHeaderView* header = table_->horizontalHeader();
  header->setDefaultSectionSize(numbers);
  for (int c = 1; c < model_.reasonColumn(); ++c) table_->setColumnWidth(c, numbers);
  int ids = fm.horizontalAdvance(model_.headerData(0, Qt::Horizontal).toString()) + 24;
  const std::size_t rows = std::min<std::size_t>(model_.tableRows(), 5000);
  for (std::size_t r = 0; r < rows; ++r) ids = std::max(ids, fm.horizontalAdvance(fromStd(model_.table().id(r))) + 16);
  table_->setColumnWidth(0, std::clamp(ids, 100, 360));
  int reasons = fm.horizontalAdvance(u"Null row reason"_s) + 24;
  if (run_)
    for (std::size_t i = 0; i < std::min<std::size_t>(run_->nullRows.size(), 5000); ++i)
      reasons = std::max(reasons, fm.horizontalAdvance(fromStd(run_->nullRows.texts()[i])) + 16);
  table_->setColumnWidth(model_.reasonColumn(), std::min(reasons, 900));
}

void ResultsWindow::setDecimals(int decimals) {
  model_.setDecimals(decimals);
  fitColumns();
  for (QAction* a : findChild<QMenu*>(u"decimalsMenu"_s)->actions()) a->setChecked(a->data().toInt() == decimals);
}

// The run's warnings, then its null rows by reason with the first of each
// (activating one selects that row), and whether it was stopped.
void ResultsWindow::fillWarnings() {
  warnings_->clear();
  if (!run_) {
    warningsDock_->hide();
    return;
  }
  const RunReport& report = run_->report;
  for (const std::string& w : report.warnings()) {
    auto* item =
        new QListWidgetItem(style()->standardIcon(QStyle::SP_MessageBoxWarning), capitalised(fromStd(w)), warnings_);
    item->setToolTip(item->text());
  }
  for (const RunReport::NullCount& n : report.nulls()) {
    QString name = fromStd(n.code).replace(u'_', u' ');
    auto* item = new QListWidgetItem(u"%1 null %2 (%3): the first is line %4, '%5': %6"_s.arg(n.count)
                                         .arg(n.count == 1 ? u"row"_s : u"rows"_s, name)
                                         .arg(n.firstLine)
                                         .arg(fromStd(n.firstId), fromStd(n.firstText)),
                                     warnings_);
    item->setData(Qt::UserRole, static_cast<qlonglong>(n.firstRow));
    item->setToolTip(u"Double-click to select this row in the table."_s);
  }
  if (run_->stopped) new QListWidgetItem(u"The run was stopped: the table holds its first rows only."_s, warnings_);
  if (warnings_->count() == 0) {
    new QListWidgetItem(u"The run gave no warnings and no null rows."_s, warnings_);
    warningsDock_->hide();
  } else {
    warningsDock_->show();
  }
}

void ResultsWindow::showWarnings() {
  warningsDock_->show();
  warningsDock_->raise();
  warnings_->setFocus();
  if (warnings_->currentRow() < 0 && warnings_->count() > 0) warnings_->setCurrentRow(0);
}

void ResultsWindow::showSource() {
  const std::size_t rows = model_.tableRows();
  count_->setText(model_.rowCount() == static_cast<int>(rows) ? u"%1 rows"_s.arg(rows)
                                                              : u"%1 of %2 rows"_s.arg(model_.rowCount()).arg(rows));
  QString text;
  if (model_.columnCount() == 0) {
    text = u"No table yet: press Run in the main window, or open a table."_s;
  } else if (!run_) {
    text = u"Table %1, opened from a file: no null-row reasons and no daily chart."_s.arg(tablePath_);
  } else {
    text = u"Table %1 of the run of %2 and %3: function %4, field capacity %5 mm, carry-over %6, %7 null rows."_s
               .arg(fromPath(run_->tablePath), QFileInfo(fromPath(run_->tmeanPath)).fileName(),
                    QFileInfo(fromPath(run_->precipPath)).fileName(), functionName(run_->model.function),
                    number(run_->read.fieldCapacity), run_->model.carryover ? u"on"_s : u"off"_s)
               .arg(run_->nullRows.size());
    if (run_->stopped) text += u" The run was stopped: the table holds its first rows only."_s;
    if (!sourceError_.isEmpty()) text += u" "_s + sourceError_;
  }
  about_->setText(text);
  about_->setToolTip(text);
}

void ResultsWindow::selectTableRow(std::size_t r) {
  const int row = model_.viewRow(r);
  if (row < 0) return;
  const QModelIndex index = model_.index(row, 0);
  table_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  table_->scrollTo(index);
  // Selecting the row that is current already draws nothing by itself.
  if (selected_ != r) drawCharts(r);
}

// A row picked in the overview or the panel is shown even when the filter
// hides it.
void ResultsWindow::pickRow(std::size_t r) {
  if (model_.viewRow(r) < 0) {
    filterTimer_->stop();
    filter_->blockSignals(true);
    filter_->clear();
    filter_->blockSignals(false);
    model_.setFilter({});
  }
  selectTableRow(r);
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
  overview_->markRow(r);
  const QString id = fromStd(model_.table().field(r, 0));
  const QString monthlyTitle = u"Monthly water balance: "_s + id;
  const QString dailyTitle = u"Soil water and snowpack: "_s + id;
  auto textOnly = [&](const QString& monthly, const QString& daily) {
    showChart(
        monthly_, [monthlyTitle, monthly](QChart& c) { drawMonthlyChart(c, monthlyTitle, monthly, nullptr); }, false);
    showChart(
        daily_, [dailyTitle, daily](QChart& c) { drawDailyChart(c, dailyTitle, daily, nullptr, 0.0); }, false);
  };
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
    textOnly(progress, progress);
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
    textOnly(u"Null row: "_s + why, u"Null row: "_s + why);
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
  showChart(
      monthly_, [monthlyTitle, monthly, balance](QChart& ch) { drawMonthlyChart(ch, monthlyTitle, monthly, &balance); },
      true);
  showChart(
      daily_,
      [dailyTitle, daily, trace = c.trace, fc = c.input.fieldCapacity](QChart& ch) {
        drawDailyChart(ch, dailyTitle, daily, &trace, fc);
      },
      true);
}

// Without the run's inputs, the monthly chart comes from the table's own
// columns: PET, AET and SURPLUS, with PRECIP and DEFICIT when it has them.
void ResultsWindow::drawFromTable(std::size_t r, const QString& id, const QString& why) {
  TableFile& t = model_.table();
  const QString monthlyTitle = u"Monthly water balance: "_s + id;
  showChart(
      daily_,
      [title = u"Soil water and snowpack: "_s + id, why](QChart& c) { drawDailyChart(c, title, why, nullptr, 0.0); },
      false);
  auto textOnly = [&](const QString& subtitle) {
    showChart(
        monthly_, [monthlyTitle, subtitle](QChart& c) { drawMonthlyChart(c, monthlyTitle, subtitle, nullptr); }, false);
  };
  if (t.isNull(r)) {
    textOnly(u"Null row: "_s + model_.reason(r));
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
    textOnly(u"The table has no PET, AET and SURPLUS columns"_s);
    return;
  }
  if (!hasDeficit)
    for (int m = 0; m < kMonths; ++m) b.deficit[m] = b.pet[m] - b.aet[m];
  const QString subtitle =
      b.hasPrecipitation ? u"From the table's columns"_s : u"From the table's columns (it has no PRECIP columns)"_s;
  showChart(
      monthly_, [monthlyTitle, subtitle, b](QChart& c) { drawMonthlyChart(c, monthlyTitle, subtitle, &b); }, true);
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

// The overview's points are read on a thread of their own, from the open
// table (and the run's precipitation file); the window goes on meanwhile.
void ResultsWindow::startOverview() {
  const QString title = u"All records in Budyko space"_s;
  overview_->showText(title, model_.columnCount() == 0
                                 ? u"No table yet"_s
                                 : u"Reading the annual sums of %1 records\u2026"_s.arg(model_.tableRows()));
  overviewPanel_.save->setEnabled(false);
  overviewPanel_.saveAction->setEnabled(false);
  if (model_.columnCount() == 0) return;
  const std::uint64_t generation = ++overviewGeneration_;
  overviewWorker_ = std::thread([this, generation, run = run_] {
    auto points = std::make_shared<const BudykoPoints>(readBudykoPoints(model_.table(), run.get(), overviewCancel_));
    QMetaObject::invokeMethod(
        this,
        [this, generation, points] {
          if (generation != overviewGeneration_) return;
          overview_->showPoints(points, [this](std::size_t r) { return fromStd(model_.table().id(r)); });
          overview_->markRow(selected_);
          overviewPanel_.save->setEnabled(overview_->hasPoints());
          overviewPanel_.saveAction->setEnabled(overview_->hasPoints());
          emit overviewDrawn();
        },
        Qt::QueuedConnection);
  });
}

void ResultsWindow::stopOverview() {
  if (!overviewWorker_.joinable()) return;
  overviewCancel_ = true;
  overviewWorker_.join();
  overviewCancel_ = false;
}

QString ResultsWindow::copySelection() {
  QString text;
  if (focusWidget() == warnings_) {
    for (int i = 0; i < warnings_->count(); ++i)
      if (warnings_->item(i)->isSelected()) text += warnings_->item(i)->text() + u'\n';
  } else {
    // The rows and columns that hold a selected cell, in the view's order.
    std::vector<char> rowSelected(static_cast<std::size_t>(model_.rowCount()), 0);
    std::vector<char> columnSelected(static_cast<std::size_t>(model_.columnCount()), 0);
    for (const QItemSelectionRange& range : table_->selectionModel()->selection()) {
      std::fill(rowSelected.begin() + range.top(), rowSelected.begin() + range.bottom() + 1, 1);
      std::fill(columnSelected.begin() + range.left(), columnSelected.begin() + range.right() + 1, 1);
    }
    std::vector<int> rows, columns;
    for (std::size_t i = 0; i < rowSelected.size(); ++i)
      if (rowSelected[i]) rows.push_back(static_cast<int>(i));
    for (std::size_t i = 0; i < columnSelected.size(); ++i)
      if (columnSelected[i]) columns.push_back(static_cast<int>(i));
    if (rows.size() * columns.size() > kMaxCopiedCells) {
      statusBar()->showMessage(
          u"%1 cells are too many to copy: select fewer, or use Export CSV."_s.arg(rows.size() * columns.size()),
          10000);
      return {};
    }
    if (rows.empty()) return {};
    Busy busy;
    text = model_.tabText(rows, columns);
    statusBar()->showMessage(u"Copied %1 rows of %2 columns."_s.arg(rows.size()).arg(columns.size()), 5000);
  }
  if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
  return text;
}

// The views' own Ctrl+C copies one cell's shown text; the window's copies
// the selection exactly.
bool ResultsWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
    copySelection();
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

QSize ResultsWindow::defaultPictureSize(const QWidget& view) {
  const int width = std::max(1600, 2 * view.width());
  const double shape = view.width() > 0 ? double(view.height()) / view.width() : 0.625;
  return {width, static_cast<int>(std::lround(width * std::clamp(shape, 0.55, 0.8)))};
}

QString ResultsWindow::saveChart(const ChartPanel& panel, const QString& path, QSize pixels) {
  if (!panel.save->isEnabled()) return u"The chart has nothing to save."_s;
  return vadoset::saveChart(panel.drawing, path, pixels.isEmpty() ? defaultPictureSize(*panel.view) : pixels);
}
QString ResultsWindow::saveMonthlyChart(const QString& path, QSize pixels) {
  return saveChart(monthly_, path, pixels);
}
QString ResultsWindow::saveDailyChart(const QString& path, QSize pixels) {
  return saveChart(daily_, path, pixels);
}
QString ResultsWindow::saveOverviewChart(const QString& path, QSize pixels) {
  return saveChart(overviewPanel_, path, pixels);
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

void ResultsWindow::askSaveChart(ChartPanel& panel, const char* what) {
  if (!panel.save->isEnabled()) return;
  QString name = QLatin1String(what);
  if (selected_ && &panel != &overviewPanel_)
    name = fromStd(model_.table().field(*selected_, 0)).replace(u'/', u'-') + u"-"_s + name;
  QString filter;
  QString path = QFileDialog::getSaveFileName(this, u"Save the Chart"_s, name + u".png"_s,
                                              u"PNG picture (*.png);;SVG drawing (*.svg)"_s, &filter);
  if (path.isEmpty()) return;
  if (QFileInfo(path).suffix().isEmpty()) path += filter.contains(u"svg"_s) ? u".svg"_s : u".png"_s;
  QSize pixels = defaultPictureSize(*panel.view);
  if (QFileInfo(path).suffix().toLower() == u"png"_s) {
    const std::optional<QSize> asked = askPictureSize(this, pixels);
    if (!asked) return;
    pixels = *asked;
  }
  const QString error = saveChart(panel, path, pixels);
  if (!error.isEmpty()) QMessageBox::warning(this, windowTitle(), error);
}

}  // namespace vadoset
