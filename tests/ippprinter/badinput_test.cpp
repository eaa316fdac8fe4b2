// Requests that break the rules or the limits: each gets a clear status (or HTTP 400 for
// bytes that are no IPP message), nothing is printed, nothing stays in the spool folder,
// and the printer keeps answering.
#include <functional>
#include <thread>

#include "base/documenthistory.h"
#include "tests/ippprinter/ippprintertest.h"

namespace {

using BadInput = IppPrinterTest;

std::string WithRequestIdZero(std::string bytes) {
  bytes.replace(4, 4, std::string(4, '\0'));
  return bytes;
}

ipp_t* CharsetAfterLanguage() {
  ipp_t* request = ippNew();
  ippSetOperation(request, IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippSetRequestId(request, 7);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language", nullptr, "en");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", nullptr, "utf-8");
  return request;
}

TEST_F(BadInput, RequestsOutsideTheRulesGetTheirStatus) {
  auto with = [](ipp_t* request, const std::function<void(ipp_t*)>& change) {
    change(request);
    return request;
  };
  const std::string longName(300, 'n');
  std::vector<const char*> manyNames(100000, "printer-name");
  const struct {
    const char* what;
    std::string body;
    int status;
  } cases[] = {
      {"version 0.9",
       Serialize(with(NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES), [](ipp_t* r) { ippSetVersion(r, 0, 9); })),
       IPP_STATUS_ERROR_VERSION_NOT_SUPPORTED},
      {"request-id 0", WithRequestIdZero(Serialize(NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES))),
       IPP_STATUS_ERROR_BAD_REQUEST},
      {"charset after language", Serialize(CharsetAfterLanguage()), IPP_STATUS_ERROR_BAD_REQUEST},
      {"unknown operation", Serialize(NewRequest(static_cast<ipp_op_t>(0x4001))),
       IPP_STATUS_ERROR_OPERATION_NOT_SUPPORTED},
      {"another printer",
       Serialize(with(ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES),
                      [](ipp_t* r) {
                        ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                                     "ipp://localhost/printers/other");
                      })),
       IPP_STATUS_ERROR_NOT_FOUND},
      {"300-octet job name",
       Serialize(with(
           NewRequest(IPP_OP_VALIDATE_JOB),
           [&](ipp_t* r) { ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, longName.c_str()); })),
       IPP_STATUS_ERROR_REQUEST_VALUE},
      {"gzip",
       Serialize(
           with(NewRequest(IPP_OP_VALIDATE_JOB),
                [](ipp_t* r) { ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "compression", nullptr, "gzip"); })),
       IPP_STATUS_ERROR_COMPRESSION_NOT_SUPPORTED},
      {"text/plain",
       Serialize(with(NewRequest(IPP_OP_VALIDATE_JOB),
                      [](ipp_t* r) {
                        ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, "text/plain");
                      })),
       IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED},
      {"100,000 requested attributes",
       Serialize(with(NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES),
                      [&](ipp_t* r) {
                        ippAddStrings(r, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                                      static_cast<int>(manyNames.size()), nullptr, manyNames.data());
                      })),
       IPP_STATUS_ERROR_REQUEST_ENTITY},
  };
  for (const auto& c : cases) {
    IppPtr response(ParseReply(Post(c.body)));
    ASSERT_NE(response, nullptr) << c.what;
    EXPECT_EQ(ippGetStatusCode(response.get()), c.status) << c.what;
  }
  // A message broken inside (a reserved delimiter tag), and a head that ends too soon.
  EXPECT_TRUE(Post(std::string("\x02\x00\x00\x0b\x00\x00\x00\x01\x00\x03", 10)).starts_with("HTTP/1.1 400 "));
  EXPECT_TRUE(Post(Serialize(NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES)).substr(0, 20)).starts_with("HTTP/1.1 400 "));
  IppPtr still(Ask(NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES)));
  EXPECT_EQ(ippGetStatusCode(still.get()), IPP_STATUS_OK);
}

TEST_F(BadInput, FaultyDocumentsPrintNothingAndLeaveNothing) {
  std::string pwgHead = std::string("RaS2PwgRaster") + '\0';
  pwgHead.resize(4 + 1796, '\0');  // a page header of zeros: no sizes at all
  const struct {
    const char* what;
    const char* format;
    std::string document;
    int status;
  } cases[] = {
      {"PDF declared as JPEG", "image/jpeg", MakeTestPdf("jpeg?"), IPP_STATUS_ERROR_DOCUMENT_FORMAT_ERROR},
      {"empty", "application/pdf", "", IPP_STATUS_ERROR_DOCUMENT_FORMAT_ERROR},
      {"raster without sizes", "image/pwg-raster", pwgHead + std::string(5000, '\x01'),
       IPP_STATUS_ERROR_DOCUMENT_FORMAT_ERROR},
      {"no known format", "application/octet-stream", "plain words, not a document format at all",
       IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED},
  };
  std::vector<std::string> titles;
  for (const auto& c : cases) {
    titles.push_back(UniqueTitle("ipp-bad"));
    ipp_t* request = NewRequest(IPP_OP_PRINT_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, titles.back().c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, c.format);
    IppPtr response(ParseReply(Post(Serialize(request) + c.document)));
    ASSERT_NE(response, nullptr) << c.what;
    EXPECT_EQ(ippGetStatusCode(response.get()), c.status) << c.what;
    EXPECT_EQ(ippGetInteger(ippFindAttribute(response.get(), "job-state", IPP_TAG_ENUM), 0), IPP_JSTATE_ABORTED)
        << c.what;
    EXPECT_TRUE(SpoolNames().empty()) << c.what;
    const auto history = RecentDocuments();
    ASSERT_FALSE(history.empty());
    EXPECT_EQ(history.front().name, titles.back()) << c.what;
    EXPECT_FALSE(history.front().printed) << c.what;
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));
  for (const std::string& title : titles) {
    EXPECT_TRUE(WaitForCapturedJobs(kServiceTestQueue, title, 1, std::chrono::seconds(0)).empty()) << title;
  }
}

TEST_F(BadInput, ABodyBrokenOffLeavesNothingBehind) {
  const std::string title = UniqueTitle("ipp-brokenoff");
  ipp_t* request = NewRequest(IPP_OP_PRINT_JOB);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title.c_str());
  const std::string head = Serialize(request);
  {
    PhoneConnection client(port);
    ASSERT_TRUE(
        client.Send("POST /ipp/print HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/ipp\r\n"
                    "Transfer-Encoding: chunked\r\n\r\n" +
                    [&] {
                      const std::string data = head + MakeTestPdf(title).substr(0, 200);
                      char size[16];
                      std::snprintf(size, sizeof size, "%zx\r\n", data.size());
                      return size + data + "\r\n";
                    }()));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (SpoolNames().empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_FALSE(SpoolNames().empty()) << "the document never began";
  }
  // The file goes and the job is recorded on the worker once the engine sees the break.
  const auto recorded = [&title] { return !RecentDocuments().empty() && RecentDocuments().front().name == title; };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while ((!SpoolNames().empty() || !recorded()) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(SpoolNames().empty());
  ASSERT_TRUE(recorded());
  EXPECT_FALSE(RecentDocuments().front().printed);
}

}  // namespace
