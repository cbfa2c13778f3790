// Enhanced metafile records: 32-bit and 16-bit coordinates, explicit object
// indexes, paths, the world transform and bitmaps given by offsets within
// their record.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "io/ImStream.h"
#include "io/MetafilePlayer.h"

namespace metafile {

namespace {

// One record; every read is bounded by the record's own length.
class TRecord {
 public:
  explicit TRecord(std::span<const uint8_t> d) : d_(d) {}
  size_t Size() const { return d_.size(); }
  bool Has(size_t bytes) const { return d_.size() >= bytes; }
  uint32_t U(size_t off) const { return ImGetU32LE(d_, off); }
  int32_t I(size_t off) const { return static_cast<int32_t>(U(off)); }
  int16_t I16(size_t off) const { return static_cast<int16_t>(ImGetU16LE(d_, off)); }
  float F(size_t off) const {
    const uint32_t v = U(off);
    float f;
    std::memcpy(&f, &v, sizeof f);
    return f;
  }
  QPointF Point(size_t off) const { return QPointF(I(off), I(off + 4)); }
  QRectF Rect(size_t off) const { return QRectF(QPointF(I(off), I(off + 4)), QPointF(I(off + 8), I(off + 12))); }
  // n bytes at a record offset, empty when they are not all inside the record.
  std::span<const uint8_t> Bytes(uint64_t off, uint64_t n) const {
    if (off > d_.size() || n > d_.size() - off) return {};
    return d_.subspan(static_cast<size_t>(off), static_cast<size_t>(n));
  }

 private:
  std::span<const uint8_t> d_;
};

// count points of 32 or 16 bits starting at off, when they fit the record.
bool ReadPoints(const TRecord& r, size_t off, uint64_t count, bool small, std::vector<QPointF>& pts) {
  const uint64_t each = small ? 4 : 8;
  if (off > r.Size() || count > (r.Size() - off) / each) return false;
  pts.clear();
  pts.reserve(static_cast<size_t>(count));
  for (uint64_t i = 0; i < count; ++i) {
    const size_t at = off + static_cast<size_t>(i * each);
    if (small)
      pts.emplace_back(r.I16(at), r.I16(at + 2));
    else
      pts.emplace_back(r.I(at), r.I(at + 4));
  }
  return true;
}

QTransform ReadXform(const TRecord& r, size_t off, bool& ok) {
  const double m11 = r.F(off), m12 = r.F(off + 4), m21 = r.F(off + 8), m22 = r.F(off + 12);
  const double dx = r.F(off + 16), dy = r.F(off + 20);
  ok = std::isfinite(m11) && std::isfinite(m12) && std::isfinite(m21) && std::isfinite(m22) &&
       std::isfinite(dx) && std::isfinite(dy);
  return QTransform(m11, m12, m21, m22, dx, dy);
}

TPen ReadLogPen(const TRecord& r, size_t off) {
  TPen pen;
  pen.Style = r.U(off);
  pen.Width = std::abs(double(r.I(off + 4)));
  pen.Cosmetic = pen.Width == 0;
  pen.Color = r.U(off + 12);
  return pen;
}

TBrush BrushFromLog(uint32_t style, uint32_t color, uint32_t hatch) {
  TBrush b;
  b.Color = color;
  b.Hatch = hatch;
  b.Kind = style == 1 ? TBrush::kNull : style == 2 ? TBrush::kHatched : TBrush::kSolid;
  return b;
}

std::u16string Utf16(std::span<const uint8_t> bytes) {
  std::u16string s;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) s.push_back(char16_t(ImGetU16LE(bytes, i)));
  return s;
}

// The bitmap of a blit record: BITMAPINFO and bits at offsets in the record;
// the colour use at usageAt is 1 (DIB_PAL_COLORS) when the colour table
// indexes the selected palette.
QImage RecordDib(const TPlayer& player, const TRecord& r, size_t offFields, size_t usageAt, bool* bottomUp,
                 bool withAlpha = false) {
  const std::span<const uint8_t> info = r.Bytes(r.U(offFields), r.U(offFields + 4));
  const std::span<const uint8_t> bits = r.Bytes(r.U(offFields + 8), r.U(offFields + 12));
  if (info.empty() || bits.empty()) return {};
  const bool indexes = r.Has(usageAt + 4) && r.U(usageAt) == 1;
  return DecodeDib(info, bits, bottomUp, withAlpha, indexes ? &player.Palette() : nullptr);
}

QRectF SourceRect(const QImage& img, bool bottomUp, double x, double y, double w, double h) {
  if (bottomUp) y = img.height() - (y + h);
  return QRectF(x, y, w, h);
}

// Rectangles of a RGNDATA block (device units) as one area in output pixels.
std::optional<QPainterPath> RegionArea(TPlayer& player, std::span<const uint8_t> rgn) {
  if (rgn.size() < 32) return std::nullopt;
  const uint32_t count = ImGetU32LE(rgn, 8);
  const uint32_t headerSize = ImGetU32LE(rgn, 0);
  if (headerSize < 32 || headerSize > rgn.size() || count > (rgn.size() - headerSize) / 16) return std::nullopt;
  QPainterPath area;
  area.setFillRule(Qt::WindingFill);
  for (uint32_t i = 0; i < std::min<uint32_t>(count, kMaxRegionRects); ++i) {
    const size_t at = headerSize + size_t(i) * 16;
    const QPointF a = player.DeviceToOutput(QPointF(static_cast<int32_t>(ImGetU32LE(rgn, at)),
                                                    static_cast<int32_t>(ImGetU32LE(rgn, at + 4))));
    const QPointF b = player.DeviceToOutput(QPointF(static_cast<int32_t>(ImGetU32LE(rgn, at + 8)),
                                                    static_cast<int32_t>(ImGetU32LE(rgn, at + 12))));
    area.addRect(QRectF(a, b).normalized());
  }
  return area.simplified();
}

void PolyPoly(TPlayer& player, const TRecord& r, bool small, bool polygon) {
  if (!r.Has(32)) return;
  const uint64_t polys = r.U(24), total = r.U(28);
  if (polys > (r.Size() - 32) / 4) return;
  const size_t pointsAt = 32 + static_cast<size_t>(polys) * 4;
  std::vector<QPointF> pts;
  if (!ReadPoints(r, pointsAt, total, small, pts)) return;
  std::vector<std::vector<QPointF>> all;
  uint64_t used = 0;
  for (uint64_t i = 0; i < polys; ++i) {
    const uint64_t count = r.U(32 + static_cast<size_t>(i) * 4);
    if (count > total - used) break;
    all.emplace_back(pts.begin() + static_cast<long>(used), pts.begin() + static_cast<long>(used + count));
    used += count;
  }
  if (polygon)
    player.PolyPolygon(all);
  else
    player.PolyPolyline(all);
}

void ExtTextOut(TPlayer& player, const TRecord& r, bool wide) {
  if (!r.Has(76)) return;
  const QPointF at = r.Point(36);
  const uint64_t count = r.U(44);
  const uint32_t offString = r.U(48);
  const uint32_t options = r.U(52);
  const QRectF rect = r.Rect(56);
  const uint32_t offDx = r.U(72);
  const std::span<const uint8_t> str = r.Bytes(offString, count * (wide ? 2 : 1));
  if (count && str.empty()) return;
  const std::u16string text = wide ? Utf16(str) : AnsiText(str);
  std::vector<double> dx;
  // ETO_PDY (0x2000): pairs of x and y advances; only the x ones are used.
  const uint64_t step = (options & 0x2000) ? 8 : 4;
  const std::span<const uint8_t> adv = offDx ? r.Bytes(offDx, count * step) : std::span<const uint8_t>{};
  if (!adv.empty())
    for (uint64_t i = 0; i < count; ++i) dx.push_back(static_cast<int32_t>(ImGetU32LE(adv, size_t(i * step))));
  const bool hasRect = rect.width() != 0 && rect.height() != 0;
  player.Text(at, text, dx, options, hasRect ? std::optional<QRectF>(rect) : std::nullopt);
}

}  // namespace

void PlayEmf(TPlayer& player, const TMetafileInfo& info) {
  const std::span<const uint8_t> data = info.Records;
  TDcState& dc = player.Dc();
  player.SetEmfTableSize(ImGetU16LE(data, 56));
  size_t pos = 0;
  std::vector<QPointF> pts;
  while (pos <= data.size() && data.size() - pos >= 8 && !player.Exhausted()) {
    const uint32_t type = ImGetU32LE(data, pos);
    const uint32_t size = ImGetU32LE(data, pos + 4);
    // Records are whole multiples of 4 bytes and lie inside the data.
    if (size < 8 || size % 4 != 0 || size > data.size() - pos) break;
    const TRecord r(data.subspan(pos, size));
    pos += size;
    switch (type) {
      case 14: return;  // EOF
      case 2: case 3: case 4: case 5: case 6:          // POLYBEZIER .. POLYLINETO
      case 85: case 86: case 87: case 88: case 89: {   // the 16-bit forms
        const bool small = type >= 85;
        const uint32_t kind = small ? type - 83 : type;
        if (!r.Has(28) || !ReadPoints(r, 28, r.U(24), small, pts)) break;
        switch (kind) {
          case 2: player.PolyBezier(pts); break;
          case 3: player.Polygon(pts); break;
          case 4: player.Polyline(pts); break;
          case 5: player.PolyBezierTo(pts); break;
          case 6: player.PolylineTo(pts); break;
        }
        break;
      }
      case 56: case 92: {                                // POLYDRAW, POLYDRAW16
        const bool small = type == 92;
        if (!r.Has(28)) break;
        const uint64_t count = r.U(24);
        if (!ReadPoints(r, 28, count, small, pts)) break;
        const std::span<const uint8_t> types = r.Bytes(28 + count * (small ? 4 : 8), count);
        if (types.size() == count) player.PolyDraw(pts, types);
        break;
      }
      case 7: PolyPoly(player, r, false, false); break;   // POLYPOLYLINE
      case 8: PolyPoly(player, r, false, true); break;    // POLYPOLYGON
      case 90: PolyPoly(player, r, true, false); break;   // POLYPOLYLINE16
      case 91: PolyPoly(player, r, true, true); break;    // POLYPOLYGON16
      case 9:                                              // SETWINDOWEXTEX
        if (r.Has(16) && r.I(8) != 0 && r.I(12) != 0) {
          dc.WinExtX = r.I(8);
          dc.WinExtY = r.I(12);
          player.UpdateTransform();
        }
        break;
      case 10:                                             // SETWINDOWORGEX
        if (r.Has(16)) {
          dc.WinOrgX = r.I(8);
          dc.WinOrgY = r.I(12);
          player.UpdateTransform();
        }
        break;
      case 11:                                             // SETVIEWPORTEXTEX
        if (r.Has(16) && r.I(8) != 0 && r.I(12) != 0) {
          dc.ViewExtX = r.I(8);
          dc.ViewExtY = r.I(12);
          player.UpdateTransform();
        }
        break;
      case 12:                                             // SETVIEWPORTORGEX
        if (r.Has(16)) {
          dc.ViewOrgX = r.I(8);
          dc.ViewOrgY = r.I(12);
          player.UpdateTransform();
        }
        break;
      case 31: case 32:                                    // SCALEVIEWPORTEXTEX, SCALEWINDOWEXTEX
        if (r.Has(24) && r.I(12) != 0 && r.I(20) != 0) {
          double& ex = type == 31 ? dc.ViewExtX : dc.WinExtX;
          double& ey = type == 31 ? dc.ViewExtY : dc.WinExtY;
          const double x = ex * r.I(8) / r.I(12), y = ey * r.I(16) / r.I(20);
          if (x != 0 && y != 0) {
            ex = x;
            ey = y;
            player.UpdateTransform();
          }
        }
        break;
      case 17:                                             // SETMAPMODE
        if (r.Has(12)) {
          dc.MapMode = static_cast<int>(r.U(8));
          player.UpdateTransform();
        }
        break;
      case 18: if (r.Has(12)) dc.BkMode = static_cast<int>(r.U(8)); break;
      case 19: if (r.Has(12)) dc.PolyFillMode = static_cast<int>(r.U(8)); break;
      case 21: if (r.Has(12)) dc.StretchMode = static_cast<int>(r.U(8)); break;  // SETSTRETCHBLTMODE
      case 20: if (r.Has(12)) dc.Rop2 = static_cast<int>(r.U(8)); break;
      case 22: if (r.Has(12)) dc.TextAlign = r.U(8); break;
      case 24: if (r.Has(12)) dc.TextColor = r.U(8); break;
      case 25: if (r.Has(12)) dc.BkColor = r.U(8); break;
      case 57: if (r.Has(12)) dc.ArcClockwise = r.U(8) == 2; break;  // SETARCDIRECTION
      case 26: if (r.Has(16)) player.OffsetClip(r.I(8), r.I(12)); break;  // OFFSETCLIPRGN
      case 27: if (r.Has(16)) player.MoveTo(r.Point(8)); break;           // MOVETOEX
      case 54: if (r.Has(16)) player.LineTo(r.Point(8)); break;           // LINETO
      case 29: if (r.Has(24)) player.ExcludeClipRect(r.Rect(8)); break;
      case 30: if (r.Has(24)) player.IntersectClipRect(r.Rect(8)); break;
      case 33: player.SaveDc(); break;
      case 34: if (r.Has(12)) player.RestoreDc(r.I(8)); break;
      case 35: {                                           // SETWORLDTRANSFORM
        bool ok = false;
        const QTransform t = ReadXform(r, 8, ok);
        if (ok && r.Has(32)) {
          dc.World = t;
          player.UpdateTransform();
        }
        break;
      }
      case 36: {                                           // MODIFYWORLDTRANSFORM
        bool ok = false;
        const QTransform t = ReadXform(r, 8, ok);
        if (!ok || !r.Has(36)) break;
        switch (r.U(32)) {
          case 1: dc.World = QTransform(); break;       // MWT_IDENTITY
          case 2: dc.World = t * dc.World; break;       // MWT_LEFTMULTIPLY
          case 3: dc.World = dc.World * t; break;       // MWT_RIGHTMULTIPLY
          case 4: dc.World = t; break;                  // MWT_SET
          default: break;
        }
        player.UpdateTransform();
        break;
      }
      case 37: if (r.Has(12)) player.Select(r.U(8)); break;   // SELECTOBJECT
      case 40: if (r.Has(12)) player.Delete(r.U(8)); break;   // DELETEOBJECT
      case 38:                                                 // CREATEPEN
        if (r.Has(28)) {
          TObject o;
          o.Kind = TObject::kPen;
          o.Pen = ReadLogPen(r, 12);
          player.EmfCreate(r.U(8), o);
        }
        break;
      case 95:                                                 // EXTCREATEPEN
        if (r.Has(52)) {
          TObject o;
          o.Kind = TObject::kPen;
          o.Pen.Style = r.U(28);
          o.Pen.Width = r.U(32);
          o.Pen.Cosmetic = (o.Pen.Style & 0xF0000) == 0 || o.Pen.Width == 0;
          o.Pen.Color = r.U(40);
          if (r.U(36) == 1) o.Pen.Style = (o.Pen.Style & ~0xFu) | 5;  // BS_NULL brush: no line
          const uint64_t entries = r.U(48);
          if ((o.Pen.Style & 0xF) == 7 && entries <= 64 && r.Has(52 + entries * 4))
            for (uint64_t i = 0; i < entries; ++i) o.Pen.Dashes.push_back(r.U(52 + size_t(i) * 4));
          player.EmfCreate(r.U(8), o);
        }
        break;
      case 39:                                                 // CREATEBRUSHINDIRECT
        if (r.Has(24)) {
          TObject o;
          o.Kind = TObject::kBrush;
          o.Brush = BrushFromLog(r.U(12), r.U(16), r.U(20));
          player.EmfCreate(r.U(8), o);
        }
        break;
      case 93: case 94:                                        // CREATEMONOBRUSH, CREATEDIBPATTERNBRUSHPT
        if (r.Has(32)) {
          TObject o;
          o.Kind = TObject::kBrush;
          o.Brush.Kind = TBrush::kPattern;
          o.Brush.Pattern = RecordDib(player, r, 16, 12, nullptr);
          if (type == 93 && !o.Brush.Pattern.isNull()) {
            // Monochrome brushes draw 0 bits in the text colour and 1 bits
            // in the background colour.
            QImage& img = o.Brush.Pattern;
            const QRgb fg = ColorRef(dc.TextColor).rgb(), bg = ColorRef(dc.BkColor).rgb();
            for (int y = 0; y < img.height(); ++y) {
              QRgb* row = reinterpret_cast<QRgb*>(img.scanLine(y));
              for (int x = 0; x < img.width(); ++x) row[x] = qGray(row[x]) > 127 ? bg : fg;
            }
          }
          if (o.Brush.Pattern.isNull()) {
            o.Brush.Kind = TBrush::kSolid;
            o.Brush.Color = 0x808080;
          }
          player.EmfCreate(r.U(8), o);
        }
        break;
      case 82:                                                 // EXTCREATEFONTINDIRECTW
        if (r.Has(12 + 28)) {
          TObject o;
          o.Kind = TObject::kFont;
          o.Font.Height = r.I(12);
          o.Font.Width = r.I(16);
          o.Font.Escapement = r.I(20);
          o.Font.Weight = r.I(28);
          const std::span<const uint8_t> flags = r.Bytes(32, 4);
          o.Font.Italic = flags[0];
          o.Font.Underline = flags[1];
          o.Font.StrikeOut = flags[2];
          o.Font.CharSet = flags[3];
          const std::span<const uint8_t> face = r.Bytes(40, std::min<uint64_t>(64, r.Size() - std::min<size_t>(40, r.Size())));
          for (size_t i = 0; i + 1 < face.size(); i += 2) {
            const char16_t c = char16_t(ImGetU16LE(face, i));
            if (!c) break;
            o.Font.FaceName.push_back(c);
          }
          player.EmfCreate(r.U(8), o);
        }
        break;
      case 48: if (r.Has(12)) player.SelectPalette(r.U(8)); break;  // SELECTPALETTE
      case 49:                                                 // CREATEPALETTE
        if (r.Has(12)) {
          TObject o;
          o.Kind = TObject::kPalette;
          o.Palette = ReadLogPalette(r.Bytes(12, r.Size() - 12));
          player.EmfCreate(r.U(8), o);
        }
        break;
      case 50:                                                 // SETPALETTEENTRIES
        if (r.Has(20)) {
          // Index, first entry, count, then the entries.
          player.SetPaletteEntries(r.U(8), r.U(12), ReadPaletteEntries(r.Bytes(20, r.Size() - 20), r.U(16)));
        }
        break;
      case 42: if (r.Has(24)) player.Ellipse(r.Rect(8)); break;
      case 43: if (r.Has(24)) player.Rectangle(r.Rect(8)); break;
      case 44: if (r.Has(32)) player.RoundRect(r.Rect(8), r.I(24), r.I(28)); break;
      case 45: case 46: case 47: case 55:                      // ARC, CHORD, PIE, ARCTO
        if (r.Has(40)) {
          const TPlayer::TArcKind kind = type == 45 ? TPlayer::kArc
                                         : type == 46 ? TPlayer::kChord
                                         : type == 47 ? TPlayer::kPie : TPlayer::kArcTo;
          player.Arc(kind, r.Rect(8), r.Point(24), r.Point(32));
        }
        break;
      case 41:                                                 // ANGLEARC
        if (r.Has(28)) player.AngleArc(r.Point(8), r.U(16), r.F(20), r.F(24));
        break;
      case 15: if (r.Has(20)) player.SetPixel(r.Point(8), r.U(16)); break;  // SETPIXELV
      case 59: player.BeginPath(); break;
      case 60: player.EndPath(); break;
      case 61: player.CloseFigure(); break;
      case 62: player.FillPath(); break;
      case 63: player.StrokeAndFillPath(); break;
      case 64: player.StrokePath(); break;
      case 66: player.WidenPath(); break;
      case 68: player.AbortPath(); break;
      case 67: if (r.Has(12)) player.SelectClipPath(static_cast<int>(r.U(8))); break;
      case 71: case 73: case 74: {                             // FILLRGN, INVERTRGN, PAINTRGN
        const size_t dataAt = type == 71 ? 32 : 28;
        if (!r.Has(dataAt)) break;
        const auto area = RegionArea(player, r.Bytes(dataAt, r.U(24)));
        if (!area) break;
        if (type == 71)
          player.FillArea(*area, r.U(28));
        else
          player.FillArea(*area, std::nullopt, type == 73);
        break;
      }
      case 72: {                                               // FRAMERGN
        if (!r.Has(40)) break;
        const auto area = RegionArea(player, r.Bytes(40, r.U(24)));
        if (area)
          player.FrameArea(*area, r.U(28), static_cast<int32_t>(r.U(32)), static_cast<int32_t>(r.U(36)));
        break;
      }
      case 75: {                                               // EXTSELECTCLIPRGN
        if (!r.Has(16)) break;
        const uint32_t mode = r.U(12);
        const std::span<const uint8_t> rgn = r.Bytes(16, r.U(8));
        if (r.U(8) == 0 || rgn.empty()) {
          if (mode == kRgnCopy) player.CombineClip(std::nullopt, kRgnCopy);
          break;
        }
        player.CombineClip(RegionArea(player, rgn), static_cast<int>(mode));
        break;
      }
      case 76: case 77: {                                      // BITBLT, STRETCHBLT
        if (!r.Has(100)) break;
        const QRectF dest(r.I(24), r.I(28), r.I(32), r.I(36));
        const uint32_t rop = r.U(40);
        if (r.U(88) == 0) {  // no source bitmap: a pattern operation
          player.PatBlt(dest, rop);
          break;
        }
        bool bottomUp = true;
        const QImage img = RecordDib(player, r, 84, 80, &bottomUp);
        if (img.isNull()) break;
        double sw = dest.width(), sh = dest.height();
        if (type == 77 && r.Has(108)) {
          sw = r.I(100);
          sh = r.I(104);
        }
        // The source transform is assumed to be a plain offset.
        player.Blit(dest, img, SourceRect(img, bottomUp, r.I(44), r.I(48), sw, sh), rop);
        break;
      }
      case 81: {                                               // STRETCHDIBITS
        if (!r.Has(80)) break;
        bool bottomUp = true;
        const QImage img = RecordDib(player, r, 48, 64, &bottomUp);
        if (img.isNull()) break;
        const QRectF dest(r.I(24), r.I(28), r.I(72), r.I(76));
        player.Blit(dest, img, SourceRect(img, bottomUp, r.I(32), r.I(36), r.I(40), r.I(44)), r.U(68));
        break;
      }
      case 80: {                                               // SETDIBITSTODEVICE
        if (!r.Has(76)) break;
        bool bottomUp = true;
        const QImage img = RecordDib(player, r, 48, 64, &bottomUp);
        if (img.isNull()) break;
        const double w = r.I(40), h = r.I(44);
        player.Blit(QRectF(r.I(24), r.I(28), w, h), img, SourceRect(img, bottomUp, r.I(32), r.I(36), w, h),
                    0x00CC0020);
        break;
      }
      case 114: case 116: {                                    // ALPHABLEND, TRANSPARENTBLT
        if (!r.Has(108)) break;
        // The blend function: constant alpha in its third byte, per-pixel
        // (premultiplied) alpha of a 32-bit bitmap when its fourth byte is
        // set. A transparent blit names the colour to leave out where other
        // blits name their operation.
        const bool pixelAlpha = type == 114 && (r.U(40) >> 24) & 1;
        bool bottomUp = true;
        const QImage img = RecordDib(player, r, 84, 80, &bottomUp, pixelAlpha);
        if (img.isNull()) break;
        const QRectF dest(r.I(24), r.I(28), r.I(32), r.I(36));
        const QRectF src = SourceRect(img, bottomUp, r.I(44), r.I(48), r.I(100), r.I(104));
        if (type == 114)
          player.Blit(dest, img, src, 0x00CC0020, std::nullopt, ((r.U(40) >> 16) & 0xFF) / 255.0);
        else
          player.Blit(dest, img, src, 0x00CC0020, r.U(40));
        break;
      }
      case 118: {                                              // GRADIENTFILL
        if (!r.Has(36)) break;
        const uint64_t vertices = r.U(24), pieces = r.U(28);
        const uint32_t mode = r.U(32);
        const uint64_t pieceBytes = mode == 2 ? 12 : 8;
        if (mode > 2 || vertices > r.Size() / 16 || pieces > r.Size() / pieceBytes ||
            !r.Has(36 + vertices * 16 + pieces * pieceBytes))
          break;
        auto point = [&](uint32_t v) { return r.Point(36 + size_t(v) * 16); };
        auto colour = [&](uint32_t v) {
          const std::span<const uint8_t> rgb = r.Bytes(36 + size_t(v) * 16 + 8, 6);
          return QColor(ImGetU16LE(rgb, 0) >> 8, ImGetU16LE(rgb, 2) >> 8, ImGetU16LE(rgb, 4) >> 8);
        };
        for (uint64_t k = 0; k < pieces; ++k) {
          const size_t at = 36 + size_t(vertices) * 16 + size_t(k * pieceBytes);
          const uint32_t a = r.U(at), b = r.U(at + 4), c = mode == 2 ? r.U(at + 8) : 0;
          if (a >= vertices || b >= vertices || c >= vertices) continue;
          if (mode == 2)
            player.GradientTriangle({point(a), point(b), point(c)}, {colour(a), colour(b), colour(c)});
          else
            player.GradientRect(QRectF(point(a), point(b)), colour(a), colour(b), mode == 1);
        }
        break;
      }
      case 83: ExtTextOut(player, r, false); break;            // EXTTEXTOUTA
      case 84: ExtTextOut(player, r, true); break;             // EXTTEXTOUTW
      default:
        // Comments (including embedded EMF+ data), colour management,
        // stretch mode, mapper flags, brush origin and the rest are skipped
        // by their length.
        break;
    }
  }
}

}  // namespace metafile
