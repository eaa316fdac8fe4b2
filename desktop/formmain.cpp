#include "desktop/formmain.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QUrl>

#include <algorithm>

#include "desktop/widgetparts.h"
#include "desktopcore/cloudstatussink.h"
#include "desktopcore/popuplayout.h"
#include "desktopcore/popuptexts.h"
#include "desktopcore/printerchoice.h"
#include "update/updatecheck.h"

namespace {

constexpr int kAuthCodeWidth = 50;
constexpr int kAuthCodeMaxWidth = 56;
const QColor kSilver(192, 192, 192);

ScreenRect ToScreenRect(const QRect& r) {
  return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

// A word-wrapped label of fixed width whose height follows its lines.
void FitHeight(QLabel* label) {
  label->resize(label->width(), label->heightForWidth(label->width()));
}

QLabel* MakeWrappedText(QWidget* parent, int x, int y, int width, const QFont& font) {
  QLabel* label = MakeText(parent, QString(), x, y, font, Qt::white);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setGeometry(x, y, width, 0);
  return label;
}

QString Text(const std::string& text) { return QString::fromStdString(text); }

// Queued onto the application's event loop, which runs on the UI thread.
void PostToUiThread(std::function<void()> work) {
  QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

bool IsClickRelease(QObject* watched, QEvent* event) {
  auto* widget = qobject_cast<QWidget*>(watched);
  const auto* mouse = static_cast<QMouseEvent*>(event);
  return mouse->button() == Qt::LeftButton && widget && widget->rect().contains(mouse->position().toPoint());
}

}  // namespace

TFormMain::TFormMain(DesktopStartup& startup, DesktopSources sources)
    : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      startup_(startup),
      sources_(std::move(sources)),
      mailbox_(UiMailbox::Create(PostToUiThread)),
      authCodes_(sources_.authCode, mailbox_) {
  CreateControls();
  CreateTrayAndMenu();
  FormAbout = std::make_unique<TFormAbout>();
  FormNewVersion = std::make_unique<TFormNewVersion>();
  FormRecentDocuments = std::make_unique<TFormRecentDocuments>();
  FormCreate();
}

TFormMain::~TFormMain() {
  // Reports and answers still on their way must find the window gone.
  SetDocumentListener(nullptr);
  mailbox_->Close();
  startup_.Stop();
}

void TFormMain::CreateControls() {
  setWindowTitle(Text(kProductName));
  setAttribute(Qt::WA_TranslucentBackground);
  setFont(TahomaFont(11));
  setFixedSize(kPopupWidth, kPopupHeight);

  bgImage = MakePicture(this, QStringLiteral("background.png"), 16, 18, 300, 151);
  LabelName = MakeText(this, Text(kProductName), 16, 33, TahomaFont(16, true), Qt::white);
  LabelName->setGeometry(16, 33, 300, 19);
  LabelName->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

  imgBtn = QPixmap(ArtworkPath(QStringLiteral("chooser.png")));
  imgBtnPushed = QPixmap(ArtworkPath(QStringLiteral("chooser-pushed.png")));
  printerListComboButton = MakePicture(this, QStringLiteral("chooser.png"), kChooserLeft, kChooserTop, kChooserWidth,
                                       kChooserHeight);
  printerListLabel = MakeText(this, QString(), 37, 71, TahomaFont(13), Qt::white);
  printerListLabel->setGeometry(37, 71, 242, 16);
  Image4 = MakePicture(this, QStringLiteral("triangle.png"), 285, 71, 7, 17);

  LabelIP = MakeText(this, Text(kAddressCaption), 29, 107, TahomaFont(12, true), kSilver);
  LabelIP1 = MakeWrappedText(this, 52, 107, 108, TahomaFont(12, true));
  Label1 = MakeText(this, Text(kAuthCodeCaption), 180, 107, TahomaFont(12, true), kSilver);
  LabelAuthCode = MakeWrappedText(this, 250, 107, kAuthCodeWidth, TahomaFont(12, true));

  Image3 = MakePicture(this, QStringLiteral("bottombar.png"), 26, 130, 280, 33);
  vostrelIcon = MakePicture(this, QStringLiteral("logo.png"), 26, 139, 22, 23);
  settingsIcon = MakePicture(this, QStringLiteral("settings.png"), 284, 139, 22, 23);
  arrowTopImage = MakePicture(this, QStringLiteral("arrow-top.png"), 148, 1, kArrowTopWidth, 19);
  arrowLeftImage = MakePicture(this, QStringLiteral("arrow-left.png"), -1, 38, 17, kArrowLeftHeight);
  arrowRightImage = MakePicture(this, QStringLiteral("arrow-right.png"), 316, 88, 17, kArrowLeftHeight);
  arrowBottomImage = MakePicture(this, QStringLiteral("arrow-bottom.png"), 244, 168, 36, 17);

  // Address lines past the second run over the bottom bar; they stay readable on top.
  LabelIP1->raise();
  LabelAuthCode->raise();

  // Created after the labels it drops down over.
  printerListBox = new QListWidget(this);
  printerListBox->setFrameShape(QFrame::NoFrame);
  printerListBox->setFocusPolicy(Qt::NoFocus);
  printerListBox->setUniformItemSizes(true);
  printerListBox->resize(277, 69);
  printerListBox->hide();
  connect(printerListBox, &QListWidget::itemClicked, this, [this] { printerListBoxClick(); });

  LabelConnected = new QLabel(Text(ConnectionLabelText(false)), this);
  LabelConnected->hide();

  TimerUpdateAuthCode = new QTimer(this);
  TimerUpdateAuthCode->setInterval(kAuthCodeDelayMs);
  connect(TimerUpdateAuthCode, &QTimer::timeout, this, [this] { TimerUpdateAuthCodeTimer(); });

  for (QWidget* part : {static_cast<QWidget*>(printerListComboButton), static_cast<QWidget*>(Image4),
                        static_cast<QWidget*>(printerListLabel), static_cast<QWidget*>(settingsIcon),
                        static_cast<QWidget*>(vostrelIcon)}) {
    part->installEventFilter(this);
  }
}

void TFormMain::CreateTrayAndMenu() {
  PopupMenu1 = new QMenu(this);
  for (const PopupMenuEntry& entry : PopupMenuEntries()) {
    QAction* action = PopupMenu1->addAction(Text(entry.text));
    action->setCheckable(entry.checkable);
    switch (entry.command) {
      case PopupMenuCommand::RecentDocuments:
        RecentDocuments1 = action;
        connect(action, &QAction::triggered, this, [this] { RecentDocuments1Click(); });
        break;
      case PopupMenuCommand::About:
        About1 = action;
        connect(action, &QAction::triggered, this, [this] { About1Click(); });
        break;
      case PopupMenuCommand::LaunchAtStartup:
        MenuStartup = action;
        connect(action, &QAction::triggered, this, [this] { MenuStartupClick(); });
        break;
      case PopupMenuCommand::Exit:
        MenuExit = action;
        connect(action, &QAction::triggered, this, [this] { MenuExitClick(); });
        break;
    }
  }

  TrayIcon1 = new QSystemTrayIcon(QIcon(ArtworkPath(QStringLiteral("tray.png"))), this);
  TrayIcon1->setToolTip(Text(kProductName));
  // Every button toggles the window; no menu hangs on the icon itself.
  connect(TrayIcon1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::Unknown) TrayIcon1MouseUp();
  });
  TrayIcon1->show();
}

void TFormMain::FormCreate() {
  printerListBox->move(printerListComboButton->x() + 2, printerListComboButton->y() + 33);
  refreshTimerId = startTimer(kRefreshPeriodMs);
  RefreshAddressLabel();
  SetDocumentListener([mailbox = mailbox_, this](const DocumentRecord& record) {
    if (!record.printed) mailbox->Post([this, record] { ShowNotPrintedNotice(record); });
  });
  startupMenu_.emplace();
  MenuStartup->setChecked(startupMenu_->Checked());
  hide();
  startup_.Start(std::make_shared<UiCloudStatusSink>(mailbox_, *this), [mailbox = mailbox_, this] {
    mailbox->Post([this] { ShowNewVersionNotice(); });
  });
}

void TFormMain::TrayIcon1MouseUp() { PopUpAt(QCursor::pos()); }

void TFormMain::PopUpAt(const QPoint& pointer) {
  const QScreen* screen = QGuiApplication::screenAt(pointer);
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  // The icon's geometry tells which panel holds it, but only when the host reports it
  // truly: the click happened on the icon, so it must hold the pointer.
  std::optional<ScreenRect> icon;
  const QRect iconGeometry = TrayIcon1->geometry();
  if (iconGeometry.contains(pointer)) icon = ToScreenRect(iconGeometry);
  PopUpBesideTaskbar(pointer.x(), pointer.y(),
                     DeriveTaskbar(ToScreenRect(screen->geometry()), ToScreenRect(screen->availableGeometry()), icon));
}

void TFormMain::PopUpBesideTaskbar(int mx, int my, const TaskbarPosition& taskbar) {
  if (isVisible()) {
    hide();
    return;
  }
  const PopupPlacement placement = PlacePopup(mx, my, taskbar);
  arrowLeftImage->setVisible(placement.arrow == TaskbarEdge::Left);
  arrowTopImage->setVisible(placement.arrow == TaskbarEdge::Top);
  arrowRightImage->setVisible(placement.arrow == TaskbarEdge::Right);
  arrowBottomImage->setVisible(placement.arrow == TaskbarEdge::Bottom);
  arrowTopImage->move(placement.horizontalArrowLeft, arrowTopImage->y());
  arrowBottomImage->move(placement.horizontalArrowLeft, arrowBottomImage->y());
  arrowLeftImage->move(arrowLeftImage->x(), placement.verticalArrowTop);
  arrowRightImage->move(arrowRightImage->x(), placement.verticalArrowTop);
  popupLeft = placement.left;
  popupTop = placement.top;
  show();
  raise();
  activateWindow();
}

void TFormMain::BringToFront() {
  if (!isVisible()) {
    const QRect icon = TrayIcon1->geometry();
    if (!icon.isEmpty()) {
      PopUpAt(icon.center());
      return;
    }
    show();
  }
  raise();
  activateWindow();
}

void TFormMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  FormShow();
}

void TFormMain::FormShow() {
  move(popupLeft, popupTop);
  const PrinterChoice choice = LoadPrinterChoice();
  printerListBox->clear();
  for (const std::string& name : choice.printers) {
    auto* item = new QListWidgetItem(Text(name), printerListBox);
    item->setSizeHint(QSize(printerListBox->width(), 13));
  }
  printerListLabel->setText(Text(choice.label));
  authCodes_.NewShowing();
  SetAuthCodeText(Text(AuthCodeLabelText("")));
  TimerUpdateAuthCode->start();
}

void TFormMain::paintEvent(QPaintEvent* event) {
  // Window managers may place a shown window where they like; it belongs at the tray.
  if (pos() != QPoint(popupLeft, popupTop)) move(popupLeft, popupTop);
  QWidget::paintEvent(event);
}

bool TFormMain::event(QEvent* event) {
  if (event->type() == QEvent::WindowDeactivate) FormDeactivate();
  return QWidget::event(event);
}

void TFormMain::FormDeactivate() {
  hide();
  printerListBox->hide();
}

void TFormMain::closeEvent(QCloseEvent* event) {
  // Closing the window (Alt+F4, the window manager) only hides it; "Exit" ends the program.
  FormClose();
  event->ignore();
}

void TFormMain::changeEvent(QEvent* event) {
  if (event->type() == QEvent::WindowStateChange && isMinimized()) {
    // Minimising only hides; after the change is done, since a show may still follow it.
    QMetaObject::invokeMethod(
        this,
        [this] {
          setWindowState(windowState() & ~Qt::WindowMinimized);
          FormClose();
        },
        Qt::QueuedConnection);
  }
  QWidget::changeEvent(event);
}

void TFormMain::FormClose() { hide(); }

void TFormMain::timerEvent(QTimerEvent* event) {
  if (event->timerId() != refreshTimerId) {
    QWidget::timerEvent(event);
    return;
  }
  if (!isVisible()) return;
  killTimer(refreshTimerId);
  RefreshAddressLabel();
  refreshTimerId = startTimer(kRefreshPeriodMs);
}

void TFormMain::RefreshAddressLabel() {
  LabelIP1->setText(Text(AddressLabelText(sources_.localAddresses())));
  FitHeight(LabelIP1);
  LabelIP->setText(Text(kAddressCaption));
}

void TFormMain::TimerUpdateAuthCodeTimer() {
  TimerUpdateAuthCode->stop();
  authCodes_.Request([this](const std::string& text) { SetAuthCodeText(Text(text)); });
}

void TFormMain::SetAuthCodeText(const QString& text) {
  LabelAuthCode->setText(text);
  // A code is one word that cannot wrap; fonts wider than Tahoma may take the room up
  // to the chooser's right end.
  const int width = LabelAuthCode->fontMetrics().horizontalAdvance(text) + 1;
  LabelAuthCode->resize(std::clamp(width, kAuthCodeWidth, kAuthCodeMaxWidth), LabelAuthCode->height());
  FitHeight(LabelAuthCode);
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  const bool release = type == QEvent::MouseButtonRelease;
  if (watched == settingsIcon) {
    if (release) settingsIconMouseUp();
    return release;
  }
  if (watched == vostrelIcon) {
    if (release && IsClickRelease(watched, event)) vostrelIconClick();
    return release;
  }
  return ChooserEvent(static_cast<QWidget*>(watched), event);
}

// The chooser image, its label and its triangle act as one button.
bool TFormMain::ChooserEvent(QWidget* part, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
      printerListComboButton->setPixmap(imgBtnPushed);
      if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) chooserTracking_ = true;
      return true;
    case QEvent::MouseMove:
      if (chooserTracking_) {
        const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
        printerListComboButton->setPixmap(ChooserPressedAt(at.x(), at.y()) ? imgBtnPushed : imgBtn);
      }
      return true;
    case QEvent::MouseButtonRelease:
      printerListComboButton->setPixmap(imgBtn);
      chooserTracking_ = false;
      if (IsClickRelease(part, event)) printerListBox->setVisible(!printerListBox->isVisible());
      return true;
    default:
      return false;
  }
}

void TFormMain::printerListBoxClick() {
  const QListWidgetItem* item = printerListBox->currentItem();
  if (!item || !item->isSelected()) return;
  ChoosePrinter(item->text().toStdString());
  printerListLabel->setText(item->text());
  printerListBox->hide();
}

void TFormMain::settingsIconMouseUp() { PopupMenu1->popup(QCursor::pos()); }

void TFormMain::vostrelIconClick() { QDesktopServices::openUrl(QUrl(QString::fromLatin1(kMakerWebSite))); }

void TFormMain::RecentDocuments1Click() { FormRecentDocuments->ShowRecentDocuments(); }

void TFormMain::About1Click() { FormAbout->ShowAbout(); }

void TFormMain::ShowNotPrintedNotice(const DocumentRecord& record) {
  TrayIcon1->showMessage(Text(kProductName), Text(NotPrintedNotice(record)), QSystemTrayIcon::Warning);
}

void TFormMain::MenuStartupClick() {
  MenuStartup->setChecked(startupMenu_->Toggle());
}

void TFormMain::MenuExitClick() {
  FormClose();
  QCoreApplication::quit();
}

void TFormMain::CloudBusy(bool busy) { pollerBusy = busy; }

void TFormMain::CloudState(bool connected) {
  LabelConnected->setText(Text(ConnectionLabelText(connected)));
}

void TFormMain::ShowNewVersionNotice() {
  // The notice must not hide behind the always-on-top pop-up.
  const bool visible = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, false);
  if (visible) show();
  const int result = FormNewVersion->exec();
  setWindowFlag(Qt::WindowStaysOnTopHint, true);
  if (visible) show();
  if (result == QDialog::Accepted) QDesktopServices::openUrl(QUrl(QString::fromStdString(GetDownloadPageUrl())));
}
