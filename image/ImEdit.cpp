// Editing operations of TImBitmap: rectangles, size changes, copies, masks.
#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "image/ImBitmap.h"
#include "image/ImFileBuffer.h"

namespace {

int BytesPerPixel(TImPixelFormat f) {
  switch (f) {
    case im8pal:
    case im8gray: return 1;
    case im16gray: return 2;
    case im24bgr: return 3;
    case im32f: return 4;
    default: return 0;
  }
}

// Writes `value` into pixels x1..x2 of a row, with the per-format rules of Fill.
void FillSpan(TImPixelFormat f, uint8_t* row, int x1, int x2, double value) {
  const int64_t v = static_cast<int64_t>(std::trunc(value));
  switch (f) {
    case im1bit:
      for (int x = x1; x <= x2; ++x) {
        if (v != 0) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
        else row[x >> 3] &= static_cast<uint8_t>(~(0x80 >> (x & 7)));
      }
      break;
    case im8pal:
    case im8gray: std::memset(row + x1, static_cast<uint8_t>(v), static_cast<size_t>(x2 - x1 + 1)); break;
    case im16gray:
      for (int x = x1; x <= x2; ++x) {
        row[2 * x] = static_cast<uint8_t>(v);
        row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
      }
      break;
    case im24bgr: {
      const TColor c = ResolveSystemColor(static_cast<TColor>(v));
      for (int x = x1; x <= x2; ++x) {
        row[3 * x] = static_cast<uint8_t>(c >> 16);
        row[3 * x + 1] = static_cast<uint8_t>(c >> 8);
        row[3 * x + 2] = static_cast<uint8_t>(c);
      }
      break;
    }
    case im32f: {
      const float fv = static_cast<float>(value);
      for (int x = x1; x <= x2; ++x) std::memcpy(row + 4 * x, &fv, 4);
      break;
    }
    default: break;
  }
}

// Moves pixels of a row span: dest x = src x + shift, for x in [from, to].
void MoveRowPixels(TImPixelFormat f, uint8_t* row, int from, int to, int shift) {
  if (from > to || shift == 0) return;
  if (f == im1bit) {
    std::vector<uint8_t> bits;
    for (int x = from; x <= to; ++x) bits.push_back((row[x >> 3] >> (7 - (x & 7))) & 1);
    for (int x = from; x <= to; ++x) {
      const int d = x + shift;
      if (bits[x - from]) row[d >> 3] |= static_cast<uint8_t>(0x80 >> (d & 7));
      else row[d >> 3] &= static_cast<uint8_t>(~(0x80 >> (d & 7)));
    }
    return;
  }
  const int bpp = BytesPerPixel(f);
  std::memmove(row + static_cast<ptrdiff_t>(from + shift) * bpp, row + static_cast<ptrdiff_t>(from) * bpp,
               static_cast<size_t>(to - from + 1) * bpp);
}

}  // namespace

void TImBitmap::FillRect(int x1, int y1, int x2, int y2, double value) {
  SyncFromTBitmap();
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, width_ - 1);
  y2 = std::min(y2, height_ - 1);
  if (x1 > x2 || y1 > y2 || bitCount_ == 0) return;
  for (int y = y1; y <= y2; ++y)
    if (uint8_t* row = Scanline(y)) FillSpan(format_, row, x1, x2, value);
}

void TImBitmap::SetWidth(int width) {
  SyncFromTBitmap();
  width = std::max(width, 0);
  if (width == width_) return;
  if (alpha_) alpha_->SetWidth(width);
  if (format_ == imNone || height_ == 0 || width_ == 0) {
    if (format_ != imNone && height_ > 0) {
      std::unique_ptr<TImBitmap> a = std::move(alpha_);
      Allocate(width, height_, format_);
      alpha_ = std::move(a);
    } else {
      width_ = width;
    }
    return;
  }
  TImBitmap old;
  old.MemoryThreshold = MemoryThreshold;
  old.location_ = imHeap;
  old.Assign(*this);
  old.alpha_.reset();
  std::unique_ptr<TImBitmap> a = std::move(alpha_);
  const std::vector<TImRGB> pal = palette_;
  if (location_ == imTBitmap) {
    width_ = width;
    rowLen_ = ImRowLen(width_, bitCount_, RowAlign);
    SetTBitmapDepth(format_);
  } else {
    const bool wasAlpha = isAlphaChannel_;
    Allocate(width, old.height_, old.format_);
    isAlphaChannel_ = wasAlpha;
  }
  palette_ = pal;
  CopyRowsFrom(old);
  alpha_ = std::move(a);
  AlphaFull = old.AlphaFull && width <= old.width_;
}

void TImBitmap::SetHeight(int height) {
  SyncFromTBitmap();
  height = std::max(height, 0);
  if (height == height_) return;
  if (alpha_) alpha_->SetHeight(height);
  if (format_ == imNone || width_ == 0 || height_ == 0) {
    if (format_ != imNone && width_ > 0) {
      std::unique_ptr<TImBitmap> a = std::move(alpha_);
      Allocate(width_, height, format_);
      alpha_ = std::move(a);
    } else {
      height_ = height;
    }
    return;
  }
  TImBitmap old;
  old.MemoryThreshold = MemoryThreshold;
  old.location_ = imHeap;
  old.Assign(*this);
  old.alpha_.reset();
  std::unique_ptr<TImBitmap> a = std::move(alpha_);
  const std::vector<TImRGB> pal = palette_;
  if (location_ == imTBitmap) {
    height_ = height;
    SetTBitmapDepth(format_);
  } else {
    const bool wasAlpha = isAlphaChannel_;
    Allocate(old.width_, height, old.format_);
    isAlphaChannel_ = wasAlpha;
  }
  palette_ = pal;
  CopyRowsFrom(old);
  alpha_ = std::move(a);
  AlphaFull = old.AlphaFull && height <= old.height_;
}

void TImBitmap::Resize(int newWidth, int newHeight, double fillValue, int alphaFillValue, int horizAlign,
                       int vertAlign) {
  SyncFromTBitmap();
  newWidth = std::max(newWidth, 0);
  newHeight = std::max(newHeight, 0);
  const int oldW = width_, oldH = height_;
  auto shiftFor = [](int align, int diff) { return align == 1 ? diff / 2 : align == 2 ? diff : 0; };

  // Works on one buffer; `value` is the fill of the uncovered areas.
  auto apply = [&](TImBitmap& b, double value) {
    const TImPixelFormat f = b.PixelFormat();
    // 1. Shrinking with alignment: move the content toward the origin.
    if (newWidth < oldW && horizAlign != 0 && b.bitCount_ > 0) {
      const int s = shiftFor(horizAlign, oldW - newWidth);
      for (int y = 0; y < oldH; ++y) {
        uint8_t* row = b.Scanline(y);
        if (!row) continue;
        MoveRowPixels(f, row, s, oldW - 1, -s);
        FillSpan(f, row, oldW - s, oldW - 1, value);
      }
    }
    if (newHeight < oldH && vertAlign != 0 && b.bitCount_ > 0) {
      const int s = shiftFor(vertAlign, oldH - newHeight);
      std::vector<uint8_t> tmp(static_cast<size_t>(b.rowLen_));
      for (int y = 0; y + s < oldH; ++y) {
        const uint8_t* src = b.Scanline(y + s);
        if (!src) continue;
        std::memcpy(tmp.data(), src, tmp.size());
        if (uint8_t* d = b.Scanline(y)) std::memcpy(d, tmp.data(), tmp.size());
      }
      for (int y = oldH - s; y < oldH; ++y)
        if (uint8_t* row = b.Scanline(y)) FillSpan(f, row, 0, oldW - 1, value);
    }
  };
  auto grow = [&](TImBitmap& b, double value) {
    const TImPixelFormat f = b.PixelFormat();
    if (b.bitCount_ == 0) return;
    const int w = b.width_, h = b.height_;
    if (newWidth > oldW) {
      const int s = shiftFor(horizAlign, newWidth - oldW);
      for (int y = 0; y < h; ++y) {
        uint8_t* row = b.Scanline(y);
        if (!row) continue;
        FillSpan(f, row, std::min(oldW, w), w - 1, value);
        if (s > 0 && oldW > 0) {
          MoveRowPixels(f, row, 0, oldW - 1, s);
          FillSpan(f, row, 0, s - 1, value);
        }
      }
    }
    if (newHeight > oldH) {
      const int s = shiftFor(vertAlign, newHeight - oldH);
      for (int y = oldH; y < h; ++y)
        if (uint8_t* row = b.Scanline(y)) FillSpan(f, row, 0, w - 1, value);
      if (s > 0) {
        std::vector<uint8_t> tmp(static_cast<size_t>(b.rowLen_));
        for (int y = oldH - 1; y >= 0; --y) {
          const uint8_t* src = b.Scanline(y);
          if (!src) continue;
          std::memcpy(tmp.data(), src, tmp.size());
          if (uint8_t* d = b.Scanline(y + s)) std::memcpy(d, tmp.data(), tmp.size());
        }
        for (int y = 0; y < s; ++y)
          if (uint8_t* row = b.Scanline(y)) FillSpan(f, row, 0, w - 1, value);
      }
    }
  };

  apply(*this, fillValue);
  if (alpha_) apply(*alpha_, alphaFillValue);
  SetWidth(newWidth);
  SetHeight(newHeight);
  grow(*this, fillValue);
  if (alpha_) grow(*alpha_, alphaFillValue);
  if (location_ == imTempFile) fileStore_->UnmapAll();
}

void TImBitmap::CopyRectTo(TImBitmap& dest, int srcX, int srcY, int width, int height, int destX, int destY) {
  const int sw = Width(), sh = Height(), dw = dest.Width(), dh = dest.Height();
  const TImPixelFormat sf = PixelFormat(), df = dest.PixelFormat();
  if (destX < 0) { srcX -= destX; width += destX; destX = 0; }
  if (destY < 0) { srcY -= destY; height += destY; destY = 0; }
  if (srcX < 0) { width += srcX; destX -= srcX; srcX = 0; }
  if (srcY < 0) { height += srcY; destY -= srcY; srcY = 0; }
  width = std::min({width, sw - srcX, dw - destX});
  height = std::min({height, sh - srcY, dh - destY});
  if (width <= 0 || height <= 0) return;
  const bool same = sf == df;
  const bool bitToRgb = sf == im1bit && df == im24bgr;
  if (!same && !bitToRgb) return;
  std::vector<uint8_t> tmp(static_cast<size_t>(RowLen()));
  const uint8_t srcMode = AccessMode, dstMode = dest.AccessMode;
  AccessMode = 1;
  dest.AccessMode = 3;
  for (int y = 0; y < height; ++y) {
    const uint8_t* s = Scanline(srcY + y);
    if (!s) continue;
    std::memcpy(tmp.data(), s, tmp.size());
    uint8_t* d = dest.Scanline(destY + y);
    if (!d) continue;
    if (bitToRgb) {
      for (int x = 0; x < width; ++x) {
        const int sx = srcX + x;
        const uint8_t v = (tmp[sx >> 3] & (0x80 >> (sx & 7))) ? 255 : 0;
        std::memset(d + 3 * (destX + x), v, 3);
      }
    } else if (sf == im1bit) {
      for (int x = 0; x < width; ++x) {
        const int sx = srcX + x, dx = destX + x;
        if (tmp[sx >> 3] & (0x80 >> (sx & 7))) d[dx >> 3] |= static_cast<uint8_t>(0x80 >> (dx & 7));
        else d[dx >> 3] &= static_cast<uint8_t>(~(0x80 >> (dx & 7)));
      }
    } else {
      const int bpp = BytesPerPixel(sf);
      std::memcpy(d + static_cast<ptrdiff_t>(destX) * bpp, tmp.data() + static_cast<ptrdiff_t>(srcX) * bpp,
                  static_cast<size_t>(width) * bpp);
    }
  }
  AccessMode = srcMode;
  dest.AccessMode = dstMode;
}

void TImBitmap::CopyFromMask(const TImMask* mask) {
  if (!mask) {
    Fill(255);
    return;
  }
  const bool wasAlpha = isAlphaChannel_;
  std::unique_ptr<TImBitmap> a = std::move(alpha_);
  Allocate(mask->Width, mask->Height, mask->BitsPerPixel == 1 ? im1bit : im8gray);
  isAlphaChannel_ = wasAlpha;
  alpha_ = std::move(a);
  const int64_t n = std::min<int64_t>(RowLen(), mask->RowLen);
  for (int y = 0; y < mask->Height; ++y) {
    uint8_t* d = Scanline(y);
    const uint8_t* s = mask->Scanline(y);
    if (d && s) std::memcpy(d, s, static_cast<size_t>(n));
  }
  AlphaFull = mask->Full;
}
