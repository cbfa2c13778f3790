#pragma once
// LZW decoder for GIF image data.

#include <cstdint>
#include <span>

#include "io/ImStream.h"

// Decodes the image data at the stream's position (minimum code size byte,
// then data sub-blocks) into dest, one colour index per pixel, row by row or
// in the four-pass interlace order. Pixels the data does not reach are left
// as they are. On success the stream stands after the sub-blocks' zero length
// byte; on failure (minimum code size outside 2..9, a code beyond the next
// free table entry, a code other than clear or end once the table is full, an
// end code right after a clear code while data remains) the stream is put
// back where it was.
void DecodeGifLzw(TImStream& stream, int height, int width, bool interlaced, std::span<uint8_t> dest);
