// Renders the pop-up window the way a tray click shows it and saves it as a PNG with
// its transparency: popupscreenshot <output.png>. The printers are the system's; the
// addresses and the auth code are samples, since a picture must not show real ones.
#include <QApplication>
#include <QIcon>

#include <chrono>
#include <cstdio>

#include "desktop/formmain.h"
#include "desktop/widgetparts.h"

namespace {

// Starts nothing: the picture needs the window only.
class NoServices : public DesktopStartup {
 public:
  void Start(std::shared_ptr<CCloudStatusSink>, std::function<void()>) override {}
  void Stop() override {}
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: popupscreenshot <output.png>\n");
    return 2;
  }
  QApplication::setWindowIcon(QIcon(ArtworkPath(QStringLiteral("about.png"))));
  DesktopSources sources;
  sources.localAddresses = [] { return std::vector<std::string>{"192.168.1.20", "10.8.0.3"}; };
  sources.authCode = [] { return std::string("K7Q2XZ"); };
  NoServices services;
  TFormMain form(services, sources);
  form.PopUpBesideTaskbar(1000, 1060, {{0, 1040, 1920, 1080}, TaskbarEdge::Bottom});

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (form.LabelAuthCode->text() != "K7Q2XZ" && std::chrono::steady_clock::now() < deadline) {
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  if (!form.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "popupscreenshot: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
