#include "relay/postgreslistener.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {

// Reconnection attempts after a loss: the first soon, then ever further apart.
constexpr int kFirstRetryMs = 100;
constexpr int kLastRetryMs = 5000;

}  // namespace

PostgresListener::PostgresListener(std::string url, std::string channel, Events events)
    : url_(std::move(url)), channel_(std::move(channel)), events_(std::move(events)) {}

PostgresListener::~PostgresListener() {
  if (thread_.joinable()) {
    const char stop = 1;
    (void)!write(stop_[1], &stop, 1);
    thread_.join();
  }
  Drop();
  for (const int fd : stop_) {
    if (fd >= 0) close(fd);
  }
}

bool PostgresListener::Start(std::string& error) {
  if (pipe2(stop_, O_CLOEXEC) != 0) {
    error = "cannot make a pipe";
    return false;
  }
  if (!Connect(error)) return false;
  events_.listening();
  thread_ = std::thread([this] { Run(); });
  return true;
}

bool PostgresListener::Connect(std::string& error) {
  // Named, so that an administrator sees what it is. A silent loss of a TCP connection
  // shows within half a minute; the URL may say otherwise.
  const char* const keywords[] = {"connect_timeout", "application_name", "keepalives_idle", "keepalives_interval",
                                  "keepalives_count", "tcp_user_timeout", "dbname", nullptr};
  const char* const values[] = {"5", "olvaro-relay listener", "10", "5", "3", "30000", url_.c_str(), nullptr};
  connection_ = PQconnectdbParams(keywords, values, 1);
  PGresult* listened = PQstatus(connection_) == CONNECTION_OK
                           ? PQexec(connection_, ("LISTEN \"" + channel_ + "\"").c_str())
                           : nullptr;
  const bool ok = PQresultStatus(listened) == PGRES_COMMAND_OK;
  PQclear(listened);
  if (!ok) {
    error = PQerrorMessage(connection_);
    Drop();
  }
  return ok;
}

void PostgresListener::Drop() {
  PQfinish(connection_);
  connection_ = nullptr;
}

bool PostgresListener::Wait(int timeoutMs) const {
  pollfd ready[2] = {{stop_[0], POLLIN, 0}, {connection_ ? PQsocket(connection_) : -1, POLLIN, 0}};
  // An interrupted wait is taken for a word from the connection: reading finds nothing.
  poll(ready, 2, timeoutMs);
  return !(ready[0].revents & POLLIN);
}

void PostgresListener::Run() {
  int retryMs = kFirstRetryMs;
  while (Wait(connection_ ? -1 : retryMs)) {
    if (!connection_) {
      std::string error;
      if (!Connect(error)) {
        retryMs = std::min(retryMs * 2, kLastRetryMs);
        continue;
      }
      std::fprintf(stderr, "olvaro-relay: listening for new jobs again\n");
      events_.listening();
      retryMs = kFirstRetryMs;
      continue;
    }
    const bool read = PQconsumeInput(connection_) == 1;
    while (PGnotify* notice = PQnotifies(connection_)) {
      events_.notified(notice->extra);
      PQfreemem(notice);
    }
    if (read && PQstatus(connection_) == CONNECTION_OK) continue;
    // Said once: the attempts to reconnect are not.
    const std::string why = PQerrorMessage(connection_);
    std::fprintf(stderr, "olvaro-relay: lost the connection that listens for new jobs: %s\n",
                 why.substr(0, why.find('\n')).c_str());
    Drop();
    events_.lost();
  }
}
