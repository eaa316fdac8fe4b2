// Records, limits and functions that the engine's modules share; not for users of the engine.
#pragma once

#include "httpengine/httpengine.h"
#include "platform/connectionwait.h"
#include "platform/filebeneath.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Option value slots; 16, 18 and 19 are never used.
enum mg_option_slot {
  kOptionRoot = 0,
  kOptionIndexFiles = 1,
  kOptionPorts = 2,
  kOptionDirList = 3,
  kOptionCgiExt = 4,
  kOptionCgiInterp = 5,
  kOptionCgiEnv = 6,
  kOptionSsiExt = 7,
  kOptionAuthRealm = 8,
  kOptionAuthGpass = 9,
  kOptionAuthPut = 10,
  kOptionAccessLog = 11,
  kOptionErrorLog = 12,
  kOptionSslCert = 13,
  kOptionAliases = 14,
  kOptionAcl = 15,
  kOptionProtect = 17,
  kOptionAdminUri = 20,
  kOptionMaxThreads = 21,
  kOptionIdleTime = 22,
  kOptionMimeTypes = 23,
  kNumOptionSlots = 24,
};

constexpr int kMaxListeners = 9;
constexpr int kQueueSize = 20;
constexpr int kListenBacklog = 128;
constexpr std::chrono::milliseconds kListenerWait{1000};
constexpr std::chrono::milliseconds kStopPollStep{20};
constexpr size_t kMaxHandlerEntries = 19;  // of a table of 20
constexpr size_t kHeadBufferSize = 8192;
constexpr size_t kFormatBufferSize = 8192;
constexpr size_t kErrorBodySize = 512;
constexpr size_t kLogMessageSize = 512;
constexpr size_t kChunkSize = 512;          // the most a data handler gets at once
constexpr size_t kBodyReadSize = 64 * 1024;  // body bytes read from the socket at once
constexpr size_t kOutputBufferSize = 8192;   // a reply head gathered before it is sent

// A client must deliver its whole request head this soon after the accept, and may not
// pause longer than the body limit inside a body: otherwise silent or trickling clients
// would hold every worker.
constexpr std::chrono::seconds kHeadDeadline{30};
constexpr std::chrono::seconds kBodyIdleLimit{60};
// The rest of a body the engine or a handler refused is read and thrown away for at most
// this long, and while it keeps coming: closing a socket with bytes still arriving ends
// the connection with a reset that takes the reply with it, before a client that sends
// the whole body first has read it.
constexpr std::chrono::seconds kDiscardLimit{30};
constexpr std::chrono::seconds kDiscardIdleLimit{5};
// A worker that accepted a connection waits this long for its head before it leaves the
// connection to the listener (milliseconds).
constexpr int kHeadWaitAtAccept = 10;
// Idle workers that accept connections themselves: few, so that a busy engine's workers
// find the next connection waiting instead of each sleeping until one comes. When all of
// them are busy this long, the listener accepts for them.
constexpr int kAcceptingWorkers = 2;
// Events one wait takes at most; with two accepting workers, enough for each to serve
// several requests per wait while the other still finds some.
constexpr size_t kReadyBatch = 8;
constexpr std::chrono::milliseconds kAcceptingTakeOver{20};
// The kept document root is looked at again this often, in case it was replaced or a
// password file came or went in it.
constexpr std::chrono::seconds kRootCheckInterval{1};
// Connections one client address may hold at once (queued or being served), so that
// one host cannot take every worker. A kept connection idle between requests is not
// among them, but among its address's kept connections, up to this many; it takes its
// place in the share again when its next head is complete, and waits for it like a new
// connection. While others wait for a place or a worker, a kept connection goes back
// to the listener after kRequestsBeforeYield requests in a row instead of holding its
// worker for the next: a few, so that the hand-over is paid once for several requests
// (where each kept connection's worker waits for its next request; see kNextRequestWait).
constexpr int kMaxConnectionsPerAddress = 16;
constexpr int kMaxKeptPerAddress = 64;
// Connections beyond that wait, unread, this long for one of their address's to end
// before they are refused, so that a client opening many at once is served a little later
// instead of cut off; up to this many per address.
constexpr std::chrono::milliseconds kAddressWait{1000};
constexpr int kMaxWaitingPerAddress = 48;
// A body holds its worker for as long as its client trickles. Bodies being read at once,
// per address and in all: one address cannot take the body workers of the others, and a
// tenth of the workers (at least one) stays for requests without a body.
constexpr int kMaxBodiesPerAddress = 4;
constexpr int kReservedWorkerShare = 10;
// While a body waits for a worker, bodies that have run this long and averaged less than
// this rate make room for it.
constexpr std::chrono::seconds kSlowBodyGrace{10};
constexpr uint64_t kMinBodyRate = 1024;  // bytes per second
// A stopping engine lets running requests go on this long, then cuts them off.
constexpr std::chrono::seconds kStopGrace{5};
// A connection kept open after a reply waits this long for the client's next request, and
// serves at most this many requests, before it is closed. Between requests it waits
// among the sockets the accepting workers wait on, so that a worker that finds several
// requests ready serves them one after the other without sleeping. Where workers cannot
// wait together, the worker that served the reply waits a moment for the next head, as
// at the accept, then leaves the connection to the listener (milliseconds).
constexpr std::chrono::seconds kKeepAliveIdle{5};
constexpr int kMaxRequestsPerConnection = 1000;
constexpr int kNextRequestWait = 20;
constexpr int kRequestsBeforeYield = 32;
// A chunk-size line (size and extensions) and a trailer line are at most this long; all
// the trailers of a body at most kHeadBufferSize. Body bytes are read at most this far
// beyond the chunk being read, so that what comes after a chunked body (the next request)
// always fits the head buffer.
constexpr size_t kMaxChunkLine = 1024;
// A persistent entry's reply head, kept to see how the reply is framed; a longer head
// closes the connection after the reply.
constexpr size_t kReplyHeadSize = 2048;

struct mg_handler_entry {
  std::string pattern;
  mg_end_handler end;
  mg_begin_handler begin;
  mg_data_handler data;
  bool is_auth;
  int status_code;
  void* user_data;
  mg_abort_handler abort = nullptr;
  void* abort_data = nullptr;
  bool persistent = false;  // chunked bodies and several requests per connection
};

struct mg_file_closer {
  void operator()(FILE* file) const { fclose(file); }
};
using mg_file = std::unique_ptr<FILE, mg_file_closer>;

// A folder requests are served from, and whether a password file lies in it.
struct mg_root {
  explicit mg_root(std::string path);
  CKeptFolder folder;
  bool holds_password_file;
};

// A connection from its accept until a worker takes it, with its head as read so far.
struct mg_pending {
  mg_socket socket{};
  std::unique_ptr<char[]> head;  // kHeadBufferSize bytes
  size_t received = 0;
  int head_length = 0;      // > 0 once the head is complete
  bool wants_body = false;  // POST or PUT: it needs a body worker
  bool holds_body = false;  // and has one
  // The head must be complete by then: the head deadline after the accept, or, for a
  // connection kept open after a reply, the idle limit until its next request begins
  // (`idle`), then the head deadline.
  std::chrono::steady_clock::time_point head_due;
  bool idle = false;
  int requests_served = 0;
  // Among its address's kept connections instead of its share (see kMaxKeptPerAddress);
  // with its head complete, head_due is then the end of its wait for a place.
  bool kept = false;
  bool receive_wait_set = false;  // see ReceiveWithin
  // Given when the connection is first watched in `waits`: tells its events from those
  // of an earlier connection on the same socket; 0 while not watched.
  uint32_t watch_tag = 0;
  // Its last read took all that had arrived: bytes still in the socket came after it.
  bool drained = false;
};

// A socket that wakes the listener from its wait.
struct mg_wake {
  mg_wake();
  ~mg_wake();
  mg_wake(const mg_wake&) = delete;
  mg_wake& operator=(const mg_wake&) = delete;
  void Wake() const;
  void Drain() const;
  int sock = -1;
};

struct mg_worker_conn;

struct mg_ctx {
  std::atomic<int> stop_flag{0};  // 0 running, 1 stop requested, 2 stopped

  std::array<std::string, kNumOptionSlots> options;
  std::array<std::mutex, kNumOptionSlots> option_locks;

  std::vector<mg_socket> listeners;  // guarded by the "ports" option lock
  // The document root kept open, and when it was last looked at; guarded by the "root"
  // option lock. A request keeps its own reference while it runs.
  std::shared_ptr<const mg_root> root;
  std::chrono::steady_clock::time_point root_checked;

  std::mutex handlers_lock;
  std::vector<mg_handler_entry> handlers;

  std::mutex thread_lock;  // guards everything down to serving
  std::condition_variable all_workers_ended;
  std::condition_variable queue_not_full;
  std::condition_variable queue_not_empty;  // for the idle workers that do not accept
  long max_threads = 0;
  int num_threads = 0;
  // Workers not yet past their last touch of the context. Unlocking a mutex may still
  // read it after another thread took it (so with winpthreads), so the context is freed
  // only once this is 0; it is changed outside thread_lock.
  std::atomic<int> threads_inside{0};
  int num_idle = 0;  // workers waiting for a connection
  // Of those, the ones that accept connections themselves, and when the last of them
  // took one: the listener accepts when none has waited for a while.
  int num_accepting = 0;
  const int accepting_workers = ThreadsCanWaitForConnectionsTogether() ? kAcceptingWorkers : 0;
  std::chrono::steady_clock::time_point accepting_ended;
  std::array<mg_pending, kQueueSize> queue{};
  int queue_head = 0;
  int queue_tail = 0;
  std::map<uint32_t, int> connections_per_address;
  std::map<uint32_t, int> kept_per_address;
  int num_bodies = 0;  // requests with a body, queued or being served
  std::map<uint32_t, int> bodies_per_address;
  int bodies_waiting = 0;  // complete heads with a body that wait for a worker
  int connections_waiting = 0;  // accepted beyond their address's share
  std::vector<mg_worker_conn*> serving;
  // Connections a worker accepted but cannot serve yet, for the listener: heads still
  // coming in or bodies waiting for a body worker, and connections beyond their share.
  std::vector<mg_pending> handed_over;
  std::vector<mg_socket> handed_over_beyond_share;
  // Kept connections waiting for their next request in `waits`, by socket; the listener
  // closes those past their head_due. Events that came while their connection was not
  // parked, by socket, with the connection's tag.
  std::mutex parked_lock;
  std::unordered_map<int, mg_pending> parked;
  std::unordered_map<int, uint32_t> missed;
  uint32_t watch_tags = 0;

  mg_wake wake;
  // What the accepting workers wait on: the listening sockets (changed under the "ports"
  // lock) and the kept connections. Notified when something is queued.
  CConnectionWait waits;

  std::mutex log_lock;  // guards the two streams
  mg_file error_log;    // nullptr: the standard error stream
  mg_file access_log;
  std::atomic<mg_log_hook> log_hook{nullptr};

  // The client time limits; tests shorten them before any connection arrives.
  std::chrono::milliseconds head_deadline = kHeadDeadline;
  std::chrono::milliseconds body_idle_limit = kBodyIdleLimit;
  std::chrono::milliseconds slow_body_grace = kSlowBodyGrace;
  std::chrono::milliseconds stop_grace = kStopGrace;
  std::chrono::milliseconds keep_alive_idle = kKeepAliveIdle;
  int max_requests_per_connection = kMaxRequestsPerConnection;
};

// The reply a persistent entry's handler writes, watched as it passes mg_send: its head
// (after any interim 1xx heads) and the body bytes after it.
struct mg_reply_watch {
  bool on = false;
  bool head_complete = false;
  bool too_long = false;         // the head did not fit: the reply counts as unframed
  bool last_chunk_sent = false;  // mg_send_chunk sent the zero-length chunk
  size_t head_length = 0;
  uint64_t body_bytes = 0;       // sent with mg_send after the head
  char head[kReplyHeadSize];
};

// Decodes a chunked body: chunk-size lines (extensions ignored), chunk data, the last
// chunk and its trailers (dropped).
struct mg_chunked_body {
  enum class result { data, more, done, malformed };
  // Takes bytes from the front of `input`; `data` gets the body bytes when the result is
  // data. more: input is used up. done: the body ended, `input` holds what follows it.
  result Decode(std::string_view& input, std::string_view& data);
  // How many bytes to read from the socket next: the rest of the current chunk's data
  // and at most kMaxChunkLine beyond it.
  size_t ReadSize(size_t buffer_size) const;

 private:
  enum class stage { size, extension, data, data_end, trailer, done, malformed };
  result fail();
  // A line ended: false when it breaks the framing.
  bool EndLine();
  stage stage_ = stage::size;
  uint64_t left_ = 0;         // data bytes of the current chunk still to come
  size_t line_ = 0;           // bytes of the current line so far
  size_t trailer_bytes_ = 0;  // bytes of all trailers so far
  bool digits_ = false;       // the size line has a digit
  bool cr_ = false;           // a CR ended the line so far: an LF must follow
};

// What the engine keeps for a connection beside the public record.
struct mg_conn_state {
  char output[kOutputBufferSize];  // reply bytes not sent yet
  size_t output_length = 0;
  bool output_failed = false;  // a send failed: the rest is dropped
  // A request without a body of which nothing came beyond its head: nothing is left to
  // read away before the close.
  bool nothing_unread = false;
  std::unique_ptr<char[]> body;  // kBodyReadSize bytes, made for the first body
  // Read by the listener under the thread lock: a body being read, since when, how much.
  bool reading_body = false;
  std::chrono::steady_clock::time_point body_start;
  std::atomic<uint64_t> body_bytes{0};
  std::atomic<bool> cut_off{false};  // the listener shut the socket: stop reading
  // Bytes read beyond the current request (the start of the next one), in the head
  // buffer or the body buffer.
  std::string_view unread;
  bool keep_open = false;  // the connection may serve its next request
  bool last_request = false;  // the connection closes after this request, whatever its reply
  bool first_request = false;  // the connection's first request
  mg_reply_watch reply;
};

// A worker's connection record with the head that its request texts point into.
struct mg_worker_conn {
  mg_worker_conn() { conn.state = &state; }
  mg_conn conn{};
  mg_conn_state state;
  mg_pending pending;
  std::vector<ConnectionEvent> ready;  // taken from `waits`, not served yet
};

// options.cpp
bool set_default_options(mg_ctx* ctx);
std::string get_option(mg_ctx* ctx, mg_option_slot slot);
bool option_is_true(const std::string& value);
// Calls visit for each comma-separated item of list, stopping when it returns false.
template <typename Visit>
bool for_each_list_item(std::string_view list, Visit visit) {
  while (!list.empty()) {
    const size_t comma = list.find(',');
    const std::string_view item = list.substr(0, comma);
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    if (!visit(item)) return false;
  }
  return true;
}

// text.cpp
// Splits "key=value"; false when either side is empty.
bool split_pair(std::string_view item, std::string_view& key, std::string_view& value);
// The value of a hexadecimal digit, -1 for any other character.
int hex_value(char c);
// Compares ignoring ASCII letter case.
bool equal_ignoring_case(std::string_view a, std::string_view b);
// True when the comma-separated list holds the token (ASCII case ignored).
bool has_token(std::string_view list, std::string_view token);

// log.cpp
void log_error(mg_ctx* ctx, const mg_conn* conn, const char* format, ...) __attribute__((format(printf, 3, 4)));
bool open_log_stream(mg_ctx* ctx, mg_option_slot slot, const std::string& path);
void log_access(const mg_conn* conn);
std::string dotted_address(uint32_t ip);

// listener.cpp
// What becomes of a connection just accepted, whichever thread accepted it.
enum class mg_admission {
  refused,       // closed: not allowed, or no valid head
  beyond_share,  // its address holds its share: it must wait, unread
  reading_head,  // in `connection`, its head still coming in
  head_read,     // in `connection`, its head complete
};
mg_admission admit_connection(mg_ctx* ctx, const mg_socket& socket, mg_pending& connection);
// Records what waits at the listener, so that the workers wake it when they make room.
void set_waiting(mg_ctx* ctx, int bodies, int connections);
bool set_ports(mg_ctx* ctx, const std::string& ports);
// Under the "ports" lock: the listener of that socket, nullptr when the listeners were
// replaced since an event named it.
const mg_socket* current_listener(mg_ctx* ctx, int sock);
void* listener_thread(void* ctx);
bool start_thread(void* (*body)(void*), void* arg);

// acl.cpp
bool check_acl(mg_ctx* ctx, const std::string& acl);
bool acl_allows(const std::string& acl, uint32_t ip);

// parked.cpp
// Leaves a kept connection's next request to `waits`; false when it cannot wait there
// (the engine stops, or the system refused), and the connection stays the caller's.
bool park_connection(mg_ctx* ctx, mg_pending& pending);
// Takes the parked connection an event of `waits` names; false when it is not parked
// (the event is noted for its next park).
bool take_parked(mg_ctx* ctx, const ConnectionEvent& event, mg_pending& pending);
// Has the event told again, to another worker: now while its connection is parked,
// otherwise when it is parked next.
void recheck_parked(mg_ctx* ctx, const ConnectionEvent& event);
// Closes the parked connections past their head_due, or all of them; the nearest
// head_due left, or `later` when none is nearer.
std::chrono::steady_clock::time_point close_parked(mg_ctx* ctx, bool all, std::chrono::steady_clock::time_point later);

// workers.cpp
bool claim_address(mg_ctx* ctx, uint32_t ip);
// Gives a kept connection its place in its address's share back; false while the share is full.
bool reclaim_address(mg_ctx* ctx, mg_pending& pending);
// Takes a body worker for the connection; false when its address or the engine has its share.
bool claim_body(mg_ctx* ctx, mg_pending& pending);
// Closes a connection that no worker took and gives up what it holds.
void drop_pending(mg_ctx* ctx, mg_pending& pending);
// Hands the connection to the workers; false when the engine stops first (then it is dropped).
bool queue_socket(mg_ctx* ctx, mg_pending&& pending);
void* worker_thread(void* ctx);
// Cuts the bodies that are too slow while others wait; the listener calls it.
void cut_slow_bodies(mg_ctx* ctx);
// Shuts the sockets of every request being served and drops the queued ones.
void cut_off_requests(mg_ctx* ctx);

// request.cpp
int head_length(const char* bytes, size_t length);
// Reads what has arrived of the head without waiting: 1 complete, 0 more to come,
// -1 no valid head (closed, invalid, too long).
int receive_head(mg_pending& pending);
// receive_head for a connection that waited: a kept connection's next head that began
// gets the head deadline, one complete the wait for a place in its address's share.
int continue_head(mg_ctx* ctx, mg_pending& pending);
void serve_connection(mg_worker_conn* worker);
// After a request that kept the connection open: moves the bytes read beyond it to the
// head buffer and looks for the next head in them. 1 complete, 0 not yet, -1 no valid head.
int take_unread_head(mg_worker_conn* worker);
// Then waits up to wait_ms for the rest of it, as take_unread_head answers (-1 also closed).
int receive_next_head(mg_worker_conn* worker, int wait_ms);
void finish_connection(mg_conn* conn);
// Reads up to length bytes, waiting at most until deadline: >0 bytes, 0 closed, -1 failed or late.
int read_socket(mg_conn* conn, char* bytes, size_t length, std::chrono::steady_clock::time_point deadline);

// reply.cpp
// Sends the gathered reply bytes; false when a send failed now or before.
bool flush_output(mg_conn* conn);
void send_error_reply(mg_conn* conn, int status, const char* reason, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
void send_authorization_request(mg_conn* conn);
// Sends without watching the reply (the engine's interim 100 Continue).
int send_output(mg_conn* conn, const char* bytes, size_t length);
// Whether the watched reply ended where the next reply may begin: complete, framed by its
// length or chunks, and without "Connection: close".
bool reply_is_framed(const mg_conn* conn);

// route.cpp
void route_request(mg_conn* conn, char* uri);
void decode_uri(char* uri);
void normalise_uri(char* uri);

// handlers.cpp
bool match_pattern(std::string_view pattern, std::string_view uri);
bool find_uri_handler(mg_ctx* ctx, const char* uri, mg_handler_entry& entry);
void call_uri_handler(mg_conn* conn, const mg_handler_entry& entry);

// auth.cpp
// True when the request's Digest credentials are valid for the password file; sets the remote user.
bool credentials_valid(mg_conn* conn, const std::string& password_file);
// True when no password file applies to the request or its credentials are valid for it;
// `rest` is the request's path below `base`, a folder when `is_folder`.
bool check_authorization(mg_conn* conn, const mg_root& base, std::string_view rest, bool is_folder);

// files.cpp
// base: the root or an alias folder; rest: the URI's part below it; found: what it names
// when opened.
void serve_document(mg_conn* conn, const mg_root& base, const std::string& rest, bool opened, FileBeneath found);

// dates.cpp
// "Sun, 06 Nov 1994 08:49:37 GMT" for a time in seconds since 1970.
std::string format_http_date(time_t when);
// Reads that form back; false when the text is not such a date.
bool parse_http_date(std::string_view text, time_t& when);

// listing.cpp
void send_directory_listing(mg_conn* conn, const std::string& folder);
