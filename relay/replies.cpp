#include "relay/relay-private.h"

#include <microhttpd.h>

#include <chrono>
#include <cstdio>

long long Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::string RequestView::Argument(const char* name) const {
  const char* value = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, name);
  return value ? value : "";
}

std::string RequestView::Header(const char* name) const {
  const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
  return value ? value : "";
}

std::string RequestView::Cookie(const char* name) const {
  const char* value = MHD_lookup_connection_value(connection, MHD_COOKIE_KIND, name);
  return value ? value : "";
}

RelayReply TextReply(int status, std::string body) {
  RelayReply reply;
  reply.status = status;
  reply.body = std::move(body);
  return reply;
}

RelayReply JsonReply(int status, std::string json) {
  RelayReply reply = TextReply(status, std::move(json));
  reply.type = "application/json";
  reply.headers.emplace_back("Cache-Control", "no-store");
  return reply;
}

RelayReply StorageFailure(bool json, SqlFailure failure) {
  const auto reply = [json](int status, const std::string& why) {
    return json ? JsonReply(status, "{\"error\":" + JsonString(why) + "}") : TextReply(status, why);
  };
  switch (failure) {
    case SqlFailure::Unavailable: {
      RelayReply away = reply(503, "the relay's database is unavailable, try again in a minute");
      away.headers.emplace_back("Retry-After", "30");
      return away;
    }
    case SqlFailure::Full: return reply(507, "the relay's storage is full");
    case SqlFailure::None:
    case SqlFailure::Failed: break;
  }
  return reply(500, "the relay's storage failed");
}

std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20 || c == '<' || c == '>') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::map<std::string, std::string> ParseForm(const std::string& body) {
  std::map<std::string, std::string> fields;
  size_t start = 0;
  while (start <= body.size()) {
    const auto end = std::min(body.find('&', start), body.size());
    std::string pair = body.substr(start, end - start);
    for (char& c : pair) {
      if (c == '+') c = ' ';
    }
    const auto equals = pair.find('=');
    std::string name = pair.substr(0, equals);
    std::string value = equals == std::string::npos ? "" : pair.substr(equals + 1);
    name.resize(MHD_http_unescape(name.data()));
    value.resize(MHD_http_unescape(value.data()));
    if (!name.empty()) fields[name] = value;
    start = end + 1;
  }
  return fields;
}
