#pragma once
// Small portable pixmaps and bitmaps made in the tests: a picture of 4 x 4
// coloured blocks at any size, so that copies of it at other sizes look
// alike once stretched to a thumbnail.

#include <cstdint>
#include <string>

inline std::string BlocksPpm(int width, int height, int seed = 0) {
  std::string out = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int block = (y * 4 / height) * 4 + (x * 4 / width) + seed;
      out += static_cast<char>((block * 53) & 255);
      out += static_cast<char>((block * 101 + 40) & 255);
      out += static_cast<char>((block * 197 + 90) & 255);
    }
  return out;
}

// A black-and-white picture: the left half black, the right half white.
inline std::string HalvesPbm(int width, int height) {
  std::string out = "P1\n" + std::to_string(width) + " " + std::to_string(height) + "\n";
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) out += x < width / 2 ? "1 " : "0 ";
    out += "\n";
  }
  return out;
}
