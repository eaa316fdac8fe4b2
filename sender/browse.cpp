#include "sender/browse.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>
#include <avahi-common/timeval.h>

#include <algorithm>
#include <memory>

#include "wire/protocol.h"

namespace {

struct Browse {
  AvahiSimplePoll* poll = nullptr;
  AvahiClient* client = nullptr;
  std::vector<FoundPc> found;
  int pending = 0;  // resolvers still at work
  bool listed = false;
};

void Finish(Browse& browse) {
  if (browse.listed && browse.pending == 0) avahi_simple_poll_quit(browse.poll);
}

void OnResolved(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event, const char* name,
                const char*, const char*, const char*, const AvahiAddress* address, uint16_t port, AvahiStringList*,
                AvahiLookupResultFlags, void* context) {
  auto& browse = *static_cast<Browse*>(context);
  if (event == AVAHI_RESOLVER_FOUND && address) {
    char text[AVAHI_ADDRESS_STR_MAX];
    avahi_address_snprint(text, sizeof text, address);
    // One entry per service, even when it is seen on several interfaces.
    const bool known = std::any_of(browse.found.begin(), browse.found.end(),
                                   [&](const FoundPc& pc) { return pc.name == name && pc.port == port; });
    if (!known) browse.found.push_back({name, text, port});
  }
  avahi_service_resolver_free(resolver);
  --browse.pending;
  Finish(browse);
}

void OnBrowsed(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol, AvahiBrowserEvent event,
               const char* name, const char* type, const char* domain, AvahiLookupResultFlags, void* context) {
  auto& browse = *static_cast<Browse*>(context);
  if (event == AVAHI_BROWSER_NEW) {
    // IPv4 addresses first: they reach the print service wherever it listens.
    if (avahi_service_resolver_new(browse.client, interface, protocol, name, type, domain, AVAHI_PROTO_INET,
                                   AvahiLookupFlags(0), OnResolved, &browse)) {
      ++browse.pending;
    }
  } else if (event == AVAHI_BROWSER_ALL_FOR_NOW || event == AVAHI_BROWSER_FAILURE) {
    browse.listed = true;
    Finish(browse);
  }
}

}  // namespace

bool BrowsePcs(int milliseconds, std::vector<FoundPc>& found, std::string& error) {
  Browse browse;
  std::unique_ptr<AvahiSimplePoll, decltype(&avahi_simple_poll_free)> poll(avahi_simple_poll_new(),
                                                                           avahi_simple_poll_free);
  browse.poll = poll.get();
  int failure = 0;
  std::unique_ptr<AvahiClient, decltype(&avahi_client_free)> client(
      avahi_client_new(avahi_simple_poll_get(poll.get()), AvahiClientFlags(0), nullptr, nullptr, &failure),
      avahi_client_free);
  if (!client) {
    error = std::string("cannot reach avahi-daemon: ") + avahi_strerror(failure);
    return false;
  }
  browse.client = client.get();
  std::unique_ptr<AvahiServiceBrowser, decltype(&avahi_service_browser_free)> browser(
      avahi_service_browser_new(client.get(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, kServiceType, nullptr,
                                AvahiLookupFlags(0), OnBrowsed, &browse),
      avahi_service_browser_free);
  if (!browser) {
    error = std::string("cannot browse: ") + avahi_strerror(avahi_client_errno(client.get()));
    return false;
  }
  // A time limit in case a resolver never answers.
  const AvahiPoll* api = avahi_simple_poll_get(poll.get());
  timeval deadline{};
  avahi_elapse_time(&deadline, static_cast<unsigned>(milliseconds), 0);
  api->timeout_new(
      api, &deadline,
      [](AvahiTimeout*, void* context) { avahi_simple_poll_quit(static_cast<AvahiSimplePoll*>(context)); }, poll.get());
  avahi_simple_poll_loop(poll.get());
  std::sort(browse.found.begin(), browse.found.end(),
            [](const FoundPc& a, const FoundPc& b) { return a.name < b.name; });
  found = std::move(browse.found);
  return true;
}
