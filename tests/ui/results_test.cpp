// The results window's tests: its table model over a table file, the charts
// and the overview against the run's own table, copies and exports read
// back, the warnings panel, the folder dialog.

#include <QApplication>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QClipboard>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QListView>
#include <QListWidget>
#include <QScatterSeries>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include "app/app.h"
#include "app/menu_bar1.h"
#include "run/run.h"
#include "ui/dialogs.h"
#include "ui/overview.h"
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
double cell(const QList<QList<QByteArray>>& cells, int r, const QByteArray& column) {
  return cells[r + 1].value(cells[0].indexOf(column)).toDouble();
}
QByteArray monthColumn(const char* prefix, int m) {
  return prefix + QByteArray::number(m + 1).rightJustified(2, '0');
}

// RFC 4180 fields, read back.
QList<QStringList> csvRecords(const QByteArray& bytes) {
  QList<QStringList> records;
  QStringList record;
  QByteArray field;
  bool quoted = false;
  for (qsizetype i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (quoted && c == '"' && i + 1 < bytes.size() && bytes[i + 1] == '"')
      field += bytes[++i];
    else if (c == '"')
      quoted = !quoted;
    else if (!quoted && (c == ',' || c == '\n')) {
      record << QString::fromUtf8(std::exchange(field, {}));
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

void selectAndWait(ResultsWindow& w, int r) {
  w.selectTableRow(static_cast<std::size_t>(r));
  QTRY_VERIFY(!w.monthlyChart()->title().contains(u"Computing"_s));  // a carry-over chain goes in slices
}

// The charts of table row r against the table's cells (written with every
// column group): precipitation, PET, AET, surplus and deficit by month, the
// daily soil water and snowpack at each month's end, the field capacity; or
// for a null row, no series and its reason in the title. Without the run
// (a table opened from a file) the monthly chart comes from the table and
// there is no daily chart. Save is enabled for a chart with data alone.
void checkCharts(ResultsWindow& w, const RunRecord* run, const QList<QList<QByteArray>>& cells, int r) {
  selectAndWait(w, r);
  const QList<QByteArray>& row = cells[r + 1];
  QCOMPARE(w.canSave(w.monthlyView()), row.size() > 2);
  QCOMPARE(w.canSave(w.dailyView()), row.size() > 2 && run);
  if (row.size() == 2) {
    const std::string* reason = run ? run->nullRows.find(r + 1) : nullptr;
    QVERIFY((reason || !run) && w.monthlyChart()->series().isEmpty() && w.dailyChart()->series().isEmpty());
    QVERIFY(
        w.monthlyChart()->title().contains(reason ? QString::fromStdString(*reason).toHtmlEscaped() : u"null row"_s));
    return;
  }
  QCOMPARE(w.dailyChart()->series().isEmpty(), run == nullptr);
  QVERIFY(w.monthlyChart()->title().contains(QString::fromUtf8(row[0]).toHtmlEscaped()));
  int day = 0;
  for (int m = 0; m < 12; ++m) {
    day += kDaysPerMonth[m];
    COMPARE_EXACTLY(series<QBarSeries>(w.monthlyChart(), "precipitation")->barSets().front()->at(m),
                    cell(cells, r, monthColumn("PRECIP_", m)));
    const std::pair<const char*, const char*> lines[] = {
        {"pet", "PET_"}, {"aet", "AET_"}, {"surplus", "SURPLUS_"}, {"deficit", "DEFICIT_"}};
    for (auto [name, prefix] : lines)
      COMPARE_EXACTLY(series(w.monthlyChart(), name)->at(m).y(), cell(cells, r, monthColumn(prefix, m)));
    if (!run) continue;
    COMPARE_EXACTLY(series(w.dailyChart(), "soil")->at(day).y(), cell(cells, r, monthColumn("SOIL_", m)));
    COMPARE_EXACTLY(series(w.dailyChart(), "snow")->at(day).y(), cell(cells, r, monthColumn("SNOW_", m)));
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

// The sample stations again as CSV with CRLF line ends, every identifier
// quoted and Manaus's broken over two lines, which the table writes with a
// space; and as tab-delimited files with that space.
void writeStationsAsCsvAndTab(const QString& dir) {
  for (const char* file : {"allsites_temp", "allsites_prec"}) {
    QByteArray csv, tab;
    for (const QByteArray& line : readAll(kExamples + u'/' + QLatin1String(file) + u".txt"_s).split('\n')) {
      if (line.isEmpty()) continue;
      QList<QByteArray> f = line.split('\t');
      tab += (f[0] == "Manaus" ? QByteArray("Manaus Amazonas") : f[0]) + line.mid(f[0].size()) + '\n';
      f[0] = '"' + (f[0] == "Manaus" ? QByteArray("Manaus\nAmazonas") : f[0]) + '"';
      csv += f.join(',') + "\r\n";
    }
    writeFile(dir + u'/' + QLatin1String(file) + u".csv"_s, csv);
    writeFile(dir + u'/' + QLatin1String(file) + u".txt"_s, tab);
  }
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
  void overview();
  void copiesAndExportsAreExact();
  void warningsFromTheMainWindow();
  void folderDialogShowsFilesGreyedOut();
};

// Line starts and identifiers with every line end, a byte-order mark and a
// last line without its end, in buffers small enough that a CRLF, a tab and
// an identifier fall across their edges.
void ResultsTest::lineIndex() {
  QTemporaryDir dir;
  writeFile(dir.filePath(u"t.txt"_s), "\xEF\xBB\xBFhead\ter\r\nab\tc\rdef\n\r\nlong identifier\tx\r\rlast\tline");
  const QList<QByteArray> lines = {"head\ter", "ab\tc", "def", "", "long identifier\tx", "", "last\tline"};
  ReadOnlyFile file;
  QVERIFY(file.open(dir.filePath(u"t.txt"_s).toStdString()));
  for (std::size_t buffer : {3, 5, 7, 11, 4096}) {  // 11: both CRLFs across an edge
    LineIndex index;
    std::string ids, text;
    std::vector<std::uint64_t> idEnds;
    QVERIFY(index.build(file.fd(), &ids, &idEnds, buffer));
    QCOMPARE(index.lines(), std::size_t{7});
    for (std::size_t i = 0; i < 7; ++i) {
      QVERIFY(readAt(file.fd(), index.start(i), index.next(i) - index.start(i), text));
      QCOMPARE(QByteArray::fromStdString(std::string(withoutLineEnd(text))), lines[qsizetype(i)]);
      QCOMPARE(QByteArray::fromStdString(ids.substr(idEnds[i], idEnds[i + 1] - idEnds[i])),
               lines[qsizetype(i)].split('\t')[0]);
    }
  }
}

// A table with null rows, in each line ending, ended by a blank line: every
// cell's exact text as written, the rows read in blocks, numbers shown
// rounded, the reasons, the filter, sorting by identifier and by a number
// column (null rows last), and both together.
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
                         : "\t" + QByteArray::number((i * 7919) % 1000 * 0.5 + 1.0 / 3, 'g', 17) + "\t" +
                               QByteArray::number(i)) +
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
        QCOMPARE(m.data(m.index(r, c), ResultsModel::kExactRole).toString().toUtf8(), cells[r + 1].value(c));
  QCOMPARE(m.table().blockReads(), std::size_t{(kRows + 63) / 64});
  const std::pair<int, QString> shown[] = {
      {0, u"0|0"_s}, {1, u"0.3|0.0"_s}, {3, u"0.333|0.000"_s}, {-1, u"0.33333333333333331|0"_s}};
  for (const auto& [decimals, digits] : shown) {
    m.setDecimals(decimals);
    QCOMPARE(m.data(m.index(0, 1)).toString() + u'|' + m.data(m.index(0, 2)).toString(), digits);
    QCOMPARE(m.data(m.index(0, 1), Qt::ToolTipRole).toString(), u"0.33333333333333331"_s);
  }
  QCOMPARE(m.data(m.index(5, 3)).toString(), u"month 2 of the precipitation file is missing ('NA')"_s);
  QCOMPARE(m.data(m.index(102, 3)).toString(), u"null row"_s);
  QCOMPARE(m.data(m.index(5, 1)).toString() + m.data(m.index(6, 3)).toString(), QString());

  m.setFilter(u"s00"_s);  // S0000 to s0099
  QCOMPARE(m.rowCount(), 100);
  QCOMPARE(m.tableRow(99), std::size_t{99});
  m.setFilter({});
  for (const Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
    m.sort(1, order);
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
  QCOMPARE(m.data(m.index(0, 0)).toString() + m.data(m.index(99, 0)).toString(), u"s4999S4900"_s);
  m.sort(-1);
  QCOMPARE(m.tableRow(0), std::size_t{4900});
}

// Every record's charts against the run's own table (checkCharts), and
// again with the table opened from its file. With carry-over every record
// starts from the one before, so each is only right when the chain is: the
// long series crosses the checkpoints, looked at out of order. A CSV run's
// charts are the table of the same records read as tab-delimited, to the bit.
void ResultsTest::chartsAreTheRunsNumbers_data() {
  QTest::addColumn<QString>("files");
  QTest::addColumn<int>("format");
  QTest::addColumn<int>("function");
  QTest::addColumn<bool>("carryover");
  QTest::addColumn<QList<int>>("rows");  // all when empty
  QTest::newRow("stations, G") << u"allsites"_s << 0 << 6 << false << QList<int>{};
  QTest::newRow("series, D, carry-over") << u"series"_s << 0 << 3 << true << QList<int>{};
  QTest::newRow("HCN tenths, A, carry-over") << u"hcn"_s << 1 << 0 << true << QList<int>{};
  QTest::newRow("3000 years, carry-over") << u"long"_s << 0 << 6 << true << QList<int>{2999, 1024, 1023, 0, 2048, 1};
  QTest::newRow("CSV stations, carry-over") << u"allsites"_s << 2 << 6 << true << QList<int>{};
}

void ResultsTest::chartsAreTheRunsNumbers() {
  QFETCH(QString, files);
  QFETCH(int, format);
  QFETCH(int, function);
  QFETCH(bool, carryover);
  QFETCH(QList<int>, rows);
  QTemporaryDir out;
  QString data = kExamples;
  if (files == u"long"_s) {
    data = out.path();
    for (const char* f : {"_temp.txt", "_prec.txt"}) {
      const QList<QByteArray> lines = readAll(kExamples + u"/series"_s + QLatin1String(f)).split('\n');
      QByteArray text = lines[0] + '\n';
      for (int i = 0; i < 3000; ++i) text += lines[1 + i % 30] + '\n';
      writeFile(out.filePath(u"long"_s + QLatin1String(f)), text);
    }
  }
  Settings s = everyColumn(files);
  s.fcText = "150";
  s.function = static_cast<AvailabilityFunction>(function);
  s.carryover = carryover;
  if (format == int(InputFormat::Csv)) {
    data = out.path();
    writeStationsAsCsvAndTab(data);
    s.outputFile = "tab.txt";
    QVERIFY(recordedRun(s, data, out.path()));
    s.tmeanFile = "allsites_temp.csv";
    s.precipFile = "allsites_prec.csv";
  }
  s.format = static_cast<InputFormat>(format);
  s.outputFile = "output.txt";
  const std::shared_ptr<RunRecord> run = recordedRun(s, data, out.path());
  QVERIFY(run);
  const QList<QList<QByteArray>> cells =
      tableCells(out.filePath(format == int(InputFormat::Csv) ? u"tab.txt"_s : u"output.txt"_s));
  if (rows.isEmpty())
    for (int r = 0; r + 1 < cells.size(); ++r) rows << r;
  ResultsWindow w;
  QCOMPARE(w.showRun(run), QString());
  QCOMPARE(w.model().rowCount(), cells.size() - 1);
  for (int r : rows) {
    checkCharts(w, run.get(), cells, r);
    if (QTest::currentTestFailed()) return;
  }
  QVERIFY(!w.monthlyChart()->title().contains(u"changed"_s));
  // The same table opened from a file: its own columns, no daily chart.
  QCOMPARE(w.showTable(out.filePath(u"output.txt"_s)), QString());
  for (int r : rows)
    if (!QTest::currentTestFailed()) checkCharts(w, nullptr, cells, r);
  // Inputs edited since the run give other numbers, and the chart says so.
  for (std::string* path : {&run->precipPath, &run->tmeanPath}) {
    const QString edited = out.filePath(u"edited-"_s + QFileInfo(QString::fromStdString(*path)).fileName());
    writeFile(edited, readAll(QString::fromStdString(*path)).replace("1", "2"));
    *path = edited.toStdString();
  }
  w.showRun(run);
  QVERIFY(w.monthlyChart()->title().contains(u"changed since the run"_s));
}

// The overview's points are AET/P and PET/P of the table's annual sums,
// with P the sum of its PRECIP columns, or read again from the inputs for a
// table without them; null rows are left out and counted. Above the
// density threshold there are no points drawn, but a click still picks the
// nearest record, shown even when the filter hid it.
void ResultsTest::overview() {
  QTemporaryDir dir;
  Settings classic;
  classic.outputFile = "classic.txt";
  const std::shared_ptr<RunRecord> runs[] = {recordedRun(everyColumn(u"allsites"_s), kExamples, dir.path()),
                                             recordedRun(classic, kExamples, dir.path())};
  const QList<QList<QByteArray>> cells = tableCells(dir.filePath(u"output.txt"_s));
  ResultsWindow w;
  w.resize(1200, 900);
  w.show();
  for (const std::shared_ptr<RunRecord>& run : runs) {
    QSignalSpy drawn(&w, &ResultsWindow::overviewDrawn);
    QCOMPARE(w.showRun(run), QString());
    QVERIFY(drawn.wait(10000));
    const BudykoPoints& p = *w.overviewView()->points();
    QCOMPARE(p.precipitationFromInputs, run == runs[1]);
    QCOMPARE(int(p.nullRows), 2);
    QCOMPARE(int(p.x.size() + p.nullRows + p.noPrecipitation), cells.size() - 1);
    for (std::size_t i = 0; i < p.x.size(); ++i) {
      const int r = int(p.rows[i]);
      double precip = 0.0;
      for (int m = 0; m < 12; ++m) precip += cell(cells, r, monthColumn("PRECIP_", m));
      COMPARE_EXACTLY(p.x[i], cell(cells, r, "PET") / precip);
      COMPARE_EXACTLY(p.y[i], cell(cells, r, "AET") / precip);
    }
    QVERIFY(w.overviewChart()->title().contains(u"left out: 2 null rows"_s));
  }
  QVERIFY(series<QScatterSeries>(w.overviewChart(), "records")->count() > 10);
  w.overviewView()->setDensityAbove(10);
  w.showRun(runs[1]);
  QSignalSpy drawn(&w, &ResultsWindow::overviewDrawn);
  QVERIFY(drawn.wait(10000));
  QVERIFY(!series<QScatterSeries>(w.overviewChart(), "records") && w.canSave(w.overviewView()));
  w.model().setFilter(u"Singapore"_s);
  const BudykoPoints& p = *w.overviewView()->points();
  std::size_t i = p.x.size() / 2;
  while (p.x[i] > 2.0) --i;
  const QPointF at = w.overviewChart()->mapToPosition(QPointF(p.x[i], p.y[i]));
  QTest::mouseClick(w.overviewView()->viewport(), Qt::LeftButton, {},
                    w.overviewView()->mapFromScene(w.overviewChart()->mapToScene(at)));
  QCOMPARE(w.selectedTableRow(), std::optional<std::size_t>(p.rows[i]));
  QCOMPARE(w.model().rowCount(), 23);
  QCOMPARE(series<QScatterSeries>(w.overviewChart(), "selected")->at(0), QPointF(p.x[i], p.y[i]));
}

// Whatever the decimals shown, a copy of the selection and the CSV export
// hold the table's exact text: the copy its cells with their columns' names,
// the export its rows as shown (filter and order), identifiers with commas
// and quotes quoted, one that a spreadsheet would run as a formula behind
// an apostrophe, numbers (and an identifier that is one) as they are. The
// charts save as PNG at the size asked for, on white, and as SVG with their
// title; nothing else, and nothing without data.
void ResultsTest::copiesAndExportsAreExact() {
  QTemporaryDir dir;
  QByteArray temp = readAll(kExamples + u"/allsites_temp.txt"_s), prec = readAll(kExamples + u"/allsites_prec.txt"_s);
  for (QByteArray* b : {&temp, &prec})
    b->replace("Cairo", "Cairo, \"Egypt\"")
        .replace("Tokyo", "=HYPERLINK(\"x\")")
        .replace("Moscow", "-12")
        .replace("Phoenix", "@SUM(A1)");
  writeFile(dir.filePath(u"allsites_temp.txt"_s), temp);
  writeFile(dir.filePath(u"allsites_prec.txt"_s), prec);
  const std::shared_ptr<RunRecord> run = recordedRun(Settings{}, dir.path(), dir.path());
  QVERIFY(run);
  ResultsWindow w;
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  QCOMPARE(w.showRun(run), QString());
  const QList<QList<QByteArray>> cells = tableCells(dir.filePath(u"output.txt"_s));
  QByteArray exported;
  for (int decimals : {0, 1, 3, ResultsModel::kAllDigits}) {
    w.setDecimals(decimals);
    w.tableView()->setFocus();
    w.tableView()->selectAll();
    QTest::keyClick(w.tableView(), Qt::Key_C, Qt::ControlModifier);
    const QStringList lines = QGuiApplication::clipboard()->text().split(u'\n');
    QCOMPARE(lines.size(), cells.size() + 1);
    for (int r = 0; r < cells.size(); ++r) {
      QByteArray expected = cells[r].join('\t') + (r == 0 ? "\tNull row reason" : "\t");
      if (r > 0 && cells[r].size() == 2)
        expected = cells[r][0] + QByteArray(cells[0].size(), '\t') + QByteArray(run->nullRows.find(r)->c_str());
      QCOMPARE(lines[r].toUtf8(), expected);
    }
    QCOMPARE(w.exportCsv(dir.filePath(u"t.csv"_s)), QString());
    if (!exported.isEmpty()) QCOMPARE(readAll(dir.filePath(u"t.csv"_s)), exported);
    exported = readAll(dir.filePath(u"t.csv"_s));
  }
  QVERIFY(!exported.contains('\r') && exported.endsWith('\n'));
  w.model().setFilter(u"o"_s);
  QCOMPARE(w.exportCsv(dir.filePath(u"t.csv"_s)), QString());
  const QList<QStringList> records = csvRecords(readAll(dir.filePath(u"t.csv"_s)));
  QCOMPARE(records.size(), w.model().rowCount() + 1);
  for (int i = 1; i < records.size(); ++i) {
    const QList<QByteArray>& row = cells[static_cast<qsizetype>(w.model().tableRow(i - 1)) + 1];
    QCOMPARE(records[i].size(), cells[0].size() + 1);
    const QString id = QString::fromUtf8(row[0]);
    QCOMPARE(records[i][0], id.startsWith(u'=') || id.startsWith(u'@') ? u'\'' + id : id);
    for (qsizetype c = 1; c < cells[0].size(); ++c)
      COMPARE_EXACTLY(records[i][c].toDouble(), row.size() == 2 ? 0.0 : row[c].toDouble());
    QCOMPARE(records[i].back().isEmpty(), row.size() > 2);
  }
  QVERIFY(exported.contains("\n\"Cairo, \"\"Egypt\"\"\",") && exported.contains("\n-12,") &&
          exported.contains("\n\"'=HYPERLINK(\"\"x\"\")\","));

  w.model().setFilter({});
  w.selectTableRow(17);  // -12, once Moscow
  QCOMPARE(w.saveMonthlyChart(dir.filePath(u"m.png"_s), QSize(1000, 640)), QString());
  const QImage png(dir.filePath(u"m.png"_s));
  QCOMPARE(png.size(), QSize(1000, 640));
  QCOMPARE(png.pixel(2, 2), qRgb(255, 255, 255));
  QCOMPARE(w.saveDailyChart(dir.filePath(u"d.svg"_s)), QString());
  QVERIFY(readAll(dir.filePath(u"d.svg"_s)).contains("<title>Soil water and snowpack: -12</title>"));
  QVERIFY(!w.saveDailyChart(dir.filePath(u"d.jpg"_s)).isEmpty());
  w.selectTableRow(19);  // Reykjavík, a null row
  QVERIFY(!w.saveDailyChart(dir.filePath(u"n.png"_s)).isEmpty());
  for (const char* f : {"d.jpg", "n.png"}) QVERIFY(!QFile::exists(dir.filePath(QLatin1String(f))));
}

// From the main window: the status line's warning link opens the results
// with their panel, whose lines give each warning's place, copy as they
// read, and pick a null row's record; Esc and Ctrl+W close the window; the
// next run's table replaces the last.
void ResultsTest::warningsFromTheMainWindow() {
  QTemporaryDir dir;
  QVERIFY(QFile::copy(kExamples + u"/allsites_prec.txt"_s, dir.filePath(u"allsites_prec.txt"_s)));
  writeFile(dir.filePath(u"allsites_temp.txt"_s),
            readAll(kExamples + u"/allsites_temp.txt"_s).replace("Tokyo\t35.69\t5.4", "Tokyo\t35.69\t-85.4"));
  FolderAnswers dialogs;
  std::unique_ptr<Window1> w = static_cast<App*>(qApp)->openMainWindow(dialogs);
  for (const char* fcText : {"100", "150"}) {
    w->findChild<QLineEdit*>(u"fc_field"_s)->setText(QLatin1String(fcText));
    dialogs.folders = {dir.path(), dir.path()};
    QSignalSpy finished(w.get(), &Window1::runFinished);
    w->Run_Main_Action();
    QVERIFY(finished.wait(30000));
    auto* status = w->findChild<QLabel*>(u"status_line"_s);
    QVERIFY(status->text().contains(u"<a href=\"warnings\">1 warning</a>"_s));
    emit status->linkActivated(u"warnings"_s);
    ResultsWindow* results = w->resultsWindow();
    QVERIFY(results && results->isVisible() && results->findChild<QDockWidget*>()->isVisible());
    QCOMPARE(results->model().rowCount(), 23);
    QCOMPARE(series(results->dailyChart(), "fieldCapacity")->at(0).y(), QByteArray(fcText).toDouble());
    QListWidget* list = results->warningsList();
    QCOMPARE(list->count(), 3);
    QVERIFY(list->item(0)->text().startsWith(u"1 monthly mean temperature lies outside -80 to 60 °C"_s));
    QVERIFY(list->item(0)->text().contains(u"allsites_temp.txt line 14"_s));
    QVERIFY(list->item(1)->text().contains(u"line 21, 'Reykjavík': month 2 of the precipitation file is missing"_s));
    list->setFocus();
    list->item(1)->setSelected(true);
    QCOMPARE(results->copySelection(), list->item(0)->text() + u'\n' + list->item(1)->text() + u'\n');
    emit list->itemActivated(list->item(1));
    QCOMPARE(results->selectedTableRow(), std::optional<std::size_t>(19));
    const bool first = fcText == std::string_view("100");
    results->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), results);
    QTest::keyClick(results, first ? Qt::Key_Escape : Qt::Key_W, first ? Qt::NoModifier : Qt::ControlModifier);
    QTRY_VERIFY(!results->isVisible());
  }
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
