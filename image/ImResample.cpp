// Resample on TImageProc and the nearest-pixel copy.
#include "image/ImResample.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "image/ImAttachedView.h"
#include "image/ImageProc.h"

void ImResampleNearest(TImBitmap& src, TImBitmap& dst, const TImPercentFn& progress) {
  const int srcW = src.Width(), srcH = src.Height();
  const int W = dst.Width(), H = dst.Height();
  if (srcW <= 0 || srcH <= 0 || W <= 0 || H <= 0) return;
  const TImPixelFormat f = src.PixelFormat();
  // Ratios in extended precision rounded to double; the products with the
  // integer index are formed in extended precision before truncation.
  const double rx = static_cast<double>(static_cast<long double>(srcW) / static_cast<long double>(W));
  const double ry = static_cast<double>(static_cast<long double>(srcH) / static_cast<long double>(H));
  std::vector<int> cols(static_cast<size_t>(W));
  for (int i = 0; i < W; ++i)
    cols[i] = std::min(srcW - 1, static_cast<int>(std::trunc(static_cast<long double>(i) * static_cast<long double>(rx))));
  if (f == im8pal)
    for (int i = 0; i < dst.PaletteCount() && i < src.PaletteCount(); ++i) dst.Palette()[i] = src.Palette()[i];
  std::vector<uint8_t> srcRow(static_cast<size_t>(src.RowLen()));
  const uint8_t srcMode = src.AccessMode;
  src.AccessMode = 1;
  for (int j = 0; j < H; ++j) {
    const int r = std::min(srcH - 1, static_cast<int>(std::trunc(static_cast<long double>(j) * static_cast<long double>(ry))));
    const uint8_t* s = src.Scanline(r);
    if (!s) continue;
    std::memcpy(srcRow.data(), s, srcRow.size());
    uint8_t* d = dst.Scanline(j);
    if (!d) continue;
    const uint8_t* sp = srcRow.data();
    switch (f) {
      case im1bit:
        for (int i = 0; i < W; ++i) {
          const int c = cols[i];
          if (sp[c >> 3] & (0x80 >> (c & 7))) d[i >> 3] |= static_cast<uint8_t>(0x80 >> (i & 7));
          else d[i >> 3] &= static_cast<uint8_t>(~(0x80 >> (i & 7)));
        }
        break;
      case im8pal:
      case im8gray:
        for (int i = 0; i < W; ++i) d[i] = sp[cols[i]];
        break;
      case im16gray:
        for (int i = 0; i < W; ++i) std::memcpy(d + 2 * i, sp + 2 * cols[i], 2);
        break;
      case im24bgr:
        for (int i = 0; i < W; ++i) {
          const uint8_t* p = sp + 3 * cols[i];
          d[3 * i] = p[0];
          d[3 * i + 1] = p[1];
          d[3 * i + 2] = p[2];
        }
        break;
      case im32f:
        for (int i = 0; i < W; ++i) std::memcpy(d + 4 * i, sp + 4 * cols[i], 4);
        break;
      default: break;
    }
    if (progress) progress(static_cast<int>(100.0 / (H + 0.5) * j));
  }
  src.AccessMode = srcMode;
}

void TImageProc::ResampleTo(TImBitmap& dest, int newWidth, int newHeight, TResampleFilter filter) {
  TImBitmap* src = Bitmap();
  if (!src || src->Width() == 0 || src->Height() == 0) return;
  if (AutoUndo) SaveUndoCaptioned("Resample " + std::to_string(newWidth) + "," + std::to_string(newHeight));
  if (!(newWidth >= 0 || newHeight >= 0)) return;
  const int srcW = src->Width(), srcH = src->Height();
  int W = newWidth == -1 ? static_cast<int>(static_cast<int64_t>(srcW) * newHeight / srcH)
          : newWidth == 0 ? srcW : std::abs(newWidth);
  if (W < 1) W = 1;
  int H = newHeight == -1 ? static_cast<int>(static_cast<int64_t>(srcH) * W / srcW)
          : newHeight == 0 ? srcH : std::abs(newHeight);
  if (H < 1) H = 1;
  const TImPixelFormat f = src->PixelFormat();
  dest.Allocate(W, H, f);
  if (src->HasAlphaChannel() && f == im24bgr) {
    TImBitmap* a = src->AlphaChannel();
    for (int y = 0; y < srcH; ++y) {
      std::vector<uint8_t> arow(static_cast<size_t>(srcW));
      if (const uint8_t* ap = a->Scanline(y)) std::memcpy(arow.data(), ap, arow.size());
      uint8_t* p = src->Scanline(y);
      if (!p) continue;
      for (int x = 0; x < srcW; ++x)
        if (arow[x] == 0) p[3 * x] = p[3 * x + 1] = p[3 * x + 2] = 128;
    }
  }
  TImPercentFn progress;
  if (OnProgress) progress = [this](int p) { DoProgress(p); };
  if (filter == rfNone) {
    ImResampleNearest(*src, dest, progress);
  } else if (f == im1bit) {
    dest.Allocate(W, H, im24bgr);
    ImResampleBilevel(*src, dest, progress);
  } else if (f == im24bgr) {
    ImResampleFiltered(*src, dest, filter, progress);
  }
  if (src->HasAlphaChannel()) {
    TImBitmap* sa = src->AlphaChannel();
    TImBitmap* da = dest.AlphaChannel();
    if (sa && da) {
      da->Allocate(W, H, im8gray);
      ImResampleNearest(*sa, *da, nullptr);
      da->AlphaFull = sa->AlphaFull;
    }
  }
}

void TImageProc::Resample(int newWidth, int newHeight, TResampleFilter filter) {
  TImBitmap* src = Bitmap();
  if (!src || src->Width() == 0 || src->Height() == 0) return;
  TImBitmap tmp;
  ResampleTo(tmp, newWidth, newHeight, filter);
  src->Assign(tmp);
  if (view_) {
    view_->ViewUpdate();
    view_->ViewImageChange();
  }
}
