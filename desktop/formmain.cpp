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
#include "desktopcore/popuptexts.h"

namespace {

const QColor kSilver(192, 192, 192);

ScreenRect ToScreenRect(const QRect& r) { return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }

// A word-wrapped label of fixed width whose height follows its lines.
void FitHeight(QLabel* label) { label->resize(label->width(), label->heightForWidth(label->width())); }

QLabel* MakeWrappedText(QWidget* parent, const LayoutBox& box, const QFont& font) {
  QLabel* label = MakeText(parent, QString(), box.left, box.top, font, Qt::white);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setGeometry(box.left, box.top, box.width, 0);
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

TFormMain::TFormMain(DesktopStartup& startup, DesktopSources sources, PopupController::Clock clock)
    : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      controller_(*this, startup, std::move(sources), PostToUiThread, std::move(clock)) {
  CreateControls();
  CreateTrayAndMenu();
  FormAbout = std::make_unique<TFormAbout>();
  FormNewVersion = std::make_unique<TFormNewVersion>();
  FormRecentDocuments = std::make_unique<TFormRecentDocuments>();
  controller_.Start();
}

TFormMain::~TFormMain() { controller_.Stop(); }

void TFormMain::CreateControls() {
  setWindowTitle(Text(kProductName));
  setAttribute(Qt::WA_TranslucentBackground);
  setFont(TahomaFont(11));
  setFixedSize(kPopup.window.width, kPopup.window.height);

  bgImage = MakePicture(this, QStringLiteral("background.png"), kPopup.background);
  LabelName = MakeText(this, Text(kProductName), kPopup.name.left, kPopup.name.top, TahomaFont(16, true), Qt::white);
  SetGeometry(LabelName, kPopup.name);
  LabelName->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

  imgBtn = QPixmap(ArtworkPath(QStringLiteral("chooser.png")));
  imgBtnPushed = QPixmap(ArtworkPath(QStringLiteral("chooser-pushed.png")));
  printerListComboButton = MakePicture(this, QStringLiteral("chooser.png"), kPopup.chooser);
  const LayoutBox& label = kPopup.printerLabel;
  printerListLabel = MakeText(this, QString(), label.left, label.top, TahomaFont(13), Qt::white);
  SetGeometry(printerListLabel, label);
  Image4 = MakePicture(this, QStringLiteral("triangle.png"), kPopup.triangle);

  const QFont labelFont = TahomaFont(12, true);
  LabelIP =
      MakeText(this, Text(kAddressCaption), kPopup.addressCaption.left, kPopup.addressCaption.top, labelFont, kSilver);
  LabelIP1 = MakeWrappedText(this, kPopup.addresses, labelFont);
  Label1 = MakeText(this, Text(kAuthCodeCaption), kPopup.authCodeCaption.left, kPopup.authCodeCaption.top, labelFont,
                    kSilver);
  LabelAuthCode = MakeWrappedText(this, kPopup.authCode, labelFont);

  Image3 = MakePicture(this, QStringLiteral("bottombar.png"), kPopup.bottomBar);
  vostrelIcon = MakePicture(this, QStringLiteral("logo.png"), kPopup.logo);
  settingsIcon = MakePicture(this, QStringLiteral("settings.png"), kPopup.settings);
  arrowTopImage = MakePicture(this, QStringLiteral("arrow-top.png"), kPopup.arrowTop);
  arrowLeftImage = MakePicture(this, QStringLiteral("arrow-left.png"), kPopup.arrowLeft);
  arrowRightImage = MakePicture(this, QStringLiteral("arrow-right.png"), kPopup.arrowRight);
  arrowBottomImage = MakePicture(this, QStringLiteral("arrow-bottom.png"), kPopup.arrowBottom);

  // Address lines past the second run over the bottom bar; they stay readable on top.
  LabelIP1->raise();
  LabelAuthCode->raise();

  // Created after the labels it drops down over.
  printerListBox = new QListWidget(this);
  printerListBox->setFrameShape(QFrame::NoFrame);
  printerListBox->setFocusPolicy(Qt::NoFocus);
  printerListBox->setUniformItemSizes(true);
  SetGeometry(printerListBox, kPopup.printerList);
  printerListBox->hide();
  connect(printerListBox, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    if (item && item->isSelected()) controller_.PrinterPicked(item->text().toStdString());
  });

  LabelConnected = new QLabel(this);
  LabelConnected->hide();

  TimerUpdateAuthCode = new QTimer(this);
  connect(TimerUpdateAuthCode, &QTimer::timeout, this, [this] { controller_.TimerFired(PopupTimer::AuthCode); });
  TimerRefreshAddresses = new QTimer(this);
  connect(TimerRefreshAddresses, &QTimer::timeout, this,
          [this] { controller_.TimerFired(PopupTimer::AddressRefresh); });

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
    connect(action, &QAction::triggered, this, [this, command = entry.command] { controller_.MenuChosen(command); });
    switch (entry.command) {
      case PopupMenuCommand::RecentDocuments:
        RecentDocuments1 = action;
        break;
      case PopupMenuCommand::About:
        About1 = action;
        break;
      case PopupMenuCommand::LaunchAtStartup:
        MenuStartup = action;
        break;
      case PopupMenuCommand::ShareWithAllPhones:
        MenuShare = action;
        break;
      case PopupMenuCommand::Exit:
        MenuExit = action;
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

void TFormMain::TrayIcon1MouseUp() { controller_.TrayClicked(AnchorAt(QCursor::pos())); }

void TFormMain::PopUpBesideTaskbar(int mx, int my, const TaskbarPosition& taskbar) {
  controller_.TrayClicked({mx, my, taskbar});
}

PopupAnchor TFormMain::AnchorAt(const QPoint& pointer) const {
  const QScreen* screen = QGuiApplication::screenAt(pointer);
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return {pointer.x(), pointer.y(), {}};
  // The icon's geometry tells which panel holds it, but only when the host reports it
  // truly: the click happened on the icon, so it must hold the pointer.
  std::optional<ScreenRect> icon;
  const QRect iconGeometry = TrayIcon1->geometry();
  if (iconGeometry.contains(pointer)) icon = ToScreenRect(iconGeometry);
  return {pointer.x(), pointer.y(),
          DeriveTaskbar(ToScreenRect(screen->geometry()), ToScreenRect(screen->availableGeometry()), icon)};
}

PopupAnchor TFormMain::DefaultAnchor() const {
  const QRect icon = TrayIcon1->geometry();
  return AnchorAt(icon.isEmpty() ? QCursor::pos() : icon.center());
}

void TFormMain::BringToFront() {
  if (isVisible()) {
    Show();
    return;
  }
  controller_.PopUpBeside(DefaultAnchor());
}

bool TFormMain::IsShown() const { return isVisible(); }

void TFormMain::Place(const PopupPlacement& placement) {
  arrowLeftImage->setVisible(placement.arrow == TaskbarEdge::Left);
  arrowTopImage->setVisible(placement.arrow == TaskbarEdge::Top);
  arrowRightImage->setVisible(placement.arrow == TaskbarEdge::Right);
  arrowBottomImage->setVisible(placement.arrow == TaskbarEdge::Bottom);
  arrowTopImage->move(placement.horizontalArrowLeft, kPopup.arrowTop.top);
  arrowBottomImage->move(placement.horizontalArrowLeft, kPopup.arrowBottom.top);
  arrowLeftImage->move(kPopup.arrowLeft.left, placement.verticalArrowTop);
  arrowRightImage->move(kPopup.arrowRight.left, placement.verticalArrowTop);
  place_ = QPoint(placement.left, placement.top);
  move(place_);
}

void TFormMain::Show() {
  show();
  raise();
  activateWindow();
}

void TFormMain::Hide() { hide(); }

void TFormMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  controller_.Showing();
}

void TFormMain::paintEvent(QPaintEvent* event) {
  // Window managers may place a shown window where they like; it belongs at the tray.
  if (pos() != place_) move(place_);
  QWidget::paintEvent(event);
}

bool TFormMain::event(QEvent* event) {
  if (event->type() == QEvent::WindowDeactivate) controller_.Deactivated();
  return QWidget::event(event);
}

void TFormMain::closeEvent(QCloseEvent* event) {
  // Closing the window (Alt+F4, the window manager) only hides it; "Exit" ends the program.
  controller_.CloseRequested();
  event->ignore();
}

void TFormMain::changeEvent(QEvent* event) {
  if (event->type() == QEvent::WindowStateChange && isMinimized()) {
    // Minimising only hides; after the change is done, since a show may still follow it.
    QMetaObject::invokeMethod(
        this,
        [this] {
          setWindowState(windowState() & ~Qt::WindowMinimized);
          controller_.CloseRequested();
        },
        Qt::QueuedConnection);
  }
  QWidget::changeEvent(event);
}

void TFormMain::SetLabel(PopupLabel label, const std::string& text) {
  switch (label) {
    case PopupLabel::Printer:
      printerListLabel->setText(Text(text));
      break;
    case PopupLabel::Addresses:
      LabelIP1->setText(Text(text));
      FitHeight(LabelIP1);
      break;
    case PopupLabel::AuthCode:
      SetAuthCodeText(Text(text));
      break;
    case PopupLabel::Connection:
      LabelConnected->setText(Text(text));
      break;
  }
}

void TFormMain::SetAuthCodeText(const QString& text) {
  LabelAuthCode->setText(text);
  // A code is one word that cannot wrap; fonts wider than Tahoma may take the room up
  // to the chooser's right end.
  const int width = LabelAuthCode->fontMetrics().horizontalAdvance(text) + 1;
  LabelAuthCode->resize(std::clamp(width, kPopup.authCode.width, kPopup.authCodeMaxWidth), LabelAuthCode->height());
  FitHeight(LabelAuthCode);
}

void TFormMain::FillPrinterList(const std::vector<std::string>& printers) {
  printerListBox->clear();
  for (const std::string& name : printers) {
    auto* item = new QListWidgetItem(Text(name), printerListBox);
    item->setSizeHint(QSize(printerListBox->width(), kPopup.printerListItemHeight));
  }
}

bool TFormMain::IsPrinterListShown() const { return !printerListBox->isHidden(); }

void TFormMain::ShowPrinterList(bool shown) {
  if (shown) printerListBox->clearSelection();
  printerListBox->setVisible(shown);
}

QTimer* TFormMain::TimerOf(PopupTimer timer) const {
  return timer == PopupTimer::AuthCode ? TimerUpdateAuthCode : TimerRefreshAddresses;
}

void TFormMain::StartTimer(PopupTimer timer, int milliseconds) { TimerOf(timer)->start(milliseconds); }

void TFormMain::StopTimer(PopupTimer timer) { TimerOf(timer)->stop(); }

void TFormMain::SetMenuChecked(PopupMenuCommand command, bool checked) {
  (command == PopupMenuCommand::ShareWithAllPhones ? MenuShare : MenuStartup)->setChecked(checked);
}

void TFormMain::ShowNotice(const std::string& text) {
  TrayIcon1->showMessage(Text(kProductName), Text(text), QSystemTrayIcon::Warning);
}

bool TFormMain::AskNewVersion() {
  // The notice must not hide behind the always-on-top pop-up.
  const bool visible = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, false);
  if (visible) show();
  const int result = FormNewVersion->exec();
  setWindowFlag(Qt::WindowStaysOnTopHint, true);
  if (visible) show();
  return result == QDialog::Accepted;
}

void TFormMain::ShowAbout() { FormAbout->ShowAbout(); }

void TFormMain::ShowRecentDocuments() { FormRecentDocuments->ShowRecentDocuments(); }

void TFormMain::OpenUrl(const std::string& url) { QDesktopServices::openUrl(QUrl(Text(url))); }

void TFormMain::Quit() { QCoreApplication::quit(); }

bool TFormMain::eventFilter(QObject* watched, QEvent* event) {
  const bool release = event->type() == QEvent::MouseButtonRelease;
  if (watched == settingsIcon) {
    if (release) PopupMenu1->popup(QCursor::pos());
    return release;
  }
  if (watched == vostrelIcon) {
    if (release && IsClickRelease(watched, event)) controller_.LogoClicked();
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
      if (IsClickRelease(part, event)) controller_.ChooserClicked();
      return true;
    default:
      return false;
  }
}
