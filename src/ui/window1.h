#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "run/driver.h"
#include "run/parallel_run.h"
#include "run/run_report.h"
#include "state/host.h"
#include "state/run_state.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vadoset {

class Dialogs;
class ResultsWindow;
struct RunRecord;

/// The main window: its controls hold the settings of a run, Run starts one
/// and `counter` shows its progress. It owns the run state, so the soil
/// water carried over survives from one run to the next in the same window.
///
/// A run goes through the same driver as the command line tool, on a worker
/// thread, with this window as its Host and as many computing threads as
/// the machine has cores. Folder dialogs and messages are shown modally on the GUI thread
/// while the run waits for the answer; the counter is brought up to date at
/// most every 50 ms and always at the end. While a run goes, Run and every
/// setting are disabled and Stop is enabled.
class Window1 : public QMainWindow, public Host {
  Q_OBJECT

 public:
  /// `dialogs` must outlive the window.
  explicit Window1(Dialogs& dialogs, QWidget* parent = nullptr);
  ~Window1() override;  // stops and waits for a run that is still going

  /// What About_Action does; the application supplies it.
  void setAboutAction(std::function<void()> action) { aboutAction_ = std::move(action); }

  bool isRunning() const { return running_; }

  /// How the next runs divide their work; one thread runs Main_loop itself.
  void setParallelOptions(const ParallelOptions& options) { parallel_ = options; }

  /// The run state. Only read it while no run is going.
  const RunState& runState() const { return state_; }

  // Host, called by the run on its worker thread.
  Settings settings() override;
  std::optional<std::string> selectFolder(std::string_view prompt, std::string_view actionButton) override;
  void showMessage(std::string_view text) override;
  void setCounter(std::string_view text) override;
  bool stopRequested() override { return stop_.load(std::memory_order_relaxed); }
  void progress(const Progress& p) override { report_.progress(p.rows); }
  void warning(std::string_view text) override { report_.warning(text); }
  void nullRow(const NullRow& row) override { report_.nullRow(row); }

  /// What the last run did, as the status line shows it. Only read it while
  /// no run is going.
  const RunReport& runReport() const { return report_; }
  /// Where the last run's table went (empty before a run).
  const std::string& lastOutputPath() const { return lastOutputPath_; }

 public slots:
  /// The Run button: starts a run unless one is going.
  void Run_Main_Action();
  /// The Stop button: the run stops after the record in hand.
  void Stop_run_Action();
  /// The "About" menu item: shows the About window without waiting for it.
  /// (Named without a leading underscore, which C++ reserves before a
  /// capital letter.)
  void About_Action();
  /// View > Results: shows the results window, created the first time, with
  /// the table of the last run that wrote one. A run that ends while it is
  /// open shows there at once; a table opened from a file stays until the
  /// next run.
  void showResults();

 public:
  /// The results window, once showResults has created it.
  ResultsWindow* resultsWindow() const;

 signals:
  /// Emitted on the GUI thread once a run has ended and the controls are
  /// enabled again.
  void runFinished(vadoset::RunOutcome outcome);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void createControls();
  Settings readControls() const;
  void setRunning(bool running);
  void syncCounter();
  void runOnWorker(const ParallelOptions& parallel);
  void finishRun(RunOutcome outcome, const std::string& failure);
  void showSummary(RunOutcome outcome);
  template <typename R, typename F>
  R callOnGui(R cancelled, F&& f);

  Dialogs& dialogs_;
  std::function<void()> aboutAction_;

  QPushButton* Run_Main = nullptr;
  QPushButton* Stop_run = nullptr;
  QLineEdit* counter = nullptr;
  QLineEdit* tmean_field = nullptr;
  QLineEdit* precip_field = nullptr;
  QLineEdit* lat_field = nullptr;
  QLineEdit* fc_field = nullptr;
  QLineEdit* output_field = nullptr;
  QComboBox* Format_popup = nullptr;
  QComboBox* Beta_popup = nullptr;
  QCheckBox* Carryover_box = nullptr;
  // Below the controls: what the last run did.
  QLabel* status_line = nullptr;

  // Touched by the worker only while a run goes, by the GUI thread otherwise.
  RunState state_;
  Settings runSettings_;
  ParallelOptions parallel_;
  RunReport report_;
  std::string outputFolder_;  // the answer to the output folder dialog
  std::string lastOutputPath_;
  std::thread worker_;
  bool running_ = false;
  bool closePending_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<bool> shuttingDown_{false};

  // The counter text that the run set last, picked up by the GUI thread.
  std::mutex counterMutex_;
  std::string counterText_;
  std::uint64_t counterVersion_ = 0;
  std::uint64_t shownVersion_ = 0;
  QTimer counterTimer_;

  // The results of the last run that wrote a table: handed over by the
  // worker when its run ends, shown by the results window.
  std::shared_ptr<const RunRecord> finishedRun_;
  std::shared_ptr<const RunRecord> lastRun_;
  std::shared_ptr<const RunRecord> resultsRun_;  // the run the results window was given last
  QPointer<ResultsWindow> results_;
  void takeFinishedRun();
  void giveResultsTheLastRun();
};

}  // namespace vadoset
