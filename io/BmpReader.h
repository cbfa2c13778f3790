#pragma once
// Windows and OS/2 bitmap reading; also used for bitmaps stored in icon files.

#include <cstdint>

class TImStream;
class TImBitmap;
class TIOParams;
struct TLoadProgress;

// Decodes the bitmap at the stream's position into target: im1bit for 1 bit
// per pixel (set bits white), im24bgr for 4, 8, 16, 24 and 32 bits, from
// uncompressed, RLE4, RLE8 and bit-field data, bottom-up or top-down rows,
// OS/2 12-byte and Windows 40-byte and longer headers. byteCount is the
// number of bytes of the bitmap from the stream's position (below 1: the file
// header's file size). With noFileHeader the stream starts with the info
// header. Fills Width, Height, BitsPerSample, SamplesPerPixel, DpiX, DpiY,
// ColorMap, BmpVersion and BmpCompression. Bad or unsupported data sets
// progress's Aborting flag; pixels the data does not reach stay zero.
void ReadBmpStream(TImStream& stream, TImBitmap& target, int64_t byteCount, TIOParams& params,
                   TLoadProgress& progress, bool headerOnly = false, bool noFileHeader = false);
