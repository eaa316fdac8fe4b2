// The relay's records: PCs, auth codes, browser pairings, jobs and wrong-code counts,
// kept in SQLite or PostgreSQL (see sqldatabase.h). Document bytes are kept apart
// (documents.h); the store names them by job id. Every method may be called from any
// thread; several relay processes may share one PostgreSQL database.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "relay/emptyqueues.h"
#include "relay/postgreslistener.h"
#include "relay/seentimes.h"
#include "relay/sqldatabase.h"

// Limits, each configurable on the command line.
struct RelayLimits {
  long long maxDocumentBytes = 50LL << 20;
  long long maxWaitingJobs = 100;
  long long jobLifetime = 24 * 3600;        // unacknowledged jobs expire after this
  long long pcLifetime = 90LL * 24 * 3600;  // PCs that have not polled for this long go
  long long codeLifetime = 10 * 60;
  long long pairingLifetime = 30LL * 24 * 3600;
  long long maxWrongCodes = 10;  // per address and PC; a network may make this many times more
  long long lockSeconds = 15 * 60;
  long long maxWrongCodesPerMinute = 60;  // from everywhere together
  long long downloadLease = 5 * 60;       // a job being downloaded is not handed out again for this long
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

// A store call fails in one way: storage. What failed in it (the database away, full, or
// anything else) is LastSqlFailure() on the calling thread, and the database's own words
// are in the log. A call answers with a Lookup, or, where the client is told more than
// found or not (pairing, adding a job), with an outcome whose Failed is such a failure.
enum class PairOutcome { Paired, Wrong, Expired, Locked, Failed };
enum class AddJobOutcome { Added, QueueFull, Failed };

// What a call found or made: a value, nothing (`failed` false), or a storage failure.
template <typename T>
struct Lookup {
  std::optional<T> value;
  bool failed = false;
};

class RelayStore {
 public:
  explicit RelayStore(RelayLimits limits) : limits_(limits) {}

  // Connects `connections` times to `target` and brings the schema up to date; beside
  // PostgreSQL, listens for the jobs other relays add.
  bool Open(const std::string& target, int connections, std::string& error);
  const RelayLimits& Limits() const { return limits_; }
  // The connections, for documents kept in the same database.
  SqlPool& Pool() { return pool_; }

  // A new PC identity.
  Lookup<std::string> NewIdentity(long long now);
  // A fresh auth code for `uuid` (earlier ones of that PC stop working).
  Lookup<std::string> IssueAuthCode(const std::string& uuid, long long now);
  // False on a storage failure.
  bool Announce(const PcRecord& pc, long long now);
  // The PC's waiting and fetched jobs, oldest first; notes in memory that the PC was seen.
  // An empty queue polled again is answered from memory for a few minutes.
  Lookup<std::vector<QueuedJob>> Poll(const std::string& uuid, long long now);
  // Writes the last-seen times that polls noted since the last write, in one transaction;
  // false when the database did not take them: they stay noted for the next call. Called
  // every few seconds and once more when the relay stops.
  bool WriteSeenTimes();
  // Forgets the empty queues of the PCs that jobs were added for since the last call, by
  // any relay: one that tells no news of them, or another process on the same SQLite
  // file. When that cannot be read, forgets them all. Called every second or so, one call
  // at a time.
  void CatchUpOnNewJobs();
  // Hands job `id` to one download: marks it fetched and leases it, so that no other
  // download gets it until the lease ends. Its size, or nothing when no such job is
  // waiting or its lease runs. A poll lists no leased job.
  Lookup<long long> Download(const std::string& id, long long now);
  // Marks job `id` of `uuid` printed (again, harmlessly); nothing when the PC has no such job.
  Lookup<bool> Acknowledge(const std::string& uuid, const std::string& id);

  // Pairs the browser at `address` with the PC whose code is `code`. Wrong codes count
  // against the address, its network, the PC and the relay as a whole; a success clears
  // none of them, they age out. When Locked, `lockedFor` is the seconds until the lock ends.
  PairOutcome Pair(const std::string& code, const std::string& address, long long now, Pairing& pairing,
                   long long& lockedFor);
  Lookup<Pairing> FindPairing(const std::string& token, long long now);
  // With the last-seen time this relay noted, when that is later than the database's.
  Lookup<PcRecord> FindPc(const std::string& uuid);
  // Recent jobs sent through this pairing, newest first.
  Lookup<std::vector<SentJob>> SentJobs(const std::string& token);
  // Holds a place in the PC's queue for an upload about to begin: uploads under way
  // count against the PC's limit. Added with `reservation` set, QueueFull or Failed.
  AddJobOutcome Reserve(const std::string& uuid, long long now, std::string& reservation);
  // Gives a place back when its upload ends without a job.
  void Release(const std::string& reservation);
  // Records the job in place of its reservation.
  AddJobOutcome AddJob(const Pairing& pairing, const QueuedJob& job, const std::string& reservation);

  // Forgets what has expired; the ids of the jobs whose bytes must go. PCs are idle by the
  // last-seen times in the database, so the noted ones are written first; while they cannot
  // be, no PC is idle.
  std::vector<std::string> Sweep(long long now);

 private:
  bool Migrate(std::string& error);
  struct GuessSubject;
  std::vector<GuessSubject> GuessSubjects(const std::string& address, const std::string& uuid) const;
  // The seconds until the last lock on the subjects ends, 0 when none is locked; nothing
  // on a storage failure.
  std::optional<long long> Locked(SqlConnection& db, const std::vector<GuessSubject>& subjects, long long now);
  void CountWrongCode(SqlConnection& db, const std::vector<GuessSubject>& subjects, long long now);
  bool EnsurePc(SqlConnection& db, const std::string& uuid, long long now);
  // Runs `insert` when the PC has room for one more job or upload, after giving back the
  // reservation `replacing` (if any); counting and adding are one step. A `newJob` is
  // announced to every relay when it commits.
  AddJobOutcome AddIfRoom(const std::string& uuid, long long now, const std::string& replacing,
                          const std::string& insert, const std::vector<std::string>& params, bool newJob);

  RelayLimits limits_;
  SqlPool pool_;
  EmptyQueues emptyQueues_;
  SeenTimes seen_;
  // Beside PostgreSQL: the news of jobs added by any relay, this one included.
  std::unique_ptr<PostgresListener> newJobs_;
  // When the last catch-up on new jobs began (microseconds), and whether it failed.
  long long caughtUpFrom_ = 0;
  bool catchUpFailing_ = false;
};
