// HTTP Digest authentication against password files of "user:realm:md5(user:realm:password)" lines.
#include "httpengine/engine-private.h"

#include <fstream>

#include "platform/md5.h"

namespace {

struct digest_credentials {
  std::string username, nonce, uri, cnonce, response, qop, nc;
};

// Reads 'Digest name="value", name=value, ...'; false when it is not a Digest header.
bool parse_credentials(std::string_view header, digest_credentials& credentials) {
  constexpr std::string_view kScheme = "Digest ";
  if (header.size() < kScheme.size() || !equal_ignoring_case(header.substr(0, kScheme.size()), kScheme)) return false;
  header.remove_prefix(kScheme.size());
  while (!header.empty()) {
    header.remove_prefix(std::min(header.find_first_not_of(" ,"), header.size()));
    const size_t equals = header.find('=');
    if (equals == std::string_view::npos) break;
    const std::string_view name = header.substr(0, equals);
    header.remove_prefix(equals + 1);
    std::string_view value;
    if (header.starts_with('"')) {
      const size_t quote = header.find('"', 1);
      if (quote == std::string_view::npos) return false;
      value = header.substr(1, quote - 1);
      header.remove_prefix(quote + 1);
    } else {
      value = header.substr(0, header.find(','));
      header.remove_prefix(value.size());
    }
    for (auto [key, field] : {std::pair{"username", &credentials.username}, {"nonce", &credentials.nonce},
                              {"uri", &credentials.uri}, {"cnonce", &credentials.cnonce},
                              {"response", &credentials.response}, {"qop", &credentials.qop}, {"nc", &credentials.nc}}) {
      if (name == key) *field = value;
    }
  }
  return !credentials.username.empty() && !credentials.response.empty();
}

// The password file that guards the request, or empty when none does.
std::string password_file_for(mg_conn* conn, const mg_root& base, std::string_view rest, bool is_folder) {
  const std::string_view uri = conn->request.uri;
  std::string file;
  for_each_list_item(get_option(conn->ctx, kOptionProtect), [&](std::string_view item) {
    std::string_view prefix, protector;
    if (!split_pair(item, prefix, protector) || !uri.starts_with(prefix)) return true;
    file = protector;
    return false;
  });
  if (file.empty()) file = get_option(conn->ctx, kOptionAuthGpass);
  if (!file.empty()) return file;

  // The file in the path's folder, or in the path when it is a folder. Whether the base
  // itself holds one is known without a look, unless it does.
  const size_t slash = rest.rfind('/');
  const std::string_view folder = is_folder ? rest : rest.substr(0, slash == std::string_view::npos ? 0 : slash);
  const std::string local = std::string(folder) + "/.htpasswd";
  const bool in_base = folder.find_first_not_of('/') == std::string_view::npos;
  if (in_base && !base.holds_password_file) return std::string();
  return base.folder.Holds(local) ? base.folder.Path() + local : std::string();
}

}  // namespace

bool credentials_valid(mg_conn* conn, const std::string& password_file) {
  const char* header = mg_find_header(conn, "Authorization");
  digest_credentials credentials;
  if (header == nullptr || !parse_credentials(header, credentials)) return false;
  const std::string realm = get_option(conn->ctx, kOptionAuthRealm);
  const std::string expected_tail = ":" + credentials.nonce + ":" + credentials.nc + ":" + credentials.cnonce + ":" +
                                    credentials.qop + ":" + Md5Hex(std::string(conn->request.method) + ":" + credentials.uri);
  std::ifstream lines(password_file);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find(':');
    const size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    if (line.compare(0, first, credentials.username) != 0 || line.compare(first + 1, second - first - 1, realm) != 0) {
      continue;
    }
    const std::string ha1 = line.substr(second + 1);
    // No digest (the system could not compute one) matches nothing, not an empty answer.
    const std::string expected = Md5Hex(ha1 + expected_tail);
    if (!expected.empty() && equal_ignoring_case(expected, credentials.response)) {
      conn->request.remote_user = credentials.username;
      return true;
    }
  }
  return false;
}

bool check_authorization(mg_conn* conn, const mg_root& base, std::string_view rest, bool is_folder) {
  const std::string password_file = password_file_for(conn, base, rest, is_folder);
  return password_file.empty() || credentials_valid(conn, password_file);
}
