// Targa reader: fixtures made by an image converter, and hand-made files for
// the row orders, pixel depths, run-length packets, footer and hostile headers.
#include <gtest/gtest.h>

#include "io/TgaReader.h"
#include "tests/core/ReaderTestKit.h"

using readerkit::Bytes;

namespace {

// The 5 x 4 picture every colour fixture holds (0xRRGGBB, row-major).
const std::vector<uint32_t> kPicture = {
    0x0A1405, 0x461405, 0x821405, 0xBE1405, 0xFA1405,  //
    0x0A5A05, 0x465A2A, 0x825A4F, 0xBE5A74, 0xFA5A99,  //
    0x0AA005, 0x46A04F, 0x82A099, 0xBEA0E3, 0xFAA02D,  //
    0x0AE605, 0x46E674, 0x82E6E3, 0xBEE652, 0xFAE6C1,
};
const std::vector<int> kPictureAlpha = {
    15, 55, 95, 135, 175, 45, 85, 125, 165, 205, 75, 115, 155, 195, 235, 105, 145, 185, 225, 9,
};

struct TMap {
  int Type = 0, First = 0, Length = 0, EntrySize = 0;
};

// An 18-byte header followed by the ID field and the payload (map + pixels).
Bytes Tga(int type, int depth, int w, int h, int desc, const Bytes& payload, TMap map = {},
          const std::string& id = "") {
  Bytes b = {uint8_t(id.size()), uint8_t(map.Type), uint8_t(type),
             uint8_t(map.First), uint8_t(map.First >> 8), uint8_t(map.Length), uint8_t(map.Length >> 8),
             uint8_t(map.EntrySize), 0, 0, 0, 0,
             uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8), uint8_t(depth), uint8_t(desc)};
  b.insert(b.end(), id.begin(), id.end());
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}

void Bgr(Bytes& b, uint32_t rgb) {
  b.push_back(uint8_t(rgb));
  b.push_back(uint8_t(rgb >> 8));
  b.push_back(uint8_t(rgb >> 16));
}

}  // namespace

TEST(TgaReader, ConverterFixturesGiveThePicture) {
  struct Case {
    const char* file;
    bool compressed;
    int bits, samples, mapCount;
    bool alpha;
  } cases[] = {
      {"rgb24.tga", false, 8, 3, 0, false},   {"rgb24rle.tga", true, 8, 3, 0, false},
      {"pal8.tga", false, 8, 1, 20, false},   {"pal8rle.tga", true, 8, 1, 20, false},
      {"rgba32.tga", false, 8, 4, 0, true},   {"rgba32rle.tga", true, 8, 4, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TImageIO io;
    io.Params().SetColorMap(nullptr, 0);
    ASSERT_TRUE(readerkit::Load(io, c.file, readerkit::ReadFixture(std::string("tga/") + c.file)));
    readerkit::ExpectRgb(*io.Bitmap(), 5, 4, kPicture);
    const TIOParams& p = io.Params();
    EXPECT_EQ(p.FileType, ioTGA);
    EXPECT_EQ(p.TgaCompressed, c.compressed);
    EXPECT_EQ(p.BitsPerSample, c.bits);
    EXPECT_EQ(p.SamplesPerPixel, c.samples);
    EXPECT_EQ(p.ColorMapCount, c.mapCount);
    EXPECT_EQ(p.DpiX, 300);
    ASSERT_EQ(io.Bitmap()->HasAlphaChannel(), c.alpha);
    if (c.alpha) {
      TImBitmap* a = io.Bitmap()->AlphaChannel();
      EXPECT_FALSE(a->AlphaFull);
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_EQ(a->Scanline(y)[x], kPictureAlpha[y * 5 + x]) << x << "," << y;
    }
  }
  TImageIO io;
  ASSERT_TRUE(readerkit::Load(io, "gray8.tga", readerkit::ReadFixture("tga/gray8.tga")));
  readerkit::ExpectGray(*io.Bitmap(), 5, 4, {0, 50, 100, 150, 200, 13, 63, 113, 163, 213,
                                             26, 76, 126, 176, 226, 39, 89, 139, 189, 239});
  EXPECT_TRUE(io.Params().TgaGrayscale);
}

// The same 3 x 2 picture stored in the four row and column orders, with an
// alpha byte per pixel: all give one bitmap and one alpha channel.
TEST(TgaReader, RowAndColumnOrdersGiveTheSameImage) {
  const uint32_t px[6] = {0x102030, 0x405060, 0x708090, 0xA0B0C0, 0xD0E0F0, 0x010203};
  struct Case {
    int desc;
    int order[6];  // file order, as indexes into the top-down picture
  } cases[] = {
      {0x20, {0, 1, 2, 3, 4, 5}},
      {0x00, {3, 4, 5, 0, 1, 2}},
      {0x30, {2, 1, 0, 5, 4, 3}},
      {0x10, {5, 4, 3, 2, 1, 0}},
  };
  for (int depth : {24, 32}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "depth " << depth << " desc " << c.desc);
      Bytes pixels;
      for (int i : c.order) {
        Bgr(pixels, px[i]);
        if (depth == 32) pixels.push_back(uint8_t(10 + i));
      }
      TImageIO io;
      ASSERT_TRUE(readerkit::Load(io, "o.tga", Tga(2, depth, 3, 2, c.desc | (depth == 32 ? 8 : 0), pixels)));
      readerkit::ExpectRgb(*io.Bitmap(), 3, 2, std::vector<uint32_t>(px, px + 6));
      ASSERT_EQ(io.Bitmap()->HasAlphaChannel(), depth == 32);
      if (depth == 32) {
        for (int i = 0; i < 6; ++i) EXPECT_EQ(io.Bitmap()->AlphaChannel()->Scanline(i / 3)[i % 3], 10 + i);
      }
    }
  }
  // Alpha bits 0: the fourth byte is dropped and no alpha channel is made.
  Bytes pixels = {1, 2, 3, 77};
  TImageIO io;
  ASSERT_TRUE(readerkit::Load(io, "noalpha.tga", Tga(2, 32, 1, 1, 0, pixels)));
  EXPECT_FALSE(io.Bitmap()->HasAlphaChannel());
  EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), 0, 0), 0x030201u);
}

TEST(TgaReader, PixelDepthsAndColourMaps) {
  auto map24 = [](std::initializer_list<uint32_t> colours) {
    Bytes b;
    for (uint32_t c : colours) Bgr(b, c);
    return b;
  };
  auto cat = [](Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  struct Case {
    const char* name;
    Bytes file;
    std::vector<uint32_t> expected;
    int bits, samples;
  } cases[] = {
      // 15/16-bit pixels: 5 bits per channel times 8, the top bit ignored.
      {"16-bit", Tga(2, 16, 3, 1, 0x20, {0xFF, 0x7F, 0x1F, 0x00, 0xE0, 0x83}), {0xF8F8F8, 0x0000F8, 0x00F800}, 5, 3},
      {"8-bit gray", Tga(3, 8, 3, 1, 0x20, {0, 128, 255}), {0x000000, 0x808080, 0xFFFFFF}, 8, 1},
      // An 8-bit true-colour image without a map uses the 3-3-2 colour cube.
      {"8-bit cube", Tga(2, 8, 3, 1, 0x20, {0, 41, 255}), {0x1C1C3C, 0x3C5C7C, 0xFCFCFC}, 8, 1},
      // A map starting at entry 2; entries below it keep the cube.
      {"map 24-bit", Tga(1, 8, 3, 1, 0x20, cat(map24({0x030201, 0x060504}), {2, 3, 0}), {1, 2, 2, 24}),
       {0x030201, 0x060504, 0x1C1C3C}, 8, 1},
      {"map 16-bit", Tga(1, 8, 2, 1, 0x20, {0x00, 0x7C, 0x1F, 0x00, 0, 1}, {1, 0, 2, 16}), {0xF80000, 0x0000F8}, 8, 1},
      {"map 32-bit", Tga(1, 8, 1, 1, 0x20, {0x30, 0x20, 0x10, 0x99, 0}, {1, 0, 1, 32}), {0x102030}, 8, 1},
      // A run-length colour-mapped image.
      {"map rle", Tga(9, 8, 3, 1, 0x20, cat(map24({0x112233}), {0x82, 0}), {1, 0, 1, 24}),
       {0x112233, 0x112233, 0x112233}, 8, 1},
      // The map of a true-colour image is read past and kept.
      {"true colour with map", Tga(2, 24, 1, 1, 0x20, cat(map24({0xABCDEF}), {0x03, 0x02, 0x01}), {1, 0, 1, 24}),
       {0x010203}, 8, 3},
      // Map entries of a size without a layout are skipped, not taken for pixels.
      {"map of 8-bit entries", Tga(2, 24, 1, 1, 0x20, {9, 9, 0x03, 0x02, 0x01}, {1, 0, 2, 8}), {0x010203}, 8, 3},
      // 4-bit indexes, high nibble first; without a map a 16-level gray ramp.
      {"4-bit", Tga(3, 4, 3, 1, 0x20, {0x0F, 0x80}), {0x000000, 0xFFFFFF, 0x888888}, 4, 1},
      {"4-bit rle mirrored", Tga(11, 4, 3, 1, 0x30, {0x01, 0x12, 0x30}), {0x333333, 0x222222, 0x111111}, 4, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "d.tga", c.file));
    readerkit::ExpectRgb(*io.Bitmap(), static_cast<int>(c.expected.size()), 1, c.expected);
    EXPECT_EQ(io.Params().BitsPerSample, c.bits);
    EXPECT_EQ(io.Params().SamplesPerPixel, c.samples);
  }
  TImageIO io;
  ASSERT_TRUE(readerkit::Load(io, "m.tga", Tga(1, 8, 1, 1, 0x20, {1, 2, 3, 4, 5, 6, 1}, {1, 0, 2, 24})));
  ASSERT_EQ(io.Params().ColorMapCount, 2);
  EXPECT_EQ(io.Params().ColorMap[1].R, 6);
  EXPECT_FALSE(io.Params().TgaGrayscale);
}

TEST(TgaReader, OneBitImages) {
  const Bytes inverted = {0xFF, 0xFF, 0xFF, 0, 0, 0};
  struct Case {
    const char* name;
    Bytes file;
    std::vector<std::string> rows;
  } cases[] = {
      {"plain", Tga(3, 1, 10, 2, 0x20, {0xB0, 0x40, 0xFF, 0xC0}), {"1011000001", "1111111111"}},
      {"bottom-up", Tga(3, 1, 10, 2, 0x00, {0xFF, 0xC0, 0xB0, 0x40}), {"1011000001", "1111111111"}},
      {"mirrored", Tga(3, 1, 10, 1, 0x30, {0xB0, 0x40}), {"1000001101"}},
      // Run-length packets count packed bytes.
      {"rle", Tga(11, 1, 10, 2, 0x20, {0x81, 0xA5, 0x01, 0x0F, 0xFF}), {"1010010110", "0000111111"}},
      // A map whose entry 0 is white and entry 1 black swaps the bits.
      {"inverted map",
       [&] {
         Bytes payload = inverted;
         payload.insert(payload.end(), {0xB0, 0x40});
         return Tga(1, 1, 10, 1, 0x20, payload, {1, 0, 2, 24});
       }(),
       {"0100111110"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "b.tga", c.file));
    readerkit::ExpectBits(*io.Bitmap(), c.rows);
    EXPECT_EQ(io.Params().BitsPerSample, 1);
    EXPECT_EQ(io.Params().SamplesPerPixel, 1);
  }
}

TEST(TgaReader, RunLengthPacketsAcrossRowsAndPastTheImage) {
  // A run of 4 covers row 0 and the first pixel of row 1; a raw packet of 2
  // ends the image; the trailing run lies past it and is not read.
  Bytes data = {0x83};
  Bgr(data, 0x112233);
  data.push_back(0x01);
  Bgr(data, 0x445566);
  Bgr(data, 0x778899);
  data.push_back(0xFF);
  TImageIO io;
  ASSERT_TRUE(readerkit::Load(io, "r.tga", Tga(10, 24, 3, 2, 0x20, data)));
  readerkit::ExpectRgb(*io.Bitmap(), 3, 2, {0x112233, 0x112233, 0x112233, 0x112233, 0x445566, 0x778899});

  // A packet longer than the whole image.
  Bytes big = {0xFF};
  Bgr(big, 0x0000FF);
  ASSERT_TRUE(readerkit::Load(io, "r2.tga", Tga(10, 24, 2, 1, 0x20, big)));
  readerkit::ExpectRgb(*io.Bitmap(), 2, 1, {0x0000FF, 0x0000FF});
}

TEST(TgaReader, FooterAndExtensionArea) {
  auto withFooter = [](uint32_t extOffsetDelta, bool signature, int month, int day) {
    Bytes f = Tga(2, 24, 1, 1, 0x20, {1, 2, 3}, {}, "pic");
    const uint32_t extOffset = static_cast<uint32_t>(f.size());
    Bytes ext(495, 0);
    ext[0] = 0xEF;
    ext[1] = 0x01;
    std::memcpy(&ext[2], "Ann", 3);
    const uint16_t date[6] = {uint16_t(month), uint16_t(day), 2001, 13, 45, 30};
    for (int i = 0; i < 6; ++i) {
      ext[367 + 2 * i] = uint8_t(date[i]);
      ext[368 + 2 * i] = uint8_t(date[i] >> 8);
    }
    std::memcpy(&ext[379], "Job7", 4);
    ext[470] = 0x33;  // blue
    ext[471] = 0x22;  // green
    ext[472] = 0x11;  // red
    ext[473] = 0xFF;  // alpha
    ext[474] = 3;
    ext[476] = 2;
    ext[478] = 10;
    ext[480] = 4;
    f.insert(f.end(), ext.begin(), ext.end());
    const uint32_t off = extOffsetDelta == 0 ? 0 : extOffset;
    for (int i = 0; i < 4; ++i) f.push_back(uint8_t(off >> (8 * i)));
    for (int i = 0; i < 4; ++i) f.push_back(0);
    const std::string sig = signature ? "TRUEVISION-XFILE." : "TRUEVISION-XFILX.";
    f.insert(f.end(), sig.begin(), sig.end());
    f.push_back(0);
    return f;
  };
  const QDateTime today(QDate::currentDate(), QTime(0, 0));
  struct Case {
    const char* name;
    Bytes file;
    bool extension;
    QDateTime date;
  } cases[] = {
      {"valid", withFooter(1, true, 12, 25), true, QDateTime(QDate(2001, 12, 25), QTime(13, 45, 30))},
      {"date the calendar rejects", withFooter(1, true, 2, 30), true, today},
      {"month out of range", withFooter(1, true, 13, 1), true, today},
      {"no signature", withFooter(1, false, 12, 25), false, today},
      {"extension offset 0", withFooter(0, true, 12, 25), false, today},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "f.tga", c.file));
    const TIOParams& p = io.Params();
    readerkit::ExpectRgb(*io.Bitmap(), 1, 1, {0x030201});
    EXPECT_EQ(p.TgaImageId, "pic");
    EXPECT_EQ(p.TgaAuthor, c.extension ? "Ann" : "");
    EXPECT_EQ(p.TgaJobName, c.extension ? "Job7" : "");
    EXPECT_EQ(p.TgaKeyColor, c.extension ? 0x332211 : 0);
    EXPECT_DOUBLE_EQ(p.TgaAspectRatio, c.extension ? 1.5 : 1.0);
    EXPECT_DOUBLE_EQ(p.TgaGamma, c.extension ? 2.5 : 2.2);
    EXPECT_EQ(p.TgaDate, c.date);
  }
}

TEST(TgaReader, RejectedHeadersLeaveThePreviousImage) {
  struct Case {
    const char* name;
    Bytes file;
  } cases[] = {
      {"image type 0", Tga(0, 24, 1, 1, 0, {1, 2, 3})},
      {"image type 4", Tga(4, 24, 1, 1, 0, {1, 2, 3})},
      {"pixel depth 7", Tga(2, 7, 1, 1, 0, {1, 2, 3})},
      {"width 0", Tga(2, 24, 0, 1, 0, {1, 2, 3})},
      {"height 0", Tga(2, 24, 1, 0, 0, {1, 2, 3})},
      {"too many pixels", Tga(2, 24, 65535, 65535, 0, {1, 2, 3})},
      {"short header", Bytes{0, 0, 2, 0, 0}},
      {"empty", Bytes{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "ok.tga", Tga(2, 24, 1, 1, 0x20, {1, 2, 3})));
    EXPECT_FALSE(readerkit::Load(io, "bad.tga", c.file));
    readerkit::ExpectRgb(*io.Bitmap(), 1, 1, {0x030201});
  }
  const Bytes header = Tga(2, 24, 1, 1, 0, {}), mapType2 = Tga(2, 24, 1, 1, 0, {}, {2, 0, 0, 0});
  TImStream good(header), badMap(mapType2);
  EXPECT_TRUE(IsTargaStream(good));
  EXPECT_EQ(good.Position(), 0);
  EXPECT_FALSE(IsTargaStream(badMap));
}

TEST(TgaReader, HostileDataStaysInsideItsBuffers) {
  // A map from entry 200 with 300 entries: entries past 255 are dropped.
  Bytes map;
  for (int i = 0; i < 300; ++i) Bgr(map, 0x010000u * uint32_t(i & 0xFF) + 7);
  map.push_back(255);
  TImageIO io;
  ASSERT_TRUE(readerkit::Load(io, "m.tga", Tga(1, 8, 1, 1, 0x20, map, {1, 200, 300, 24})));
  EXPECT_EQ(io.Params().ColorMapCount, 256);
  EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), 0, 0), 0x370007u);  // entry 255 = map entry 55

  // Four of six pixels, bottom-up: the pixels the file does not reach are
  // zero and the load reports the failure.
  Bytes part;
  for (uint32_t c : {0x111111u, 0x222222u, 0x333333u, 0x444444u}) Bgr(part, c);
  EXPECT_FALSE(readerkit::Load(io, "s.tga", Tga(2, 24, 3, 2, 0, part)));
  readerkit::ExpectRgb(*io.Bitmap(), 3, 2, {0x444444, 0, 0, 0x111111, 0x222222, 0x333333});

  // A colour-mapped index row cut short stays black, not palette entry 0.
  EXPECT_FALSE(readerkit::Load(io, "s8.tga", Tga(3, 8, 3, 1, 0x20, {200})));
  readerkit::ExpectRgb(*io.Bitmap(), 3, 1, {0xC8C8C8, 0, 0});

  // A header promising more than the file holds, but no more than it could
  // describe, reads only what exists.
  EXPECT_FALSE(readerkit::Load(io, "big.tga", Tga(10, 24, 40, 40, 0x20, {0x81, 1, 2, 3})));
  EXPECT_EQ(io.Bitmap()->Width(), 40);
  EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), 1, 0), 0x030201u);
  EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), 2, 0), 0u);
  EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), 39, 39), 0u);
}

TEST(TgaReader, EveryPrefixLoadsWithoutCrash) {
  for (const char* f : {"rgb24rle.tga", "pal8rle.tga", "rgba32.tga"})
    readerkit::SweepPrefixes(f, readerkit::ReadFixture(std::string("tga/") + f));
  readerkit::SweepPrefixes("one.tga", Tga(11, 1, 10, 2, 0x30, {0x81, 0xA5, 0x01, 0x0F, 0xFF}));
}
