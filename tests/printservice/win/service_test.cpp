// The print service as a phone sees it on Windows: "/info" and "/print" over loopback,
// spool files in the user's temporary folder, the outside programs' command lines, and
// the service answering without DNS-SD.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "platform/filesystem.h"
#include "platform/sockets.h"
#include "platform/spooler.h"
#include "platform/win/dnsregistration.h"
#include "platform/win/print/windowsprint.h"
#include "print/printer.h"
#include "print/printers.h"
#include "printservice/vostrelhttpserver.h"
#include "base/hostinfo.h"
#include "platform/win/widetext.h"
#include "tests/support/wintestsupport.h"

namespace {

constexpr char kUuid[] = "0f3c1c2e-7b55-4e0c-9d55-3c4ab1a2c0de";
constexpr char kProgramKey[] = "HKCU\\SOFTWARE\\Vostrel\\OlvaroDesktop";

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The lines the stand-in programs logged, waiting up to 10 s for `count` of them.
std::string StandinLines(const std::filesystem::path& log, size_t count) {
  std::string text;
  for (int i = 0; i < 100; ++i) {
    text = ReadFile(log);
    if (static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) >= count) break;
    std::this_thread::sleep_for(100ms);
  }
  return text;
}

// The path as Windows writes it, with '\'.
std::string Backslashed(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string PrintReply(int user, int internal) {
  return "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\nX-Desktop-Os: " + GetOsVersionString() +
         "\r\nX-Desktop-App-Version: 1.3.6\r\nX-Send-To-Print-Error-Number-User: " + std::to_string(user) +
         "\r\nX-Send-To-Print-Error-Number-Internal: " + std::to_string(internal) + "\r\nX-Cloud-UUID: " + kUuid +
         "\r\n\r\n";
}

class WinService : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    RunAndCapture(std::string("reg add ") + kProgramKey + " /v Magic /d " + kUuid + " /f");
    // Whatever prints goes to the capturing queue, never to the machine's default.
    ASSERT_TRUE(SetDefaultPrintQueue("OlvaroTestA"));
    std::string error;
    uint16_t free = 0;
    const int probe = OpenListeningSocket(0x7F000001, free, 1, error);
    CloseSocket(probe);
    port = free;
    server = new CVostrelHttpServer;
    server->Start(port);
  }
  static void TearDownTestSuite() { delete server; }

  void SetUp() override {
    log_ = std::filesystem::u8path(scratch_.Path()) / "standin.log";
    _wputenv_s(L"OLVARO_STANDIN_LOG", log_.wstring().c_str());
  }

  // The head of a "/print" request for `length` bytes.
  static std::string PrintHead(const std::string& name, size_t length) {
    return "POST /print HTTP/1.1\r\nX-FileName: " + name +
           "\r\nX-Copies: 1\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
  }
  std::string Upload(const std::string& name, const std::string& body) {
    return Exchange(port, PrintHead(name, body.size()) + body);
  }

  static std::string SpoolFolder() { return Backslashed(ToUtf8(_wgetenv(L"TEMP"))) + "\\OlvaroDesktop\\"; }

  static inline int port = 0;
  static inline CVostrelHttpServer* server = nullptr;
  ScratchFolder scratch_;
  std::filesystem::path log_;
};

TEST_F(WinService, InfoAnswersWithoutDnsSd) {
  // Wine has neither Bonjour nor Windows' own DNS-SD: the service answers all the same.
  const std::string expected = "HTTP/1.1 204 No Content\r\nX-Hostname: " + GetLocalHostName() +
                               "\r\nX-Not-Have: " + BuildNotHaveList() + "\r\nX-Desktop-Os: " + GetOsVersionString() +
                               "\r\nConnection: close\r\nX-Desktop-App-Version: 1.3.6\r\nX-Cloud-Uuid: " + kUuid +
                               "\r\n\r\n";
  EXPECT_EQ(Exchange(port, "GET /info HTTP/1.1\r\n\r\n"), expected);
  EXPECT_FALSE(GetLocalHostName().empty());
}

TEST_F(WinService, TheNotHaveListFollowsAssociationsChangedWhileRunning) {
  constexpr char kKey[] = "HKLM\\Software\\Classes\\.webarchive";
  const auto notHave = [] {
    // What "/info" reports once the list kept for a second has run out.
    std::this_thread::sleep_for(1100ms);
    const std::string reply = Exchange(port, "GET /info HTTP/1.1\r\n\r\n");
    const size_t start = reply.find("X-Not-Have: ");
    return start == std::string::npos ? std::string("none")
                                      : reply.substr(start + 12, reply.find('\r', start) - start - 12);
  };
  RunAndCapture(std::string("reg delete ") + kKey + " /f 2>NUL");
  ASSERT_NE(notHave().find(",WebArchive"), std::string::npos);
  // A key without a program, as a program leaves one that only lists itself under it.
  RunAndCapture(std::string("reg add ") + kKey + " /v \"Content Type\" /d application/x-webarchive /f");
  EXPECT_NE(notHave().find(",WebArchive"), std::string::npos);
  // A program chosen later changes only that key.
  RunAndCapture(std::string("reg add ") + kKey + " /ve /d Olvaro.WebArchive /f");
  EXPECT_EQ(notHave().find(",WebArchive"), std::string::npos);
  RunAndCapture(std::string("reg delete ") + kKey + " /f");
  EXPECT_NE(notHave().find(",WebArchive"), std::string::npos);
}

TEST_F(WinService, AFullDiskRefusesOrFailsAnUploadAndKeepsNoPartOfIt) {
  // A file system of 32 MiB that scripts/windows.sh mounts, seen through Wine's drive Z:.
  // A copy: changing the environment below may free the text getenv points to.
  const std::string small = std::getenv("OLVARO_TEST_SMALL_DISK") ? std::getenv("OLVARO_TEST_SMALL_DISK") : "";
  if (small.empty() && std::getenv("CI")) FAIL() << "OLVARO_TEST_SMALL_DISK is not set";
  if (small.empty()) GTEST_SKIP() << "mounting a small file system needs root";
  const int64_t free = FreeBytesAt(small);
  ASSERT_TRUE(free > (20 << 20) && free <= (32 << 20)) << free;
  const std::wstring tmp = _wgetenv(L"TMP"), temp = _wgetenv(L"TEMP");
  _wputenv_s(L"TMP", ToWide(small).c_str());
  _wputenv_s(L"TEMP", ToWide(small).c_str());
  const std::filesystem::path spool = std::filesystem::u8path(small) / "OlvaroDesktop";

  // Announced larger than the free space: refused before any byte of the body.
  const std::string refusal = Exchange(port, PrintHead("huge.pdf", 40 << 20));
  // Fits when it begins; the disk fills up while the body is on its way.
  WireClient phone(port);
  ASSERT_TRUE(phone.Send(PrintHead("filling.pdf", 4 << 20) + std::string(65536, 'x')));
  for (int i = 0; i < 100 && !std::filesystem::exists(spool / "filling.pdf"); ++i) std::this_thread::sleep_for(50ms);
  {
    std::ofstream filler(std::filesystem::u8path(small) / "filler", std::ios::binary);
    const std::string block(65536, 'f');
    for (int64_t written = 0; written < free && filler.write(block.data(), block.size()) && filler.flush();) {
      written += static_cast<int64_t>(block.size());
    }
  }
  phone.Send(std::string((4 << 20) - 65536, 'x'));
  const std::string failure = phone.ReadAll();
  const bool partLeft = std::filesystem::exists(spool / "filling.pdf");
  std::filesystem::remove(std::filesystem::u8path(small) / "filler");
  std::filesystem::remove_all(spool);
  _wputenv_s(L"TMP", tmp.c_str());
  _wputenv_s(L"TEMP", temp.c_str());

  EXPECT_EQ(refusal, PrintReply(65535, -1));
  EXPECT_TRUE(failure.starts_with(PrintReply(65535, -2))) << failure;
  EXPECT_FALSE(partLeft);
}

TEST_F(WinService, UploadLandsInTheTempFolderAndSumatraGetsItsCommandLine) {
  const std::string body = "%PDF-1.4 not much of a document";
  EXPECT_EQ(Upload("my report.pdf", body), PrintReply(0, 200));
  const std::string spooled = SpoolFolder() + "my report.pdf";
  EXPECT_EQ(ReadFile(std::filesystem::u8path(spooled)), body);
  EXPECT_EQ(StandinLines(log_, 1), "SumatraPDF.exe -print-to-default -exit-on-print \"" + spooled + "\"\n");
  std::filesystem::remove(std::filesystem::u8path(spooled));
}

TEST_F(WinService, WordIsFoundThroughItsServerRegistration) {
  const std::string folder = scratch_.Path();
  const std::string word = folder + "Office Folder/WINWORD.EXE";
  std::filesystem::create_directories(std::filesystem::u8path(folder + "Office Folder"));
  std::filesystem::copy_file(std::filesystem::path(_wpgmptr).parent_path() / "SumatraPDF.exe",
                             std::filesystem::u8path(word));
  const std::string server = Backslashed(word);
  RunAndCapture(
      "reg add HKLM\\Software\\Classes\\Word.Application\\CLSID /ve /d {000209FF-0000-0000-C000-000000000046} /f");
  RunAndCapture(
      "reg add HKLM\\Software\\Classes\\CLSID\\{000209FF-0000-0000-C000-000000000046}\\LocalServer32 /ve /d \"" +
      server + " /automation\" /f");
  // The switch goes; the blank before it stays.
  EXPECT_EQ(FindLocalServerPath("Word.Application"), server + " ");

  const std::string document = folder + "a letter.docx";
  std::ofstream(std::filesystem::u8path(document)) << "PK not really";
  EXPECT_TRUE(PrintFile(document));
  const std::string line = StandinLines(log_, 1);
  EXPECT_NE(line.find("\"" + Backslashed(document) + "\" /q /n /mFilePrintDefault /mFileExit\n"), std::string::npos)
      << line;
  RunAndCapture("reg delete HKLM\\Software\\Classes\\Word.Application /f");
  EXPECT_EQ(FindLocalServerPath("Word.Application"), "");
}

TEST_F(WinService, FilesThatCannotPrintFail) {
  const std::string folder = scratch_.Path();
  std::ofstream(std::filesystem::u8path(folder + "empty.pdf")).close();
  EXPECT_FALSE(PrintFile(folder + "empty.pdf"));
  std::ofstream(std::filesystem::u8path(folder + "page.webarchive")) << "bplist00";
  // Windows answers 1155 (no association), Wine 193.
  EXPECT_NE(PrintWithShellVerb(folder + "page.webarchive"), 0);
  std::ofstream(std::filesystem::u8path(folder + "photo.png")) << "not a picture";
  EXPECT_NE(PrintImageFile(folder + "photo.png"), 0);
  EXPECT_EQ(StandinLines(log_, 0), "");
}

// A 4 x 2 pixel 24-bit BMP at 96 dots per inch.
std::string SmallBitmap() {
  const auto le = [](uint32_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
  };
  const std::string pixels(2 * 12, '\x80');  // rows of 4 pixels, 12 bytes, no padding needed
  return "BM" + le(54 + 24, 4) + le(0, 4) + le(54, 4) + le(40, 4) + le(4, 4) + le(2, 4) + le(1, 2) + le(24, 2) +
         le(0, 4) + le(24, 4) + le(3780, 4) + le(3780, 4) + le(0, 4) + le(0, 4) + pixels;
}

// The capture queue's job numbers that hold a title.
std::set<std::string> CapturedJobs() {
  std::set<std::string> jobs;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("Z:\\var\\spool\\olvaro-capture\\OlvaroTestA", error)) {
    if (entry.path().extension() == ".data") jobs.insert(entry.path().stem().string());
  }
  return jobs;
}

TEST_F(WinService, PrintersComeFromCupsAndAnImageArrivesAsOnePageTitledImage) {
  const std::vector<std::string> printers = GetPrinterList();
  EXPECT_NE(std::find(printers.begin(), printers.end(), "OlvaroTestA"), printers.end());
  EXPECT_NE(std::find(printers.begin(), printers.end(), "OlvaroTestB"), printers.end());
  SetDefaultPrinterName("OlvaroTestB");
  EXPECT_EQ(GetDefaultPrinterName(), "OlvaroTestB");
  SetDefaultPrinterName("OlvaroTestA");
  ASSERT_EQ(GetDefaultPrinterName(), "OlvaroTestA");

  const std::string image = scratch_.Path() + "holiday photo.bmp";
  std::ofstream(std::filesystem::u8path(image), std::ios::binary) << SmallBitmap();
  const std::set<std::string> before = CapturedJobs();
  ASSERT_TRUE(PrintFile(image));
  // Wine's spooler hands the page to CUPS as PostScript; the Linux image jobs are PDF.
  std::string found;
  for (int i = 0; i < 300 && found.empty(); ++i) {
    for (const std::string& job : CapturedJobs()) {
      const std::string base = "Z:\\var\\spool\\olvaro-capture\\OlvaroTestA\\" + job;
      if (!before.contains(job) && ReadFile(base + ".title") == "Image\n" &&
          ReadFile(base + ".type") == "application/postscript\n") {
        found = ReadFile(base + ".data");
      }
    }
    if (found.empty()) std::this_thread::sleep_for(100ms);
  }
  ASSERT_FALSE(found.empty());
  // The queue's driver makes a PDF of it: exactly one page.
  size_t pages = 0;
  for (size_t at = found.find("/Type /Page"); at != std::string::npos; at = found.find("/Type /Page", at + 1)) {
    if (found.compare(at, 12, "/Type /Pages") != 0) ++pages;
  }
  EXPECT_EQ(pages, 1u);
}

TEST(WinDnsSd, RegistrationRequestNamesTheServiceComputerTypeAndPort) {
  const ServiceRegistration request =
      DescribeServiceRegistration("KITCHEN-PC", "KITCHEN-PC", "_vostrelprint._tcp", "local.", 33300);
  EXPECT_EQ(request.instanceName, L"KITCHEN-PC._vostrelprint._tcp.local");
  EXPECT_EQ(request.hostName, L"KITCHEN-PC.local");
  EXPECT_EQ(request.port, 33300);
  // After a name conflict the service moves on; the host stays the computer.
  const ServiceRegistration renamed =
      DescribeServiceRegistration("KITCHEN-PC #2", "KITCHEN-PC", "_vostrelprint._tcp", "local.", 33300);
  EXPECT_EQ(renamed.instanceName, L"KITCHEN-PC #2._vostrelprint._tcp.local");
  EXPECT_EQ(renamed.hostName, L"KITCHEN-PC.local");
}

}  // namespace
