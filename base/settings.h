// Settings store: the program's values in the per-user registry and the start-up entry.
// Every function opens the key, does one read or one write and closes it again; nothing
// is cached. Callable from any thread; failures show only in the results.
#pragma once

#include <cstdint>
#include <string>

// "Port": the local print service's TCP port, 33300 when absent or unreadable.
uint32_t ReadPortSetting();

// "LastUpdateCheckTime": a local-time FILETIME, 0 when absent or unreadable.
uint64_t ReadLastUpdateCheckTime();
void WriteLastUpdateCheckTime(uint64_t value);

// A string value of the program key: "-1" when the key cannot be opened, "" when the
// value is absent or longer than 1024 bytes.
std::string ReadSettingString(const std::string& name);
bool WriteSettingString(const std::string& name, const std::string& text);

// "Magic", the cloud identity: "-1" when there is none (an unreadable value is reset to "").
std::string ReadMagicValue();

// A cloud identity fit to store and to send: 36 letters, digits and hyphens.
bool IsValidCloudUuid(const std::string& text);
// The stored identity when it is valid, else "". Only reads.
std::string ReadStoredCloudUuid();

// The start-up entry ("Launch At Startup").
bool IsStartupEntryPresent();
// Adds the entry when `present` is false, removes it when true; returns the state after
// the attempt, unchanged on any failure.
bool ToggleStartupEntry(bool present);

// "PrinterUuid": the driverless printer's identity, "urn:uuid:" and 36 characters, made on
// the first call and kept; "" when it can be neither read nor stored.
std::string ReadPrinterUuid();

// "ShareWithAllPhones": whether the chosen printer is offered to every phone as a
// driverless printer; on when absent.
bool ReadShareWithAllPhones();
bool WriteShareWithAllPhones(bool on);
