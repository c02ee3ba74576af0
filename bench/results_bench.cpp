// Times the results window on a large table (offscreen): opening it, its
// overview of every record (read on a thread of its own: from the table,
// and with the run's inputs their precipitation), scrolling it screen by
// screen, filtering, sorting by a number column, and with the run's inputs
// the charts of its last record.
//
//   QT_QPA_PLATFORM=offscreen vadoset-results-bench TABLE [--inputs TEMP PREC [--carryover]]
//
// Prints key=value lines, times in milliseconds.

#include <QApplication>
#include <QChart>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "ui/overview.h"
#include "ui/results_window.h"
#include "ui/run_record.h"

using namespace vadoset;

namespace {

long rssMb() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long kb = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> kb;
      break;
    }
  }
  return kb / 1024;
}

double ms(QElapsedTimer& t) {
  return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

// CPU time of the process, which the machine's other load does not inflate.
double cpuMs() {
  return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s TABLE [--inputs TEMP PREC [--carryover]]\n", argv[0]);
    return 2;
  }
  const QString table = QString::fromLocal8Bit(argv[1]);
  std::shared_ptr<RunRecord> run;
  if (argc >= 5 && std::string(argv[2]) == "--inputs") {
    run = std::make_shared<RunRecord>();
    run->tablePath = argv[1];
    run->tmeanPath = argv[3];
    run->precipPath = argv[4];
    run->format = &formatDescription(InputFormat::Tab);
    run->model.carryover = argc >= 6 && std::string(argv[5]) == "--carryover";
  }

  ResultsWindow w;
  w.resize(1000, 720);
  w.show();
  app.processEvents();
  const long rssBefore = rssMb();
  QElapsedTimer t;
  t.start();
  double cpu = cpuMs();
  QEventLoop overview;
  QObject::connect(&w, &ResultsWindow::overviewDrawn, &overview, &QEventLoop::quit);
  const QString error = run ? w.showRun(run) : w.showTable(table);
  app.processEvents();
  std::printf("open_ms=%.1f cpu_ms=%.1f rows=%d error=%s rss_mb=%ld (before %ld)\n", ms(t), cpuMs() - cpu,
              w.model().rowCount(), qPrintable(error), rssMb(), rssBefore);
  // The window answers while the overview is read; it is drawn when ready.
  if (!w.overviewView()->points()) overview.exec();
  const BudykoPoints* points = w.overviewView()->points();
  std::printf("overview_ms=%.1f cpu_ms=%.1f (from the start of opening) points=%zu null_rows=%zu error=%s\n", ms(t),
              cpuMs() - cpu, points ? points->x.size() : 0, points ? points->nullRows : 0,
              points ? points->error.c_str() : "none");

  // Screens: page after page from the top, then jumps anywhere; each paint
  // reads its rows from the file through the block cache.
  QTableView* view = w.tableView();
  QScrollBar* bar = view->verticalScrollBar();
  std::vector<double> paints;
  std::mt19937 random(7);
  for (int i = 0; i < 400; ++i) {
    const int to = i < 200 ? bar->value() + bar->pageStep()
                           : static_cast<int>(random() % static_cast<unsigned>(bar->maximum() + 1));
    t.restart();
    bar->setValue(to);
    view->viewport()->repaint();
    paints.push_back(ms(t));
  }
  std::sort(paints.begin(), paints.end());
  std::printf("scroll_paint_ms median=%.2f p99=%.2f max=%.2f over %zu screens, block_reads=%zu\n",
              paints[paints.size() / 2], paints[paints.size() * 99 / 100], paints.back(), paints.size(),
              w.model().table().blockReads());

  t.restart();
  cpu = cpuMs();
  w.model().setFilter(QStringLiteral("manaus"));
  std::printf("filter_ms=%.1f cpu_ms=%.1f shown=%d\n", ms(t), cpuMs() - cpu, w.model().rowCount());
  w.model().setFilter({});

  const int pet = static_cast<int>(
      std::find(w.model().table().columns().begin(), w.model().table().columns().end(), std::string("PET")) -
      w.model().table().columns().begin());
  const struct {
    const char* what;
    int column;
    Qt::SortOrder order;
  } sorts[] = {{"sort_numeric (column read once, then sorted)", pet, Qt::DescendingOrder},
               {"sort_numeric_again", pet, Qt::AscendingOrder},
               {"sort_identifier", 0, Qt::AscendingOrder}};
  for (const auto& s : sorts) {
    t.restart();
    cpu = cpuMs();
    view->horizontalHeader()->setSortIndicator(s.column, s.order);  // as a click on the header
    std::printf("%s ms=%.1f cpu_ms=%.1f\n", s.what, ms(t), cpuMs() - cpu);
  }
  view->sortByColumn(-1, Qt::AscendingOrder);
  t.restart();
  cpu = cpuMs();
  w.model().sort(0, Qt::DescendingOrder);
  std::printf("model_sort_identifier ms=%.1f cpu_ms=%.1f (the model alone)\n", ms(t), cpuMs() - cpu);
  t.restart();
  cpu = cpuMs();
  w.model().sort(-1);
  std::printf("model_sort_none ms=%.1f cpu_ms=%.1f (the view's reset alone)\n", ms(t), cpuMs() - cpu);

  if (run) {
    const std::size_t last = w.model().tableRows() - 1;
    for (int i = 0; i < 2; ++i) {
      // The chain goes in slices between which the event loop runs: the
      // longest slice is how long the window stops answering.
      t.restart();
      cpu = cpuMs();
      QElapsedTimer slice;
      slice.start();
      double longest = 0.0;
      w.selectTableRow(i == 0 ? last : last - 1);
      longest = ms(slice);
      while (w.monthlyChart()->title().contains(QStringLiteral("Computing"))) {
        slice.restart();
        app.processEvents();
        longest = std::max(longest, ms(slice));
      }
      std::printf("charts_of_last_record ms=%.1f cpu_ms=%.1f longest_slice_ms=%.1f (%s)\n", ms(t), cpuMs() - cpu,
                  longest, i == 0 ? "first look" : "again, the record before it");
    }
    // The record computed again has the table's numbers (else the title says the inputs changed).
    std::printf("charts_agree_with_table=%s\n",
                w.monthlyChart()->title().contains(QStringLiteral("changed")) ? "no" : "yes");
  }
  std::printf("rss_mb_end=%ld\n", rssMb());
  return 0;
}
