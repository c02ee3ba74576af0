// The results window's tests: its table model over a table file, the charts
// against the run's own table, the exports read back, the folder dialog.

#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QLineSeries>
#include <QListView>
#include <QSignalSpy>
#include <QSvgRenderer>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

#include "app/app.h"
#include "app/menu_bar1.h"
#include "run/run.h"
#include "ui/dialogs.h"
#include "ui/results_window.h"
#include "ui/run_record.h"
#include "ui/window1.h"

using namespace vadoset;
using namespace Qt::StringLiterals;

namespace {

const QString kExamples = QStringLiteral(VADOSET_SOURCE_DIR "/examples");

// Answers the folder dialogs from a list and keeps quiet.
class FolderAnswers : public Dialogs {
 public:
  QStringList folders;
  std::optional<QString> selectFolder(QWidget*, const QString&, const QString&) override {
    return folders.isEmpty() ? std::nullopt : std::optional<QString>(folders.takeFirst());
  }
  void showMessage(QWidget*, const QString& text) override { qWarning("%s", qPrintable(text)); }
};

// A core run recorded as the window records its runs.
class RecordingObserver : public RunObserver {
 public:
  std::shared_ptr<RunRecord> record;
  void nullRow(const NullRow& row) override { record->nullRows.add(row.row, row.reasonText()); }
};
std::shared_ptr<RunRecord> recordedRun(const Settings& s, const QString& data, const QString& out) {
  const RunConfig config = makeRunConfig(s, data.toStdString(), out.toStdString());
  RecordingObserver observer;
  OpenedInputs opened = Open_files(config, observer);
  if (!opened.inputs) return nullptr;
  observer.record = makeRunRecord(config, *opened.inputs);
  const RunResult result = runTable(std::move(opened.inputs), config, observer);
  if (!result.tableWritten) return nullptr;
  observer.record->stopped = result.outcome == RunOutcome::Stopped;
  return observer.record;
}

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}
QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A table as written, split independently of the code under test: rows of
// fields, the header first.
QList<QList<QByteArray>> tableCells(const QString& path) {
  QByteArray text = readAll(path);
  text.replace("\r\n", "\n").replace('\r', '\n');
  QList<QList<QByteArray>> rows;
  for (const QByteArray& line : text.split('\n'))
    if (!line.isEmpty()) rows << line.split('\t');
  return rows;
}

// RFC 4180 fields, read back.
QList<QStringList> csvRecords(const QByteArray& bytes) {
  QList<QStringList> records;
  QStringList record;
  QByteArray field;
  bool quoted = false;
  for (qsizetype i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (quoted) {
      if (c == '"' && i + 1 < bytes.size() && bytes[i + 1] == '"')
        field += bytes[++i];
      else if (c == '"')
        quoted = false;
      else
        field += c;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',' || c == '\n') {
      record << QString::fromUtf8(field);
      field.clear();
      if (c == '\n') records << std::exchange(record, {});
    } else {
      field += c;
    }
  }
  return records;
}

// Doubles equal to the last bit (QCOMPARE allows a little difference).
#define COMPARE_EXACTLY(actual, expected) \
  QVERIFY2((actual) == (expected),        \
           qPrintable(QString::number(actual, 'g', 17) + QStringLiteral(" != ") + QString::number(expected, 'g', 17)))

template <typename S = QLineSeries>
S* series(QChart* chart, const char* name) {
  for (QAbstractSeries* s : chart->series())
    if (s->objectName() == QLatin1String(name)) return qobject_cast<S*>(s);
  return nullptr;
}

// The charts of table row r against the table's cells (written with every
// column group): precipitation, PET, AET, surplus and deficit by month, the
// daily soil water and snowpack at each month's end, the field capacity; or
// for a null row, no series and its reason in the title. Without the run
// (a table opened from a file) the monthly chart comes from the table and
// there is no daily chart.
void checkCharts(ResultsWindow& w, const RunRecord* run, const QList<QList<QByteArray>>& cells, int r) {
  w.selectTableRow(static_cast<std::size_t>(r));
  QTRY_VERIFY(!w.monthlyChart()->title().contains(u"Computing"_s));  // a carry-over chain goes in slices
  const QList<QByteArray>& row = cells[r + 1];
  if (row.size() == 2) {
    const std::string* reason = run ? run->nullRows.find(r + 1) : nullptr;
    QVERIFY((reason || !run) && w.monthlyChart()->series().isEmpty() && w.dailyChart()->series().isEmpty());
    QVERIFY(
        w.monthlyChart()->title().contains(reason ? QString::fromStdString(*reason).toHtmlEscaped() : u"null row"_s));
    return;
  }
  QCOMPARE(w.dailyChart()->series().isEmpty(), run == nullptr);
  QVERIFY(w.monthlyChart()->title().contains(QString::fromUtf8(row[0]).toHtmlEscaped()));
  auto value = [&](const char* prefix, int m) {
    return row.value(cells[0].indexOf(prefix + QByteArray::number(m + 1).rightJustified(2, '0'))).toDouble();
  };
  int day = 0;
  for (int m = 0; m < 12; ++m) {
    day += kDaysPerMonth[m];
    COMPARE_EXACTLY(series<QBarSeries>(w.monthlyChart(), "precipitation")->barSets().front()->at(m),
                    value("PRECIP_", m));
    const std::pair<const char*, const char*> lines[] = {
        {"pet", "PET_"}, {"aet", "AET_"}, {"surplus", "SURPLUS_"}, {"deficit", "DEFICIT_"}};
    for (auto [name, prefix] : lines) COMPARE_EXACTLY(series(w.monthlyChart(), name)->at(m).y(), value(prefix, m));
    if (!run) continue;
    COMPARE_EXACTLY(series(w.dailyChart(), "soil")->at(day).y(), value("SOIL_", m));
    COMPARE_EXACTLY(series(w.dailyChart(), "snow")->at(day).y(), value("SNOW_", m));
  }
  if (!run) return;
  QCOMPARE(series(w.dailyChart(), "soil")->count(), 366);
  COMPARE_EXACTLY(series(w.dailyChart(), "fieldCapacity")->at(1).y(), run->read.fieldCapacity);
}

Settings everyColumn(const QString& files) {
  Settings s;
  s.tmeanFile = (files + u"_temp.txt"_s).toStdString();
  s.precipFile = (files + u"_prec.txt"_s).toStdString();
  s.columns = {ColumnGroup::Classic, ColumnGroup::Deficit, ColumnGroup::Soil, ColumnGroup::Snow, ColumnGroup::Precip};
  return s;
}

}  // namespace

class ResultsTest : public QObject {
  Q_OBJECT

 private slots:
  void lineIndex();
  void tableModel_data();
  void tableModel();
  void chartsAreTheRunsNumbers_data();
  void chartsAreTheRunsNumbers();
  void carryOverAcrossCheckpoints();
  void fromTheMainWindow();
  void exports();
  void folderDialogShowsFilesGreyedOut();
};

// Line starts and identifiers with every line end, a byte-order mark and a
// last line without its end, in buffers small enough that a CRLF, a tab and
// an identifier fall across their edges, at once and a few lines at a time.
void ResultsTest::lineIndex() {
  QTemporaryDir dir;
  writeFile(dir.filePath(u"t.txt"_s), "\xEF\xBB\xBFhead\ter\r\nab\tc\rdef\n\r\nlong identifier\tx\r\rlast\tline");
  const QList<QByteArray> lines = {"head\ter", "ab\tc", "def", "", "long identifier\tx", "", "last\tline"};
  ReadOnlyFile file;
  QVERIFY(file.open(dir.filePath(u"t.txt"_s).toStdString()));
  for (std::size_t buffer : {3, 5, 7, 11, 4096}) {  // 11: both CRLFs across an edge
    for (bool steps : {false, true}) {
      LineIndex index;
      std::string ids, text;
      std::vector<std::uint64_t> idEnds;
      index.begin(file.fd(), &ids, &idEnds, buffer);
      for (std::size_t n = steps ? 1 : SIZE_MAX; !index.finished(); ++n) {
        QVERIFY(index.indexLines(n));
        QVERIFY(index.lines() >= std::min<std::size_t>(n, 7));
      }
      QCOMPARE(index.lines(), std::size_t{7});
      for (std::size_t i = 0; i < 7; ++i) {
        QVERIFY(readAt(file.fd(), index.start(i), index.next(i) - index.start(i), text));
        QCOMPARE(QByteArray::fromStdString(std::string(withoutLineEnd(text))), lines[qsizetype(i)]);
        QCOMPARE(QByteArray::fromStdString(ids.substr(idEnds[i], idEnds[i + 1] - idEnds[i])),
                 lines[qsizetype(i)].split('\t')[0]);
      }
    }
  }
}

// A table with null rows, in each line ending, ended by a blank line: every
// cell as written, the rows read in blocks, the reasons, the filter, sorting
// by identifier and by a number column (null rows last), and both together.
void ResultsTest::tableModel_data() {
  QTest::addColumn<QByteArray>("lineEnd");
  QTest::newRow("CR") << QByteArray("\r");
  QTest::newRow("LF") << QByteArray("\n");
  QTest::newRow("CRLF") << QByteArray("\r\n");
}

void ResultsTest::tableModel() {
  QFETCH(QByteArray, lineEnd);
  constexpr int kRows = 5000;
  QTemporaryDir dir;
  QByteArray text = "Year or site\tPET_01\tAET_01" + lineEnd;
  for (int i = 0; i < kRows; ++i) {
    const QByteArray id = (i % 2 ? "s" : "S") + QByteArray::number(i).rightJustified(4, '0');
    text += id +
            (i % 97 == 5 ? QByteArray("\t*")
                         : "\t" + QByteArray::number((i * 7919) % 1000 * 0.5) + "\t" + QByteArray::number(i)) +
            lineEnd;
  }
  writeFile(dir.filePath(u"t.txt"_s), text + lineEnd);
  auto reasons = std::make_shared<NullReasons>();
  reasons->add(6, "month 2 of the precipitation file is missing ('NA')");
  ResultsModel m;
  QCOMPARE(m.open(dir.filePath(u"t.txt"_s), reasons), QString());
  QCOMPARE(m.rowCount(), kRows);
  QCOMPARE(m.columnCount(), 4);
  QCOMPARE(m.headerData(3, Qt::Horizontal).toString(), u"Null row reason"_s);
  const QList<QList<QByteArray>> cells = tableCells(dir.filePath(u"t.txt"_s));
  for (int r = 0; r < kRows; ++r)
    for (int c = 0; c < 3; ++c)
      if (!(c > 0 && cells[r + 1].size() == 2))
        QCOMPARE(m.data(m.index(r, c)).toString().toUtf8(), cells[r + 1].value(c));
  QCOMPARE(m.table().blockReads(), std::size_t{(kRows + 63) / 64});
  QCOMPARE(m.data(m.index(5, 3)).toString(), u"month 2 of the precipitation file is missing ('NA')"_s);
  QCOMPARE(m.data(m.index(102, 3)).toString(), u"null row"_s);
  QCOMPARE(m.data(m.index(5, 1)).toString(), QString());
  QCOMPARE(m.data(m.index(6, 3)).toString(), QString());

  m.setFilter(u"s00"_s);  // S0000 to s0099
  QCOMPARE(m.rowCount(), 100);
  QCOMPARE(m.tableRow(99), std::size_t{99});
  m.setFilter({});
  for (const Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
    m.sort(1, order);
    QCOMPARE(m.rowCount(), kRows);
    int nulls = 0;
    for (int r = 1; r < kRows; ++r) {
      const QString a = m.data(m.index(r - 1, 1)).toString(), b = m.data(m.index(r, 1)).toString();
      if (b.isEmpty())
        ++nulls;
      else
        QVERIFY(!a.isEmpty() &&
                (order == Qt::AscendingOrder ? a.toDouble() <= b.toDouble() : a.toDouble() >= b.toDouble()));
    }
    QCOMPARE(nulls, (kRows + 91) / 97);
  }
  m.sort(0, Qt::DescendingOrder);
  QCOMPARE(m.data(m.index(0, 0)).toString(), u"s4999"_s);  // lower case after upper in byte order
  m.setFilter(u"S49"_s);
  QCOMPARE(m.rowCount(), 100);
  QCOMPARE(m.data(m.index(0, 0)).toString() + m.data(m.index(99, 0)).toString(), u"s4999S4900"_s);
  m.sort(-1);
  QCOMPARE(m.tableRow(0), std::size_t{4900});
}

// Every record's charts against the run's own table (checkCharts), and
// again with the table opened from its file. With carry-over every record
// starts from the one before, so each is only right when the chain is.
void ResultsTest::chartsAreTheRunsNumbers_data() {
  QTest::addColumn<QString>("files");
  QTest::addColumn<int>("format");
  QTest::addColumn<QString>("fc");
  QTest::addColumn<int>("function");
  QTest::addColumn<bool>("carryover");
  QTest::newRow("stations, G") << u"allsites"_s << 0 << u"100"_s << 6 << false;
  QTest::newRow("series, D, carry-over") << u"series"_s << 0 << u"150"_s << 3 << true;
  QTest::newRow("HCN tenths, A, carry-over") << u"hcn"_s << 1 << u"80"_s << 0 << true;
}

void ResultsTest::chartsAreTheRunsNumbers() {
  QFETCH(QString, files);
  QFETCH(int, format);
  QFETCH(QString, fc);
  QFETCH(int, function);
  QFETCH(bool, carryover);
  QTemporaryDir out;
  Settings s = everyColumn(files);
  s.format = static_cast<InputFormat>(format);
  s.fcText = fc.toStdString();
  s.function = static_cast<AvailabilityFunction>(function);
  s.carryover = carryover;
  const std::shared_ptr<RunRecord> run = recordedRun(s, kExamples, out.path());
  QVERIFY(run);
  const QList<QList<QByteArray>> cells = tableCells(out.filePath(u"output.txt"_s));
  ResultsWindow w;
  QCOMPARE(w.showRun(run), QString());
  QCOMPARE(w.model().rowCount(), cells.size() - 1);
  int nulls = 0;
  for (int r = 0; r + 1 < cells.size(); ++r) {
    nulls += cells[r + 1].size() == 2;
    checkCharts(w, run.get(), cells, r);
    if (QTest::currentTestFailed()) return;
  }
  QCOMPARE(std::size_t(nulls), run->nullRows.size());
  w.selectTableRow(0);
  QVERIFY(!w.monthlyChart()->title().contains(u"changed"_s));
  // The same table opened from a file: its own columns, no daily chart.
  QCOMPARE(w.showTable(out.filePath(u"output.txt"_s)), QString());
  for (int r = 0; r + 1 < cells.size() && !QTest::currentTestFailed(); ++r) checkCharts(w, nullptr, cells, r);
  // Inputs edited since the run give other numbers, and the chart says so.
  QDir().mkpath(out.filePath(u"in"_s));
  for (const QString& f : {files + u"_temp.txt"_s, files + u"_prec.txt"_s})
    writeFile(out.filePath(u"in/"_s + f), readAll(kExamples + u'/' + f).replace("1", "2"));
  run->precipPath = out.filePath(u"in/"_s + files + u"_prec.txt"_s).toStdString();
  run->tmeanPath = out.filePath(u"in/"_s + files + u"_temp.txt"_s).toStdString();
  w.showRun(run);
  QVERIFY(w.monthlyChart()->title().contains(u"changed since the run"_s));
}

// A carry-over chain longer than the checkpoints' spacing, looked at out of
// order: the records at either side of each checkpoint and the last.
void ResultsTest::carryOverAcrossCheckpoints() {
  QTemporaryDir dir;
  const QList<QByteArray> files[] = {readAll(kExamples + u"/series_temp.txt"_s).split('\n'),
                                     readAll(kExamples + u"/series_prec.txt"_s).split('\n')};
  for (int f = 0; f < 2; ++f) {
    QByteArray text = files[f][0] + '\n';
    for (int i = 0; i < 3000; ++i) text += files[f][1 + i % 30] + '\n';
    writeFile(dir.filePath(f == 0 ? u"long_temp.txt"_s : u"long_prec.txt"_s), text);
  }
  Settings s = everyColumn(u"long"_s);
  s.carryover = true;
  const std::shared_ptr<RunRecord> run = recordedRun(s, dir.path(), dir.path());
  QVERIFY(run);
  const QList<QList<QByteArray>> cells = tableCells(dir.filePath(u"output.txt"_s));
  QCOMPARE(cells.size(), 3001);
  ResultsWindow w;
  QCOMPARE(w.showRun(run), QString());
  for (int r : {2999, 1024, 1023, 0, 2048, 2047, 1}) checkCharts(w, run.get(), cells, r);
}

// View > Results after a run from the main window: its table with its null
// rows' reasons and charts; the next run's table replaces it.
void ResultsTest::fromTheMainWindow() {
  QTemporaryDir dir;
  for (const char* f : {"allsites_temp.txt", "allsites_prec.txt"})
    QVERIFY(QFile::copy(kExamples + u'/' + QLatin1String(f), dir.filePath(QLatin1String(f))));
  FolderAnswers dialogs;
  std::unique_ptr<Window1> w = static_cast<App*>(qApp)->openMainWindow(dialogs);
  for (const char* fcText : {"100", "150"}) {
    w->findChild<QLineEdit*>(u"fc_field"_s)->setText(QLatin1String(fcText));
    dialogs.folders = {dir.path(), dir.path()};
    QSignalSpy finished(w.get(), &Window1::runFinished);
    w->Run_Main_Action();
    QVERIFY(finished.wait(30000));
    qobject_cast<MenuBar1*>(w->menuBar())->ViewResults->trigger();
    ResultsWindow* results = w->resultsWindow();
    QVERIFY(results && results->isVisible());
    QCOMPARE(results->model().rowCount(), 23);
    QCOMPARE(results->model().reason(19), u"month 2 of the precipitation file is missing ('NA')"_s);
    QCOMPARE(series(results->dailyChart(), "fieldCapacity")->at(0).y(), QByteArray(fcText).toDouble());
  }
}

// The CSV of the rows shown reads back to the table's cells, identifiers with
// commas and quotes included, with LF line ends; the charts save as PNG and
// SVG, and nothing else.
void ResultsTest::exports() {
  QTemporaryDir dir;
  QByteArray temp = readAll(kExamples + u"/allsites_temp.txt"_s), prec = readAll(kExamples + u"/allsites_prec.txt"_s);
  for (QByteArray* b : {&temp, &prec}) b->replace("Cairo", "Cairo, \"Egypt\"").replace("Tokyo", "To,kyo");
  writeFile(dir.filePath(u"allsites_temp.txt"_s), temp);
  writeFile(dir.filePath(u"allsites_prec.txt"_s), prec);
  const std::shared_ptr<RunRecord> run = recordedRun(Settings{}, dir.path(), dir.path());
  QVERIFY(run);
  ResultsWindow w;
  w.resize(900, 700);
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  QCOMPARE(w.showRun(run), QString());
  const QList<QList<QByteArray>> cells = tableCells(dir.filePath(u"output.txt"_s));
  for (const QString& filter : {QString(), u"o"_s}) {
    w.model().setFilter(filter);
    QCOMPARE(w.exportCsv(dir.filePath(u"t.csv"_s)), QString());
    const QByteArray csv = readAll(dir.filePath(u"t.csv"_s));
    QVERIFY(!csv.contains('\r') && csv.endsWith('\n'));
    const QList<QStringList> records = csvRecords(csv);
    QCOMPARE(records.size(), w.model().rowCount() + 1);
    QCOMPARE(records[0].size(), cells[0].size() + 1);
    for (int i = 1; i < records.size(); ++i) {
      const QList<QByteArray>& row = cells[static_cast<qsizetype>(w.model().tableRow(i - 1)) + 1];
      QCOMPARE(records[i].size(), records[0].size());
      QCOMPARE(records[i][0], QString::fromUtf8(row[0]));
      for (qsizetype c = 1; c < cells[0].size(); ++c)
        COMPARE_EXACTLY(records[i][c].toDouble(), row.size() == 2 ? 0.0 : row[c].toDouble());
      QCOMPARE(records[i].back().isEmpty(), row.size() > 2);
    }
  }
  const QByteArray csv = readAll(dir.filePath(u"t.csv"_s));
  QVERIFY(csv.contains("\n\"Cairo, \"\"Egypt\"\"\",") && csv.contains("\n\"To,kyo\","));

  w.model().setFilter({});
  w.selectTableRow(12);  // Tokyo
  QCOMPARE(w.saveMonthlyChart(dir.filePath(u"m.png"_s)), QString());
  QCOMPARE(QImage(dir.filePath(u"m.png"_s)).size(), w.monthlyView()->size());
  QCOMPARE(w.saveDailyChart(dir.filePath(u"d.svg"_s)), QString());
  QVERIFY(QSvgRenderer(dir.filePath(u"d.svg"_s)).isValid());
  QVERIFY(readAll(dir.filePath(u"d.svg"_s)).contains("To,kyo"));
  QVERIFY(!w.saveDailyChart(dir.filePath(u"d.jpg"_s)).isEmpty());
  QVERIFY(!QFile::exists(dir.filePath(u"d.jpg"_s)));
}

// The folder dialog lists files greyed out, and will not take one.
void ResultsTest::folderDialogShowsFilesGreyedOut() {
  QTemporaryDir dir;
  writeFile(dir.filePath(u"data.txt"_s), "x");
  QVERIFY(QDir(dir.path()).mkdir(u"sub"_s));
  QFileDialog dialog(nullptr, u"Folder containing data files"_s, dir.path());
  makeFolderChooser(dialog);
  dialog.show();
  auto* list = dialog.findChild<QListView*>(u"listView"_s);
  QTRY_COMPARE(list->model()->rowCount(list->rootIndex()), 2);
  QStringList shown;
  for (int i = 0; i < 2; ++i) {
    const QModelIndex index = list->model()->index(i, 0, list->rootIndex());
    const Qt::ItemFlags f = index.flags();
    shown << index.data().toString() + (f & Qt::ItemIsEnabled ? u"+"_s : u"-"_s) +
                 (f & Qt::ItemIsSelectable ? u"+"_s : u"-"_s);
  }
  shown.sort();
  QCOMPARE(shown.join(u' '), u"data.txt-- sub++"_s);
  auto* name = dialog.findChild<QLineEdit*>(u"fileNameEdit"_s);
  name->setText(u"data.txt"_s);
  static_cast<QDialog&>(dialog).accept();
  QVERIFY(dialog.isVisible() && dialog.result() != QDialog::Accepted);
  name->setText(u"sub"_s);
  static_cast<QDialog&>(dialog).accept();
  QCOMPARE(dialog.result(), int(QDialog::Accepted));
  QCOMPARE(dialog.selectedFiles(), QStringList{dir.filePath(u"sub"_s)});
}

int runResultsTests(int argc, char** argv) {
  ResultsTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "results_test.moc"
