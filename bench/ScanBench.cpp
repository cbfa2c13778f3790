// tarvelle-bench: times the two scan engines on the same folder.
//
// Without --folder it writes a reproducible set of photo-like pictures (see
// SyntheticImages.h) into a temporary folder, a share of them near copies of
// earlier ones (lightened, recompressed or resized), and removes the folder
// afterwards unless --keep names one. Each engine then scans the folder as
// tarvelle-cli scan does; the program prints the seconds of each phase, the
// pairs compared pixel by pixel, the ratios of the two engines and whether
// their results are identical.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <jpeglib.h>

#include "bench/SyntheticImages.h"
#include "finder/DFinder.h"
#include "finder/GrayCompare.h"
#include "finder/WorkerPool.h"
#include "search/FindFile.h"
#include "settings/FileTypes.h"

namespace {

const char kUsage[] =
    "usage: tarvelle-bench [--count N] [--size WxH] [--share F] [--seed S] [--format jpeg|ppm]\n"
    "                      [--quality Q] [--keep DIR] [--folder DIR] [--threshold T]\n"
    "                      [--threads N] [--engines both|fast|reference]\n"
    "\n"
    "  --count N      pictures to generate (default 500)\n"
    "  --size WxH     size of the generated pictures (default 1024x768)\n"
    "  --share F      share of near copies, 0..1 (default 0.2)\n"
    "  --seed S       seed of the set (default 1)\n"
    "  --format F     jpeg (default, baseline 4:2:0) or ppm\n"
    "  --quality Q    JPEG quality of the originals (default 90; recompressed copies 70)\n"
    "  --keep DIR     write the set into DIR and keep it\n"
    "  --folder DIR   scan an existing folder instead of generating one\n"
    "  --threshold T  similarity threshold in percent (default 90)\n"
    "  --threads N    threads of the fast engine (default: every core)\n"
    "  --engines E    which engines to run (default both)\n";

struct TOptions {
  int Count = 500;
  int Width = 1024, Height = 768;
  double Share = 0.2;
  uint64_t Seed = 1;
  bool Jpeg = true;
  int Quality = 90;
  std::string Keep, Folder;
  int Threshold = 90;
  int Threads = 0;
  bool RunReference = true, RunFast = true;
};

bool ParseArgs(int argc, char** argv, TOptions& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (a == "--count" && (v = value())) {
      o.Count = std::atoi(v);
    } else if (a == "--size" && (v = value())) {
      if (std::sscanf(v, "%dx%d", &o.Width, &o.Height) != 2) return false;
    } else if (a == "--share" && (v = value())) {
      o.Share = std::atof(v);
    } else if (a == "--seed" && (v = value())) {
      o.Seed = std::strtoull(v, nullptr, 10);
    } else if (a == "--format" && (v = value())) {
      if (std::strcmp(v, "jpeg") && std::strcmp(v, "ppm")) return false;
      o.Jpeg = std::strcmp(v, "jpeg") == 0;
    } else if (a == "--quality" && (v = value())) {
      o.Quality = std::atoi(v);
    } else if (a == "--keep" && (v = value())) {
      o.Keep = v;
    } else if (a == "--folder" && (v = value())) {
      o.Folder = v;
    } else if (a == "--threshold" && (v = value())) {
      o.Threshold = std::atoi(v);
    } else if (a == "--threads" && (v = value())) {
      o.Threads = std::atoi(v);
    } else if (a == "--engines" && (v = value())) {
      const std::string e = v;
      if (e != "both" && e != "fast" && e != "reference") return false;
      o.RunReference = e != "fast";
      o.RunFast = e != "reference";
    } else {
      return false;
    }
  }
  return o.Count >= 0 && o.Width > 0 && o.Height > 0 && o.Quality > 0 && o.Quality <= 100;
}

bool WriteJpeg(const std::string& path, TImBitmap& b, int quality) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  jpeg_stdio_dest(&c, f);
  c.image_width = static_cast<JDIMENSION>(b.Width());
  c.image_height = static_cast<JDIMENSION>(b.Height());
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  jpeg_start_compress(&c, TRUE);
  std::vector<uint8_t> rgb(static_cast<size_t>(b.Width()) * 3);
  while (c.next_scanline < c.image_height) {
    const uint8_t* row = b.Scanline(static_cast<int>(c.next_scanline));
    for (int x = 0; x < b.Width(); ++x) {
      rgb[3 * x] = row[3 * x + 2];
      rgb[3 * x + 1] = row[3 * x + 1];
      rgb[3 * x + 2] = row[3 * x];
    }
    JSAMPROW r = rgb.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  return std::fclose(f) == 0;
}

bool WritePpm(const std::string& path, TImBitmap& b) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fprintf(f, "P6\n%d %d\n255\n", b.Width(), b.Height());
  std::vector<uint8_t> rgb(static_cast<size_t>(b.Width()) * 3);
  for (int y = 0; y < b.Height(); ++y) {
    const uint8_t* row = b.Scanline(y);
    for (int x = 0; x < b.Width(); ++x) {
      rgb[3 * x] = row[3 * x + 2];
      rgb[3 * x + 1] = row[3 * x + 1];
      rgb[3 * x + 2] = row[3 * x];
    }
    std::fwrite(rgb.data(), 1, rgb.size(), f);
  }
  return std::fclose(f) == 0;
}

// Writes the set on every core; returns false when a file could not be written.
bool Generate(const TOptions& o, const std::string& folder) {
  const std::vector<synthetic::TItem> items = synthetic::MakeCorpus(o.Seed, o.Count, o.Share);
  std::atomic<int> next{0};
  std::atomic<bool> ok{true};
  auto work = [&] {
    TImBitmap b;
    for (int k; (k = next.fetch_add(1)) < o.Count;) {
      const synthetic::TItem& item = items[static_cast<size_t>(k)];
      const int w = std::max(1, static_cast<int>(o.Width * item.Scale));
      const int h = std::max(1, static_cast<int>(o.Height * item.Scale));
      synthetic::Paint(synthetic::TPicture::FromSeed(item.Seed), item.Variant, w, h, b);
      char name[32];
      std::snprintf(name, sizeof name, "/img%06d.%s", k, o.Jpeg ? "jpg" : "ppm");
      const int quality = item.Variant == synthetic::svRecompressed ? 70 : o.Quality;
      if (!(o.Jpeg ? WriteJpeg(folder + name, b, quality) : WritePpm(folder + name, b))) ok = false;
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < TWorkerPool::CoreCount(); ++t) threads.emplace_back(work);
  for (std::thread& t : threads) t.join();
  return ok;
}

struct TResult {
  double Walk = 0, Fingerprint = 0, Compare = 0;
  int64_t Full = 0;
  size_t Files = 0, Groups = 0, Duplicates = 0, Unreadable = 0;
  std::vector<std::string> Records;  // for comparing the engines
};

TResult Scan(const std::string& folder, TFinderEngine engine, const TOptions& o) {
  TResult r;
  const auto t0 = std::chrono::steady_clock::now();
  TFindFile find;
  find.Recurse = true;
  find.Directory = folder;
  find.Filters = PatternsForFileTypes(kAllImageFileTypes);
  find.Execute();
  r.Walk = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  TDFinder finder;
  finder.Engine = engine;
  finder.Threads = o.Threads;
  finder.FindDuplicates(find.Files, o.Threshold);
  r.Fingerprint = finder.FingerprintSeconds;
  r.Compare = finder.CompareSeconds;
  r.Full = finder.FullComparisons;
  r.Files = find.Files.size();
  r.Unreadable = finder.Unreadable.size();
  for (const auto& rec : finder.Images) {
    char line[160];
    std::snprintf(line, sizeof line, "%d %dx%d %a %d", rec->Index, rec->Width, rec->Height, rec->Similarity,
                  rec->Unreadable ? 1 : 0);
    std::string s = line;
    for (int32_t d : rec->Duplicates) s += " " + std::to_string(d);
    for (int y = 0; y < rec->Bitmap.Height(); ++y)
      s.append(reinterpret_cast<const char*>(rec->Bitmap.Scanline(y)), static_cast<size_t>(rec->Bitmap.RowLen()));
    r.Records.push_back(std::move(s));
    if (rec->HasDuplicates) {
      ++r.Groups;
      r.Duplicates += rec->Duplicates.size();
    }
  }
  return r;
}

void PrintRow(const char* name, const TResult& r) {
  std::printf("%-10s %9.3f %14.3f %12.3f %18lld %8zu %11zu %11zu\n", name, r.Walk, r.Fingerprint, r.Compare,
              static_cast<long long>(r.Full), r.Groups, r.Duplicates, r.Unreadable);
}

}  // namespace

int main(int argc, char** argv) {
  TOptions o;
  if (!ParseArgs(argc, argv, o)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::string folder = o.Folder;
  bool remove = false;
  if (folder.empty()) {
    if (!o.Keep.empty()) {
      folder = o.Keep;
      std::filesystem::create_directories(folder);
    } else {
      char tmpl[] = "/tmp/tarvelle-bench-XXXXXX";
      if (!::mkdtemp(tmpl)) {
        std::perror("mkdtemp");
        return 1;
      }
      folder = tmpl;
      remove = true;
    }
    const auto t0 = std::chrono::steady_clock::now();
    std::printf("Generating %d %s pictures of %dx%d (%.0f%% near copies, seed %llu) in %s ...\n", o.Count,
                o.Jpeg ? "JPEG" : "PPM", o.Width, o.Height, o.Share * 100.0, static_cast<unsigned long long>(o.Seed),
                folder.c_str());
    std::fflush(stdout);
    if (!Generate(o, folder)) {
      std::fprintf(stderr, "tarvelle-bench: cannot write into %s\n", folder.c_str());
      return 1;
    }
    std::printf("  done in %.1f s\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }

  std::printf("Cores: %d, fast engine threads: %d, difference sums: %s, threshold %d\n", TWorkerPool::CoreCount(),
              o.Threads > 0 ? o.Threads : TWorkerPool::CoreCount(), GraySadKind(), o.Threshold);
  std::printf("%-10s %9s %14s %12s %18s %8s %11s %11s\n", "engine", "walk_s", "fingerprint_s", "compare_s",
              "pairs compared", "groups", "duplicates", "unreadable");
  std::fflush(stdout);
  TResult ref, fast;
  if (o.RunReference) {
    ref = Scan(folder, TFinderEngine::Reference, o);
    PrintRow("reference", ref);
    std::fflush(stdout);
  }
  if (o.RunFast) {
    fast = Scan(folder, TFinderEngine::Fast, o);
    PrintRow("fast", fast);
  }
  int rc = 0;
  if (o.RunReference && o.RunFast) {
    auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    std::printf("ratio reference / fast: fingerprint %.2fx, compare %.1fx, both phases %.2fx\n",
                ratio(ref.Fingerprint, fast.Fingerprint), ratio(ref.Compare, fast.Compare),
                ratio(ref.Fingerprint + ref.Compare, fast.Fingerprint + fast.Compare));
    std::printf("pairs compared pixel by pixel: %.4f%% of the reference's\n",
                ref.Full > 0 ? 100.0 * static_cast<double>(fast.Full) / static_cast<double>(ref.Full) : 0.0);
    const bool same = ref.Records == fast.Records;
    std::printf("results identical: %s\n", same ? "yes" : "NO");
    if (!same) rc = 3;
  }
  if (remove) std::filesystem::remove_all(folder);
  return rc;
}
