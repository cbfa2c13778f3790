#pragma once
// Fields of TIOParams that the Gif reader reports or reads.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "image/ImBitmap.h"

class TImStream;

// Decodes one frame's LZW data into one colour index per pixel. The stream
// stands at the minimum code size byte; dest holds width x height bytes. A
// decoder that fails leaves the stream where it found it: callers judge
// success by whether the stream position moved.
using TGifLzwDecoder = void (*)(TImStream& stream, int height, int width, bool interlaced,
                                std::span<uint8_t> dest);

// Process-wide decoder that new parameters start with (the built-in one).
extern TGifLzwDecoder GifLzwDefaultDecoder;

struct TGifParams {
  std::string GifVersion;          // the six header characters, e.g. "GIF89a"
  int32_t GifScreenWidth = 0;      // logical screen size
  int32_t GifScreenHeight = 0;
  int32_t GifAspectRatio = 0;      // header byte 12, unconverted
  TImRGB GifBackgroundColor{};     // global table entry at the background index
  int32_t GifFrameLeft = 0;        // position of the frame read on the screen
  int32_t GifFrameTop = 0;
  bool GifInterlaced = false;
  int32_t GifDelay = 0;            // graphic control of the frame read
  bool GifTransparent = false;
  int32_t GifDisposal = 0;
  TImRGB GifTransparentColor{};    // table entry at the transparent index
  std::vector<std::string> GifComments;  // one line per comment sub-block
  int32_t GifFrameCount = 0;       // image descriptors met
  int32_t GifFrameIndex = 0;       // the frame to read
  TGifLzwDecoder GifLzwDecoder = GifLzwDefaultDecoder;
};
