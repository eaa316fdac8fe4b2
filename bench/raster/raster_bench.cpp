// The raster decoder's speed (MB of raster file per second, and of pixels given out) and
// its peak memory on 600 dpi A4 pages, in PWG raster and Apple raster, sGray and sRGB:
// a page of mixed content and one of noise (the worst case), beside ghostscript in the
// same run. Ghostscript reads no raster files, so its figures
// are of the nearest work it does: drawing the page from its PDF with the nullpage
// device (no output), and making the very raster decoded here from that PDF. Each
// decoding and each ghostscript run is a child process, so that its peak is its own.
// Needs gs. Usage: raster_bench [rounds] (default 5; the median is shown).
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "raster/rasterdecoder.h"

extern char** environ;

namespace {

// Text over the whole page, a photograph's worth of noise (what the run coding packs
// worst), gradients and flat colour: a phone's page of mixed content.
const char kDocument[] = R"(%!PS
<< /PageSize [595 842] >> setpagedevice
/Helvetica findfont 9 scalefont setfont
/seed 7 def
/noise { dup string exch 1 sub 0 exch 1 exch
  { 1 index exch seed 75 mul 74 add 65537 mod dup /seed exch def 255 and put } for } def
60 10 780 { /y exch def 0.1 0.1 0.3 setrgbcolor 40 y moveto
  (Phones print here: PWG raster and Apple raster, decoded a line at a time.) show } for
gsave 300 420 translate 260 360 scale 400 550 8 [400 0 0 550 0 0] { 1200 noise } false 3 colorimage grestore
0 1 199 { /i exch def i 200 div 0.5 1 i 200 div sub setrgbcolor 40 i 1.5 mul 60 add 240 1.5 rectfill } for
0.9 0.8 0.1 setrgbcolor 40 400 240 360 rectfill
showpage
)";

constexpr double kMB = 1e6;

// Time is the CPU time the child used: the machine may be shared, and the decoder and
// ghostscript are both single-threaded here.
struct Run {
  bool ok = false;
  double seconds = 0;  // CPU, user and system
  double wallSeconds = 0;
  double peakMiB = 0;
};

double Seconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// Runs `arguments` as a child and measures its wall time and peak resident memory.
Run Measure(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  Run run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);  // gs's page notices
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  const int error = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage usage{};
  if (error != 0 || wait4(child, &status, 0, &usage) != child) return run;
  run.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.seconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024;
  return run;
}

// The median run of `rounds`; not ok when any failed.
Run Median(const std::vector<std::string>& arguments, int rounds) {
  std::vector<Run> runs;
  for (int i = 0; i < rounds; ++i) {
    runs.push_back(Measure(arguments));
    if (!runs.back().ok) return runs.back();
  }
  std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.seconds < b.seconds; });
  return runs[runs.size() / 2];
}

// Copies each line out, as a printer's band would take it.
struct Consumer : RasterSink {
  std::vector<uint8_t> band;
  uint64_t pixelBytes = 0;
  bool BeginPage(const RasterPage& page) override {
    band.resize(size_t{page.width} * page.bitsPerPixel / 8);
    return true;
  }
  bool Line(const uint8_t* pixels, uint32_t repeat) override {
    std::copy_n(pixels, band.size(), band.begin());
    pixelBytes += uint64_t{band.size()} * repeat;
    return true;
  }
  bool EndPage() override { return true; }
};

// Decodes the file at `path` as it is read, 64 KiB at a time; empty when it is good.
std::string DecodeFile(const std::string& path, RasterFormat format, Consumer& consumer) {
  RasterDecoder decoder(format, &consumer);
  std::ifstream in(path, std::ios::binary);
  std::vector<char> buffer(64 * 1024);
  RasterStatus status = RasterStatus::kOk;
  while (status == RasterStatus::kOk && in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    status = decoder.Feed(reinterpret_cast<const uint8_t*>(buffer.data()), static_cast<size_t>(in.gcount()));
  }
  if (status == RasterStatus::kOk) status = decoder.Finish();
  return status == RasterStatus::kOk ? std::string() : path + ": " + decoder.Error();
}

RasterFormat FormatNamed(const std::string& name) { return name == "pwg" ? RasterFormat::kPwg : RasterFormat::kUrf; }

// Runs gs at 600 dpi with these arguments before the input file's name.
std::vector<std::string> GhostscriptCommand(const std::vector<std::string>& arguments, const std::string& input) {
  std::vector<std::string> command = {"gs", "-q", "-dSAFER", "-dNOPAUSE", "-dBATCH", "-r600"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  command.push_back(input);
  return command;
}

void Line(const char* what, const Run& run, double fileMB, double pixelMB) {
  if (!run.ok) {
    std::printf("%-42s FAILED\n", what);
    return;
  }
  std::printf("%-42s %6.3f s CPU (%6.3f s wall)  peak RSS %5.1f MiB", what, run.seconds, run.wallSeconds, run.peakMiB);
  if (fileMB > 0) {
    std::printf("  %6.1f MB/s of raster (%.1f MB)  %6.0f MB/s of pixels (%.0f MB)", fileMB / run.seconds, fileMB,
                pixelMB / run.seconds, pixelMB);
  }
  std::printf("\n");
}

struct Kind {
  const char *name, *device, *format;
  const char* colorSpace;  // cupsColorSpace: 18 sGray, 19 sRGB
};

// Makes each kind of raster from the page's PDF with gs, then decodes it.
void BenchPage(const std::string& pdf, const std::vector<Kind>& kinds, const std::string& folder, int rounds) {
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  for (const Kind& kind : kinds) {
    const std::string raster = folder + kind.format;
    const Run made =
        Median(GhostscriptCommand({std::string("-sDEVICE=") + kind.device, "-sOutputFile=" + raster,
                                   std::string("-dcupsColorSpace=") + kind.colorSpace, "-dcupsBitsPerColor=8"},
                                  pdf),
               rounds);
    // Decoded once here too: the page must be good, and its pixels are counted.
    Consumer consumer;
    const std::string wrong = DecodeFile(raster, FormatNamed(kind.format), consumer);
    std::error_code error;
    const double fileMB = static_cast<double>(std::filesystem::file_size(raster, error)) / kMB;
    std::printf(" %s%s%s\n", kind.name, wrong.empty() ? "" : ": ", wrong.c_str());
    const double pixelMB = static_cast<double>(consumer.pixelBytes) / kMB;
    Line("   our decoder, from the raster file", Median({self, "--decode", raster, kind.format}, rounds), fileMB,
         pixelMB);
    Line("   gs making this raster from the PDF", made, 0, 0);
  }
  Line(" gs -sDEVICE=nullpage: draws the PDF, writes nothing",
       Median(GhostscriptCommand({"-sDEVICE=nullpage"}, pdf), rounds), 0, 0);
}

// A page of noise, different in every pixel (each run a literal one): the decoder's worst
// case, a raster as large as its pixels. Returns the PostScript that draws it.
std::string NoisePage(const std::string& folder) {
  const int width = 4961, height = 7016;  // A4 at 600 dpi
  // Written a line at a time: a child's peak counts its parent's too (posix_spawn shares it).
  std::ofstream out(folder + "noise.rgb", std::ios::binary);
  std::vector<char> line(size_t{width} * 3);
  uint32_t seed = 7;
  for (int y = 0; y < height; ++y) {
    for (char& byte : line) byte = static_cast<char>((seed = seed * 1103515245 + 12345) >> 24);
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
  }
  return "%!PS\n<< /PageSize [595 842] >> setpagedevice 595 842 scale\n" + std::to_string(width) + " " +
         std::to_string(height) + " 8 [" + std::to_string(width) + " 0 0 -" + std::to_string(height) + " 0 " +
         std::to_string(height) + "] (" + folder + "noise.rgb) (r) file false 3 colorimage showpage\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--idle") return 0;  // what the program weighs before it decodes
  if (argc == 4 && std::string(argv[1]) == "--decode") {
    Consumer consumer;
    return DecodeFile(argv[2], FormatNamed(argv[3]), consumer).empty() ? 0 : 1;
  }
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  std::string pattern = std::filesystem::temp_directory_path().string() + "/olvaro-raster-bench.XXXXXX";
  if (!mkdtemp(pattern.data())) return 1;
  const std::string folder = pattern + "/";
  std::ofstream(folder + "mixed.ps") << kDocument;
  std::ofstream(folder + "noise.ps") << NoisePage(folder);
  for (const char* page : {"mixed", "noise"}) {
    const std::string ps = folder + page + ".ps";
    if (!Measure(
             GhostscriptCommand({"--permit-file-read=" + folder, "-sDEVICE=pdfwrite", "-dAutoFilterColorImages=false",
                                 "-sColorImageFilter=FlateEncode", "-sOutputFile=" + folder + page + ".pdf"},
                                ps))
             .ok) {
      std::fprintf(stderr, "raster_bench: ghostscript (gs) is needed\n");
      return 1;
    }
  }
  std::printf("One A4 page at 600 dpi, median of %d runs; each raster is read from a file in 64 KiB pieces.\n", rounds);
  Line("this program decoding nothing",
       Median({std::filesystem::read_symlink("/proc/self/exe").string(), "--idle"}, rounds), 0, 0);
  std::printf("A page of text, a picture, gradients and flat colour:\n");
  BenchPage(folder + "mixed.pdf",
            {{"PWG raster, sRGB", "pwgraster", "pwg", "19"},
             {"PWG raster, sGray", "pwgraster", "pwg", "18"},
             {"Apple raster, sRGB", "urf", "urf", "19"}},
            folder, rounds);
  std::printf("A page of noise, every pixel unlike the next (the worst case):\n");
  BenchPage(folder + "noise.pdf", {{"PWG raster, sRGB", "pwgraster", "pwg", "19"}}, folder, rounds);
  std::filesystem::remove_all(folder);
  return 0;
}
