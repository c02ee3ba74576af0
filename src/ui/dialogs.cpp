#include "ui/dialogs.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>

namespace vadoset {

std::optional<QString> QtDialogs::selectFolder(QWidget* parent, const QString& prompt, const QString& actionButton) {
  QFileDialog dialog(parent, prompt, lastFolder_);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly, true);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setLabelText(QFileDialog::Accept, actionButton);
  dialog.setWindowModality(Qt::ApplicationModal);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  lastFolder_ = chosen.front();
  return chosen.front();
}

void QtDialogs::showMessage(QWidget* parent, const QString& text) {
  // Messages that carry the path of an error separate its parts with CR.
  QString shown = text;
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), shown, QMessageBox::Ok, parent);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

}  // namespace vadoset
