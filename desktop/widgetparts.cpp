#include "desktop/widgetparts.h"

#include <QGuiApplication>
#include <QPalette>
#include <QPixmap>
#include <QScreen>

QFont TahomaFont(int pixelHeight, bool bold) {
  QFont font(QStringLiteral("Tahoma"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixelHeight);
  font.setBold(bold);
  return font;
}

QString ArtworkPath(const QString& name) { return QStringLiteral(":/artwork/") + name; }

void SetGeometry(QWidget* widget, const LayoutBox& box) {
  widget->setGeometry(box.left, box.top, box.width, box.height);
}

QLabel* MakePicture(QWidget* parent, const QString& name, const LayoutBox& box) {
  auto* label = new QLabel(parent);
  label->setPixmap(QPixmap(ArtworkPath(name)));
  SetGeometry(label, box);
  return label;
}

QLabel* MakeText(QWidget* parent, const QString& text, int x, int y, const QFont& font, const QColor& color) {
  auto* label = new QLabel(text, parent);
  label->setFont(font);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, color);
  label->setPalette(palette);
  label->move(x, y);
  label->adjustSize();
  return label;
}

void ShowCentred(QWidget* window) {
  if (!window->isVisible()) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen) window->move(screen->availableGeometry().center() - window->rect().center());
  }
  window->show();
  window->raise();
  window->activateWindow();
}
