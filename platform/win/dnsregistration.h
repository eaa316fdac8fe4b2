// What Windows' own DNS-SD (DnsServiceRegister) is asked to announce.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/dnssd.h"

struct ServiceRegistration {
  std::wstring instanceName;  // "<service name>.<type>.<domain>" without the final dot;
                              // dots and backslashes of the service name escaped
  std::wstring hostName;      // "<computer>.<domain>" without the final dot
  uint16_t port = 0;
  std::vector<std::wstring> txtKeys;    // the TXT record, key by key
  std::vector<std::wstring> txtValues;  // beside them
};

ServiceRegistration DescribeServiceRegistration(const std::string& serviceName, const std::string& computerName,
                                                const std::string& type, const std::string& domain, uint16_t port,
                                                const DnsSdTxtRecord& txt = {});
