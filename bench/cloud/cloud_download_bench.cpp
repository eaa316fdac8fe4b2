// Streams a large HTTPS download to disk with the HTTP client and with the curl tool,
// from the same local server in the same run, and prints time, throughput and the
// peak memory of the process that downloaded. Usage: cloud_download_bench [MiB]
// (default 1024). Each downloader runs as a child process so its peak is its own.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/httpclient.h"
#include "platform/newfile.h"
#include "tests/support/httpsrelay.h"

extern char** environ;

namespace {

constexpr size_t kMiB = 1024 * 1024;

// The body: the same MiB of varied bytes, repeated, made as it is sent.
RelayResponse GeneratedBody(long long size) {
  RelayResponse response;
  response.contentLength = size;
  response.stream = [size](RelayStream& stream) {
    std::string block(kMiB, '\0');
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 % 251);
    for (long long left = size; left > 0; left -= static_cast<long long>(block.size())) {
      if (!stream.Send(block.data(), std::min<size_t>(block.size(), static_cast<size_t>(left)))) return;
    }
  };
  return response;
}

// The child side: downloads `url` (`size` bytes) into `path` with CHttpClient; exit
// status 0 on success.
int DownloadWithClient(const std::string& url, const std::string& path, long long size) {
  CNewFile file = CNewFile::Create(path);
  CHttpClient http;
  const HttpResult result = http.Get(url, file, size);
  if (!result.ok()) std::fprintf(stderr, "download failed: %s\n", result.error.c_str());
  return result.ok() && file.Close() ? 0 : 1;
}

struct Run {
  bool ok = false;
  double seconds = 0;
  long peakKiB = 0;
};

// Runs `arguments` as a child and measures its wall time and peak resident memory.
Run Measure(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  Run run;
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return run;
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) return run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  run.peakKiB = usage.ru_maxrss;
  return run;
}

void Report(const char* name, const Run& run, const std::string& path, long long size) {
  std::error_code error;
  const auto written = std::filesystem::file_size(path, error);
  const bool complete = run.ok && !error && written == static_cast<uintmax_t>(size);
  std::printf("%-22s %s  %7.2f s  %8.1f MiB/s  peak RSS %7.1f MiB\n", name, complete ? "ok    " : "FAILED",
              run.seconds, static_cast<double>(size) / kMiB / run.seconds, run.peakKiB / 1024.0);
  std::filesystem::remove(path, error);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--download") return DownloadWithClient(argv[2], argv[3], std::atoll(argv[4]));

  const long long mebibytes = argc > 1 ? std::atoll(argv[1]) : 1024;
  const long long size = mebibytes * static_cast<long long>(kMiB);
  std::string pattern = std::filesystem::temp_directory_path().string() + "/olvaro-cloud-bench.XXXXXX";
  if (!mkdtemp(pattern.data())) return 1;
  const std::string folder = pattern + "/";
  const std::string caFile = TestCertificateAuthority::Get().caFile;
  setenv("CURL_CA_BUNDLE", caFile.c_str(), 1);

  TestRelayServer server([size](const RelayRequest&) { return GeneratedBody(size); });
  const std::string url = server.BaseUrl() + "/api/olvarocloud/upload/bench";
  std::printf("HTTPS download of %lld MiB from a local server, streamed to %s\n", mebibytes, folder.c_str());

  const std::string self = "/proc/self/exe";
  const std::string ours = folder + "client.bin";
  Report("CHttpClient", Measure({std::filesystem::read_symlink(self).string(), "--download", url, ours, std::to_string(size)}), ours, size);
  const std::string theirs = folder + "curl.bin";
  Report("curl (same server)", Measure({"curl", "-s", "--cacert", caFile, "-o", theirs, url}), theirs, size);

  std::filesystem::remove_all(folder);
  return 0;
}
