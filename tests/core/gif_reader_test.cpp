// GIF reader: fixtures made by an image converter (global and local tables,
// interlaced, transparent, black and white, a three-frame animation) and
// hand-made code streams for the LZW rules and hostile files.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "io/GifLzw.h"
#include "io/GifReader.h"
#include "tests/core/ReaderTestKit.h"

using readerkit::Bytes;

namespace {

// ---------------------------------------------------------------- builders

// LZW codes packed least-significant bit first, as (code, width) pairs.
Bytes PackCodes(const std::vector<std::pair<int, int>>& codes) {
  Bytes out;
  uint32_t acc = 0;
  int held = 0;
  for (auto [code, width] : codes) {
    acc |= static_cast<uint32_t>(code) << held;
    held += width;
    while (held >= 8) {
      out.push_back(uint8_t(acc));
      acc >>= 8;
      held -= 8;
    }
  }
  if (held > 0) out.push_back(uint8_t(acc));
  return out;
}

// Minimum code size byte, the bytes as sub-blocks of at most 255, terminator.
Bytes ImageData(int minCodeSize, const Bytes& packed) {
  Bytes b = {uint8_t(minCodeSize)};
  for (size_t at = 0; at < packed.size(); at += 255) {
    const size_t n = std::min<size_t>(255, packed.size() - at);
    b.push_back(uint8_t(n));
    b.insert(b.end(), packed.begin() + static_cast<long>(at), packed.begin() + static_cast<long>(at + n));
  }
  b.push_back(0);
  return b;
}

// Codes for the indices without compression: a clear code before every two
// literals keeps the table (and the code width) from growing.
Bytes Uncompressed(int minCodeSize, const std::vector<int>& indices) {
  const int clear = 1 << minCodeSize, width = minCodeSize + 1;
  std::vector<std::pair<int, int>> codes;
  for (size_t i = 0; i < indices.size(); ++i) {
    if (i % 2 == 0) codes.push_back({clear, width});
    codes.push_back({indices[i], width});
  }
  codes.push_back({clear + 1, width});
  return ImageData(minCodeSize, PackCodes(codes));
}

void Le16(Bytes& b, int v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}

// Colour table entries as 0xRRGGBB, written R, G, B.
Bytes Table(const std::vector<uint32_t>& rgb) {
  Bytes b;
  for (uint32_t c : rgb) b.insert(b.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
  return b;
}

int Exponent(size_t entries) {
  int k = 0;
  while ((2u << k) < entries) ++k;
  return k;
}

struct TFrame {
  int Left = 0, Top = 0, Width = 1, Height = 1;
  std::vector<int> Indices;
  std::vector<uint32_t> Local;  // empty: the global table
  int Disposal = 0;
  int Transparent = -1;  // transparent index, -1 for none
  bool TransparentFlag = true;
  bool Interlaced = false;
};

Bytes Gif(int screenW, int screenH, const std::vector<uint32_t>& global, const std::vector<TFrame>& frames,
          const Bytes& extra = {}, int background = 0) {
  Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
  Le16(b, screenW);
  Le16(b, screenH);
  b.push_back(global.empty() ? 0 : uint8_t(0x80 | Exponent(global.size())));
  b.push_back(uint8_t(background));
  b.push_back(0);
  if (!global.empty()) {
    Bytes t = Table(global);
    t.resize(size_t(3) * (2u << Exponent(global.size())), 0);
    b.insert(b.end(), t.begin(), t.end());
  }
  b.insert(b.end(), extra.begin(), extra.end());
  for (const TFrame& f : frames) {
    const bool key = f.Transparent >= 0;
    b.insert(b.end(), {0x21, 0xF9, 4, uint8_t((f.Disposal << 2) | (key && f.TransparentFlag ? 1 : 0)), 10, 0,
                       uint8_t(key ? f.Transparent : 0), 0});
    b.push_back(',');
    Le16(b, f.Left);
    Le16(b, f.Top);
    Le16(b, f.Width);
    Le16(b, f.Height);
    uint8_t packed = f.Interlaced ? 0x40 : 0;
    if (!f.Local.empty()) packed |= uint8_t(0x80 | Exponent(f.Local.size()));
    b.push_back(packed);
    if (!f.Local.empty()) {
      Bytes t = Table(f.Local);
      t.resize(size_t(3) * (2u << Exponent(f.Local.size())), 0);
      b.insert(b.end(), t.begin(), t.end());
    }
    const Bytes data = Uncompressed(2, f.Indices);
    b.insert(b.end(), data.begin(), data.end());
  }
  b.push_back(';');
  return b;
}

// Runs DecodeGifLzw on the bytes; returns whether the stream moved.
bool Decode(const Bytes& data, int width, int height, bool interlaced, std::vector<uint8_t>& out) {
  out.assign(size_t(width) * size_t(height), 0xEE);
  TImStream s(data);
  DecodeGifLzw(s, height, width, interlaced, out);
  return s.Position() != 0;
}

uint32_t Alpha(TImBitmap& b, int x, int y) { return b.AlphaChannel()->Scanline(y)[x]; }

// One channel of the renderer's blend with full alpha: d + floor((s - d) * 255 / 256).
uint32_t Blend(uint32_t s, uint32_t d) {
  uint32_t out = 0;
  for (int sh = 0; sh <= 16; sh += 8) {
    const int sc = int(s >> sh) & 255, dc = int(d >> sh) & 255;
    const int v = dc + static_cast<int>(std::floor((sc - dc) * 255 / 256.0));
    out |= uint32_t(v) << sh;
  }
  return out;
}

// ---------------------------------------------------------------- pictures

const uint32_t kSix[6] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0x00FFFF, 0xFF00FF};
const uint32_t kEight[8] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0x00FFFF, 0xFF00FF, 0x808080, 0x000000};

std::vector<uint32_t> Picture() {  // 5 x 4
  std::vector<uint32_t> p;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) p.push_back(kSix[(x + 2 * y) % 6]);
  return p;
}

std::vector<uint32_t> GreenAsBlack(std::vector<uint32_t> p) {
  for (uint32_t& c : p)
    if (c == 0x00FF00) c = 0;
  return p;
}

std::vector<uint32_t> Rows() {  // 3 x 11
  std::vector<uint32_t> p;
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 3; ++x) p.push_back(x != 1 ? kEight[y % 8] : kEight[(y + 3) % 8]);
  return p;
}

// The animation: screen 8 x 6, background red; frame 0 (4 x 3 at 0,0, kept),
// frame 1 (3 x 2 at 5,4, disposed to the background), frame 2 (3 x 3 at 2,1,
// its top left pixel transparent, disposed to the background).
const uint32_t kFrame0[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00};
const uint32_t kFrame1[2] = {0x00FFFF, 0xFF00FF};
const uint32_t kFrame2[3] = {0xFFFFFF, 0x808080, 0x404040};
uint32_t Frame0(int x, int y) { return kFrame0[(x + y) % 4]; }
uint32_t Frame1(int x, int y) { return kFrame1[(x + y) % 2]; }
uint32_t Frame2(int x, int y) { return kFrame2[(x * y) % 3]; }

// 0xRRGGBB as the toolkit encodes a colour (red in the low byte).
TColor ToolkitColor(uint32_t rgb) { return TColor(((rgb >> 16) & 255) | (rgb & 0xFF00) | ((rgb & 255) << 16)); }

}  // namespace

// ---------------------------------------------------------------- LZW decoder

TEST(GifLzw, CodeSizesAndStreamEnds) {
  struct Case {
    const char* what;
    int minCodeSize;
    std::vector<std::pair<int, int>> codes;
    bool ok;
    std::vector<int> pixels;  // -1: not written
  } cases[] = {
      {"size 2", 2, {{4, 3}, {1, 3}, {3, 3}, {5, 3}}, true, {1, 3}},
      {"size 9 starts at 10 bits", 9, {{512, 10}, {5, 10}, {300, 10}, {513, 10}}, true, {5, 300 & 255}},
      {"size 10 is refused", 10, {{1024, 11}, {5, 11}, {1025, 11}}, false, {-1, -1}},
      {"size 1 is refused", 1, {{2, 2}, {1, 2}, {3, 2}}, false, {-1, -1}},
      {"code above the next free one", 2, {{4, 3}, {1, 3}, {7, 3}, {5, 3}}, false, {1, -1}},
      {"string plus its own first byte", 2, {{4, 3}, {1, 3}, {6, 3}, {5, 3}}, true, {1, 1, 1}},
      {"consecutive clears, then a too large code reads as 0", 2, {{4, 3}, {4, 3}, {4, 3}, {7, 3}, {2, 3}, {5, 3}}, true,
       {0, 2}},
      {"end right after a clear with data left", 2, {{4, 3}, {1, 3}, {4, 3}, {5, 3}, {0, 8}, {0, 8}}, false, {1, -1}},
      {"end right after a clear at the end", 2, {{4, 3}, {1, 3}, {4, 3}, {5, 3}}, true, {1, -1}},
      // 15 bits in two bytes: the spare bit holds no whole code.
      {"no end code: the data's end ends it", 2, {{4, 3}, {2, 3}, {3, 3}, {1, 3}, {0, 3}}, true, {2, 3, 1, 0, -1}},
      // Clear (bits 0-2), 1 (3-5), 2 (6-8) takes the last byte in; 3 and the
      // end code lie wholly in what is left of it and are still decoded.
      {"a code held in the last byte", 2, {{4, 3}, {1, 3}, {2, 3}, {3, 3}, {5, 3}}, true, {1, 2, 3}},
      {"opening code not a literal", 2, {{6, 3}, {5, 3}}, false, {-1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> out;
    const Bytes data = ImageData(c.minCodeSize, PackCodes(c.codes));
    EXPECT_EQ(Decode(data, int(c.pixels.size()), 1, false, out), c.ok);
    for (size_t i = 0; i < c.pixels.size(); ++i)
      EXPECT_EQ(out[i], c.pixels[i] < 0 ? 0xEE : c.pixels[i]) << "pixel " << i;
  }
}

TEST(GifLzw, SuccessLeavesTheStreamAfterTheSubBlocks) {
  Bytes data = ImageData(2, PackCodes({{4, 3}, {1, 3}, {5, 3}}));
  const size_t end = data.size();
  data.push_back(';');
  std::vector<uint8_t> out(1);
  TImStream s(data);
  DecodeGifLzw(s, 1, 1, false, out);
  EXPECT_EQ(s.Position(), static_cast<int64_t>(end));
}

TEST(GifLzw, TableFullAcceptsOnlyAClearCode) {
  // m = 2: entries 6..4095 are added by 4090 codes after the first literal,
  // the width growing at 8, 16, ... 2048 entries. Then one more code.
  auto stream = [](int last) {
    std::vector<std::pair<int, int>> codes = {{4, 3}, {0, 3}};
    int nextFree = 6, width = 3;
    while (nextFree < 4096) {
      codes.push_back({0, width});
      ++nextFree;
      if (nextFree == (1 << width) && width < 12) ++width;
    }
    codes.push_back({last, 12});
    if (last == 4) codes.push_back({1, 3});
    codes.push_back({5, last == 4 ? 3 : 12});
    return ImageData(2, PackCodes(codes));
  };
  std::vector<uint8_t> out;
  EXPECT_TRUE(Decode(stream(4), 4092, 1, false, out));
  EXPECT_EQ(out[4091], 1);
  EXPECT_FALSE(Decode(stream(0), 4092, 1, false, out));
  EXPECT_FALSE(Decode(stream(4000), 4092, 1, false, out));
}

TEST(GifLzw, InterlacedRowsComeInFourPasses) {
  struct Case {
    int height;
    std::vector<int> order;  // rows in the order the data fills them
  } cases[] = {
      {1, {0}},
      {2, {0, 1}},
      {3, {0, 2, 1}},
      {4, {0, 2, 1, 3}},
      {5, {0, 4, 2, 1, 3}},
      {11, {0, 8, 4, 2, 6, 10, 1, 3, 5, 7, 9}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.height);
    std::vector<int> seq(size_t(c.height) + 3);  // three indices more than rows
    std::iota(seq.begin(), seq.end(), 0);
    std::vector<uint8_t> out;
    ASSERT_TRUE(Decode(Uncompressed(4, seq), 1, c.height, true, out));
    for (int k = 0; k < c.height; ++k) EXPECT_EQ(out[size_t(c.order[size_t(k)])], k) << "pass position " << k;
  }
  // Data past the last row of a plain frame is dropped as well.
  std::vector<uint8_t> out;
  ASSERT_TRUE(Decode(Uncompressed(2, {1, 2, 3, 0, 1}), 2, 1, false, out));
  EXPECT_EQ(out, (std::vector<uint8_t>{1, 2}));
}

// ---------------------------------------------------------------- frames

TEST(GifReader, ConverterFixturesGiveTheirPictures) {
  struct Case {
    const char* file;
    int w, h;
    std::vector<uint32_t> picture;
    int bits;
    bool interlaced, transparent;
  } cases[] = {
      {"global.gif", 5, 4, Picture(), 3, false, false},
      {"local.gif", 5, 4, Picture(), 3, false, false},
      // The converter stores the transparent colour (green) as black.
      {"transparent.gif", 5, 4, GreenAsBlack(Picture()), 3, false, true},
      {"interlaced.gif", 3, 11, Rows(), 3, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, c.file, readerkit::ReadFixture(std::string("gif/") + c.file)));
    TImBitmap& b = *io.Bitmap();
    readerkit::ExpectRgb(b, c.w, c.h, c.picture);
    const TIOParams& p = io.Params();
    EXPECT_EQ(p.FileType, ioGIF);
    EXPECT_EQ(p.GifVersion, "GIF89a");
    EXPECT_EQ(p.BitsPerSample, c.bits);
    EXPECT_EQ(p.SamplesPerPixel, 1);
    EXPECT_EQ(p.ColorMapCount, 1 << c.bits);
    EXPECT_EQ(p.GifFrameCount, 1);
    EXPECT_EQ(p.GifInterlaced, c.interlaced);
    EXPECT_EQ(p.GifTransparent, c.transparent);
    EXPECT_EQ(p.DpiX, 300);
    EXPECT_EQ(p.DpiY, 300);
    ASSERT_TRUE(b.HasAlphaChannel());
    EXPECT_EQ(b.AlphaChannel()->AlphaFull, !c.transparent);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x)
        EXPECT_EQ(Alpha(b, x, y), c.transparent && Picture()[size_t(y * c.w + x)] == 0x00FF00 ? 0u : 255u)
            << x << "," << y;
  }
}

TEST(GifReader, BlackThenWhiteTableGivesOneBitPixels) {
  TImageIO io;
  ASSERT_TRUE(readerkit::Load(io, "bw.gif", readerkit::ReadFixture("gif/bw.gif")));
  TImBitmap& b = *io.Bitmap();
  readerkit::ExpectBits(b, {"0101010100", "1111111110", "0000000001"});
  // Width 10: the six spare bits of each row's second byte are 0.
  for (int y = 0; y < 3; ++y) EXPECT_EQ(b.Scanline(y)[1] & 0x3F, 0) << y;
  EXPECT_EQ(io.Params().BitsPerSample, 1);

  struct Case {
    std::vector<uint32_t> table;
    bool native;
    TImPixelFormat format;
  } cases[] = {
      {{0x000000, 0xFFFFFF}, false, im1bit},
      {{0x000000, 0xFFFFFF}, true, im1bit},
      {{0xFFFFFF, 0x000000}, false, im24bgr},
      {{0x000000, 0xFEFFFF}, false, im24bgr},
      {{0x000000, 0xFFFFFF, 0x00FF00}, false, im24bgr},
      {{0x123456, 0xFFFFFF}, true, im8pal},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << PixelFormatName(c.format) << " " << c.table.size());
    TFrame f;
    f.Width = 3;
    f.Indices = {1, 0, 1};
    TImageIO io2;
    io2.SetNativePixelFormat(c.native);
    ASSERT_TRUE(readerkit::Load(io2, "t.gif", Gif(3, 1, c.table, {f})));
    TImBitmap& t = *io2.Bitmap();
    ASSERT_EQ(t.PixelFormat(), c.format);
    if (c.format == im8pal) {
      EXPECT_EQ(t.Scanline(0)[0], 1);
      EXPECT_EQ(t.Scanline(0)[1], 0);
      EXPECT_EQ(t.Palette()[0].R, 0x12);
      EXPECT_EQ(t.Palette()[0].B, 0x56);
    } else if (c.format == im24bgr) {
      EXPECT_EQ(readerkit::Rgb(t, 1, 0), c.table[0]);
      EXPECT_EQ(readerkit::Rgb(t, 2, 0), c.table[1]);
    }
  }
}

TEST(GifReader, TransparencyFlagDecidesTheMask) {
  for (bool native : {false, true})
    for (bool flag : {false, true})
      for (const std::vector<uint32_t>& table :
           {std::vector<uint32_t>{0x000000, 0xFFFFFF}, std::vector<uint32_t>{0x112233, 0x445566}}) {
        SCOPED_TRACE(testing::Message() << "native " << native << " flag " << flag << " " << table[0]);
        TFrame f;
        f.Width = 3;
        f.Indices = {1, 0, 1};
        f.Transparent = 0;
        f.TransparentFlag = flag;
        TImageIO io;
        io.SetNativePixelFormat(native);
        ASSERT_TRUE(readerkit::Load(io, "t.gif", Gif(3, 1, table, {f}, {}, 1)));
        TImBitmap& b = *io.Bitmap();
        EXPECT_EQ(Alpha(b, 0, 0), 255u);
        EXPECT_EQ(Alpha(b, 1, 0), flag ? 0u : 255u);
        const TIOParams& p = io.Params();
        EXPECT_EQ(p.GifTransparent, flag);
        EXPECT_EQ(p.GifTransparentColor.R, uint8_t(table[0] >> 16));
        // The component's background: the transparent colour when flagged,
        // else the background colour (index 1 here).
        EXPECT_EQ(io.Background(), ToolkitColor(flag ? table[0] : table[1]));
      }
}

// ---------------------------------------------------------------- animation

TEST(GifReader, AnimationComposesFramesUpToTheWantedOne) {
  const Bytes file = readerkit::ReadFixture("gif/anim3.gif");
  for (int wanted : {0, 1, 2, 7}) {
    SCOPED_TRACE(wanted);
    TImageIO io;
    io.Params().GifFrameIndex = wanted;
    ASSERT_TRUE(readerkit::Load(io, "anim3.gif", file));
    TImBitmap& b = *io.Bitmap();
    ASSERT_EQ(b.PixelFormat(), im24bgr);
    ASSERT_EQ(b.Width(), 8);
    ASSERT_EQ(b.Height(), 6);
    const TIOParams& p = io.Params();
    EXPECT_EQ(p.GifFrameCount, 3);
    EXPECT_EQ(p.GifFrameIndex, wanted);
    EXPECT_EQ(p.GifScreenWidth, 8);
    EXPECT_EQ(p.GifScreenHeight, 6);
    const int last = std::min(wanted, 2);
    EXPECT_EQ(p.GifDisposal, last == 0 ? 1 : 2);
    const int widths[3] = {4, 3, 3}, lefts[3] = {0, 5, 2};
    EXPECT_EQ(p.Width, widths[last]);
    EXPECT_EQ(p.GifFrameLeft, lefts[last]);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 8; ++x) {
        // Frame 0 stays; frame 1 is drawn, then its area goes back to the
        // background before frame 2, which blends through its alpha.
        uint32_t want = 0xFF0000;
        uint32_t alpha = 0;
        const bool in0 = x < 4 && y < 3, in1 = x >= 5 && y >= 4, in2 = x >= 2 && x < 5 && y >= 1 && y < 4;
        if (in0) want = Frame0(x, y);
        if (in0) alpha = 255;
        if (last == 1 && in1) want = Frame1(x - 5, y - 4);
        if (last == 2) {
          if (in2) {
            const bool clear = x == 2 && y == 1;
            if (!clear) want = Blend(Frame2(x - 2, y - 1), want);
            alpha = clear ? 0 : 255;
          }
        }
        EXPECT_EQ(readerkit::Rgb(b, x, y), want) << x << "," << y;
        EXPECT_EQ(Alpha(b, x, y), alpha) << "alpha " << x << "," << y;
      }
  }
}

TEST(GifReader, CanvasCasesOfHandMadeAnimations) {
  // Black-and-white frames on a black background: 1-bit frames on a 1-bit
  // canvas.
  const std::vector<uint32_t> bw = {0x000000, 0xFFFFFF};
  TFrame a;  // 2 x 2 white at 1,1, kept
  a.Left = a.Top = 1;
  a.Width = a.Height = 2;
  a.Indices = {1, 1, 1, 1};
  a.Disposal = 1;
  TFrame key = a;  // black over a, its top left pixel transparent
  key.Indices = {1, 0, 0, 0};
  key.Transparent = 1;
  TFrame big = key;  // 5 x 4 at 0,0, larger than the 3 x 3 screen
  big.Left = big.Top = 0;
  big.Width = 5;
  big.Height = 4;
  big.Indices = std::vector<int>(20, 0);
  big.Indices[6] = big.Indices[7] = 1;  // (1,1) and (2,1) transparent
  TFrame off = a;  // placed far below the screen
  off.Indices = {0, 0, 0, 0};
  off.Left = 2;
  off.Top = 60000;
  TFrame disposed = a;
  disposed.Disposal = 2;

  struct Case {
    const char* what;
    std::vector<TFrame> frames;
    int wanted;
    std::vector<std::string> rows;
  } cases[] = {
      {"first frame on the screen", {a, key}, 0, {"000", "011", "011"}},
      {"second frame through its transparency", {a, key}, 1, {"000", "010", "000"}},
      {"a disposed frame's area goes back to the background", {disposed, key}, 1, {"000", "000", "000"}},
      {"a larger frame widens the canvas", {a, big}, 1, {"00000", "01100", "00000", "00000"}},
      {"a frame larger than the screen sizes the canvas", {big, a}, 0, {"00000", "00000", "00000", "00000"}},
      {"a frame outside the screen is clipped", {a, off}, 1, {"000", "011", "011"}},
      {"a single frame keeps its own size", {a}, 0, {"11", "11"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TImageIO io;
    io.Params().GifFrameIndex = c.wanted;
    ASSERT_TRUE(readerkit::Load(io, "bw.gif", Gif(3, 3, bw, c.frames)));
    readerkit::ExpectBits(*io.Bitmap(), c.rows);
  }
  // Where the canvas grew, the new area is opaque; outside the first frame
  // it stays transparent.
  TImageIO io;
  io.Params().GifFrameIndex = 1;
  ASSERT_TRUE(readerkit::Load(io, "bw.gif", Gif(3, 3, bw, {a, big})));
  EXPECT_EQ(Alpha(*io.Bitmap(), 4, 3), 255u);
  EXPECT_EQ(Alpha(*io.Bitmap(), 0, 0), 0u);
  EXPECT_EQ(Alpha(*io.Bitmap(), 1, 1), 255u);
}

TEST(GifReader, CommentsAreCollectedOncePerSubBlock) {
  // Comment extension with three sub-blocks: "one", "two\0tail", "" cut to
  // nothing by a leading zero; a second comment after the first frame.
  const Bytes c1 = {0x21, 0xFE, 3, 'o', 'n', 'e', 8, 't', 'w', 'o', 0, 't', 'a', 'i', 'l', 2, 0, 'x', 0};
  TFrame f;
  f.Indices = {1};
  Bytes file = Gif(1, 1, {0x000000, 0xFFFFFF}, {f, f}, c1);
  const Bytes c2 = {0x21, 0xFE, 5, 'l', 'a', 't', 'e', 'r', 0};
  file.insert(file.end() - 1, c2.begin(), c2.end());
  TImageIO io;
  io.Params().GifFrameIndex = 1;
  ASSERT_TRUE(readerkit::Load(io, "c.gif", file));
  EXPECT_EQ(io.Params().GifComments, (std::vector<std::string>{"one", "two", "later"}));
  EXPECT_EQ(io.Params().GifFrameCount, 2);
}

// ---------------------------------------------------------------- bad input

TEST(GifReader, HostileFilesFailCleanly) {
  const std::vector<uint32_t> bw = {0x000000, 0xFFFFFF};
  TFrame f;
  f.Width = 2;
  f.Indices = {1, 0};
  TFrame huge = f;
  huge.Width = huge.Height = 65535;
  Bytes noDescriptor = Gif(2, 1, bw, {});
  Bytes badCodes = Gif(2, 1, bw, {f});
  badCodes[badCodes.size() - 4] = 0xFF;  // first code 7: above the table
  Bytes badMinSize = Gif(2, 1, bw, {f});
  const Bytes data = Uncompressed(2, {1, 0});
  badMinSize[badMinSize.size() - 1 - data.size()] = 12;
  struct Case {
    const char* what;
    Bytes file;
    bool ok;
  } cases[] = {
      {"not a GIF signature", {'G', 'I', 'X', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, ';'}, false},
      {"header only", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0}, false},
      {"no image descriptor", noDescriptor, true},
      {"codes out of range", badCodes, false},
      {"minimum code size 12", badMinSize, false},
      {"a frame of 65535 x 65535", Gif(2, 1, bw, {huge}), false},
      {"an animation on a 65535 x 65535 screen", Gif(65535, 65535, bw, {f, f}), false},
      {"unknown bytes between blocks", [&] {
         Bytes b = Gif(2, 1, bw, {f});
         b.insert(b.begin() + 19, {0x00, 0x7F, 0xC3});
         return b;
       }(),
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TImageIO io;
    io.Bitmap()->Allocate(3, 3, im24bgr);
    io.Bitmap()->Fill(0x0000FF);
    EXPECT_EQ(readerkit::Load(io, "bad.gif", c.file), c.ok);
    TImBitmap& b = *io.Bitmap();
    EXPECT_EQ(io.Params().FileType, ioGIF);
    if (!c.ok || std::string(c.what) == "no image descriptor") {
      // Nothing is assigned: the previous image stays.
      ASSERT_EQ(b.Width(), 3);
      EXPECT_EQ(readerkit::Rgb(b, 2, 2), 0xFF0000u);
    } else {
      readerkit::ExpectBits(b, {"10"});
    }
  }
}

TEST(GifReader, TruncatedFilesNeverCrash) {
  for (const char* name : {"global.gif", "interlaced.gif", "transparent.gif", "bw.gif"})
    readerkit::SweepPrefixes(name, readerkit::ReadFixture(std::string("gif/") + name));
  const Bytes anim = readerkit::ReadFixture("gif/anim3.gif");
  for (size_t n = 0; n < anim.size(); ++n)
    for (int wanted : {0, 2}) {
      TImageIO io;
      io.Params().GifFrameIndex = wanted;
      if (readerkit::Load(io, "anim3.gif", Bytes(anim.begin(), anim.begin() + long(n))) &&
          io.Params().GifFrameCount > 1) {
        EXPECT_EQ(io.Bitmap()->Width(), 8) << n;
        EXPECT_EQ(io.Bitmap()->Height(), 6) << n;
      }
    }
}

TEST(GifReader, HeaderOnlyReadTouchesNoPixels) {
  const Bytes file = readerkit::ReadFixture("gif/anim3.gif");
  TImStream s(file);
  TImBitmap bitmap;
  std::unique_ptr<TImMask> mask;
  TIOParams params;
  params.GifFrameIndex = 2;
  bool aborting = false;
  TLoadProgress progress;
  std::vector<int> reports;
  TIOProgressEvent event = [&](void*, int percent) { reports.push_back(percent); };
  progress.Event = &event;
  progress.Aborting = &aborting;
  int count = 0;
  ReadGifStream(s, bitmap, count, false, mask, true, progress, params);
  EXPECT_FALSE(aborting);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(bitmap.Width(), 0);
  EXPECT_EQ(mask, nullptr);
  EXPECT_EQ(params.Width, 3);
  EXPECT_EQ(params.GifFrameLeft, 2);
  EXPECT_TRUE(params.GifTransparent);
  EXPECT_EQ(params.ColorMapCount, 4);
  EXPECT_EQ(params.GifBackgroundColor.R, 255);
  EXPECT_EQ(reports, (std::vector<int>{0, 30, 100}));
}
