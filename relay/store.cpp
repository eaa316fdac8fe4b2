#include "relay/store.h"

#include <chrono>
#include <string_view>

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
};

// Job states: waiting for the PC, downloaded by it, acknowledged (bytes gone).
constexpr int kPrinted = 2;
// How stale the last-seen time of a polling PC may be, in seconds.
constexpr long long kSeenPrecision = 10;

std::string Text(long long value) { return std::to_string(value); }

// Orders the jobs of one PC by their arrival, also within one second.
long long Microseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

long long Number(const std::string& text) { return text.empty() ? 0 : std::stoll(text); }

}  // namespace

bool RelayStore::Open(const std::string& target, int connections, std::string& error) {
  return pool_.Open(target, connections, error) && Migrate(error);
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
      if (!db->Execute("INSERT INTO schema_version (version) VALUES ($1)", {Text(static_cast<long long>(version) + 1)}).ok) {
        return false;
      }
    }
    return true;
  });
}

bool RelayStore::EnsurePc(SqlConnection& db, const std::string& uuid, long long now) {
  // A PC may bring an identity from another relay; it is taken on first sight.
  return db.Execute("INSERT INTO pcs (uuid, created, last_seen) VALUES ($1, $2, $2) ON CONFLICT (uuid) DO NOTHING",
                    {uuid, Text(now)})
      .ok;
}

std::string RelayStore::NewIdentity(long long now) {
  auto db = pool_.Acquire();
  const std::string uuid = RandomUuid();
  return db->Execute("INSERT INTO pcs (uuid, created, last_seen) VALUES ($1, $2, $2)", {uuid, Text(now)}).ok ? uuid : "";
}

std::string RelayStore::IssueAuthCode(const std::string& uuid, long long now) {
  auto db = pool_.Acquire();
  if (!EnsurePc(*db, uuid, now) || !db->Execute("DELETE FROM codes WHERE uuid = $1", {uuid}).ok) return "";
  db->Execute("DELETE FROM codes WHERE expires <= $1", {Text(now)});
  // A code in use by another PC is drawn again.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::string code = RandomAuthCode();
    const SqlResult inserted =
        db->Execute("INSERT INTO codes (code, uuid, expires) VALUES ($1, $2, $3) ON CONFLICT (code) DO NOTHING",
                    {code, uuid, Text(now + limits_.codeLifetime)});
    if (!inserted.ok) return "";
    if (inserted.changed == 1) return code;
  }
  return "";
}

bool RelayStore::Announce(const PcRecord& pc, long long now) {
  auto db = pool_.Acquire();
  return EnsurePc(*db, pc.uuid, now) &&
         db->Execute("UPDATE pcs SET host = $2, ips = $3, nothave = $4, last_seen = $5 WHERE uuid = $1",
                     {pc.uuid, pc.host, pc.addresses, pc.notHave, Text(now)})
             .ok;
}

std::optional<std::vector<QueuedJob>> RelayStore::Poll(const std::string& uuid, long long now) {
  auto db = pool_.Acquire();
  // One read gives the PC and its jobs: its row alone (job columns empty) when it has none.
  // Expired jobs are gone at once, before the sweep takes their bytes.
  const SqlResult found = db->Execute(
      "SELECT p.last_seen, j.id, j.name, j.size, j.copies, j.created FROM pcs p LEFT JOIN jobs j"
      " ON j.uuid = p.uuid AND j.state < $2 AND j.created > $3 WHERE p.uuid = $1 ORDER BY j.arrived, j.id",
      {uuid, Text(kPrinted), Text(now - limits_.jobLifetime)});
  if (!found.ok) return std::nullopt;
  if (found.rows.empty()) {
    if (!EnsurePc(*db, uuid, now)) return std::nullopt;
  } else if (Number(found.rows[0][0]) < now - kSeenPrecision) {
    // A PC that polls more often than this is not written to on every poll.
    db->Execute("UPDATE pcs SET last_seen = $2 WHERE uuid = $1", {uuid, Text(now)});
  }
  std::vector<QueuedJob> queue;
  for (const SqlRow& row : found.rows) {
    if (!row[1].empty()) queue.push_back({row[1], row[2], row[3], row[4], row[5]});
  }
  return queue;
}

std::optional<long long> RelayStore::Download(const std::string& id, long long now) {
  auto db = pool_.Acquire();
  const SqlResult found = db->Execute("UPDATE jobs SET state = 1 WHERE id = $1 AND state < $2 AND created > $3 RETURNING size",
                                      {id, Text(kPrinted), Text(now - limits_.jobLifetime)});
  if (!found.ok || found.rows.empty()) return std::nullopt;
  return Number(found.rows[0][0]);
}

bool RelayStore::Acknowledge(const std::string& uuid, const std::string& id) {
  auto db = pool_.Acquire();
  const SqlResult marked =
      db->Execute("UPDATE jobs SET state = $3 WHERE id = $1 AND uuid = $2", {id, uuid, Text(kPrinted)});
  return marked.ok && marked.changed > 0;
}

bool RelayStore::Locked(const std::string& subject, long long now) {
  auto db = pool_.Acquire();
  const SqlResult lock =
      db->Execute("SELECT 1 FROM guesses WHERE subject = $1 AND locked_until > $2", {subject, Text(now)});
  return !lock.ok || !lock.rows.empty();
}

void RelayStore::CountWrongCode(const std::string& subject, long long now) {
  auto db = pool_.Acquire();
  // Failures count within one lock period; an older count starts again.
  const SqlResult counted = db->Execute(
      "INSERT INTO guesses (subject, failures, first_at, locked_until) VALUES ($1, 1, $2, 0)"
      " ON CONFLICT (subject) DO UPDATE SET"
      " failures = CASE WHEN guesses.first_at < $3 THEN 1 ELSE guesses.failures + 1 END,"
      " first_at = CASE WHEN guesses.first_at < $3 THEN excluded.first_at ELSE guesses.first_at END"
      " RETURNING failures",
      {subject, Text(now), Text(now - limits_.lockSeconds)});
  if (counted.ok && !counted.rows.empty() && Number(counted.rows[0][0]) >= limits_.maxWrongCodes) {
    db->Execute("UPDATE guesses SET failures = 0, first_at = $2, locked_until = $3 WHERE subject = $1",
                {subject, Text(now), Text(now + limits_.lockSeconds)});
  }
}

PairOutcome RelayStore::Pair(const std::string& code, const std::string& address, long long now, Pairing& pairing) {
  const std::string addressSubject = "address " + address;
  if (Locked(addressSubject, now)) return PairOutcome::Locked;
  auto db = pool_.Acquire();
  const SqlResult owner = db->Execute("SELECT uuid, expires FROM codes WHERE code = $1", {code});
  if (!owner.ok) return PairOutcome::Failed;
  if (owner.rows.empty()) {
    CountWrongCode(addressSubject, now);
    return PairOutcome::Wrong;
  }
  const std::string uuid = owner.rows[0][0];
  const std::string pcSubject = "pc " + uuid;
  if (Locked(pcSubject, now)) return PairOutcome::Locked;
  // Taking the code and pairing are one step: a code pairs once.
  const SqlResult taken =
      db->Execute("DELETE FROM codes WHERE code = $1 AND expires > $2 RETURNING uuid", {code, Text(now)});
  if (!taken.ok) return PairOutcome::Failed;
  if (taken.rows.empty()) {
    CountWrongCode(addressSubject, now);
    CountWrongCode(pcSubject, now);
    return PairOutcome::Expired;
  }
  pairing = {RandomHex(32), RandomHex(32), uuid};
  if (!db->Execute("INSERT INTO pairings (token, uuid, csrf, expires) VALUES ($1, $2, $3, $4)",
                   {pairing.token, uuid, pairing.csrf, Text(now + limits_.pairingLifetime)})
           .ok) {
    return PairOutcome::Failed;
  }
  db->Execute("DELETE FROM guesses WHERE subject = $1", {addressSubject});
  return PairOutcome::Paired;
}

std::optional<Pairing> RelayStore::FindPairing(const std::string& token, long long now) {
  if (token.empty()) return std::nullopt;
  auto db = pool_.Acquire();
  const SqlResult found =
      db->Execute("SELECT uuid, csrf FROM pairings WHERE token = $1 AND expires > $2", {token, Text(now)});
  if (!found.ok || found.rows.empty()) return std::nullopt;
  return Pairing{token, found.rows[0][1], found.rows[0][0]};
}

std::optional<PcRecord> RelayStore::FindPc(const std::string& uuid) {
  auto db = pool_.Acquire();
  const SqlResult found = db->Execute("SELECT host, ips, nothave, last_seen FROM pcs WHERE uuid = $1", {uuid});
  if (!found.ok || found.rows.empty()) return std::nullopt;
  const SqlRow& row = found.rows[0];
  return PcRecord{uuid, row[0], row[1], row[2], Number(row[3])};
}

std::vector<SentJob> RelayStore::SentJobs(const std::string& token) {
  auto db = pool_.Acquire();
  const SqlResult found = db->Execute(
      "SELECT name, copies, state FROM jobs WHERE token = $1 ORDER BY arrived DESC, id LIMIT 20", {token});
  std::vector<SentJob> jobs;
  static const char* const kStates[] = {"waiting", "fetched", "printed"};
  for (const SqlRow& row : found.rows) jobs.push_back({row[0], row[1], kStates[Number(row[2]) % 3]});
  return jobs;
}

bool RelayStore::HasRoom(const std::string& uuid) {
  auto db = pool_.Acquire();
  const SqlResult count =
      db->Execute("SELECT COUNT(*) FROM jobs WHERE uuid = $1 AND state < $2", {uuid, Text(kPrinted)});
  return count.ok && !count.rows.empty() && Number(count.rows[0][0]) < limits_.maxWaitingJobs;
}

AddJobOutcome RelayStore::AddJob(const Pairing& pairing, const QueuedJob& job) {
  auto db = pool_.Acquire();
  // The count and the insert are one statement, so parallel uploads cannot overfill.
  const SqlResult added = db->Execute(
      "INSERT INTO jobs (id, uuid, token, name, size, copies, created, arrived, state)"
      " SELECT $1, $2, $3, $4, CAST($5 AS BIGINT), CAST($6 AS INTEGER), CAST($7 AS BIGINT), CAST($8 AS BIGINT), 0"
      " WHERE (SELECT COUNT(*) FROM jobs WHERE uuid = $2 AND state < 2) < CAST($9 AS BIGINT)",
      {job.id, pairing.uuid, pairing.token, job.name, job.size, job.copies, job.created, Text(Microseconds()),
       Text(limits_.maxWaitingJobs)});
  if (!added.ok) return AddJobOutcome::Failed;
  return added.changed == 1 ? AddJobOutcome::Added : AddJobOutcome::QueueFull;
}

std::vector<std::string> RelayStore::Sweep(long long now) {
  auto db = pool_.Acquire();
  std::vector<std::string> gone;
  const auto collect = [&gone](const SqlResult& result) {
    for (const SqlRow& row : result.rows) gone.push_back(row[0]);
  };
  const std::string idleBefore = Text(now - limits_.pcLifetime);
  collect(db->Execute("DELETE FROM jobs WHERE created <= $1 RETURNING id", {Text(now - limits_.jobLifetime)}));
  collect(db->Execute("DELETE FROM jobs WHERE uuid IN (SELECT uuid FROM pcs WHERE last_seen < $1) RETURNING id",
                      {idleBefore}));
  db->Execute("DELETE FROM pairings WHERE expires <= $1 OR uuid IN (SELECT uuid FROM pcs WHERE last_seen < $2)",
              {Text(now), idleBefore});
  db->Execute("DELETE FROM codes WHERE expires <= $1", {Text(now)});
  db->Execute("DELETE FROM pcs WHERE last_seen < $1", {idleBefore});
  db->Execute("DELETE FROM guesses WHERE locked_until <= $1 AND first_at < $2",
              {Text(now), Text(now - limits_.lockSeconds)});
  return gone;
}
