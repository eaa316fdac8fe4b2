#include "relay/sqldatabase.h"

std::unique_ptr<SqlConnection> OpenSqlConnection(const std::string& target, std::string& error) {
  if (target.starts_with("postgresql://") || target.starts_with("postgres://")) return OpenPostgres(target, error);
  return OpenSqlite(target, error);
}

bool SqlConnection::LockedTransaction(const std::function<bool()>& body) {
  for (const std::string& statement : BeginLocked()) {
    if (!Execute(statement).ok) {
      Execute("ROLLBACK");
      return false;
    }
  }
  if (body() && Execute("COMMIT").ok) return true;
  Execute("ROLLBACK");
  return false;
}

bool SqlPool::Open(const std::string& target, int count, std::string& error) {
  for (int i = 0; i < count; ++i) {
    auto connection = OpenSqlConnection(target, error);
    if (!connection) return false;
    Return(std::move(connection));
  }
  return true;
}

SqlPool::Lease SqlPool::Acquire() {
  std::unique_lock lock(mutex_);
  returned_.wait(lock, [this] { return !idle_.empty(); });
  auto connection = std::move(idle_.back());
  idle_.pop_back();
  return Lease(*this, std::move(connection));
}

void SqlPool::Return(std::unique_ptr<SqlConnection> connection) {
  {
    std::lock_guard lock(mutex_);
    idle_.push_back(std::move(connection));
  }
  returned_.notify_one();
}
