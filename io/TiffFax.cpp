// CCITT fax row decoders with the run-length code tables of ITU-T T.4,
// turned into one binary decoding tree per colour when the library starts.
#include "io/TiffFax.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Run values that are not runs.
constexpr int kEol = -1;
constexpr int kIgnore = -2;

// Codes of the terminating runs 0 to 63.
constexpr std::array<std::string_view, 64> kWhiteTerm = {
    "00110101", "000111",   "0111",     "1000",     "1011",     "1100",     "1110",     "1111",
    "10011",    "10100",    "00111",    "01000",    "001000",   "000011",   "110100",   "110101",
    "101010",   "101011",   "0100111",  "0001100",  "0001000",  "0010111",  "0000011",  "0000100",
    "0101000",  "0101011",  "0010011",  "0100100",  "0011000",  "00000010", "00000011", "00011010",
    "00011011", "00010010", "00010011", "00010100", "00010101", "00010110", "00010111", "00101000",
    "00101001", "00101010", "00101011", "00101100", "00101101", "00000100", "00000101", "00001010",
    "00001011", "01010010", "01010011", "01010100", "01010101", "00100100", "00100101", "01011000",
    "01011001", "01011010", "01011011", "01001010", "01001011", "00110010", "00110011", "00110100",
};
constexpr std::array<std::string_view, 64> kBlackTerm = {
    "0000110111",   "010",          "11",           "10",           "011",          "0011",
    "0010",         "00011",        "000101",       "000100",       "0000100",      "0000101",
    "0000111",      "00000100",     "00000111",     "000011000",    "0000010111",   "0000011000",
    "0000001000",   "00001100111",  "00001101000",  "00001101100",  "00000110111",  "00000101000",
    "00000010111",  "00000011000",  "000011001010", "000011001011", "000011001100", "000011001101",
    "000001101000", "000001101001", "000001101010", "000001101011", "000011010010", "000011010011",
    "000011010100", "000011010101", "000011010110", "000011010111", "000001101100", "000001101101",
    "000011011010", "000011011011", "000001010100", "000001010101", "000001010110", "000001010111",
    "000001100100", "000001100101", "000001010010", "000001010011", "000000100100", "000000110111",
    "000000111000", "000000100111", "000000101000", "000001011000", "000001011001", "000000101011",
    "000000101100", "000001011010", "000001100110", "000001100111",
};
// Make-up codes for 64, 128, ..., 1728.
constexpr std::array<std::string_view, 27> kWhiteMakeUp = {
    "11011",     "10010",     "010111",    "0110111",   "00110110",  "00110111",  "01100100",
    "01100101",  "01101000",  "01100111",  "011001100", "011001101", "011010010", "011010011",
    "011010100", "011010101", "011010110", "011010111", "011011000", "011011001", "011011010",
    "011011011", "010011000", "010011001", "010011010", "011000",    "010011011",
};
constexpr std::array<std::string_view, 27> kBlackMakeUp = {
    "0000001111",    "000011001000",  "000011001001",  "000001011011",  "000000110011",
    "000000110100",  "000000110101",  "0000001101100", "0000001101101", "0000001001010",
    "0000001001011", "0000001001100", "0000001001101", "0000001110010", "0000001110011",
    "0000001110100", "0000001110101", "0000001110110", "0000001110111", "0000001010010",
    "0000001010011", "0000001010100", "0000001010101", "0000001011010", "0000001011011",
    "0000001100100", "0000001100101",
};
// Extended make-up codes for 1792, 1856, ..., 2560, shared by both colours.
constexpr std::array<std::string_view, 13> kExtendedMakeUp = {
    "00000001000",  "00000001100",  "00000001101",  "000000010010", "000000010011",
    "000000010100", "000000010101", "000000010110", "000000010111", "000000011100",
    "000000011101", "000000011110", "000000011111",
};

// One row of a colour's code table.
struct TFaxCode {
  std::string Bits;  // the code as '0'/'1' characters
  int Value = 0;       // run length, kEol or kIgnore
};

// The 128 entries: 0-63 terminating, 64-90 make-up, 91-103 extended make-up,
// 104 end of line, 105-107 a 1 bit after 8, 9 or 10 zero bits (ignored),
// 108-127 end of line after 1 to 20 further zero bits (fill before an EOL).
std::vector<TFaxCode> BuildTable(bool black) {
  std::vector<TFaxCode> t;
  for (int i = 0; i < 64; ++i) t.push_back({std::string(black ? kBlackTerm[i] : kWhiteTerm[i]), i});
  for (int i = 0; i < 27; ++i) t.push_back({std::string(black ? kBlackMakeUp[i] : kWhiteMakeUp[i]), 64 * (i + 1)});
  for (int i = 0; i < 13; ++i) t.push_back({std::string(kExtendedMakeUp[i]), 1792 + 64 * i});
  t.push_back({"000000000001", kEol});
  for (int zeros = 8; zeros <= 10; ++zeros) t.push_back({std::string(zeros, '0') + "1", kIgnore});
  for (int extra = 1; extra <= 20; ++extra) t.push_back({std::string(11 + extra, '0') + "1", kEol});
  return t;
}

// Binary decoding tree: a node is a leaf (table index) or has two children.
class TFaxTree {
 public:
  explicit TFaxTree(bool black) : table_(BuildTable(black)) {
    nodes_.push_back({});
    for (int idx = 0; idx < static_cast<int>(table_.size()); ++idx) {
      int n = 0;
      for (char c : table_[idx].Bits) {
        const int bit = c == '1';
        if (nodes_[n].Child[bit] < 0) {
          nodes_[n].Child[bit] = static_cast<int>(nodes_.size());
          nodes_.push_back({});
        }
        n = nodes_[n].Child[bit];
      }
      nodes_[n].Leaf = idx;
    }
  }
  struct TNode {
    int Child[2] = {-1, -1};
    int Leaf = -1;
  };
  const TNode& Node(int n) const { return nodes_[n]; }
  int Value(int idx) const { return table_[idx].Value; }

 private:
  std::vector<TFaxCode> table_;
  std::vector<TNode> nodes_;
};

const TFaxTree kWhiteTree(false);
const TFaxTree kBlackTree(true);

// The bit window over the strip data; bits past the end are zero.
class TBits {
 public:
  TBits(std::span<const uint8_t> data, int fillOrder)
      : data_(data), reversed_(fillOrder == 2), end_(static_cast<int64_t>(data.size()) * 8) {}
  int operator()(int64_t pos) const {
    if (pos < 0 || pos >= end_) return 0;
    const uint8_t b = data_[static_cast<size_t>(pos >> 3)];
    const int k = static_cast<int>(pos & 7);
    return reversed_ ? (b >> k) & 1 : (b >> (7 - k)) & 1;
  }
  int64_t End() const { return end_; }

 private:
  std::span<const uint8_t> data_;
  bool reversed_;
  int64_t end_;
};

struct TLookup {
  int Index = -1;  // table index, -1 when no code matches within 32 bits
  int Length = 0;
};

TLookup Lookup(const TFaxTree& tree, const TBits& bits, int64_t pos) {
  int n = 0;
  for (int i = 0; i < 32; ++i) {
    n = tree.Node(n).Child[bits(pos + i)];
    if (n < 0) return {};
    if (tree.Node(n).Leaf >= 0) return {tree.Node(n).Leaf, i + 1};
  }
  return {};
}

// Clears (blackens) pixels from..to-1 of a row, limited to the width and the row.
void ClearRun(std::span<uint8_t> row, int width, int64_t from, int64_t to) {
  from = std::max<int64_t>(from, 0);
  to = std::min<int64_t>({to, width, static_cast<int64_t>(row.size()) * 8});
  for (int64_t x = from; x < to;) {
    if ((x & 7) == 0 && to - x >= 8) {
      row[static_cast<size_t>(x >> 3)] = 0;
      x += 8;
    } else {
      row[static_cast<size_t>(x >> 3)] &= static_cast<uint8_t>(~(0x80 >> (x & 7)));
      ++x;
    }
  }
}

void SetWhite(std::span<uint8_t> row) { std::fill(row.begin(), row.end(), uint8_t(0xFF)); }

// Reads one run of a colour for horizontal mode: make-up codes summed until a
// terminating code. Returns -1 (position left at the code) when an
// end-of-line code comes first or the data ends.
int64_t ReadRun(const TFaxTree& tree, const TBits& bits, int64_t& pos) {
  int64_t sum = 0;
  while (pos < bits.End()) {
    const TLookup c = Lookup(tree, bits, pos);
    if (c.Index < 0) {
      ++pos;
      continue;
    }
    const int v = tree.Value(c.Index);
    if (v == kEol) return -1;
    pos += c.Length;
    if (v == kIgnore) continue;
    sum = std::min<int64_t>(sum + v, int64_t(1) << 40);
    if (c.Index < 64) return sum;
  }
  return -1;
}

// Two-dimensional mode codes in the order they are tried.
enum TMode { mFill, mPass, mHoriz, mV3L, mV2L, mV1L, mV0, mV1R, mV2R, mV3R, mExt2D, mExt1D, mEol };
constexpr std::array<std::string_view, 13> kModeCodes = {
    "000000000000", "0001",   "001",        "0000010",      "000010",      "010", "1",
    "011",          "000011", "0000011",    "0000001111",   "000000001111", "000000000001",
};
constexpr int kVerticalOffset[] = {0, 0, 0, -3, -2, -1, 0, 1, 2, 3};

TMode ReadMode(const TBits& bits, int64_t pos, int& length) {
  for (int m = 0; m < static_cast<int>(kModeCodes.size()); ++m) {
    const std::string_view code = kModeCodes[m];
    bool match = true;
    for (size_t i = 0; i < code.size() && match; ++i) match = bits(pos + static_cast<int64_t>(i)) == (code[i] - '0');
    if (match) {
      length = static_cast<int>(code.size());
      return static_cast<TMode>(m);
    }
  }
  length = static_cast<int>(kModeCodes[mFill].size());
  return mFill;
}

// The changing elements of the reference row: positions whose pixel differs
// from the one before (the pixel before the row is white). Even entries turn
// to black, odd ones back to white.
void Transitions(std::span<const uint8_t> ref, int width, std::vector<int>& out) {
  out.clear();
  bool black = false;
  const int limit = static_cast<int>(std::min<int64_t>(width, static_cast<int64_t>(ref.size()) * 8));
  for (int x = 0; x < limit;) {
    const uint8_t b = ref[static_cast<size_t>(x >> 3)];
    if ((x & 7) == 0 && limit - x >= 8 && b == (black ? 0x00 : 0xFF)) {
      x += 8;
      continue;
    }
    const bool px = !((b >> (7 - (x & 7))) & 1);
    if (px != black) {
      out.push_back(x);
      black = px;
    }
    ++x;
  }
}

}  // namespace

int64_t DecodeFaxRow1D(std::span<uint8_t> row, std::span<const uint8_t> data, int width, int fillOrder,
                       int64_t startBit) {
  SetWhite(row);
  const TBits bits(data, fillOrder);
  bool black = false, makeUpPending = false;
  int64_t x = 0, pos = startBit, rowStart = startBit;
  while ((x < width || makeUpPending) && pos < bits.End()) {
    const TFaxTree& tree = black ? kBlackTree : kWhiteTree;
    const TLookup c = Lookup(tree, bits, pos);
    if (c.Index < 0) {
      ++pos;
      ++rowStart;
      continue;
    }
    const int v = tree.Value(c.Index);
    if (v == kEol) {
      if (pos == rowStart) {
        pos += c.Length;
        continue;
      }
      pos += c.Length;
      if (black) ClearRun(row, width, x, width);
      break;
    }
    pos += c.Length;
    makeUpPending = c.Index >= 64;
    if (v == kIgnore) continue;
    if (black) ClearRun(row, width, x, x + v);
    x = std::min<int64_t>(x + v, int64_t(1) << 40);
    if (c.Index < 64) black = !black;
  }
  return pos;
}

int64_t DecodeFaxRow2D(std::span<uint8_t> row, std::span<const uint8_t> data, bool byteAligned, int fillOrder,
                       int64_t startBit, std::span<uint8_t> refRow, int width) {
  SetWhite(row);
  const TBits bits(data, fillOrder);
  std::vector<int> changes;
  Transitions(refRow, width, changes);
  size_t next = 0;  // first changing element right of a0
  int64_t a0 = -1, pos = startBit;
  bool black = false;
  auto changeAt = [&](size_t i) -> int64_t { return i < changes.size() ? changes[i] : width; };

  while (a0 < width && pos < bits.End()) {
    const int64_t codeStart = pos;
    int length = 0;
    TMode mode = ReadMode(bits, pos, length);
    pos += length;
    if (mode == mFill) {
      if (!byteAligned) continue;
      // Fill bits before an end-of-line code: zeros up to and including the next 1.
      while (pos < bits.End() && bits(pos) == 0) ++pos;
      if (pos < bits.End()) ++pos;
      mode = mEol;
    }
    if (mode == mEol) {
      if (codeStart == startBit) {
        const int tag = bits(pos);
        ++pos;
        if (tag == 1) {
          pos = DecodeFaxRow1D(row, data, width, fillOrder, pos);
          break;
        }
        continue;
      }
      if (black) ClearRun(row, width, a0, width);
      pos = codeStart;
      break;
    }

    // b1: the first changing element right of a0 whose colour is not a0's
    // colour; b2: the changing element after it.
    while (next < changes.size() && changes[next] <= a0) ++next;
    size_t i1 = next;
    if (i1 < changes.size() && ((i1 % 2 == 0) == black)) ++i1;
    const int64_t b1 = changeAt(i1), b2 = changeAt(i1 + 1);
    const int64_t start = std::max<int64_t>(a0, 0);

    switch (mode) {
      case mPass:
        if (black) ClearRun(row, width, start, b2);
        a0 = std::max(b2, start);
        break;
      case mHoriz: {
        int64_t p = pos;
        const int64_t r1 = ReadRun(black ? kBlackTree : kWhiteTree, bits, p);
        const int64_t r2 = r1 < 0 ? -1 : ReadRun(black ? kWhiteTree : kBlackTree, bits, p);
        pos = p;
        if (r1 < 0 || r2 < 0) break;
        const int64_t mid = std::min<int64_t>(start + r1, width);
        if (black) ClearRun(row, width, start, mid);
        else ClearRun(row, width, mid, mid + r2);
        a0 = std::min<int64_t>(start + r1 + r2, int64_t(1) << 40);
        break;
      }
      case mExt2D:
      case mExt1D: {
        a0 = start;
        // Uncompressed mode: groups of up to 11 bits ending in a 1.
        while (pos < bits.End() && a0 < width) {
          int h = 0;
          for (int k = 1; k <= 11; ++k)
            if (bits(pos + k - 1) == 1) {
              h = k;
              break;
            }
          if (h == 0) break;
          pos += h;
          if (h <= 5) {
            a0 += h;
          } else if (h == 6) {
            a0 += 5;
          } else {
            black = bits(pos) == 1;
            ++pos;
            a0 += h - 7;
            break;
          }
        }
        break;
      }
      default: {
        // Vertical modes. A position left of a0 (possible only in damaged
        // data) is taken as a0, so a0 never moves back.
        const int64_t a1 = std::clamp<int64_t>(b1 + kVerticalOffset[mode], start, width);
        if (black) ClearRun(row, width, start, a1);
        a0 = a1;
        black = !black;
        break;
      }
    }
  }
  const size_t n = std::min(row.size(), refRow.size());
  std::copy(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(n), refRow.begin());
  return pos;
}
