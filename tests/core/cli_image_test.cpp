// tarvelle-cli info and decode, run as a separate program on fixture files.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <QImage>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/core/CliRun.h"
#include "tests/core/ReaderTestKit.h"

using readerkit::Bytes;

namespace {

using TRun = TCliRun;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TRun Cli(const std::vector<std::string>& args) { return RunCli(args, readerkit::TempDir() + "/cli-stderr.txt"); }

std::string Fixture(const std::string& relative) { return std::string(TARVELLE_FIXTURES) + "/" + relative; }

std::string Info(int type, int w, int h, int bits, int samples, int dpi, const char* format, bool alpha, bool aborting) {
  auto b = [](bool v) { return v ? "true" : "false"; };
  return "FileType: " + std::to_string(type) + "\nWidth: " + std::to_string(w) + "\nHeight: " + std::to_string(h) +
         "\nBitsPerSample: " + std::to_string(bits) + "\nSamplesPerPixel: " + std::to_string(samples) +
         "\nDpiX: " + std::to_string(dpi) + "\nDpiY: " + std::to_string(dpi) + "\nPixelFormat: " + format +
         "\nHasAlphaChannel: " + b(alpha) + "\nAborting: " + b(aborting) + "\n";
}

}  // namespace

TEST(CliImage, InfoReportsTheLoad) {
  const std::string junk = readerkit::WriteTemp("junk.bmp", Bytes{'n', 'o', 'p', 'e'});
  const std::string unknown = readerkit::WriteTemp("notes.xyz", Bytes{'B', 'M'});
  struct Case {
    std::string file;
    int status;
    std::string out;
  } cases[] = {
      {Fixture("bmp/rgb24.bmp"), 0, Info(ioBMP, 5, 4, 8, 3, 300, "im24bgr", false, false)},
      {Fixture("bmp/mono.bmp"), 0, Info(ioBMP, 10, 3, 1, 1, 300, "im1bit", false, false)},
      {Fixture("pcx/pal8.pcx"), 0, Info(ioPCX, 5, 4, 8, 1, 300, "im24bgr", false, false)},
      {Fixture("ico/rgba.ico"), 0, Info(ioICO, 5, 4, 8, 4, 300, "im24bgr", true, false)},
      // Rejected before decoding: the fresh component's defaults and empty buffer.
      {junk, 1, Info(ioBMP, 0, 0, 8, 3, 300, "imNone", false, true)},
      {unknown, 1, Info(0, 0, 0, 8, 3, 0, "imNone", false, true)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const TRun r = Cli({"info", c.file});
    EXPECT_EQ(r.Status, c.status);
    EXPECT_EQ(r.Out, c.out);
  }
  // A missing file: the open error on stderr, nothing on stdout.
  const std::string missing = readerkit::TempDir() + "/no/such.bmp";
  const TRun r = Cli({"info", missing});
  EXPECT_EQ(r.Status, 2);
  EXPECT_EQ(r.Out, "");
  EXPECT_NE(r.Err.find("Cannot open file " + missing), std::string::npos) << r.Err;
}

TEST(CliImage, DecodeWritesPortableMaps) {
  const std::string out = readerkit::TempDir() + "/decoded";
  struct Case {
    std::string file;
    int status;
    std::string header;
    Bytes firstBytes;  // the first pixel bytes after the header
    bool alpha;
  } cases[] = {
      // Top-left pixel 0x102030 in RGB order.
      {Fixture("bmp/rgb24.bmp"), 0, "P6\n5 4\n255\n", {0x10, 0x20, 0x30, 0xF0, 0xE0, 0xD0}, false},
      // Row 0 "1011000001" (1 white) becomes 0100111110 with 1 black; the
      // padding bits stay clear.
      {Fixture("bmp/mono.bmp"), 0, "P4\n10 3\n", {0x4F, 0x80}, false},
      {Fixture("ico/palt.ico"), 0, "P6\n5 4\n255\n", {0xFF, 0xFF, 0xFF}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::remove((out + ".alpha.pgm").c_str());
    const TRun r = Cli({"decode", c.file, out});
    EXPECT_EQ(r.Status, c.status) << r.Err;
    const std::string written = ReadText(out);
    ASSERT_GE(written.size(), c.header.size() + c.firstBytes.size());
    EXPECT_EQ(written.substr(0, c.header.size()), c.header);
    EXPECT_EQ(Bytes(written.begin() + static_cast<long>(c.header.size()),
                    written.begin() + static_cast<long>(c.header.size() + c.firstBytes.size())),
              c.firstBytes);
    const std::string alpha = ReadText(out + ".alpha.pgm");
    EXPECT_EQ(!alpha.empty(), c.alpha);
    if (c.alpha) {
      ASSERT_EQ(alpha.size(), std::string("P5\n5 4\n255\n").size() + 20);
      EXPECT_EQ(alpha.substr(0, 11), "P5\n5 4\n255\n");
      EXPECT_EQ(uint8_t(alpha[11]), 0);        // the clear border
      EXPECT_EQ(uint8_t(alpha[11 + 6]), 255);  // an opaque inner pixel
    }
  }
  // A colour map holds exactly its header and three bytes per pixel.
  EXPECT_EQ(ReadText(out).size(), std::string("P6\n5 4\n255\n").size() + 5 * 4 * 3);

  // A truncated file is written as far as it decoded, with status 1.
  Bytes cut = readerkit::ReadFixture("bmp/rgb24.bmp");
  cut.resize(cut.size() - 20);
  const TRun partial = Cli({"decode", readerkit::WriteTemp("cut.bmp", cut), out});
  EXPECT_EQ(partial.Status, 1);
  EXPECT_EQ(ReadText(out).size(), std::string("P6\n5 4\n255\n").size() + 60);
  // Nothing decoded: nothing written.
  std::remove(out.c_str());
  EXPECT_EQ(Cli({"decode", readerkit::WriteTemp("junk.pcx", Bytes{1, 2, 3}), out}).Status, 1);
  EXPECT_EQ(ReadText(out), "");
  EXPECT_EQ(Cli({"decode", readerkit::TempDir() + "/gone.bmp", out}).Status, 2);
  // An output that cannot be created.
  EXPECT_EQ(Cli({"decode", Fixture("bmp/rgb24.bmp"), readerkit::TempDir() + "/no/dir/out"}).Status, 2);
}

TEST(CliImage, HelpAndWrongArguments) {
  for (const char* command : {"info", "decode"}) {
    SCOPED_TRACE(command);
    const TRun help = Cli({command, "--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_EQ(help.Out.rfind(std::string("usage: tarvelle-cli ") + command, 0), 0u) << help.Out;
    const TRun none = Cli({command});
    EXPECT_EQ(none.Status, 2);
    EXPECT_EQ(none.Out, "");
    EXPECT_NE(none.Err.find("usage:"), std::string::npos);
  }
}

// The command-line tool draws metafile text as the window does: the line of
// text in the exported drawing has about as much ink as in the exporting
// program's own rendering, and the tool prints no platform warnings.
TEST(CliImage, DecodeDrawsMetafileText) {
  const std::string out = readerkit::TempDir() + "/drawing.ppm";
  const TRun r = Cli({"decode", Fixture("wmf/drawing.wmf"), out});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Err, "");
  const QImage got(QString::fromStdString(out), "PPM");
  const QImage ref(QString(TARVELLE_FIXTURES) + "/wmf/drawing_ref.png");
  ASSERT_FALSE(got.isNull());
  ASSERT_EQ(got.size(), ref.size());
  auto dark = [](const QImage& img) {
    int n = 0;
    for (int y = 96; y < 134; ++y)
      for (int x = 138; x < 268; ++x) {
        const QRgb c = img.pixel(x, y);
        n += qRed(c) < 96 && qGreen(c) < 96 && qBlue(c) < 96;
      }
    return n;
  };
  const int ink = dark(got), want = dark(ref);
  EXPECT_GT(ink, want / 2);
  EXPECT_LT(ink, want * 2);
}
