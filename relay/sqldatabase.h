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

struct SqlResult {
  bool ok = false;
  std::string error;
  std::vector<SqlRow> rows;  // NULL reads as the empty text
  long long changed = 0;     // rows inserted, updated or deleted
};

class SqlConnection {
public:
  virtual ~SqlConnection() = default;
  virtual SqlResult Execute(const std::string& sql, const std::vector<std::string>& params = {}) = 0;
  // Runs `body` in a transaction that no other connection's locked transaction overlaps;
  // commits when `body` returns true, rolls back otherwise.
  bool LockedTransaction(const std::function<bool()>& body);

protected:
  // The statements that open such a transaction.
  virtual std::vector<std::string> BeginLocked() const = 0;
};

// "postgresql://..." (or "postgres://...") opens PostgreSQL; anything else is the path of
// a SQLite database file. Null with `error` set when the connection fails.
std::unique_ptr<SqlConnection> OpenSqlConnection(const std::string& target, std::string& error);
std::unique_ptr<SqlConnection> OpenSqlite(const std::string& path, std::string& error);
std::unique_ptr<SqlConnection> OpenPostgres(const std::string& url, std::string& error);

// A fixed set of connections shared by the server's threads.
class SqlPool {
public:
  // Opens `count` connections to `target`; false with `error` when one fails.
  bool Open(const std::string& target, int count, std::string& error);

  // Borrows a connection until the lease goes.
  class Lease {
  public:
    Lease(SqlPool& pool, std::unique_ptr<SqlConnection> connection)
        : pool_(pool), connection_(std::move(connection)) {}
    ~Lease() { pool_.Return(std::move(connection_)); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    SqlConnection* operator->() const { return connection_.get(); }
    SqlConnection& operator*() const { return *connection_; }

  private:
    SqlPool& pool_;
    std::unique_ptr<SqlConnection> connection_;
  };
  Lease Acquire();

private:
  void Return(std::unique_ptr<SqlConnection> connection);

  std::mutex mutex_;
  std::condition_variable returned_;
  std::vector<std::unique_ptr<SqlConnection>> idle_;
};
