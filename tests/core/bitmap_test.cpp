// Image buffer: row lengths, locations, alpha channels, fills, assignment.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <filesystem>

#include "image/ImBitmap.h"

TEST(ImBitmap, RowLengthTable) {
  struct Case { int w; TImPixelFormat f; int64_t rowLen; } cases[] = {
      {1, im1bit, 4}, {33, im1bit, 8}, {5, im24bgr, 16}, {3, im8gray, 4}, {3, im16gray, 8}, {2, im32f, 8},
  };
  for (const auto& c : cases) {
    TImBitmap b;
    b.Allocate(c.w, 2, c.f);
    EXPECT_EQ(b.RowLen(), c.rowLen) << c.w << " " << PixelFormatName(c.f);
    EXPECT_EQ(b.BitCount(), kImBitCount[c.f]);
  }
}

TEST(ImBitmap, HeapRowsAreBottomUpAndZeroed) {
  TImBitmap b;
  b.Allocate(4, 3, im24bgr);
  ASSERT_EQ(b.Location(), imHeap);
  EXPECT_GT(b.Scanline(0), b.Scanline(1));
  EXPECT_EQ(b.Scanline(0) - b.Scanline(2), 2 * b.RowLen());
  for (int y = 0; y < 3; ++y)
    for (int i = 0; i < b.RowLen(); ++i) EXPECT_EQ(b.Scanline(y)[i], 0);
  EXPECT_EQ(b.Scanline(3), nullptr);
  EXPECT_EQ(b.Scanline(-1), nullptr);
}

TEST(ImBitmap, EmptySizesHaveNoRows) {
  TImBitmap b;
  b.Allocate(0, 10, im24bgr);
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 10);
  EXPECT_EQ(b.RowLen(), 0);
  EXPECT_EQ(b.Scanline(0), nullptr);
  b.Allocate(-4, -4, im24bgr);
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Scanline(0), nullptr);
}

TEST(ImBitmap, ThresholdRuleKeepsLocationAtExactSize) {
  // 5 x 4 im24bgr = 16 bytes a row, 64 bytes in all.
  TImBitmap atThreshold;
  atThreshold.MemoryThreshold = 64;
  atThreshold.Allocate(5, 4, im24bgr);
  EXPECT_EQ(atThreshold.Location(), imTempFile);  // created in imTempFile, equal keeps it

  TImBitmap below;
  below.MemoryThreshold = 65;
  below.Allocate(5, 4, im24bgr);
  EXPECT_EQ(below.Location(), imHeap);

  TImBitmap heapAbove;
  heapAbove.MemoryThreshold = 1 << 20;
  heapAbove.Allocate(5, 4, im24bgr);
  ASSERT_EQ(heapAbove.Location(), imHeap);
  heapAbove.MemoryThreshold = 64;
  heapAbove.Allocate(5, 4, im24bgr);
  EXPECT_EQ(heapAbove.Location(), imHeap);  // equal keeps heap too
  heapAbove.Allocate(6, 4, im24bgr);
  EXPECT_EQ(heapAbove.Location(), imTempFile);
}

TEST(ImBitmap, TempFileRowsWrittenBackAndFileRemoved) {
  std::string name;
  {
    TImBitmap b;
    b.MemoryThreshold = 0;
    b.Allocate(4, 6, im8gray);
    ASSERT_EQ(b.Location(), imTempFile);
    name = b.TempFileName();
    ASSERT_TRUE(std::filesystem::exists(name));
    EXPECT_EQ(std::filesystem::file_size(name), 24u);
    b.Scanline(3)[0] = 77;
    b.Scanline(4)[1] = 88;  // row 3 is written back before row 4 is read
    EXPECT_EQ(b.Scanline(3)[0], 77);
    EXPECT_EQ(b.Scanline(4)[1], 88);

    // Moving to the heap keeps row 0 at offset 0 of the file order.
    b.Scanline(0)[0] = 1;
    b.Scanline(5)[0] = 6;
    TImBitmap copy;
    copy.MemoryThreshold = 0;
    copy.Allocate(1, 1, im8gray);
    copy.Assign(b);  // file to file
    EXPECT_EQ(copy.Location(), imTempFile);
    EXPECT_EQ(copy.Scanline(0)[0], 1);
    EXPECT_EQ(copy.Scanline(5)[0], 6);
    EXPECT_EQ(copy.Scanline(3)[0], 77);
    b.MemoryThreshold = 1 << 20;
    b.SetLocation(imHeap);
    EXPECT_EQ(b.Location(), imHeap);
    EXPECT_EQ(b.Scanline(0)[0], 1);
    EXPECT_EQ(b.Scanline(5)[0], 6);
    EXPECT_FALSE(std::filesystem::exists(name));
  }
}

TEST(ImBitmap, TempFolderThatCannotBeWrittenFallsBackToHeap) {
  const std::string saved = ImTempDirectory;
  ImTempDirectory = "/proc/no-such-place/tmp";
  TImBitmap b;
  b.MemoryThreshold = 0;
  b.Allocate(8, 8, im24bgr);
  EXPECT_EQ(b.Location(), imHeap);
  EXPECT_NE(b.Scanline(7), nullptr);
  ImTempDirectory = saved;
}

TEST(ImBitmap, FillSetsAlphaFullOnlyAtMaximum) {
  TImBitmap g;
  g.Allocate(3, 3, im8gray);
  g.Fill(255);
  EXPECT_TRUE(g.AlphaFull);
  g.Fill(254);
  EXPECT_FALSE(g.AlphaFull);
  EXPECT_EQ(g.Scanline(2)[2], 254);

  TImBitmap c;
  c.Allocate(2, 1, im24bgr);
  c.Fill(0x0000FF);  // red in the toolkit encoding
  EXPECT_EQ(c.Scanline(0)[0], 0);
  EXPECT_EQ(c.Scanline(0)[2], 255);

  TImBitmap bw;
  bw.Allocate(9, 1, im1bit);
  bw.Fill(clWindow);  // a light system colour gives white
  EXPECT_EQ(bw.Scanline(0)[0], 0xFF);
  bw.Fill(0);
  EXPECT_EQ(bw.Scanline(0)[0], 0x00);
}

TEST(ImBitmap, AlphaChannelRules) {
  TImBitmap b;
  b.Allocate(4, 4, im24bgr);
  EXPECT_FALSE(b.HasAlphaChannel());
  TImBitmap* a = b.AlphaChannel();
  ASSERT_NE(a, nullptr);
  EXPECT_TRUE(a->IsAlphaChannel());
  EXPECT_EQ(a->PixelFormat(), im8gray);
  EXPECT_TRUE(a->AlphaFull);
  EXPECT_EQ(a->Scanline(3)[3], 255);
  EXPECT_EQ(a->AlphaChannel(), nullptr);
  EXPECT_FALSE(a->HasAlphaChannel());

  // Assign from a buffer without alpha into a heap buffer drops the alpha.
  TImBitmap plain;
  plain.Allocate(2, 2, im24bgr);
  b.Assign(plain);
  EXPECT_FALSE(b.HasAlphaChannel());

  // Assign from a buffer with alpha copies it.
  TImBitmap withAlpha;
  withAlpha.Allocate(2, 2, im24bgr);
  withAlpha.AlphaChannel()->Scanline(1)[1] = 9;
  b.Assign(withAlpha);
  ASSERT_TRUE(b.HasAlphaChannel());
  EXPECT_EQ(b.AlphaChannel()->Scanline(1)[1], 9);

  // An imTBitmap destination keeps its alpha when the source has none.
  TImBitmap tb;
  tb.SetLocation(imTBitmap);
  tb.Allocate(2, 2, im24bgr);
  tb.AlphaChannel()->Scanline(0)[0] = 5;
  tb.Assign(plain);
  ASSERT_TRUE(tb.HasAlphaChannel());
  EXPECT_EQ(tb.AlphaChannel()->Scanline(0)[0], 5);
}

TEST(ImBitmap, PaletteIndexOutOfRangeIgnored) {
  TImBitmap p;
  p.Allocate(2, 2, im8pal);
  ASSERT_EQ(p.PaletteCount(), 256);
  p.SetPaletteColor(3, 0x112233);
  EXPECT_EQ(p.Palette()[3].B, 0x33);
  EXPECT_EQ(p.Palette()[3].R, 0x11);
  const TImRGB before = p.Palette()[255];
  p.SetPaletteColor(256, 0xFFFFFF);
  p.SetPaletteColor(-1, 0xFFFFFF);
  EXPECT_EQ(p.Palette()[255].R, before.R);
}

TEST(ImBitmap, TBitmapResizedThroughPainterIsReportedAtNextQuery) {
  TImBitmap b;
  b.Allocate(10, 10, im24bgr);
  QImage* img = b.Canvas();
  ASSERT_EQ(b.Location(), imTBitmap);
  *img = QImage(20, 15, QImage::Format_BGR888);
  img->fill(Qt::white);
  {
    QPainter p(img);
    p.fillRect(0, 0, 5, 5, Qt::red);
  }
  EXPECT_EQ(b.Width(), 20);
  EXPECT_EQ(b.Height(), 15);
  EXPECT_EQ(b.RowLen(), 60);
  EXPECT_EQ(b.Scanline(0)[2], 255);  // red
  EXPECT_EQ(b.Scanline(0)[0], 0);
  EXPECT_EQ(b.Scanline(10)[0], 255);

  TImBitmap g;
  g.SetLocation(imTBitmap);
  g.Allocate(4, 4, im16gray);
  EXPECT_EQ(g.PixelFormat(), im8gray);
  EXPECT_THROW(g.Allocate(4, 4, im32f), TImError);
}

TEST(ImBitmap, AssignFromQImageByDepth) {
  QImage rgb555(2, 1, QImage::Format_RGB555);
  reinterpret_cast<uint16_t*>(rgb555.scanLine(0))[0] = 0x7FFF;
  TImBitmap b;
  b.AssignImage(rgb555);
  EXPECT_EQ(b.PixelFormat(), im24bgr);
  EXPECT_EQ(b.Scanline(0)[0], 248);
  EXPECT_EQ(b.Scanline(0)[2], 248);

  QImage mono(9, 2, QImage::Format_Mono);
  mono.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  mono.fill(0);
  mono.setPixel(0, 0, 1);
  b.AssignImage(mono);
  EXPECT_EQ(b.PixelFormat(), im1bit);
  EXPECT_EQ(b.Scanline(0)[0] & 0x80, 0x80);
}

TEST(ImBitmap, SetPixelFormatConversions) {
  TImBitmap b;
  b.Allocate(2, 1, im24bgr);
  uint8_t* r = b.Scanline(0);
  r[0] = 0; r[1] = 0; r[2] = 255;      // red: gray 53
  r[3] = 255; r[4] = 255; r[5] = 255;  // white
  b.AlphaChannel()->Scanline(0)[0] = 7;
  b.SetPixelFormat(im8gray);
  EXPECT_EQ(b.Scanline(0)[0], 53);
  EXPECT_EQ(b.Scanline(0)[1], 255);
  ASSERT_TRUE(b.HasAlphaChannel());
  EXPECT_EQ(b.AlphaChannel()->Scanline(0)[0], 7);
  b.SetPixelFormat(im1bit);
  EXPECT_EQ(b.Scanline(0)[0] & 0xC0, 0x40);
  b.SetPixelFormat(im24bgr);
  EXPECT_EQ(b.Scanline(0)[3], 255);
  EXPECT_EQ(b.Scanline(0)[0], 0);
  EXPECT_THROW(b.SetPixelFormat(im8pal), TImError);
  EXPECT_EQ(b.PixelFormat(), im24bgr);
}
