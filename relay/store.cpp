#include "relay/store.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string_view>

#include "relay/names.h"
#include "relay/random.h"

namespace {

// Schema versions in order; a database at version n gets the statements after n.
const std::vector<std::vector<std::string_view>> kMigrations = {
    {
        "CREATE TABLE pcs (uuid TEXT PRIMARY KEY, created BIGINT NOT NULL, last_seen BIGINT NOT NULL,"
        " host TEXT NOT NULL DEFAULT '', ips TEXT NOT NULL DEFAULT '', nothave TEXT NOT NULL DEFAULT '')",
        "CREATE TABLE codes (code TEXT PRIMARY KEY, uuid TEXT NOT NULL, expires BIGINT NOT NULL)",
        "CREATE TABLE pairings (token TEXT PRIMARY KEY, uuid TEXT NOT NULL, csrf TEXT NOT NULL,"
        " expires BIGINT NOT NULL)",
        "CREATE TABLE jobs (id TEXT PRIMARY KEY, uuid TEXT NOT NULL, token TEXT NOT NULL, name TEXT NOT NULL,"
        " size BIGINT NOT NULL, copies INTEGER NOT NULL, created BIGINT NOT NULL, arrived BIGINT NOT NULL,"
        " state INTEGER NOT NULL)",
        "CREATE INDEX jobs_by_pc ON jobs (uuid, state)",
        "CREATE INDEX jobs_by_pairing ON jobs (token)",
        "CREATE TABLE guesses (subject TEXT PRIMARY KEY, failures INTEGER NOT NULL, first_at BIGINT NOT NULL,"
        " locked_until BIGINT NOT NULL)",
    },
    {
        "ALTER TABLE jobs ADD COLUMN lease_until BIGINT NOT NULL DEFAULT 0",
        "CREATE TABLE uploads (id TEXT PRIMARY KEY, uuid TEXT NOT NULL, expires BIGINT NOT NULL)",
        "CREATE INDEX uploads_by_pc ON uploads (uuid)",
    },
    {
        "CREATE INDEX jobs_by_arrival ON jobs (arrived)",
    },
};

// Job states: waiting for the PC, downloaded by it, acknowledged (bytes gone).
constexpr int kPrinted = 2;
// How long a queue read empty is answered from memory, in seconds: longer than the
// desktop's minute between polls. The news of new jobs and the catch-up on them keep the
// memory right; this bounds what a fault in both costs.
constexpr long long kEmptyQueueLifetime = 5 * 60;
// How far before the last catch-up on new jobs began the next one reads, in microseconds:
// a job arrives by its relay's clock, which may differ from this one's, and is committed
// after it waited for the queue's lock (SQLite's waits up to 10 s).
constexpr long long kArrivalSlack = 30'000'000;
// Rows of one statement that writes last-seen times; a batch goes in statements of this
// many and of halves of it, so that each connection prepares a handful of them.
constexpr size_t kSeenRowsPerStatement = 256;
// Where each relay tells all of them of a new job, by its PC's identity; an empty one
// stands for PCs gone.
constexpr char kNewJobsChannel[] = "olvaro_relay_new_jobs";
// A network holds several clients: it may make this many times an address's wrong codes.
constexpr long long kNetworkShare = 4;
// The window of the relay-wide count of wrong codes, and how long it locks pairing.
constexpr long long kGlobalWindow = 60;
// A place held for an upload outlives any upload; it is given back when its upload ends,
// so only a relay that stopped mid-upload leaves one to expire.
constexpr long long kReservationLifetime = 2 * 3600;

std::string Text(long long value) { return std::to_string(value); }

// Orders the jobs of one PC by their arrival, also within one second.
long long Microseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

long long Number(const std::string& text) { return text.empty() ? 0 : std::stoll(text); }

bool IsPairingToken(const std::string& token) {
  return token.size() == 64 && token.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// The statement that writes the last-seen times of `rows` PCs, given as identity and time,
// pair after pair; it never sets a time back.
std::string SeenUpdate(size_t rows) {
  std::string values;
  for (size_t i = 0; i < rows; ++i) {
    values += (i ? ", ($" : "($") + std::to_string(2 * i + 1) + ", CAST($" + std::to_string(2 * i + 2) + " AS BIGINT))";
  }
  return "WITH noted (uuid, seen) AS (VALUES " + values +
         ") UPDATE pcs SET last_seen = noted.seen FROM noted"
         " WHERE pcs.uuid = noted.uuid AND pcs.last_seen < noted.seen";
}

// "subject = $first OR subject = $first+1 ..." for `count` subjects.
std::string SubjectMatch(size_t count, size_t first) {
  std::string match;
  for (size_t i = 0; i < count; ++i) match += (i ? " OR subject = $" : "subject = $") + std::to_string(first + i);
  return "(" + match + ")";
}

}  // namespace

struct RelayStore::GuessSubject {
  std::string name;
  long long limit;   // wrong codes within the window that lock the subject out
  long long window;  // failures older than this are forgotten; a lock lasts this long
};

bool RelayStore::Open(const std::string& target, int connections, std::string& error) {
  if (!pool_.Open(target, connections, error) || !Migrate(error)) return false;
  caughtUpFrom_ = Microseconds();
  if (!IsPostgresTarget(target)) {
    // Other processes on the same file are caught up on: no news comes from them.
    emptyQueues_.Resume();
    return true;
  }
  newJobs_ = std::make_unique<PostgresListener>(
      target, kNewJobsChannel,
      PostgresListener::Events{[this](const std::string& uuid) {
                                 if (uuid.empty()) emptyQueues_.ForgetAll();
                                 else emptyQueues_.Forget(uuid);
                               },
                               [this] { emptyQueues_.Resume(); }, [this] { emptyQueues_.Suspend(); }});
  return newJobs_->Start(error);
}

bool RelayStore::Migrate(std::string& error) {
  auto db = pool_.Acquire();
  const SqlResult table = db->Execute("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
  if (!table.ok) {
    error = table.error;
    return false;
  }
  // Relays starting together take turns, so each migration runs once.
  return db->LockedTransaction([&] {
    const SqlResult current = db->Execute("SELECT COALESCE(MAX(version), 0) FROM schema_version");
    if (!current.ok || current.rows.empty()) {
      error = current.error;
      return false;
    }
    for (size_t version = static_cast<size_t>(Number(current.rows[0][0])); version < kMigrations.size(); ++version) {
      for (const std::string_view statement : kMigrations[version]) {
        const SqlResult result = db->Execute(std::string(statement));
        if (!result.ok) {
          error = result.error;
          return false;
        }
      }
      if (!db->Execute("INSERT INTO schema_version (version) VALUES ($1)", {Text(static_cast<long long>(version) + 1)})
               .ok) {
        return false;
      }
    }
    return true;
  });
}

bool RelayStore::EnsurePc(SqlConnection& db, const std::string& uuid, long long now) {
  // A PC may bring an identity from another relay; it is taken on first sight.
  return db
      .Execute("INSERT INTO pcs (uuid, created, last_seen) VALUES ($1, $2, $2) ON CONFLICT (uuid) DO NOTHING",
               {uuid, Text(now)})
      .ok;
}

Lookup<std::string> RelayStore::NewIdentity(long long now) {
  auto db = pool_.Acquire();
  const std::string uuid = RandomUuid();
  if (!db->Execute("INSERT INTO pcs (uuid, created, last_seen) VALUES ($1, $2, $2)", {uuid, Text(now)}).ok) {
    return {std::nullopt, true};
  }
  return {uuid};
}

Lookup<std::string> RelayStore::IssueAuthCode(const std::string& uuid, long long now) {
  auto db = pool_.Acquire();
  const Lookup<std::string> failed{std::nullopt, true};
  if (!EnsurePc(*db, uuid, now) || !db->Execute("DELETE FROM codes WHERE uuid = $1", {uuid}).ok) return failed;
  db->Execute("DELETE FROM codes WHERE expires <= $1", {Text(now)});
  // A code in use by another PC is drawn again.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::string code = RandomAuthCode();
    const SqlResult inserted =
        db->Execute("INSERT INTO codes (code, uuid, expires) VALUES ($1, $2, $3) ON CONFLICT (code) DO NOTHING",
                    {code, uuid, Text(now + limits_.codeLifetime)});
    if (!inserted.ok) return failed;
    if (inserted.changed == 1) return {code};
  }
  return failed;
}

bool RelayStore::Announce(const PcRecord& pc, long long now) {
  auto db = pool_.Acquire();
  return EnsurePc(*db, pc.uuid, now) &&
         db->Execute("UPDATE pcs SET host = $2, ips = $3, nothave = $4, last_seen = $5 WHERE uuid = $1",
                     {pc.uuid, pc.host, pc.addresses, pc.notHave, Text(now)})
             .ok;
}

Lookup<std::vector<QueuedJob>> RelayStore::Poll(const std::string& uuid, long long now) {
  // Most polls find nothing: an empty queue is read once in a while and answered from
  // memory in between, and the time the PC was seen goes to the database with the next
  // batch.
  const Lookup<std::vector<QueuedJob>> empty{std::vector<QueuedJob>{}};
  if (emptyQueues_.Known(uuid, now - kEmptyQueueLifetime)) {
    seen_.Note(uuid, now);
    return empty;
  }
  const uint64_t generation = emptyQueues_.Generation();
  auto db = pool_.Acquire();
  // One read gives the PC and its unprinted jobs: its row alone (job columns empty) when it
  // has none. Expired jobs are gone at once, before the sweep takes their bytes; leased
  // ones are read but not offered.
  const SqlResult found = db->Execute(
      "SELECT j.id, j.name, j.size, j.copies, j.created, j.lease_until FROM pcs p LEFT JOIN jobs j"
      " ON j.uuid = p.uuid AND j.state < $2 AND j.created > $3 WHERE p.uuid = $1 ORDER BY j.arrived, j.id",
      {uuid, Text(kPrinted), Text(now - limits_.jobLifetime)});
  const Lookup<std::vector<QueuedJob>> failed{std::nullopt, true};
  if (!found.ok) return failed;
  // A PC seen for the first time is remembered at its next poll.
  if (found.rows.empty()) return EnsurePc(*db, uuid, now) ? empty : failed;
  seen_.Note(uuid, now);
  std::vector<QueuedJob> queue;
  bool unprinted = false;
  for (const SqlRow& row : found.rows) {
    if (row[0].empty()) continue;
    unprinted = true;
    if (Number(row[5]) <= now) queue.push_back({row[0], row[1], row[2], row[3], row[4]});
  }
  if (!unprinted) emptyQueues_.Remember(uuid, now, generation);
  return {queue};
}

bool RelayStore::WriteSeenTimes() {
  return seen_.Write([this](const SeenTimes::Batch& batch) {
    auto db = pool_.Acquire();
    return db->Transaction([&] {
      auto next = batch.begin();
      for (size_t left = batch.size(); left > 0;) {
        size_t rows = kSeenRowsPerStatement;
        while (rows > left) rows /= 2;
        std::vector<std::string> params;
        for (size_t i = 0; i < rows; ++i, ++next) {
          params.insert(params.end(), {std::string(next->first.data(), next->first.size()), Text(next->second)});
        }
        if (!db->Execute(SeenUpdate(rows), params).ok) return false;
        left -= rows;
      }
      return true;
    });
  });
}

void RelayStore::CatchUpOnNewJobs() {
  const long long began = Microseconds();
  // A PC for each job: asked for distinct PCs, SQLite scans them all rather than the range.
  const SqlResult arrived =
      pool_.Acquire()->Execute("SELECT uuid FROM jobs WHERE arrived > $1", {Text(caughtUpFrom_ - kArrivalSlack)});
  // A job committed before `began` is read now, or its PC forgotten with all the others;
  // the next read goes back far enough for one committed later.
  caughtUpFrom_ = began;
  if (arrived.ok) {
    for (const SqlRow& row : arrived.rows) emptyQueues_.Forget(row[0]);
  } else {
    emptyQueues_.ForgetAll();
  }
  if (arrived.ok != catchUpFailing_) return;
  // Said once a spell: the attempts every second are not.
  std::fprintf(stderr, arrived.ok ? "olvaro-relay: caught up on new jobs again\n"
                                  : "olvaro-relay: cannot catch up on new jobs; until it can, no queue is known"
                                    " empty for longer than a second\n");
  catchUpFailing_ = !arrived.ok;
}

Lookup<long long> RelayStore::Download(const std::string& id, long long now) {
  auto db = pool_.Acquire();
  // One statement tests and takes the lease: of two parallel downloads one gets the job.
  const SqlResult found = db->Execute(
      "UPDATE jobs SET state = 1, lease_until = $2 WHERE id = $1 AND state < $3 AND created > $4 AND lease_until <= $5"
      " RETURNING size",
      {id, Text(now + limits_.downloadLease), Text(kPrinted), Text(now - limits_.jobLifetime), Text(now)});
  if (!found.ok) return {std::nullopt, true};
  if (found.rows.empty()) return {};
  return {Number(found.rows[0][0])};
}

Lookup<bool> RelayStore::Acknowledge(const std::string& uuid, const std::string& id) {
  auto db = pool_.Acquire();
  const SqlResult marked =
      db->Execute("UPDATE jobs SET state = $3 WHERE id = $1 AND uuid = $2", {id, uuid, Text(kPrinted)});
  if (!marked.ok) return {std::nullopt, true};
  if (marked.changed == 0) return {};
  return {true};
}

std::vector<RelayStore::GuessSubject> RelayStore::GuessSubjects(const std::string& address,
                                                                const std::string& uuid) const {
  std::vector<GuessSubject> subjects;
  if (!address.empty()) {
    const ClientSource source = SourceOf(address);
    subjects.push_back({"address " + source.address, limits_.maxWrongCodes, limits_.lockSeconds});
    if (source.network != source.address) {
      subjects.push_back({"network " + source.network, limits_.maxWrongCodes * kNetworkShare, limits_.lockSeconds});
    }
    subjects.push_back({"all", limits_.maxWrongCodesPerMinute, kGlobalWindow});
  }
  if (!uuid.empty()) subjects.push_back({"pc " + uuid, limits_.maxWrongCodes, limits_.lockSeconds});
  return subjects;
}

std::optional<long long> RelayStore::Locked(SqlConnection& db, const std::vector<GuessSubject>& subjects,
                                            long long now) {
  std::vector<std::string> params = {Text(now)};
  for (const GuessSubject& subject : subjects) params.push_back(subject.name);
  const SqlResult lock = db.Execute(
      "SELECT MAX(locked_until) FROM guesses WHERE locked_until > $1 AND " + SubjectMatch(subjects.size(), 2), params);
  if (!lock.ok) return std::nullopt;
  return lock.rows.empty() || lock.rows[0][0].empty() ? 0 : Number(lock.rows[0][0]) - now;
}

void RelayStore::CountWrongCode(SqlConnection& db, const std::vector<GuessSubject>& subjects, long long now) {
  for (const GuessSubject& subject : subjects) {
    // Failures count within one window; an older count starts again.
    const SqlResult counted = db.Execute(
        "INSERT INTO guesses (subject, failures, first_at, locked_until) VALUES ($1, 1, $2, 0)"
        " ON CONFLICT (subject) DO UPDATE SET"
        " failures = CASE WHEN guesses.first_at < $3 THEN 1 ELSE guesses.failures + 1 END,"
        " first_at = CASE WHEN guesses.first_at < $3 THEN excluded.first_at ELSE guesses.first_at END"
        " RETURNING failures",
        {subject.name, Text(now), Text(now - subject.window)});
    if (counted.ok && !counted.rows.empty() && Number(counted.rows[0][0]) >= subject.limit) {
      db.Execute("UPDATE guesses SET failures = 0, first_at = $2, locked_until = $3 WHERE subject = $1",
                 {subject.name, Text(now), Text(now + subject.window)});
    }
  }
}

PairOutcome RelayStore::Pair(const std::string& code, const std::string& address, long long now, Pairing& pairing,
                             long long& lockedFor) {
  auto db = pool_.Acquire();
  std::vector<GuessSubject> subjects = GuessSubjects(address, "");
  const auto locked = Locked(*db, subjects, now);
  if (!locked) return PairOutcome::Failed;
  lockedFor = *locked;
  if (lockedFor > 0) return PairOutcome::Locked;
  const SqlResult owner = db->Execute("SELECT uuid FROM codes WHERE code = $1", {code});
  if (!owner.ok) return PairOutcome::Failed;
  if (owner.rows.empty()) {
    CountWrongCode(*db, subjects, now);
    return PairOutcome::Wrong;
  }
  const std::string uuid = owner.rows[0][0];
  const std::vector<GuessSubject> pc = GuessSubjects("", uuid);
  const auto pcLocked = Locked(*db, pc, now);
  if (!pcLocked) return PairOutcome::Failed;
  lockedFor = *pcLocked;
  if (lockedFor > 0) return PairOutcome::Locked;
  // Taking the code and pairing are one step: a code pairs once.
  const SqlResult taken =
      db->Execute("DELETE FROM codes WHERE code = $1 AND expires > $2 RETURNING uuid", {code, Text(now)});
  if (!taken.ok) return PairOutcome::Failed;
  if (taken.rows.empty()) {
    subjects.insert(subjects.end(), pc.begin(), pc.end());
    CountWrongCode(*db, subjects, now);
    return PairOutcome::Expired;
  }
  pairing = {RandomHex(32), RandomHex(32), uuid};
  // The wrong codes before stay counted: pairing a code of one's own clears nothing.
  if (!db->Execute("INSERT INTO pairings (token, uuid, csrf, expires) VALUES ($1, $2, $3, $4)",
                   {pairing.token, uuid, pairing.csrf, Text(now + limits_.pairingLifetime)})
           .ok) {
    return PairOutcome::Failed;
  }
  return PairOutcome::Paired;
}

Lookup<Pairing> RelayStore::FindPairing(const std::string& token, long long now) {
  // What is not a token the relay gave is not looked up.
  if (!IsPairingToken(token)) return {};
  auto db = pool_.Acquire();
  const SqlResult found =
      db->Execute("SELECT uuid, csrf FROM pairings WHERE token = $1 AND expires > $2", {token, Text(now)});
  if (!found.ok) return {std::nullopt, true};
  if (found.rows.empty()) return {};
  return {Pairing{token, found.rows[0][1], found.rows[0][0]}};
}

Lookup<PcRecord> RelayStore::FindPc(const std::string& uuid) {
  auto db = pool_.Acquire();
  const SqlResult found = db->Execute("SELECT host, ips, nothave, last_seen FROM pcs WHERE uuid = $1", {uuid});
  if (!found.ok) return {std::nullopt, true};
  if (found.rows.empty()) return {};
  const SqlRow& row = found.rows[0];
  return {PcRecord{uuid, row[0], row[1], row[2], std::max(Number(row[3]), seen_.Unwritten(uuid))}};
}

Lookup<std::vector<SentJob>> RelayStore::SentJobs(const std::string& token) {
  auto db = pool_.Acquire();
  const SqlResult found =
      db->Execute("SELECT name, copies, state FROM jobs WHERE token = $1 ORDER BY arrived DESC, id LIMIT 20", {token});
  if (!found.ok) return {std::nullopt, true};
  std::vector<SentJob> jobs;
  static const char* const kStates[] = {"waiting", "fetched", "printed"};
  for (const SqlRow& row : found.rows) jobs.push_back({row[0], row[1], kStates[Number(row[2]) % 3]});
  return {jobs};
}

AddJobOutcome RelayStore::AddIfRoom(const std::string& uuid, long long now, const std::string& replacing,
                                    const std::string& insert, const std::vector<std::string>& params,
                                    bool newJob) {
  auto db = pool_.Acquire();
  bool full = false;
  const bool added = db->Transaction([&] {
    if (!replacing.empty() && !db->Execute("DELETE FROM uploads WHERE id = $1", {replacing}).ok) return false;
    // The PC's row lock makes every relay sharing the database count and add in turn.
    if (!db->Execute("UPDATE pcs SET last_seen = last_seen WHERE uuid = $1", {uuid}).ok) return false;
    const SqlResult count = db->Execute(
        "SELECT (SELECT COUNT(*) FROM jobs WHERE uuid = $1 AND state < $2)"
        " + (SELECT COUNT(*) FROM uploads WHERE uuid = $1 AND expires > $3)",
        {uuid, Text(kPrinted), Text(now)});
    if (!count.ok || count.rows.empty()) return false;
    full = Number(count.rows[0][0]) >= limits_.maxWaitingJobs;
    return !full && db->Execute(insert, params).ok && (!newJob || db->Notify(kNewJobsChannel, uuid));
  });
  if (full) return AddJobOutcome::QueueFull;
  return added ? AddJobOutcome::Added : AddJobOutcome::Failed;
}

AddJobOutcome RelayStore::Reserve(const std::string& uuid, long long now, std::string& reservation) {
  const std::string id = RandomHex(16);
  const AddJobOutcome outcome = AddIfRoom(uuid, now, "", "INSERT INTO uploads (id, uuid, expires) VALUES ($1, $2, $3)",
                                          {id, uuid, Text(now + kReservationLifetime)}, false);
  if (outcome == AddJobOutcome::Added) reservation = id;
  return outcome;
}

void RelayStore::Release(const std::string& reservation) {
  if (reservation.empty()) return;
  auto db = pool_.Acquire();
  db->Execute("DELETE FROM uploads WHERE id = $1", {reservation});
}

AddJobOutcome RelayStore::AddJob(const Pairing& pairing, const QueuedJob& job, const std::string& reservation) {
  // The job takes its reservation's place; one whose reservation expired needs room anew.
  const AddJobOutcome outcome = AddIfRoom(
      pairing.uuid, Number(job.created), reservation,
      "INSERT INTO jobs (id, uuid, token, name, size, copies, created, arrived, state)"
      " VALUES ($1, $2, $3, $4, $5, $6, $7, $8, 0)",
      {job.id, pairing.uuid, pairing.token, job.name, job.size, job.copies, job.created, Text(Microseconds())}, true);
  // Once committed, so that a poll reading before the commit keeps nothing; on any
  // outcome, as a failed commit may have gone through.
  emptyQueues_.Forget(pairing.uuid);
  return outcome;
}

std::vector<std::string> RelayStore::Sweep(long long now) {
  // Before a connection is held: another thread's write may wait for one. No time is before 0.
  const std::string idleBefore = Text(WriteSeenTimes() ? now - limits_.pcLifetime : 0);
  auto db = pool_.Acquire();
  std::vector<std::string> gone;
  const auto collect = [&gone](const SqlResult& result) {
    for (const SqlRow& row : result.rows) gone.push_back(row[0]);
  };
  collect(db->Execute("DELETE FROM jobs WHERE created <= $1 RETURNING id", {Text(now - limits_.jobLifetime)}));
  collect(db->Execute("DELETE FROM jobs WHERE uuid IN (SELECT uuid FROM pcs WHERE last_seen < $1) RETURNING id",
                      {idleBefore}));
  db->Execute("DELETE FROM pairings WHERE expires <= $1 OR uuid IN (SELECT uuid FROM pcs WHERE last_seen < $2)",
              {Text(now), idleBefore});
  db->Execute("DELETE FROM codes WHERE expires <= $1", {Text(now)});
  db->Execute("DELETE FROM uploads WHERE expires <= $1", {Text(now)});
  // Rare: every relay forgets all it knew of empty queues rather than hear of each PC.
  if (db->Execute("DELETE FROM pcs WHERE last_seen < $1", {idleBefore}).changed > 0) {
    db->Notify(kNewJobsChannel, "");
    emptyQueues_.ForgetAll();
  }
  db->Execute("DELETE FROM guesses WHERE locked_until <= $1 AND first_at < $2",
              {Text(now), Text(now - std::max(limits_.lockSeconds, kGlobalWindow))});
  return gone;
}
