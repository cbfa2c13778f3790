// The grayscale similarity measure.
#include <gtest/gtest.h>

#include "image/ImageProc.h"

namespace {
void Solid(TImBitmap& b, int w, int h, uint8_t bl, uint8_t g, uint8_t r) {
  b.Allocate(w, h, im24bgr);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = b.Scanline(y) + 3 * x;
      p[0] = bl; p[1] = g; p[2] = r;
    }
}
}  // namespace

TEST(Similarity, ExactValues) {
  TImageProc proc;
  TImBitmap a, b;
  Solid(*proc.Bitmap(), 64, 64, 10, 20, 30);
  Solid(a, 64, 64, 10, 20, 30);
  EXPECT_EQ(proc.ComputeSimilarity(a), 0.999755859375);

  Solid(*proc.Bitmap(), 64, 64, 255, 255, 255);
  Solid(b, 64, 64, 0, 0, 0);
  EXPECT_EQ(proc.ComputeSimilarity(b), -0.000244140625);

  Solid(*proc.Bitmap(), 64, 64, 0, 0, 0);
  b.Scanline(7)[3 * 5] = b.Scanline(7)[3 * 5 + 1] = b.Scanline(7)[3 * 5 + 2] = 255;
  EXPECT_EQ(proc.ComputeSimilarity(b), 0.99951171875);
}

TEST(Similarity, GrayDivisionTruncatesAndWeightsDiffer) {
  TImageProc proc;
  TImBitmap black, red, blue;
  Solid(*proc.Bitmap(), 1, 1, 0, 0, 0);
  Solid(red, 1, 1, 0, 0, 255);
  // 1 - (1 + 53/255) / 1, accumulated in extended precision then stored as double.
  const double acc = static_cast<double>(1.0L + 53.0L / 255.0L);
  EXPECT_EQ(proc.ComputeSimilarity(red), 1.0 - acc);
  Solid(blue, 1, 1, 255, 0, 0);
  EXPECT_NE(proc.ComputeSimilarity(red), proc.ComputeSimilarity(blue));
}

TEST(Similarity, PreconditionsYieldZero) {
  TImageProc proc;
  TImBitmap other;
  Solid(other, 64, 64, 0, 0, 0);
  EXPECT_EQ(proc.ComputeSimilarity(other), 0.0);  // no image
  Solid(*proc.Bitmap(), 64, 65, 0, 0, 0);
  EXPECT_EQ(proc.ComputeSimilarity(other), 0.0);
  proc.Bitmap()->Allocate(64, 64, im1bit);
  EXPECT_EQ(proc.ComputeSimilarity(other), 0.0);
  proc.Bitmap()->Allocate(0, 0, im24bgr);
  TImBitmap empty;
  empty.Allocate(0, 0, im24bgr);
  EXPECT_EQ(proc.ComputeSimilarity(empty), 0.0);
}

TEST(Similarity, DifferenceMap) {
  TImageProc proc;
  TImBitmap white, map;
  Solid(*proc.Bitmap(), 4, 4, 0, 0, 0);
  Solid(white, 4, 4, 255, 255, 255);
  map.Allocate(4, 4, im8gray);
  proc.ComputeSimilarity(white, &map);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(map.Scanline(y)[x], 255);
  TImBitmap black;
  Solid(black, 4, 4, 0, 0, 0);
  proc.ComputeSimilarity(black, &map);
  EXPECT_EQ(map.Scanline(3)[3], 0);
}
