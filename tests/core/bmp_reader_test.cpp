// BMP reader: fixtures made by an image converter, and hand-made files for
// the table inversion, bit fields, row orders, resolutions, run-length data
// and hostile headers.
#include <gtest/gtest.h>

#include "io/BmpReader.h"
#include "tests/core/ReaderTestKit.h"

using readerkit::Bytes;
using readerkit::kSix;
using readerkit::Twenty;

namespace {

void Put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  Put16(b, at, v);
  Put16(b, at + 2, v >> 16);
}
void Append32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

struct TBmp {
  int32_t Width = 1, Height = 1;
  int Bits = 24;
  uint32_t Compression = 0;
  std::vector<uint32_t> Palette;  // 0xRRGGBB
  Bytes Pixels;
  uint32_t HeaderSize = 40;
  int32_t PpmX = 0, PpmY = 0;
  int64_t Used = -1;             // colours used; -1: the palette's size
  std::vector<uint32_t> Masks;  // after the colour table, or inside a long header
  bool MasksInHeader = false;
};

// File header, Windows info header, colour table, masks, pixels.
Bytes Bmp(const TBmp& s) {
  Bytes info(s.HeaderSize, 0);
  Put32(info, 0, s.HeaderSize);
  Put32(info, 4, uint32_t(s.Width));
  Put32(info, 8, uint32_t(s.Height));
  Put16(info, 12, 1);
  Put16(info, 14, uint32_t(s.Bits));
  Put32(info, 16, s.Compression);
  Put32(info, 20, uint32_t(s.Pixels.size()));
  Put32(info, 24, uint32_t(s.PpmX));
  Put32(info, 28, uint32_t(s.PpmY));
  Put32(info, 32, uint32_t(s.Used < 0 ? s.Palette.size() : s.Used));
  Bytes tail;
  for (uint32_t c : s.Palette) Append32(tail, c & 0xFFFFFF);
  for (size_t i = 0; i < s.Masks.size(); ++i) {
    if (s.MasksInHeader) Put32(info, 40 + 4 * i, s.Masks[i]);
    else Append32(tail, s.Masks[i]);
  }
  const uint32_t offset = uint32_t(14 + info.size() + tail.size());
  Bytes f = {'B', 'M'};
  Append32(f, uint32_t(offset + s.Pixels.size()));
  Append32(f, 0);
  Append32(f, offset);
  f.insert(f.end(), info.begin(), info.end());
  f.insert(f.end(), tail.begin(), tail.end());
  f.insert(f.end(), s.Pixels.begin(), s.Pixels.end());
  return f;
}

// One 24-bit row (blue, green, red per pixel) padded to 4 bytes.
Bytes Row24(std::initializer_list<uint32_t> colours) {
  Bytes r;
  for (uint32_t c : colours) {
    r.push_back(uint8_t(c));
    r.push_back(uint8_t(c >> 8));
    r.push_back(uint8_t(c >> 16));
  }
  while (r.size() % 4) r.push_back(0);
  return r;
}
Bytes Prefix(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + static_cast<long>(n)); }
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

}  // namespace

TEST(BmpReader, ConverterFixturesGiveThePicture) {
  struct Case {
    const char* file;
    bool twenty;
    int bits, samples, mapCount, version;
  } cases[] = {
      {"rgb24.bmp", false, 8, 3, 0, 1},     {"os2rgb24.bmp", false, 8, 3, 0, 2},
      {"pal4.bmp", false, 4, 1, 16, 1},     {"rgba32.bmp", false, 8, 3, 0, 0},
      {"pal8.bmp", true, 8, 1, 256, 1},     {"pal8rle.bmp", true, 8, 1, 256, 1},
      {"os2pal8.bmp", true, 8, 1, 256, 2},  {"pal8v5.bmp", true, 8, 1, 256, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, c.file, readerkit::ReadFixture(std::string("bmp/") + c.file)));
    readerkit::ExpectRgb(*io.Bitmap(), 5, 4, c.twenty ? Twenty() : kSix);
    const TIOParams& p = io.Params();
    EXPECT_EQ(p.FileType, ioBMP);
    EXPECT_EQ(p.BitsPerSample, c.bits);
    EXPECT_EQ(p.SamplesPerPixel, c.samples);
    EXPECT_EQ(p.ColorMapCount, c.mapCount);
    EXPECT_EQ(p.BmpVersion, c.version);
    EXPECT_EQ(p.BmpCompression, std::string(c.file) == "pal8rle.bmp" ? 1 : 0);
    EXPECT_EQ(p.DpiX, 300);
    EXPECT_FALSE(io.Bitmap()->HasAlphaChannel());
  }
  // 5-6-5 bit fields inside a 124-byte header: the stored channels have 5 and
  // 6 bits, so each pixel lies within one quantisation step of the picture.
  TImageIO io;
  ASSERT_TRUE(readerkit::Load(io, "rgb565.bmp", readerkit::ReadFixture("bmp/rgb565.bmp")));
  ASSERT_EQ(io.Bitmap()->PixelFormat(), im24bgr);
  EXPECT_EQ(io.Params().BitsPerSample, 5);
  for (int i = 0; i < 20; ++i) {
    const uint32_t got = readerkit::Rgb(*io.Bitmap(), i % 5, i / 5), want = kSix[i];
    for (int shift : {0, 8, 16})
      EXPECT_NEAR(int((got >> shift) & 255), int((want >> shift) & 255), 8) << "pixel " << i;
  }
}

TEST(BmpReader, OneBitTablesAndInversion) {
  const std::vector<std::string> rows = {"1011000001", "0100111110", "1111100000"};
  TImageIO io;
  ASSERT_TRUE(readerkit::Load(io, "mono.bmp", readerkit::ReadFixture("bmp/mono.bmp")));
  readerkit::ExpectBits(*io.Bitmap(), rows);
  EXPECT_EQ(io.Params().BitsPerSample, 1);
  EXPECT_EQ(io.Params().SamplesPerPixel, 1);

  // The same picture, bottom row first, as stored bits (1 = entry 1).
  const Bytes plain = {0xF8, 0x00, 0, 0, 0x4F, 0x80, 0, 0, 0xB0, 0x40, 0, 0};
  Bytes flipped = plain;
  for (size_t i = 0; i < flipped.size(); i += 4) {
    flipped[i] = uint8_t(~flipped[i]);
    flipped[i + 1] = uint8_t(~flipped[i + 1] & 0xC0);
  }
  struct Case {
    const char* name;
    std::vector<uint32_t> palette;
    Bytes bits;
    std::vector<std::string> rows;
  } cases[] = {
      {"black, white", {0x000000, 0xFFFFFF}, plain, rows},
      {"white, black", {0xFFFFFF, 0x000000}, flipped, rows},
      // Any other pair keeps the bits: set bits are white.
      {"red, blue", {0xFF0000, 0x0000FF}, plain, rows},
      {"white, white", {0xFFFFFF, 0xFFFFFF}, plain, rows},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBmp b;
    b.Width = 10;
    b.Height = 3;
    b.Bits = 1;
    b.Palette = c.palette;
    b.Pixels = c.bits;
    ASSERT_TRUE(readerkit::Load(io, "b.bmp", Bmp(b)));
    readerkit::ExpectBits(*io.Bitmap(), c.rows);
    EXPECT_EQ(io.Params().ColorMapCount, 2);
  }
}

TEST(BmpReader, SixteenBitPixels) {
  struct Case {
    const char* name;
    uint32_t compression;
    std::vector<uint32_t> masks;
    bool inHeader;
    uint32_t headerSize;
    std::vector<uint16_t> words;
    std::vector<uint32_t> expected;
  } cases[] = {
      {"5-5-5 without masks", 0, {}, false, 40, {0x7FFF, 0x7C00, 0x03E0, 0x001F}, {0xF8F8F8, 0xF80000, 0x00F800, 0x0000F8}},
      {"5-6-5 after a 40-byte header", 3, {0xF800, 0x07E0, 0x001F}, false, 40, {0xFFFF, 0xF800, 0x07E0, 0x0001},
       {0xF8FCF8, 0xF80000, 0x00FC00, 0x000008}},
      {"5-6-5 inside a 108-byte header", 3, {0xF800, 0x07E0, 0x001F}, true, 108, {0xFFFF, 0x07E0, 0x8000, 0x0000},
       {0xF8FCF8, 0x00FC00, 0x800000, 0x000000}},
      {"4-4-4", 3, {0x0F00, 0x00F0, 0x000F}, false, 40, {0x0F00, 0x00F0, 0x000F, 0x0888}, {0xF00000, 0x00F000, 0x0000F0, 0x808080}},
      // Masks of zero give a channel of zero.
      {"empty masks", 3, {0, 0, 0}, false, 40, {0xFFFF, 0x1234, 0, 1}, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBmp b;
    b.Width = 4;
    b.Bits = 16;
    b.Compression = c.compression;
    b.Masks = c.masks;
    b.MasksInHeader = c.inHeader;
    b.HeaderSize = c.headerSize;
    for (uint16_t w : c.words) {
      b.Pixels.push_back(uint8_t(w));
      b.Pixels.push_back(uint8_t(w >> 8));
    }
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "w.bmp", Bmp(b)));
    readerkit::ExpectRgb(*io.Bitmap(), 4, 1, c.expected);
    EXPECT_EQ(io.Params().BitsPerSample, 5);
    EXPECT_EQ(io.Params().SamplesPerPixel, 3);
  }
}

TEST(BmpReader, RowOrdersHeadersAndTables) {
  const std::vector<uint32_t> picture = {0x010203, 0x040506, 0x070809, 0x0A0B0C};
  TBmp bottomUp;
  bottomUp.Width = 2;
  bottomUp.Height = 2;
  bottomUp.Pixels = Cat({Row24({0x070809, 0x0A0B0C}), Row24({0x010203, 0x040506})});
  TBmp topDown = bottomUp;
  topDown.Height = -2;
  topDown.Pixels = Cat({Row24({0x010203, 0x040506}), Row24({0x070809, 0x0A0B0C})});
  // 32 bits: the fourth byte is dropped.
  TBmp wide = bottomUp;
  wide.Bits = 32;
  wide.Pixels = {0x09, 0x08, 0x07, 0xEE, 0x0C, 0x0B, 0x0A, 0xEE, 0x03, 0x02, 0x01, 0xEE, 0x06, 0x05, 0x04, 0xEE};
  // Long headers: the table starts right after the header.
  TBmp v4;
  v4.Width = 2;
  v4.Height = 2;
  v4.Bits = 8;
  v4.HeaderSize = 108;
  v4.Palette = {0x010203, 0x040506, 0x070809, 0x0A0B0C};
  v4.Pixels = {2, 3, 0, 0, 0, 1, 0, 0};
  TBmp v5 = v4;
  v5.HeaderSize = 124;
  // 4 bits, high nibble first, with a table of four colours.
  TBmp nibbles = v4;
  nibbles.HeaderSize = 40;
  nibbles.Bits = 4;
  nibbles.Pixels = {0x23, 0, 0, 0, 0x01, 0, 0, 0};
  struct Case {
    const char* name;
    TBmp file;
    int version;
  } cases[] = {
      {"bottom-up", bottomUp, 1}, {"top-down", topDown, 1}, {"32 bits", wide, 1},
      {"108-byte header", v4, 0}, {"124-byte header", v5, 0}, {"4 bits", nibbles, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "o.bmp", Bmp(c.file)));
    readerkit::ExpectRgb(*io.Bitmap(), 2, 2, picture);
    EXPECT_EQ(io.Params().Height, 2);
    EXPECT_EQ(io.Params().BmpVersion, c.version);
  }
  // A 64-byte header is version 3; a table is read for true colour too.
  TBmp v3 = bottomUp;
  v3.HeaderSize = 64;
  v3.Palette = {0xABCDEF};
  TImageIO io;
  ASSERT_TRUE(readerkit::Load(io, "v3.bmp", Bmp(v3)));
  readerkit::ExpectRgb(*io.Bitmap(), 2, 2, picture);
  EXPECT_EQ(io.Params().BmpVersion, 3);
  ASSERT_EQ(io.Params().ColorMapCount, 1);
  EXPECT_EQ(io.Params().ColorMap[0].R, 0xAB);
}

TEST(BmpReader, ResolutionFromPixelsPerMetre) {
  struct Case {
    int32_t ppmX, ppmY;
    int dpiX, dpiY;
  } cases[] = {
      {2835, 3780, 72, 96}, {0, 0, 300, 300}, {3780, 0, 96, 300},
      // Negative values and values that round to 0 or 1 dpi count as none.
      {-2835, 5906, 300, 150}, {19, 20, 300, 300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.ppmX << " x " << c.ppmY);
    TBmp b;
    b.PpmX = c.ppmX;
    b.PpmY = c.ppmY;
    b.Pixels = Row24({0});
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "r.bmp", Bmp(b)));
    EXPECT_EQ(io.Params().DpiX, c.dpiX);
    EXPECT_EQ(io.Params().DpiY, c.dpiY);
  }
}

TEST(BmpReader, RunLengthData) {
  const std::vector<uint32_t> pal = {0x000000, 0x111111, 0x222222, 0x333333};
  struct Case {
    const char* name;
    int bits;
    int width, height;
    Bytes data;
    std::vector<int> expected;  // palette indexes, top row first; -1 untouched (black)
    bool complete;
  } cases[] = {
      // Bottom row: a run of 2, a delta of 1 column, one more pixel; the
      // delta moves right from where the row had got to.
      {"RLE8 delta in a row", 8, 5, 2, {2, 1, 0, 2, 1, 0, 1, 3, 0, 0, 1, 2, 1, 3, 1, 1, 0, 1},
       {2, 3, 1, -1, -1, 1, 1, -1, 3, -1}, true},
      // A delta down one row and right two, then the end of the bitmap.
      {"RLE8 delta to the next row", 8, 4, 2, {1, 2, 0, 2, 1, 1, 1, 3, 0, 1}, {-1, -1, 3, -1, 2, -1, -1, -1}, true},
      // Pixels past a full row are dropped, not piled onto its last pixel
      // (converters pad RLE8 rows with such runs).
      {"RLE8 run past the row", 8, 3, 1, {2, 1, 3, 2, 0, 1}, {1, 1, 2}, true},
      {"RLE8 absolute past the row", 8, 2, 1, {0, 3, 1, 2, 3, 0, 0, 1}, {1, 2}, true},
      {"RLE8 padding run", 8, 2, 1, {2, 3, 3, 0, 0, 1}, {3, 3}, true},
      // A delta past the picture ends decoding.
      {"RLE8 delta out", 8, 2, 2, {1, 1, 0, 2, 0, 5, 1, 2}, {-1, -1, 1, -1}, true},
      {"RLE4 runs alternate nibbles", 4, 5, 1, {5, 0x12, 0, 1}, {1, 2, 1, 2, 1}, true},
      {"RLE4 absolute", 4, 3, 2, {0, 3, 0x31, 0x20, 0, 0, 2, 0x33, 0, 1}, {3, 3, -1, 3, 1, 2}, true},
      // Nibbles past the row are dropped.
      {"RLE4 run past the row", 4, 2, 1, {4, 0x13, 0, 1}, {1, 3}, true},
      // Data ending early leaves the rest black and fails the load.
      {"RLE8 cut short", 8, 2, 3, {2, 1, 0, 0}, {-1, -1, -1, -1, 1, 1}, false},
      {"RLE8 absolute cut short", 8, 4, 1, {0, 4, 1, 2}, {1, 2, -1, -1}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBmp b;
    b.Width = c.width;
    b.Height = c.height;
    b.Bits = c.bits;
    b.Compression = c.bits == 8 ? 1 : 2;
    b.Palette = pal;
    b.Pixels = c.data;
    TImageIO io;
    EXPECT_EQ(readerkit::Load(io, "rle.bmp", Bmp(b)), c.complete);
    std::vector<uint32_t> expected;
    for (int i : c.expected) expected.push_back(i < 0 ? 0 : pal[size_t(i)]);
    readerkit::ExpectRgb(*io.Bitmap(), c.width, c.height, expected);
    EXPECT_EQ(io.Params().BmpCompression, 1);
  }
}

TEST(BmpReader, RejectedFilesLeaveThePreviousImage) {
  TBmp good;
  good.Pixels = Row24({0x030201});
  auto with = [&](auto change) {
    TBmp b = good;
    change(b);
    return Bmp(b);
  };
  Bytes wrongType = Bmp(good);
  wrongType[1] = 'A';
  Bytes shortHeader = Bmp(good);
  Put32(shortHeader, 14, 8);
  struct Case {
    const char* name;
    Bytes file;
  } cases[] = {
      {"type BA", wrongType},
      {"empty", {}},
      {"file header only", Prefix(Bmp(good), 14)},
      {"header cut short", Prefix(Bmp(good), 40)},
      {"header size 8", shortHeader},
      {"width 0", with([](TBmp& b) { b.Width = 0; })},
      {"height 0", with([](TBmp& b) { b.Height = 0; })},
      {"negative width", with([](TBmp& b) { b.Width = -1; })},
      {"too many pixels", with([](TBmp& b) { b.Width = b.Height = 40000; })},
      {"2 bits", with([](TBmp& b) { b.Bits = 2; })},
      {"0 bits", with([](TBmp& b) { b.Bits = 0; })},
      {"JPEG data", with([](TBmp& b) { b.Compression = 4; })},
      {"RLE8 at 24 bits", with([](TBmp& b) { b.Compression = 1; })},
      {"RLE4 at 8 bits", with([](TBmp& b) { b.Bits = 8; b.Compression = 2; })},
      {"colour table cut short", Prefix(with([](TBmp& b) { b.Bits = 8; b.Palette.assign(256, 0); }), 100)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "ok.bmp", Bmp(good)));
    EXPECT_FALSE(readerkit::Load(io, "bad.bmp", c.file));
    readerkit::ExpectRgb(*io.Bitmap(), 1, 1, {0x030201});
    EXPECT_EQ(io.Params().FileType, ioBMP);
  }
}

TEST(BmpReader, HostileDataStaysInsideItsBuffers) {
  TImageIO io;
  // Indexes past a two-entry table are black.
  TBmp shortTable;
  shortTable.Width = 4;
  shortTable.Bits = 8;
  shortTable.Palette = {0x112233, 0x445566};
  shortTable.Pixels = {1, 2, 255, 0};
  ASSERT_TRUE(readerkit::Load(io, "t.bmp", Bmp(shortTable)));
  readerkit::ExpectRgb(*io.Bitmap(), 4, 1, {0x445566, 0, 0, 0x112233});
  // RLE indexes past the table too.
  TBmp rle = shortTable;
  rle.Compression = 1;
  rle.Pixels = {4, 200, 0, 1};
  ASSERT_TRUE(readerkit::Load(io, "t.bmp", Bmp(rle)));
  readerkit::ExpectRgb(*io.Bitmap(), 4, 1, {0, 0, 0, 0});

  // Pixel data cut off in the middle of the second file row (bottom-up):
  // what the file does not reach is black and the load fails.
  TBmp cut;
  cut.Width = 2;
  cut.Height = 3;
  cut.Pixels = Cat({Row24({0x111111, 0x222222}), Row24({0x333333})});
  cut.Pixels.resize(cut.Pixels.size() - 1);
  EXPECT_FALSE(readerkit::Load(io, "c.bmp", Bmp(cut)));
  readerkit::ExpectRgb(*io.Bitmap(), 2, 3, {0, 0, 0x333333, 0, 0x111111, 0x222222});
  // A last row that lacks only its padding is complete.
  TBmp unpadded = cut;
  unpadded.Height = 2;
  unpadded.Pixels = Cat({Row24({0x111111, 0x222222}), Row24({0x333333, 0x444444})});
  unpadded.Pixels.resize(unpadded.Pixels.size() - 2);
  EXPECT_TRUE(readerkit::Load(io, "p.bmp", Bmp(unpadded)));
  readerkit::ExpectRgb(*io.Bitmap(), 2, 2, {0x333333, 0x444444, 0x111111, 0x222222});

  // A data offset past the end of the file reads nothing.
  Bytes far = Bmp(unpadded);
  Put32(far, 10, 100000);
  EXPECT_FALSE(readerkit::Load(io, "f.bmp", far));
  readerkit::ExpectRgb(*io.Bitmap(), 2, 2, {0, 0, 0, 0});

  // A header promising more than the file holds, but no more than it could
  // describe, reads only what exists.
  TBmp big;
  big.Width = 40;
  big.Height = -40;
  big.Pixels = Row24({0x010203});
  EXPECT_FALSE(readerkit::Load(io, "big.bmp", Bmp(big)));
  EXPECT_EQ(io.Bitmap()->Width(), 40);
  EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), 0, 0), 0x010203u);
  EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), 1, 0), 0u);
  EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), 39, 39), 0u);

  // A header size past the end of the file: rejected, nothing read.
  Bytes hugeHeader = Bmp(big);
  Put32(hugeHeader, 14, 0xFFFFFFF0u);
  EXPECT_FALSE(readerkit::Load(io, "h.bmp", hugeHeader));
}

TEST(BmpReader, ReadsABitmapWithoutFileHeader) {
  // The icon path: the stream starts at the info header.
  TBmp b;
  b.Width = 2;
  b.Height = 1;
  b.Pixels = Row24({0x0A0B0C, 0x010203});
  const Bytes file = Bmp(b);
  const Bytes dib(file.begin() + 14, file.end());
  TImageIO io;
  TImStream stream(dib);
  bool aborting = false;
  TLoadProgress progress;
  progress.Aborting = &aborting;
  ReadBmpStream(stream, *io.Bitmap(), 0, io.Params(), progress, false, true);
  EXPECT_FALSE(aborting);
  readerkit::ExpectRgb(*io.Bitmap(), 2, 1, {0x0A0B0C, 0x010203});
}

TEST(BmpReader, EveryPrefixLoadsWithoutCrash) {
  for (const char* f : {"pal8rle.bmp", "pal4.bmp", "rgb565.bmp", "os2pal8.bmp", "mono.bmp"})
    readerkit::SweepPrefixes(f, readerkit::ReadFixture(std::string("bmp/") + f));
}
