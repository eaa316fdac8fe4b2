#include "base/spool.h"

#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/filesystem.h"
#include "base/spool-private.h"
#include "tests/support/testenv.h"

namespace {

uint64_t NowUtc() { return UnixTimeToFileTime(time(nullptr), 0); }

constexpr uint64_t kHour = kFileTimeDay / 24;

class Spool : public testing::Test {
protected:
  TestEnvironment env_;
  const std::string folder_ = env_.TempFolder() + "OlvaroDesktop/";

  // Stores an upload the way the upload handler does; returns the spool file's name.
  std::string Store(const std::string& uploadedName) {
    const std::string path = MakeSpoolPath(uploadedName);
    if (path.rfind(folder_, 0) != 0) return "<outside the spool folder: " + path + ">";
    CNewFile file = CreateSpoolFile(path);
    if (!file.IsOpen() || !file.Write("%PDF", 4) || !file.Close()) return "<not created: " + path + ">";
    return path.substr(folder_.size());
  }
};

TEST_F(Spool, FolderIsCreatedPrivateInTheTempFolder) {
  EXPECT_EQ(GetSpoolFolder(), folder_);
  struct stat status{};
  ASSERT_EQ(lstat(folder_.c_str(), &status), 0);
  EXPECT_TRUE(S_ISDIR(status.st_mode));
  EXPECT_EQ(status.st_mode & 07777, 0700u);

  // Without TMPDIR documents go to the cache folder on disk, made when missing, never to
  // the session's small runtime folder.
  unsetenv("TMPDIR");
  unsetenv("XDG_CACHE_HOME");
  EXPECT_EQ(GetSpoolFolder(), env_.Root() + "home/.cache/OlvaroDesktop/");
  setenv("XDG_CACHE_HOME", (env_.Root() + "cache").c_str(), 1);
  EXPECT_EQ(GetSpoolFolder(), env_.Root() + "cache/OlvaroDesktop/");
  unsetenv("XDG_CACHE_HOME");
  setenv("TMPDIR", (env_.Root() + "missing").c_str(), 1);
  EXPECT_EQ(GetSpoolFolder(), "") << "a temporary folder that does not exist";
  EXPECT_EQ(MakeSpoolPath("a.pdf"), "");
}

TEST_F(Spool, RepeatedNamesAreNumbered) {
  EXPECT_EQ(Store("report.pdf"), "report.pdf");
  EXPECT_EQ(Store("report.pdf"), "report 2.pdf");
  EXPECT_EQ(Store("report.pdf"), "report 3.pdf");
  EXPECT_EQ(Store("a.b.c.pdf"), "a.b.c.pdf");
  EXPECT_EQ(Store("a.b.c.pdf"), "a.b.c 2.pdf");
  EXPECT_EQ(Store("README"), "README");
  EXPECT_EQ(Store("README"), "README 2");
  EXPECT_EQ(Store(".pdf"), ".pdf");
  EXPECT_EQ(Store(".pdf"), " 2.pdf");
  // An empty name first meets the spool folder itself.
  EXPECT_EQ(Store(""), " 2");
  EXPECT_EQ(Store(""), " 3");
  // Letter case is significant on this file system.
  EXPECT_EQ(Store("Report.PDF"), "Report.PDF");
}

TEST_F(Spool, NumberingLooksOnlyAtWhatExists) {
  ASSERT_EQ(GetSpoolFolder(), folder_);
  ASSERT_TRUE(WriteTestFile(folder_ + "report 2.pdf"));
  EXPECT_EQ(Store("report.pdf"), "report.pdf");
  EXPECT_EQ(Store("report.pdf"), "report 3.pdf");
  // A folder or a dangling link at a name counts as taken too.
  ASSERT_EQ(mkdir((folder_ + "scan.png").c_str(), 0700), 0);
  ASSERT_EQ(symlink((env_.Root() + "nowhere").c_str(), (folder_ + "scan 2.png").c_str()), 0);
  EXPECT_EQ(Store("scan.png"), "scan 3.png");
  EXPECT_FALSE(PathExists(env_.Root() + "nowhere"));
}

TEST_F(Spool, ReservedCharactersBecomeUnderscores) {
  EXPECT_EQ(Store("a/b:c?.pdf"), "a_b_c_.pdf");
  const std::string reserved = "\"*+,/:;<=>?[\\]";
  EXPECT_EQ(Store(reserved + "." + reserved), "______________.______________");
  EXPECT_EQ(Store("../../etc/passwd"), ".._.._etc_passwd") << "never leaves the folder";
  // Everything else stays: '|', control characters, spaces, non-ASCII letters.
  EXPECT_EQ(Store("a|b\tc  d.pdf"), "a|b\tc  d.pdf");
  EXPECT_EQ(Store("\xC5\xBDlu\xC5\xA5ou\xC4\x8Dk\xC3\xBD k\xC5\xAF\xC5\x88.pdf"),
            "\xC5\xBDlu\xC5\xA5ou\xC4\x8Dk\xC3\xBD k\xC5\xAF\xC5\x88.pdf");
  // A name ends at its first NUL, as a C string would.
  EXPECT_EQ(Store(std::string("a\0/../../b.pdf", 14)), "a");
}

TEST_F(Spool, LongNamesAreShortenedKeepingTheExtension) {
  EXPECT_EQ(Store(std::string(300, 'x') + ".pdf"), std::string(251, 'x') + ".pdf");
  EXPECT_EQ(Store(std::string(300, 'x') + ".pdf"), std::string(249, 'x') + " 2.pdf");
  std::string euros;
  for (int i = 0; i < 100; ++i) euros += "\xE2\x82\xAC";
  // 251 bytes of room for the base; the cut falls back to the end of the 83rd euro sign.
  EXPECT_EQ(Store(euros + ".txt"), euros.substr(0, 249) + ".txt");
  EXPECT_EQ(Store(euros + ".txt"), euros.substr(0, 249) + " 2.txt");
  // An extension longer than any name is cut too, so the file can still be made.
  const std::string longExtension = "." + std::string(300, 'e');
  EXPECT_EQ(Store("a" + longExtension), longExtension.substr(0, 255));
  EXPECT_EQ(Store("a" + longExtension), " 2" + longExtension.substr(0, 253));
}

TEST_F(Spool, SpoolFilesAreCreatedOnlyInsideTheFolder) {
  const std::string path = MakeSpoolPath("doc.pdf");
  CNewFile file = CreateSpoolFile(path);
  ASSERT_TRUE(file.IsOpen());
  file.Close();
  struct stat status{};
  ASSERT_EQ(stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);

  EXPECT_FALSE(CreateSpoolFile(path).IsOpen()) << "an existing file is never reused";
  EXPECT_FALSE(CreateSpoolFile(env_.TempFolder() + "outside.pdf").IsOpen());
  EXPECT_FALSE(CreateSpoolFile(folder_).IsOpen());
  ASSERT_EQ(mkdir((folder_ + "sub").c_str(), 0700), 0);
  EXPECT_FALSE(CreateSpoolFile(folder_ + "sub/inner.pdf").IsOpen());
  EXPECT_FALSE(CreateSpoolFile(folder_ + "../escape.pdf").IsOpen());
  EXPECT_FALSE(CreateSpoolFile(folder_ + std::string("x\0y", 3)).IsOpen());
  EXPECT_FALSE(PathExists(env_.TempFolder() + "outside.pdf"));
  EXPECT_FALSE(PathExists(folder_ + "sub/inner.pdf"));
  EXPECT_FALSE(PathExists(env_.TempFolder() + "escape.pdf"));
  EXPECT_FALSE(PathExists(folder_ + "x"));
}

TEST_F(Spool, FileFindListsEntriesWithCreationTimes) {
  ASSERT_EQ(GetSpoolFolder(), folder_);
  ASSERT_TRUE(WriteTestFile(folder_ + "a.pdf"));
  ASSERT_EQ(mkdir((folder_ + "sub").c_str(), 0700), 0);
  ASSERT_EQ(symlink(env_.Root().c_str(), (folder_ + "link").c_str()), 0);
  // An old modification time must not pass for the creation time.
  const timespec old[2] = {{631152000, 0}, {631152000, 0}};  // 1990-01-01
  ASSERT_EQ(utimensat(AT_FDCWD, (folder_ + "a.pdf").c_str(), old, 0), 0);

  std::map<std::string, bool> directories;
  CFileFind finder;
  ASSERT_TRUE(finder.FindFile(folder_));
  do {
    const std::string path = finder.GetFilePath();
    ASSERT_EQ(path.rfind(folder_, 0), 0u) << path;
    directories[path.substr(folder_.size())] = finder.IsDirectory();
    EXPECT_EQ(finder.IsDots(), path == folder_ + "." || path == folder_ + "..") << path;
    if (!finder.IsDots()) {
      EXPECT_LE(finder.GetCreationTime(), NowUtc() + kFileTimeDay / 86400) << path;
      EXPECT_GE(finder.GetCreationTime() + 60 * kFileTimeDay / 86400, NowUtc()) << path;
    }
  } while (finder.FindNextFile());
  finder.Close();
  EXPECT_EQ(directories, (std::map<std::string, bool>{{".", true}, {"..", true}, {"a.pdf", false},
                                                      {"link", false}, {"sub", true}}));
  EXPECT_FALSE(finder.FindFile(folder_ + "absent/"));
  EXPECT_FALSE(finder.FindFile(folder_ + "link/")) << "a link is not searched, even with a slash";
}

TEST_F(Spool, CleanUpDeletesWhatIsADayOld) {
  ASSERT_EQ(GetSpoolFolder(), folder_);
  ASSERT_TRUE(WriteTestFile(folder_ + "job.pdf"));
  // Birth times cannot be set, so the reference time moves instead: 23 hours after the
  // file was made it stays, 25 hours after it goes.
  CleanSpoolFolderAt(NowUtc() + 23 * kHour);
  EXPECT_TRUE(PathExists(folder_ + "job.pdf"));
  CleanSpoolFolderAt(NowUtc() + 25 * kHour);
  EXPECT_FALSE(PathExists(folder_ + "job.pdf"));
}

TEST_F(Spool, CleanUpBoundaryIsExactlyOneDay) {
  ASSERT_EQ(GetSpoolFolder(), folder_);
  ASSERT_TRUE(WriteTestFile(folder_ + "edge.pdf"));
  CFileFind finder;
  uint64_t created = 0;
  ASSERT_TRUE(finder.FindFile(folder_));
  do {
    if (finder.GetFilePath() == folder_ + "edge.pdf") created = finder.GetCreationTime();
  } while (finder.FindNextFile());
  finder.Close();
  ASSERT_NE(created, 0u);
  CleanSpoolFolderAt(created + kFileTimeDay - 1);
  EXPECT_TRUE(PathExists(folder_ + "edge.pdf"));
  CleanSpoolFolderAt(created + kFileTimeDay);
  EXPECT_FALSE(PathExists(folder_ + "edge.pdf"));
}

TEST_F(Spool, CleanUpNeverEntersFoldersNorFollowsLinks) {
  ASSERT_EQ(GetSpoolFolder(), folder_);
  ASSERT_EQ(mkdir((folder_ + "sub").c_str(), 0700), 0);
  ASSERT_TRUE(WriteTestFile(folder_ + "sub/inner.pdf"));
  const std::string outsideFile = env_.Root() + "outside.pdf";
  const std::string outsideFolder = env_.Root() + "outside/";
  ASSERT_TRUE(WriteTestFile(outsideFile));
  ASSERT_EQ(mkdir(outsideFolder.c_str(), 0700), 0);
  ASSERT_TRUE(WriteTestFile(outsideFolder + "kept.pdf"));
  ASSERT_EQ(symlink(outsideFile.c_str(), (folder_ + "file-link").c_str()), 0);
  ASSERT_EQ(symlink(outsideFolder.c_str(), (folder_ + "folder-link").c_str()), 0);

  CleanSpoolFolderAt(NowUtc() + 1000 * kFileTimeDay);
  EXPECT_TRUE(PathExists(folder_ + "sub/inner.pdf"));
  // Links are removed as links; what they point to stays.
  EXPECT_FALSE(PathExists(folder_ + "file-link"));
  EXPECT_FALSE(PathExists(folder_ + "folder-link"));
  EXPECT_TRUE(PathExists(outsideFile));
  EXPECT_TRUE(PathExists(outsideFolder + "kept.pdf"));
}

// The public clean-up measures against the local clock: a zone a full day east of UTC
// makes a file created just now old enough, UTC does not.
class SpoolLocalClock : public Spool {
protected:
  void TearDown() override {
    unsetenv("TZ");
    tzset();
  }
  static void UseZone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }
};

TEST_F(SpoolLocalClock, CleanUpUsesLocalTime) {
  ASSERT_EQ(GetSpoolFolder(), folder_);
  ASSERT_TRUE(WriteTestFile(folder_ + "fresh.pdf"));
  const timespec old[2] = {{631152000, 0}, {631152000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (folder_ + "fresh.pdf").c_str(), old, 0), 0);
  UseZone("UTC0");
  CleanSpoolFolder();
  EXPECT_TRUE(PathExists(folder_ + "fresh.pdf")) << "an old modification time does not count";
  UseZone("XYZ-24:59");
  CleanSpoolFolder();
  EXPECT_FALSE(PathExists(folder_ + "fresh.pdf"));
}

// Something other than our own private folder stands where the spool folder belongs.
enum class Intruder { LinkToAnotherFolder, WrongMode, OtherOwner, PlainFile };

class UnsafeSpoolFolder : public Spool, public testing::WithParamInterface<Intruder> {
protected:
  // Plants the intruder; returns a file that must survive, or "" when there is none.
  std::string Plant() {
    const std::string spool = env_.TempFolder() + "OlvaroDesktop";
    switch (GetParam()) {
      case Intruder::LinkToAnotherFolder: {
        const std::string other = env_.Root() + "other";
        mkdir(other.c_str(), 0700);
        symlink(other.c_str(), spool.c_str());
        return WriteTestFile(other + "/victim.pdf") ? other + "/victim.pdf" : "";
      }
      case Intruder::WrongMode:
        mkdir(spool.c_str(), 0700);
        chmod(spool.c_str(), 0755);
        return WriteTestFile(spool + "/victim.pdf") ? spool + "/victim.pdf" : "";
      case Intruder::OtherOwner:
        mkdir(spool.c_str(), 0700);
        if (!WriteTestFile(spool + "/victim.pdf") || chown(spool.c_str(), geteuid() + 1, getegid() + 1) != 0) return "";
        return spool + "/victim.pdf";
      case Intruder::PlainFile:
        WriteTestFile(spool);
        return spool;
    }
    return "";
  }
};

TEST_P(UnsafeSpoolFolder, NothingIsWrittenOrDeleted) {
  const std::string victim = Plant();
  if (victim.empty() && GetParam() == Intruder::OtherOwner && geteuid() != 0) {
    GTEST_SKIP() << "handing a folder to another user needs root";
  }
  ASSERT_FALSE(victim.empty());
  struct stat before{};
  ASSERT_EQ(lstat((env_.TempFolder() + "OlvaroDesktop").c_str(), &before), 0);

  EXPECT_EQ(GetSpoolFolder(), "");
  EXPECT_EQ(MakeSpoolPath("x.pdf"), "");
  EXPECT_FALSE(CreateSpoolFile(folder_ + "x.pdf").IsOpen());
  EXPECT_FALSE(PathExists(folder_ + "x.pdf"));
  CleanSpoolFolderAt(NowUtc() + 1000 * kFileTimeDay);
  CleanSpoolFolder();
  EXPECT_TRUE(PathExists(victim));

  struct stat after{};
  ASSERT_EQ(lstat((env_.TempFolder() + "OlvaroDesktop").c_str(), &after), 0);
  EXPECT_EQ(after.st_mode, before.st_mode) << "left as found";
  EXPECT_EQ(after.st_uid, before.st_uid);
}

INSTANTIATE_TEST_SUITE_P(Intruders, UnsafeSpoolFolder,
                         testing::Values(Intruder::LinkToAnotherFolder, Intruder::WrongMode, Intruder::OtherOwner,
                                         Intruder::PlainFile),
                         [](const testing::TestParamInfo<Intruder>& info) {
                           switch (info.param) {
                             case Intruder::LinkToAnotherFolder: return "LinkToAnotherFolder";
                             case Intruder::WrongMode: return "WrongMode";
                             case Intruder::OtherOwner: return "OtherOwner";
                             case Intruder::PlainFile: return "PlainFile";
                           }
                           return "Unknown";
                         });

}  // namespace
