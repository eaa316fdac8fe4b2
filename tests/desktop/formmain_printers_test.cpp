// The printer list as the window draws it and a pick made in it, against the CUPS test
// queues (scripts/start-services.sh --test-queues).
#include "desktop/formmain.h"

#include <QApplication>

#include <algorithm>

#include <gtest/gtest.h>

#include "base/settings.h"
#include "print/printers.h"
#include "tests/desktop/desktoptest.h"
#include "tests/support/testenv.h"

namespace {

const TaskbarPosition kBottomTaskbar{{0, 1040, 1920, 1080}, TaskbarEdge::Bottom};
const std::string kQueueA = "OlvaroTestA";
const std::string kQueueB = "OlvaroTestB";

class FormMainPrintersTest : public testing::Test {
 protected:
  void SetUp() override {
    const std::vector<std::string> printers = GetPrinterList();
    for (const std::string& queue : {kQueueA, kQueueB}) {
      SKIP_WITHOUT_SERVICE(std::find(printers.begin(), printers.end(), queue) != printers.end(),
                           "cupsd with the test queues is not running (scripts/start-services.sh --test-queues)");
    }
    WriteSettingString("preferredPrinterName", "");
    SetDefaultPrinterName(kQueueA);
    ASSERT_EQ(GetDefaultPrinterName(), kQueueA);
  }

  QStringList Items(const TFormMain& form) {
    QStringList items;
    for (int i = 0; i < form.printerListBox->count(); ++i) items << form.printerListBox->item(i)->text();
    return items;
  }

  RecordingStartup startup;
};

TEST_F(FormMainPrintersTest, ShowingListsThePrintersAndNamesTheDefault) {
  TFormMain form(startup, FixedSources({}));
  form.PopUpBesideTaskbar(1000, 1060, kBottomTaskbar);
  EXPECT_TRUE(Items(form).contains(QString::fromStdString(kQueueA)));
  EXPECT_TRUE(Items(form).contains(QString::fromStdString(kQueueB)));
  EXPECT_EQ(form.printerListLabel->text().toStdString(), kQueueA);
}

TEST_F(FormMainPrintersTest, PickingStoresThePreferenceAndChangesTheDefault) {
  TFormMain form(startup, FixedSources({}));
  form.PopUpBesideTaskbar(1000, 1060, kBottomTaskbar);
  form.printerListBox->show();
  const auto found = form.printerListBox->findItems(QString::fromStdString(kQueueB), Qt::MatchExactly);
  ASSERT_EQ(found.size(), 1);
  QListWidgetItem* item = found[0];
  const QPoint at = form.printerListBox->visualItemRect(item).center();
  Click(form.printerListBox->viewport(), at);

  EXPECT_EQ(ReadSettingString("preferredPrinterName"), kQueueB);
  EXPECT_EQ(GetDefaultPrinterName(), kQueueB);
  EXPECT_EQ(form.printerListLabel->text().toStdString(), kQueueB);
  EXPECT_TRUE(form.printerListBox->isHidden());
}

}  // namespace
