// The driverless printer as its clients see it: the service on a real port, the
// capturing queue chosen, and libcups to ask it.
#pragma once

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "printservice/vostrelhttpserver.h"
#include "tests/support/servicetest.h"

class IppPrinterTest : public testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
  void TearDown() override;

  // A request of this operation for the printer, with the charset, language, printer-uri
  // and requesting-user-name.
  static ipp_t* NewRequest(ipp_op_t operation, const char* user = "alice");
  // Sends the request (and the document, chunked) on the test's connection; the response,
  // owned by the test.
  ipp_t* Ask(ipp_t* request, const std::string& document = {});
  // The request's bytes as they travel, for raw sockets.
  static std::string Serialize(ipp_t* request);
  // Posts `body` to "/ipp/print" on a new connection from `from`; the whole reply.
  static std::string Post(const std::string& body, const char* from = "127.0.0.1");
  // The IPP response inside an HTTP reply; nullptr when there is none.
  static ipp_t* ParseReply(const std::string& reply);
  static ipp_t* ParseIpp(const std::string& message);
  // Waits for the job to reach a finished state; the state.
  int WaitForJobEnd(int jobId);

  static std::string UniqueTitle(const std::string& stem);
  std::set<std::string> SpoolNames() const;

  static inline std::unique_ptr<ServiceTestEnvironment> environment;
  static inline std::unique_ptr<CVostrelHttpServer> server;
  static inline uint16_t port = 0;
  http_t* http = nullptr;
};

// Deletes a libcups message at the end of a scope.
struct IppDeleter {
  void operator()(ipp_t* message) const { ippDelete(message); }
};
using IppPtr = std::unique_ptr<ipp_t, IppDeleter>;
