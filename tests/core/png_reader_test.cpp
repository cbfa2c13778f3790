// PNG reader: one 9 x 7 picture written in every colour type and bit depth
// by tests/fixtures/png/make_png.py (the pixel rules below are the same),
// interlaced twins, transparency chunks, resolution chunks, and damaged,
// truncated and hostile files.
#include <gtest/gtest.h>

#include <functional>

#include "io/PngReader.h"
#include "tests/core/ReaderTestKit.h"

using readerkit::Bytes;

namespace {

constexpr int kW = 9, kH = 7;

int Gray(int x, int y, int d) { return (3 * x + 5 * y) % (1 << d); }
int Col(int x, int y, int c) { return (37 * x + 91 * y + 53 * c) % 256; }
int Alpha(int x, int y) { return (29 * x + 17 * y + 5) % 256; }
int Index(int x, int y, int d) { return (x + 2 * y) % (1 << d); }
uint32_t Entry(int i) {
  return (uint32_t((40 * i) % 256) << 16) | (uint32_t((255 - 9 * i) % 256) << 8) | uint32_t((17 * i) % 256);
}
uint32_t GrayRgb(int v) { return uint32_t(v) * 0x010101u; }
uint32_t ColRgb(int x, int y) { return (uint32_t(Col(x, y, 0)) << 16) | (Col(x, y, 1) << 8) | Col(x, y, 2); }
const int kTrns[5] = {0, 60, 120, 180, 240};

Bytes Fixture(const std::string& name) { return readerkit::ReadFixture("png/" + name); }

uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (24 - 8 * i));
}

// Offset of the length field of the first chunk of the given type.
size_t FindChunk(const Bytes& b, const char* type) {
  size_t i = 8;
  while (i + 8 <= b.size()) {
    const uint32_t len = (uint32_t(b[i]) << 24) | (b[i + 1] << 16) | (b[i + 2] << 8) | b[i + 3];
    if (std::memcmp(&b[i + 4], type, 4) == 0) return i;
    i += 12 + len;
  }
  return 0;
}

// Rewrites 4 bytes of a chunk's data and its CRC.
Bytes Patch32(Bytes b, const char* type, size_t dataOffset, uint32_t v) {
  const size_t c = FindChunk(b, type);
  EXPECT_NE(c, 0u) << type;
  const uint32_t len = (uint32_t(b[c]) << 24) | (b[c + 1] << 16) | (b[c + 2] << 8) | b[c + 3];
  Put32(b, c + 8 + dataOffset, v);
  Put32(b, c + 8 + len, Crc32(&b[c + 4], len + 4));
  return b;
}

struct TExpect {
  TImPixelFormat format;
  std::function<uint32_t(int, int)> rgb;    // 0xRRGGBB, or the bit for im1bit
  std::function<int(int, int)> alpha;       // nullptr: opaque
};

void ExpectPicture(TImageIO& io, const TExpect& e) {
  TImBitmap& b = *io.Bitmap();
  ASSERT_EQ(b.PixelFormat(), e.format);
  ASSERT_EQ(b.Width(), kW);
  ASSERT_EQ(b.Height(), kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      if (e.format == im1bit)
        EXPECT_EQ(uint32_t(readerkit::Bit(b, x, y)), e.rgb(x, y)) << x << "," << y;
      else
        EXPECT_EQ(readerkit::Rgb(b, x, y), e.rgb(x, y)) << x << "," << y;
    }
  // The loader always receives a mask: 255 where the image is opaque.
  ASSERT_TRUE(b.HasAlphaChannel());
  TImBitmap* a = b.AlphaChannel();
  EXPECT_EQ(a->AlphaFull, !e.alpha);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) EXPECT_EQ(a->Scanline(y)[x], e.alpha ? e.alpha(x, y) : 255) << x << "," << y;
}

const TExpect kGray8{im24bgr, [](int x, int y) { return GrayRgb(Gray(x, y, 8)); }, nullptr};
const TExpect kRgb{im24bgr, ColRgb, nullptr};
const TExpect kGrayAlpha{im24bgr, [](int x, int y) { return GrayRgb(Gray(x, y, 8)); }, Alpha};
const TExpect kRgba{im24bgr, ColRgb, Alpha};
const TExpect kPal4Trns{im24bgr, [](int x, int y) { return Entry(Index(x, y, 4)); },
                        [](int x, int y) { return Index(x, y, 4) < 5 ? kTrns[Index(x, y, 4)] : 255; }};

}  // namespace

TEST(PngReader, EveryColourTypeAndDepthGivesThePicture) {
  struct Case {
    const char* file;
    int bits, samples, mapCount;
    TExpect expect;
  } cases[] = {
      // Bit depth 1 keeps its packed bits: 1 is white whatever the palette says.
      {"g1.png", 1, 1, 0, {im1bit, [](int x, int y) { return uint32_t(Gray(x, y, 1)); }, nullptr}},
      {"p1.png", 1, 1, 2, {im1bit, [](int x, int y) { return uint32_t(Index(x, y, 1)); }, nullptr}},
      // Low gray depths expand by repeating their bits.
      {"g2.png", 2, 1, 0, {im24bgr, [](int x, int y) { return GrayRgb(Gray(x, y, 2) * 85); }, nullptr}},
      {"g4.png", 4, 1, 0, {im24bgr, [](int x, int y) { return GrayRgb(Gray(x, y, 4) * 17); }, nullptr}},
      {"g8.png", 8, 1, 0, kGray8},
      // 16-bit samples keep their high byte.
      {"g16.png", 16, 1, 0, kGray8},
      {"p2.png", 2, 1, 4, {im24bgr, [](int x, int y) { return Entry(Index(x, y, 2)); }, nullptr}},
      {"p4.png", 4, 1, 16, {im24bgr, [](int x, int y) { return Entry(Index(x, y, 4)); }, nullptr}},
      {"p8.png", 8, 1, 21, {im24bgr, [](int x, int y) { return Entry(Index(x, y, 8)); }, nullptr}},
      {"rgb8.png", 8, 3, 0, kRgb},
      {"rgb16.png", 16, 3, 0, kRgb},
      {"ga8.png", 8, 2, 0, kGrayAlpha},
      {"ga16.png", 16, 2, 0, kGrayAlpha},
      {"rgba8.png", 8, 4, 0, kRgba},
      {"rgba16.png", 16, 4, 0, kRgba},
      // Transparency chunks: palette alphas and a gray key become alpha; an
      // RGB key is not expanded and stays opaque.
      {"p4trns.png", 4, 1, 16, kPal4Trns},
      {"g4trns.png", 4, 1, 0,
       {im24bgr, [](int x, int y) { return GrayRgb(Gray(x, y, 4) * 17); },
        [](int x, int y) { return Gray(x, y, 4) == 7 ? 0 : 255; }}},
      {"rgb8trns.png", 8, 3, 0, kRgb},
  };
  int twins = 0;
  for (const Case& c : cases) {
    for (bool twin : {false, true}) {
      std::string file = c.file;
      if (twin) {
        // Interlaced twins exist for some of the files.
        file = file.substr(0, file.size() - 4) + "i.png";
        if (!std::filesystem::exists(std::string(TARVELLE_FIXTURES) + "/png/" + file)) continue;
        ++twins;
      }
      SCOPED_TRACE(file);
      TImageIO io;
      ASSERT_TRUE(readerkit::Load(io, file, Fixture(file)));
      ExpectPicture(io, c.expect);
      const TIOParams& p = io.Params();
      EXPECT_EQ(p.FileType, ioPNG);
      EXPECT_EQ(p.Width, kW);
      EXPECT_EQ(p.Height, kH);
      EXPECT_EQ(p.BitsPerSample, c.bits);
      EXPECT_EQ(p.SamplesPerPixel, c.samples);
      EXPECT_EQ(p.PngInterlaced, twin);
      ASSERT_EQ(p.ColorMapCount, c.mapCount);
      for (int i = 0; i < c.mapCount; ++i) {
        const TImRGB e = p.ColorMap[size_t(i)];
        EXPECT_EQ((uint32_t(e.R) << 16) | (e.G << 8) | e.B, Entry(i)) << "entry " << i;
      }
    }
  }
  EXPECT_EQ(twins, 6);
}

TEST(PngReader, PhysGivesTheResolution) {
  struct Case {
    uint32_t x, y;
    int unit, dpiX, dpiY;
  } cases[] = {
      {3780, 2835, 1, 96, 72},
      {2500, 7500, 1, 64, 190},  // 63.5 and 190.5: half to even
      {39, 40, 1, 300, 300},     // 0.99 and 1.02 round below 2: the default
      {2, 1, 0, 300, 300},       // aspect ratio only
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << " x " << c.y << " unit " << c.unit);
    Bytes b = Patch32(Fixture("phys.png"), "pHYs", 0, c.x);
    b = Patch32(b, "pHYs", 4, c.y);
    b[FindChunk(b, "pHYs") + 16] = uint8_t(c.unit);
    b = Patch32(b, "pHYs", 4, c.y);  // CRC again, over the new unit
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "phys.png", b));
    EXPECT_EQ(io.Params().DpiX, c.dpiX);
    EXPECT_EQ(io.Params().DpiY, c.dpiY);
  }
  // The files themselves; without pHYs the previous value does not stay.
  struct File {
    const char* name;
    int dpiX, dpiY;
  } files[] = {{"phys.png", 96, 72}, {"physaspect.png", 300, 300}, {"rgb8.png", 300, 300}};
  for (const File& f : files) {
    SCOPED_TRACE(f.name);
    TImageIO io;
    io.Params().DpiX = 55;
    ASSERT_TRUE(readerkit::Load(io, f.name, Fixture(f.name)));
    EXPECT_EQ(io.Params().DpiX, f.dpiX);
    EXPECT_EQ(io.Params().DpiY, f.dpiY);
  }
}

TEST(PngReader, NativePixelFormatKeepsEightBitPaletteAndGray) {
  TImageIO io;
  io.SetNativePixelFormat(true);
  ASSERT_TRUE(readerkit::Load(io, "p8.png", Fixture("p8.png")));
  TImBitmap& b = *io.Bitmap();
  ASSERT_EQ(b.PixelFormat(), im8pal);
  ASSERT_EQ(b.PaletteCount(), 256);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) EXPECT_EQ(b.Scanline(y)[x], Index(x, y, 8));
  for (int i = 0; i < 256; ++i) {
    const TImRGB e = b.Palette()[i];
    EXPECT_EQ((uint32_t(e.R) << 16) | (e.G << 8) | e.B, i < 21 ? Entry(i) : 0u) << i;
  }
  ASSERT_TRUE(readerkit::Load(io, "g8.png", Fixture("g8.png")));
  ASSERT_EQ(b.PixelFormat(), im8gray);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) EXPECT_EQ(b.Scanline(y)[x], Gray(x, y, 8));
  // Other depths are transformed as usual.
  ASSERT_TRUE(readerkit::Load(io, "p4.png", Fixture("p4.png")));
  EXPECT_EQ(b.PixelFormat(), im24bgr);
}

TEST(PngReader, DamagedFilesAbort) {
  const Bytes rgba = Fixture("rgba8i.png");
  Bytes badIhdr = rgba, badIdatCrc = rgba;
  badIhdr[FindChunk(rgba, "IHDR") + 8] ^= 1;  // CRC no longer matches
  badIdatCrc[FindChunk(rgba, "IDAT") + 8 + 20] ^= 0x55;
  const Bytes jpeg = readerkit::ReadFixture("jpeg/rgb420.jpg");
  struct Case {
    const char* name;
    Bytes bytes;
    bool allocated;
  } cases[] = {
      {"a JPEG named .png", jpeg, false},
      {"empty", {}, false},
      {"signature only", Bytes(rgba.begin(), rgba.begin() + 8), false},
      {"IHDR CRC", badIhdr, false},
      {"IDAT CRC", badIdatCrc, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "prev.png", Fixture("g1.png")));
    EXPECT_FALSE(readerkit::Load(io, "bad.png", c.bytes));
    EXPECT_EQ(io.Params().FileType, ioPNG);
    TImBitmap& b = *io.Bitmap();
    if (c.allocated) {
      // Rows not decoded stay as allocated (zero); the mask is still handed
      // over, 255 where nothing was decoded.
      EXPECT_EQ(b.PixelFormat(), im24bgr);
      ASSERT_TRUE(b.HasAlphaChannel());
    } else {
      EXPECT_EQ(b.PixelFormat(), im1bit) << "the previous image stays";
    }
  }
}

TEST(PngReader, TruncatedFileKeepsTheRowsDecoded) {
  // Cut 60 bytes into the image data: what those bytes inflate to is kept,
  // the rest stays zero, and the load reports Aborting.
  const Bytes b = Fixture("rgb8.png");
  const size_t idat = FindChunk(b, "IDAT");
  TImageIO io;
  EXPECT_FALSE(readerkit::Load(io, "cut.png", Bytes(b.begin(), b.begin() + long(idat + 8 + 60))));
  EXPECT_EQ(io.Bitmap()->Width(), kW);
  EXPECT_EQ(io.Bitmap()->Height(), kH);
  for (int x = 0; x < kW; ++x) EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), x, 0), ColRgb(x, 0)) << x;
  EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), kW - 1, kH - 1), 0u);
  for (const char* file : {"rgba8i.png", "p1.png", "g16.png"}) readerkit::SweepPrefixes(file, Fixture(file));
}

TEST(PngReader, HostileSizesAbortBeforeAllocating) {
  struct Case {
    const char* name;
    uint32_t w, h;
  } cases[] = {
      {"beyond the pixel cap", 100000, 100000},
      {"wider than any row can be", 0x7FFFFFFF, 1},
      // 900 million pixels are within the cap, but 300 bytes of data can
      // never inflate to 2.7 GB of rows.
      {"more than the data can hold", 30000, 30000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes b = Patch32(Fixture("rgba8.png"), "IHDR", 0, c.w);
    b = Patch32(b, "IHDR", 4, c.h);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "prev.png", Fixture("g1.png")));
    EXPECT_FALSE(readerkit::Load(io, "huge.png", b));
    EXPECT_EQ(io.Bitmap()->PixelFormat(), im1bit);
    EXPECT_FALSE(io.Bitmap()->HasAlphaChannel());
  }
}

TEST(PngReader, ProgressCountsEveryPassAndStops) {
  struct Case {
    const char* file;
    size_t rows;
  } cases[] = {{"rgba8.png", kH}, {"rgba8i.png", kH * 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TImageIO io;
    std::vector<int> reports;
    io.OnProgress = [&](void*, int percent) { reports.push_back(percent); };
    ASSERT_TRUE(readerkit::Load(io, c.file, Fixture(c.file)));
    ASSERT_EQ(reports.size(), c.rows + 1);
    EXPECT_EQ(reports[0], int(100.0 / double(c.rows)));
    EXPECT_EQ(reports[c.rows - 1], 100);
  }
  TImageIO io;
  int calls = 0;
  io.OnProgress = [&](void*, int) {
    if (++calls == 3) io.Aborting = true;
  };
  EXPECT_FALSE(readerkit::Load(io, "stop.png", Fixture("rgb8.png")));
  EXPECT_EQ(calls, 4);  // three rows, then the loader's 100
  EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), 1, 2), ColRgb(1, 2));
  EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), 1, 3), 0u);
}

TEST(PngReader, BackgroundGoesThroughTheParameters) {
  TImageIO io;
  io.SetBackground(0x102030);  // red in the low byte
  ASSERT_TRUE(readerkit::Load(io, "rgba8.png", Fixture("rgba8.png")));
  const TImRGB bg = io.Params().PngBackground;
  EXPECT_EQ(bg.R, 0x30);
  EXPECT_EQ(bg.G, 0x20);
  EXPECT_EQ(bg.B, 0x10);
  EXPECT_EQ(io.Background(), 0x102030);
}

// The stream entry point as the icon reader uses it: a PNG inside a larger
// buffer, and a mask handed in to be reused.
TEST(PngReader, StreamEntryReadsFromThePositionAndReusesTheMask) {
  Bytes b(13, 0xEE);
  const Bytes png = Fixture("ga8.png");
  b.insert(b.end(), png.begin(), png.end());
  TImStream s(b);
  s.Seek(13);
  TImageIO io;
  TImBitmap target;
  bool aborting = false;
  TLoadProgress progress;
  progress.Aborting = &aborting;
  auto mask = std::make_unique<TImMask>();
  TImMask* given = mask.get();
  ReadPngStream(s, target, io.Params(), progress, mask);
  EXPECT_FALSE(aborting);
  EXPECT_EQ(mask.get(), given);
  ASSERT_EQ(mask->Width, kW);
  EXPECT_FALSE(mask->Full);
  EXPECT_EQ(mask->Scanline(3)[4], Alpha(4, 3));
  EXPECT_EQ(readerkit::Rgb(target, 4, 3), GrayRgb(Gray(4, 3, 8)));

  // Header only: the sizes, no pixels and no mask.
  TImStream h(png);
  std::unique_ptr<TImMask> none;
  TImBitmap empty;
  io.Params().Width = 0;
  ReadPngStream(h, empty, io.Params(), progress, none, true);
  EXPECT_FALSE(aborting);
  EXPECT_EQ(io.Params().Width, kW);
  EXPECT_EQ(io.Params().SamplesPerPixel, 2);
  EXPECT_EQ(empty.Width(), 0);
  EXPECT_FALSE(none);
}
