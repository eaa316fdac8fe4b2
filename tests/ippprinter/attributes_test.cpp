// What the printer says of itself: built from the chosen queue, for the name the client
// used, in the groups asked for.
#include <thread>

#include "base/hostinfo.h"
#include "base/settings.h"
#include "tests/ippprinter/ippprintertest.h"

namespace {

std::string Text(ipp_t* response, const char* name, int index = 0) {
  const char* text = ippGetString(ippFindAttribute(response, name, IPP_TAG_ZERO), index, nullptr);
  return text == nullptr ? "" : text;
}

bool HasValue(ipp_t* response, const char* name, const char* value) {
  return ippContainsString(ippFindAttribute(response, name, IPP_TAG_ZERO), value) != 0;
}

using Attributes = IppPrinterTest;

TEST_F(Attributes, DescribeTheChosenQueueForTheHostTheClientUsed) {
  IppPtr response(Ask(NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES)));
  ASSERT_EQ(ippGetStatusCode(response.get()), IPP_STATUS_OK);
  const std::string authority = "localhost:" + std::to_string(port);
  EXPECT_EQ(Text(response.get(), "printer-uri-supported"), "ipp://" + authority + "/ipp/print");
  EXPECT_TRUE(Text(response.get(), "printer-more-info").starts_with("http://" + authority + "/"));
  EXPECT_TRUE(Text(response.get(), "printer-icons").starts_with("http://" + authority + "/"));
  EXPECT_EQ(Text(response.get(), "printer-name"), kServiceTestQueue + " @ " + GetLocalHostName());
  EXPECT_EQ(Text(response.get(), "printer-uuid"), ReadPrinterUuid());
  EXPECT_TRUE(Text(response.get(), "printer-uuid").starts_with("urn:uuid:"));
  EXPECT_TRUE(ippGetBoolean(ippFindAttribute(response.get(), "printer-is-accepting-jobs", IPP_TAG_BOOLEAN), 0));
  for (const char* format :
       {"application/pdf", "image/jpeg", "image/pwg-raster", "image/urf", "application/octet-stream"}) {
    EXPECT_TRUE(HasValue(response.get(), "document-format-supported", format)) << format;
  }
  EXPECT_TRUE(HasValue(response.get(), "ipp-features-supported", "ipp-everywhere-server"));
  EXPECT_TRUE(HasValue(response.get(), "ipp-versions-supported", "2.0"));
  // The capturing queue's sheet is Letter.
  EXPECT_EQ(Text(response.get(), "media-default"), "na_letter_8.5x11in");
  EXPECT_TRUE(HasValue(response.get(), "media-supported", "na_letter_8.5x11in"));
  // "all" leaves out the database, which comes only by its name.
  EXPECT_EQ(ippFindAttribute(response.get(), "media-col-database", IPP_TAG_ZERO), nullptr);
}

TEST_F(Attributes, GroupsAndNamesSelectWhatComesBack) {
  const struct {
    std::vector<const char*> requested;
    std::vector<const char*> present;
    std::vector<const char*> absent;
  } cases[] = {
      {{"media-col-database"}, {"media-col-database"}, {"printer-name", "copies-supported"}},
      {{"job-template"}, {"copies-supported", "media-supported", "sides-default"}, {"printer-name"}},
      {{"printer-description"}, {"printer-name", "printer-state"}, {"copies-supported", "media-col-database"}},
      {{"printer-state", "queued-job-count"}, {"printer-state", "queued-job-count"}, {"printer-name"}},
  };
  for (const auto& c : cases) {
    ipp_t* request = NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(c.requested.size()), nullptr, c.requested.data());
    IppPtr response(Ask(request));
    ASSERT_EQ(ippGetStatusCode(response.get()), IPP_STATUS_OK) << c.requested[0];
    for (const char* name : c.present) EXPECT_NE(ippFindAttribute(response.get(), name, IPP_TAG_ZERO), nullptr) << name;
    for (const char* name : c.absent) EXPECT_EQ(ippFindAttribute(response.get(), name, IPP_TAG_ZERO), nullptr) << name;
  }
}

TEST_F(Attributes, VersionsAreAnsweredAsSpoken) {
  for (const auto& [major, minor, answerMajor, answerMinor] :
       {std::tuple{1, 1, 1, 1}, std::tuple{2, 0, 2, 0}, std::tuple{2, 2, 2, 0}}) {
    ipp_t* request = NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippSetVersion(request, major, minor);
    IppPtr response(Ask(request));
    int gotMinor = 0;
    EXPECT_EQ(ippGetVersion(response.get(), &gotMinor), answerMajor);
    EXPECT_EQ(gotMinor, answerMinor);
    EXPECT_EQ(ippGetStatusCode(response.get()), IPP_STATUS_OK);
  }
}

TEST_F(Attributes, ChangingTheChosenPrinterMovesTheConfigChangeTime) {
  auto ask = [this] {
    ipp_t* request = NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    const char* names[] = {"printer-config-change-time", "printer-name"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, names);
    IppPtr response(Ask(request));
    return std::pair{ippGetInteger(ippFindAttribute(response.get(), "printer-config-change-time", IPP_TAG_INTEGER), 0),
                     Text(response.get(), "printer-name")};
  };
  const auto before = ask();
  // The printer asks the spooler again once two seconds have passed.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  setenv("LPDEST", "OlvaroTestB", 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const auto after = ask();
  setenv("LPDEST", kServiceTestQueue.c_str(), 1);
  EXPECT_TRUE(after.second.starts_with("OlvaroTestB @ ")) << after.second;
  EXPECT_GT(after.first, before.first);
  // The next cases find the capturing queue chosen again.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!ask().second.starts_with(kServiceTestQueue + " @ ") && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
}

TEST_F(Attributes, PageAndIconAreServedAndSharingOffWithdrawsAll) {
  const std::string page =
      ExchangeWithService(port, "GET /ipp/printer HTTP/1.1\r\nHost: pc.local\r\nConnection: close\r\n\r\n");
  EXPECT_TRUE(page.starts_with("HTTP/1.1 200 OK\r\n")) << page.substr(0, 200);
  EXPECT_NE(page.find(kServiceTestQueue), std::string::npos) << page;
  EXPECT_NE(page.find("ipp://pc.local:" + std::to_string(port) + "/ipp/print"), std::string::npos);
  const std::string icon = ExchangeWithService(port, "GET /ipp/icon.png HTTP/1.1\r\nConnection: close\r\n\r\n");
  EXPECT_NE(icon.find("Content-Type: image/png\r\n"), std::string::npos);
  EXPECT_NE(icon.find("\r\n\r\n\x89PNG\r\n"), std::string::npos);

  ASSERT_TRUE(WriteShareWithAllPhones(false));
  const std::string printer = Post(Serialize(NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES)));
  const std::string pageOff = ExchangeWithService(port, "GET /ipp/printer HTTP/1.1\r\nConnection: close\r\n\r\n");
  ASSERT_TRUE(WriteShareWithAllPhones(true));
  EXPECT_TRUE(printer.starts_with("HTTP/1.1 404 ")) << printer.substr(0, 200);
  EXPECT_TRUE(pageOff.starts_with("HTTP/1.1 404 ")) << pageOff.substr(0, 200);
}

}  // namespace
