// Whole runs from the Run button: the table against the command line tool's,
// the counter, Stop, the controls during a run, and the soil water carried
// from one run to the next.

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/app.h"
#include "platform/host.h"
#include "run/run_state.h"
#include "ui/window1.h"
#include "ui_test_support.h"

using namespace vadoset;
using namespace vadoset::uitest;

namespace {

// The core's own run on the same settings, with a run state that lives as
// long as this host: what two presses of Run in one window must give.
class CoreHost : public Host {
 public:
  Settings s;
  std::string folder;
  Settings settings() override { return s; }
  std::optional<std::string> selectFolder(std::string_view, std::string_view) override { return folder; }
  void showMessage(std::string_view) override {}
  void setCounter(std::string_view) override {}
};

bool isCount(const QString& text) {
  bool ok = false;
  text.toInt(&ok);
  return ok;
}

}  // namespace

class RunTest : public QObject {
  Q_OBJECT

 private slots:
  void tableMatchesCli_data();
  void tableMatchesCli();
  void counterShowsLoadedThenCounts();
  void longRunIsThrottledStoppableAndResponsive();
  void carryOverAcrossRuns();
  void closingDuringRunStopsThenCloses();
  void destroyingDuringRunKeepsCompleteRows();
};

void RunTest::tableMatchesCli_data() {
  QTest::addColumn<QString>("tempText");
  QTest::addColumn<QString>("precText");
  QTest::addColumn<int>("format");
  QTest::addColumn<QString>("latitude");
  QTest::addColumn<QString>("fc");
  QTest::addColumn<int>("beta");
  QTest::addColumn<bool>("carryover");
  QTest::addColumn<int>("threads");
  QTest::addColumn<int>("rows");

  const QString tabT = QString::fromUtf8(kTabTemp), tabP = QString::fromUtf8(kTabPrec);
  QTest::newRow("defaults") << tabT << tabP << 0 << QStringLiteral("44.47") << QStringLiteral("100") << 6 << false << 0
                            << 6;
  QTest::newRow("function B, 150 mm, one thread")
      << tabT << tabP << 0 << QStringLiteral("44.47") << QStringLiteral("150") << 1 << false << 1 << 6;
  QTest::newRow("function A, 25 mm") << tabT << tabP << 0 << QStringLiteral("44.47") << QStringLiteral("25") << 0
                                     << false << 2 << 6;
  QTest::newRow("HCN at 44.47 N, function E")
      << QString::fromUtf8(kHcnTemp) << QString::fromUtf8(kHcnPrec) << 1 << QStringLiteral("44.47")
      << QStringLiteral("100") << 4 << false << 0 << 3;
  QTest::newRow("HCN moved to 60 S, function H, carry-over")
      << QString::fromUtf8(kHcnTemp) << QString::fromUtf8(kHcnPrec) << 1 << QStringLiteral("-60")
      << QStringLiteral("200") << 7 << true << 0 << 3;
  QTest::newRow("deserts with carry-over, function D")
      << QString::fromUtf8(kDryTemp) << QString::fromUtf8(kDryPrec) << 0 << QStringLiteral("44.47")
      << QStringLiteral("300") << 3 << true << 0 << 3;
  QTest::newRow("series with carry-over, function C")
      << QString::fromUtf8(kSeriesTemp) << QString::fromUtf8(kSeriesPrec) << 0 << QStringLiteral("44.47")
      << QStringLiteral("120") << 2 << true << 2 << 4;
}

// A run from the window gives the command line tool's table byte for byte.
void RunTest::tableMatchesCli() {
  QFETCH(QString, tempText);
  QFETCH(QString, precText);
  QFETCH(int, format);
  QFETCH(QString, latitude);
  QFETCH(QString, fc);
  QFETCH(int, beta);
  QFETCH(bool, carryover);
  QFETCH(int, threads);
  QFETCH(int, rows);

  QTemporaryDir data;
  QTemporaryDir out;
  writeFile(data.filePath(QStringLiteral("t.txt")), tempText.toStdString());
  writeFile(data.filePath(QStringLiteral("p.txt")), precText.toStdString());

  ScriptedDialogs dialogs;
  dialogs.folders = {data.path(), out.path()};
  Window1 w(dialogs);
  if (threads > 0) {
    ParallelOptions options;
    options.threads = threads;
    options.batchRecords = 2;  // several batches even for a few records
    w.setParallelOptions(options);
  }
  w.show();
  child<QLineEdit>(&w, "tmean_field")->setText(QStringLiteral("t.txt"));
  child<QLineEdit>(&w, "precip_field")->setText(QStringLiteral("p.txt"));
  child<QLineEdit>(&w, "lat_field")->setText(latitude);
  child<QLineEdit>(&w, "fc_field")->setText(fc);
  child<QLineEdit>(&w, "output_field")->setText(QStringLiteral("table.txt"));
  child<QComboBox>(&w, "Format_popup")->setCurrentIndex(format);
  child<QComboBox>(&w, "Beta_popup")->setCurrentIndex(beta);
  child<QCheckBox>(&w, "Carryover_box")->setChecked(carryover);

  QCOMPARE(runFromWindow(w), std::optional<RunOutcome>(RunOutcome::Completed));
  QVERIFY(dialogs.messages.isEmpty());
  const std::string table = readFile(out.filePath(QStringLiteral("table.txt")));

  std::vector<std::string> args = {"-t",
                                   data.filePath(QStringLiteral("t.txt")).toStdString(),
                                   "-p",
                                   data.filePath(QStringLiteral("p.txt")).toStdString(),
                                   "--format",
                                   format == 1 ? "hcn" : "tab",
                                   "--latitude",
                                   latitude.toStdString(),
                                   "--field-capacity",
                                   fc.toStdString(),
                                   "--function",
                                   std::string(1, static_cast<char>('A' + beta))};
  if (carryover) args.emplace_back("--carryover");
  const std::string expected = cliTable(args);
  QVERIFY(!expected.empty());
  QCOMPARE(table.size(), expected.size());
  QVERIFY(table == expected);
  QCOMPARE(tableRows(table).size(), static_cast<std::size_t>(rows + 1));
  QCOMPARE(child<QLineEdit>(&w, "counter")->text(), QString::number(rows));
}

void RunTest::counterShowsLoadedThenCounts() {
  QTemporaryDir data;
  writeFile(data.filePath(QStringLiteral("allsites_temp.txt")), kTabTemp);
  writeFile(data.filePath(QStringLiteral("allsites_prec.txt")), kTabPrec);
  ScriptedDialogs dialogs;
  dialogs.folders = {data.path(), data.path(), data.path(), data.path()};
  Window1 w(dialogs);
  w.show();
  auto* counter = child<QLineEdit>(&w, "counter");
  QStringList shown;
  connect(counter, &QLineEdit::textChanged, this, [&](const QString& t) { shown << t; });

  QCOMPARE(runFromWindow(w), std::optional<RunOutcome>(RunOutcome::Completed));
  QVERIFY(shown.size() >= 2);
  QCOMPARE(shown.front(), QStringLiteral("File names loaded"));
  QCOMPARE(shown.back(), QStringLiteral("6"));
  for (qsizetype i = 1; i < shown.size(); ++i) {
    QVERIFY2(isCount(shown[i]), qPrintable(shown[i]));
    if (i > 1) QVERIFY(shown[i].toInt() > shown[i - 1].toInt());
  }

  // A second run starts from the last count and shows its own.
  shown.clear();
  QCOMPARE(runFromWindow(w), std::optional<RunOutcome>(RunOutcome::Completed));
  QCOMPARE(shown.front(), QStringLiteral("File names loaded"));
  QCOMPARE(shown.back(), QStringLiteral("6"));
}

// One long run: the counter is updated a few times a second, not once per
// row; the window keeps handling events; the controls are disabled; Stop
// ends the run after a complete row.
void RunTest::longRunIsThrottledStoppableAndResponsive() {
  constexpr int kRecords = 150000;
  QTemporaryDir data;
  QTemporaryDir out;
  writeLargeInputs(data.path(), kRecords);
  ScriptedDialogs dialogs;
  dialogs.folders = {data.path(), out.path()};
  Window1 w(dialogs);
  // One thread: Main_loop itself, which sets the counter after every row.
  ParallelOptions oneThread;
  oneThread.threads = 1;
  w.setParallelOptions(oneThread);
  w.show();
  child<QLineEdit>(&w, "tmean_field")->setText(QStringLiteral("temp.txt"));
  child<QLineEdit>(&w, "precip_field")->setText(QStringLiteral("prec.txt"));
  auto* counter = child<QLineEdit>(&w, "counter");
  auto* run = child<QPushButton>(&w, "Run_Main");
  auto* stop = child<QPushButton>(&w, "Stop_run");
  QStringList shown;
  connect(counter, &QLineEdit::textChanged, this, [&](const QString& t) { shown << t; });

  // The event loop's longest pause while the run goes.
  QElapsedTimer sinceTick;
  qint64 longestPause = 0;
  QTimer ticker;
  ticker.setInterval(5);
  connect(&ticker, &QTimer::timeout, this, [&] { longestPause = std::max(longestPause, sinceTick.restart()); });

  QSignalSpy finished(&w, &Window1::runFinished);
  QElapsedTimer elapsed;
  elapsed.start();
  QTest::mouseClick(run, Qt::LeftButton);
  sinceTick.start();
  ticker.start();
  QVERIFY(w.isRunning());

  // Wait until many rows are written.
  QTRY_VERIFY_WITH_TIMEOUT(isCount(counter->text()) && counter->text().toInt() >= 20000, 60000);
  QVERIFY(finished.isEmpty());

  // Run and every setting are disabled; Stop is enabled.
  QVERIFY(!run->isEnabled());
  QVERIFY(stop->isEnabled());
  for (const char* name : {"tmean_field", "precip_field", "lat_field", "fc_field", "output_field", "Format_popup",
                           "Beta_popup", "Carryover_box"})
    QVERIFY2(!child<QWidget>(&w, name)->isEnabled(), name);
  // A press of Run now starts nothing.
  w.Run_Main_Action();
  QCOMPARE(dialogs.prompts.size(), 2);

  QTest::mouseClick(stop, Qt::LeftButton);
  QVERIFY(finished.wait(30000));
  ticker.stop();
  const qint64 ms = elapsed.elapsed();
  QCOMPARE(finished.front().front().value<RunOutcome>(), RunOutcome::Stopped);

  // Enabled again, Stop disabled.
  QVERIFY(run->isEnabled());
  QVERIFY(!stop->isEnabled());
  QVERIFY(child<QWidget>(&w, "Carryover_box")->isEnabled());

  // The table holds the complete rows written before Stop, as many as the
  // counter's final count, and they are the command line tool's rows.
  const std::vector<std::string> rows = tableRows(readFile(out.filePath(QStringLiteral("output.txt"))));
  const int count = counter->text().toInt();
  QVERIFY(count >= 20000);
  QVERIFY2(count < kRecords, "the run ended before Stop; make the input longer");
  QCOMPARE(rows.size(), static_cast<std::size_t>(count + 1));
  const std::vector<std::string> expected =
      tableRows(cliTable({"-t", data.filePath(QStringLiteral("temp.txt")).toStdString(), "-p",
                          data.filePath(QStringLiteral("prec.txt")).toStdString()}));
  QCOMPARE(expected.size(), static_cast<std::size_t>(kRecords + 1));
  for (std::size_t i = 0; i < rows.size(); ++i) QVERIFY(rows[i] == expected[i]);

  // Throttled: about one counter update per 50 ms, never one per row.
  QCOMPARE(shown.front(), QStringLiteral("File names loaded"));
  QCOMPARE(shown.back(), QString::number(count));
  QVERIFY2(shown.size() <= ms / 40 + 3, qPrintable(QStringLiteral("%1 updates in %2 ms").arg(shown.size()).arg(ms)));
  // The window kept handling events.
  QVERIFY2(longestPause < 1000, qPrintable(QStringLiteral("event loop paused %1 ms").arg(longestPause)));
}

// The window's run state carries the soil water from one run to the next:
// the second run is the core's second run on a run state that lived through
// the first, and differs from a fresh run.
void RunTest::carryOverAcrossRuns() {
  QTemporaryDir data;
  writeFile(data.filePath(QStringLiteral("t.txt")), kDryTemp);
  writeFile(data.filePath(QStringLiteral("p.txt")), kDryPrec);
  ScriptedDialogs dialogs;
  dialogs.folders = {data.path(), data.path(), data.path(), data.path()};
  Window1 w(dialogs);
  w.show();
  child<QLineEdit>(&w, "tmean_field")->setText(QStringLiteral("t.txt"));
  child<QLineEdit>(&w, "precip_field")->setText(QStringLiteral("p.txt"));
  child<QCheckBox>(&w, "Carryover_box")->setChecked(true);
  child<QLineEdit>(&w, "fc_field")->setText(QStringLiteral("300"));
  const QString tablePath = data.filePath(QStringLiteral("output.txt"));

  QCOMPARE(runFromWindow(w), std::optional<RunOutcome>(RunOutcome::Completed));
  const std::string first = readFile(tablePath);
  const double carriedW = w.runState().current_w;
  QVERIFY(carriedW > 0.0);
  QCOMPARE(runFromWindow(w), std::optional<RunOutcome>(RunOutcome::Completed));
  const std::string second = readFile(tablePath);

  QTemporaryDir core;
  CoreHost host;
  host.s.tmeanFile = data.filePath(QStringLiteral("t.txt")).toStdString();
  host.s.precipFile = data.filePath(QStringLiteral("p.txt")).toStdString();
  host.s.carryover = true;
  host.s.fcText = "300";
  host.folder = "";
  host.s.outputFile = core.filePath(QStringLiteral("core.txt")).toStdString();
  RunState state;
  QCOMPARE(Main_loop(state, host), RunOutcome::Completed);
  QVERIFY(readFile(core.filePath(QStringLiteral("core.txt"))) == first);
  QCOMPARE(Main_loop(state, host), RunOutcome::Completed);
  QVERIFY(readFile(core.filePath(QStringLiteral("core.txt"))) == second);
  QVERIFY2(first != second, "the carried soil water made no difference to the second run");
}

// Closing the window while a run goes stops the run after a complete row,
// keeps the table and then closes.
void RunTest::closingDuringRunStopsThenCloses() {
  QTemporaryDir data;
  writeLargeInputs(data.path(), 150000);
  ScriptedDialogs dialogs;
  dialogs.folders = {data.path(), data.path()};
  Window1 w(dialogs);
  w.show();
  child<QLineEdit>(&w, "tmean_field")->setText(QStringLiteral("temp.txt"));
  child<QLineEdit>(&w, "precip_field")->setText(QStringLiteral("prec.txt"));
  QSignalSpy finished(&w, &Window1::runFinished);
  QTest::mouseClick(child<QPushButton>(&w, "Run_Main"), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(isCount(child<QLineEdit>(&w, "counter")->text()), 30000);
  QVERIFY(!w.close());  // refused for now
  QVERIFY(finished.wait(30000));
  QCOMPARE(finished.front().front().value<RunOutcome>(), RunOutcome::Stopped);
  QTRY_VERIFY(!w.isVisible());
  const std::size_t rows = tableRows(readFile(data.filePath(QStringLiteral("output.txt")))).size();
  QCOMPARE(rows, static_cast<std::size_t>(child<QLineEdit>(&w, "counter")->text().toInt() + 1));
}

// Destroying the window while a run goes (the program ends) does not hang
// and leaves the complete rows in place.
void RunTest::destroyingDuringRunKeepsCompleteRows() {
  QTemporaryDir data;
  writeLargeInputs(data.path(), 150000);
  ScriptedDialogs dialogs;
  dialogs.folders = {data.path(), data.path()};
  auto w = std::make_unique<Window1>(dialogs);
  w->show();
  child<QLineEdit>(w.get(), "tmean_field")->setText(QStringLiteral("temp.txt"));
  child<QLineEdit>(w.get(), "precip_field")->setText(QStringLiteral("prec.txt"));
  QTest::mouseClick(child<QPushButton>(w.get(), "Run_Main"), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(isCount(child<QLineEdit>(w.get(), "counter")->text()), 30000);
  QElapsedTimer t;
  t.start();
  w.reset();
  QVERIFY(t.elapsed() < 10000);
  const std::vector<std::string> rows = tableRows(readFile(data.filePath(QStringLiteral("output.txt"))));
  QVERIFY(rows.size() > 1);
  for (std::size_t i = 1; i < rows.size(); ++i) QCOMPARE(std::count(rows[i].begin(), rows[i].end(), '\t'), 39);
}

VADOSET_UI_TEST_MAIN(RunTest)
#include "run_test.moc"
