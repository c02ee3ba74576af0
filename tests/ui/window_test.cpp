// The main window: its controls as a fresh window shows them, and the
// messages and dialogs of runs that cannot start.

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <stdexcept>

#include "app/app.h"
#include "ui/window1.h"
#include "ui_test_support.h"

using namespace vadoset;
using namespace vadoset::uitest;

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void controls_data();
  void controls();
  void creationOrderAndWindow();
  void counterIsReadOnly();
  void refusedRuns_data();
  void refusedRuns();
  void dialogsAskForFoldersOnGuiThread();
  void failingDialogEndsRunCleanly();
};

void WindowTest::controls_data() {
  QTest::addColumn<QString>("kind");
  QTest::addColumn<QRect>("geometry");
  QTest::addColumn<QString>("text");
  QTest::addColumn<int>("fontPixels");  // 0: the system's default size

  auto row = [](const char* name, const char* kind, QRect r, const char* text, int px) {
    QTest::newRow(name) << QString::fromLatin1(kind) << r << QString::fromUtf8(text) << px;
  };
  row("Run_Main", "QPushButton", {30, 261, 69, 20}, "Run", 12);
  row("Stop_run", "QPushButton", {30, 294, 69, 20}, "Stop", 12);
  row("counter", "QLineEdit", {150, 274, 124, 22}, "", 12);
  row("StaticText1", "QLabel", {150, 255, 100, 20}, "Rows completed", 12);
  row("StaticText3", "QLabel", {13, 35, 159, 20}, "Temperature data file", 12);
  row("StaticText4", "QLabel", {13, 62, 159, 20}, "Precipitation data file", 12);
  row("StaticText5", "QLabel", {13, 98, 159, 34}, "Latitude (decimal degrees)\n(For HCN data only)", 12);
  row("StaticText6", "QLabel", {13, 132, 159, 20}, "Field capacity (mm)", 12);
  row("tmean_field", "QLineEdit", {146, 34, 128, 22}, "allsites_temp.txt", 12);
  row("precip_field", "QLineEdit", {146, 61, 128, 22}, "allsites_prec.txt", 12);
  row("lat_field", "QLineEdit", {177, 97, 97, 22}, "44.47", 12);
  row("fc_field", "QLineEdit", {177, 131, 97, 22}, "100", 12);
  row("Separator1", "QFrame", {13, 86, 261, 4}, "", 0);
  row("Separator2", "QFrame", {13, 214, 261, 1}, "", 0);
  row("StaticText11", "QLabel", {42, 227, 100, 20}, "Output data file", 12);
  row("output_field", "QLineEdit", {146, 227, 128, 22}, "output.txt", 12);
  row("StaticText12", "QLabel", {16, 6, 100, 20}, "Input format:", 0);
  row("Format_popup", "QComboBox", {111, 5, 163, 20}, "Tab delimited|HCN data file", 0);
  row("StaticText13", "QLabel", {13, 157, 197, 20}, "Declining availability function", 0);
  row("Beta_popup", "QComboBox", {207, 157, 67, 20}, "A|B|C|D|E|F|G|H", 0);
  row("Carryover_box", "QCheckBox", {13, 186, 252, 20}, "Carryover soil water from Dec to Jan", 0);
}

void WindowTest::controls() {
  QFETCH(QString, kind);
  QFETCH(QRect, geometry);
  QFETCH(QString, text);
  QFETCH(int, fontPixels);

  ScriptedDialogs dialogs;
  Window1 w(dialogs);
  w.show();
  auto* c = child<QWidget>(&w, QTest::currentDataTag());
  QVERIFY(c != nullptr);
  QCOMPARE(QString::fromLatin1(c->metaObject()->className()), kind);
  QCOMPARE(c->parentWidget(), w.centralWidget());
  QCOMPARE(c->geometry(), geometry);
  QVERIFY(c->isVisible());
  if (fontPixels > 0) {
    QCOMPARE(c->font().pixelSize(), fontPixels);
  } else {
    QCOMPARE(c->font(), QApplication::font(c));
  }

  if (auto* b = qobject_cast<QPushButton*>(c)) {
    QCOMPARE(b->text(), text);
    QVERIFY(!b->isDefault());
    QVERIFY(!b->autoDefault());
    // Stop is only enabled while a run goes.
    QCOMPARE(b->isEnabled(), b->objectName() == QStringLiteral("Run_Main"));
  } else if (auto* e = qobject_cast<QLineEdit*>(c)) {
    QCOMPARE(e->text(), text);
    QVERIFY(e->hasFrame());
    QVERIFY(e->isEnabled());
  } else if (auto* l = qobject_cast<QLabel*>(c)) {
    QCOMPARE(l->text(), text);
  } else if (auto* p = qobject_cast<QComboBox*>(c)) {
    QStringList items;
    for (int i = 0; i < p->count(); ++i) items << p->itemText(i);
    QCOMPARE(items.join(QLatin1Char('|')), text);
    QCOMPARE(p->currentIndex(), c->objectName() == QStringLiteral("Beta_popup") ? 6 : 0);
    QVERIFY(p->isEnabled());
  } else if (auto* x = qobject_cast<QCheckBox*>(c)) {
    QCOMPARE(x->text(), text);
    QVERIFY(!x->isChecked());
    QVERIFY(x->isEnabled());
  }
}

void WindowTest::creationOrderAndWindow() {
  ScriptedDialogs dialogs;
  Window1 w(dialogs);
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));

  // Stacking order is creation order.
  const QStringList expected = {
      QStringLiteral("Run_Main"),     QStringLiteral("Stop_run"),     QStringLiteral("counter"),
      QStringLiteral("StaticText1"),  QStringLiteral("StaticText3"),  QStringLiteral("StaticText4"),
      QStringLiteral("StaticText5"),  QStringLiteral("StaticText6"),  QStringLiteral("tmean_field"),
      QStringLiteral("precip_field"), QStringLiteral("lat_field"),    QStringLiteral("fc_field"),
      QStringLiteral("Separator1"),   QStringLiteral("Separator2"),   QStringLiteral("StaticText11"),
      QStringLiteral("output_field"), QStringLiteral("StaticText12"), QStringLiteral("Format_popup"),
      QStringLiteral("StaticText13"), QStringLiteral("Beta_popup"),   QStringLiteral("Carryover_box")};
  QStringList order;
  for (QObject* o : w.centralWidget()->children())
    if (o->isWidgetType()) order << o->objectName();
  QCOMPARE(order, expected);

  QCOMPARE(w.windowTitle(), QStringLiteral("Vadoset"));
  QCOMPARE(w.centralWidget()->size(), QSize(302, 349));
  // Not resizable; close and minimise buttons but no maximise.
  QCOMPARE(w.minimumSize(), w.maximumSize());
  const Qt::WindowFlags f = w.windowFlags();
  QVERIFY(f & Qt::WindowCloseButtonHint);
  QVERIFY(f & Qt::WindowMinimizeButtonHint);
  QVERIFY(!(f & Qt::WindowMaximizeButtonHint));
}

void WindowTest::counterIsReadOnly() {
  ScriptedDialogs dialogs;
  Window1 w(dialogs);
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  auto* counter = child<QLineEdit>(&w, "counter");
  QVERIFY(counter->isReadOnly());
  counter->setFocus();
  QTest::keyClicks(counter, QStringLiteral("123"));
  QCOMPARE(counter->text(), QString());
}

// Each run that cannot start: its messages in order, what the counter shows
// and that no table appears.
void WindowTest::refusedRuns_data() {
  QTest::addColumn<QString>("field");
  QTest::addColumn<QString>("value");
  QTest::addColumn<int>("format");
  QTest::addColumn<bool>("cancelDataFolder");
  QTest::addColumn<QStringList>("messages");
  QTest::addColumn<QString>("counterAfter");
  QTest::addColumn<int>("outcome");

  const int notStarted = static_cast<int>(RunOutcome::NotStarted);
  QTest::newRow("data folder cancelled") << QString() << QString() << 0 << true << QStringList() << QString()
                                         << notStarted;
  QTest::newRow("missing precipitation file")
      << QStringLiteral("precip_field") << QStringLiteral("nowhere.txt") << 0 << false
      << QStringList{QStringLiteral("The file nowhere.txt doesn't exist.")} << QString() << notStarted;
  QTest::newRow("missing temperature file, named by its own name")
      << QStringLiteral("tmean_field") << QStringLiteral("sub/none.txt") << 0 << false
      << QStringList{QStringLiteral("The file none.txt doesn't exist.")} << QString() << notStarted;
  QTest::newRow("bad field capacity") << QStringLiteral("fc_field") << QStringLiteral("ten") << 0 << false
                                      << QStringList{QStringLiteral(
                                             "Field capacity must be a positive number of millimetres.")}
                                      << QString() << notStarted;
  QTest::newRow("field capacity below one millimetre")
      << QStringLiteral("fc_field") << QStringLiteral("0.5") << 0 << false
      << QStringList{QStringLiteral("Field capacity must be a positive number of millimetres.")} << QString()
      << notStarted;
  QTest::newRow("tab files read as HCN") << QString() << QString() << 1 << false
                                         << QStringList{QStringLiteral("Precip file not an HCN format file"),
                                                        QStringLiteral("Temp file not an HCN format file")}
                                         << QStringLiteral("File names loaded") << notStarted;
  QTest::newRow("HCN latitude not a number")
      << QStringLiteral("lat_field") << QStringLiteral("north") << 1 << false
      << QStringList{QStringLiteral("Latitude must be a number of decimal degrees from -90 to 90.")} << QString()
      << notStarted;
  QTest::newRow("output is a folder") << QStringLiteral("output_field") << QStringLiteral("sub") << 0 << false
                                      << QStringList{QStringLiteral("The output file sub could not be written.")}
                                      << QStringLiteral("File names loaded")
                                      << static_cast<int>(RunOutcome::OutputFailed);
}

void WindowTest::refusedRuns() {
  QFETCH(QString, field);
  QFETCH(QString, value);
  QFETCH(int, format);
  QFETCH(bool, cancelDataFolder);
  QFETCH(QStringList, messages);
  QFETCH(QString, counterAfter);
  QFETCH(int, outcome);

  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  writeFile(dir.filePath(QStringLiteral("allsites_temp.txt")), kTabTemp);
  writeFile(dir.filePath(QStringLiteral("allsites_prec.txt")), kTabPrec);
  QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));

  ScriptedDialogs dialogs;
  if (!cancelDataFolder) dialogs.folders = {dir.path(), dir.path()};
  Window1 w(dialogs);
  w.show();
  if (!field.isEmpty()) child<QLineEdit>(&w, field.toLatin1().constData())->setText(value);
  child<QComboBox>(&w, "Format_popup")->setCurrentIndex(format);

  std::optional<RunOutcome> result = runFromWindow(w);
  QVERIFY(result.has_value());
  QCOMPARE(static_cast<int>(*result), outcome);
  QCOMPARE(dialogs.messages, messages);
  QCOMPARE(child<QLineEdit>(&w, "counter")->text(), counterAfter);
  QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("output.txt"))));
  // Only the files the test wrote (and the folder) are there: no table, no
  // temporary file left behind.
  QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
  // Whatever happened, the window is ready for the next run.
  QVERIFY(child<QPushButton>(&w, "Run_Main")->isEnabled());
  QVERIFY(!child<QPushButton>(&w, "Stop_run")->isEnabled());
  QVERIFY(child<QLineEdit>(&w, "fc_field")->isEnabled());
}

void WindowTest::dialogsAskForFoldersOnGuiThread() {
  QTemporaryDir data;
  QTemporaryDir out;
  writeFile(data.filePath(QStringLiteral("allsites_temp.txt")), kTabTemp);
  writeFile(data.filePath(QStringLiteral("allsites_prec.txt")), kTabPrec);

  ScriptedDialogs dialogs;
  dialogs.folders = {data.path(), out.path()};
  Window1 w(dialogs);
  w.show();
  auto* counter = child<QLineEdit>(&w, "counter");
  QStringList counterDuringDialogs;
  std::string tableDuringDialog = "unset";
  dialogs.duringFolderDialog = [&](const QString& prompt) {
    counterDuringDialogs << counter->text();
    if (prompt == QStringLiteral("Folder to save output data")) {
      // The run waits for the answer: it has written nothing yet, however
      // long the user takes.
      QTest::qWait(150);
      tableDuringDialog = readFile(out.filePath(QStringLiteral("output.txt")));
      counterDuringDialogs << counter->text();
    }
  };

  QCOMPARE(runFromWindow(w), std::optional<RunOutcome>(RunOutcome::Completed));
  QCOMPARE(dialogs.prompts,
           (QStringList{QStringLiteral("Folder containing data files"), QStringLiteral("Folder to save output data")}));
  QCOMPARE(dialogs.buttons, (QStringList{QStringLiteral("Select folder"), QStringLiteral("Select folder")}));
  QVERIFY(dialogs.allOnGuiThread);
  QCOMPARE(counterDuringDialogs,
           (QStringList{QString(), QStringLiteral("File names loaded"), QStringLiteral("File names loaded")}));
  QCOMPARE(tableDuringDialog, std::string());
  QCOMPARE(counter->text(), QStringLiteral("6"));
  QCOMPARE(tableRows(readFile(out.filePath(QStringLiteral("output.txt")))).size(), std::size_t{7});
}

// An error in the middle of a run (here from the output folder dialog) ends
// the run with a message; no file is left open or half written, and the
// window is ready for the next run.
void WindowTest::failingDialogEndsRunCleanly() {
  QTemporaryDir data;
  writeFile(data.filePath(QStringLiteral("allsites_temp.txt")), kTabTemp);
  writeFile(data.filePath(QStringLiteral("allsites_prec.txt")), kTabPrec);
  ScriptedDialogs dialogs;
  dialogs.folders = {data.path(), data.path()};
  dialogs.duringFolderDialog = [](const QString& prompt) {
    if (prompt == QStringLiteral("Folder to save output data")) throw std::runtime_error("no folder today");
  };
  Window1 w(dialogs);
  w.show();
  QCOMPARE(runFromWindow(w), std::optional<RunOutcome>(RunOutcome::OutputFailed));
  QCOMPARE(dialogs.messages, QStringList{QStringLiteral("The run stopped because of an error: no folder today")});
  QCOMPARE(QDir(data.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
  QVERIFY(child<QPushButton>(&w, "Run_Main")->isEnabled());
  QVERIFY(!child<QPushButton>(&w, "Stop_run")->isEnabled());

  // The next run works.
  dialogs.duringFolderDialog = nullptr;
  dialogs.folders = {data.path(), data.path()};
  QCOMPARE(runFromWindow(w), std::optional<RunOutcome>(RunOutcome::Completed));
  QCOMPARE(tableRows(readFile(data.filePath(QStringLiteral("output.txt")))).size(), std::size_t{7});
}

VADOSET_UI_TEST_MAIN(WindowTest)
#include "window_test.moc"
