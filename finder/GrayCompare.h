#pragma once
// Integer form of the similarity measure for 64 x 64 im24bgr thumbnails, used
// by the fast grouping engine.
//
// The measure is 1 - (1 + S / 255) / 4096, where S is the sum of absolute
// differences (SAD) of the two gray thumbnails; only the rounding of the
// floating-point accumulation separates the computed value from that
// formula, and that rounding moves the score by far less than one unit of S
// does. So the decision "score >= threshold / 100" is a comparison of S with
// a boundary, except for sums within a fraction of a unit of it, where only
// the measure itself, computed as written, can tell (threshold 95 puts the
// boundary exactly on S = 51,969).
//
// Sums over blocks give cheap lower bounds of S: by the triangle inequality
// the SAD of two images is at least the sum, over any partition into blocks,
// of |block sum of one - block sum of the other|.

#include <cstdint>
#include <vector>

class TImBitmap;

inline constexpr int kGraySide = 64;
inline constexpr int kGrayPixels = kGraySide * kGraySide;

// Where the decision on a sum S falls for one threshold.
struct TThresholdBand {
  // S <= PassMax: the pair passes. S >= FailMin: it fails. Between the two
  // (at most one or two sums) the measure must be computed as written.
  int64_t PassMax = 0;
  int64_t FailMin = 0;
  static TThresholdBand For(int threshold);
  enum TVerdict { Pass, Fail, Exact };
  TVerdict Classify(int64_t sum) const { return sum <= PassMax ? Pass : sum >= FailMin ? Fail : Exact; }
};

// Block sums of one gray thumbnail.
struct TGrayPrint {
  uint32_t Total = 0;
  uint32_t Coarse[16] = {};  // 16 x 16 blocks, row-major
  uint16_t Fine[64] = {};    // 8 x 8 blocks, row-major
};

// The gray values (21 R + 71 G + 8 B) / 100 of a 64 x 64 im24bgr bitmap into
// gray[4096], row-major. Returns false, writing nothing, for any other bitmap.
bool MakeGrayThumbnail(TImBitmap& bitmap, uint8_t* gray);
void MakeGrayPrint(const uint8_t* gray, TGrayPrint& print);

// Lower bounds of the SAD of the two thumbnails the prints belong to.
uint32_t CoarseBound(const TGrayPrint& a, const TGrayPrint& b);
uint32_t FineBound(const TGrayPrint& a, const TGrayPrint& b);

// SAD of two gray thumbnails. Once the partial sum reaches stopAt the rest is
// skipped and some value >= stopAt is returned; below it the result is exact.
uint32_t GraySad(const uint8_t* a, const uint8_t* b, uint32_t stopAt);
// Name of the instruction set GraySad uses on this machine ("avx2", "sse2", "scalar").
const char* GraySadKind();

// Every implementation of GraySad this machine can run, plain C++ first and
// the one GraySad uses last; they give the same results.
struct TGraySadVariant {
  const char* Name;
  uint32_t (*Fn)(const uint8_t* a, const uint8_t* b, uint32_t stopAt);
};
std::vector<TGraySadVariant> GraySadVariants();
