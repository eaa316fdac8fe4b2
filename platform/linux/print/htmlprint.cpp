// Web pages come from anyone on the network, so they are rendered shut in: no scripts, no
// network, nothing read but the page itself. One page is rendered at a time, and a page
// asked for in several copies is rendered once.
#include "print/printer.h"

#include <cerrno>
#include <deque>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "platform/linux/print/office.h"
#include "platform/linux/print/sandboxedpage.h"
#include "platform/process.h"
#include "platform/spooler.h"
#include "print/jobfiles.h"

namespace {

// A renderer that hangs on a page gives way to the next one after this long.
constexpr char kRenderSeconds[] = "300";
constexpr char kKillAfterSeconds[] = "10";

// "file://" and the path with every byte outside the unreserved set and '/' escaped.
std::string FileUrl(const std::string& absolutePath) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (const unsigned char c : absolutePath) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '.' || c == '_' || c == '~' || c == '/';
    if (plain) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 0x0F];
    }
  }
  return url;
}

std::vector<std::string> ChromiumCommand(const std::string& chromium, const std::string& folder,
                                         const std::string& profile, const std::string& page) {
  // Without the networking switches headless Chromium waits for services it cannot reach
  // on a closed network. Every request, loopback included, goes to a proxy whose name
  // does not resolve, and no name resolves: the page reaches nothing.
  std::vector<std::string> command = {chromium,
                                      "--headless",
                                      "--disable-gpu",
                                      "--no-first-run",
                                      "--disable-background-networking",
                                      "--disable-component-update",
                                      "--disable-sync",
                                      "--disable-extensions",
                                      "--no-pdf-header-footer",
                                      "--proxy-server=http://proxy.invalid:9",
                                      "--proxy-bypass-list=<-loopback>",
                                      "--host-resolver-rules=MAP * ~NOTFOUND",
                                      "--user-data-dir=" + profile,
                                      "--print-to-pdf=" + folder + "/page.pdf"};
  // Chromium refuses to run as root inside its sandbox.
  if (geteuid() == 0) command.emplace_back("--no-sandbox");
  command.push_back(FileUrl(page));
  return command;
}

std::vector<std::string> OfficeCommand(const std::string& office, const std::string& folder, const std::string& profile,
                                       const std::string& page) {
  // A profile of its own, so a LibreOffice the user has open does not swallow the request;
  // the page is read as a text document, as the web view's export gives blank pages.
  return {office,
          "--headless",
          "-env:UserInstallation=" + FileUrl(profile),
          "--infilter=HTML (StarWriter)",
          "--convert-to",
          "pdf",
          "--outdir",
          folder,
          page};
}

// The PDF the renderer left in `folder`; empty when it made none.
std::string FindRenderedPdf(const std::string& folder) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.path().extension() == ".pdf" && entry.is_regular_file(error)) return entry.path().string();
  }
  return {};
}

// The file a job was asked for: the same path with the same content gets no second render.
struct PageIdentity {
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};

  bool operator==(const PageIdentity& other) const {
    return path == other.path && device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
  }
};

struct RenderJob {
  PageIdentity page;
  std::vector<std::string> renderer;  // `timeout` and the renderer, as FindRenderer gave them
  int copies = 1;
};

// The pages waiting to be rendered; the front one is being rendered while `busy`.
// Never destroyed: a renderer may end while the process exits.
struct RenderQueue {
  std::mutex mutex;
  std::deque<RenderJob> jobs;
  bool busy = false;
};

RenderQueue& Queue() {
  static RenderQueue* queue = new RenderQueue;
  return *queue;
}

void StartNextRender();

// Runs when the renderer of the front job ended: every copy asked for meanwhile is
// submitted from the one PDF.
void FinishRender(const std::string& folder, const std::string& title) {
  int copies = 0;
  {
    RenderQueue& queue = Queue();
    const std::lock_guard lock(queue.mutex);
    copies = queue.jobs.front().copies;
    queue.jobs.pop_front();
  }
  if (const std::string pdf = FindRenderedPdf(folder); !pdf.empty()) {
    for (int copy = 0; copy < copies; ++copy) SubmitToDefaultQueue(pdf, "application/pdf", title);
  }
  RemoveWorkFolder(folder);
  StartNextRender();
}

// Starts the renderer of the front job. 0 once started, otherwise an error number.
int StartRender(const RenderJob& job) {
  const std::string folder = MakeWorkFolder();
  if (folder.empty()) return errno != 0 ? errno : EIO;
  const std::string page = folder + "/page.html";
  const bool chromium = BaseName(job.renderer[1]) == "chromium";
  const int prepared = WriteSandboxedPage(job.page.path, page);
  const std::string profile = prepared != 0 ? std::string()
                              : chromium    ? PrepareChromiumProfile(folder)
                                            : PrepareOfficeProfile(folder);
  if (profile.empty()) {
    RemoveWorkFolder(folder);
    return prepared != 0 ? prepared : EIO;
  }
  std::vector<std::string> command = {job.renderer[0], "--kill-after=" + std::string(kKillAfterSeconds),
                                      kRenderSeconds};
  const std::vector<std::string> renderer = chromium ? ChromiumCommand(job.renderer[1], folder, profile, page)
                                                     : OfficeCommand(job.renderer[1], folder, profile, page);
  command.insert(command.end(), renderer.begin(), renderer.end());
  const std::string title = BaseName(job.page.path);
  const int error = StartDetachedProcess(command, [folder, title](int) { FinishRender(folder, title); });
  if (error != 0) RemoveWorkFolder(folder);
  return error;
}

// Renders the queue's front job, dropping jobs whose renderer cannot start; marks the
// queue idle when it is empty.
void StartNextRender() {
  RenderQueue& queue = Queue();
  for (;;) {
    RenderJob job;
    {
      const std::lock_guard lock(queue.mutex);
      if (queue.jobs.empty()) {
        queue.busy = false;
        return;
      }
      job = queue.jobs.front();
    }
    if (StartRender(job) == 0) return;
    const std::lock_guard lock(queue.mutex);
    queue.jobs.pop_front();
  }
}

// `timeout` and the renderer: Chromium, else LibreOffice; empty when either is missing.
std::vector<std::string> FindRenderer() {
  const std::string timeout = FindProgramOnPath("timeout");
  std::string renderer = FindProgramOnPath("chromium");
  if (renderer.empty()) renderer = FindOfficeProgram();
  if (timeout.empty() || renderer.empty()) return {};
  return {timeout, renderer};
}

}  // namespace

int PrintHtmlFile(const std::string& path) {
  RenderJob job;
  job.renderer = FindRenderer();
  if (job.renderer.empty()) return ENOENT;
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return errno;
  if (!S_ISREG(status.st_mode)) return EINVAL;
  job.page = {AbsolutePath(path), status.st_dev, status.st_ino, status.st_size, status.st_mtim};

  RenderQueue& queue = Queue();
  {
    const std::lock_guard lock(queue.mutex);
    // Copies of a page still waiting or being rendered come from its one PDF.
    for (RenderJob& waiting : queue.jobs) {
      if (waiting.page == job.page) {
        ++waiting.copies;
        return 0;
      }
    }
    queue.jobs.push_back(job);
    if (queue.busy) return 0;
    queue.busy = true;
  }
  // This call starts the renderer: its own page is the front one.
  const int error = StartRender(job);
  if (error != 0) {
    {
      const std::lock_guard lock(queue.mutex);
      queue.jobs.pop_front();
    }
    StartNextRender();
  }
  return error;
}
