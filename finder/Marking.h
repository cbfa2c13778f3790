#pragma once
// Automatic marking after a scan: in every group the lesser copies are marked
// for deletion. When all images of a group have the same dimensions the
// smaller files are marked (a duplicate no larger than the original is
// marked, so of two equal files the duplicate goes); otherwise the images of
// smaller area are marked (equal areas, such as 640x480 and 480x640, mark
// neither). Each duplicate is weighed against the original only.

#include <memory>
#include <vector>

#include "finder/DImage.h"

class TDFinder;

struct TMarkingRules {
  bool MarkSmallerDimImages = true;
  bool MarkSmallerFileSizeImages = true;
};

// Applies the rules to the record `original` and its duplicates, found in
// images by index. Clears the original's mark first; duplicates are only
// ever marked, never cleared.
void ApplyMarkingRules(std::vector<std::unique_ptr<TDImage>>& images, TDImage& original,
                       const TMarkingRules& rules);

// Applies the rules to every record that has duplicates, in index order.
void ApplyMarkingRules(TDFinder& finder, const TMarkingRules& rules);
