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
#include <future>
#include <memory>
#include <system_error>

#include "input/formats.h"
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
    // The run may be waiting for an answer from this thread: tell it that
    // none will come, then let it stop after the record in hand.
    shuttingDown_.store(true);
    stop_.store(true);
    worker_.join();
  }
}

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
  // A press while a run goes would share the run state and its streams.
  if (running_ || worker_.joinable()) return;
  // The settings are taken once, before the run, and cannot change during it.
  runSettings_ = readControls();
  report_.start();
  outputFolder_.clear();
  stop_.store(false);
  setRunning(true);
  counterTimer_.start();
  try {
    worker_ = std::thread([this, parallel = parallel_] { runOnWorker(parallel); });
  } catch (const std::system_error& e) {
    counterTimer_.stop();
    setRunning(false);
    dialogs_.showMessage(this, QStringLiteral("The run could not be started: %1").arg(QString::fromUtf8(e.what())));
  }
}

void Window1::runOnWorker(const ParallelOptions& parallel) {
  RunOutcome outcome = RunOutcome::NotStarted;
  std::string failure;
  try {
    RecordingHost host(*this, state_);
    outcome = runParallel(state_, host, parallel);
    std::shared_ptr<RunRecord> record = host.finish(state_, outcome);
    // The results window lists the run's warnings and null rows.
    if (record) record->report = report_;
    finishedRun_ = std::move(record);
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = "unknown error";
  }
  if (!failure.empty()) {
    // Nothing half-written is left behind, and no input stays open.
    if (state_.aet_out) state_.aet_out->abandon();
    if (state_.precip_data) state_.precip_data->Close();
    if (state_.tmean_data) state_.tmean_data->Close();
    outcome = RunOutcome::OutputFailed;
    failure = "The run stopped because of an error: " + failure;
  }
  QMetaObject::invokeMethod(
      this, [this, outcome, failure] { finishRun(outcome, failure); }, Qt::QueuedConnection);
}

void Window1::finishRun(RunOutcome outcome, const std::string& failure) {
  if (worker_.joinable()) worker_.join();
  counterTimer_.stop();
  syncCounter();  // the final count is always shown
  setRunning(false);
  takeFinishedRun();
  showSummary(outcome);
  if (!failure.empty()) dialogs_.showMessage(this, fromStd(failure));
  emit runFinished(outcome);
  if (closePending_) {
    closePending_ = false;
    close();
  }
}

// "Finished: 23 rows written to /data/output.txt (0.05 s, 460 records/s).
// 2 null rows: ... 1 warning." A run that failed or was refused clears the
// line and the counter: the count of an earlier run would pass for its own.
void Window1::showSummary(RunOutcome outcome) {
  if (outcome != RunOutcome::Completed && outcome != RunOutcome::Stopped) {
    status_line->clear();
    status_line->setToolTip({});
    statusBar()->hide();
    counter->clear();
    return;
  }
  statusBar()->show();
  lastOutputPath_ = outputFolder_.empty() ? runSettings_.outputFile
                                          : (std::filesystem::path(outputFolder_) / runSettings_.outputFile).string();
  std::string text = report_.outcomeText(outcome, lastOutputPath_);
  text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  // A long path may break after any slash, not run past the window's edge.
  QString html = (outcome == RunOutcome::Completed ? QStringLiteral("Finished: ") : QString()) +
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

// Runs f on the GUI thread and waits for its result. If the window is being
// destroyed meanwhile, gives `cancelled` instead of waiting for ever.
template <typename R, typename F>
R Window1::callOnGui(R cancelled, F&& f) {
  auto promise = std::make_shared<std::promise<R>>();
  std::future<R> future = promise->get_future();
  QMetaObject::invokeMethod(
      this,
      [this, promise, fn = std::forward<F>(f)]() mutable {
        // What the run showed so far is on screen before any dialog.
        syncCounter();
        try {
          promise->set_value(fn());
        } catch (...) {
          promise->set_exception(std::current_exception());
        }
      },
      Qt::QueuedConnection);
  while (future.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
    if (shuttingDown_.load()) return cancelled;
  }
  return future.get();
}

Settings Window1::settings() {
  return runSettings_;
}

std::optional<std::string> Window1::selectFolder(std::string_view prompt, std::string_view actionButton) {
  using Answer = std::optional<std::string>;
  return callOnGui<Answer>(std::nullopt, [this, p = fromStd(prompt), b = fromStd(actionButton)]() -> Answer {
    std::optional<QString> folder = dialogs_.selectFolder(this, p, b);
    if (!folder) return std::nullopt;
    std::string path = QFile::encodeName(*folder).toStdString();
    if (p == QStringLiteral("Folder to save output data")) outputFolder_ = path;
    return path;
  });
}

void Window1::showMessage(std::string_view text) {
  callOnGui<bool>(false, [this, t = fromStd(text)] {
    dialogs_.showMessage(this, t);
    return true;
  });
}

void Window1::setCounter(std::string_view text) {
  // Once per record: no allocation (short texts), no signal, no event.
  std::lock_guard<std::mutex> lock(counterMutex_);
  counterText_.assign(text);
  ++counterVersion_;
}

// The results window.

void Window1::takeFinishedRun() {
  if (!finishedRun_) return;
  lastRun_ = std::move(finishedRun_);
  // A hidden results window opens the new table when it is shown again.
  if (results_ && results_->isVisible()) giveResultsTheLastRun();
}

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
