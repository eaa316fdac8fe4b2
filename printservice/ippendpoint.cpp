// The driverless printer's road through the print service: IPP requests at "/ipp/print",
// and the page and icon its attributes point at. Every reply has a known length, so the
// engine may keep the connection for the client's next request.
#include "printservice/vostrelhttpserver.h"

#include <cstring>
#include <utility>

#include "base/settings.h"
#include "ippprinter/ippexchange.h"
#include "ippprinter/ippprinter.h"
#include "ippprinter/printericon.h"
#include "printservice/uploadrequest.h"

namespace {

// The request of the connection this worker serves, as for the phone's uploads (see
// currentUpload in printprotocol.cpp): a plain pointer, dropped by end or abort.
thread_local CIppExchange* currentExchange = nullptr;

void DropCurrentExchange() {
  delete currentExchange;
  currentExchange = nullptr;
}

void SendReply(mg_conn* conn, const char* status, const char* type, std::string_view body) {
  mg_send_formatted(conn, "HTTP/1.1 %s\r\nContent-Type: %s\r\nContent-Length: %s\r\n\r\n", status, type,
                    std::to_string(body.size()).c_str());
  mg_send(conn, body.data(), static_cast<int>(body.size()));
}

void SendIppReply(mg_conn* conn, const IppReply& reply) {
  if (reply.httpStatus == 400) {
    mg_send_formatted(conn, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  } else {
    SendReply(conn, "200 OK", "application/ipp", reply.body);
  }
}

// With sharing off the printer is not there at all.
bool SendNotFoundUnlessShared(mg_conn* conn) {
  if (ReadShareWithAllPhones()) return false;
  SendReply(conn, "404 Not Found", "text/plain", "Not Found\n");
  return true;
}

IppClient ClientOf(const mg_conn* conn, const mg_request* request, uint32_t port) {
  const char* host = mg_find_header(conn, "Host");
  return {DottedAddress(request->remote_ip), host == nullptr ? "" : host, static_cast<uint16_t>(port & 0xFFFF)};
}

}  // namespace

int CVostrelHttpServer::OnIppBegin(mg_conn* conn, const mg_request* request, void* server) {
  auto* self = static_cast<CVostrelHttpServer*>(server);
  DropCurrentExchange();
  if (SendNotFoundUnlessShared(conn)) return 0;
  if (std::strcmp(request->method, "POST") != 0) {
    mg_send_formatted(conn, "HTTP/1.1 405 Method Not Allowed\r\nAllow: POST\r\nContent-Length: 0\r\n\r\n");
    return 0;
  }
  const int64_t length = AnnouncedLength(mg_find_header(conn, "Content-Length"));
  currentExchange = self->ippPrinter->Begin(ClientOf(conn, request, self->port), length).release();
  return 1;
}

int CVostrelHttpServer::OnIppData(mg_conn* conn, const mg_request*, const char* bytes, int length, void*) {
  if (currentExchange == nullptr) return 0;
  if (currentExchange->Feed(std::string_view(bytes, static_cast<size_t>(length)))) return 1;
  SendIppReply(conn, currentExchange->EarlyReply());
  DropCurrentExchange();
  return 0;
}

void CVostrelHttpServer::OnIppEnd(mg_conn* conn, const mg_request*, void*) {
  // A request without a body never began an exchange: no IPP message came.
  SendIppReply(conn, currentExchange != nullptr ? currentExchange->Finish() : IppReply{400, {}});
  DropCurrentExchange();
}

void CVostrelHttpServer::OnIppAbort(mg_conn*, const mg_request*, void*) {
  // The client broke off or went quiet: what its document left goes with the exchange.
  DropCurrentExchange();
}

void CVostrelHttpServer::OnIppPage(mg_conn* conn, const mg_request* request, void* server) {
  auto* self = static_cast<CVostrelHttpServer*>(server);
  if (SendNotFoundUnlessShared(conn)) return;
  SendReply(conn, "200 OK", "text/html; charset=utf-8",
            self->ippPrinter->LandingPage(ClientOf(conn, request, self->port)));
}

void CVostrelHttpServer::OnIppIcon(mg_conn* conn, const mg_request*, void*) {
  if (SendNotFoundUnlessShared(conn)) return;
  SendReply(conn, "200 OK", "image/png", PrinterIconPng());
}

void CVostrelHttpServer::RegisterIppPrinter() {
  ippPrinter = std::make_unique<CIppPrinter>();
  mg_set_uri_handlers(engine, "/ipp/print", &CVostrelHttpServer::OnIppBegin, &CVostrelHttpServer::OnIppData,
                      &CVostrelHttpServer::OnIppEnd, this);
  mg_set_abort_handler(engine, "/ipp/print", &CVostrelHttpServer::OnIppAbort, this);
  mg_set_uri_handlers(engine, "/ipp/printer", nullptr, nullptr, &CVostrelHttpServer::OnIppPage, this);
  mg_set_uri_handlers(engine, "/ipp/icon.png", nullptr, nullptr, &CVostrelHttpServer::OnIppIcon, this);
  for (const char* pattern : {"/ipp/print", "/ipp/printer", "/ipp/icon.png"}) mg_set_uri_persistent(engine, pattern, 1);
}
