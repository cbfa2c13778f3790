#pragma once
// Basic enumerations and helpers shared by the image model.

#include <cstdint>

// Pixel formats of an image buffer. The values are stored and compared as bytes.
enum TImPixelFormat : uint8_t {
  imNone = 0,
  im1bit = 1,    // 8 pixels per byte, leftmost pixel in the most significant bit, 1 = white
  im8pal = 2,    // one byte: palette index
  im8gray = 3,   // one byte: 0 black .. 255 white; alpha channels use this format
  im16gray = 4,  // one little-endian 16-bit word
  im24bgr = 5,   // bytes blue, green, red
  im32f = 6,     // one 32-bit float, gray 0.0 .. 1.0
};

// Where a buffer keeps its rows.
enum TImLocation : uint8_t {
  imHeap = 0,      // one block of process memory, rows bottom-up
  imTempFile = 1,  // a temporary file, one row mapped at a time
  imTBitmap = 2,   // a QImage (1-bit, 8-bit indexed or 24-bit BGR)
};

// Resampling filters, in their stored order.
enum TResampleFilter : uint8_t {
  rfNone = 0,
  rfTriangle = 1,
  rfHermite = 2,
  rfBell = 3,
  rfBSpline = 4,
  rfLanczos3 = 5,
  rfMitchell = 6,
  rfNearest = 7,
  rfLinear = 8,
  rfFastLinear = 9,
  rfBilinear = 10,
  rfBicubic = 11,
};

// Bits per pixel, indexed by TImPixelFormat.
inline constexpr int kImBitCount[7] = {0, 1, 8, 8, 16, 24, 32};

inline const char* PixelFormatName(TImPixelFormat f) {
  switch (f) {
    case imNone: return "imNone";
    case im1bit: return "im1bit";
    case im8pal: return "im8pal";
    case im8gray: return "im8gray";
    case im16gray: return "im16gray";
    case im24bgr: return "im24bgr";
    case im32f: return "im32f";
  }
  return "imNone";
}

// A colour as the toolkit encodes it: red in bits 0-7, green 8-15, blue 16-23.
// Negative values are system colour codes (see ResolveSystemColor).
using TColor = int32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
// System colour codes: 0x80000000 | index. clBtnFace is the dialog face colour.
inline constexpr TColor clBtnFace = static_cast<TColor>(0x8000000F);
inline constexpr TColor clWindow = static_cast<TColor>(0x80000005);
inline constexpr TColor clAppWorkSpace = static_cast<TColor>(0x8000000C);

// Turns a system colour code into a plain red/green/blue value; plain colours
// are returned unchanged. The core has no desktop theme, so system colours map
// to the classic fixed values; the widget layer may install its own resolver.
TColor ResolveSystemColor(TColor c);
using TSystemColorResolver = TColor (*)(TColor);
void SetSystemColorResolver(TSystemColorResolver resolver);
