// Loading framework: what a load leaves behind for each kind of failure, the
// choice of reader by extension, default resolution and the final progress.
#include <gtest/gtest.h>

#include "tests/core/ReaderTestKit.h"

using readerkit::Bytes;

namespace {

// A 2 x 1 24-bit bitmap with the given pixels per metre (0xRRGGBB pixels).
Bytes SmallBmp(uint32_t left, uint32_t right, uint32_t ppm = 0) {
  Bytes b = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0};
  b.resize(54, 0);
  for (int i = 0; i < 4; ++i) b[38 + i] = b[42 + i] = uint8_t(ppm >> (8 * i));
  for (uint32_t c : {left, right}) b.insert(b.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)});
  b.insert(b.end(), {0, 0});
  return b;
}

// A loader that remembers the progress values it reported.
struct TWatchedIO {
  TImageIO io;
  std::vector<int> progress;
  TWatchedIO() {
    io.OnProgress = [this](void*, int percent) { progress.push_back(percent); };
  }
};

}  // namespace

TEST(ImageIO, FailedLoadsLeaveWhatTheTableSays) {
  const Bytes previous = SmallBmp(0x010203, 0x040506, 2835);
  struct Case {
    const char* name;
    std::string file;      // name relative to the temporary folder; empty: ""
    Bytes content;         // written unless missing
    bool missing;
    bool keepsImage;       // target still the previous picture
    int fileType;          // FileType afterwards (-1: the previous one)
    bool nameGiven;        // FileName is the name given (else empty or previous)
  } cases[] = {
      {"no extension", "scan", previous, false, true, 0, false},
      {"unknown extension", "scan.xyz", previous, false, true, 0, false},
      {"format without reader", "archive.eps", previous, false, true, 0, false},
      {"video frame", "clip.avi", previous, false, true, -1, false},
      {"wrong content for the extension", "picture.bmp", Bytes{0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0}, false, true,
       ioBMP, true},
      {"truncated data", "cut.bmp", Bytes(previous.begin(), previous.end() - 5), false, false, ioBMP, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TWatchedIO w;
    ASSERT_TRUE(readerkit::Load(w.io, "prev.bmp", previous));
    const std::string prevName = w.io.Params().FileName;
    w.progress.clear();
    const std::string path = readerkit::WriteTemp(c.file, c.content);
    w.io.LoadFromFile(path);
    EXPECT_TRUE(w.io.Aborting);
    ASSERT_FALSE(w.progress.empty());
    EXPECT_EQ(w.progress.back(), 100);
    if (c.keepsImage) readerkit::ExpectRgb(*w.io.Bitmap(), 2, 1, {0x010203, 0x040506});
    const TIOParams& p = w.io.Params();
    EXPECT_EQ(p.FileType, c.fileType < 0 ? ioBMP : c.fileType);
    if (c.nameGiven) EXPECT_EQ(p.FileName, path);
    else if (c.fileType == 0) EXPECT_EQ(p.FileName, "");
    else EXPECT_EQ(p.FileName, prevName);
    // Sizes of the previous load survive a failure before the reader runs.
    EXPECT_EQ(p.Width, 2);
    EXPECT_EQ(p.Height, 1);
  }
  // Truncated data: the new image has its size and the missing pixels are black.
  TImageIO io;
  EXPECT_FALSE(readerkit::Load(io, "cut.bmp", Bytes(previous.begin(), previous.end() - 5)));
  readerkit::ExpectRgb(*io.Bitmap(), 2, 1, {0x010203, 0});

  // An empty name: nothing changes.
  TWatchedIO w;
  ASSERT_TRUE(readerkit::Load(w.io, "prev.bmp", previous));
  w.io.LoadFromFile("");
  EXPECT_TRUE(w.io.Aborting);
  EXPECT_EQ(w.progress.back(), 100);
  EXPECT_EQ(w.io.Params().FileType, ioBMP);
  readerkit::ExpectRgb(*w.io.Bitmap(), 2, 1, {0x010203, 0x040506});
}

TEST(ImageIO, AFileThatCannotBeOpenedRaisesTheOpenError) {
  for (const std::string name : {"gone.bmp", "gone.pcx", "gone.ico", "gone.cur", "gone.tga", "gone.ppm"}) {
    SCOPED_TRACE(name);
    TWatchedIO w;
    ASSERT_TRUE(readerkit::Load(w.io, "prev.bmp", SmallBmp(0x010203, 0x040506)));
    const std::string prevName = w.io.Params().FileName;
    w.progress.clear();
    const std::string path = readerkit::TempDir() + "/missing/" + name;
    try {
      w.io.LoadFromFile(path);
      ADD_FAILURE() << "no error raised";
    } catch (const TImOpenError& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot open file " + path);
    }
    EXPECT_TRUE(w.io.Aborting);
    ASSERT_FALSE(w.progress.empty());
    EXPECT_EQ(w.progress.back(), 100);
    readerkit::ExpectRgb(*w.io.Bitmap(), 2, 1, {0x010203, 0x040506});
    EXPECT_EQ(w.io.Params().FileName, prevName);
    EXPECT_EQ(w.io.Params().FileType, ioBMP);
  }
  // A folder cannot be read as a file either.
  const std::string folder = readerkit::TempDir() + "/folder.bmp";
  std::filesystem::create_directories(folder);
  TImageIO io;
  EXPECT_THROW(io.LoadFromFile(folder), TImOpenError);
}

TEST(ImageIO, ReaderChosenByExtensionOnly) {
  const Bytes bmp = SmallBmp(0x0A0B0C, 0x0D0E0F);
  struct Case {
    const char* name;
    bool loads;
    int fileType;
  } cases[] = {
      {"PHOTO.BMP", true, ioBMP}, {"photo.bmp", true, ioBMP}, {"x.Dib", true, ioBMP}, {"x.rle", true, ioBMP},
      // The Targa reader and the PCX reader reject bitmap content.
      {"old.pix", false, ioTGA}, {"x.pcx", false, ioPCX},
      // A bitmap named as an icon loads as a bitmap; the type stays the icon's.
      {"x.ico", true, ioICO}, {"dir.d/x", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    std::filesystem::create_directories(readerkit::TempDir() + "/dir.d");
    EXPECT_EQ(readerkit::Load(io, c.name, bmp), c.loads);
    EXPECT_EQ(io.Params().FileType, c.fileType);
    if (c.loads) readerkit::ExpectRgb(*io.Bitmap(), 2, 1, {0x0A0B0C, 0x0D0E0F});
  }
}

TEST(ImageIO, ResolutionDefaultsAndFinalProgress) {
  struct Case {
    uint32_t ppm;
    int dpi;
  } cases[] = {{0, 300}, {2835, 72}, {3780, 96}};
  for (const Case& c : cases) {
    TWatchedIO w;
    ASSERT_TRUE(readerkit::Load(w.io, "r.bmp", SmallBmp(1, 2, c.ppm)));
    EXPECT_EQ(w.io.Params().DpiX, c.dpi);
    EXPECT_EQ(w.io.Params().DpiY, c.dpi);
    ASSERT_FALSE(w.progress.empty());
    EXPECT_EQ(w.progress.back(), 100);
    EXPECT_TRUE(std::is_sorted(w.progress.begin(), w.progress.end()));
  }
}
