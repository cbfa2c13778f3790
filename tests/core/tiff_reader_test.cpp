// TIFF reader: fixtures made with an image converter and libtiff's tools
// (every compression, byte order, planar and tiled layouts, palette, gray,
// CMYK, several pages, bilevel pages through every fax coding), and
// hand-made files for tag defaults, conversions and hostile data.
#include <gtest/gtest.h>

#include <cstring>

#include "io/TiffLzw.h"
#include "io/TiffReader.h"
#include "tests/core/ReaderTestKit.h"

using readerkit::Bytes;

namespace {

// The 40 x 20 colour picture of the converter fixtures.
uint32_t Picture(int x, int y) {
  return (uint32_t(x * 6) << 16) | (uint32_t(y * 12) << 8) | uint32_t(((x / 8) + (y / 5)) * 30);
}
std::vector<uint32_t> PictureTable() {
  std::vector<uint32_t> t;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x) t.push_back(Picture(x, y));
  return t;
}

Bytes Fixture(const std::string& name) { return readerkit::ReadFixture("tiff/" + name); }

// A directory entry for the builder: SHORT, LONG, RATIONAL (pairs) or ASCII.
struct TTag {
  uint16_t Tag;
  uint16_t Type;
  std::vector<uint32_t> Values;
  std::string Text;
};
TTag Short(uint16_t tag, std::vector<uint32_t> v) { return {tag, 3, std::move(v), {}}; }
TTag Long(uint16_t tag, std::vector<uint32_t> v) { return {tag, 4, std::move(v), {}}; }
TTag Rational(uint16_t tag, uint32_t num, uint32_t den) { return {tag, 5, {num, den}, {}}; }
TTag Ascii(uint16_t tag, const std::string& text) { return {tag, 2, {}, text}; }

// Writes a one-page TIFF: header, the strips, then the directory and its
// out-of-line values. StripOffsets and StripByteCounts (LONG) are added for
// the strips unless the tags are given; `noCounts` leaves StripByteCounts out.
Bytes BuildTiff(std::vector<TTag> tags, const std::vector<Bytes>& strips, bool mm = false, bool noCounts = false) {
  Bytes f = mm ? Bytes{'M', 'M', 0, 42, 0, 0, 0, 0} : Bytes{'I', 'I', 42, 0, 0, 0, 0, 0};
  auto put16 = [&](Bytes& b, uint32_t v) {
    if (mm) b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)});
    else b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
  };
  auto put32 = [&](Bytes& b, uint32_t v) {
    if (mm) b.insert(b.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
    else b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
  };
  std::vector<uint32_t> offsets, counts;
  for (const Bytes& s : strips) {
    offsets.push_back(uint32_t(f.size()));
    counts.push_back(uint32_t(s.size()));
    f.insert(f.end(), s.begin(), s.end());
  }
  auto has = [&](uint16_t t) {
    for (const TTag& x : tags)
      if (x.Tag == t) return true;
    return false;
  };
  if (!strips.empty() && !has(273)) tags.push_back(Long(273, offsets));
  if (!strips.empty() && !has(279) && !noCounts) tags.push_back(Long(279, counts));
  std::stable_sort(tags.begin(), tags.end(), [](const TTag& a, const TTag& b) { return a.Tag < b.Tag; });
  const uint32_t ifd = uint32_t(f.size());
  f[4] = 0;
  Bytes head;
  put32(head, ifd);
  std::copy(head.begin(), head.end(), f.begin() + 4);
  const uint32_t extraBase = ifd + 2 + 12 * uint32_t(tags.size()) + 4;
  Bytes dir, extra;
  put16(dir, uint32_t(tags.size()));
  for (const TTag& t : tags) {
    Bytes raw;
    uint32_t count = 0;
    if (t.Type == 2) {
      raw.assign(t.Text.begin(), t.Text.end());
      raw.push_back(0);
      count = uint32_t(raw.size());
    } else if (t.Type == 5) {
      for (uint32_t v : t.Values) put32(raw, v);
      count = uint32_t(t.Values.size() / 2);
    } else {
      for (uint32_t v : t.Values) t.Type == 3 ? put16(raw, v) : put32(raw, v);
      count = uint32_t(t.Values.size());
    }
    put16(dir, t.Tag);
    put16(dir, t.Type);
    put32(dir, count);
    if (raw.size() <= 4) {
      raw.resize(4, 0);
      dir.insert(dir.end(), raw.begin(), raw.end());
    } else {
      put32(dir, extraBase + uint32_t(extra.size()));
      extra.insert(extra.end(), raw.begin(), raw.end());
      if (extra.size() % 2) extra.push_back(0);
    }
  }
  put32(dir, 0);
  f.insert(f.end(), dir.begin(), dir.end());
  f.insert(f.end(), extra.begin(), extra.end());
  return f;
}

// The usual tags of a w x h page.
std::vector<TTag> Page(int w, int h, int bits, int samples, int photometric, int compression = 1) {
  const std::vector<uint32_t> b(static_cast<size_t>(samples), static_cast<uint32_t>(bits));
  return {Long(256, {uint32_t(w)}), Long(257, {uint32_t(h)}), Short(258, b), Short(259, {uint32_t(compression)}),
          Short(262, {uint32_t(photometric)}), Short(277, {uint32_t(samples)})};
}
std::vector<TTag> With(std::vector<TTag> tags, std::initializer_list<TTag> more) {
  tags.insert(tags.end(), more.begin(), more.end());
  return tags;
}

struct TLoaded {
  std::unique_ptr<TImageIO> Io = std::make_unique<TImageIO>();
  bool Ok = false;
  TImBitmap& B() { return *Io->Bitmap(); }
  TIOParams& P() { return Io->Params(); }
};
TLoaded Load(const Bytes& file, const std::function<void(TIOParams&)>& setup = {}) {
  TLoaded l;
  if (setup) setup(l.P());
  l.Ok = readerkit::Load(*l.Io, "t.tif", file);
  return l;
}

// Bits of a bilevel reference picture loaded from a PBM file.
std::vector<std::string> ReferenceRows(const std::string& pbm, bool invert = false) {
  TImageIO io;
  EXPECT_TRUE(readerkit::Load(io, "ref.pbm", Fixture(pbm)));
  std::vector<std::string> rows;
  for (int y = 0; y < io.Bitmap()->Height(); ++y) {
    std::string r;
    for (int x = 0; x < io.Bitmap()->Width(); ++x)
      r.push_back((readerkit::Bit(*io.Bitmap(), x, y) != 0) != invert ? '1' : '0');
    rows.push_back(r);
  }
  return rows;
}

}  // namespace

TEST(TiffReader, ColourPictureInEveryLayoutAndCompression) {
  struct Case {
    const char* file;
    int compression, planar;
  } cases[] = {
      {"rgb-none-ii.tif", 0, 1},       {"rgb-none-mm.tif", 0, 1},     {"rgb-lzw.tif", 5, 1},
      {"rgb-lzw-pred-mm.tif", 5, 1},   {"rgb-packbits.tif", 8, 1},    {"rgb-planar.tif", 5, 2},
      {"rgb-tiled.tif", 8, 1},         {"rgb16-lzw-pred-mm.tif", 5, 1}, {"rgba.tif", 0, 1},
      {"multipage.tif", 5, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TLoaded l = Load(Fixture(c.file));
    ASSERT_TRUE(l.Ok);
    readerkit::ExpectRgb(l.B(), 40, 20, PictureTable());
    EXPECT_EQ(l.P().FileType, ioTIFF);
    EXPECT_EQ(l.P().Width, 40);
    EXPECT_EQ(l.P().Height, 20);
    EXPECT_EQ(l.P().TiffCompression, c.compression);
    EXPECT_EQ(l.P().TiffPlanarConfig, c.planar);
    EXPECT_EQ(l.P().TiffPhotometric, 2);
  }
  TLoaded l = Load(Fixture("rgb16-lzw-pred-mm.tif"));
  EXPECT_EQ(l.P().BitsPerSample, 16);
  // The alpha samples become the alpha channel.
  TLoaded a = Load(Fixture("rgba.tif"));
  ASSERT_TRUE(a.B().HasAlphaChannel());
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(a.B().AlphaChannel()->Scanline(y)[x], (x * 5 + y * 3) % 256) << x << "," << y;
  EXPECT_EQ(a.P().SamplesPerPixel, 4);
}

TEST(TiffReader, GrayPaletteAndCmykFixtures) {
  std::vector<int> gray4, gray8wiz, gray16;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x) {
      const int v = (x + y) % 16;
      gray4.push_back(v * 16);  // 4-bit samples times 16
      gray8wiz.push_back(255 - v * 17);
      gray16.push_back(v * 17);
    }
  struct Case {
    const char* file;
    std::vector<int>* expected;
    int bits;
  } cases[] = {{"gray4.tif", &gray4, 4}, {"gray8-wiz.tif", &gray8wiz, 8}, {"gray16-lzw.tif", &gray16, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TLoaded l = Load(Fixture(c.file));
    ASSERT_TRUE(l.Ok);
    readerkit::ExpectGray(l.B(), 40, 20, *c.expected);
    EXPECT_EQ(l.P().BitsPerSample, c.bits);
  }
  // With native pixel formats 16-bit gray keeps its words.
  TLoaded g = Load(Fixture("gray16-lzw.tif"), [](TIOParams& p) { p.NativePixelFormat = true; });
  ASSERT_EQ(g.B().PixelFormat(), im16gray);
  EXPECT_EQ(g.B().Scanline(0)[2 * 3] | (g.B().Scanline(0)[2 * 3 + 1] << 8), 3 * 17 * 257);

  std::vector<uint32_t> pal;
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 8; ++x) pal.push_back((uint32_t(x * 32) << 16) | (uint32_t(y * 100) << 8) | uint32_t(255 - x * 20));
  TLoaded p = Load(Fixture("pal8.tif"));
  ASSERT_TRUE(p.Ok);
  readerkit::ExpectRgb(p.B(), 8, 3, pal);
  EXPECT_EQ(p.P().ColorMapCount, 256);
  EXPECT_EQ(p.P().TiffPhotometric, 3);
  TLoaded n = Load(Fixture("pal8.tif"), [](TIOParams& q) { q.NativePixelFormat = true; });
  ASSERT_EQ(n.B().PixelFormat(), im8pal);
  const TImRGB& c = n.B().Palette()[n.B().Scanline(2)[7]];
  EXPECT_EQ((uint32_t(c.R) << 16) | (uint32_t(c.G) << 8) | c.B, pal[23]);

  // Inks (c, m, y, k) become red = (255 - c)(255 - k) / 255 and so on.
  TLoaded k = Load(Fixture("cmyk.tif"));
  ASSERT_TRUE(k.Ok);
  readerkit::ExpectRgb(k.B(), 4, 2,
                       {0xFFFFFF, 0x00FFFF, 0xFF00FF, 0xFFFF00, 0x000000, 0x9BCDE6, 0xCEC6BD, 0x000000});
}

TEST(TiffReader, BilevelPagesInEveryFaxCoding) {
  // Every terminating and make-up code of both colours appears in this page.
  const std::vector<std::string> ref = ReferenceRows("runs.pbm");
  struct Case {
    const char* file;
    int compression;
  } cases[] = {
      {"bw-none.tif", 0},      {"bw-mh.tif", 1},          {"bw-g3.tif", 2},         {"bw-g3-fill.tif", 2},
      {"bw-g3-2d.tif", 3},     {"bw-g3-2d-fill.tif", 3}, {"bw-g3-2d-lsb.tif", 3},  {"bw-g4.tif", 4},
      {"bw-g4-lsb.tif", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TLoaded l = Load(Fixture(c.file));
    ASSERT_TRUE(l.Ok);
    readerkit::ExpectBits(l.B(), ref);
    EXPECT_EQ(l.P().TiffCompression, c.compression);
    EXPECT_EQ(l.P().BitsPerSample, 1);
  }
  // The same codes read as WhiteIsZero give the inverse picture.
  TLoaded w = Load(Fixture("bw-g4-wiz.tif"));
  ASSERT_TRUE(w.Ok);
  readerkit::ExpectBits(w.B(), ReferenceRows("runs.pbm", true));
}

TEST(TiffReader, PagesOfAMultiPageFile) {
  struct Case {
    int page;
    int width, height;
    int bits;
  } cases[] = {{0, 40, 20, 8}, {1, 40, 20, 4}, {2, 8, 3, 8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page);
    TLoaded l = Load(Fixture("multipage.tif"), [&](TIOParams& p) { p.TiffPageIndex = c.page; });
    ASSERT_TRUE(l.Ok);
    EXPECT_EQ(l.B().Width(), c.width);
    EXPECT_EQ(l.B().Height(), c.height);
    EXPECT_EQ(l.P().BitsPerSample, c.bits);
    EXPECT_EQ(l.P().TiffPageCount, 3);
  }
  // A page beyond the last loads nothing, quietly; the previous image stays.
  TImageIO io;
  ASSERT_TRUE(readerkit::Load(io, "a.tif", Fixture("cmyk.tif")));
  io.Params().TiffPageIndex = 3;
  EXPECT_TRUE(readerkit::Load(io, "b.tif", Fixture("multipage.tif")));
  EXPECT_EQ(io.Bitmap()->Width(), 4);
  EXPECT_EQ(io.Params().TiffPageCount, 1);
  EXPECT_EQ(io.Params().Width, 4);
}

TEST(TiffReader, JpegCompressedPages) {
  // Lossy coding: each channel within a tolerance of the picture; the YCbCr
  // page has its chroma subsampled 2 x 2, which blurs the blue steps.
  struct Case {
    const char* file;
    int tolerance;
  } cases[] = {{"rgb-jpeg-ycc.tif", 24}, {"rgb-jpeg-rgb.tif", 12}, {"rgb-ojpeg.tif", 12}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const char* file = c.file;
    TLoaded l = Load(Fixture(file));
    ASSERT_TRUE(l.Ok);
    ASSERT_EQ(l.B().PixelFormat(), im24bgr);
    ASSERT_EQ(l.B().Width(), 40);
    ASSERT_EQ(l.B().Height(), 20);
    EXPECT_EQ(l.P().Width, 40);
    EXPECT_EQ(l.P().Height, 20);
    int worst = 0;
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 40; ++x) {
        const uint32_t got = readerkit::Rgb(l.B(), x, y), want = Picture(x, y);
        for (int s = 0; s < 24; s += 8) worst = std::max(worst, std::abs(int((got >> s) & 255) - int((want >> s) & 255)));
      }
    EXPECT_LE(worst, c.tolerance);
  }
}

TEST(TiffReader, TagDefaultsAndFields) {
  // An "MM" file whose width is a SHORT reads like the "II" file.
  for (bool mm : {false, true}) {
    SCOPED_TRACE(mm ? "MM" : "II");
    std::vector<TTag> tags = Page(2, 1, 8, 1, 1);
    tags[0] = Short(256, {2});
    TLoaded l = Load(BuildTiff(tags, {{10, 200}}, mm));
    ASSERT_TRUE(l.Ok);
    readerkit::ExpectGray(l.B(), 2, 1, {10, 200});
  }
  // No RowsPerStrip, RowsPerStrip 4294967295, no StripByteCounts: one strip
  // read to the end of the data.
  const Bytes rows = {1, 2, 3, 4, 5, 6};
  for (const Bytes& f : {BuildTiff(Page(2, 3, 8, 1, 1), {rows}), BuildTiff(With(Page(2, 3, 8, 1, 1), {Long(278, {4294967295u})}), {rows}),
                         BuildTiff(Page(2, 3, 8, 1, 1), {rows}, false, true)}) {
    TLoaded l = Load(f);
    ASSERT_TRUE(l.Ok);
    readerkit::ExpectGray(l.B(), 2, 3, {1, 2, 3, 4, 5, 6});
  }
  // A bilevel page without PhotometricInterpretation is WhiteIsZero.
  std::vector<TTag> bw = Page(8, 1, 1, 1, 0);
  bw.erase(bw.begin() + 4);
  TLoaded b = Load(BuildTiff(bw, {{0x0F}}));
  readerkit::ExpectBits(b.B(), {"11110000"});
  EXPECT_EQ(b.P().TiffPhotometric, 0);
  // Resolution in centimetres, truncated; a missing one gives 300.
  TLoaded r = Load(BuildTiff(With(Page(1, 1, 8, 1, 1), {Rational(282, 11811, 100), Rational(283, 50, 0), Short(296, {3}),
                                                        Rational(286, 3, 2), Ascii(269, "doc"), Ascii(285, "pg"),
                                                        Short(297, {1, 4}), Short(274, {3})}),
                             {{0}}));
  EXPECT_EQ(r.P().DpiX, 299);
  EXPECT_EQ(r.P().DpiY, 127);
  EXPECT_EQ(r.P().TiffXPosition, 3);
  EXPECT_EQ(r.P().TiffYPosition, 0);
  EXPECT_EQ(r.P().TiffDocumentName, "doc");
  EXPECT_EQ(r.P().TiffPageName, "pg");
  EXPECT_EQ(r.P().TiffPageNumber, 1);
  EXPECT_EQ(r.P().TiffPageTotal, 4);
  EXPECT_EQ(r.P().TiffOrientation, 3);
  EXPECT_EQ(Load(BuildTiff(Page(1, 1, 8, 1, 1), {{0}})).P().DpiX, 300);
}

TEST(TiffReader, SampleConversions) {
  auto word = [](uint16_t v) { return Bytes{uint8_t(v), uint8_t(v >> 8)}; };
  auto cat = [](std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
  };
  const std::vector<uint32_t> grayMap = [] {
    std::vector<uint32_t> m(3 * 256, 0);
    m[1] = 0xFF00;            // entry 1: red 255
    m[256 + 2] = 0x8000;      // entry 2: green 128
    m[512 + 3] = 0x4000;      // entry 3: blue 64
    return m;
  }();
  struct Case {
    const char* name;
    Bytes file;
    std::vector<uint32_t> expected;
  } cases[] = {
      // 16-bit RGB: the high byte of each sample; 4 samples read 8 bytes each.
      {"16-bit RGB", BuildTiff(Page(2, 1, 16, 3, 2), {cat({word(0x12FF), word(0x3400), word(0x5600), word(0xFF00), word(0), word(0x0100)})}),
       {0x123456, 0xFF0001}},
      {"16-bit RGBA", BuildTiff(Page(2, 1, 16, 4, 2), {cat({word(0x1200), word(0x3400), word(0x5600), word(0x9900), word(0xAB00),
                                                             word(0xCD00), word(0xEF00), word(0x1100)})}),
       {0x123456, 0xABCDEF}},
      // 5-5-5 pixels in little-endian words.
      {"RGB 5-5-5", BuildTiff(Page(2, 1, 16, 1, 2), {cat({word(0x7C00), word(0x001F)})}), {0xF80000, 0x0000F8}},
      {"CIELab", BuildTiff(Page(2, 1, 8, 3, 8), {{255, 0, 0, 0, 0, 0}}), {0xFEFFFF, 0x000204}},
      {"palette 8-bit", BuildTiff(With(Page(3, 1, 8, 1, 3), {Short(320, grayMap)}), {{1, 2, 3}}), {0xFF0000, 0x008000, 0x000040}},
      // 1-bit palette indexes are unpacked before the lookup.
      {"palette 1-bit", BuildTiff(With(Page(3, 1, 1, 1, 3), {Short(320, {0, 0xFF00, 0, 0xFF00, 0, 0})}), {{0x40}}),
       {0x000000, 0xFFFF00, 0x000000}},
      // 16-bit gray from this program is scaled by 4 bits, not 8.
      {"Look@Molli", BuildTiff(With(Page(2, 1, 16, 1, 1), {Ascii(305, "Look@Molli v1.1")}), {cat({word(0x0FF0), word(0x0120)})}),
       {0xFFFFFF, 0x121212}},
      {"16-bit WhiteIsZero", BuildTiff(Page(1, 1, 16, 1, 0), {word(0x1000)}), {0xEFEFEF}},
      // A layout no conversion reads stays as allocated.
      {"2-bit gray", BuildTiff(Page(4, 1, 2, 1, 1), {{0x1B}}), {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TLoaded l = Load(c.file);
    ASSERT_TRUE(l.Ok);
    readerkit::ExpectRgb(l.B(), static_cast<int>(c.expected.size()), 1, c.expected);
  }
  // The 4-bit palette lookup: expanded indexes 1, 2, 3.
  std::vector<uint32_t> map16(48, 0);
  map16[1] = 0xFF00;
  map16[16 + 2] = 0x8000;
  map16[32 + 3] = 0x4000;
  TLoaded p4 = Load(BuildTiff(With(Page(3, 1, 4, 1, 3), {Short(320, map16)}), {{0x12, 0x30}}));
  readerkit::ExpectRgb(p4.B(), 3, 1, {0xFF0000, 0x008000, 0x000040});
  // Palette with a second 8-bit sample: the sample is the alpha value.
  TLoaded pa = Load(BuildTiff(With(Page(2, 1, 8, 2, 3), {Short(320, grayMap)}), {{1, 200, 2, 7}}));
  ASSERT_TRUE(pa.B().HasAlphaChannel());
  EXPECT_EQ(pa.B().AlphaChannel()->Scanline(0)[0], 200);
  EXPECT_EQ(pa.B().AlphaChannel()->Scanline(0)[1], 7);
  readerkit::ExpectRgb(pa.B(), 2, 1, {0xFF0000, 0x008000});
}

TEST(TiffReader, OrientationTurnsThePictureUpright) {
  // Stored 3 x 2: a b c / d e f. Each orientation's upright picture.
  const Bytes stored = {1, 2, 3, 4, 5, 6};
  struct Case {
    int orientation, w, h;
    std::vector<int> upright;
  } cases[] = {
      {1, 3, 2, {1, 2, 3, 4, 5, 6}}, {2, 3, 2, {3, 2, 1, 6, 5, 4}}, {3, 3, 2, {6, 5, 4, 3, 2, 1}},
      {4, 3, 2, {4, 5, 6, 1, 2, 3}}, {5, 2, 3, {1, 4, 2, 5, 3, 6}}, {6, 2, 3, {4, 1, 5, 2, 6, 3}},
      {7, 2, 3, {6, 3, 5, 2, 4, 1}}, {8, 2, 3, {3, 6, 2, 5, 1, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.orientation);
    const Bytes f = BuildTiff(With(Page(3, 2, 8, 1, 1), {Short(274, {uint32_t(c.orientation)})}), {stored});
    TLoaded l = Load(f, [](TIOParams& p) { p.TiffApplyOrientation = true; });
    ASSERT_TRUE(l.Ok);
    readerkit::ExpectGray(l.B(), c.w, c.h, c.upright);
    EXPECT_EQ(l.P().Width, c.w);
    // Without the switch the stored order is kept.
    readerkit::ExpectGray(Load(f).B(), 3, 2, {1, 2, 3, 4, 5, 6});
  }
}

TEST(TiffReader, RejectedAndQuietFiles) {
  const Bytes good = BuildTiff(Page(1, 1, 8, 1, 1), {{9}});
  Bytes differingBits = BuildTiff(With(Page(1, 1, 8, 2, 1), {}), {{9, 9}});
  {
    std::vector<TTag> t = Page(1, 1, 8, 2, 1);
    t[2] = Short(258, {8, 16});
    differingBits = BuildTiff(t, {{9, 9}});
  }
  Bytes badOrder = good;
  badOrder[0] = 'X';
  Bytes firstZero = good;
  std::fill(firstZero.begin() + 4, firstZero.begin() + 8, 0);
  struct Case {
    const char* name;
    Bytes file;
    bool aborting;
  } cases[] = {
      {"byte order", badOrder, true},
      {"first directory at 0", firstZero, false},
      {"differing BitsPerSample", differingBits, true},
      {"width 0", BuildTiff(Page(0, 1, 8, 1, 1), {{9}}), true},
      {"too many pixels", BuildTiff(Page(65536, 65536, 8, 1, 1), {{9}}), true},
      {"absurd samples", BuildTiff(Page(1, 1, 8, 60000, 1), {{9}}), true},
      {"empty", Bytes{}, true},
      {"header only", Bytes{'I', 'I', 42, 0}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "ok.tif", BuildTiff(Page(2, 1, 8, 1, 1), {{5, 6}})));
    EXPECT_EQ(readerkit::Load(io, "bad.tif", c.file), !c.aborting);
    readerkit::ExpectGray(*io.Bitmap(), 2, 1, {5, 6});
  }
}

TEST(TiffReader, HostileFilesEndCleanly) {
  // Two directories pointing at each other: the walk ends.
  Bytes loop = BuildTiff(Page(1, 1, 8, 1, 1), {{9}});
  {
    const uint32_t ifd = loop[4] | (loop[5] << 8);
    const uint32_t n = loop[ifd] | (loop[ifd + 1] << 8);
    const uint32_t nextField = ifd + 2 + 12 * n;
    // A second directory copied behind the file, pointing back at the first.
    const uint32_t second = uint32_t(loop.size());
    Bytes copy(loop.begin() + ifd, loop.begin() + nextField + 4);
    for (int i = 0; i < 4; ++i) copy[copy.size() - 4 + i] = uint8_t(ifd >> (8 * i));
    loop.insert(loop.end(), copy.begin(), copy.end());
    for (int i = 0; i < 4; ++i) loop[nextField + i] = uint8_t(second >> (8 * i));
  }
  TLoaded l = Load(loop);
  EXPECT_TRUE(l.Ok);
  EXPECT_EQ(l.P().TiffPageCount, 2);
  EXPECT_TRUE(Load(loop, [](TIOParams& p) { p.TiffPageIndex = 1; }).Ok);
  TLoaded beyond = Load(loop, [](TIOParams& p) { p.TiffPageIndex = 2; });
  EXPECT_TRUE(beyond.Ok);
  EXPECT_EQ(beyond.B().Width(), 0);

  struct Case {
    const char* name;
    Bytes file;
    std::vector<int> expected;  // gray 3 x 2, or empty when the load must fail before allocating
    bool aborting;
  } cases[] = {
      // A strip offset past the end and a count running past it.
      {"offset past the end", BuildTiff(With(Page(3, 2, 8, 1, 1), {Long(273, {5000}), Long(279, {6})}), {}), {0, 0, 0, 0, 0, 0}, true},
      // A strip at offset 0 whose count runs past the end: the file's own bytes.
      {"count past the end", BuildTiff(With(Page(3, 2, 8, 1, 1), {Long(273, {0}), Long(279, {600})}), {}),
       {73, 73, 42, 0, 8, 0}, true},
      // A strip shorter than its rows, with a count that says so.
      {"short strip", BuildTiff(Page(3, 2, 8, 1, 1), {{1, 2, 3, 4}}), {1, 2, 3, 4, 0, 0}, false},
      // LZW codes out of range: the rows before stay, the load fails.
      {"bad LZW", BuildTiff(With(Page(3, 2, 8, 1, 1, 5), {Long(278, {1})}), {{0x80, 0x00, 0x80, 0x40}, {0xFF, 0xFF, 0xFF}}),
       {2, 2, 0, 0, 0, 0}, true},
      // Tiles wider than the image, and more tiles than the image has.
      {"wide tile", BuildTiff(With(Page(3, 2, 8, 1, 1), {Long(322, {16}), Long(323, {16}), Long(324, {8, 8, 8}), Long(325, {256, 256, 256})}),
                              {Bytes(256, 7)}),
       {7, 7, 7, 7, 7, 7}, false},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    TLoaded r = Load(c.file);
    EXPECT_EQ(r.Ok, !c.aborting);
    if (!c.expected.empty()) readerkit::ExpectGray(r.B(), 3, 2, c.expected);
  }
  // Fax data that never ends a row, on a wide page: rows stay white.
  TLoaded fax = Load(BuildTiff(Page(20000, 2, 1, 1, 0, 4), {Bytes(65536, 0)}));
  EXPECT_TRUE(fax.Ok);
  EXPECT_EQ(readerkit::Bit(fax.B(), 19999, 1), 1);
  // StripOffsets claiming 2^32 - 1 entries: only those the file holds are read.
  {
    Bytes f = BuildTiff(Page(3, 2, 8, 1, 1), {{1, 2, 3, 4, 5, 6}});
    const uint32_t ifd = f[4] | (f[5] << 8);
    const uint32_t n = f[ifd] | (f[ifd + 1] << 8);
    for (uint32_t e = 0; e < n; ++e) {
      const size_t at = ifd + 2 + 12 * e;
      if ((f[at] | (f[at + 1] << 8)) == 273) f[at + 4] = f[at + 5] = f[at + 6] = f[at + 7] = 0xFF;
    }
    TLoaded r = Load(f);
    EXPECT_EQ(r.B().Width(), 3);
  }
  // A directory claiming 65535 entries in a short file.
  Bytes many = {'I', 'I', 42, 0, 8, 0, 0, 0, 0xFF, 0xFF, 0, 1, 3, 0, 1, 0, 0, 0, 2, 0, 0, 0};
  EXPECT_FALSE(Load(many).Ok);
}

TEST(TiffReader, EveryPrefixLoadsWithoutCrash) {
  for (const char* f : {"rgb-lzw-pred-mm.tif", "rgb-planar.tif", "bw-g3-2d.tif"})
    readerkit::SweepPrefixes(f, Fixture(f));
}
