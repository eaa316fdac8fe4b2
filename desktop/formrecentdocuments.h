// The "Recent documents" window: what became of the last documents this run received.
// UI thread only.
#pragma once

#include <QTreeWidget>
#include <QWidget>

class TFormRecentDocuments : public QWidget {
  Q_OBJECT

 public:
  explicit TFormRecentDocuments(QWidget* parent = nullptr);

  // Fills the list afresh and shows the window centred on the screen, or brings it to
  // the front when open.
  void ShowRecentDocuments();

  QTreeWidget* documentList = nullptr;
};
