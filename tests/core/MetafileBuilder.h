#pragma once
// Builders for small Windows metafiles and enhanced metafiles written record
// by record, for the metafile reader tests.

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "tests/core/ReaderTestKit.h"

namespace mfbuild {

using readerkit::Bytes;
using readerkit::Put16;
using readerkit::Put32;

// A colour as two words (COLORREF: red low byte, then green, then blue).
inline std::vector<int16_t> Color(uint32_t rgb) {
  const uint32_t ref = ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
  return {int16_t(ref & 0xFFFF), int16_t(ref >> 16)};
}
inline uint32_t ColorRef(uint32_t rgb) { return ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16); }

// Windows metafile records; parameters are given in file order (which for
// most records is the reverse of the call's argument order).
struct Wmf {
  Bytes recs;
  uint16_t maxRecord = 0;

  Wmf& Raw(uint16_t func, const Bytes& params) {
    Bytes p = params;
    if (p.size() % 2) p.push_back(0);
    Put32(recs, uint32_t(3 + p.size() / 2));
    Put16(recs, func);
    recs.insert(recs.end(), p.begin(), p.end());
    return *this;
  }
  Wmf& Rec(uint16_t func, std::initializer_list<std::vector<int16_t>> groups) {
    Bytes p;
    for (const auto& g : groups)
      for (int16_t w : g) Put16(p, uint16_t(w));
    return Raw(func, p);
  }
  Wmf& Rec(uint16_t func, std::vector<int16_t> words) { return Rec(func, {words}); }

  // Common records, with arguments in the usual call order.
  Wmf& Window(int x, int y, int w, int h) {
    Rec(0x020B, {int16_t(y), int16_t(x)});
    return Rec(0x020C, {int16_t(h), int16_t(w)});
  }
  Wmf& Brush(uint32_t rgb, int style = 0, int hatch = 0) {
    return Rec(0x02FC, {{int16_t(style)}, Color(rgb), {int16_t(hatch)}});
  }
  Wmf& Pen(uint32_t rgb, int style = 0, int width = 0) {
    return Rec(0x02FA, {{int16_t(style), int16_t(width), 0}, Color(rgb)});
  }
  Wmf& Select(int index) { return Rec(0x012D, {int16_t(index)}); }
  Wmf& Delete(int index) { return Rec(0x01F0, {int16_t(index)}); }
  Wmf& Rectangle(int l, int t, int r, int b) {
    return Rec(0x041B, {int16_t(b), int16_t(r), int16_t(t), int16_t(l)});
  }
  Wmf& Ellipse(int l, int t, int r, int b) {
    return Rec(0x0418, {int16_t(b), int16_t(r), int16_t(t), int16_t(l)});
  }
  Wmf& Polygon(std::initializer_list<int> xy) {
    std::vector<int16_t> w = {int16_t(xy.size() / 2)};
    for (int v : xy) w.push_back(int16_t(v));
    return Rec(0x0324, w);
  }

  // The file: placeable header (unless placeable is false), the 18-byte
  // header, the records and the end-of-file record.
  Bytes File(int16_t l, int16_t t, int16_t r, int16_t b, uint16_t unitsPerInch, bool placeable = true,
             bool withEof = true) const {
    Bytes body = recs;
    if (withEof) {
      Put32(body, 3);
      Put16(body, 0);
    }
    Bytes out;
    if (placeable) {
      Bytes h;
      Put32(h, 0x9AC6CDD7);
      Put16(h, 0);
      Put16(h, uint16_t(l));
      Put16(h, uint16_t(t));
      Put16(h, uint16_t(r));
      Put16(h, uint16_t(b));
      Put16(h, unitsPerInch);
      Put32(h, 0);
      uint16_t sum = 0;
      for (size_t i = 0; i < 20; i += 2) sum ^= uint16_t(h[i] | (h[i + 1] << 8));
      Put16(h, sum);
      out = h;
    }
    Put16(out, 1);       // memory metafile
    Put16(out, 9);       // header words
    Put16(out, 0x0300);  // version
    Put32(out, uint32_t((18 + body.size()) / 2));
    Put16(out, 8);       // objects
    Put32(out, 64);      // largest record
    Put16(out, 0);
    out.insert(out.end(), body.begin(), body.end());
    return out;
  }
};

// Enhanced metafile records.
struct Emf {
  Bytes recs;
  uint32_t count = 1;

  Emf& Raw(uint32_t type, const Bytes& payload) {
    Bytes p = payload;
    while (p.size() % 4) p.push_back(0);
    Put32(recs, type);
    Put32(recs, uint32_t(8 + p.size()));
    recs.insert(recs.end(), p.begin(), p.end());
    ++count;
    return *this;
  }
  Emf& Rec(uint32_t type, std::initializer_list<int32_t> values) {
    Bytes p;
    for (int32_t v : values) Put32(p, uint32_t(v));
    return Raw(type, p);
  }
  Emf& Brush(uint32_t index, uint32_t rgb, int style = 0) {
    return Rec(39, {int32_t(index), style, int32_t(ColorRef(rgb)), 0});
  }
  Emf& Pen(uint32_t index, uint32_t rgb, int style = 0, int width = 0) {
    return Rec(38, {int32_t(index), style, width, 0, int32_t(ColorRef(rgb))});
  }
  Emf& Select(uint32_t index) { return Rec(37, {int32_t(index)}); }
  Emf& Delete(uint32_t index) { return Rec(40, {int32_t(index)}); }
  Emf& Rectangle(int l, int t, int r, int b) { return Rec(43, {l, t, r, b}); }
  // A blit record of the stretching layout (STRETCHBLT, ALPHABLEND,
  // TRANSPARENTBLT): the destination, the operation (or blend function, or
  // key colour), the whole source bitmap (a 40-byte header and its bits) and
  // an identity source transform.
  // dib: its first infoBytes are the BITMAPINFO, the rest the bits; usage 1
  // makes the colour table palette indexes.
  Emf& Blit(uint32_t type, int x, int y, int w, int h, uint32_t operation, int srcW, int srcH, const Bytes& dib,
            uint32_t usage = 0, uint32_t infoBytes = 40) {
    Bytes p(16, 0);
    for (int v : {x, y, w, h}) Put32(p, uint32_t(v));
    Put32(p, operation);
    for (int i = 0; i < 2; ++i) Put32(p, 0);  // source x, y
    for (float v : {1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f}) {
      uint32_t u;
      std::memcpy(&u, &v, 4);
      Put32(p, u);
    }
    for (uint32_t v : {0u, usage, 108u, infoBytes, 108u + infoBytes, uint32_t(dib.size() - infoBytes),
                       uint32_t(srcW), uint32_t(srcH)})
      Put32(p, v);
    p.insert(p.end(), dib.begin(), dib.end());
    return Raw(type, p);
  }

  // The file: a 108-byte header with the frame (hundredths of a millimetre)
  // and the reference device, the records, and the end-of-file record.
  Bytes File(int32_t fl, int32_t ft, int32_t fr, int32_t fb, int32_t devPxX, int32_t devPxY, int32_t devMmX,
             int32_t devMmY, bool withEof = true) const {
    Bytes body = recs;
    uint32_t n = count;
    if (withEof) {
      Put32(body, 14);
      Put32(body, 20);
      Put32(body, 0);
      Put32(body, 16);
      Put32(body, 20);
      ++n;
    }
    Bytes h;
    Put32(h, 1);
    Put32(h, 108);
    for (int v : {0, 0, 100, 100}) Put32(h, uint32_t(v));  // bounds
    for (int32_t v : {fl, ft, fr, fb}) Put32(h, uint32_t(v));
    Put32(h, 0x464D4520);
    Put32(h, 0x10000);
    Put32(h, uint32_t(108 + body.size()));
    Put32(h, n);
    Put16(h, 16);  // handles
    Put16(h, 0);
    Put32(h, 0);   // description
    Put32(h, 0);
    Put32(h, 0);   // palette entries
    for (int32_t v : {devPxX, devPxY, devMmX, devMmY}) Put32(h, uint32_t(v));
    Put32(h, 0);
    Put32(h, 0);
    Put32(h, 0);
    Put32(h, uint32_t(devMmX * 1000));
    Put32(h, uint32_t(devMmY * 1000));
    h.insert(h.end(), body.begin(), body.end());
    return h;
  }
  // A 100 x 100 pixel picture whose logical units are its pixels:
  // 25 mm at 4 pixels per millimetre.
  Bytes File100(bool withEof = true) const { return File(0, 0, 2500, 2500, 1000, 1000, 250, 250, withEof); }
};

// A packed bottom-up 24-bit bitmap (BITMAPINFOHEADER + rows) from top-down
// 0xRRGGBB pixels.
inline Bytes Dib24(int w, int h, const std::vector<uint32_t>& pixels) {
  Bytes b;
  Put32(b, 40);
  Put32(b, uint32_t(w));
  Put32(b, uint32_t(h));
  Put16(b, 1);
  Put16(b, 24);
  for (int i = 0; i < 6; ++i) Put32(b, 0);
  const int stride = (w * 3 + 3) / 4 * 4;
  for (int y = h - 1; y >= 0; --y) {
    for (int x = 0; x < w; ++x) {
      const uint32_t c = pixels[size_t(y * w + x)];
      b.push_back(uint8_t(c));
      b.push_back(uint8_t(c >> 8));
      b.push_back(uint8_t(c >> 16));
    }
    for (int i = w * 3; i < stride; ++i) b.push_back(0);
  }
  return b;
}

}  // namespace mfbuild
