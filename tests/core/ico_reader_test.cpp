// Icon and cursor reader: converter fixtures, hand-made icons of each depth
// with AND masks, cursors, directories and hostile headers.
#include <gtest/gtest.h>

#include "tests/core/ReaderTestKit.h"

using readerkit::Bytes;
using readerkit::kSix;

namespace {

// Alpha of the transparent fixtures: a clear border, one half-opaque pixel.
const std::vector<int> kAlpha = {0, 0, 0, 0, 0, 0, 255, 255, 128, 0, 0, 255, 255, 255, 0, 0, 0, 0, 0, 0};

void Put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  Put16(b, at, v);
  Put16(b, at + 2, v >> 16);
}

struct TImage {
  int EntryWidth = 0, EntryHeight = 0, ColorCount = 0, Planes = 1, EntryBits = 0;
  int32_t HeaderWidth = 0, HeaderHeight = 0;  // the height counts both masks
  int HeaderBits = 0;
  int32_t Ppm = 0;
  std::vector<uint32_t> Palette;  // 0xRRGGBB
  Bytes Colour, And;              // rows bottom-up, padded to 4 bytes
  Bytes Raw;                      // used instead of header + table + rows when set
};

// A directory of the images followed by their data.
Bytes Ico(const std::vector<TImage>& images, int type = 1, int count = -1) {
  Bytes f(6 + 16 * images.size(), 0);
  Put16(f, 2, uint32_t(type));
  Put16(f, 4, uint32_t(count < 0 ? int(images.size()) : count));
  for (size_t i = 0; i < images.size(); ++i) {
    const TImage& m = images[i];
    Bytes data = m.Raw;
    if (data.empty()) {
      data.assign(40, 0);
      Put32(data, 0, 40);
      Put32(data, 4, uint32_t(m.HeaderWidth));
      Put32(data, 8, uint32_t(m.HeaderHeight));
      Put16(data, 12, 1);
      Put16(data, 14, uint32_t(m.HeaderBits));
      Put32(data, 24, uint32_t(m.Ppm));
      Put32(data, 28, uint32_t(m.Ppm));
      for (uint32_t c : m.Palette) data.insert(data.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), 0});
      data.insert(data.end(), m.Colour.begin(), m.Colour.end());
      data.insert(data.end(), m.And.begin(), m.And.end());
    }
    const size_t e = 6 + 16 * i;
    f[e] = uint8_t(m.EntryWidth);
    f[e + 1] = uint8_t(m.EntryHeight);
    f[e + 2] = uint8_t(m.ColorCount);
    Put16(f, e + 4, uint32_t(m.Planes));
    Put16(f, e + 6, uint32_t(m.EntryBits));
    Put32(f, e + 8, uint32_t(data.size()));
    Put32(f, e + 12, uint32_t(f.size()));
    f.insert(f.end(), data.begin(), data.end());
  }
  return f;
}

// A 3 x 2 4-bit image: top row indexes 1 2 3, bottom row 3 2 1; the AND
// mask makes the top row's first pixel and the bottom row's last one clear.
TImage FourBit() {
  TImage m;
  m.EntryWidth = 3;
  m.EntryHeight = 2;
  m.ColorCount = 16;
  m.HeaderWidth = 3;
  m.HeaderHeight = 4;
  m.HeaderBits = 4;
  m.Palette = {0x000000, 0x112233, 0x445566, 0x778899};
  m.Palette.resize(16, 0);
  m.Colour = {0x32, 0x10, 0, 0, 0x12, 0x30, 0, 0};
  m.And = {0x20, 0, 0, 0, 0x80, 0, 0, 0};
  return m;
}

std::vector<int> AlphaOf(TImBitmap& b) {
  std::vector<int> a;
  TImBitmap* alpha = b.AlphaChannel();
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) a.push_back(alpha->Scanline(y)[x]);
  return a;
}

}  // namespace

TEST(IcoReader, ConverterFixturesGiveThePictureAndItsAlpha) {
  const std::vector<uint32_t> white = [] {
    std::vector<uint32_t> t = kSix;
    for (int i = 0; i < 20; ++i)
      if (kAlpha[i] == 0) t[i] = 0xFFFFFF;
    return t;
  }();
  std::vector<int> opaque(20, 255), binary = kAlpha;
  binary[8] = 255;
  struct Case {
    const char* file;
    std::vector<uint32_t> picture;
    std::vector<int> alpha;
    int bits, samples, mapCount;
    bool anyColourWhereClear;  // the converter may store any colour under a clear pixel
  } cases[] = {
      {"rgb.ico", kSix, opaque, 8, 4, 0, false},
      {"rgba.ico", kSix, kAlpha, 8, 4, 0, true},
      // An image stored as a PNG stream.
      {"png.ico", kSix, kAlpha, 8, 4, 0, true},
      {"pal.ico", kSix, opaque, 4, 1, 16, false},
      // A 4-bit icon's clear pixels take the icon background, white.
      {"palt.ico", white, binary, 4, 1, 16, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, c.file, readerkit::ReadFixture(std::string("ico/") + c.file)));
    if (c.anyColourWhereClear) {
      for (int i = 0; i < 20; ++i)
        if (kAlpha[i] != 0) {
          EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), i % 5, i / 5), kSix[i]) << i;
        }
    } else {
      readerkit::ExpectRgb(*io.Bitmap(), 5, 4, c.picture);
    }
    ASSERT_TRUE(io.Bitmap()->HasAlphaChannel());
    EXPECT_EQ(AlphaOf(*io.Bitmap()), c.alpha);
    const TIOParams& p = io.Params();
    EXPECT_EQ(p.FileType, ioICO);
    EXPECT_EQ(p.BitsPerSample, c.bits);
    EXPECT_EQ(p.SamplesPerPixel, c.samples);
    EXPECT_EQ(p.ColorMapCount, c.mapCount);
    EXPECT_EQ(p.IcoSizes[0].Width, 5);
    EXPECT_EQ(p.IcoSizes[0].Height, 4);
    EXPECT_EQ(p.DpiX, 300);
  }
}

TEST(IcoReader, DepthsAndTransparency) {
  // 4 and 8 bits: clear pixels take the background and alpha 0.
  TImage eight = FourBit();
  eight.HeaderBits = 8;
  eight.ColorCount = 0;
  eight.Palette.resize(256, 0);
  eight.Colour = {3, 2, 1, 0, 1, 2, 3, 0};
  // 24 bits: the AND mask is not applied; the colours stay as stored.
  TImage rgb = FourBit();
  rgb.HeaderBits = 24;
  rgb.ColorCount = 0;
  rgb.Palette.clear();
  rgb.Colour = {0x33, 0x22, 0x11, 0x66, 0x55, 0x44, 0x99, 0x88, 0x77, 0, 0, 0,
                0x99, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0, 0, 0};
  // 32 bits: the fourth byte is the alpha.
  TImage rgba = rgb;
  rgba.HeaderBits = 32;
  rgba.Colour = {0x33, 0x22, 0x11, 10, 0x66, 0x55, 0x44, 20, 0x99, 0x88, 0x77, 30,
                 0x99, 0x88, 0x77, 40, 0x66, 0x55, 0x44, 50, 0x33, 0x22, 0x11, 60};
  struct Case {
    const char* name;
    TImage image;
    std::vector<uint32_t> expected;
    std::vector<int> alpha;
  } cases[] = {
      {"4 bits", FourBit(), {0xFFFFFF, 0x445566, 0x778899, 0x778899, 0x445566, 0xFFFFFF}, {0, 255, 255, 255, 255, 0}},
      {"8 bits", eight, {0xFFFFFF, 0x445566, 0x778899, 0x778899, 0x445566, 0xFFFFFF}, {0, 255, 255, 255, 255, 0}},
      {"24 bits", rgb, {0x778899, 0x445566, 0x112233, 0x112233, 0x445566, 0x778899}, {255, 255, 255, 255, 255, 255}},
      {"32 bits", rgba, {0x778899, 0x445566, 0x112233, 0x112233, 0x445566, 0x778899}, {40, 50, 60, 10, 20, 30}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "d.ico", Ico({c.image})));
    readerkit::ExpectRgb(*io.Bitmap(), 3, 2, c.expected);
    EXPECT_EQ(AlphaOf(*io.Bitmap()), c.alpha);
  }

  // 1 bit: a clear pixel shows the inverse of its colour bit on the default
  // white background, and the bit as stored on any other.
  TImage mono;
  mono.EntryWidth = 4;
  mono.EntryHeight = 1;
  mono.HeaderWidth = 4;
  mono.HeaderHeight = 2;
  mono.HeaderBits = 1;
  mono.Palette = {0x000000, 0xFFFFFF};
  mono.Colour = {0x50, 0, 0, 0};  // 0 1 0 1
  mono.And = {0x30, 0, 0, 0};     // the last two clear
  for (bool whiteBackground : {true, false}) {
    SCOPED_TRACE(whiteBackground ? "white background" : "black background");
    TImageIO io;
    if (!whiteBackground) io.Params().IcoBackground = TImRGB{0, 0, 0};
    ASSERT_TRUE(readerkit::Load(io, "m.ico", Ico({mono})));
    readerkit::ExpectBits(*io.Bitmap(), {whiteBackground ? "0110" : "0101"});
    EXPECT_EQ(AlphaOf(*io.Bitmap()), (std::vector<int>{255, 255, 0, 0}));
    EXPECT_EQ(io.Params().BitsPerSample, 1);
  }
  // Another background colour for 4 bits.
  TImageIO io;
  io.Params().IcoBackground = TImRGB{0x30, 0x20, 0x10};
  ASSERT_TRUE(readerkit::Load(io, "b.ico", Ico({FourBit()})));
  EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), 0, 0), 0x102030u);
}

TEST(IcoReader, DirectoryAndImageChoice) {
  // Twenty images: the sizes of the first sixteen are listed; the chosen
  // index picks the image.
  std::vector<TImage> images;
  for (int i = 0; i < 20; ++i) {
    TImage m = FourBit();
    m.EntryWidth = i + 1;
    m.EntryHeight = 2;
    m.HeaderWidth = i + 1;
    m.Colour.assign(size_t((i + 8) / 8 * 4 * 2), uint8_t(0x11 * (i % 4)));
    m.And.assign(size_t((i + 32) / 32 * 4 * 2), 0);
    m.ColorCount = 0;
    m.EntryBits = 4;
    images.push_back(m);
  }
  images[3].EntryBits = 0;
  images[3].ColorCount = 16;
  images[4].EntryBits = 0;
  const Bytes file = Ico(images);
  TImageIO io;
  io.Params().IcoImageIndex = 2;
  ASSERT_TRUE(readerkit::Load(io, "many.ico", file));
  const TIOParams& p = io.Params();
  EXPECT_EQ(p.Width, 3);
  EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), 2, 0), 0x445566u);
  EXPECT_EQ(p.IcoSizes[15].Width, 16);
  EXPECT_EQ(p.IcoBitCounts[0], 4);
  EXPECT_EQ(p.IcoBitCounts[3], 4);   // from the colour count
  EXPECT_EQ(p.IcoBitCounts[4], 24);  // neither given
  io.Params().IcoImageIndex = 19;
  ASSERT_TRUE(readerkit::Load(io, "many.ico", file));
  EXPECT_EQ(io.Params().Width, 20);

  // A bitmap file under an icon's name loads as a bitmap.
  Bytes bmp = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0};
  bmp.resize(54, 0);
  bmp.insert(bmp.end(), {0x03, 0x02, 0x01, 0});
  TImageIO b;
  ASSERT_TRUE(readerkit::Load(b, "x.ico", bmp));
  readerkit::ExpectRgb(*b.Bitmap(), 1, 1, {0x010203});
  EXPECT_EQ(b.Params().FileType, ioICO);
  EXPECT_FALSE(b.Bitmap()->HasAlphaChannel());

  // A header width that differs from the entry's wins while it is plausible.
  TImage odd = FourBit();
  odd.EntryWidth = 32;
  odd.EntryHeight = 32;
  TImageIO o;
  ASSERT_TRUE(readerkit::Load(o, "odd.ico", Ico({odd})));
  EXPECT_EQ(o.Params().Width, 3);
  EXPECT_EQ(o.Params().Height, 2);
  // Entry sizes of 0 come from the header.
  TImage zero = FourBit();
  zero.EntryWidth = zero.EntryHeight = 0;
  ASSERT_TRUE(readerkit::Load(o, "zero.ico", Ico({zero})));
  EXPECT_EQ(o.Params().Width, 3);
  EXPECT_EQ(o.Params().Height, 2);
  // A resolution in the header.
  zero.Ppm = 2835;
  ASSERT_TRUE(readerkit::Load(o, "zero.ico", Ico({zero})));
  EXPECT_EQ(o.Params().DpiX, 72);
}

TEST(IcoReader, Cursors) {
  TImage cur = FourBit();
  cur.Planes = 5;      // hot spot X
  cur.EntryBits = 7;   // hot spot Y
  cur.ColorCount = 4;  // the table's length
  cur.Palette.resize(4);
  TImageIO io;
  ASSERT_TRUE(readerkit::Load(io, "p.cur", Ico({cur}, 2)));
  const TIOParams& p = io.Params();
  EXPECT_EQ(p.FileType, ioCUR);
  EXPECT_EQ(p.CurHotSpotX, 5);
  EXPECT_EQ(p.CurHotSpotY, 7);
  EXPECT_EQ(p.ColorMapCount, 4);
  EXPECT_EQ(p.BitsPerSample, 4);
  EXPECT_EQ(p.SamplesPerPixel, 1);
  readerkit::ExpectRgb(*io.Bitmap(), 3, 2, {0xFFFFFF, 0x445566, 0x778899, 0x778899, 0x445566, 0xFFFFFF});
  EXPECT_EQ(AlphaOf(*io.Bitmap()), (std::vector<int>{0, 255, 255, 255, 255, 0}));
  // The cursor background; the icon one is not used.
  TImageIO c;
  c.Params().CurBackground = TImRGB{0, 0, 0};
  ASSERT_TRUE(readerkit::Load(c, "p.cur", Ico({cur}, 2)));
  EXPECT_EQ(readerkit::Rgb(*c.Bitmap(), 0, 0), 0u);
  // A 24-bit cursor is read like a 24-bit icon.
  TImage deep = FourBit();
  deep.HeaderBits = 24;
  deep.ColorCount = 0;
  deep.Palette.clear();
  deep.Colour = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0, 0};
  TImageIO dc;
  ASSERT_TRUE(readerkit::Load(dc, "deep.cur", Ico({deep}, 2)));
  readerkit::ExpectRgb(*dc.Bitmap(), 3, 2, {0x070809, 0x040506, 0x010203, 0x030201, 0x060504, 0x090807});
  EXPECT_EQ(dc.Params().ColorMapCount, 0);
  // A cursor image stored as a PNG stream keeps its hot spot.
  const Bytes pngIcon = readerkit::ReadFixture("ico/png.ico");
  TImage png;
  png.Planes = 2;
  png.EntryBits = 3;
  png.Raw.assign(pngIcon.begin() + 22, pngIcon.end());
  TImageIO pc;
  ASSERT_TRUE(readerkit::Load(pc, "png.cur", Ico({png}, 2)));
  EXPECT_EQ(pc.Params().Width, 5);
  EXPECT_EQ(pc.Params().CurHotSpotX, 2);
  EXPECT_EQ(pc.Params().CurHotSpotY, 3);
  EXPECT_TRUE(pc.Bitmap()->HasAlphaChannel());
  // A cursor's depth comes from its header only: a bit count in the entry is
  // the hot spot.
  TImage noDepth = cur;
  noDepth.HeaderBits = 0;
  noDepth.ColorCount = 0;
  EXPECT_FALSE(readerkit::Load(c, "n.cur", Ico({noDepth}, 2)));
  // A cursor index past the directory.
  c.Params().CurImageIndex = 1;
  EXPECT_FALSE(readerkit::Load(c, "p.cur", Ico({cur}, 2)));
}

TEST(IcoReader, RejectedFilesLeaveThePreviousImage) {
  TImage good = FourBit();
  auto with = [&](auto change) {
    TImage m = good;
    change(m);
    return Ico({m});
  };
  const Bytes goodFile = Ico({good});
  struct Case {
    const char* name;
    Bytes file;
  } cases[] = {
      {"no images", Ico({}, 1, 0)},
      {"index past the directory", Ico({good}, 1, 0)},
      {"short directory", Bytes(goodFile.begin(), goodFile.begin() + 4)},
      {"entry cut short", Bytes(goodFile.begin(), goodFile.begin() + 12)},
      {"image offset past the end", [&] {
         Bytes f = goodFile;
         Put32(f, 18, 100000);
         return f;
       }()},
      {"header cut short", Bytes(goodFile.begin(), goodFile.begin() + 40)},
      {"no depth anywhere", with([](TImage& m) { m.HeaderBits = 0; m.EntryBits = 0; m.ColorCount = 0; })},
      {"16 bits", with([](TImage& m) { m.HeaderBits = 16; })},
      {"2 bits", with([](TImage& m) { m.HeaderBits = 2; })},
      {"header size 12", with([](TImage& m) {
         m.Raw = {12, 0, 0, 0, 3, 0, 4, 0, 1, 0, 4, 0};
       })},
      {"zero size", with([](TImage& m) { m.EntryWidth = 0; m.HeaderWidth = 0; })},
      {"negative height", with([](TImage& m) { m.EntryHeight = 0; m.HeaderHeight = -4; })},
      {"too many pixels", with([](TImage& m) {
         m.EntryWidth = m.EntryHeight = 0;
         m.HeaderWidth = 100000;
         m.HeaderHeight = 200000;
       })},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "ok.ico", goodFile));
    EXPECT_FALSE(readerkit::Load(io, "bad.ico", c.file));
    readerkit::ExpectRgb(*io.Bitmap(), 3, 2, {0xFFFFFF, 0x445566, 0x778899, 0x778899, 0x445566, 0xFFFFFF});
  }
}

TEST(IcoReader, ShortImagesLeaveTheRestBlack) {
  // The colour rows end after the bottom row: the top row is black and
  // opaque, and the load fails.
  TImage m = FourBit();
  m.Colour.resize(4);
  m.And.clear();
  TImageIO io;
  EXPECT_FALSE(readerkit::Load(io, "s.ico", Ico({m})));
  readerkit::ExpectRgb(*io.Bitmap(), 3, 2, {0, 0, 0, 0x778899, 0x445566, 0x112233});
  EXPECT_EQ(AlphaOf(*io.Bitmap()), std::vector<int>(6, 255));
  // Indexes past a cursor's four-entry table are black.
  TImage idx = FourBit();
  idx.HeaderBits = 8;
  idx.ColorCount = 4;
  idx.Palette.resize(4);
  idx.Colour = {255, 200, 1, 0, 1, 2, 3, 0};
  idx.And.assign(8, 0);
  ASSERT_TRUE(readerkit::Load(io, "i.cur", Ico({idx}, 2)));
  readerkit::ExpectRgb(*io.Bitmap(), 3, 2, {0x112233, 0x445566, 0x778899, 0, 0, 0x112233});
  // A header promising more than the file holds, but no more than it could
  // describe, reads only what exists.
  TImage big = FourBit();
  big.EntryWidth = big.EntryHeight = 0;
  big.HeaderWidth = 30;
  big.HeaderHeight = 60;
  big.Colour = {0x12};
  big.And.clear();
  EXPECT_FALSE(readerkit::Load(io, "b.ico", Ico({big})));
  EXPECT_EQ(io.Bitmap()->Width(), 30);
  EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), 1, 29), 0x445566u);
  EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), 2, 29), 0u);
  EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), 0, 0), 0u);
}

TEST(IcoReader, EveryPrefixLoadsWithoutCrash) {
  for (const char* f : {"palt.ico", "rgba.ico", "png.ico"})
    readerkit::SweepPrefixes(f, readerkit::ReadFixture(std::string("ico/") + f));
  readerkit::SweepPrefixes("c.cur", Ico({FourBit()}, 2));
}
