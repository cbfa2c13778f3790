// Resample on TImageProc and the nearest-pixel copy.
#include "image/ImResample.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "image/ImAttachedView.h"
#include "image/ImageProc.h"

namespace {

// Restores a buffer's AccessMode when leaving a scope, also on exceptions.
struct TAccessGuard {
  TImBitmap& B;
  uint8_t Saved;
  TAccessGuard(TImBitmap& b, uint8_t mode) : B(b), Saved(b.AccessMode) { b.AccessMode = mode; }
  ~TAccessGuard() { B.AccessMode = Saved; }
};

// Trunc(i x ratio) with the product formed in extended precision; ratio is a
// double that was itself rounded from an extended quotient.
int ScaledIndex(int i, double ratio, int limit) {
  const long double v = static_cast<long double>(i) * static_cast<long double>(ratio);
  const int64_t t = static_cast<int64_t>(v);
  return static_cast<int>(std::clamp<int64_t>(t, 0, limit - 1));
}

// The requested dimension (new size as passed), or -1 for "keep the ratio".
int64_t RequestedSize(int requested, int64_t current) {
  if (requested == 0) return current;
  return requested < 0 ? -static_cast<int64_t>(requested) : requested;
}

}  // namespace

void ImReadAlphaRow(TImBitmap& alpha, int y, int width, uint8_t* out) {
  if (width <= 0) return;
  std::memset(out, 255, static_cast<size_t>(width));
  const int aw = alpha.Width();
  if (y < 0 || y >= alpha.Height() || aw <= 0) return;
  const uint8_t* row = alpha.Scanline(y);
  if (!row) return;
  const int n = std::min(width, aw);
  switch (alpha.PixelFormat()) {
    case im1bit:
      for (int x = 0; x < n; ++x) out[x] = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
      break;
    case im8pal:
    case im8gray: std::memcpy(out, row, static_cast<size_t>(n)); break;
    case im16gray:
      for (int x = 0; x < n; ++x) out[x] = row[2 * x + 1];
      break;
    case im24bgr:
      for (int x = 0; x < n; ++x)
        out[x] = static_cast<uint8_t>((21 * row[3 * x + 2] + 71 * row[3 * x + 1] + 8 * row[3 * x]) / 100);
      break;
    case im32f:
      for (int x = 0; x < n; ++x) {
        float v;
        std::memcpy(&v, row + 4 * x, 4);
        const double d = std::isnan(v) ? 0.0 : std::clamp(static_cast<double>(v), 0.0, 1.0);
        out[x] = static_cast<uint8_t>(d * 255.0);
      }
      break;
    default: break;
  }
}

std::vector<int> ImNearestIndices(int srcSize, int dstSize) {
  std::vector<int> out;
  if (srcSize <= 0 || dstSize <= 0) return out;
  // The ratio in extended precision rounded to double; the products with the
  // integer index are formed in extended precision before truncation.
  const double ratio = static_cast<double>(static_cast<long double>(srcSize) / static_cast<long double>(dstSize));
  out.resize(static_cast<size_t>(dstSize));
  for (int i = 0; i < dstSize; ++i) out[static_cast<size_t>(i)] = ScaledIndex(i, ratio, srcSize);
  return out;
}

void ImResampleNearest(TImBitmap& src, TImBitmap& dst, const TImPercentFn& progress) {
  const int srcW = src.Width(), srcH = src.Height();
  const int W = dst.Width(), H = dst.Height();
  if (srcW <= 0 || srcH <= 0 || W <= 0 || H <= 0) return;
  const TImPixelFormat f = src.PixelFormat();
  // Differing formats would write pixels of one size into rows of another.
  if (dst.PixelFormat() != f || src.BitCount() == 0 || dst.BitCount() == 0) return;
  const std::vector<int> cols = ImNearestIndices(srcW, W);
  const std::vector<int> rows = ImNearestIndices(srcH, H);
  if (f == im8pal)
    for (int i = 0; i < dst.PaletteCount() && i < src.PaletteCount(); ++i) dst.Palette()[i] = src.Palette()[i];
  // A temp-file row stays valid only until the next request on its buffer;
  // the source row is copied out so that both buffers may be file-backed.
  std::vector<uint8_t> srcRow(static_cast<size_t>(src.RowLen()));
  TAccessGuard srcMode(src, 1);
  int lastRow = -1;
  for (int j = 0; j < H; ++j) {
    const int r = rows[j];
    if (r != lastRow) {
      const uint8_t* s = src.Scanline(r);
      if (s) std::memcpy(srcRow.data(), s, srcRow.size());
      else std::fill(srcRow.begin(), srcRow.end(), 0);
      lastRow = r;
    }
    uint8_t* d = dst.Scanline(j);
    if (d) {
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
          for (int i = 0; i < W; ++i) std::memcpy(d + 2 * static_cast<size_t>(i), sp + 2 * static_cast<size_t>(cols[i]), 2);
          break;
        case im24bgr:
          for (int i = 0; i < W; ++i) {
            const uint8_t* p = sp + 3 * static_cast<size_t>(cols[i]);
            uint8_t* q = d + 3 * static_cast<size_t>(i);
            q[0] = p[0];
            q[1] = p[1];
            q[2] = p[2];
          }
          break;
        case im32f:
          for (int i = 0; i < W; ++i) std::memcpy(d + 4 * static_cast<size_t>(i), sp + 4 * static_cast<size_t>(cols[i]), 4);
          break;
        default: break;
      }
    }
    if (progress) progress(static_cast<int>(100.0 / (H + 0.5) * j));
  }
}

void TImageProc::ResampleTo(TImBitmap& dest, int newWidth, int newHeight, TResampleFilter filter) {
  TImBitmap* src = Bitmap();
  if (!src || src->Width() == 0 || src->Height() == 0) return;
  if (AutoUndo) SaveUndoCaptioned("Resample " + std::to_string(newWidth) + "," + std::to_string(newHeight));
  if (!(newWidth >= 0 || newHeight >= 0)) return;
  const int64_t srcW = src->Width(), srcH = src->Height();
  // 64-bit arithmetic: the products and |INT_MIN| do not fit in an int. Sizes
  // beyond the int range are cut to it; allocating them then fails cleanly.
  int64_t W = newWidth == -1 ? srcW * newHeight / srcH : RequestedSize(newWidth, srcW);
  W = std::clamp<int64_t>(W, 1, INT_MAX);
  int64_t H = newHeight == -1 ? srcH * W / srcW : RequestedSize(newHeight, srcH);
  H = std::clamp<int64_t>(H, 1, INT_MAX);
  const TImPixelFormat f = src->PixelFormat();
  dest.Allocate(static_cast<int>(W), static_cast<int>(H), filter != rfNone && f == im1bit ? im24bgr : f);

  // Fully transparent pixels of a colour image become mid gray, so that
  // filters and fingerprints do not pick up whatever colour hides under them.
  if (src->HasAlphaChannel() && f == im24bgr) {
    TImBitmap* a = src->AlphaChannel();
    std::vector<uint8_t> arow(static_cast<size_t>(srcW));
    for (int y = 0; y < srcH; ++y) {
      ImReadAlphaRow(*a, y, static_cast<int>(srcW), arow.data());
      uint8_t* p = src->Scanline(y);
      if (!p) continue;
      for (int64_t x = 0; x < srcW; ++x)
        if (arow[x] == 0) p[3 * x] = p[3 * x + 1] = p[3 * x + 2] = 128;
    }
  }

  TImPercentFn progress;
  if (OnProgress) progress = [this](int p) { DoProgress(p); };
  if (filter == rfNone) ImResampleNearest(*src, dest, progress);
  else ImResampleFiltered(*src, dest, filter, progress);

  if (src->HasAlphaChannel() && !dest.IsAlphaChannel()) {
    TImBitmap* sa = src->AlphaChannel();
    TImBitmap* da = dest.AlphaChannel();
    da->Allocate(static_cast<int>(W), static_cast<int>(H), sa->PixelFormat());
    // Filters blend 8-bit alpha values; any other alpha format is picked.
    if (filter == rfNone || sa->PixelFormat() != im8gray) ImResampleNearest(*sa, *da, nullptr);
    else ImResampleFiltered(*sa, *da, filter, nullptr);
    da->AlphaFull = sa->AlphaFull;
  }
}

void TImageProc::Resample(int newWidth, int newHeight, TResampleFilter filter) {
  TImBitmap* src = Bitmap();
  if (!src || src->Width() == 0 || src->Height() == 0) return;
  TImBitmap tmp;
  ResampleTo(tmp, newWidth, newHeight, filter);
  // Both sizes negative resample nothing; the image is kept rather than
  // replaced by the empty result.
  if (tmp.Width() == 0 || tmp.Height() == 0) return;
  src->Assign(tmp);
  if (view_) {
    view_->ViewUpdate();
    view_->ViewImageChange();
  }
}
