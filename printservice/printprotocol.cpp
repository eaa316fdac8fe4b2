// The "/info" and "/print" handlers of the print service.
#include "printservice/vostrelhttpserver.h"

#include "base/documenthistory.h"
#include "base/eventlog.h"
#include "base/hostinfo.h"
#include "base/spool.h"
#include "base/version.h"
#include "print/printer.h"
#include "print/printers.h"
#include "printservice/uploadrequest.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// Error numbers of the "/print" reply: user, internal.
constexpr int kUserOk = 0;
constexpr int kInternalOk = 200;
constexpr int kUserFailed = 65535;
constexpr int kCreateFailed = -1;
constexpr int kWriteFailed = -2;
constexpr int kCloseFailed = -3;
constexpr int kNoUpload = -4;

// One upload in progress.
struct Upload {
  std::string path;
  CNewFile file;
  int copies = 1;
  std::string name;    // as the phone gave it
  std::string source;  // the phone's address
};

// The upload of the connection this worker serves. The engine runs begin, data and end
// of one request on the worker that serves its connection, one connection at a time, so
// every overlapping upload has its own; the abort handler drops one that broke off.
// A plain pointer, set and dropped only through the two functions below: the Windows
// toolchain runs the destructor of a thread-local object after the thread's storage is
// gone, which corrupts the heap when a worker ends. Every upload begun is ended or
// aborted on its worker, which drops it.
thread_local Upload* currentUpload = nullptr;

void DropCurrentUpload() {
  delete currentUpload;
  currentUpload = nullptr;
}

void SetCurrentUpload(Upload upload) {
  DropCurrentUpload();
  currentUpload = new Upload(std::move(upload));
}

// Creates a new spool file for `name`.
Upload CreateUpload(const std::string& name) {
  NewSpoolFile spooled = CreateNewSpoolFile(name);
  Upload upload;
  upload.path = std::move(spooled.path);
  upload.file = std::move(spooled.file);
  return upload;
}

// Hands every copy to the print engine; the outcome of the document as a whole.
PrintOutcome PrintCopies(const Upload& upload) {
  PrintOutcome outcome;
  for (int copy = 0; copy < upload.copies; ++copy) {
    PrintOutcome copyOutcome = PrintDocument(upload.path);
    if (copy == 0 || (outcome.printed && !copyOutcome.printed)) outcome = std::move(copyOutcome);
  }
  return outcome;
}

}  // namespace

void CVostrelHttpServer::OnInfo(mg_conn* conn, const mg_request*, void* server) {
  const auto* self = static_cast<const CVostrelHttpServer*>(server);
  const std::string notHave = BuildNotHaveList();
  mg_send_formatted(conn, "HTTP/1.1 204 No Content\r\n");
  mg_send_formatted(conn, "X-Hostname: %s\r\n", GetLocalHostName().c_str());
  mg_send_formatted(conn, "X-Not-Have: %s\r\n", notHave.c_str());
  mg_send_formatted(conn, "X-Desktop-Os: %s\r\n", self->osDescription.c_str());
  mg_send_formatted(conn, "Connection: close\r\n");
  mg_send_formatted(conn, "X-Desktop-App-Version: %s\r\n", kProductVersion);
  mg_send_formatted(conn, "X-Cloud-Uuid: %s\r\n", self->cloudIdentity.CloudUuid().c_str());
  mg_send_formatted(conn, "\r\n");
}

void CVostrelHttpServer::SendPrintReply(mg_conn* conn, int user, int internal) const {
  mg_send_formatted(conn, "HTTP/1.1 200 OK\r\n");
  mg_send_formatted(conn, "Connection: close\r\n");
  mg_send_formatted(conn, "Content-Type: text/html\r\n");
  mg_send_formatted(conn, "X-Desktop-Os: %s\r\n", osDescription.c_str());
  mg_send_formatted(conn, "X-Desktop-App-Version: %s\r\n", kProductVersion);
  mg_send_formatted(conn, "X-Send-To-Print-Error-Number-User: %d\r\n", user);
  mg_send_formatted(conn, "X-Send-To-Print-Error-Number-Internal: %d\r\n", internal);
  mg_send_formatted(conn, "X-Cloud-UUID: %s\r\n", cloudIdentity.CloudUuid().c_str());
  mg_send_formatted(conn, "\r\n");
}

int CVostrelHttpServer::OnUploadBegin(mg_conn* conn, const mg_request* request, void* server) {
  const auto* self = static_cast<const CVostrelHttpServer*>(server);
  const std::string name = ReadUploadName(mg_find_header(conn, "X-FileName"));
  const int copies = ReadCopies(mg_find_header(conn, "X-Copies"));
  const std::string source = DottedAddress(request->remote_ip);

  // A document that cannot fit is refused before a byte of it is stored.
  const int64_t length = AnnouncedLength(mg_find_header(conn, "Content-Length"));
  if (!SpoolHasRoomFor(length)) {
    LogEvent("refused \"" + name + "\" from " + source + ": " + std::to_string(length) +
             " bytes do not fit on the disk of the spool folder " + GetSpoolFolderPath());
    self->SendPrintReply(conn, kUserFailed, kCreateFailed);
    return 0;
  }
  SetCurrentUpload(CreateUpload(name));
  currentUpload->copies = copies;
  currentUpload->name = name;
  currentUpload->source = source;
  if (!currentUpload->file.IsOpen()) {
    DropCurrentUpload();
    LogEvent("refused \"" + name + "\" from " + source +
             ": no new file could be made in the spool folder " + GetSpoolFolderPath() +
             " (it must be a folder of this user's with mode 0700)");
    self->SendPrintReply(conn, kUserFailed, kCreateFailed);
    return 0;
  }
  LogEvent("receiving \"" + name + "\" from " + source + ", " + std::to_string(length) + " bytes, " +
           std::to_string(copies) + (copies == 1 ? " copy" : " copies"));
  return 1;
}

int CVostrelHttpServer::OnUploadData(mg_conn* conn, const mg_request*, const char* bytes,
                                     int length, void* server) {
  const auto* self = static_cast<const CVostrelHttpServer*>(server);
  if (currentUpload && currentUpload->file.Write(bytes, static_cast<size_t>(length))) {
    return 1;
  }
  // The request ends here without reaching the end handler: its partial file goes now,
  // so that a full disk does not stay full.
  if (currentUpload) {
    currentUpload->file.Close();
    RemoveSpoolFile(currentUpload->path);
    LogEvent("\"" + currentUpload->name + "\" from " + currentUpload->source +
             " not stored: writing to the spool folder failed (" + std::strerror(errno) + ")");
  }
  DropCurrentUpload();
  self->SendPrintReply(conn, kUserFailed, kWriteFailed);
  return 0;
}

void CVostrelHttpServer::OnUploadAbort(mg_conn*, const mg_request*, void*) {
  // The phone broke off, went quiet or the program is stopping: what arrived is never
  // printed, and its partial file goes at once.
  if (!currentUpload) return;
  currentUpload->file.Close();
  RemoveSpoolFile(currentUpload->path);
  LogEvent("\"" + currentUpload->name + "\" from " + currentUpload->source +
           " broke off before its end; the part received was removed");
  DropCurrentUpload();
}

void CVostrelHttpServer::OnUploadEnd(mg_conn* conn, const mg_request* request, void* server) {
  const auto* self = static_cast<const CVostrelHttpServer*>(server);
  // Only a request with a body passed the begin handler; an upload found after any other
  // request broke off earlier on this worker and is dropped, never printed.
  const bool hasBody = std::strcmp(request->method, "POST") == 0 ||
                       std::strcmp(request->method, "PUT") == 0;
  if (!hasBody || !currentUpload) {
    DropCurrentUpload();
    self->SendPrintReply(conn, kUserFailed, kNoUpload);
    return;
  }
  Upload upload = std::move(*currentUpload);
  DropCurrentUpload();
  if (!upload.file.Close()) {
    RemoveSpoolFile(upload.path);
    LogEvent("\"" + upload.name + "\" from " + upload.source + " not stored: the spool file could not be closed");
    self->SendPrintReply(conn, kUserFailed, kCloseFailed);
    return;
  }
  self->SendPrintReply(conn, kUserOk, kInternalOk);
  // The phone already has its answer; the connection closes once every copy is handed over.
  const PrintOutcome outcome = PrintCopies(upload);
  RecordDocument({0, upload.name, upload.source, outcome.printer, outcome.printed, outcome.reason});
}
