// Filtered resampling: rfFastLinear, the bilevel paths and a separable
// weighted-kernel resampler for the remaining filters.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "image/ImResample.h"

namespace {

constexpr int kFracBits = 17;  // fixed-point fractions of the linear filters
constexpr double kFracOne = 131072.0;

struct TAccessGuard {
  TImBitmap& B;
  uint8_t Saved;
  TAccessGuard(TImBitmap& b, uint8_t mode) : B(b), Saved(b.AccessMode) { b.AccessMode = mode; }
  ~TAccessGuard() { B.AccessMode = Saved; }
};

int ClampIndex(int64_t v, int n) { return static_cast<int>(std::clamp<int64_t>(v, 0, n - 1)); }

// a + floor((b - a) x frac / 2^17); the shift of a negative product floors.
inline int Lerp17(int a, int b, int frac) { return a + (((b - a) * frac) >> kFracBits); }

// Position i / scale, the quotient formed in extended precision and rounded
// to a double; split into its whole part (kept inside 0 .. n - 1) and a
// 17-bit fraction.
void SplitPosition(int i, double scale, int n, int& whole, int& frac) {
  const double f = static_cast<double>(static_cast<long double>(i) / static_cast<long double>(scale));
  const int64_t w = static_cast<int64_t>(f);
  const int64_t fr = static_cast<int64_t>((f - static_cast<double>(w)) * kFracOne);
  if (w >= n) {
    whole = n - 1;
    frac = 0;
  } else {
    whole = static_cast<int>(std::max<int64_t>(w, 0));
    frac = static_cast<int>(std::clamp<int64_t>(fr, 0, (1 << kFracBits) - 1));
  }
}

// Vertical interpolation of a work raster (rows of n bytes) into the
// destination rows: destination row j samples the work rows at j / Sy.
void InterpolateRows(TImWorkBitmap& work, TImBitmap& dst, double sy, int channelsOut, int progressBase,
                     double progressScale, const TImPercentFn& progress) {
  const int srcH = work.Height, W = work.Width, H = dst.Height();
  const int chIn = work.BitsPerPixel / 8;
  for (int j = 0; j < H; ++j) {
    int top, frac;
    SplitPosition(j, sy, srcH, top, frac);
    const int next = top + 1 < srcH ? top + 1 : top;
    const uint8_t* a = work.Scanline(top);
    const uint8_t* b = work.Scanline(next);
    if (uint8_t* d = dst.Scanline(j)) {
      if (chIn == channelsOut) {
        const size_t n = static_cast<size_t>(W) * chIn;
        for (size_t k = 0; k < n; ++k) d[k] = static_cast<uint8_t>(Lerp17(a[k], b[k], frac));
      } else {  // gray work raster into blue = green = red
        for (int i = 0; i < W; ++i) {
          const uint8_t v = static_cast<uint8_t>(Lerp17(a[i], b[i], frac));
          d[3 * static_cast<size_t>(i)] = d[3 * static_cast<size_t>(i) + 1] = d[3 * static_cast<size_t>(i) + 2] = v;
        }
      }
    }
    if (progress) progress(static_cast<int>(progressScale * (progressBase + j)));
  }
}

int ChannelsOf(TImPixelFormat f) { return f == im24bgr ? 3 : f == im8gray ? 1 : 0; }

}  // namespace

// ---------------------------------------------------------------- rfFastLinear

void ImResampleFastLinear(TImBitmap& src, TImBitmap& dst, const TImPercentFn& progress) {
  const int srcW = src.Width(), srcH = src.Height(), W = dst.Width(), H = dst.Height();
  if (srcW <= 0 || srcH <= 0 || W <= 0 || H <= 0) return;
  const TImPixelFormat f = src.PixelFormat();
  const int ch = ChannelsOf(f);
  if (ch == 0 || dst.PixelFormat() != f) return;
  const double sx = static_cast<double>(static_cast<long double>(W) / srcW);
  const double sy = static_cast<double>(static_cast<long double>(H) / srcH);
  if (sx == 1.0 && sy == 1.0) {
    dst.Assign(src);
    return;
  }
  // Column tables: start column, 17-bit fraction and, for reduction, the last
  // column of the averaging box, which reaches into the next box.
  std::vector<int> left(static_cast<size_t>(W)), frac(static_cast<size_t>(W)), last(static_cast<size_t>(W));
  for (int i = 0; i < W; ++i) {
    SplitPosition(i, sx, srcW, left[i], frac[i]);
    const long double e = static_cast<long double>(std::min(i + 1, W - 1)) / static_cast<long double>(sx) + 1e-10L;
    last[i] = std::max(left[i], ClampIndex(static_cast<int64_t>(e), srcW));
  }
  const double progressScale = 100.0 / (srcH + H + 0.5);

  TImWorkBitmap work;
  work.Allocate(W, srcH, 8 * ch);
  {
    TAccessGuard mode(src, 1);
    for (int k = 0; k < srcH; ++k) {
      const uint8_t* s = src.Scanline(k);
      uint8_t* w = work.Scanline(k);
      if (s) {
        if (sx > 1.0) {
          for (int i = 0; i < W; ++i) {
            const uint8_t* a = s + static_cast<size_t>(left[i]) * ch;
            const uint8_t* b = s + static_cast<size_t>(std::min(left[i] + 1, srcW - 1)) * ch;
            for (int c = 0; c < ch; ++c) w[static_cast<size_t>(i) * ch + c] = static_cast<uint8_t>(Lerp17(a[c], b[c], frac[i]));
          }
        } else {
          for (int i = 0; i < W; ++i) {
            int64_t sum[3] = {0, 0, 0};
            for (int x = left[i]; x <= last[i]; ++x)
              for (int c = 0; c < ch; ++c) sum[c] += s[static_cast<size_t>(x) * ch + c];
            const int64_t count = last[i] - left[i] + 1;
            for (int c = 0; c < ch; ++c) w[static_cast<size_t>(i) * ch + c] = static_cast<uint8_t>(sum[c] / count);
          }
        }
      }
      if (progress) progress(static_cast<int>(progressScale * k));
    }
  }

  if (sy > 1.0) {
    InterpolateRows(work, dst, sy, ch, srcH, progressScale, progress);
    return;
  }
  // Reduction (or unchanged height): average the work rows lo .. hi, where hi
  // is the first row of the next box.
  const size_t n = static_cast<size_t>(W) * ch;
  std::vector<int64_t> sums(n);
  for (int j = 0; j < H; ++j) {
    const int lo = ClampIndex(static_cast<int64_t>(static_cast<long double>(j) / static_cast<long double>(sy)), srcH);
    const int hi = std::max(
        lo, ClampIndex(static_cast<int64_t>(static_cast<long double>(std::min(j + 1, H - 1)) / static_cast<long double>(sy)),
                       srcH));
    std::fill(sums.begin(), sums.end(), 0);
    for (int r = lo; r <= hi; ++r) {
      const uint8_t* w = work.Scanline(r);
      for (size_t k = 0; k < n; ++k) sums[k] += w[k];
    }
    const int64_t count = hi - lo + 1;
    if (uint8_t* d = dst.Scanline(j))
      for (size_t k = 0; k < n; ++k) d[k] = static_cast<uint8_t>(sums[k] / count);
    if (progress) progress(static_cast<int>(progressScale * (srcH + j)));
  }
}

// ---------------------------------------------------------------- bilevel

void ImResampleBilevel(TImBitmap& src, TImBitmap& dst, const TImPercentFn& progress) {
  const int srcW = src.Width(), srcH = src.Height(), W = dst.Width(), H = dst.Height();
  if (srcW <= 0 || srcH <= 0 || W <= 0 || H <= 0) return;
  if (src.PixelFormat() != im1bit || src.BitCount() == 0) return;
  const double sx = static_cast<double>(static_cast<long double>(W) / srcW);
  const double sy = static_cast<double>(static_cast<long double>(H) / srcH);
  if (sx == 1.0 && sy == 1.0) {
    dst.Assign(src);
    return;
  }
  if (dst.PixelFormat() != im24bgr) return;
  if (sx < 1.0 && sy < 1.0) {
    ImBilevelBoxReduce(src, 0, 0, srcW - 1, srcH - 1, dst);
    return;
  }
  // Enlarging in at least one direction: interpolate both ways between black
  // (0) and white (255).
  std::vector<int> left(static_cast<size_t>(W)), right(static_cast<size_t>(W)), frac(static_cast<size_t>(W));
  for (int i = 0; i < W; ++i) {
    SplitPosition(i, sx, srcW, left[i], frac[i]);
    right[i] = std::min(left[i] + 1, srcW - 1);
  }
  const double progressScale = 100.0 / (srcH + H + 0.5);
  TImWorkBitmap work;
  work.Allocate(W, srcH, 8);
  {
    TAccessGuard mode(src, 1);
    for (int k = 0; k < srcH; ++k) {
      const uint8_t* s = src.Scanline(k);
      uint8_t* w = work.Scanline(k);
      if (s) {
        for (int i = 0; i < W; ++i) {
          const int a = (s[left[i] >> 3] & (0x80 >> (left[i] & 7))) ? 255 : 0;
          const int b = (s[right[i] >> 3] & (0x80 >> (right[i] & 7))) ? 255 : 0;
          w[i] = static_cast<uint8_t>(Lerp17(a, b, frac[i]));
        }
      }
      if (progress) progress(static_cast<int>(progressScale * k));
    }
  }
  InterpolateRows(work, dst, sy, 3, srcH, progressScale, progress);
}

void ImBilevelBoxReduce(TImBitmap& src, int x0, int y0, int x1, int y1, TImBitmap& dst) {
  const int srcW = src.Width(), srcH = src.Height(), W = dst.Width(), H = dst.Height();
  if (srcW <= 0 || srcH <= 0 || W <= 0 || H <= 0) return;
  if (src.PixelFormat() != im1bit || src.BitCount() == 0 || dst.PixelFormat() != im24bgr) return;
  x0 = ClampIndex(x0, srcW);
  x1 = std::max(x0, ClampIndex(x1, srcW));
  y0 = ClampIndex(y0, srcH);
  y1 = std::max(y0, ClampIndex(y1, srcH));
  const double cx = static_cast<double>(x1 - x0 + 1) / W;
  const double cy = static_cast<double>(y1 - y0 + 1) / H;
  const double ey = std::trunc(cy);
  // Column boxes, and the span of source columns they cover together.
  std::vector<int> c0(static_cast<size_t>(W)), c1(static_cast<size_t>(W));
  for (int i = 0; i < W; ++i) {
    const double fx = cx * i;
    c0[i] = ClampIndex(x0 + static_cast<int64_t>(fx - cx / 2), srcW);
    c1[i] = std::max(c0[i], ClampIndex(x0 + static_cast<int64_t>(cx / 2 + fx), srcW));
  }
  const int spanLo = *std::min_element(c0.begin(), c0.end());
  const int spanHi = *std::max_element(c1.begin(), c1.end());
  // prefix[k] = set pixels among span columns spanLo .. spanLo + k - 1 of one row.
  std::vector<int> prefix(static_cast<size_t>(spanHi - spanLo + 2));
  std::vector<int64_t> counts(static_cast<size_t>(W));
  TAccessGuard mode(src, 1);
  for (int j = 0; j < H; ++j) {
    const double fy = cy * j;
    const int r0 = ClampIndex(y0 + static_cast<int64_t>(fy - cy / 2), srcH);
    const int r1 = std::max(r0, ClampIndex(y0 + static_cast<int64_t>(ey / 2 + fy), srcH));
    std::fill(counts.begin(), counts.end(), 0);
    for (int r = r0; r <= r1; ++r) {
      const uint8_t* s = src.Scanline(r);
      if (!s) continue;
      prefix[0] = 0;
      for (int x = spanLo; x <= spanHi; ++x)
        prefix[x - spanLo + 1] = prefix[x - spanLo] + ((s[x >> 3] & (0x80 >> (x & 7))) ? 1 : 0);
      for (int i = 0; i < W; ++i) counts[i] += prefix[c1[i] - spanLo + 1] - prefix[c0[i] - spanLo];
    }
    uint8_t* d = dst.Scanline(j);
    if (!d) continue;
    const int64_t rows = r1 - r0 + 1;
    for (int i = 0; i < W; ++i) {
      const int64_t pixels = rows * (c1[i] - c0[i] + 1);
      const uint8_t v = static_cast<uint8_t>(255 * counts[i] / pixels);
      d[3 * static_cast<size_t>(i)] = d[3 * static_cast<size_t>(i) + 1] = d[3 * static_cast<size_t>(i) + 2] = v;
    }
  }
}

// ---------------------------------------------------------------- kernels
//
// The remaining filters share one separable resampler: every destination
// sample is a normalised weighted sum of the source samples around its centre
// ((i + 0.5) / scale - 0.5), with the kernel stretched by 1 / scale when
// reducing so that every source pixel contributes. Edge pixels repeat.
// rfBilinear uses the triangle kernel and rfBicubic the cubic convolution
// kernel with a = -0.5; rfNearest is the box of half-width 0.5.

namespace {

constexpr double kPi = 3.14159265358979323846;

double Triangle(double x) {
  x = std::fabs(x);
  return x < 1 ? 1 - x : 0;
}
double Hermite(double x) {
  x = std::fabs(x);
  return x < 1 ? (2 * x - 3) * x * x + 1 : 0;
}
double Bell(double x) {
  x = std::fabs(x);
  if (x < 0.5) return 0.75 - x * x;
  if (x < 1.5) return 0.5 * (x - 1.5) * (x - 1.5);
  return 0;
}
double BSpline(double x) {
  x = std::fabs(x);
  if (x < 1) return 0.5 * x * x * x - x * x + 2.0 / 3.0;
  if (x < 2) return (2 - x) * (2 - x) * (2 - x) / 6;
  return 0;
}
double Sinc(double x) {
  if (x == 0) return 1;
  x *= kPi;
  return std::sin(x) / x;
}
double Lanczos3(double x) {
  x = std::fabs(x);
  return x < 3 ? Sinc(x) * Sinc(x / 3) : 0;
}
double Mitchell(double x) {
  constexpr double B = 1.0 / 3.0, C = 1.0 / 3.0;
  x = std::fabs(x);
  if (x < 1) return ((12 - 9 * B - 6 * C) * x * x * x + (-18 + 12 * B + 6 * C) * x * x + (6 - 2 * B)) / 6;
  if (x < 2)
    return ((-B - 6 * C) * x * x * x + (6 * B + 30 * C) * x * x + (-12 * B - 48 * C) * x + (8 * B + 24 * C)) / 6;
  return 0;
}
double Box(double x) { return x > -0.5 && x <= 0.5 ? 1 : 0; }
double Cubic(double x) {
  constexpr double a = -0.5;
  x = std::fabs(x);
  if (x < 1) return (a + 2) * x * x * x - (a + 3) * x * x + 1;
  if (x < 2) return a * x * x * x - 5 * a * x * x + 8 * a * x - 4 * a;
  return 0;
}

struct TKernel {
  double (*Fn)(double);
  double Support;
};

TKernel KernelFor(TResampleFilter f) {
  switch (f) {
    case rfHermite: return {Hermite, 1};
    case rfBell: return {Bell, 1.5};
    case rfBSpline: return {BSpline, 2};
    case rfLanczos3: return {Lanczos3, 3};
    case rfMitchell: return {Mitchell, 2};
    case rfNearest: return {Box, 0.5};
    case rfBicubic: return {Cubic, 2};
    default: return {Triangle, 1};  // rfTriangle, rfLinear, rfBilinear
  }
}

// Contributions to each destination sample along one axis.
struct TAxis {
  std::vector<size_t> Start;  // index into Index/Weight, one more entry than samples
  std::vector<int> Index;
  std::vector<float> Weight;
};

TAxis BuildAxis(int srcN, int dstN, const TKernel& k) {
  TAxis axis;
  const double scale = static_cast<double>(dstN) / srcN;
  const double fscale = scale < 1 ? scale : 1.0;
  const double width = k.Support / fscale;
  axis.Start.reserve(static_cast<size_t>(dstN) + 1);
  for (int i = 0; i < dstN; ++i) {
    axis.Start.push_back(axis.Index.size());
    const double centre = (i + 0.5) / scale - 0.5;
    const int64_t lo = static_cast<int64_t>(std::ceil(centre - width));
    const int64_t hi = static_cast<int64_t>(std::floor(centre + width));
    const size_t first = axis.Index.size();
    double sum = 0;
    for (int64_t j = lo; j <= hi; ++j) {
      const double w = k.Fn((centre - static_cast<double>(j)) * fscale);
      if (w == 0) continue;
      axis.Index.push_back(ClampIndex(j, srcN));
      axis.Weight.push_back(static_cast<float>(w));
      sum += w;
    }
    if (axis.Index.size() == first || std::fabs(sum) < 1e-12) {
      axis.Index.resize(first);
      axis.Weight.resize(first);
      axis.Index.push_back(ClampIndex(std::llround(centre), srcN));
      axis.Weight.push_back(1.0f);
    } else {
      for (size_t q = first; q < axis.Weight.size(); ++q) axis.Weight[q] = static_cast<float>(axis.Weight[q] / sum);
    }
  }
  axis.Start.push_back(axis.Index.size());
  return axis;
}

uint8_t ToByte(float v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

}  // namespace

void ImResampleKernel(TImBitmap& src, TImBitmap& dst, TResampleFilter filter, const TImPercentFn& progress) {
  const int srcW = src.Width(), srcH = src.Height(), W = dst.Width(), H = dst.Height();
  if (srcW <= 0 || srcH <= 0 || W <= 0 || H <= 0) return;
  const TImPixelFormat f = src.PixelFormat();
  const int ch = ChannelsOf(f);
  if (ch == 0 || dst.PixelFormat() != f) return;
  const TKernel k = KernelFor(filter);
  const TAxis ax = BuildAxis(srcW, W, k), ay = BuildAxis(srcH, H, k);
  const size_t rowN = static_cast<size_t>(W) * ch;
  std::vector<float> work(rowN * srcH);
  const double progressScale = 100.0 / (srcH + H + 0.5);
  {
    TAccessGuard mode(src, 1);
    for (int y = 0; y < srcH; ++y) {
      const uint8_t* s = src.Scanline(y);
      float* w = work.data() + rowN * y;
      if (s) {
        for (int i = 0; i < W; ++i) {
          float acc[3] = {0, 0, 0};
          for (size_t q = ax.Start[i]; q < ax.Start[i + 1]; ++q) {
            const uint8_t* p = s + static_cast<size_t>(ax.Index[q]) * ch;
            for (int c = 0; c < ch; ++c) acc[c] += ax.Weight[q] * p[c];
          }
          for (int c = 0; c < ch; ++c) w[static_cast<size_t>(i) * ch + c] = acc[c];
        }
      }
      if (progress) progress(static_cast<int>(progressScale * y));
    }
  }
  std::vector<float> acc(rowN);
  for (int j = 0; j < H; ++j) {
    std::fill(acc.begin(), acc.end(), 0.0f);
    for (size_t q = ay.Start[j]; q < ay.Start[j + 1]; ++q) {
      const float* w = work.data() + rowN * static_cast<size_t>(ay.Index[q]);
      const float wt = ay.Weight[q];
      for (size_t n = 0; n < rowN; ++n) acc[n] += wt * w[n];
    }
    if (uint8_t* d = dst.Scanline(j))
      for (size_t n = 0; n < rowN; ++n) d[n] = ToByte(acc[n]);
    if (progress) progress(static_cast<int>(progressScale * (srcH + j)));
  }
}

// ---------------------------------------------------------------- dispatch

void ImResampleFiltered(TImBitmap& src, TImBitmap& dst, TResampleFilter filter, const TImPercentFn& progress) {
  const TImPixelFormat f = src.PixelFormat();
  if (f == im1bit && filter != rfNone) {
    ImResampleBilevel(src, dst, progress);
    return;
  }
  if (filter == rfNone || ChannelsOf(f) == 0) {
    // Palette indices, 16-bit and float gray are not blended: they are picked.
    ImResampleNearest(src, dst, progress);
    return;
  }
  if (filter == rfFastLinear) ImResampleFastLinear(src, dst, progress);
  else ImResampleKernel(src, dst, filter, progress);
}
