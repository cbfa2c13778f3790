// Editing operations and masks.
#include <gtest/gtest.h>

#include "image/ImBitmap.h"

namespace {
void Fill24(TImBitmap& b) {
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      uint8_t* p = b.Scanline(y) + 3 * x;
      p[0] = static_cast<uint8_t>(x);
      p[1] = static_cast<uint8_t>(y);
      p[2] = 1;
    }
}
}  // namespace

TEST(ImEdit, SetWidthKeepsLeftColumns) {
  TImBitmap b;
  b.Allocate(10, 3, im24bgr);
  Fill24(b);
  b.SetWidth(4);
  ASSERT_EQ(b.Width(), 4);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(b.Scanline(y)[3 * x], x);
      EXPECT_EQ(b.Scanline(y)[3 * x + 1], y);
    }
  b.SetHeight(1);
  EXPECT_EQ(b.Height(), 1);
  EXPECT_EQ(b.Scanline(0)[3], 1);
}

TEST(ImEdit, ResizeCentresWithFillAndAlphaFill) {
  TImBitmap b;
  b.Allocate(2, 2, im24bgr);
  b.Fill(0xFFFFFF);
  b.AlphaChannel()->Fill(200);
  b.Resize(6, 4, 0x0000FF, 0, 1, 1);
  ASSERT_EQ(b.Width(), 6);
  ASSERT_EQ(b.Height(), 4);
  // old image at columns 2..3, rows 1..2
  EXPECT_EQ(b.Scanline(1)[3 * 2], 255);
  EXPECT_EQ(b.Scanline(2)[3 * 3 + 1], 255);
  EXPECT_EQ(b.Scanline(0)[3 * 2 + 2], 255);  // red fill above
  EXPECT_EQ(b.Scanline(0)[3 * 2], 0);
  EXPECT_EQ(b.Scanline(1)[0], 0);            // red fill left
  EXPECT_EQ(b.Scanline(1)[2], 255);
  EXPECT_EQ(b.AlphaChannel()->Scanline(1)[2], 200);
  EXPECT_EQ(b.AlphaChannel()->Scanline(0)[0], 0);
  EXPECT_EQ(b.AlphaChannel()->Scanline(3)[5], 0);

  TImBitmap tl;
  tl.Allocate(2, 2, im8gray);
  tl.Fill(9);
  tl.Resize(3, 3, 1, 0, 0, 0);
  EXPECT_EQ(tl.Scanline(0)[0], 9);
  EXPECT_EQ(tl.Scanline(1)[1], 9);
  EXPECT_EQ(tl.Scanline(2)[2], 1);
}

TEST(ImEdit, CopyRectToClipsAndConverts) {
  TImBitmap src;
  src.Allocate(8, 2, im8gray);
  for (int x = 0; x < 8; ++x) src.Scanline(0)[x] = static_cast<uint8_t>(x);
  TImBitmap dst;
  dst.Allocate(4, 2, im8gray);
  src.CopyRectTo(dst, 2, 0, 4, 1, -3, 0);
  EXPECT_EQ(dst.Scanline(0)[0], 5);
  EXPECT_EQ(dst.Scanline(0)[1], 0);  // width shrank to 1

  TImBitmap rgb;
  rgb.Allocate(4, 2, im24bgr);
  src.CopyRectTo(rgb, 0, 0, 4, 2, 0, 0);  // im8gray into im24bgr: nothing
  EXPECT_EQ(rgb.Scanline(0)[3 * 3], 0);

  TImBitmap bits;
  bits.Allocate(4, 1, im1bit);
  bits.Scanline(0)[0] = 0xA0;  // 1 0 1 0
  bits.CopyRectTo(rgb, 0, 0, 4, 1, 0, 0);
  EXPECT_EQ(rgb.Scanline(0)[0], 255);
  EXPECT_EQ(rgb.Scanline(0)[3], 0);
  EXPECT_EQ(rgb.Scanline(0)[6], 255);
}

TEST(ImEdit, FillRectClamps) {
  TImBitmap g;
  g.Allocate(5, 5, im8gray);
  g.Fill(7);
  g.FillRect(-5, -5, 2, 2, 0);
  EXPECT_EQ(g.Scanline(2)[2], 0);
  EXPECT_EQ(g.Scanline(0)[3], 7);
  EXPECT_EQ(g.Scanline(3)[0], 7);
  g.FillRect(10, 10, 20, 20, 0);  // empty after clamping
  EXPECT_EQ(g.Scanline(4)[4], 7);
}

TEST(ImMask, FullFlagAndCopy) {
  TImMask m;
  m.Allocate(3, 2, 8);
  EXPECT_TRUE(m.IsEmpty());
  m.Fill(255);
  EXPECT_TRUE(m.Full);
  m.SetPixel(1, 1, 0);
  EXPECT_FALSE(m.Full);
  m.SetPixel(2, 0, 255);
  EXPECT_FALSE(m.IsEmpty());
  EXPECT_EQ(m.GetPixel(1, 1), 0);
  EXPECT_EQ(m.GetPixel(2, 0), 255);
  EXPECT_EQ(m.GetPixel(9, 9), 0);
  m.SetPixel(-1, 0, 5);  // ignored

  TImBitmap img;
  img.Allocate(3, 2, im24bgr);
  TImBitmap* a = img.AlphaChannel();
  a->CopyFromMask(&m);
  EXPECT_FALSE(a->AlphaFull);
  EXPECT_EQ(a->Scanline(1)[1], 0);
  EXPECT_EQ(a->Scanline(0)[0], 255);
  a->CopyFromMask(nullptr);
  EXPECT_EQ(a->Scanline(1)[1], 255);
}
