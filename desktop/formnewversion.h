// The notice that a newer version exists, shown modally on the UI thread. UI thread only.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>

class TFormNewVersion : public QDialog {
  Q_OBJECT

 public:
  explicit TFormNewVersion(QWidget* parent = nullptr);

  QLabel* Image1 = nullptr;
  QLabel* Label1 = nullptr;
  QPushButton* ButtonDownload = nullptr;  // accepts the dialog
  QPushButton* ButtonLater = nullptr;     // rejects it
};
