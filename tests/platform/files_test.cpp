#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/filesystem.h"
#include "platform/newfile.h"
#include "platform/tempfolder.h"
#include "tests/support/testenv.h"

namespace {

class PlatformFiles : public testing::Test {
protected:
  TestEnvironment env_;

  static mode_t ModeOf(const std::string& path) {
    struct stat status{};
    return lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
  }
};

TEST_F(PlatformFiles, TempFolderFromTheEnvironment) {
  EXPECT_EQ(GetUserTempFolder(), env_.TempFolder());
  setenv("TMPDIR", (env_.Root() + "tmp/").c_str(), 1);
  EXPECT_EQ(GetUserTempFolder(), env_.TempFolder()) << "a trailing slash is not doubled";
  // A relative or empty TMPDIR does not count; the cache folder on disk comes next, made
  // when missing, never the session's small runtime folder.
  setenv("TMPDIR", "relative/tmp", 1);
  unsetenv("XDG_CACHE_HOME");
  EXPECT_EQ(GetUserTempFolder(), env_.Root() + "home/.cache/");
  EXPECT_TRUE(std::filesystem::is_directory(env_.Root() + "home/.cache"));
  setenv("TMPDIR", "", 1);
  setenv("XDG_CACHE_HOME", (env_.Root() + "cache").c_str(), 1);
  EXPECT_EQ(GetUserTempFolder(), env_.Root() + "cache/");
  setenv("XDG_CACHE_HOME", "relative/cache", 1);
  EXPECT_EQ(GetUserTempFolder(), env_.Root() + "home/.cache/");
  unsetenv("XDG_CACHE_HOME");
}

TEST_F(PlatformFiles, PrivateFolderIsMode0700WhateverTheUmask) {
  const std::string folder = env_.TempFolder() + "private";
  const mode_t previous = umask(0277);
  const bool made = EnsurePrivateFolder(folder);
  umask(previous);
  ASSERT_TRUE(made);
  EXPECT_EQ(ModeOf(folder), 0700u);
  EXPECT_TRUE(EnsurePrivateFolder(folder + "/")) << "an existing private folder stays acceptable";
  EXPECT_FALSE(EnsurePrivateFolder(env_.Root() + "missing/private")) << "no parent folder";
}

TEST_F(PlatformFiles, PathExistsSeesDanglingLinks) {
  const std::string link = env_.TempFolder() + "dangling";
  ASSERT_EQ(symlink((env_.Root() + "nowhere").c_str(), link.c_str()), 0);
  EXPECT_TRUE(PathExists(link));
  EXPECT_TRUE(PathExists(env_.TempFolder()));
  EXPECT_FALSE(PathExists(env_.TempFolder() + "absent"));
}

TEST_F(PlatformFiles, NewFileIsPrivateAndWritesEverything) {
  const std::string path = env_.TempFolder() + "doc.pdf";
  const mode_t previous = umask(0);
  CNewFile file = CNewFile::Create(path);
  umask(previous);
  ASSERT_TRUE(file.IsOpen());
  const std::string block(100000, 'q');
  EXPECT_TRUE(file.Write(block.data(), block.size()));
  EXPECT_TRUE(file.Write("end", 3));
  CNewFile moved = std::move(file);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_TRUE(moved.Close());
  EXPECT_FALSE(moved.Write("x", 1)) << "a closed file takes no data";

  struct stat status{};
  ASSERT_EQ(stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);
  EXPECT_EQ(status.st_size, static_cast<off_t>(block.size() + 3));
}

TEST_F(PlatformFiles, NewFileNeverReplacesOrFollows) {
  const std::string existing = env_.TempFolder() + "existing";
  ASSERT_TRUE(WriteTestFile(existing, "keep"));
  EXPECT_FALSE(CNewFile::Create(existing).IsOpen());

  // A dangling link planted at the name must not make us create its target.
  const std::string target = env_.Root() + "target";
  const std::string link = env_.TempFolder() + "link";
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  EXPECT_FALSE(CNewFile::Create(link).IsOpen());
  EXPECT_FALSE(PathExists(target));
  struct stat status{};
  ASSERT_EQ(stat(existing.c_str(), &status), 0);
  EXPECT_EQ(status.st_size, 4);
}

}  // namespace
