#pragma once
// Reproducible photo-like pictures for the scan benchmark and the engine
// equivalence tests: a smooth two-colour gradient, a few soft-edged shapes, a
// fine texture and pixel noise, all drawn from a seed. A picture is defined
// in coordinates relative to its size, so drawing it at another size gives a
// resized copy; the near-duplicate variants also lighten it or add the kind
// of small errors a recompression leaves.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "image/ImBitmap.h"

namespace synthetic {

// SplitMix64: small, fast and the same on every machine.
struct TRandom {
  uint64_t State;
  explicit TRandom(uint64_t seed) : State(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
  uint64_t Next() {
    uint64_t z = (State += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1).
  double Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
};

enum TVariant {
  svOriginal,
  svBrighter,     // every channel lifted by a few levels
  svRecompressed, // small per-pixel errors and a slight blur of the texture
  svResized,      // the same picture drawn at another size (the caller picks it)
};

struct TShape {
  double Cx, Cy, Rx, Ry;  // centre and radii, relative to the picture
  bool Ellipse;
  double Color[3];        // blue, green, red
};

struct TPicture {
  double From[3], To[3];  // gradient end colours
  double Dx, Dy;          // gradient direction
  std::vector<TShape> Shapes;
  double TextureAmp, TextureFreq;
  double NoiseAmp;
  uint64_t NoiseSeed;

  static TPicture FromSeed(uint64_t seed) {
    TRandom r(seed);
    TPicture p;
    // Each end of the gradient has its own brightness, tinted; photos of
    // different scenes differ above all in where they are light and dark.
    const double keyFrom = 10.0 + 235.0 * r.Unit(), keyTo = 10.0 + 235.0 * r.Unit();
    for (int c = 0; c < 3; ++c) {
      p.From[c] = std::clamp(keyFrom + 120.0 * (r.Unit() - 0.5), 0.0, 255.0);
      p.To[c] = std::clamp(keyTo + 120.0 * (r.Unit() - 0.5), 0.0, 255.0);
    }
    const double angle = 6.283185307179586 * r.Unit();
    p.Dx = std::cos(angle);
    p.Dy = std::sin(angle);
    const int shapes = 3 + r.Below(7);
    for (int k = 0; k < shapes; ++k) {
      TShape s;
      s.Cx = r.Unit();
      s.Cy = r.Unit();
      s.Rx = 0.05 + 0.3 * r.Unit();
      s.Ry = 0.05 + 0.3 * r.Unit();
      s.Ellipse = r.Below(2) == 0;
      for (double& c : s.Color) c = 255.0 * r.Unit();
      p.Shapes.push_back(s);
    }
    p.TextureAmp = 4.0 + 20.0 * r.Unit();
    p.TextureFreq = 20.0 + 80.0 * r.Unit();
    p.NoiseAmp = 2.0 + 6.0 * r.Unit();
    p.NoiseSeed = r.Next();
    return p;
  }
};

// One row of the picture as bytes blue, green, red.
inline void PaintRow(const TPicture& p, TVariant variant, int width, int height, int y, uint8_t* out) {
  const double v = (y + 0.5) / height;
  TRandom noise(p.NoiseSeed ^ (static_cast<uint64_t>(y) * 0x100000001B3ull) ^
                (variant == svRecompressed ? 0xA5A5A5A5ull : 0));
  const double lift = variant == svBrighter ? 6.0 : 0.0;
  const double texture = variant == svRecompressed ? p.TextureAmp * 0.7 : p.TextureAmp;
  for (int x = 0; x < width; ++x) {
    const double u = (x + 0.5) / width;
    double t = 0.5 + 0.5 * ((u - 0.5) * p.Dx + (v - 0.5) * p.Dy) * 1.4;
    t = std::clamp(t, 0.0, 1.0);
    double c[3];
    for (int k = 0; k < 3; ++k) c[k] = p.From[k] + (p.To[k] - p.From[k]) * t;
    for (const TShape& s : p.Shapes) {
      const double ex = (u - s.Cx) / s.Rx, ey = (v - s.Cy) / s.Ry;
      const double d = s.Ellipse ? ex * ex + ey * ey : std::max(ex * ex, ey * ey);
      if (d < 1.2) {
        // A soft edge between 0.8 and 1.2 of the radius.
        const double a = d < 0.8 ? 1.0 : (1.2 - d) / 0.4;
        for (int k = 0; k < 3; ++k) c[k] = c[k] * (1.0 - a) + s.Color[k] * a;
      }
    }
    const double tex = texture * std::sin(p.TextureFreq * (u * 1.3 + v)) * std::sin(p.TextureFreq * 0.7 * v);
    for (int k = 0; k < 3; ++k) {
      const double n = (noise.Unit() - 0.5) * 2.0 * p.NoiseAmp;
      out[3 * x + k] = static_cast<uint8_t>(std::clamp(c[k] + tex + n + lift, 0.0, 255.0));
    }
  }
}

// The whole picture into an im24bgr bitmap of the given size.
inline void Paint(const TPicture& p, TVariant variant, int width, int height, TImBitmap& bitmap) {
  bitmap.Allocate(width, height, im24bgr);
  for (int y = 0; y < height; ++y)
    if (uint8_t* row = bitmap.Scanline(y)) PaintRow(p, variant, width, height, y, row);
}

// A corpus description: picture k is either a new picture or a variant of an
// earlier one. share is the fraction of near-duplicates.
struct TItem {
  uint64_t Seed;       // the picture
  TVariant Variant;
  double Scale;        // size factor of a resized copy, 1 otherwise
};

inline std::vector<TItem> MakeCorpus(uint64_t seed, int count, double share) {
  TRandom r(seed);
  std::vector<TItem> items;
  for (int k = 0; k < count; ++k) {
    if (!items.empty() && r.Unit() < share) {
      const TItem& base = items[static_cast<size_t>(r.Below(static_cast<int>(items.size())))];
      const TVariant v = static_cast<TVariant>(1 + r.Below(3));
      items.push_back({base.Seed, v, v == svResized ? 0.5 + 0.4 * r.Unit() : 1.0});
    } else {
      items.push_back({r.Next(), svOriginal, 1.0});
    }
  }
  return items;
}

}  // namespace synthetic
