#pragma once
// Helpers for reader tests: files written under a chosen name, loads through
// TImageIO, pixel tables and the truncation sweep.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "io/ImageIO.h"

namespace readerkit {

using Bytes = std::vector<uint8_t>;

// Appends a little-endian 16- or 32-bit value.
inline void Put16(Bytes& b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

inline std::string TempDir() {
  static const std::string dir = [] {
    std::filesystem::path p = std::filesystem::temp_directory_path() /
                              ("tarvelle-readers-" + std::to_string(::getpid()));
    std::filesystem::create_directories(p);
    return p.string();
  }();
  return dir;
}

inline Bytes ReadFixture(const std::string& relative) {
  std::ifstream in(std::string(TARVELLE_FIXTURES) + "/" + relative, std::ios::binary);
  EXPECT_TRUE(in.good()) << relative;
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline std::string WriteTemp(const std::string& name, const Bytes& bytes) {
  const std::string path = TempDir() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

// Loads the bytes stored under `name`; true when the reader did not abort.
inline bool Load(TImageIO& io, const std::string& name, const Bytes& bytes) {
  io.LoadFromFile(WriteTemp(name, bytes));
  return !io.Aborting;
}

// A 24-bit pixel as 0xRRGGBB.
inline uint32_t Rgb(TImBitmap& b, int x, int y) {
  const uint8_t* p = b.Scanline(y) + 3 * x;
  return (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
}
inline int Bit(TImBitmap& b, int x, int y) { return (b.Scanline(y)[x >> 3] >> (7 - (x & 7))) & 1; }

// Expects an im24bgr image of the table's size holding the table (row-major 0xRRGGBB).
inline void ExpectRgb(TImBitmap& b, int w, int h, const std::vector<uint32_t>& table) {
  ASSERT_EQ(b.PixelFormat(), im24bgr);
  ASSERT_EQ(b.Width(), w);
  ASSERT_EQ(b.Height(), h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      EXPECT_EQ(Rgb(b, x, y), table[static_cast<size_t>(y * w + x)]) << "pixel " << x << "," << y;
}

// Gray table: every pixel has equal blue, green and red.
inline void ExpectGray(TImBitmap& b, int w, int h, const std::vector<int>& table) {
  std::vector<uint32_t> rgb;
  for (int v : table) rgb.push_back(uint32_t(v) * 0x010101u);
  ExpectRgb(b, w, h, rgb);
}

// Expects an im1bit image whose rows read as the strings ('1' white, '0' black).
inline void ExpectBits(TImBitmap& b, const std::vector<std::string>& rows) {
  ASSERT_EQ(b.PixelFormat(), im1bit);
  ASSERT_EQ(b.Height(), static_cast<int>(rows.size()));
  ASSERT_EQ(b.Width(), static_cast<int>(rows[0].size()));
  for (int y = 0; y < b.Height(); ++y) {
    std::string got;
    for (int x = 0; x < b.Width(); ++x) got.push_back(Bit(b, x, y) ? '1' : '0');
    EXPECT_EQ(got, rows[y]) << "row " << y;
  }
}

// Loads every proper prefix of the file under `name`: none may crash, and a
// load that succeeds gives an image of the size the reader reports.
inline void SweepPrefixes(const std::string& name, const Bytes& bytes) {
  for (size_t n = 0; n < bytes.size(); ++n) {
    TImageIO io;
    const bool ok = Load(io, name, Bytes(bytes.begin(), bytes.begin() + static_cast<long>(n)));
    if (ok) {
      EXPECT_EQ(io.Bitmap()->Width(), io.Params().Width) << name << " prefix " << n;
      EXPECT_EQ(io.Bitmap()->Height(), io.Params().Height) << name << " prefix " << n;
    }
  }
}

// The 5 x 4 test picture of the converter fixtures (0xRRGGBB, row-major):
// six colours, as the 4-bit, true-colour and icon files hold it.
inline const std::vector<uint32_t> kSix = {
    0x102030, 0xF0E0D0, 0x00FF00, 0x800000, 0x0000FF,  //
    0xFFFFFF, 0x102030, 0xF0E0D0, 0x00FF00, 0x800000,  //
    0x0000FF, 0xFFFFFF, 0x102030, 0xF0E0D0, 0x00FF00,  //
    0x800000, 0x0000FF, 0xFFFFFF, 0x102030, 0x102030,
};

// The twenty-colour 5 x 4 picture of the 8-bit fixtures.
inline std::vector<uint32_t> Twenty() {
  std::vector<uint32_t> t;
  for (uint32_t i = 0; i < 20; ++i) t.push_back(((i * 12) << 16) | ((255 - i * 11) << 8) | ((i * 37) % 256));
  return t;
}

}  // namespace readerkit
