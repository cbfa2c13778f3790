// Icon and cursor reader: one image of an icon or cursor file, stored as a
// device-independent bitmap (1, 4, 8, 24 or 32 bits per pixel, colour rows
// then an AND mask) or as a PNG stream, with an 8-bit transparency mask.
#include <algorithm>
#include <array>
#include <cmath>

#include "io/BmpReader.h"
#include "io/ImageIO.h"
#include "io/PngReader.h"

namespace {

constexpr int kInfoHeaderSize = 40;

struct TIcoEntry {
  int Width = 0, Height = 0, ColorCount = 0;
  int Planes = 0, BitCount = 0;  // the hot spot X and Y in cursor files
  uint32_t Offset = 0;
};

TIcoEntry ReadEntry(TImStream& s) {
  TIcoEntry e;
  e.Width = s.U8();
  e.Height = s.U8();
  e.ColorCount = s.U8();
  s.U8();
  e.Planes = s.U16LE();
  e.BitCount = s.U16LE();
  s.U32LE();
  e.Offset = s.U32LE();
  return e;
}

int CeilLog2(int n) {
  int d = 0;
  while ((1 << d) < n) ++d;
  return d;
}

bool IsPng(std::span<const uint8_t> b) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
  return b.size() >= 8 && std::equal(kSignature, kSignature + 8, b.begin());
}

bool IsWhite(const TImRGB& c) { return c.B == 255 && c.G == 255 && c.R == 255; }

inline void PutColor(uint8_t* row, int x, const TImRGB& c) {
  row[3 * x] = c.B;
  row[3 * x + 1] = c.G;
  row[3 * x + 2] = c.R;
}

// Decodes the colour rows and the AND rows that follow the colour table at
// the stream's position. File row i is target row height - 1 - i. Only bytes
// that are in the file are decoded; the pixels they do not reach stay zero
// (and opaque). Returns false when the data is shorter than the image.
bool DecodeDib(TImStream& s, TImBitmap& bitmap, TImMask& mask, int depth, int width, int height,
               const std::array<TImRGB, 256>& pal, const TImRGB& background) {
  const int64_t colourRow = (int64_t(width) * depth + 31) / 32 * 4;
  const int64_t andRow = (int64_t(width) + 31) / 32 * 4;
  const int64_t colourStart = s.Position();
  const std::span<const uint8_t> colour = s.Bytes(colourStart, colourRow * height);
  // 24- and 32-bit images keep their colours as stored and take no AND mask.
  const bool useAnd = depth <= 8;
  const std::span<const uint8_t> andBits =
      useAnd ? s.Bytes(colourStart + colourRow * height, andRow * height) : std::span<const uint8_t>();
  const bool whiteBackground = IsWhite(background);
  for (int i = 0; i < height; ++i) {
    const int y = height - 1 - i;
    uint8_t* row = bitmap.Scanline(y);
    uint8_t* alpha = mask.Scanline(y);
    const int64_t c0 = colourRow * i, a0 = andRow * i;
    auto has = [&](std::span<const uint8_t> d, int64_t off) { return off < static_cast<int64_t>(d.size()); };
    auto transparent = [&](int x) {
      const int64_t off = a0 + x / 8;
      return has(andBits, off) && ((andBits[static_cast<size_t>(off)] >> (7 - (x & 7))) & 1);
    };
    if (depth == 1) {
      const int64_t n = std::min<int64_t>((width + 7) / 8, std::max<int64_t>(0, int64_t(colour.size()) - c0));
      if (n > 0) std::copy_n(colour.begin() + c0, n, row);
      for (int x = 0; x < width; ++x) {
        if (!transparent(x)) continue;
        alpha[x] = 0;
        // On a white background the screen shows the inverse of the colour
        // bit; on any other background the bit as stored.
        if (whiteBackground) row[x >> 3] ^= static_cast<uint8_t>(0x80 >> (x & 7));
      }
      continue;
    }
    for (int x = 0; x < width; ++x) {
      switch (depth) {
        case 4:
        case 8: {
          const int64_t off = c0 + (depth == 4 ? x / 2 : x);
          if (transparent(x)) {
            PutColor(row, x, background);
            alpha[x] = 0;
          } else if (has(colour, off)) {
            const uint8_t b = colour[static_cast<size_t>(off)];
            PutColor(row, x, pal[depth == 8 ? b : (x & 1) ? b & 15 : b >> 4]);
          }
          break;
        }
        case 24: {
          const int64_t off = c0 + 3 * int64_t(x);
          if (has(colour, off + 2)) std::copy_n(colour.begin() + off, 3, row + 3 * x);
          break;
        }
        default: {  // 32: blue, green, red and the alpha byte
          const int64_t off = c0 + 4 * int64_t(x);
          if (has(colour, off + 3)) {
            std::copy_n(colour.begin() + off, 3, row + 3 * x);
            alpha[x] = colour[static_cast<size_t>(off + 3)];
          }
          break;
        }
      }
    }
  }
  return static_cast<int64_t>(colour.size()) == colourRow * height &&
         static_cast<int64_t>(andBits.size()) == (useAnd ? andRow * height : 0);
}

enum class TIcoKind { Icon, Cursor };

void ReadIconOrCursor(TImStream& s, TImBitmap& bitmap, TIOParams& p, TLoadProgress& progress,
                      std::unique_ptr<TImMask>& mask, TIcoKind kind) {
  const bool cursor = kind == TIcoKind::Cursor;
  const int64_t start = s.Position();
  const std::span<const uint8_t> head = s.Bytes(start, 6);
  if (!cursor && head.size() >= 2 && head[0] == 'B' && head[1] == 'M') {
    // A bitmap file stored under an icon's name.
    ReadBmpStream(s, bitmap, s.Size() - start, p, progress);
    return;
  }
  s.Skip(4);
  const int count = s.U16LE();
  const int index = cursor ? p.CurImageIndex : p.IcoImageIndex;
  // A directory that does not list the image asked for has nothing to show:
  // the load fails rather than pass the previous image off as this file's.
  if (s.Failed() || index < 0 || index >= count) {
    progress.Abort();
    return;
  }
  if (!cursor) {
    p.IcoSizes.fill(TIcoSize{});
    for (int i = 0; i < std::min(count, 16); ++i) {
      const TIcoEntry e = ReadEntry(s);
      p.IcoSizes[i] = TIcoSize{e.Width, e.Height};
      p.IcoBitCounts[i] = e.BitCount ? e.BitCount : e.ColorCount ? CeilLog2(e.ColorCount) : 24;
    }
  }
  s.Seek(start + 6 + 16 * int64_t(index));
  const TIcoEntry entry = ReadEntry(s);
  if (s.Failed() || !s.Seek(start + entry.Offset)) {
    progress.Abort();
    return;
  }
  const int64_t imageStart = s.Position();
  if (IsPng(s.Bytes(imageStart, 8))) {
    // Modern icons keep large images as PNG streams.
    ReadPngStream(s, bitmap, p, progress, mask);
    if (cursor) {
      p.CurHotSpotX = entry.Planes;
      p.CurHotSpotY = entry.BitCount;
    }
    return;
  }
  std::array<uint8_t, kInfoHeaderSize> hb{};
  s.Read(hb.data(), hb.size());
  const std::span<const uint8_t> h(hb);
  const uint32_t headerSize = ImGetU32LE(h, 0);
  const int32_t headerWidth = static_cast<int32_t>(ImGetU32LE(h, 4));
  const int32_t headerHeight = static_cast<int32_t>(ImGetU32LE(h, 8));
  const int headerBits = ImGetU16LE(h, 14);
  // Images inside icon files always carry at least the 40-byte header; the
  // colour table follows the header, whatever its length.
  if (s.Failed() || headerSize < kInfoHeaderSize || !s.Seek(imageStart + headerSize)) {
    progress.Abort();
    return;
  }
  const int32_t ppmX = static_cast<int32_t>(ImGetU32LE(h, 24)), ppmY = static_cast<int32_t>(ImGetU32LE(h, 28));
  p.SetDpiX(ppmX < 1 ? ImDefaultDpiX : static_cast<int32_t>(std::nearbyint(ppmX / 100.0 * 2.54)));
  p.SetDpiY(ppmY < 1 ? ImDefaultDpiY : static_cast<int32_t>(std::nearbyint(ppmY / 100.0 * 2.54)));

  int depth = cursor ? headerBits : (headerBits ? headerBits : entry.BitCount);
  if (depth == 0) {
    if (entry.ColorCount == 0) {
      progress.Abort();
      return;
    }
    depth = CeilLog2(entry.ColorCount);
  }
  if (depth <= 8) {
    p.BitsPerSample = depth;
    p.SamplesPerPixel = 1;
  } else {
    p.BitsPerSample = 8;
    p.SamplesPerPixel = depth == 32 ? 4 : 3;
  }
  if (cursor) {
    p.BitsPerSample = depth;
    p.SamplesPerPixel = 1;
    p.CurHotSpotX = entry.Planes;
    p.CurHotSpotY = entry.BitCount;
  }

  int64_t width = entry.Width ? entry.Width : headerWidth;
  int64_t height = entry.Height ? entry.Height : headerHeight / 2;
  if (!cursor && entry.Width != 0 && headerWidth != 0 && entry.Width != headerWidth && headerWidth < 2048 &&
      headerHeight < 2048) {
    width = headerWidth;
    height = headerHeight / 2;
  }

  p.FreeColorMap();
  std::array<TImRGB, 256> pal{};
  if (depth <= 8) {
    // Cursors give the table's length in the directory (255 meaning 256).
    int colours = 1 << depth;
    if (cursor && entry.ColorCount != 0) colours = entry.ColorCount == 255 ? 256 : entry.ColorCount;
    for (int i = 0; i < colours; ++i) {
      pal[i].B = s.U8();
      pal[i].G = s.U8();
      pal[i].R = s.U8();
      s.U8();
    }
    p.SetColorMap(pal.data(), colours);
  }
  // Empty, oversized and cut-off headers, and depths without a decoding, are
  // rejected before the target is touched. Cursors of 24 and 32 bits are read
  // like icons of those depths: their images are laid out the same way.
  const bool decodable = depth == 1 || depth == 4 || depth == 8 || depth == 24 || depth == 32;
  if (s.Failed() || !decodable || !ImSizeDescribable(width, height, depth, s.Remaining())) {
    progress.Abort();
    return;
  }
  p.Width = static_cast<int32_t>(width);
  p.Height = static_cast<int32_t>(height);

  bitmap.Allocate(static_cast<int>(width), static_cast<int>(height), depth == 1 ? im1bit : im24bgr);
  if (!mask) mask = std::make_unique<TImMask>();
  mask->Allocate(static_cast<int>(width), static_cast<int>(height), 8);
  mask->Fill(255);
  mask->Full = false;
  const TImRGB background = cursor ? p.CurBackground : p.IcoBackground;
  if (!DecodeDib(s, bitmap, *mask, depth, static_cast<int>(width), static_cast<int>(height), pal, background))
    progress.Abort();
}

}  // namespace

void TImageIO::LoadFromFileIco(const std::string& fileName) {
  TLoadOptions options;
  options.FileType = ioICO;
  RunFormatLoad(fileName, options, [this](TImStream& stream, TLoadProgress& progress, std::unique_ptr<TImMask>& mask) {
    ReadIconOrCursor(stream, *Bitmap(), Params(), progress, mask, TIcoKind::Icon);
  });
}

void TImageIO::LoadFromFileCur(const std::string& fileName) {
  TLoadOptions options;
  options.FileType = ioCUR;
  RunFormatLoad(fileName, options, [this](TImStream& stream, TLoadProgress& progress, std::unique_ptr<TImMask>& mask) {
    ReadIconOrCursor(stream, *Bitmap(), Params(), progress, mask, TIcoKind::Cursor);
  });
}
