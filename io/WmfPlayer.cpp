// Windows metafile records: 16-bit coordinates, parameters stored in reverse
// order, objects placed in the lowest free slot of the object table.
#include <algorithm>
#include <cmath>

#include "io/ImStream.h"
#include "io/MetafilePlayer.h"

namespace metafile {

namespace {

// The parameters of one record, read as 16-bit words; reads past the end
// give 0 (callers check Words() first).
class TParams {
 public:
  explicit TParams(std::span<const uint8_t> d) : d_(d) {}
  size_t Words() const { return d_.size() / 2; }
  int16_t S(size_t i) const { return static_cast<int16_t>(ImGetU16LE(d_, 2 * i)); }
  uint16_t U(size_t i) const { return ImGetU16LE(d_, 2 * i); }
  uint32_t U32(size_t i) const { return ImGetU32LE(d_, 2 * i); }
  std::span<const uint8_t> BytesFrom(size_t byteOffset) const {
    return byteOffset < d_.size() ? d_.subspan(byteOffset) : std::span<const uint8_t>{};
  }
  QPointF Point(size_t i) const { return QPointF(S(i), S(i + 1)); }  // x then y

 private:
  std::span<const uint8_t> d_;
};

// Rectangle from words left, top, right, bottom stored as bottom, right, top, left.
QRectF ReversedRect(const TParams& p, size_t i) {
  const double b = p.S(i), r = p.S(i + 1), t = p.S(i + 2), l = p.S(i + 3);
  return QRectF(QPointF(l, t), QPointF(r, b));
}

std::vector<QPointF> Points(const TParams& p, size_t first, size_t n) {
  std::vector<QPointF> pts;
  pts.reserve(n);
  for (size_t i = 0; i < n; ++i) pts.push_back(p.Point(first + 2 * i));
  return pts;
}

// A Bitmap16 (device-dependent bitmap of the old blit records): 1-bit
// pixels in the text and background colours, or 24-bit pixels.
QImage DecodeBitmap16(std::span<const uint8_t> d, uint32_t textColor, uint32_t bkColor) {
  if (d.size() < 10) return {};
  const int width = static_cast<int16_t>(ImGetU16LE(d, 2));
  const int height = static_cast<int16_t>(ImGetU16LE(d, 4));
  const int widthBytes = static_cast<int16_t>(ImGetU16LE(d, 6));
  const int bitsPixel = d[9];
  if (width <= 0 || height <= 0 || widthBytes <= 0 || d[8] != 1) return {};
  if (bitsPixel != 1 && bitsPixel != 24) return {};
  if (int64_t(widthBytes) * 8 < int64_t(width) * bitsPixel) return {};
  const std::span<const uint8_t> bits = d.subspan(10);
  if (static_cast<int64_t>(bits.size()) < int64_t(widthBytes) * height) return {};
  QImage img(width, height, QImage::Format_RGB32);
  if (img.isNull()) return {};
  const QRgb fg = ColorRef(textColor).rgb(), bg = ColorRef(bkColor).rgb();
  for (int y = 0; y < height; ++y) {
    const std::span<const uint8_t> row = bits.subspan(size_t(y) * size_t(widthBytes), size_t(widthBytes));
    QRgb* out = reinterpret_cast<QRgb*>(img.scanLine(y));
    for (int x = 0; x < width; ++x) {
      if (bitsPixel == 1)
        out[x] = (row[size_t(x) >> 3] >> (7 - (x & 7))) & 1 ? bg : fg;
      else
        out[x] = qRgb(row[size_t(3 * x + 2)], row[size_t(3 * x + 1)], row[size_t(3 * x)]);
    }
  }
  return img;
}

// Source rectangle of a blit from a bitmap; y counts from the bottom of a
// bottom-up bitmap.
QRectF SourceRect(const QImage& img, bool bottomUp, double x, double y, double w, double h) {
  if (bottomUp) y = img.height() - (y + h);
  return QRectF(x, y, w, h);
}

// The window and viewport records: an origin or extent (x, y) is set,
// offset, or scaled by two fractions, parameters in reverse order. Extents
// never become 0.
enum TMapOp { kSetOrigin, kSetExtent, kOffset, kScale };

void Map(TPlayer& player, const TParams& p, double& x, double& y, TMapOp op) {
  const size_t n = p.Words();
  switch (op) {
    case kSetOrigin:
    case kSetExtent:
      if (n < 2 || (op == kSetExtent && (p.S(0) == 0 || p.S(1) == 0))) return;
      y = p.S(0);
      x = p.S(1);
      break;
    case kOffset:
      if (n < 2) return;
      y += p.S(0);
      x += p.S(1);
      break;
    case kScale: {
      if (n < 4 || p.S(0) == 0 || p.S(2) == 0) return;
      const double sy = y * p.S(1) / p.S(0), sx = x * p.S(3) / p.S(2);
      if (sx == 0 || sy == 0) return;
      x = sx;
      y = sy;
      break;
    }
  }
  player.UpdateTransform();
}

// A region object: a header with the bounding box, then scans, each a band
// of rows (top, bottom) with pairs of left and right edges. Scans that do not
// fit the record end it; an empty region is an empty object.
TObject ReadRegion(std::span<const uint8_t> d) {
  TObject o;
  o.Kind = TObject::kRegion;
  o.Region.setFillRule(Qt::WindingFill);
  if (d.size() < 22) return o;
  const size_t scans = ImGetU16LE(d, 10);
  size_t at = 22;
  for (size_t s = 0; s < scans && d.size() - at >= 6; ++s) {
    const size_t count = ImGetU16LE(d, at);
    const double top = static_cast<int16_t>(ImGetU16LE(d, at + 2));
    const double bottom = static_cast<int16_t>(ImGetU16LE(d, at + 4));
    if (count % 2 || (d.size() - at - 6) / 2 < count + 1) break;
    for (size_t k = 0; k < count && o.Region.elementCount() < kMaxRegionRects * 5; k += 2) {
      const double left = static_cast<int16_t>(ImGetU16LE(d, at + 6 + 2 * k));
      const double right = static_cast<int16_t>(ImGetU16LE(d, at + 8 + 2 * k));
      if (right > left && bottom > top) o.Region.addRect(QRectF(left, top, right - left, bottom - top));
    }
    at += 6 + 2 * count + 2;
  }
  return o;
}

// A packed bitmap of a record; usage is the record's colour use, 1
// (DIB_PAL_COLORS) when the colour table indexes the selected palette. A null
// image when the block does not hold the bitmap its header describes.
QImage PackedDib(const TPlayer& player, std::span<const uint8_t> dib, uint16_t usage, bool* bottomUp) {
  std::span<const uint8_t> info, bits;
  if (!SplitPackedDib(dib, info, bits, usage == 1)) return {};
  return DecodeDib(info, bits, bottomUp, false, usage == 1 ? &player.Palette() : nullptr);
}

void DrawDib(TPlayer& player, std::span<const uint8_t> dib, QRectF dest, double sx, double sy, double sw,
             double sh, uint32_t rop, uint16_t usage = 0) {
  bool bottomUp = true;
  const QImage img = PackedDib(player, dib, usage, &bottomUp);
  if (img.isNull()) return;
  player.Blit(dest, img, SourceRect(img, bottomUp, sx, sy, sw, sh), rop);
}

}  // namespace

void PlayWmf(TPlayer& player, const TMetafileInfo& info) {
  const std::span<const uint8_t> data = info.Records;
  TDcState& dc = player.Dc();
  size_t pos = size_t(ImGetU16LE(data, 2)) * 2;  // header size in words
  while (pos <= data.size() && data.size() - pos >= 6 && !player.Exhausted()) {
    const uint64_t bytes = uint64_t(ImGetU32LE(data, pos)) * 2;
    const uint16_t func = ImGetU16LE(data, pos + 4);
    // A record shorter than its own header or running past the data ends
    // the picture.
    if (bytes < 6 || bytes > data.size() - pos) break;
    if (func == 0x0000) break;  // META_EOF
    const TParams p(data.subspan(pos + 6, static_cast<size_t>(bytes - 6)));
    const size_t n = p.Words();
    // Records without a bitmap are (function >> 8) + 3 words long.
    const bool noBitmap = bytes / 2 == uint64_t((func >> 8) + 3);
    pos += static_cast<size_t>(bytes);
    switch (func) {
      case 0x0201: if (n >= 2) dc.BkColor = p.U32(0); break;           // SETBKCOLOR
      case 0x0102: if (n >= 1) dc.BkMode = p.U(0); break;              // SETBKMODE
      case 0x0104: if (n >= 1) dc.Rop2 = p.U(0); break;                // SETROP2
      case 0x0106: if (n >= 1) dc.PolyFillMode = p.U(0); break;        // SETPOLYFILLMODE
      case 0x0107: if (n >= 1) dc.StretchMode = p.U(0); break;         // SETSTRETCHBLTMODE
      case 0x0209: if (n >= 2) dc.TextColor = p.U32(0); break;         // SETTEXTCOLOR
      case 0x012E: if (n >= 1) dc.TextAlign = p.U(0); break;           // SETTEXTALIGN
      case 0x020B: Map(player, p, dc.WinOrgX, dc.WinOrgY, kSetOrigin); break;   // SETWINDOWORG
      case 0x020C: Map(player, p, dc.WinExtX, dc.WinExtY, kSetExtent); break;   // SETWINDOWEXT
      case 0x020F: Map(player, p, dc.WinOrgX, dc.WinOrgY, kOffset); break;      // OFFSETWINDOWORG
      case 0x0410: Map(player, p, dc.WinExtX, dc.WinExtY, kScale); break;       // SCALEWINDOWEXT
      case 0x020D: Map(player, p, dc.ViewOrgX, dc.ViewOrgY, kSetOrigin); break; // SETVIEWPORTORG
      case 0x020E: Map(player, p, dc.ViewExtX, dc.ViewExtY, kSetExtent); break; // SETVIEWPORTEXT
      case 0x0211: Map(player, p, dc.ViewOrgX, dc.ViewOrgY, kOffset); break;    // OFFSETVIEWPORTORG
      case 0x0412: Map(player, p, dc.ViewExtX, dc.ViewExtY, kScale); break;     // SCALEVIEWPORTEXT
      case 0x0103:                                                     // SETMAPMODE
        if (n >= 1) {
          dc.MapMode = p.U(0);
          player.UpdateTransform();
        }
        break;
      case 0x001E: player.SaveDc(); break;                             // SAVEDC
      case 0x0127: if (n >= 1) player.RestoreDc(p.S(0)); break;        // RESTOREDC
      case 0x0214: if (n >= 2) player.MoveTo(QPointF(p.S(1), p.S(0))); break;  // MOVETO
      case 0x0213: if (n >= 2) player.LineTo(QPointF(p.S(1), p.S(0))); break;  // LINETO
      case 0x0415: if (n >= 4) player.ExcludeClipRect(ReversedRect(p, 0)); break;
      case 0x0416: if (n >= 4) player.IntersectClipRect(ReversedRect(p, 0)); break;
      case 0x0220: if (n >= 2) player.OffsetClip(p.S(1), p.S(0)); break;       // OFFSETCLIPRGN
      case 0x012C:                                                     // SELECTCLIPREGION
        // A region object becomes the clip; anything else resets it to the
        // whole picture.
        player.CombineClip(n >= 1 ? player.RegionOf(p.U(0)) : std::nullopt, kRgnCopy);
        break;
      case 0x0817: case 0x081A: case 0x0830:                           // ARC, PIE, CHORD
        if (n >= 8) {
          const QPointF end(p.S(1), p.S(0)), start(p.S(3), p.S(2));
          const TPlayer::TArcKind kind = func == 0x0817 ? TPlayer::kArc
                                         : func == 0x081A ? TPlayer::kPie : TPlayer::kChord;
          player.Arc(kind, ReversedRect(p, 4), start, end);
        }
        break;
      case 0x0418: if (n >= 4) player.Ellipse(ReversedRect(p, 0)); break;      // ELLIPSE
      case 0x041B: if (n >= 4) player.Rectangle(ReversedRect(p, 0)); break;    // RECTANGLE
      case 0x061C: if (n >= 6) player.RoundRect(ReversedRect(p, 2), p.S(1), p.S(0)); break;
      case 0x061D:                                                     // PATBLT
        if (n >= 6) player.PatBlt(QRectF(p.S(5), p.S(4), p.S(3), p.S(2)), p.U32(0));
        break;
      case 0x041F: if (n >= 4) player.SetPixel(QPointF(p.S(3), p.S(2)), p.U32(0)); break;
      case 0x0324: case 0x0325: {                                      // POLYGON, POLYLINE
        if (n < 1) break;
        const size_t count = p.U(0);
        if (n < 1 + 2 * count) break;
        const std::vector<QPointF> pts = Points(p, 1, count);
        if (func == 0x0324)
          player.Polygon(pts);
        else
          player.Polyline(pts);
        break;
      }
      case 0x0538: {                                                   // POLYPOLYGON
        if (n < 1) break;
        const size_t polys = p.U(0);
        if (n < 1 + polys) break;
        size_t total = 0;
        for (size_t i = 0; i < polys; ++i) total += p.U(1 + i);
        if (n < 1 + polys + 2 * total) break;
        std::vector<std::vector<QPointF>> all;
        size_t at = 1 + polys;
        for (size_t i = 0; i < polys; ++i) {
          all.push_back(Points(p, at, p.U(1 + i)));
          at += 2 * size_t(p.U(1 + i));
        }
        player.PolyPolygon(all);
        break;
      }
      case 0x0521: {                                                   // TEXTOUT
        if (n < 1) break;
        const size_t count = p.U(0);
        const size_t strWords = (count + 1) / 2;
        if (n < 1 + strWords + 2) break;
        const std::u16string text = AnsiText(p.BytesFrom(2).subspan(0, count));
        player.Text(QPointF(p.S(2 + strWords), p.S(1 + strWords)), text, {}, 0, std::nullopt);
        break;
      }
      case 0x0A32: {                                                   // EXTTEXTOUT
        if (n < 4) break;
        const QPointF at(p.S(1), p.S(0));
        const size_t count = p.U(2);
        const uint16_t options = p.U(3);
        size_t w = 4;
        std::optional<QRectF> rect;
        if (options & 6) {  // ETO_OPAQUE, ETO_CLIPPED: a rectangle follows
          if (n < 8) break;
          rect = QRectF(QPointF(p.S(4), p.S(5)), QPointF(p.S(6), p.S(7)));
          w = 8;
        }
        const size_t strWords = (count + 1) / 2;
        if (n < w + strWords) break;
        const std::u16string text = AnsiText(p.BytesFrom(2 * w).subspan(0, count));
        std::vector<double> dx;
        if (n >= w + strWords + count)
          for (size_t i = 0; i < count; ++i) dx.push_back(p.S(w + strWords + i));
        player.Text(at, text, dx, options, rect);
        break;
      }
      case 0x012D: if (n >= 1) player.Select(p.U(0)); break;           // SELECTOBJECT
      case 0x01F0: if (n >= 1) player.Delete(p.U(0)); break;           // DELETEOBJECT
      case 0x02FA: {                                                   // CREATEPENINDIRECT
        TObject o;
        o.Kind = TObject::kPen;
        if (n >= 5) {
          o.Pen.Style = p.U(0);
          o.Pen.Width = std::abs(p.S(1));
          o.Pen.Cosmetic = o.Pen.Width == 0;
          o.Pen.Color = p.U32(3);
        }
        player.WmfCreate(o);
        break;
      }
      case 0x02FC: {                                                   // CREATEBRUSHINDIRECT
        TObject o;
        o.Kind = TObject::kBrush;
        if (n >= 4) {
          const uint16_t style = p.U(0);
          o.Brush.Color = p.U32(1);
          o.Brush.Hatch = p.U(3);
          o.Brush.Kind = style == 1 ? TBrush::kNull : style == 2 ? TBrush::kHatched : TBrush::kSolid;
        }
        player.WmfCreate(o);
        break;
      }
      case 0x02FB: {                                                   // CREATEFONTINDIRECT
        TObject o;
        o.Kind = TObject::kFont;
        if (n >= 9) {
          o.Font.Height = p.S(0);
          o.Font.Width = p.S(1);
          o.Font.Escapement = p.S(2);
          o.Font.Weight = p.S(4);
          const std::span<const uint8_t> b = p.BytesFrom(10);
          o.Font.Italic = b[0];
          o.Font.Underline = b[1];
          o.Font.StrikeOut = b[2];
          o.Font.CharSet = b[3];
          const std::span<const uint8_t> face = p.BytesFrom(18);
          std::vector<uint8_t> name;
          for (size_t i = 0; i < face.size() && i < 32 && face[i]; ++i) name.push_back(face[i]);
          o.Font.FaceName = AnsiText(name);
        }
        player.WmfCreate(o);
        break;
      }
      case 0x0142: {                                                   // DIBCREATEPATTERNBRUSH
        TObject o;
        o.Kind = TObject::kBrush;
        o.Brush.Kind = TBrush::kPattern;
        if (n >= 2) o.Brush.Pattern = PackedDib(player, p.BytesFrom(4), p.U(1), nullptr);
        if (o.Brush.Pattern.isNull()) {
          o.Brush.Kind = TBrush::kSolid;
          o.Brush.Color = 0x808080;
        }
        player.WmfCreate(o);
        break;
      }
      case 0x01F9: {                                                   // CREATEPATTERNBRUSH
        TObject o;
        o.Kind = TObject::kBrush;
        o.Brush.Color = 0x808080;
        player.WmfCreate(o);
        break;
      }
      case 0x00F7: {                                                   // CREATEPALETTE
        TObject o;
        o.Kind = TObject::kPalette;
        o.Palette = ReadLogPalette(p.BytesFrom(0));
        player.WmfCreate(o);
        break;
      }
      case 0x0234: if (n >= 1) player.SelectPalette(p.U(0)); break;   // SELECTPALETTE
      case 0x06FF:                                                     // CREATEREGION
        player.WmfCreate(ReadRegion(p.BytesFrom(0)));
        break;
      case 0x0228:                                                     // FILLREGION
        if (n >= 2)
          if (const auto area = player.RegionOf(p.U(0))) player.FillArea(*area, p.U(1));
        break;
      case 0x012B:                                                     // PAINTREGION
        if (n >= 1)
          if (const auto area = player.RegionOf(p.U(0))) player.FillArea(*area, std::nullopt);
        break;
      case 0x0429:                                                     // FRAMEREGION
        if (n >= 4)
          if (const auto area = player.RegionOf(p.U(0))) player.FrameArea(*area, p.U(1), p.S(3), p.S(2));
        break;
      case 0x012A:                                                     // INVERTREGION
        if (n >= 1)
          if (const auto area = player.RegionOf(p.U(0))) player.FillArea(*area, std::nullopt, true);
        break;
      case 0x0940:                                                     // DIBBITBLT
        if (noBitmap) {
          if (n >= 9) player.PatBlt(QRectF(p.S(8), p.S(7), p.S(6), p.S(5)), p.U32(0));
        } else if (n >= 8) {
          const double w = p.S(5), h = p.S(4);
          DrawDib(player, p.BytesFrom(16), QRectF(p.S(7), p.S(6), w, h), p.S(3), p.S(2), w, h, p.U32(0));
        }
        break;
      case 0x0B41:                                                     // DIBSTRETCHBLT
        if (noBitmap) {
          if (n >= 11) player.PatBlt(QRectF(p.S(10), p.S(9), p.S(8), p.S(7)), p.U32(0));
        } else if (n >= 10) {
          DrawDib(player, p.BytesFrom(20), QRectF(p.S(9), p.S(8), p.S(7), p.S(6)), p.S(5), p.S(4), p.S(3),
                  p.S(2), p.U32(0));
        }
        break;
      case 0x0F43:                                                     // STRETCHDIB
        if (n >= 11)
          DrawDib(player, p.BytesFrom(22), QRectF(p.S(10), p.S(9), p.S(8), p.S(7)), p.S(6), p.S(5), p.S(4),
                  p.S(3), p.U32(0), p.U(2));
        break;
      case 0x0D33:                                                     // SETDIBTODEV
        if (n >= 9) {
          const double w = p.S(6), h = p.S(5);
          DrawDib(player, p.BytesFrom(18), QRectF(p.S(8), p.S(7), w, h), p.S(4), p.S(3), w, h, 0x00CC0020,
                  p.U(0));
        }
        break;
      case 0x0922:                                                     // BITBLT
        if (noBitmap) {
          if (n >= 9) player.PatBlt(QRectF(p.S(8), p.S(7), p.S(6), p.S(5)), p.U32(0));
        } else if (n >= 8) {
          const QImage img = DecodeBitmap16(p.BytesFrom(16), dc.TextColor, dc.BkColor);
          const double w = p.S(5), h = p.S(4);
          player.Blit(QRectF(p.S(7), p.S(6), w, h), img, QRectF(p.S(3), p.S(2), w, h), p.U32(0));
        }
        break;
      case 0x0B23:                                                     // STRETCHBLT
        if (noBitmap) {
          if (n >= 11) player.PatBlt(QRectF(p.S(10), p.S(9), p.S(8), p.S(7)), p.U32(0));
        } else if (n >= 10) {
          const QImage img = DecodeBitmap16(p.BytesFrom(20), dc.TextColor, dc.BkColor);
          player.Blit(QRectF(p.S(9), p.S(8), p.S(7), p.S(6)), img, QRectF(p.S(5), p.S(4), p.S(3), p.S(2)),
                      p.U32(0));
        }
        break;
      default:
        // Everything else (escapes, palettes, regions drawn, flood fills,
        // stretch mode, mapper flags) is skipped by its length.
        break;
    }
  }
}

}  // namespace metafile
