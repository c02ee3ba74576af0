#include "app/app.h"

#include <QIcon>
#include <exception>

#include "app/aqua_about_box.h"
#include "app/menu_bar1.h"
#include "platform/text.h"
#include "ui/dialogs.h"
#include "ui/window1.h"

#ifndef VADOSET_VERSION
#define VADOSET_VERSION "unknown"
#endif

namespace vadoset {

App::App(int& argc, char** argv) : QApplication(argc, argv), ownDialogs_(std::make_unique<QtDialogs>()) {
  setApplicationName(QStringLiteral("vadoset"));
  setApplicationDisplayName(QStringLiteral("Vadoset"));
  setApplicationVersion(QStringLiteral(VADOSET_VERSION));
  // The desktop entry declares the text files the program works with.
  setDesktopFileName(QStringLiteral("vadoset"));
  setWindowIcon(QIcon(QStringLiteral(":/pictures/vadoset_icon.png")));
  reporter_ = [this](const QString& text) { ownDialogs_->showMessage(activeWindow(), text); };
}

App::~App() = default;

std::unique_ptr<Window1> App::openMainWindow(Dialogs& dialogs) {
  auto window = std::make_unique<Window1>(dialogs);
  auto* bar = new MenuBar1(window.get());
  window->setMenuBar(bar);
  Window1* w = window.get();
  connect(bar->About, &QAction::triggered, w, &Window1::About_Action);
  connect(bar->ViewResults, &QAction::triggered, w, &Window1::showResults);
  w->setAboutAction([w, bar] { AquaAboutBox::showAbout(w, bar->FileClose); });
  window->show();
  return window;
}

bool App::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    report(QString::fromUtf8(e.what()));
  } catch (...) {
    report(QStringLiteral("An unexpected error occurred."));
  }
  return false;
}

void App::report(const QString& text) {
  // An error while its message box is up goes to the log, not to a second box.
  if (reporting_) {
    qWarning("%s", escapeControl(text.toStdString()).c_str());
    return;
  }
  reporting_ = true;
  try {
    if (reporter_) reporter_(text);
  } catch (...) {
  }
  reporting_ = false;
}

}  // namespace vadoset
