// Resampling: target sizes, the nearest-pixel mapping, rfFastLinear, the
// bilevel paths, the remaining filters, alpha handling, progress and undo.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "image/ImBitmap.h"
#include "image/ImResample.h"
#include "image/ImageProc.h"

namespace {

// Every pixel names its own position: blue = x & 255, green = y & 255,
// red = high bits of x (low nibble) and y (high nibble).
void FillCoords(TImBitmap& b) {
  for (int y = 0; y < b.Height(); ++y) {
    uint8_t* row = b.Scanline(y);
    for (int x = 0; x < b.Width(); ++x) {
      row[3 * x] = static_cast<uint8_t>(x);
      row[3 * x + 1] = static_cast<uint8_t>(y);
      row[3 * x + 2] = static_cast<uint8_t>((x >> 8) | ((y >> 8) << 4));
    }
  }
}

std::pair<int, int> CoordAt(TImBitmap& b, int x, int y) {
  const uint8_t* p = b.Scanline(y) + 3 * x;
  return {p[0] | ((p[2] & 15) << 8), p[1] | ((p[2] >> 4) << 8)};
}

void SetBit(TImBitmap& b, int x, int y, bool on) {
  uint8_t* row = b.Scanline(y);
  if (on) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
  else row[x >> 3] &= static_cast<uint8_t>(~(0x80 >> (x & 7)));
}

bool Bit(TImBitmap& b, int x, int y) { return b.Scanline(y)[x >> 3] & (0x80 >> (x & 7)); }

std::vector<int> Channel(TImBitmap& b, int c) {  // all pixels row by row
  std::vector<int> v;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) v.push_back(b.Scanline(y)[3 * x + c]);
  return v;
}

struct TProbe {
  int dx, dy, sx, sy;
};

}  // namespace

TEST(Resample, NearestTargetSizesAndSourcePixels) {
  struct Case {
    int srcW, srcH, reqW, reqH, W, H;
    std::vector<TProbe> probes;
  } cases[] = {
      // Fingerprint: column i from floor(i x 200 / 64), row j from floor(j x 100 / 64).
      {200, 100, 64, 64, 64, 64, {{63, 63, 196, 98}, {1, 1, 3, 1}, {32, 32, 100, 50}, {0, 0, 0, 0}}},
      // Doubling: 2 x 2 blocks.
      {32, 32, 64, 64, 64, 64, {{0, 0, 0, 0}, {1, 1, 0, 0}, {2, 3, 1, 1}, {63, 63, 31, 31}}},
      // -1 keeps the ratio: 400 x 100 div 300 = 133; 300 x 100 div 400 = 75.
      {400, 300, -1, 100, 133, 100, {{132, 99, 396, 297}, {1, 1, 3, 3}}},
      {400, 300, 100, -1, 100, 75, {{99, 74, 396, 296}}},
      // 0 keeps a dimension; negative sizes count by their absolute value.
      {400, 300, 0, 0, 400, 300, {{399, 299, 399, 299}, {257, 3, 257, 3}}},
      {10, 4, -5, 0, 5, 4, {{4, 3, 8, 3}}},
      // A ratio of 0 pixels still gives one.
      {10, 400, -1, 1, 1, 1, {{0, 0, 0, 0}}},
      // 6 / 10 rounds below 0.6 as a double, and the product with 5 is kept in
      // extended precision, so column 5 comes from source column 2, not 3.
      {6, 1, 10, 1, 10, 1, {{5, 0, 2, 0}, {4, 0, 2, 0}, {6, 0, 3, 0}, {9, 0, 5, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.srcW << "x" << c.srcH << " -> " << c.reqW << "," << c.reqH);
    TImageProc proc;
    proc.AutoUndo = false;
    proc.Bitmap()->Allocate(c.srcW, c.srcH, im24bgr);
    FillCoords(*proc.Bitmap());
    proc.Resample(c.reqW, c.reqH, rfNone);
    TImBitmap& b = *proc.Bitmap();
    ASSERT_EQ(b.Width(), c.W);
    ASSERT_EQ(b.Height(), c.H);
    EXPECT_EQ(b.PixelFormat(), im24bgr);
    for (const auto& p : c.probes)
      EXPECT_EQ(CoordAt(b, p.dx, p.dy), std::make_pair(p.sx, p.sy)) << "at " << p.dx << "," << p.dy;
  }
}

TEST(Resample, NearestKeepsEveryFormat) {
  // A 1 x 1 source fills all 4096 pixels; the format and palette survive.
  struct Case {
    TImPixelFormat f;
    std::vector<uint8_t> pixel;  // bytes of the single source pixel
  } cases[] = {
      {im1bit, {0x80}}, {im8pal, {7}}, {im8gray, {200}}, {im16gray, {0x34, 0x12}},
      {im24bgr, {1, 2, 3}}, {im32f, {0x00, 0x00, 0x80, 0x3F}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(PixelFormatName(c.f));
    TImageProc proc;
    proc.AutoUndo = false;
    TImBitmap& b = *proc.Bitmap();
    b.Allocate(1, 1, c.f);
    std::copy(c.pixel.begin(), c.pixel.end(), b.Scanline(0));
    if (c.f == im8pal) b.SetPaletteColor(7, 0x123456);
    proc.Resample(64, 64, rfNone);
    ASSERT_EQ(b.PixelFormat(), c.f);
    ASSERT_EQ(b.Width(), 64);
    int differing = 0;
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x) {
        if (c.f == im1bit) {
          differing += !Bit(b, x, y);
          continue;
        }
        const size_t n = c.pixel.size();
        differing += !std::equal(c.pixel.begin(), c.pixel.end(), b.Scanline(y) + n * x);
      }
    EXPECT_EQ(differing, 0);
    if (c.f == im8pal) {
      EXPECT_EQ(b.Palette()[7].R, 0x12);
    }
  }
}

TEST(Resample, TransparentPixelsTurnGrayAndAlphaFollows) {
  for (TImPixelFormat f : {im24bgr, im1bit}) {
    SCOPED_TRACE(PixelFormatName(f));
    TImageProc proc;
    proc.AutoUndo = false;
    TImBitmap& b = *proc.Bitmap();
    b.Allocate(10, 10, f);
    b.Fill(f == im24bgr ? 0x0000FF : 1);  // red, or white
    b.AlphaChannel()->Scanline(5)[5] = 0;
    b.AlphaChannel()->AlphaFull = false;
    proc.Resample(20, 20, rfNone);
    ASSERT_TRUE(b.HasAlphaChannel());
    TImBitmap& a = *b.AlphaChannel();
    ASSERT_EQ(a.Width(), 20);
    EXPECT_FALSE(a.AlphaFull);
    for (auto [x, y] : {std::pair{10, 10}, {11, 11}, {10, 11}}) {
      EXPECT_EQ(a.Scanline(y)[x], 0);
      if (f == im24bgr) {
        const uint8_t* p = b.Scanline(y) + 3 * x;
        EXPECT_EQ(std::vector<int>(p, p + 3), (std::vector<int>{128, 128, 128})) << x;
      } else {
        EXPECT_TRUE(Bit(b, x, y));
      }
    }
    EXPECT_EQ(a.Scanline(12)[12], 255);
    if (f == im24bgr) {
      EXPECT_EQ(b.Scanline(12)[3 * 12 + 2], 255);
    }
  }
}

TEST(Resample, FastLinearArithmetic) {
  // Blue holds the values, green 255 minus them, so both directions of the
  // interpolation (floor of negative steps) and both passes are pinned.
  struct Case {
    const char* what;
    int srcW, srcH, W, H;
    std::vector<int> blue, wantBlue, wantGreen;
  } cases[] = {
      {"enlarge 2 -> 4 samples at 0, .5, 1, 1.5", 2, 1, 4, 1, {0, 255}, {0, 127, 255, 255}, {255, 127, 0, 0}},
      {"same width, height changes: boxes overlap by one column", 10, 1, 10, 2,
       {0, 7, 14, 21, 28, 35, 42, 49, 56, 63},
       {3, 10, 17, 24, 31, 38, 45, 52, 59, 63, 3, 10, 17, 24, 31, 38, 45, 52, 59, 63},
       {251, 244, 237, 230, 223, 216, 209, 202, 195, 192, 251, 244, 237, 230, 223, 216, 209, 202, 195, 192}},
      {"reduce 4 -> 2: the last box holds only its start column", 4, 1, 2, 1, {10, 20, 40, 200}, {23, 40},
       {231, 215}},
      {"vertical enlarge", 1, 2, 1, 4, {0, 255}, {0, 127, 255, 255}, {255, 127, 0, 0}},
      {"vertical reduce", 1, 4, 1, 2, {10, 20, 40, 200}, {23, 40}, {231, 215}},
      {"same size is a copy", 2, 1, 2, 1, {5, 250}, {5, 250}, {250, 5}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TImageProc proc;
    proc.AutoUndo = false;
    TImBitmap& b = *proc.Bitmap();
    b.Allocate(c.srcW, c.srcH, im24bgr);
    for (int y = 0, k = 0; y < c.srcH; ++y)
      for (int x = 0; x < c.srcW; ++x, ++k) {
        uint8_t* p = b.Scanline(y) + 3 * x;
        p[0] = static_cast<uint8_t>(c.blue[k]);
        p[1] = static_cast<uint8_t>(255 - c.blue[k]);
        p[2] = 9;
      }
    proc.Resample(c.W, c.H, rfFastLinear);
    ASSERT_EQ(b.Width(), c.W);
    ASSERT_EQ(b.Height(), c.H);
    EXPECT_EQ(Channel(b, 0), c.wantBlue);
    EXPECT_EQ(Channel(b, 1), c.wantGreen);
    EXPECT_EQ(Channel(b, 2), std::vector<int>(c.wantBlue.size(), 9));
  }
}

TEST(Resample, BilevelFilteredPaths) {
  // White is a set bit; results are gray im24bgr pixels.
  struct Case {
    const char* what;
    int srcW, srcH, W, H;
    std::vector<int> bits;  // row by row
    std::vector<int> gray;
  } cases[] = {
      {"enlarging interpolates", 2, 1, 4, 1, {0, 1}, {0, 127, 255, 255}},
      // Width kept, height halved: still interpolation, rows 0 and 2 sampled.
      {"one direction not shrinking interpolates both", 1, 4, 1, 2, {1, 0, 1, 0}, {255, 255}},
      // Boxes (0..1,0..1), (1..3,0..1), (0..1,1..3), (1..3,1..3) around one white pixel.
      {"shrinking both ways counts boxes", 4, 4, 2, 2, {0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       {63, 42, 42, 28}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TImageProc proc;
    proc.AutoUndo = false;
    TImBitmap& b = *proc.Bitmap();
    b.Allocate(c.srcW, c.srcH, im1bit);
    for (int y = 0, k = 0; y < c.srcH; ++y)
      for (int x = 0; x < c.srcW; ++x, ++k) SetBit(b, x, y, c.bits[k]);
    proc.Resample(c.W, c.H, rfFastLinear);
    ASSERT_EQ(b.PixelFormat(), im24bgr);
    EXPECT_EQ(Channel(b, 0), c.gray);
    EXPECT_EQ(Channel(b, 2), c.gray);
  }
}

TEST(Resample, BilevelBoxReductionOfARectangle) {
  // The boxes of a sub-rectangle reach past it into the rest of the image but
  // never past the image.
  TImBitmap src;
  src.Allocate(8, 4, im1bit);
  src.Fill(0);
  SetBit(src, 3, 0, true);  // just left of the rectangle
  SetBit(src, 7, 3, true);  // the image's last pixel
  TImBitmap dst;
  dst.Allocate(2, 2, im24bgr);
  ImBilevelBoxReduce(src, 4, 0, 7, 3, dst);
  // Column boxes: 3..5 and 5..7 (from x0 + Trunc(fx -/+ 1)); rows 0..1 and 1..3.
  EXPECT_EQ(Channel(dst, 1), (std::vector<int>{255 / 6, 0, 0, 255 / 9}));
}

TEST(Resample, OtherFiltersKeepFlatImagesFlat) {
  // Every kernel is normalised, so a flat image stays flat whichever way it is
  // scaled, and every destination pixel is written.
  const TResampleFilter filters[] = {rfTriangle, rfHermite, rfBell,   rfBSpline, rfLanczos3,
                                     rfMitchell, rfNearest, rfLinear, rfBilinear, rfBicubic};
  const std::pair<int, int> sizes[] = {{13, 3}, {3, 9}, {1, 1}, {40, 40}};
  for (TResampleFilter f : filters)
    for (auto [w, h] : sizes)
      for (TImPixelFormat fmt : {im24bgr, im8gray}) {
        SCOPED_TRACE(testing::Message() << "filter " << int(f) << " to " << w << "x" << h << " "
                                        << PixelFormatName(fmt));
        TImageProc proc;
        proc.AutoUndo = false;
        TImBitmap& b = *proc.Bitmap();
        b.Allocate(7, 5, fmt);
        b.Fill(fmt == im24bgr ? 0xC8964D : 77);  // blue 200, green 150, red 77
        proc.Resample(w, h, f);
        ASSERT_EQ(b.Width(), w);
        ASSERT_EQ(b.Height(), h);
        ASSERT_EQ(b.PixelFormat(), fmt);
        int wrong = 0;
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            const uint8_t* p = b.Scanline(y) + (fmt == im24bgr ? 3 * x : x);
            wrong += fmt == im24bgr ? !(p[0] == 200 && p[1] == 150 && p[2] == 77) : p[0] != 77;
          }
        EXPECT_EQ(wrong, 0);
      }
}

TEST(Resample, FiltersOnOtherFormatsPickPixels) {
  TImageProc proc;
  proc.AutoUndo = false;
  TImBitmap& b = *proc.Bitmap();
  b.Allocate(2, 1, im8pal);
  b.Scanline(0)[0] = 1;
  b.Scanline(0)[1] = 200;
  b.SetPaletteColor(200, 0x010203);
  proc.Resample(4, 1, rfFastLinear);
  ASSERT_EQ(b.PixelFormat(), im8pal);
  EXPECT_EQ(std::vector<int>(b.Scanline(0), b.Scanline(0) + 4), (std::vector<int>{1, 1, 200, 200}));
  EXPECT_EQ(b.Palette()[200].B, 3);
}

TEST(Resample, ProgressReports) {
  struct Case {
    TResampleFilter f;
    int srcW, srcH, W, H;
    std::vector<int> reports;
  } cases[] = {
      {rfNone, 3, 3, 4, 4, {0, 22, 44, 66}},   // Trunc(100 / 4.5 x j)
      {rfFastLinear, 2, 1, 4, 2, {0, 28, 57}},  // Trunc(100 / 3.5 x k), then x (1 + j)
  };
  for (const auto& c : cases) {
    TImageProc proc;
    proc.AutoUndo = false;
    std::vector<int> seen;
    proc.OnProgress = [&](void* sender, int p) {
      EXPECT_EQ(sender, &proc);
      seen.push_back(p);
    };
    proc.Bitmap()->Allocate(c.srcW, c.srcH, im24bgr);
    proc.Resample(c.W, c.H, c.f);
    EXPECT_EQ(seen, c.reports) << int(c.f);
  }
}

TEST(Resample, UndoCopiesAndDegenerateRequests) {
  TImageProc proc;
  proc.UndoLimit = 2;
  TImBitmap& b = *proc.Bitmap();
  b.Allocate(8, 6, im24bgr);
  FillCoords(b);
  proc.Resample(4, 3, rfNone);
  proc.Resample(-1, 6, rfNone);
  proc.Resample(-1, -1, rfNone);  // nothing to resample: the image is kept
  EXPECT_EQ(b.Width(), 8);
  EXPECT_EQ(b.Height(), 6);
  EXPECT_EQ(CoordAt(b, 7, 5), std::make_pair(6, 4));
  ASSERT_EQ(proc.UndoCount(), 2);  // the oldest copy was dropped
  EXPECT_EQ(proc.UndoCaption(0), "Resample -1,6");
  EXPECT_EQ(proc.UndoImage(0)->Width(), 4);
  EXPECT_EQ(proc.UndoCaption(1), "Resample -1,-1");
  EXPECT_EQ(proc.UndoImage(1)->Width(), 8);

  TImageProc quiet;
  quiet.AutoUndo = false;
  quiet.Bitmap()->Allocate(2, 2, im24bgr);
  quiet.Resample(3, 3, rfNone);
  EXPECT_EQ(quiet.UndoCount(), 0);

  // An empty image is left alone; sizes no store can hold fail cleanly and
  // leave the image as it was.
  TImageProc empty;
  empty.Resample(5, 5, rfNone);
  EXPECT_EQ(empty.Bitmap()->Width(), 0);
  EXPECT_EQ(empty.UndoCount(), 0);
  for (auto [w, h] : {std::pair{INT_MAX, INT_MAX}, {-1, INT_MAX}}) {
    EXPECT_THROW(quiet.Resample(w, h, rfNone), TImError) << w << "," << h;
    EXPECT_EQ(quiet.Bitmap()->Width(), 3);
  }
}

TEST(Resample, FileBackedBuffers) {
  // Source and destination in temporary files hold one mapped row each.
  TImBitmap src;
  src.MemoryThreshold = 0;
  src.Allocate(50, 40, im24bgr);
  ASSERT_EQ(src.Location(), imTempFile);
  FillCoords(src);
  for (TResampleFilter f : {rfNone, rfFastLinear, rfBicubic}) {
    TImBitmap dst;
    dst.MemoryThreshold = 0;
    dst.Allocate(25, 20, im24bgr);
    ASSERT_EQ(dst.Location(), imTempFile);
    ImResampleFiltered(src, dst, f, nullptr);
    const auto c = CoordAt(dst, 24, 19);
    EXPECT_NEAR(c.first, 48, 1) << int(f);
    EXPECT_NEAR(c.second, 38, 1) << int(f);
  }
}
