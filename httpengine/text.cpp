// Small text helpers of the engine.
#include "httpengine/engine-private.h"

bool split_pair(std::string_view item, std::string_view& key, std::string_view& value) {
  const size_t equals = item.find('=');
  if (equals == std::string_view::npos) return false;
  key = item.substr(0, equals);
  value = item.substr(equals + 1);
  return !key.empty() && !value.empty();
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}
