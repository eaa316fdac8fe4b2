#include "base/hostinfo.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/utsname.h>

#include "platform/osversion.h"
#include "base/hostinfo-private.h"

namespace {

InterfaceAddress Usable(const std::string& address) { return {address, true, true}; }

TEST(SelectIPv4Addresses, LoopbackOnlyGivesNothing) {
  EXPECT_TRUE(SelectIPv4Addresses({Usable("127.0.0.1")}).empty());
  EXPECT_TRUE(SelectIPv4Addresses({}).empty());
}

TEST(SelectIPv4Addresses, FirstFiveInSystemOrder) {
  const std::vector<InterfaceAddress> interfaces = {
      Usable("10.0.0.6"), Usable("127.0.0.1"), Usable("192.168.1.20"), Usable("10.0.0.1"),
      Usable("172.16.0.9"), Usable("10.0.0.3"), Usable("10.0.0.2")};
  EXPECT_EQ(SelectIPv4Addresses(interfaces),
            (std::vector<std::string>{"10.0.0.6", "192.168.1.20", "10.0.0.1", "172.16.0.9", "10.0.0.3"}));
}

TEST(SelectIPv4Addresses, SkipsInterfacesThatAreDownOrNotRunning) {
  const std::vector<InterfaceAddress> interfaces = {
      {"10.0.0.1", false, true}, {"10.0.0.2", true, false}, {"10.0.0.3", false, false},
      {"", true, true},  // the system's value could not be converted
      Usable("127.0.0.2"), Usable("10.0.0.4")};
  EXPECT_EQ(SelectIPv4Addresses(interfaces), (std::vector<std::string>{"127.0.0.2", "10.0.0.4"}));
}

TEST(GetLocalIPv4Addresses, ThisMachine) {
  const std::vector<std::string> addresses = GetLocalIPv4Addresses();
  EXPECT_LE(addresses.size(), 5u);
  for (const std::string& address : addresses) {
    in_addr parsed{};
    EXPECT_EQ(inet_pton(AF_INET, address.c_str(), &parsed), 1) << address;
    EXPECT_NE(address, "127.0.0.1");
  }
}

TEST(GetOsVersionString, ThisMachineWithinLimit) {
  const std::string text = GetOsVersionString();
  ASSERT_FALSE(text.empty());
  EXPECT_LE(text.size(), 39u);
  EXPECT_EQ(DescribeOperatingSystem().rfind(text, 0), 0u) << "a start of the system's own description";
}

TEST(GetLocalHostName, MatchesTheKernelNodeName) {
  utsname system{};
  ASSERT_EQ(uname(&system), 0);
  EXPECT_EQ(GetLocalHostName(), system.nodename);
}

TEST(FormatWindowsVersion, VersionTable) {
  EXPECT_EQ(FormatWindowsVersion(false, 6, 1, 1), "Windows");
  EXPECT_EQ(FormatWindowsVersion(true, 6, 1, 1), "Windows 7");
  EXPECT_EQ(FormatWindowsVersion(true, 6, 0, 1), "Windows Vista");
  EXPECT_EQ(FormatWindowsVersion(true, 5, 1, 1), "Windows XP");
  EXPECT_EQ(FormatWindowsVersion(true, 5, 1, 3), "Windows XP");
  // Server editions of 6.0 and 6.1 (product types 2 and 3) are formatted.
  EXPECT_EQ(FormatWindowsVersion(true, 6, 1, 3), "Windows 6.1");
  EXPECT_EQ(FormatWindowsVersion(true, 6, 0, 2), "Windows 6.0");
  // Windows 8 and later report 6.2 to a program without a compatibility manifest.
  EXPECT_EQ(FormatWindowsVersion(true, 6, 2, 1), "Windows 6.2");
  EXPECT_EQ(FormatWindowsVersion(true, 5, 2, 1), "Windows 5.2");
  EXPECT_EQ(FormatWindowsVersion(true, 4294967295u, 4294967295u, 1), "Windows 4294967295.4294967295");
}

}  // namespace
