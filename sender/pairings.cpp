#include "sender/pairings.h"

#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include "platform/linux/atomicfile.h"
#include "sender/relayaddress.h"

namespace {

// Relay to token, from the lines that hold exactly a normal URL and a token.
std::map<std::string, std::string> ReadPairings() {
  std::map<std::string, std::string> pairings;
  std::istringstream lines(ReadWholeFile(PairingsPath()).value_or(""));
  for (std::string line; std::getline(lines, line);) {
    const auto space = line.find(' ');
    if (space == std::string::npos) continue;
    const std::string token = line.substr(space + 1);
    std::string relay, ignored;
    // Lines of earlier versions may still end in a slash.
    if (IsRelayToken(token) && NormaliseRelayUrl(line.substr(0, space), relay, ignored)) pairings[relay] = token;
  }
  return pairings;
}

}  // namespace

bool IsRelayToken(const std::string& token) {
  return token.size() >= 32 && token.size() <= 128 &&
         token.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string PairingsPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  const std::string base = config && *config ? config : std::string(home ? home : ".") + "/.config";
  return base + "/olvaro-send/pairings";
}

std::string StoredToken(const std::string& relay) {
  const auto pairings = ReadPairings();
  const auto found = pairings.find(relay);
  return found == pairings.end() ? "" : found->second;
}

bool StorePairing(const std::string& relay, const std::string& token) {
  if (!IsRelayToken(token)) return false;
  const std::string path = PairingsPath();
  const std::string folder = path.substr(0, path.rfind('/'));
  mkdir(folder.substr(0, folder.rfind('/')).c_str(), 0700);
  mkdir(folder.c_str(), 0700);
  // Two senders pairing at once each keep the other's pairing.
  const FileDescriptor lock = LockFileExclusively(path + ".lock");
  if (!lock.IsValid()) return false;
  auto pairings = ReadPairings();
  pairings[relay] = token;
  std::string content;
  for (const auto& [url, stored] : pairings) content += url + ' ' + stored + '\n';
  return ReplaceFileAtomically(path, content, 0600);
}
