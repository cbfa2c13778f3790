#pragma once
// JPEG reading on libjpeg: the file loader and the stream entry points that
// the TIFF reader uses for JPEG-compressed strips and tiles.

#include <cstdint>

class TImStream;
class TImBitmap;
class TIOParams;
struct TLoadProgress;

// Looks for the start of a JPEG stream (the bytes FF D8 FF) at the stream's
// position p and at the 99 positions after it. Returns the first position
// that has them, or -1. The stream is left at p.
int64_t FindJpegStart(TImStream& stream);

// Decodes the JPEG stream that starts within 100 bytes of the stream's
// position into target as im24bgr and fills the JPEG fields of params.
// tables, when given, is an abbreviated stream holding only tables (a TIFF
// JPEGTables tag); it is read before the image's own header. headerOnly stops
// after the sizes are known. rawYCbCr asks for the stored components without
// colour conversion (bytes Y, Cb, Cr in that order in every pixel).
// Errors never leave the function: they set progress's Aborting flag, with
// the library's message in params.JpegErrorText. A stream cut short decodes to
// its end without Aborting (the library completes the missing rows).
void ReadJpegStream(TImStream& stream, TImStream* tables, TImBitmap& target, TIOParams& params,
                    TLoadProgress& progress, bool headerOnly = false, bool rawYCbCr = false);
