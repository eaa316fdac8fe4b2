// Benchmark: the driverless printer beside CUPS's sample IPP Everywhere printer
// (ippeveprinter), both on this machine in the same run, talked to with libcups:
// Get-Printer-Attributes answered per second over kept-open connections, a 20 MB PDF's
// Print-Job throughput, and the memory each holds while a 600 dpi URF job of some 200 MB
// streams in (the document is spooled, not held: the peak should stay near the idle
// figure). Prints figures; asserts nothing.
#include "tests/support/servicetest.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cups/cups.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRunTime = std::chrono::seconds(3);
constexpr int kPdfRounds = 3;
constexpr char kResource[] = "/ipp/print";

// URF at 600 dpi, A4, sRGB, two pages of literal runs (noise does not compress).
constexpr uint32_t kUrfWidth = 4960;
constexpr uint32_t kUrfHeight = 7016;
constexpr uint32_t kUrfPages = 2;

std::string PrinterUri(uint16_t port) { return "ipp://127.0.0.1:" + std::to_string(port) + kResource; }

http_t* Connect(uint16_t port) {
  return httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
}

ipp_t* NewRequest(ipp_op_t operation, uint16_t port) {
  ipp_t* request = ippNewRequest(operation);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, PrinterUri(port).c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "bench");
  return request;
}

// Whether the printer on `port` answers Get-Printer-Attributes.
bool Answers(uint16_t port) {
  http_t* http = Connect(port);
  if (http == nullptr) return false;
  ipp_t* response = cupsDoRequest(http, NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, port), kResource);
  const bool ok = response != nullptr && ippGetStatusCode(response) == IPP_STATUS_OK;
  ippDelete(response);
  httpClose(http);
  return ok;
}

// Get-Printer-Attributes (all attributes, as clients first ask) answered per second by
// `clients` connections kept open, each asking again as soon as it has its answer.
double AttributesPerSecond(uint16_t port, int clients) {
  std::atomic<long> answered{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < clients; ++i) {
    threads.emplace_back([&] {
      http_t* http = Connect(port);
      while (http != nullptr && !stop) {
        ipp_t* response = cupsDoRequest(http, NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, port), kResource);
        if (response != nullptr && ippGetStatusCode(response) == IPP_STATUS_OK) ++answered;
        ippDelete(response);
      }
      httpClose(http);
    });
  }
  const auto start = Clock::now();
  std::this_thread::sleep_for(kRunTime);
  stop = true;
  for (std::thread& thread : threads) thread.join();
  return static_cast<double>(answered) / std::chrono::duration<double>(Clock::now() - start).count();
}

using DocumentWriter = std::function<bool(const std::function<bool(const char*, size_t)>&)>;

// Sends a Print-Job whose document `writeDocument` streams through the writer it is given
// (which returns false when the connection failed), chunked or with its length; the job's
// status, and the seconds from the first byte to the answer.
std::pair<ipp_status_t, double> SendPrintJob(uint16_t port, const char* format, size_t length, bool chunked,
                                             const DocumentWriter& writeDocument) {
  http_t* http = Connect(port);
  if (http == nullptr) return {IPP_STATUS_ERROR_SERVICE_UNAVAILABLE, 0};
  ipp_t* request = NewRequest(IPP_OP_PRINT_JOB, port);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, "bench");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format);
  const auto start = Clock::now();
  ipp_status_t status = IPP_STATUS_ERROR_INTERNAL;
  // libcups takes the length of the whole body, the request included.
  if (cupsSendRequest(http, request, kResource, chunked ? 0 : ippLength(request) + length) == HTTP_STATUS_CONTINUE &&
      writeDocument([http](const char* bytes, size_t size) {
        return cupsWriteRequestData(http, bytes, size) == HTTP_STATUS_CONTINUE;
      }) &&
      httpFlushWrite(http) >= 0) {
    ipp_t* response = cupsGetResponse(http, kResource);
    status = response != nullptr ? ippGetStatusCode(response) : cupsLastError();
    ippDelete(response);
  } else {
    status = cupsLastError();
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  ippDelete(request);
  httpClose(http);
  return {status, seconds};
}

// The same, sent again while the printer answers that it is busy (ippeveprinter takes one
// job at a time), for up to a minute.
std::pair<ipp_status_t, double> PrintJob(uint16_t port, const char* format, size_t length, bool chunked,
                                         const DocumentWriter& writeDocument) {
  const auto deadline = Clock::now() + std::chrono::minutes(1);
  for (;;) {
    const auto result = SendPrintJob(port, format, length, chunked, writeDocument);
    if (result.first != IPP_STATUS_ERROR_BUSY || Clock::now() > deadline) return result;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
}

// Median megabytes per second of Print-Jobs of `pdf`.
double PdfMegabytesPerSecond(uint16_t port, const std::string& pdf, bool chunked) {
  std::vector<double> rates;
  for (int round = 0; round < kPdfRounds; ++round) {
    const auto [status, seconds] = PrintJob(port, "application/pdf", pdf.size(), chunked, [&](const auto& write) {
      for (size_t at = 0; at < pdf.size(); at += 65536) {
        if (!write(pdf.data() + at, std::min<size_t>(65536, pdf.size() - at))) return false;
      }
      return true;
    });
    if (status > IPP_STATUS_OK_CONFLICTING) {
      std::printf("    Print-Job answered %s\n", ippErrorString(status));
      return 0;
    }
    rates.push_back(static_cast<double>(pdf.size()) / (1 << 20) / seconds);
  }
  std::sort(rates.begin(), rates.end());
  return rates[rates.size() / 2];
}

// A one-page PDF whose page is an unfiltered image of random pixels: some 20 MB that no
// filter can shrink.
std::string NoisePdf() {
  constexpr int kSide = 2600;
  std::string pixels(static_cast<size_t>(kSide) * kSide * 3, '\0');
  uint32_t seed = 7;
  for (char& byte : pixels) {
    seed = seed * 1664525u + 1013904223u;
    byte = static_cast<char>(seed >> 24);
  }
  const std::string content = "q 595 0 0 842 0 0 cm /Im0 Do Q\n";
  const std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /XObject << /Im0 4 0 R >> >> "
      "/Contents 5 0 R >>",
      "<< /Type /XObject /Subtype /Image /Width 2600 /Height 2600 /ColorSpace /DeviceRGB /BitsPerComponent 8 "
      "/Length " + std::to_string(pixels.size()) + " >>\nstream\n" + pixels + "\nendstream",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
  };
  std::string pdf = "%PDF-1.4\n";
  std::string xref = "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t i = 0; i < objects.size(); ++i) {
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", pdf.size());
    xref += entry;
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xrefAt = pdf.size();
  return pdf + xref + "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xrefAt) + "\n%%EOF\n";
}

// One URF line: a line-repeat byte of 0, then literal runs of up to 128 pixels.
std::string UrfLine(uint32_t& seed) {
  std::string line(1, '\0');
  for (uint32_t left = kUrfWidth; left > 0;) {
    const uint32_t run = std::min<uint32_t>(128, left);
    line += static_cast<char>(257 - run);
    for (uint32_t i = 0; i < run * 3; ++i) {
      seed = seed * 1664525u + 1013904223u;
      line += static_cast<char>(seed >> 24);
    }
    left -= run;
  }
  return line;
}

void PutBigEndian(std::string& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

long RssKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) return std::atol(line.c_str() + 6);
  }
  return 0;
}

// Streams the 600 dpi URF job while sampling the resident memory of `pid`.
void UrfMemory(const char* label, uint16_t port, pid_t pid, bool chunked) {
  std::vector<std::string> lines;  // a few different lines, sent in turn
  uint32_t seed = 1;
  for (int i = 0; i < 16; ++i) lines.push_back(UrfLine(seed));
  std::string fileHeader = std::string("UNIRAST") + '\0' + std::string(4, '\0');
  PutBigEndian(fileHeader, 8, kUrfPages);
  std::string pageHeader(32, '\0');
  pageHeader[0] = 24;  // bits per pixel
  pageHeader[1] = 1;   // sRGB
  pageHeader[2] = 1;   // one-sided
  pageHeader[3] = 4;   // normal quality
  PutBigEndian(pageHeader, 12, kUrfWidth);
  PutBigEndian(pageHeader, 16, kUrfHeight);
  PutBigEndian(pageHeader, 20, 600);
  const size_t length = fileHeader.size() + kUrfPages * (pageHeader.size() + kUrfHeight * lines[0].size());

  const long idle = RssKiB(pid);
  std::atomic<bool> streaming{true};
  std::atomic<long> peak{idle};
  std::thread sampler([&] {
    while (streaming) {
      peak = std::max(peak.load(), RssKiB(pid));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  const auto [status, seconds] = PrintJob(port, "image/urf", length, chunked, [&](const auto& write) {
    if (!write(fileHeader.data(), fileHeader.size())) return false;
    for (uint32_t page = 0; page < kUrfPages; ++page) {
      if (!write(pageHeader.data(), pageHeader.size())) return false;
      for (uint32_t row = 0; row < kUrfHeight; ++row) {
        const std::string& line = lines[row % lines.size()];
        if (!write(line.data(), line.size())) return false;
      }
    }
    return true;
  });
  streaming = false;
  sampler.join();
  std::printf("  %-16s %-8s %6.1f MB in %5.2f s (%s)   RSS idle %6.1f MiB, peak %6.1f MiB\n", label,
              chunked ? "chunked" : "length", length / 1e6, seconds, ippErrorString(status), idle / 1024.0,
              peak / 1024.0);
}

// Starts a program found on PATH, its standard output and error going to `log`.
pid_t Spawn(std::vector<std::string> arguments, const std::string& log) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  pid_t pid = 0;
  const bool started = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  return started ? pid : 0;
}

bool WaitUntilAnswering(uint16_t port) {
  for (int i = 0; i < 200; ++i) {
    if (Answers(port)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

}  // namespace

int main() {
  if (!CaptureQueueReady()) {
    std::fprintf(stderr, "needs cupsd and the test queues: scripts/start-services.sh --test-queues\n");
    return 1;
  }
  ServiceTestEnvironment environment("OlvaroTestIpp");
  const uint16_t port = FindFreePort();
  const uint16_t peerPort = FindFreePort();
  ServiceTestEnvironment::StorePort(port);
  const std::string peerSpool = environment.Root() + "ippeveprinter/";
  WriteTestFile(peerSpool + ".keep");

  const pid_t program = Spawn({OLVARO_DESKTOP}, environment.Root() + "olvaro-desktop.log");
  const pid_t peer = Spawn({"ippeveprinter", "-p", std::to_string(peerPort), "-r", "off", "-d", peerSpool, "-f",
                            "application/pdf,image/jpeg,image/pwg-raster,image/urf", "OlvaroBenchPeer"},
                           environment.Root() + "ippeveprinter.log");
  if (program == 0 || peer == 0 || !WaitUntilAnswering(port) || !WaitUntilAnswering(peerPort)) {
    std::fprintf(stderr, "olvaro-desktop or ippeveprinter (cups-ipp-utils) did not start\n");
    if (program != 0) kill(program, SIGTERM);
    if (peer != 0) kill(peer, SIGTERM);
    return 1;
  }
  const struct {
    const char* label;
    uint16_t port;
    pid_t pid;
  } printers[] = {{"olvaro-desktop", port, program}, {"ippeveprinter", peerPort, peer}};

  std::printf("Get-Printer-Attributes (all) answered per second, connections kept open:\n");
  for (int clients : {1, 4}) {
    for (const auto& printer : printers) {
      std::printf("  %-22s %2d client(s) %9.0f /s\n", printer.label, clients, AttributesPerSecond(printer.port, clients));
    }
  }

  const std::string pdf = NoisePdf();
  std::printf("Print-Job of a %.1f MB PDF, chunked and with a length, first byte to answer, median of %d:\n", pdf.size() / 1e6, kPdfRounds);
  for (const bool chunked : {true, false}) {
    for (const auto& printer : printers) {
      std::printf("  %-16s %-8s %9.1f MB/s\n", printer.label, chunked ? "chunked" : "length",
                  PdfMegabytesPerSecond(printer.port, pdf, chunked));
    }
  }

  std::printf("A 600 dpi URF job streaming in (%u x %u sRGB, %u pages):\n", kUrfWidth, kUrfHeight, kUrfPages);
  for (const bool chunked : {true, false}) {
    for (const auto& printer : printers) UrfMemory(printer.label, printer.port, printer.pid, chunked);
  }

  // The capture queue would turn every job into a PDF; they are only the benchmark's.
  ReadProgramOutput({"cancel", "-a", "OlvaroTestIpp"});
  for (const auto& printer : printers) {
    kill(printer.pid, SIGTERM);
    waitpid(printer.pid, nullptr, 0);
  }
  return 0;
}
