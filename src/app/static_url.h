#pragma once

#include <QColor>
#include <QLabel>
#include <QString>
#include <QUrl>
#include <functional>

namespace vadoset {

/// A text label that works as a web link. Its caption is underlined and
/// coloured by the mouse: blue at rest, magenta while the pointer is over
/// it, red while the button is held down on it. Releasing the button
/// strictly inside the label (its outermost pixel rows and columns count as
/// outside) opens URL; after any release the caption is blue again.
class StaticURL : public QLabel {
  Q_OBJECT
  Q_PROPERTY(QString URL READ url WRITE setUrl)

 public:
  /// Opens a web address; gives false when it could not.
  using Opener = std::function<bool(const QUrl&)>;

  static inline const QColor kRest{0, 0, 255};
  static inline const QColor kHover{255, 0, 255};
  static inline const QColor kPressed{255, 0, 0};

  explicit StaticURL(QWidget* parent = nullptr);

  QString url() const { return url_; }
  void setUrl(const QString& url) { url_ = url; }

  /// Replaces the opener, QDesktopServices::openUrl by default.
  void setOpener(Opener opener) { opener_ = std::move(opener); }

  /// The caption's colour now.
  QColor textColor() const { return color_; }

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void setTextColor(const QColor& color);

  QString url_;
  Opener opener_;
  QColor color_;
};

}  // namespace vadoset
