// Draws the desktop's artwork into PNG files: drawartwork <output folder>.
// The pictures are ours alone; rerun scripts/artwork.sh after changing them.
// drawartwork --icons <folder> draws the application icon into an icon theme's layout,
// <folder>/<size>x<size>/apps/olvaro-desktop.png, at the sizes menus and stores ask for.
#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QString>

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

const QColor kPanel(0x26, 0x38, 0x4c);
const QColor kPanelEdge(0x3c, 0x55, 0x70);
const QColor kChooser(0x36, 0x50, 0x6b);
const QColor kChooserPressed(0x22, 0x34, 0x47);
const QColor kChooserEdge(0x5d, 0x7f, 0xa3);
const QColor kBar(0x1a, 0x28, 0x37);
const QColor kAccent(0xf2, 0x9b, 0x30);
const QColor kIcon(0xc8, 0xd2, 0xdc);

using Painting = std::function<void(QPainter&)>;

bool Save(const QString& folder, const char* name, int width, int height, const Painting& paint) {
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  paint(painter);
  painter.end();
  const QString path = folder + "/" + name;
  if (!image.save(path, "PNG")) {
    std::fprintf(stderr, "drawartwork: cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

void RoundedBox(QPainter& p, const QRectF& r, qreal radius, const QColor& fill, const QColor& edge) {
  p.setPen(edge.isValid() ? QPen(edge, 1) : Qt::NoPen);
  p.setBrush(fill);
  p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
}

void Triangle(QPainter& p, const QPolygonF& corners, const QColor& fill) {
  p.setPen(Qt::NoPen);
  p.setBrush(fill);
  p.drawPolygon(corners);
}

// The product mark: an orange ring with a sheet of paper coming out of it.
void Mark(QPainter& p, const QRectF& box) {
  const qreal s = std::min(box.width(), box.height());
  const QPointF c = box.center();
  const qreal ring = s * 0.14;
  p.setPen(QPen(kAccent, ring));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(c, s / 2 - ring / 2 - 0.5, s / 2 - ring / 2 - 0.5);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawRect(QRectF(c.x() - s * 0.16, c.y() - s * 0.2, s * 0.32, s * 0.4));
  p.setBrush(kAccent);
  p.drawRect(QRectF(c.x() - s * 0.1, c.y() - s * 0.08, s * 0.2, s * 0.04));
  p.drawRect(QRectF(c.x() - s * 0.1, c.y() + s * 0.02, s * 0.2, s * 0.04));
}

void Gear(QPainter& p, const QRectF& box) {
  const QPointF c = box.center();
  const qreal outer = std::min(box.width(), box.height()) / 2 - 1;
  QPainterPath teeth;
  for (int i = 0; i < 8; ++i) {
    const qreal a = i * M_PI / 4;
    QPainterPath tooth;
    tooth.addRect(QRectF(-outer * 0.22, -outer, outer * 0.44, outer * 2));
    teeth.addPath(QTransform().translate(c.x(), c.y()).rotateRadians(a).map(tooth));
  }
  QPainterPath body;
  body.addEllipse(c, outer * 0.72, outer * 0.72);
  QPainterPath hole;
  hole.addEllipse(c, outer * 0.3, outer * 0.3);
  p.setPen(Qt::NoPen);
  p.setBrush(kIcon);
  p.drawPath(teeth.united(body).subtracted(hole));
}

// The application icon: the mark on a rounded panel, the About window's picture.
void AppIcon(QPainter& p, qreal side) {
  RoundedBox(p, QRectF(0, 0, side, side), side * 10 / 48, kPanel, QColor());
  Mark(p, QRectF(side / 8, side / 8, side * 3 / 4, side * 3 / 4));
}

bool SaveIconTheme(const QString& folder) {
  bool ok = true;
  for (int side : {16, 22, 24, 32, 48, 64, 128, 256, 512}) {
    const QString sized = QString("%1/%2x%2/apps").arg(folder).arg(side);
    if (!QDir().mkpath(sized)) {
      std::fprintf(stderr, "drawartwork: cannot create %s\n", qPrintable(sized));
      return false;
    }
    ok &= Save(sized, "olvaro-desktop.png", side, side, [side](QPainter& p) { AppIcon(p, side); });
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc == 3 && QString(argv[1]) == "--icons") {
    return SaveIconTheme(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: drawartwork <output folder> | drawartwork --icons <folder>\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  bool ok = true;

  ok &= Save(out, "background.png", 300, 151, [](QPainter& p) {
    RoundedBox(p, QRectF(0, 0, 300, 151), 9, kPanel, kPanelEdge);
  });
  ok &= Save(out, "chooser.png", 280, 33, [](QPainter& p) {
    RoundedBox(p, QRectF(0, 0, 280, 33), 5, kChooser, kChooserEdge);
  });
  ok &= Save(out, "chooser-pushed.png", 280, 33, [](QPainter& p) {
    RoundedBox(p, QRectF(0, 0, 280, 33), 5, kChooserPressed, kChooserEdge);
  });
  ok &= Save(out, "triangle.png", 7, 17, [](QPainter& p) {
    Triangle(p, QPolygonF({{0, 6}, {7, 6}, {3.5, 11}}), Qt::white);
  });
  ok &= Save(out, "bottombar.png", 280, 33, [](QPainter& p) {
    RoundedBox(p, QRectF(0, 0, 280, 33), 5, kBar, QColor());
  });
  ok &= Save(out, "logo.png", 22, 23, [](QPainter& p) { Mark(p, QRectF(1, 1, 20, 20)); });
  ok &= Save(out, "settings.png", 22, 23, [](QPainter& p) { Gear(p, QRectF(2, 2, 18, 18)); });
  // The arrows share the panel's colour so that they read as part of it.
  ok &= Save(out, "arrow-top.png", 35, 19, [](QPainter& p) {
    Triangle(p, QPolygonF({{0, 19}, {35, 19}, {17.5, 0}}), kPanel);
  });
  ok &= Save(out, "arrow-left.png", 17, 36, [](QPainter& p) {
    Triangle(p, QPolygonF({{17, 0}, {17, 36}, {0, 18}}), kPanel);
  });
  ok &= Save(out, "arrow-right.png", 17, 36, [](QPainter& p) {
    Triangle(p, QPolygonF({{0, 0}, {0, 36}, {17, 18}}), kPanel);
  });
  ok &= Save(out, "arrow-bottom.png", 36, 17, [](QPainter& p) {
    Triangle(p, QPolygonF({{0, 0}, {36, 0}, {18, 17}}), kPanel);
  });
  ok &= Save(out, "about.png", 48, 48, [](QPainter& p) { AppIcon(p, 48); });
  ok &= Save(out, "tray.png", 16, 16, [](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kPanel);
    p.drawEllipse(QRectF(0, 0, 16, 16));
    Mark(p, QRectF(0, 0, 16, 16));
  });
  return ok ? 0 : 1;
}
