#pragma once
// TIFF reading: the tags of one page (TTIFFVars), the row decompressor that
// the strip and tile loop plugs in, and the stream reader behind
// LoadFromFileTiff (also used for the TIFF structure inside EXIF blocks).

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "image/ImBitmap.h"
#include "io/TiffParams.h"

class TImStream;
class TIOParams;
struct TLoadProgress;

// The decoded tags of one page, with the defaults of absent tags.
struct TTIFFVars {
  bool BigEndian = false;  // "MM" file
  int32_t ImageWidth = 0, ImageLength = 0;
  int32_t BitsPerSample = 1;
  uint16_t Compression = 1;
  uint16_t Photometric = 2;
  int32_t FillOrder = 1;
  uint16_t Orientation = 1;
  int32_t SamplesPerPixel = 1;
  int64_t RowsPerStrip = 0;  // ImageLength when absent or 4294967295
  double XResolution = 0, YResolution = 0;
  uint16_t PlanarConfig = 1;
  double XPosition = 0, YPosition = 0;
  int32_t T4Options = 0, T6Options = 0;
  int32_t ResolutionUnit = 2;
  std::string Software;
  int32_t Predictor = 1;
  std::vector<TImRGB> ColorMap;  // 1 << BitsPerSample entries when the page has one
  int32_t TileWidth = -1, TileLength = -1;
  std::vector<uint32_t> StripOffsets, StripByteCounts, TileOffsets, TileByteCounts;
  int32_t ExtraSamples = 0;
  std::vector<uint8_t> JpegTables;
  int32_t JpegProc = 0, JpegIFOffset = 0, JpegIFLength = 0, JpegRestartInterval = 0;
  int32_t InkSet = 1, NumberOfInks = 4;
  TTiffLzwDecoder LzwDecoder = nullptr;
};

// TiffCompression code of a Compression tag: 1 -> 0, 2 -> 1, 3 -> 2 (1-D) or
// 3 (2-D, T4Options bit 0), 4 -> 4, 5 -> 5, 6 -> 6, 7 -> 7, 32773 -> 8, else 9.
int32_t TiffCompressionCode(int compression, int t4Options);

// Decompresses the next row of a strip (or tile, or colour plane) into one
// row of samples. strip holds the strip's bytes; cursor is the byte position
// for compressions 1, 2 and 32773; lzw, refRow and bitPos are the per-strip
// slots (null, all bits set and 0 at the start of a strip). On return row
// points at the samples: into strip for uncompressed data of 8 or more bits
// per sample, else into buffer (resized as needed). Samples of 4 bits come out
// one per byte (times 16 for gray), of 2, 3, 5, 6 and 7 bits one per byte;
// the horizontal predictor is undone for LZW data. Data missing at the end
// of the strip reads as zero bits. Returns false only on an LZW coding error
// (or LZW without a routine).
bool DecompressTiffRow(const uint8_t*& row, std::vector<uint8_t>& buffer, std::span<const uint8_t> strip,
                       int64_t& cursor, const TTIFFVars& vars, int width, int64_t rowLength,
                       TTiffLzwState*& lzw, std::vector<uint8_t>& refRow, int64_t& bitPos);

// Reads page params.TiffPageIndex of the TIFF structure in stream into
// target. baseAtPosition makes the stream's position the base of all offsets
// (else the base is 0); acceptEmpty lets a page without width or height
// through; noMask suppresses the alpha mask that extra samples create (mask,
// when the caller passes one, is used as it is). Failures set Aborting.
void ReadTiffStream(TImBitmap& target, TImStream& stream, int& pageCount, bool acceptEmpty, bool noMask,
                    bool baseAtPosition, std::unique_ptr<TImMask>& mask, bool headerOnly,
                    TLoadProgress& progress, TIOParams& params);
