#include "platform/linux/osrelease.h"

#include <gtest/gtest.h>

#include "platform/osversion.h"

namespace {

TEST(ParseOsReleasePrettyName, QuotingForms) {
  EXPECT_EQ(ParseOsReleasePrettyName("NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n"),
            "Debian GNU/Linux 12 (bookworm)");
  EXPECT_EQ(ParseOsReleasePrettyName("PRETTY_NAME='Fedora \"Linux\" 39'\n"), "Fedora \"Linux\" 39");
  EXPECT_EQ(ParseOsReleasePrettyName("PRETTY_NAME=Arch\\ Linux"), "Arch Linux");
  EXPECT_EQ(ParseOsReleasePrettyName("PRETTY_NAME=\"A \\\"quoted\\\" \\$name \\\\ here\"\n"),
            "A \"quoted\" $name \\ here");
}

TEST(ParseOsReleasePrettyName, WhichLineCounts) {
  EXPECT_EQ(ParseOsReleasePrettyName("NAME=Debian\nID=debian\n"), "");
  EXPECT_EQ(ParseOsReleasePrettyName(""), "");
  EXPECT_EQ(ParseOsReleasePrettyName("# PRETTY_NAME=\"commented\"\nX_PRETTY_NAME=\"other\"\n"), "");
  // As in a shell, the last assignment wins.
  EXPECT_EQ(ParseOsReleasePrettyName("PRETTY_NAME=\"first\"\nPRETTY_NAME=\"second\"\n"), "second");
}

TEST(ParseOsReleasePrettyName, NoControlCharacterSurvives) {
  // The text goes into a header line: a CR from a DOS-edited file or a tab must not.
  EXPECT_EQ(ParseOsReleasePrettyName("PRETTY_NAME=\"My\tOS\"\r\n"), "My OS ");
}

TEST(FormatKernelRelease, MajorAndMinorOnly) {
  EXPECT_EQ(FormatKernelRelease("6.1.0-18-amd64"), "Linux 6.1");
  EXPECT_EQ(FormatKernelRelease("5.15"), "Linux 5.15");
  EXPECT_EQ(FormatKernelRelease("unknown"), "Linux");
  EXPECT_EQ(FormatKernelRelease(""), "Linux");
}

TEST(DescribeOperatingSystem, ThisMachineHasASingleLineName) {
  const std::string name = DescribeOperatingSystem();
  ASSERT_FALSE(name.empty());
  for (const char c : name) EXPECT_GE(static_cast<unsigned char>(c), 0x20) << name;
}

}  // namespace
