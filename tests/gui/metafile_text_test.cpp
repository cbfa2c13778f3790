// Metafile text: with an application and its fonts the text records are
// drawn. The drawings exported by LibreOffice Draw are compared with its own
// rendering including the line of text, and hand-made records check the
// alignment, the colours and the opaque background of text.
#include <gtest/gtest.h>

#include <QImage>

#include "tests/core/MetafileBuilder.h"
#include "tests/core/ReaderTestKit.h"

using mfbuild::Bytes;
using readerkit::Rgb;

namespace {

bool Dark(uint32_t rgb) { return ((rgb >> 16) & 0xFF) < 96 && ((rgb >> 8) & 0xFF) < 96 && (rgb & 0xFF) < 96; }

// Dark pixels inside a rectangle of the picture.
int DarkPixels(TImBitmap& b, QRect r) {
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) n += Dark(Rgb(b, x, y));
  return n;
}

int DarkPixels(const QImage& img, QRect r) {
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) {
      const QRgb c = img.pixel(x, y);
      n += Dark((uint32_t(qRed(c)) << 16) | (uint32_t(qGreen(c)) << 8) | qBlue(c));
    }
  return n;
}

}  // namespace

TEST(MetafileText, DrawingWithTextMatchesTheExportingProgramsRendering) {
  for (const char* name : {"wmf/drawing", "emf/drawing"}) {
    SCOPED_TRACE(name);
    const std::string file = std::string(name) + (name[0] == 'w' ? ".wmf" : ".emf");
    TImageIO io;
    io.SetBackground(clWhite);
    ASSERT_TRUE(readerkit::Load(io, file.substr(4), readerkit::ReadFixture(file)));
    TImBitmap& b = *io.Bitmap();
    const QImage ref =
        QImage(QString(TARVELLE_FIXTURES) + "/" + name + "_ref.png").convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(ref.size(), QSize(b.Width(), b.Height()));
    // Pixels that differ by more than 64 in a channel: the antialiased
    // edges of the reference, its smoothed bitmap and the font's details.
    int differ = 0;
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < b.Width(); ++x) {
        const uint32_t got = Rgb(b, x, y);
        const QRgb want = ref.pixel(x, y);
        const int d = std::max({std::abs(int(got >> 16) - qRed(want)), std::abs(int((got >> 8) & 0xFF) - qGreen(want)),
                                std::abs(int(got & 0xFF) - qBlue(want))});
        differ += d > 64;
      }
    EXPECT_LT(double(differ) / (b.Width() * b.Height()), 0.05);
    // The line of text has about as much ink as in the reference.
    const QRect text(138, 96, 130, 38);
    const int got = DarkPixels(b, text), want = DarkPixels(ref, text);
    EXPECT_GT(got, want / 2);
    EXPECT_LT(got, want * 2);
  }
}

TEST(MetafileText, AlignmentColourAndOpaqueBackground) {
  // A 200 x 100 picture; a 40-pixel font at the centre of the picture.
  mfbuild::Wmf m;
  m.Window(0, 0, 200, 100);
  Bytes font;
  for (int16_t w : {int16_t(-40), int16_t(0), int16_t(0), int16_t(0), int16_t(700)}) mfbuild::Put16(font, uint16_t(w));
  for (uint8_t c : {0, 0, 0, 0, 0, 0, 0, 0}) font.push_back(c);
  for (char c : std::string("DejaVu Sans")) font.push_back(uint8_t(c));
  font.resize(18 + 32, 0);
  m.Raw(0x02FB, font).Select(0);
  m.Rec(0x0209, mfbuild::Color(0x0000FF));   // SETTEXTCOLOR blue
  m.Rec(0x0201, mfbuild::Color(0xFFFF00));   // SETBKCOLOR yellow
  m.Rec(0x0102, {1});                        // SETBKMODE transparent
  m.Rec(0x012E, {6 | 24});                   // TA_CENTER | TA_BASELINE
  // TEXTOUT "HH" at (100, 60).
  m.Rec(0x0521, {{2}, {int16_t('H' | ('H' << 8))}, {60, 100}});
  // EXTTEXTOUT with ETO_OPAQUE: the rectangle 0,80-40,100 is filled yellow.
  m.Rec(0x0A32, {{90, 10, 1, 2}, {0, 80, 40, 100}, {int16_t('.')}});
  TImageIO io;
  io.SetBackground(clWhite);
  ASSERT_TRUE(readerkit::Load(io, "text.wmf", m.File(0, 0, 200, 100, 96)));
  TImBitmap& b = *io.Bitmap();
  int blue = 0, left = 200, right = -1, top = 100, bottom = -1;
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 200; ++x)
      if (Rgb(b, x, y) == 0x0000FF) {
        ++blue;
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  ASSERT_GT(blue, 100);
  // Centred on x = 100, standing on the base line at y = 60.
  EXPECT_NEAR((left + right) / 2.0, 100, 3);
  EXPECT_NEAR(bottom, 59, 2);
  EXPECT_NEAR(bottom - top, 29, 5);
  // Transparent background mode: no yellow around the letters.
  EXPECT_EQ(Rgb(b, left - 2, 50), 0xFFFFFFu);
  EXPECT_EQ(Rgb(b, 20, 90), 0xFFFF00u);
}
