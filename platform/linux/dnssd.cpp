// DNS-SD through Avahi's compatibility library (dns_sd.h), which talks to avahi-daemon.
#include "platform/dnssd.h"

#include "platform/dnssd-private.h"

#include <arpa/inet.h>
#include <cerrno>
#include <dns_sd.h>
#include <poll.h>
#include <unistd.h>

namespace {

// The name the daemon gives a service registered without one: the host name up to its
// first dot.
std::string ComputerName() {
  char host[256] = {};
  if (gethostname(host, sizeof(host) - 1) != 0) {
    return "Olvaro Desktop";
  }
  const std::string name(host);
  return name.substr(0, name.find('.'));
}

}  // namespace

static_assert(kDnsSdNameConflict == kDNSServiceErr_NameConflict);

CDnsSdService::~CDnsSdService() {
  Withdraw();
}

// The daemon's answer to the registration. Success tells the name the daemon chose; an
// error (the daemon went away, the name was taken) is kept so that the next Serve
// reports it.
void CDnsSdService::OnRegisterReply(DNSServiceRef, DNSServiceFlags, DNSServiceErrorType error,
                                    const char* name, const char*, const char*, void* context) {
  auto* service = static_cast<CDnsSdService*>(context);
  if (error != kDNSServiceErr_NoError) {
    service->replyError_ = error;
    ForgetAnnouncement(service);
  } else if (name != nullptr && name[0] != '\0') {
    service->name_ = name;
    NoteAnnouncement(service, service->name_, service->type_);
  }
}

bool CanRegisterSubtypes() { return true; }

std::string CDnsSdService::Name() const {
  return name_.empty() ? ComputerName() : name_;
}

int CDnsSdService::Register(const std::string& type, const std::string& domain, uint16_t port,
                            const DnsSdTxtRecord& txt, const std::vector<std::string>& subtypes) {
  Withdraw();
  replyError_ = 0;
  // Avahi's library takes the subtypes after the type, separated by commas.
  const std::string typeWithSubtypes = DnsSdTypeWithSubtypes(type, subtypes);
  const std::string record = EncodeDnsSdTxtRecord(txt);
  if (record.size() > UINT16_MAX) return kDNSServiceErr_BadParam;
  // A null name stands for the computer's name; Avahi refuses the empty one.
  DNSServiceRef ref = nullptr;
  const DNSServiceErrorType error =
      DNSServiceRegister(&ref, 0, 0, name_.empty() ? nullptr : name_.c_str(), typeWithSubtypes.c_str(),
                         domain.c_str(), nullptr, htons(port), static_cast<uint16_t>(record.size()),
                         record.empty() ? nullptr : record.data(), &CDnsSdService::OnRegisterReply, this);
  if (error != kDNSServiceErr_NoError) {
    return error;
  }
  ref_ = ref;
  type_ = type;
  NoteAnnouncement(this, Name(), type_);
  return 0;
}

DnsSdServeResult CDnsSdService::Serve(int timeoutMs) {
  if (ref_ == nullptr) {
    return DnsSdServeResult::Broken;
  }
  pollfd watch{DNSServiceRefSockFD(ref_), POLLIN, 0};
  if (watch.fd < 0) {
    return DnsSdServeResult::Broken;
  }
  const int ready = poll(&watch, 1, timeoutMs);
  if (ready < 0) {
    return errno == EINTR ? DnsSdServeResult::Idle : DnsSdServeResult::Broken;
  }
  if (ready > 0 && DNSServiceProcessResult(ref_) != kDNSServiceErr_NoError) {
    return DnsSdServeResult::Broken;
  }
  if (replyError_ == kDNSServiceErr_NameConflict) {
    return DnsSdServeResult::NameConflict;
  }
  return replyError_ == 0 ? DnsSdServeResult::Idle : DnsSdServeResult::Broken;
}

void CDnsSdService::Withdraw() {
  ForgetAnnouncement(this);
  if (ref_ != nullptr) {
    DNSServiceRefDeallocate(ref_);
    ref_ = nullptr;
  }
}
