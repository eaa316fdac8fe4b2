// One SQL connection behind a small interface, so the relay's storage runs on SQLite or
// on PostgreSQL with the same statements. Parameters are written $1, $2, ... in order of
// first use and passed as text; both engines convert them to the column's type.
// A connection belongs to one thread at a time (SqlPool hands them out).
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using SqlRow = std::vector<std::string>;

// Why a statement failed: the caller answers each differently.
enum class SqlFailure {
  None,
  Unavailable,  // the database cannot be reached now (restart, lost connection, busy)
  Full,         // its disk or its limits are exhausted
  Failed,       // anything else
};

struct SqlResult {
  bool ok = false;
  SqlFailure failure = SqlFailure::None;
  std::string error;
  std::vector<SqlRow> rows;  // NULL reads as the empty text
  long long changed = 0;     // rows inserted, updated or deleted
};

// Raw bytes (bytea, a blob) beside the text: parameter number `parameter` (from 1; 0 for
// none) goes as it is, and with `columns` every column of the answer comes as stored.
struct SqlBytes {
  size_t parameter = 0;
  bool columns = false;
};

// The kind of the last failed statement on this thread.
SqlFailure LastSqlFailure();

class SqlConnection {
public:
  virtual ~SqlConnection() = default;
  // Runs one statement; a failure is logged with the database's text.
  SqlResult Execute(const std::string& sql, const std::vector<std::string>& params = {}, SqlBytes bytes = {});
  // Runs `body` in a transaction that holds the database's write lock (SQLite) or takes
  // row locks as it goes (PostgreSQL); commits when `body` returns true, rolls back
  // otherwise.
  bool Transaction(const std::function<bool()>& body) { return InTransaction(false, body); }
  // The same, and no other connection's locked transaction overlaps it.
  bool LockedTransaction(const std::function<bool()>& body) { return InTransaction(true, body); }
  // Tells every process connected to the database `payload` on `channel`, when the
  // transaction commits (at once outside one). A database that one process keeps to
  // itself has no one else to tell.
  virtual bool Notify(const std::string& /*channel*/, const std::string& /*payload*/) { return true; }

protected:
  virtual SqlResult Run(const std::string& sql, const std::vector<std::string>& params, SqlBytes bytes) = 0;
  // The statements that open a transaction, `serialised` with every other such one.
  virtual std::vector<std::string> Begin(bool serialised) const = 0;
  // True while a transaction is open: a lost connection is not replaced then, since the
  // statements after the loss must fail rather than run outside the transaction.
  bool inTransaction_ = false;

private:
  bool InTransaction(bool serialised, const std::function<bool()>& body);
};

// "postgresql://..." (or "postgres://...") names PostgreSQL; anything else is the path of
// a SQLite database file.
bool IsPostgresTarget(const std::string& target);
// Null with `error` set when the connection fails.
std::unique_ptr<SqlConnection> OpenSqlConnection(const std::string& target, std::string& error);
std::unique_ptr<SqlConnection> OpenSqlite(const std::string& path, std::string& error);
std::unique_ptr<SqlConnection> OpenPostgres(const std::string& url, std::string& error);

// A fixed set of connections shared by the server's threads. A thread holds at most one:
// asking again while it holds one gives the same connection, so no path can wait for a
// second connection while holding the first.
class SqlPool {
public:
  // Opens `count` connections to `target`; false with `error` when one fails.
  bool Open(const std::string& target, int count, std::string& error);

  // Borrows a connection until the lease goes.
  class Lease {
  public:
    Lease(SqlPool& pool, SqlConnection* connection, bool first) : pool_(pool), connection_(connection), first_(first) {}
    ~Lease();
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    SqlConnection* operator->() const { return connection_; }
    SqlConnection& operator*() const { return *connection_; }

  private:
    SqlPool& pool_;
    SqlConnection* connection_;
    bool first_;  // the thread's outermost lease gives the connection back
  };
  Lease Acquire();

private:
  void Return(SqlConnection* connection);

  std::mutex mutex_;
  std::condition_variable returned_;
  std::vector<std::unique_ptr<SqlConnection>> connections_;
  std::vector<SqlConnection*> idle_;
};
