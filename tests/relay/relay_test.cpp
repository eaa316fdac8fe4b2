// olvaro-relay as a process on its two storages: the desktop's requests answered as its
// poller parses them, pairing and guessing, uploads and every refusal, expiry, a crash
// mid-upload, two relays sharing one data folder, two relays sharing nothing but one
// PostgreSQL database with one desktop's poller going to either, the news of a job from
// one to the other, a PostgreSQL restart, and polls of empty queues answered from memory
// while the PCs' last-seen times wait there for a database that takes them.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "cloud/printercloud.h"
#include "relay/sqldatabase.h"
#include "tests/relay/relayprocess.h"
#include "tests/support/servicetest.h"

namespace {

namespace fs = std::filesystem;

const std::string kUuid = "3b1f0a9c-5d2e-4c61-9a7b-0e8f2d4c6a10";
const std::string kOtherUuid = "9f8e7d6c-5b4a-4321-8765-43210fedcba9";

std::vector<QueueTask> ParsedQueue(const std::string& answer) {
  std::vector<QueueTask> tasks;
  const auto lines = SplitText(answer, '\n');
  for (size_t i = 0; i < lines.size(); ++i) {
    QueueTask task;
    EXPECT_TRUE(ParseQueueLine(lines[i], static_cast<int>(i), task)) << lines[i];
    tasks.push_back(task);
  }
  return tasks;
}

// `text` against `pattern`: x a lower-case hexadecimal digit, V one of 8, 9, a, b, C a
// character of the auth-code alphabet; anything else stands for itself.
bool Matches(const std::string& text, const std::string& pattern) {
  const std::map<char, std::string> classes = {
      {'x', "0123456789abcdef"}, {'V', "89ab"}, {'C', "ABCDEFGHJKMNPQRSTUVWXYZ23456789"}};
  if (text.size() != pattern.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto found = classes.find(pattern[i]);
    if (found == classes.end() ? text[i] != pattern[i] : found->second.find(text[i]) == std::string::npos) return false;
  }
  return true;
}

// The bytes of the files under `folder`, at any depth.
uintmax_t BytesUnder(const std::string& folder) {
  std::error_code ignored;
  uintmax_t bytes = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder, ignored)) {
    if (entry.is_regular_file(ignored)) bytes += entry.file_size(ignored);
  }
  return bytes;
}

// An upload held half-sent on a raw socket (plain HTTP), finished on demand. Its first
// half is more than a store buffers before it writes.
struct HeldUpload {
  explicit HeldUpload(const RelayProcess& relay) : connection(static_cast<uint16_t>(relay.Port())) {}
  void Begin(const SenderClient& sender, const std::string& name) {
    connection.Send("POST /upload?name=" + name + "&copies=1 HTTP/1.1\r\nHost: x\r\nContent-Length: 2400000\r\n"
                    "Cookie: olvaro_pairing=" + sender.token + "\r\nX-CSRF-Token: " + sender.csrf + "\r\n\r\n" +
                    std::string(1200000, 'h'));
  }
  // The status line of the answer.
  std::string Finish() {
    connection.Send(std::string(1200000, 'h'));
    const std::string answer = connection.ReadUntil("\r\n");
    return answer.substr(0, answer.find("\r\n"));
  }
  PhoneConnection connection;
};

// Waits until `done` or `limit` has passed.
template <typename Condition>
bool WaitFor(Condition done, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  for (auto end = std::chrono::steady_clock::now() + limit; !done() && std::chrono::steady_clock::now() < end;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

// A pairing attempt from `address`, as a reverse proxy on loopback names it.
long PairFrom(const RelayProcess& relay, const std::string& address, const std::string& code) {
  return HttpPostForm(relay.BaseUrl() + "/pair", "code=" + code, {"X-Forwarded-For: " + address}).status;
}

class RelayStorageTest : public testing::TestWithParam<std::string> {
protected:
  // The storage options of this run: SQLite in the data folder, or a fresh PostgreSQL database.
  std::vector<std::string> Options(std::vector<std::string> more = {}) {
    if (GetParam() == "postgresql") {
      if (database.empty()) database = PostgresServer::Get().NewDatabase();
      if (database.empty()) ADD_FAILURE() << "no PostgreSQL: " << PostgresServer::Get().Error();
      more.insert(more.end(), {"--database", database.empty() ? "postgresql://unavailable" : database});
    }
    return more;
  }
  std::string Data() const { return environment.Root() + "data"; }
  // The documents the relay keeps, whole or on their way in: files beside SQLite, named
  // by their job's id (empty ones not counted), rows of the database beside PostgreSQL.
  std::vector<std::string> DocumentsKept() {
    std::vector<std::string> names;
    if (database.empty()) {
      std::error_code ignored;
      for (const auto& entry : fs::recursive_directory_iterator(Data(), ignored)) {
        const bool document = entry.path().parent_path().filename() == "documents" ||
                              entry.path().parent_path().parent_path().filename() == "incoming";
        if (document && entry.is_regular_file(ignored) && entry.file_size(ignored) > 0) {
          names.push_back(entry.path().filename().string());
        }
      }
      return names;
    }
    for (const SqlRow& row : Query("SELECT DISTINCT document FROM document_pieces").rows) names.push_back(row[0]);
    return names;
  }
  // Puts document `name` where the relay keeps its documents, as last written `age` ago.
  void PlantDocument(const std::string& name, std::chrono::hours age) {
    if (database.empty()) {
      const std::string path = Data() + "/documents/" + name;
      std::ofstream(path) << "planted";
      fs::last_write_time(path, fs::file_time_type::clock::now() - age);
      return;
    }
    const auto written = std::chrono::system_clock::now() - age;
    Query("INSERT INTO document_pieces (document, piece, written, bytes) VALUES ($1, 0, $2, 'planted')",
          {name, std::to_string(std::chrono::duration_cast<std::chrono::seconds>(written.time_since_epoch()).count())});
  }
  SqlResult Query(const std::string& sql, const std::vector<std::string>& params = {}) {
    std::string error;
    const auto db = OpenSqlConnection(database.empty() ? Data() + "/relay.sqlite" : database, error);
    EXPECT_TRUE(db) << error;
    return db ? db->Execute(sql, params) : SqlResult{};
  }
  // Pairs a sender with the desktop's PC through a fresh code.
  SenderClient PairedSender(const RelayProcess& relay, const DesktopClient& desktop) {
    SenderClient sender{relay};
    EXPECT_EQ(sender.Pair(desktop.AuthCode()), 200);
    return sender;
  }

  TestEnvironment environment;
  std::string database;
};

TEST_P(RelayStorageTest, DesktopFindsSentJobsInItsQueueAndTheAcknowledgementRemovesThem) {
  RelayProcess relay(Data(), Options());
  ASSERT_TRUE(relay.Started()) << relay.Log();
  const std::string uuid = HttpPostForm(relay.Api("generate-uuid.php"), "").body;
  EXPECT_TRUE(Matches(uuid, "xxxxxxxx-xxxx-4xxx-Vxxx-xxxxxxxxxxxx")) << uuid;
  const DesktopClient desktop{relay, uuid};
  const std::string code = desktop.AuthCode();
  EXPECT_TRUE(Matches(code, "CCCCCC")) << code;
  EXPECT_EQ(desktop.Announce("office-pc", "iWork,PDF").status, 200);
  // Known empty from here on: the jobs below must still show at the next poll.
  EXPECT_EQ(desktop.Queue(), "0");

  SenderClient sender{relay};
  ASSERT_EQ(sender.Pair(code), 200);
  const std::string status = sender.Status().body;
  EXPECT_NE(status.find("\"name\":\"office-pc\""), std::string::npos) << status;
  EXPECT_NE(status.find("\"addresses\":\"192.168.1.5, 10.0.0.2\""), std::string::npos) << status;
  EXPECT_NE(status.find("\"notHave\":\"iWork,PDF\""), std::string::npos) << status;
  EXPECT_NE(status.find("\"online\":true"), std::string::npos) << status;

  const std::string first = WritePatternFile(environment.Root(), "a", 300000, 1);
  ASSERT_EQ(sender.Upload("report.pdf", first, 3), 201);
  ASSERT_EQ(sender.Upload("notes.txt", "short", 1), 201);
  // The desktop's own parser reads the answer.
  const auto tasks = ParsedQueue(desktop.Queue());
  ASSERT_EQ(tasks.size(), 2u);
  EXPECT_EQ(tasks[0].localName, "CloudPrint_0_report.pdf");
  EXPECT_EQ(tasks[0].size, 300000);
  EXPECT_EQ(tasks[0].copies, 3);
  EXPECT_EQ(tasks[1].localName, "CloudPrint_1_notes.txt");
  EXPECT_EQ(tasks[1].copies, 1);

  const Exchange download = desktop.Download(tasks[0].id);
  EXPECT_EQ(download.status, 200);
  EXPECT_TRUE(download.body == first);
  EXPECT_NE(sender.Status().body.find("\"state\":\"fetched\""), std::string::npos);
  EXPECT_EQ(desktop.Acknowledge(tasks[0].file).status, 200);
  EXPECT_EQ(ParsedQueue(desktop.Queue()).size(), 1u);
  EXPECT_EQ(desktop.Download(tasks[0].id).status, 404);
  EXPECT_EQ(DocumentsKept(), std::vector<std::string>{tasks[1].id});
  EXPECT_NE(sender.Status().body.find("\"state\":\"printed\""), std::string::npos);

  // The log names requests, not identities, keys or contents.
  const std::string log = relay.Log();
  EXPECT_NE(log.find("GET /api/olvarocloud/q/... 200"), std::string::npos) << log;
  EXPECT_EQ(log.find(uuid), std::string::npos);
  EXPECT_EQ(log.find(tasks[0].id), std::string::npos);
}

TEST_P(RelayStorageTest, AJobIsSeenAndAcknowledgedOnlyByItsPc) {
  RelayProcess relay(Data(), Options());
  ASSERT_TRUE(relay.Started()) << relay.Log();
  const DesktopClient desktop{relay, kUuid};
  const DesktopClient other{relay, kOtherUuid};
  SenderClient sender = PairedSender(relay, desktop);
  ASSERT_EQ(sender.Upload("mine.pdf", "mine"), 201);

  EXPECT_EQ(other.Queue(), "0");
  const auto tasks = ParsedQueue(desktop.Queue());
  ASSERT_EQ(tasks.size(), 1u);
  EXPECT_EQ(other.Acknowledge(tasks[0].file).status, 404);
  EXPECT_EQ(ParsedQueue(desktop.Queue()).size(), 1u);
  // Identities that break the desktop's rules, and a queue path that does not fit its identity.
  EXPECT_EQ(DesktopClient({relay, "0"}).AuthCode(), "unknown identity");
  EXPECT_EQ(HttpGet(relay.Api("q/x/y/" + kUuid)).status, 404);
  EXPECT_EQ(HttpGet(relay.Api("upload/../relay.sqlite")).status, 404);
}

// One thread: the wrong-code bookkeeping must not wait for a second database connection.
TEST_P(RelayStorageTest, WrongAndExpiredCodesLockTheAddressOutAndACodePairsOnce) {
  RelayProcess relay(Data(), Options({"--code-lifetime", "2s", "--max-wrong-codes", "4", "--threads", "1"}));
  ASSERT_TRUE(relay.Started()) << relay.Log();
  const DesktopClient desktop{relay, kUuid};
  SenderClient sender{relay};
  const std::string code = desktop.AuthCode();
  ASSERT_EQ(sender.Pair(code), 200);
  EXPECT_EQ(sender.Pair(code), 403);  // used: wrong from now on

  const std::string stale = desktop.AuthCode();
  std::this_thread::sleep_for(std::chrono::milliseconds(3100));
  EXPECT_EQ(sender.Pair(stale), 410);
  EXPECT_EQ(sender.Pair("AAAAAA"), 403);
  // Pairing a code of one's own between guesses clears no count.
  EXPECT_EQ(SenderClient{relay}.Pair(desktop.AuthCode()), 200);
  EXPECT_EQ(sender.Pair("AAAAAB"), 403);  // the fourth wrong try locks
  // Locked: even a good code is refused.
  SenderClient late{relay};
  EXPECT_EQ(late.Pair(desktop.AuthCode()), 429);
  EXPECT_TRUE(late.token.empty());
}

TEST_P(RelayStorageTest, GuessesFromManyAddressesAreBoundedPerNetworkAndForTheWholeRelay) {
  // A network may make four times an address's wrong codes.
  RelayProcess relay(Data(), Options({"--max-wrong-codes", "2", "--max-wrong-codes-per-minute", "24"}), false);
  ASSERT_TRUE(relay.Started()) << relay.Log();
  const DesktopClient desktop{relay, kUuid};
  for (const std::string network : {"10.1.1.", "2001:db8:0:1::"}) {
    for (int host = 1; host <= 8; ++host) EXPECT_EQ(PairFrom(relay, network + std::to_string(host), "AAAAAA"), 403);
    EXPECT_EQ(PairFrom(relay, network + "99", desktop.AuthCode()), 429) << network;
  }
  EXPECT_EQ(PairFrom(relay, "10.1.2.1", desktop.AuthCode()), 200);
  EXPECT_EQ(PairFrom(relay, "2001:db8:0:2::1", "AAAAAA"), 403);
  // The whole relay: 24 wrong codes a minute, from wherever they come.
  for (int network = 1; network <= 7; ++network) EXPECT_EQ(PairFrom(relay, "10.2." + std::to_string(network) + ".1", "AAAAAA"), 403);
  EXPECT_EQ(PairFrom(relay, "10.3.0.1", desktop.AuthCode()), 429);
  // Each lock says its own wait: a network's lasts the lock time, the whole relay's a minute.
  const auto retryAfter = [&](const std::string& address) {
    const Exchange locked = HttpPostForm(relay.BaseUrl() + "/pair", "code=AAAAAA", {"X-Forwarded-For: " + address});
    return locked.headers.count("retry-after") ? std::stol(locked.headers.at("retry-after")) : -1L;
  };
  EXPECT_GT(retryAfter("10.1.1.50"), 60);
  EXPECT_LE(retryAfter("10.1.1.50"), 15 * 60);
  EXPECT_GT(retryAfter("10.4.0.1"), 0);
  EXPECT_LE(retryAfter("10.4.0.1"), 60);
}

TEST_P(RelayStorageTest, UploadsAreRefusedWithoutPairingTokenOrRoomAndNothingOfThemIsKept) {
  RelayProcess relay(Data(), Options({"--max-document-mib", "2", "--max-waiting-jobs", "2"}));
  ASSERT_TRUE(relay.Started()) << relay.Log();
  const DesktopClient desktop{relay, kUuid};
  SenderClient sender = PairedSender(relay, desktop);

  const std::string large = WritePatternFile(environment.Root(), "large", (2 << 20) + 1, 2);
  EXPECT_EQ(sender.Upload("large.pdf", large), 413);
  // Without a declared length the limit strikes while the bytes stream in.
  const Exchange chunked = HttpPostFile(relay.BaseUrl() + "/upload?name=x.pdf&copies=1", environment.Root() + "large",
                                        {"Cookie: olvaro_pairing=" + sender.token, "X-CSRF-Token: " + sender.csrf,
                                         "Transfer-Encoding: chunked"});
  EXPECT_EQ(chunked.status, 413);
  SenderClient stranger{relay};
  EXPECT_EQ(stranger.Upload("a.pdf", "x"), 401);
  SenderClient forged = sender;
  forged.csrf = "0";
  EXPECT_EQ(forged.Upload("a.pdf", "x"), 403);
  EXPECT_EQ(sender.Upload("a.pdf", "x", 0), 400);
  EXPECT_EQ(sender.Upload("empty.pdf", ""), 400);
  EXPECT_EQ(desktop.Queue(), "0");

  EXPECT_EQ(sender.Upload("1.pdf", "one"), 201);
  EXPECT_EQ(sender.Upload("2.pdf", "two"), 201);
  EXPECT_EQ(sender.Upload("3.pdf", "three"), 429);
  EXPECT_EQ(ParsedQueue(desktop.Queue()).size(), 2u);
  EXPECT_EQ(DocumentsKept().size(), 2u);
}

// Uploads under way hold their place in the PC's queue, and parallel ones never overfill
// it: of 16 begun at once with room for 4, 4 are written and taken.
TEST_P(RelayStorageTest, ParallelUploadsNeverOverfillAPcsQueue) {
  RelayProcess relay(Data(), Options({"--max-waiting-jobs", "4", "--threads", "16"}), false);
  ASSERT_TRUE(relay.Started()) << relay.Log();
  const DesktopClient desktop{relay, kUuid};
  const SenderClient sender = PairedSender(relay, desktop);
  std::vector<std::unique_ptr<HeldUpload>> uploads;
  for (int i = 0; i < 16; ++i) uploads.push_back(std::make_unique<HeldUpload>(relay));
  for (auto& upload : uploads) upload->Begin(sender, "many.pdf");
  const auto written = [this] { return DocumentsKept().size(); };
  WaitFor([&] { return written() > 4; }, std::chrono::seconds(1));
  EXPECT_EQ(written(), 4u);
  std::map<std::string, int> answers;
  for (auto& upload : uploads) ++answers[upload->Finish()];
  EXPECT_EQ(answers, (std::map<std::string, int>{{"HTTP/1.1 201 Created", 4}, {"HTTP/1.1 429 Too Many Requests", 12}}));
  EXPECT_EQ(ParsedQueue(desktop.Queue()).size(), 4u);
}

TEST_P(RelayStorageTest, HostileNamesBecomeSafeFileNamesInTheQueue) {
  RelayProcess relay(Data(), Options());
  ASSERT_TRUE(relay.Started()) << relay.Log();
  const DesktopClient desktop{relay, kUuid};
  SenderClient sender = PairedSender(relay, desktop);
  // PC names that are no UTF-8, or become none where they are cut, are stored repaired.
  const std::string replacement = "\xEF\xBF\xBD";
  const std::pair<std::string, std::string> pcNames[] = {
      {"caf%C3%A9%FF%C3", "caf\xC3\xA9" + replacement + replacement},
      {std::string(254, 'n') + "%C3%A9", std::string(254, 'n')},
  };
  for (const auto& [announced, stored] : pcNames) {
    ASSERT_EQ(desktop.Announce(announced, "PDF").status, 200) << relay.Log();
    EXPECT_NE(sender.Status().body.find("\"name\":\"" + stored + "\""), std::string::npos) << stored;
  }
  const std::vector<std::pair<std::string, std::string>> names = {
      {"../../etc/passwd", "passwd"},
      {"C:\\Users\\x\\report.pdf", "report.pdf"},
      {"a\tb\nc\rd.pdf", "a_b_c_d.pdf"},
      {"..", "document"},
      {".hidden.pdf", "hidden.pdf"},
      {"$(reboot);`x`.pdf", "_(reboot)__x_.pdf"},
      {std::string(300, 'n') + ".pdf", std::string(116, 'n') + ".pdf"},
  };
  for (const auto& [sent, expected] : names) ASSERT_EQ(sender.Upload(sent, "x"), 201) << sent;
  const auto tasks = ParsedQueue(desktop.Queue());
  ASSERT_EQ(tasks.size(), names.size());
  std::multiset<std::string> queued, expected;
  for (size_t i = 0; i < tasks.size(); ++i) {
    queued.insert(tasks[i].localName.substr(tasks[i].localName.find('_', 11) + 1));
    expected.insert(names[i].second);
  }
  EXPECT_EQ(queued, expected);
  // The bytes are stored under random names only.
  for (const std::string& stored : DocumentsKept()) EXPECT_TRUE(Matches(stored, std::string(32, 'x'))) << stored;
}

// Two pollers of one identity (a cloned PC, a retried poll) download each job once.
TEST_P(RelayStorageTest, AJobGoesToOneDownloadAtATimeAndNeverAcknowledgedExpiresWithItsBytes) {
  // The lease outlasts the twelve downloads, and the lifetime the lease, on a busy machine
  // under the sanitizers.
  RelayProcess relay(Data(), Options({"--job-lifetime", "25s", "--download-lease", "10s"}));
  ASSERT_TRUE(relay.Started()) << relay.Log();
  const DesktopClient desktop{relay, kUuid};
  SenderClient sender = PairedSender(relay, desktop);
  for (int i = 0; i < 6; ++i) ASSERT_EQ(sender.Upload("forgotten.pdf", "bytes"), 201);
  const auto tasks = ParsedQueue(desktop.Queue());
  ASSERT_EQ(tasks.size(), 6u);
  std::atomic<int> downloads{0};
  std::vector<std::thread> pollers;
  for (int poller = 0; poller < 2; ++poller) {
    pollers.emplace_back([&] {
      for (const QueueTask& task : tasks) downloads += desktop.Download(task.id).status == 200 ? 1 : 0;
    });
  }
  for (std::thread& poller : pollers) poller.join();
  EXPECT_EQ(downloads, 6);
  EXPECT_EQ(desktop.Queue(), "0");
  // A lease ended (here by hand, as time ends it) offers its job at the next poll: a queue
  // of leased jobs is never taken for an empty one.
  ASSERT_TRUE(Query("UPDATE jobs SET lease_until = 0 WHERE id = $1", {tasks[5].id}).ok);
  EXPECT_EQ(ParsedQueue(desktop.Queue()).size(), 1u);
  // Polls until the queue offers `count` jobs, for at most `seconds`.
  const auto offers = [&desktop](size_t count, int seconds) {
    for (int i = 0; i < seconds * 5; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(200))) {
      if (ParsedQueue(desktop.Queue()).size() == count) return true;
    }
    return false;
  };
  // Fetched but not acknowledged: offered again once the lease is over.
  EXPECT_TRUE(offers(6, 20));
  EXPECT_EQ(desktop.Acknowledge(tasks[0].file).status, 200);
  EXPECT_EQ(desktop.Acknowledge(tasks[0].file).status, 200);  // again: harmless

  // Never acknowledged: gone with its bytes once its lifetime is over.
  EXPECT_TRUE(offers(0, 45));
  EXPECT_EQ(desktop.Download(tasks[1].id).status, 404);
  // The bytes go at the next sweep, a quarter of the lifetime later at the most.
  EXPECT_TRUE(WaitFor([&] { return DocumentsKept().empty(); }, std::chrono::seconds(10)));
}

TEST_P(RelayStorageTest, ARelayKilledMidWayLeavesNothingStoredForGoodAndTouchesNoOtherRelaysUpload) {
  // Plain HTTP on loopback lets the test hold an upload half-sent on a raw socket.
  auto relay = std::make_unique<RelayProcess>(Data(), Options(), false);
  ASSERT_TRUE(relay->Started()) << relay->Log();
  SenderClient sender = PairedSender(*relay, {*relay, kUuid});
  {
    // Another relay starting on the same folder leaves this one's upload alone.
    HeldUpload upload(*relay);
    upload.Begin(sender, "kept.pdf");
    ASSERT_TRUE(WaitFor([&] { return DocumentsKept().size() == 1; }));
    RelayProcess other(Data(), Options(), false);
    ASSERT_TRUE(other.Started()) << other.Log();
    EXPECT_EQ(upload.Finish(), "HTTP/1.1 201 Created");
  }
  HeldUpload upload(*relay);
  upload.Begin(sender, "half.pdf");
  ASSERT_TRUE(WaitFor([&] { return DocumentsKept().size() == 2; }));
  relay->Kill();
  // Documents stored whose jobs were never recorded: one older than any job may live, one
  // that may still be on its way to its record.
  const std::string stale(32, 'a'), fresh(32, 'b');
  PlantDocument(stale, std::chrono::hours(48));
  PlantDocument(fresh, std::chrono::hours(0));

  relay = std::make_unique<RelayProcess>(Data(), Options(), false);
  ASSERT_TRUE(relay->Started()) << relay->Log();
  const auto tasks = ParsedQueue(DesktopClient({*relay, kUuid}).Queue());
  ASSERT_EQ(tasks.size(), 1u);
  const auto kept = [this](const std::string& name) { return std::ranges::count(DocumentsKept(), name) == 1; };
  EXPECT_TRUE(WaitFor([&] { return !kept(stale); }));
  EXPECT_TRUE(kept(fresh));
  EXPECT_TRUE(kept(tasks[0].id));
  // A stopped relay's upload in files goes at once; in the database it goes with age, as
  // the stale document did.
  EXPECT_EQ(DocumentsKept().size(), database.empty() ? 2u : 3u);
}

// A poll of a queue known empty touches no database however seldom it comes, and the
// times its PC was seen go to the database in batches: kept while the database refuses
// them (the PC showing online and no sweep taking it for idle meanwhile), written once it
// takes them, and at the latest when the relay stops.
TEST_P(RelayStorageTest, AnEmptyQueueIsAnsweredFromMemoryAndTheLastSeenTimesAreKeptUntilWritten) {
  // A sweep every second.
  auto relay = std::make_unique<RelayProcess>(Data(), Options({"--job-lifetime", "4s"}));
  ASSERT_TRUE(relay->Started()) << relay->Log();
  const DesktopClient desktop{*relay, kUuid};
  const SenderClient sender = PairedSender(*relay, desktop);
  EXPECT_EQ(desktop.Announce("office-pc", "PDF").status, 200);
  EXPECT_EQ(desktop.Queue(), "0");
  const auto seenInDatabase = [&] {
    const SqlResult seen = Query("SELECT last_seen FROM pcs WHERE uuid = $1", {kUuid});
    return seen.rows.empty() ? -1 : std::stoll(seen.rows[0][0]);
  };
  // The database holds the PC as seen long ago and refuses to note it seen again.
  const bool sqlite = database.empty();
  const std::vector<std::string> refuse =
      sqlite ? std::vector<std::string>{"CREATE TRIGGER refuse BEFORE UPDATE ON pcs WHEN NEW.last_seen > 0"
                                        " BEGIN SELECT RAISE(ABORT, 'refused'); END"}
             : std::vector<std::string>{"CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS"
                                        " 'BEGIN RAISE EXCEPTION ''refused''; END'",
                                        "CREATE TRIGGER refuse BEFORE UPDATE ON pcs FOR EACH ROW"
                                        " WHEN (NEW.last_seen > 0) EXECUTE FUNCTION refuse()"};
  for (const std::string& statement : refuse) ASSERT_TRUE(Query(statement).ok) << statement;
  ASSERT_TRUE(Query("UPDATE pcs SET last_seen = 0").ok);
  EXPECT_NE(sender.Status().body.find("\"online\":true"), std::string::npos) << sender.Status().body;
  // And reading a queue fails: longer than a last-seen time once aged before a poll read again.
  ASSERT_TRUE(Query("ALTER TABLE pcs RENAME TO pcs_away").ok);
  std::this_thread::sleep_for(std::chrono::seconds(12));
  const long long polled = std::time(nullptr);
  EXPECT_EQ(desktop.Queue(), "0") << relay->Log();
  // Unless the jobs added lately cannot be read either: then no queue is known empty.
  ASSERT_TRUE(Query("ALTER TABLE jobs RENAME TO jobs_away").ok);
  EXPECT_TRUE(WaitFor([&] { return desktop.Queue().empty(); }, std::chrono::seconds(3)));
  ASSERT_TRUE(Query("ALTER TABLE jobs_away RENAME TO jobs").ok && Query("ALTER TABLE pcs_away RENAME TO pcs").ok);
  EXPECT_EQ(seenInDatabase(), 0);
  const std::string refused = "cannot write the last-seen times of 1 PCs";
  const std::string log = relay->Log();
  EXPECT_EQ(log.find(refused), log.rfind(refused)) << log;

  ASSERT_TRUE(Query(sqlite ? "DROP TRIGGER refuse" : "DROP TRIGGER refuse ON pcs").ok);
  EXPECT_TRUE(WaitFor([&] { return seenInDatabase() >= polled; })) << relay->Log();
  EXPECT_NE(relay->Log().find("wrote the last-seen times kept in memory"), std::string::npos);
  // Polled just before the relay stops.
  ASSERT_TRUE(Query("UPDATE pcs SET last_seen = 0").ok);
  const long long last = std::time(nullptr);
  EXPECT_EQ(desktop.Queue(), "0");
  relay.reset();
  EXPECT_GE(seenInDatabase(), last);
}

// A job added unheard of by the polled relay, through another process on the same SQLite
// file or as a relay that tells no news of jobs adds it, shows in a queue it knew empty.
TEST_P(RelayStorageTest, AJobNoNewsTellsOfShowsInAQueueKnownEmptyWithinSeconds) {
  RelayProcess adding(Data(), Options()), polled(Data(), Options());
  ASSERT_TRUE(adding.Started() && polled.Started()) << adding.Log() << polled.Log();
  const DesktopClient desktop{polled, kUuid};
  const SenderClient sender = PairedSender(adding, desktop);
  EXPECT_EQ(desktop.Queue(), "0");
  const long long now = std::time(nullptr);
  if (database.empty()) {
    ASSERT_EQ(sender.Upload("a.pdf", "a"), 201);
  } else {
    ASSERT_TRUE(Query("INSERT INTO jobs (id, uuid, token, name, size, copies, created, arrived, state)"
                      " VALUES ($1, $2, $3, 'a.pdf', 1, 1, $4, $5, 0)",
                      {std::string(32, 'c'), kUuid, sender.token, std::to_string(now), std::to_string(now * 1000000)})
                    .ok);
  }
  EXPECT_TRUE(WaitFor([&] { return ParsedQueue(desktop.Queue()).size() == 1; }, std::chrono::seconds(3)));
}

// A hostile client on the network: connections held open, requests trickled in, request
// bodies a proxy could read differently, identities by the thousand, old TLS.
class RelayExposureTest : public testing::Test {
protected:
  std::string Data() const { return environment.Root() + "data"; }
  TestEnvironment environment;
};

TEST_F(RelayExposureTest, OneAddressCannotCrowdOthersOut) {
  // Heads may take long here: the crowd holds its connections throughout.
  RelayProcess relay(Data(), {"--max-connections", "24", "--max-connections-per-address", "6", "--head-time", "5m"}, false);
  ASSERT_TRUE(relay.Started()) << relay.Log();
  const auto port = static_cast<uint16_t>(relay.Port());
  // More connections than the relay takes in all, from one address, each holding a
  // request head it never completes.
  std::vector<std::unique_ptr<PhoneConnection>> crowd;
  for (int i = 0; i < 30; ++i) {
    crowd.push_back(std::make_unique<PhoneConnection>(port));
    crowd.back()->Send("G");
  }
  PhoneConnection other(port, "127.0.0.2");
  ASSERT_TRUE(other.Send("GET /status HTTP/1.1\r\nHost: x\r\n\r\n"));
  EXPECT_TRUE(other.ReadUntil("\r\n").starts_with("HTTP/1.1 401"));
  const auto open = [&] { return std::count_if(crowd.begin(), crowd.end(), [](auto& each) { return !each->Closed(); }); };
  for (int i = 0; i < 20 && open() > 6; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(open(), 6);
}

TEST_F(RelayExposureTest, IdleAndTrickledRequestsAreCutInTime) {
  RelayProcess relay(Data(), {"--head-time", "2s", "--request-time", "4s"}, false);
  ASSERT_TRUE(relay.Started()) << relay.Log();
  const auto port = static_cast<uint16_t>(relay.Port());
  PhoneConnection idle(port);
  PhoneConnection slowHead(port);
  PhoneConnection slowBody(port);
  ASSERT_TRUE(slowBody.Send("POST /pair HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n"));
  // A byte every half second: far more often than the relay's silence limit.
  const auto start = std::chrono::steady_clock::now();
  while (!(idle.Closed() && slowHead.Closed() && slowBody.Closed()) &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(9)) {
    slowHead.Send("G");
    slowBody.Send("c");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  EXPECT_TRUE(idle.Closed());
  EXPECT_TRUE(slowHead.Closed());
  EXPECT_TRUE(slowBody.Closed());
}

TEST_F(RelayExposureTest, ABodyOfAmbiguousLengthIsRefusedAndNothingAfterItIsRead) {
  RelayProcess relay(Data(), {}, false);
  ASSERT_TRUE(relay.Started()) << relay.Log();
  // A proxy that went by the whole length would pass the request hidden in the body on.
  const std::string hidden = "GET /status HTTP/1.1\r\nHost: x\r\n\r\n";
  const std::string whole = std::to_string(hidden.size() + 5);
  const std::pair<std::string, std::string> requests[] = {
      {"Content-Length: 5\r\nContent-Length: " + whole, "code="},
      {"Content-Length: " + whole + "\r\nTransfer-Encoding: chunked", "0\r\n\r\n"},
      {"Transfer-Encoding: chunked\r\ncontent-length: " + whole, "0\r\n\r\n"},
  };
  for (const auto& [lengths, body] : requests) {
    const std::string answer = ExchangeWithService(static_cast<uint16_t>(relay.Port()),
                                                   "POST /pair HTTP/1.1\r\nHost: x\r\n" + lengths + "\r\n\r\n" + body + hidden);
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 400")) << lengths << "\n" << answer;
    EXPECT_EQ(answer.find("HTTP/1.1", 1), std::string::npos) << lengths << "\n" << answer;
  }
}

TEST_F(RelayExposureTest, NewIdentitiesAreRationedPerAddressAndPerIpv6Network) {
  RelayProcess relay(Data(), {"--identities-per-hour", "3"}, false);
  ASSERT_TRUE(relay.Started()) << relay.Log();
  const auto create = [&](const std::string& client) {
    return HttpPostForm(relay.Api("generate-uuid.php"), "", {"X-Forwarded-For: " + client});
  };
  for (int i = 0; i < 3; ++i) EXPECT_EQ(create("203.0.113.7").status, 200);
  const Exchange refused = create("203.0.113.7");
  EXPECT_EQ(refused.status, 429);
  const std::string wait = refused.headers.count("retry-after") ? refused.headers.at("retry-after") : "";
  EXPECT_TRUE(std::atoi(wait.c_str()) > 0 && std::atoi(wait.c_str()) <= 1200) << wait;
  EXPECT_EQ(create("203.0.113.8").status, 200);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(create("2001:db8:1:2::" + std::to_string(i + 1)).status, 200);
  EXPECT_EQ(create("2001:db8:1:2:ffff::9").status, 429);
}

TEST_F(RelayExposureTest, OnlyTls12AndNewerWithAuthenticatedSuitesAreOfferedAndHttpsIsPinned) {
  RelayProcess relay(Data());
  ASSERT_TRUE(relay.Started()) << relay.Log();
  const std::vector<std::pair<std::string, bool>> handshakes = {
      {"-tls1 -cipher DEFAULT:@SECLEVEL=0", false},
      {"-tls1_1 -cipher DEFAULT:@SECLEVEL=0", false},
      {"-tls1_2 -cipher ECDHE-ECDSA-AES128-SHA:@SECLEVEL=0", false},
      {"-tls1_2 -cipher ECDHE-ECDSA-AES256-SHA384", false},
      {"-tls1_2", true},
      {"-tls1_3", true},
  };
  for (const auto& [client, accepted] : handshakes) {
    const std::string command = "openssl s_client -connect 127.0.0.1:" + std::to_string(relay.Port()) + " " + client +
                                " </dev/null >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()) == 0, accepted) << client;
  }
  const Exchange page = HttpGet(relay.BaseUrl() + "/");
  EXPECT_EQ(page.status, 200);
  EXPECT_TRUE(page.headers.count("strict-transport-security") &&
              page.headers.at("strict-transport-security").starts_with("max-age="));
}

INSTANTIATE_TEST_SUITE_P(Storage, RelayStorageTest, testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });

// The desktop's poller, as the program runs it, keeping what it prints.
class RecordingDesktop : public CCloudStatusSink {
public:
  explicit RecordingDesktop(const std::string& uuid) : poller(*this, uuid, Environment()) {}
  void CloudBusy(bool) override {}
  void CloudState(bool) override {}

  TPrinterCloud poller;
  std::map<std::string, std::string> printed;  // document name -> bytes
  std::vector<std::string> twice;
  std::function<void()> afterPrint;

private:
  CloudEnvironment Environment() {
    return {[this](const std::string& path) {
              // "CloudPrint_<position>_<name>"
              const std::string file = fs::path(path).filename().string();
              const std::string name = file.substr(file.find('_', 11) + 1);
              if (printed.count(name)) twice.push_back(name);
              printed[name] = ReadTestFile(path).value_or("");
              afterPrint();
              return PrintOutcome{true, "Recorder", ""};
            },
            [] { return std::string("PDF"); }, [] { return std::vector<std::string>{"192.168.1.5"}; },
            [] { return std::string("office-pc"); }};
  }
};

// Two relays behind one address with nothing shared but the database (on machines of
// their own, each with its own data folder) and one desktop whose requests land on
// either in turn, while documents, some many database pieces long, arrive through both.
TEST(RelayPostgresTest, TwoRelaysSharingOnlyTheDatabaseServeOneDesktopWithoutLosingOrDuplicatingAJob) {
  TestEnvironment environment;
  const std::string database = PostgresServer::Get().NewDatabase();
  ASSERT_FALSE(database.empty()) << PostgresServer::Get().Error();
  const std::string folders[] = {environment.Root() + "first", environment.Root() + "second"};
  RelayProcess first(folders[0], {"--database", database});
  RelayProcess second(folders[1], {"--database", database});
  ASSERT_TRUE(first.Started() && second.Started()) << first.Log() << second.Log();
  const RelayProcess* relays[] = {&first, &second};
  SenderClient senders[] = {{first}, {second}};
  ASSERT_EQ(senders[0].Pair(DesktopClient({second, kUuid}).AuthCode()), 200);
  ASSERT_EQ(senders[1].Pair(DesktopClient({first, kUuid}).AuthCode()), 200);

  constexpr int kJobs = 24;
  std::map<std::string, std::string> sent;  // name -> content
  for (int i = 0; i < kJobs; ++i) {
    sent["job" + std::to_string(i) + ".pdf"] = WritePatternFile(environment.Root(), "sent", 1000 + i * 61000, i);
  }
  // The poller turns to the other relay after each job it prints and after each pass: jobs
  // one relay lists are fetched from the other, and jobs uploaded to one from either.
  RecordingDesktop desktop(kUuid);
  int turn = 0;
  const auto nextRelay = [&] { setenv("OLVARO_API_URL", relays[turn++ % 2]->BaseUrl().c_str(), 1); };
  desktop.afterPrint = nextRelay;
  nextRelay();
  std::vector<std::thread> uploaders;
  for (int half = 0; half < 2; ++half) {
    uploaders.emplace_back([&, half] {
      for (int i = half; i < kJobs; i += 2) {
        const std::string name = "job" + std::to_string(i) + ".pdf";
        EXPECT_EQ(senders[half].Upload(name, sent.at(name)), 201);
      }
    });
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (desktop.printed.size() < kJobs && std::chrono::steady_clock::now() < deadline) {
    desktop.poller.PollQueue();
    nextRelay();
  }
  for (std::thread& uploader : uploaders) uploader.join();
  EXPECT_TRUE(desktop.printed == sent);
  EXPECT_EQ(desktop.twice, std::vector<std::string>{});
  EXPECT_EQ(DesktopClient({first, kUuid}).Queue(), "0") << first.Log() << second.Log();
  // Neither relay put a byte in its data folder; the acknowledged documents left the database.
  EXPECT_EQ(BytesUnder(folders[0]) + BytesUnder(folders[1]), 0u);
  std::string error;
  const auto db = OpenSqlConnection(database, error);
  ASSERT_TRUE(db) << error;
  EXPECT_EQ(db->Execute("SELECT COUNT(*) FROM document_pieces").rows, std::vector<SqlRow>{{"0"}});
}

// A relay answers polls of empty queues from memory: a job added through another relay
// reaches it as a notice from the database, and while it cannot hear such notices (its
// listening connection ended, and no new one let in) it answers from the database.
TEST(RelayPostgresTest, AJobAddedThroughAnotherRelayShowsEvenWhileTheNewsOfJobsCannotReachThePolledOne) {
  TestEnvironment environment;
  const std::string database = PostgresServer::Get().NewDatabase();
  ASSERT_FALSE(database.empty()) << PostgresServer::Get().Error();
  RelayProcess adding(environment.Root() + "adding", {"--database", database});
  RelayProcess polled(environment.Root() + "polled", {"--database", database});
  ASSERT_TRUE(adding.Started() && polled.Started()) << adding.Log() << polled.Log();
  const DesktopClient desktops[] = {{polled, kUuid}, {polled, kOtherUuid}};
  SenderClient senders[] = {{adding}, {adding}};
  for (int i = 0; i < 2; ++i) ASSERT_EQ(senders[i].Pair(desktops[i].AuthCode()), 200);
  // Empty queues, polled twice: known to the PC's relay from the second poll on.
  const auto pollEmpty = [&](const DesktopClient& desktop) {
    EXPECT_EQ(desktop.Announce("office-pc", "PDF").status, 200);
    for (int poll = 0; poll < 2; ++poll) EXPECT_EQ(desktop.Queue(), "0");
  };
  // Long before a poll reads an empty queue from the database again.
  const auto shows = [](const DesktopClient& desktop) {
    return WaitFor([&] { return ParsedQueue(desktop.Queue()).size() == 1; }, std::chrono::seconds(4));
  };
  pollEmpty(desktops[0]);
  ASSERT_EQ(senders[0].Upload("first.pdf", "first"), 201);
  EXPECT_TRUE(shows(desktops[0]));

  // The server's administrator, from its first database.
  const auto slash = database.rfind('/');
  const std::string name = database.substr(slash + 1);
  std::string error;
  const auto admin = OpenSqlConnection(database.substr(0, slash + 1) + "postgres", error);
  ASSERT_TRUE(admin) << error;
  pollEmpty(desktops[1]);
  ASSERT_TRUE(admin->Execute("ALTER DATABASE " + name + " ALLOW_CONNECTIONS false").ok);
  const SqlResult ended = admin->Execute(
      "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = 'olvaro-relay listener'"
      " AND datname = $1",
      {name});
  EXPECT_EQ(ended.rows.size(), 2u);
  ASSERT_TRUE(WaitFor([&] { return polled.Log().find("lost the connection that listens") != std::string::npos; }))
      << polled.Log();
  ASSERT_EQ(senders[1].Upload("second.pdf", "second"), 201);
  EXPECT_EQ(ParsedQueue(desktops[1].Queue()).size(), 1u);

  // Let in again, it listens again: the news reaches it as before.
  ASSERT_TRUE(admin->Execute("ALTER DATABASE " + name + " ALLOW_CONNECTIONS true").ok);
  EXPECT_TRUE(WaitFor([&] { return polled.Log().find("listening for new jobs again") != std::string::npos; },
                      std::chrono::seconds(15)))
      << polled.Log();
  EXPECT_EQ(desktops[0].Acknowledge(ParsedQueue(desktops[0].Queue()).at(0).file).status, 200);
  pollEmpty(desktops[0]);
  ASSERT_EQ(senders[0].Upload("third.pdf", "third"), 201);
  EXPECT_TRUE(shows(desktops[0]));
}

// The database restarts under a running relay: meanwhile the relay says so, never
// blaming the client, and afterwards it carries on without a restart of its own.
TEST(RelayPostgresTest, ARestartedDatabaseIsReconnectedAndItsAbsenceIsNoClientsFault) {
  TestEnvironment environment;
  PostgresServer& server = PostgresServer::Get();
  const std::string database = server.NewDatabase();
  ASSERT_FALSE(database.empty()) << server.Error();
  RelayProcess relay(environment.Root() + "data", {"--database", database});
  ASSERT_TRUE(relay.Started()) << relay.Log();
  const DesktopClient desktop{relay, kUuid};
  SenderClient sender = {relay};
  ASSERT_EQ(sender.Pair(desktop.AuthCode()), 200);

  struct StartAgain {
    ~StartAgain() { PostgresServer::Get().Start(); }
  } startAgain;
  ASSERT_TRUE(server.Stop());
  const Exchange announced = desktop.Announce("office-pc", "PDF");
  EXPECT_EQ(announced.status, 503);
  EXPECT_NE(announced.body.find("database is unavailable"), std::string::npos) << announced.body;
  EXPECT_EQ(PairFrom(relay, "10.0.0.1", "AAAAAA"), 503);
  EXPECT_EQ(sender.Upload("a.pdf", "x"), 503);

  ASSERT_TRUE(server.Start());
  EXPECT_EQ(desktop.Announce("office-pc", "PDF").status, 200);
  EXPECT_EQ(PairFrom(relay, "10.0.0.1", "AAAAAA"), 403);
  EXPECT_EQ(sender.Upload("a.pdf", "x"), 201);
  EXPECT_EQ(ParsedQueue(desktop.Queue()).size(), 1u);
  // The log says what the database said.
  EXPECT_NE(relay.Log().find("olvaro-relay: database: "), std::string::npos);
}

}  // namespace
