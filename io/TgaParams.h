#pragma once
// Fields of TIOParams that the Tga reader reports or reads.

#include <QDateTime>
#include <cstdint>
#include <string>

struct TTgaParams {
  int32_t TgaXOrigin = 0;  // header X and Y origin
  int32_t TgaYOrigin = 0;
  bool TgaCompressed = false;  // image type 9, 10 or 11 (run-length encoded)
  std::string TgaImageId;      // the ID field, as bytes
  std::string TgaAuthor;       // extension area, else empty
  std::string TgaJobName;      // extension area, else empty
  QDateTime TgaDate;           // extension area when valid, else today
  int32_t TgaKeyColor = 0;     // red in bits 0-7, green 8-15, blue 16-23
  double TgaAspectRatio = 1.0;
  double TgaGamma = 2.2;
  bool TgaGrayscale = false;  // 8-bit image without colour map
};
