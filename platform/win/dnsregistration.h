// What Windows' own DNS-SD (DnsServiceRegister) is asked to announce.
#pragma once

#include <cstdint>
#include <string>

struct ServiceRegistration {
  std::wstring instanceName;  // "<service name>.<type>.<domain>" without the final dot
  std::wstring hostName;      // "<computer>.<domain>" without the final dot
  uint16_t port = 0;
};

ServiceRegistration DescribeServiceRegistration(const std::string& serviceName, const std::string& computerName,
                                                const std::string& type, const std::string& domain, uint16_t port);
