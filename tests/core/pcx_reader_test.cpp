// PCX reader: converter fixtures, hand-made files for each plane layout, runs
// that cross line ends, and hostile headers.
#include <gtest/gtest.h>

#include "tests/core/ReaderTestKit.h"

using readerkit::Bytes;
using readerkit::kSix;
using readerkit::Twenty;

namespace {

struct TPcx {
  int Width = 1, Height = 1;
  int Bits = 8, Planes = 1, Encoding = 1, BytesPerLine = 0;  // 0: the width's
  int XMin = 0, YMin = 0;
  int HRes = 0, VRes = 0;
  int Manufacturer = 10, Version = 5;
  std::vector<uint32_t> Palette16;  // 0xRRGGBB
  Bytes Data;
  std::vector<uint32_t> Palette256;  // appended after a 12 marker when given
};

Bytes Pcx(const TPcx& s) {
  Bytes h(128, 0);
  auto put16 = [&](size_t at, int v) {
    h[at] = uint8_t(v);
    h[at + 1] = uint8_t(v >> 8);
  };
  h[0] = uint8_t(s.Manufacturer);
  h[1] = uint8_t(s.Version);
  h[2] = uint8_t(s.Encoding);
  h[3] = uint8_t(s.Bits);
  put16(4, s.XMin);
  put16(6, s.YMin);
  put16(8, s.XMin + s.Width - 1);
  put16(10, s.YMin + s.Height - 1);
  put16(12, s.HRes);
  put16(14, s.VRes);
  for (size_t i = 0; i < s.Palette16.size() && i < 16; ++i) {
    h[16 + 3 * i] = uint8_t(s.Palette16[i] >> 16);
    h[17 + 3 * i] = uint8_t(s.Palette16[i] >> 8);
    h[18 + 3 * i] = uint8_t(s.Palette16[i]);
  }
  h[65] = uint8_t(s.Planes);
  put16(66, s.BytesPerLine ? s.BytesPerLine : (s.Width * s.Bits + 7) / 8);
  h.insert(h.end(), s.Data.begin(), s.Data.end());
  if (!s.Palette256.empty()) {
    h.push_back(12);
    for (size_t i = 0; i < 256; ++i) {
      const uint32_t c = i < s.Palette256.size() ? s.Palette256[i] : 0;
      h.insert(h.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
    }
  }
  return h;
}

}  // namespace

TEST(PcxReader, ConverterFixturesGiveThePicture) {
  struct Case {
    const char* file;
    int bits, samples, mapCount;
  } cases[] = {{"rgb.pcx", 8, 3, 0}, {"pal8.pcx", 8, 1, 256}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, c.file, readerkit::ReadFixture(std::string("pcx/") + c.file)));
    readerkit::ExpectRgb(*io.Bitmap(), 5, 4, c.mapCount ? Twenty() : kSix);
    const TIOParams& p = io.Params();
    EXPECT_EQ(p.FileType, ioPCX);
    EXPECT_EQ(p.BitsPerSample, c.bits);
    EXPECT_EQ(p.SamplesPerPixel, c.samples);
    EXPECT_EQ(p.ColorMapCount, c.mapCount);
    EXPECT_EQ(p.PcxVersion, 5);
    EXPECT_EQ(p.DpiX, 300);
    EXPECT_EQ(p.DpiY, 300);
  }
}

TEST(PcxReader, PlaneLayouts) {
  const std::vector<uint32_t> pal = {0x000000, 0x110000, 0x002200, 0x000033, 0x440000, 0x005500, 0x000066, 0x777777,
                                     0x880000, 0x009900, 0x0000AA, 0xBBBBBB, 0xCC0000, 0x00DD00, 0x0000EE, 0xFFFFFF};
  TPcx eight;
  eight.Width = 3;
  eight.Palette256 = {0x010203, 0x040506, 0x070809};
  eight.Data = {2, 0, 1};
  // The palette is the last 768 bytes, whatever the marker before it says.
  TPcx badMarker = eight;
  TPcx uncompressed = eight;
  uncompressed.Encoding = 0;
  uncompressed.Data = {0xC2, 0x01, 0x00};
  uncompressed.Palette256.assign(0xC3, 0);
  uncompressed.Palette256[0xC2] = 0x070809;
  uncompressed.Palette256[1] = 0x010203;
  uncompressed.Palette256[0] = 0x040506;
  // 4 bits in one plane, odd width: the last pixel is a high nibble.
  TPcx nibbles;
  nibbles.Width = 3;
  nibbles.Bits = 4;
  nibbles.Palette16 = pal;
  nibbles.Encoding = 0;
  nibbles.Data = {0x7B, 0xFE};
  // Three planes: red, green, blue lines.
  TPcx rgb;
  rgb.Width = 3;
  rgb.Planes = 3;
  rgb.Data = {0x01, 0x04, 0x07, 0x02, 0x05, 0x08, 0x03, 0x06, 0x09};
  // Four planes of 1 bit: plane k gives bit k of the index.
  TPcx planar;
  planar.Width = 3;
  planar.Bits = 1;
  planar.Planes = 4;
  planar.Palette16 = pal;
  planar.Encoding = 0;
  planar.Data = {0x80, 0x40, 0x20, 0xE0};  // indexes 9, 10, 12 from bits of planes 0..3
  struct Case {
    const char* name;
    TPcx file;
    std::vector<uint32_t> expected;
    int bits, samples, mapCount;
  } cases[] = {
      {"8 bits", eight, {0x070809, 0x010203, 0x040506}, 8, 1, 256},
      {"marker 0", badMarker, {0x070809, 0x010203, 0x040506}, 8, 1, 256},
      {"uncompressed", uncompressed, {0x070809, 0x010203, 0x040506}, 8, 1, 256},
      {"4 bits", nibbles, {0x777777, 0xBBBBBB, 0xFFFFFF}, 4, 1, 16},
      {"three planes", rgb, {0x010203, 0x040506, 0x070809}, 8, 3, 0},
      {"four planes", planar, {0x009900, 0x0000AA, 0xCC0000}, 4, 1, 16},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes file = Pcx(c.file);
    if (std::string(c.name) == "marker 0") file[file.size() - 769] = 0;
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "l.pcx", file));
    readerkit::ExpectRgb(*io.Bitmap(), 3, 1, c.expected);
    EXPECT_EQ(io.Params().BitsPerSample, c.bits);
    EXPECT_EQ(io.Params().SamplesPerPixel, c.samples);
    EXPECT_EQ(io.Params().ColorMapCount, c.mapCount);
  }
}

TEST(PcxReader, MonochromeIgnoresItsPalette) {
  for (std::vector<uint32_t> palette : {std::vector<uint32_t>{}, {0xFFFFFF, 0x000000}, {0xFF0000, 0x00FF00}}) {
    TPcx mono;
    mono.Width = 10;
    mono.Height = 2;
    mono.Bits = 1;
    mono.BytesPerLine = 2;
    mono.Palette16 = palette;
    mono.Data = {0xB0, 0x40, 0xC2, 0xFF};  // row 1: a run of two 0xFF bytes
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "m.pcx", Pcx(mono)));
    readerkit::ExpectBits(*io.Bitmap(), {"1011000001", "1111111111"});
    EXPECT_EQ(io.Params().BitsPerSample, 1);
    EXPECT_EQ(io.Params().ColorMapCount, 2);
  }
}

TEST(PcxReader, RunsCarryAcrossLinesAndPlanes) {
  // Three planes of 2 pixels over 2 rows: one run of 5 covers red, green and
  // the first blue byte of row 0; the next run crosses from row 0 into row 1.
  TPcx rgb;
  rgb.Width = 2;
  rgb.Height = 2;
  rgb.Planes = 3;
  rgb.Data = {0xC5, 0x10, 0xC3, 0x20, 0x30, 0x40, 0xC2, 0x50};
  TImageIO io;
  ASSERT_TRUE(readerkit::Load(io, "r.pcx", Pcx(rgb)));
  readerkit::ExpectRgb(*io.Bitmap(), 2, 2, {0x101010, 0x101020, 0x203050, 0x204050});
  // Window origin and resolution.
  TPcx moved = rgb;
  moved.XMin = 100;
  moved.YMin = 7;
  moved.HRes = 150;
  moved.VRes = 75;
  ASSERT_TRUE(readerkit::Load(io, "o.pcx", Pcx(moved)));
  EXPECT_EQ(io.Params().Width, 2);
  EXPECT_EQ(io.Params().Height, 2);
  EXPECT_EQ(io.Params().DpiX, 150);
  EXPECT_EQ(io.Params().DpiY, 75);
  // One resolution of 0 gives the default for both.
  moved.HRes = 0;
  moved.VRes = 96;
  ASSERT_TRUE(readerkit::Load(io, "o.pcx", Pcx(moved)));
  EXPECT_EQ(io.Params().DpiX, 300);
  EXPECT_EQ(io.Params().DpiY, 300);
}

TEST(PcxReader, RejectedFilesLeaveThePreviousImage) {
  TPcx good;
  good.Planes = 3;
  good.Data = {1, 2, 3};
  const Bytes goodFile = Pcx(good);
  auto with = [&](auto change) {
    TPcx p = good;
    change(p);
    return Pcx(p);
  };
  struct Case {
    const char* name;
    Bytes file;
  } cases[] = {
      {"manufacturer 11", with([](TPcx& p) { p.Manufacturer = 11; })},
      {"9 bits", with([](TPcx& p) { p.Bits = 9; })},
      {"encoding 2", with([](TPcx& p) { p.Encoding = 2; })},
      {"short header", Bytes(goodFile.begin(), goodFile.begin() + 60)},
      {"empty", {}},
      {"2 bits, one plane", with([](TPcx& p) { p.Bits = 2; p.Planes = 1; })},
      {"two planes", with([](TPcx& p) { p.Planes = 2; })},
      {"xmax below xmin", with([](TPcx& p) { p.XMin = 5; p.Width = -1; })},
      {"too many pixels", with([](TPcx& p) { p.Width = 60000; p.Height = 60000; })},
      {"lines shorter than the width", with([](TPcx& p) { p.Width = 8; p.BytesPerLine = 4; })},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "ok.pcx", Pcx(good)));
    EXPECT_FALSE(readerkit::Load(io, "bad.pcx", c.file));
    readerkit::ExpectRgb(*io.Bitmap(), 1, 1, {0x010203});
    EXPECT_EQ(io.Params().FileType, ioPCX);
  }
}

TEST(PcxReader, ShortDataLeavesTheRestBlack) {
  TImageIO io;
  // Two of three rows: the third stays black and the load fails.
  TPcx rgb;
  rgb.Width = 1;
  rgb.Height = 3;
  rgb.Planes = 3;
  rgb.Data = {1, 2, 3, 4, 5, 6, 7};
  EXPECT_FALSE(readerkit::Load(io, "s.pcx", Pcx(rgb)));
  readerkit::ExpectRgb(*io.Bitmap(), 1, 3, {0x010203, 0x040506, 0x070000});
  // A run at the very end without its value byte.
  rgb.Data = {1, 2, 3, 0xC3};
  EXPECT_FALSE(readerkit::Load(io, "s.pcx", Pcx(rgb)));
  readerkit::ExpectRgb(*io.Bitmap(), 1, 3, {0x010203, 0, 0});
  // A 256-colour file too short to hold its palette.
  TPcx eight;
  eight.Width = 2;
  eight.Data = {1, 1};
  EXPECT_FALSE(readerkit::Load(io, "p.pcx", Pcx(eight)));
  readerkit::ExpectRgb(*io.Bitmap(), 2, 1, {0, 0});
  // A header promising more than the file holds, but no more than it could
  // describe, reads only what exists.
  TPcx big = rgb;
  big.Width = 40;
  big.Height = 40;
  big.Data = {0xC2, 9};
  EXPECT_FALSE(readerkit::Load(io, "b.pcx", Pcx(big)));
  EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), 1, 0), 0x090000u);
  EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), 2, 0), 0u);
  EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), 39, 39), 0u);
}

TEST(PcxReader, EveryPrefixLoadsWithoutCrash) {
  for (const char* f : {"rgb.pcx", "pal8.pcx"})
    readerkit::SweepPrefixes(f, readerkit::ReadFixture(std::string("pcx/") + f));
}
