// Reader of the portable bitmap, graymap and pixmap family: "P1" to "P6".
#include <algorithm>

#include "io/ImageIO.h"

namespace {

bool IsAlnum(uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string Trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && IsBlank(s[a])) ++a;
  while (b > a && IsBlank(s[b - 1])) --b;
  return s.substr(a, b - a);
}

// The next header or text-raster token: a run of letters and digits (the
// byte ending it is consumed), or "#" followed by a trimmed comment that runs
// to the end of the line. Empty at the end of the stream.
std::string ReadPxmToken(TImStream& s) {
  while (!s.AtEnd()) {
    const uint8_t c = s.U8();
    if (c == '#') {
      std::string comment;
      while (!s.AtEnd()) {
        const uint8_t d = s.U8();
        if (d == '\r' || d == '\n') break;
        comment.push_back(static_cast<char>(d));
      }
      return "#" + Trim(comment);
    }
    if (IsAlnum(c)) {
      std::string token(1, static_cast<char>(c));
      while (!s.AtEnd()) {
        const uint8_t d = s.U8();
        if (!IsAlnum(d)) break;
        token.push_back(static_cast<char>(d));
      }
      return token;
    }
  }
  return {};
}

// A decimal integer in the range of a signed 32-bit value, else fallback.
int64_t ToNumber(const std::string& token, int64_t fallback) {
  if (token.empty() || token.size() > 10) return fallback;
  int64_t v = 0;
  for (char c : token) {
    if (c < '0' || c > '9') return fallback;
    v = v * 10 + (c - '0');
  }
  return v > 2147483647 ? fallback : v;
}

uint8_t Scale(int64_t value, int64_t maximum) {
  if (maximum == 255) return static_cast<uint8_t>(std::min<int64_t>(value, 255));
  // Samples above the maximum are out of range: they saturate at white.
  return static_cast<uint8_t>(std::min<int64_t>(value * 255 / maximum, 255));
}

void ReadPxm(TImStream& s, TImBitmap& bitmap, TIOParams& p, TLoadProgress& progress) {
  p.PxmComments.clear();
  std::string magic;
  int64_t width = -1, height = -1, maximum = -1;
  int field = 0;
  bool complete = false;
  while (!complete) {
    const std::string token = ReadPxmToken(s);
    if (token.empty()) break;
    if (token[0] == '#') {
      p.PxmComments.push_back(token.substr(1));
      continue;
    }
    switch (field++) {
      case 0:
        magic = token;
        if (magic == "P1" || magic == "P4") maximum = 1;
        break;
      case 1: width = ToNumber(token, -1); break;
      case 2:
        height = ToNumber(token, -1);
        complete = maximum >= 0;
        break;
      default:
        maximum = ToNumber(token, -1);
        complete = true;
        break;
    }
  }
  // A header cut short counts as one without a width.
  if (!complete || width <= 0 || height <= 0) {
    progress.Abort();
    return;
  }
  p.FreeColorMap();
  p.Width = static_cast<int32_t>(width);
  p.Height = static_cast<int32_t>(height);
  p.SetDpiX(ImDefaultDpiX);
  p.SetDpiY(ImDefaultDpiY);
  progress.PerUnit = 100.0 / height;
  progress.Val = 0;
  const bool bilevel = magic == "P1" || magic == "P4";
  const bool gray = magic == "P2" || magic == "P5";
  const bool color = magic == "P3" || magic == "P6";
  // A maximum of 0 leaves no sample range to scale by: the file is refused,
  // like one without a valid magic.
  if ((!bilevel && !gray && !color) || maximum <= 0 ||
      !ImSizeDescribable(width, height, bilevel ? 1 : color ? 24 : 8, s.Remaining())) {
    progress.Abort();
    return;
  }
  p.BitsPerSample = bilevel ? 1 : 8;
  p.SamplesPerPixel = color ? 3 : 1;
  const int w = static_cast<int>(width), h = static_cast<int>(height);
  bitmap.Allocate(w, h, bilevel ? im1bit : im24bgr);
  auto rowDone = [&progress]() {
    ++progress.Val;
    progress.Report(progress.Val);
  };

  // Rasters that end before the last pixel leave the remaining pixels black
  // and count as a failed load.
  if (magic == "P1") {
    bool end = false;
    for (int y = 0; y < h && !end; ++y) {
      uint8_t* row = bitmap.Scanline(y);
      for (int x = 0; x < w;) {
        if (s.AtEnd()) {
          end = true;
          break;
        }
        const uint8_t c = s.U8();
        if (c == '0') row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
        if (c == '0' || c == '1') ++x;
      }
      if (!end && y < h - 1) rowDone();
    }
    if (end) progress.Abort();
  } else if (magic == "P2" || magic == "P3") {
    const int samples = color ? 3 : 1;
    bool end = false;
    for (int y = 0; y < h && !end; ++y) {
      uint8_t* row = bitmap.Scanline(y);
      for (int x = 0; x < w && !end; ++x) {
        uint8_t v[3] = {0, 0, 0};
        for (int k = 0; k < samples; ++k) {
          const std::string token = ReadPxmToken(s);
          if (token.empty()) {
            end = true;  // the text ends: the remaining pixels stay black
            break;
          }
          v[k] = Scale(ToNumber(token, 0), maximum);
        }
        if (end) break;
        uint8_t* px = row + 3 * x;
        if (color) {
          px[0] = v[2];
          px[1] = v[1];
          px[2] = v[0];
        } else {
          px[0] = px[1] = px[2] = v[0];
        }
      }
      if (!end) rowDone();
    }
    if (end) progress.Abort();
  } else if (magic == "P4") {
    const size_t rowBytes = (static_cast<size_t>(w) + 7) / 8;
    for (int y = 0; y < h; ++y) {
      uint8_t* row = bitmap.Scanline(y);
      const size_t got = s.Read(row, rowBytes);
      // Stored 1 is black; in the target a set bit is white. Bytes the file
      // does not reach stay 0 (black).
      for (size_t i = 0; i < got; ++i) row[i] = static_cast<uint8_t>(~row[i]);
      if (got < rowBytes) {
        progress.Abort();
        break;
      }
      rowDone();
    }
  } else {
    // Samples are one byte each up to a maximum of 255 and two bytes, most
    // significant first, above it. Every sample is scaled to 0..255 by the
    // maximum, in the gray and the colour form alike.
    const int samples = color ? 3 : 1;
    const size_t sampleBytes = maximum > 255 ? 2 : 1;
    const size_t pixelBytes = sampleBytes * samples;
    std::vector<uint8_t> buf(static_cast<size_t>(w) * pixelBytes);
    for (int y = 0; y < h; ++y) {
      const size_t got = s.Read(buf.data(), buf.size()) / pixelBytes;
      uint8_t* row = bitmap.Scanline(y);
      for (size_t x = 0; x < got; ++x) {
        uint8_t v[3];
        for (int k = 0; k < samples; ++k) {
          const uint8_t* q = buf.data() + x * pixelBytes + k * sampleBytes;
          v[k] = Scale(sampleBytes == 2 ? (q[0] << 8) | q[1] : q[0], maximum);
        }
        uint8_t* px = row + 3 * x;
        if (color) {
          px[0] = v[2];
          px[1] = v[1];
          px[2] = v[0];
        } else {
          px[0] = px[1] = px[2] = v[0];
        }
      }
      if (got < static_cast<size_t>(w)) {
        progress.Abort();
        break;
      }
      rowDone();
    }
  }
}

}  // namespace

void TImageIO::LoadFromFilePxm(const std::string& fileName) {
  TLoadOptions options;
  options.FileType = ioPXM;
  options.ViewResolution = false;
  RunFormatLoad(fileName, options, [this](TImStream& stream, TLoadProgress& progress, std::unique_ptr<TImMask>&) {
    ReadPxm(stream, *Bitmap(), Params(), progress);
  });
}
