// Reading a request's attributes and building the response to it. Stateless.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ipp/ippmessage.h"

// The operation attribute of that name, or nullptr.
const IppAttribute* OperationAttribute(const IppMessage& request, std::string_view name);
// The attribute's only value when it has this tag; nullptr otherwise.
const IppValue* SingleValue(const IppAttribute* attribute, IppTag tag);
// The text of a name or text value, with or without language.
std::optional<std::string> NameValue(const IppAttribute* attribute);
// Every value's text, when all are keywords.
std::optional<std::vector<std::string>> KeywordValues(const IppAttribute* attribute);

// A response of this status with the charset and language every response starts with;
// version 1.1 or 2.0 as the request's major version asks.
IppMessage MakeResponse(const IppMessage& request, uint16_t status, const std::string& message = {});
// Sets the status (and its message) of a response already made.
void SetStatus(IppMessage& response, uint16_t status, const std::string& message);
// Echoes the attribute (or only these of its values) in the unsupported-attributes group.
void AddUnsupported(IppMessage& response, const IppAttribute& attribute);
// The group of this tag in the response, added when missing.
IppGroup& ResponseGroup(IppMessage& response, IppTag tag);
