// Small builders for the fixed-layout windows: fonts, pictures and labels placed at
// exact client coordinates. UI thread only.
#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>

#include "desktopcore/popuplayout.h"

// The windows' font: Tahoma (or the closest the system has) `pixelHeight` pixels high.
QFont TahomaFont(int pixelHeight, bool bold = false);

// Gives `widget` the place and size of `box`.
void SetGeometry(QWidget* widget, const LayoutBox& box);

// A label showing the artwork `name` (a file under the artwork resources) in `box`.
QLabel* MakePicture(QWidget* parent, const QString& name, const LayoutBox& box);

// A label with `text` at x, y in `font` and `color`, sized to its text.
QLabel* MakeText(QWidget* parent, const QString& text, int x, int y, const QFont& font, const QColor& color);

// The artwork `name` as a pixmap path in the resources.
QString ArtworkPath(const QString& name);

// Shows `window` centred on the primary screen, or brings it to the front when open.
void ShowCentred(QWidget* window);
