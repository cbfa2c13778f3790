#pragma once
// GIF stream reader; the load itself is TImageIO::LoadFromFileGif.

#include <memory>

#include "image/ImBitmap.h"
#include "io/ImStream.h"

struct TLoadProgress;
class TIOParams;

// Walks the GIF blocks from the stream's position to the trailer (or the end
// of the data), counts the frames into frameCount and decodes the frame
// params.GifFrameIndex into bitmap: im1bit for a black-then-white table,
// im8pal with NativePixelFormat, else im24bgr. Unless noMask is set, mask
// (created when null) receives an 8-bit plane of the frame's size, 255 with 0
// at transparent pixels. headerOnly fills the parameters and the colour map
// but touches neither bitmap nor mask. Bad data sets the Aborting flag.
void ReadGifStream(TImStream& stream, TImBitmap& bitmap, int& frameCount, bool noMask,
                   std::unique_ptr<TImMask>& mask, bool headerOnly, TLoadProgress& progress, TIOParams& params);
