// Render: draws a rectangle of a buffer, scaled, into a 24-bit QImage.
//
// Steps: clip the rectangles against the destination; with a filter and a
// change of size, resample the visible part (24-bit and bilevel sources) and
// draw the result 1:1; otherwise map destination pixels to source pixels with
// 14-bit fixed-point steps (or the caller's tables) and let the per-format
// routine copy or blend them. A 1:1 opaque 24-bit drawing is a row copy.
#include <QImage>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "image/ImBitmap.h"
#include "image/ImResample.h"

namespace {

constexpr int kStepBits = 14;
constexpr int64_t kStepOne = 1 << kStepBits;
constexpr int64_t kNoClip = 2147483646;

struct TAccessGuard {
  TImBitmap& B;
  uint8_t Saved;
  TAccessGuard(TImBitmap& b, uint8_t mode) : B(b), Saved(b.AccessMode) { b.AccessMode = mode; }
  ~TAccessGuard() { B.AccessMode = Saved; }
};

// A table handed in by the caller is trusted only if it covers the area and
// points inside the source.
bool TableFits(const std::vector<int>& t, int64_t offset, int64_t first, int64_t last, int limit) {
  if (t.empty() || first + offset < 0 || last + offset >= static_cast<int64_t>(t.size())) return false;
  for (int64_t i = first; i <= last; ++i) {
    const int v = t[static_cast<size_t>(i + offset)];
    if (v < 0 || v >= limit) return false;
  }
  return true;
}

// Source index for destination index d: start + floor(step x (d - origin) / 2^14).
int MapIndex(int64_t start, int64_t step, int64_t d, int64_t origin, int limit) {
  const int64_t v = start + ((step * (d - origin)) >> kStepBits);
  return static_cast<int>(std::clamp<int64_t>(v, 0, limit - 1));
}

// Source indices for destination indices first..last, from the caller's
// table when it fits, else from the steps. A slot that was empty receives the
// table built here (indexed by the destination index itself, covering the
// whole destination) when tables are kept and the offset is 0.
std::vector<int> AxisTable(std::vector<int>* slot, int64_t offset, bool keep, int64_t first, int64_t last,
                           int64_t destSize, int64_t start, int64_t step, int64_t origin, int limit) {
  std::vector<int> area(static_cast<size_t>(last - first + 1));
  if (slot && TableFits(*slot, offset, first, last, limit)) {
    for (int64_t i = first; i <= last; ++i) area[static_cast<size_t>(i - first)] = (*slot)[static_cast<size_t>(i + offset)];
    return area;
  }
  for (int64_t i = first; i <= last; ++i) area[static_cast<size_t>(i - first)] = MapIndex(start, step, i, origin, limit);
  if (slot && slot->empty() && keep && offset == 0) {
    slot->resize(static_cast<size_t>(destSize));
    for (int64_t i = 0; i < destSize; ++i) (*slot)[static_cast<size_t>(i)] = MapIndex(start, step, i, origin, limit);
  }
  return area;
}

// Per-channel brightness offsets and contrast (all 0 in this program): the
// offset is added, then the distance from mid gray is scaled by
// (100 + contrast) / 100.
struct TAdjust {
  bool Active = false;
  int Offset[3] = {0, 0, 0};  // blue, green, red
  int Contrast = 0;
  explicit TAdjust(const TImBitmap& b) {
    Offset[0] = b.BlueOffset;
    Offset[1] = b.GreenOffset;
    Offset[2] = b.RedOffset;
    Contrast = std::max(b.Contrast, -100);
    Active = b.BlueOffset || b.GreenOffset || b.RedOffset || b.Contrast;
  }
  void Apply(uint8_t* c) const {
    for (int k = 0; k < 3; ++k) {
      int64_t v = static_cast<int64_t>(c[k]) + Offset[k];
      if (Contrast) v = (v - 128) * (100 + Contrast) / 100 + 128;
      c[k] = static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255));
    }
  }
};

// Gray through a display range (minimum <> maximum): the value clamped to the
// range and stretched to 0 .. 255.
uint8_t RangeGray(double v, double lo, double hi) {
  v = lo < hi ? std::clamp(v, lo, hi) : std::clamp(v, hi, lo);
  const double g = (v - lo) / (hi - lo) * 255.0;
  return static_cast<uint8_t>(std::clamp(std::trunc(g), 0.0, 255.0));
}

// The loop shared by the twelve routines. px(row, x, bgr) gives the colour of
// source pixel x of a source row.
template <class Px>
void DrawRows(TImBitmap& src, const TImBitmap::TRenderPass& p, bool blend, Px px) {
  if (p.FirstCol > p.LastCol || p.FirstRow > p.LastRow) return;
  const TAdjust adjust(src);
  const int srcWidth = src.Width();
  const size_t span = static_cast<size_t>(p.LastCol - p.FirstCol + 1) * 3;
  std::vector<uint8_t> alphaRow(blend && p.Alpha ? static_cast<size_t>(srcWidth) : 0);
  int alphaRowOf = -1;
  const int opacity = std::clamp(p.Opacity, 0, 255);
  for (int y = p.FirstRow; y <= p.LastRow; ++y) {
    uint8_t* d = p.DestRows[y] + static_cast<size_t>(p.FirstCol) * 3;
    const int sr = p.SrcRow[y - p.FirstRow];
    if (p.RowDuplication && y > p.FirstRow && sr == p.SrcRow[y - 1 - p.FirstRow]) {
      std::memcpy(d, p.DestRows[y - 1] + static_cast<size_t>(p.FirstCol) * 3, span);
      continue;
    }
    const uint8_t* s = src.Scanline(sr);
    if (!s) continue;
    if (!alphaRow.empty() && alphaRowOf != sr) {
      ImReadAlphaRow(*p.Alpha, sr, srcWidth, alphaRow.data());
      alphaRowOf = sr;
    }
    const int* cols = p.SrcCol;
    const int n = p.LastCol - p.FirstCol + 1;
    for (int i = 0; i < n; ++i, d += 3) {
      uint8_t c[3];
      px(s, cols[i], c);
      if (adjust.Active) adjust.Apply(c);
      if (!blend) {
        d[0] = c[0];
        d[1] = c[1];
        d[2] = c[2];
        continue;
      }
      const int o = alphaRow.empty() ? opacity : std::min<int>(opacity, alphaRow[cols[i]]);
      for (int k = 0; k < 3; ++k) d[k] = static_cast<uint8_t>(d[k] + (((c[k] - d[k]) * o) >> 8));
    }
  }
}

auto Pixel24() {
  return [](const uint8_t* row, int x, uint8_t* c) {
    const uint8_t* q = row + 3 * static_cast<size_t>(x);
    c[0] = q[0];
    c[1] = q[1];
    c[2] = q[2];
  };
}
auto Pixel1() {
  return [](const uint8_t* row, int x, uint8_t* c) {
    c[0] = c[1] = c[2] = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
  };
}
auto PixelGray8(const TImBitmap& b) {
  const double lo = b.DisplayRangeMin, hi = b.DisplayRangeMax;
  return [lo, hi](const uint8_t* row, int x, uint8_t* c) {
    c[0] = c[1] = c[2] = lo != hi ? RangeGray(row[x], lo, hi) : row[x];
  };
}
auto PixelPal8(TImBitmap& b) {
  const TImRGB* pal = b.Palette();
  const int count = b.PaletteCount();
  return [pal, count](const uint8_t* row, int x, uint8_t* c) {
    const int i = row[x];
    if (pal && i < count) {
      c[0] = pal[i].B;
      c[1] = pal[i].G;
      c[2] = pal[i].R;
    } else {
      c[0] = c[1] = c[2] = 0;
    }
  };
}
auto PixelGray16(const TImBitmap& b) {
  const double lo = b.DisplayRangeMin, hi = b.DisplayRangeMax;
  return [lo, hi](const uint8_t* row, int x, uint8_t* c) {
    const uint8_t* q = row + 2 * static_cast<size_t>(x);
    const int v = q[0] | (q[1] << 8);
    c[0] = c[1] = c[2] = lo != hi ? RangeGray(v, lo, hi) : static_cast<uint8_t>(v >> 8);
  };
}
// Float gray: 0.0 .. 1.0 (or the display range) stretched to 0 .. 255; NaN is black.
auto PixelFloat32(const TImBitmap& b) {
  const double lo = b.DisplayRangeMin, hi = b.DisplayRangeMax;
  return [lo, hi](const uint8_t* row, int x, uint8_t* c) {
    float v;
    std::memcpy(&v, row + 4 * static_cast<size_t>(x), 4);
    uint8_t g = 0;
    if (!std::isnan(v)) g = lo != hi ? RangeGray(v, lo, hi) : RangeGray(v, 0.0, 1.0);
    c[0] = c[1] = c[2] = g;
  };
}

}  // namespace

void TImBitmap::RenderCopy24(const TRenderPass& p) { DrawRows(*this, p, false, Pixel24()); }
void TImBitmap::RenderBlend24(const TRenderPass& p) { DrawRows(*this, p, true, Pixel24()); }
void TImBitmap::RenderCopy1(const TRenderPass& p) { DrawRows(*this, p, false, Pixel1()); }
void TImBitmap::RenderBlend1(const TRenderPass& p) { DrawRows(*this, p, true, Pixel1()); }
void TImBitmap::RenderCopyGray8(const TRenderPass& p) { DrawRows(*this, p, false, PixelGray8(*this)); }
void TImBitmap::RenderBlendGray8(const TRenderPass& p) { DrawRows(*this, p, true, PixelGray8(*this)); }
void TImBitmap::RenderCopyPal8(const TRenderPass& p) { DrawRows(*this, p, false, PixelPal8(*this)); }
void TImBitmap::RenderBlendPal8(const TRenderPass& p) { DrawRows(*this, p, true, PixelPal8(*this)); }
void TImBitmap::RenderCopyGray16(const TRenderPass& p) { DrawRows(*this, p, false, PixelGray16(*this)); }
void TImBitmap::RenderBlendGray16(const TRenderPass& p) { DrawRows(*this, p, true, PixelGray16(*this)); }
void TImBitmap::RenderCopyFloat32(const TRenderPass& p) { DrawRows(*this, p, false, PixelFloat32(*this)); }
void TImBitmap::RenderBlendFloat32(const TRenderPass& p) { DrawRows(*this, p, true, PixelFloat32(*this)); }

void TImBitmap::Render(QImage& dest, const TRenderArgs& a) {
  if (dest.isNull() || dest.format() != QImage::Format_BGR888) return;
  const int64_t bw = dest.width(), bh = dest.height();
  int64_t sx = a.SrcX, sy = a.SrcY, sw = a.SrcWidth, sh = a.SrcHeight;
  int64_t dx = a.DestX, dy = a.DestY, dw = a.DestWidth, dh = a.DestHeight;
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
  if (dx > bw - 1 || dy > bh - 1) return;
  const int srcWidth = Width(), srcHeight = Height();
  const TImPixelFormat f = PixelFormat();
  if (srcWidth <= 0 || srcHeight <= 0 || BitCount() == 0) return;

  // Clip against the destination bitmap, moving the source rectangle by the
  // same share of source pixels.
  const long double ry = static_cast<long double>(sh) / dh, rx = static_cast<long double>(sw) / dw;
  if (dy < 0) {
    const int64_t t = static_cast<int64_t>(static_cast<long double>(-dy) * ry);
    sy += t;
    sh -= t;
    dh += dy;
    dy = 0;
  }
  if (dx < 0) {
    const int64_t t = static_cast<int64_t>(static_cast<long double>(-dx) * rx);
    sx += t;
    sw -= t;
    dw += dx;
    dx = 0;
  }
  if (dy + dh > bh) {
    sh -= static_cast<int64_t>(static_cast<long double>(dy + dh - bh) * ry);
    dh = bh - dy;
  }
  if (dx + dw > bw) {
    sw -= static_cast<int64_t>(static_cast<long double>(dx + dw - bw) * rx);
    dw = bw - dx;
  }
  dx = std::clamp<int64_t>(dx, 0, bw - 1);
  dy = std::clamp<int64_t>(dy, 0, bh - 1);
  dw = std::clamp<int64_t>(dw, 0, bw);
  dh = std::clamp<int64_t>(dh, 0, bh);
  sx = std::clamp<int64_t>(sx, 0, srcWidth - 1);
  sy = std::clamp<int64_t>(sy, 0, srcHeight - 1);
  // The source rectangle also has to end inside the source, or the mapping
  // below would reach past its last column or row.
  sw = std::clamp<int64_t>(sw, 0, srcWidth - sx);
  sh = std::clamp<int64_t>(sh, 0, srcHeight - sy);
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;

  TAccessGuard readOnly(*this, 1);
  TImBitmap* alpha = a.AlphaEnable && !isAlphaChannel_ ? alpha_.get() : nullptr;

  // Filtered path: resample the visible part to the destination size, then
  // draw that 1:1.
  if (a.Filter != rfNone && (dw != sw || dh != sh) && (f == im24bgr || f == im1bit)) {
    TImBitmap scaled;
    scaled.MemoryThreshold = MemoryThreshold;
    if (f == im24bgr || sw < dw || alpha) {
      TImBitmap part;
      part.MemoryThreshold = MemoryThreshold;
      part.Allocate(static_cast<int>(sw), static_cast<int>(sh), f);
      CopyRectTo(part, static_cast<int>(sx), static_cast<int>(sy), static_cast<int>(sw), static_cast<int>(sh), 0, 0);
      scaled.Allocate(static_cast<int>(dw), static_cast<int>(dh), im24bgr);
      ImResampleFiltered(part, scaled, a.Filter, nullptr);
      if (alpha) {
        TImBitmap* pa = part.AlphaChannel();
        std::vector<uint8_t> row(static_cast<size_t>(srcWidth));
        TAccessGuard alphaRead(*alpha, 1);
        for (int64_t y = 0; y < sh; ++y) {
          ImReadAlphaRow(*alpha, static_cast<int>(sy + y), srcWidth, row.data());
          if (uint8_t* d = pa->Scanline(static_cast<int>(y))) std::memcpy(d, row.data() + sx, static_cast<size_t>(sw));
        }
        pa->AlphaFull = alpha->AlphaFull;
        TImBitmap* qa = scaled.AlphaChannel();
        ImResampleFiltered(*pa, *qa, a.Filter, nullptr);
        qa->AlphaFull = alpha->AlphaFull;
      }
    } else {
      scaled.Allocate(static_cast<int>(dw), static_cast<int>(dh), im24bgr);
      ImBilevelBoxReduce(*this, static_cast<int>(sx), static_cast<int>(sy), static_cast<int>(sx + sw - 1),
                         static_cast<int>(sy + sh - 1), scaled);
    }
    scaled.DisplayRangeMin = DisplayRangeMin;
    scaled.DisplayRangeMax = DisplayRangeMax;
    scaled.RedOffset = RedOffset;
    scaled.GreenOffset = GreenOffset;
    scaled.BlueOffset = BlueOffset;
    scaled.Contrast = Contrast;
    TRenderArgs b = a;
    b.Filter = rfNone;
    b.SrcX = b.SrcY = 0;
    b.SrcWidth = static_cast<int>(dw);
    b.SrcHeight = static_cast<int>(dh);
    b.DestX = static_cast<int>(dx);
    b.DestY = static_cast<int>(dy);
    b.DestWidth = static_cast<int>(dw);
    b.DestHeight = static_cast<int>(dh);
    // The caller's tables map onto the unfiltered source, not onto this one.
    b.ColumnCache = b.RowCache = nullptr;
    b.ColumnCacheOffset = b.RowCacheOffset = 0;
    scaled.Render(dest, b);
    return;
  }

  // Destination row addresses: the caller's table while it still describes
  // this image, else built here.
  std::vector<uint8_t*> builtRows;
  uint8_t* const* rows = nullptr;
  {
    std::vector<uint8_t*>* slot = a.DestRowCache;
    uint8_t* first = dest.scanLine(0);  // detaches a shared image before any address is taken
    uint8_t* last = dest.scanLine(static_cast<int>(bh - 1));
    if (slot && static_cast<int64_t>(slot->size()) == bh && slot->front() == first && slot->back() == last) {
      rows = slot->data();
    } else {
      builtRows.resize(static_cast<size_t>(bh));
      for (int64_t y = 0; y < bh; ++y) builtRows[static_cast<size_t>(y)] = dest.scanLine(static_cast<int>(y));
      if (slot && !a.FreeTables) {
        *slot = builtRows;
        rows = slot->data();
      } else {
        rows = builtRows.data();
      }
    }
  }

  const int64_t stepY = static_cast<int64_t>(static_cast<double>(sh) / static_cast<double>(dh) * kStepOne);
  const int64_t stepX = static_cast<int64_t>(static_cast<double>(sw) / static_cast<double>(dw) * kStepOne);

  // Area to fill: the destination rectangle inside the clip and the bitmap.
  const int64_t clipL = a.HasClip ? a.ClipLeft : -kNoClip, clipR = a.HasClip ? a.ClipRight : kNoClip;
  const int64_t clipT = a.HasClip ? a.ClipTop : -kNoClip, clipB = a.HasClip ? a.ClipBottom : kNoClip;
  const int64_t firstCol = std::max<int64_t>({clipL, dx, 0});
  const int64_t lastCol = std::min<int64_t>({clipR, dx + dw - 1, bw - 1});
  const int64_t firstRow = std::max<int64_t>({clipT, dy, 0});
  const int64_t lastRow = std::min<int64_t>({clipB, dy + dh - 1, bh - 1});
  if (firstCol > lastCol || firstRow > lastRow) return;

  const int opacity = std::clamp(a.Opacity, 0, 255);
  const bool alphaBlends = alpha && !alpha->AlphaFull;
  const bool blend = opacity < 255 || alphaBlends;
  const bool plainSettings = RedOffset == 0 && GreenOffset == 0 && BlueOffset == 0 && Contrast == 0;

  if (stepX == kStepOne && stepY == kStepOne && f == im24bgr && opacity == 255 && !blend && plainSettings &&
      a.OpCode == 0) {
    // 1:1: a row copy. With both steps 1, the source rectangle is at least as
    // large as the destination one, so the spans stay inside the source.
    const size_t n = static_cast<size_t>(lastCol - firstCol + 1) * 3;
    const size_t from = static_cast<size_t>(firstCol + sx - dx) * 3;
    for (int64_t y = firstRow; y <= lastRow; ++y) {
      const uint8_t* s = Scanline(static_cast<int>(y + sy - dy));
      if (s) std::memcpy(rows[y] + static_cast<size_t>(firstCol) * 3, s + from, n);
    }
    return;
  }

  const std::vector<int> cols = AxisTable(a.ColumnCache, a.ColumnCacheOffset, !a.FreeTables, firstCol, lastCol, bw,
                                          sx, stepX, dx, srcWidth);
  const std::vector<int> srcRows =
      AxisTable(a.RowCache, a.RowCacheOffset, !a.FreeTables, firstRow, lastRow, bh, sy, stepY, dy, srcHeight);

  TRenderPass p;
  p.DestRows = rows;
  p.FirstCol = static_cast<int>(firstCol);
  p.LastCol = static_cast<int>(lastCol);
  p.FirstRow = static_cast<int>(firstRow);
  p.LastRow = static_cast<int>(lastRow);
  p.SrcCol = cols.data();
  p.SrcRow = srcRows.data();
  p.RowDuplication = a.RowDuplication;
  p.Alpha = alphaBlends ? alpha : nullptr;
  p.Opacity = opacity;
  std::unique_ptr<TAccessGuard> alphaRead;
  if (p.Alpha) alphaRead = std::make_unique<TAccessGuard>(*p.Alpha, 1);

  switch (f) {
    case im24bgr: blend ? RenderBlend24(p) : RenderCopy24(p); break;
    case im1bit: blend ? RenderBlend1(p) : RenderCopy1(p); break;
    case im8gray: blend ? RenderBlendGray8(p) : RenderCopyGray8(p); break;
    case im8pal: blend ? RenderBlendPal8(p) : RenderCopyPal8(p); break;
    case im16gray: blend ? RenderBlendGray16(p) : RenderCopyGray16(p); break;
    case im32f: blend ? RenderBlendFloat32(p) : RenderCopyFloat32(p); break;
    default: break;
  }
}
