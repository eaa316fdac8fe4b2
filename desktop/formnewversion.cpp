#include "desktop/formnewversion.h"

#include <QFont>
#include <QIcon>

#include "desktop/widgetparts.h"
#include "desktopcore/popuptexts.h"

TFormNewVersion::TFormNewVersion(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromLatin1(kProductName));
  resize(kNewVersion.window.width, kNewVersion.window.height);
  QFont font(QStringLiteral("Tahoma"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  setFont(font);

  Image1 = new QLabel(this);
  const LayoutBox& icon = kNewVersion.icon;
  Image1->setPixmap(windowIcon().pixmap(icon.width, icon.height));  // the application's icon
  SetGeometry(Image1, icon);

  Label1 = new QLabel(QString::fromLatin1(kNewVersionMessage), this);
  Label1->setWordWrap(true);
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  SetGeometry(Label1, kNewVersion.message);

  ButtonDownload = new QPushButton(QString::fromLatin1(kNewVersionDownload), this);
  SetGeometry(ButtonDownload, kNewVersion.download);
  ButtonDownload->setDefault(true);
  connect(ButtonDownload, &QPushButton::clicked, this, &QDialog::accept);

  ButtonLater = new QPushButton(QString::fromLatin1(kNewVersionLater), this);
  SetGeometry(ButtonLater, kNewVersion.later);
  connect(ButtonLater, &QPushButton::clicked, this, &QDialog::reject);
}
