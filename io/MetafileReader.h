#pragma once
// Metafile recognition and sizing; the loader itself is TImageIO::ImportMetafile.
// Windows metafiles are accepted only in their placeable form (22-byte header
// with key and checksum); enhanced metafiles by their first record and the
// " EMF" signature.

#include <cstdint>
#include <span>

// The screen's logical resolution in pixels per inch. A placeable Windows
// metafile is sized with it. The core has no screen; the window program may
// set the real value at start-up.
extern int32_t ImScreenPixelsPerInch;

// Windows' MulDiv: a * b / c rounded to the nearest integer (halves away from
// zero), computed without overflow; -1 when c is 0 or the result does not fit
// 32 bits.
int32_t ImMulDiv(int32_t a, int32_t b, int32_t c);

// What the header of a metafile says.
struct TMetafileInfo {
  bool Enhanced = false;
  // The picture in hundredths of a millimetre.
  int32_t WidthHmm = 0, HeightHmm = 0;
  // Units per inch of a placeable header (0 for enhanced metafiles).
  int32_t UnitsPerInch = 0;
  // Placeable bounding box (logical units of the Windows metafile).
  int16_t BoxLeft = 0, BoxTop = 0, BoxRight = 0, BoxBottom = 0;
  // Enhanced header: frame (hundredths of a millimetre), reference device.
  int32_t FrameLeft = 0, FrameTop = 0, FrameRight = 0, FrameBottom = 0;
  int32_t DevicePixelsX = 0, DevicePixelsY = 0, DeviceMmX = 0, DeviceMmY = 0;
  // The records: for a Windows metafile everything after the placeable
  // header (starting with its 18-byte header), for an enhanced metafile the
  // file up to the total size its header gives.
  std::span<const uint8_t> Records;
};

// Whether the bytes start like an enhanced metafile: more than 100 bytes, the
// first record of type 1 and the signature 0x464D4520 at byte 40.
bool IsEnhancedMetafile(std::span<const uint8_t> data);

// Reads the header of a metafile. False when it is not a valid metafile: no
// placeable header, a wrong key or checksum, a Windows metafile header that
// does not hold together, or an enhanced metafile shorter than its header says.
bool ReadMetafileInfo(std::span<const uint8_t> data, TMetafileInfo& info);

// The picture's natural size in pixels (may be 0 or negative for a picture
// with an empty or inverted frame).
void MetafilePixelSize(const TMetafileInfo& info, int32_t& width, int32_t& height);
