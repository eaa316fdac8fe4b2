// The HTML listing of a folder, when "dir_list" is on.
#include "httpengine/engine-private.h"
#include "text/html.h"

#include <algorithm>
#include <filesystem>

namespace {

std::string escape_uri(std::string_view text) {
  std::string escaped;
  for (unsigned char c : text) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
        c == '.' || c == '~') {
      escaped += static_cast<char>(c);
    } else {
      char code[4];
      snprintf(code, sizeof code, "%%%02X", c);
      escaped += code;
    }
  }
  return escaped;
}

}  // namespace

void send_directory_listing(mg_conn* conn, const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    std::string name = entry.path().filename().string();
    if (name.find(".htpasswd") != std::string::npos) continue;
    if (entry.is_directory(error)) name += '/';
    names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());

  conn->request.status_code = 200;
  const std::string title = EscapeHtml(conn->request.uri);
  mg_send_formatted(conn,
                    "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nConnection: close\r\n\r\n"
                    "<html><head><title>Index of %s</title></head><body><h1>Index of %s</h1><pre>\n",
                    title.c_str(), title.c_str());
  for (const std::string& name : names) {
    const bool is_folder = name.back() == '/';
    const std::string bare = is_folder ? name.substr(0, name.size() - 1) : name;
    const std::string line = "<a href=\"" + escape_uri(bare) + (is_folder ? "/" : "") + "\">" + EscapeHtml(name) + "</a>\n";
    mg_send(conn, line.data(), static_cast<int>(line.size()));
  }
  mg_send_formatted(conn, "%s", "</pre></body></html>\n");
}
