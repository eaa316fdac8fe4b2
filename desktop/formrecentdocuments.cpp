#include "desktop/formrecentdocuments.h"

#include <QHeaderView>
#include <QVBoxLayout>

#include "base/documenthistory.h"
#include "desktop/widgetparts.h"
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
  resize(kRecentDocuments.window.width, kRecentDocuments.window.height);
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
  ShowCentred(this);
}
