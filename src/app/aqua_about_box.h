#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class QAction;
class QLabel;
class QPlainTextEdit;

namespace vadoset {

class StaticURL;

/// What the About window shows. Every text is required; the pictures are
/// resource paths.
struct AboutContent {
  QString name;
  QString version;
  QString description;
  QString credits;
  QString copyright;
  QString homePageCaption;
  QString homePageUrl;
  QString iconPicture;      // 64 x 64, the application's own picture
  QString toolLogoPicture;  // 210 x 30, the tool the program was made with

  /// The program's own texts and pictures; the version comes from the
  /// application object.
  static AboutContent standard();
};

/// The About window: at most one at a time, not modal, no minimise or
/// maximise button. While it is the active window it enables the Close item
/// and closes itself on it (Ctrl+W); the main window stays open.
///
/// Each of its handlers adds a carriage return and its label (such as
/// "AquaAboutBox.Name.Open") to the message of an error that passes through
/// it and throws the error on; the application shows it.
class AquaAboutBox : public QWidget {
  Q_OBJECT

 public:
  /// Shows the About window over `owner`, creating it when none is open, and
  /// brings it to the front. `fileClose` is the menu item that closes it.
  static AquaAboutBox* showAbout(QWidget* owner, QAction* fileClose,
                                 const AboutContent& content = AboutContent::standard());

  /// The open About window, or nullptr.
  static AquaAboutBox* instance() { return instance_; }

 protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  AquaAboutBox(QWidget* owner, QAction* fileClose, const AboutContent& content);
  void open();
  void fillText(QLabel* label, const QString& text, const char* what);
  void fillPicture(QLabel* area, const QString& resource, const char* what);
  void enableMenuItems(bool active);
  void fileClose();

  static QPointer<AquaAboutBox> instance_;

  QPointer<QAction> fileClose_;
  AboutContent content_;
  bool opened_ = false;
  QLabel* icon_ = nullptr;
  QLabel* name_ = nullptr;
  QLabel* version_ = nullptr;
  QLabel* description_ = nullptr;
  QPlainTextEdit* credits_ = nullptr;
  QLabel* toolLogo_ = nullptr;
  QLabel* copyright_ = nullptr;
  StaticURL* homePage_ = nullptr;
};

}  // namespace vadoset
