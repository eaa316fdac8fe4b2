#include <gtest/gtest.h>

#include "base/fileextension.h"
#include "text/utf8.h"

namespace {

TEST(GetFileExtension, LastDotOfTheWholeText) {
  EXPECT_EQ(GetFileExtension("a.b.c.pdf"), 5u);
  EXPECT_EQ(GetFileExtension(".pdf"), 0u);
  EXPECT_EQ(GetFileExtension("name."), 4u);
  EXPECT_EQ(GetFileExtension("README"), std::string::npos);
  EXPECT_EQ(GetFileExtension(""), std::string::npos);
  // Path separators do not stop the search.
  EXPECT_EQ(GetFileExtension("dir.v2/file"), 3u);
  EXPECT_EQ(GetFileExtension("dir.v2\\file"), 3u);
}

TEST(CutUtf8, NeverSplitsACharacter) {
  EXPECT_EQ(CutUtf8("abcdef", 3), "abc");
  EXPECT_EQ(CutUtf8("abc", 3), "abc");
  EXPECT_EQ(CutUtf8("abc", 10), "abc");
  EXPECT_EQ(CutUtf8("abc", 0), "");
  EXPECT_EQ(CutUtf8("a\xC4\x8D", 2), "a");                 // č, 2 bytes
  EXPECT_EQ(CutUtf8("a\xC4\x8D" "b", 3), "a\xC4\x8D");
  EXPECT_EQ(CutUtf8("\xE2\x82\xAC\xE2\x82\xAC", 5), "\xE2\x82\xAC");  // €€, 3 bytes each
  EXPECT_EQ(CutUtf8("\xF0\x9F\x98\x80z", 3), "");          // an emoji, 4 bytes
  EXPECT_EQ(CutUtf8("\xF0\x9F\x98\x80z", 4), "\xF0\x9F\x98\x80");
}

}  // namespace
