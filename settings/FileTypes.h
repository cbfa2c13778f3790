#pragma once
// The fifteen image file types a scan can look for: the flag each sets in the
// settings, the name of its stored value, its caption in the options, the
// search patterns it contributes and a short name for the command line.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

enum TImageFileType : uint8_t {
  itJPEG, itGIF, itPNG, itTIF, itJP2, itJ2K, itTGA, itPCX,
  itBMP, itWMF, itEMF, itICO, itCUR, itWBMP, itPXM,
};
inline constexpr int kImageFileTypeCount = 15;

// A set of file types: bit i stands for TImageFileType i.
using TImageFileTypes = uint16_t;
inline constexpr TImageFileTypes kAllImageFileTypes = (1u << kImageFileTypeCount) - 1;

struct TImageFileTypeInfo {
  TImageFileType Type;
  const char* ValueName;  // "itJPEG"
  const char* Caption;    // "JPEG Bitmap (*.jpg;*.jpeg;*.jpe)"
  const char* ShortName;  // "jpeg"
  std::vector<std::string> Patterns;  // "*.jpg", "*.jpeg", "*.jpe"
};

// The rows in bit order.
const std::array<TImageFileTypeInfo, kImageFileTypeCount>& ImageFileTypeRows();

// The patterns of the selected types, row by row in table order.
std::vector<std::string> PatternsForFileTypes(TImageFileTypes types);

// Looks a row up by its short name or, for convenience, by any extension it
// searches for ("jpg", "tif"), ignoring ASCII case. Returns false when none
// matches.
bool FindImageFileType(const std::string& name, TImageFileType& type);
