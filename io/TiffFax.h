#pragma once
// CCITT fax decoding for TIFF: modified Huffman rows (ITU-T T.4 one-
// dimensional coding) and two-dimensional rows (T.4 two-dimensional coding
// and T.6). Decoded rows are bilevel, most significant bit first, white as
// set bits.
//
// Both decoders see the strip data through a bit window: FillOrder 1 takes
// each byte's bits from the most significant one, FillOrder 2 from the least
// significant one. They never fail and never read outside data: a bit
// sequence that is no code is skipped one bit at a time, runs are cut at the
// row's end, and a row ends at its width or at the end of the data (the rest
// of it then stays white).

#include <cstdint>
#include <span>

// Decodes one one-dimensionally coded row from bit startBit of data into row
// ((width + 7) / 8 bytes at least; every byte of row is set first). A leading
// end-of-line code is skipped; an end-of-line code inside the row ends it.
// Returns the bit position after the last code read.
int64_t DecodeFaxRow1D(std::span<uint8_t> row, std::span<const uint8_t> data, int width, int fillOrder,
                       int64_t startBit);

// Decodes one two-dimensionally coded row against refRow (the previous row;
// all white before the first row of a strip). byteAligned: zero fill bits
// may precede each end-of-line code (TIFF T4Options bit 2). An end-of-line
// code at startBit followed by a 1 bit introduces a one-dimensionally coded
// row; an end-of-line code elsewhere ends the row before it. Uncompressed-mode
// extensions are stepped over without drawing. The decoded row is copied into
// refRow (as many bytes as both hold). Returns the bit position after the row.
int64_t DecodeFaxRow2D(std::span<uint8_t> row, std::span<const uint8_t> data, bool byteAligned, int fillOrder,
                       int64_t startBit, std::span<uint8_t> refRow, int width);
