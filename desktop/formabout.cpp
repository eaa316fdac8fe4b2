#include "desktop/formabout.h"

#include <QGuiApplication>
#include <QScreen>

#include "desktop/widgetparts.h"
#include "desktopcore/popuptexts.h"

TFormAbout::TFormAbout(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  setWindowTitle(QStringLiteral("About"));
  setFixedSize(272, 130);
  setFont(TahomaFont(11));
  Image1 = MakePicture(this, QStringLiteral("about.png"), 112, 16, 48, 48);
  Label1 = MakeText(this, QString::fromLatin1(kProductName), 69, 78, TahomaFont(14, true),
                    palette().color(QPalette::WindowText));
  versionLabel = new QLabel(this);
  versionLabel->setGeometry(69, 101, 136, versionLabel->sizeHint().height());
  versionLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  FormCreate();
}

void TFormAbout::FormCreate() {
  versionLabel->setText(QString::fromStdString(AboutVersionText()));
}

void TFormAbout::ShowAbout() {
  if (!isVisible()) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen) move(screen->availableGeometry().center() - rect().center());
  }
  show();
  raise();
  activateWindow();
}
