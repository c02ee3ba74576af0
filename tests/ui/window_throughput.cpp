// Times whole runs from the window against vadoset-cli's runCli on the same
// generated input, alternating them, and prints the medians and the
// window's share of the command line tool's throughput.
//
//   QT_QPA_PLATFORM=offscreen vadoset_window_throughput [RECORDS [REPEATS]]

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "cli/cli.h"
#include "ui/window1.h"
#include "ui_test_support.h"

using namespace vadoset;
using namespace vadoset::uitest;

namespace {

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
  if (records < 1 || repeats < 1) {
    std::fprintf(stderr, "usage: vadoset_window_throughput [RECORDS [REPEATS]]\n");
    return 2;
  }
  QTemporaryDir dir;
  writeLargeInputs(dir.path(), records);
  const std::string temp = dir.filePath(QStringLiteral("temp.txt")).toStdString();
  const std::string prec = dir.filePath(QStringLiteral("prec.txt")).toStdString();

  auto timeWindow = [&] {
    ScriptedDialogs dialogs;
    dialogs.folders = {dir.path(), dir.path()};
    Window1 w(dialogs);
    w.show();
    child<QLineEdit>(&w, "tmean_field")->setText(QStringLiteral("temp.txt"));
    child<QLineEdit>(&w, "precip_field")->setText(QStringLiteral("prec.txt"));
    child<QLineEdit>(&w, "output_field")->setText(QStringLiteral("window.txt"));
    QElapsedTimer t;
    t.start();
    if (runFromWindow(w, 3600000) != RunOutcome::Completed) std::exit(1);
    return static_cast<double>(t.nsecsElapsed()) / 1e9;
  };
  auto timeCli = [&] {
    std::ostringstream out, err;
    QElapsedTimer t;
    t.start();
    if (runCli({"-t", temp, "-p", prec, "-o", dir.filePath(QStringLiteral("cli.txt")).toStdString(), "--quiet"}, out,
               err) != kExitOk)
      std::exit(1);
    return static_cast<double>(t.nsecsElapsed()) / 1e9;
  };

  // Alternate which goes first, so that neither always runs on a warmer cache.
  std::vector<double> window, cli;
  for (int r = 0; r < repeats; ++r) {
    if (r % 2 == 0) {
      window.push_back(timeWindow());
      cli.push_back(timeCli());
    } else {
      cli.push_back(timeCli());
      window.push_back(timeWindow());
    }
    std::printf("run %d: window %.3f s, vadoset-cli %.3f s\n", r + 1, window.back(), cli.back());
  }
  const double w = median(window), c = median(cli);
  std::printf("%d records, medians of %d: window %.3f s (%.0f records/s), vadoset-cli %.3f s (%.0f records/s)\n",
              records, repeats, w, records / w, c, records / c);
  std::printf("the window reaches %.0f%% of vadoset-cli's throughput\n", 100.0 * c / w);
  return 0;
}
