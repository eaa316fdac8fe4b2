// What the relay's tests share: olvaro-relay run as a process, a throw-away PostgreSQL
// server, and the requests a desktop and a sender make.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

// One request's answer as the tests read it, error answers included.
struct Exchange {
  bool connected = false;  // false: no answer at all (refused, unreachable, TLS failure)
  std::string error;       // why there was no answer
  long status = 0;
  std::map<std::string, std::string> headers;  // names in lower case; Set-Cookie values joined by "\n"
  std::string body;
};

// `headers` are whole lines such as "Cookie: a=b"; `form` is an encoded body "a=1&b=2".
Exchange HttpGet(const std::string& url, const std::vector<std::string>& headers = {});
Exchange HttpPostForm(const std::string& url, const std::string& form, const std::vector<std::string>& headers = {});
Exchange HttpPostFile(const std::string& url, const std::string& path, const std::vector<std::string>& headers);
// `text` percent-encoded for a query value.
std::string QueryEscape(const std::string& text);

// A running olvaro-relay on an ephemeral loopback port; stopped (SIGTERM) when it goes.
class RelayProcess {
public:
  // `tls`: HTTPS with the test authority's certificate (CURL_CA_BUNDLE is set to it).
  RelayProcess(const std::string& dataFolder, const std::vector<std::string>& options = {}, bool tls = true);
  ~RelayProcess();
  RelayProcess(const RelayProcess&) = delete;
  RelayProcess& operator=(const RelayProcess&) = delete;

  bool Started() const { return port_ > 0; }
  pid_t Pid() const { return pid_; }
  int Port() const { return port_; }
  std::string BaseUrl() const;
  std::string Api(const std::string& path) const { return BaseUrl() + "/api/olvarocloud/" + path; }
  // Ends the process at once, as a crash would.
  void Kill();
  // Its log so far.
  std::string Log() const;

private:
  pid_t pid_ = -1;
  int port_ = 0;
  bool tls_;
  std::string logFile_;
};

// One PostgreSQL server for the whole test program, in a temporary folder, started on
// first use and removed at exit. Empty URL when it cannot start.
class PostgresServer {
public:
  static PostgresServer& Get();
  // A new empty database on it: its connection URL, or "" on failure.
  std::string NewDatabase();
  const std::string& Error() const { return error_; }
  // Stops the server as an administrator would (its sessions are ended), and starts it again.
  bool Stop();
  bool Start();

private:
  PostgresServer();
  ~PostgresServer();
  // pg_ctl with `arguments`, as the server's owner; its exit status.
  int Control(const std::string& arguments) const;
  std::string folder_;
  std::string settings_;
  std::string url_;  // of the server, without a database name
  std::string error_;
  int databases_ = 0;
};

// A desktop as the relay sees it: its identity and the requests its poller makes.
struct DesktopClient {
  const RelayProcess& relay;
  std::string uuid;

  std::string AuthCode() const;
  Exchange Announce(const std::string& host, const std::string& notHave) const;
  // The queue answer's body, or "" when the request failed.
  std::string Queue() const;
  Exchange Download(const std::string& id) const;
  Exchange Acknowledge(const std::string& id) const;
};

// A browser paired with a PC: its cookie and form token.
struct SenderClient {
  SenderClient(const RelayProcess& via) : relay(via) {}
  const RelayProcess& relay;
  std::string token;
  std::string csrf;

  // Pairs with `code`; the status of the answer.
  long Pair(const std::string& code);
  Exchange Status() const;
  // Uploads `content` under `name`; the status of the answer.
  long Upload(const std::string& name, const std::string& content, int copies = 1) const;
};

// A file of `size` bytes in `folder`, filled with a pattern that differs per `seed`.
std::string WritePatternFile(const std::string& folder, const std::string& name, size_t size, int seed);
