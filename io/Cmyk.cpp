#include "io/Cmyk.h"

void ConvertCmykToBgr(const uint8_t* cmyk, uint8_t* bgr, int64_t count) {
  for (int64_t i = 0; i < count; ++i, cmyk += 4, bgr += 3) {
    const unsigned k = cmyk[3];
    bgr[0] = static_cast<uint8_t>(cmyk[2] * k / 255);
    bgr[1] = static_cast<uint8_t>(cmyk[1] * k / 255);
    bgr[2] = static_cast<uint8_t>(cmyk[0] * k / 255);
  }
}
