// Portable bit/gray/pixmap and wireless bitmap readers.
#include <gtest/gtest.h>

#include "tests/core/ReaderTestKit.h"

using readerkit::Bytes;

namespace {

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

TEST(PnmReader, ConverterFixtures) {
  TImageIO io;
  ASSERT_TRUE(readerkit::Load(io, "rgb.ppm", readerkit::ReadFixture("pnm/rgb.ppm")));
  readerkit::ExpectRgb(*io.Bitmap(), 5, 4,
                       {0x0A1405, 0x461405, 0x821405, 0xBE1405, 0xFA1405, 0x0A5A05, 0x465A2A,
                        0x825A4F, 0xBE5A74, 0xFA5A99, 0x0AA005, 0x46A04F, 0x82A099, 0xBEA0E3,
                        0xFAA02D, 0x0AE605, 0x46E674, 0x82E6E3, 0xBEE652, 0xFAE6C1});
  EXPECT_EQ(io.Params().SamplesPerPixel, 3);
  EXPECT_EQ(io.Params().FileType, ioPXM);
  ASSERT_TRUE(readerkit::Load(io, "gray.pgm", readerkit::ReadFixture("pnm/gray.pgm")));
  readerkit::ExpectGray(*io.Bitmap(), 5, 4, {0, 50, 100, 150, 200, 13, 63, 113, 163, 213,
                                             26, 76, 126, 176, 226, 39, 89, 139, 189, 239});
  EXPECT_EQ(io.Params().SamplesPerPixel, 1);
  ASSERT_TRUE(readerkit::Load(io, "mono.pbm", readerkit::ReadFixture("pnm/mono.pbm")));
  readerkit::ExpectBits(*io.Bitmap(), {"00000", "00001", "01111", "11111"});
  EXPECT_EQ(io.Params().BitsPerSample, 1);
  EXPECT_EQ(io.Params().DpiX, 300);
}

TEST(PnmReader, GrayAndColourSamples) {
  struct Case {
    const char* name;
    Bytes file;
    std::vector<uint32_t> expected;
  } cases[] = {
      {"P2 maximum 15", Text("P2\n3 1\n15\n15 8 0\n"), {0xFFFFFF, 0x888888, 0x000000}},
      {"P2 value above the maximum saturates", Text("P2 2 1 10 20 10"), {0xFFFFFF, 0xFFFFFF}},
      {"P2 comment in the raster counts as 0", Text("P2 3 1 255 5 #x\n 7"), {0x050505, 0, 0x070707}},
      {"P3", Text("P3\n2 1\n255\n255 0 0  0 128 255\n"), {0xFF0000, 0x0080FF}},
      {"P3 maximum 1", Text("P3 1 1 1 1 0 1"), {0xFF00FF}},
      {"P5 maximum 100", Text("P5 3 1 100\n") + Bytes{100, 50, 0}, {0xFFFFFF, 0x7F7F7F, 0}},
      {"P5 maximum 255 copies", Text("P5 3 1 255\n") + Bytes{1, 254, 77}, {0x010101, 0xFEFEFE, 0x4D4D4D}},
      {"P5 two-byte samples", Text("P5 2 1 65535\n") + Bytes{0xFF, 0xFF, 0x80, 0x00}, {0xFFFFFF, 0x7F7F7F}},
      {"P6 maximum 255 copies", Text("P6 2 1 255\n") + Bytes{1, 2, 3, 4, 5, 6}, {0x010203, 0x040506}},
      {"P6 maximum 15 scales", Text("P6 1 1 15\n") + Bytes{15, 0, 8}, {0xFF0088}},
      {"P6 two-byte samples", Text("P6 1 1 1023\n") + Bytes{3, 0xFF, 0, 0, 2, 0}, {0xFF007F}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "s.ppm", c.file));
    readerkit::ExpectRgb(*io.Bitmap(), static_cast<int>(c.expected.size()), 1, c.expected);
  }
}

TEST(PnmReader, Bitmaps) {
  struct Case {
    const char* name;
    Bytes file;
    std::vector<std::string> rows;
  } cases[] = {
      {"P1 packed", Text("P1 3 2 010110"), {"101", "001"}},
      {"P1 spaced", Text("P1\n3 2\n0 1 0\n 1\t1 0\n"), {"101", "001"}},
      {"P4 stored 1 is black", Text("P4 10 1\n") + Bytes{0xB0, 0x40}, {"0100111110"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "b.pbm", c.file));
    readerkit::ExpectBits(*io.Bitmap(), c.rows);
  }
}

TEST(PnmReader, HeaderComments) {
  TImageIO io;
  ASSERT_TRUE(readerkit::Load(io, "c.pgm", Text("P2\n# first\n3 #  second  \n1\n255\n1 2 3")));
  EXPECT_EQ(io.Params().PxmComments, (std::vector<std::string>{"first", "second"}));
  readerkit::ExpectGray(*io.Bitmap(), 3, 1, {1, 2, 3});
  // A later load clears them.
  ASSERT_TRUE(readerkit::Load(io, "d.pgm", Text("P2 1 1 255 9")));
  EXPECT_TRUE(io.Params().PxmComments.empty());
}

TEST(PnmReader, RejectedHeadersLeaveThePreviousImage) {
  struct Case {
    const char* name;
    Bytes file;
  } cases[] = {
      {"empty", {}},
      {"unknown magic", Text("P7 1 1 255 0")},
      {"width 0", Text("P2 0 1 255 0")},
      {"header cut after the width", Text("P2 3")},
      {"no maximum", Text("P2 3 1")},
      {"maximum 0", Text("P2 1 1 0 0")},
      {"width not a number", Text("P5 3x 1 255 000")},
      {"width beyond 32 bits", Text("P5 99999999999 1 255 0")},
      {"too many pixels", Text("P6 70000 70000 255 0")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "ok.pgm", Text("P2 1 1 255 9")));
    EXPECT_FALSE(readerkit::Load(io, "bad.pgm", c.file));
    readerkit::ExpectGray(*io.Bitmap(), 1, 1, {9});
  }
}

TEST(PnmReader, ShortRastersLeaveTheRestBlack) {
  struct Case {
    const char* name;
    Bytes file;
    std::vector<uint32_t> expected;  // 3 x 2
  } cases[] = {
      {"P5", Text("P5 3 2 255\n") + Bytes{1, 2, 3, 4}, {0x010101, 0x020202, 0x030303, 0x040404, 0, 0}},
      {"P6 cut inside a pixel", Text("P6 3 2 255\n") + Bytes{1, 2, 3, 4, 5}, {0x010203, 0, 0, 0, 0, 0}},
      {"P2", Text("P2 3 2 255 1 2 3 4"), {0x010101, 0x020202, 0x030303, 0x040404, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    EXPECT_FALSE(readerkit::Load(io, "s.pgm", c.file));
    readerkit::ExpectRgb(*io.Bitmap(), 3, 2, c.expected);
  }
  TImageIO io;
  EXPECT_FALSE(readerkit::Load(io, "s.pbm", Text("P1 3 2 0101")));
  readerkit::ExpectBits(*io.Bitmap(), {"101", "000"});
  EXPECT_FALSE(readerkit::Load(io, "s4.pbm", Text("P4 9 2\n") + Bytes{0x00, 0x7F, 0x00}));
  readerkit::ExpectBits(*io.Bitmap(), {"111111111", "111111110"});
  // A header promising more than the file holds, but no more than it could
  // describe, reads only what exists.
  EXPECT_FALSE(readerkit::Load(io, "big.ppm", Text("P6 50 50 255\n") + Bytes{9, 8, 7}));
  EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), 0, 0), 0x090807u);
  EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), 49, 49), 0u);
}

TEST(PnmReader, EveryPrefixLoadsWithoutCrash) {
  for (const char* f : {"rgb.ppm", "gray.pgm", "mono.pbm"})
    readerkit::SweepPrefixes(f, readerkit::ReadFixture(std::string("pnm/") + f));
  readerkit::SweepPrefixes("t.ppm", Text("P3\n# c\n2 2\n15\n1 2 3 4 5 6\n7 8 9 10 11 12\n"));
  readerkit::SweepPrefixes("t.pbm", Text("P1\n3 2\n0 1 0\n1 1 0\n"));
}

TEST(WbmpReader, Images) {
  TImageIO io;
  ASSERT_TRUE(readerkit::Load(io, "mono.wbmp", readerkit::ReadFixture("wbmp/mono.wbmp")));
  readerkit::ExpectBits(*io.Bitmap(), {"00000", "00001", "01111", "11111"});
  EXPECT_EQ(io.Params().FileType, ioWBMP);
  EXPECT_EQ(io.Params().BitsPerSample, 1);
  EXPECT_EQ(io.Params().SamplesPerPixel, 1);
  EXPECT_EQ(io.Params().DpiY, 300);

  // 16 x 16, two bytes per row: a diagonal.
  Bytes diag = {0, 0, 16, 16};
  std::vector<std::string> rows;
  for (int y = 0; y < 16; ++y) {
    diag.push_back(y < 8 ? uint8_t(0x80 >> y) : 0);
    diag.push_back(y < 8 ? 0 : uint8_t(0x80 >> (y - 8)));
    std::string r(16, '0');
    r[y] = '1';
    rows.push_back(r);
  }
  ASSERT_TRUE(readerkit::Load(io, "d.wbmp", diag));
  EXPECT_EQ(io.Params().Width, 16);
  readerkit::ExpectBits(*io.Bitmap(), rows);

  // Sizes of 128 and more take several bytes: 200 is 0x81 0x48.
  Bytes wide = {0, 0, 0x81, 0x48, 2};
  for (int y = 0; y < 2; ++y)
    for (int i = 0; i < 25; ++i) wide.push_back(i == 24 ? 0x01 : 0);
  ASSERT_TRUE(readerkit::Load(io, "w.wbmp", wide));
  ASSERT_EQ(io.Bitmap()->Width(), 200);
  EXPECT_EQ(readerkit::Bit(*io.Bitmap(), 199, 1), 1);
  EXPECT_EQ(readerkit::Bit(*io.Bitmap(), 198, 1), 0);
}

TEST(WbmpReader, BadAndShortFiles) {
  struct Case {
    const char* name;
    Bytes file;
  } cases[] = {
      {"type 1", {1, 0, 8, 1, 0xFF}},          {"extension headers", {0, 0x80, 8, 1, 0xFF}},
      {"width 0", {0, 0, 0, 1, 0xFF}},         {"height 0", {0, 0, 8, 0}},
      {"size cut short", {0, 0, 0x81}},        {"empty", {}},
      {"size beyond 31 bits", {0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "ok.wbmp", {0, 0, 1, 1, 0x80}));
    EXPECT_FALSE(readerkit::Load(io, "bad.wbmp", c.file));
    readerkit::ExpectBits(*io.Bitmap(), {"1"});
  }
  TImageIO io;
  EXPECT_FALSE(readerkit::Load(io, "s.wbmp", {0, 0, 8, 3, 0xF0}));
  readerkit::ExpectBits(*io.Bitmap(), {"11110000", "00000000", "00000000"});
  readerkit::SweepPrefixes("mono.wbmp", readerkit::ReadFixture("wbmp/mono.wbmp"));
  readerkit::SweepPrefixes("w.wbmp", {0, 0, 0x81, 0x48, 1, 1, 2, 3});
}
