// JPEG reader: fixtures in every colour space and sampling made by an image
// converter (and, for RGB and two-component files, by the JPEG library's
// own compressor), files with junk before the start, cut short, with patched
// headers and markers, and hostile sizes.
#include <gtest/gtest.h>

#include <cstdlib>

#include "io/Cmyk.h"
#include "io/JpegDecoder.h"
#include "io/JpegReader.h"
#include "tests/core/ReaderTestKit.h"

using readerkit::Bytes;

namespace {

// Every colour fixture holds this 48 x 32 picture: six flat 16 x 16 blocks,
// aligned to every block and MCU size (0xRRGGBB, blocks row-major).
const uint32_t kBlocks[6] = {0xC81E28, 0x14A03C, 0x1E3CDC, 0xF0F0F0, 0x0A0A0A, 0xFAC814};

Bytes Fixture(const std::string& name) { return readerkit::ReadFixture("jpeg/" + name); }

int Channel(uint32_t c, int shift) { return static_cast<int>((c >> shift) & 255); }

// JPEG is lossy: flat blocks come back within a few levels of their colour.
// Probes sit inside each block, two pixels in from its edges, where
// subsampled chroma is not blended with the neighbouring block.
void ExpectBlocks(TImBitmap& b, int tolerance, int scale = 1) {
  ASSERT_EQ(b.PixelFormat(), im24bgr);
  ASSERT_EQ(b.Width(), 48 / scale);
  ASSERT_EQ(b.Height(), 32 / scale);
  const int s = 16 / scale;
  for (int i = 0; i < 6; ++i) {
    const int x0 = (i % 3) * s, y0 = (i / 3) * s;
    const std::vector<int> probes = s >= 8 ? std::vector<int>{2, s / 2, s - 3} : std::vector<int>{s / 2};
    for (int dy : probes)
      for (int dx : probes) {
        const uint32_t got = readerkit::Rgb(b, x0 + dx, y0 + dy);
        for (int shift : {0, 8, 16})
          EXPECT_NEAR(Channel(got, shift), Channel(kBlocks[i], shift), tolerance)
              << "block " << i << " at " << x0 + dx << "," << y0 + dy << std::hex << " got " << got;
      }
  }
}

// Offset of the first marker `code` found by walking the segments after SOI
// (the position of its 0xFF), or 0.
size_t FindSegment(const Bytes& b, uint8_t code) {
  size_t i = 2;
  while (i + 4 <= b.size() && b[i] == 0xFF) {
    if (b[i + 1] == code) return i;
    if (b[i + 1] == 0xDA) return 0;
    i += 2 + ((b[i + 2] << 8) | b[i + 3]);
  }
  return 0;
}

Bytes Segment(uint8_t code, const std::string& payload) {
  const size_t len = payload.size() + 2;
  Bytes s = {0xFF, code, uint8_t(len >> 8), uint8_t(len)};
  for (char c : payload) s.push_back(uint8_t(c));
  return s;
}

// A JFIF APP0 with the given density unit and densities.
Bytes Jfif(int unit, int x, int y) {
  return {0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, uint8_t(unit), uint8_t(x >> 8), uint8_t(x),
          uint8_t(y >> 8), uint8_t(y), 0, 0};
}

// The fixture with its first APP0 (if any) replaced by `app0`.
Bytes WithApp0(Bytes b, const Bytes& app0) {
  if (b[2] == 0xFF && b[3] == 0xE0) b.erase(b.begin() + 2, b.begin() + 4 + ((b[4] << 8) | b[5]));
  b.insert(b.begin() + 2, app0.begin(), app0.end());
  return b;
}

// Sets the frame size in the SOFn segment.
Bytes WithFrameSize(Bytes b, int w, int h) {
  size_t sof = FindSegment(b, 0xC0);
  if (!sof) sof = FindSegment(b, 0xC2);
  EXPECT_NE(sof, 0u);
  b[sof + 5] = uint8_t(h >> 8);
  b[sof + 6] = uint8_t(h);
  b[sof + 7] = uint8_t(w >> 8);
  b[sof + 8] = uint8_t(w);
  return b;
}

}  // namespace

TEST(JpegReader, FixturesInEveryColourSpaceGiveThePicture) {
  struct Case {
    const char* file;
    int colorSpace, samples;
    bool progressive;
    int tolerance;
  } cases[] = {
      {"rgb420.jpg", 2, 3, false, 8},   {"rgb444.jpg", 2, 3, false, 6},
      {"progressive.jpg", 2, 3, true, 8}, {"rgb.jpg", 0, 3, false, 6},
      // Inverted Adobe inks, converted by c * k / 255 per channel; the
      // converter's file is YCCK (Adobe transform 2), the other plain CMYK.
      {"ycck.jpg", 4, 4, false, 8},     {"cmyk.jpg", 3, 4, false, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, c.file, Fixture(c.file)));
    ExpectBlocks(*io.Bitmap(), c.tolerance);
    const TIOParams& p = io.Params();
    EXPECT_EQ(p.FileType, ioJPEG);
    EXPECT_EQ(p.JpegColorSpace, c.colorSpace);
    EXPECT_EQ(p.SamplesPerPixel, c.samples);
    EXPECT_EQ(p.BitsPerSample, 8);
    EXPECT_EQ(p.JpegProgressive, c.progressive);
    EXPECT_EQ(p.FullWidth, 48);
    EXPECT_EQ(p.FullHeight, 32);
    EXPECT_EQ(p.JpegScaleDenominator, 1);
    EXPECT_EQ(p.ColorMapCount, 0);
    EXPECT_EQ(p.JpegWarningTotal, 0);
    EXPECT_EQ(p.JpegErrorText, "");
    EXPECT_FALSE(io.Bitmap()->HasAlphaChannel());
  }
}

TEST(JpegReader, GrayscaleGivesEqualChannels) {
  TImageIO io;
  ASSERT_TRUE(readerkit::Load(io, "gray.jpg", Fixture("gray.jpg")));
  TImBitmap& b = *io.Bitmap();
  ASSERT_EQ(b.PixelFormat(), im24bgr);
  ASSERT_EQ(b.Width(), 48);
  EXPECT_EQ(io.Params().SamplesPerPixel, 1);
  EXPECT_EQ(io.Params().JpegColorSpace, 1);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 48; ++x) {
      const uint32_t c = readerkit::Rgb(b, x, y);
      ASSERT_EQ(c, (c & 255) * 0x010101u) << x << "," << y;
    }
  // The light block stays light and the dark one dark.
  EXPECT_GT(readerkit::Rgb(b, 8, 24) & 255, 230u);
  EXPECT_LT(readerkit::Rgb(b, 24, 24) & 255, 20u);
}

TEST(JpegReader, CmykConverterMultipliesByBlack) {
  struct Case {
    uint8_t cmyk[4];
    uint32_t rgb;
  } cases[] = {
      {{255, 255, 255, 255}, 0xFFFFFF},  // white paper, inks stored inverted
      {{255, 255, 255, 0}, 0x000000},
      {{128, 64, 200, 100}, 0x32194E},   // 12800 / 255 = 50, 6400 / 255 = 25, 20000 / 255 = 78
      {{254, 1, 0, 254}, 0xFD0000},
  };
  Bytes in, out(3 * std::size(cases), 0xAA);
  for (const Case& c : cases) in.insert(in.end(), c.cmyk, c.cmyk + 4);
  ConvertCmykToBgr(in.data(), out.data(), std::ssize(cases));
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ((uint32_t(out[3 * i + 2]) << 16) | (out[3 * i + 1] << 8) | out[3 * i], cases[i].rgb) << i;
}

TEST(JpegReader, CmykConvertsEveryColumn) {
  for (const char* file : {"cmyk.jpg", "ycck.jpg"}) {
    SCOPED_TRACE(file);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, file, Fixture(file)));
    for (int y : {2, 8, 13, 18, 24, 29}) {
      const uint32_t last = readerkit::Rgb(*io.Bitmap(), 47, y), want = kBlocks[y < 16 ? 2 : 5];
      for (int shift : {0, 8, 16}) EXPECT_NEAR(Channel(last, shift), Channel(want, shift), 8) << y;
    }
  }
}

TEST(JpegReader, FindsTheStartWithinOneHundredBytes) {
  const Bytes jpeg = Fixture("rgb444.jpg");
  for (size_t junk : {0, 1, 50, 99, 100, 150}) {
    SCOPED_TRACE(junk);
    Bytes b(junk, 0x20);
    b.insert(b.end(), jpeg.begin(), jpeg.end());
    TImStream s(b);
    EXPECT_EQ(FindJpegStart(s), junk < 100 ? int64_t(junk) : -1);
    EXPECT_EQ(s.Position(), 0);

    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "prev.jpg", jpeg));
    io.Params().JpegColorSpace = 9;
    const bool ok = readerkit::Load(io, "junk.jpg", b);
    EXPECT_EQ(ok, junk < 100);
    if (ok) ExpectBlocks(*io.Bitmap(), 6);
    // Rejected: the previous image and the parameters stay.
    EXPECT_EQ(io.Bitmap()->Width(), 48);
    EXPECT_EQ(io.Params().JpegColorSpace, ok ? 2 : 9);
    EXPECT_EQ(io.Params().FileType, ioJPEG);
  }
  // The search starts at the stream's position.
  Bytes b(10, 0);
  b.insert(b.end(), {0xFF, 0xD8, 0xFF});
  TImStream s(b);
  s.Seek(4);
  EXPECT_EQ(FindJpegStart(s), 10);
  EXPECT_EQ(s.Position(), 4);
  s.Seek(11);
  EXPECT_EQ(FindJpegStart(s), -1);
}

TEST(JpegReader, NotAJpegIsRejectedAndTheTargetKept) {
  const Bytes png = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  TImageIO io;
  ASSERT_TRUE(readerkit::Load(io, "prev.jpg", Fixture("rgb420.jpg")));
  EXPECT_FALSE(readerkit::Load(io, "picture.jpg", png));
  EXPECT_EQ(io.Bitmap()->Width(), 48);
  EXPECT_EQ(io.Params().FileType, ioJPEG);
  EXPECT_FALSE(readerkit::Load(io, "empty.jpg", {}));
}

TEST(JpegReader, LibraryErrorsAbortWithTheLibraryText) {
  Bytes precision = Fixture("rgb444.jpg");
  precision[FindSegment(precision, 0xC0) + 4] = 12;
  Bytes zeroWidth = WithFrameSize(Fixture("rgb444.jpg"), 0, 32);
  struct Case {
    const char* name;
    Bytes bytes;
    const char* text;
  } cases[] = {
      {"no image", {0xFF, 0xD8, 0xFF, 0xD9}, "JPEG datastream contains no image"},
      {"12-bit", precision, "Unsupported JPEG data precision ?"},
      {"zero width", zeroWidth, "Empty JPEG image (DNL not supported)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "prev.jpg", Fixture("rgb420.jpg")));
    EXPECT_FALSE(readerkit::Load(io, "bad.jpg", c.bytes));
    EXPECT_EQ(io.Params().JpegErrorText, c.text);
    // Header errors leave the target and the size of the previous image.
    EXPECT_EQ(io.Bitmap()->Width(), 48);
    EXPECT_EQ(io.Params().Width, 48);
  }
}

TEST(JpegReader, TruncatedFileDecodesToItsEndWithAWarning) {
  for (const char* file : {"rgb420.jpg", "progressive.jpg"}) {
    SCOPED_TRACE(file);
    const Bytes full = Fixture(file);
    size_t sos = 2;
    while (sos + 1 < full.size() && !(full[sos] == 0xFF && full[sos + 1] == 0xDA)) ++sos;
    // Cut in the middle of the (first) scan's entropy data.
    const size_t cut = file[0] == 'p' ? sos + 30 : sos + (full.size() - sos) / 2;
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "cut.jpg", Bytes(full.begin(), full.begin() + long(cut))));
    EXPECT_EQ(io.Bitmap()->Width(), 48);
    EXPECT_EQ(io.Bitmap()->Height(), 32);
    EXPECT_GT(io.Params().JpegWarningTotal, 0);
    EXPECT_NE(io.Params().JpegWarningCode, 0);
  }
  readerkit::SweepPrefixes("sweep.jpg", Fixture("rgb420.jpg"));
  readerkit::SweepPrefixes("sweep.jpg", Fixture("progressive.jpg"));
}

TEST(JpegReader, JfifDensityGivesTheResolution) {
  struct Case {
    int unit, x, y, dpiX, dpiY;
  } cases[] = {
      {1, 72, 96, 72, 96},     // dots per inch
      {2, 118, 40, 299, 101},  // dots per centimetre, truncated
      {0, 1, 1, 300, 300},     // aspect ratio only: below 2, the loader's default
      {0, 3, 2, 3, 2},
      {3, 72, 72, 300, 300},   // unknown unit: left alone (fresh parameters hold 0)
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "unit " << c.unit << " " << c.x << ":" << c.y);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "dpi.jpg", WithApp0(Fixture("rgb444.jpg"), Jfif(c.unit, c.x, c.y))));
    EXPECT_EQ(io.Params().DpiX, c.dpiX);
    EXPECT_EQ(io.Params().DpiY, c.dpiY);
  }
}

TEST(JpegReader, SavesComAndAppMarkersInFileOrder) {
  Bytes b = WithApp0(Fixture("rgb444.jpg"), Jfif(1, 72, 72));
  const Bytes extra = [] {
    Bytes e = Segment(0xFE, "a comment");
    const Bytes app1 = Segment(0xE1, std::string("Exif\0\0MM", 8));
    const Bytes app0 = Segment(0xE0, "JFXX");
    e.insert(e.end(), app1.begin(), app1.end());
    e.insert(e.end(), app0.begin(), app0.end());
    return e;
  }();
  b.insert(b.begin() + 2 + 18, extra.begin(), extra.end());
  TImageIO io;
  ASSERT_TRUE(readerkit::Load(io, "markers.jpg", b));
  const TImMarkerList& m = io.Params().JpegMarkers;
  // The leading JFIF APP0 is left out; a later APP0 is kept. ImageMagick's
  // fixture carries no markers of its own after APP0 other than these.
  ASSERT_GE(m.size(), 3u);
  EXPECT_EQ(m[0].Code, 0xFE);
  EXPECT_EQ(std::string(m[0].Data.begin(), m[0].Data.end()), "a comment");
  EXPECT_EQ(m[1].Code, 0xE1);
  EXPECT_EQ(m[1].Data.size(), 8u);
  EXPECT_EQ(m[2].Code, 0xE0);
  EXPECT_EQ(std::string(m[2].Data.begin(), m[2].Data.end()), "JFXX");
  // The next load starts from an empty list.
  ASSERT_TRUE(readerkit::Load(io, "plain.jpg", WithApp0(Fixture("rgb.jpg"), Jfif(1, 72, 72))));
  for (const TImMarker& k : io.Params().JpegMarkers) EXPECT_NE(k.Code, 0xFE);
}

TEST(JpegReader, ScaleDenominatorRules) {
  struct Case {
    int scale, heldW, heldH, denominator;
  } cases[] = {
      {1, 0, 0, 1}, {2, 0, 0, 2}, {3, 0, 0, 4}, {4, 0, 0, 8},
      {0, 12, 8, 4},   // 48 div 4 = 12 covers 12, 48 div 8 does not
      {0, 6, 4, 8},    {0, 13, 8, 2}, {0, 48, 32, 1},
      {0, 100, 8, 1},  // nothing covers it
      {0, 0, 0, 1},    // no size held
      {7, 0, 0, 1},    // other values: the library's default
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "scale " << c.scale << " held " << c.heldW << "x" << c.heldH);
    TImageIO io;
    io.Params().JpegScale = uint8_t(c.scale);
    io.Params().Width = c.heldW;
    io.Params().Height = c.heldH;
    ASSERT_TRUE(readerkit::Load(io, "s.jpg", Fixture("rgb444.jpg")));
    EXPECT_EQ(io.Params().JpegScaleDenominator, c.denominator);
    EXPECT_EQ(io.Params().Width, 48 / c.denominator);
    EXPECT_EQ(io.Params().FullWidth, 48);
    ExpectBlocks(*io.Bitmap(), 10, c.denominator);
  }
}

TEST(JpegReader, EveryDctMethodDecodes) {
  for (int method : {0, 1, 2, 9}) {
    SCOPED_TRACE(method);
    TImageIO io;
    io.Params().JpegDctMethod = uint8_t(method);
    ASSERT_TRUE(readerkit::Load(io, "d.jpg", Fixture("rgb420.jpg")));
    ExpectBlocks(*io.Bitmap(), 10);
  }
}

TEST(JpegReader, ComponentsWithoutAColourSpaceStayInsideTheRow) {
  // Two components: the library delivers them unconverted, two bytes a
  // pixel. The first becomes gray (it holds the picture's red); nothing is
  // written past the row or left out of it, and the parameters' colour
  // fields stay as they were.
  for (const char* file : {"two.jpg"}) {
    SCOPED_TRACE(file);
    TImageIO io;
    io.Params().SamplesPerPixel = 7;
    io.Params().JpegColorSpace = 9;
    ASSERT_TRUE(readerkit::Load(io, file, Fixture(file)));
    TImBitmap& b = *io.Bitmap();
    ASSERT_EQ(b.Width(), 48);
    ASSERT_EQ(b.Height(), 32);
    EXPECT_EQ(io.Params().SamplesPerPixel, 7);
    EXPECT_EQ(io.Params().JpegColorSpace, 9);
    for (int i = 0; i < 6; ++i) {
      const uint8_t* px = b.Scanline((i / 3) * 16 + 8) + 3 * ((i % 3) * 16 + 8);
      const int red = Channel(kBlocks[i], 16);
      EXPECT_NEAR(px[0], red, 6) << i;
      EXPECT_EQ(px[1], px[0]) << i;
      EXPECT_EQ(px[2], px[0]) << i;
    }
  }
}

TEST(JpegReader, HostileSizesAbortBeforeAllocating) {
  struct Case {
    const char* name;
    Bytes bytes;
    const char* text;
  } cases[] = {
      // Beyond the library-wide pixel cap.
      {"65000 x 65000 baseline", WithFrameSize(Fixture("rgb420.jpg"), 65000, 65000), "Image too large"},
      // Within the cap, but far more than 551 bytes of data can describe.
      {"30000 x 30000 progressive", WithFrameSize(Fixture("progressive.jpg"), 30000, 30000), "Image too large"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "prev.jpg", Fixture("rgb420.jpg")));
    EXPECT_FALSE(readerkit::Load(io, "huge.jpg", c.bytes));
    EXPECT_EQ(io.Params().JpegErrorText, c.text);
    EXPECT_EQ(io.Bitmap()->Width(), 48);
  }
}

TEST(JpegReader, EndlessScansAreCorrupt) {
  // The first (DC) scan of the progressive fixture repeated 1,001 times: the
  // library only warns about each repeat.
  const Bytes p = Fixture("progressive.jpg");
  size_t sos = 2;
  while (!(p[sos] == 0xFF && p[sos + 1] == 0xDA)) sos += 2 + ((p[sos + 2] << 8) | p[sos + 3]);
  size_t next = sos + 2;
  while (!(p[next] == 0xFF && p[next + 1] != 0 && !(p[next + 1] >= 0xD0 && p[next + 1] <= 0xD7))) ++next;
  Bytes b(p.begin(), p.begin() + long(sos));
  for (int i = 0; i < 1001; ++i) b.insert(b.end(), p.begin() + long(sos), p.begin() + long(next));
  b.insert(b.end(), {0xFF, 0xD9});
  TImageIO io;
  EXPECT_FALSE(readerkit::Load(io, "scans.jpg", b));
  EXPECT_EQ(io.Params().JpegErrorText, "Corrupted");
}

TEST(JpegReader, ProgressAndStopFromTheHandler) {
  TImageIO io;
  std::vector<int> reports;
  io.OnProgress = [&](void*, int percent) {
    reports.push_back(percent);
    if (reports.size() == 10) io.Aborting = true;
  };
  EXPECT_FALSE(readerkit::Load(io, "stop.jpg", Fixture("rgb444.jpg")));
  // Ten rows of 32, then the loader's final 100.
  ASSERT_EQ(reports.size(), 11u);
  EXPECT_EQ(reports[0], 3);
  EXPECT_EQ(reports[9], 31);
  EXPECT_EQ(reports[10], 100);
  EXPECT_EQ(io.Bitmap()->Height(), 32);
}

// The decoder behind the reader can leave rows out: a sink taking every
// third row sees exactly those rows of the full decode.
TEST(JpegDecoder, RowSinkCanSkipRows) {
  const Bytes file = Fixture("rgb420.jpg");
  TImageIO full;
  ASSERT_TRUE(readerkit::Load(full, "full.jpg", file));

  struct TEveryThird : TJpegRowSink {
    std::vector<std::vector<uint8_t>> rows = std::vector<std::vector<uint8_t>>(32);
    std::vector<int> done;
    uint8_t* RowBuffer(int y) override {
      if (y % 3) return nullptr;
      rows[y].assign(48 * 3, 0);
      return rows[y].data();
    }
    bool RowDone(int y) override {
      done.push_back(y);
      return true;
    }
  } sink;
  TImStream stream(file);
  bool aborting = false;
  TJpegDecoder dec(stream, nullptr, &aborting);
  ASSERT_TRUE(dec.ReadHeader());
  ASSERT_TRUE(dec.Start({}));
  ASSERT_TRUE(dec.ReadRows(sink));
  EXPECT_EQ(dec.RowsRead(), 32);
  EXPECT_FALSE(aborting);
  EXPECT_EQ(sink.done, (std::vector<int>{0, 3, 6, 9, 12, 15, 18, 21, 24, 27, 30}));
  for (int y : sink.done)
    EXPECT_EQ(0, std::memcmp(sink.rows[y].data(), full.Bitmap()->Scanline(y), 48 * 3)) << "row " << y;
}

TEST(JpegDecoder, TablesStreamIsReadFirst) {
  // An abbreviated file split into a tables-only stream (SOI, DQT, DHT,
  // EOI) and an image stream without them, as TIFF stores JPEG strips.
  const Bytes file = Fixture("rgb444.jpg");
  Bytes tables = {0xFF, 0xD8}, image = {0xFF, 0xD8};
  size_t i = 2;
  while (file[i] == 0xFF && file[i + 1] != 0xDA) {
    const size_t len = 2 + ((file[i + 2] << 8) | file[i + 3]);
    Bytes& to = (file[i + 1] == 0xDB || file[i + 1] == 0xC4) ? tables : image;
    to.insert(to.end(), file.begin() + long(i), file.begin() + long(i + len));
    i += len;
  }
  tables.insert(tables.end(), {0xFF, 0xD9});
  image.insert(image.end(), file.begin() + long(i), file.end());

  TImageIO io;
  TImBitmap target;
  bool aborting = false;
  TLoadProgress progress;
  progress.Aborting = &aborting;
  TImStream ts(tables), is(image);
  ReadJpegStream(is, &ts, target, io.Params(), progress);
  EXPECT_FALSE(aborting) << io.Params().JpegErrorText;
  ExpectBlocks(target, 6);
  // Without the tables the image stream cannot be decoded.
  TImStream alone(image);
  ReadJpegStream(alone, nullptr, target, io.Params(), progress);
  EXPECT_TRUE(aborting);
}

TEST(JpegReader, HeaderOnlyStopsBeforeThePixels) {
  TImageIO io;
  TImBitmap target;
  bool aborting = false;
  TLoadProgress progress;
  progress.Aborting = &aborting;
  const Bytes file = Fixture("progressive.jpg");
  TImStream s(file);
  io.Params().JpegScale = 2;
  ReadJpegStream(s, nullptr, target, io.Params(), progress, true);
  EXPECT_FALSE(aborting);
  EXPECT_EQ(io.Params().Width, 24);
  EXPECT_EQ(io.Params().Height, 16);
  EXPECT_TRUE(io.Params().JpegProgressive);
  EXPECT_EQ(target.Width(), 0);
}
