// Headers that claim far more pixels than their file could hold are refused
// before any pixel buffer is allocated: a few hundred bytes naming a
// 16384 x 16384 image (under the pixel cap) must not cost a gigabyte.
#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <string>

#include "tests/core/ReaderTestKit.h"

using readerkit::Bytes;
using readerkit::Put16;
using readerkit::Put32;

namespace {

constexpr uint32_t kSide = 16384;

void Be32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
}
void Pad(Bytes& b, size_t n, uint8_t v = 0x55) { b.insert(b.end(), n, v); }
void SetBe(Bytes& b, size_t at, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * (bytes - 1 - i)));
}

Bytes Bmp() {
  Bytes b{'B', 'M'};
  Put32(b, 54 + 200);
  Put32(b, 0);
  Put32(b, 54);
  Put32(b, 40);
  Put32(b, kSide);
  Put32(b, kSide);
  Put16(b, 1);
  Put16(b, 24);
  for (int i = 0; i < 6; ++i) Put32(b, 0);
  Pad(b, 200);
  return b;
}

Bytes Tga() {
  Bytes b{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  Put16(b, kSide);
  Put16(b, kSide);
  b.push_back(24);
  b.push_back(0);
  Pad(b, 200);
  return b;
}

Bytes Pcx() {
  Bytes b(128, 0);
  b[0] = 0x0A, b[1] = 5, b[2] = 1, b[3] = 8;
  b[8] = uint8_t(kSide - 1), b[9] = uint8_t((kSide - 1) >> 8);
  b[10] = b[8], b[11] = b[9];
  b[65] = 3;
  b[66] = uint8_t(kSide), b[67] = uint8_t(kSide >> 8);
  Pad(b, 200);
  return b;
}

Bytes Ppm() {
  const std::string h = "P6\n" + std::to_string(kSide) + " " + std::to_string(kSide) + "\n255\n";
  Bytes b(h.begin(), h.end());
  Pad(b, 200);
  return b;
}

Bytes Wbmp() {
  // 16384 as a multi-byte integer: 0x81 0x80 0x00.
  Bytes b{0, 0, 0x81, 0x80, 0x00, 0x81, 0x80, 0x00};
  Pad(b, 200);
  return b;
}

Bytes Gif() {
  Bytes b{'G', 'I', 'F', '8', '9', 'a'};
  Put16(b, kSide);
  Put16(b, kSide);
  b.insert(b.end(), {0, 0, 0, ','});
  Put16(b, 0);
  Put16(b, 0);
  Put16(b, kSide);
  Put16(b, kSide);
  b.insert(b.end(), {0, 8, 100});
  Pad(b, 100, 0);
  b.insert(b.end(), {0, ';'});
  return b;
}

Bytes Tiff(uint16_t compression, uint32_t width = kSide, uint32_t length = kSide) {
  Bytes b{'I', 'I', 42, 0};
  Put32(b, 8);
  const uint32_t entries[][3] = {{256, 4, width}, {257, 4, length}, {258, 3, compression == 4 ? 1u : 8u},
                                 {259, 3, compression}, {262, 3, 0}, {273, 4, 200}, {277, 3, 1},
                                 {278, 4, length}, {279, 4, 100}};
  Put16(b, uint16_t(std::size(entries)));
  for (const auto& e : entries) {
    Put16(b, e[0]);
    Put16(b, e[1]);
    Put32(b, 1);
    if (e[1] == 3) {
      Put16(b, e[2]);
      Put16(b, 0);
    } else {
      Put32(b, e[2]);
    }
  }
  Put32(b, 0);
  b.resize(200, 0);
  Pad(b, 100);
  return b;
}

Bytes Png() {
  Bytes b{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr{'I', 'H', 'D', 'R'};
  Be32(ihdr, kSide);
  Be32(ihdr, kSide);
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
  Be32(b, 13);
  b.insert(b.end(), ihdr.begin(), ihdr.end());
  Be32(b, uint32_t(crc32(0, ihdr.data(), uInt(ihdr.size()))));
  Pad(b, 200);
  return b;
}

// The baseline fixture with its frame header's size replaced.
Bytes Jpeg() {
  Bytes b = readerkit::ReadFixture("jpeg/rgb.jpg");
  for (size_t i = 2; i + 9 < b.size(); ++i)
    if (b[i] == 0xFF && b[i + 1] == 0xC0) {
      SetBe(b, i + 5, kSide, 2);
      SetBe(b, i + 7, kSide, 2);
      break;
    }
  return b;
}

// The code stream fixture with its image and tile sizes replaced.
Bytes J2k() {
  Bytes b = readerkit::ReadFixture("jp2/rgb.j2k");
  // SIZ follows SOC: marker, length, capabilities, then Xsiz, Ysiz, XOsiz,
  // YOsiz, XTsiz, YTsiz.
  SetBe(b, 8, kSide, 4);
  SetBe(b, 12, kSide, 4);
  SetBe(b, 24, kSide, 4);
  SetBe(b, 28, kSide, 4);
  return b;
}

}  // namespace

TEST(SizeClaims, HopelessHeadersAreRefusedBeforeAllocating) {
  const struct {
    const char* name;
    std::function<Bytes()> make;
  } cases[] = {
      {"claim.bmp", Bmp},  {"claim.tga", Tga},   {"claim.pcx", Pcx},
      {"claim.ppm", Ppm},  {"claim.wbmp", Wbmp}, {"claim.gif", Gif},
      {"claim.tif", [] { return Tiff(1); }},     {"claim-packbits.tif", [] { return Tiff(32773); }},
      {"claim.png", Png},  {"claim.jpg", Jpeg},  {"claim.j2k", J2k},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    EXPECT_FALSE(readerkit::Load(io, c.name, c.make()));
    EXPECT_EQ(io.Bitmap()->Width(), 0);
  }
}

// A fax page takes at least one bit a row, so a blank wide page coded in a
// few hundred bytes is still read, while one claiming more rows than its
// bits is refused.
TEST(SizeClaims, FaxRowsNeedAtLeastABitEach) {
  TImageIO wide;
  readerkit::Load(wide, "wide-fax.tif", Tiff(4, 8000, 2000));
  EXPECT_EQ(wide.Bitmap()->Width(), 8000);
  TImageIO tall;
  EXPECT_FALSE(readerkit::Load(tall, "tall-fax.tif", Tiff(4, 100, 8 * 300 + 8)));
  EXPECT_EQ(tall.Bitmap()->Width(), 0);
}
