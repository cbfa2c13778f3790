#pragma once
// The library-wide CMYK converter shared by the JPEG and TIFF readers.

#include <cstdint>

// Turns count pixels of four bytes c, m, y, k (taken as they are: callers
// holding plain inks invert them first) into three bytes blue, green, red,
// the memory order of im24bgr: red = c * k / 255, green = m * k / 255,
// blue = y * k / 255, in integer division. Source and destination must not
// overlap.
void ConvertCmykToBgr(const uint8_t* cmyk, uint8_t* bgr, int64_t count);
