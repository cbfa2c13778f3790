// TIFF row decompression: PackBits, LZW, the predictor, sample unpacking and
// the CCITT fax row decoders, on short hand-made inputs.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "io/TiffFax.h"
#include "io/TiffLzw.h"
#include "io/TiffReader.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct TRow {
  Bytes Out;
  bool Ok = false;
};

// Decodes `rows` rows of one strip with the given tags.
std::vector<TRow> DecodeStrip(const TTIFFVars& vars, const Bytes& strip, int width, int64_t rowLength, int rows) {
  std::vector<TRow> result;
  std::vector<uint8_t> buffer, ref;
  int64_t cursor = 0, bitPos = 0;
  TTiffLzwState* lzw = nullptr;
  for (int r = 0; r < rows; ++r) {
    const uint8_t* row = nullptr;
    TRow out;
    out.Ok = DecompressTiffRow(row, buffer, strip, cursor, vars, width, rowLength, lzw, ref, bitPos);
    if (out.Ok) out.Out.assign(row, row + rowLength);
    result.push_back(out);
  }
  DecodeTiffLzw(nullptr, 0, lzw);
  return result;
}

TTIFFVars Vars(int compression, int bits = 8, int samples = 1, int photometric = 1) {
  TTIFFVars v;
  v.Compression = static_cast<uint16_t>(compression);
  v.BitsPerSample = bits;
  v.SamplesPerPixel = samples;
  v.Photometric = static_cast<uint16_t>(photometric);
  v.LzwDecoder = DecodeTiffLzw;
  return v;
}

// A TIFF-style LZW encoder for the tests: Clear first, End of Information
// last, Clear again before the table fills. lateWidth widens the codes one
// table entry later than TIFF writers do (the way GIF does).
Bytes LzwEncode(const Bytes& data, bool lateWidth = false, std::vector<int>* codes = nullptr) {
  std::vector<int> out;
  std::vector<int> widths;
  std::map<std::string, int> dict;
  int nextFree = 258, width = 9;
  auto reset = [&] {
    dict.clear();
    for (int i = 0; i < 256; ++i) dict[std::string(1, char(i))] = i;
    nextFree = 258;
    width = 9;
  };
  auto emit = [&](int code) {
    out.push_back(code);
    widths.push_back(width);
  };
  auto grow = [&] {
    // The decoder's table trails this one by an entry.
    const int n = nextFree - (lateWidth ? 2 : 1);
    width = n >= 2047 ? 12 : n >= 1023 ? 11 : n >= 511 ? 10 : 9;
  };
  reset();
  emit(256);
  std::string w;
  for (uint8_t b : data) {
    std::string wc = w + char(b);
    if (dict.count(wc)) {
      w = wc;
      continue;
    }
    emit(dict[w]);
    dict[wc] = nextFree++;
    grow();
    if (nextFree == 4094) {
      emit(256);
      reset();
    }
    w = std::string(1, char(b));
  }
  if (!w.empty()) {
    emit(dict[w]);
    ++nextFree;
    grow();
  }
  emit(257);
  if (codes) *codes = out;
  Bytes bytes;
  uint64_t acc = 0;
  int n = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    acc = (acc << widths[i]) | uint64_t(out[i]);
    n += widths[i];
    while (n >= 8) {
      bytes.push_back(uint8_t(acc >> (n - 8)));
      n -= 8;
    }
  }
  if (n) bytes.push_back(uint8_t(acc << (8 - n)));
  return bytes;
}

// 9-bit codes packed most significant bit first.
Bytes Codes9(const std::vector<int>& codes) {
  std::string bits;
  for (int c : codes)
    for (int k = 8; k >= 0; --k) bits.push_back((c >> k) & 1 ? '1' : '0');
  Bytes b((bits.size() + 7) / 8, 0);
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i] == '1') b[i / 8] |= uint8_t(0x80 >> (i % 8));
  return b;
}

// Bytes from a string of '0'/'1' (spaces ignored), zero-padded; FillOrder 2
// stores each byte's bits reversed.
Bytes BitBytes(const std::string& s, int fillOrder = 1) {
  Bytes b;
  int n = 0;
  for (char c : s) {
    if (c != '0' && c != '1') continue;
    if (n % 8 == 0) b.push_back(0);
    if (c == '1') b.back() |= uint8_t(fillOrder == 2 ? 1 << (n % 8) : 0x80 >> (n % 8));
    ++n;
  }
  return b;
}

// A decoded bilevel row as '1' (white) and '0' (black).
std::string RowBits(const Bytes& row, int width) {
  std::string s;
  for (int x = 0; x < width; ++x) s.push_back((row[x >> 3] >> (7 - (x & 7))) & 1 ? '1' : '0');
  return s;
}

}  // namespace

TEST(TiffDecompress, PackBits) {
  struct Case {
    const char* name;
    Bytes data;
    int rowLength;
    std::vector<Bytes> rows;
  } cases[] = {
      {"literal and run", {2, 1, 2, 3, 0xFE, 9}, 6, {{1, 2, 3, 9, 9, 9}}},
      // -128 produces nothing and is skipped.
      {"-128 is a no-op", {0x80, 0x80, 0, 7, 0xFF, 8}, 3, {{7, 8, 8}}},
      // A run crossing the row stores up to the row length; the next row
      // starts after the run.
      {"run across the row end", {0xFC, 5, 1, 6, 7}, 3, {{5, 5, 5}, {6, 7, 0}}},
      {"literal across the row end", {4, 1, 2, 3, 4, 5, 0, 9}, 2, {{1, 2}, {9, 0}}},
      // Data running out leaves zeros, row after row.
      {"truncated", {5, 1, 2}, 4, {{1, 2, 0, 0}, {0, 0, 0, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto rows = DecodeStrip(Vars(32773), c.data, c.rowLength, c.rowLength, static_cast<int>(c.rows.size()));
    for (size_t r = 0; r < rows.size(); ++r) {
      EXPECT_TRUE(rows[r].Ok);
      EXPECT_EQ(rows[r].Out, c.rows[r]) << "row " << r;
    }
  }
}

TEST(TiffDecompress, LzwRoundTripsAcrossEveryCodeWidth) {
  // Pseudo-random bytes over a small alphabet grow the table through 511,
  // 1023 and 2047 entries to a Clear and beyond.
  Bytes data;
  uint32_t seed = 12345;
  for (int i = 0; i < 40000; ++i) {
    seed = seed * 1103515245 + 12345;
    data.push_back(uint8_t((seed >> 16) % 7 * 31));
  }
  std::vector<int> codes;
  const Bytes enc = LzwEncode(data, false, &codes);
  ASSERT_GT(codes.size(), 4200u);  // at least one table refill
  const int rowLength = 400;
  const auto rows = DecodeStrip(Vars(5), enc, rowLength, rowLength, 100);
  for (int r = 0; r < 100; ++r) {
    ASSERT_TRUE(rows[r].Ok) << r;
    ASSERT_EQ(rows[r].Out, Bytes(data.begin() + r * rowLength, data.begin() + (r + 1) * rowLength)) << r;
  }
  // The same data widened one entry later is misread from the first 10-bit code on.
  const auto late = DecodeStrip(Vars(5), LzwEncode(data, true), rowLength, rowLength, 100);
  bool same = true;
  for (int r = 0; r < 100 && same; ++r) same = late[r].Ok && late[r].Out == rows[r].Out;
  EXPECT_FALSE(same);
}

TEST(TiffDecompress, LzwBadAndShortData) {
  // Clear, 'A', then 300: beyond the next free entry 258.
  auto r = DecodeStrip(Vars(5), Codes9({256, 65, 300}), 4, 4, 1);
  EXPECT_FALSE(r[0].Ok);
  // A code at or above the next free entry right after Clear.
  r = DecodeStrip(Vars(5), Codes9({256, 258}), 2, 2, 1);
  EXPECT_FALSE(r[0].Ok);
  // End of Information inside a row: the rest of it, and later rows, are zero.
  const Bytes shortRow = LzwEncode({7, 8, 9});
  r = DecodeStrip(Vars(5), shortRow, 5, 5, 2);
  ASSERT_TRUE(r[0].Ok && r[1].Ok);
  EXPECT_EQ(r[0].Out, (Bytes{7, 8, 9, 0, 0}));
  EXPECT_EQ(r[1].Out, (Bytes{0, 0, 0, 0, 0}));
  // A strip cut off without End of Information reads zero bits: it ends,
  // with zeros or an error, and never reads past its bytes.
  Bytes cut = LzwEncode(Bytes(10000, 5));
  cut.resize(cut.size() / 2);
  r = DecodeStrip(Vars(5), cut, 1000, 1000, 3);
  EXPECT_TRUE(r[0].Ok);
  EXPECT_EQ(r[0].Out, Bytes(1000, 5));
  // A strip that does not start with Clear still decodes.
  r = DecodeStrip(Vars(5), Codes9({65, 66, 258}), 4, 4, 1);
  ASSERT_TRUE(r[0].Ok);
  EXPECT_EQ(r[0].Out, (Bytes{65, 66, 65, 66}));
  // Without an LZW routine the row fails.
  TTIFFVars none = Vars(5);
  none.LzwDecoder = nullptr;
  EXPECT_FALSE(DecodeStrip(none, shortRow, 3, 3, 1)[0].Ok);
}

TEST(TiffDecompress, PredictorAndSampleUnpacking) {
  struct Case {
    const char* name;
    TTIFFVars vars;
    Bytes raw;  // the row before compression
    int width;
    int64_t rowLength;
    Bytes expected;
  };
  auto predicted = [](int bits, int samples, bool bigEndian) {
    TTIFFVars v = Vars(5, bits, samples, 2);
    v.Predictor = 2;
    v.BigEndian = bigEndian;
    return v;
  };
  const Case cases[] = {
      {"8-bit gray", predicted(8, 1, false), {10, 5, 250}, 3, 3, {10, 15, 9}},
      {"8-bit RGB", predicted(8, 3, false), {1, 2, 3, 1, 1, 1, 255, 0, 1}, 3, 9, {1, 2, 3, 2, 3, 4, 1, 3, 5}},
      {"8-bit CMYK", predicted(8, 4, false), {1, 2, 3, 4, 1, 1, 1, 1}, 2, 8, {1, 2, 3, 4, 2, 3, 4, 5}},
      // 16-bit words in the file's byte order: 0x0102 + 0xFFFF wraps to 0x0101.
      {"16-bit RGB II", predicted(16, 3, false), {2, 1, 0, 0, 0, 0, 0xFF, 0xFF, 1, 0, 0, 0}, 2, 12,
       {2, 1, 0, 0, 0, 0, 1, 1, 1, 0, 0, 0}},
      {"16-bit RGB MM", predicted(16, 3, true), {1, 2, 0, 0, 0, 0, 0xFF, 0xFF, 0, 1, 0, 0}, 2, 12,
       {1, 2, 0, 0, 0, 0, 1, 1, 0, 1, 0, 0}},
      {"16-bit gray", predicted(16, 1, false), {0xFF, 0, 2, 0}, 2, 4, {0xFF, 0, 0x01, 1}},
      // 4-bit gray: one sample per byte, times 16; 4-bit palette indexes stay.
      {"4-bit gray", Vars(5, 4, 1, 1), {0x1F, 0x80}, 3, 2, {0x10, 0xF0, 0x80, 0x00}},
      {"4-bit palette", Vars(5, 4, 1, 3), {0x1F, 0x80}, 3, 2, {0x01, 0x0F, 0x08, 0x00}},
      // 2- and 6-bit samples unpacked, unscaled.
      {"2-bit", Vars(5, 2, 1, 3), {0x1B, 0xC0}, 5, 2, {0, 1, 2, 3, 3}},
      {"6-bit", Vars(5, 6, 1, 3), {0xFC, 0x10}, 2, 2, {63, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> buffer, ref;
    int64_t cursor = 0, bitPos = 0;
    TTiffLzwState* lzw = nullptr;
    const Bytes enc = LzwEncode(c.raw);
    const uint8_t* row = nullptr;
    ASSERT_TRUE(DecompressTiffRow(row, buffer, enc, cursor, c.vars, c.width, c.rowLength, lzw, ref, bitPos));
    EXPECT_EQ(Bytes(row, row + c.expected.size()), c.expected);
    DecodeTiffLzw(nullptr, 0, lzw);
    EXPECT_EQ(lzw, nullptr);
  }
  // Uncompressed 8-bit rows come straight from the strip; a short last row
  // is completed with zeros in the buffer.
  const Bytes strip = {1, 2, 3, 4, 5};
  std::vector<uint8_t> buffer, ref;
  int64_t cursor = 0, bitPos = 0;
  TTiffLzwState* lzw = nullptr;
  const uint8_t* row = nullptr;
  ASSERT_TRUE(DecompressTiffRow(row, buffer, strip, cursor, Vars(1), 3, 3, lzw, ref, bitPos));
  EXPECT_EQ(row, strip.data());
  ASSERT_TRUE(DecompressTiffRow(row, buffer, strip, cursor, Vars(1), 3, 3, lzw, ref, bitPos));
  EXPECT_EQ(Bytes(row, row + 3), (Bytes{4, 5, 0}));
}

TEST(TiffDecompress, FaxOneDimensionalRows) {
  // White 3 (1000), black 5 (0011), white 8 (10011) = 16 pixels.
  const std::string row = "1000 0011 10011";
  const std::string expected = "1110000011111111";
  const std::string eol = "000000000001";
  struct Case {
    const char* name;
    std::string bits;
    int fillOrder;
    int width;
    std::string expected;
  } cases[] = {
      {"plain", row, 1, 16, expected},
      {"fill order 2", row, 2, 16, expected},
      {"leading end of line", eol + row, 1, 16, expected},
      {"leading end of line after fill bits", "0000000" + eol + row, 1, 16, expected},
      // White 64 + 2 (make-up 11011, terminating 0111) against a width of 10.
      {"make-up run cut at the width", "11011 0111", 1, 10, "1111111111"},
      // Black 1792 (extended make-up) + 0: the run is cut, nothing is written past the row.
      {"extended make-up", "000111 00000001000 0000110111", 1, 12, "100000000000"},
      // White 3 then data ends: the rest stays white.
      {"data ends", "1000 0011", 1, 16, expected.substr(0, 8) + "11111111"},
      // An end of line inside a black run ends the row, black to its end.
      {"end of line inside", "1000" + eol, 1, 8, "11100000"},
      // Bits that are no code are stepped over.
      {"no code", std::string(40, '0') + "1" + row, 1, 16, expected},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes data = BitBytes(c.bits, c.fillOrder);
    Bytes out((c.width + 7) / 8 + 1, 0);
    DecodeFaxRow1D(out, data, c.width, c.fillOrder, 0);
    EXPECT_EQ(RowBits(out, c.width), c.expected);
  }
  // Modified Huffman rows start on a byte each: row 2 begins at byte 2.
  const Bytes mh = BitBytes("1000 0011 10011 000 " "0111 10 01000 00000");
  const auto rows = DecodeStrip(Vars(2, 1, 1, 0), mh, 16, 2, 2);
  EXPECT_EQ(RowBits(rows[0].Out, 16), expected);
  EXPECT_EQ(RowBits(rows[1].Out, 16), "1100011111111111");
}

TEST(TiffDecompress, FaxTwoDimensionalRows) {
  const int width = 8;
  struct Case {
    const char* name;
    std::string ref, bits, expected;
    bool aligned = false;
  } cases[] = {
      // Against a white reference: horizontal white 2 (0111), black 3 (10), then V0 to the end.
      {"horizontal then vertical", "11111111", "001 0111 10 1", "11000111"},
      // Vertical modes follow the reference edges: VR1 at b1 = 2 -> 3, VL1 at b1 = 6 -> 5.
      {"vertical", "11000011", "011 010", "11100111"},
      // V0 to b1 = 4, then a pass while black clears up to b2 (the row's end).
      {"pass", "11110011", "1 0001", "11110000"},
      // Uncompressed mode never draws black: 0000001111, then groups, exit 0000001 + colour bit 0.
      {"uncompressed mode", "11111111", "0000001111 1 01 0000001 0 1", "11111111"},
      // Fill bits before the end of line of the next row: the row ends before it.
      {"end of line elsewhere", "11111111", "001 0111 10" "000000000001", "11000111"},
      // A leading end of line with tag 1 switches to one-dimensional coding.
      {"1-D row", "00000000", "000000000001 1 0111 0011 000111", "11000001"},
      {"aligned fill", "11111111", "0000 000000000001 0 001 0111 10 1", "11000111", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes ref(1, 0);
    for (int x = 0; x < width; ++x)
      if (c.ref[x] == '1') ref[0] |= uint8_t(0x80 >> x);
    for (int fillOrder : {1, 2}) {
      const Bytes data = BitBytes(c.bits, fillOrder);
      Bytes out(1, 0), refCopy = ref;
      DecodeFaxRow2D(out, data, c.aligned, fillOrder, 0, refCopy, width);
      EXPECT_EQ(RowBits(out, width), c.expected) << "fill order " << fillOrder;
      EXPECT_EQ(refCopy, out);
    }
  }
}

TEST(TiffDecompress, FaxDataThatNeverEndsARowStops) {
  // Zero bytes, all-ones and noise of 64 KiB against a wide row: every
  // decoder returns within the data and leaves a row of the given width.
  Bytes noise(65536);
  uint32_t seed = 7;
  for (auto& b : noise) {
    seed = seed * 1664525 + 1013904223;
    b = uint8_t(seed >> 24);
  }
  for (const Bytes& data : {Bytes(65536, 0), Bytes(65536, 0xFF), noise}) {
    const int width = 20000;
    Bytes row((width + 7) / 8), ref((width + 7) / 8, 0xFF);
    int64_t pos = 0;
    for (int r = 0; r < 50; ++r) pos = DecodeFaxRow1D(row, data, width, 1, pos);
    EXPECT_LE(pos, int64_t(data.size()) * 8 + 32);
    for (bool aligned : {false, true}) {
      pos = 0;
      for (int r = 0; r < 50; ++r) pos = DecodeFaxRow2D(row, data, aligned, 2, pos, ref, width);
      EXPECT_LE(pos, int64_t(data.size()) * 8 + 32);
    }
  }
}
