#pragma once
// The fifteen searchable file types: their captions in the options dialog,
// the search patterns each contributes and the bit it sets in FileTypes.

#include <cstdint>
#include <string>
#include <vector>

struct TFileTypeRow {
  const char* Caption;
  const char* Key;       // command-line name of the row
  std::vector<std::string> Patterns;
};

// Rows 0..14; row i sets bit i of TSettings::FileTypes.
const std::vector<TFileTypeRow>& FileTypeRows();

// The search patterns of the set bits, rows in order.
std::vector<std::string> FileTypePatterns(uint16_t fileTypes);
