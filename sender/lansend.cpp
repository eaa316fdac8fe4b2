// Sending over the local network, as a phone does: find the PC, ask "/info", "/print".
#include "sender/sender.h"

#include <unistd.h>

#include <cstdio>

#include "sender/browse.h"
#include "sender/sendhttp.h"
#include "sender/terminaltext.h"

namespace {

constexpr int kBrowseMilliseconds = 3000;

std::string BaseUrl(const FoundPc& pc) { return "http://" + pc.address + ":" + std::to_string(pc.port); }

// A header of a PC's answer, fit for the terminal.
std::string Header(const HttpResult& answer, const char* name) { return TerminalSafe(answer.Header(name)); }

int ListPcs(const std::vector<FoundPc>& pcs, int timeoutSeconds) {
  for (const FoundPc& pc : pcs) {
    CHttpClient http;
    UseSendLimits(http, timeoutSeconds);
    const HttpResult info = http.Get(BaseUrl(pc) + "/info");
    std::printf("%s\t%s:%d\t", TerminalSafe(pc.name).c_str(), pc.address.c_str(), pc.port);
    if (info.ok()) {
      std::printf("%s\t%s\tOlvaro Desktop %s\tcannot print: %s\n", Header(info, "x-hostname").c_str(),
                  Header(info, "x-desktop-os").c_str(), Header(info, "x-desktop-app-version").c_str(),
                  Header(info, "x-not-have").c_str());
    } else {
      std::printf("no answer: %s\n", info.error.c_str());
    }
  }
  return pcs.empty() ? kPcNotFound : kSent;
}

}  // namespace

int SendOnNetwork(const SendRequest& request) {
  if (!request.list && access(request.file.c_str(), R_OK) != 0) {
    std::fprintf(stderr, "olvaro-send: cannot read %s\n", request.file.c_str());
    return kUnreadableFile;
  }
  std::vector<FoundPc> pcs;
  std::string error;
  if (!BrowsePcs(kBrowseMilliseconds, pcs, error)) {
    std::fprintf(stderr, "olvaro-send: %s\n", error.c_str());
    return kPcNotFound;
  }
  if (request.list) return ListPcs(pcs, request.timeoutSeconds);
  if (!request.to.empty()) std::erase_if(pcs, [&](const FoundPc& pc) { return pc.name != request.to; });
  if (pcs.empty()) {
    std::fprintf(stderr, "olvaro-send: no PC %s%sfound on the network\n", TerminalSafe(request.to).c_str(),
                 request.to.empty() ? "" : " ");
    return kPcNotFound;
  }
  if (pcs.size() > 1) {
    std::fprintf(stderr, "olvaro-send: %zu PCs found; pick one with --to NAME:\n", pcs.size());
    for (const FoundPc& pc : pcs) std::fprintf(stderr, "  %s\n", TerminalSafe(pc.name).c_str());
    return kUsage;
  }
  const FoundPc& pc = pcs.front();
  const std::string pcName = TerminalSafe(pc.name);
  CHttpClient http;
  UseSendLimits(http, request.timeoutSeconds);
  const HttpResult info = http.Get(BaseUrl(pc) + "/info");
  if (!Answered(info, pcName)) return kUnreachable;
  const std::string name = BaseName(request.file);
  if (PcCannotPrint(info.Header("x-not-have"), name) && !request.force) {
    std::fprintf(stderr, "olvaro-send: %s cannot print files like %s (--force sends it anyway)\n", pcName.c_str(),
                 name.c_str());
    return kRefusedFormat;
  }
  http.SetHeaders({"X-FileName: " + name, "X-Copies: " + std::to_string(request.copies)});
  ShowUploadProgress(http);
  const HttpResult printed = http.PostFile(BaseUrl(pc) + "/print", request.file);
  if (!Answered(printed, pcName)) return kUnreachable;
  const std::string user = Header(printed, "x-send-to-print-error-number-user");
  const std::string internal = Header(printed, "x-send-to-print-error-number-internal");
  if (printed.status != 200 || user != "0") {
    std::fprintf(stderr, "olvaro-send: %s refused %s (status %d, error numbers %s/%s)\n", pcName.c_str(), name.c_str(),
                 printed.status, user.c_str(), internal.c_str());
    return kFailed;
  }
  std::printf("%s took %s (%d %s, answer %s/%s)\n", pcName.c_str(), name.c_str(), request.copies,
              request.copies == 1 ? "copy" : "copies", user.c_str(), internal.c_str());
  return kSent;
}
