#include "app/menu_bar1.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>

namespace vadoset {

MenuBar1::MenuBar1(QWidget* parent) : QMenuBar(parent) {
  setObjectName(QStringLiteral("MenuBar1"));

  FileMenu = addMenu(QStringLiteral("&File"));
  FileMenu->setObjectName(QStringLiteral("FileMenu"));
  // Qt::CTRL is the Command key on a Mac.
  FileClose = item(FileMenu, "FileClose", "Close", QKeySequence(Qt::CTRL | Qt::Key_W));
  FileClose->setEnabled(false);  // enabled by the window that handles it
  About = item(FileMenu, "About", "About Vadoset");
  About->setMenuRole(QAction::AboutRole);
  FileQuit = item(FileMenu, "FileQuit", "Quit", QKeySequence(Qt::CTRL | Qt::Key_Q));
  FileQuit->setMenuRole(QAction::QuitRole);
  // Quitting closes the windows, so that a run going in the main window
  // stops after its record in hand and keeps its rows.
  connect(FileQuit, &QAction::triggered, qApp, &QApplication::closeAllWindows, Qt::QueuedConnection);

  EditMenu = addMenu(QStringLiteral("&Edit"));
  EditMenu->setObjectName(QStringLiteral("EditMenu"));
  EditUndo = item(EditMenu, "EditUndo", "Undo", QKeySequence(Qt::CTRL | Qt::Key_Z));
  UntitledMenu0 = EditMenu->addSeparator();
  UntitledMenu0->setObjectName(QStringLiteral("UntitledMenu0"));
  EditCut = item(EditMenu, "EditCut", "Cut", QKeySequence(Qt::CTRL | Qt::Key_X));
  EditCopy = item(EditMenu, "EditCopy", "Copy", QKeySequence(Qt::CTRL | Qt::Key_C));
  EditPaste = item(EditMenu, "EditPaste", "Paste", QKeySequence(Qt::CTRL | Qt::Key_V));
  EditClear = item(EditMenu, "EditClear", "Clear");

  ViewMenu = addMenu(QStringLiteral("&View"));
  ViewMenu->setObjectName(QStringLiteral("ViewMenu"));
  ViewResults = item(ViewMenu, "ViewResults", "Results", QKeySequence(Qt::CTRL | Qt::Key_R));

  connect(EditMenu, &QMenu::aboutToShow, this, &MenuBar1::enableEditItems);
  connect(EditUndo, &QAction::triggered, this, [this] {
    edit([](QWidget* w) {
      if (auto* l = qobject_cast<QLineEdit*>(w)) l->undo();
    });
  });
  connect(EditCut, &QAction::triggered, this, [this] {
    edit([](QWidget* w) {
      if (auto* l = qobject_cast<QLineEdit*>(w)) l->cut();
    });
  });
  connect(EditCopy, &QAction::triggered, this, [this] {
    edit([](QWidget* w) {
      if (auto* l = qobject_cast<QLineEdit*>(w)) l->copy();
      if (auto* t = qobject_cast<QPlainTextEdit*>(w)) t->copy();
    });
  });
  connect(EditPaste, &QAction::triggered, this, [this] {
    edit([](QWidget* w) {
      if (auto* l = qobject_cast<QLineEdit*>(w)) l->paste();
    });
  });
  connect(EditClear, &QAction::triggered, this, [this] {
    edit([](QWidget* w) {
      if (auto* l = qobject_cast<QLineEdit*>(w)) l->del();
    });
  });
  enableEditItems();
}

QAction* MenuBar1::item(QMenu* menu, const char* name, const char* text, const QKeySequence& shortcut) {
  QAction* a = menu->addAction(QString::fromUtf8(text));
  a->setObjectName(QLatin1String(name));
  if (!shortcut.isEmpty()) a->setShortcut(shortcut);
  return a;
}

void MenuBar1::edit(void (*command)(QWidget* focused)) {
  if (QWidget* w = QApplication::focusWidget()) command(w);
}

void MenuBar1::enableEditItems() {
  QWidget* w = QApplication::focusWidget();
  auto* line = qobject_cast<QLineEdit*>(w);
  auto* text = qobject_cast<QPlainTextEdit*>(w);
  const bool editable = line != nullptr && !line->isReadOnly() && line->isEnabled();
  const bool selected =
      (line != nullptr && line->hasSelectedText()) || (text != nullptr && text->textCursor().hasSelection());
  EditUndo->setEnabled(editable && line->isUndoAvailable());
  EditCut->setEnabled(editable && selected);
  EditCopy->setEnabled(selected);
  EditPaste->setEnabled(editable && !QApplication::clipboard()->text().isEmpty());
  EditClear->setEnabled(editable && selected);
}

}  // namespace vadoset
