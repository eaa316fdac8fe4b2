#include "relay/sqldatabase.h"

#include <libpq-fe.h>

#include <cstdlib>
#include <map>

namespace {

class PostgresConnection : public SqlConnection {
public:
  explicit PostgresConnection(PGconn* connection) : connection_(connection) {}
  ~PostgresConnection() override { PQfinish(connection_); }

  SqlResult Execute(const std::string& sql, const std::vector<std::string>& params) override {
    std::vector<const char*> values;
    for (const std::string& param : params) values.push_back(param.c_str());
    const int count = static_cast<int>(values.size());
    const std::string statement = Prepared(sql, count);
    PGresult* answer =
        statement.empty() ? PQexecParams(connection_, sql.c_str(), count, nullptr, values.data(), nullptr, nullptr, 0)
                          : PQexecPrepared(connection_, statement.c_str(), count, values.data(), nullptr, nullptr, 0);
    SqlResult result;
    const ExecStatusType status = PQresultStatus(answer);
    result.ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    if (!result.ok) result.error = PQresultErrorMessage(answer);
    for (int row = 0; row < PQntuples(answer); ++row) {
      SqlRow values;
      for (int column = 0; column < PQnfields(answer); ++column) values.emplace_back(PQgetvalue(answer, row, column));
      result.rows.push_back(std::move(values));
    }
    result.changed = std::atoll(PQcmdTuples(answer));
    PQclear(answer);
    return result;
  }

protected:
  // A transaction-scoped advisory lock serialises the relays that share the database.
  std::vector<std::string> BeginLocked() const override {
    return {"BEGIN", "SELECT pg_advisory_xact_lock(7331001)"};
  }

private:
  // The name of `sql` prepared on this connection: the relay repeats a few statements
  // many times, so each is parsed and planned once. "" when it cannot be prepared.
  std::string Prepared(const std::string& sql, int parameters) {
    const auto known = prepared_.find(sql);
    if (known != prepared_.end()) return known->second;
    const std::string name = "s" + std::to_string(prepared_.size());
    PGresult* result = PQprepare(connection_, name.c_str(), sql.c_str(), parameters, nullptr);
    const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
    PQclear(result);
    if (!ok) return "";
    return prepared_[sql] = name;
  }

  PGconn* connection_;
  std::map<std::string, std::string> prepared_;
};

}  // namespace

std::unique_ptr<SqlConnection> OpenPostgres(const std::string& url, std::string& error) {
  PGconn* connection = PQconnectdb(url.c_str());
  if (PQstatus(connection) != CONNECTION_OK) {
    error = PQerrorMessage(connection);
    PQfinish(connection);
    return nullptr;
  }
  auto opened = std::make_unique<PostgresConnection>(connection);
  // Notices such as "relation already exists, skipping" are not worth a log line.
  opened->Execute("SET client_min_messages = warning", {});
  return opened;
}
