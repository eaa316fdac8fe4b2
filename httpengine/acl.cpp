// The "acl" option: entries "+a.b.c.d/bits" (allow) and "-a.b.c.d/bits" (deny).
#include "httpengine/engine-private.h"

#include <charconv>

namespace {

struct acl_entry {
  bool allow;
  uint32_t network;
  uint32_t mask;
};

// Reads a decimal number no larger than limit from the front of text.
bool take_number(std::string_view& text, unsigned limit, unsigned& number) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || number > limit) return false;
  text.remove_prefix(static_cast<size_t>(end - text.data()));
  return true;
}

bool parse_acl_entry(std::string_view text, acl_entry& entry) {
  if (text.empty() || (text[0] != '+' && text[0] != '-')) return false;
  entry.allow = text[0] == '+';
  text.remove_prefix(1);
  entry.network = 0;
  for (int part = 0; part < 4; ++part) {
    unsigned octet;
    if (part > 0) {
      if (text.empty() || text[0] != '.') return false;
      text.remove_prefix(1);
    }
    if (!take_number(text, 255, octet)) return false;
    entry.network = (entry.network << 8) | octet;
  }
  unsigned bits = 32;
  if (!text.empty()) {
    if (text[0] != '/') return false;
    text.remove_prefix(1);
    if (!take_number(text, 32, bits) || !text.empty()) return false;
  }
  entry.mask = bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);
  return true;
}

}  // namespace

bool check_acl(mg_ctx* ctx, const std::string& acl) {
  return for_each_list_item(acl, [ctx](std::string_view item) {
    acl_entry entry;
    if (parse_acl_entry(item, entry)) return true;
    log_error(ctx, nullptr, "Bad acl entry: [%.*s], expecting [+|-]x.x.x.x[/bits]", static_cast<int>(item.size()),
              item.data());
    return false;
  });
}

// The last matching entry decides; an address that matches none gets the opposite of the
// first entry, so a list of allowances shuts everybody else out and a list of denials
// lets everybody else in. An invalid list admits nobody.
bool acl_allows(const std::string& acl, uint32_t ip) {
  bool allowed = false;
  bool first = true;
  const bool valid = for_each_list_item(acl, [&](std::string_view item) {
    acl_entry entry;
    if (!parse_acl_entry(item, entry)) return false;
    if (first) allowed = !entry.allow;
    first = false;
    if ((ip & entry.mask) == (entry.network & entry.mask)) allowed = entry.allow;
    return true;
  });
  return valid && allowed;
}
