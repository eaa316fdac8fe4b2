// DNS-SD on Windows: Bonjour's dnssd.dll (the dns_sd interface) when it is installed,
// else Windows' own DnsServiceRegister (Windows 10 1809 and later). Both are looked up
// at run time, so the program starts on every Windows; with neither, the service runs
// unannounced and the standard error stream says so once.
#include "platform/dnssd.h"

#include <atomic>
#include <cstdio>
#include <vector>
#include <winsock2.h>
#include <windns.h>
#include <windows.h>

#include "platform/dnssd-private.h"
#include "platform/network.h"
#include "platform/sockets.h"
#include "platform/win/dnsregistration.h"
#include "platform/win/widetext.h"

namespace {

using ReplyCallback = void(__stdcall*)(_DNSServiceRef_t*, uint32_t, int32_t, const char*, const char*, const char*,
                                       void*);
using RegisterCall = int32_t(__stdcall*)(_DNSServiceRef_t**, uint32_t, uint32_t, const char*, const char*,
                                         const char*, const char*, uint16_t, uint16_t, const void*, ReplyCallback,
                                         void*);
using SocketCall = int(__stdcall*)(_DNSServiceRef_t*);
using ProcessCall = int32_t(__stdcall*)(_DNSServiceRef_t*);
using DeallocateCall = void(__stdcall*)(_DNSServiceRef_t*);
using SystemRegisterCall = DWORD(WINAPI*)(PDNS_SERVICE_REGISTER_REQUEST, PDNS_SERVICE_CANCEL);
using ConstructCall = PDNS_SERVICE_INSTANCE(WINAPI*)(PCWSTR, PCWSTR, PIP4_ADDRESS, PIP6_ADDRESS, WORD, WORD, WORD,
                                                     DWORD, PCWSTR*, PCWSTR*);
using FreeInstanceCall = VOID(WINAPI*)(PDNS_SERVICE_INSTANCE);

constexpr int32_t kServiceNotRunning = -65563;  // kDNSServiceErr_ServiceNotRunning
constexpr int32_t kBadParam = -65540;           // kDNSServiceErr_BadParam
constexpr DWORD kRequestPending = 9506;          // kRequestPending

struct Routes {
  RegisterCall registerService = nullptr;
  SocketCall socketOf = nullptr;
  ProcessCall process = nullptr;
  DeallocateCall deallocate = nullptr;
  SystemRegisterCall systemRegister = nullptr;
  SystemRegisterCall systemDeregister = nullptr;
  ConstructCall construct = nullptr;
  FreeInstanceCall freeInstance = nullptr;

  bool Bonjour() const { return registerService && socketOf && process && deallocate; }
  bool System() const { return systemRegister && systemDeregister && construct && freeInstance; }
};

template <typename Call>
Call Lookup(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

const Routes& AvailableRoutes() {
  static const Routes routes = [] {
    Routes found;
    const HMODULE bonjour = LoadLibraryExW(L"dnssd.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    found.registerService = Lookup<RegisterCall>(bonjour, "DNSServiceRegister");
    found.socketOf = Lookup<SocketCall>(bonjour, "DNSServiceRefSockFD");
    found.process = Lookup<ProcessCall>(bonjour, "DNSServiceProcessResult");
    found.deallocate = Lookup<DeallocateCall>(bonjour, "DNSServiceRefDeallocate");
    const HMODULE dnsapi = LoadLibraryExW(L"dnsapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    found.systemRegister = Lookup<SystemRegisterCall>(dnsapi, "DnsServiceRegister");
    found.systemDeregister = Lookup<SystemRegisterCall>(dnsapi, "DnsServiceDeRegister");
    found.construct = Lookup<ConstructCall>(dnsapi, "DnsServiceConstructInstance");
    found.freeInstance = Lookup<FreeInstanceCall>(dnsapi, "DnsServiceFreeInstance");
    if (!found.Bonjour() && !found.System()) {
      std::fprintf(stderr, "olvaro-desktop: the print service is not announced on the network: neither "
                           "Bonjour (dnssd.dll) nor Windows' own DNS-SD (Windows 10 1809 or later) is here\n");
    }
    return found;
  }();
  return routes;
}

// Drops a trailing dot: "local." is written "local" in the names Windows takes.
std::string WithoutFinalDot(std::string name) {
  if (!name.empty() && name.back() == '.') name.pop_back();
  return name;
}

// A service name as one label of a DNS name: its dots and backslashes escaped.
std::string EscapedLabel(const std::string& name) {
  std::string label;
  for (const char c : name) {
    if (c == '.' || c == '\\') label += '\\';
    label += c;
  }
  return label;
}

}  // namespace

ServiceRegistration DescribeServiceRegistration(const std::string& serviceName, const std::string& computerName,
                                                const std::string& type, const std::string& domain, uint16_t port,
                                                const DnsSdTxtRecord& txt) {
  const std::string zone = WithoutFinalDot(domain);
  ServiceRegistration registration{ToWide(EscapedLabel(serviceName) + "." + type + "." + zone),
                                   ToWide(computerName + "." + zone), port, {}, {}};
  for (const auto& [key, value] : txt) {
    registration.txtKeys.push_back(ToWide(key));
    registration.txtValues.push_back(ToWide(value));
  }
  return registration;
}

bool CanRegisterSubtypes() { return AvailableRoutes().Bonjour(); }

// Windows' registration: the request must stay alive until it is withdrawn.
struct SystemRegistration {
  DNS_SERVICE_REGISTER_REQUEST request{};
  PDNS_SERVICE_INSTANCE instance = nullptr;
  std::atomic<DWORD> status{ERROR_SUCCESS};
  HANDLE completed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ~SystemRegistration() {
    if (instance) AvailableRoutes().freeInstance(instance);
    if (completed) CloseHandle(completed);
  }
  static VOID WINAPI OnComplete(DWORD status, PVOID context, PDNS_SERVICE_INSTANCE) {
    auto* registration = static_cast<SystemRegistration*>(context);
    registration->status = status;
    SetEvent(registration->completed);
  }
};

CDnsSdService::~CDnsSdService() { Withdraw(); }

// Success tells the name Bonjour chose; an error is kept for the next Serve.
void CDnsSdService::OnRegisterReply(_DNSServiceRef_t*, uint32_t, int32_t error, const char* name, const char*,
                                    const char*, void* context) {
  auto* service = static_cast<CDnsSdService*>(context);
  if (error != 0) {
    service->replyError_ = error;
    ForgetAnnouncement(service);
  } else if (name != nullptr && name[0] != '\0') {
    service->name_ = name;
    NoteAnnouncement(service, service->name_, service->type_);
  }
}

std::string CDnsSdService::Name() const {
  if (!name_.empty()) return name_;
  const std::string host = GetSystemHostName();
  return host.substr(0, host.find('.'));
}

int CDnsSdService::Register(const std::string& type, const std::string& domain, uint16_t port,
                            const DnsSdTxtRecord& txt, const std::vector<std::string>& subtypes) {
  Withdraw();
  replyError_ = 0;
  const Routes& routes = AvailableRoutes();
  if (routes.Bonjour()) {
    // Bonjour takes the subtypes after the type, separated by commas.
    const std::string typeWithSubtypes = DnsSdTypeWithSubtypes(type, subtypes);
    const std::string record = EncodeDnsSdTxtRecord(txt);
    if (record.size() > UINT16_MAX) return kBadParam;
    // A null name stands for the computer's name.
    _DNSServiceRef_t* ref = nullptr;
    const int32_t error = routes.registerService(
        &ref, 0, 0, name_.empty() ? nullptr : name_.c_str(), typeWithSubtypes.c_str(), domain.c_str(), nullptr,
        htons(port), static_cast<uint16_t>(record.size()), record.empty() ? nullptr : record.data(),
        reinterpret_cast<ReplyCallback>(&CDnsSdService::OnRegisterReply), this);
    if (error != 0) return error;
    ref_ = ref;
    type_ = type;
    NoteAnnouncement(this, Name(), type_);
    return 0;
  }
  if (!routes.System()) return kServiceNotRunning;

  // Windows' own DNS-SD registers the bare type: it has no place for subtypes.
  const std::string computer = GetSystemHostName();
  if (computer.empty()) return kServiceNotRunning;
  const ServiceRegistration wanted = DescribeServiceRegistration(Name(), computer, type, domain, port, txt);
  std::vector<PCWSTR> keys;
  std::vector<PCWSTR> values;
  for (size_t i = 0; i < wanted.txtKeys.size(); ++i) {
    keys.push_back(wanted.txtKeys[i].c_str());
    values.push_back(wanted.txtValues[i].c_str());
  }
  auto* registration = new SystemRegistration;
  registration->instance = routes.construct(wanted.instanceName.c_str(), wanted.hostName.c_str(), nullptr, nullptr,
                                            wanted.port, 0, 0, static_cast<DWORD>(keys.size()),
                                            keys.empty() ? nullptr : keys.data(), values.empty() ? nullptr : values.data());
  registration->request.Version = DNS_QUERY_REQUEST_VERSION1;
  registration->request.pServiceInstance = registration->instance;
  registration->request.pRegisterCompletionCallback = &SystemRegistration::OnComplete;
  registration->request.pQueryContext = registration;
  if (!registration->instance || !registration->completed ||
      routes.systemRegister(&registration->request, nullptr) != kRequestPending) {
    delete registration;
    return kServiceNotRunning;
  }
  system_ = registration;
  type_ = type;
  NoteAnnouncement(this, Name(), type_);
  return 0;
}

DnsSdServeResult CDnsSdService::Serve(int timeoutMs) {
  if (system_) {
    // Windows answers once, through the completion call; a refusal ends the registration.
    // After an acceptance nothing more comes until the withdrawal.
    if (WaitForSingleObject(system_->completed, 0) == WAIT_OBJECT_0 && system_->status == ERROR_SUCCESS) {
      Sleep(static_cast<DWORD>(timeoutMs));
    } else {
      WaitForSingleObject(system_->completed, static_cast<DWORD>(timeoutMs));
    }
    return system_->status == ERROR_SUCCESS ? DnsSdServeResult::Idle : DnsSdServeResult::Broken;
  }
  if (!ref_) return DnsSdServeResult::Broken;
  const Routes& routes = AvailableRoutes();
  const int sock = routes.socketOf(ref_);
  if (sock < 0) return DnsSdServeResult::Broken;
  std::vector<bool> ready;
  const int count = WaitUntilReadable({sock}, ready, timeoutMs);
  if (count < 0) return DnsSdServeResult::Broken;
  if (count > 0 && routes.process(ref_) != 0) return DnsSdServeResult::Broken;
  if (replyError_ == kDnsSdNameConflict) return DnsSdServeResult::NameConflict;
  return replyError_ == 0 ? DnsSdServeResult::Idle : DnsSdServeResult::Broken;
}

void CDnsSdService::Withdraw() {
  ForgetAnnouncement(this);
  if (ref_) {
    AvailableRoutes().deallocate(ref_);
    ref_ = nullptr;
  }
  if (system_) {
    // Withdrawing answers through the same completion call; wait for it before freeing.
    ResetEvent(system_->completed);
    if (AvailableRoutes().systemDeregister(&system_->request, nullptr) == kRequestPending) {
      WaitForSingleObject(system_->completed, 5000);
    }
    delete system_;
    system_ = nullptr;
  }
}
