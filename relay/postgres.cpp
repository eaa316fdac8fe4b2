#include "relay/sqldatabase.h"

#include <libpq-fe.h>
#include <poll.h>

#include <cstdlib>
#include <map>

namespace {

class PostgresConnection : public SqlConnection {
public:
  explicit PostgresConnection(PGconn* connection) : connection_(connection) {}
  ~PostgresConnection() override { PQfinish(connection_); }

  // Sets what every session of the relay starts with.
  void Prepare() {
    // Notices such as "relation already exists, skipping" are not worth a log line.
    PQclear(PQexec(connection_, "SET client_min_messages = warning"));
  }

  bool Notify(const std::string& channel, const std::string& payload) override {
    return Execute("SELECT pg_notify($1, $2)", {channel, payload}).ok;
  }

protected:
  SqlResult Run(const std::string& sql, const std::vector<std::string>& params, SqlBytes bytes) override {
    SqlResult result;
    // Within a transaction a lost connection stays lost: what follows must fail with it.
    if (!inTransaction_ && Lost() && !Reconnect()) {
      result.failure = SqlFailure::Unavailable;
      result.error = "cannot reach the database: " + std::string(PQerrorMessage(connection_));
      return result;
    }
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    for (const std::string& param : params) {
      values.push_back(param.c_str());
      lengths.push_back(static_cast<int>(param.size()));
      formats.push_back(values.size() == bytes.parameter ? 1 : 0);
    }
    const int count = static_cast<int>(values.size());
    const int resultFormat = bytes.columns ? 1 : 0;
    const std::string statement = Prepared(sql, count);
    PGresult* answer = statement.empty() ? PQexecParams(connection_, sql.c_str(), count, nullptr, values.data(),
                                                        lengths.data(), formats.data(), resultFormat)
                                         : PQexecPrepared(connection_, statement.c_str(), count, values.data(),
                                                          lengths.data(), formats.data(), resultFormat);
    const ExecStatusType status = PQresultStatus(answer);
    result.ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    if (!result.ok) Fail(answer, result);
    for (int row = 0; row < PQntuples(answer); ++row) {
      SqlRow values;
      for (int column = 0; column < PQnfields(answer); ++column) {
        values.emplace_back(PQgetvalue(answer, row, column), static_cast<size_t>(PQgetlength(answer, row, column)));
      }
      result.rows.push_back(std::move(values));
    }
    result.changed = answer ? std::atoll(PQcmdTuples(answer)) : 0;
    PQclear(answer);
    return result;
  }

  // A transaction-scoped advisory lock serialises the relays that share the database.
  std::vector<std::string> Begin(bool serialised) const override {
    if (serialised) return {"BEGIN", "SELECT pg_advisory_xact_lock(7331001)"};
    return {"BEGIN"};
  }

private:
  // True when the connection is known broken or the server has spoken to it while idle,
  // which it does only to say that it is closing it (a restart, a shutdown).
  bool Lost() const {
    if (PQstatus(connection_) != CONNECTION_OK) return true;
    pollfd ready{PQsocket(connection_), POLLIN, 0};
    return poll(&ready, 1, 0) != 0;
  }

  bool Reconnect() {
    PQreset(connection_);
    prepared_.clear();  // they went with the old session
    if (PQstatus(connection_) != CONNECTION_OK) return false;
    Prepare();
    return true;
  }

  void Fail(const PGresult* answer, SqlResult& result) const {
    const std::string message = answer ? PQresultErrorMessage(answer) : "";
    result.error = message.empty() ? PQerrorMessage(connection_) : message;
    const char* field = answer ? PQresultErrorField(answer, PG_DIAG_SQLSTATE) : nullptr;
    const std::string state = field ? field : "";
    // Classes 08 (connection), 57 (shutdown, crash) and 53 (resources), 53100 being a full disk.
    if (state == "53100") result.failure = SqlFailure::Full;
    else if (PQstatus(connection_) != CONNECTION_OK || state.starts_with("08") || state.starts_with("57") ||
             state.starts_with("53")) {
      result.failure = SqlFailure::Unavailable;
    } else {
      result.failure = SqlFailure::Failed;
    }
  }

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
  // A database that does not answer fails a request within seconds; the URL may say otherwise.
  const char* const keywords[] = {"connect_timeout", "dbname", nullptr};
  const char* const values[] = {"5", url.c_str(), nullptr};
  PGconn* connection = PQconnectdbParams(keywords, values, 1);
  if (PQstatus(connection) != CONNECTION_OK) {
    error = PQerrorMessage(connection);
    PQfinish(connection);
    return nullptr;
  }
  auto opened = std::make_unique<PostgresConnection>(connection);
  opened->Prepare();
  return opened;
}
