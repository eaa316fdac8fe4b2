#include "desktop/formabout.h"

#include "desktop/widgetparts.h"
#include "desktopcore/popuptexts.h"

TFormAbout::TFormAbout(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(QStringLiteral("About"));
  setFixedSize(kAbout.window.width, kAbout.window.height);
  setFont(TahomaFont(11));
  Image1 = MakePicture(this, QStringLiteral("about.png"), kAbout.picture);
  Label1 = MakeText(this, QString::fromLatin1(kProductName), kAbout.name.left, kAbout.name.top, TahomaFont(14, true),
                    palette().color(QPalette::WindowText));
  versionLabel = new QLabel(this);
  versionLabel->setGeometry(kAbout.version.left, kAbout.version.top, kAbout.version.width,
                            versionLabel->sizeHint().height());
  versionLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  FormCreate();
}

void TFormAbout::FormCreate() { versionLabel->setText(QString::fromStdString(AboutVersionText())); }

void TFormAbout::ShowAbout() { ShowCentred(this); }
