#include "desktop/widgetparts.h"

#include <QPalette>
#include <QPixmap>

QFont TahomaFont(int pixelHeight, bool bold) {
  QFont font(QStringLiteral("Tahoma"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixelHeight);
  font.setBold(bold);
  return font;
}

QString ArtworkPath(const QString& name) {
  return QStringLiteral(":/artwork/") + name;
}

QLabel* MakePicture(QWidget* parent, const QString& name, int x, int y, int width, int height) {
  auto* label = new QLabel(parent);
  label->setPixmap(QPixmap(ArtworkPath(name)));
  label->setGeometry(x, y, width, height);
  return label;
}

QLabel* MakeText(QWidget* parent, const QString& text, int x, int y, const QFont& font,
                 const QColor& color) {
  auto* label = new QLabel(text, parent);
  label->setFont(font);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, color);
  label->setPalette(palette);
  label->move(x, y);
  label->adjustSize();
  return label;
}
