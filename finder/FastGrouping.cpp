// The fast engine's grouping step.
//
// It walks the rows in the same order as GroupRecords, with the same progress
// call per row and the same stop point, and admits the same duplicates in the
// same order. What differs is how a row finds them:
//  - every thumbnail is turned into gray values and block sums once;
//  - the thumbnails still in play are kept sorted by their gray total, and
//    |total difference| is a lower bound of the difference sum, so a row looks
//    only at the window of totals that could still pass;
//  - in that window the 16- and 64-block bounds rule out most of the rest,
//    and the few pairs left are compared pixel by pixel with SIMD, stopping
//    as soon as the sum is sure to fail;
//  - the decision is taken on the integer sum, and the measure itself is
//    computed as written for sums at the boundary and for every admitted
//    duplicate (its similarity is kept in the record);
//  - a wide window is split over the worker threads; every verdict of a row
//    depends only on the state before the row, so the split changes nothing.
#include <algorithm>
#include <atomic>

#include "finder/DFinder.h"
#include "finder/GrayCompare.h"
#include "finder/WorkerPool.h"
#include "image/ImageProc.h"

namespace {

enum TRecordKind : uint8_t {
  rkSkip,      // unreadable: takes part in no comparison
  rkGray,      // a 64 x 64 im24bgr thumbnail, compared by its gray values
  rkOther,     // anything else: compared by the measure itself
};

// Verdicts of the window entries of one row.
enum TEntryVerdict : uint8_t { evFail, evPass, evExact };

struct TEntry {
  uint32_t Total;
  int32_t Index;
};

// Window entries handed to one task: big enough that the split pays for the
// hand-over, small enough to balance the threads.
constexpr int kChunk = 256;

}  // namespace

bool TDFinder::GroupRecordsFast(TWorkerPool& pool, int threshold) {
  const int n = static_cast<int>(Images.size());
  const TThresholdBand band = TThresholdBand::For(threshold);
  // Every pair with a thumbnail that is not 64 x 64 im24bgr scores exactly 0.0.
  const bool zeroPasses = SimilarityPasses(0.0, threshold);

  std::vector<uint8_t> kind(static_cast<size_t>(n), rkSkip);
  std::vector<uint8_t> gray(static_cast<size_t>(n) * kGrayPixels);
  std::vector<TGrayPrint> prints(static_cast<size_t>(n));
  pool.Run((n + kChunk - 1) / kChunk, [&](int task, int) {
    const int end = std::min(n, (task + 1) * kChunk);
    for (int k = task * kChunk; k < end; ++k) {
      TDImage& r = *Images[k];
      if (r.Unreadable) continue;
      uint8_t* g = gray.data() + static_cast<size_t>(k) * kGrayPixels;
      if (MakeGrayThumbnail(r.Bitmap, g)) {
        MakeGrayPrint(g, prints[k]);
        kind[k] = rkGray;
      } else {
        kind[k] = rkOther;
      }
    }
  });

  std::vector<TEntry> entries;
  std::vector<int32_t> others;
  for (int k = 0; k < n; ++k) {
    if (kind[k] == rkGray) entries.push_back({prints[k].Total, k});
    else if (kind[k] == rkOther) others.push_back(k);
  }
  std::sort(entries.begin(), entries.end(),
            [](const TEntry& a, const TEntry& b) { return a.Total != b.Total ? a.Total < b.Total : a.Index < b.Index; });

  std::vector<uint8_t> matched(static_cast<size_t>(n), 0);
  std::vector<uint8_t> verdicts;
  std::atomic<int64_t> fullComparisons{0};
  // Entries that can never be looked at again (matched or already past as a
  // row); dropped from the sorted list once they make up a good share of it.
  size_t dead = 0;

  TImageProc exact;
  exact.AutoUndo = false;
  // The measure as written, for the pairs whose sum leaves the decision open
  // and for the similarity kept with each duplicate.
  auto measure = [&](int i, int j) {
    exact.SetAttachedBitmap(&Images[i]->Bitmap);
    const double s = exact.ComputeSimilarity(Images[j]->Bitmap);
    exact.SetAttachedBitmap(nullptr);
    return s;
  };

  std::vector<std::pair<int32_t, double>> hits;
  for (int i = 0; i < n; ++i) {
    Progress(CompareText(i, n), i + 1, n);
    if (matched[i]) continue;
    // The stop point at the top of the row's first inner step.
    if (i + 1 < n && TakeStopRequest()) {
      FullComparisons += fullComparisons.load();
      return false;
    }
    if (kind[i] == rkSkip) continue;
    hits.clear();
    if (kind[i] == rkOther) {
      for (int j = i + 1; j < n; ++j) {
        if (matched[j] || kind[j] == rkSkip) continue;
        const double s = measure(i, j);
        ++FullComparisons;
        if (SimilarityPasses(s, threshold)) hits.emplace_back(j, s);
      }
    } else {
      ++dead;  // the head itself
      const TGrayPrint& head = prints[i];
      const uint8_t* headGray = gray.data() + static_cast<size_t>(i) * kGrayPixels;
      if (band.FailMin > 0) {
        // Totals differing by FailMin or more fail on the bound alone.
        const int64_t reach = band.FailMin - 1;
        const int64_t lowTotal = std::max<int64_t>(0, static_cast<int64_t>(head.Total) - reach);
        const int64_t highTotal = static_cast<int64_t>(head.Total) + reach;
        const auto lo = std::lower_bound(entries.begin(), entries.end(), lowTotal,
                                         [](const TEntry& e, int64_t t) { return e.Total < t; });
        const auto hi = std::upper_bound(lo, entries.end(), highTotal,
                                         [](int64_t t, const TEntry& e) { return t < e.Total; });
        const size_t first = static_cast<size_t>(lo - entries.begin());
        const int count = static_cast<int>(hi - lo);
        verdicts.assign(static_cast<size_t>(count), evFail);
        const uint32_t stopAt =
            static_cast<uint32_t>(std::min<int64_t>(band.FailMin, static_cast<int64_t>(kGrayPixels) * 255 + 1));
        pool.Run((count + kChunk - 1) / kChunk, [&](int task, int) {
          const int end = std::min(count, (task + 1) * kChunk);
          int64_t full = 0;
          for (int p = task * kChunk; p < end; ++p) {
            const int j = entries[first + static_cast<size_t>(p)].Index;
            if (j <= i || matched[j]) continue;
            const TGrayPrint& other = prints[j];
            if (CoarseBound(head, other) >= stopAt || FineBound(head, other) >= stopAt) continue;
            ++full;
            const uint32_t sum = GraySad(headGray, gray.data() + static_cast<size_t>(j) * kGrayPixels, stopAt);
            switch (band.Classify(sum)) {
              case TThresholdBand::Pass: verdicts[p] = evPass; break;
              case TThresholdBand::Exact: verdicts[p] = evExact; break;
              case TThresholdBand::Fail: break;
            }
          }
          fullComparisons.fetch_add(full, std::memory_order_relaxed);
        });
        for (int p = 0; p < count; ++p) {
          if (verdicts[p] == evFail) continue;
          const int j = entries[first + static_cast<size_t>(p)].Index;
          // Sure passes are measured too, since the duplicate keeps its
          // similarity; with the value at hand it also settles the verdict.
          const double s = measure(i, j);
          if (SimilarityPasses(s, threshold)) hits.emplace_back(j, s);
        }
      }
      if (zeroPasses)
        for (int32_t j : others)
          if (j > i && !matched[j]) hits.emplace_back(j, 0.0);
    }
    std::sort(hits.begin(), hits.end());
    for (const auto& [j, s] : hits) {
      Images[i]->AddDuplicate(j);
      Images[j]->Similarity = s;
      matched[j] = 1;
      if (kind[j] == rkGray) ++dead;
    }
    if (dead > 64 && dead * 4 > entries.size()) {
      std::erase_if(entries, [&](const TEntry& e) { return e.Index <= i || matched[e.Index]; });
      dead = 0;
    }
  }
  FullComparisons += fullComparisons.load();
  return true;
}
