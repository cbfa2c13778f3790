// The device model shared by the Windows metafile and enhanced metafile
// players: mapping, object tables, drawing state, paths and clipping, drawn
// through a QPainter without antialiasing.
#include "io/MetafilePlayer.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainterPathStroker>

#include <algorithm>
#include <cmath>

#include "io/ImStream.h"

namespace metafile {

namespace {

// Output coordinates beyond this are not drawn with dashes: dashing a line of
// millions of pixels costs time for nothing visible.
constexpr double kDashLimit = 100000;
constexpr size_t kMaxSavedStates = 4096;
constexpr size_t kMaxWmfObjects = 65535;
constexpr uint32_t kMaxEmfIndex = 65535;
// Largest bitmap a blit record may carry (pixels).
constexpr int64_t kMaxDibPixels = int64_t(1) << 26;

bool Finite(const QRectF& r) {
  return std::isfinite(r.left()) && std::isfinite(r.top()) && std::isfinite(r.width()) &&
         std::isfinite(r.height());
}

bool FiniteTransform(const QTransform& t) {
  return std::isfinite(t.m11()) && std::isfinite(t.m12()) && std::isfinite(t.m21()) &&
         std::isfinite(t.m22()) && std::isfinite(t.dx()) && std::isfinite(t.dy());
}

QPainterPath RectPath(const QRectF& r) {
  QPainterPath p;
  p.addRect(r.normalized());
  return p;
}

}  // namespace

int64_t ImMetafileMaxDrawn = int64_t(1) << 31;

QColor ColorRef(uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

TPlayer::TPlayer(QImage& image) : image_(image), painter_(&image) {
  painter_.setRenderHint(QPainter::Antialiasing, false);
  painter_.setRenderHint(QPainter::TextAntialiasing, false);
  painter_.setRenderHint(QPainter::SmoothPixmapTransform, false);
  // Fonts need the application's font database; without a GUI application
  // (the core tests, the fuzz targets) text records are skipped.
  fontsUsable_ = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
  dc_.Pen.Color = 0;
  dc_.Brush.Color = 0xFFFFFF;
  const double pixels = double(image.width()) * image.height();
  budget_ = std::min(double(ImMetafileMaxDrawn), std::max(256 * pixels, double(int64_t(1) << 28)));
}

bool TPlayer::Spend(const QRectF& output, double extra) {
  if (exhausted_) return false;
  // Strokes reach a little beyond the control points; every call costs at
  // least one pixel.
  const double pen = std::min(std::max(dc_.Pen.Width * LogicalScale(), 1.0), 1e6);
  const QRectF touched = output.normalized().adjusted(-pen - 1, -pen - 1, pen + 1, pen + 1)
                             .intersected(QRectF(0, 0, image_.width(), image_.height()));
  spent_ += 1 + std::max(0.0, extra) + (touched.isEmpty() ? 0 : touched.width() * touched.height());
  if (spent_ > budget_) exhausted_ = true;
  return !exhausted_;
}

TPlayer::~TPlayer() { painter_.end(); }

void TPlayer::SetupWmf(const TMetafileInfo& info) {
  emf_ = false;
  // Device units are the pixels of the picture at its natural size; the
  // viewport starts as the whole picture and the window as the placeable
  // box, so a file that only sets its window is stretched over the picture.
  int32_t natW = 0, natH = 0;
  MetafilePixelSize(info, natW, natH);
  if (natW <= 0) natW = image_.width();
  if (natH <= 0) natH = image_.height();
  deviceToOutput_ = QTransform::fromScale(double(image_.width()) / natW, double(image_.height()) / natH);
  dc_.MapMode = 8;
  dc_.WinOrgX = info.BoxLeft;
  dc_.WinOrgY = info.BoxTop;
  dc_.WinExtX = info.BoxRight - info.BoxLeft;
  dc_.WinExtY = info.BoxBottom - info.BoxTop;
  dc_.ViewOrgX = dc_.ViewOrgY = 0;
  dc_.ViewExtX = natW;
  dc_.ViewExtY = natH;
  UpdateTransform();
}

void TPlayer::SetupEmf(const TMetafileInfo& info) {
  emf_ = true;
  if (info.DevicePixelsX > 0 && info.DeviceMmX > 0 && info.DevicePixelsY > 0 && info.DeviceMmY > 0) {
    refPerMmX_ = double(info.DevicePixelsX) / info.DeviceMmX;
    refPerMmY_ = double(info.DevicePixelsY) / info.DeviceMmY;
  } else {
    refPerMmX_ = refPerMmY_ = ImScreenPixelsPerInch / 25.4;
  }
  const double frameW = (double(info.FrameRight) - info.FrameLeft) / 100.0 * refPerMmX_;
  const double frameH = (double(info.FrameBottom) - info.FrameTop) / 100.0 * refPerMmY_;
  const double sx = frameW != 0 ? image_.width() / frameW : 1;
  const double sy = frameH != 0 ? image_.height() / frameH : 1;
  const double ox = info.FrameLeft / 100.0 * refPerMmX_;
  const double oy = info.FrameTop / 100.0 * refPerMmY_;
  deviceToOutput_ = QTransform(sx, 0, 0, sy, -ox * sx, -oy * sy);
  UpdateTransform();
}

QPointF TPlayer::DeviceToOutput(QPointF p) const { return deviceToOutput_.map(p); }

double TPlayer::LogicalScale() const { return std::sqrt(std::fabs(transform_.determinant())); }

void TPlayer::UpdateTransform() {
  const double wx = dc_.WinExtX != 0 ? dc_.WinExtX : 1;
  const double wy = dc_.WinExtY != 0 ? dc_.WinExtY : 1;
  const double vx = dc_.ViewExtX != 0 ? dc_.ViewExtX : 1;
  const double vy = dc_.ViewExtY != 0 ? dc_.ViewExtY : 1;
  double fx = 1, fy = 1;
  // A Windows metafile always maps its window onto the viewport (only the
  // isotropic mode changes how); the fixed modes apply to enhanced metafiles.
  const int mode = emf_ || dc_.MapMode == 7 ? dc_.MapMode : 8;
  switch (mode) {
    case 2: fx = refPerMmX_ * 0.1; fy = -refPerMmY_ * 0.1; break;         // MM_LOMETRIC
    case 3: fx = refPerMmX_ * 0.01; fy = -refPerMmY_ * 0.01; break;       // MM_HIMETRIC
    case 4: fx = refPerMmX_ * 0.254; fy = -refPerMmY_ * 0.254; break;     // MM_LOENGLISH
    case 5: fx = refPerMmX_ * 0.0254; fy = -refPerMmY_ * 0.0254; break;   // MM_HIENGLISH
    case 6: fx = refPerMmX_ * 25.4 / 1440; fy = -refPerMmY_ * 25.4 / 1440; break;  // MM_TWIPS
    case 7:  // MM_ISOTROPIC: one scale for both axes, the smaller one
    case 8:  // MM_ANISOTROPIC
      fx = vx / wx;
      fy = vy / wy;
      if (mode == 7) {
        const double m = std::min(std::fabs(fx), std::fabs(fy));
        fx = std::copysign(m, fx);
        fy = std::copysign(m, fy);
      }
      break;
    default: break;  // MM_TEXT: one unit is one device pixel
  }
  const QTransform page(fx, 0, 0, fy, dc_.ViewOrgX - dc_.WinOrgX * fx, dc_.ViewOrgY - dc_.WinOrgY * fy);
  const QTransform t = dc_.World * page * deviceToOutput_;
  if (FiniteTransform(t)) transform_ = t;
}

void TPlayer::SaveDc() {
  if (saved_.size() < kMaxSavedStates) saved_.push_back(dc_);
}

void TPlayer::RestoreDc(int relative) {
  const int64_t size = static_cast<int64_t>(saved_.size());
  const int64_t keep = relative < 0 ? size + relative : int64_t(relative) - 1;
  if (relative == 0 || keep < 0 || keep >= size) return;
  dc_ = saved_[static_cast<size_t>(keep)];
  saved_.resize(static_cast<size_t>(keep));
  UpdateTransform();
  clipDirty_ = true;
}

// ---------------------------------------------------------------- objects

void TPlayer::WmfCreate(const TObject& obj) {
  for (TObject& slot : wmfTable_)
    if (slot.Kind == TObject::kEmpty) {
      slot = obj;
      return;
    }
  if (wmfTable_.size() < kMaxWmfObjects) wmfTable_.push_back(obj);
}

void TPlayer::EmfCreate(uint32_t index, const TObject& obj) {
  // Index 0 stands for the metafile itself.
  if (index == 0 || index > kMaxEmfIndex) return;
  if (emfTableSize_ && index >= emfTableSize_ && index > 1024) return;
  auto it = std::lower_bound(emfObjects_.begin(), emfObjects_.end(), index,
                             [](const auto& e, uint32_t i) { return e.first < i; });
  if (it != emfObjects_.end() && it->first == index)
    it->second = obj;
  else
    emfObjects_.insert(it, {index, obj});
}

TObject TPlayer::StockObject(uint32_t n) {
  TObject o;
  auto brush = [&](TBrush::TKind kind, uint32_t color) {
    o.Kind = TObject::kBrush;
    o.Brush.Kind = kind;
    o.Brush.Color = color;
  };
  auto pen = [&](uint32_t style, uint32_t color) {
    o.Kind = TObject::kPen;
    o.Pen.Style = style;
    o.Pen.Color = color;
  };
  switch (n) {
    case 0: brush(TBrush::kSolid, 0xFFFFFF); break;
    case 1: brush(TBrush::kSolid, 0xC0C0C0); break;
    case 2: brush(TBrush::kSolid, 0x808080); break;
    case 3: brush(TBrush::kSolid, 0x404040); break;
    case 4: brush(TBrush::kSolid, 0x000000); break;
    case 5: brush(TBrush::kNull, 0); break;
    case 6: pen(0, 0xFFFFFF); break;
    case 7: pen(0, 0x000000); break;
    case 8: pen(5, 0); break;
    case 10: case 11: case 12: case 13: case 14: case 16: case 17:
      o.Kind = TObject::kFont;
      o.Font.FaceName = u"Sans";
      break;
    case 18: brush(TBrush::kSolid, 0xFFFFFF); break;  // DC_BRUSH
    case 19: pen(0, 0x000000); break;                 // DC_PEN
    default: break;
  }
  return o;
}

void TPlayer::Select(uint32_t index) {
  const TObject* obj = nullptr;
  TObject stock;
  if (emf_ && (index & 0x80000000u)) {
    stock = StockObject(index & 0x7FFFFFFFu);
    obj = &stock;
  } else {
    obj = Find(index);
  }
  if (!obj) return;
  switch (obj->Kind) {
    case TObject::kPen: dc_.Pen = obj->Pen; break;
    case TObject::kBrush: dc_.Brush = obj->Brush; break;
    case TObject::kFont: dc_.Font = obj->Font; break;
    case TObject::kRegion: CombineClip(transform_.map(obj->Region), kRgnCopy); break;
    default: break;
  }
}

std::optional<QPainterPath> TPlayer::RegionOf(uint32_t index) const {
  const TObject* obj = emf_ ? nullptr : Find(index);
  if (!obj || obj->Kind != TObject::kRegion) return std::nullopt;
  return transform_.map(obj->Region);
}

void TPlayer::FillArea(const QPainterPath& area, std::optional<uint32_t> brushIndex, bool invert) {
  if (area.isEmpty() || !Finite(area.boundingRect()) || !Spend(area.boundingRect())) return;
  const TBrush current = dc_.Brush;
  if (brushIndex) {
    const TDcState saved = dc_;
    Select(*brushIndex);
    const TBrush chosen = dc_.Brush;
    dc_ = saved;
    dc_.Brush = chosen;
  }
  ApplyClip();
  painter_.setTransform(QTransform());
  painter_.setPen(Qt::NoPen);
  if (invert) {
    painter_.setCompositionMode(QPainter::RasterOp_NotDestination);
    painter_.setBrush(Qt::black);
    painter_.drawPath(area);
  } else if (dc_.Brush.Kind != TBrush::kNull) {
    SetupBrush();
    painter_.drawPath(area);
  }
  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  dc_.Brush = current;
}

void TPlayer::FrameArea(const QPainterPath& area, uint32_t brushIndex, double width, double height) {
  // Intersecting copies of an area of many rectangles costs far more than
  // filling it: the work is charged to the drawing budget by its elements.
  if (area.isEmpty() || !Finite(area.boundingRect()) || !Spend(area.boundingRect(), 1000.0 * area.elementCount()))
    return;
  const QPointF size = transform_.map(QPointF(width, height)) - transform_.map(QPointF(0, 0));
  const double w = std::clamp(std::fabs(size.x()), 1.0, 1e6);
  const double h = std::clamp(std::fabs(size.y()), 1.0, 1e6);
  // The inside is what stays in the area when it moves by the frame's size
  // in every direction; the frame is the rest.
  QPainterPath inside = area;
  for (const QPointF shift : {QPointF(w, 0), QPointF(-w, 0), QPointF(0, h), QPointF(0, -h),
                              QPointF(w, h), QPointF(-w, h), QPointF(w, -h), QPointF(-w, -h)})
    inside = inside.intersected(area.translated(shift));
  FillArea(area.subtracted(inside), brushIndex);
}

namespace {

// The 20 reserved colours of the default palette.
const std::vector<QRgb>& DefaultPalette() {
  static const std::vector<QRgb> colors = [] {
    std::vector<QRgb> v;
    for (uint32_t c : {0x000000u, 0x800000u, 0x008000u, 0x808000u, 0x000080u, 0x800080u, 0x008080u,
                       0xC0C0C0u, 0xC0DCC0u, 0xA6CAF0u, 0xFFFBF0u, 0xA0A0A4u, 0x808080u, 0xFF0000u,
                       0x00FF00u, 0xFFFF00u, 0x0000FFu, 0xFF00FFu, 0x00FFFFu, 0xFFFFFFu})
      v.push_back(0xFF000000u | c);
    return v;
  }();
  return colors;
}

}  // namespace

std::vector<QRgb> ReadPaletteEntries(std::span<const uint8_t> entries, size_t count) {
  std::vector<QRgb> colors;
  count = std::min(count, entries.size() / 4);
  for (size_t i = 0; i < count; ++i)
    colors.push_back(qRgb(entries[4 * i], entries[4 * i + 1], entries[4 * i + 2]));
  return colors;
}

std::vector<QRgb> ReadLogPalette(std::span<const uint8_t> logPalette) {
  if (logPalette.size() < 4) return {};
  return ReadPaletteEntries(logPalette.subspan(4), ImGetU16LE(logPalette, 2));
}

TObject* TPlayer::Find(uint32_t index) {
  if (!emf_) return index < wmfTable_.size() ? &wmfTable_[index] : nullptr;
  auto it = std::lower_bound(emfObjects_.begin(), emfObjects_.end(), index,
                             [](const auto& e, uint32_t i) { return e.first < i; });
  return it != emfObjects_.end() && it->first == index ? &it->second : nullptr;
}

void TPlayer::SelectPalette(uint32_t index) {
  if (emf_ && index == 0x8000000Fu) {  // DEFAULT_PALETTE
    dc_.Palette.reset();
    return;
  }
  if (const TObject* obj = Find(index); obj && obj->Kind == TObject::kPalette) dc_.Palette = index;
}

// The selected palette as it is now (entries may have changed since it was
// selected); the default one once it is deleted or when it is empty.
const std::vector<QRgb>& TPlayer::Palette() const {
  const TObject* obj = dc_.Palette ? Find(*dc_.Palette) : nullptr;
  return obj && obj->Kind == TObject::kPalette && !obj->Palette.empty() ? obj->Palette : DefaultPalette();
}

void TPlayer::SetPaletteEntries(uint32_t index, uint32_t first, const std::vector<QRgb>& colors) {
  TObject* obj = Find(index);
  if (!obj || obj->Kind != TObject::kPalette) return;
  for (size_t i = 0; i < colors.size() && first + i < obj->Palette.size(); ++i) obj->Palette[first + i] = colors[i];
}

void TPlayer::Delete(uint32_t index) {
  if (!emf_) {
    if (index < wmfTable_.size()) wmfTable_[index] = TObject{};
    return;
  }
  auto it = std::lower_bound(emfObjects_.begin(), emfObjects_.end(), index,
                             [](const auto& e, uint32_t i) { return e.first < i; });
  if (it != emfObjects_.end() && it->first == index) emfObjects_.erase(it);
}

// ---------------------------------------------------------------- drawing state

void TPlayer::ApplyClip() {
  if (!clipDirty_) return;
  painter_.setTransform(QTransform());
  if (dc_.Clip)
    painter_.setClipPath(*dc_.Clip);
  else
    painter_.setClipping(false);
  clipDirty_ = false;
}

bool TPlayer::ApplyRop(int rop2) {
  QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
  switch (rop2) {
    case 11: return false;                                                 // R2_NOP
    case 4: mode = QPainter::RasterOp_NotSource; break;                    // R2_NOTCOPYPEN
    case 6: mode = QPainter::RasterOp_NotDestination; break;               // R2_NOT
    case 7: mode = QPainter::RasterOp_SourceXorDestination; break;         // R2_XORPEN
    case 9: mode = QPainter::RasterOp_SourceAndDestination; break;         // R2_MASKPEN
    case 15: mode = QPainter::RasterOp_SourceOrDestination; break;         // R2_MERGEPEN
    default: break;
  }
  painter_.setCompositionMode(mode);
  return true;
}

void TPlayer::SetupPen() {
  const TPen& p = dc_.Pen;
  const uint32_t style = p.Style & 0xF;
  if (style == 5) {  // PS_NULL
    painter_.setPen(Qt::NoPen);
    return;
  }
  QColor color = ColorRef(p.Color);
  if (dc_.Rop2 == 1) color = Qt::black;
  if (dc_.Rop2 == 16) color = Qt::white;
  QPen pen(color);
  const double devWidth = p.Width * LogicalScale();
  const bool cosmetic = p.Cosmetic || p.Width <= 0 || devWidth < 1.5;
  if (cosmetic) {
    pen.setWidth(0);
    pen.setCosmetic(true);
  } else {
    pen.setWidthF(p.Width);
  }
  switch (p.Style & 0xF00) {
    case 0x100: pen.setCapStyle(Qt::SquareCap); break;
    case 0x200: pen.setCapStyle(Qt::FlatCap); break;
    default: pen.setCapStyle(Qt::RoundCap); break;
  }
  switch (p.Style & 0xF000) {
    case 0x1000: pen.setJoinStyle(Qt::BevelJoin); break;
    case 0x2000: pen.setJoinStyle(Qt::MiterJoin); break;
    default: pen.setJoinStyle(Qt::RoundJoin); break;
  }
  if (cosmetic) pen.setCapStyle(Qt::FlatCap);
  // Dash lengths in units of the pen width; cosmetic pens use the pixel
  // patterns of a display driver.
  switch (style) {
    case 1: pen.setDashPattern(cosmetic ? QList<qreal>{18, 6} : QList<qreal>{3, 1}); break;
    case 2: pen.setDashPattern(cosmetic ? QList<qreal>{3, 3} : QList<qreal>{1, 1}); break;
    case 3: pen.setDashPattern(cosmetic ? QList<qreal>{9, 6, 3, 6} : QList<qreal>{3, 1, 1, 1}); break;
    case 4: pen.setDashPattern(cosmetic ? QList<qreal>{9, 3, 3, 3, 3, 3} : QList<qreal>{3, 1, 1, 1, 1, 1}); break;
    case 7:
      if (!p.Dashes.empty() && p.Width > 0) {
        QList<qreal> d;
        for (double v : p.Dashes) d.push_back(std::max(0.01, v / p.Width));
        if (d.size() % 2) d.push_back(d.back());
        pen.setDashPattern(d);
      }
      break;
    default: break;
  }
  painter_.setPen(pen);
}

void TPlayer::SetupBrush() {
  const TBrush& b = dc_.Brush;
  QColor color = ColorRef(b.Color);
  if (dc_.Rop2 == 1) color = Qt::black;
  if (dc_.Rop2 == 16) color = Qt::white;
  switch (b.Kind) {
    case TBrush::kNull: painter_.setBrush(Qt::NoBrush); break;
    case TBrush::kSolid: painter_.setBrush(color); break;
    case TBrush::kHatched: {
      static const Qt::BrushStyle styles[] = {Qt::HorPattern, Qt::VerPattern, Qt::FDiagPattern,
                                              Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
      painter_.setBrush(QBrush(color, b.Hatch < 6 ? styles[b.Hatch] : Qt::SolidPattern));
      break;
    }
    case TBrush::kPattern: {
      if (b.Pattern.isNull()) {
        painter_.setBrush(color);
        break;
      }
      // Pattern pixels are device pixels, whatever the mapping.
      QBrush brush(b.Pattern);
      brush.setTransform(transform_.inverted());
      painter_.setBrush(brush);
      break;
    }
  }
}

void TPlayer::DrawPath(const QPainterPath& path, bool fill, bool stroke) {
  if (path.isEmpty() && path.elementCount() == 0) return;
  const QRectF bounds = transform_.mapRect(path.controlPointRect());
  if (!Finite(bounds)) return;
  // A hatched fill on an opaque background is drawn twice.
  const int passes = (fill ? 1 + (dc_.Brush.Kind == TBrush::kHatched) : 0) + (stroke ? 1 : 0);
  if (!Spend(bounds, (passes - 1) * bounds.width() * bounds.height() + path.elementCount())) return;
  if (!ApplyRop(dc_.Rop2)) return;
  ApplyClip();
  painter_.setTransform(transform_);
  if (fill && dc_.Brush.Kind != TBrush::kNull) {
    if (dc_.Brush.Kind == TBrush::kHatched && dc_.BkMode == 2) {
      painter_.setPen(Qt::NoPen);
      painter_.setBrush(ColorRef(dc_.BkColor));
      painter_.drawPath(path);
    }
    SetupBrush();
    painter_.setPen(Qt::NoPen);
    painter_.drawPath(path);
  }
  if (stroke && (dc_.Pen.Style & 0xF) != 5) {
    SetupPen();
    QPen pen = painter_.pen();
    if (pen.style() != Qt::SolidLine && bounds.width() + bounds.height() > kDashLimit) {
      pen.setStyle(Qt::SolidLine);
      painter_.setPen(pen);
    }
    painter_.setBrush(Qt::NoBrush);
    painter_.drawPath(path);
  }
  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void TPlayer::AddToPath(const QPainterPath& shape) {
  path_.addPath(shape);
  pathOpen_ = false;
}

// ---------------------------------------------------------------- primitives

void TPlayer::MoveTo(QPointF p) {
  dc_.Position = p;
  if (inPath_) {
    path_.moveTo(p);
    pathOpen_ = true;
  }
}

void TPlayer::LineTo(QPointF p) {
  if (inPath_) {
    if (!pathOpen_) path_.moveTo(dc_.Position);
    path_.lineTo(p);
    pathOpen_ = true;
  } else {
    QPainterPath line(dc_.Position);
    line.lineTo(p);
    DrawPath(line, false, true);
  }
  dc_.Position = p;
}

void TPlayer::Polyline(std::span<const QPointF> pts) {
  if (pts.size() < 2) return;
  QPainterPath line(pts[0]);
  for (size_t i = 1; i < pts.size(); ++i) line.lineTo(pts[i]);
  if (inPath_) {
    path_.moveTo(pts[0]);
    for (size_t i = 1; i < pts.size(); ++i) path_.lineTo(pts[i]);
    pathOpen_ = true;
  } else {
    DrawPath(line, false, true);
  }
}

void TPlayer::PolylineTo(std::span<const QPointF> pts) {
  if (pts.empty()) return;
  if (inPath_) {
    if (!pathOpen_) path_.moveTo(dc_.Position);
    for (const QPointF& p : pts) path_.lineTo(p);
    pathOpen_ = true;
  } else {
    QPainterPath line(dc_.Position);
    for (const QPointF& p : pts) line.lineTo(p);
    DrawPath(line, false, true);
  }
  dc_.Position = pts.back();
}

void TPlayer::Polygon(std::span<const QPointF> pts) {
  if (pts.size() < 2) return;
  QPainterPath poly;
  poly.moveTo(pts[0]);
  for (size_t i = 1; i < pts.size(); ++i) poly.lineTo(pts[i]);
  poly.closeSubpath();
  poly.setFillRule(dc_.PolyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
  if (inPath_)
    AddToPath(poly);
  else
    DrawPath(poly, true, true);
}

void TPlayer::PolyPolygon(const std::vector<std::vector<QPointF>>& polys) {
  QPainterPath all;
  all.setFillRule(dc_.PolyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
  for (const auto& poly : polys) {
    if (poly.size() < 2) continue;
    all.moveTo(poly[0]);
    for (size_t i = 1; i < poly.size(); ++i) all.lineTo(poly[i]);
    all.closeSubpath();
  }
  if (inPath_)
    AddToPath(all);
  else
    DrawPath(all, true, true);
}

void TPlayer::PolyPolyline(const std::vector<std::vector<QPointF>>& lines) {
  for (const auto& line : lines) Polyline(line);
}

void TPlayer::PolyBezier(std::span<const QPointF> pts) {
  if (pts.size() < 4) return;
  QPainterPath curve(pts[0]);
  for (size_t i = 1; i + 2 < pts.size(); i += 3) curve.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
  if (inPath_) {
    path_.moveTo(pts[0]);
    for (size_t i = 1; i + 2 < pts.size(); i += 3) path_.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
    pathOpen_ = true;
  } else {
    DrawPath(curve, false, true);
  }
}

void TPlayer::PolyBezierTo(std::span<const QPointF> pts) {
  if (pts.size() < 3) return;
  const size_t n = pts.size() / 3 * 3;
  if (inPath_) {
    if (!pathOpen_) path_.moveTo(dc_.Position);
    for (size_t i = 0; i < n; i += 3) path_.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
    pathOpen_ = true;
  } else {
    QPainterPath curve(dc_.Position);
    for (size_t i = 0; i < n; i += 3) curve.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
    DrawPath(curve, false, true);
  }
  dc_.Position = pts[n - 1];
}

void TPlayer::PolyDraw(std::span<const QPointF> pts, std::span<const uint8_t> types) {
  QPainterPath figure(dc_.Position);
  bool open = false;
  for (size_t i = 0; i < pts.size() && i < types.size(); ++i) {
    const uint8_t t = types[i];
    switch (t & ~1u) {
      case 6:  // PT_MOVETO
        figure.moveTo(pts[i]);
        break;
      case 2:  // PT_LINETO
        figure.lineTo(pts[i]);
        open = true;
        break;
      case 4:  // PT_BEZIERTO: three points
        if (i + 2 >= pts.size()) return;
        figure.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
        i += 2;
        open = true;
        break;
      default:
        return;  // an unknown point type makes the whole record invalid
    }
    if ((types[i] & 1) && open) figure.closeSubpath();
  }
  dc_.Position = figure.currentPosition();
  if (inPath_) {
    if (pathOpen_)
      path_.connectPath(figure);
    else
      path_.addPath(figure);
    pathOpen_ = true;
  } else {
    DrawPath(figure, false, true);
  }
}

void TPlayer::Rectangle(QRectF r) {
  QPainterPath p = RectPath(r);
  if (inPath_)
    AddToPath(p);
  else
    DrawPath(p, true, true);
}

void TPlayer::RoundRect(QRectF r, double cornerW, double cornerH) {
  QPainterPath p;
  p.addRoundedRect(r.normalized(), std::fabs(cornerW) / 2, std::fabs(cornerH) / 2);
  if (inPath_)
    AddToPath(p);
  else
    DrawPath(p, true, true);
}

void TPlayer::Ellipse(QRectF r) {
  QPainterPath p;
  p.addEllipse(r.normalized());
  if (inPath_)
    AddToPath(p);
  else
    DrawPath(p, true, true);
}

// The angles of the radials are taken where they cross the ellipse, so that
// the arc starts and ends on the lines from the centre through the points.
QPainterPath TPlayer::ArcPath(TArcKind kind, QRectF box, QPointF start, QPointF end, bool& ok) {
  QPainterPath p;
  box = box.normalized();
  ok = box.width() > 0 && box.height() > 0;
  if (!ok) return p;
  const QPointF c = box.center();
  const double a = box.width() / 2, b = box.height() / 2;
  const double t0 = std::atan2(-(start.y() - c.y()) / b, (start.x() - c.x()) / a) * 180 / M_PI;
  const double t1 = std::atan2(-(end.y() - c.y()) / b, (end.x() - c.x()) / a) * 180 / M_PI;
  double sweep = t1 - t0;
  if (dc_.ArcClockwise) {
    while (sweep >= 0) sweep -= 360;
  } else {
    while (sweep <= 0) sweep += 360;
  }
  if (kind == kPie) {
    p.moveTo(c);
    p.arcTo(box, t0, sweep);
    p.closeSubpath();
  } else {
    p.arcMoveTo(box, t0);
    p.arcTo(box, t0, sweep);
    if (kind == kChord) p.closeSubpath();
  }
  return p;
}

void TPlayer::Arc(TArcKind kind, QRectF box, QPointF start, QPointF end) {
  bool ok = false;
  QPainterPath p = ArcPath(kind, box, start, end, ok);
  if (!ok) return;
  if (kind == kArcTo) {
    QPainterPath withLine(dc_.Position);
    withLine.connectPath(p);
    p = withLine;
    dc_.Position = p.currentPosition();
  }
  if (inPath_) {
    if (kind == kArc || kind == kArcTo) {
      if (kind == kArcTo && pathOpen_)
        path_.connectPath(p);
      else
        path_.addPath(p);
      pathOpen_ = true;
    } else {
      AddToPath(p);
    }
    return;
  }
  const bool closed = kind == kPie || kind == kChord;
  DrawPath(p, closed, true);
}

void TPlayer::AngleArc(QPointF center, double radius, double startDeg, double sweepDeg) {
  if (!(radius > 0) || !std::isfinite(startDeg) || !std::isfinite(sweepDeg)) return;
  sweepDeg = std::clamp(sweepDeg, -3600.0, 3600.0);
  const QRectF box(center.x() - radius, center.y() - radius, 2 * radius, 2 * radius);
  QPainterPath p(dc_.Position);
  QPainterPath arc;
  arc.arcMoveTo(box, startDeg);
  p.lineTo(arc.currentPosition());
  p.arcTo(box, startDeg, sweepDeg);
  dc_.Position = p.currentPosition();
  if (inPath_) {
    if (pathOpen_)
      path_.connectPath(p);
    else
      path_.addPath(p);
    pathOpen_ = true;
  } else {
    DrawPath(p, false, true);
  }
}

void TPlayer::SetPixel(QPointF p, uint32_t color) {
  const QPointF o = transform_.map(p);
  if (!std::isfinite(o.x()) || !std::isfinite(o.y()) || !Spend(QRectF(o, QSizeF(1, 1)))) return;
  ApplyClip();
  painter_.setTransform(QTransform());
  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter_.fillRect(QRectF(std::floor(o.x()), std::floor(o.y()), 1, 1), ColorRef(color));
}

void TPlayer::PatBlt(QRectF r, uint32_t rop) {
  const QPainterPath area = RectPath(r);
  const QRectF out = transform_.mapRect(area.boundingRect());
  if (!Finite(out) || !Spend(out)) return;
  ApplyClip();
  painter_.setTransform(transform_);
  painter_.setPen(Qt::NoPen);
  switch (rop >> 16) {
    case 0x00:  // BLACKNESS
      painter_.setBrush(Qt::black);
      break;
    case 0xFF:  // WHITENESS
      painter_.setBrush(Qt::white);
      break;
    case 0x55:  // DSTINVERT
      painter_.setCompositionMode(QPainter::RasterOp_NotDestination);
      painter_.setBrush(Qt::black);
      break;
    case 0xAA:  // the destination unchanged
      return;
    case 0x5A:  // PATINVERT
      SetupBrush();
      painter_.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
      break;
    default:  // PATCOPY and the rest
      if (dc_.Brush.Kind == TBrush::kNull) return;
      SetupBrush();
      break;
  }
  painter_.drawPath(area);
  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

namespace {

// A bitmap drawn smaller than it is, merged the way the stretch mode says:
// BLACKONWHITE (1) ands the pixels that fall together, so dark lines on a
// light ground survive; WHITEONBLACK (2) ors them; HALFTONE (4) averages
// them; COLORONCOLOR (3) leaves the dropping of pixels to the drawing. An
// axis that does not shrink is kept.
QImage Shrunk(const QImage& part, QSizeF target, int mode) {
  const int w = std::max(1, static_cast<int>(std::lround(std::fabs(target.width()))));
  const int h = std::max(1, static_cast<int>(std::lround(std::fabs(target.height()))));
  const int outW = std::min(w, part.width()), outH = std::min(h, part.height());
  if ((outW == part.width() && outH == part.height()) || (mode != 1 && mode != 2 && mode != 4)) return part;
  const QImage src = part.convertToFormat(QImage::Format_RGB32);
  if (mode == 4) return src.scaled(outW, outH, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  QImage out(outW, outH, QImage::Format_RGB32);
  if (out.isNull()) return part;
  for (int y = 0; y < outH; ++y) {
    const int y0 = static_cast<int>(int64_t(y) * src.height() / outH);
    const int y1 = std::max(y0 + 1, static_cast<int>(int64_t(y + 1) * src.height() / outH));
    QRgb* row = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < outW; ++x) {
      const int x0 = static_cast<int>(int64_t(x) * src.width() / outW);
      const int x1 = std::max(x0 + 1, static_cast<int>(int64_t(x + 1) * src.width() / outW));
      QRgb v = mode == 1 ? 0xFFFFFFFFu : 0xFF000000u;
      for (int sy = y0; sy < y1; ++sy) {
        const QRgb* in = reinterpret_cast<const QRgb*>(src.constScanLine(sy));
        for (int sx = x0; sx < x1; ++sx) v = mode == 1 ? (v & in[sx]) : (v | in[sx]);
      }
      row[x] = v | 0xFF000000u;
    }
  }
  return out;
}

}  // namespace

void TPlayer::Blit(QRectF dest, const QImage& src, QRectF srcRect, uint32_t rop,
                   std::optional<uint32_t> transparent, double opacity) {
  if (src.isNull()) return;
  srcRect = srcRect.normalized().intersected(QRectF(0, 0, src.width(), src.height()));
  if (srcRect.isEmpty() || dest.width() == 0 || dest.height() == 0) return;
  const QRectF out = transform_.mapRect(dest);
  if (!Finite(out) || !Spend(out, srcRect.width() * srcRect.height())) return;
  QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
  switch (rop >> 16) {
    case 0x33: mode = QPainter::RasterOp_NotSource; break;               // NOTSRCCOPY
    case 0x88: mode = QPainter::RasterOp_SourceAndDestination; break;    // SRCAND
    case 0xEE: mode = QPainter::RasterOp_SourceOrDestination; break;     // SRCPAINT
    case 0x66: mode = QPainter::RasterOp_SourceXorDestination; break;    // SRCINVERT
    case 0xAA: return;                                                   // destination kept
    case 0x00: case 0xFF: case 0x55: case 0xF0: case 0x5A:
      PatBlt(dest, rop);  // operations that do not read the source
      return;
    default: break;
  }
  ApplyClip();
  // A negative extent mirrors the picture.
  QImage part = src.copy(srcRect.toAlignedRect());
  const bool flipX = dest.width() < 0, flipY = dest.height() < 0;
  if (flipX || flipY) part = part.mirrored(flipX, flipY);
  if (transparent) {
    // The key colour is matched on the bitmap's own pixels, before any
    // shrinking could mix it with its neighbours.
    part = part.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = ColorRef(*transparent).rgb() & 0xFFFFFF;
    for (int y = 0; y < part.height(); ++y) {
      QRgb* row = reinterpret_cast<QRgb*>(part.scanLine(y));
      for (int x = 0; x < part.width(); ++x)
        if ((row[x] & 0xFFFFFF) == key) row[x] = 0;
    }
    mode = QPainter::CompositionMode_SourceOver;
  } else if (!part.hasAlphaChannel()) {
    part = Shrunk(part, out.size(), dc_.StretchMode);
  }
  painter_.setTransform(transform_);
  painter_.setCompositionMode(mode);
  painter_.setOpacity(std::clamp(opacity, 0.0, 1.0));
  painter_.drawImage(dest.normalized(), part);
  painter_.setOpacity(1);
  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void TPlayer::GradientRect(QRectF r, QColor c0, QColor c1, bool vertical) {
  // The colours belong to the corners as given, whichever way round they lie.
  QLinearGradient g(r.topLeft(), vertical ? r.bottomLeft() : r.topRight());
  g.setColorAt(0, c0);
  g.setColorAt(1, c1);
  r = r.normalized();
  const QRectF out = transform_.mapRect(r);
  if (r.isEmpty() || !Finite(out) || !Spend(out)) return;
  ApplyClip();
  painter_.setTransform(transform_);
  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter_.setPen(Qt::NoPen);
  painter_.setBrush(g);
  painter_.drawRect(r);
}

void TPlayer::GradientTriangle(const std::array<QPointF, 3>& p, const std::array<QColor, 3>& c) {
  const QRectF out = transform_.mapRect(QPolygonF({p[0], p[1], p[2]}).boundingRect());
  if (!Finite(out) || !Spend(out)) return;
  ApplyClip();
  painter_.setTransform(transform_);
  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter_.setPen(Qt::NoPen);
  // The triangle is cut into 4^depth smaller ones, each filled with the
  // shade at its centre; the cuts stop where the pieces are a few pixels.
  int depth = 0;
  for (double side = std::max(out.width(), out.height()); side > 6 && depth < 5; side /= 2) ++depth;
  auto shade = [&](double a, double b) {  // barycentric weights a, b, 1-a-b
    const double w[3] = {a, b, 1 - a - b};
    double rgb[3] = {0, 0, 0};
    for (int k = 0; k < 3; ++k) {
      rgb[0] += w[k] * c[size_t(k)].redF();
      rgb[1] += w[k] * c[size_t(k)].greenF();
      rgb[2] += w[k] * c[size_t(k)].blueF();
    }
    return QColor::fromRgbF(float(std::clamp(rgb[0], 0.0, 1.0)), float(std::clamp(rgb[1], 0.0, 1.0)),
                            float(std::clamp(rgb[2], 0.0, 1.0)));
  };
  const int n = 1 << depth;
  auto at = [&](int i, int j) {  // the lattice point i/n of the way to p1, j/n to p2
    const double a = double(i) / n, b = double(j) / n;
    return p[0] + (p[1] - p[0]) * a + (p[2] - p[0]) * b;
  };
  for (int i = 0; i < n; ++i)
    for (int j = 0; i + j < n; ++j) {
      // Upward piece, then the downward one beside it.
      const double ca = (i + 1.0 / 3) / n, cb = (j + 1.0 / 3) / n;
      painter_.setBrush(shade(1 - ca - cb, ca));
      painter_.drawPolygon(QPolygonF({at(i, j), at(i + 1, j), at(i, j + 1)}));
      if (i + j + 1 < n) {
        const double da = (i + 2.0 / 3) / n, db = (j + 2.0 / 3) / n;
        painter_.setBrush(shade(1 - da - db, da));
        painter_.drawPolygon(QPolygonF({at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)}));
      }
    }
}

// ---------------------------------------------------------------- text

void TPlayer::Text(QPointF p, const std::u16string& text, const std::vector<double>& dx,
                   uint32_t options, std::optional<QRectF> rect) {
  const bool updateCp = dc_.TextAlign & 1;
  if (updateCp) p = dc_.Position;
  ApplyClip();
  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  // ETO_OPAQUE: the rectangle is filled with the background colour.
  if (rect && (options & 2)) {
    painter_.setTransform(transform_);
    painter_.fillRect(rect->normalized(), ColorRef(dc_.BkColor));
  }
  // ETO_GLYPH_INDEX: the units are glyph numbers of the recording font,
  // which cannot be mapped to characters here.
  if (text.empty() || !fontsUsable_ || (options & 0x10)) return;

  const QPointF origin = transform_.map(p);
  const QPointF ux = transform_.map(QPointF(1, 0)) - transform_.map(QPointF(0, 0));
  const QPointF uy = transform_.map(QPointF(0, 1)) - transform_.map(QPointF(0, 0));
  const double scaleX = std::hypot(ux.x(), ux.y());
  const double scaleY = std::hypot(uy.x(), uy.y());
  if (!std::isfinite(origin.x()) || !std::isfinite(origin.y()) || !(scaleY > 0)) return;

  // A negative height is the character height, a positive one the cell
  // height (characters plus internal leading).
  double em = dc_.Font.Height < 0 ? -double(dc_.Font.Height) : dc_.Font.Height / 1.15;
  double pixels = dc_.Font.Height == 0 ? 16 * deviceToOutput_.m22() : em * scaleY;
  if (dc_.Font.Height == 0 && !emf_) pixels = 12;
  if (!std::isfinite(pixels)) return;
  const int pixelSize = static_cast<int>(std::lround(std::min(pixels, 4000.0)));
  if (pixelSize < 1) return;

  QFont font(dc_.Font.FaceName.empty() ? QStringLiteral("Sans")
                                       : QString::fromUtf16(dc_.Font.FaceName.data(),
                                                            static_cast<qsizetype>(dc_.Font.FaceName.size())));
  font.setPixelSize(pixelSize);
  font.setWeight(static_cast<QFont::Weight>(std::clamp(dc_.Font.Weight == 0 ? 400 : dc_.Font.Weight, 100, 900)));
  font.setItalic(dc_.Font.Italic);
  font.setUnderline(dc_.Font.Underline);
  font.setStrikeOut(dc_.Font.StrikeOut);
  font.setStyleStrategy(QFont::NoAntialias);
  font.setKerning(false);
  const QFontMetricsF metrics(font);

  // Direction of the base line: the x axis of the mapping, turned by the
  // escapement (tenths of a degree, counter-clockwise as seen).
  double angle = std::atan2(ux.y(), ux.x()) * 180 / M_PI;
  angle -= dc_.Font.Escapement / 10.0;
  const bool mirrored = transform_.determinant() < 0 && ux.x() < 0;

  // Each unit of text covers about a square of the font's size.
  const double inked = std::min(double(pixelSize) * pixelSize * double(text.size()),
                                double(image_.width()) * image_.height());
  if (!Spend(QRectF(origin, QSizeF(1, 1)), inked)) return;
  const QString str = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
  std::vector<double> advances;
  double total = 0;
  if (!dx.empty()) {
    for (size_t i = 0; i < text.size(); ++i) {
      const double a = i < dx.size() ? dx[i] * scaleX : 0;
      advances.push_back(a);
      total += a;
    }
  } else {
    total = metrics.horizontalAdvance(str);
  }
  double x0 = 0;
  switch (dc_.TextAlign & 6) {
    case 2: x0 = -total; break;       // TA_RIGHT
    case 6: x0 = -total / 2; break;   // TA_CENTER
    default: break;
  }
  double y0 = metrics.ascent();  // TA_TOP
  switch (dc_.TextAlign & 24) {
    case 8: y0 = -metrics.descent(); break;  // TA_BOTTOM
    case 24: y0 = 0; break;                  // TA_BASELINE
    default: break;
  }

  painter_.save();
  if (rect && (options & 4)) {
    painter_.setTransform(transform_);
    painter_.setClipRect(rect->normalized(), dc_.Clip ? Qt::IntersectClip : Qt::ReplaceClip);
  }
  painter_.setTransform(QTransform());
  painter_.translate(origin);
  painter_.rotate(angle);
  if (mirrored) painter_.scale(-1, 1);
  painter_.setFont(font);
  if (dc_.BkMode == 2)
    painter_.fillRect(QRectF(x0, y0 - metrics.ascent(), total, metrics.height()), ColorRef(dc_.BkColor));
  painter_.setPen(ColorRef(dc_.TextColor));
  if (advances.empty()) {
    painter_.drawText(QPointF(x0, y0), str);
  } else {
    double x = x0;
    for (size_t i = 0; i < text.size(); ++i) {
      const bool pair = i + 1 < text.size() && QChar::isHighSurrogate(text[i]) && QChar::isLowSurrogate(text[i + 1]);
      const QString unit = QString::fromUtf16(text.data() + i, pair ? 2 : 1);
      painter_.drawText(QPointF(x, y0), unit);
      x += advances[i];
      if (pair) x += advances[++i];
    }
  }
  painter_.restore();
  clipDirty_ = true;
  if (updateCp) {
    // The current position moves along the base line by the text's width.
    const double logical = scaleX > 0 ? total / scaleX : 0;
    dc_.Position = p + QPointF(logical, 0);
  }
}

// ---------------------------------------------------------------- clipping

void TPlayer::CombineClip(std::optional<QPainterPath> area, int mode) {
  clipDirty_ = true;
  if (mode == kRgnCopy) {
    dc_.Clip = std::move(area);
    return;
  }
  if (!area) return;
  QPainterPath base;
  if (dc_.Clip)
    base = *dc_.Clip;
  else
    base.addRect(QRectF(0, 0, image_.width(), image_.height()));
  switch (mode) {
    case kRgnAnd: dc_.Clip = base.intersected(*area); break;
    case kRgnOr: dc_.Clip = base.united(*area); break;
    case kRgnXor: dc_.Clip = base.united(*area).subtracted(base.intersected(*area)); break;
    case kRgnDiff: dc_.Clip = base.subtracted(*area); break;
    default: break;
  }
}

void TPlayer::IntersectClipRect(QRectF r) {
  const QPainterPath area = transform_.map(RectPath(r));
  if (!Finite(area.boundingRect())) return;
  CombineClip(area, kRgnAnd);
}

void TPlayer::ExcludeClipRect(QRectF r) {
  const QPainterPath area = transform_.map(RectPath(r));
  if (!Finite(area.boundingRect())) return;
  CombineClip(area, kRgnDiff);
}

void TPlayer::OffsetClip(double dx, double dy) {
  if (!dc_.Clip) return;
  const QPointF d = transform_.map(QPointF(dx, dy)) - transform_.map(QPointF(0, 0));
  if (!std::isfinite(d.x()) || !std::isfinite(d.y())) return;
  dc_.Clip->translate(d);
  clipDirty_ = true;
}

// ---------------------------------------------------------------- paths

void TPlayer::BeginPath() {
  path_ = QPainterPath();
  inPath_ = true;
  pathOpen_ = false;
}

void TPlayer::AbortPath() {
  path_ = QPainterPath();
  inPath_ = false;
  pathOpen_ = false;
}

void TPlayer::CloseFigure() {
  if (inPath_) {
    path_.closeSubpath();
    pathOpen_ = false;
  }
}

void TPlayer::FillPath() {
  path_.setFillRule(dc_.PolyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
  DrawPath(path_, true, false);
  AbortPath();
}

void TPlayer::StrokePath() {
  DrawPath(path_, false, true);
  AbortPath();
}

void TPlayer::StrokeAndFillPath() {
  path_.setFillRule(dc_.PolyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
  DrawPath(path_, true, true);
  AbortPath();
}

void TPlayer::SelectClipPath(int mode) {
  path_.setFillRule(dc_.PolyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
  QPainterPath area = transform_.map(path_);
  AbortPath();
  if (!Finite(area.boundingRect())) return;
  CombineClip(area, mode);
}

void TPlayer::WidenPath() {
  QPainterPathStroker stroker;
  stroker.setWidth(std::max(dc_.Pen.Width, LogicalScale() > 0 ? 1 / LogicalScale() : 1.0));
  path_ = stroker.createStroke(path_);
  pathOpen_ = false;
}

// ---------------------------------------------------------------- bitmaps

namespace {

// Run-length encoded 8-bit (BI_RLE8) or 4-bit (BI_RLE4) rows, bottom row
// first. Pixels the runs do not reach keep palette entry 0; runs and deltas
// that leave the bitmap are cut off at its edge.
QImage DecodeRle(int64_t width, int64_t height, uint32_t bitCount, const std::vector<QRgb>& palette,
                 std::span<const uint8_t> bits) {
  std::vector<uint8_t> index(static_cast<size_t>(width * height), 0);
  int64_t x = 0, y = 0;  // y counts rows from the bottom
  auto put = [&](uint8_t v) {
    if (x < width && y < height) index[static_cast<size_t>((height - 1 - y) * width + x)] = v;
    ++x;
  };
  size_t i = 0;
  while (i + 1 < bits.size() && y < height) {
    const uint8_t count = bits[i], value = bits[i + 1];
    i += 2;
    if (count > 0) {
      for (int k = 0; k < count && x < width; ++k)
        put(bitCount == 8 ? value : (k & 1) ? (value & 15) : (value >> 4));
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of bitmap
      break;
    } else if (value == 2) {  // delta
      if (i + 1 >= bits.size()) break;
      x += bits[i];
      y += bits[i + 1];
      i += 2;
    } else {  // absolute run of value pixels, padded to a 16-bit boundary
      const size_t bytes = bitCount == 8 ? value : (size_t(value) + 1) / 2;
      for (int k = 0; k < value; ++k) {
        const size_t at = i + (bitCount == 8 ? size_t(k) : size_t(k) / 2);
        if (at >= bits.size()) break;
        put(bitCount == 8 ? bits[at] : (k & 1) ? (bits[at] & 15) : (bits[at] >> 4));
      }
      i += bytes + (bytes & 1);
    }
  }
  QImage img(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB32);
  if (img.isNull()) return {};
  for (int64_t row = 0; row < height; ++row) {
    QRgb* out = reinterpret_cast<QRgb*>(img.scanLine(static_cast<int>(row)));
    for (int64_t col = 0; col < width; ++col) out[col] = palette[index[static_cast<size_t>(row * width + col)]];
  }
  return img;
}

}  // namespace

QImage DecodeDib(std::span<const uint8_t> info, std::span<const uint8_t> bits, bool* bottomUpOut,
                 bool withAlpha, const std::vector<QRgb>* logicalPalette) {
  const uint32_t headerSize = ImGetU32LE(info, 0);
  if (info.size() < 12 || headerSize < 12 || headerSize > info.size()) return {};
  int64_t width = 0, height = 0;
  uint32_t bitCount = 0, compression = 0, colorsUsed = 0;
  size_t paletteOffset = headerSize, entrySize = 4;
  uint32_t masks[3] = {0, 0, 0};
  if (headerSize == 12) {
    width = ImGetU16LE(info, 4);
    height = ImGetU16LE(info, 6);
    bitCount = ImGetU16LE(info, 10);
    entrySize = 3;
  } else {
    if (headerSize < 40) return {};
    width = static_cast<int32_t>(ImGetU32LE(info, 4));
    height = static_cast<int32_t>(ImGetU32LE(info, 8));
    bitCount = ImGetU16LE(info, 14);
    compression = ImGetU32LE(info, 16);
    colorsUsed = ImGetU32LE(info, 32);
    if (compression == 3) {
      // BI_BITFIELDS: the masks are in the larger headers, or follow the
      // 40-byte one.
      const size_t at = headerSize >= 52 ? 40 : headerSize;
      if (info.size() < at + 12) return {};
      for (int i = 0; i < 3; ++i) masks[i] = ImGetU32LE(info, at + 4 * i);
      if (headerSize < 52) paletteOffset += 12;
    }
  }
  const bool rle = (compression == 1 && bitCount == 8) || (compression == 2 && bitCount == 4);
  if (compression != 0 && compression != 3 && !rle) return {};
  if (compression == 3 && bitCount != 16 && bitCount != 32) return {};
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
    return {};
  const bool bottomUp = height > 0;
  height = height < 0 ? -height : height;
  if (bottomUpOut) *bottomUpOut = bottomUp;
  if (!ImSizeAllowed(width, height) || width * height > kMaxDibPixels) return {};

  std::vector<QRgb> palette;
  if (bitCount <= 8) {
    size_t n = colorsUsed ? std::min<uint32_t>(colorsUsed, 256) : (1u << bitCount);
    palette.assign(size_t(1) << bitCount, qRgb(0, 0, 0));
    n = std::min(n, palette.size());
    if (logicalPalette) entrySize = 2;
    for (size_t i = 0; i < n; ++i) {
      const size_t at = paletteOffset + i * entrySize;
      if (at > info.size() || info.size() - at < entrySize) break;
      if (logicalPalette) {
        // An index past the palette's end gives its first colour.
        const size_t k = ImGetU16LE(info, at);
        palette[i] = logicalPalette->empty()          ? qRgb(0, 0, 0)
                     : k < logicalPalette->size() ? (*logicalPalette)[k]
                                                  : logicalPalette->front();
      } else {
        palette[i] = qRgb(info[at + 2], info[at + 1], info[at]);
      }
    }
  }
  if (rle) {
    if (!bottomUp) return {};
    return DecodeRle(width, height, bitCount, palette, bits);
  }
  const int64_t stride = (width * bitCount + 31) / 32 * 4;
  if (static_cast<int64_t>(bits.size()) / stride < height) return {};

  if (bitCount == 16 && compression == 0) {
    masks[0] = 0x7C00;
    masks[1] = 0x03E0;
    masks[2] = 0x001F;
  }
  auto maskValue = [](uint32_t v, uint32_t mask) -> int {
    if (!mask) return 0;
    int shift = 0;
    while (!((mask >> shift) & 1)) ++shift;
    const uint32_t m = mask >> shift;
    return static_cast<int>(((v >> shift) & m) * 255 / m);
  };

  const bool alpha = withAlpha && bitCount == 32 && compression == 0;
  QImage img(static_cast<int>(width), static_cast<int>(height),
             alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
  if (img.isNull()) return {};
  for (int64_t y = 0; y < height; ++y) {
    const int64_t srcRow = bottomUp ? height - 1 - y : y;
    const std::span<const uint8_t> row = bits.subspan(static_cast<size_t>(srcRow * stride), static_cast<size_t>(stride));
    QRgb* out = reinterpret_cast<QRgb*>(img.scanLine(static_cast<int>(y)));
    for (int64_t x = 0; x < width; ++x) {
      QRgb c = 0;
      switch (bitCount) {
        case 1: c = palette[(row[static_cast<size_t>(x >> 3)] >> (7 - (x & 7))) & 1]; break;
        case 4: c = palette[(row[static_cast<size_t>(x >> 1)] >> ((x & 1) ? 0 : 4)) & 15]; break;
        case 8: c = palette[row[static_cast<size_t>(x)]]; break;
        case 16: {
          const uint32_t v = ImGetU16LE(row, static_cast<size_t>(2 * x));
          c = qRgb(maskValue(v, masks[0]), maskValue(v, masks[1]), maskValue(v, masks[2]));
          break;
        }
        case 24: {
          const size_t at = static_cast<size_t>(3 * x);
          c = qRgb(row[at + 2], row[at + 1], row[at]);
          break;
        }
        case 32: {
          const uint32_t v = ImGetU32LE(row, static_cast<size_t>(4 * x));
          if (compression == 3) {
            c = qRgb(maskValue(v, masks[0]), maskValue(v, masks[1]), maskValue(v, masks[2]));
          } else if (alpha) {
            // A colour above its alpha is no premultiplied colour: cut it.
            const int a = int(v >> 24);
            c = qRgba(std::min(int((v >> 16) & 0xFF), a), std::min(int((v >> 8) & 0xFF), a),
                      std::min(int(v & 0xFF), a), a);
          } else {
            c = qRgb((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
          }
          break;
        }
      }
      out[x] = c;
    }
  }
  return img;
}

bool SplitPackedDib(std::span<const uint8_t> dib, std::span<const uint8_t>& info,
                    std::span<const uint8_t>& bits, bool paletteIndexes) {
  const uint32_t headerSize = ImGetU32LE(dib, 0);
  if (dib.size() < 12 || headerSize < 12 || headerSize > dib.size()) return false;
  uint64_t offset = headerSize;
  if (headerSize == 12) {
    const uint32_t bitCount = ImGetU16LE(dib, 10);
    if (bitCount <= 8) offset += (paletteIndexes ? 2ull : 3ull) << bitCount;
  } else {
    if (headerSize < 40) return false;
    const uint32_t bitCount = ImGetU16LE(dib, 14);
    const uint32_t compression = ImGetU32LE(dib, 16);
    const uint32_t used = ImGetU32LE(dib, 32);
    if (compression == 3 && headerSize < 52) offset += 12;
    const uint64_t entry = paletteIndexes ? 2 : 4;
    if (used)
      offset += entry * used;
    else if (bitCount <= 8)
      offset += entry << bitCount;
  }
  if (offset > dib.size()) return false;
  info = dib.subspan(0, static_cast<size_t>(offset));
  bits = dib.subspan(static_cast<size_t>(offset));
  return true;
}

std::u16string AnsiText(std::span<const uint8_t> bytes) {
  // 0x80..0x9F of Windows-1252; the rest is Latin-1.
  static const char16_t high[32] = {
      0x20AC, 0x81, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x8D, 0x017D, 0x8F, 0x90, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D, 0x017E, 0x0178};
  std::u16string s;
  s.reserve(bytes.size());
  for (uint8_t b : bytes) s.push_back(b >= 0x80 && b < 0xA0 ? high[b - 0x80] : char16_t(b));
  return s;
}

}  // namespace metafile
