// The application object, the menu bar and the About window with its link.

#include <QAction>
#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>

#include "app/app.h"
#include "app/aqua_about_box.h"
#include "app/menu_bar1.h"
#include "app/static_url.h"
#include "ui/error.h"
#include "ui/window1.h"
#include "ui_test_support.h"

using namespace vadoset;
using namespace vadoset::uitest;

namespace {

App* app() {
  return static_cast<App*>(QCoreApplication::instance());
}

// An object whose handler fails, as an About handler may.
class Faulty : public QObject {
 public:
  int handled = 0;
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) {
      ++handled;
      labelled("Faulty.Inner", [] { throw Error("Picture missing"); });
    }
    return QObject::event(e);
  }
};

// Makes w the active window and waits until the application knows it.
bool activate(QWidget* w) {
  w->activateWindow();
  return QTest::qWaitFor([w] { return QApplication::activeWindow() == w; }, 5000);
}

bool hasPixel(const QImage& image, const QColor& c) {
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixelColor(x, y).rgb() == c.rgb()) return true;
  return false;
}

}  // namespace

class AboutTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void menuBar();
  void aboutWindow();
  void oneInstanceAndCloseOnlyIt();
  void closeItemFollowsTheFrontWindow();
  void handlersLabelErrors_data();
  void handlersLabelErrors();
  void eventLoopShowsErrorsAndGoesOn();
  void linkColours();
  void linkOpensOnlyStrictlyInside_data();
  void linkOpensOnlyStrictlyInside();

 private:
  ScriptedDialogs dialogs_;
  std::unique_ptr<Window1> window_;
  MenuBar1* bar_ = nullptr;
  QStringList reported_;
};

void AboutTest::init() {
  reported_.clear();
  app()->setErrorReporter([this](const QString& text) { reported_ << text; });
  window_ = app()->openMainWindow(dialogs_);
  bar_ = qobject_cast<MenuBar1*>(window_->menuBar());
  QVERIFY(bar_ != nullptr);
  QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
}

void AboutTest::cleanup() {
  window_.reset();
  QTRY_VERIFY(AquaAboutBox::instance() == nullptr);
}

void AboutTest::menuBar() {
  struct Item {
    const char* name;
    const char* text;
    QKeySequence shortcut;
  };
  const Item file[] = {{"FileClose", "Close", QKeySequence(Qt::CTRL | Qt::Key_W)},
                       {"About", "About Vadoset", {}},
                       {"FileQuit", "Quit", QKeySequence(Qt::CTRL | Qt::Key_Q)}};
  const Item edit[] = {{"EditUndo", "Undo", QKeySequence(Qt::CTRL | Qt::Key_Z)},
                       {"UntitledMenu0", "", {}},
                       {"EditCut", "Cut", QKeySequence(Qt::CTRL | Qt::Key_X)},
                       {"EditCopy", "Copy", QKeySequence(Qt::CTRL | Qt::Key_C)},
                       {"EditPaste", "Paste", QKeySequence(Qt::CTRL | Qt::Key_V)},
                       {"EditClear", "Clear", {}}};
  QCOMPARE(bar_->FileMenu->title(), QStringLiteral("&File"));
  QCOMPARE(bar_->EditMenu->title(), QStringLiteral("&Edit"));
  auto check = [](QMenu* menu, const Item* items, int n) {
    const QList<QAction*> actions = menu->actions();
    QCOMPARE(actions.size(), n);
    for (int i = 0; i < n; ++i) {
      QCOMPARE(actions[i]->objectName(), QLatin1String(items[i].name));
      QCOMPARE(actions[i]->text(), QString::fromUtf8(items[i].text));
      QCOMPARE(actions[i]->shortcut(), items[i].shortcut);
    }
  };
  check(bar_->FileMenu, file, 3);
  check(bar_->EditMenu, edit, 6);
  QVERIFY(bar_->UntitledMenu0->isSeparator());
  QCOMPARE(bar_->About->menuRole(), QAction::AboutRole);
  QCOMPARE(bar_->FileQuit->menuRole(), QAction::QuitRole);

  // The Edit items act on the focused field.
  auto* field = child<QLineEdit>(window_.get(), "fc_field");
  QVERIFY(activate(window_.get()));
  field->setFocus();
  QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(field));
  field->selectAll();
  bar_->enableEditItems();
  QVERIFY(bar_->EditCopy->isEnabled());
  QVERIFY(bar_->EditClear->isEnabled());
  bar_->EditClear->trigger();
  QCOMPARE(field->text(), QString());
  bar_->enableEditItems();
  QVERIFY(bar_->EditUndo->isEnabled());
  bar_->EditUndo->trigger();
  QCOMPARE(field->text(), QStringLiteral("100"));
  // The counter can be copied from but not changed.
  auto* counter = child<QLineEdit>(window_.get(), "counter");
  counter->setFocus();
  QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(counter));
  bar_->enableEditItems();
  QVERIFY(!bar_->EditPaste->isEnabled());
  QVERIFY(!bar_->EditCut->isEnabled());
}

void AboutTest::aboutWindow() {
  bar_->About->trigger();
  AquaAboutBox* box = AquaAboutBox::instance();
  QVERIFY(box != nullptr);
  QVERIFY(QTest::qWaitForWindowExposed(box));
  QVERIFY(reported_.isEmpty());
  QVERIFY(box->isWindow());
  QCOMPARE(box->size(), QSize(284, 340));
  QCOMPARE(box->minimumSize(), box->maximumSize());
  QCOMPARE(box->windowTitle(), QString());
  const Qt::WindowFlags f = box->windowFlags();
  QVERIFY(f & Qt::WindowCloseButtonHint);
  QVERIFY(!(f & Qt::WindowMinimizeButtonHint));
  QVERIFY(!(f & Qt::WindowMaximizeButtonHint));

  struct Expect {
    const char* name;
    QRect geometry;
    int fontPixels;
  };
  const Expect controls[] = {{"icon", {110, 8, 64, 64}, 0},         {"name", {24, 78, 236, 19}, 14},
                             {"version", {24, 101, 236, 12}, 10},   {"description", {24, 122, 236, 54}, 11},
                             {"credits", {24, 187, 236, 59}, 10},   {"toolLogo", {37, 253, 210, 30}, 0},
                             {"copyright", {24, 295, 236, 12}, 10}, {"homePage", {24, 307, 236, 13}, 10}};
  QStringList order;
  for (QObject* o : box->children())
    if (o->isWidgetType()) order << o->objectName();
  QStringList expectedOrder;
  for (const Expect& e : controls) {
    expectedOrder << QLatin1String(e.name);
    auto* c = child<QWidget>(box, e.name);
    QVERIFY2(c != nullptr, e.name);
    QCOMPARE(c->geometry(), e.geometry);
    if (e.fontPixels > 0) QCOMPARE(c->font().pixelSize(), e.fontPixels);
  }
  QCOMPARE(order, expectedOrder);

  QCOMPARE(child<QLabel>(box, "name")->text(), QStringLiteral("Vadoset"));
  QVERIFY(child<QLabel>(box, "name")->font().bold());
  QCOMPARE(child<QLabel>(box, "version")->text(), QCoreApplication::applicationVersion());
  QVERIFY(!QCoreApplication::applicationVersion().isEmpty());
  QCOMPARE(child<QLabel>(box, "description")->text(),
           QStringLiteral("A program to compute the annual climatic water balance using a modified Thornthwaite "
                          "method by Willmott et al."));
  auto* credits = child<QPlainTextEdit>(box, "credits");
  QVERIFY(credits->isReadOnly());
  QVERIFY(!credits->toPlainText().isEmpty());
  QCOMPARE(credits->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  QVERIFY(!child<QLabel>(box, "copyright")->text().isEmpty());
  auto* link = child<StaticURL>(box, "homePage");
  QVERIFY(!link->text().isEmpty());
  QVERIFY(link->url().startsWith(QStringLiteral("https://")));
  QVERIFY(link->font().underline());
  QCOMPARE(child<QLabel>(box, "icon")->pixmap().size(), QSize(64, 64));
  QCOMPARE(child<QLabel>(box, "toolLogo")->pixmap().size(), QSize(210, 30));
}

void AboutTest::oneInstanceAndCloseOnlyIt() {
  bar_->About->trigger();
  AquaAboutBox* box = AquaAboutBox::instance();
  QVERIFY(activate(box));
  bar_->About->trigger();
  QCOMPARE(AquaAboutBox::instance(), box);
  QVERIFY(activate(box));
  int boxes = 0;
  for (QWidget* t : QApplication::topLevelWidgets())
    if (qobject_cast<AquaAboutBox*>(t) && t->isVisible()) ++boxes;
  QCOMPARE(boxes, 1);

  // Ctrl+W (Cmd+W on a Mac) in the About window closes it and nothing else.
  QTest::keyClick(box, Qt::Key_W, Qt::ControlModifier);
  QTRY_VERIFY(AquaAboutBox::instance() == nullptr);
  QVERIFY(window_->isVisible());
  QVERIFY(reported_.isEmpty());

  // The next About creates it afresh.
  bar_->About->trigger();
  QVERIFY(AquaAboutBox::instance() != nullptr);
  QVERIFY(AquaAboutBox::instance()->isVisible());
}

void AboutTest::closeItemFollowsTheFrontWindow() {
  QVERIFY(activate(window_.get()));
  QVERIFY(!bar_->FileClose->isEnabled());
  bar_->About->trigger();
  AquaAboutBox* box = AquaAboutBox::instance();
  QVERIFY(activate(box));
  QVERIFY(bar_->FileClose->isEnabled());

  // Back to the main window: Close does nothing there.
  QVERIFY(activate(window_.get()));
  QVERIFY(!bar_->FileClose->isEnabled());
  QTest::keyClick(window_.get(), Qt::Key_W, Qt::ControlModifier);
  QTest::qWait(50);
  QVERIFY(window_->isVisible());
  QCOMPARE(AquaAboutBox::instance(), box);

  // Chosen from the menu with the About window in front, Close closes it.
  QVERIFY(activate(box));
  bar_->FileClose->trigger();
  QTRY_VERIFY(AquaAboutBox::instance() == nullptr);
  QVERIFY(window_->isVisible());
  QTRY_VERIFY(!bar_->FileClose->isEnabled());
}

void AboutTest::handlersLabelErrors_data() {
  QTest::addColumn<QString>("field");
  QTest::addColumn<QString>("message");
  QTest::newRow("name") << QStringLiteral("name")
                        << QStringLiteral(
                               "The About window has no text for its name.\rAquaAboutBox.Name.Open"
                               "\rAquaAboutBox.Open");
  QTest::newRow("version") << QStringLiteral("version")
                           << QStringLiteral(
                                  "The About window has no text for its version."
                                  "\rAquaAboutBox.Version.Open\rAquaAboutBox.Open");
  QTest::newRow("description") << QStringLiteral("description")
                               << QStringLiteral(
                                      "The About window has no text for its description."
                                      "\rAquaAboutBox.Description.Open\rAquaAboutBox.Open");
  QTest::newRow("credits") << QStringLiteral("credits")
                           << QStringLiteral(
                                  "The About window has no text for its credits."
                                  "\rAquaAboutBox.Credits.Open\rAquaAboutBox.Open");
  QTest::newRow("toolLogo") << QStringLiteral("toolLogo")
                            << QStringLiteral(
                                   "The tool logo picture :/pictures/none.png could not be loaded."
                                   "\rAquaAboutBox.ToolLogo.Open\rAquaAboutBox.Open");
  QTest::newRow("icon") << QStringLiteral("icon")
                        << QStringLiteral(
                               "The application picture :/pictures/none.png could not be loaded."
                               "\rAquaAboutBox.Open");
  QTest::newRow("copyright") << QStringLiteral("copyright")
                             << QStringLiteral(
                                    "The About window has no text for its copyright."
                                    "\rAquaAboutBox.Copyright.Open\rAquaAboutBox.Open");
  QTest::newRow("homePage") << QStringLiteral("homePage")
                            << QStringLiteral(
                                   "The home page address no address is not a web address."
                                   "\rAquaAboutBox.HomePage.Open\rAquaAboutBox.Open");
}

// A handler that fails adds its label and passes the error on; the event
// loop shows the message and the program goes on.
void AboutTest::handlersLabelErrors() {
  QFETCH(QString, field);
  QFETCH(QString, message);
  AboutContent c = AboutContent::standard();
  if (field == QStringLiteral("name")) c.name.clear();
  if (field == QStringLiteral("version")) c.version.clear();
  if (field == QStringLiteral("description")) c.description.clear();
  if (field == QStringLiteral("credits")) c.credits.clear();
  if (field == QStringLiteral("toolLogo")) c.toolLogoPicture = QStringLiteral(":/pictures/none.png");
  if (field == QStringLiteral("icon")) c.iconPicture = QStringLiteral(":/pictures/none.png");
  if (field == QStringLiteral("copyright")) c.copyright.clear();
  if (field == QStringLiteral("homePage")) c.homePageUrl = QStringLiteral("no address");

  AquaAboutBox::showAbout(window_.get(), bar_->FileClose, c);
  QCOMPARE(reported_, QStringList{message});
  QVERIFY(window_->isVisible());
  // The program still works: the window still runs its controls.
  child<QLineEdit>(window_.get(), "fc_field")->setText(QStringLiteral("90"));
  QCOMPARE(child<QLineEdit>(window_.get(), "fc_field")->text(), QStringLiteral("90"));
}

void AboutTest::eventLoopShowsErrorsAndGoesOn() {
  Faulty faulty;
  QCoreApplication::postEvent(&faulty, new QEvent(QEvent::User));
  QCoreApplication::postEvent(&faulty, new QEvent(QEvent::User));
  QTRY_COMPARE(faulty.handled, 2);
  QCOMPARE(reported_, (QStringList{QStringLiteral("Picture missing\rFaulty.Inner"),
                                   QStringLiteral("Picture missing\rFaulty.Inner")}));

  // A standard exception gets labelled as well, and labels nest in order.
  try {
    labelled("Outer", [] { labelled("Inner", [] { throw std::out_of_range("index"); }); });
    QFAIL("no error");
  } catch (const Error& e) {
    QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("index\rInner\rOuter"));
  }
}

void AboutTest::linkColours() {
  bar_->About->trigger();
  auto* link = child<StaticURL>(AquaAboutBox::instance(), "homePage");
  QVERIFY(QTest::qWaitForWindowExposed(link->window()));
  int opened = 0;
  link->setOpener([&](const QUrl&) { return ++opened, true; });

  QCOMPARE(link->textColor(), QColor(0, 0, 255));
  QVERIFY(hasPixel(link->grab().toImage(), QColor(0, 0, 255)));

  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), link->mapToGlobal(QPointF(5, 5)));
  QCoreApplication::sendEvent(link, &enter);
  QCOMPARE(link->textColor(), QColor(255, 0, 255));
  QImage hover = link->grab().toImage();
  QVERIFY(hasPixel(hover, QColor(255, 0, 255)));
  QVERIFY(!hasPixel(hover, QColor(0, 0, 255)));

  QTest::mousePress(link, Qt::LeftButton, {}, QPoint(5, 5));
  QCOMPARE(link->textColor(), QColor(255, 0, 0));
  QVERIFY(hasPixel(link->grab().toImage(), QColor(255, 0, 0)));

  // Pressed on the link, released outside it: nothing opens, blue again.
  QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(link->width() + 20, 5));
  QCOMPARE(opened, 0);
  QCOMPARE(link->textColor(), QColor(0, 0, 255));

  QCoreApplication::sendEvent(link, &enter);
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(link, &leave);
  QCOMPARE(link->textColor(), QColor(0, 0, 255));
}

void AboutTest::linkOpensOnlyStrictlyInside_data() {
  QTest::addColumn<int>("x");
  QTest::addColumn<int>("y");
  QTest::addColumn<bool>("opens");
  // The label is 236 x 13.
  QTest::newRow("middle") << 118 << 6 << true;
  QTest::newRow("first pixel inside") << 1 << 1 << true;
  QTest::newRow("last pixel inside") << 235 << 12 << true;
  QTest::newRow("left edge") << 0 << 6 << false;
  QTest::newRow("top edge") << 118 << 0 << false;
  QTest::newRow("right edge") << 236 << 6 << false;
  QTest::newRow("bottom edge") << 118 << 13 << false;
  QTest::newRow("outside") << 300 << 40 << false;
}

void AboutTest::linkOpensOnlyStrictlyInside() {
  QFETCH(int, x);
  QFETCH(int, y);
  QFETCH(bool, opens);
  bar_->About->trigger();
  auto* link = child<StaticURL>(AquaAboutBox::instance(), "homePage");
  QVERIFY(QTest::qWaitForWindowExposed(link->window()));
  QCOMPARE(link->size(), QSize(236, 13));
  QList<QUrl> opened;
  link->setOpener([&](const QUrl& u) {
    opened << u;
    return true;
  });
  QTest::mousePress(link, Qt::LeftButton, {}, QPoint(118, 6));
  QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(x, y));
  QCOMPARE(opened.size(), opens ? 1 : 0);
  if (opens) QCOMPARE(opened.front(), QUrl(link->url()));
  QCOMPARE(link->textColor(), QColor(0, 0, 255));
}

VADOSET_UI_TEST_MAIN(AboutTest)
#include "about_test.moc"
