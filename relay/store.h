// The relay's records: PCs, auth codes, browser pairings, jobs and wrong-code counts,
// kept in SQLite or PostgreSQL (see sqldatabase.h). Document bytes live in files
// (documents.h); the store names them by job id. Every method may be called from any
// thread; several relay processes may share one PostgreSQL database.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "relay/sqldatabase.h"

// Limits, each configurable on the command line.
struct RelayLimits {
  long long maxDocumentBytes = 50LL << 20;
  long long maxWaitingJobs = 100;
  long long jobLifetime = 24 * 3600;        // unacknowledged jobs expire after this
  long long pcLifetime = 90LL * 24 * 3600;  // PCs that have not polled for this long go
  long long codeLifetime = 10 * 60;
  long long pairingLifetime = 30LL * 24 * 3600;
  long long maxWrongCodes = 10;
  long long lockSeconds = 15 * 60;
};

// A job as the PC's queue shows it.
struct QueuedJob {
  std::string id;       // download key and server file name at once
  std::string name;     // safe document name
  std::string size;     // bytes, decimal
  std::string copies;   // 1 to 99, decimal
  std::string created;  // seconds since the epoch
};

// A job as its sender sees it.
struct SentJob {
  std::string name;
  std::string copies;
  std::string state;  // "waiting", "fetched" or "printed"
};

struct PcRecord {
  std::string uuid;
  std::string host;
  std::string addresses;  // dotted addresses separated by ", "
  std::string notHave;    // the PC's not-have list as announced
  long long lastSeen = 0;
};

struct Pairing {
  std::string token;  // the browser's secret, in its cookie
  std::string csrf;   // must come back with every upload
  std::string uuid;
};

enum class PairOutcome { Paired, Wrong, Expired, Locked, Failed };
enum class AddJobOutcome { Added, QueueFull, Failed };

class RelayStore {
public:
  explicit RelayStore(RelayLimits limits) : limits_(limits) {}

  // Connects `connections` times to `target` and brings the schema up to date.
  bool Open(const std::string& target, int connections, std::string& error);
  const RelayLimits& Limits() const { return limits_; }

  // A new PC identity, or "" when it cannot be stored.
  std::string NewIdentity(long long now);
  // A fresh auth code for `uuid` (earlier ones of that PC stop working), or "".
  std::string IssueAuthCode(const std::string& uuid, long long now);
  bool Announce(const PcRecord& pc, long long now);
  // The PC's waiting and fetched jobs, oldest first; notes that the PC was seen.
  std::optional<std::vector<QueuedJob>> Poll(const std::string& uuid, long long now);
  // Marks job `id` fetched; its size, or nothing when no such job is waiting.
  std::optional<long long> Download(const std::string& id, long long now);
  // Marks job `id` of `uuid` printed; false when the PC has no such job.
  bool Acknowledge(const std::string& uuid, const std::string& id);

  // Pairs the browser at `address` with the PC whose code is `code`.
  PairOutcome Pair(const std::string& code, const std::string& address, long long now, Pairing& pairing);
  std::optional<Pairing> FindPairing(const std::string& token, long long now);
  std::optional<PcRecord> FindPc(const std::string& uuid);
  // Recent jobs sent through this pairing, newest first.
  std::vector<SentJob> SentJobs(const std::string& token);
  AddJobOutcome AddJob(const Pairing& pairing, const QueuedJob& job);
  // True while the PC can take another job.
  bool HasRoom(const std::string& uuid);

  // Forgets what has expired; the ids of the jobs whose bytes must go.
  std::vector<std::string> Sweep(long long now);

private:
  bool Migrate(std::string& error);
  bool Locked(const std::string& subject, long long now);
  void CountWrongCode(const std::string& subject, long long now);
  bool EnsurePc(SqlConnection& db, const std::string& uuid, long long now);

  RelayLimits limits_;
  SqlPool pool_;
};
