#pragma once
// Fields of TIOParams that the Bmp reader reports or reads.

#include <cstdint>

struct TBmpParams {
  // 2 for a 12-byte OS/2 header, 1 for a 40-byte header, 3 for a 64-byte
  // header, 0 for any other header size.
  uint8_t BmpVersion = 0;
  // 0 for uncompressed or bit-field data, 1 for run-length encoded data.
  uint8_t BmpCompression = 0;
};
