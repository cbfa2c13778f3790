#pragma once
// Fields of TIOParams that the Jpeg reader reports or reads.

#include <cstdint>
#include <string>
#include <vector>

// One saved COM or APPn marker: its code (0xFE, 0xE0..0xEF) and its bytes
// (the marker's length is Data.size()).
struct TImMarker {
  uint8_t Code = 0;
  std::vector<uint8_t> Data;
};
using TImMarkerList = std::vector<TImMarker>;

struct TJpegParams {
  // Colour space stored in the file: 0 RGB, 1 grayscale, 2 YCbCr, 3 CMYK, 4 YCCK.
  uint8_t JpegColorSpace = 2;
  // Inverse DCT: 0 accurate integer, 1 fast integer, 2 floating point.
  uint8_t JpegDctMethod = 0;
  bool JpegProgressive = false;
  // Output scale: 0 automatic (fit the Width x Height held before the read),
  // 1 full size, 2 half, 3 quarter, 4 eighth.
  uint8_t JpegScale = 1;
  int32_t JpegScaleDenominator = 1;  // the denominator used: 1, 2, 4 or 8
  int32_t FullWidth = 0, FullHeight = 0;  // size stored in the file, before scaling
  TImMarkerList JpegMarkers;  // saved COM and APPn markers in file order, without a leading JFIF APP0
  int32_t JpegWarningTotal = 0;  // warnings the library counted during the last read
  int32_t JpegWarningCode = 0;   // message code of the last of those warnings
  // Text of the library error that stopped the last read ("" when none);
  // format parameters show as "?".
  std::string JpegErrorText;
};
