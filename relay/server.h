// olvaro-relay's HTTP(S) server: the desktop's API, the sender's page and uploads, on
// libmicrohttpd daemons, one per serving thread, fed by one accepting thread; one log
// line per request on the standard error.
#pragma once

#include <memory>
#include <string>

#include "relay/store.h"

struct RelayOptions {
  std::string listen = "127.0.0.1:8443";  // ADDR:PORT, [v6]:PORT; port 0 picks a free one
  std::string dataFolder;  // SQLite and the documents beside it; unused beside PostgreSQL
  std::string certFile;  // with keyFile: serve HTTPS; without: plain HTTP, loopback only
  std::string keyFile;
  std::string database;  // empty: DATA/relay.sqlite; postgresql://... for a shared one
  int threads = 8;
  // Connections: all of them, and from one address (the rest stay free for others).
  long long maxConnections = 1000;
  long long maxConnectionsPerAddress = 32;
  // Seconds a request's head may take (with the wait before it), and its whole exchange.
  long long headSeconds = 30;
  long long requestSeconds = 900;
  long long identitiesPerHour = 10;  // new PC identities for one address
  RelayLimits limits;
};

// Reads the command line; false with `error` set when it is wrong.
bool ParseRelayOptions(int argc, char** argv, RelayOptions& options, std::string& error);

class RelayServer {
public:
  RelayServer();
  ~RelayServer();
  RelayServer(const RelayServer&) = delete;
  RelayServer& operator=(const RelayServer&) = delete;

  // Opens the storage and starts serving; false with `error` set on failure.
  bool Start(const RelayOptions& options, std::string& error);
  // The port it listens on.
  int Port() const;
  // Stops serving; requests under way are cut off.
  void Stop();

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
