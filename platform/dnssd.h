// One service announced on the local network through the DNS-SD daemon.
// An object belongs to one thread at a time; different objects may be used at once.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Result of serving the daemon's connection for a while.
enum class DnsSdServeResult {
  Idle,          // nothing to do, or the daemon's messages were handled
  Broken,        // the daemon went away or refused the service: register again
  NameConflict,  // another service on the network has our name: register under another
};

// DNS-SD's error number for a name that another service already holds.
constexpr int kDnsSdNameConflict = -65548;

// A TXT record's keys and values, in the order they are announced.
using DnsSdTxtRecord = std::vector<std::pair<std::string, std::string>>;

class CDnsSdService {
public:
  // `name` empty: the computer's name, as the daemon has it.
  explicit CDnsSdService(std::string name = {}) : name_(std::move(name)) {}
  ~CDnsSdService();
  CDnsSdService(const CDnsSdService&) = delete;
  CDnsSdService& operator=(const CDnsSdService&) = delete;

  // Announces `type` in `domain` on `port` under Name(), with this TXT record (none when
  // empty) and these subtypes ("_print", "_universal"); an earlier registration of this
  // object is withdrawn first. 0 on success, otherwise the DNS-SD error number
  // (kDnsSdNameConflict when the name is taken).
  int Register(const std::string& type, const std::string& domain, uint16_t port, const DnsSdTxtRecord& txt = {},
               const std::vector<std::string>& subtypes = {});

  // Waits up to `timeoutMs` for messages from the daemon and handles them.
  DnsSdServeResult Serve(int timeoutMs);

  // Withdraws the service; nothing happens when none is registered.
  void Withdraw();

  bool IsRegistered() const { return ref_ != nullptr || system_ != nullptr; }

  // The name registered under: the computer's name until a conflict made us move on.
  std::string Name() const;

  // After a conflict: the next name as DNS-SD responders choose it ("name #2", "name #3",
  // ...), used from the next Register on. Returns that name.
  std::string MoveToAlternativeName();

private:
  struct _DNSServiceRef_t* ref_ = nullptr;
  struct SystemRegistration* system_ = nullptr;  // Windows' own DNS-SD, without dnssd.dll
  int replyError_ = 0;  // written by the daemon's reply, read after each Serve
  std::string name_;    // empty: the computer's name, as the daemon has it
  std::string type_;    // of the last registration, without subtypes

  static void OnRegisterReply(struct _DNSServiceRef_t* ref, uint32_t flags, int32_t error,
                              const char* name, const char* type, const char* domain,
                              void* context);
};

// True when the subtypes given to Register reach the network: always with Avahi and with
// Bonjour; not with Windows' own DNS-SD, which registers the bare type (iPhones then do
// not list the service).
bool CanRegisterSubtypes();

// True when a service of this process announces `name` (an instance name such as
// "Kitchen PC") with `type` ("_ipp._tcp") now. Callable from any thread.
bool IsAnnouncedByThisProcess(const std::string& name, const std::string& type);

// The name after `name` in the sequence "name", "name #2", "name #3", ...
std::string AlternativeServiceName(const std::string& name);
