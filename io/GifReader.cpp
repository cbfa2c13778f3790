// GIF reader: the block walk that counts frames and decodes one of them, and
// the load that composes the frames of an animation on the logical screen.
#include "io/GifReader.h"

#include <algorithm>
#include <array>
#include <vector>

#include "io/GifLzw.h"
#include "io/ImageIO.h"

namespace {

using TGifTable = std::array<TImRGB, 256>;

// Reads a colour table of 2 << exponent entries (R, G, B in the file) into
// B, G, R entries. Entries past the data read as black.
void ReadTable(TImStream& s, int exponent, TGifTable& table) {
  const int count = 2 << exponent;
  for (int i = 0; i < count; ++i) {
    TImRGB& e = table[static_cast<size_t>(i)];
    e.R = s.U8();
    e.G = s.U8();
    e.B = s.U8();
  }
}

// Seeks over data sub-blocks up to a zero length byte or the end of the data.
void SkipSubBlocks(TImStream& s) {
  while (!s.AtEnd()) {
    const uint8_t len = s.U8();
    if (len == 0) break;
    s.Skip(len);
  }
}

// A colour as the toolkit encodes it (red in the low byte).
TColor ToColor(const TImRGB& c) { return c.R | (c.G << 8) | (c.B << 16); }

bool IsBlackThenWhite(const std::vector<TImRGB>& map) {
  return map.size() == 2 && map[0].R == 0 && map[0].G == 0 && map[0].B == 0 && map[1].R == 255 &&
         map[1].G == 255 && map[1].B == 255;
}

// Fills the frame bitmap from the index buffer in the format the colour map
// calls for.
void FillFrame(TImBitmap& bitmap, const std::vector<uint8_t>& indices, int w, int h, const TIOParams& p) {
  const std::vector<TImRGB>& map = p.ColorMap;
  auto colourOf = [&](uint8_t i) { return i < map.size() ? map[i] : TImRGB{}; };
  if (IsBlackThenWhite(map)) {
    bitmap.Allocate(w, h, im1bit);
    std::vector<uint8_t> row(static_cast<size_t>(bitmap.RowLen()));
    for (int y = 0; y < h; ++y) {
      std::fill(row.begin(), row.end(), 0);
      const uint8_t* src = indices.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
      for (int x = 0; x < w; ++x)
        if (src[x] == 1) row[static_cast<size_t>(x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
      if (uint8_t* d = bitmap.Scanline(y)) std::copy(row.begin(), row.end(), d);
    }
  } else if (p.NativePixelFormat) {
    bitmap.Allocate(w, h, im8pal);
    for (size_t i = 0; i < map.size(); ++i) bitmap.SetPaletteColor(static_cast<int>(i), map[i].B | (map[i].G << 8) | (map[i].R << 16));
    for (int y = 0; y < h; ++y)
      if (uint8_t* d = bitmap.Scanline(y))
        std::copy_n(indices.data() + static_cast<size_t>(y) * static_cast<size_t>(w), w, d);
  } else {
    bitmap.Allocate(w, h, im24bgr);
    for (int y = 0; y < h; ++y) {
      uint8_t* d = bitmap.Scanline(y);
      if (!d) continue;
      const uint8_t* src = indices.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
      for (int x = 0; x < w; ++x, d += 3) {
        const TImRGB c = colourOf(src[x]);
        d[0] = c.B;
        d[1] = c.G;
        d[2] = c.R;
      }
    }
  }
}

void FillMask(TImMask& mask, const std::vector<uint8_t>& indices, int w, int h, bool transparent, uint8_t key) {
  mask.Allocate(w, h, 8);
  mask.Fill(255);
  if (!transparent) return;
  for (int y = 0; y < h; ++y) {
    uint8_t* m = mask.Scanline(y);
    const uint8_t* src = indices.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
    for (int x = 0; x < w; ++x)
      if (src[x] == key) {
        m[x] = 0;
        mask.Full = false;
      }
  }
}

}  // namespace

void ReadGifStream(TImStream& s, TImBitmap& bitmap, int& frameCount, bool noMask, std::unique_ptr<TImMask>& mask,
                   bool headerOnly, TLoadProgress& progress, TIOParams& p) {
  progress.PerUnit = 1;
  progress.Report(0);
  frameCount = 0;
  // The graphic control bytes of the wanted frame: packed, delay (2), key.
  std::array<uint8_t, 4> control{};

  uint8_t header[13];
  s.Read(header, sizeof header);
  if (header[0] != 'G' || header[1] != 'I' || header[2] != 'F') {
    progress.Abort();
    return;
  }
  p.GifVersion.assign(reinterpret_cast<const char*>(header), 6);
  p.GifScreenWidth = header[6] | (header[7] << 8);
  p.GifScreenHeight = header[8] | (header[9] << 8);
  p.GifAspectRatio = header[12];
  p.SetDpiX(ImDefaultDpiX);
  p.SetDpiY(ImDefaultDpiY);
  p.SamplesPerPixel = 1;
  // Comments are collected afresh on every walk: the load walks the file
  // once per frame it composes.
  p.GifComments.clear();
  const bool hasGlobal = (header[10] & 0x80) != 0;
  const int globalExponent = header[10] & 7;
  TGifTable global{};
  if (hasGlobal) {
    ReadTable(s, globalExponent, global);
    p.GifBackgroundColor = global[header[11]];
  }
  if (s.AtEnd()) progress.Abort();

  int counter = 0;
  while (!progress.IsAborting()) {
    uint8_t introducer = s.U8();
    if (s.AtEnd()) introducer = ';';
    if (introducer == '!') {
      const uint8_t label = s.U8();
      if (label == 0xF9 && counter == p.GifFrameIndex) {
        s.U8();  // block size, taken as 4
        for (uint8_t& b : control) b = s.U8();
        s.U8();  // terminator
      } else if (label == 0xFE) {
        while (!s.AtEnd()) {
          const uint8_t len = s.U8();
          if (len == 0) break;
          if (s.AtEnd()) break;
          std::vector<uint8_t> text(len);
          s.Read(text.data(), len);
          const auto zero = std::find(text.begin(), text.end(), 0);
          if (zero != text.begin()) p.GifComments.emplace_back(text.begin(), zero);
        }
      } else {
        SkipSubBlocks(s);
      }
    } else if (introducer == ',') {
      const int left = s.U16LE(), top = s.U16LE(), w = s.U16LE(), h = s.U16LE();
      const uint8_t packed = s.U8();
      const bool hasLocal = (packed & 0x80) != 0;
      const int localExponent = packed & 7;
      TGifTable local{};
      if (hasLocal) ReadTable(s, localExponent, local);
      if (counter != p.GifFrameIndex) {
        s.U8();  // minimum code size
        SkipSubBlocks(s);
      } else {
        progress.Report(30);
        if (progress.IsAborting()) break;
        const TGifTable& table = hasLocal ? local : global;
        const uint8_t key = control[3];
        p.GifTransparentColor = table[key];
        p.GifFrameLeft = left;
        p.GifFrameTop = top;
        p.Width = w;
        p.Height = h;
        p.GifDelay = control[1] | (control[2] << 8);
        p.GifTransparent = (control[0] & 1) != 0;
        p.GifInterlaced = (packed & 0x40) != 0;
        p.GifDisposal = (control[0] >> 2) & 7;
        std::vector<uint8_t> indices;
        if (!headerOnly) {
          // The size comes from the file: test it before allocating. Pixels
          // the data does not reach keep index 0.
          if (!ImSizeDescribable(w, h, 8, s.Remaining())) {
            progress.Abort();
            break;
          }
          indices.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
          const int64_t before = s.Position();
          if (p.GifLzwDecoder) p.GifLzwDecoder(s, h, w, p.GifInterlaced, indices);
          else if (GifLzwDefaultDecoder) GifLzwDefaultDecoder(s, h, w, p.GifInterlaced, indices);
          if (s.Position() == before) {
            progress.Abort();
            break;
          }
          progress.Report(70);
          if (progress.IsAborting()) break;
        }
        p.BitsPerSample = (hasLocal ? localExponent : globalExponent) + 1;
        p.SetColorMap(table.data(), 1 << p.BitsPerSample);
        if (!headerOnly) {
          FillFrame(bitmap, indices, w, h, p);
          if (!noMask) {
            if (!mask) mask = std::make_unique<TImMask>();
            FillMask(*mask, indices, w, h, p.GifTransparent, key);
          }
        }
      }
      ++counter;
    } else if (introducer == ';') {
      break;
    }
  }
  frameCount = counter;
  p.GifFrameCount = counter;
  if (!progress.IsAborting()) progress.Report(100);
}

namespace {

// Draws a frame onto a canvas that the renderer cannot draw into (1-bit or
// palette pixels): pixels whose alpha is at least half opaque are copied, the
// others leave the canvas unchanged.
void DrawThroughAlpha(TImBitmap& frame, TImBitmap& canvas, int left, int top) {
  TImBitmap* alpha = frame.AlphaChannel();
  const TImPixelFormat f = frame.PixelFormat();
  const int w = frame.Width(), h = frame.Height(), cw = canvas.Width(), ch = canvas.Height();
  std::vector<uint8_t> src(static_cast<size_t>(frame.RowLen())), a(static_cast<size_t>(w), 255);
  for (int y = 0; y < h; ++y) {
    const int cy = top + y;
    if (cy < 0 || cy >= ch) continue;
    const uint8_t* s = frame.Scanline(y);
    if (!s) continue;
    std::copy_n(s, src.size(), src.begin());
    if (alpha)
      if (const uint8_t* ar = alpha->Scanline(y)) std::copy_n(ar, a.size(), a.begin());
    uint8_t* d = canvas.Scanline(cy);
    if (!d) continue;
    for (int x = 0; x < w; ++x) {
      const int cx = left + x;
      if (cx < 0 || cx >= cw || a[static_cast<size_t>(x)] < 128) continue;
      if (f == im1bit) {
        const uint8_t bit = static_cast<uint8_t>(0x80 >> (cx & 7));
        if (src[static_cast<size_t>(x >> 3)] & (0x80 >> (x & 7))) d[cx >> 3] |= bit;
        else d[cx >> 3] &= static_cast<uint8_t>(~bit);
      } else {
        d[cx] = src[static_cast<size_t>(x)];
      }
    }
  }
}

}  // namespace

void TImageIO::LoadFromFileGif(const std::string& fileName) {
  TLoadOptions options;
  options.FileType = ioGIF;
  // Resolution defaults are applied to every frame read; the view's
  // resolution is not set by this load.
  options.DefaultDpi = false;
  options.ViewResolution = false;
  RunFormatLoad(fileName, options, [this](TImStream& stream, TLoadProgress& progress, std::unique_ptr<TImMask>&) {
    TIOParams& p = Params();
    TImBitmap& dest = *Bitmap();
    const int64_t start = stream.Position();
    const int wanted = p.GifFrameIndex;
    TImBitmap canvas;
    canvas.SetLocation(imTBitmap);
    int prevDisposal = 0;
    int prevLeft = 0, prevTop = 0, prevWidth = 0, prevHeight = 0;
    int frameCount = 0;
    for (int i = 0;; ++i) {
      TImBitmap frame;
      stream.Seek(start);
      stream.ClearFailed();
      p.GifFrameIndex = i;
      std::unique_ptr<TImMask> mask;
      ReadGifStream(stream, frame, frameCount, false, mask, false, progress, p);
      ApplyDefaultDpi();
      if (Aborting) break;
      const int frameW = frame.Width(), frameH = frame.Height();
      const int targetW = std::max(p.GifScreenWidth, frameW), targetH = std::max(p.GifScreenHeight, frameH);
      if (mask) {
        frame.AlphaChannel()->CopyFromMask(mask.get());
        mask.reset();
      }
      TImBitmap* result = &frame;
      if (frameCount > 1) {
        // The canvas is the size of the logical screen (or of a larger
        // frame); the size comes from the file, so it is tested first.
        if (!ImSizeDescribable(targetW, targetH, 8, stream.Size())) {
          Aborting = true;
          break;
        }
        const TColor background = ToColor(p.GifBackgroundColor);
        if (prevDisposal == 2) {
          // Disposal 2: the previous frame's area goes back to the background.
          canvas.FillRect(prevLeft, prevTop, prevLeft + prevWidth - 1, prevTop + prevHeight - 1, background);
          canvas.AlphaChannel()->FillRect(prevLeft, prevTop, prevLeft + prevWidth - 1, prevTop + prevHeight - 1, 0);
        }
        if (canvas.Width() == 0 || canvas.Height() == 0 || canvas.PixelFormat() != frame.PixelFormat()) {
          canvas.Allocate(targetW, targetH, frame.PixelFormat());
          if (frame.PixelFormat() == im8pal)
            for (int c = 0; c < frame.PaletteCount(); ++c) {
              const TImRGB e = frame.Palette()[c];
              canvas.SetPaletteColor(c, e.B | (e.G << 8) | (e.R << 16));
            }
          canvas.Fill(background);
          canvas.AlphaChannel()->Fill(0);
        }
        if (canvas.Width() < targetW || canvas.Height() < targetH)
          canvas.Resize(std::max(canvas.Width(), targetW), std::max(canvas.Height(), targetH), background, 255, 0, 0);
        if (canvas.PixelFormat() == im24bgr) {
          TImBitmap::TRenderArgs args;
          args.SrcWidth = args.DestWidth = frameW;
          args.SrcHeight = args.DestHeight = frameH;
          args.DestX = p.GifFrameLeft;
          args.DestY = p.GifFrameTop;
          args.AlphaEnable = true;
          if (QImage* image = canvas.GetTBitmap()) frame.Render(*image, args);
        } else {
          DrawThroughAlpha(frame, canvas, p.GifFrameLeft, p.GifFrameTop);
        }
        if (i == 0 || prevDisposal == 2) {
          frame.AlphaChannel()->CopyRectTo(*canvas.AlphaChannel(), 0, 0, frameW, frameH, p.GifFrameLeft,
                                           p.GifFrameTop);
          canvas.AlphaChannel()->AlphaFull = false;
        }
        prevLeft = p.GifFrameLeft;
        prevTop = p.GifFrameTop;
        prevWidth = frameW;
        prevHeight = frameH;
        prevDisposal = p.GifDisposal;
        result = &canvas;
      }
      if (frameCount >= 1) {
        dest.Assign(*result);
        if (OnProgress) OnProgress(this, static_cast<int>(i * (100.0 / frameCount)));
      }
      if (i + 1 >= frameCount || i == wanted) break;
    }
    p.GifFrameIndex = wanted;
    SetBackground(ToColor(p.GifTransparent ? p.GifTransparentColor : p.GifBackgroundColor));
  });
  // RunFormatLoad records the file name and type after the read.
}
