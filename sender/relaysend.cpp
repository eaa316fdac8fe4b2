// Sending through a relay: pairing with a code, the stored pairing, the upload.
#include "sender/sender.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "sender/transfer.h"
#include "wire/protocol.h"

namespace {

std::string PairingFile() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  const std::string base = config && *config ? config : std::string(home ? home : ".") + "/.config";
  return base + "/olvaro-send/pairings";
}

std::string WithoutTrailingSlash(std::string url) {
  while (url.ends_with('/')) url.pop_back();
  return url;
}

// The stored pairings, one "URL TOKEN" line each.
std::vector<std::pair<std::string, std::string>> ReadPairings() {
  std::vector<std::pair<std::string, std::string>> pairings;
  std::ifstream file(PairingFile());
  std::string url, token;
  while (file >> url >> token) pairings.emplace_back(url, token);
  return pairings;
}

bool StorePairing(const std::string& relay, const std::string& token) {
  const std::string path = PairingFile();
  const std::string folder = path.substr(0, path.rfind('/'));
  mkdir(folder.substr(0, folder.rfind('/')).c_str(), 0700);
  mkdir(folder.c_str(), 0700);
  auto pairings = ReadPairings();
  std::erase_if(pairings, [&](const auto& pairing) { return pairing.first == relay; });
  pairings.emplace_back(relay, token);
  // The token is a secret: written privately, then moved over the old list.
  const std::string temporary = path + ".new";
  const mode_t previous = umask(077);
  {
    std::ofstream file(temporary, std::ios::trunc);
    for (const auto& [url, stored] : pairings) file << url << ' ' << stored << '\n';
    if (!file.flush()) {
      umask(previous);
      return false;
    }
  }
  umask(previous);
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

std::string TokenFromCookies(const std::string& setCookies) {
  std::istringstream lines(setCookies);
  std::string line;
  const std::string prefix = std::string(kPairingCookie) + "=";
  while (std::getline(lines, line)) {
    if (line.starts_with(prefix)) return line.substr(prefix.size(), line.find(';') - prefix.size());
  }
  return "";
}

// A string or number field of a flat JSON object, unescaped; "" when absent.
std::string JsonField(const std::string& json, const std::string& name) {
  const std::string key = "\"" + name + "\":";
  auto at = json.find(key);
  if (at == std::string::npos) return "";
  at += key.size();
  if (json[at] != '"') return json.substr(at, json.find_first_of(",}", at) - at);
  std::string value;
  for (++at; at < json.size() && json[at] != '"'; ++at) {
    if (json[at] == '\\' && at + 1 < json.size()) {
      ++at;
      if (json[at] == 'u' && at + 4 < json.size()) {
        value += static_cast<char>(std::strtol(json.substr(at + 1, 4).c_str(), nullptr, 16));
        at += 4;
        continue;
      }
    }
    value += json[at];
  }
  return value;
}

int Unreachable(const std::string& relay, const Exchange& exchange) {
  std::fprintf(stderr, "olvaro-send: relay %s unreachable: %s\n", relay.c_str(), exchange.error.c_str());
  return kUnreachable;
}

int Pair(const std::string& relay, const std::string& code) {
  const Exchange answer = HttpPostForm(relay + kPagePair, "code=" + QueryEscape(code));
  if (!answer.connected) return Unreachable(relay, answer);
  const std::string token = TokenFromCookies(answer.headers.count("set-cookie") ? answer.headers.at("set-cookie") : "");
  if (answer.status == 200 && !token.empty()) {
    if (StorePairing(relay, token)) return kSent;
    std::fprintf(stderr, "olvaro-send: cannot store the pairing in %s\n", PairingFile().c_str());
    return kFailed;
  }
  const char* why = answer.status == 403   ? "the code is wrong"
                    : answer.status == 410 ? "the code has expired; show the PC's window for a new one"
                    : answer.status == 429 ? "too many wrong codes from here; try again in 15 minutes"
                                           : nullptr;
  if (!why) {
    std::fprintf(stderr, "olvaro-send: the relay could not pair (status %ld)\n", answer.status);
    return kFailed;
  }
  std::fprintf(stderr, "olvaro-send: %s\n", why);
  return kBadCode;
}

}  // namespace

int SendThroughRelay(const SendRequest& request) {
  const std::string relay = WithoutTrailingSlash(request.relay);
  if (access(request.file.c_str(), R_OK) != 0) {
    std::fprintf(stderr, "olvaro-send: cannot read %s\n", request.file.c_str());
    return kUnreadableFile;
  }
  if (!request.code.empty()) {
    if (const int paired = Pair(relay, request.code); paired != kSent) return paired;
  }
  std::string token;
  for (const auto& [url, stored] : ReadPairings()) {
    if (url == relay) token = stored;
  }
  if (token.empty()) {
    std::fprintf(stderr, "olvaro-send: not paired with %s; give --code with the code the PC shows\n", relay.c_str());
    return kBadCode;
  }
  const std::string cookie = std::string("Cookie: ") + kPairingCookie + "=" + token;
  const Exchange status = HttpGet(relay + kPageStatus, {cookie});
  if (!status.connected) return Unreachable(relay, status);
  if (status.status == 401) {
    std::fprintf(stderr, "olvaro-send: the pairing with %s has ended; pair again with --code\n", relay.c_str());
    return kBadCode;
  }
  if (status.status != 200) {
    std::fprintf(stderr, "olvaro-send: the relay answered status %ld\n", status.status);
    return kFailed;
  }
  const std::string name = BaseName(request.file);
  const std::string announced = JsonField(status.body, "name");
  const std::string pc = announced.empty() ? "the PC" : announced;
  if (PcCannotPrint(JsonField(status.body, "notHave"), name) && !request.force) {
    std::fprintf(stderr, "olvaro-send: %s cannot print files like %s (--force sends it anyway)\n", pc.c_str(), name.c_str());
    return kRefusedFormat;
  }
  if (JsonField(status.body, "online") != "true") {
    std::fprintf(stderr, "olvaro-send: %s has not polled for %s s; the job waits until it does\n", pc.c_str(),
                 JsonField(status.body, "lastSeenSeconds").c_str());
  }
  const Exchange upload =
      HttpPostFile(relay + kPageUpload + "?name=" + QueryEscape(name) + "&copies=" + std::to_string(request.copies), request.file,
                   {cookie, std::string(kCsrfHeader) + ": " + JsonField(status.body, "csrf")});
  if (!upload.connected && upload.status == 0) return Unreachable(relay, upload);
  if (upload.status != 201) {
    const std::string reason = JsonField(upload.body, "error");
    std::fprintf(stderr, "olvaro-send: the relay refused %s: %s\n", name.c_str(),
                 reason.empty() ? ("status " + std::to_string(upload.status)).c_str() : reason.c_str());
    return kFailed;
  }
  std::printf("Sent %s to %s; it prints when the PC next polls the relay.\n", name.c_str(), pc.c_str());
  return kSent;
}
