// The window's tests, in the offscreen platform with dialogs answered by a
// script: the main window and its runs, the menu bar and the About window.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <sstream>
#include <stdexcept>

#include "app/app.h"
#include "app/aqua_about_box.h"
#include "app/menu_bar1.h"
#include "app/static_url.h"
#include "cli/cli.h"
#include "run/run.h"
#include "ui/dialogs.h"
#include "ui/error.h"
#include "ui/window1.h"

using namespace vadoset;
using namespace Qt::StringLiterals;

namespace {

// Answers the folder dialogs from a script (nothing left: "cancel") and
// records every dialog, with whether it came on the GUI thread.
class ScriptedDialogs : public Dialogs {
 public:
  QStringList folders, prompts, buttons, messages;
  bool allOnGuiThread = true;
  std::function<void(const QString& prompt)> duringFolderDialog;  // called before each answer

  std::optional<QString> selectFolder(QWidget*, const QString& prompt, const QString& button) override {
    allOnGuiThread &= QThread::currentThread() == qApp->thread();
    prompts << prompt;
    buttons << button;
    if (duringFolderDialog) duringFolderDialog(prompt);
    return folders.isEmpty() ? std::nullopt : std::optional<QString>(folders.takeFirst());
  }
  void showMessage(QWidget*, const QString& text) override {
    allOnGuiThread &= QThread::currentThread() == qApp->thread();
    messages << text;
  }
};

// Burlington VT in HCN columns: tenths of a degree and of a millimetre.
const char* const kHcnTemp =
    "HCN monthly mean temperature, tenths of a degree C\n"
    "USW00014742 2011  -72  -55   21   66  142  189  234  208  143   96   38  -15\n"
    "USW00014742 2012  -86  -49   12   60  158  183  228  197  154  114   26  -54\n"
    "USW00014742 2013  -56  -28   16   59  134  185  227  234  158   85   27  -15\n";
const char* const kHcnPrec =
    "HCN monthly precipitation, tenths of a millimetre\n"
    "USW00014742 2011  413  728  358  857  762  956 1083 1462 1241 1636  405 1194\n"
    "USW00014742 2012  505  686   85  957  782 1453 1066 2130  698 1055  699   82\n"
    "USW00014742 2013  625  580  685 1029  785  497 1193  406 1267  982 1842  995\n";
// Deserts whose soil never fills, so the carried soil water shows.
const char* const kDryTemp =
    "Site\tLat\tJan\tFeb\tMar\tApr\tMay\tJun\tJul\tAug\tSep\tOct\tNov\tDec\n"
    "Phoenix\t33.43\t13.8\t15.6\t18.9\t22.7\t27.6\t32.9\t35.0\t34.5\t31.3\t24.8\t17.9\t13.1\n"
    "Alice Springs\t-23.80\t29.0\t27.9\t25.1\t20.4\t15.8\t12.5\t12.0\t14.6\t19.0\t22.9\t25.9\t27.8\n";
const char* const kDryPrec =
    "Site\tLat\tJan\tFeb\tMar\tApr\tMay\tJun\tJul\tAug\tSep\tOct\tNov\tDec\n"
    "Phoenix\t33.43\t22.1\t22.1\t21.1\t6.4\t4.1\t0.5\t26.7\t23.9\t15.2\t15.0\t15.7\t22.6\n"
    "Alice Springs\t-23.80\t40.4\t43.6\t32.4\t17.2\t16.7\t13.9\t15.4\t9.1\t8.7\t20.6\t28.6\t39.8\n";

const char* const kSettings[] = {"tmean_field",  "precip_field", "lat_field",  "fc_field",
                                 "output_field", "Format_popup", "Beta_popup", "Carryover_box"};

template <typename T = QWidget>
T* child(QWidget* w, const char* name) {
  return w->findChild<T*>(QLatin1String(name));
}
void set(QWidget* w, const char* field, const QString& text) {
  child<QLineEdit>(w, field)->setText(text);
}
QString counterOf(QWidget* w) {
  return child<QLineEdit>(w, "counter")->text();
}
// Run and Stop, and whether every setting is enabled as `settings`.
QString controlsState(QWidget* w, bool settings) {
  for (const char* name : kSettings)
    if (child(w, name)->isEnabled() != settings) return QLatin1String(name);
  return QLatin1String(child(w, "Run_Main")->isEnabled() ? "Run" : "") +
         (child(w, "Stop_run")->isEnabled() ? u"Stop"_s : u""_s);
}

void writeFile(const QString& path, const std::string& bytes) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qUtf8Printable(path));
  f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}
std::string readFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}
std::size_t rowCount(const std::string& table) {
  return static_cast<std::size_t>(std::count(table.begin(), table.end(), '\r'));
}

// vadoset-cli run in-process: its table, or "" when it failed.
std::string cliTable(std::vector<std::string> args) {
  args.insert(args.end(), {"--quiet", "-o", "-", "--line-ending", "cr"});
  std::ostringstream out, err;
  return runCli(args, out, err) == kExitOk ? out.str() : std::string();
}

// Presses Run and waits for the run to end; its outcome, or nothing.
std::optional<RunOutcome> runFromWindow(Window1& w) {
  QSignalSpy finished(&w, &Window1::runFinished);
  QTest::mouseClick(child<QPushButton>(&w, "Run_Main"), Qt::LeftButton);
  if (finished.isEmpty() && !finished.wait(60000)) return std::nullopt;
  return finished.front().front().value<RunOutcome>();
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void freshWindow();
  void refusedRuns_data();
  void refusedRuns();
  void tableMatchesCli();
  void stopCloseAndDestroyDuringRun();
  void carryOverAcrossRuns();
};

// Every control in creation order with its kind, geometry, text (or items)
// and font size (0: the system's); the initial values; the window itself;
// no text cut off, with the desktop's font and a large one: a pop-up or a
// check box grows to the right for its text, nothing else changes.
void WindowTest::freshWindow() {
  const struct {
    const char *name, *kind;
    QRect geometry;
    const char* text;
    int px;
  } controls[] = {
      {"Run_Main", "QPushButton", {30, 261, 69, 20}, "Run", 12},
      {"Stop_run", "QPushButton", {30, 294, 69, 20}, "Stop", 12},
      {"counter", "QLineEdit", {150, 274, 124, 22}, "", 12},
      {"StaticText1", "QLabel", {150, 255, 100, 20}, "Rows completed", 12},
      {"StaticText3", "QLabel", {13, 35, 159, 20}, "Temperature data file", 12},
      {"StaticText4", "QLabel", {13, 62, 159, 20}, "Precipitation data file", 12},
      {"StaticText5", "QLabel", {13, 98, 164, 34}, "Latitude (decimal degrees)\n(For HCN data only)", 12},
      {"StaticText6", "QLabel", {13, 132, 159, 20}, "Field capacity (mm)", 12},
      {"tmean_field", "QLineEdit", {146, 34, 128, 22}, "allsites_temp.txt", 12},
      {"precip_field", "QLineEdit", {146, 61, 128, 22}, "allsites_prec.txt", 12},
      {"lat_field", "QLineEdit", {177, 97, 97, 22}, "44.47", 12},
      {"fc_field", "QLineEdit", {177, 131, 97, 22}, "100", 12},
      {"Separator1", "QFrame", {13, 86, 261, 4}, "", 0},
      {"Separator2", "QFrame", {13, 214, 261, 1}, "", 0},
      {"StaticText11", "QLabel", {42, 227, 100, 20}, "Output data file", 12},
      {"output_field", "QLineEdit", {146, 227, 128, 22}, "output.txt", 12},
      {"StaticText12", "QLabel", {16, 6, 100, 20}, "Input format:", 12},
      {"Format_popup", "QComboBox", {111, 5, 163, 20}, "Tab delimited|HCN data file|CSV (comma separated)", 12},
      {"StaticText13", "QLabel", {13, 157, 197, 20}, "Declining availability function", 12},
      {"Beta_popup", "QComboBox", {207, 157, 67, 20}, "A|B|C|D|E|F|G|H", 12},
      {"Carryover_box", "QCheckBox", {13, 186, 252, 20}, "Carryover soil water from Dec to Jan", 12}};
  const QFont desktop = QApplication::font();
  for (int points : {0, 14}) {
    QFont font = desktop;
    if (points > 0) font.setPointSize(points);
    QApplication::setFont(font);
    ScriptedDialogs dialogs;
    Window1 w(dialogs);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QList<QWidget*> created = w.centralWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    QCOMPARE(created.size(), std::size(controls));
    for (qsizetype i = 0; i < created.size(); ++i) {
      const auto& e = controls[i];
      QWidget* c = created[i];
      QCOMPARE(c->objectName(), QLatin1String(e.name));
      QCOMPARE(c->metaObject()->className(), e.kind);
      const bool grown =
          (qobject_cast<QComboBox*>(c) || qobject_cast<QCheckBox*>(c)) && c->width() > e.geometry.width();
      QCOMPARE(c->geometry(), grown ? QRect(e.geometry.topLeft(), QSize(c->sizeHint().width(), 20)) : e.geometry);
      const QString text = c->property("text").toString();
      const int needs = qobject_cast<QLineEdit*>(c) || qobject_cast<QPushButton*>(c)
                            ? c->fontMetrics().horizontalAdvance(text) + 8
                            : c->sizeHint().width();
      QVERIFY2(needs <= c->width() && c->geometry().right() < 302, e.name);
      QVERIFY2(c->isVisible(), e.name);
      QCOMPARE(c->font().pixelSize(), e.px > 0 ? e.px : QApplication::font(c).pixelSize());
      QStringList items;
      if (auto* p = qobject_cast<QComboBox*>(c))
        for (int k = 0; k < p->count(); ++k) items << p->itemText(k);
      QCOMPARE(items.isEmpty() ? c->property("text").toString() : items.join(u'|'), QString::fromUtf8(e.text));
      if (auto* b = qobject_cast<QPushButton*>(c)) QVERIFY(!b->isDefault() && !b->autoDefault());
      // The latitude label, widened for its text, lies on no control.
      for (QWidget* other : created)
        if (c->objectName() == u"StaticText5"_s && other != c) QVERIFY(!other->geometry().intersects(c->geometry()));
    }
    QCOMPARE(controlsState(&w, true), u"Run"_s);  // Stop only while a run goes
    QCOMPARE(child<QComboBox>(&w, "Beta_popup")->currentIndex(), 6);
    QCOMPARE(child<QComboBox>(&w, "Format_popup")->currentIndex(), 0);
    QVERIFY(!child<QCheckBox>(&w, "Carryover_box")->isChecked());
    QVERIFY(child<QLineEdit>(&w, "counter")->isReadOnly());
    QCOMPARE(w.windowTitle(), u"Vadoset"_s);
    QCOMPARE(w.centralWidget()->size(), QSize(302, 349));
    QCOMPARE(w.minimumSize(), w.maximumSize());
    const Qt::WindowFlags f = w.windowFlags();
    QVERIFY((f & Qt::WindowCloseButtonHint) && (f & Qt::WindowMinimizeButtonHint) &&
            !(f & Qt::WindowMaximizeButtonHint));
  }
  QApplication::setFont(desktop);
}

// Each run that cannot start or finish: its messages ('|' between them), an
// empty counter (after a run that worked too), no file left behind, and a
// window whose next run works.
void WindowTest::refusedRuns_data() {
  for (const char* column : {"field", "value", "messages"}) QTest::addColumn<QString>(column);
  QTest::addColumn<int>("format");
  QTest::addColumn<RunOutcome>("outcome");
  const QString fc = u"Field capacity must be a positive number of millimetres."_s;
  const RunOutcome no = RunOutcome::NotStarted, failed = RunOutcome::OutputFailed;
  QTest::newRow("data folder cancelled") << u"cancel"_s << QString() << QString() << 0 << no;
  QTest::newRow("missing precipitation file")
      << u"precip_field"_s << u"nowhere.txt"_s << u"The file nowhere.txt doesn't exist."_s << 0 << no;
  QTest::newRow("missing temperature file, own name")
      << u"tmean_field"_s << u"sub/none.txt"_s << u"The file none.txt doesn't exist."_s << 0 << no;
  QTest::newRow("field capacity not a number") << u"fc_field"_s << u"ten"_s << fc << 0 << no;
  QTest::newRow("field capacity below 1 mm") << u"fc_field"_s << u"0.5"_s << fc << 0 << no;
  QTest::newRow("tab files read as HCN") << QString() << QString()
                                         << u"Precip file not an HCN format file\nallsites_prec.txt: its first line "
                                            u"does not start with HCN. Choose the format Tab delimited or CSV (comma "
                                            u"separated).|Temp file not an HCN format file\nallsites_temp.txt: its "
                                            u"first line does not start with HCN. Choose the format Tab delimited or "
                                            u"CSV (comma separated)."_s
                                         << 1 << no;
  QTest::newRow("HCN latitude not a number")
      << u"lat_field"_s << u"north"_s << u"Latitude must be a number of decimal degrees from -90 to 90."_s << 1 << no;
  QTest::newRow("output is a folder") << u"output_field"_s << u"sub"_s
                                      << u"The output file sub could not be written: it is a folder."_s << 0 << failed;
  QTest::newRow("output dialog throws") << u"throw"_s << QString()
                                        << u"The run stopped because of an error: no folder today"_s << 0 << failed;
}

void WindowTest::refusedRuns() {
  QFETCH(QString, field);
  QFETCH(QString, value);
  QFETCH(QString, messages);
  QFETCH(int, format);
  QFETCH(RunOutcome, outcome);
  QTemporaryDir dir;
  writeFile(dir.filePath(u"allsites_temp.txt"_s), kDryTemp);
  writeFile(dir.filePath(u"allsites_prec.txt"_s), kDryPrec);
  QVERIFY(QDir(dir.path()).mkdir(u"sub"_s));
  ScriptedDialogs dialogs;
  if (field != u"cancel"_s) dialogs.folders = {dir.path(), dir.path()};
  if (field == u"throw"_s)
    dialogs.duringFolderDialog = [](const QString& prompt) {
      if (prompt == u"Folder to save output data"_s) throw std::runtime_error("no folder today");
    };
  Window1 w(dialogs);
  w.show();
  auto* edit = child<QLineEdit>(&w, field.toLatin1().constData());
  const QString before = edit ? edit->text() : QString();
  if (edit) edit->setText(value);
  child<QComboBox>(&w, "Format_popup")->setCurrentIndex(format);
  QCOMPARE(runFromWindow(w), std::optional<RunOutcome>(outcome));
  QCOMPARE(dialogs.messages.join(u'|'), messages);
  QCOMPARE(counterOf(&w), QString());
  QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);  // no table, no temporary file
  QCOMPARE(controlsState(&w, true), u"Run"_s);

  if (edit) edit->setText(before);
  child<QComboBox>(&w, "Format_popup")->setCurrentIndex(0);
  dialogs.duringFolderDialog = nullptr;
  dialogs.folders = {dir.path(), dir.path()};
  QCOMPARE(runFromWindow(w), std::optional<RunOutcome>(RunOutcome::Completed));
  QCOMPARE(rowCount(readFile(dir.filePath(u"output.txt"_s))), std::size_t{3});
  // The status line says what the run did; a refused run clears it.
  const QString status = child<QLabel>(&w, "status_line")->text().remove(QChar(0x200B));
  QVERIFY2(status.startsWith(u"Finished: 2 rows written to "_s + dir.path() + u"/output.txt ("_s), qPrintable(status));
  QVERIFY(status.contains(u">Show results</a>"_s));
  if (edit) {
    edit->setText(value);
    child<QComboBox>(&w, "Format_popup")->setCurrentIndex(format);
    dialogs.folders = {dir.path(), dir.path()};
    QCOMPARE(runFromWindow(w), std::optional<RunOutcome>(outcome));
    QCOMPARE(child<QLabel>(&w, "status_line")->text() + counterOf(&w), QString());
  }
}

// A run from the window gives the command line tool's table byte for byte,
// with every setting passed on (HCN, so the latitude counts) on two threads;
// the dialogs' prompts, buttons and thread; the counter is empty until the
// data folder is chosen, then "File names loaded", then rising counts to 3;
// the time in the status line leaves out the dialogs.
void WindowTest::tableMatchesCli() {
  QTemporaryDir data, out;
  const QString t = data.filePath(u"t.txt"_s), p = data.filePath(u"p.txt"_s);
  writeFile(t, kHcnTemp);
  writeFile(p, kHcnPrec);
  ScriptedDialogs dialogs;
  dialogs.folders = {data.path(), out.path()};
  Window1 w(dialogs);
  w.setParallelOptions(RunConfig::Parallel{.threads = 2, .batchRecords = 2});  // two batches
  w.show();
  set(&w, "tmean_field", u"t.txt"_s);
  set(&w, "precip_field", u"p.txt"_s);
  set(&w, "lat_field", u"-60"_s);
  set(&w, "fc_field", u"150"_s);
  set(&w, "output_field", u"table.txt"_s);
  child<QComboBox>(&w, "Format_popup")->setCurrentIndex(1);
  child<QComboBox>(&w, "Beta_popup")->setCurrentIndex(1);
  child<QCheckBox>(&w, "Carryover_box")->setChecked(true);
  QStringList shown, duringDialogs;
  connect(child<QLineEdit>(&w, "counter"), &QLineEdit::textChanged, this, [&](const QString& s) { shown << s; });
  dialogs.duringFolderDialog = [&](const QString&) {
    duringDialogs << counterOf(&w);
    QThread::msleep(400);  // a user choosing a folder
  };
  QCOMPARE(runFromWindow(w), std::optional<RunOutcome>(RunOutcome::Completed));
  QVERIFY(dialogs.messages.isEmpty() && dialogs.allOnGuiThread);
  QCOMPARE(dialogs.prompts, QStringList({u"Folder containing data files"_s, u"Folder to save output data"_s}));
  QCOMPARE(dialogs.buttons, QStringList(2, u"Select folder"_s));
  QCOMPARE(duringDialogs, QStringList({QString(), u"File names loaded"_s}));
  QVERIFY(shown.size() >= 2 && shown.front() == u"File names loaded"_s && shown.back() == u"3"_s);
  for (qsizetype i = 1; i < shown.size(); ++i) QVERIFY(shown[i].toInt() > (i > 1 ? shown[i - 1].toInt() : 0));
  const std::string expected = cliTable({"-t", t.toStdString(), "-p", p.toStdString(), "--format", "hcn", "--latitude",
                                         "-60", "--field-capacity", "150", "--function", "B", "--carryover"});
  QCOMPARE(rowCount(expected), std::size_t{4});
  QVERIFY(readFile(out.filePath(u"table.txt"_s)) == expected);
  // The status line's time is the run's own, without the dialogs' 0.8 s.
  const QString status = child<QLabel>(&w, "status_line")->text();
  QVERIFY2(status.section(u'(', 1).section(u' ', 0, 0).toDouble() < 0.8, qPrintable(status));
}

// A long run on one thread: Run and every setting disabled, Run pressed again
// starts nothing, the window keeps handling events, the counter is throttled,
// Stop ends the run with the command line tool's rows up to the last count
// and the controls come back. Closing during a run is refused until the run
// has stopped, then the window closes; destroying it does not hang. Each
// time the table holds complete rows only.
void WindowTest::stopCloseAndDestroyDuringRun() {
  constexpr int kRecords = 150000;
  QTemporaryDir data;
  std::string temp = "Site\tLat\n", prec = temp;  // Burlington, shifted a little
  const double t[12] = {-6.7, -5.4, -0.1, 7.2, 14.2, 19.3, 22.0, 21.1, 16.5, 9.5, 3.3, -2.8};
  const double p[12] = {56.1, 46.5, 59.2, 74.7, 90.9, 104.6, 105.7, 102.9, 93.7, 98.0, 76.7, 66.8};
  for (int i = 0; i < kRecords; ++i) {
    temp += "R" + std::to_string(i) + "\t44.47";
    prec += "R" + std::to_string(i) + "\t44.47";
    for (int m = 0; m < 12; ++m) {
      temp += QString::asprintf("\t%.1f", t[m] + (i % 17) * 0.1).toStdString();
      prec += QString::asprintf("\t%.1f", p[m] + (i % 17) * 0.3).toStdString();
    }
    temp += '\n', prec += '\n';
  }
  const QString table = data.filePath(u"output.txt"_s);
  writeFile(data.filePath(u"temp.txt"_s), temp);
  writeFile(data.filePath(u"prec.txt"_s), prec);
  const std::string expected =
      cliTable({"-t", data.filePath(u"temp.txt"_s).toStdString(), "-p", data.filePath(u"prec.txt"_s).toStdString()});
  QCOMPARE(rowCount(expected), static_cast<std::size_t>(kRecords + 1));
  auto completeRows = [&](std::size_t rows) {
    const std::string got = readFile(table);
    return rowCount(got) == rows && got.back() == '\r' && expected.compare(0, got.size(), got) == 0;
  };
  ScriptedDialogs dialogs;
  auto w = std::make_unique<Window1>(dialogs);
  w->setParallelOptions(RunConfig::Parallel{.threads = 1});
  w->show();
  set(w.get(), "tmean_field", u"temp.txt"_s);
  set(w.get(), "precip_field", u"prec.txt"_s);
  QStringList shown;
  connect(child<QLineEdit>(w.get(), "counter"), &QLineEdit::textChanged, this, [&](const QString& s) { shown << s; });
  QSignalSpy finished(w.get(), &Window1::runFinished);
  auto start = [&](int rows) {
    QFile::remove(table);
    shown.clear();
    finished.clear();
    dialogs.folders = {data.path(), data.path()};
    QTest::mouseClick(child<QPushButton>(w.get(), "Run_Main"), Qt::LeftButton);
    return QTest::qWaitFor([&] { return shown.size() > 1 && shown.back().toInt() >= rows; }, 60000);
  };

  QElapsedTimer sinceTick, elapsed;
  qint64 longestPause = 0;
  QTimer ticker;
  connect(&ticker, &QTimer::timeout, this, [&] { longestPause = std::max(longestPause, sinceTick.restart()); });
  elapsed.start();
  sinceTick.start();
  ticker.start(5);
  QVERIFY(start(20000));
  QVERIFY(finished.isEmpty());
  QCOMPARE(controlsState(w.get(), false), u"Stop"_s);
  w->Run_Main_Action();
  QCOMPARE(dialogs.prompts.size(), 2);
  QTest::mouseClick(child<QPushButton>(w.get(), "Stop_run"), Qt::LeftButton);
  QVERIFY(finished.wait(30000));
  const qint64 ms = elapsed.elapsed();
  QCOMPARE(finished.front().front().value<RunOutcome>(), RunOutcome::Stopped);
  QCOMPARE(controlsState(w.get(), true), u"Run"_s);
  const int count = counterOf(w.get()).toInt();
  QVERIFY2(count < kRecords, "the run ended before Stop; make the input longer");
  QVERIFY(completeRows(static_cast<std::size_t>(count + 1)));
  QCOMPARE(shown.back(), QString::number(count));
  QVERIFY(
      child<QLabel>(w.get(), "status_line")->text().startsWith(u"Stopped after %1 rows; they are in "_s.arg(count)));
  QVERIFY2(shown.size() <= ms / 40 + 3, qPrintable(u"%1 updates in %2 ms"_s.arg(shown.size()).arg(ms)));
  QVERIFY2(longestPause < 1000, qPrintable(u"event loop paused %1 ms"_s.arg(longestPause)));

  QVERIFY(start(1));
  QVERIFY(!w->close());
  QVERIFY(finished.wait(30000));
  QCOMPARE(finished.front().front().value<RunOutcome>(), RunOutcome::Stopped);
  QTRY_VERIFY(!w->isVisible());
  QVERIFY(completeRows(counterOf(w.get()).toUInt() + 1));

  w->show();
  QVERIFY(start(1));
  elapsed.restart();
  w.reset();
  QVERIFY(elapsed.elapsed() < 10000);
  QVERIFY(rowCount(readFile(table)) > 1);
  QVERIFY(completeRows(rowCount(readFile(table))));
}

// The soil water carries from one run to the next: the window's two runs are
// the core's two runs on one run state, and the second differs from the first.
void WindowTest::carryOverAcrossRuns() {
  QTemporaryDir data, core;
  const QString t = data.filePath(u"t.txt"_s), p = data.filePath(u"p.txt"_s);
  writeFile(t, kDryTemp);
  writeFile(p, kDryPrec);
  ScriptedDialogs dialogs;
  dialogs.folders = {data.path(), data.path(), data.path(), data.path()};
  Window1 w(dialogs);
  w.show();
  set(&w, "tmean_field", u"t.txt"_s);
  set(&w, "precip_field", u"p.txt"_s);
  set(&w, "fc_field", u"300"_s);
  child<QCheckBox>(&w, "Carryover_box")->setChecked(true);
  Settings s;
  s.tmeanFile = t.toStdString();
  s.precipFile = p.toStdString();
  s.carryover = true;
  s.fcText = "300";
  s.outputFile = core.filePath(u"core.txt"_s).toStdString();
  RunConfig config = makeRunConfig(s, "", "");
  std::string tables[2];
  for (std::string& table : tables) {
    QCOMPARE(runFromWindow(w), std::optional<RunOutcome>(RunOutcome::Completed));
    RunObserver quiet;
    const RunResult r = runTable(config, quiet);
    QCOMPARE(r.outcome, RunOutcome::Completed);
    config.start = r.carried;
    table = readFile(data.filePath(u"output.txt"_s));
    QVERIFY(table == readFile(core.filePath(u"core.txt"_s)));
  }
  QVERIFY2(tables[0] != tables[1], "the carried soil water made no difference to the second run");
}

class AboutTest : public QObject {
  Q_OBJECT
  ScriptedDialogs dialogs_;
  std::unique_ptr<Window1> window_;
  MenuBar1* bar_ = nullptr;
  QStringList reported_;
  static bool activate(QWidget* w) {
    w->activateWindow();
    return QTest::qWaitFor([w] { return QApplication::activeWindow() == w; }, 5000);
  }

 private slots:
  void init() {
    reported_.clear();
    static_cast<App*>(qApp)->setErrorReporter([this](const QString& t) { reported_ << t; });
    window_ = static_cast<App*>(qApp)->openMainWindow(dialogs_);
    bar_ = qobject_cast<MenuBar1*>(window_->menuBar());
    QVERIFY(bar_ && QTest::qWaitForWindowExposed(window_.get()));
  }
  void cleanup() {
    window_.reset();
    QTRY_VERIFY(AquaAboutBox::instance() == nullptr);
  }
  void menuBar();
  void aboutWindow();
  void oneInstanceAndClose();
  void errorsAreLabelledAndShown();
  void link();
};

// The menus' items; the Edit items act on the focused field, and the
// read-only counter cannot be cut or pasted into.
void AboutTest::menuBar() {
  QStringList items;
  for (QMenu* menu : {bar_->FileMenu, bar_->EditMenu, bar_->ViewMenu}) {
    items << menu->title();
    for (QAction* a : menu->actions()) items << a->objectName() + u':' + a->text() + u':' + a->shortcut().toString();
  }
  QCOMPARE(items.join(u'|'),
           u"&File|FileClose:Close:Ctrl+W|About:About Vadoset:|FileQuit:Quit:Ctrl+Q|&Edit|"
           "EditUndo:Undo:Ctrl+Z|UntitledMenu0::|EditCut:Cut:Ctrl+X|EditCopy:Copy:Ctrl+C|"
           "EditPaste:Paste:Ctrl+V|EditClear:Clear:|&View|ViewResults:Results:Ctrl+R"_s);
  QVERIFY(bar_->UntitledMenu0->isSeparator());
  QVERIFY(bar_->About->menuRole() == QAction::AboutRole && bar_->FileQuit->menuRole() == QAction::QuitRole);
  auto* field = child<QLineEdit>(window_.get(), "fc_field");
  auto* counter = child<QLineEdit>(window_.get(), "counter");
  QVERIFY(activate(window_.get()));
  field->setFocus();
  QTRY_COMPARE(QApplication::focusWidget(), field);
  field->selectAll();
  bar_->enableEditItems();
  bar_->EditClear->trigger();
  QCOMPARE(field->text(), QString());
  bar_->enableEditItems();
  bar_->EditUndo->trigger();
  QCOMPARE(field->text(), u"100"_s);
  counter->setFocus();
  QTRY_COMPARE(QApplication::focusWidget(), counter);
  bar_->enableEditItems();
  QVERIFY(!bar_->EditPaste->isEnabled() && !bar_->EditCut->isEnabled());
}

// Size, buttons, each control in creation order with its geometry and font
// size, and the texts and pictures.
void AboutTest::aboutWindow() {
  bar_->About->trigger();
  AquaAboutBox* box = AquaAboutBox::instance();
  QVERIFY(box && QTest::qWaitForWindowExposed(box));
  QCOMPARE(box->size(), QSize(284, 340));
  QCOMPARE(box->minimumSize(), box->maximumSize());
  QCOMPARE(box->windowTitle(), QString());
  const Qt::WindowFlags f = box->windowFlags();
  QVERIFY((f & Qt::WindowCloseButtonHint) && !(f & Qt::WindowMinimizeButtonHint) &&
          !(f & Qt::WindowMaximizeButtonHint));
  const struct {
    const char* name;
    QRect geometry;
    int px;
  } controls[] = {{"icon", {110, 8, 64, 64}, 0},         {"name", {24, 78, 236, 19}, 14},
                  {"version", {24, 101, 236, 12}, 10},   {"description", {24, 122, 236, 54}, 11},
                  {"credits", {24, 187, 236, 59}, 10},   {"toolLogo", {37, 253, 210, 30}, 0},
                  {"copyright", {24, 295, 236, 12}, 10}, {"homePage", {24, 307, 236, 13}, 10}};
  const QList<QWidget*> created = box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  QCOMPARE(created.size(), std::size(controls));
  for (qsizetype i = 0; i < created.size(); ++i) {
    QCOMPARE(created[i]->objectName(), QLatin1String(controls[i].name));
    QCOMPARE(created[i]->geometry(), controls[i].geometry);
    if (controls[i].px > 0) QCOMPARE(created[i]->font().pixelSize(), controls[i].px);
  }
  QVERIFY(child(box, "name")->font().bold() && !qApp->applicationVersion().isEmpty());
  QCOMPARE(child<QLabel>(box, "name")->text() + u'|' + child<QLabel>(box, "version")->text() + u'|' +
               child<QLabel>(box, "description")->text(),
           u"Vadoset|"_s + qApp->applicationVersion() +
               u"|A program to compute the annual climatic water balance using a modified Thornthwaite method by "
               "Willmott et al."_s);
  auto* credits = child<QPlainTextEdit>(box, "credits");
  QVERIFY(credits->isReadOnly() && credits->toPlainText().contains(u"(GPL-3.0-or-later)"_s));
  QCOMPARE(credits->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  QVERIFY(!child<QLabel>(box, "copyright")->text().isEmpty());
  auto* link = child<StaticURL>(box, "homePage");
  QVERIFY(!link->text().isEmpty() && link->url().startsWith(u"https://"_s) && link->font().underline());
  QCOMPARE(child<QLabel>(box, "icon")->pixmap().size(), QSize(64, 64));
  QCOMPARE(child<QLabel>(box, "toolLogo")->pixmap().size(), QSize(210, 30));
  QVERIFY(reported_.isEmpty());
}

// One instance at most; Close is enabled only with the About window in front
// and closes it alone, by Ctrl+W or from the menu; the next About opens anew.
void AboutTest::oneInstanceAndClose() {
  QVERIFY(activate(window_.get()));
  QVERIFY(!bar_->FileClose->isEnabled());
  bar_->About->trigger();
  AquaAboutBox* box = AquaAboutBox::instance();
  QVERIFY(activate(box));
  QVERIFY(bar_->FileClose->isEnabled());
  bar_->About->trigger();
  QCOMPARE(AquaAboutBox::instance(), box);
  const QWidgetList tops = QApplication::topLevelWidgets();
  QCOMPARE(std::count_if(tops.begin(), tops.end(),
                         [](QWidget* t) { return qobject_cast<AquaAboutBox*>(t) && t->isVisible(); }),
           1);
  QVERIFY(activate(window_.get()));
  QVERIFY(!bar_->FileClose->isEnabled());
  QTest::keyClick(window_.get(), Qt::Key_W, Qt::ControlModifier);
  QTest::qWait(50);
  QVERIFY(window_->isVisible() && AquaAboutBox::instance() == box);
  QVERIFY(activate(box));
  QTest::keyClick(box, Qt::Key_W, Qt::ControlModifier);
  QTRY_VERIFY(AquaAboutBox::instance() == nullptr);
  QVERIFY(window_->isVisible());
  QTRY_VERIFY(!bar_->FileClose->isEnabled());
  bar_->About->trigger();
  QVERIFY(activate(AquaAboutBox::instance()));
  bar_->FileClose->trigger();
  QTRY_VERIFY(AquaAboutBox::instance() == nullptr);
  QVERIFY(window_->isVisible() && reported_.isEmpty());
}

// Each About handler that fails adds its label and passes the error on, and
// the application shows it and goes on; an event handler's error is shown at
// the top of the event loop; standard exceptions are labelled too, in order.
void AboutTest::errorsAreLabelledAndShown() {
  const QString none = u":/pictures/none.png"_s, noText = u"The About window has no text for its "_s;
  const struct {
    QString AboutContent::*field;
    QString value, message;
  } cases[] = {{&AboutContent::name, {}, noText + u"name.\rAquaAboutBox.Name.Open"_s},
               {&AboutContent::version, {}, noText + u"version.\rAquaAboutBox.Version.Open"_s},
               {&AboutContent::description, {}, noText + u"description.\rAquaAboutBox.Description.Open"_s},
               {&AboutContent::credits, {}, noText + u"credits.\rAquaAboutBox.Credits.Open"_s},
               {&AboutContent::copyright, {}, noText + u"copyright.\rAquaAboutBox.Copyright.Open"_s},
               {&AboutContent::toolLogoPicture, none,
                u"The tool logo picture "_s + none + u" could not be loaded.\rAquaAboutBox.ToolLogo.Open"_s},
               {&AboutContent::iconPicture, none, u"The application picture "_s + none + u" could not be loaded."_s},
               {&AboutContent::homePageUrl, u"no address"_s,
                u"The home page address no address is not a web address.\rAquaAboutBox.HomePage.Open"_s}};
  for (const auto& c : cases) {
    reported_.clear();
    delete AquaAboutBox::instance();  // a window that failed may stay open
    AboutContent content = AboutContent::standard();
    content.*c.field = c.value;
    AquaAboutBox::showAbout(window_.get(), bar_->FileClose, content);
    QCOMPARE(reported_, QStringList{c.message + u"\rAquaAboutBox.Open"_s});
  }
  reported_.clear();
  struct Faulty : QObject {
    int handled = 0;
    bool event(QEvent* e) override {
      if (e->type() == QEvent::User) ++handled, labelled("Faulty.Inner", [] { throw Error("Picture missing"); });
      return QObject::event(e);
    }
  } faulty;
  QCoreApplication::postEvent(&faulty, new QEvent(QEvent::User));
  QCoreApplication::postEvent(&faulty, new QEvent(QEvent::User));
  QTRY_COMPARE(faulty.handled, 2);
  QCOMPARE(reported_, QStringList(2, u"Picture missing\rFaulty.Inner"_s));
  try {
    labelled("Outer", [] { labelled("Inner", [] { throw std::out_of_range("index"); }); });
    QFAIL("no error");
  } catch (const Error& e) {
    QCOMPARE(QString::fromUtf8(e.what()), u"index\rInner\rOuter"_s);
  }
}

// Blue at rest, magenta under the mouse, red while pressed, blue after a
// release or a leave; only a release strictly inside the 236 x 13 label opens
// its address.
void AboutTest::link() {
  bar_->About->trigger();
  auto* link = child<StaticURL>(AquaAboutBox::instance(), "homePage");
  QVERIFY(QTest::qWaitForWindowExposed(link->window()));
  QCOMPARE(link->size(), QSize(236, 13));
  QList<QUrl> opened;
  link->setOpener([&](const QUrl& u) { return opened << u, true; });
  auto shows = [link](QRgb colour) {  // the colour property and at least one drawn pixel
    const QImage image = link->grab().toImage();
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (image.pixel(x, y) == colour) return link->textColor().rgb() == colour;
    return false;
  };
  const QRgb blue = qRgb(0, 0, 255), magenta = qRgb(255, 0, 255), red = qRgb(255, 0, 0);
  QVERIFY(shows(blue));
  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), link->mapToGlobal(QPointF(5, 5)));
  QCoreApplication::sendEvent(link, &enter);
  QVERIFY(shows(magenta) && !shows(blue));
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(link, &leave);
  QVERIFY(shows(blue));
  const std::pair<QPoint, bool> releases[] = {{{118, 6}, true},   {{1, 1}, true},    {{235, 12}, true},
                                              {{0, 6}, false},    {{118, 0}, false}, {{236, 6}, false},
                                              {{118, 13}, false}, {{300, 40}, false}};
  for (const auto& [at, opens] : releases) {
    opened.clear();
    QTest::mousePress(link, Qt::LeftButton, {}, QPoint(118, 6));
    QVERIFY(shows(red));
    QTest::mouseRelease(link, Qt::LeftButton, {}, at);
    QCOMPARE(opened, opens ? QList<QUrl>{QUrl(link->url())} : QList<QUrl>{});
    QVERIFY(shows(blue));
  }
}

int runResultsTests(int argc, char** argv);  // results_test.cpp

int main(int argc, char** argv) {
  App app(argc, argv);
  WindowTest window;
  AboutTest about;
  return QTest::qExec(&window, argc, argv) | QTest::qExec(&about, argc, argv) | runResultsTests(argc, argv);
}

#include "ui_test.moc"
