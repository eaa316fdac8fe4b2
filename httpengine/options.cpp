// The option table, its checks and mg_set_option.
#include "httpengine/engine-private.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

using option_check = bool (*)(mg_ctx*, const std::string& value);

struct option_row {
  const char* name;
  mg_option_slot slot;
  const char* default_value;  // nullptr: none
  option_check check;         // nullptr: none
};

bool check_list(mg_ctx* ctx, const std::string& value) {
  std::string_view key, item_value;
  const bool valid = for_each_list_item(value, [&](std::string_view item) { return split_pair(item, key, item_value); });
  if (!valid) log_error(ctx, nullptr, "Invalid list specified: [%s], expecting key1=value1,key2=value2,...", value.c_str());
  return valid;
}

bool check_global_password_file(mg_ctx*, const std::string& value) {
  std::error_code error;
  return value.empty() || std::filesystem::exists(value, error);
}

bool check_access_log(mg_ctx* ctx, const std::string& value) { return open_log_stream(ctx, kOptionAccessLog, value); }

bool check_error_log(mg_ctx* ctx, const std::string& value) { return open_log_stream(ctx, kOptionErrorLog, value); }

bool check_max_threads(mg_ctx* ctx, const std::string& value) {
  const long count = atol(value.c_str());
  std::lock_guard lock(ctx->thread_lock);
  ctx->max_threads = count;
  return true;
}

// "admin_uri" and "ssl_cert" are stored only: the option page and secure sockets are not
// part of this engine, so no secure listener can ever be added.
constexpr option_row kOptions[] = {
    {"root", kOptionRoot, nullptr, nullptr},
    {"index_files", kOptionIndexFiles, "index.html,index.htm,index.cgi", nullptr},
    {"ssl_cert", kOptionSslCert, nullptr, nullptr},
    {"ports", kOptionPorts, nullptr, set_ports},
    {"dir_list", kOptionDirList, "yes", nullptr},
    {"protect", kOptionProtect, nullptr, check_list},
    {"cgi_ext", kOptionCgiExt, ".cgi,.pl,.php", nullptr},
    {"cgi_interp", kOptionCgiInterp, nullptr, nullptr},
    {"cgi_env", kOptionCgiEnv, nullptr, check_list},
    {"ssi_ext", kOptionSsiExt, ".shtml,.shtm", nullptr},
    {"auth_realm", kOptionAuthRealm, "olvaro.local", nullptr},
    {"auth_gpass", kOptionAuthGpass, nullptr, check_global_password_file},
    {"auth_PUT", kOptionAuthPut, nullptr, nullptr},
    {"access_log", kOptionAccessLog, nullptr, check_access_log},
    {"error_log", kOptionErrorLog, nullptr, check_error_log},
    {"aliases", kOptionAliases, nullptr, check_list},
    {"admin_uri", kOptionAdminUri, nullptr, nullptr},
    {"acl", kOptionAcl, nullptr, check_acl},
    {"max_threads", kOptionMaxThreads, "100", check_max_threads},
    {"idle_time", kOptionIdleTime, "10", nullptr},
    {"mime_types", kOptionMimeTypes, nullptr, check_list},
};

const option_row* find_option(const char* name) {
  for (const option_row& row : kOptions) {
    if (strcmp(row.name, name) == 0) return &row;
  }
  return nullptr;
}

}  // namespace

bool set_default_options(mg_ctx* ctx) {
  for (const option_row& row : kOptions) {
    if (row.default_value != nullptr) ctx->options[row.slot] = row.default_value;
  }
  for (const option_row& row : kOptions) {
    if (row.check != nullptr && row.default_value != nullptr && !row.check(ctx, row.default_value)) return false;
  }
  return true;
}

std::string get_option(mg_ctx* ctx, mg_option_slot slot) {
  std::lock_guard lock(ctx->option_locks[slot]);
  return ctx->options[slot];
}

bool option_is_true(const std::string& value) {
  for (const char* yes : {"1", "yes", "true", "ja"}) {
    if (equal_ignoring_case(value, yes)) return true;
  }
  return false;
}

int mg_set_option(mg_ctx* ctx, const char* name, const char* value) {
  const option_row* row = find_option(name);
  if (row == nullptr) {
    log_error(ctx, nullptr, "%s: No such option: [%s]", "mg_set_option", name);
    return -1;
  }
  const std::string text = value != nullptr ? value : "";
  bool passed = true;
  {
    std::lock_guard lock(ctx->option_locks[row->slot]);
    if (row->check != nullptr) passed = row->check(ctx, text);
    ctx->options[row->slot] = text;
  }
  if (!passed) log_error(ctx, nullptr, "%s(%s): failure", "mg_set_option", name);
  return passed ? 1 : 0;
}
