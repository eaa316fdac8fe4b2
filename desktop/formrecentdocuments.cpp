#include "desktop/formrecentdocuments.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QVBoxLayout>

#include "base/documenthistory.h"
#include "desktopcore/popuptexts.h"

namespace {

QStringList ToStringList(const std::vector<std::string>& texts) {
  QStringList list;
  for (const std::string& text : texts) list << QString::fromStdString(text);
  return list;
}

}  // namespace

TFormRecentDocuments::TFormRecentDocuments(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QString::fromLatin1(kRecentDocumentsTitle));
  resize(640, 320);
  documentList = new QTreeWidget(this);
  documentList->setRootIsDecorated(false);
  documentList->setHeaderLabels(ToStringList(RecentDocumentColumns()));
  documentList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(documentList);
}

void TFormRecentDocuments::ShowRecentDocuments() {
  documentList->clear();
  for (const DocumentRecord& record : RecentDocuments()) {
    auto* item = new QTreeWidgetItem(documentList, ToStringList(RecentDocumentRow(record)));
    if (!record.printed) item->setForeground(4, QBrush(Qt::darkRed));
  }
  if (!isVisible()) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen) move(screen->availableGeometry().center() - rect().center());
  }
  show();
  raise();
  activateWindow();
}
