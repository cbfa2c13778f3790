// The fast engine's fingerprinting step.
//
// Decoder threads take the files in index order, each with its own loader,
// working image and processor, and leave finished records in a shared table.
// The calling thread runs the same loop as the reference engine: progress
// call, stop test, then it takes record i, waiting for it if need be. A
// decoder may run at most kAhead files past the record the loop last took,
// so the memory in use is the thumbnails plus one full-size image per
// decoder. A stop makes the decoders take no further file, asks the loads in
// progress to abort (through the loader's progress report, on the decoder's
// own thread) and throws away whatever was made past the stop point.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "finder/DFinder.h"
#include "finder/WorkerPool.h"
#include "image/ImageProc.h"
#include "io/ImageIO.h"
#include "io/JpegThumbnail.h"

namespace {

// The names LoadFromFile reads with the JPEG reader.
bool IsJpegName(const std::string& fileName) {
  if (fileName.size() >= 7) {
    std::string head = fileName.substr(0, 7);
    for (char& c : head) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (head == "http://") return false;
  }
  const std::string ext = ImExtractFileExt(fileName);
  return ext == ".jpg" || ext == ".jpeg" || ext == ".jpe";
}

// A JPEG file's record made from the sampled rows alone. False when the file
// needs the full path (it is damaged, cannot be read, or the read was
// cancelled); the record is then to be made by FingerprintFile.
bool FingerprintJpeg(const std::string& fileName, TDImage& record, const std::atomic<bool>& cancel) {
  TJpegThumbnailResult r;
  try {
    r = ReadJpegThumbnail(fileName, kThumbnailSize, kThumbnailSize, record.Bitmap, &cancel);
  } catch (const std::exception&) {
    return false;
  }
  if (!r.Done) return false;
  record.FileSize = FileSize(fileName);
  record.Identity = FileIdentityOf(fileName);
  record.Width = r.Width;
  record.Height = r.Height;
  return true;
}

// Records a decoder may make beyond the one the loop is waiting for, per thread.
constexpr int kAheadPerThread = 2;

}  // namespace

bool TDFinder::FingerprintFast(int threads) {
  const int n = static_cast<int>(FileNames.size());
  if (threads <= 0) threads = TWorkerPool::CoreCount();
  threads = std::max(1, std::min(threads, n));
  const int ahead = kAheadPerThread * threads;

  std::vector<std::unique_ptr<TDImage>> records(static_cast<size_t>(n));
  std::mutex mutex;
  std::condition_variable madeOne;   // a slot was filled
  std::condition_variable tookOne;   // the loop took a record, or a stop came
  int next = 0;                      // next file to claim
  int taken = 0;                     // records the loop has taken
  std::atomic<bool> cancel{false};

  auto decoder = [&] {
    std::unique_ptr<TImageIO> io = LoaderFactory ? LoaderFactory() : std::make_unique<TImageIO>();
    TImBitmap work;
    io->SetAttachedBitmap(&work);
    // The readers report progress while they decode; a stop turns the
    // report into an abort of the load in progress.
    io->OnProgress = [&](void*, int) {
      if (cancel.load(std::memory_order_relaxed)) io->Aborting = true;
    };
    TImageProc proc;
    proc.AutoUndo = false;
    proc.SetAttachedBitmap(&work);
    for (;;) {
      int i;
      {
        std::unique_lock<std::mutex> lock(mutex);
        tookOne.wait(lock, [&] { return cancel.load() || next >= n || next < taken + ahead; });
        if (cancel.load() || next >= n) return;
        i = next++;
      }
      auto record = std::make_unique<TDImage>(i);
      // With the plain loader a JPEG file needs only the rows the thumbnail
      // samples; another loader may read files in its own way.
      if (LoaderFactory || !IsJpegName(FileNames[i]) || !FingerprintJpeg(FileNames[i], *record, cancel))
        FingerprintFile(*io, proc, FileNames[i], *record);
      // The full-size image is not kept while the decoder waits for room.
      work.FreeImage();
      {
        std::lock_guard<std::mutex> lock(mutex);
        records[static_cast<size_t>(i)] = std::move(record);
      }
      madeOne.notify_all();
    }
  };

  std::vector<std::thread> pool;
  pool.reserve(static_cast<size_t>(threads));
  for (int t = 0; t < threads; ++t) pool.emplace_back(decoder);
  auto finish = [&] {
    {
      std::lock_guard<std::mutex> lock(mutex);
      cancel.store(true);
    }
    tookOne.notify_all();
    for (std::thread& t : pool)
      if (t.joinable()) t.join();
  };
  // A progress handler that raises ends the run as in the reference engine;
  // the decoders are stopped first.
  try {
    for (int i = 0; i < n; ++i) {
      Progress(FingerprintText(FileNames[i], i, n), i + 1, n);
      if (TakeStopRequest()) {
        finish();
        return false;
      }
      std::unique_ptr<TDImage> record;
      {
        std::unique_lock<std::mutex> lock(mutex);
        madeOne.wait(lock, [&] { return records[static_cast<size_t>(i)] != nullptr; });
        record = std::move(records[static_cast<size_t>(i)]);
        taken = i + 1;
      }
      tookOne.notify_all();
      if (record->Unreadable) Unreadable.push_back(i);
      Images.push_back(std::move(record));
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
  return true;
}
