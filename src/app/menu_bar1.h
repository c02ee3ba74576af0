#pragma once

#include <QMenuBar>

class QAction;
class QMenu;

namespace vadoset {

/// The menu bar: File (Close, About Vadoset, Quit), Edit (Undo, Cut, Copy,
/// Paste, Clear) and View (Results). The items are named as the program
/// names them, so that findChild<QAction*>("About") finds the About item.
/// The Edit items act on the focused text field and are enabled by what it
/// allows.
class MenuBar1 : public QMenuBar {
  Q_OBJECT

 public:
  explicit MenuBar1(QWidget* parent = nullptr);

  QMenu* FileMenu = nullptr;
  QAction* FileClose = nullptr;
  QAction* About = nullptr;
  QAction* FileQuit = nullptr;
  QMenu* EditMenu = nullptr;
  QAction* EditUndo = nullptr;
  QAction* UntitledMenu0 = nullptr;
  QAction* EditCut = nullptr;
  QAction* EditCopy = nullptr;
  QAction* EditPaste = nullptr;
  QAction* EditClear = nullptr;
  QMenu* ViewMenu = nullptr;
  QAction* ViewResults = nullptr;  // the results window, Ctrl+R

  /// Enables the Edit items by what the focused text field allows now.
  void enableEditItems();

 private:
  QAction* item(QMenu* menu, const char* name, const char* text, const QKeySequence& shortcut = {});
  void edit(void (*command)(QWidget* focused));
};

}  // namespace vadoset
