#include "finder/Marking.h"

#include <cstdint>

#include "finder/DFinder.h"

namespace {

// Areas in 64-bit arithmetic: width x height of large images overflows 32 bits.
int64_t Area(const TDImage& r) { return static_cast<int64_t>(r.Width) * r.Height; }

}  // namespace

void ApplyMarkingRules(std::vector<std::unique_ptr<TDImage>>& images, TDImage& original,
                       const TMarkingRules& rules) {
  std::vector<TDImage*> dups;
  for (int32_t d : original.Duplicates)
    if (d >= 0 && static_cast<size_t>(d) < images.size() && images[d]) dups.push_back(images[d].get());

  bool equalDims = true;
  for (const TDImage* d : dups) {
    if (d->Width != original.Width || d->Height != original.Height) {
      equalDims = false;
      break;
    }
  }
  original.Marked = false;
  if (equalDims) {
    if (!rules.MarkSmallerFileSizeImages) return;
    for (TDImage* d : dups) {
      if (d->FileSize <= original.FileSize) d->Marked = true;
      else original.Marked = true;
    }
  } else {
    if (!rules.MarkSmallerDimImages) return;
    const int64_t area = Area(original);
    for (TDImage* d : dups) {
      const int64_t a = Area(*d);
      if (a < area) d->Marked = true;
      else if (a > area) original.Marked = true;
    }
  }
}

void ApplyMarkingRules(TDFinder& finder, const TMarkingRules& rules) {
  for (auto& record : finder.Images)
    if (record && record->HasDuplicates) ApplyMarkingRules(finder.Images, *record, rules);
}
