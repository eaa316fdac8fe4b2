#include "desktop/formnewversion.h"

#include <QFont>
#include <QIcon>

#include <algorithm>

#include "desktopcore/popuptexts.h"

TFormNewVersion::TFormNewVersion(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromLatin1(kProductName));
  resize(320, 125);
  QFont font(QStringLiteral("Tahoma"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  setFont(font);

  Image1 = new QLabel(this);
  Image1->setPixmap(windowIcon().pixmap(33, 33));  // the application's icon
  Image1->setGeometry(24, 16, 33, 33);

  // The text may need more than its designed 26 pixels with a wider font than Tahoma,
  // so it grows downward as far as the buttons.
  Label1 = new QLabel(QString::fromLatin1(kNewVersionMessage), this);
  Label1->setWordWrap(true);
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label1->setGeometry(80, 23, 225, std::max(26, std::min(Label1->heightForWidth(225), 80 - 23 - 2)));

  ButtonDownload = new QPushButton(QString::fromLatin1(kNewVersionDownload), this);
  ButtonDownload->setGeometry(40, 80, 105, 25);
  ButtonDownload->setDefault(true);
  connect(ButtonDownload, &QPushButton::clicked, this, &QDialog::accept);

  ButtonLater = new QPushButton(QString::fromLatin1(kNewVersionLater), this);
  ButtonLater->setGeometry(168, 80, 105, 25);
  connect(ButtonLater, &QPushButton::clicked, this, &QDialog::reject);
}
