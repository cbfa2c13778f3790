// BMP reader: uncompressed 1, 4, 8, 16, 24 and 32 bits per pixel, RLE4 and
// RLE8, 16-bit bit fields, bottom-up and top-down rows, the 12-byte OS/2
// header and the 40-byte and longer Windows headers.
#include "io/BmpReader.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

#include "io/ImageIO.h"

namespace {

constexpr uint16_t kBmpType = 0x4D42;  // "BM"

// Pixels per metre to dots per inch, rounded half to even; 0 gives the default.
int32_t DpiFromPpm(int32_t ppm, int32_t fallback) {
  const int32_t dpi = static_cast<int32_t>(std::nearbyint(ppm / 100.0 * 2.54));
  return dpi == 0 ? fallback : dpi;
}

// One colour channel of a 16-bit bit-field pixel: the run of set bits from
// the mask's lowest set bit, moved to the top of a byte. For masks packed as
// red, green, blue from bit 0 (5-5-5, 5-6-5, 4-4-4) this is the same as
// shifting the masked word by the summed widths.
struct TChannel {
  uint32_t Mask = 0;
  int Low = 0, Width = 0;

  explicit TChannel(uint32_t mask) : Mask(mask) {
    if (!mask) return;
    while (!((mask >> Low) & 1)) ++Low;
    while (Low + Width < 32 && ((mask >> (Low + Width)) & 1)) ++Width;
  }
  uint8_t Value(uint32_t v) const {
    if (!Width) return 0;
    uint32_t x = (v & Mask) >> Low;
    if (Width < 32) x &= (uint32_t(1) << Width) - 1;
    return static_cast<uint8_t>(Width < 8 ? x << (8 - Width) : x >> (Width - 8));
  }
};

bool Supported(int bits, uint32_t compression) {
  switch (bits) {
    case 1: return compression == 0;
    case 4: return compression == 0 || compression == 2;
    case 8: return compression == 0 || compression == 1;
    case 16:
    case 24:
    case 32: return compression == 0 || compression == 3;
    default: return false;
  }
}

inline void PutColor(uint8_t* row, int64_t x, const TImRGB& c) {
  uint8_t* px = row + 3 * x;
  px[0] = c.B;
  px[1] = c.G;
  px[2] = c.R;
}

// Run-length decoding shared by RLE8 and RLE4. File row r goes to target row
// RowOf(r); the column never leaves the row.
class TRleDecoder {
 public:
  TRleDecoder(TImBitmap& bitmap, const std::array<TImRGB, 256>& pal, int64_t width, int64_t height,
              bool topDown, TLoadProgress& progress)
      : bitmap_(bitmap), pal_(pal), width_(width), height_(height), topDown_(topDown), progress_(progress) {}

  // Returns false when the data ran out before the image was complete.
  bool Decode(std::span<const uint8_t> d, bool nibbles) {
    size_t k = 0;
    while (d.size() - k >= 2) {
      const uint8_t n = d[k], c = d[k + 1];
      k += 2;
      if (n > 0) {
        for (int j = 0; j < n; ++j) Put(nibbles ? ((j & 1) ? c & 15 : c >> 4) : c);
      } else if (c == 0) {  // end of line
        ++row_;
        col_ = 0;
        line_ = nullptr;
        if (row_ >= height_) return true;
        progress_.Report(row_ + 1);
        if (progress_.IsAborting()) return true;
      } else if (c == 1) {  // end of bitmap
        return true;
      } else if (c == 2) {  // delta: dx to the right, dy rows further in file order
        if (d.size() - k < 2) return false;
        const int64_t dx = d[k], dy = d[k + 1];
        k += 2;
        if (row_ + dy >= height_ || col_ + dx > width_) return true;
        if (dy) line_ = nullptr;
        row_ += dy;
        col_ += dx;
      } else {  // absolute run of c pixels, padded to a 16-bit boundary
        const size_t bytes = nibbles ? (c + 1) / 2 : c;
        const size_t have = std::min(bytes, d.size() - k);
        for (int j = 0; j < c; ++j) {
          const size_t b = nibbles ? j / 2 : j;
          if (b >= have) break;
          Put(nibbles ? ((j & 1) ? d[k + b] & 15 : d[k + b] >> 4) : d[k + b]);
        }
        if (have < bytes) return false;
        k += bytes + (bytes & 1);
        if (k > d.size()) k = d.size();
      }
    }
    // Data that ends within the last row is taken as a missing end marker.
    return row_ >= height_ - 1;
  }

 private:
  // Pixels past the end of the row are dropped. Writers pad rows of RLE8 data
  // with runs that reach past the width; putting those onto the row's last
  // pixel would blacken the last column of such files.
  void Put(int index) {
    if (col_ >= width_) return;
    if (!line_) line_ = bitmap_.Scanline(static_cast<int>(topDown_ ? row_ : height_ - 1 - row_));
    PutColor(line_, col_++, pal_[static_cast<size_t>(index)]);
  }

  TImBitmap& bitmap_;
  const std::array<TImRGB, 256>& pal_;
  int64_t width_, height_;
  bool topDown_;
  TLoadProgress& progress_;
  int64_t row_ = 0, col_ = 0;
  uint8_t* line_ = nullptr;
};

}  // namespace

void ReadBmpStream(TImStream& s, TImBitmap& bitmap, int64_t byteCount, TIOParams& p, TLoadProgress& progress,
                   bool headerOnly, bool noFileHeader) {
  const int64_t start = s.Position();
  uint32_t fileSize = static_cast<uint32_t>(std::min<int64_t>(s.Size(), UINT32_MAX));
  uint32_t dataOffset = 0;
  if (!noFileHeader) {
    const uint16_t type = s.U16LE();
    fileSize = s.U32LE();
    s.Skip(4);
    dataOffset = s.U32LE();
    if (type != kBmpType) {
      progress.Abort();
      return;
    }
  }
  if (byteCount < 1 && fileSize != 0) byteCount = fileSize;

  const int64_t headerStart = s.Position();
  const uint32_t headerSize = s.U32LE();
  s.Seek(headerStart);
  p.FreeColorMap();

  // Entries past the file's table are black, so any index finds a colour.
  std::array<TImRGB, 256> pal{};
  int count = 0;
  int64_t width = 0, height = 0;
  int bits = 0;
  uint32_t compression = 0, imageSize = 0;
  bool topDown = false;
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};  // 5-5-5 unless the file gives bit fields
  if (headerSize == 12) {
    s.Skip(4);
    width = s.U16LE();
    height = s.U16LE();
    s.Skip(2);
    bits = s.U16LE();
    p.BmpVersion = 2;
    p.SetDpiX(ImDefaultDpiX);
    p.SetDpiY(ImDefaultDpiY);
    if (bits <= 8) {
      count = 1 << bits;
      for (int i = 0; i < count; ++i) {
        pal[i].B = s.U8();
        pal[i].G = s.U8();
        pal[i].R = s.U8();
      }
    }
  } else {
    // A header too short to hold the size and depth fields is not a bitmap.
    if (headerSize < 16) {
      progress.Abort();
      return;
    }
    std::array<uint8_t, 64> h{};
    s.Read(h.data(), std::min<uint32_t>(headerSize, 64));
    s.Seek(headerStart + headerSize);
    p.BmpVersion = headerSize == 40 ? 1 : headerSize == 64 ? 3 : 0;
    const std::span<const uint8_t> hs(h);
    width = static_cast<int32_t>(ImGetU32LE(hs, 4));
    height = static_cast<int32_t>(ImGetU32LE(hs, 8));
    if (height < 0) {
      topDown = true;
      height = -height;
    }
    bits = ImGetU16LE(hs, 14);
    compression = ImGetU32LE(hs, 16);
    imageSize = ImGetU32LE(hs, 20);
    p.SetDpiX(DpiFromPpm(static_cast<int32_t>(ImGetU32LE(hs, 24)), ImDefaultDpiX));
    p.SetDpiY(DpiFromPpm(static_cast<int32_t>(ImGetU32LE(hs, 28)), ImDefaultDpiY));
    uint32_t used = ImGetU32LE(hs, 32);
    if (used > 256) used = 0;
    if (used == 0 && bits <= 8) used = 1u << bits;
    count = static_cast<int>(used);
    for (int i = 0; i < count; ++i) {
      pal[i].B = s.U8();
      pal[i].G = s.U8();
      pal[i].R = s.U8();
      s.U8();
    }
    if (compression == 3) {
      // A 40-byte header is followed by the three masks (after its colour
      // table); headers of 52 bytes and more carry them at bytes 40 to 51,
      // which is where their writers put them.
      for (int i = 0; i < 3; ++i) masks[i] = headerSize >= 52 ? ImGetU32LE(hs, 40 + 4 * i) : s.U32LE();
    }
  }
  if (count > 0) p.SetColorMap(pal.data(), count);
  if (compression == 0 || compression == 3) p.BmpCompression = 0;
  else if (compression == 1 || compression == 2) p.BmpCompression = 1;

  switch (bits) {
    case 1: p.BitsPerSample = 1; p.SamplesPerPixel = 1; break;
    case 4: p.BitsPerSample = 4; p.SamplesPerPixel = 1; break;
    case 8: p.BitsPerSample = 8; p.SamplesPerPixel = 1; break;
    case 16: p.BitsPerSample = 5; p.SamplesPerPixel = 3; break;
    case 24:
    case 32: p.BitsPerSample = 8; p.SamplesPerPixel = 3; break;
    default: break;
  }
  // A negative width has no meaning; a height of 2^31 made positive does not
  // fit the parameters.
  if (width < 0 || height > INT32_MAX) {
    progress.Abort();
    return;
  }
  p.Width = static_cast<int32_t>(width);
  p.Height = static_cast<int32_t>(height);
  // Headers or colour tables cut off by the end of the file, empty images,
  // and depth and compression pairs without a decoding are rejected before
  // the target is touched: a load that decodes nothing must not pass for a
  // picture.
  if (s.Failed() || !Supported(bits, compression) ||
      !ImSizeDescribable(width, height, bits, s.Remaining())) {
    progress.Abort();
    return;
  }

  if (dataOffset != 0) s.Seek(start + dataOffset);
  const int64_t dataLength = byteCount > 0 ? byteCount - (s.Position() - start) : imageSize;
  if (headerOnly) return;

  bitmap.Allocate(static_cast<int>(width), static_cast<int>(height), bits == 1 ? im1bit : im24bgr);
  progress.PerUnit = 100.0 / static_cast<double>(height);
  auto rowOf = [&](int64_t i) { return static_cast<int>(topDown ? i : height - 1 - i); };

  if (compression == 1 || compression == 2) {
    // The data is looked at in place: a length past the file is clipped.
    TRleDecoder rle(bitmap, pal, width, height, topDown, progress);
    if (!rle.Decode(s.Bytes(s.Position(), dataLength), compression == 2)) progress.Abort();
    return;
  }

  const int64_t rowBytes = (width * bits + 31) / 32 * 4;
  // Rows that lack only their padding are complete.
  const int64_t pixelBytes = (width * bits + 7) / 8;
  const bool invert = bits == 1 && count == 2 && pal[0].B == 255 && pal[0].G == 255 && pal[0].R == 255 &&
                      pal[1].B == 0 && pal[1].G == 0 && pal[1].R == 0;
  const TChannel red(masks[0]), green(masks[1]), blue(masks[2]);
  for (int64_t i = 0; i < height; ++i) {
    progress.Report(i);
    if (progress.IsAborting()) return;
    const std::span<const uint8_t> raw = s.Bytes(s.Position(), rowBytes);
    s.Skip(static_cast<int64_t>(raw.size()));
    const int64_t got = static_cast<int64_t>(raw.size());
    if (got == 0) {
      progress.Abort();
      return;
    }
    uint8_t* row = bitmap.Scanline(rowOf(i));
    switch (bits) {
      case 1: {
        // Set bits are white in the target; a (white, black) table stores
        // white as clear bits.
        const int64_t n = std::min<int64_t>(got, bitmap.RowLen());
        for (int64_t k = 0; k < n; ++k) row[k] = invert ? static_cast<uint8_t>(~raw[k]) : raw[k];
        break;
      }
      case 4: {
        const int64_t reached = std::min(width, got * 2);
        for (int64_t x = 0; x < reached; ++x) {
          const uint8_t b = raw[static_cast<size_t>(x / 2)];
          PutColor(row, x, pal[(x & 1) ? b & 15 : b >> 4]);
        }
        break;
      }
      case 8: {
        const int64_t reached = std::min(width, got);
        for (int64_t x = 0; x < reached; ++x) PutColor(row, x, pal[raw[static_cast<size_t>(x)]]);
        break;
      }
      case 16: {
        const int64_t reached = std::min(width, got / 2);
        for (int64_t x = 0; x < reached; ++x) {
          const uint32_t v = ImGetU16LE(raw, static_cast<size_t>(2 * x));
          uint8_t* px = row + 3 * x;
          px[0] = blue.Value(v);
          px[1] = green.Value(v);
          px[2] = red.Value(v);
        }
        break;
      }
      case 24: {
        const int64_t reached = std::min(width * 3, got);
        std::copy(raw.begin(), raw.begin() + reached, row);
        break;
      }
      default: {  // 32: blue, green, red and an unused fourth byte
        const int64_t reached = std::min(width, got / 4);
        for (int64_t x = 0; x < reached; ++x) std::copy_n(raw.begin() + 4 * x, 3, row + 3 * x);
        break;
      }
    }
    // A row cut off by the end of the file ends the load as a failure; what
    // it did not reach stays black.
    if (got < pixelBytes) {
      progress.Abort();
      return;
    }
  }
}

void TImageIO::LoadFromFileBmp(const std::string& fileName) {
  TLoadOptions options;
  options.FileType = ioBMP;
  RunFormatLoad(fileName, options, [this](TImStream& stream, TLoadProgress& progress, std::unique_ptr<TImMask>&) {
    ReadBmpStream(stream, *Bitmap(), stream.Size(), Params(), progress);
  });
}
