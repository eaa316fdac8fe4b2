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

// Sends a Print-Job whose document `writeDocument` streams through the writer it is given
// (which returns false when the connection failed); the job's status, and the seconds from
// the first byte to the answer.
std::pair<ipp_status_t, double> PrintJob(uint16_t port, const char* format, size_t length,
                                         const std::function<bool(const std::function<bool(const char*, size_t)>&)>& writeDocument) {
  http_t* http = Connect(port);
  if (http == nullptr) return {IPP_STATUS_ERROR_SERVICE_UNAVAILABLE, 0};
  ipp_t* request = NewRequest(IPP_OP_PRINT_JOB, port);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, "bench");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format);
  const auto start = Clock::now();
  ipp_status_t status = IPP_STATUS_ERROR_INTERNAL;
  if (cupsSendRequest(http, request, kResource, length) == HTTP_STATUS_CONTINUE &&
      writeDocument([http](const char* bytes, size_t size) {
        return cupsWriteRequestData(http, bytes, size) == HTTP_STATUS_CONTINUE;
      })) {
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

// Median megabytes per second of Print-Jobs of the file at `path`.
double PdfMegabytesPerSecond(uint16_t port, const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  const std::string pdf((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<double> rates;
  for (int round = 0; round < kPdfRounds; ++round) {
    const auto [status, seconds] = PrintJob(port, "application/pdf", pdf.size(), [&](const auto& write) {
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
void UrfMemory(const char* label, uint16_t port, pid_t pid) {
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
  const auto [status, seconds] = PrintJob(port, "image/urf", length, [&](const auto& write) {
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
  std::printf("  %-22s %6.1f MB in %5.2f s (%s)   RSS idle %6.1f MiB, peak %6.1f MiB\n", label, length / 1e6, seconds,
              ippErrorString(status), idle / 1024.0, peak / 1024.0);
}

pid_t Spawn(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  return posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : 0;
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

  const pid_t program = Spawn({OLVARO_DESKTOP});
  const pid_t peer = Spawn({"ippeveprinter", "-p", std::to_string(peerPort), "-r", "off", "-d", peerSpool, "-f",
                            "application/pdf,image/jpeg,image/pwg-raster,image/urf", "OlvaroBenchPeer"});
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

  // Random pixels, losslessly compressed: some 20 MB that no filter can shrink.
  const std::string pdf = environment.Root() + "bench-20mb.pdf";
  ReadProgramOutput({"convert", "-size", "2600x2600", "xc:gray", "+noise", "Random", "-compress", "Zip", pdf});
  std::ifstream sized(pdf, std::ios::binary | std::ios::ate);
  std::printf("Print-Job of a %.1f MB PDF, first byte to answer, median of %d:\n", sized.tellg() / 1e6, kPdfRounds);
  for (const auto& printer : printers) {
    std::printf("  %-22s %9.1f MB/s\n", printer.label, PdfMegabytesPerSecond(printer.port, pdf));
  }

  std::printf("A 600 dpi URF job streaming in (%u x %u sRGB, %u pages):\n", kUrfWidth, kUrfHeight, kUrfPages);
  for (const auto& printer : printers) UrfMemory(printer.label, printer.port, printer.pid);

  // The capture queue would turn every job into a PDF; they are only the benchmark's.
  ReadProgramOutput({"cancel", "-a", "OlvaroTestIpp"});
  for (const auto& printer : printers) {
    kill(printer.pid, SIGTERM);
    waitpid(printer.pid, nullptr, 0);
  }
  return 0;
}
