#pragma once
// PNG reading on libpng: the stream entry point behind the file loader, also
// used for PNG-compressed icon images.

#include <memory>

class TImStream;
class TImBitmap;
class TIOParams;
class TImMask;
struct TLoadProgress;

// Decodes the PNG stream at the stream's position into target: im1bit for
// 1-bit gray and palette images (set bits white), im24bgr for everything else
// (with NativePixelFormat: im8pal and im8gray for 8-bit palette and gray).
// alphaMask receives an 8-bit Width x Height transparency mask, 255 where
// opaque (created when null, reused otherwise); it is 255 everywhere for
// images without alpha. Fills Width, Height, BitsPerSample, SamplesPerPixel,
// DpiX, DpiY, ColorMap and PngInterlaced. Errors never leave the function:
// they set progress's Aborting flag; rows not decoded stay as allocated.
void ReadPngStream(TImStream& stream, TImBitmap& target, TIOParams& params, TLoadProgress& progress,
                   std::unique_ptr<TImMask>& alphaMask, bool headerOnly = false);
