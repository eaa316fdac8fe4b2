// Writing to the client: raw and formatted output, error replies, the Digest challenge.
#include "httpengine/engine-private.h"

#include "platform/sockets.h"

#include <algorithm>
#include <cstdarg>

int mg_send(mg_conn* conn, const void* bytes, int length) {
  const int sent = length > 0 ? static_cast<int>(SendAll(conn->client.sock, static_cast<const char*>(bytes),
                                                          static_cast<size_t>(length)))
                             : 0;
  conn->num_bytes_sent += static_cast<uint64_t>(sent);
  return sent;
}

int mg_send_formatted(mg_conn* conn, const char* format, ...) {
  char buffer[kFormatBufferSize];
  va_list arguments;
  va_start(arguments, format);
  const int length = vsnprintf(buffer, sizeof buffer, format, arguments);
  va_end(arguments);
  if (length < 0) {
    log_error(conn->ctx, conn, "vsnprintf error");
    return 0;
  }
  if (static_cast<size_t>(length) >= sizeof buffer) {
    log_error(conn->ctx, conn, "truncating vsnprintf buffer: [%.*s]", 200, buffer);
    return mg_send(conn, buffer, static_cast<int>(sizeof buffer) - 1);
  }
  return mg_send(conn, buffer, length);
}

void send_error_reply(mg_conn* conn, int status, const char* reason, const char* format, ...) {
  conn->request.status_code = status;
  char body[kErrorBodySize];
  int length = 0;
  if (status > 199 && status != 204 && status != 304) {
    length = std::min(snprintf(body, sizeof body, "Error %d: %s", status, reason), static_cast<int>(sizeof body) - 2);
    log_error(conn->ctx, conn, "%s", body);
    body[length++] = '\n';
    va_list arguments;
    va_start(arguments, format);
    const int detail = vsnprintf(body + length, sizeof body - static_cast<size_t>(length), format, arguments);
    va_end(arguments);
    length = std::min(length + std::max(detail, 0), static_cast<int>(sizeof body) - 1);
  }
  body[length] = '\0';
  mg_send_formatted(conn,
                    "HTTP/1.1 %d %s\r\nContent-Type: text/plain\r\nContent-Length: %d\r\nConnection: close\r\n\r\n%s",
                    status, reason, length, body);
}

void send_authorization_request(mg_conn* conn) {
  conn->request.status_code = 401;
  const std::string realm = get_option(conn->ctx, kOptionAuthRealm);
  mg_send_formatted(conn, "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest qop=\"auth\", realm=\"%s\", nonce=\"%lu\"\r\n\r\n",
                    realm.c_str(), static_cast<unsigned long>(time(nullptr)));
}
