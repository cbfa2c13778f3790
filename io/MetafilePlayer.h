#pragma once
// The metafile player: a small graphics-device model (mapping, objects,
// drawing state, paths, clipping) that the Windows metafile and enhanced
// metafile record loops drive, drawing through a QPainter into a 24-bit
// raster without antialiasing.

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "io/MetafileReader.h"

namespace metafile {

// A COLORREF: red in bits 0-7, green 8-15, blue 16-23.
QColor ColorRef(uint32_t c);

struct TPen {
  uint32_t Style = 0;  // PS_* with end cap, join and type bits
  double Width = 0;    // logical units; 0 = one device pixel
  bool Cosmetic = true;
  uint32_t Color = 0;
  std::vector<double> Dashes;  // user style (PS_USERSTYLE), logical units
};

struct TBrush {
  enum TKind { kSolid, kNull, kHatched, kPattern };
  TKind Kind = kSolid;
  uint32_t Color = 0xFFFFFF;
  uint32_t Hatch = 0;
  QImage Pattern;  // kPattern
};

struct TFont {
  int32_t Height = 0, Width = 0, Escapement = 0, Weight = 400;
  bool Italic = false, Underline = false, StrikeOut = false;
  uint8_t CharSet = 0;
  std::u16string FaceName;
};

// One slot of an object table.
struct TObject {
  enum TKind { kEmpty, kPen, kBrush, kFont, kRegion, kPalette, kOther };
  TKind Kind = kEmpty;
  TPen Pen;
  TBrush Brush;
  TFont Font;
  QPainterPath Region;  // kRegion of a Windows metafile, logical coordinates
  std::vector<QRgb> Palette;  // kPalette: the logical palette's colours
};

// Up to count palette entries (red, green, blue, flags each), as many as
// the data holds.
std::vector<QRgb> ReadPaletteEntries(std::span<const uint8_t> entries, size_t count);
// Colours of a LOGPALETTE (version, count, then the entries).
std::vector<QRgb> ReadLogPalette(std::span<const uint8_t> logPalette);

// The part of the device state SaveDC keeps.
struct TDcState {
  int MapMode = 1;  // MM_TEXT
  double WinOrgX = 0, WinOrgY = 0, WinExtX = 1, WinExtY = 1;
  double ViewOrgX = 0, ViewOrgY = 0, ViewExtX = 1, ViewExtY = 1;
  QTransform World;
  TPen Pen;
  TBrush Brush;
  TFont Font;
  uint32_t BkColor = 0xFFFFFF, TextColor = 0;
  int BkMode = 2;  // OPAQUE
  uint32_t TextAlign = 0;
  int PolyFillMode = 1;  // ALTERNATE
  int StretchMode = 1;   // BLACKONWHITE: how a shrinking blit merges pixels
  int Rop2 = 13;         // R2_COPYPEN
  bool ArcClockwise = false;
  QPointF Position;
  // The object index of the selected logical palette; none = the default.
  std::optional<uint32_t> Palette;
  // Clip area in output pixels; none = the whole picture.
  std::optional<QPainterPath> Clip;
};

// Rectangles kept of one region: combining paths of many more costs time
// without changing a real picture.
constexpr int kMaxRegionRects = 4096;

// Region combination modes (RGN_AND .. RGN_COPY).
enum { kRgnAnd = 1, kRgnOr = 2, kRgnXor = 3, kRgnDiff = 4, kRgnCopy = 5 };

// Most output pixels the drawing of one playback may touch (default 2^31).
// A few kilobytes of records can repeat fills of a 16000-pixel picture for
// hours; once the budget is spent the rest of the picture is not drawn. The
// budget is also at most 256 times the picture's pixels (but never below
// 2^28), so small pictures stop as early as large ones.
extern int64_t ImMetafileMaxDrawn;

class TPlayer {
 public:
  // Draws into image (already filled with the background).
  explicit TPlayer(QImage& image);
  ~TPlayer();

  // Windows metafile: the window (or the placeable box) is mapped onto the
  // whole image. Enhanced metafile: logical -> world -> page -> reference
  // device pixels -> image, the frame onto the whole image.
  void SetupWmf(const TMetafileInfo& info);
  void SetupEmf(const TMetafileInfo& info);

  TDcState& Dc() { return dc_; }
  void SaveDc();
  // relative < 0: that many levels back; > 0: that absolute level.
  void RestoreDc(int relative);

  // Mapping: recomputes the painter transform from the state.
  void UpdateTransform();
  const QTransform& Transform() const { return transform_; }
  // Scale of one logical unit in output pixels (geometric mean of the axes).
  double LogicalScale() const;

  // Objects. Windows metafiles put a new object into the lowest free slot;
  // enhanced metafiles give the index. Out-of-range indexes are ignored.
  void WmfCreate(const TObject& obj);
  void EmfCreate(uint32_t index, const TObject& obj);
  void Select(uint32_t index);  // with the enhanced stock-object bit
  // A region object of a Windows metafile as an area in output pixels.
  std::optional<QPainterPath> RegionOf(uint32_t index) const;
  void Delete(uint32_t index);
  // Selects a palette object (or, in an enhanced metafile, the stock default
  // palette) into the device state; colour tables of bitmaps that index the
  // palette look their colours up there.
  void SelectPalette(uint32_t index);
  const std::vector<QRgb>& Palette() const;
  // Changes entries of a palette object from the first one given.
  void SetPaletteEntries(uint32_t index, uint32_t first, const std::vector<QRgb>& colors);
  void SetEmfTableSize(uint32_t n) { emfTableSize_ = n; }

  // Drawing in logical coordinates (or into the path being built).
  void MoveTo(QPointF p);
  void LineTo(QPointF p);
  void Polyline(std::span<const QPointF> pts);
  void PolylineTo(std::span<const QPointF> pts);
  void Polygon(std::span<const QPointF> pts);
  void PolyPolygon(const std::vector<std::vector<QPointF>>& polys);
  void PolyPolyline(const std::vector<std::vector<QPointF>>& lines);
  void PolyBezier(std::span<const QPointF> pts);
  void PolyBezierTo(std::span<const QPointF> pts);
  // Points with PT_MOVETO / PT_LINETO / PT_BEZIERTO types (bit 0: close).
  void PolyDraw(std::span<const QPointF> pts, std::span<const uint8_t> types);
  void Rectangle(QRectF r);
  void RoundRect(QRectF r, double cornerW, double cornerH);
  void Ellipse(QRectF r);
  enum TArcKind { kArc, kArcTo, kPie, kChord };
  void Arc(TArcKind kind, QRectF box, QPointF start, QPointF end);
  void AngleArc(QPointF center, double radius, double startDeg, double sweepDeg);
  void SetPixel(QPointF p, uint32_t color);
  // Fills a logical rectangle with the brush by a raster operation (PatBlt).
  void PatBlt(QRectF r, uint32_t rop);
  // Draws part of a bitmap into a logical rectangle by a raster operation.
  // A transparent colour (a COLORREF) leaves the pixels of that colour out;
  // an opacity below 1 blends the bitmap over what is there.
  void Blit(QRectF dest, const QImage& src, QRectF srcRect, uint32_t rop,
            std::optional<uint32_t> transparent = std::nullopt, double opacity = 1);
  // Fills an area given in output pixels with a brush object (the current
  // brush when none is given), or inverts what lies under it.
  void FillArea(const QPainterPath& area, std::optional<uint32_t> brushIndex, bool invert = false);
  // Paints the border of an area (output pixels) with a brush object: the
  // band of the given logical width and height inside its edges.
  void FrameArea(const QPainterPath& area, uint32_t brushIndex, double width, double height);
  // Gradient fills in logical coordinates: a rectangle shaded from c0 at its
  // left (top when vertical) edge to c1 at the opposite one, and a triangle
  // shaded between the colours of its corners.
  void GradientRect(QRectF r, QColor c0, QColor c1, bool vertical);
  void GradientTriangle(const std::array<QPointF, 3>& p, const std::array<QColor, 3>& c);
  // Draws the units of text starting at a logical point; dx are the advances
  // in logical units (may be empty).
  void Text(QPointF p, const std::u16string& text, const std::vector<double>& dx,
            uint32_t options, std::optional<QRectF> rect);

  // Clipping, in logical coordinates.
  void IntersectClipRect(QRectF r);
  void ExcludeClipRect(QRectF r);
  void OffsetClip(double dx, double dy);  // logical units
  // Combines an area given in output pixels with the clip.
  void CombineClip(std::optional<QPainterPath> area, int mode);
  // Converts reference-device pixels of an enhanced metafile to output pixels.
  QPointF DeviceToOutput(QPointF p) const;

  // True once the drawing budget is spent: the record loops stop.
  bool Exhausted() const { return exhausted_; }

  // Paths.
  void BeginPath();
  void EndPath() { inPath_ = false; }
  void AbortPath();
  void CloseFigure();
  void FillPath();
  void StrokePath();
  void StrokeAndFillPath();
  void SelectClipPath(int mode);
  void WidenPath();

 private:
  // The object at a table index; none for a free or unknown slot.
  TObject* Find(uint32_t index);
  const TObject* Find(uint32_t index) const { return const_cast<TPlayer*>(this)->Find(index); }
  void ApplyClip();
  void SetupPen();
  void SetupBrush();
  void DrawPath(const QPainterPath& path, bool fill, bool stroke);
  void AddToPath(const QPainterPath& shape);
  QPainterPath ArcPath(TArcKind kind, QRectF box, QPointF start, QPointF end, bool& ok);
  bool ApplyRop(int rop2);  // false: draw nothing
  // Charges a drawing that touches at most the given output rectangle (and
  // `extra` further pixels of work); false when the budget is spent.
  bool Spend(const QRectF& output, double extra = 0);
  TObject StockObject(uint32_t n);

  QImage& image_;
  QPainter painter_;
  TDcState dc_;
  std::vector<TDcState> saved_;
  QTransform transform_;
  // Device (page after mapping) to output pixels.
  QTransform deviceToOutput_;
  bool emf_ = false;
  double refPerMmX_ = 1, refPerMmY_ = 1;  // reference device pixels per millimetre
  std::vector<TObject> wmfTable_;
  std::vector<std::pair<uint32_t, TObject>> emfObjects_;  // sorted by index
  uint32_t emfTableSize_ = 0;
  bool inPath_ = false;
  bool pathOpen_ = false;  // the path has a current subpath to continue
  QPainterPath path_;      // logical coordinates
  bool clipDirty_ = true;
  bool fontsUsable_ = false;
  double budget_ = 0, spent_ = 0;
  bool exhausted_ = false;
};

// Decodes a device-independent bitmap (BITMAPINFOHEADER or BITMAPCOREHEADER
// followed by the colour table) and its bits into an RGB32 image. A null image
// when the header is not understood or the bits are shorter than it says.
// bottomUp tells whether the rows were stored bottom row first. withAlpha
// reads the fourth byte of 32-bit pixels as premultiplied alpha (the bitmaps
// of alpha blends); the image is then premultiplied ARGB32. With a logical
// palette the colour table holds 16-bit indexes into it (DIB_PAL_COLORS)
// instead of colours.
QImage DecodeDib(std::span<const uint8_t> info, std::span<const uint8_t> bits, bool* bottomUp = nullptr,
                 bool withAlpha = false, const std::vector<QRgb>* logicalPalette = nullptr);

// Splits a packed bitmap (header, masks, colour table and bits in one block)
// into its info part and its bits. False when the block is shorter than its
// header says. paletteIndexes: the colour table holds 16-bit palette indexes.
bool SplitPackedDib(std::span<const uint8_t> dib, std::span<const uint8_t>& info,
                    std::span<const uint8_t>& bits, bool paletteIndexes = false);

// Windows-1252 text as UTF-16 (metafiles without Unicode text).
std::u16string AnsiText(std::span<const uint8_t> bytes);

// Record loops. Both stop at the end-of-file record, at a record whose length
// does not fit the data, or at the end of the data.
void PlayWmf(TPlayer& player, const TMetafileInfo& info);
void PlayEmf(TPlayer& player, const TMetafileInfo& info);

}  // namespace metafile
