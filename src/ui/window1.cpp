#include "ui/window1.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <cctype>
#include <exception>
#include <filesystem>
#include <memory>
#include <system_error>

#include "input/formats.h"
#include "platform/text.h"
#include "ui/dialogs.h"
#include "ui/results_window.h"
#include "ui/run_record.h"

namespace vadoset {

namespace {

constexpr int kWidth = 302;
constexpr int kHeight = 349;
constexpr int kCounterIntervalMs = 50;

// The layout was drawn at 72 dots per inch, where a 12-point font is 12
// pixels high. Sizing the fonts in pixels keeps the texts in proportion with
// the controls at any screen resolution.
QFont fontOfSize(int pixels) {
  QFont f;
  f.setPixelSize(pixels);
  return f;
}

template <typename W>
W* place(W* widget, const char* name, int left, int top, int width, int height, int fontPixels = 0) {
  widget->setObjectName(QLatin1String(name));
  widget->setGeometry(left, top, width, height);
  if (fontPixels > 0) widget->setFont(fontOfSize(fontPixels));
  return widget;
}

QLineEdit* editField(QWidget* parent, const char* name, int left, int top, int width, const char* text) {
  auto* field = place(new QLineEdit(QString::fromUtf8(text), parent), name, left, top, width, 22, 12);
  field->setFrame(true);
  return field;
}

QLabel* label(QWidget* parent, const char* name, int left, int top, int width, int height, const char* text,
              int fontPixels) {
  return place(new QLabel(QString::fromUtf8(text), parent), name, left, top, width, height, fontPixels);
}

QString fromStd(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

Window1::Window1(Dialogs& dialogs, QWidget* parent) : QMainWindow(parent), dialogs_(dialogs) {
  setWindowTitle(QStringLiteral("Vadoset"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  createControls();
  // The status line lies below the controls, outside their fixed area.
  status_line = new QLabel(this);
  status_line->setObjectName(QStringLiteral("status_line"));
  status_line->setTextFormat(Qt::RichText);
  status_line->setWordWrap(true);
  status_line->setFont(fontOfSize(11));
  status_line->setTextInteractionFlags(Qt::TextBrowserInteraction);
  statusBar()->addWidget(status_line, 1);
  statusBar()->setSizeGripEnabled(false);
  // Shown once there is a run to tell of: the window opens as it always has.
  statusBar()->hide();
  connect(status_line, &QLabel::linkActivated, this, [this](const QString& link) {
    showResults();
    if (link == QStringLiteral("warnings")) results_->showWarnings();
  });
  // The content area has a fixed size; a menu bar inside the window (where
  // the platform puts it there) adds its own height on top.
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  const unsigned cores = std::thread::hardware_concurrency();
  parallel_.threads = cores == 0 ? 1 : static_cast<int>(cores);

  counterTimer_.setInterval(kCounterIntervalMs);
  connect(&counterTimer_, &QTimer::timeout, this, &Window1::syncCounter);
}

Window1::~Window1() {
  if (worker_.joinable()) {
    // Let the run stop after the record in hand.
    stop_.store(true);
    worker_.join();
  }
}

// What the window hears from a run, on the run's worker thread: the counter
// text, the summary's figures and the null rows' reasons.
class Window1::Observer final : public RunObserver {
 public:
  explicit Observer(Window1& w) : w_(w) {}
  void progress(const Progress& p) override {
    if (p.rows == 0) {
      w_.setCounterText("File names loaded");
      return;
    }
    char text[kStrBufferSize];
    w_.setCounterText(std::string_view(text, StrTo(static_cast<double>(p.rows), text)));
    w_.report_.progress(p.rows);
  }
  void warning(std::string_view text) override { w_.report_.warning(text); }
  void nullRow(const NullRow& row) override {
    w_.report_.nullRow(row);
    if (w_.recording_) w_.recording_->nullRows.add(row.row, row.reasonText());
  }
  StopRequest stopRequested() override {
    return w_.stop_.load(std::memory_order_relaxed) ? StopRequest::KeepRows : StopRequest::None;
  }

 private:
  Window1& w_;
};

void Window1::createControls() {
  auto* content = new QWidget(this);
  content->setObjectName(QStringLiteral("content"));
  content->setFixedSize(kWidth, kHeight);
  setCentralWidget(content);

  // Creation order is the stacking order: a later control lies on top.
  Run_Main = place(new QPushButton(QStringLiteral("Run"), content), "Run_Main", 30, 261, 69, 20, 12);
  Stop_run = place(new QPushButton(QStringLiteral("Stop"), content), "Stop_run", 30, 294, 69, 20, 12);
  for (QPushButton* b : {Run_Main, Stop_run}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }
  counter = place(new QLineEdit(content), "counter", 150, 274, 124, 22, 12);
  counter->setReadOnly(true);
  counter->setFrame(true);
  label(content, "StaticText1", 150, 255, 100, 20, "Rows completed", 12);
  label(content, "StaticText3", 13, 35, 159, 20, "Temperature data file", 12);
  label(content, "StaticText4", 13, 62, 159, 20, "Precipitation data file", 12);
  // Wide enough for "Latitude (decimal degrees)" at 12 pixels: it ends where
  // lat_field begins.
  QLabel* latitudeLabel =
      label(content, "StaticText5", 13, 98, 164, 34, "Latitude (decimal degrees)\n(For HCN data only)", 12);
  // Two lines, broken where the text says and nowhere else.
  latitudeLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  latitudeLabel->setWordWrap(false);
  label(content, "StaticText6", 13, 132, 159, 20, "Field capacity (mm)", 12);
  tmean_field = editField(content, "tmean_field", 146, 34, 128, "allsites_temp.txt");
  precip_field = editField(content, "precip_field", 146, 61, 128, "allsites_prec.txt");
  lat_field = editField(content, "lat_field", 177, 97, 97, "44.47");
  fc_field = editField(content, "fc_field", 177, 131, 97, "100");

  auto* separator1 = place(new QFrame(content), "Separator1", 13, 86, 261, 4);
  separator1->setFrameShape(QFrame::HLine);
  separator1->setFrameShadow(QFrame::Sunken);
  auto* separator2 = place(new QFrame(content), "Separator2", 13, 214, 261, 1);
  separator2->setFrameShape(QFrame::HLine);
  separator2->setFrameShadow(QFrame::Plain);
  separator2->setLineWidth(1);

  label(content, "StaticText11", 42, 227, 100, 20, "Output data file", 12);
  output_field = editField(content, "output_field", 146, 227, 128, "output.txt");
  // The controls drawn at the system's default size take 12 pixels too, so
  // that a large desktop font cannot push their texts out of their places.
  label(content, "StaticText12", 16, 6, 100, 20, "Input format:", 12);
  Format_popup = place(new QComboBox(content), "Format_popup", 111, 5, 163, 20, 12);
  for (const InputFormatDescription& f : inputFormats())
    Format_popup->addItem(QString::fromUtf8(f.label.data(), static_cast<qsizetype>(f.label.size())));
  Format_popup->setCurrentIndex(0);
  label(content, "StaticText13", 13, 157, 197, 20, "Declining availability function", 12);
  Beta_popup = place(new QComboBox(content), "Beta_popup", 207, 157, 67, 20, 12);
  for (char c : kAvailabilityLetters) Beta_popup->addItem(QString(QLatin1Char(c)));
  Beta_popup->setCurrentIndex(6);
  Carryover_box = place(new QCheckBox(QStringLiteral("Carryover soil water from Dec to Jan"), content), "Carryover_box",
                        13, 186, 252, 20, 12);
  Carryover_box->setChecked(false);
  // A pop-up or check box whose text needs more room in this style (the
  // CSV format's name) grows to the right, as far as the window allows.
  for (QWidget* w : std::initializer_list<QWidget*>{Format_popup, Carryover_box}) {
    const int wanted = std::min(w->sizeHint().width(), kWidth - 4 - w->x());
    if (wanted > w->width()) w->resize(wanted, w->height());
  }
  // A file name longer than its field shows its start, not its end.
  for (QLineEdit* f : {tmean_field, precip_field, output_field}) {
    f->setCursorPosition(0);
    connect(f, &QLineEdit::editingFinished, f, [f] { f->setCursorPosition(0); });
  }

  connect(Run_Main, &QPushButton::clicked, this, &Window1::Run_Main_Action);
  connect(Stop_run, &QPushButton::clicked, this, &Window1::Stop_run_Action);
  // Stop does something only while a run goes.
  Stop_run->setEnabled(false);
}

Settings Window1::readControls() const {
  Settings s;
  s.tmeanFile = tmean_field->text().toStdString();
  s.precipFile = precip_field->text().toStdString();
  s.latText = lat_field->text().toStdString();
  s.fcText = fc_field->text().toStdString();
  s.outputFile = output_field->text().toStdString();
  s.format = inputFormats()[static_cast<std::size_t>(Format_popup->currentIndex())].format;
  s.function = static_cast<AvailabilityFunction>(Beta_popup->currentIndex());
  s.carryover = Carryover_box->isChecked();
  return s;
}

void Window1::setRunning(bool running) {
  running_ = running;
  for (QWidget* w : std::initializer_list<QWidget*>{Run_Main, tmean_field, precip_field, lat_field, fc_field,
                                                    output_field, Format_popup, Beta_popup, Carryover_box})
    w->setEnabled(!running);
  Stop_run->setEnabled(running);
}

void Window1::Run_Main_Action() {
  // A press while a run goes would share the carried soil water.
  if (running_ || worker_.joinable()) return;
  RunOutcome outcome = RunOutcome::NotStarted;
  try {
    outcome = startRun();
  } catch (const std::exception& e) {
    // A dialog that failed: the run ends as any failed run does.
    RunProblem p;
    p.detail = e.what();
    showProblems({p});
    outcome = RunOutcome::OutputFailed;
  }
  if (running_) return;
  // A run that never started says so, and leaves no summary of another.
  recording_.reset();
  syncCounter();
  showSummary(RunResult{});
  emit runFinished(outcome);
}

RunOutcome Window1::startRun() {
  // The settings are taken once, before the run, and cannot change during it.
  const Settings settings = readControls();
  report_.start();
  stop_.store(false);

  // The data folder, the inputs, then the output folder, as every run asks.
  const std::optional<QString> dataFolder =
      dialogs_.selectFolder(this, QStringLiteral("Folder containing data files"), QStringLiteral("Select folder"));
  if (!dataFolder) return RunOutcome::NotStarted;
  const std::string dataPath = QFile::encodeName(*dataFolder).toStdString();
  Observer opening(*this);
  OpenedInputs opened = Open_files(makeRunConfig(settings, dataPath, ""), opening);
  syncCounter();
  if (!opened.inputs) {
    showProblems(opened.problems);
    return RunOutcome::NotStarted;
  }
  const std::optional<QString> outputFolder =
      dialogs_.selectFolder(this, QStringLiteral("Folder to save output data"), QStringLiteral("Select folder"));
  if (!outputFolder) return RunOutcome::NotStarted;

  runConfig_ = makeRunConfig(settings, dataPath, QFile::encodeName(*outputFolder).toStdString());
  runConfig_.parallel = parallel_;
  runConfig_.start = carried_;
  recording_ = makeRunRecord(runConfig_, *opened.inputs);
  setRunning(true);
  counterTimer_.start();
  try {
    worker_ = std::thread([this, inputs = std::move(opened.inputs)]() mutable {
      Observer observer(*this);
      RunResult result;
      try {
        result = runTable(std::move(inputs), runConfig_, observer);
      } catch (const std::exception& e) {
        RunProblem p;
        p.detail = e.what();
        result.outcome = RunOutcome::OutputFailed;
        result.carried = runConfig_.start;
        result.problems.push_back(std::move(p));
      }
      QMetaObject::invokeMethod(
          this, [this, result = std::move(result)] { finishRun(result); }, Qt::QueuedConnection);
    });
  } catch (const std::system_error& e) {
    counterTimer_.stop();
    setRunning(false);
    dialogs_.showMessage(this, QStringLiteral("The run could not be started: %1").arg(QString::fromUtf8(e.what())));
    return RunOutcome::NotStarted;
  }
  return RunOutcome::Completed;
}

void Window1::showProblems(const std::vector<RunProblem>& problems) {
  for (const RunProblem& p : problems) {
    std::string text = p.message();
    if (p.kind == RunProblem::Kind::Header) {
      // Under the format's own message: which file, and what to do.
      std::string others;
      for (const InputFormatDescription& f : inputFormats())
        if (f.format != readControls().format) others += (others.empty() ? "" : " or ") + std::string(f.label);
      text += "\n" + p.headerHint("the format " + others);
    }
    dialogs_.showMessage(this, fromStd(text));
  }
}

void Window1::finishRun(const RunResult& result) {
  if (worker_.joinable()) worker_.join();
  counterTimer_.stop();
  syncCounter();  // the final count is always shown
  setRunning(false);
  carried_ = result.carried;
  if (result.tableWritten && recording_) {
    recording_->stopped = result.outcome == RunOutcome::Stopped;
    // The results window lists the run's warnings and null rows.
    recording_->report = report_;
    lastRun_ = std::move(recording_);
    // A hidden results window opens the new table when it is shown again.
    if (results_ && results_->isVisible()) giveResultsTheLastRun();
  }
  recording_.reset();
  showSummary(result);
  showProblems(result.problems);
  emit runFinished(result.outcome);
  if (closePending_) {
    closePending_ = false;
    close();
  }
}

// "Finished: 23 rows written to /data/output.txt (0.05 s, 460 records/s).
// 2 null rows: ... 1 warning." A run that failed or was refused clears the
// line and the counter: the count of an earlier run would pass for its own.
void Window1::showSummary(const RunResult& result) {
  if (!result.tableWritten) {
    status_line->clear();
    status_line->setToolTip({});
    statusBar()->hide();
    counter->clear();
    return;
  }
  statusBar()->show();
  lastOutputPath_ = runConfig_.outputPath.string();
  std::string text = report_.outcomeText(result, lastOutputPath_);
  text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  // A long path may break after any slash, not run past the window's edge.
  QString html = (result.outcome == RunOutcome::Completed ? QStringLiteral("Finished: ") : QString()) +
                 fromStd(text).toHtmlEscaped().replace(u'/', QStringLiteral("/\u200B")) + QStringLiteral(".");
  if (report_.nullRows() > 0)
    html += QStringLiteral(" ") + fromStd(report_.nullsText()).toHtmlEscaped() + QStringLiteral(".");
  // The warnings are one click away, in the results window's panel.
  const std::size_t warnings = report_.warnings().size();
  if (warnings > 0)
    html += QStringLiteral(" <a href=\"warnings\">%1 %2</a>.")
                .arg(warnings)
                .arg(warnings == 1 ? QStringLiteral("warning") : QStringLiteral("warnings"));
  html += QStringLiteral(" <a href=\"results\">Show results</a>");
  status_line->setText(html);
  QString tip;
  for (const std::string& w : report_.warnings()) tip += QStringLiteral("\u2022 ") + fromStd(w) + QStringLiteral("\n");
  status_line->setToolTip(tip.trimmed());
}

void Window1::Stop_run_Action() {
  if (running_) stop_.store(true);
}

void Window1::About_Action() {
  if (aboutAction_) aboutAction_();
}

void Window1::closeEvent(QCloseEvent* event) {
  if (running_) {
    // Keep the rows written so far: stop after the record in hand, then close.
    stop_.store(true);
    closePending_ = true;
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

void Window1::syncCounter() {
  QString text;
  {
    std::lock_guard<std::mutex> lock(counterMutex_);
    if (counterVersion_ == shownVersion_) return;
    shownVersion_ = counterVersion_;
    text = QString::fromUtf8(counterText_.data(), static_cast<qsizetype>(counterText_.size()));
  }
  counter->setText(text);
}

void Window1::setCounterText(std::string_view text) {
  // Once per record: no allocation (short texts), no signal, no event.
  std::lock_guard<std::mutex> lock(counterMutex_);
  counterText_.assign(text);
  ++counterVersion_;
}

// The results window.

void Window1::giveResultsTheLastRun() {
  if (!lastRun_ || lastRun_ == resultsRun_) return;
  results_->showRun(lastRun_);
  resultsRun_ = lastRun_;
}

ResultsWindow* Window1::resultsWindow() const {
  return results_.data();
}

void Window1::showResults() {
  if (!results_) results_ = new ResultsWindow(this);
  giveResultsTheLastRun();
  results_->show();
  results_->raise();
  results_->activateWindow();
}

}  // namespace vadoset
