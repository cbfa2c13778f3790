// tarvelle-cli scan: walks a folder for image files, groups similar images
// and marks the lesser copies, the way the window's scan does, and prints the
// result. It reads files only; it never deletes or writes anything.
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/NameOutput.h"
#include "finder/DFinder.h"
#include "finder/Marking.h"
#include "search/FindFile.h"
#include "settings/FileTypes.h"

namespace {

volatile sig_atomic_t gInterrupted = 0;

void OnInterrupt(int) { gInterrupted = 1; }

// The first Ctrl-C asks the scan to stop; the handler then reverts to the
// default, so a second one ends the program at once.
void InstallInterruptHandler() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &sa, nullptr);
}

const char kUsage[] =
    "usage: tarvelle-cli scan [--similarity N] [--types LIST] [--format text|json]\n"
    "                         [--no-mark-dim] [--no-mark-size] [--engine reference|fast]\n"
    "                         [--timing] FOLDER\n"
    "\n"
    "Finds the image files below FOLDER, groups similar images and marks the\n"
    "lesser copies of each group (smaller dimensions, or smaller files when all\n"
    "dimensions are equal). Nothing is deleted or written.\n"
    "\n"
    "  --similarity N   threshold in percent, 1..100 (default 90)\n"
    "  --types LIST     comma-separated file types (default all):\n"
    "                   jpeg,gif,png,tiff,jp2,j2k,tga,pcx,bmp,wmf,emf,ico,cur,wbmp,pxm\n"
    "  --format F       text (default) or json\n"
    "  --no-mark-dim    do not mark duplicates of smaller dimensions\n"
    "  --no-mark-size   do not mark duplicates of smaller file size\n"
    "  --engine E       fast (default): decodes on all cores and compares by\n"
    "                   integer sums with bounds; reference: one file and one\n"
    "                   pair after the other, pixel by pixel. Both give the\n"
    "                   same result.\n"
    "  --timing         also print the seconds of the folder walk, the\n"
    "                   fingerprint phase and the comparison phase\n"
    "\n"
    "File names are printed as bytes. In text output a backslash is written as\n"
    "\\\\ and a byte that is a control character or not part of valid UTF-8 as\n"
    "\\xHH. In JSON such a byte is written as \\udcXX (surrogate escape: in\n"
    "Python, os.fsencode() of the decoded string gives back the bytes).\n"
    "Ctrl-C stops the scan and prints what was found so far (exit status 130).\n";

// A one-line progress bar on stderr, drawn only when stderr is a terminal.
class TProgressLine {
 public:
  TProgressLine() : enabled_(::isatty(STDERR_FILENO) == 1) {}
  ~TProgressLine() { Clear(); }

  void Show(const std::string& text, int position, int maximum) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && position != maximum && now - last_ < std::chrono::milliseconds(40)) return;
    last_ = now;
    int columns = 80;
    winsize ws {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) columns = ws.ws_col;
    std::string line;
    if (maximum > 0) {
      constexpr int kBar = 20;
      const int filled = static_cast<int>(static_cast<int64_t>(position) * kBar / maximum);
      line = "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(kBar - filled), '-') +
             "] ";
    }
    line += DisplayName(text);
    if (static_cast<int>(line.size()) > columns - 1) line.resize(static_cast<size_t>(columns > 1 ? columns - 1 : 0));
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    drawn_ = true;
  }

  void Clear() {
    if (!enabled_ || !drawn_) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    drawn_ = false;
  }

 private:
  bool enabled_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_;
};

bool ParseInt(const std::string& s, int& out) {
  if (s.empty() || s.size() > 6) return false;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  out = v;
  return true;
}

struct TScanOptions {
  int Similarity = 90;
  TImageFileTypes Types = kAllImageFileTypes;
  bool Json = false;
  TMarkingRules Rules;
  std::string Folder;
  TFinderEngine Engine = TFinderEngine::Fast;
  bool Timing = false;
};

struct TScanTiming {
  double WalkSeconds = 0.0;
  double FingerprintSeconds = 0.0;
  double CompareSeconds = 0.0;
};

int Fail(const std::string& message, int code = 2) {
  std::fprintf(stderr, "tarvelle-cli scan: %s\n", message.c_str());
  return code;
}

// Returns -1 when the options are fine, otherwise the exit code.
int ParseOptions(const std::vector<std::string>& args, TScanOptions& o) {
  bool haveFolder = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--similarity") {
      if (!value(v) || !ParseInt(v, o.Similarity) || o.Similarity < 1 || o.Similarity > 100)
        return Fail("--similarity needs a whole number from 1 to 100");
    } else if (a == "--types") {
      if (!value(v)) return Fail("--types needs a list such as jpeg,png,tiff");
      o.Types = 0;
      size_t start = 0;
      while (start <= v.size()) {
        size_t end = v.find(',', start);
        if (end == std::string::npos) end = v.size();
        const std::string name = v.substr(start, end - start);
        TImageFileType t;
        if (!name.empty()) {
          if (!FindImageFileType(name, t)) return Fail("unknown file type '" + DisplayName(name) + "'");
          o.Types = static_cast<TImageFileTypes>(o.Types | (1u << t));
        }
        start = end + 1;
      }
      if (o.Types == 0) return Fail("--types names no file type");
    } else if (a == "--format") {
      if (!value(v) || (v != "text" && v != "json")) return Fail("--format is text or json");
      o.Json = v == "json";
    } else if (a == "--no-mark-dim") {
      o.Rules.MarkSmallerDimImages = false;
    } else if (a == "--no-mark-size") {
      o.Rules.MarkSmallerFileSizeImages = false;
    } else if (a == "--engine") {
      if (!value(v)) return Fail("--engine needs a name");
      if (v == "reference") o.Engine = TFinderEngine::Reference;
      else if (v == "fast") o.Engine = TFinderEngine::Fast;
      else return Fail("engine '" + DisplayName(v) + "' is not available (available: reference, fast)");
    } else if (a == "--timing") {
      o.Timing = true;
    } else if (a.size() > 1 && a[0] == '-' && a != "--") {
      return Fail("unknown option '" + DisplayName(a) + "'\n" + kUsage);
    } else {
      if (a == "--") {
        if (i + 1 >= args.size()) break;
        ++i;
      }
      if (haveFolder) return Fail("only one FOLDER can be scanned");
      o.Folder = args[i];
      haveFolder = true;
    }
  }
  if (!haveFolder || o.Folder.empty()) return Fail(std::string("no FOLDER given\n") + kUsage);
  return -1;
}

std::string Num17(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

std::string Seconds(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6f", v);
  return buf;
}

void PrintJson(const TScanOptions& o, const TDFinder& finder, const std::vector<std::string>& files,
               bool stopped, const TScanTiming& timing) {
  std::string out = "{\n  \"folder\": " + JsonString(o.Folder) + ",\n";
  out += "  \"similarity\": " + std::to_string(o.Similarity) + ",\n";
  out += "  \"files\": [";
  for (size_t i = 0; i < files.size(); ++i) out += (i ? ",\n    " : "\n    ") + JsonString(files[i]);
  out += files.empty() ? "],\n" : "\n  ],\n";
  out += "  \"groups\": [";
  bool firstGroup = true;
  auto entry = [&](const TDImage& r) {
    return "\"path\": " + JsonString(finder.FileNames[r.Index]) + ", \"width\": " + std::to_string(r.Width) +
           ", \"height\": " + std::to_string(r.Height) + ", \"size\": " + std::to_string(r.FileSize) +
           ", \"marked\": " + (r.Marked ? "true" : "false");
  };
  for (const auto& rec : finder.Images) {
    if (!rec->HasDuplicates) continue;
    out += firstGroup ? "\n    {" : ",\n    {";
    firstGroup = false;
    out += "\"original\": {" + entry(*rec) + "},\n     \"duplicates\": [";
    for (size_t k = 0; k < rec->Duplicates.size(); ++k) {
      const TDImage& d = *finder.Images[rec->Duplicates[k]];
      out += (k ? ",\n       {" : "\n       {") + entry(d) + ", \"similarity\": " + Num17(d.Similarity) + "}";
    }
    out += "]}";
  }
  out += firstGroup ? "],\n" : "\n  ],\n";
  out += "  \"unreadable\": [";
  for (size_t k = 0; k < finder.Unreadable.size(); ++k)
    out += (k ? ",\n    " : "\n    ") + JsonString(finder.FileNames[finder.Unreadable[k]]);
  out += finder.Unreadable.empty() ? "],\n" : "\n  ],\n";
  if (o.Timing)
    out += "  \"timing\": {\"walk_s\": " + Seconds(timing.WalkSeconds) +
           ", \"fingerprint_s\": " + Seconds(timing.FingerprintSeconds) +
           ", \"compare_s\": " + Seconds(timing.CompareSeconds) + "},\n";
  out += std::string("  \"stopped\": ") + (stopped ? "true" : "false") + "\n}\n";
  std::fputs(out.c_str(), stdout);
}

void PrintText(const TScanOptions& o, const TDFinder& finder, const std::vector<std::string>& files, bool stopped,
               const TScanTiming& timing) {
  int groups = 0, duplicates = 0, marked = 0;
  auto line = [&](const TDImage& r, const std::string& role) {
    char dims[32];
    std::snprintf(dims, sizeof dims, "%dx%d", r.Width, r.Height);
    std::printf("  %-18s %11s %14lld bytes  %-6s  %s\n", role.c_str(), dims, static_cast<long long>(r.FileSize),
                r.Marked ? "marked" : "kept", DisplayName(finder.FileNames[r.Index]).c_str());
    if (r.Marked) ++marked;
  };
  for (const auto& rec : finder.Images) {
    if (!rec->HasDuplicates) continue;
    std::printf("%sGroup %d\n", groups ? "\n" : "", groups + 1);
    ++groups;
    line(*rec, "original");
    for (int32_t d : rec->Duplicates) {
      const TDImage& dup = *finder.Images[d];
      char role[48];
      std::snprintf(role, sizeof role, "similarity %.2f%%", dup.Similarity * 100.0);
      line(dup, role);
      ++duplicates;
    }
  }
  std::printf("%s%zu files scanned, %d groups, %d duplicates, %d marked, %zu unreadable\n", groups ? "\n" : "",
              files.size(), groups, duplicates, marked, finder.Unreadable.size());
  if (!finder.Unreadable.empty()) {
    std::printf("Unreadable files:\n");
    for (int32_t k : finder.Unreadable) std::printf("  %s\n", DisplayName(finder.FileNames[k]).c_str());
  }
  if (stopped) std::printf("Stopped by user: the results are incomplete.\n");
  if (o.Timing) {
    std::printf("Folder walk: %.3f s\n", timing.WalkSeconds);
    std::printf("Fingerprint phase: %.3f s\n", timing.FingerprintSeconds);
    std::printf("Comparison phase: %.3f s\n", timing.CompareSeconds);
  }
}

int RunScan(const std::vector<std::string>& args) {
  TScanOptions o;
  if (const int rc = ParseOptions(args, o); rc >= 0) return rc;
  struct stat st {};
  if (::stat(o.Folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return Fail("folder '" + DisplayName(o.Folder) + "' does not exist", 1);

  gInterrupted = 0;
  InstallInterruptHandler();
  TProgressLine progress;

  TFindFile findFile;
  findFile.Recurse = true;
  findFile.Directory = o.Folder;
  findFile.Filters = PatternsForFileTypes(o.Types);
  findFile.OnNewPath = [&](TFindFile* sender, const std::string&, bool& abort) {
    if (gInterrupted) abort = true;
    char text[96];
    std::snprintf(text, sizeof text, "Building file list ... %d files found.", sender->FileCount);
    progress.Show(text, 0, 0);
  };
  const auto walkStart = std::chrono::steady_clock::now();
  findFile.Execute();
  TScanTiming timing;
  timing.WalkSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - walkStart).count();

  TDFinder finder;
  finder.Engine = o.Engine;
  bool stopped = gInterrupted != 0;
  std::vector<std::string> files;
  if (!stopped) {
    files = findFile.Files;
    finder.OnFindProgress = [&](void*, const std::string& text, int position, int maximum) {
      if (gInterrupted) finder.StopRequested = true;
      progress.Show(text, position, maximum);
    };
    finder.FindDuplicates(files, o.Similarity);
    stopped = finder.Stopped;
    timing.FingerprintSeconds = finder.FingerprintSeconds;
    timing.CompareSeconds = finder.CompareSeconds;
    ApplyMarkingRules(finder, o.Rules);
  }
  progress.Clear();
  // A run stopped while fingerprinting scanned only the first files.
  if (stopped) files.resize(finder.Images.size());

  if (o.Json) PrintJson(o, finder, files, stopped, timing);
  else PrintText(o, finder, files, stopped, timing);
  std::fflush(stdout);
  return stopped ? 130 : 0;
}

const TCliCommandRegistration kScan({
    "scan",
    "scan [OPTIONS] FOLDER",
    "find and group similar images below a folder (reads only)",
    RunScan,
});

}  // namespace
