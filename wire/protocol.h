// The names and formats that the desktop, the relay, the sender and the relay's page
// share on the wire, spelled once. Changing a value changes what goes over the network:
// phones and relays already out there keep the old one.
//
// relay/protocoljs.cmake turns every `inline constexpr char kName[] = "...";` and
// `inline constexpr char kName = '.';` line and the not-have table into protocol.js, the
// same names for the relay's page: keep each on one line.
#pragma once

// DNS-SD service type under which a PC announces its print service and senders browse.
inline constexpr char kServiceType[] = "_vostrelprint._tcp";

// Path under which every request of a desktop to its relay goes.
inline constexpr char kRelayApiPrefix[] = "/api/olvarocloud/";
// A new cloud identity for a desktop (POST).
inline constexpr char kRelayNewIdentity[] = "generate-uuid.php";
// A new auth code for a desktop's identity (POST "uuid").
inline constexpr char kRelayNewAuthCode[] = "generate-magic.php";
// A desktop announces its host name, addresses and not-have list (GET).
inline constexpr char kRelayAnnounce[] = "desktop.php";
// A desktop's job queue: this, then the identity's first character, "/", its second
// character, "/" and the whole identity (GET).
inline constexpr char kRelayQueue[] = "q/";
// A queued document, followed by its download key (GET).
inline constexpr char kRelayDownload[] = "upload/";
// A desktop acknowledges a downloaded job (POST "uuid", "file").
inline constexpr char kRelayAcknowledge[] = "mark.php";

// Between two addresses of an announcement (URL-escaped once more on the wire).
inline constexpr char kAnnouncedAddressSeparator[] = "%2C";
// The address list of a desktop that has no address.
inline constexpr char kAnnouncedNoAddress[] = "      Not Found\n";

// A queue answer holds one line per job, each with these fields in this order.
enum QueueField {
  kQueueJobId,    // download key
  kQueueFile,     // server file name, sent back with the acknowledgement
  kQueueName,     // the document's name
  kQueueSize,     // length in bytes
  kQueueCreated,  // when the job was queued (the desktop does not read it)
  kQueueCopies,   // 1 to 99
  kQueueFieldCount,
};
// Between two fields of a queue line.
inline constexpr char kQueueFieldSeparator = '\t';
// Ends each queue line.
inline constexpr char kQueueLineEnd = '\n';
// The whole queue answer when no job waits.
inline constexpr char kQueueEmpty[] = "0";

// The relay's page: pairing a browser with a code (POST "code").
inline constexpr char kPagePair[] = "/pair";
// The relay's page: the paired PC and the jobs sent to it (GET, JSON).
inline constexpr char kPageStatus[] = "/status";
// The relay's page: a document for the paired PC (POST, the body is the document).
inline constexpr char kPageUpload[] = "/upload";
// Cookie that holds a browser's or sender's pairing with a PC.
inline constexpr char kPairingCookie[] = "olvaro_pairing";
// Request header that carries the pairing's form token with every upload.
inline constexpr char kCsrfHeader[] = "X-CSRF-Token";

// A not-have list (sent in "/info" and in the announcement) is the words of this table
// joined by kNotHaveSeparator, in this order: a word is present when no program here
// handles its probed extension; a word without one is always present.
struct NotHaveWord {
  const char* word;
  const char* probed;         // the extension whose program the desktop looks for
  const char* extensions[3];  // what a sender must not send when the word is present
};
inline constexpr NotHaveWord kNotHaveWords[] = {
    {"iWork", nullptr, {".pages", ".numbers", ".key"}},   {"Office", ".xls", {".doc", ".xls", ".ppt"}},
    {"Office2007", ".xlsx", {".docx", ".xlsx", ".pptx"}}, {"PDF", ".pdf", {".pdf"}},
    {"WebArchive", ".webarchive", {".webarchive"}},
};
inline constexpr char kNotHaveSeparator = ',';
