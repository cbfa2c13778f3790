// LZW decoder for GIF image data: variable code widths of 3 to 12 bits read
// least-significant bit first, a clear and an end code above the literals, and
// a string table of 4096 entries.
#include "io/GifLzw.h"

#include <array>
#include <vector>

#include "io/GifParams.h"

TGifLzwDecoder GifLzwDefaultDecoder = DecodeGifLzw;

namespace {

constexpr int kTableSize = 4096;
constexpr int kMaxCodeWidth = 12;

// Codes out of the collected sub-block bytes, least-significant bit first.
class TCodeReader {
 public:
  explicit TCodeReader(const std::vector<uint8_t>& data) : data_(data) {}

  // Reads one code of `width` bits; false when the data holds no whole code
  // any more. Bits still held from the last byte count: a short final code
  // may sit entirely in them.
  bool Read(int width, int& code) {
    while (bitsHeld_ < width) {
      if (pos_ >= data_.size()) return false;
      bits_ |= static_cast<uint32_t>(data_[pos_++]) << bitsHeld_;
      bitsHeld_ += 8;
    }
    code = static_cast<int>(bits_ & ((1u << width) - 1));
    bits_ >>= width;
    bitsHeld_ -= width;
    return true;
  }
  bool BytesLeft() const { return pos_ < data_.size(); }

 private:
  const std::vector<uint8_t>& data_;
  size_t pos_ = 0;
  uint32_t bits_ = 0;
  int bitsHeld_ = 0;
};

// Places decoded indices at the frame's pixel positions, in the interlace
// order when asked: every 8th row from 0, every 8th from 4, every 4th from 2,
// every 2nd from 1. Indices past the last row are dropped.
class TPixelSink {
 public:
  TPixelSink(std::span<uint8_t> dest, int width, int height, bool interlaced)
      : dest_(dest), width_(width), height_(height), interlaced_(interlaced) {
    if (width_ <= 0 || height_ <= 0 || static_cast<int64_t>(width_) * height_ > static_cast<int64_t>(dest_.size()))
      row_ = height_ = 0;
  }

  void Put(uint8_t index) {
    if (row_ >= height_) return;
    dest_[static_cast<size_t>(row_) * static_cast<size_t>(width_) + static_cast<size_t>(col_)] = index;
    if (++col_ < width_) return;
    col_ = 0;
    if (!interlaced_) {
      ++row_;
      return;
    }
    row_ += step_;
    while (row_ >= height_) {
      if (pass_ >= 3) {
        // All four passes done: the rest of the data has no place.
        row_ = height_;
        return;
      }
      if (pass_ > 0) step_ /= 2;
      ++pass_;
      row_ = step_ / 2;
    }
  }

 private:
  std::span<uint8_t> dest_;
  int width_, height_;
  bool interlaced_;
  int row_ = 0, col_ = 0, pass_ = 0, step_ = 8;
};

}  // namespace

void DecodeGifLzw(TImStream& stream, int height, int width, bool interlaced, std::span<uint8_t> dest) {
  const int64_t start = stream.Position();
  auto fail = [&] { stream.Seek(start); };

  const int minCodeSize = stream.AtEnd() ? 0 : stream.U8();
  // Size 9 is accepted (codes then start at 10 bits), though a GIF table has
  // at most 256 colours.
  if (minCodeSize < 2 || minCodeSize > 9) return fail();

  std::vector<uint8_t> data;
  while (!stream.AtEnd()) {
    const uint8_t len = stream.U8();
    if (len == 0) break;
    const size_t at = data.size();
    data.resize(at + len);
    const size_t got = stream.Read(data.data() + at, len);
    data.resize(at + got);
    if (got < len) break;
  }
  if (data.empty()) return;

  const int clearCode = 1 << minCodeSize;
  const int endCode = clearCode + 1;
  int width_bits = minCodeSize + 1;
  int nextFree = endCode + 1;
  int limit = 1 << width_bits;
  bool tableFull = false;
  // No previous code right after the start or a clear code: the next code
  // then adds no table entry.
  bool fresh = true;
  int prev = 0;

  std::array<uint16_t, kTableSize> prefix{};
  std::array<uint8_t, kTableSize> suffix{};
  for (int i = 0; i < clearCode && i < kTableSize; ++i) suffix[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  std::array<uint8_t, kTableSize + 1> stack{};
  int sp = 0;

  TCodeReader codes(data);
  TPixelSink sink(dest, width, height, interlaced);

  // Pushes the string of `code` (a literal or a table entry); its first byte
  // ends on top. Returns that first byte.
  auto pushString = [&](int code) -> uint8_t {
    while (code >= clearCode && sp < kTableSize) {
      stack[static_cast<size_t>(sp++)] = suffix[static_cast<size_t>(code)];
      code = prefix[static_cast<size_t>(code)];
    }
    const uint8_t first = static_cast<uint8_t>(code);
    stack[static_cast<size_t>(sp++)] = first;
    return first;
  };
  auto firstByte = [&](int code) -> uint8_t {
    for (int guard = 0; code >= clearCode && guard < kTableSize; ++guard) code = prefix[static_cast<size_t>(code)];
    return static_cast<uint8_t>(code);
  };
  // Adds (prev, byte) under the limit rule: when the table reaches the code
  // limit the codes widen by one bit, up to 12 bits, where the table is full.
  auto addEntry = [&](uint8_t byte) {
    if (nextFree > limit || nextFree >= kTableSize) return;
    prefix[static_cast<size_t>(nextFree)] = static_cast<uint16_t>(prev);
    suffix[static_cast<size_t>(nextFree)] = byte;
    ++nextFree;
    if (nextFree >= limit) {
      if (width_bits < kMaxCodeWidth) {
        limit *= 2;
        ++width_bits;
      } else {
        tableFull = true;
      }
    }
  };

  int code = 0;
  if (!codes.Read(width_bits, code)) return;
  while (code != endCode) {
    if (code == clearCode) {
      width_bits = minCodeSize + 1;
      nextFree = endCode + 1;
      limit = 1 << width_bits;
      do {
        if (!codes.Read(width_bits, code)) return;
      } while (code == clearCode);
      if (code == endCode) {
        if (codes.BytesLeft()) fail();
        return;
      }
      if (code >= nextFree) code = 0;
      stack[static_cast<size_t>(sp++)] = static_cast<uint8_t>(code);
      prev = code;
      fresh = false;
    } else if (fresh) {
      // Data that does not open with a clear code: its first code must be a
      // literal.
      if (code >= clearCode) return fail();
      stack[static_cast<size_t>(sp++)] = static_cast<uint8_t>(code);
      prev = code;
      fresh = false;
    } else if (code < nextFree) {
      const uint8_t first = pushString(code);
      addEntry(first);
      prev = code;
    } else if (code == nextFree) {
      // The string of the previous code plus its own first byte.
      addEntry(firstByte(prev));
      pushString(code);
      prev = code;
    } else {
      return fail();
    }
    while (sp > 0) sink.Put(stack[static_cast<size_t>(--sp)]);

    if (!codes.Read(width_bits, code)) return;
    if (tableFull) {
      // Once the table holds 4096 entries only a clear code may follow (or
      // the end code, which needs no table entry).
      if (code != clearCode && code != endCode) return fail();
      tableFull = false;
    }
  }
}
