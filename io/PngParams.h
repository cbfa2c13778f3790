#pragma once
// Fields of TIOParams that the Png reader reports or reads.

#include <cstdint>

#include "image/ImBitmap.h"

struct TPngParams {
  bool PngInterlaced = false;  // the file is Adam7-interlaced
  // Background colour, B, G, R: the loader stores the component's Background
  // here before the read and writes it back afterwards.
  TImRGB PngBackground{};
};
