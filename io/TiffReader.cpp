// TIFF reader: the row decompressor (none, CCITT, LZW, PackBits, predictor,
// sample unpacking) and the page reader.
#include "io/TiffReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

#include "io/Cmyk.h"
#include "io/ImageIO.h"
#include "io/JpegReader.h"
#include "io/TiffFax.h"
#include "io/TiffLzw.h"

int32_t TiffCompressionCode(int compression, int t4Options) {
  switch (compression) {
    case 1: return 0;
    case 2: return 1;
    case 3: return (t4Options & 1) ? 3 : 2;
    case 4: return 4;
    case 5: return 5;
    case 6: return 6;
    case 7: return 7;
    case 32773: return 8;
    default: return 9;
  }
}

namespace {

// PackBits: a signed count n, then n + 1 literal bytes (n >= 0) or one byte
// repeated 1 - n times (n < 0); -128 is a no-op. A run crossing the row's
// end is consumed whole, its surplus dropped. Bytes past the strip are zero.
void UnpackBits(uint8_t* out, int64_t rowLength, std::span<const uint8_t> strip, int64_t& cursor) {
  const int64_t size = static_cast<int64_t>(strip.size());
  auto byteAt = [&](int64_t i) -> uint8_t { return i >= 0 && i < size ? strip[static_cast<size_t>(i)] : 0; };
  int64_t done = 0;
  while (done < rowLength) {
    if (cursor >= size) {
      std::memset(out + done, 0, static_cast<size_t>(rowLength - done));
      return;
    }
    const int n = static_cast<int8_t>(byteAt(cursor++));
    if (n >= 0) {
      for (int k = 0; k <= n; ++k, ++cursor)
        if (done < rowLength) out[done++] = byteAt(cursor);
    } else if (n != -128) {
      const uint8_t v = byteAt(cursor++);
      for (int k = 0; k < 1 - n; ++k)
        if (done < rowLength) out[done++] = v;
    }
  }
}

// Undoes horizontal differencing: every sample adds the sample one pixel to
// its left, in 8-bit bytes or 16-bit words of the file's byte order.
void UndoPredictor(uint8_t* row, int64_t rowLength, int bits, int samples, bool bigEndian) {
  if (samples < 1) return;
  if (bits == 8) {
    for (int64_t i = samples; i < rowLength; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - samples]);
  } else if (bits == 16) {
    const int64_t words = rowLength / 2;
    auto get = [&](int64_t w) {
      const uint8_t* p = row + 2 * w;
      return static_cast<uint16_t>(bigEndian ? (p[0] << 8) | p[1] : p[0] | (p[1] << 8));
    };
    for (int64_t w = samples; w < words; ++w) {
      const uint16_t v = static_cast<uint16_t>(get(w) + get(w - samples));
      uint8_t* p = row + 2 * w;
      p[bigEndian ? 0 : 1] = static_cast<uint8_t>(v >> 8);
      p[bigEndian ? 1 : 0] = static_cast<uint8_t>(v);
    }
  }
}

}  // namespace

bool DecompressTiffRow(const uint8_t*& row, std::vector<uint8_t>& buffer, std::span<const uint8_t> strip,
                       int64_t& cursor, const TTIFFVars& vars, int width, int64_t rowLength,
                       TTiffLzwState*& lzw, std::vector<uint8_t>& refRow, int64_t& bitPos) {
  if (rowLength <= 0 || width <= 0) return false;
  const int bits = vars.BitsPerSample;
  const int samplesPerPixel = vars.PlanarConfig == 2 ? 1 : std::max(vars.SamplesPerPixel, 1);
  const int64_t samples = static_cast<int64_t>(width) * samplesPerPixel;
  const size_t need = static_cast<size_t>(std::max<int64_t>(2 * rowLength, samples) + 8);
  if (buffer.size() < need) buffer.resize(need, 0);
  if (refRow.size() < static_cast<size_t>(rowLength)) refRow.resize(static_cast<size_t>(rowLength), 0xFF);
  uint8_t* out = buffer.data();
  row = out;
  const int64_t size = static_cast<int64_t>(strip.size());
  const std::span<uint8_t> outRow(out, static_cast<size_t>(rowLength));
  const bool byteAligned = (vars.T4Options & 4) != 0;

  switch (vars.Compression) {
    case 1: {
      const int64_t avail = std::clamp<int64_t>(size - cursor, 0, rowLength);
      if (bits >= 8 && avail == rowLength) {
        row = strip.data() + cursor;
      } else {
        if (avail > 0) std::memcpy(out, strip.data() + cursor, static_cast<size_t>(avail));
        std::memset(out + avail, 0, static_cast<size_t>(rowLength - avail));
      }
      cursor += rowLength;
      break;
    }
    case 2: {
      // Every row starts on a byte of its own.
      const std::span<const uint8_t> data = strip.subspan(static_cast<size_t>(std::clamp<int64_t>(cursor, 0, size)));
      const int64_t used = DecodeFaxRow1D(outRow, data, width, vars.FillOrder, 0);
      cursor += (used + 7) / 8;
      break;
    }
    case 3:
      if (!(vars.T4Options & 1)) {
        bitPos = DecodeFaxRow1D(outRow, strip, width, vars.FillOrder, bitPos);
        break;
      }
      [[fallthrough]];
    case 4:
      bitPos = DecodeFaxRow2D(outRow, strip, byteAligned, vars.FillOrder, bitPos, refRow, width);
      break;
    case 5: {
      if (!vars.LzwDecoder) return false;
      const std::span<const uint8_t> src = strip.subspan(static_cast<size_t>(std::clamp<int64_t>(cursor, 0, size)));
      const uint8_t* decoded = vars.LzwDecoder(&src, rowLength, lzw);
      if (!decoded) return false;
      std::memcpy(out, decoded, static_cast<size_t>(rowLength));
      break;
    }
    case 32773:
      UnpackBits(out, rowLength, strip, cursor);
      break;
    default:
      // No decoder for this compression: the buffer stays as it is.
      break;
  }

  const bool fax = vars.Compression == 2 || vars.Compression == 3 || vars.Compression == 4;
  if (row == out) {
    if (bits == 4) {
      for (int64_t i = rowLength - 1; i >= 0; --i) {
        const uint8_t b = out[i];
        out[2 * i] = static_cast<uint8_t>(b >> 4);
        out[2 * i + 1] = static_cast<uint8_t>(b & 15);
      }
    } else if ((bits == 2 || bits == 3 || bits == 5 || bits == 6 || bits == 7) && !fax) {
      // Samples straight from the bit stream, most significant bit first, one
      // per byte; a sample running past the row length gets zero bits.
      std::vector<uint8_t> packed(out, out + rowLength);
      const int64_t totalBits = rowLength * 8;
      for (int64_t s = 0, pos = 0; s < samples; ++s) {
        unsigned v = 0;
        for (int k = 0; k < bits; ++k, ++pos) {
          v <<= 1;
          if (pos < totalBits) v |= (packed[static_cast<size_t>(pos >> 3)] >> (7 - (pos & 7))) & 1;
        }
        out[s] = static_cast<uint8_t>(v);
      }
    }
    if (vars.Predictor == 2 && vars.Compression == 5)
      UndoPredictor(out, rowLength, bits, samplesPerPixel, vars.BigEndian);
    if (bits == 4 && (vars.Photometric == 0 || vars.Photometric == 1))
      for (int64_t i = 0; i < 2 * rowLength; ++i) out[i] = static_cast<uint8_t>(out[i] << 4);
  }
  return true;
}


// ---------------------------------------------------------------- page reader

namespace {

// One directory entry; Raw keeps the value field's four bytes as stored.
struct TEntry {
  uint16_t Tag = 0, Type = 0;
  uint32_t Count = 0, Value = 0;
  uint8_t Raw[4] = {};
};

int TypeSize(int type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
  }
}

// Tag access on one directory. Every read goes through the bounded stream;
// counts are never trusted beyond the bytes the file holds.
class TDirectory {
 public:
  TDirectory(TImStream& s, int64_t base, bool mm) : s_(s), base_(base), mm_(mm) {}

  uint16_t U16() { return mm_ ? s_.U16BE() : s_.U16LE(); }
  uint32_t U32() { return mm_ ? s_.U32BE() : s_.U32LE(); }
  uint32_t Get32(std::span<const uint8_t> d, size_t off) const { return mm_ ? ImGetU32BE(d, off) : ImGetU32LE(d, off); }
  uint16_t Get16(std::span<const uint8_t> d, size_t off) const { return mm_ ? ImGetU16BE(d, off) : ImGetU16LE(d, off); }

  // Reads n entries at the stream's position (no more than the data holds).
  void ReadEntries(int n) {
    const int64_t fit = std::max<int64_t>(s_.Remaining(), 0) / 12;
    n = static_cast<int>(std::min<int64_t>(n, fit));
    entries_.resize(static_cast<size_t>(n));
    for (TEntry& e : entries_) {
      e.Tag = U16();
      e.Type = U16();
      e.Count = U32();
      s_.Read(e.Raw, 4);
      e.Value = Get32(e.Raw, 0);
    }
  }

  const TEntry* Find(uint16_t tag) const {
    for (const TEntry& e : entries_)
      if (e.Tag == tag) return &e;
    return nullptr;
  }

  // The bytes of an entry's value: inline when they fit in the value field,
  // else at base + offset, clipped to the data.
  std::span<const uint8_t> Data(const TEntry& e, int64_t* declared = nullptr) const {
    const int64_t size = static_cast<int64_t>(e.Count) * TypeSize(e.Type);
    if (declared) *declared = size;
    if (size <= 4) return std::span<const uint8_t>(e.Raw, static_cast<size_t>(size));
    return s_.Bytes(base_ + e.Value, size);
  }

  // A single value: the first short for SHORT, the first byte for BYTE,
  // the 32-bit field otherwise.
  int64_t Value(uint16_t tag, int64_t def) const {
    const TEntry* e = Find(tag);
    if (!e) return def;
    if (e->Type == 3 || e->Type == 8) return Get16(e->Raw, 0);
    if (e->Type == 1 || e->Type == 6) return e->Raw[0];
    return e->Value;
  }

  // Up to max elements of a BYTE, SHORT or LONG array (elements the file
  // does not hold are left out).
  std::vector<uint32_t> Array(uint16_t tag, size_t max = SIZE_MAX) const {
    std::vector<uint32_t> out;
    const TEntry* e = Find(tag);
    if (!e) return out;
    const int size = TypeSize(e->Type);
    if (size != 1 && size != 2 && size != 4) return out;
    const std::span<const uint8_t> d = Data(*e);
    const size_t n = std::min<size_t>(d.size() / static_cast<size_t>(size), max);
    out.reserve(n);
    for (size_t i = 0; i < n; ++i)
      out.push_back(size == 1 ? d[i] : size == 2 ? Get16(d, 2 * i) : Get32(d, 4 * i));
    return out;
  }

  // Element i of a RATIONAL: numerator / denominator (0 counts as 1); 0 when absent.
  double Rational(uint16_t tag, uint32_t i = 0) const {
    const TEntry* e = Find(tag);
    if (!e || e->Type != 5 || i >= e->Count) return 0;
    const std::span<const uint8_t> d = s_.Bytes(base_ + e->Value + 8 * int64_t(i), 8);
    const uint32_t num = Get32(d, 0), den = Get32(d, 4);
    return static_cast<double>(num) / (den == 0 ? 1 : den);
  }

  // An ASCII value up to its first zero byte; counts above 1048575 leave out as it was.
  void Text(uint16_t tag, std::string& out) const {
    const TEntry* e = Find(tag);
    if (!e || e->Count > 1048575) return;
    const std::span<const uint8_t> d = Data(*e);
    out.clear();
    for (uint8_t c : d) {
      if (c == 0) break;
      out.push_back(static_cast<char>(c));
    }
  }

  bool Empty() const { return entries_.empty(); }

 private:
  TImStream& s_;
  int64_t base_;
  bool mm_;
  std::vector<TEntry> entries_;
};

// Walks a directory chain from offset: returns the number of directories and
// reads the entries of directory `wanted` into dir (met set when it was
// there). A chain that comes back to a directory already seen ends there.
int WalkChain(TImStream& s, int64_t base, uint32_t first, int wanted, TDirectory& dir, bool& met) {
  met = false;
  int counter = 0;
  std::set<uint32_t> seen;
  uint32_t offset = first;
  while (offset != 0 && seen.insert(offset).second) {
    if (!s.Seek(base + offset)) break;
    const int n = dir.U16();
    if (s.Failed()) break;
    if (counter == wanted) {
      dir.ReadEntries(n);
      met = true;
    } else {
      s.Skip(12 * int64_t(n));
    }
    ++counter;
    if (s.AtEnd() || s.Failed()) break;
    uint32_t next = dir.U32();
    if (s.Failed() || next == offset || base + int64_t(next) >= s.Size()) next = 0;
    offset = next;
  }
  s.ClearFailed();
  return counter;
}

// The decoded image's pixel writer for one row of samples.
struct TWriter {
  const TTIFFVars& V;
  TImBitmap& Target;
  TImMask* Mask;
  TImPixelFormat Format;
  bool MollyShift = false;

  // Writes count pixels of one row of samples at (x, y).
  void Row(const uint8_t* src, int x, int y, int count) {
    uint8_t* dst = Target.Scanline(y);
    if (!dst || count <= 0) return;
    const int spp = V.SamplesPerPixel, bits = V.BitsPerSample, ph = V.Photometric;
    uint8_t* mask = Mask ? Mask->Scanline(y) : nullptr;
    auto put = [&](int i, const TImRGB& c) {
      uint8_t* p = dst + 3 * int64_t(x + i);
      p[0] = c.B;
      p[1] = c.G;
      p[2] = c.R;
    };
    auto gray = [&](int i, uint8_t g) { put(i, TImRGB{g, g, g}); };
    auto mapped = [&](int i, unsigned index) {
      put(i, index < V.ColorMap.size() ? V.ColorMap[index] : TImRGB{});
    };
    if (Format == im1bit) {
      if (bits != 1 || spp != 1) return;
      // Fax decoders give white as set bits, the way WhiteIsZero stores
      // pixel values inverted; uncompressed data holds the values.
      const bool fax = V.Compression == 2 || V.Compression == 3 || V.Compression == 4;
      const bool invert = fax ? ph == 1 : ph == 0;
      const int bytes = (count + 7) / 8;
      for (int i = 0; i < bytes; ++i) dst[x / 8 + i] = invert ? static_cast<uint8_t>(~src[i]) : src[i];
      return;
    }
    if (ph == 2 && (spp == 3 || spp == 4) && bits == 8) {
      for (int i = 0; i < count; ++i) {
        const uint8_t* s = src + int64_t(i) * spp;
        put(i, TImRGB{s[2], s[1], s[0]});
        if (spp == 4 && mask) mask[x + i] = s[3];
      }
    } else if (ph == 2 && (spp == 3 || spp == 4) && bits == 16) {
      const int hi = V.BigEndian ? 0 : 1;
      for (int i = 0; i < count; ++i) {
        const uint8_t* s = src + int64_t(i) * spp * 2;
        put(i, TImRGB{s[4 + hi], s[2 + hi], s[hi]});
      }
    } else if (ph == 2 && spp == 1 && bits == 16) {
      for (int i = 0; i < count; ++i) {
        const unsigned w = src[2 * i] | (src[2 * i + 1] << 8);
        put(i, TImRGB{uint8_t((w & 31) << 3), uint8_t(((w >> 5) & 31) << 3), uint8_t(((w >> 10) & 31) << 3)});
      }
    } else if (ph == 3 && bits <= 8 && spp == 2 && bits == 8) {
      for (int i = 0; i < count; ++i) {
        mapped(i, src[2 * i]);
        // The second sample is alpha, as for RGB images.
        if (mask) mask[x + i] = src[2 * i + 1];
      }
    } else if (ph == 3 && bits <= 8) {
      for (int i = 0; i < count; ++i) {
        const unsigned index = bits == 1 ? (src[i >> 3] >> (7 - (i & 7))) & 1 : src[int64_t(i) * spp];
        if (Format == im8pal) dst[x + i] = static_cast<uint8_t>(index);
        else mapped(i, index);
      }
    } else if ((ph == 0 || ph == 1) && spp == 1 && (bits == 8 || bits == 4)) {
      for (int i = 0; i < count; ++i) {
        if (Format == im8gray) dst[x + i] = src[i];
        else gray(i, ph == 1 ? src[i] : static_cast<uint8_t>(255 - src[i]));
      }
    } else if ((ph == 0 || ph == 1) && spp == 1 && bits == 16) {
      for (int i = 0; i < count; ++i) {
        uint16_t v = V.BigEndian ? uint16_t((src[2 * i] << 8) | src[2 * i + 1]) : uint16_t(src[2 * i] | (src[2 * i + 1] << 8));
        if (ph == 0) v = static_cast<uint16_t>(65535 - v);
        if (Format == im16gray) {
          dst[2 * (x + i)] = static_cast<uint8_t>(v);
          dst[2 * (x + i) + 1] = static_cast<uint8_t>(v >> 8);
        } else {
          gray(i, static_cast<uint8_t>(v >> (MollyShift ? 4 : 8)));
        }
      }
    } else if (ph == 5 && spp == 4 && bits == 8) {
      std::vector<uint8_t> inks(src, src + int64_t(count) * 4);
      for (uint8_t& b : inks) b = static_cast<uint8_t>(255 - b);
      ConvertCmykToBgr(inks.data(), dst + 3 * int64_t(x), count);
    } else if (ph == 8 && spp == 3 && bits == 8) {
      for (int i = 0; i < count; ++i) put(i, LabToRgb(src + 3 * int64_t(i)));
    }
  }

  static TImRGB LabToRgb(const uint8_t* s) {
    const double L = s[0] / 255.0 * 100.0;
    int a = static_cast<int8_t>(s[1]), b = static_cast<int8_t>(s[2]);
    if (a == -128) a = 128;
    if (b == -128) b = 128;
    const double A = (a + 127) / 255.0 * 200.0 - 100.0, B = (b + 127) / 255.0 * 200.0 - 100.0;
    const double fy = (L + 16.0) / 116.0;
    double X, Y, Z;
    if (L < 7.9996) {
      Y = L / 903.3;
      X = A / 3893.5 + Y;
      Z = Y - B / 1557.4;
    } else {
      X = std::pow(fy + A / 500.0, 3);
      Y = fy * fy * fy;
      Z = std::pow(fy - B / 200.0, 3);
    }
    auto channel = [](double v) -> uint8_t {
      if (v <= 0) return 0;
      if (v >= 1) return 255;
      return static_cast<uint8_t>(std::sqrt(v) * 256.0);
    };
    TImRGB c;
    c.R = channel(2.69 * X - 1.276 * Y - 0.414 * Z);
    c.G = channel(-1.022 * X + 1.978 * Y + 0.044 * Z);
    c.B = channel(0.061 * X - 0.224 * Y + 1.163 * Z);
    return c;
  }
};

// Bytes per row of samples: Trunc(samples x width x bits / 8), plus a byte
// for 4-bit rows of odd width and 1-bit rows not ending on a byte.
int64_t RowLength(int64_t samples, int64_t width, int bits) {
  int64_t n = samples * width * bits / 8;
  if ((bits == 4 && (width & 1)) || (bits == 1 && (width & 7))) ++n;
  return n;
}

// Turns the image upright by its Orientation (2 to 8) as TIFF 6.0 defines
// the values: out(x, y) takes the stored pixel given below.
void ApplyOrientation(TImBitmap& b, TImMask* mask, int orientation, TIOParams& p) {
  const int w = b.Width(), h = b.Height();
  const TImPixelFormat f = b.PixelFormat();
  if (w <= 0 || h <= 0) return;
  const bool swap = orientation >= 5;
  const int nw = swap ? h : w, nh = swap ? w : h;
  auto source = [&](int x, int y, int& sx, int& sy) {
    switch (orientation) {
      case 2: sx = w - 1 - x; sy = y; break;
      case 3: sx = w - 1 - x; sy = h - 1 - y; break;
      case 4: sx = x; sy = h - 1 - y; break;
      case 5: sx = y; sy = x; break;
      case 6: sx = y; sy = h - 1 - x; break;
      case 7: sx = w - 1 - y; sy = h - 1 - x; break;
      default: sx = w - 1 - y; sy = x; break;
    }
  };
  const int bpp = f == im1bit ? 1 : kImBitCount[f] / 8;
  // Unpacked copy of the stored pixels (one byte per 1-bit pixel).
  std::vector<uint8_t> px(static_cast<size_t>(w) * h * bpp);
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = b.Scanline(y);
    if (!row) continue;
    for (int x = 0; x < w; ++x) {
      uint8_t* d = px.data() + (static_cast<size_t>(y) * w + x) * bpp;
      if (f == im1bit) d[0] = (row[x >> 3] >> (7 - (x & 7))) & 1;
      else std::memcpy(d, row + int64_t(x) * bpp, static_cast<size_t>(bpp));
    }
  }
  std::vector<TImRGB> palette;
  if (b.Palette()) palette.assign(b.Palette(), b.Palette() + b.PaletteCount());
  b.Allocate(nw, nh, f);
  for (size_t i = 0; i < palette.size(); ++i)
    b.SetPaletteColor(static_cast<int>(i), palette[i].B | (palette[i].G << 8) | (palette[i].R << 16));
  for (int y = 0; y < nh; ++y) {
    uint8_t* row = b.Scanline(y);
    if (!row) continue;
    for (int x = 0; x < nw; ++x) {
      int sx, sy;
      source(x, y, sx, sy);
      const uint8_t* s = px.data() + (static_cast<size_t>(sy) * w + sx) * bpp;
      if (f == im1bit) {
        if (s[0]) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
        else row[x >> 3] &= static_cast<uint8_t>(~(0x80 >> (x & 7)));
      } else {
        std::memcpy(row + int64_t(x) * bpp, s, static_cast<size_t>(bpp));
      }
    }
  }
  if (mask && mask->Width == w && mask->Height == h) {
    TImMask turned;
    turned.Allocate(nw, nh, 8);
    for (int y = 0; y < nh; ++y)
      for (int x = 0; x < nw; ++x) {
        int sx, sy;
        source(x, y, sx, sy);
        turned.Scanline(y)[x] = mask->Scanline(sy)[sx];
      }
    turned.Full = mask->Full;
    *mask = std::move(turned);
  }
  p.Width = nw;
  p.Height = nh;
}

class TPageReader {
 public:
  TPageReader(TImStream& s, int64_t base, const TTIFFVars& v, TImBitmap& target, TImMask* mask,
              TLoadProgress& progress, TImPixelFormat format)
      : s_(s), base_(base), v_(v), target_(target), progress_(progress),
        writer_{v, target, mask, format, v.Software.rfind("Look@Molli v1.1", 0) == 0} {
    progress_.PerUnit = 100.0 / v.ImageLength;
  }

  // The bytes of a strip or tile: its byte count when non-zero, else the
  // rest of the data. A count running past the end marks the file truncated.
  std::span<const uint8_t> Block(const std::vector<uint32_t>& offsets, const std::vector<uint32_t>& counts, size_t i) {
    const int64_t at = base_ + offsets[i];
    const int64_t want = i < counts.size() && counts[i] != 0 ? counts[i] : s_.Size() - at;
    const std::span<const uint8_t> d = s_.Bytes(at, want);
    if (static_cast<int64_t>(d.size()) < want || at >= s_.Size()) truncated_ = true;
    return d;
  }

  // Decodes rows of one chunky strip or tile at (x0, y0), blockWidth wide.
  void DecodeBlock(std::span<const uint8_t> data, int x0, int y0, int blockWidth, int64_t rows) {
    const int64_t rowLength = RowLength(v_.SamplesPerPixel, blockWidth, v_.BitsPerSample);
    TTiffLzwState* lzw = nullptr;
    std::vector<uint8_t> ref(static_cast<size_t>(rowLength), 0xFF);
    int64_t cursor = 0, bitPos = 0;
    const int count = std::min(blockWidth, v_.ImageWidth - x0);
    for (int64_t r = 0; r < rows; ++r) {
      const int64_t y = y0 + r;
      if (y >= v_.ImageLength) break;
      const uint8_t* row = nullptr;
      if (!DecompressTiffRow(row, buffer_, data, cursor, v_, blockWidth, rowLength, lzw, ref, bitPos)) {
        progress_.Abort();
        break;
      }
      writer_.Row(row, x0, static_cast<int>(y), count);
      Step();
      if (progress_.IsAborting()) break;
    }
    if (lzw && v_.LzwDecoder) v_.LzwDecoder(nullptr, 0, lzw);
  }

  void Strips() {
    const int64_t rps = v_.RowsPerStrip;
    for (size_t i = 0; i < v_.StripOffsets.size() && !progress_.IsAborting(); ++i) {
      const int64_t first = static_cast<int64_t>(i) * rps;
      if (first >= v_.ImageLength) break;
      const std::span<const uint8_t> d = Block(v_.StripOffsets, v_.StripByteCounts, i);
      if (d.empty()) continue;
      DecodeBlock(d, 0, static_cast<int>(first), v_.ImageWidth, std::min<int64_t>(rps, v_.ImageLength - first));
    }
  }

  // Planar 8-bit RGB: strips i, n + i and 2n + i hold the red, green and blue
  // planes of the same rows.
  void PlanarStrips() {
    if (v_.Photometric != 2 || v_.SamplesPerPixel != 3 || v_.BitsPerSample != 8 || v_.Compression == 7) return;
    const size_t n = v_.StripOffsets.size() / 3;
    const int64_t rps = v_.RowsPerStrip, w = v_.ImageWidth;
    const int64_t rowLength = RowLength(1, w, 8);
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * 3);
    for (size_t i = 0; i < n && !progress_.IsAborting(); ++i) {
      const int64_t first = static_cast<int64_t>(i) * rps;
      if (first >= v_.ImageLength) break;
      struct TPlane {
        std::span<const uint8_t> Data;
        TTiffLzwState* Lzw = nullptr;
        std::vector<uint8_t> Ref, Buffer;
        int64_t Cursor = 0, BitPos = 0;
      } planes[3];
      for (int c = 0; c < 3; ++c) {
        planes[c].Data = Block(v_.StripOffsets, v_.StripByteCounts, c * n + i);
        planes[c].Ref.assign(static_cast<size_t>(rowLength), 0xFF);
      }
      const int64_t rows = std::min<int64_t>(rps, v_.ImageLength - first);
      for (int64_t r = 0; r < rows && !progress_.IsAborting(); ++r) {
        for (int c = 0; c < 3; ++c) {
          TPlane& pl = planes[c];
          const uint8_t* row = nullptr;
          if (!DecompressTiffRow(row, pl.Buffer, pl.Data, pl.Cursor, v_, static_cast<int>(w), rowLength, pl.Lzw,
                                 pl.Ref, pl.BitPos)) {
            progress_.Abort();
            break;
          }
          for (int64_t x = 0; x < w; ++x) pixels[static_cast<size_t>(3 * x + c)] = row[x];
        }
        if (progress_.IsAborting()) break;
        writer_.Row(pixels.data(), 0, static_cast<int>(first + r), static_cast<int>(w));
        Step();
      }
      for (TPlane& pl : planes)
        if (pl.Lzw && v_.LzwDecoder) v_.LzwDecoder(nullptr, 0, pl.Lzw);
    }
  }

  void Tiles(const std::vector<uint32_t>& offsets, const std::vector<uint32_t>& counts) {
    if (v_.PlanarConfig == 2) {
      progress_.Abort();
      return;
    }
    const int tw = v_.TileWidth, tl = v_.TileLength;
    if (tw <= 0 || tl <= 0) return;
    const size_t blocks = static_cast<size_t>(((v_.ImageWidth + int64_t(tw) - 1) / tw) *
                                              ((v_.ImageLength + int64_t(tl) - 1) / tl));
    int64_t x = 0, y = 0;
    for (size_t i = 0; i < offsets.size() && i < blocks && !progress_.IsAborting(); ++i) {
      const std::span<const uint8_t> d = Block(offsets, counts, i);
      if (!d.empty()) {
        if (v_.Compression == 7) Jpeg(d, static_cast<int>(x), static_cast<int>(y), tw, tl, blocks);
        else DecodeBlock(d, static_cast<int>(x), static_cast<int>(y), tw, tl);
      }
      x += tw;
      if (x >= v_.ImageWidth) {
        x = 0;
        y += tl;
      }
    }
  }

  // A JPEG-compressed strip or tile, decoded whole and copied into place.
  void Jpeg(std::span<const uint8_t> d, int x, int y, int w, int h, size_t blocks) {
    TImStream block(d);
    TImStream tables(v_.JpegTables);
    TImBitmap scratch;
    scratch.Allocate(w, h, im24bgr);
    TIOParams params;
    const bool raw = !v_.JpegTables.empty() && v_.Photometric == 2;
    if (blocks == 1) {
      ReadJpegStream(block, v_.JpegTables.empty() ? nullptr : &tables, scratch, params, progress_, false, raw);
    } else {
      TLoadProgress quiet;
      quiet.Aborting = progress_.Aborting;
      ReadJpegStream(block, v_.JpegTables.empty() ? nullptr : &tables, scratch, params, quiet, false, raw);
    }
    if (progress_.IsAborting()) return;
    // Components kept as stored come in file order (red first); a stream
    // the library itself knows as RGB is already delivered blue first.
    if (raw && params.JpegColorSpace == 2 && scratch.PixelFormat() == im24bgr) {
      for (int r = 0; r < scratch.Height(); ++r) {
        uint8_t* p = scratch.Scanline(r);
        for (int c = 0; p && c < scratch.Width(); ++c) std::swap(p[3 * c], p[3 * c + 2]);
      }
    }
    scratch.CopyRectTo(target_, 0, 0, scratch.Width(), scratch.Height(), x, y);
    if (blocks > 1) {
      ++done_;
      progress_.PerUnit = 100.0 / blocks;
      progress_.Report(done_);
    }
  }

  void JpegStrips() {
    const int64_t rps = v_.RowsPerStrip;
    size_t blocks = 0;
    for (size_t i = 0; i < v_.StripOffsets.size() && int64_t(i) * rps < v_.ImageLength; ++i) ++blocks;
    for (size_t i = 0; i < blocks && !progress_.IsAborting(); ++i) {
      const std::span<const uint8_t> d = Block(v_.StripOffsets, v_.StripByteCounts, i);
      const int64_t first = int64_t(i) * rps;
      if (!d.empty())
        Jpeg(d, 0, static_cast<int>(first), v_.ImageWidth, static_cast<int>(std::min<int64_t>(rps, v_.ImageLength - first)),
             blocks);
    }
  }

  bool Truncated() const { return truncated_; }

 private:
  void Step() {
    ++done_;
    progress_.Report(done_);
  }

  TImStream& s_;
  int64_t base_;
  const TTIFFVars& v_;
  TImBitmap& target_;
  TLoadProgress& progress_;
  TWriter writer_;
  std::vector<uint8_t> buffer_;
  int64_t done_ = 0;
  bool truncated_ = false;
};

}  // namespace

void ReadTiffStream(TImBitmap& target, TImStream& stream, int& pageCount, bool acceptEmpty, bool noMask,
                    bool baseAtPosition, std::unique_ptr<TImMask>& mask, bool headerOnly,
                    TLoadProgress& progress, TIOParams& params) {
  pageCount = 0;
  const int64_t base = baseAtPosition ? stream.Position() : 0;
  stream.Seek(base);
  uint8_t order[2] = {};
  stream.Read(order, 2);
  const bool mm = order[0] == 'M' && order[1] == 'M';
  if (stream.Failed() || (!mm && !(order[0] == 'I' && order[1] == 'I'))) {
    progress.Abort();
    return;
  }
  TDirectory dir(stream, base, mm);
  stream.Skip(2);  // the version number is not examined
  const uint32_t first = dir.U32();
  if (stream.Failed()) {
    progress.Abort();
    return;
  }
  if (first == 0) return;
  bool met = false;
  const int count = WalkChain(stream, base, first, params.TiffPageIndex, dir, met);
  pageCount = count;
  if (!met) return;

  // The EXIF directory holds nothing this reader uses; it is only walked.
  if (const int64_t exif = dir.Value(34665, 0); exif > 0) {
    TDirectory exifDir(stream, base, mm);
    bool exifMet = false;
    WalkChain(stream, base, static_cast<uint32_t>(exif), 0, exifDir, exifMet);
  }

  TTIFFVars v;
  v.BigEndian = mm;
  v.ImageWidth = static_cast<int32_t>(std::min<int64_t>(dir.Value(256, 0), INT32_MAX));
  v.ImageLength = static_cast<int32_t>(std::min<int64_t>(dir.Value(257, 0), INT32_MAX));
  const std::vector<uint32_t> bits = dir.Array(258, 64);
  v.BitsPerSample = bits.empty() ? 1 : static_cast<int32_t>(bits[0]);
  for (uint32_t b : bits)
    if (b != bits[0]) {
      progress.Abort();
      return;
    }
  v.Compression = static_cast<uint16_t>(dir.Value(259, 1));
  v.Photometric = static_cast<uint16_t>(dir.Value(262, 2));
  v.FillOrder = static_cast<int32_t>(dir.Value(266, 1));
  v.Orientation = static_cast<uint16_t>(dir.Value(274, 1));
  v.SamplesPerPixel = static_cast<int32_t>(std::min<int64_t>(dir.Value(277, 1), INT32_MAX));
  const int64_t rps = dir.Value(278, v.ImageLength);
  v.RowsPerStrip = rps == 4294967295LL || rps <= 0 ? v.ImageLength : rps;
  v.XResolution = dir.Rational(282);
  v.YResolution = dir.Rational(283);
  v.PlanarConfig = static_cast<uint16_t>(dir.Value(284, 1));
  v.XPosition = dir.Rational(286);
  v.YPosition = dir.Rational(287);
  v.T4Options = static_cast<int32_t>(dir.Value(292, 0));
  v.T6Options = static_cast<int32_t>(dir.Value(293, 0));
  v.ResolutionUnit = static_cast<int32_t>(dir.Value(296, 2));
  dir.Text(305, v.Software);
  v.Predictor = static_cast<int32_t>(dir.Value(317, 1));
  v.TileWidth = static_cast<int32_t>(std::min<int64_t>(dir.Value(322, -1), INT32_MAX));
  v.TileLength = static_cast<int32_t>(std::min<int64_t>(dir.Value(323, -1), INT32_MAX));
  v.ExtraSamples = static_cast<int32_t>(dir.Value(338, 0));
  v.InkSet = static_cast<int32_t>(dir.Value(332, 1));
  v.NumberOfInks = static_cast<int32_t>(dir.Value(334, 4));
  v.JpegProc = static_cast<int32_t>(dir.Value(512, 0));
  v.JpegIFOffset = static_cast<int32_t>(dir.Value(513, 0));
  v.JpegIFLength = static_cast<int32_t>(dir.Value(514, 0));
  v.JpegRestartInterval = static_cast<int32_t>(dir.Value(515, 0));
  if (const TEntry* e = dir.Find(347)) {
    const std::span<const uint8_t> t = dir.Data(*e);
    v.JpegTables.assign(t.begin(), t.end());
  }
  // A colour map of 1 << BitsPerSample entries: red, green and blue thirds,
  // the high byte of each 16-bit value.
  if (v.BitsPerSample >= 1 && v.BitsPerSample <= 8) {
    const size_t n = size_t(1) << v.BitsPerSample;
    const std::vector<uint32_t> map = dir.Array(320, 3 * n);
    if (!map.empty()) {
      v.ColorMap.resize(n);
      auto at = [&](size_t i) { return i < map.size() ? static_cast<uint8_t>(map[i] >> 8) : uint8_t(0); };
      for (size_t i = 0; i < n; ++i) v.ColorMap[i] = TImRGB{at(i + 2 * n), at(i + n), at(i)};
    }
  }
  if (v.SamplesPerPixel == 1 && v.BitsPerSample == 1 && v.Compression >= 1 && v.Compression <= 4 &&
      v.Photometric == 2)
    v.Photometric = 0;

  // The page's parameters.
  params.Width = v.ImageWidth;
  params.Height = v.ImageLength;
  params.BitsPerSample = v.BitsPerSample;
  params.SamplesPerPixel = v.SamplesPerPixel;
  params.TiffPageCount = count;
  params.TiffCompression = TiffCompressionCode(v.Compression, v.T4Options);
  if (v.Photometric <= 6) params.TiffPhotometric = v.Photometric;
  else if (v.Photometric == 8) params.TiffPhotometric = 7;
  params.TiffPlanarConfig = v.PlanarConfig;
  dir.Text(269, params.TiffDocumentName);
  dir.Text(270, params.TiffImageDescription);
  dir.Text(285, params.TiffPageName);
  const std::vector<uint32_t> pageNumber = dir.Array(297, 2);
  params.TiffPageNumber = pageNumber.size() > 0 ? static_cast<int32_t>(pageNumber[0]) : 0;
  params.TiffPageTotal = pageNumber.size() > 1 ? static_cast<int32_t>(pageNumber[1]) : 0;
  params.TiffOrientation = v.Orientation;
  const double unit = v.ResolutionUnit == 3 ? 2.54 : 1.0;
  auto trunc = [](double d) { return static_cast<int32_t>(std::clamp(d, -2147483648.0, 2147483647.0)); };
  params.TiffXPosition = trunc(v.XPosition * unit);
  params.TiffYPosition = trunc(v.YPosition * unit);
  const int32_t dpiX = trunc(v.XResolution * unit), dpiY = trunc(v.YResolution * unit);
  params.SetDpiX(dpiX == 0 ? ImDefaultDpiX : dpiX);
  params.SetDpiY(dpiY == 0 ? ImDefaultDpiY : dpiY);
  params.FreeColorMap();
  if (!v.ColorMap.empty()) params.SetColorMap(v.ColorMap.data(), static_cast<int>(v.ColorMap.size()));

  if ((v.ImageWidth == 0 || v.ImageLength == 0) && !acceptEmpty) {
    progress.Abort();
    return;
  }
  v.LzwDecoder = params.TiffLzwDecoder ? params.TiffLzwDecoder : DefTiffLzwDecoder;
  if (v.Compression == 5 && !v.LzwDecoder) {
    progress.Abort();
    return;
  }
  if (headerOnly) return;
  if (v.ImageWidth == 0 || v.ImageLength == 0) {
    progress.Abort();
    return;
  }
  // Sizes the pixel buffers could not hold or the file could not describe,
  // and sample layouts no conversion reads, are refused before anything is
  // allocated. A fax row takes at least one bit (a blank row of the
  // two-dimensional codings); other codings are held to the general ratio.
  const bool faxCoded = v.Compression >= 2 && v.Compression <= 4;
  const bool describable =
      faxCoded ? ImSizeAllowed(v.ImageWidth, v.ImageLength) && v.ImageLength / 8 <= stream.Size()
               : ImSizeDescribable(v.ImageWidth, v.ImageLength, int64_t(v.BitsPerSample) * v.SamplesPerPixel,
                                   stream.Size());
  if (!describable || v.BitsPerSample < 1 || v.BitsPerSample > 32 ||
      v.SamplesPerPixel < 1 || v.SamplesPerPixel > 32 || v.TileWidth > 65536 || v.TileLength > 65536 ||
      RowLength(v.SamplesPerPixel, std::max(v.ImageWidth, v.TileWidth), v.BitsPerSample) > (int64_t(1) << 28)) {
    progress.Abort();
    return;
  }

  if (!noMask && !mask &&
      ((v.SamplesPerPixel == 4 && v.ExtraSamples == 2) || (v.SamplesPerPixel == 2 && v.BitsPerSample == 8) ||
       (v.SamplesPerPixel == 4 && v.Photometric == 2)))
    mask = std::make_unique<TImMask>();
  if (mask) {
    mask->Allocate(v.ImageWidth, v.ImageLength, 8);
    mask->Fill(255);
  }

  // Rows are only written while decoding.
  struct TRestore {
    TImBitmap& B;
    uint8_t Mode;
    ~TRestore() { B.AccessMode = Mode; }
  };
  {
  TRestore restore{target, target.AccessMode};
  target.AccessMode = 2;

  v.StripOffsets = dir.Array(273);
  v.StripByteCounts = dir.Array(279, v.StripOffsets.size());
  v.TileOffsets = dir.Array(324);
  v.TileByteCounts = dir.Array(325, v.TileOffsets.size());

  if (v.Compression == 6 && v.JpegProc < 2) {
    // Old-style JPEG: one interchange stream for the whole page.
    const int64_t at = base + static_cast<uint32_t>(v.JpegIFOffset);
    const std::span<const uint8_t> d =
        stream.Bytes(at, v.JpegIFLength > 0 ? int64_t(static_cast<uint32_t>(v.JpegIFLength)) : stream.Size() - at);
    TImStream jpeg(d);
    TIOParams own;
    ReadJpegStream(jpeg, nullptr, target, own, progress);
  } else {
    TImPixelFormat format = im24bgr;
    if (v.BitsPerSample == 1 && v.SamplesPerPixel == 1 && v.Photometric != 3) {
      format = im1bit;
    } else if (params.NativePixelFormat && v.SamplesPerPixel == 1) {
      if (v.BitsPerSample == 8 && v.Photometric == 3) format = im8pal;
      else if (v.BitsPerSample == 8 && v.Photometric == 1) format = im8gray;
      else if (v.BitsPerSample == 16 && v.Photometric == 1) format = im16gray;
    }
    target.Allocate(v.ImageWidth, v.ImageLength, format);
    if (format == im8pal)
      for (size_t i = 0; i < v.ColorMap.size(); ++i)
        target.SetPaletteColor(static_cast<int>(i), v.ColorMap[i].B | (v.ColorMap[i].G << 8) | (v.ColorMap[i].R << 16));

    TPageReader reader(stream, base, v, target, mask.get(), progress, format);
    if (v.TileWidth > 0 || v.TileLength > 0) {
      if (!v.TileOffsets.empty()) reader.Tiles(v.TileOffsets, v.TileByteCounts);
      else if (!v.StripOffsets.empty()) reader.Tiles(v.StripOffsets, v.StripByteCounts);
    } else if (!v.StripOffsets.empty()) {
      if (v.Compression == 7) reader.JpegStrips();
      else if (v.PlanarConfig == 2) reader.PlanarStrips();
      else reader.Strips();
    }
    // A file cut short keeps the rows it had, and the load reports the failure.
    if (reader.Truncated()) progress.Abort();
  }
  }

  if (params.TiffApplyOrientation && v.Orientation >= 2 && v.Orientation <= 8 && target.Width() > 0)
    ApplyOrientation(target, mask.get(), v.Orientation, params);
}

void TImageIO::LoadFromFileTiff(const std::string& fileName) {
  TLoadOptions options;
  options.FileType = ioTIFF;
  RunFormatLoad(fileName, options, [this](TImStream& stream, TLoadProgress& progress, std::unique_ptr<TImMask>& mask) {
    int pages = 0;
    ReadTiffStream(*Bitmap(), stream, pages, false, false, true, mask, false, progress, Params());
    if (mask) mask->Full = false;
  });
}
