// Sheet sizes as PWG 5101.1 media names ("iso_a4_210x297mm"). Stateless; any thread.
#pragma once

#include <string>
#include <vector>

// The name of a sheet of `width` by `length` hundredths of a millimetre, either way
// round: the standard size within half a millimetre, else a self-describing custom name
// ("custom_123.45x234.5mm_123.45x234.5mm"). "" for a size of zero or less.
std::string PwgMediaNameForSize(int width, int length);

// `names` without empty ones or repeats, in their order, with `defaultName` first when
// it is among them.
std::vector<std::string> DefaultMediaFirst(const std::vector<std::string>& names, const std::string& defaultName);
