#pragma once
// TDImage: what a scan keeps about one file: its dimensions as read, its size
// on disk, the 64 x 64 thumbnail that the grouping compares, the indices of
// the later files that turned out to be its duplicates and the deletion mark.

#include <cstdint>
#include <vector>

#include "finder/Deletion.h"
#include "image/ImBitmap.h"

class TDImage {
 public:
  explicit TDImage(int32_t index) : Index(index) {}
  TDImage(const TDImage&) = delete;
  TDImage& operator=(const TDImage&) = delete;

  // Appends a duplicate's index and sets HasDuplicates.
  void AddDuplicate(int32_t index);

  bool HasDuplicates = false;
  // Indices (into the finder's file list) of this image's duplicates, in the
  // order they were found.
  std::vector<int32_t> Duplicates;
  int32_t Index;
  int32_t Width = 0;
  int32_t Height = 0;
  int64_t FileSize = 0;
  // The thumbnail; empty (imNone, 0 x 0) when the file could not be read.
  TImBitmap Bitmap;
  bool Marked = false;
  // The file could not be opened or decoded. Such a record has an empty
  // thumbnail and takes part in no group.
  bool Unreadable = false;
  // For a duplicate: the similarity to the head of its group that admitted
  // it; 0 for every other record.
  double Similarity = 0.0;
  // The file as the scan saw it, so that a deletion can tell whether it is
  // still the same file.
  TFileIdentity Identity;
};
