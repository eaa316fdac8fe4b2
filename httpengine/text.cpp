// Small text helpers of the engine.
#include "httpengine/engine-private.h"

bool split_pair(std::string_view item, std::string_view& key, std::string_view& value) {
  const size_t equals = item.find('=');
  if (equals == std::string_view::npos) return false;
  key = item.substr(0, equals);
  value = item.substr(equals + 1);
  return !key.empty() && !value.empty();
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool has_token(std::string_view list, std::string_view token) {
  return !for_each_list_item(list, [token](std::string_view item) {
    const size_t first = item.find_first_not_of(" \t");
    const size_t last = item.find_last_not_of(" \t");
    return first == std::string_view::npos || !equal_ignoring_case(item.substr(first, last - first + 1), token);
  });
}
