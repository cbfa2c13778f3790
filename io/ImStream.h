#pragma once
// TImStream: the bounded byte reader every image reader uses. It reads from an
// in-memory copy of the file; a read past the end is a short read (the missing
// bytes are zero) and sets the sticky Failed flag, never a read past a buffer.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

class TImStream {
 public:
  TImStream() = default;
  explicit TImStream(std::span<const uint8_t> data) : data_(data) {}

  int64_t Size() const { return static_cast<int64_t>(data_.size()); }
  int64_t Position() const { return pos_; }
  int64_t Remaining() const { return Size() - pos_; }
  bool AtEnd() const { return pos_ >= Size(); }
  // Sticky: set when a read or seek went past the end of the data.
  bool Failed() const { return failed_; }
  void ClearFailed() { failed_ = false; }

  // Positions the stream; a position outside 0..Size() is clamped and fails.
  bool Seek(int64_t pos) {
    if (pos < 0 || pos > Size()) {
      pos_ = pos < 0 ? 0 : Size();
      failed_ = true;
      return false;
    }
    pos_ = pos;
    return true;
  }
  bool Skip(int64_t n) { return Seek(pos_ + n); }

  // Copies up to n bytes; returns the count copied. The rest of dst is zeroed.
  size_t Read(void* dst, size_t n) {
    size_t avail = static_cast<size_t>(Remaining());
    size_t got = n < avail ? n : avail;
    if (got) std::memcpy(dst, data_.data() + pos_, got);
    if (got < n) {
      std::memset(static_cast<uint8_t*>(dst) + got, 0, n - got);
      failed_ = true;
    }
    pos_ += static_cast<int64_t>(got);
    return got;
  }
  bool ReadExact(void* dst, size_t n) { return Read(dst, n) == n; }

  uint8_t U8() {
    if (pos_ >= Size()) { failed_ = true; return 0; }
    return data_[static_cast<size_t>(pos_++)];
  }
  uint16_t U16LE() { uint8_t a = U8(), b = U8(); return static_cast<uint16_t>(a | (b << 8)); }
  uint16_t U16BE() { uint8_t a = U8(), b = U8(); return static_cast<uint16_t>((a << 8) | b); }
  uint32_t U32LE() { uint32_t a = U16LE(), b = U16LE(); return a | (b << 16); }
  uint32_t U32BE() { uint32_t a = U16BE(), b = U16BE(); return (a << 16) | b; }
  int16_t S16LE() { return static_cast<int16_t>(U16LE()); }
  int32_t S32LE() { return static_cast<int32_t>(U32LE()); }

  // The bytes from offset, at most n of them, clipped to the data.
  std::span<const uint8_t> Bytes(int64_t offset, int64_t n) const {
    if (offset < 0 || offset >= Size() || n <= 0) return {};
    int64_t len = Size() - offset < n ? Size() - offset : n;
    return data_.subspan(static_cast<size_t>(offset), static_cast<size_t>(len));
  }
  // Everything from the current position.
  std::span<const uint8_t> Rest() const { return Bytes(pos_, Remaining()); }
  std::span<const uint8_t> Data() const { return data_; }

 private:
  std::span<const uint8_t> data_;
  int64_t pos_ = 0;
  bool failed_ = false;
};

// Reads little/big-endian integers out of a span without reading past it
// (missing bytes read as zero).
inline uint16_t ImGetU16LE(std::span<const uint8_t> d, size_t off) {
  uint16_t v = 0;
  if (off < d.size()) v |= d[off];
  if (off + 1 < d.size()) v |= static_cast<uint16_t>(d[off + 1] << 8);
  return v;
}
inline uint32_t ImGetU32LE(std::span<const uint8_t> d, size_t off) {
  return ImGetU16LE(d, off) | (static_cast<uint32_t>(ImGetU16LE(d, off + 2)) << 16);
}
inline uint16_t ImGetU16BE(std::span<const uint8_t> d, size_t off) {
  uint16_t v = 0;
  if (off < d.size()) v |= static_cast<uint16_t>(d[off] << 8);
  if (off + 1 < d.size()) v |= d[off + 1];
  return v;
}
inline uint32_t ImGetU32BE(std::span<const uint8_t> d, size_t off) {
  return (static_cast<uint32_t>(ImGetU16BE(d, off)) << 16) | ImGetU16BE(d, off + 2);
}

// Library-wide cap on the pixels of one image (default 2^30). Readers test a
// header's size with ImSizeAllowed before allocating.
extern int64_t ImMaxPixels;
inline bool ImSizeAllowed(int64_t width, int64_t height) {
  return width > 0 && height > 0 && width <= ImMaxPixels && height <= ImMaxPixels &&
         width * height <= ImMaxPixels;
}

// The most bytes of samples one byte of coded data is taken to describe.
// General codings stay below it (deflate reaches 1032, LZW about 2730, the
// run-length codings 128), so a header claiming more pixels than its file
// could hold at that ratio is hopeless: readers refuse it before allocating,
// as they refuse a size beyond the cap.
constexpr int64_t ImMaxCodingRatio = 4096;

// ImSizeAllowed, and the samples (bitsPerPixel each pixel) fit in dataBytes
// bytes of coded data at ImMaxCodingRatio. A truncated file still passes
// unless almost all of it is missing.
inline bool ImSizeDescribable(int64_t width, int64_t height, int64_t bitsPerPixel, int64_t dataBytes) {
  if (!ImSizeAllowed(width, height)) return false;
  const int64_t sampleBytes = (width * height / 8) * std::max<int64_t>(bitsPerPixel, 1);
  return sampleBytes / ImMaxCodingRatio <= std::max<int64_t>(dataBytes, 0);
}
