// TIFF LZW decoder. The string table keeps, per entry, its prefix code, last
// byte, first byte and length, so growing the table never allocates and a
// string is written out back to front in one pass.
#include "io/TiffLzw.h"

#include <algorithm>
#include <cstring>
#include <vector>

TTiffLzwDecoder DefTiffLzwDecoder = DecodeTiffLzw;

namespace {

constexpr int kClear = 256;
constexpr int kEnd = 257;
constexpr int kFirstFree = 258;
constexpr int kTableSize = 4096;

}  // namespace

struct TTiffLzwState {
  std::span<const uint8_t> Data;
  int64_t RowLength = 0;
  uint64_t BitPos = 0;
  int Width = 9;
  int NextFree = kFirstFree;
  int Prev = -1;  // no previous code
  bool Error = false;
  bool Ended = false;
  bool RowOut = false;  // a row was handed out and is dropped on the next call
  std::vector<uint8_t> Out;
  int64_t Fill = 0;
  uint16_t Prefix[kTableSize];
  uint8_t Suffix[kTableSize];
  uint8_t First[kTableSize];
  uint16_t Length[kTableSize];

  TTiffLzwState(std::span<const uint8_t> data, int64_t rowLength) : Data(data), RowLength(rowLength) {
    // A string is at most 4096 bytes, and one is written only while the
    // buffer holds less than a row.
    Out.assign(static_cast<size_t>(rowLength) + kTableSize, 0);
    for (int i = 0; i < 256; ++i) {
      Prefix[i] = 0;
      Suffix[i] = First[i] = static_cast<uint8_t>(i);
      Length[i] = 1;
    }
    Length[kClear] = Length[kEnd] = 0;
  }

  // The next code: the big-endian 32-bit word at BitPos / 8 shifted left by
  // BitPos mod 8, its top Width bits. Missing bytes are zero.
  int ReadCode() {
    const uint64_t byte = BitPos >> 3;
    uint32_t word = 0;
    for (uint64_t k = 0; k < 4; ++k) {
      word <<= 8;
      if (byte + k < Data.size()) word |= Data[static_cast<size_t>(byte + k)];
    }
    word <<= (BitPos & 7);
    BitPos += static_cast<uint64_t>(Width);
    return static_cast<int>(word >> (32 - Width));
  }

  void Reset() {
    NextFree = kFirstFree;
    Width = 9;
  }

  void Emit(int code) {
    const int len = Length[code];
    uint8_t* dst = Out.data() + Fill;
    for (int i = len - 1, c = code; i >= 0; --i) {
      dst[i] = Suffix[c];
      c = Prefix[c];
    }
    Fill += len;
  }

  // Adds Prev's string followed by byte b.
  void Add(uint8_t b) {
    if (NextFree >= kTableSize || Prev < 0 || Prev >= NextFree || Prev == kClear || Prev == kEnd) {
      Error = true;
      return;
    }
    Prefix[NextFree] = static_cast<uint16_t>(Prev);
    Suffix[NextFree] = b;
    First[NextFree] = First[Prev];
    Length[NextFree] = static_cast<uint16_t>(Length[Prev] + 1);
    ++NextFree;
    if (NextFree == 511) Width = 10;
    else if (NextFree == 1023) Width = 11;
    else if (NextFree == 2047) Width = 12;
  }

  const uint8_t* NextRow() {
    if (Error) return nullptr;
    if (RowOut) {
      // Bytes decoded beyond the previous row move to the front.
      if (Fill > RowLength) {
        std::memmove(Out.data(), Out.data() + RowLength, static_cast<size_t>(Fill - RowLength));
        Fill -= RowLength;
      } else {
        Fill = 0;
      }
    }
    while (Fill < RowLength && !Ended && !Error) {
      int code = ReadCode();
      if (code == kClear) {
        // The code after a Clear (runs of Clear codes are allowed) is read
        // like the first code of a strip.
        Reset();
        Prev = -1;
        continue;
      }
      if (code == kEnd) {
        Ended = true;
        break;
      }
      if (Prev < 0) {
        // The first code of a strip, or the first after a Clear: a literal
        // of the initial table (a strip need not begin with Clear).
        if (code >= 256) {
          Error = true;
          break;
        }
        Emit(code);
        Prev = code;
        continue;
      }
      if (code < NextFree) {
        Emit(code);
        Add(First[code]);
      } else if (code == NextFree) {
        Add(First[Prev]);
        if (!Error) Emit(code);
      } else {
        Error = true;
      }
      Prev = code;
    }
    if (Error) return nullptr;
    if (Fill < RowLength) std::memset(Out.data() + Fill, 0, static_cast<size_t>(RowLength - Fill));
    RowOut = true;
    return Out.data();
  }
};

const uint8_t* DecodeTiffLzw(const std::span<const uint8_t>* source, int64_t rowLength, TTiffLzwState*& state) {
  if (!source) {
    delete state;
    state = nullptr;
    return nullptr;
  }
  if (!state) {
    if (rowLength <= 0) return nullptr;
    state = new TTiffLzwState(*source, rowLength);
  }
  return state->NextRow();
}
