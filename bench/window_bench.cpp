// Times whole runs started from the main window (offscreen), to set against
// vadoset-cli on the same input.
//
//   QT_QPA_PLATFORM=offscreen vadoset-window-bench FOLDER TEMP PREC
//       [--function A..H] [--carryover] [--threads N] [--repeat K]
//
// The folder dialogs answer FOLDER; the table goes to FOLDER/window_out.txt.
// Prints key=value lines: the time of each run and their median.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "ui/dialogs.h"
#include "ui/window1.h"

using namespace vadoset;

namespace {

class FolderDialogs final : public Dialogs {
 public:
  explicit FolderDialogs(QString folder) : folder_(std::move(folder)) {}
  std::optional<QString> selectFolder(QWidget*, const QString&, const QString&) override { return folder_; }
  void showMessage(QWidget*, const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }

 private:
  QString folder_;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 4) {
    std::fprintf(
        stderr,
        "usage: vadoset-window-bench FOLDER TEMP PREC [--function X] [--carryover] [--threads N] [--repeat K]\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  int repeat = 5;
  int threads = 0;
  int function = 6;
  bool carryover = false;
  for (int i = 4; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--function" && i + 1 < argc)
      function = argv[++i][0] - 'A';
    else if (a == "--carryover")
      carryover = true;
    else if (a == "--threads" && i + 1 < argc)
      threads = std::atoi(argv[++i]);
    else if (a == "--repeat" && i + 1 < argc)
      repeat = std::max(1, std::atoi(argv[++i]));
  }

  FolderDialogs dialogs(folder);
  Window1 window(dialogs);
  window.findChild<QLineEdit*>(QStringLiteral("tmean_field"))->setText(QString::fromLocal8Bit(argv[2]));
  window.findChild<QLineEdit*>(QStringLiteral("precip_field"))->setText(QString::fromLocal8Bit(argv[3]));
  window.findChild<QLineEdit*>(QStringLiteral("output_field"))->setText(QStringLiteral("window_out.txt"));
  window.findChild<QComboBox*>(QStringLiteral("Beta_popup"))->setCurrentIndex(function);
  window.findChild<QCheckBox*>(QStringLiteral("Carryover_box"))->setChecked(carryover);
  if (threads > 0) {
    RunConfig::Parallel options;
    options.threads = threads;
    window.setParallelOptions(options);
  }
  window.show();

  std::vector<double> seconds;
  RunOutcome outcome = RunOutcome::Completed;
  for (int r = 0; r < repeat; ++r) {
    QEventLoop loop;
    QObject::connect(&window, &Window1::runFinished, &loop, [&](RunOutcome o) {
      outcome = o;
      loop.quit();
    });
    auto start = std::chrono::steady_clock::now();
    window.Run_Main_Action();
    loop.exec();
    seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (outcome != RunOutcome::Completed) {
      std::fprintf(stderr, "the run did not complete\n");
      return 1;
    }
  }
  std::printf("seconds=");
  for (std::size_t i = 0; i < seconds.size(); ++i) std::printf("%s%.4f", i ? "," : "", seconds[i]);
  std::sort(seconds.begin(), seconds.end());
  std::printf("\nmedian_seconds=%.4f\n", seconds[seconds.size() / 2]);
  return 0;
}
