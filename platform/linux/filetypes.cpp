#include "platform/filetypes.h"

#include <gio/gio.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace {

struct GFreeDeleter {
  void operator()(gchar* text) const { g_free(text); }
};
using GText = std::unique_ptr<gchar, GFreeDeleter>;

struct GObjectDeleter {
  void operator()(gpointer object) const { g_object_unref(object); }
};
using AppInfoPtr = std::unique_ptr<GAppInfo, GObjectDeleter>;

struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};

const char kUnknownType[] = "application/octet-stream";

// The content type GIO guesses from a name and optional leading bytes.
GText GuessContentType(const std::string& name, const unsigned char* data, size_t size) {
  gboolean uncertain = FALSE;
  return GText(g_content_type_guess(name.c_str(), data, size, &uncertain));
}

// The folders of an XDG search path: `home` first (its variable, else `homeFallback`
// under $HOME), then the list in `dirs` (else `dirsFallback`).
std::vector<std::string> XdgFolders(const char* home, const char* homeFallback, const char* dirs,
                                    const char* dirsFallback) {
  std::vector<std::string> folders;
  if (const char* value = std::getenv(home); value != nullptr && value[0] == '/') {
    folders.emplace_back(value);
  } else if (const char* user = std::getenv("HOME"); user != nullptr && user[0] == '/') {
    folders.push_back(std::string(user) + "/" + homeFallback);
  }
  const char* list = std::getenv(dirs);
  const std::string all = list != nullptr && list[0] != '\0' ? list : dirsFallback;
  for (size_t start = 0; start <= all.size();) {
    const size_t end = std::min(all.find(':', start), all.size());
    if (end > start && all[start] == '/') folders.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return folders;
}

// Where `path` stands: which file, how long, when last changed; "-" when nothing is there.
void AppendFileStamp(std::string& stamp, const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    stamp += "-;";
    return;
  }
  stamp += std::to_string(status.st_ino) + ":" + std::to_string(status.st_size) + ":" +
           std::to_string(status.st_mtim.tv_sec) + "." + std::to_string(status.st_mtim.tv_nsec) + ";";
}

}  // namespace

std::string FileAssociationsStamp(const std::vector<std::string>&) {
  // What GIO reads for every extension alike: the MIME database, the applications
  // folders with their caches, and the chosen defaults, in every data and configuration
  // folder.
  std::string stamp;
  for (const std::string& folder : XdgFolders("XDG_DATA_HOME", ".local/share", "XDG_DATA_DIRS",
                                              "/usr/local/share:/usr/share")) {
    for (const char* name : {"/mime/mime.cache", "/applications", "/applications/mimeinfo.cache",
                             "/applications/mimeapps.list"}) {
      AppendFileStamp(stamp, folder + name);
    }
  }
  for (const std::string& folder : XdgFolders("XDG_CONFIG_HOME", ".config", "XDG_CONFIG_DIRS", "/etc/xdg")) {
    AppendFileStamp(stamp, folder + "/mimeapps.list");
  }
  return stamp;
}

std::string DetectFileMimeType(const std::string& path) {
  // As much of the head as the shared MIME database's magic rules look at.
  unsigned char head[4096];
  size_t length = 0;
  if (const std::unique_ptr<FILE, FileCloser> file(fopen(path.c_str(), "rbe")); file) {
    length = fread(head, 1, sizeof head, file.get());
  }
  const GText type = GuessContentType(path, length > 0 ? head : nullptr, length);
  if (!type || g_content_type_is_unknown(type.get())) return kUnknownType;
  const GText mime(g_content_type_get_mime_type(type.get()));
  return mime ? std::string(mime.get()) : kUnknownType;
}

bool MimeTypeIsA(const std::string& mimeType, const std::string& parent) {
  const GText type(g_content_type_from_mime_type(mimeType.c_str()));
  const GText parentType(g_content_type_from_mime_type(parent.c_str()));
  return type && parentType && g_content_type_is_a(type.get(), parentType.get());
}

bool HasDefaultApplication(const std::string& extension) {
  const GText type = GuessContentType("file" + extension, nullptr, 0);
  if (!type || g_content_type_is_unknown(type.get())) return false;
  return AppInfoPtr(g_app_info_get_default_for_type(type.get(), FALSE)) != nullptr;
}

std::vector<std::string> ApplicationsOpening(const std::string& mimeType) {
  std::vector<std::string> programs;
  const GText type(g_content_type_from_mime_type(mimeType.c_str()));
  if (!type) return programs;
  GList* apps = g_app_info_get_all_for_type(type.get());
  for (GList* item = apps; item != nullptr; item = item->next) {
    const char* executable = g_app_info_get_executable(G_APP_INFO(item->data));
    if (executable != nullptr) programs.emplace_back(executable);
  }
  g_list_free_full(apps, g_object_unref);
  return programs;
}
