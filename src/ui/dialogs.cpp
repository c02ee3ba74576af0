#include "ui/dialogs.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QIdentityProxyModel>
#include <QMessageBox>

namespace vadoset {

namespace {

// Files are shown, but can be neither selected nor opened.
class FilesGreyedOut final : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;
  Qt::ItemFlags flags(const QModelIndex& index) const override {
    Qt::ItemFlags f = QIdentityProxyModel::flags(index);
    const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (files != nullptr && index.isValid() && !files->isDir(mapToSource(index)))
      f &= ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return f;
  }
};

}  // namespace

void makeFolderChooser(QFileDialog& dialog) {
  // Only Qt's own dialog takes a proxy model; in Directory mode it refuses
  // to accept a name that is not a folder.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly, false);
  dialog.setProxyModel(new FilesGreyedOut(&dialog));
}

std::optional<QString> QtDialogs::selectFolder(QWidget* parent, const QString& prompt, const QString& actionButton) {
  QFileDialog dialog(parent, prompt, lastFolder_);
  makeFolderChooser(dialog);
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
