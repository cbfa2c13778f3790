#pragma once
// Fields of TIOParams that the Tiff reader reports or reads.

#include <cstdint>
#include <span>
#include <string>

// Decoding state of one LZW-compressed strip, tile or colour plane.
struct TTiffLzwState;

// An LZW routine for TIFF data, called once per row: the first call of a strip
// (state null) creates the state from source and rowLength; later calls
// ignore both and return the next row. Returns the address of rowLength
// decoded bytes (valid until the next call), or nullptr on a coding error. A
// call with a null source releases the state and sets it to null.
using TTiffLzwDecoder = const uint8_t* (*)(const std::span<const uint8_t>* source, int64_t rowLength,
                                           TTiffLzwState*& state);

// The process-wide LZW routine that new parameters start with (DecodeTiffLzw).
extern TTiffLzwDecoder DefTiffLzwDecoder;

struct TTiffParams {
  // Read by the reader: the 0-based page to load, whether to turn the image
  // upright by its Orientation tag, and the LZW routine to use.
  int32_t TiffPageIndex = 0;
  bool TiffApplyOrientation = false;
  TTiffLzwDecoder TiffLzwDecoder = DefTiffLzwDecoder;

  // Reported by the reader.
  int32_t TiffPageCount = 0;    // directories in the file's chain
  int32_t TiffCompression = 0;  // 0 none .. 8 PackBits, 9 other (see TiffReader.h)
  int32_t TiffPhotometric = 0;  // PhotometricInterpretation 0..6, CIELab as 7
  int32_t TiffPlanarConfig = 1;
  std::string TiffDocumentName, TiffImageDescription, TiffPageName;
  int32_t TiffPageNumber = 0, TiffPageTotal = 0;
  int32_t TiffOrientation = 1;
  int32_t TiffXPosition = 0, TiffYPosition = 0;  // in resolution units
};
