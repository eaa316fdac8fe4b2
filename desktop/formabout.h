// The About window: the product's picture, name and version. UI thread only.
#pragma once

#include <QLabel>
#include <QWidget>

class TFormAbout : public QWidget {
  Q_OBJECT

 public:
  explicit TFormAbout(QWidget* parent = nullptr);

  // Shows the window centred on the screen, or brings it to the front when open.
  void ShowAbout();

  QLabel* Image1 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* versionLabel = nullptr;

 private:
  void FormCreate();
};
