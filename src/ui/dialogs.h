#pragma once

#include <QString>
#include <optional>

class QFileDialog;
class QWidget;

namespace vadoset {

/// The modal dialogs that a run and the application need. The window and
/// the application object use them through this interface so that tests can
/// answer them from a script.
class Dialogs {
 public:
  virtual ~Dialogs() = default;

  /// A modal folder chooser over `parent`; the chosen folder's path, or
  /// nothing when the user cancels.
  virtual std::optional<QString> selectFolder(QWidget* parent, const QString& prompt, const QString& actionButton) = 0;

  /// A modal message box over `parent` with the system's OK button; returns
  /// when the user has dismissed it. A carriage return starts a new line.
  virtual void showMessage(QWidget* parent, const QString& text) = 0;
};

/// Makes `dialog` a folder chooser (Qt's own dialog, not the platform's)
/// that lists the files of each folder too, greyed out: they show the user
/// that this is the right folder, and only a folder can be chosen.
void makeFolderChooser(QFileDialog& dialog);

/// Qt's folder dialog (made by makeFolderChooser) and message box.
class QtDialogs final : public Dialogs {
 public:
  std::optional<QString> selectFolder(QWidget* parent, const QString& prompt, const QString& actionButton) override;
  void showMessage(QWidget* parent, const QString& text) override;

 private:
  QString lastFolder_;  // where the next folder dialog opens
};

}  // namespace vadoset
