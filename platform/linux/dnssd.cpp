// DNS-SD through Avahi's compatibility library (dns_sd.h), which talks to avahi-daemon.
#include "platform/dnssd.h"

#include <arpa/inet.h>
#include <cerrno>
#include <dns_sd.h>
#include <poll.h>

CDnsSdService::~CDnsSdService() {
  Withdraw();
}

// The daemon's answer to the registration. Success needs nothing; an error (the daemon
// went away, the service was refused) is kept so that the next Serve reports it.
void CDnsSdService::OnRegisterReply(DNSServiceRef, DNSServiceFlags, DNSServiceErrorType error,
                                    const char*, const char*, const char*, void* context) {
  if (error != kDNSServiceErr_NoError) {
    static_cast<CDnsSdService*>(context)->replyError_ = error;
  }
}

int CDnsSdService::Register(const std::string& type, const std::string& domain, uint16_t port) {
  Withdraw();
  replyError_ = 0;
  // A null name stands for the computer's name; Avahi refuses the empty one.
  DNSServiceRef ref = nullptr;
  const DNSServiceErrorType error =
      DNSServiceRegister(&ref, 0, 0, nullptr, type.c_str(), domain.c_str(), nullptr,
                         htons(port), 0, nullptr, &CDnsSdService::OnRegisterReply, this);
  if (error != kDNSServiceErr_NoError) {
    return error;
  }
  ref_ = ref;
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
  return replyError_ == 0 ? DnsSdServeResult::Idle : DnsSdServeResult::Broken;
}

void CDnsSdService::Withdraw() {
  if (ref_ != nullptr) {
    DNSServiceRefDeallocate(ref_);
    ref_ = nullptr;
  }
}
