// JPEG 2000 reader: JP2 files and code streams made by an encoder, a JP2
// file with YCbCr components (chroma subsampled by 2), and bad input.
#include <gtest/gtest.h>

#include "io/Jp2Reader.h"
#include "tests/core/ReaderTestKit.h"

using readerkit::Bytes;

namespace {

const std::vector<uint32_t> kPicture = {
    0x0A1405, 0x461405, 0x821405, 0xBE1405, 0xFA1405,  //
    0x0A5A05, 0x465A2A, 0x825A4F, 0xBE5A74, 0xFA5A99,  //
    0x0AA005, 0x46A04F, 0x82A099, 0xBEA0E3, 0xFAA02D,  //
    0x0AE605, 0x46E674, 0x82E6E3, 0xBEE652, 0xFAE6C1,
};

Bytes Fixture(const char* name) { return readerkit::ReadFixture(std::string("jp2/") + name); }

}  // namespace

// The content decides the decoder; the extension only decides FileType.
TEST(Jp2Reader, RgbFilesAndCodeStreamsUnderEveryName) {
  struct Case {
    const char* fixture;
    const char* name;
    int fileType;
  } cases[] = {
      {"rgb.jp2", "a.jp2", ioJP2}, {"rgb.j2k", "a.j2k", ioJ2K}, {"rgb.j2k", "a.jpc", ioJ2K},
      {"rgb.j2k", "a.J2C", ioJ2K}, {"rgb.jp2", "a.j2k", ioJ2K}, {"rgb.j2k", "a.jp2", ioJP2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fixture << " as " << c.name);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, c.name, Fixture(c.fixture)));
    readerkit::ExpectRgb(*io.Bitmap(), 5, 4, kPicture);
    EXPECT_EQ(io.Params().FileType, c.fileType);
    EXPECT_EQ(io.Params().BitsPerSample, 8);
    EXPECT_EQ(io.Params().SamplesPerPixel, 3);
    EXPECT_EQ(io.Params().Width, 5);
    EXPECT_EQ(io.Params().Height, 4);
    EXPECT_EQ(io.Params().DpiX, 300);
    EXPECT_EQ(io.Params().DpiY, 300);
    EXPECT_FALSE(io.Bitmap()->HasAlphaChannel());
  }
}

TEST(Jp2Reader, GrayPrecisions) {
  TImageIO io;
  TImRGB old{1, 2, 3};
  io.Params().SetColorMap(&old, 1);
  ASSERT_TRUE(readerkit::Load(io, "g.jp2", Fixture("gray.jp2")));
  readerkit::ExpectGray(*io.Bitmap(), 5, 4, {0, 50, 100, 150, 200, 13, 63, 113, 163, 213,
                                             26, 76, 126, 176, 226, 39, 89, 139, 189, 239});
  EXPECT_EQ(io.Params().BitsPerSample, 8);
  EXPECT_EQ(io.Params().SamplesPerPixel, 1);
  EXPECT_EQ(io.Params().ColorMapCount, 0);

  // 12-bit samples keep their top 8 bits: 4095 gives 255, 15 gives 0.
  ASSERT_TRUE(readerkit::Load(io, "g12.jp2", Fixture("gray12.jp2")));
  readerkit::ExpectGray(*io.Bitmap(), 5, 4, {0, 62, 125, 187, 250, 0, 63, 125, 188, 250,
                                             1, 64, 126, 189, 251, 2, 65, 127, 190, 252});
  EXPECT_EQ(io.Params().BitsPerSample, 12);

  // A 1-bit gray code stream becomes im1bit; sample 1 is white.
  ASSERT_TRUE(readerkit::Load(io, "bw.j2k", Fixture("bw.j2k")));
  readerkit::ExpectBits(*io.Bitmap(), {"01010", "10101", "01010", "10101"});
  EXPECT_EQ(io.Params().BitsPerSample, 1);
  EXPECT_EQ(io.Params().SamplesPerPixel, 1);
}

// Y is full size, Cb and Cr are 3 x 2 planes, each value shared by a 2 x 2
// block of pixels.
TEST(Jp2Reader, YCbCrWithSubsampledChroma) {
  TImageIO io;
  std::vector<int> reports;
  io.OnProgress = [&](void*, int percent) { reports.push_back(percent); };
  ASSERT_TRUE(readerkit::Load(io, "ycc.jp2", Fixture("ycc.jp2")));
  // Y = 128, Cb = Cr = 128 is gray 128; Y = 230, Cb = 3, Cr = 128 has blue 9.
  readerkit::ExpectRgb(*io.Bitmap(), 5, 4,
                       {0x808080, 0x808080, 0xE6FF09, 0xE6FF09, 0x0061FF,  //
                        0x808080, 0x808080, 0xE6FF09, 0x0A3500, 0x0061FF,  //
                        0xFF9900, 0xC60000, 0x808080, 0x808080, 0x4CFF1C,  //
                        0xFF9900, 0xC60000, 0x808080, 0x808080, 0x008700});
  EXPECT_EQ(io.Params().SamplesPerPixel, 3);
  EXPECT_EQ(reports, (std::vector<int>{0, 25, 50, 75, 100}));

  const TJp2YCbCrTables& t = Jp2YCbCrTables();
  EXPECT_EQ(t.RedFromCr[0], -179);
  EXPECT_EQ(t.RedFromCr[128], 0);
  EXPECT_EQ(t.RedFromCr[255], 178);
  EXPECT_EQ(t.BlueFromCb[0], -227);
  EXPECT_EQ(t.BlueFromCb[3], -221);
  EXPECT_EQ(t.BlueFromCb[253], 221);
  EXPECT_EQ(t.BlueFromCb[255], 225);
  EXPECT_EQ(t.GreenFromCr[0], 91);
  EXPECT_EQ(t.GreenFromCr[255], -91);
  EXPECT_EQ(t.GreenFromCb[0], 44);
  EXPECT_EQ(t.GreenFromCb[127], 0);
  EXPECT_EQ(t.GreenFromCb[255], -44);
}

TEST(Jp2Reader, BadInputLeavesThePreviousImage) {
  const Bytes jp2 = Fixture("rgb.jp2");
  Bytes corrupt = Fixture("rgb.j2k");
  for (size_t i = 60; i < corrupt.size(); ++i) corrupt[i] = static_cast<uint8_t>(i * 7);
  struct Case {
    const char* name;
    Bytes file;
  } cases[] = {
      {"a JPEG file", {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0}},
      {"empty", {}},
      {"signature only", Bytes(jp2.begin(), jp2.begin() + 12)},
      {"code stream start only", {0xFF, 0x4F, 0xFF, 0x51}},
      {"half a JP2 file", Bytes(jp2.begin(), jp2.begin() + static_cast<long>(jp2.size() / 2))},
      {"scrambled code stream", corrupt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    ASSERT_TRUE(readerkit::Load(io, "ok.jp2", Fixture("gray.jp2")));
    io.Params().BitsPerSample = 99;
    EXPECT_FALSE(readerkit::Load(io, "bad.jp2", c.file));
    EXPECT_EQ(io.Params().FileType, ioJP2);
    EXPECT_EQ(io.Params().BitsPerSample, 99);
    EXPECT_EQ(readerkit::Rgb(*io.Bitmap(), 1, 0), 0x323232u);
  }
  TImStream sig(jp2);
  EXPECT_TRUE(IsJp2Stream(sig));
  EXPECT_FALSE(IsJ2kStream(sig));
  EXPECT_EQ(sig.Position(), 0);
}

TEST(Jp2Reader, EveryPrefixLoadsWithoutCrash) {
  readerkit::SweepPrefixes("p.jp2", Fixture("rgb.jp2"));
  readerkit::SweepPrefixes("p.j2k", Fixture("bw.j2k"));
  readerkit::SweepPrefixes("y.jp2", Fixture("ycc.jp2"));
}
