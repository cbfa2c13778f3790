#pragma once
// TJpegDecoder: one libjpeg decompression behind one owning object, for the
// JPEG reader and for callers that want only some of the rows of a JPEG
// stream (a row sink decides, row by row, where a row goes or whether it is
// skipped). Every library call runs in a guarded step; a library error ends
// the step with false, sets the caller's Aborting flag and leaves the
// library's message in ErrorText(). Nothing raised by libjpeg escapes.

#include <cstdint>
#include <memory>
#include <string>

#include "io/JpegParams.h"

class TImStream;

// Receives decoded rows as B, G, R bytes, OutputWidth() pixels each.
class TJpegRowSink {
 public:
  virtual ~TJpegRowSink() = default;
  // Where output row y goes, or nullptr to skip the row without decoding it
  // into pixels.
  virtual uint8_t* RowBuffer(int y) = 0;
  // Row y is in the buffer RowBuffer(y) gave. Returning false stops ReadRows.
  virtual bool RowDone(int y) = 0;
  // After RowBuffer(y) gave nullptr: how many rows from y on to skip in one
  // step (at least 1). The library skips whole blocks of rows far faster in
  // one call than row by row.
  virtual int SkipCount(int /*y*/) { return 1; }
};

// Colour space codes reported by Header().ColorSpace (JpegColorSpace values).
enum : int {
  jcsRGB = 0,
  jcsGray = 1,
  jcsYCbCr = 2,
  jcsCMYK = 3,
  jcsYCCK = 4,
  jcsUnknown = -1,
};

struct TJpegHeader {
  int Width = 0, Height = 0;  // size stored in the file
  int Components = 0;
  int ColorSpace = jcsUnknown;
  bool Progressive = false;
  int DensityUnit = 0, XDensity = 0, YDensity = 0;  // JFIF density, library defaults without JFIF
};

struct TJpegStartOptions {
  int DctMethod = -1;         // 0 accurate, 1 fast, 2 float; other values keep the library's default
  int ScaleDenominator = 0;   // 1, 2, 4 or 8; 0 keeps the library's default
  bool RawYCbCr = false;      // YCbCr files deliver Y, Cb, Cr instead of B, G, R
  bool HeaderOnly = false;    // compute the output size without starting the decoder
};

class TJpegDecoder {
 public:
  // Reads from stream's position; tables, when given, is an abbreviated
  // stream holding only tables, read before the image's header. aborting
  // (may be null) is set on every library error and on an empty stream.
  TJpegDecoder(TImStream& stream, TImStream* tables, bool* aborting);
  ~TJpegDecoder();
  TJpegDecoder(const TJpegDecoder&) = delete;
  TJpegDecoder& operator=(const TJpegDecoder&) = delete;

  // Saves COM and APPn markers and reads the header (an image is required).
  bool ReadHeader();
  const TJpegHeader& Header() const;
  // Chooses the output and starts decompression (or, with HeaderOnly, only
  // computes the output size). Refuses images beyond ImSizeAllowed.
  bool Start(const TJpegStartOptions& options);
  int OutputWidth() const;
  int OutputHeight() const;
  int ScaleDenominator() const;
  // Decodes the remaining rows into sink, in order. False on a library error
  // or when the stream delivers no more rows; true when the sink stopped or
  // every row was delivered.
  bool ReadRows(TJpegRowSink& sink);
  int RowsRead() const;  // output rows decoded or skipped so far
  // Ends the decompression (after every row was read); errors are ignored.
  void Finish();

  // COM and APPn markers saved so far, in file order.
  TImMarkerList Markers() const;
  int WarningCount() const;
  int LastWarningCode() const;
  const std::string& ErrorText() const;

  struct TState;

 private:
  std::unique_ptr<TState> s_;
};
