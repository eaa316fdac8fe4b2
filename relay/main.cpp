// olvaro-relay: a cloud relay for Olvaro Desktop. Serves the desktop's poller and a web
// page from which paired browsers send documents to the PC.
#include <signal.h>
#include <sys/resource.h>

#include <cstdio>

#include "relay/server.h"

int main(int argc, char** argv) {
  RelayOptions options;
  std::string error;
  if (!ParseRelayOptions(argc, argv, options, error)) {
    std::fprintf(stderr,
                 "olvaro-relay: %s\nusage: olvaro-relay --listen ADDR:PORT (--data DIR | --database postgresql://...)"
                 " [--cert F --key F]\n    [--threads 8] [--max-document-mib 50] [--max-waiting-jobs 100]"
                 " [--job-lifetime 24h] [--pc-lifetime 90d]\n    [--code-lifetime 10m] [--pairing-lifetime 30d]"
                 " [--max-wrong-codes 10] [--lock-time 15m]\n"
                 "    [--max-wrong-codes-per-minute 60] [--download-lease 5m]"
                 " [--max-connections 1000] [--max-connections-per-address 32]\n"
                 "    [--head-time 30s] [--request-time 15m] [--identities-per-hour 10]\n",
                 error.c_str());
    return 2;
  }
  // The stop signals are taken one at a time on this thread, never by a server thread.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // Every connection holds a descriptor: take all the system allows this process.
  rlimit descriptors{};
  if (getrlimit(RLIMIT_NOFILE, &descriptors) == 0) {
    descriptors.rlim_cur = descriptors.rlim_max;
    setrlimit(RLIMIT_NOFILE, &descriptors);
  }

  RelayServer server;
  if (!server.Start(options, error)) {
    std::fprintf(stderr, "olvaro-relay: %s\n", error.c_str());
    return 1;
  }
  std::printf("olvaro-relay: listening on port %d\n", server.Port());
  std::fflush(stdout);
  int received = 0;
  sigwait(&stops, &received);
  server.Stop();
  return 0;
}
