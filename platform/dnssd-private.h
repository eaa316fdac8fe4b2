// What both systems' DNS-SD code shares: the record's wire form and the list of the
// services this process announces.
#pragma once

#include <string>
#include <vector>

#include "platform/dnssd.h"

// The TXT record as DNS carries it: each "key=value" behind its length byte, cut to the
// 255 bytes a length byte can count (at a character boundary).
std::string EncodeDnsSdTxtRecord(const DnsSdTxtRecord& txt);

// The type with its subtypes as dns_sd.h's DNSServiceRegister takes them:
// "_ipp._tcp,_print,_universal".
std::string DnsSdTypeWithSubtypes(const std::string& type, const std::vector<std::string>& subtypes);

// Marks `service` as announcing `name` with `type` (replacing what it announced before),
// or as announcing nothing.
void NoteAnnouncement(const CDnsSdService* service, const std::string& name, const std::string& type);
void ForgetAnnouncement(const CDnsSdService* service);
