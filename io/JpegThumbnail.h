#pragma once
// A JPEG file read straight into a small stretched copy: only the rows that
// a nearest-pixel stretch samples are decoded into pixels, the others are
// skipped by the library, and the sampled pixels go directly into the small
// picture. The full-size image is never held.
//
// The result is the one LoadFromFileJpeg with the loader's default
// parameters followed by a nearest-pixel Resample to the same size gives;
// the library's row skipping leaves the rows it does decode exactly as a
// full decode does (its fancy upsampling, which the reader keeps on, is
// carried across skipped rows). Only a clean read is accepted: for a file
// the library warns about or fails on, the caller must take the full path,
// whose behaviour on damaged data this one does not try to repeat.

#include <atomic>
#include <cstdint>
#include <string>

class TImBitmap;

struct TJpegThumbnailResult {
  bool Done = false;    // false: nothing is known, read the file in full
  int32_t Width = 0;    // the image's size as the reader reports it
  int32_t Height = 0;
};

// Reads fileName into thumb as im24bgr of width x height (both positive).
// Throws TImOpenError when the file cannot be read. cancel, when given, ends
// the read early (the result is then not Done).
TJpegThumbnailResult ReadJpegThumbnail(const std::string& fileName, int width, int height, TImBitmap& thumb,
                                       const std::atomic<bool>* cancel = nullptr);
