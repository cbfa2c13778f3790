#include "finder/DFinder.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>

#include "finder/WorkerPool.h"
#include "image/ImageProc.h"
#include "io/ImageIO.h"

int64_t FileSize(const std::string& fileName) {
  struct stat st {};
  if (fileName.empty() || ::stat(fileName.c_str(), &st) != 0) return 0;
  return static_cast<int64_t>(st.st_size);
}

namespace {

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Format(const char* format, const std::string& s, int a, int b) {
  const int len = std::snprintf(nullptr, 0, format, s.c_str(), a, b);
  std::string out(static_cast<size_t>(len > 0 ? len : 0), '\0');
  std::snprintf(out.data(), out.size() + 1, format, s.c_str(), a, b);
  return out;
}

std::string Format(const char* format, int a, int b) {
  char buf[128];
  std::snprintf(buf, sizeof buf, format, a, b);
  return buf;
}

}  // namespace

std::string TDFinder::FingerprintText(const std::string& fileName, int i, int n) {
  return Format("Retreiving image information for: %s (%d / %d)", BaseName(fileName), i + 1, n);
}

std::string TDFinder::CompareText(int i, int n) { return Format("Comparing images... (%d / %d)", i + 1, n); }

void TDFinder::Progress(const std::string& text, int position, int maximum) {
  if (OnFindProgress) OnFindProgress(this, text, position, maximum);
}

bool TDFinder::TakeStopRequest() {
  if (!StopRequested) return false;
  StopRequested = false;
  return true;
}

void TDFinder::FingerprintFile(TImageIO& io, TImageProc& proc, const std::string& fileName,
                               TDImage& record) {
  record.FileSize = FileSize(fileName);
  record.Identity = FileIdentityOf(fileName);
  bool failed = false;
  try {
    io.Aborting = false;
    io.LoadFromFile(fileName);
    failed = io.Aborting;
  } catch (const std::exception&) {
    // A file that vanished, cannot be read or raises an error in its reader
    // costs only its own record, not the scan.
    failed = true;
  }
  TImBitmap* work = proc.Bitmap();
  if (failed || !work) {
    // The target may still hold the previous file's image and the
    // parameters its dimensions; none of that belongs to this file.
    record.Unreadable = true;
    record.Width = record.Height = 0;
    record.Bitmap.FreeImage();
    return;
  }
  record.Width = io.Params().Width;
  record.Height = io.Params().Height;
  if (work->Width() > 0 && work->Height() > 0) proc.Resample(kThumbnailSize, kThumbnailSize, rfNone);
  record.Bitmap.Assign(*work);
}

void TDFinder::FindDuplicates(const std::vector<std::string>& fileNames, int threshold) {
  StopRequested = false;
  Stopped = false;
  FingerprintSeconds = CompareSeconds = 0.0;
  FullComparisons = 0;
  Images.clear();
  FileNames.clear();
  Unreadable.clear();
  if (fileNames.size() < 2) return;
  FileNames = fileNames;
  const int n = static_cast<int>(FileNames.size());

  const auto start = std::chrono::steady_clock::now();
  auto secondsSince = [](std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
  };

  if (Engine == TFinderEngine::Fast) {
    const bool complete = FingerprintFast(Threads);
    FingerprintSeconds = secondsSince(start);
    if (!complete) {
      Stopped = true;
      return;
    }
    const auto compareStart = std::chrono::steady_clock::now();
    TWorkerPool pool(Threads);
    Stopped = !GroupRecordsFast(pool, threshold);
    CompareSeconds = secondsSince(compareStart);
    StopRequested = false;
    return;
  }

  // The working image: one full-size image at a time, loaded and stretched
  // in place. No undo copies are taken.
  TImBitmap work;
  std::unique_ptr<TImageIO> io = LoaderFactory ? LoaderFactory() : std::make_unique<TImageIO>();
  io->SetAttachedBitmap(&work);
  TImageProc proc;
  proc.AutoUndo = false;
  proc.SetAttachedBitmap(&work);

  for (int i = 0; i < n; ++i) {
    Progress(FingerprintText(FileNames[i], i, n), i + 1, n);
    if (TakeStopRequest()) {
      Stopped = true;
      FingerprintSeconds = secondsSince(start);
      return;
    }
    auto record = std::make_unique<TDImage>(i);
    FingerprintFile(*io, proc, FileNames[i], *record);
    if (record->Unreadable) Unreadable.push_back(i);
    Images.push_back(std::move(record));
  }
  io.reset();
  // The grouping compares thumbnails only; the last full-size image is not needed.
  work.FreeImage();
  FingerprintSeconds = secondsSince(start);
  const auto compareStart = std::chrono::steady_clock::now();
  Stopped = !GroupRecords(proc, work, threshold);
  CompareSeconds = secondsSince(compareStart);
  StopRequested = false;
}

bool TDFinder::GroupRecords(TImageProc& proc, TImBitmap& work, int threshold) {
  const int n = static_cast<int>(Images.size());
  // Records already in a group, searched linearly.
  std::vector<int32_t> matched;
  auto isMatched = [&](int k) { return std::find(matched.begin(), matched.end(), k) != matched.end(); };
  for (int i = 0; i < n; ++i) {
    Progress(CompareText(i, n), i + 1, n);
    if (isMatched(i)) continue;
    TDImage& head = *Images[i];
    const bool headReadable = !head.Unreadable;
    if (headReadable) work.Assign(head.Bitmap);
    for (int j = i + 1; j < n; ++j) {
      if (TakeStopRequest()) return false;
      if (!headReadable || isMatched(j)) continue;
      TDImage& other = *Images[j];
      if (other.Unreadable) continue;
      const double s = proc.ComputeSimilarity(other.Bitmap);
      ++FullComparisons;
      if (SimilarityPasses(s, threshold)) {
        head.AddDuplicate(j);
        other.Similarity = s;
        matched.push_back(j);
      }
    }
  }
  return true;
}
