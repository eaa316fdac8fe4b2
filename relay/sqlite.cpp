#include "relay/sqldatabase.h"

#include <sqlite3.h>

#include <unordered_map>

namespace {

class SqliteConnection : public SqlConnection {
public:
  explicit SqliteConnection(sqlite3* db) : db_(db) {}
  ~SqliteConnection() override {
    for (const auto& [sql, statement] : prepared_) sqlite3_finalize(statement);
    sqlite3_close(db_);
  }

protected:
  SqlResult Run(const std::string& sql, const std::vector<std::string>& params, SqlBytes bytes) override {
    SqlResult result;
    sqlite3_stmt* statement = Prepared(sql);
    if (!statement) {
      Fail(result);
      return result;
    }
    // $n names the n-th parameter wherever it stands.
    for (size_t i = 0; i < params.size(); ++i) {
      const int index = sqlite3_bind_parameter_index(statement, ("$" + std::to_string(i + 1)).c_str());
      const int size = static_cast<int>(params[i].size());
      if (index > 0 && i + 1 == bytes.parameter) sqlite3_bind_blob(statement, index, params[i].data(), size, SQLITE_TRANSIENT);
      else if (index > 0) sqlite3_bind_text(statement, index, params[i].data(), size, SQLITE_TRANSIENT);
    }
    int step;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
      SqlRow row;
      for (int column = 0; column < sqlite3_column_count(statement); ++column) {
        const void* value = bytes.columns ? sqlite3_column_blob(statement, column) : sqlite3_column_text(statement, column);
        // The length is asked after the value, as SQLite converts it to the form asked for.
        const auto size = static_cast<size_t>(sqlite3_column_bytes(statement, column));
        row.emplace_back(value ? static_cast<const char*>(value) : "", value ? size : 0);
      }
      result.rows.push_back(std::move(row));
    }
    result.ok = step == SQLITE_DONE;
    if (!result.ok) Fail(result);
    result.changed = sqlite3_changes(db_);
    // A statement left unreset would hold its read of the database open.
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return result;
  }

  // IMMEDIATE takes the write lock at once, so two processes cannot interleave.
  std::vector<std::string> Begin(bool) const override { return {"BEGIN IMMEDIATE"}; }

private:
  void Fail(SqlResult& result) const {
    result.error = sqlite3_errmsg(db_);
    switch (sqlite3_errcode(db_)) {
      case SQLITE_FULL: result.failure = SqlFailure::Full; break;
      case SQLITE_BUSY:
      case SQLITE_LOCKED:
      case SQLITE_CANTOPEN: result.failure = SqlFailure::Unavailable; break;
      default: result.failure = SqlFailure::Failed;
    }
  }

  // `sql` compiled on this connection: the relay repeats a few statements many times
  // (a poll above all), so each is parsed and planned once. Null when it does not compile.
  sqlite3_stmt* Prepared(const std::string& sql) {
    const auto known = prepared_.find(sql);
    if (known != prepared_.end()) return known->second;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK) {
      return nullptr;
    }
    return prepared_[sql] = statement;
  }

  sqlite3* db_;
  std::unordered_map<std::string, sqlite3_stmt*> prepared_;
};

}  // namespace

std::unique_ptr<SqlConnection> OpenSqlite(const std::string& path, std::string& error) {
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    error = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, 10000);
  auto connection = std::make_unique<SqliteConnection>(db);
  for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL", "PRAGMA foreign_keys=ON"}) {
    const SqlResult result = connection->Execute(pragma, {});
    if (!result.ok) {
      error = result.error;
      return nullptr;
    }
  }
  return connection;
}
