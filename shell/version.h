// The product version, shown to the user and sent to phones.
#pragma once

constexpr char kProductVersion[] = "1.3.6";
