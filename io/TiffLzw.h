#pragma once
// LZW decoding of TIFF strips: codes of 9 to 12 bits, most significant bit
// first, with Clear (256) and End of Information (257), and the code width
// growing one code early (at 511, 1023 and 2047 table entries), as TIFF 6.0
// writers do.

#include <cstdint>
#include <span>

#include "io/TiffParams.h"

// The built-in TTiffLzwDecoder. Bits past the end of the source read as zero.
// End of Information ends the strip: the row it cuts short, and every row
// asked for afterwards, is completed with zero bytes. A code past the next
// free table entry, or a table growing past 4096 entries, is an error: this
// call and every later one return nullptr.
const uint8_t* DecodeTiffLzw(const std::span<const uint8_t>* source, int64_t rowLength, TTiffLzwState*& state);
