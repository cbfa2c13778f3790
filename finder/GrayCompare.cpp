#include "finder/GrayCompare.h"

#include <cmath>

#include "image/ImBitmap.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TARVELLE_X86 1
#endif

TThresholdBand TThresholdBand::For(int threshold) {
  // The score of sum S is 1 - (1 + S / 255) / 4096, so it reaches
  // threshold / 100 for S up to 255 (4096 (1 - threshold / 100) - 1). The
  // accumulated rounding of the measure stays below 1e-9 of a unit of S here,
  // so a quarter of a unit on either side settles every other sum.
  const double boundary = 255.0 * (4096.0 * (1.0 - threshold / 100.0) - 1.0);
  TThresholdBand band;
  band.PassMax = static_cast<int64_t>(std::ceil(boundary - 0.25)) - 1;
  band.FailMin = static_cast<int64_t>(std::floor(boundary + 0.25)) + 1;
  return band;
}

bool MakeGrayThumbnail(TImBitmap& bitmap, uint8_t* gray) {
  if (bitmap.PixelFormat() != im24bgr || bitmap.Width() != kGraySide || bitmap.Height() != kGraySide) return false;
  for (int y = 0; y < kGraySide; ++y) {
    const uint8_t* row = bitmap.Scanline(y);
    if (!row) return false;
    for (int x = 0; x < kGraySide; ++x) {
      const uint8_t* p = row + 3 * x;
      gray[y * kGraySide + x] = static_cast<uint8_t>((21 * p[2] + 71 * p[1] + 8 * p[0]) / 100);
    }
  }
  return true;
}

void MakeGrayPrint(const uint8_t* gray, TGrayPrint& print) {
  print = TGrayPrint{};
  uint32_t fine[64] = {};
  for (int y = 0; y < kGraySide; ++y)
    for (int x = 0; x < kGraySide; ++x) fine[(y / 8) * 8 + x / 8] += gray[y * kGraySide + x];
  for (int k = 0; k < 64; ++k) {
    print.Fine[k] = static_cast<uint16_t>(fine[k]);  // at most 64 x 255
    print.Coarse[((k / 8) / 2) * 4 + (k % 8) / 2] += fine[k];
    print.Total += fine[k];
  }
}

uint32_t CoarseBound(const TGrayPrint& a, const TGrayPrint& b) {
  uint32_t s = 0;
  for (int k = 0; k < 16; ++k) s += a.Coarse[k] > b.Coarse[k] ? a.Coarse[k] - b.Coarse[k] : b.Coarse[k] - a.Coarse[k];
  return s;
}

uint32_t FineBound(const TGrayPrint& a, const TGrayPrint& b) {
#if TARVELLE_X86
  // The sums are below 2^15, so their differences fit signed 16-bit lanes
  // and pairs of them can be added into 32-bit lanes by the multiply-add.
  const __m128i ones = _mm_set1_epi16(1);
  __m128i acc = _mm_setzero_si128();
  for (int k = 0; k < 64; k += 8) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a.Fine + k));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.Fine + k));
    const __m128i d = _mm_or_si128(_mm_subs_epu16(x, y), _mm_subs_epu16(y, x));
    acc = _mm_add_epi32(acc, _mm_madd_epi16(d, ones));
  }
  acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, _MM_SHUFFLE(1, 0, 3, 2)));
  acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, _MM_SHUFFLE(2, 3, 0, 1)));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(acc));
#else
  uint32_t s = 0;
  for (int k = 0; k < 64; ++k) s += a.Fine[k] > b.Fine[k] ? a.Fine[k] - b.Fine[k] : b.Fine[k] - a.Fine[k];
  return s;
#endif
}

static uint32_t GraySadScalar(const uint8_t* a, const uint8_t* b, uint32_t stopAt) {
  uint32_t s = 0;
  for (int y = 0; y < kGraySide; ++y) {
    for (int x = 0; x < kGraySide; ++x) {
      const int d = a[y * kGraySide + x] - b[y * kGraySide + x];
      s += static_cast<uint32_t>(d < 0 ? -d : d);
    }
    if (s >= stopAt) return s;
  }
  return s;
}

#if TARVELLE_X86
namespace {

// The early exit is tested every four rows (256 pixels).
uint32_t GraySadSse2(const uint8_t* a, const uint8_t* b, uint32_t stopAt) {
  __m128i acc = _mm_setzero_si128();
  for (int base = 0; base < kGrayPixels; base += 256) {
    for (int k = base; k < base + 256; k += 16) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + k));
      const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k));
      acc = _mm_add_epi64(acc, _mm_sad_epu8(x, y));
    }
    const uint32_t s = static_cast<uint32_t>(_mm_cvtsi128_si32(acc)) +
                       static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(acc, acc)));
    if (s >= stopAt) return s;
  }
  return static_cast<uint32_t>(_mm_cvtsi128_si32(acc)) +
         static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(acc, acc)));
}

__attribute__((target("avx2"))) uint32_t GraySadAvx2(const uint8_t* a, const uint8_t* b, uint32_t stopAt) {
  __m256i acc = _mm256_setzero_si256();
  uint32_t s = 0;
  for (int base = 0; base < kGrayPixels; base += 256) {
    for (int k = base; k < base + 256; k += 32) {
      const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + k));
      const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + k));
      acc = _mm256_add_epi64(acc, _mm256_sad_epu8(x, y));
    }
    const __m128i h = _mm_add_epi64(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
    s = static_cast<uint32_t>(_mm_cvtsi128_si32(h)) + static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(h, h)));
    if (s >= stopAt) return s;
  }
  return s;
}

}  // namespace

std::vector<TGraySadVariant> GraySadVariants() {
  std::vector<TGraySadVariant> v = {{"scalar", GraySadScalar}, {"sse2", GraySadSse2}};
  if (__builtin_cpu_supports("avx2")) v.push_back({"avx2", GraySadAvx2});
  return v;
}
#else
std::vector<TGraySadVariant> GraySadVariants() { return {{"scalar", GraySadScalar}}; }
#endif

namespace {
// The widest variant this machine runs.
const TGraySadVariant& BestSad() {
  static const TGraySadVariant best = GraySadVariants().back();
  return best;
}
}  // namespace

uint32_t GraySad(const uint8_t* a, const uint8_t* b, uint32_t stopAt) { return BestSad().Fn(a, b, stopAt); }
const char* GraySadKind() { return BestSad().Name; }
