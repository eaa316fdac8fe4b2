#include "platform/filetypes.h"

#include <gio/gio.h>

#include <cstdio>
#include <memory>

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

}  // namespace

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
