#include "tests/ippprinter/ippprintertest.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <thread>

namespace {

struct Buffer {
  std::string bytes;
  size_t read = 0;
};

ssize_t WriteToBuffer(void* context, ipp_uchar_t* data, size_t length) {
  static_cast<Buffer*>(context)->bytes.append(reinterpret_cast<const char*>(data), length);
  return static_cast<ssize_t>(length);
}

ssize_t ReadFromBuffer(void* context, ipp_uchar_t* data, size_t length) {
  auto* buffer = static_cast<Buffer*>(context);
  const size_t take = std::min(length, buffer->bytes.size() - buffer->read);
  std::memcpy(data, buffer->bytes.data() + buffer->read, take);
  buffer->read += take;
  return static_cast<ssize_t>(take);
}

}  // namespace

void IppPrinterTest::SetUpTestSuite() {
  environment = std::make_unique<ServiceTestEnvironment>(kServiceTestQueue);
  port = FindFreePort();
  server = std::make_unique<CVostrelHttpServer>();
  server->Start(port);
}

void IppPrinterTest::TearDownTestSuite() {
  server.reset();
  environment.reset();
}

void IppPrinterTest::SetUp() {
  SKIP_WITHOUT_SERVICE(CaptureQueueReady(), "cupsd with the capturing queue " + kServiceTestQueue);
  setenv("LPDEST", kServiceTestQueue.c_str(), 1);
  ASSERT_TRUE(WaitForService(port, std::chrono::seconds(10)));
  http = httpConnect2("localhost", static_cast<int>(port), nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
  ASSERT_NE(http, nullptr);
}

void IppPrinterTest::TearDown() {
  if (http != nullptr) httpClose(http);
}

ipp_t* IppPrinterTest::NewRequest(ipp_op_t operation, const char* user) {
  ipp_t* request = ippNewRequest(operation);
  const std::string uri = "ipp://localhost:" + std::to_string(port) + "/ipp/print";
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, user);
  return request;
}

ipp_t* IppPrinterTest::Ask(ipp_t* request, const std::string& document) {
  if (document.empty()) return cupsDoRequest(http, request, "/ipp/print");
  ipp_t* response = nullptr;
  if (cupsSendRequest(http, request, "/ipp/print", 0) == HTTP_STATUS_CONTINUE &&
      cupsWriteRequestData(http, document.data(), document.size()) == HTTP_STATUS_CONTINUE) {
    response = cupsGetResponse(http, "/ipp/print");
  }
  ippDelete(request);
  return response;
}

std::string IppPrinterTest::Serialize(ipp_t* request) {
  Buffer buffer;
  ippSetState(request, IPP_STATE_IDLE);
  ippWriteIO(&buffer, WriteToBuffer, 1, nullptr, request);
  ippDelete(request);
  return buffer.bytes;
}

std::string IppPrinterTest::Post(const std::string& body, const char* from) {
  PhoneConnection connection(port, from);
  connection.Send(
      "POST /ipp/print HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/ipp\r\n"
      "Connection: close\r\nContent-Length: " +
      std::to_string(body.size()) + "\r\n\r\n" + body);
  return connection.ReadToEnd();
}

ipp_t* IppPrinterTest::ParseReply(const std::string& reply) {
  const size_t body = reply.find("\r\n\r\n");
  if (!reply.starts_with("HTTP/1.1 200 ") || body == std::string::npos) return nullptr;
  return ParseIpp(reply.substr(body + 4));
}

ipp_t* IppPrinterTest::ParseIpp(const std::string& message) {
  Buffer buffer{message};
  ipp_t* response = ippNew();
  if (ippReadIO(&buffer, ReadFromBuffer, 1, nullptr, response) != IPP_STATE_DATA) {
    ippDelete(response);
    return nullptr;
  }
  return response;
}

int IppPrinterTest::WaitForJobEnd(int jobId) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  int state = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    ipp_t* request = NewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
    IppPtr response(Ask(request));
    state = ippGetInteger(ippFindAttribute(response.get(), "job-state", IPP_TAG_ENUM), 0);
    if (state >= IPP_JSTATE_CANCELED) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return state;
}

std::string IppPrinterTest::UniqueTitle(const std::string& stem) {
  return stem + "-" + std::to_string(getpid()) + "-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

std::set<std::string> IppPrinterTest::SpoolNames() const {
  std::set<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(environment->SpoolFolder(), error)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}
