// Metafile reader: drawings exported by a drawing program compared with that
// program's own rendering, the sizing rules, the alpha rule, file types by
// content, errors, the records one by one, and hostile files.
#include <gtest/gtest.h>

#include <QImage>

#include <array>
#include <cstdlib>
#include <cstring>
#include <random>
#include <tuple>

#include "io/MetafilePlayer.h"
#include "io/MetafileReader.h"
#include "tests/core/MetafileBuilder.h"
#include "tests/core/ReaderTestKit.h"

using mfbuild::Bytes;
using mfbuild::Emf;
using mfbuild::Wmf;
using readerkit::Rgb;

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;

// A pixel expected at a place of the picture.
struct TProbe {
  const char* what;
  int x, y;
  uint32_t rgb;
};

void ExpectProbes(TImBitmap& b, std::initializer_list<TProbe> probes) {
  for (const TProbe& p : probes) EXPECT_EQ(Rgb(b, p.x, p.y), p.rgb) << p.what;
}

// Loads with a white background; true when the load did not abort.
bool LoadMf(TImageIO& io, const std::string& name, const Bytes& bytes, TColor background = clWhite) {
  io.SetBackground(background);
  return readerkit::Load(io, name, bytes);
}

uint8_t Alpha(TImBitmap& b, int x, int y) { return b.AlphaChannel()->Scanline(y)[x]; }

// Share of pixels that differ from the reference by more than 64 in some
// channel, outside the area skipped.
double DifferentShare(TImBitmap& b, const QImage& ref, QRect skip) {
  int64_t differ = 0, counted = 0;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      if (skip.contains(x, y)) continue;
      const uint32_t got = Rgb(b, x, y);
      const QRgb want = ref.pixel(x, y);
      const int dr = std::abs(int(got >> 16) - qRed(want));
      const int dg = std::abs(int((got >> 8) & 0xFF) - qGreen(want));
      const int db = std::abs(int(got & 0xFF) - qBlue(want));
      ++counted;
      if (std::max({dr, dg, db}) > 64) ++differ;
    }
  return counted ? double(differ) / double(counted) : 1.0;
}

}  // namespace

// Both fixtures hold the same drawing (rectangle with outline, ellipse,
// triangle, a closed Bezier path with outline, a 2 x 2-colour bitmap and a
// line of text), exported by LibreOffice Draw; the references are its own
// rendering at the same pixel size. The tolerance covers its antialiased
// edges and its smoothing of the bitmap; the text is left out because fonts
// need a GUI application (the GUI tests compare it).
TEST(MetafileReader, DrawingMatchesTheExportingProgramsRendering) {
  struct Case {
    const char* file;
    const char* ref;
    int32_t type;
    int w, h;
  } cases[] = {
      {"wmf/drawing.wmf", "wmf/drawing_ref.png", ioWMF, 358, 262},
      {"emf/drawing.emf", "emf/drawing_ref.png", ioEMF, 360, 263},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TImageIO io;
    ASSERT_TRUE(LoadMf(io, c.file + 4, readerkit::ReadFixture(c.file)));
    TImBitmap& b = *io.Bitmap();
    ASSERT_EQ(b.PixelFormat(), im24bgr);
    ASSERT_EQ(b.Width(), c.w);
    ASSERT_EQ(b.Height(), c.h);
    EXPECT_EQ(io.Params().FileType, c.type);
    EXPECT_EQ(io.Params().Width, c.w);
    EXPECT_EQ(io.Params().Height, c.h);
    EXPECT_EQ(io.Params().DpiX, 300);
    EXPECT_EQ(io.Params().BitsPerSample, 8);
    EXPECT_EQ(io.Params().SamplesPerPixel, 3);
    const QImage ref = QImage(QString(TARVELLE_FIXTURES) + "/" + c.ref).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(ref.size(), QSize(c.w, c.h));
    EXPECT_LT(DifferentShare(b, ref, QRect(138, 96, 130, 38)), 0.04);
    // Probes inside each shape, and the untouched background.
    const struct {
      int x, y;
      uint32_t rgb;
    } probes[] = {{66, 47, 0xFF0000}, {247, 47, 0x0000FF}, {66, 220, 0x00A000}, {230, 225, 0xFFFF00},
                  {296, 146, 0xFF00FF}, {338, 146, 0x00C8C8}, {296, 190, 0xFF8000}, {338, 190, 0x000080},
                  {20, 130, kWhite}};
    for (const auto& p : probes) EXPECT_EQ(Rgb(b, p.x, p.y), p.rgb) << p.x << "," << p.y;
    ASSERT_TRUE(b.HasAlphaChannel());
    EXPECT_EQ(Alpha(b, 20, 130), 0);
    EXPECT_EQ(Alpha(b, 66, 47), 255);
    EXPECT_FALSE(b.AlphaChannel()->AlphaFull);
  }
}

TEST(MetafileReader, PixelSizeFollowsTheHeader) {
  struct Case {
    const char* what;
    Bytes file;
    int w, h;
  } cases[] = {
      // 2880 units at 1440 per inch are 2 inches: 192 pixels at 96 per inch.
      {"placeable 1440 per inch", Wmf().File(0, 0, 2880, 1440, 1440), 192, 96},
      {"placeable, box not at 0", Wmf().File(-1440, 100, 1440, 820, 1440), 192, 48},
      // 0 units per inch counts as 96, and the screen is the reference device.
      {"placeable 0 per inch", Wmf().File(0, 0, 96, 48, 0), 96, 48},
      // Frame 25 mm at 4 pixels per millimetre of the reference device.
      {"enhanced", Emf().File100(), 100, 100},
      {"enhanced, 1440 x 900 reference", Emf().File(0, 0, 5080, 2540, 1440, 900, 381, 254), 192, 90},
      // 50 cm at 40 pixels per millimetre is 20000 pixels: the larger side
      // becomes 16000 and the other keeps the aspect ratio.
      {"enhanced 50 cm wide", Emf().File(0, 0, 50000, 1000, 10000, 10000, 250, 250), 16000, 320},
      {"enhanced 50 cm high", Emf().File(0, 0, 1000, 50000, 10000, 10000, 250, 250), 320, 16000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TImageIO io;
    ASSERT_TRUE(LoadMf(io, "size.wmf", c.file));
    EXPECT_EQ(io.Bitmap()->Width(), c.w);
    EXPECT_EQ(io.Bitmap()->Height(), c.h);
    EXPECT_EQ(io.Params().Width, c.w);
    EXPECT_EQ(io.Params().Height, c.h);
  }
  EXPECT_EQ(ImMulDiv(2880, 96, 1440), 192);
  EXPECT_EQ(ImMulDiv(5, 1, 2), 3);
  EXPECT_EQ(ImMulDiv(-5, 1, 2), -3);
  EXPECT_EQ(ImMulDiv(1, 2, 0), -1);
  EXPECT_EQ(ImMulDiv(INT32_MAX, 4, 1), -1);
}

TEST(MetafileReader, RequestedSizes) {
  const Bytes file = Wmf().File(0, 0, 2880, 1440, 1440);  // 192 x 96
  struct Case {
    int w, h, wantW, wantH;
  } cases[] = {{-1, -1, 192, 96}, {50, 40, 50, 40}, {-1, 48, 96, 48}, {96, -1, 96, 48}};
  const std::string path = readerkit::WriteTemp("req.wmf", file);
  for (const Case& c : cases) {
    TImageIO io;
    io.ImportMetafile(path, c.w, c.h, false);
    EXPECT_FALSE(io.Aborting);
    EXPECT_EQ(io.Bitmap()->Width(), c.wantW) << c.w << "," << c.h;
    EXPECT_EQ(io.Bitmap()->Height(), c.wantH) << c.w << "," << c.h;
    EXPECT_FALSE(io.Bitmap()->HasAlphaChannel());
  }
  // A requested 0 does nothing at all.
  TImageIO io;
  int finished = 0;
  io.OnProgress = [&](void*, int percent) { finished += percent == 100; };
  io.ImportMetafile(path, 0, 10, true);
  EXPECT_FALSE(io.Aborting);
  EXPECT_EQ(io.Bitmap()->Width(), 0);
  EXPECT_EQ(finished, 1);
}

TEST(MetafileReader, FileTypeComesFromTheContent) {
  TImageIO io;
  ASSERT_TRUE(LoadMf(io, "really-emf.wmf", Emf().File100()));
  EXPECT_EQ(io.Params().FileType, ioEMF);
  ASSERT_TRUE(LoadMf(io, "really-wmf.emf", Wmf().File(0, 0, 96, 96, 96)));
  EXPECT_EQ(io.Params().FileType, ioWMF);
  EXPECT_EQ(io.Params().FileName, readerkit::TempDir() + "/really-wmf.emf");
}

// Untouched background gets alpha 0, drawn pixels 255; a picture covering
// everything is marked wholly opaque.
TEST(MetafileReader, AlphaMarksWhatThePictureLeavesUntouched) {
  Wmf half;
  half.Window(0, 0, 100, 100).Brush(0x102030).Select(0).Pen(0, 5).Select(1).Rectangle(0, 0, 50, 100);
  TImageIO io;
  ASSERT_TRUE(LoadMf(io, "half.wmf", half.File(0, 0, 100, 100, 96), 0x00FF00 /* green */));
  TImBitmap& b = *io.Bitmap();
  ASSERT_TRUE(b.HasAlphaChannel());
  EXPECT_EQ(Rgb(b, 10, 10), 0x102030u);
  EXPECT_EQ(Rgb(b, 80, 10), 0x00FF00u);  // the background colour
  EXPECT_EQ(Alpha(b, 10, 10), 255);
  EXPECT_EQ(Alpha(b, 49, 99), 255);
  EXPECT_EQ(Alpha(b, 50, 0), 0);
  EXPECT_EQ(Alpha(b, 99, 99), 0);
  EXPECT_FALSE(b.AlphaChannel()->AlphaFull);

  Wmf full;
  full.Window(0, 0, 100, 100).Brush(0x102030).Select(0).Pen(0, 5).Select(1).Rectangle(0, 0, 100, 100);
  ASSERT_TRUE(LoadMf(io, "full.wmf", full.File(0, 0, 100, 100, 96)));
  EXPECT_EQ(Alpha(*io.Bitmap(), 99, 99), 255);
  EXPECT_TRUE(io.Bitmap()->AlphaChannel()->AlphaFull);
}

TEST(MetafileReader, InvalidFilesRaiseTheMetafileError) {
  Bytes badKey = Wmf().File(0, 0, 96, 96, 96);
  badKey[0] ^= 1;
  Bytes badSum = Wmf().File(0, 0, 96, 96, 96);
  badSum[20] ^= 1;
  Bytes shortEmf = Emf().File100();
  shortEmf.resize(shortEmf.size() - 4);  // shorter than its header says
  Bytes noWmfHeader = Wmf().File(0, 0, 96, 96, 96);
  noWmfHeader.resize(22);
  const struct {
    const char* what;
    Bytes file;
  } cases[] = {{"no placeable header", Wmf().File(0, 0, 96, 96, 96, false)},
               {"wrong key", badKey},
               {"wrong checksum", badSum},
               {"enhanced metafile cut short", shortEmf},
               {"placeable header alone", noWmfHeader},
               {"empty file", {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TImageIO io;
    ASSERT_TRUE(LoadMf(io, "prev.wmf", Wmf().File(0, 0, 30, 20, 96)));
    int finished = 0;
    io.OnProgress = [&](void*, int percent) { finished += percent == 100; };
    const std::string path = readerkit::WriteTemp("bad.wmf", c.file);
    try {
      io.LoadFromFile(path);
      ADD_FAILURE() << "no error";
    } catch (const TImMetafileError& e) {
      EXPECT_STREQ(e.what(), "Metafile is not valid");
    }
    EXPECT_FALSE(io.Aborting);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(io.Bitmap()->Width(), 30);  // the previous image stays
  }
  TImageIO io;
  const std::string missing = readerkit::TempDir() + "/missing.emf";
  try {
    io.LoadFromFile(missing);
    ADD_FAILURE() << "no error";
  } catch (const TImOpenError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file " + missing);
  }
  EXPECT_FALSE(io.Aborting);
}

TEST(MetafileReader, EmptyPictureAbortsWithoutError) {
  const struct {
    const char* what;
    Bytes file;
  } cases[] = {{"zero-width box", Wmf().File(10, 0, 10, 96, 96)},
               {"zero-height frame", Emf().File(0, 0, 2500, 0, 1000, 1000, 250, 250)},
               {"inverted frame", Emf().File(2500, 0, 0, 2500, 1000, 1000, 250, 250)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TImageIO io;
    ASSERT_TRUE(LoadMf(io, "prev.wmf", Wmf().File(0, 0, 30, 20, 96)));
    EXPECT_FALSE(LoadMf(io, "empty.emf", c.file));
    EXPECT_EQ(io.Bitmap()->Width(), 30);
  }
}

// One Windows metafile using the drawing records, checked at probe pixels.
// Logical units are pixels (window 0,0 200 x 100 on a 200 x 100 picture).
TEST(MetafileReader, WindowsMetafileRecords) {
  Wmf m;
  m.Window(0, 0, 200, 100);
  m.Pen(0, 5).Select(0);                            // 0: null pen
  m.Brush(0xFF0000).Select(1);                      // 1: red
  m.Rectangle(0, 0, 20, 20);
  m.Brush(0x00FF00).Select(2).Delete(1);            // 2: green; slot 1 freed
  m.Ellipse(20, 0, 60, 40);
  m.Brush(0x0000FF).Select(1);                      // reuses slot 1: blue
  m.Polygon({60, 0, 100, 0, 100, 40});
  // Polypolygon with a hole under the default alternate fill.
  m.Rec(0x0538, {2, 4, 4, 100, 0, 140, 0, 140, 40, 100, 40, 110, 10, 130, 10, 130, 30, 110, 30});
  // Clip to 140..160, then restore the unclipped state.
  m.Rec(0x001E, std::vector<int16_t>{});                        // SAVEDC
  m.Rec(0x0416, {40, 160, 0, 140});                             // INTERSECTCLIPRECT 140,0,160,40
  m.Rectangle(140, 0, 200, 20);
  m.Rec(0x0127, {-1});                                          // RESTOREDC
  m.Rectangle(170, 0, 200, 10);
  // Window moved: logical (0,0) is now pixel (100,50) and the scale 2.
  m.Rec(0x001E, std::vector<int16_t>{});
  m.Window(-50, -25, 100, 50);
  m.Brush(0xFFFF00).Select(3);                                  // 3: yellow
  m.Rectangle(0, 0, 10, 10);                                    // pixels 100..120, 50..70
  m.Rec(0x0127, {-1});
  // A 2 x 2 bitmap stretched to 40 x 40 at (0, 60) with STRETCHDIB.
  const Bytes dib = mfbuild::Dib24(2, 2, {0x800000, 0x008000, 0x000080, 0x808080});
  Bytes sd;
  for (uint16_t w : std::initializer_list<uint16_t>{0x0020, 0x00CC, 0, 2, 2, 0, 0, 40, 40, 60, 0}) mfbuild::Put16(sd, w);
  sd.insert(sd.end(), dib.begin(), dib.end());
  m.Raw(0x0F43, sd);
  // A 4 x 2 run-length encoded 8-bit bitmap onto (40, 60) 40 x 20: bottom row
  // a run of four red, top row an absolute run red, black, red and a run of
  // one red.
  {
    Bytes rle;
    for (uint32_t v : {40u, 4u, 2u}) mfbuild::Put32(rle, v);
    mfbuild::Put16(rle, 1);
    mfbuild::Put16(rle, 8);
    for (uint32_t v : {1u, 0u, 0u, 0u, 2u, 0u}) mfbuild::Put32(rle, v);  // BI_RLE8, 2 colours
    for (uint8_t c : {0, 0, 0, 0, 0, 0, 0xFF, 0}) rle.push_back(c);
    for (uint8_t c : {4, 1, 0, 0, 0, 3, 1, 0, 1, 0, 1, 1, 0, 1}) rle.push_back(c);
    Bytes p;
    for (uint16_t w : std::initializer_list<uint16_t>{0x0020, 0x00CC, 0, 2, 4, 0, 0, 20, 40, 60, 40}) mfbuild::Put16(p, w);
    p.insert(p.end(), rle.begin(), rle.end());
    m.Raw(0x0F43, p);
  }
  // A black line with a cosmetic pen, drawn with XOR over the yellow.
  m.Pen(0x000000).Select(4);
  m.Rec(0x0214, {90, 40});                                      // MOVETO 40,90
  m.Rec(0x0213, {90, 80});                                      // LINETO 80,90
  m.Rec(0x0104, {7});                                           // SETROP2 R2_XORPEN
  m.Brush(0xFFFFFF).Select(5);
  m.Rectangle(105, 55, 115, 65);                                // yellow xor white = blue
  m.Rec(0x0104, {13});
  // Hatched brush on an opaque background, and a pie and a chord.
  m.Rec(0x0201, mfbuild::Color(0xFF00FF));                               // SETBKCOLOR magenta
  m.Brush(0x000000, 2, 0).Select(6);                            // horizontal hatch
  m.Rectangle(160, 60, 200, 100);
  m.Brush(0x00FFFF).Select(7);
  // PIE in box 110,60-150,100 from the radial through (150,80) counter-
  // clockwise to the one through (130,60): the upper right quarter.
  m.Rec(0x081A, {60, 130, 80, 150, 100, 150, 60, 110});
  for (int i = 0; i < 3; ++i) m.Delete(i);
  TImageIO io;
  ASSERT_TRUE(LoadMf(io, "records.wmf", m.File(0, 0, 200, 100, 96)));
  TImBitmap& b = *io.Bitmap();
  ASSERT_EQ(b.Width(), 200);
  ASSERT_EQ(b.Height(), 100);
  ExpectProbes(b, {
      {"rectangle", 10, 10, 0xFF0000},     {"rectangle excludes right edge", 20, 10, kWhite},
      {"ellipse", 40, 20, 0x00FF00},       {"outside ellipse", 22, 38, kWhite},
      {"polygon", 95, 5, 0x0000FF},        {"polygon's other half", 65, 35, kWhite},
      {"polypolygon ring", 104, 20, 0x0000FF}, {"polypolygon hole", 120, 20, kWhite},
      {"clipped inside", 150, 10, 0x0000FF}, {"clipped away", 165, 15, kWhite},
      {"after restore", 190, 5, 0x0000FF}, {"scaled window", 102, 52, 0xFFFF00},
      {"xor", 110, 60, 0x0000FF},          {"bitmap top left", 10, 70, 0x800000},
      {"bitmap top right", 30, 70, 0x008000}, {"bitmap bottom left", 10, 90, 0x000080},
      {"bitmap bottom right", 30, 90, 0x808080}, {"line", 60, 90, 0x000000},
      {"rle absolute run", 45, 65, 0xFF0000}, {"rle absolute black", 55, 65, 0x000000},
      {"rle run of one", 75, 65, 0xFF0000}, {"rle bottom row", 55, 75, 0xFF0000},
      {"pie", 140, 72, 0x00FFFF},          {"outside pie", 120, 90, kWhite},
  });
  // The hatch leaves background-coloured gaps.
  int magenta = 0, black = 0;
  for (int y = 61; y < 99; ++y) {
    const uint32_t c = Rgb(b, 180, y);
    magenta += c == 0xFF00FF;
    black += c == 0;
  }
  EXPECT_GT(magenta, 10);
  EXPECT_GT(black, 2);
}

// The viewport records place the window in device pixels of the picture's
// natural size: a placeable box of 2880 x 1440 units at 1440 per inch is a
// 192 x 96 picture.
TEST(MetafileReader, WindowsMetafileViewport) {
  Wmf m;
  m.Rec(0x0103, {8});                                 // SETMAPMODE MM_ANISOTROPIC
  m.Window(0, 0, 1000, 500);
  m.Rec(0x020E, {48, 96});                            // SETVIEWPORTEXT 96 x 48
  m.Pen(0, 5).Select(0);
  m.Brush(0xFF0000).Select(1);
  m.Rectangle(0, 0, 500, 250);                        // pixels 0..48, 0..24
  m.Rec(0x020D, {48, 96});                            // SETVIEWPORTORG 96, 48
  m.Brush(0x00FF00).Select(2);
  m.Rectangle(0, 0, 500, 250);                        // pixels 96..144, 48..72
  m.Rec(0x0211, {0, -96});                            // OFFSETVIEWPORTORG -96, 0
  m.Rec(0x0412, {1, 2, 1, 2});                        // SCALEVIEWPORTEXT x2: 192 x 96
  m.Brush(0x0000FF).Select(3);
  m.Rectangle(0, 0, 250, 125);                        // pixels 0..48, 48..72
  // Isotropic: the window 100 x 100 on a 192 x 48 viewport takes the smaller
  // scale, 0.48 on both axes.
  m.Rec(0x0103, {7});
  m.Window(0, 0, 100, 100);
  m.Rec(0x020D, {0, 144});                            // SETVIEWPORTORG 144, 0
  m.Rec(0x020E, {48, 192});
  m.Brush(0xFFFF00).Select(4);
  m.Rectangle(0, 0, 100, 100);                        // pixels 144..192, 0..48
  TImageIO io;
  ASSERT_TRUE(LoadMf(io, "viewport.wmf", m.File(0, 0, 2880, 1440, 1440)));
  TImBitmap& b = *io.Bitmap();
  ASSERT_EQ(b.Width(), 192);
  ASSERT_EQ(b.Height(), 96);
  ExpectProbes(b, {
      {"viewport extent", 40, 20, 0xFF0000},   {"beyond the extent", 60, 20, kWhite},
      {"viewport origin", 120, 60, 0x00FF00},  {"left of the origin", 90, 60, kWhite},
      {"scaled extent", 40, 60, 0x0000FF},     {"beyond the scaled extent", 52, 60, kWhite},
      {"isotropic", 180, 40, 0xFFFF00},        {"isotropic keeps its aspect", 180, 60, kWhite},
  });
}

// A bitmap blitted smaller than it is merges its pixels by the stretch
// mode: a one-pixel black line among white survives BLACKONWHITE, vanishes
// under WHITEONBLACK and turns gray under HALFTONE.
TEST(MetafileReader, ShrinkingBlitsFollowTheStretchMode) {
  const struct {
    int mode;
    uint32_t first;  // the output pixel the black source pixel falls into
  } cases[] = {{1, 0x000000}, {2, kWhite}, {4, 0xBFBFBF}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    Wmf m;
    m.Window(0, 0, 2, 1);
    m.Rec(0x0107, {int16_t(c.mode)});  // SETSTRETCHBLTMODE
    const Bytes dib = mfbuild::Dib24(8, 1, {0x000000, kWhite, kWhite, kWhite, kWhite, kWhite, kWhite, kWhite});
    Bytes sd;
    for (uint16_t w : std::initializer_list<uint16_t>{0x0020, 0x00CC, 0, 1, 8, 0, 0, 1, 2, 0, 0}) mfbuild::Put16(sd, w);
    sd.insert(sd.end(), dib.begin(), dib.end());
    m.Raw(0x0F43, sd);
    TImageIO io;
    ASSERT_TRUE(LoadMf(io, "stretch.wmf", m.File(0, 0, 2, 1, 96)));
    TImBitmap& b = *io.Bitmap();
    ASSERT_EQ(b.Width(), 2);
    const uint32_t got = Rgb(b, 0, 0);
    EXPECT_NEAR(int(got & 0xFF), int(c.first & 0xFF), 2);
    EXPECT_EQ((got >> 16) & 0xFF, got & 0xFF);
    EXPECT_EQ(Rgb(b, 1, 0), kWhite);
  }
}

// Bitmaps whose colour table indexes the selected palette take their colours
// from it: the default palette until one is selected, and a palette's entries
// as they are when the bitmap is drawn.
TEST(MetafileReader, PaletteIndexedBitmapsUseTheSelectedPalette) {
  // A 1-bit 2 x 1 bitmap: pixel 0 uses table entry 0, pixel 1 entry 1.
  const auto indexed = [](uint16_t first, uint16_t second) {
    Bytes dib;
    for (uint32_t v : {40u, 2u, 1u}) mfbuild::Put32(dib, v);
    mfbuild::Put16(dib, 1);
    mfbuild::Put16(dib, 1);
    for (int i = 0; i < 6; ++i) mfbuild::Put32(dib, 0);
    mfbuild::Put16(dib, first);
    mfbuild::Put16(dib, second);
    mfbuild::Put32(dib, 0x40);  // the row: 0, 1
    return dib;
  };
  const auto logPalette = [](std::initializer_list<uint32_t> rgbs) {
    Bytes p;
    mfbuild::Put16(p, 0x300);
    mfbuild::Put16(p, uint16_t(rgbs.size()));
    for (uint32_t rgb : rgbs) mfbuild::Put32(p, ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16));
    return p;
  };

  // Enhanced: default palette (13 red, 16 blue), then palette 3 (green,
  // yellow), then its entry 0 changed to magenta.
  Emf e;
  e.Blit(76, 0, 0, 20, 10, 0x00CC0020, 2, 1, indexed(13, 16), 1, 44);
  Bytes create;
  mfbuild::Put32(create, 3);
  const Bytes greenYellow = logPalette({0x00FF00, 0xFFFF00});
  create.insert(create.end(), greenYellow.begin(), greenYellow.end());
  e.Raw(49, create);
  e.Rec(48, {3});
  e.Blit(76, 0, 10, 20, 10, 0x00CC0020, 2, 1, indexed(1, 0), 1, 44);
  e.Rec(50, {3, 0, 1, 0x00FF00FF});
  e.Blit(76, 0, 20, 20, 10, 0x00CC0020, 2, 1, indexed(1, 0), 1, 44);
  e.Rec(48, {int32_t(0x8000000F)});  // DEFAULT_PALETTE again
  e.Blit(76, 0, 30, 20, 10, 0x00CC0020, 2, 1, indexed(16, 13), 1, 44);
  TImageIO eio;
  ASSERT_TRUE(LoadMf(eio, "palette.emf", e.File100()));
  ExpectProbes(*eio.Bitmap(), {{"default 13", 5, 5, 0xFF0000},
                               {"default 16", 15, 5, 0x0000FF},
                               {"selected 1", 5, 15, 0xFFFF00},
                               {"selected 0", 15, 15, 0x00FF00},
                               {"kept entry", 5, 25, 0xFFFF00},
                               {"changed entry", 15, 25, 0xFF00FF},
                               {"default again 16", 5, 35, 0x0000FF},
                               {"default again 13", 15, 35, 0xFF0000}});

  // Windows metafile: STRETCHDIB with palette colours after CREATEPALETTE
  // and SELECTPALETTE of object 0.
  Wmf w;
  w.Window(0, 0, 2, 1);
  w.Raw(0x00F7, logPalette({0x0000FF, 0xFF0000, 0x00FF00}));
  w.Rec(0x0234, {0});
  Bytes sd;
  for (uint16_t v : std::initializer_list<uint16_t>{0x0020, 0x00CC, 1, 1, 2, 0, 0, 1, 2, 0, 0}) mfbuild::Put16(sd, v);
  const Bytes dib = indexed(2, 1);
  sd.insert(sd.end(), dib.begin(), dib.end());
  w.Raw(0x0F43, sd);
  TImageIO wio;
  ASSERT_TRUE(LoadMf(wio, "palette.wmf", w.File(0, 0, 2, 1, 96)));
  ExpectProbes(*wio.Bitmap(), {{"wmf entry 2", 0, 0, 0x00FF00}, {"wmf entry 1", 1, 0, 0xFF0000}});
}

// Records repeating fills of the whole picture stop drawing once the
// playback's budget of touched pixels is spent; within the budget every
// record is drawn.
TEST(MetafileReader, RepeatedFillsStopAtTheDrawingBudget) {
  Wmf m;
  m.Window(0, 0, 10, 10);
  m.Pen(0, 5).Select(0);
  m.Brush(0xFF0000).Select(1);
  for (int i = 0; i < 100; ++i) m.Rectangle(0, 0, 10, 10);
  m.Brush(0x00FF00).Select(2);
  m.Rectangle(0, 0, 10, 10);
  const Bytes file = m.File(0, 0, 10, 10, 96);
  const int64_t saved = metafile::ImMetafileMaxDrawn;
  for (const auto& [budget, rgb] : {std::pair<int64_t, uint32_t>{saved, 0x00FF00}, {5000, 0xFF0000}}) {
    SCOPED_TRACE(budget);
    metafile::ImMetafileMaxDrawn = budget;
    TImageIO io;
    EXPECT_TRUE(LoadMf(io, "fills.wmf", file));
    metafile::ImMetafileMaxDrawn = saved;
    ASSERT_EQ(io.Bitmap()->Width(), 10);
    EXPECT_EQ(Rgb(*io.Bitmap(), 5, 5), rgb);
  }
}

// Gradient fills shade between their corners' colours, and a transparent
// blit leaves out the pixels of its key colour (100 x 100, logical units are
// pixels).
TEST(MetafileReader, GradientsAndTransparentBlits) {
  Emf m;
  auto gradient = [&](uint32_t mode, std::vector<std::array<int32_t, 5>> vertices, std::vector<uint32_t> pieces) {
    Bytes p(16, 0);
    mfbuild::Put32(p, uint32_t(vertices.size()));
    mfbuild::Put32(p, uint32_t(pieces.size() / (mode == 2 ? 3 : 2)));
    mfbuild::Put32(p, mode);
    for (const auto& v : vertices) {  // x, y, red, green, blue (8 bits)
      mfbuild::Put32(p, uint32_t(v[0]));
      mfbuild::Put32(p, uint32_t(v[1]));
      for (int k = 2; k < 5; ++k) mfbuild::Put16(p, uint16_t(v[size_t(k)] << 8));
      mfbuild::Put16(p, 0);
    }
    for (uint32_t i : pieces) mfbuild::Put32(p, i);
    m.Raw(118, p);
  };
  gradient(0, {{0, 0, 0, 0, 0}, {100, 20, 255, 255, 255}}, {0, 1});                        // black to white
  gradient(2, {{0, 30, 255, 0, 0}, {100, 30, 0, 255, 0}, {0, 100, 0, 0, 255}}, {0, 1, 2});  // red, green, blue
  m.Select(0x80000008);  // NULL_PEN
  m.Brush(1, 0x0000FF).Select(1);
  m.Rectangle(60, 80, 100, 100);
  // TRANSPARENTBLT of a 2 x 1 bitmap (red, white) onto 60,80 40 x 20, white
  // left out.
  m.Blit(116, 60, 80, 40, 20, mfbuild::ColorRef(0xFFFFFF), 2, 1, mfbuild::Dib24(2, 1, {0xFF0000, 0xFFFFFF}));
  TImageIO io;
  ASSERT_TRUE(LoadMf(io, "gradients.emf", m.File100()));
  TImBitmap& b = *io.Bitmap();
  ASSERT_EQ(b.Width(), 100);
  auto channel = [&](int x, int y, int shift) { return int((Rgb(b, x, y) >> shift) & 0xFF); };
  EXPECT_LT(channel(3, 10, 0), 30);                       // near the black edge
  EXPECT_NEAR(channel(50, 10, 0), 128, 20);               // halfway
  EXPECT_GT(channel(97, 10, 0), 225);                     // near the white edge
  EXPECT_GT(channel(3, 33, 16), 200);                     // red corner
  EXPECT_GT(channel(90, 33, 8), 180);                     // green corner
  EXPECT_GT(channel(3, 92, 0), 180);                      // blue corner
  EXPECT_EQ(Rgb(b, 70, 90), 0xFF0000u);                   // the bitmap's red half
  EXPECT_EQ(Rgb(b, 90, 90), 0x0000FFu);                   // white left out: the blue below
}

// Region objects: filled with a brush object, inverted, and selected as the
// clip, in both kinds of metafile (100 x 100, logical units are pixels).
TEST(MetafileReader, RegionsFillInvertAndClip) {
  // Two rectangles, 0..20 x 0..10 and 30..40 x 0..10, in one scan.
  Bytes region;
  for (int16_t w : {int16_t(0), int16_t(6), int16_t(0), int16_t(0), int16_t(0), int16_t(1), int16_t(0),
                    int16_t(0), int16_t(0), int16_t(40), int16_t(10)})
    mfbuild::Put16(region, uint16_t(w));
  for (int16_t w : {int16_t(4), int16_t(0), int16_t(10), int16_t(0), int16_t(20), int16_t(30), int16_t(40),
                    int16_t(4)})
    mfbuild::Put16(region, uint16_t(w));
  Wmf w;
  w.Window(0, 0, 100, 100);
  w.Pen(0, 5).Select(0);               // 0: null pen
  w.Brush(0xFF0000).Select(1);         // 1: red
  w.Raw(0x06FF, region);               // 2: the region
  w.Brush(0x00FF00);                   // 3: green
  w.Rec(0x0228, {2, 3});               // FILLREGION region 2 with brush 3
  w.Rec(0x012A, {2});                  // INVERTREGION: magenta, painted over next
  w.Rec(0x012C, {2});                  // SELECTCLIPREGION
  w.Rectangle(0, 0, 100, 100);         // red, but only inside the region
  w.Rec(0x012C, {0});                  // not a region: the clip is reset
  w.Rectangle(50, 50, 60, 60);
  TImageIO io;
  ASSERT_TRUE(LoadMf(io, "regions.wmf", w.File(0, 0, 100, 100, 96)));
  for (const auto& [x, y, rgb] : std::vector<std::tuple<int, int, uint32_t>>{
           {10, 5, 0xFF0000}, {35, 5, 0xFF0000}, {25, 5, kWhite}, {10, 20, kWhite}, {55, 55, 0xFF0000}})
    EXPECT_EQ(Rgb(*io.Bitmap(), x, y), rgb) << "wmf " << x << "," << y;

  // The enhanced form: FILLRGN with a RGNDATA of one rectangle 10..30 x
  // 40..60 (device units are pixels here), then INVERTRGN over it.
  Bytes rgn;
  for (uint32_t v : {32u, 1u, 1u, 16u, 10u, 40u, 30u, 60u, 10u, 40u, 30u, 60u}) mfbuild::Put32(rgn, v);
  Emf e;
  e.Brush(1, 0x0000FF);
  Bytes fill(16, 0);
  mfbuild::Put32(fill, uint32_t(rgn.size()));
  mfbuild::Put32(fill, 1);
  fill.insert(fill.end(), rgn.begin(), rgn.end());
  e.Raw(71, fill);
  // FRAMERGN: a band 3 wide and 2 high inside 50..90 x 40..60.
  Bytes frameRgn;
  for (uint32_t v : {32u, 1u, 1u, 16u, 50u, 40u, 90u, 60u, 50u, 40u, 90u, 60u}) mfbuild::Put32(frameRgn, v);
  Bytes frame(16, 0);
  for (uint32_t v : {uint32_t(frameRgn.size()), 1u, 3u, 2u}) mfbuild::Put32(frame, v);
  frame.insert(frame.end(), frameRgn.begin(), frameRgn.end());
  e.Raw(72, frame);
  TImageIO eio;
  ASSERT_TRUE(LoadMf(eio, "regions.emf", e.File100()));
  for (const auto& [x, y, rgb] : std::vector<std::tuple<int, int, uint32_t>>{
           {20, 50, 0x0000FF}, {35, 50, kWhite}, {51, 50, 0x0000FF}, {88, 50, 0x0000FF},
           {70, 41, 0x0000FF}, {70, 59, 0x0000FF}, {54, 50, kWhite}, {70, 45, kWhite}})
    EXPECT_EQ(Rgb(*eio.Bitmap(), x, y), rgb) << "emf " << x << "," << y;
}

// An alpha blend of a 32-bit bitmap with per-pixel alpha mixes it into what
// lies below, and its constant alpha fades the whole bitmap.
TEST(MetafileReader, AlphaBlendsMixWithWhatLiesBelow) {
  const struct {
    uint32_t blend;           // the blend function: constant alpha, alpha format
    uint32_t left, right;     // expected over the blue below
  } cases[] = {
      {0x01FF0000u, 0x80007F, 0x0000FF},  // per-pixel: half red, then clear
      {0x00800000u, 0x80007F, 0x80007F},  // constant half over the opaque pixels
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.blend);
    Emf m;
    m.Select(0x80000008);  // NULL_PEN
    m.Brush(1, 0x0000FF).Select(1);
    m.Rectangle(0, 0, 40, 20);
    Bytes dib;
    for (uint32_t v : {40u, 2u, 1u}) mfbuild::Put32(dib, v);
    mfbuild::Put16(dib, 1);
    mfbuild::Put16(dib, 32);
    for (int i = 0; i < 6; ++i) mfbuild::Put32(dib, 0);
    // Per-pixel: premultiplied red at half alpha, then a clear pixel; with
    // constant alpha both pixels are plain red.
    const bool perPixel = c.blend >> 24;
    mfbuild::Put32(dib, perPixel ? 0x80800000u : 0x00FF0000u);
    mfbuild::Put32(dib, perPixel ? 0x00000000u : 0x00FF0000u);
    m.Blit(114, 0, 0, 40, 20, c.blend, 2, 1, dib);
    TImageIO io;
    ASSERT_TRUE(LoadMf(io, "blend.emf", m.File100()));
    for (const auto& [x, want] : {std::pair<int, uint32_t>{10, c.left}, {30, c.right}}) {
      const uint32_t got = Rgb(*io.Bitmap(), x, 10);
      for (int shift : {16, 8, 0})
        EXPECT_NEAR(int((got >> shift) & 0xFF), int((want >> shift) & 0xFF), 3) << x << " " << std::hex << got;
    }
  }
}

// One enhanced metafile using the 16-bit shapes, paths, the world transform,
// mapping modes, bitmaps and stock objects. Logical units start as the
// picture's pixels (100 x 100).
TEST(MetafileReader, EnhancedMetafileRecords) {
  Emf m;
  m.Select(0x80000008);                                 // NULL_PEN
  m.Brush(1, 0xFF0000).Select(1);
  // POLYGON16: bounds, count, points (packed 16-bit).
  {
    Bytes p(16, 0);
    mfbuild::Put32(p, 3);
    for (int v : {0, 0, 20, 0, 0, 20}) mfbuild::Put16(p, uint16_t(v));
    m.Raw(86, p);
  }
  // A closed path of a line and a Bezier, filled.
  m.Brush(2, 0x00FF00).Select(2);
  m.Rec(59, {});                                        // BEGINPATH
  m.Rec(27, {30, 0});                                   // MOVETOEX
  {
    Bytes p(16, 0);
    mfbuild::Put32(p, 3);
    for (int v : {50, 0, 50, 20, 30, 20}) mfbuild::Put16(p, uint16_t(v));
    m.Raw(88, p);                                       // POLYBEZIERTO16 (a straight one)
  }
  m.Rec(61, {});                                        // CLOSEFIGURE
  m.Rec(60, {});                                        // ENDPATH
  m.Rec(62, {0, 0, 0, 0});                              // FILLPATH
  // World transform: scale 2 and move to (60, 0); a 10 x 10 rectangle
  // becomes pixels 60..80.
  m.Brush(3, 0x0000FF).Select(3);
  {
    Bytes p;
    for (float f : {2.0f, 0.0f, 0.0f, 2.0f, 60.0f, 0.0f}) {
      uint32_t v;
      std::memcpy(&v, &f, 4);
      mfbuild::Put32(p, v);
    }
    m.Raw(35, p);                                       // SETWORLDTRANSFORM
  }
  m.Rectangle(0, 0, 10, 10);
  m.Rec(36, {0, 0, 0, 0, 0, 0, 1});                     // MODIFYWORLDTRANSFORM identity
  // Anisotropic mapping: window 10 x 10 onto viewport 20 x 20 at (80, 0).
  m.Rec(33, {});                                        // SAVEDC
  m.Rec(17, {8});
  m.Rec(9, {10, 10});
  m.Rec(11, {20, 20});
  m.Rec(12, {80, 0});
  m.Select(0x80000004);                                 // BLACK_BRUSH
  m.Rectangle(0, 0, 10, 10);
  m.Rec(34, {-1});                                      // RESTOREDC
  // Clip path: a triangle, then a yellow square clipped to it.
  m.Rec(59, {});
  {
    Bytes p(16, 0);
    mfbuild::Put32(p, 3);
    for (int v : {0, 30, 30, 30, 0, 60}) mfbuild::Put16(p, uint16_t(v));
    m.Raw(86, p);
  }
  m.Rec(60, {});
  m.Rec(67, {5});                                       // SELECTCLIPPATH RGN_COPY
  m.Brush(4, 0xFFFF00).Select(4);
  m.Rectangle(0, 30, 30, 60);
  m.Rec(75, {0, 5});                                    // EXTSELECTCLIPRGN: no region, copy = reset
  // STRETCHDIBITS: a 2 x 1 bitmap onto (40, 30) 40 x 20.
  {
    const Bytes dib = mfbuild::Dib24(2, 1, {0x112233, 0x445566});
    Bytes p(16, 0);
    for (int v : {40, 30, 0, 0, 2, 1, 80, 40, 80 + 40, int(dib.size()) - 40, 0, 0x00CC0020, 40, 20})
      mfbuild::Put32(p, uint32_t(v));
    p.insert(p.end(), dib.begin(), dib.end());
    m.Raw(81, p);
  }
  // BITBLT without a source: a pattern fill with the current brush.
  {
    Bytes p(16, 0);
    for (int v : {40, 60, 20, 20, 0x00F00021, 0, 0}) mfbuild::Put32(p, uint32_t(v));
    while (p.size() < 92) p.push_back(0);
    m.Raw(76, p);
  }
  // ELLIPSE with a 16-bit polyline outline in a stock white pen.
  m.Brush(5, 0x00FFFF).Select(5);
  m.Rec(42, {70, 70, 100, 100});
  // POLYDRAW16 into a path: move, two lines and a close, filled in cyan.
  m.Rec(59, {});
  {
    Bytes p(16, 0);
    mfbuild::Put32(p, 3);
    for (int v : {0, 80, 20, 80, 0, 100}) mfbuild::Put16(p, uint16_t(v));
    for (uint8_t t : {6, 2, 3}) p.push_back(t);
    m.Raw(92, p);
  }
  m.Rec(60, {});
  m.Rec(62, {0, 0, 0, 0});
  TImageIO io;
  ASSERT_TRUE(LoadMf(io, "records.emf", m.File100()));
  TImBitmap& b = *io.Bitmap();
  ASSERT_EQ(b.Width(), 100);
  ExpectProbes(b, {
      {"polygon16", 5, 5, 0xFF0000},       {"polygon16 outside", 15, 15, kWhite},
      {"path", 40, 10, 0x00FF00},          {"path outside", 55, 10, kWhite},
      {"world transform", 75, 15, 0x0000FF}, {"world transform outside", 75, 25, kWhite},
      {"anisotropic", 95, 15, 0x000000},   {"clip path inside", 5, 50, 0xFFFF00},
      {"clip path outside", 25, 50, kWhite}, {"stretched bitmap left", 45, 40, 0x112233},
      {"stretched bitmap right", 75, 40, 0x445566}, {"pattern blit", 50, 70, 0xFFFF00},
      {"ellipse", 85, 85, 0x00FFFF},       {"outside ellipse", 71, 71, kWhite},
      {"polydraw path", 4, 92, 0x00FFFF},  {"outside polydraw path", 15, 95, kWhite},
  });
}

// Hostile records are skipped or end the picture; the load never crashes or
// hangs, and the picture keeps its size.
TEST(MetafileReader, HostileRecordsAreSkipped) {
  std::vector<std::pair<std::string, Bytes>> files;
  {
    Wmf m;  // a record of size 0 (would never advance) and one past the end
    m.Brush(0xFF0000).Select(0).Rectangle(0, 0, 50, 50);
    Bytes f = m.File(0, 0, 100, 100, 96, true, false);
    mfbuild::Put32(f, 0);
    mfbuild::Put16(f, 0x041B);
    files.emplace_back("zero-size.wmf", f);
    f.resize(f.size() - 6);
    mfbuild::Put32(f, 0x7FFFFFFF);
    mfbuild::Put16(f, 0x041B);
    files.emplace_back("past-end.wmf", f);
  }
  {
    Wmf m;  // absurd object indexes, counts beyond the record, huge extents
    m.Select(60000).Delete(65535).Select(-1);
    m.Rec(0x0324, {30000, 1, 2});                             // polygon of 30000 points, 1 given
    m.Rec(0x0538, {-1, 5});
    m.Rec(0x020C, {1, 1});                                    // window 1 x 1
    m.Brush(0x00FF00).Select(0).Pen(0, 1).Select(1);
    m.Rectangle(-32768, -32768, 32767, 32767);
    m.Ellipse(-32768, -32768, 32767, 32767);
    m.Rec(0x0817, {0, 0, 0, 0, 32767, 32767, -32768, -32768});
    m.Rec(0x020C, {0, 0});                                    // zero extent: ignored
    for (int i = 0; i < 70000; ++i) m.Rec(0x001E, std::vector<int16_t>{});  // SAVEDC without end
    m.Rec(0x0127, {-32768});
    m.Rec(0x0127, {32767});
    files.emplace_back("absurd.wmf", m.File(0, 0, 100, 100, 96));
  }
  {
    Wmf m;  // bitmaps whose sizes disagree with their data
    Bytes dib = mfbuild::Dib24(2, 2, {1, 2, 3, 4});
    Bytes big = dib;
    big[4] = 0xE8, big[5] = 0x03;                             // width 1000
    Bytes neg = dib;
    neg[4] = neg[5] = neg[6] = neg[7] = 0xFF;                 // width -1
    Bytes bits = dib;
    bits[14] = 7;                                             // 7 bits per pixel
    Bytes used = dib;
    used[32] = used[33] = used[34] = 0xFF;                    // colour table of 16M entries
    for (const Bytes& d : {big, neg, bits, used}) {
      Bytes sd;
      for (uint16_t w : std::initializer_list<uint16_t>{0x0020, 0x00CC, 0, 2, 2, 0, 0, 40, 40, 0, 0}) mfbuild::Put16(sd, w);
      sd.insert(sd.end(), d.begin(), d.end());
      m.Raw(0x0F43, sd);
      m.Raw(0x0142, Bytes{5, 0, 0, 0}).Select(0);             // pattern brush without a bitmap
      m.Raw(0x0B41, Bytes(20, 0));
    }
    files.emplace_back("dibs.wmf", m.File(0, 0, 100, 100, 96));
  }
  {
    Emf m;  // enhanced: counts beyond the record, odd sizes, absurd indexes, non-finite transforms
    m.Rec(86, {0, 0, 0, 0, 0x7FFFFFFF});
    m.Rec(91, {0, 0, 0, 0, 0x40000000, 0x40000000, 1});
    m.Rec(7, {0, 0, 0, 0, 1, 1000, 5});
    m.Brush(0xFFFFFFF, 0x00FF00).Select(0xFFFFFFF).Delete(0x7FFFFFFF).Select(0x800000FF);
    m.Rec(35, {0x7F800000, 0, 0, 0x7FC00000, 0, 0});            // infinity, NaN
    m.Rec(81, {0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 0x7FFFFFF0, 40, 0x7FFFFFF0, 16, 0, 0x00CC0020, 10, 10});
    m.Rec(76, {0, 0, 0, 0, 0, 0, 10, 10, 0x00CC0020, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x7FFFFFF0, 40, 0x7FFFFFF0, 16});
    m.Rec(84, {0, 0, 0, 0, 1, 0, 0, 10, 10, 0x7FFFFFFF, 76, 0, 0, 0, 0, 0, 0});
    m.Rec(84, {0, 0, 0, 0, 1, 0, 0, 10, 10, 4, 0x7FFFFFF0, 0, 0, 0, 0, 0, 0x7FFFFFF0});
    m.Rec(75, {0x7FFFFFFF, 1});
    m.Rec(9, {1, 1});
    m.Rec(17, {8});
    m.Rec(11, {0x7FFFFFFF, 0x7FFFFFFF});
    m.Rectangle(-0x7FFFFFFF, -0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF);
    m.Rec(41, {50, 50, 0x7FFFFFFF, 0x7F800000, 0x7F800000});    // ANGLEARC with infinite angles
    m.Rec(34, {-1000000});
    Bytes f = m.File100(false);
    mfbuild::Put32(f, 43);
    mfbuild::Put32(f, 7);                                     // size not a multiple of 4
    files.emplace_back("absurd.emf", f);
  }
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    TImageIO io;
    EXPECT_TRUE(LoadMf(io, name, bytes));
    EXPECT_EQ(io.Bitmap()->Width(), 100);
    EXPECT_EQ(io.Bitmap()->Height(), 100);
  }
}

// Every prefix of the exported drawings, and copies with bytes changed at
// random, load cleanly: an error, an abort or a picture of the reported size.
TEST(MetafileReader, TruncatedAndCorruptedFilesFailCleanly) {
  for (const char* file : {"wmf/drawing.wmf", "emf/drawing.emf"}) {
    SCOPED_TRACE(file);
    const Bytes bytes = readerkit::ReadFixture(file);
    auto loadClean = [&](const Bytes& b) {
      TImageIO io;
      try {
        if (LoadMf(io, file + 4, b)) {
          EXPECT_EQ(io.Bitmap()->Width(), io.Params().Width);
          EXPECT_EQ(io.Bitmap()->Height(), io.Params().Height);
        }
      } catch (const TImMetafileError&) {
      }
    };
    for (size_t n = 0; n < bytes.size(); n += 37) loadClean(Bytes(bytes.begin(), bytes.begin() + long(n)));
    std::mt19937 rng(7);
    for (int round = 0; round < 60; ++round) {
      Bytes b = bytes;
      for (int i = 0; i < 12; ++i) {
        // Leave the header alone so the records get played.
        const size_t at = 130 + rng() % (b.size() - 130);
        b[at] = uint8_t(rng());
      }
      loadClean(b);
    }
  }
}
