// Render: clipping, the plain and 1:1 paths, per-format colours, blending,
// the filtered path, row duplication and the table caches.
#include <gtest/gtest.h>

#include <QImage>
#include <array>
#include <climits>
#include <vector>

#include "image/ImBitmap.h"

namespace {

using TRgb = std::array<int, 3>;  // blue, green, red
constexpr TRgb kBack = {1, 2, 3};

QImage Canvas(int w, int h, TRgb c = kBack) {
  QImage img(w, h, QImage::Format_BGR888);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uchar* p = img.scanLine(y) + 3 * x;
      p[0] = static_cast<uchar>(c[0]);
      p[1] = static_cast<uchar>(c[1]);
      p[2] = static_cast<uchar>(c[2]);
    }
  return img;
}

TRgb At(const QImage& img, int x, int y) {
  const uchar* p = img.constScanLine(y) + 3 * x;
  return {p[0], p[1], p[2]};
}

// Pixel (x, y) of the source is (x, y, 200): its colour tells where it came from.
void FillCoords(TImBitmap& b) {
  for (int y = 0; y < b.Height(); ++y) {
    uint8_t* row = b.Scanline(y);
    for (int x = 0; x < b.Width(); ++x) {
      row[3 * x] = static_cast<uint8_t>(x);
      row[3 * x + 1] = static_cast<uint8_t>(y);
      row[3 * x + 2] = 200;
    }
  }
}

TImBitmap::TRenderArgs Args(int sx, int sy, int sw, int sh, int dx, int dy, int dw, int dh) {
  TImBitmap::TRenderArgs a;
  a.SrcX = sx;
  a.SrcY = sy;
  a.SrcWidth = sw;
  a.SrcHeight = sh;
  a.DestX = dx;
  a.DestY = dy;
  a.DestWidth = dw;
  a.DestHeight = dh;
  return a;
}

TImBitmap::TRenderArgs WithClip(TImBitmap::TRenderArgs a, int l, int t, int r, int b) {
  a.HasClip = true;
  a.ClipLeft = l;
  a.ClipTop = t;
  a.ClipRight = r;
  a.ClipBottom = b;
  return a;
}

void SetBit(TImBitmap& b, int x, int y, bool on) {
  uint8_t* row = b.Scanline(y);
  if (on) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
  else row[x >> 3] &= static_cast<uint8_t>(~(0x80 >> (x & 7)));
}

std::vector<int> BlueRow(const QImage& img, int y) {
  std::vector<int> v;
  for (int x = 0; x < img.width(); ++x) v.push_back(At(img, x, y)[0]);
  return v;
}

}  // namespace

TEST(Render, GeometryAndClipping) {
  struct TProbe {
    int x, y;
    int sx, sy;  // source pixel expected there, or -1 for untouched
  };
  struct Case {
    const char* what;
    int srcW, srcH, destW, destH;
    TImBitmap::TRenderArgs args;
    std::vector<TProbe> probes;
  };
  const Case cases[] = {
      {"halving: steps 32768 take every second pixel", 100, 100, 60, 60, Args(0, 0, 100, 100, 0, 0, 50, 50),
       {{0, 0, 0, 0}, {10, 3, 20, 6}, {49, 49, 98, 98}, {50, 0, -1, -1}, {0, 50, -1, -1}}},
      {"3 into 7: step 7021", 3, 3, 7, 7, Args(0, 0, 3, 3, 0, 0, 7, 7),
       {{2, 2, 0, 0}, {3, 3, 1, 1}, {4, 0, 1, 0}, {5, 5, 2, 2}, {6, 6, 2, 2}}},
      {"left edge at -10 with rx = 2: source starts 20 columns in", 100, 10, 60, 10,
       Args(0, 0, 100, 10, -10, 0, 50, 5), {{0, 0, 20, 0}, {39, 4, 98, 8}, {40, 0, -1, -1}, {0, 5, -1, -1}}},
      {"top edge above the bitmap", 10, 100, 10, 10, Args(0, 0, 10, 100, 0, -3, 10, 50),
       {{0, 0, 0, 6}, {9, 9, 9, 24}}},
      {"1:1 copy clipped by the bitmap's right and bottom", 20, 20, 10, 10, Args(0, 0, 20, 20, 5, 5, 20, 20),
       {{5, 5, 0, 0}, {9, 9, 4, 4}, {4, 4, -1, -1}}},
      {"1:1 copy at an offset source position", 20, 20, 10, 10, Args(7, 3, 5, 5, 2, 1, 5, 5),
       {{2, 1, 7, 3}, {6, 5, 11, 7}, {7, 5, -1, -1}, {1, 1, -1, -1}}},
      {"clip rectangle limits the area", 10, 10, 10, 10, WithClip(Args(0, 0, 10, 10, 0, 0, 10, 10), 2, 1, 3, 2),
       {{2, 1, 2, 1}, {3, 2, 3, 2}, {1, 1, -1, -1}, {4, 2, -1, -1}, {2, 3, -1, -1}}},
      {"clip rectangle with scaling", 10, 10, 10, 10, WithClip(Args(0, 0, 10, 10, 0, 0, 5, 5), 1, 1, 2, 2),
       {{1, 1, 2, 2}, {2, 2, 4, 4}, {0, 0, -1, -1}, {3, 3, -1, -1}}},
      {"clip outside the bitmap draws nothing", 10, 10, 10, 10,
       WithClip(Args(0, 0, 10, 10, 0, 0, 10, 10), -20, -20, -1, -1), {{0, 0, -1, -1}, {9, 9, -1, -1}}},
      {"source rectangle past the source is cut to it", 20, 4, 10, 4, Args(15, 0, 20, 4, 0, 0, 5, 4),
       {{0, 0, 15, 0}, {4, 3, 19, 3}, {5, 0, -1, -1}}},
      {"zero source width", 10, 10, 10, 10, Args(0, 0, 0, 10, 0, 0, 10, 10), {{0, 0, -1, -1}}},
      {"zero destination height", 10, 10, 10, 10, Args(0, 0, 10, 10, 0, 0, 10, 0), {{0, 0, -1, -1}}},
      {"destination right of the bitmap", 10, 10, 10, 10, Args(0, 0, 10, 10, 10, 0, 10, 10), {{9, 0, -1, -1}}},
      {"destination wholly left of the bitmap", 10, 10, 10, 10, Args(0, 0, 10, 10, -1000, 0, 10, 10),
       {{0, 0, -1, -1}}},
      {"negative sizes", 10, 10, 10, 10, Args(0, 0, -5, 10, 0, 0, 10, -3), {{0, 0, -1, -1}}},
      {"huge rectangles stay inside both buffers", 10, 10, 10, 10,
       Args(INT_MIN, INT_MIN, INT_MAX, INT_MAX, INT_MIN / 2, INT_MIN / 2, INT_MAX, INT_MAX), {}},
      {"huge source drawn small", 10, 10, 10, 10, Args(-5, -5, INT_MAX, INT_MAX, 0, 0, 10, 10), {{9, 9, 9, 9}}},
  };
  for (TImLocation loc : {imHeap, imTempFile}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << c.what << (loc == imTempFile ? " (file-backed)" : ""));
      TImBitmap src;
      if (loc == imTempFile) src.MemoryThreshold = 0;
      src.Allocate(c.srcW, c.srcH, im24bgr);
      ASSERT_EQ(src.Location(), loc);
      FillCoords(src);
      QImage dest = Canvas(c.destW, c.destH);
      src.Render(dest, c.args);
      EXPECT_EQ(src.AccessMode, 3);
      for (const auto& p : c.probes) {
        const TRgb want = p.sx < 0 ? kBack : TRgb{p.sx, p.sy, 200};
        EXPECT_EQ(At(dest, p.x, p.y), want) << "at " << p.x << "," << p.y;
      }
    }
  }
}

TEST(Render, FormatColours) {
  struct Case {
    TImPixelFormat f;
    std::vector<uint8_t> row;  // bytes of a 2-pixel source row
    double rangeMin, rangeMax;
    TRgb first, second;
  } cases[] = {
      {im24bgr, {10, 20, 30, 40, 50, 60}, 0, 0, {10, 20, 30}, {40, 50, 60}},
      {im1bit, {0x80}, 0, 0, {255, 255, 255}, {0, 0, 0}},
      {im8gray, {77, 255}, 0, 0, {77, 77, 77}, {255, 255, 255}},
      // Trunc((77 - 50) / 50 x 255) = 137; values above the range clamp.
      {im8gray, {77, 255}, 50, 100, {137, 137, 137}, {255, 255, 255}},
      {im8pal, {3, 200}, 0, 0, {0x56, 0x34, 0x12}, {0, 0, 0}},
      {im16gray, {0x34, 0x12, 0xFF, 0xFF}, 0, 0, {0x12, 0x12, 0x12}, {255, 255, 255}},
      {im16gray, {0x00, 0x10, 0x00, 0x05}, 0x0800, 0x1000, {255, 255, 255}, {0, 0, 0}},
      {im32f, {0x00, 0x00, 0x00, 0x3F, 0x00, 0x00, 0xC0, 0x7F}, 0, 0, {127, 127, 127}, {0, 0, 0}},  // 0.5, NaN
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << PixelFormatName(c.f) << " range " << c.rangeMin << ".." << c.rangeMax);
    TImBitmap src;
    src.Allocate(2, 1, c.f);
    std::copy(c.row.begin(), c.row.end(), src.Scanline(0));
    if (c.f == im8pal) src.SetPaletteColor(3, 0x123456);
    src.DisplayRangeMin = c.rangeMin;
    src.DisplayRangeMax = c.rangeMax;
    // Scaled 2 -> 4 so that every format goes through its routine, not the row copy.
    QImage dest = Canvas(4, 1);
    src.Render(dest, Args(0, 0, 2, 1, 0, 0, 4, 1));
    EXPECT_EQ(At(dest, 0, 0), c.first);
    EXPECT_EQ(At(dest, 1, 0), c.first);
    EXPECT_EQ(At(dest, 3, 0), c.second);
  }
}

TEST(Render, Blending) {
  struct Case {
    const char* what;
    TImPixelFormat f;
    TRgb srcColour;  // for im1bit: white when blue is 255
    int alpha;       // -1: no alpha channel
    bool alphaFull, alphaEnable;
    int opacity;
    TRgb under, want;
  } cases[] = {
      {"alpha 0 leaves the destination", im24bgr, {255, 255, 255}, 0, false, true, 255, {9, 9, 9}, {9, 9, 9}},
      {"alpha 255 reaches 254 from black", im24bgr, {255, 255, 255}, 255, false, true, 255, {0, 0, 0},
       {254, 254, 254}},
      {"alpha 255 reaches 0 from white", im24bgr, {0, 0, 0}, 255, false, true, 255, {255, 255, 255}, {0, 0, 0}},
      {"a full alpha channel copies", im24bgr, {255, 255, 255}, 255, true, true, 255, {0, 0, 0}, {255, 255, 255}},
      {"alpha not enabled copies", im24bgr, {255, 255, 255}, 0, false, false, 255, {0, 0, 0}, {255, 255, 255}},
      {"opacity 128 without alpha", im24bgr, {255, 255, 255}, -1, false, false, 128, {0, 0, 0}, {127, 127, 127}},
      {"opacity and alpha: the smaller wins", im24bgr, {255, 255, 255}, 64, false, true, 128, {0, 0, 0},
       {63, 63, 63}},
      {"opacity below alpha", im24bgr, {200, 100, 0}, 200, false, true, 100, {0, 100, 200}, {78, 100, 121}},
      {"opacity 0", im24bgr, {255, 255, 255}, -1, false, false, 0, {5, 6, 7}, {5, 6, 7}},
      {"bilevel with opacity", im1bit, {255, 255, 255}, -1, false, false, 128, {0, 0, 0}, {127, 127, 127}},
      {"gray through alpha", im8gray, {100, 100, 100}, 128, false, true, 255, {0, 0, 0}, {50, 50, 50}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TImBitmap src;
    src.Allocate(1, 1, c.f);
    uint8_t* p = src.Scanline(0);
    if (c.f == im24bgr) std::copy(c.srcColour.begin(), c.srcColour.end(), p);
    else if (c.f == im1bit) p[0] = c.srcColour[0] == 255 ? 0x80 : 0;
    else p[0] = static_cast<uint8_t>(c.srcColour[0]);
    if (c.alpha >= 0) {
      src.AlphaChannel()->Scanline(0)[0] = static_cast<uint8_t>(c.alpha);
      src.AlphaChannel()->AlphaFull = c.alphaFull;
    }
    // Both the 1:1 path and a scaled one blend the same way.
    for (int size : {1, 3}) {
      QImage dest = Canvas(3, 3, c.under);
      auto a = Args(0, 0, 1, 1, 0, 0, size, size);
      a.AlphaEnable = c.alphaEnable;
      a.Opacity = c.opacity;
      src.Render(dest, a);
      EXPECT_EQ(At(dest, 0, 0), c.want) << size;
      EXPECT_EQ(At(dest, size - 1, size - 1), c.want) << size;
    }
  }
}

TEST(Render, FilteredPath) {
  struct Case {
    const char* what;
    TImPixelFormat f;
    int srcW, srcH;
    std::vector<int> values;  // blue (or bits) row by row
    int destW, destH;
    bool alpha;               // alpha channel 0 at the first pixel, 255 elsewhere, enabled
    std::vector<int> blue;    // the first destination row
    std::vector<int> blue2;   // the second, when there is one
  } cases[] = {
      {"24-bit enlarged with rfFastLinear", im24bgr, 2, 1, {0, 255}, 4, 1, false, {0, 127, 255, 255}, {}},
      {"alpha resampled alongside", im24bgr, 2, 1, {255, 255}, 4, 1, true, {0, 126, 254, 254}, {}},
      {"8-bit gray is not filtered", im8gray, 2, 1, {0, 255}, 4, 1, false, {0, 0, 255, 255}, {}},
      {"bilevel enlarged interpolates", im1bit, 2, 1, {0, 1}, 4, 1, false, {0, 127, 255, 255}, {}},
      {"bilevel shrunk counts boxes", im1bit, 4, 4, {0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 2, 2, false,
       {63, 42}, {42, 28}},
      {"unchanged size is copied", im24bgr, 2, 1, {0, 255}, 2, 1, false, {0, 255, 1, 1}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TImBitmap src;
    src.Allocate(c.srcW, c.srcH, c.f);
    for (int y = 0, k = 0; y < c.srcH; ++y)
      for (int x = 0; x < c.srcW; ++x, ++k) {
        uint8_t* row = src.Scanline(y);
        if (c.f == im1bit) SetBit(src, x, y, c.values[k]);
        else if (c.f == im8gray) row[x] = static_cast<uint8_t>(c.values[k]);
        else row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = static_cast<uint8_t>(c.values[k]);
      }
    if (c.alpha) {
      src.AlphaChannel()->Scanline(0)[0] = 0;
      src.AlphaChannel()->AlphaFull = false;
    }
    QImage dest = Canvas(4, 2, c.alpha ? TRgb{0, 0, 0} : kBack);
    auto a = Args(0, 0, c.srcW, c.srcH, 0, 0, c.destW, c.destH);
    a.Filter = rfFastLinear;
    a.AlphaEnable = c.alpha;
    src.Render(dest, a);
    std::vector<int> row0 = BlueRow(dest, 0);
    row0.resize(c.blue.size());
    EXPECT_EQ(row0, c.blue);
    if (!c.blue2.empty()) {
      std::vector<int> row1 = BlueRow(dest, 1);
      row1.resize(c.blue2.size());
      EXPECT_EQ(row1, c.blue2);
    }
  }
}

TEST(Render, FilteredPathOnlyTouchesTheClippedArea) {
  // The visible part is resampled and drawn 1:1 at the clipped position with
  // the caller's clip, so pixels outside it keep their colour.
  TImBitmap src;
  src.Allocate(4, 4, im24bgr);
  FillCoords(src);
  QImage dest = Canvas(8, 8);
  auto a = WithClip(Args(0, 0, 4, 4, -2, 0, 8, 8), 0, 0, 3, 6);
  a.Filter = rfFastLinear;
  src.Render(dest, a);
  // Source start moves Trunc(2 x 0.5) = 1 column; the 3 x 4 part becomes 6 x 8.
  EXPECT_EQ(At(dest, 0, 0), (TRgb{1, 0, 200}));
  EXPECT_EQ(At(dest, 2, 0), (TRgb{2, 0, 200}));
  EXPECT_EQ(At(dest, 3, 6), (TRgb{2, 3, 200}));
  EXPECT_EQ(At(dest, 4, 0), kBack);
  EXPECT_EQ(At(dest, 0, 7), kBack);
}

TEST(Render, RowDuplicationCopiesThePreviousRowSpan) {
  // Half-opaque white over rows of different colours: with duplication the
  // second row repeats the first row's result instead of blending its own.
  for (bool dup : {false, true}) {
    TImBitmap src;
    src.Allocate(1, 1, im24bgr);
    src.Fill(0xFFFFFF);
    QImage dest = Canvas(4, 2, {0, 0, 0});
    for (int x = 0; x < 4; ++x) {
      uchar* p = dest.scanLine(1) + 3 * x;
      p[0] = p[1] = p[2] = 255;
    }
    auto a = Args(0, 0, 1, 1, 1, 0, 2, 2);
    a.Opacity = 128;
    a.RowDuplication = dup;
    src.Render(dest, a);
    EXPECT_EQ(At(dest, 1, 0), (TRgb{127, 127, 127}));
    EXPECT_EQ(At(dest, 2, 1), (dup ? TRgb{127, 127, 127} : TRgb{255, 255, 255})) << dup;
    // Only the area's span is repeated, not the whole row.
    EXPECT_EQ(At(dest, 0, 1), (TRgb{255, 255, 255}));
    EXPECT_EQ(At(dest, 3, 1), (TRgb{255, 255, 255}));
  }
}

TEST(Render, TableCaches) {
  TImBitmap src;
  src.Allocate(4, 4, im24bgr);
  FillCoords(src);

  // A caller's table is used, shifted by its offset.
  {
    std::vector<int> cols = {9, 3, 2, 1, 0}, rows = {0, 0, 0, 0, 0};
    QImage dest = Canvas(4, 4);
    auto a = Args(0, 0, 2, 2, 0, 0, 4, 4);  // scaled: 1:1 would be a row copy
    a.ColumnCache = &cols;
    a.ColumnCacheOffset = 1;
    a.RowCache = &rows;
    src.Render(dest, a);
    const uchar* p = dest.constScanLine(3);
    EXPECT_EQ(p[0], 3);  // column 0 from table entry 1
    EXPECT_EQ(p[3 * 3], 0);
    EXPECT_EQ(p[1], 0);  // every row from source row 0
  }
  // A table pointing outside the source, or too short, is ignored and kept.
  for (std::vector<int> bad : {std::vector<int>{0, 1, 2, 99}, std::vector<int>{0, 1}}) {
    std::vector<int> copy = bad;
    QImage dest = Canvas(4, 4);
    auto a = Args(0, 0, 2, 2, 0, 0, 4, 4);
    a.ColumnCache = &bad;
    a.FreeTables = false;
    src.Render(dest, a);
    EXPECT_EQ(bad, copy);
    EXPECT_EQ(At(dest, 3, 0), (TRgb{1, 0, 200}));  // (8192 x 3) >> 14
  }
  // Empty slots receive the tables built here when they are kept.
  for (bool keep : {false, true}) {
    std::vector<int> cols, rows;
    std::vector<uint8_t*> destRows;
    QImage dest = Canvas(6, 5);
    auto a = Args(0, 0, 4, 4, 1, 1, 2, 2);
    a.Opacity = 200;
    a.ColumnCache = &cols;
    a.RowCache = &rows;
    a.DestRowCache = &destRows;
    a.FreeTables = !keep;
    src.Render(dest, a);
    if (!keep) {
      EXPECT_TRUE(cols.empty() && rows.empty() && destRows.empty());
      continue;
    }
    EXPECT_EQ(cols, (std::vector<int>{0, 0, 2, 3, 3, 3}));  // 0 + ((32768 x (x - 1)) >> 14), clamped
    EXPECT_EQ(rows, (std::vector<int>{0, 0, 2, 3, 3}));
    ASSERT_EQ(destRows.size(), 5u);
    EXPECT_EQ(destRows[2], dest.scanLine(2));
    // A second call with the filled slots gives the same picture.
    QImage again = Canvas(6, 5);
    std::vector<uint8_t*> stale = destRows;  // addresses of the other image: rebuilt
    a.DestRowCache = &stale;
    src.Render(again, a);
    EXPECT_EQ(again, dest);
    EXPECT_EQ(stale[0], again.scanLine(0));
  }
}
