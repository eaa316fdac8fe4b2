#include "relay/sqldatabase.h"

#include <cstdio>

namespace {

thread_local SqlFailure lastFailure = SqlFailure::None;

// The connection this thread holds, and from which pool.
struct HeldConnection {
  const SqlPool* pool = nullptr;
  SqlConnection* connection = nullptr;
};
thread_local HeldConnection held;

}  // namespace

SqlFailure LastSqlFailure() { return lastFailure; }

bool IsPostgresTarget(const std::string& target) {
  return target.starts_with("postgresql://") || target.starts_with("postgres://");
}

std::unique_ptr<SqlConnection> OpenSqlConnection(const std::string& target, std::string& error) {
  if (IsPostgresTarget(target)) return OpenPostgres(target, error);
  return OpenSqlite(target, error);
}

SqlResult SqlConnection::Execute(const std::string& sql, const std::vector<std::string>& params, SqlBytes bytes) {
  SqlResult result = Run(sql, params, bytes);
  if (!result.ok) {
    if (result.failure == SqlFailure::None) result.failure = SqlFailure::Failed;
    lastFailure = result.failure;
    // The first line only: the details may quote the values, identities among them.
    const std::string line = result.error.substr(0, result.error.find('\n'));
    std::fprintf(stderr, "olvaro-relay: database: %s\n", line.c_str());
  }
  return result;
}

bool SqlConnection::InTransaction(bool serialised, const std::function<bool()>& body) {
  inTransaction_ = true;
  const std::vector<std::string> opening = Begin(serialised);
  size_t opened = 0;
  while (opened < opening.size() && Execute(opening[opened]).ok) ++opened;
  const bool committed = opened == opening.size() && body() && Execute("COMMIT").ok;
  if (!committed && opened > 0) Execute("ROLLBACK");
  inTransaction_ = false;
  return committed;
}

bool SqlPool::Open(const std::string& target, int count, std::string& error) {
  for (int i = 0; i < count; ++i) {
    auto connection = OpenSqlConnection(target, error);
    if (!connection) return false;
    connections_.push_back(std::move(connection));
    Return(connections_.back().get());
  }
  return true;
}

SqlPool::Lease SqlPool::Acquire() {
  if (held.pool == this) return Lease(*this, held.connection, false);
  std::unique_lock lock(mutex_);
  returned_.wait(lock, [this] { return !idle_.empty(); });
  SqlConnection* connection = idle_.back();
  idle_.pop_back();
  held = {this, connection};
  return Lease(*this, connection, true);
}

SqlPool::Lease::~Lease() {
  if (!first_) return;
  held = {};
  pool_.Return(connection_);
}

void SqlPool::Return(SqlConnection* connection) {
  {
    std::lock_guard lock(mutex_);
    idle_.push_back(connection);
  }
  returned_.notify_one();
}
