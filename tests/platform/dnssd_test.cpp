// DNS-SD registrations as a browser on the network sees them: the TXT record, the
// subtypes a phone browses for, and this process's own list of what it announces.
#include <gtest/gtest.h>

#include <unistd.h>

#include "platform/dnssd.h"
#include "tests/support/servicetest.h"

namespace {

// "name|port|ty|rp|note" of each service ippfind finds as `type` under `name` on `port`,
// asked up to five times, two seconds each.
std::string Browse(const std::string& type, const std::string& name, uint16_t port) {
  std::string found;
  for (int attempt = 0; attempt < 5 && found.empty(); ++attempt) {
    found = ReadProgramOutput({"ippfind", type, "-T", "2", "--name", "^" + name + "$", "--port", std::to_string(port),
                               "--exec", "echo", "{service_name}|{service_port}|{txt_ty}|{txt_rp}|{txt_note}", ";"})
                .value_or("");
  }
  return found;
}

TEST(DnsSdTest, TheRecordAndEachSubtypeReachABrowserAndGoWithTheRegistration) {
  SKIP_WITHOUT_SERVICE(StartAvahi(), "avahi-daemon cannot run here (scripts/start-services.sh)");
  setenv("AVAHI_COMPAT_NOWARN", "1", 1);
  const std::string name = "Olvaro DNS-SD test " + std::to_string(getpid());
  const uint16_t port = FindFreePort();
  CDnsSdService service(name);
  // A TXT entry holds at most 255 bytes: the long note is cut to fit with its key.
  ASSERT_EQ(service.Register("_ipp._tcp", "local.", port,
                             {{"rp", "ipp/print"}, {"ty", "Drucker \xC3\xA4 7"}, {"note", std::string(300, 'n')}},
                             {"_print", "_universal"}),
            0);
  EXPECT_TRUE(IsAnnouncedByThisProcess("olvaro dns-sd TEST " + std::to_string(getpid()), "_IPP._tcp"));
  EXPECT_FALSE(IsAnnouncedByThisProcess(name, "_vostrelprint._tcp"));

  const std::string seen = name + "|" + std::to_string(port) + "|Drucker \xC3\xA4 7|ipp/print|" + std::string(250, 'n');
  for (const char* type : {"_ipp._tcp,_universal", "_ipp._tcp,_print", "_ipp._tcp"}) {
    EXPECT_EQ(Browse(type, name, port), seen + "\n") << type;
  }

  service.Withdraw();
  EXPECT_FALSE(IsAnnouncedByThisProcess(name, "_ipp._tcp"));
}

}  // namespace
