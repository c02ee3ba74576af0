#pragma once

#include <QApplication>
#include <functional>
#include <memory>

namespace vadoset {

class Dialogs;
class MenuBar1;
class Window1;

/// The application object. Besides starting the program it is the top of
/// the event loop: an error that no handler caught is shown in a message
/// box there, and the program goes on.
class App : public QApplication {
  Q_OBJECT

 public:
  /// Initialises the framework and declares the program's name, version and
  /// desktop entry (which registers its text file type).
  App(int& argc, char** argv);
  ~App() override;

  /// Where uncaught errors go; a message box over the active window unless
  /// replaced. The text separates the handlers it passed with CR.
  void setErrorReporter(std::function<void(const QString&)> reporter) { reporter_ = std::move(reporter); }

  /// Creates the main window with its menu bar and About item, and shows
  /// it. `dialogs` must outlive the window.
  std::unique_ptr<Window1> openMainWindow(Dialogs& dialogs);

  bool notify(QObject* receiver, QEvent* event) override;

 private:
  void report(const QString& text);

  std::unique_ptr<Dialogs> ownDialogs_;
  std::function<void(const QString&)> reporter_;
  bool reporting_ = false;
};

}  // namespace vadoset
