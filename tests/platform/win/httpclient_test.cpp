// The HTTP client on WinHTTP against the local HTTPS test relay. scripts/windows.sh runs
// two, each with an authority of its own: OLVARO_TEST_RELAY, whose authority
// (OLVARO_TEST_RELAY_CA) the tests trust, and OLVARO_TEST_UNTRUSTED_RELAY.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>

#include "platform/httpclient.h"
#include "platform/newfile.h"
#include "platform/sockets.h"
#include "tests/support/wintestsupport.h"

namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// The authority's certificate into the machine's root store (Wine's chain engine reads only
// that one), as an administrator would trust it.
bool TrustAuthority(const std::string& pemFile) {
  std::ifstream file(pemFile);
  std::stringstream pem;
  pem << file.rdbuf();
  const std::string text = pem.str();
  DWORD size = 0;
  if (!CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) return false;
  std::string der(size, '\0');
  CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(der.data()), &size, nullptr,
                       nullptr);
  const HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (!store) return false;
  const bool added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<BYTE*>(der.data()),
                                                      size, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  CertCloseStore(store, 0);
  return added;
}

class WinHttpClient : public ::testing::Test {
 protected:
  // Before the first request: Windows reads the root store once per process.
  static void SetUpTestSuite() { trusted = TrustAuthority(Variable("OLVARO_TEST_RELAY_CA")); }
  void SetUp() override {
    ASSERT_FALSE(relay.empty()) << "scripts/windows.sh names the test relays";
    ASSERT_TRUE(trusted);
  }
  static inline bool trusted = false;
  const std::string relay = Variable("OLVARO_TEST_RELAY");
};

TEST_F(WinHttpClient, TalksToTheRelayOverWindowsTls) {
  CHttpClient client;
  client.SetConnectTimeout(5000);
  client.SetReadTimeout(1000);

  // An authority Windows does not know is refused; the check is never turned off.
  EXPECT_EQ(client.Get(Variable("OLVARO_TEST_UNTRUSTED_RELAY") + "/echo").failure, HttpFailure::Tls);

  HttpResult result = client.Get(relay + "/echo?a=1");
  ASSERT_TRUE(result.ok()) << result.error;
  EXPECT_EQ(result.status, 200);
  EXPECT_EQ(result.text, "GET /echo?a=1\nhost: " + relay.substr(8) +
                             "\nuser-agent: Mozilla/3.0 (compatible; Indy Library)\ncontent-type: \n");
  EXPECT_EQ(client.Get(relay + "/latin1").text, "caf\xC3\xA9");

  client.SetHost("print.example");
  result = client.Post(relay + "/form", {"name=J\xC3\xBCrgen Ov", "code=a&b=c"});
  EXPECT_EQ(result.text,
            "POST /form\nhost: print.example\nuser-agent: Mozilla/3.0 (compatible; Indy Library)\n"
            "content-type: application/x-www-form-urlencoded\nname=J%C3%BCrgen+Ov&code=a%26b%3Dc");
  client.SetHost("");

  // Redirects: none followed unless asked, then at most 15.
  EXPECT_EQ(client.Get(relay + "/redirect/1").failure, HttpFailure::Status);
  EXPECT_EQ(client.GetResponseCode(), 302);
  client.SetFollowRedirects(true);
  EXPECT_EQ(client.Get(relay + "/redirect/15").text, "arrived");
  EXPECT_FALSE(client.Get(relay + "/redirect/16").ok());

  EXPECT_EQ(client.Get(relay + "/missing").failure, HttpFailure::Status);
  EXPECT_EQ(client.GetResponseCode(), 404);
  result = client.Get(relay + "/silent");
  EXPECT_EQ(result.failure, HttpFailure::Timeout) << result.error;

  // The relay answers /silent after 3 s: within the read limit, beyond the total one.
  client.SetReadTimeout(5000);
  client.SetTotalTimeout(1000);
  result = client.Get(relay + "/silent");
  EXPECT_EQ(result.failure, HttpFailure::Timeout) << result.error;
  client.SetTotalTimeout(10000);
  std::thread canceller([&client] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    client.Cancel();
  });
  EXPECT_EQ(client.Get(relay + "/silent").failure, HttpFailure::Cancelled);
  canceller.join();
  EXPECT_EQ(client.Get(relay + "/echo").failure, HttpFailure::Cancelled);
}

TEST_F(WinHttpClient, StreamsIntoAFileAndReportsRefusedConnections) {
  ScratchFolder scratch;
  CNewFile file = CNewFile::Create(scratch.Path() + "download.bin");
  CHttpClient client;
  ASSERT_TRUE(client.Get(relay + "/big", file, 3 << 20).ok());
  file.Close();
  CNewFile cut = CNewFile::Create(scratch.Path() + "cut.bin");
  EXPECT_EQ(client.Get(relay + "/big", cut, (3 << 20) - 1).failure, HttpFailure::TooLarge);
  std::ifstream written(scratch.Path() + "download.bin", std::ios::binary | std::ios::ate);
  EXPECT_EQ(written.tellg(), 3 << 20);

  // A bound port that does not listen refuses at once.
  StartSocketLibrary();
  const SOCKET idle = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(idle, reinterpret_cast<sockaddr*>(&address), sizeof address);
  int length = sizeof address;
  getsockname(idle, reinterpret_cast<sockaddr*>(&address), &length);
  client.SetConnectTimeout(3000);
  EXPECT_EQ(client.Get("https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/").failure,
            HttpFailure::Connect);
  closesocket(idle);
}

}  // namespace
