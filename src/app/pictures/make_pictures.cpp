// Draws the About window's two pictures: the program's icon (a rain drop
// over soil layers that hold a water table) and the badge of the tools the
// program is made with. Run at build time; the output folder is argv[1].

#include <QDir>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

namespace {

QImage drawIcon() {
  QImage img(64, 64, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);

  QPainterPath frame;
  frame.addRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
  p.setClipPath(frame);

  QLinearGradient sky(0, 2, 0, 38);
  sky.setColorAt(0, QColor(120, 190, 240));
  sky.setColorAt(1, QColor(200, 230, 250));
  p.fillRect(QRectF(0, 0, 64, 38), sky);

  // Sun in the corner.
  QRadialGradient sun(QPointF(50, 13), 9);
  sun.setColorAt(0, QColor(255, 236, 140));
  sun.setColorAt(1, QColor(250, 190, 60));
  p.setPen(Qt::NoPen);
  p.setBrush(sun);
  p.drawEllipse(QPointF(50, 13), 7, 7);

  // Three soil layers, the lowest one wet.
  p.fillRect(QRectF(0, 38, 64, 9), QColor(122, 160, 70));
  p.fillRect(QRectF(0, 47, 64, 8), QColor(140, 100, 62));
  p.fillRect(QRectF(0, 55, 64, 9), QColor(60, 110, 170));
  p.setPen(QPen(QColor(255, 255, 255, 120), 1));
  for (int x = 6; x < 64; x += 12) p.drawLine(QPointF(x, 59), QPointF(x + 6, 59));

  // The rain drop.
  QPainterPath drop;
  drop.moveTo(26, 8);
  drop.cubicTo(26, 8, 12, 26, 12, 34);
  drop.cubicTo(12, 42, 18.5, 47, 26, 47);
  drop.cubicTo(33.5, 47, 40, 42, 40, 34);
  drop.cubicTo(40, 26, 26, 8, 26, 8);
  QLinearGradient water(12, 8, 40, 47);
  water.setColorAt(0, QColor(90, 170, 255));
  water.setColorAt(1, QColor(20, 80, 190));
  p.setPen(QPen(QColor(10, 50, 130), 1.5));
  p.setBrush(water);
  p.drawPath(drop);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 150));
  p.drawEllipse(QRectF(18, 27, 5, 9));

  p.setClipping(false);
  p.setPen(QPen(QColor(40, 60, 90), 1.5));
  p.setBrush(Qt::NoBrush);
  p.drawPath(frame);
  return img;
}

QImage drawToolLogo() {
  QImage img(210, 30, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);

  QLinearGradient face(0, 0, 0, 30);
  face.setColorAt(0, QColor(70, 80, 96));
  face.setColorAt(1, QColor(36, 42, 52));
  p.setPen(QPen(QColor(20, 24, 30), 1));
  p.setBrush(face);
  p.drawRoundedRect(QRectF(0.5, 0.5, 209, 29), 7, 7);

  // A pair of braces with a gear tooth between them: source code made into
  // a program.
  p.setPen(QPen(QColor(140, 210, 120), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  QPainterPath braces;
  braces.moveTo(15, 6);
  braces.cubicTo(10, 6, 12, 13, 8, 15);
  braces.cubicTo(12, 17, 10, 24, 15, 24);
  braces.moveTo(29, 6);
  braces.cubicTo(34, 6, 32, 13, 36, 15);
  braces.cubicTo(32, 17, 34, 24, 29, 24);
  p.drawPath(braces);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(140, 210, 120));
  p.drawEllipse(QPointF(22, 15), 3.2, 3.2);

  // The largest size at which the caption fits, whatever font is at hand.
  const QString caption = QStringLiteral("Made with C++ and Qt");
  const QRectF space(44, 0, 158, 30);
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setBold(true);
  for (int px = 14; px >= 8; --px) {
    f.setPixelSize(px);
    if (QFontMetricsF(f).horizontalAdvance(caption) <= space.width()) break;
  }
  p.setFont(f);
  p.setPen(QColor(240, 244, 250));
  p.drawText(space, Qt::AlignVCenter | Qt::AlignLeft, caption);
  return img;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_pictures OUTPUT_FOLDER\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(folder);
  const bool ok = drawIcon().save(folder + QStringLiteral("/vadoset_icon.png")) &&
                  drawToolLogo().save(folder + QStringLiteral("/tool_logo.png"));
  if (!ok) {
    std::fprintf(stderr, "make_pictures: could not write the pictures to %s\n", argv[1]);
    return 1;
  }
  return 0;
}
