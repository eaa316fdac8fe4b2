// Reading one member of a small, flat JSON object, as the relay's page and the relay
// answer them. Not a JSON parser: no nesting, no arrays. Stateless; callable from any
// thread.
#pragma once

#include <string>

// The value of member `name`: a string unescaped (\uXXXX below U+10000 as UTF-8), or a
// bare value (number, true, false) as written; "" when there is no such member.
std::string JsonMember(const std::string& json, const std::string& name);
