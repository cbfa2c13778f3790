// PCX reader: uncompressed and run-length encoded files with one plane of 1,
// 4 or 8 bits, three planes of 8 bits (true colour) and four planes of 1 bit
// (16 colours).
#include <algorithm>
#include <array>
#include <vector>

#include "io/ImageIO.h"

namespace {

constexpr int kHeaderSize = 128;
constexpr int kPaletteSize = 768;

// Decodes plane lines of a fixed length from the data after the header. A
// run may reach past the end of a line; the rest of it is carried into the
// next line (of the next plane or row).
class TPcxLineDecoder {
 public:
  TPcxLineDecoder(std::span<const uint8_t> data, bool rle) : data_(data), rle_(rle) {}

  // Fills line completely; bytes the data does not reach are zero. Returns
  // false when the data ended before the line was full.
  bool Decode(std::vector<uint8_t>& line) {
    std::fill(line.begin(), line.end(), 0);
    size_t n = 0;
    if (!rle_) {
      n = std::min(line.size(), data_.size() - pos_);
      std::copy_n(data_.begin() + static_cast<long>(pos_), n, line.begin());
      pos_ += n;
      return n == line.size();
    }
    while (n < line.size()) {
      if (carry_ > 0) {
        const size_t k = std::min(carry_, line.size() - n);
        std::fill_n(line.begin() + static_cast<long>(n), k, value_);
        n += k;
        carry_ -= k;
        continue;
      }
      if (pos_ >= data_.size()) return false;
      const uint8_t b = data_[pos_++];
      if (b < 192) {
        line[n++] = b;
        continue;
      }
      if (pos_ >= data_.size()) return false;
      carry_ = b & 63;
      value_ = data_[pos_++];
    }
    return true;
  }

 private:
  std::span<const uint8_t> data_;
  bool rle_;
  size_t pos_ = 0;
  size_t carry_ = 0;
  uint8_t value_ = 0;
};

inline void PutColor(uint8_t* row, int x, const TImRGB& c) {
  row[3 * x] = c.B;
  row[3 * x + 1] = c.G;
  row[3 * x + 2] = c.R;
}

void ReadPcx(TImStream& s, TImBitmap& bitmap, TIOParams& p, TLoadProgress& progress) {
  const int64_t base = s.Position();
  const int64_t size = s.Remaining();
  std::array<uint8_t, kHeaderSize> h{};
  s.Read(h.data(), h.size());
  const std::span<const uint8_t> hs(h);
  const int bits = h[3], encoding = h[2], planes = h[65];
  // A file shorter than its header is rejected like a wrong signature.
  if (s.Failed() || h[0] != 10 || bits > 8 || encoding > 1) {
    progress.Abort();
    return;
  }
  const int hres = ImGetU16LE(hs, 12), vres = ImGetU16LE(hs, 14);
  if (hres == 0 || vres == 0) {
    p.SetDpiX(ImDefaultDpiX);
    p.SetDpiY(ImDefaultDpiY);
  } else {
    p.SetDpiX(hres);
    p.SetDpiY(vres);
  }

  // Both palettes held as B, G, R; the 256-entry one is the file's last 768
  // bytes (the marker byte before it is not looked at). A file too short to
  // hold it has none: its colours are black and the load fails below.
  std::array<TImRGB, 16> pal16{};
  for (int i = 0; i < 16; ++i) pal16[i] = TImRGB{h[16 + 3 * i + 2], h[16 + 3 * i + 1], h[16 + 3 * i]};
  std::array<TImRGB, 256> pal256{};
  const bool needs256 = planes == 1 && bits > 4;
  const bool has256 = size - kHeaderSize >= kPaletteSize;
  if (needs256 && has256) {
    const std::span<const uint8_t> tail = s.Bytes(base + size - kPaletteSize, kPaletteSize);
    for (int i = 0; i < 256; ++i) pal256[i] = TImRGB{tail[3 * i + 2], tail[3 * i + 1], tail[3 * i]};
  }

  const int64_t width = int64_t(ImGetU16LE(hs, 8)) - ImGetU16LE(hs, 4) + 1;
  const int64_t height = int64_t(ImGetU16LE(hs, 10)) - ImGetU16LE(hs, 6) + 1;
  const int64_t bytesPerLine = ImGetU16LE(hs, 66);
  p.Width = static_cast<int32_t>(width);
  p.Height = static_cast<int32_t>(height);
  p.PcxVersion = h[1];
  const bool sixteen = bits == 1 && planes == 4;
  p.BitsPerSample = sixteen ? 4 : bits;
  p.SamplesPerPixel = sixteen ? 1 : planes;
  p.FreeColorMap();
  // Three-plane true colour has no colour table.
  if (bits == 8 && planes == 1) p.SetColorMap(pal256.data(), 256);
  else if (sixteen) p.SetColorMap(pal16.data(), 16);
  else if (bits < 8 && planes == 1) p.SetColorMap(pal16.data(), std::min(16, 1 << bits));

  // Layouts without a decoding, empty or oversized images, and plane lines
  // too short for the width are rejected before the target is touched.
  int64_t needed = 0;
  if (planes == 1 && bits == 8) needed = width;
  else if (planes == 1 && bits == 4) needed = (width + 1) / 2;
  else if ((planes == 1 || planes == 4) && bits == 1) needed = (width + 7) / 8;
  else if (planes == 3 && bits == 8) needed = width;
  if (needed == 0 || !ImSizeDescribable(width, height, int64_t(bits) * planes, s.Remaining()) ||
      bytesPerLine < needed) {
    progress.Abort();
    return;
  }

  bitmap.Allocate(static_cast<int>(width), static_cast<int>(height), planes == 1 && bits == 1 ? im1bit : im24bgr);
  progress.PerUnit = 100.0 / static_cast<double>(height);
  TPcxLineDecoder decoder(s.Bytes(base + kHeaderSize, size - kHeaderSize), encoding == 1);
  std::vector<uint8_t> line(static_cast<size_t>(bytesPerLine));
  std::vector<uint8_t> lines[4];
  const int w = static_cast<int>(width);
  bool complete = !needs256 || has256;
  for (int y = 0; y < height; ++y) {
    progress.Report(y);
    if (progress.IsAborting()) return;
    uint8_t* row = bitmap.Scanline(y);
    bool ok = true;
    if (planes == 1) {
      ok = decoder.Decode(line);
      if (bits == 8) {
        for (int x = 0; x < w; ++x) PutColor(row, x, pal256[line[x]]);
      } else if (bits == 4) {
        for (int x = 0; x < w; ++x) PutColor(row, x, pal16[(x & 1) ? line[x / 2] & 15 : line[x / 2] >> 4]);
      } else {
        // A set bit is white; the header palette is not consulted.
        std::copy_n(line.begin(), needed, row);
      }
    } else {
      for (int k = 0; k < planes; ++k) {
        lines[k].resize(line.size());
        ok = decoder.Decode(lines[k]) && ok;
      }
      for (int x = 0; x < w; ++x) {
        if (planes == 3) {
          PutColor(row, x, TImRGB{lines[2][x], lines[1][x], lines[0][x]});
        } else {
          int index = 0;
          for (int k = 0; k < 4; ++k) index |= ((lines[k][x >> 3] >> (7 - (x & 7))) & 1) << k;
          PutColor(row, x, pal16[index]);
        }
      }
    }
    // Data that ends before the image does fails the load; the rows it did
    // not reach stay black.
    if (!ok) {
      complete = false;
      break;
    }
  }
  if (!complete) progress.Abort();
}

}  // namespace

void TImageIO::LoadFromFilePcx(const std::string& fileName) {
  TLoadOptions options;
  options.FileType = ioPCX;
  RunFormatLoad(fileName, options, [this](TImStream& stream, TLoadProgress& progress, std::unique_ptr<TImMask>&) {
    ReadPcx(stream, *Bitmap(), Params(), progress);
  });
}
