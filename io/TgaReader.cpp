// Targa reader: uncompressed and run-length encoded colour-mapped, true-colour
// and gray images of 1, 4, 8, 16, 24 and 32 bits per pixel, the version 2
// footer with its extension area, and an alpha channel for 32-bit pixels.
#include "io/TgaReader.h"

#include <algorithm>
#include <array>

#include "io/ImageIO.h"

namespace {

constexpr int kHeaderSize = 18;
constexpr int kFooterSize = 26;
constexpr int kExtensionSize = 495;

struct TTgaHeader {
  uint8_t IdLength = 0;
  uint8_t MapType = 0;
  uint8_t ImageType = 0;
  uint16_t MapFirst = 0;
  uint16_t MapLength = 0;
  uint8_t MapEntrySize = 0;
  uint16_t XOrigin = 0, YOrigin = 0;
  uint16_t Width = 0, Height = 0;
  uint8_t Depth = 0;
  uint8_t Descriptor = 0;
};

TTgaHeader ReadHeader(TImStream& s) {
  TTgaHeader h;
  h.IdLength = s.U8();
  h.MapType = s.U8();
  h.ImageType = s.U8();
  h.MapFirst = s.U16LE();
  h.MapLength = s.U16LE();
  h.MapEntrySize = s.U8();
  h.XOrigin = s.U16LE();
  h.YOrigin = s.U16LE();
  h.Width = s.U16LE();
  h.Height = s.U16LE();
  h.Depth = s.U8();
  h.Descriptor = s.U8();
  return h;
}

bool ValidImageType(int t) { return t == 1 || t == 2 || t == 3 || t == 9 || t == 10 || t == 11; }
bool ValidDepth(int d) { return d == 1 || d == 4 || d == 8 || d == 16 || d == 24 || d == 32; }

// Text of a fixed-size field, up to its first zero byte.
std::string FieldText(std::span<const uint8_t> bytes) {
  std::string text;
  for (uint8_t b : bytes) {
    if (b == 0) break;
    text.push_back(static_cast<char>(b));
  }
  return text;
}

// A 15/16-bit colour: red bits 10-14, green 5-9, blue 0-4; bit 15 ignored.
TImRGB Color16(uint16_t v) {
  TImRGB c;
  c.R = static_cast<uint8_t>(((v >> 10) & 31) * 8);
  c.G = static_cast<uint8_t>(((v >> 5) & 31) * 8);
  c.B = static_cast<uint8_t>((v & 31) * 8);
  return c;
}

bool IsBright(const TImRGB& c) { return c.R * 299 + c.G * 587 + c.B * 114 >= 128 * 1000; }

// Footer and extension area: author, job, date, key colour, aspect, gamma.
void ReadExtensionFields(TImStream& s, TIOParams& p) {
  p.TgaAuthor.clear();
  p.TgaJobName.clear();
  p.TgaDate = QDateTime(QDate::currentDate(), QTime(0, 0));
  p.TgaKeyColor = 0;
  p.TgaAspectRatio = 1.0;
  p.TgaGamma = 2.2;
  if (s.Size() < kFooterSize) return;
  const std::span<const uint8_t> footer = s.Bytes(s.Size() - kFooterSize, kFooterSize);
  if (FieldText(footer.subspan(8, 18)) != "TRUEVISION-XFILE.") return;
  const uint32_t offset = ImGetU32LE(footer, 0);
  // An offset of 0 means the file has no extension area.
  if (offset == 0) return;
  // Bytes past the end of the file read as zero.
  std::array<uint8_t, kExtensionSize> ext{};
  const std::span<const uint8_t> got = s.Bytes(offset, kExtensionSize);
  std::copy(got.begin(), got.end(), ext.begin());
  const std::span<const uint8_t> e(ext);
  p.TgaAuthor = FieldText(e.subspan(2, 41));
  p.TgaJobName = FieldText(e.subspan(379, 41));
  const int month = ImGetU16LE(e, 367), day = ImGetU16LE(e, 369), year = ImGetU16LE(e, 371);
  const int hour = ImGetU16LE(e, 373), minute = ImGetU16LE(e, 375), second = ImGetU16LE(e, 377);
  if (month >= 1 && month <= 12 && day >= 1 && day <= 31 && year >= 1 && year <= 2499 && hour < 24 &&
      minute < 60 && second < 60) {
    const QDate date(year, month, day);
    if (date.isValid()) p.TgaDate = QDateTime(date, QTime(hour, minute, second));
  }
  // The key colour is a little-endian A:R:G:B value at 470: bytes blue,
  // green, red, alpha.
  p.TgaKeyColor = ext[472] | (ext[471] << 8) | (ext[470] << 16);
  const uint16_t an = ImGetU16LE(e, 474), ad = ImGetU16LE(e, 476);
  if (an != 0 && ad != 0) p.TgaAspectRatio = static_cast<double>(an) / ad;
  const uint16_t gn = ImGetU16LE(e, 478), gd = ImGetU16LE(e, 480);
  if (gn != 0 && gd != 0) p.TgaGamma = static_cast<double>(gn) / gd;
}

// Reads the pixel data unit by unit: a unit is one pixel for depths 8 to 32
// and one packed byte (8 or 2 pixels) for depths 1 and 4. Run-length packets
// may continue from one row into the next; packets past the image are never
// read. A unit counts only when all its bytes are in the file.
class TUnitReader {
 public:
  TUnitReader(TImStream& s, bool rle, int unitBytes) : s_(s), rle_(rle), unitBytes_(unitBytes) {}

  // Fills dst with up to units units; returns how many were complete.
  size_t Read(uint8_t* dst, size_t units) {
    if (!rle_) return s_.Read(dst, units * unitBytes_) / unitBytes_;
    size_t got = 0;
    while (got < units) {
      if (left_ == 0) {
        if (s_.AtEnd()) break;
        const uint8_t packet = s_.U8();
        left_ = (packet & 127) + 1;
        run_ = (packet & 128) != 0;
        if (run_ && !s_.ReadExact(value_, unitBytes_)) {
          left_ = 0;
          break;
        }
      }
      uint8_t* out = dst + got * unitBytes_;
      if (run_) {
        std::memcpy(out, value_, unitBytes_);
      } else if (!s_.ReadExact(out, unitBytes_)) {
        left_ = 0;
        break;
      }
      --left_;
      ++got;
    }
    return got;
  }

 private:
  TImStream& s_;
  bool rle_;
  size_t unitBytes_;
  int left_ = 0;
  bool run_ = false;
  uint8_t value_[4] = {};
};

void MirrorBits(uint8_t* row, int width) {
  std::vector<uint8_t> out(static_cast<size_t>((width + 7) / 8), 0);
  for (int x = 0; x < width; ++x) {
    const int src = width - 1 - x;
    if (row[src >> 3] & (0x80 >> (src & 7))) out[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
  }
  std::copy(out.begin(), out.end(), row);
}

void ReadTarga(TImStream& s, TImBitmap& bitmap, TIOParams& p, TLoadProgress& progress,
               std::unique_ptr<TImMask>& mask) {
  const int64_t base = s.Position();
  ReadExtensionFields(s, p);
  s.Seek(base);
  const TTgaHeader h = ReadHeader(s);
  p.TgaXOrigin = h.XOrigin;
  p.TgaYOrigin = h.YOrigin;
  if (s.Failed() || !ValidImageType(h.ImageType) || !ValidDepth(h.Depth)) {
    progress.Abort();
    return;
  }
  p.TgaImageId = FieldText(s.Bytes(s.Position(), h.IdLength));
  s.Skip(h.IdLength);

  // Palette preset: a 3-3-2 colour cube.
  std::array<TImRGB, 256> pal;
  for (int j = 0; j < 8; ++j)
    for (int k = 0; k < 8; ++k)
      for (int l = 0; l < 4; ++l) {
        TImRGB& c = pal[j * 32 + k * 4 + l];
        c.R = static_cast<uint8_t>(j * 32 + 28);
        c.G = static_cast<uint8_t>(k * 32 + 28);
        c.B = static_cast<uint8_t>(l * 64 + 60);
      }
  if (h.MapType == 1) {
    const int size = h.MapEntrySize;
    if (size == 15 || size == 16 || size == 24 || size == 32) {
      for (int i = 0; i < h.MapLength; ++i) {
        TImRGB c;
        if (size <= 16) {
          c = Color16(s.U16LE());
        } else {
          c.B = s.U8();
          c.G = s.U8();
          c.R = s.U8();
          if (size == 32) s.U8();
        }
        // Entries whose index lies beyond the 256-entry palette are skipped.
        if (h.MapFirst + i < 256) pal[h.MapFirst + i] = c;
      }
      p.SetColorMap(pal.data(), std::min<int>(h.MapLength, 256));
    } else {
      // Entries of an unknown size cannot be decoded; skipping their bytes
      // keeps the pixel data where it belongs.
      s.Skip(static_cast<int64_t>(h.MapLength) * ((size + 7) / 8));
      p.FreeColorMap();
    }
    p.TgaGrayscale = false;
  } else if (h.Depth == 8 && h.ImageType != 2 && h.ImageType != 10) {
    // Gray images (and mapped ones missing their map) read as gray; an 8-bit
    // true-colour image without a map keeps the colour cube.
    for (int i = 0; i < 256; ++i) pal[i] = TImRGB{uint8_t(i), uint8_t(i), uint8_t(i)};
    p.TgaGrayscale = true;
  } else if (h.Depth == 4) {
    for (int i = 0; i < 16; ++i) pal[i] = TImRGB{uint8_t(i * 17), uint8_t(i * 17), uint8_t(i * 17)};
  } else if (h.Depth == 1) {
    pal[0] = TImRGB{0, 0, 0};
    pal[1] = TImRGB{255, 255, 255};
  }
  p.TgaCompressed = h.ImageType >= 9;

  const int width = h.Width, height = h.Height, depth = h.Depth;
  p.Width = width;
  p.Height = height;
  p.SetDpiX(ImDefaultDpiX);
  p.SetDpiY(ImDefaultDpiY);
  switch (depth) {
    case 1: p.BitsPerSample = 1; p.SamplesPerPixel = 1; break;
    case 4: p.BitsPerSample = 4; p.SamplesPerPixel = 1; break;
    case 8: p.BitsPerSample = 8; p.SamplesPerPixel = 1; break;
    case 16: p.BitsPerSample = 5; p.SamplesPerPixel = 3; break;
    case 24: p.BitsPerSample = 8; p.SamplesPerPixel = 3; break;
    default: p.BitsPerSample = 8; p.SamplesPerPixel = 4; break;
  }
  if (!ImSizeDescribable(width, height, depth, s.Remaining())) {
    progress.Abort();
    return;
  }

  progress.PerUnit = 100.0 / height;
  bitmap.Allocate(width, height, depth == 1 ? im1bit : im24bgr);
  const bool withAlpha = depth == 32 && (h.Descriptor & 8);
  if (withAlpha) {
    if (!mask) mask = std::make_unique<TImMask>();
    mask->Allocate(width, height, 8);
    mask->Fill(255);
    mask->Full = false;
  }
  const bool topDown = (h.Descriptor & 0x20) != 0;
  const bool rightToLeft = (h.Descriptor & 0x10) != 0;
  const int unitBytes = depth <= 8 ? 1 : depth / 8;
  const size_t units = depth == 1 ? (width + 7) / 8 : depth == 4 ? (width + 1) / 2 : width;
  std::vector<uint8_t> raw(units * unitBytes);
  TUnitReader reader(s, p.TgaCompressed, unitBytes);
  // A 1-bit pixel is white when its palette entry is bright.
  const bool oneWhite = IsBright(pal[1]), zeroWhite = IsBright(pal[0]);

  for (int i = 0; i < height; ++i) {
    std::fill(raw.begin(), raw.end(), 0);
    const size_t got = reader.Read(raw.data(), units);
    // Data that ends before the image does is reported as a failed load;
    // the pixels it does not reach stay zero.
    if (got < units) progress.Abort();
    if (got == 0) break;
    const int y = topDown ? i : height - 1 - i;
    uint8_t* row = bitmap.Scanline(y);
    uint8_t* alpha = withAlpha ? mask->Scanline(y) : nullptr;
    // Pixels not in the file stay zero.
    const int reached =
        depth == 4 ? std::min<int>(width, static_cast<int>(got) * 2) : static_cast<int>(got);
    if (depth == 1) {
      for (size_t k = 0; k < got; ++k) {
        const uint8_t b = raw[k];
        row[k] = static_cast<uint8_t>((oneWhite ? b : 0) | (zeroWhite ? ~b : 0));
      }
    } else {
      for (int x = 0; x < reached; ++x) {
        TImRGB c;
        const uint8_t* u = raw.data() + static_cast<size_t>(x) * unitBytes;
        switch (depth) {
          case 4: c = pal[(x & 1) ? (raw[x >> 1] & 15) : (raw[x >> 1] >> 4)]; break;
          case 8: c = pal[u[0]]; break;
          case 16: c = Color16(static_cast<uint16_t>(u[0] | (u[1] << 8))); break;
          default:
            c.B = u[0];
            c.G = u[1];
            c.R = u[2];
            if (alpha) alpha[x] = u[3];
            break;
        }
        uint8_t* px = row + 3 * x;
        px[0] = c.B;
        px[1] = c.G;
        px[2] = c.R;
      }
    }
    if (rightToLeft) {
      if (depth == 1) {
        MirrorBits(row, width);
      } else {
        for (int a = 0, b = width - 1; a < b; ++a, --b) {
          std::swap_ranges(row + 3 * a, row + 3 * a + 3, row + 3 * b);
          if (alpha) std::swap(alpha[a], alpha[b]);
        }
      }
    }
    progress.Report(i + 1);
    if (progress.IsAborting() || got < units) break;
  }
}

}  // namespace

bool IsTargaStream(TImStream& stream) {
  const int64_t pos = stream.Position();
  const bool wasFailed = stream.Failed();
  const TTgaHeader h = ReadHeader(stream);
  const bool ok = !stream.Failed() && ValidImageType(h.ImageType) && ValidDepth(h.Depth) && h.MapType <= 1;
  stream.Seek(pos);
  if (!wasFailed) stream.ClearFailed();
  return ok;
}

void TImageIO::LoadFromFileTga(const std::string& fileName) {
  TLoadOptions options;
  options.FileType = ioTGA;
  RunFormatLoad(fileName, options,
                [this](TImStream& stream, TLoadProgress& progress, std::unique_ptr<TImMask>& mask) {
                  ReadTarga(stream, *Bitmap(), Params(), progress, mask);
                });
}
