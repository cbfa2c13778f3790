#pragma once
// Fields of TIOParams that the icon and cursor readers report or read.

#include <array>
#include <cstdint>

#include "image/ImBitmap.h"

struct TIcoSize {
  int32_t Width = 0, Height = 0;
};

struct TIcoParams {
  int32_t IcoImageIndex = 0;                       // image of an icon file to read
  TImRGB IcoBackground{255, 255, 255};              // colour of transparent icon pixels
  std::array<TIcoSize, 16> IcoSizes{{{64, 64}}};    // sizes listed in the directory
  std::array<int32_t, 16> IcoBitCounts{{8}};        // bit depths listed in the directory
  int32_t CurImageIndex = 0;                       // image of a cursor file to read
  TImRGB CurBackground{255, 255, 255};              // colour of transparent cursor pixels
  int32_t CurHotSpotX = 0;                         // hot spot of the cursor image read
  int32_t CurHotSpotY = 0;
};
