#include "app/aqua_about_box.h"

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QUrl>
#include <string>

#include "app/static_url.h"
#include "ui/error.h"

#ifndef VADOSET_HOME_PAGE
#define VADOSET_HOME_PAGE "https://vadoset.example.org/"
#endif

namespace vadoset {

QPointer<AquaAboutBox> AquaAboutBox::instance_;

AboutContent AboutContent::standard() {
  AboutContent c;
  c.name = QStringLiteral("Vadoset");
  c.version = QCoreApplication::applicationVersion();
  c.description = QStringLiteral(
      "A program to compute the annual climatic water balance using a modified Thornthwaite method by Willmott et al.");
  c.credits =
      QStringLiteral(
          "Vadoset %1.\n"
          "Potential evapotranspiration after Thornthwaite (1948); daily soil water and snowpack after Willmott, "
          "Rowe and Mintz (1985).\n"
          "This program is provided as is, without warranty of any kind. Check its results before you rely on them.\n"
          "Vadoset is free software under the GNU General Public License, version 3 or any later version "
          "(GPL-3.0-or-later). Its charts are drawn with Qt Charts, licensed under the GPL-3.0.")
          .arg(c.version);
  c.copyright = QStringLiteral("Copyright \u00a9 2026 the Vadoset developers");
  c.homePageCaption = QStringLiteral("Vadoset home page");
  c.homePageUrl = QStringLiteral(VADOSET_HOME_PAGE);
  c.iconPicture = QStringLiteral(":/pictures/vadoset_icon.png");
  c.toolLogoPicture = QStringLiteral(":/pictures/tool_logo.png");
  return c;
}

namespace {

QFont fontOfSize(int pixels, bool bold = false) {
  QFont f;
  f.setPixelSize(pixels);
  f.setBold(bold);
  return f;
}

QLabel* textLabel(QWidget* parent, const char* name, int left, int top, int width, int height, const QFont& font) {
  auto* l = new QLabel(parent);
  l->setObjectName(QLatin1String(name));
  l->setGeometry(left, top, width, height);
  l->setFont(font);
  l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  l->setWordWrap(true);
  return l;
}

QLabel* pictureArea(QWidget* parent, const char* name, int left, int top, int width, int height) {
  auto* l = new QLabel(parent);
  l->setObjectName(QLatin1String(name));
  l->setGeometry(left, top, width, height);
  l->setAlignment(Qt::AlignCenter);
  return l;
}

}  // namespace

AquaAboutBox::AquaAboutBox(QWidget* owner, QAction* fileClose, const AboutContent& content)
    : QWidget(owner, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      fileClose_(fileClose),
      content_(content) {
  setObjectName(QStringLiteral("AquaAboutBox"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QString());
  setFixedSize(284, 340);

  icon_ = pictureArea(this, "icon", 110, 8, 64, 64);
  name_ = textLabel(this, "name", 24, 78, 236, 19, fontOfSize(14, true));
  name_->setWordWrap(false);
  version_ = textLabel(this, "version", 24, 101, 236, 12, fontOfSize(10));
  description_ = textLabel(this, "description", 24, 122, 236, 54, fontOfSize(11));
  credits_ = new QPlainTextEdit(this);
  credits_->setObjectName(QStringLiteral("credits"));
  credits_->setGeometry(24, 187, 236, 59);
  credits_->setFont(fontOfSize(10));
  credits_->setReadOnly(true);
  credits_->setFrameShape(QFrame::StyledPanel);
  credits_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  credits_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  toolLogo_ = pictureArea(this, "toolLogo", 37, 253, 210, 30);
  copyright_ = textLabel(this, "copyright", 24, 295, 236, 12, fontOfSize(10));
  homePage_ = new StaticURL(this);
  homePage_->setObjectName(QStringLiteral("homePage"));
  homePage_->setGeometry(24, 307, 236, 13);
  QFont linkFont = fontOfSize(10);
  linkFont.setUnderline(true);
  homePage_->setFont(linkFont);
  homePage_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

  if (fileClose_) {
    // The item's shortcut works in this window too, and closes only it.
    addAction(fileClose_);
    connect(fileClose_, &QAction::triggered, this, &AquaAboutBox::fileClose);
  }
}

AquaAboutBox* AquaAboutBox::showAbout(QWidget* owner, QAction* fileClose, const AboutContent& content) {
  if (!instance_) {
    instance_ = new AquaAboutBox(owner, fileClose, content);
    instance_->show();
  }
  instance_->raise();
  instance_->activateWindow();
  return instance_;
}

void AquaAboutBox::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (opened_) return;
  opened_ = true;
  labelled("AquaAboutBox.Open", [this] { open(); });
}

void AquaAboutBox::fillText(QLabel* label, const QString& text, const char* what) {
  if (text.isEmpty()) throw Error(std::string("The About window has no text for its ") + what + ".");
  label->setText(text);
}

void AquaAboutBox::fillPicture(QLabel* area, const QString& resource, const char* what) {
  QPixmap picture(resource);
  if (picture.isNull())
    throw Error(std::string("The ") + what + " picture " + resource.toStdString() + " could not be loaded.");
  area->setPixmap(picture);
}

// The window's opening: its pictures, then each control fills itself. A
// control's handler labels an error with its own name before the window
// labels it with its own.
void AquaAboutBox::open() {
  fillPicture(icon_, content_.iconPicture, "application");
  labelled("AquaAboutBox.Name.Open", [this] { fillText(name_, content_.name, "name"); });
  labelled("AquaAboutBox.Version.Open", [this] { fillText(version_, content_.version, "version"); });
  labelled("AquaAboutBox.Description.Open", [this] { fillText(description_, content_.description, "description"); });
  labelled("AquaAboutBox.Credits.Open", [this] {
    if (content_.credits.isEmpty()) throw Error("The About window has no text for its credits.");
    credits_->setPlainText(content_.credits);
  });
  labelled("AquaAboutBox.ToolLogo.Open", [this] { fillPicture(toolLogo_, content_.toolLogoPicture, "tool logo"); });
  labelled("AquaAboutBox.Copyright.Open", [this] { fillText(copyright_, content_.copyright, "copyright"); });
  labelled("AquaAboutBox.HomePage.Open", [this] {
    fillText(homePage_, content_.homePageCaption, "home page");
    const QUrl url(content_.homePageUrl, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
      throw Error("The home page address " + content_.homePageUrl.toStdString() + " is not a web address.");
    homePage_->setUrl(content_.homePageUrl);
  });
}

bool AquaAboutBox::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) enableMenuItems(true);
  if (event->type() == QEvent::WindowDeactivate || event->type() == QEvent::Close) enableMenuItems(false);
  return QWidget::event(event);
}

// Close is enabled while this window is in front; the main window has no
// use for it.
void AquaAboutBox::enableMenuItems(bool active) {
  labelled("AquaAboutBox.EnableMenuItems", [this, active] {
    if (fileClose_) fileClose_->setEnabled(active);
  });
}

void AquaAboutBox::fileClose() {
  labelled("AquaAboutBox.FileClose", [this] {
    if (isActiveWindow()) close();
  });
}

}  // namespace vadoset
