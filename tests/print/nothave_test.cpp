// The not-have list on a desktop without, with some and with all associations. Each case
// runs the probe in a fresh process, because GIO reads the desktop's files only once.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

#include "tests/print/printtestsupport.h"
#include "tests/support/testenv.h"

namespace {

// A desktop whose only MIME database is the system's and whose only applications are
// the ones a case installs.
class NotHaveListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string& root = PrintTestRoot();
    share_ = root + "share-" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    std::filesystem::create_directories(share_ + "system/applications");
    std::filesystem::create_directories(share_ + "user/applications");
    std::filesystem::create_directories(share_ + "config");
    std::error_code ignored;
    std::filesystem::create_directory_symlink("/usr/share/mime", share_ + "system/mime", ignored);
    setenv("XDG_DATA_DIRS", (share_ + "system").c_str(), 1);
    setenv("XDG_DATA_HOME", (share_ + "user").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (share_ + "config").c_str(), 1);
  }

  void InstallApplication(const std::string& id, const std::string& mimeTypes) {
    ASSERT_TRUE(WriteTestFile(share_ + "user/applications/" + id + ".desktop",
                              "[Desktop Entry]\nType=Application\nName=" + id + "\nExec=true %f\nMimeType=" +
                                  mimeTypes + "\n"));
  }

  std::string Probe() {
    // Installing a package runs this trigger too; GIO reads associations from its cache.
    EXPECT_TRUE(RunAndRead({"update-desktop-database", share_ + "user/applications"}).has_value());
    std::string list = RunAndRead({NOTHAVE_PROBE}).value_or("probe failed");
    if (!list.empty() && list.back() == '\n') list.pop_back();
    return list;
  }

  std::string share_;
};

TEST_F(NotHaveListTest, NothingInstalledReportsEveryToken) {
  EXPECT_EQ(Probe(), "iWork,Office,Office2007,PDF,WebArchive");
}

TEST_F(NotHaveListTest, PdfReaderOnlyDropsThePdfToken) {
  InstallApplication("reader", "application/pdf;");
  EXPECT_EQ(Probe(), "iWork,Office,Office2007,WebArchive");
}

TEST_F(NotHaveListTest, SpreadsheetsAndPdfLeaveOnlyWebArchive) {
  InstallApplication("sheets",
                     "application/vnd.ms-excel;application/vnd.openxmlformats-officedocument.spreadsheetml.sheet;");
  InstallApplication("reader", "application/pdf;");
  EXPECT_EQ(Probe(), "iWork,WebArchive");
}

TEST_F(NotHaveListTest, ARunningProgramSeesAReaderInstalledMeanwhile) {
  const std::string installed = share_ + "user/applications/reader.desktop";
  const std::string entry = share_ + "reader.desktop";
  ASSERT_TRUE(WriteTestFile(entry, "[Desktop Entry]\nType=Application\nName=reader\nExec=true %f\n"
                                   "MimeType=application/pdf;\n"));
  const std::string install = "cp '" + entry + "' '" + installed + "' && update-desktop-database '" + share_ +
                              "user/applications' && sleep 1.1";
  EXPECT_EQ(RunAndRead({NOTHAVE_PROBE, install}),
            "iWork,Office,Office2007,PDF,WebArchive\niWork,Office,Office2007,WebArchive\n");
}

TEST_F(NotHaveListTest, HandlerOfUnknownFilesDoesNotCountForWebArchive) {
  InstallApplication("hexviewer", "application/octet-stream;");
  EXPECT_EQ(Probe(), "iWork,Office,Office2007,PDF,WebArchive");
}

}  // namespace
