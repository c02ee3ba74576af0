#include "app/static_url.h"

#include <QDesktopServices>
#include <QMouseEvent>

namespace vadoset {

StaticURL::StaticURL(QWidget* parent)
    : QLabel(parent), opener_([](const QUrl& u) { return QDesktopServices::openUrl(u); }) {
  QFont f = font();
  f.setUnderline(true);
  setFont(f);
  setCursor(Qt::PointingHandCursor);
  setTextColor(kRest);
}

void StaticURL::setTextColor(const QColor& color) {
  color_ = color;
  QPalette p = palette();
  p.setColor(QPalette::WindowText, color);
  p.setColor(QPalette::Text, color);
  setPalette(p);
  update();
}

void StaticURL::enterEvent(QEnterEvent* event) {
  setTextColor(kHover);
  QLabel::enterEvent(event);
}

void StaticURL::leaveEvent(QEvent* event) {
  setTextColor(kRest);
  QLabel::leaveEvent(event);
}

void StaticURL::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QLabel::mousePressEvent(event);
    return;
  }
  // Accepting the press makes this label receive the release, wherever it is.
  event->accept();
  setTextColor(kPressed);
}

void StaticURL::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QLabel::mouseReleaseEvent(event);
    return;
  }
  event->accept();
  const QPointF at = event->position();
  const bool inside = at.x() > 0 && at.x() < width() && at.y() > 0 && at.y() < height();
  setTextColor(kRest);
  if (inside && !url_.isEmpty() && opener_) opener_(QUrl(url_, QUrl::StrictMode));
}

}  // namespace vadoset
