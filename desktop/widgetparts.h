// Small builders for the fixed-layout windows: fonts, pictures and labels placed at
// exact client coordinates. UI thread only.
#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>

// The windows' font: Tahoma (or the closest the system has) `pixelHeight` pixels high.
QFont TahomaFont(int pixelHeight, bool bold = false);

// A label showing the artwork `name` (a file under the artwork resources) at x, y with
// the given size.
QLabel* MakePicture(QWidget* parent, const QString& name, int x, int y, int width, int height);

// A label with `text` at x, y in `font` and `color`, sized to its text.
QLabel* MakeText(QWidget* parent, const QString& text, int x, int y, const QFont& font,
                 const QColor& color);

// The artwork `name` as a pixmap path in the resources.
QString ArtworkPath(const QString& name);
