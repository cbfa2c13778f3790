#pragma once
// JPEG 2000 signature tests and the YCbCr conversion tables of the reader
// (TImageIO::LoadFromFileJp2 and LoadFromFileJ2k).

#include <cstdint>

#include "io/ImStream.h"

// The JP2 signature box (00 00 00 0C 6A 50 20 20 0D 0A 87 0A) at the stream's
// position. The position is restored; a stream too short does not pass.
bool IsJp2Stream(TImStream& stream);
// A code stream start: SOC (FF 4F) followed by SIZ (FF 51).
bool IsJ2kStream(TImStream& stream);

// Chroma contributions, indexed by an 8-bit Cb or Cr value (128 = none).
struct TJp2YCbCrTables {
  int32_t RedFromCr[256];
  int32_t BlueFromCb[256];
  int32_t GreenFromCr[256];
  int32_t GreenFromCb[256];
};
const TJp2YCbCrTables& Jp2YCbCrTables();
