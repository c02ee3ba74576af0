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

#include "run/run.h"
#include "run/run_report.h"

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
/// and `counter` shows its progress. It keeps the soil water carried over,
/// so that it survives from one run to the next in the same window.
///
/// Run asks for the data folder, opens the inputs (Open_files), asks for the
/// output folder, and then runs the rest of the run (runTable) on a worker
/// thread with as many computing threads as the machine has cores: the same
/// run as the command line tool's. The counter is brought up to date at most
/// every 50 ms and always at the end. While a run goes, Run and every
/// setting are disabled and Stop is enabled.
class Window1 : public QMainWindow {
  Q_OBJECT

 public:
  /// `dialogs` must outlive the window.
  explicit Window1(Dialogs& dialogs, QWidget* parent = nullptr);
  ~Window1() override;  // stops and waits for a run that is still going

  /// What About_Action does; the application supplies it.
  void setAboutAction(std::function<void()> action) { aboutAction_ = std::move(action); }

  bool isRunning() const { return running_; }

  /// How the next runs divide their work; one thread computes on the run's
  /// own worker thread.
  void setParallelOptions(const RunConfig::Parallel& options) { parallel_ = options; }

  /// The soil water and snow carried over from the last run. Only read it
  /// while no run is going.
  const CarriedState& carried() const { return carried_; }

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
  /// enabled again (NotStarted also for a cancelled folder dialog).
  void runFinished(vadoset::RunOutcome outcome);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  class Observer;
  void createControls();
  Settings readControls() const;
  void setRunning(bool running);
  // Asks for the folders, opens the inputs and starts the run's worker; the
  // outcome of a run that did not start.
  RunOutcome startRun();
  void setCounterText(std::string_view text);
  void syncCounter();
  void showProblems(const std::vector<RunProblem>& problems);
  void finishRun(const RunResult& result);
  void showSummary(const RunResult& result);

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
  CarriedState carried_;
  RunConfig runConfig_;
  RunConfig::Parallel parallel_;
  RunReport report_;
  std::shared_ptr<RunRecord> recording_;  // what the results window will keep of the run
  std::string lastOutputPath_;
  std::thread worker_;
  bool running_ = false;
  bool closePending_ = false;
  std::atomic<bool> stop_{false};

  // The counter text that the run set last, picked up by the GUI thread.
  std::mutex counterMutex_;
  std::string counterText_;
  std::uint64_t counterVersion_ = 0;
  std::uint64_t shownVersion_ = 0;
  QTimer counterTimer_;

  // The results of the last run that wrote a table, shown by the results
  // window.
  std::shared_ptr<const RunRecord> lastRun_;
  std::shared_ptr<const RunRecord> resultsRun_;  // the run the results window was given last
  QPointer<ResultsWindow> results_;
  void giveResultsTheLastRun();
};

}  // namespace vadoset
