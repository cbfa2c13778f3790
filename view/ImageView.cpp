#include "view/ImageView.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QTimer>
#include <QWheelEvent>
#include <qdrawutil.h>

#include <algorithm>
#include <cmath>

#include "image/ImageProc.h"
#include "io/ImageIO.h"

namespace {

// Round half to even, the rounding of the layout arithmetic.
int RoundEven(double v) { return static_cast<int>(std::nearbyint(v)); }
int Trunc(double v) { return static_cast<int>(std::trunc(v)); }

QColor ToQColor(TColor c) {
  return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

}  // namespace

// ---------------------------------------------------------------- TImView

TImView::TImView(QWidget* parent) : QWidget(parent) {
  // The view paints every pixel itself; no erase by the window system.
  setAttribute(Qt::WA_OpaquePaintEvent);
  ApplyMargins();
}

TImView::~TImView() { NotifySubscribers(1); }

void TImView::SetBackground(TColor color) {
  if (color == background_) return;
  background_ = color;
  BackgroundChanged();
}

TColor TImView::ResolvedBackground() const { return ResolveSystemColor(background_); }

void TImView::SetBorderStyle(TImBorderStyle style) {
  if (style == borderStyle_) return;
  borderStyle_ = style;
  ApplyMargins();
}

void TImView::SetCtl3D(bool on) {
  if (on == ctl3D_) return;
  ctl3D_ = on;
  ApplyMargins();
}

int TImView::BorderThickness() const {
  if (borderStyle_ == bsNone) return 0;
  return ctl3D_ ? kImEdgeMetric : 1;
}

void TImView::ApplyMargins() {
  const int b = BorderThickness();
  setContentsMargins(b, b, b, b);
  update();
}

void TImView::Subscribe(void* component, TViewNotify callback) {
  for (auto& s : subscribers_) {
    if (s.first == component) {
      s.second = std::move(callback);
      return;
    }
  }
  subscribers_.emplace_back(component, std::move(callback));
}

void TImView::Unsubscribe(void* component) {
  std::erase_if(subscribers_, [component](const auto& s) { return s.first == component; });
}

void TImView::NotifySubscribers(int code) {
  // A callback may unsubscribe itself, so walk a copy.
  const auto list = subscribers_;
  for (const auto& s : list)
    if (s.second) s.second(code);
  if (code == 1) subscribers_.clear();
}

void TImView::PaintBorder(QPainter& painter) {
  const int b = BorderThickness();
  if (b == 0) return;
  if (b == kImEdgeMetric) {
    qDrawWinPanel(&painter, rect(), palette(), true);
  } else {
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
  }
}

void TImView::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  if (OnMouseEnter) OnMouseEnter();
}

void TImView::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  if (OnMouseLeave) OnMouseLeave();
}

// ---------------------------------------------------------------- TImageView

TImageView::TImageView(QWidget* parent) : TImView(parent) {
  setFocusPolicy(Qt::ClickFocus);
  bitmap_ = std::make_unique<TImBitmap>();
  WrapToolkitBitmap();
  resize(105, 105);
  constructed_ = true;
  FollowControlSize();
}

TImageView::~TImageView() {
  // Subscribers hear code 1 while the buffer still exists.
  NotifySubscribers(1);
}

void TImageView::WrapToolkitBitmap() {
  // The buffer wraps a QImage the view owns; the buffer's allocations keep
  // that object and change its size and depth.
  toolkitBitmap_ = std::make_unique<QImage>();
  bitmap_->AttachTBitmap(toolkitBitmap_.get(), true);
}

void TImageView::FollowControlSize() {
  if (!followSize_) return;
  // Until something is loaded the view shows a background-coloured image of
  // its own outer size.
  TImPixelFormat f = bitmap_->PixelFormat();
  if (f == imNone) f = im24bgr;
  if (bitmap_->Width() != width() || bitmap_->Height() != height() || bitmap_->PixelFormat() != f)
    bitmap_->Allocate(width(), height(), f);
  TImageView::Clear();
}

void TImageView::SetLegacyBitmap(bool on) {
  if (on == legacyBitmap_) return;
  legacyBitmap_ = on;
  auto fresh = std::make_unique<TImBitmap>();
  std::unique_ptr<QImage> freshImage;
  if (on) {
    freshImage = std::make_unique<QImage>();
    fresh->AttachTBitmap(freshImage.get(), true);
  } else {
    fresh->SetLocation(imHeap);
  }
  fresh->Assign(*bitmap_);
  // The old buffer may wrap the old QImage: free it before that goes.
  bitmap_ = std::move(fresh);
  toolkitBitmap_ = std::move(freshImage);
  NotifySubscribers(0);
  Update();
}

void TImageView::ReplaceBitmap(std::unique_ptr<TImBitmap> bitmap) {
  if (!bitmap) return;
  bitmap_ = std::move(bitmap);
  NotifySubscribers(0);
  Update();
}

bool TImageView::HasParentWindow() const { return parentWidget() != nullptr; }

int TImageView::ViewWidth() const { return HasParentWindow() ? std::max(contentsRect().width(), 0) : 50; }
int TImageView::ViewHeight() const { return HasParentWindow() ? std::max(contentsRect().height(), 0) : 50; }

void TImageView::SetViewResolution(int dpiX, int dpiY) {
  if (dpiX != 0) dpiX_ = dpiX;
  if (dpiY != 0) dpiY_ = dpiY;
}

void TImageView::ViewImageChange() {
  followSize_ = false;
  if (OnImageChange) OnImageChange();
}

void TImageView::SetCenter(bool on) {
  if (on == center_) return;
  center_ = on;
  Update();
}
void TImageView::SetAutoFit(bool on) {
  if (on == autoFit_) return;
  autoFit_ = on;
  Update();
}
void TImageView::SetAutoShrink(bool on) {
  if (on == autoShrink_) return;
  autoShrink_ = on;
  Update();
}
void TImageView::SetAutoStretch(bool on) {
  if (on == autoStretch_) return;
  autoStretch_ = on;
  Update();
}
void TImageView::SetZoomFilter(TResampleFilter filter) {
  if (filter == zoomFilter_) return;
  zoomFilter_ = filter;
  Update();
}
void TImageView::SetEnableAlphaChannel(bool on) {
  if (on == enableAlpha_) return;
  enableAlpha_ = on;
  Update();
}
void TImageView::SetBackgroundStyle(TImBackgroundStyle style) {
  if (style == backgroundStyle_) return;
  backgroundStyle_ = style;
  Update();
}
void TImageView::BackgroundChanged() { Update(); }

TImageView::TScrollRange TImageView::ScrollRangeFor(int imgW, int imgH, double scale) const {
  const int vw = ViewWidth(), vh = ViewHeight();
  // Past the client size (with some slack) the zoomed size is taken half a
  // pixel larger, so that the last image column can be scrolled into view.
  const bool large = imgW * scale > vw + 10 || imgH * scale > vh + 10;
  const int zw = large ? Trunc((imgW + 0.5) * scale) : Trunc(imgW * scale);
  const int zh = large ? Trunc((imgH + 0.5) * scale) : Trunc(imgH * scale);
  TScrollRange r;
  if (zw <= width() && zh <= height()) return r;
  r.MaxX = std::max(zw - vw, 0);
  r.MaxY = std::max(zh - vh, 0);
  return r;
}

void TImageView::ComputeFit(int imgW, int imgH) {
  if (!(autoFit_ || autoShrink_ || autoStretch_) || imgW <= 0 || imgH <= 0) return;
  const int vw = ViewWidth(), vh = ViewHeight();
  int mx, my;
  if (backgroundStyle_ == imbsCropped) {
    mx = my = kImEdgeMetric;
  } else if (backgroundStyle_ == imbsCropShadow) {
    mx = my = 5;
  } else {
    mx = (width() - vw) / 2;
    my = (height() - vh) / 2;
  }
  const int aw = vw - 2 * mx, ah = vh - 2 * my;
  double z = 100.0;
  if (!(imgW < 2 && imgH < 2) && aw != 0 && ah != 0) {
    const long double rw = static_cast<long double>(imgW) / aw, rh = static_cast<long double>(imgH) / ah;
    const bool tooLarge = rw > rh ? aw < imgW : ah < imgH;
    const bool fit = tooLarge ? (autoShrink_ || autoFit_) : (autoStretch_ || autoFit_);
    if (fit) {
      const int e = backgroundStyle_ == imbsCropShadow ? 5 : kImEdgeMetric;
      z = std::min((width() - 2 * e) / (imgW / 100.0), (height() - 2 * e) / (imgH / 100.0));
    }
  }
  if (z < 1) z = 1;
  zoom_ = z;
  scale_ = zoom_ / 100.0;
  inverse_ = 100.0 / zoom_;
}

void TImageView::ComputeLayout(int imgW, int imgH) {
  const int vw = ViewWidth(), vh = ViewHeight();
  drawnW_ = RoundEven(imgW * scale_);
  drawnH_ = RoundEven(imgH * scale_);
  visibleW_ = std::min(drawnW_, vw);
  visibleH_ = std::min(drawnH_, vh);
  offsetX_ = offsetY_ = 0;
  if (center_) {
    if (visibleW_ < vw) offsetX_ = (vw - visibleW_) / 2;
    if (visibleH_ < vh) offsetY_ = (vh - visibleH_) / 2;
  }
}

void TImageView::RebuildTables(int imgW, int imgH) {
  if (tableZoom_ == zoom_ && tableImgW_ == imgW && tableImgH_ == imgH && tableDrawnW_ == drawnW_ &&
      tableDrawnH_ == drawnH_)
    return;
  tableZoom_ = zoom_;
  tableImgW_ = imgW;
  tableImgH_ = imgH;
  tableDrawnW_ = drawnW_;
  tableDrawnH_ = drawnH_;
  auto build = [this](std::vector<int>& t, int imgSize) {
    t.clear();
    if (imgSize <= 0) return;
    // Covers every zoomed position a destination pixel can reach, including
    // the extra source column taken above 100 %.
    const int size = std::max(Trunc((imgSize + 1) * scale_) + 2, 1);
    t.assign(static_cast<size_t>(size), -1);
    if (zoom_ > 100.0) {
      for (int x = 0; x < size; ++x) t[static_cast<size_t>(x)] = std::min(Trunc(x * inverse_), imgSize - 1);
    } else {
      // Each zoomed position holds the first image column that maps onto it.
      for (int k = imgSize - 1; k >= 0; --k) {
        const int z = Trunc(k * scale_);
        if (z >= 0 && z < size) t[static_cast<size_t>(z)] = std::min(k, imgSize - 1);
      }
      int last = 0;
      for (int& v : t) {
        if (v < 0) v = last;
        last = v;
      }
    }
  };
  build(columnTable_, imgW);
  build(rowTable_, imgH);
}

void TImageView::Update() {
  if (!constructed_) return;
  const int imgW = bitmap_->Width(), imgH = bitmap_->Height();
  for (int pass = 0; pass < 2; ++pass) {
    const int vw = ViewWidth(), vh = ViewHeight();
    ComputeFit(imgW, imgH);
    if (imgW != lastImgW_ || imgH != lastImgH_) {
      lastImgW_ = imgW;
      lastImgH_ = imgH;
      if (bitmap_->HasAlphaChannel()) {
        TImBitmap* a = bitmap_->AlphaChannel();
        if (a->Width() != imgW || a->Height() != imgH) {
          a->Allocate(imgW, imgH, im8gray);
          a->Fill(255);
        }
      }
    }
    const TScrollRange r = ScrollRangeFor(imgW, imgH, scale_);
    maxX_ = r.MaxX;
    maxY_ = r.MaxY;
    scrollX_ = std::clamp(scrollX_, 0, maxX_);
    scrollY_ = std::clamp(scrollY_, 0, maxY_);
    // Scroll bars would change the client size here; this view never shows
    // them, so a second pass only runs if the size moved under us.
    if (vw == ViewWidth() && vh == ViewHeight()) break;
  }
  ComputeLayout(imgW, imgH);
  RebuildTables(imgW, imgH);
  dirty_ = true;
  fullRepaint_ = true;
  if (HasParentWindow()) update();
}

void TImageView::PostUpdate() {
  if (updatePosted_) return;
  updatePosted_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        updatePosted_ = false;
        Update();
      },
      Qt::QueuedConnection);
}

void TImageView::Clear() {
  bitmap_->Fill(static_cast<double>(Background()));
  bitmap_->RemoveAlphaChannel();
  Update();
}

void TImageView::SetScroll(int x, int y) {
  const int nx = std::clamp(x, 0, maxX_), ny = std::clamp(y, 0, maxY_);
  if (nx == scrollX_ && ny == scrollY_) return;
  scrollX_ = nx;
  scrollY_ = ny;
  StartDelayedFilter();
  Update();
}

void TImageView::SetZoom(double value) {
  if (value <= 0 || value == zoom_) return;
  const int vw = ViewWidth(), vh = ViewHeight();
  const int cx = vw / 2, cy = vh / 2;
  // The image point under the client centre stays there.
  const double ix = RoundEven((cx + scrollX_ - offsetX_) * inverse_);
  const double iy = RoundEven((cy + scrollY_ - offsetY_) * inverse_);
  const double newScale = value / 100.0;
  const TScrollRange r = ScrollRangeFor(bitmap_->Width(), bitmap_->Height(), newScale);
  scrollX_ = std::clamp(Trunc(ix * newScale - cx), 0, r.MaxX);
  scrollY_ = std::clamp(Trunc(iy * newScale - cy), 0, r.MaxY);
  zoom_ = value;
  scale_ = newScale;
  inverse_ = 100.0 / value;
  StartDelayedFilter();
  Update();
  if (OnViewChange) OnViewChange(1);
}

void TImageView::StartDelayedFilter() {
  if (!delayZoomFilter_ || zoomFilter_ == rfNone) return;
  // Paint unfiltered now, and filtered once the event loop has caught up.
  delayActive_ = true;
  QTimer::singleShot(0, this, [this] {
    if (!delayActive_) return;
    delayActive_ = false;
    dirty_ = true;
    fullRepaint_ = true;
    if (HasParentWindow()) update();
  });
}

TImageView::TPaintRects TImageView::PaintRects() {
  TPaintRects r;
  const int imgW = bitmap_->Width(), imgH = bitmap_->Height();
  if (imgW <= 0 || imgH <= 0 || drawnW_ <= 0 || drawnH_ <= 0) return r;
  const double dx = static_cast<double>(imgW) / drawnW_, dy = static_cast<double>(imgH) / drawnH_;
  r.SrcX = RoundEven(scrollX_ * dx);
  r.SrcY = RoundEven(scrollY_ * dy);
  r.SrcWidth = RoundEven(dx * visibleW_);
  r.SrcHeight = RoundEven(dy * visibleH_);
  if (r.SrcX + r.SrcWidth > imgW) r.SrcWidth -= 1;
  if (r.SrcY + r.SrcHeight > imgH) r.SrcHeight -= 1;
  // A scroll position at the far end can still leave the rectangle past the
  // edge after that step; it must never name pixels the image lacks.
  r.SrcX = std::clamp(r.SrcX, 0, imgW - 1);
  r.SrcY = std::clamp(r.SrcY, 0, imgH - 1);
  r.SrcWidth = std::clamp(r.SrcWidth, 0, imgW - r.SrcX);
  r.SrcHeight = std::clamp(r.SrcHeight, 0, imgH - r.SrcY);
  if (zoom_ <= 100.0) {
    r.DestWidth = visibleW_;
    r.DestHeight = visibleH_;
  } else {
    r.DestWidth = Trunc(r.SrcWidth * scale_);
    if (r.DestWidth < visibleW_ && r.SrcX + r.SrcWidth < imgW) {
      r.SrcWidth += 1;
      r.DestWidth = Trunc(r.SrcWidth * scale_);
    }
    r.DestHeight = Trunc(r.SrcHeight * scale_);
    if (r.DestHeight < visibleH_ && r.SrcY + r.SrcHeight < imgH) {
      r.SrcHeight += 1;
      r.DestHeight = Trunc(r.SrcHeight * scale_);
    }
  }
  r.DestX = offsetX_;
  r.DestY = offsetY_;
  return r;
}

void TImageView::FillBackground() { back_.fill(ToQColor(ResolvedBackground())); }

void TImageView::RenderBackBuffer() {
  ++renderCount_;
  const int imgW = bitmap_->Width(), imgH = bitmap_->Height();
  // An empty image leaves the last picture; so does an alpha channel that no
  // longer matches the image.
  if (imgW <= 0 || imgH <= 0) return;
  if (bitmap_->HasAlphaChannel()) {
    TImBitmap* a = bitmap_->AlphaChannel();
    if (a->Width() != imgW || a->Height() != imgH) return;
  }
  RebuildTables(imgW, imgH);
  const TPaintRects r = PaintRects();
  bool drawn = false;
  if (r.DestWidth > 0 && r.DestHeight > 0 && (imgW > 1 || imgH > 1)) {
    const bool alphaBlends = enableAlpha_ && bitmap_->HasAlphaChannel();
    const bool covers = r.DestX == 0 && r.DestY == 0 && r.DestWidth >= back_.width() &&
                        r.DestHeight >= back_.height();
    if (!covers || alphaBlends) FillBackground();
    TImBitmap::TRenderArgs a;
    a.DestRowCache = &backRows_;
    a.FreeTables = false;
    a.Filter = zoom_ != 100.0 && !delayActive_ ? zoomFilter_ : rfNone;
    a.Opacity = 255;
    a.OpCode = 0;
    a.AlphaEnable = enableAlpha_;
    a.RowDuplication = backgroundStyle_ == imbsSolid;
    a.SrcX = r.SrcX;
    a.SrcY = r.SrcY;
    a.SrcWidth = r.SrcWidth;
    a.SrcHeight = r.SrcHeight;
    a.DestX = r.DestX;
    a.DestY = r.DestY;
    a.DestWidth = r.DestWidth;
    a.DestHeight = r.DestHeight;
    a.ColumnCache = &columnTable_;
    a.RowCache = &rowTable_;
    // Back-buffer column x shows zoomed column ScrollX + (x - DestX).
    a.ColumnCacheOffset = scrollX_ - r.DestX;
    a.RowCacheOffset = scrollY_ - r.DestY;
    bitmap_->Render(back_, a);
    drawn = true;
  }
  if (!drawn) FillBackground();
}

const QImage& TImageView::BackBuffer() {
  const int vw = ViewWidth(), vh = ViewHeight();
  if (vw <= 0 || vh <= 0) return back_;
  if (back_.width() != vw || back_.height() != vh || back_.format() != QImage::Format_BGR888) {
    back_ = QImage(vw, vh, QImage::Format_BGR888);
    back_.fill(ToQColor(ResolvedBackground()));
    backRows_.clear();
    dirty_ = true;
  }
  if (dirty_ && paintLock_ == 0) {
    RenderBackBuffer();
    dirty_ = false;
  }
  return back_;
}

void TImageView::UnlockPaint() {
  if (paintLock_ > 0 && --paintLock_ == 0 && HasParentWindow()) update();
}

void TImageView::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  PaintBorder(p);
  const int vw = ViewWidth(), vh = ViewHeight();
  if (!HasParentWindow() || vw <= 0 || vh <= 0) return;
  const QRect client = contentsRect();
  QRect area = fullRepaint_ ? QRect(0, 0, vw, vh) : event->rect().translated(-client.topLeft()) & QRect(0, 0, vw, vh);
  if (area.isEmpty()) area = QRect(0, 0, vw, vh);
  if (paintLock_ > 0 && back_.isNull()) return;
  if (paintLock_ == 0) BackBuffer();
  if (back_.isNull()) return;
  const int w = std::min(area.width(), vw), h = std::min(area.height(), vh);
  p.drawImage(client.topLeft() + area.topLeft(), back_, QRect(area.topLeft(), QSize(w, h)));
  fullRepaint_ = false;
  if (OnPaint) OnPaint();
}

void TImageView::resizeEvent(QResizeEvent* event) {
  TImView::resizeEvent(event);
  FollowControlSize();
  Update();
}

void TImageView::wheelEvent(QWheelEvent* event) {
  // A fitted view has no zoom of its own: the wheel goes on to the window.
  if (autoFit_) {
    event->ignore();
    return;
  }
  wheelRemainder_ += event->angleDelta().y();
  const int notches = wheelRemainder_ / QWheelEvent::DefaultDeltasPerStep;
  wheelRemainder_ -= notches * QWheelEvent::DefaultDeltasPerStep;
  // Away from the user (positive) zooms out, toward the user zooms in.
  for (int i = 0; i < std::abs(notches); ++i) {
    const double step = std::max(RoundEven(8.0 * zoom_ / 100.0), 1);
    SetZoom(notches > 0 ? zoom_ - step : zoom_ + step);
  }
  event->accept();
}

void TImageView::mousePressEvent(QMouseEvent* event) {
  // Focus on click, so that wheel and keys reach the view.
  if (focusPolicy() != Qt::NoFocus && isEnabled()) setFocus(Qt::MouseFocusReason);
  TImView::mousePressEvent(event);
}

void TImageView::mouseDoubleClickEvent(QMouseEvent* event) {
  TImView::mouseDoubleClickEvent(event);
  if (OnDblClick) OnDblClick();
  emit doubleClicked();
}

// ---------------------------------------------------------------- TImageBox

TImageBox::TImageBox(QWidget* parent)
    : TImageView(parent), io_(std::make_unique<TImageIO>()), proc_(std::make_unique<TImageProc>()) {
  io_->SetAttachedView(this);
  proc_->SetAttachedView(this);
  Subscribe(io_.get(), [this](int code) { io_->SetAttachedView(code == 0 ? this : nullptr); });
  Subscribe(proc_.get(), [this](int code) { proc_->SetAttachedView(code == 0 ? this : nullptr); });
}

TImageBox::~TImageBox() {
  Unsubscribe(io_.get());
  Unsubscribe(proc_.get());
  io_->SetAttachedView(nullptr);
  proc_->SetAttachedView(nullptr);
}

bool TImageBox::LoadFromFile(const std::string& fileNameBytes) {
  try {
    io_->LoadFromFile(fileNameBytes);
  } catch (const TImOpenError&) {
    return false;
  } catch (const TImMetafileError&) {
    return false;
  }
  return !io_->Aborting;
}

void TImageBox::Resample(int width, int height, TResampleFilter filter) { proc_->Resample(width, height, filter); }

void TImageBox::Clear() {
  if (proc_->AutoUndo) proc_->SaveUndoCaptioned("Clear");
  ViewBitmap()->Fill(static_cast<double>(proc_->Background()));
  Update();
  ViewImageChange();
}

TIOParams& TImageBox::IOParams() { return io_->Params(); }
bool TImageBox::AutoUndo() const { return proc_->AutoUndo; }
void TImageBox::SetAutoUndo(bool on) { proc_->AutoUndo = on; }

// ---------------------------------------------------------------- attaching

void AttachToView(TImageIO& io, TImageView* view) {
  if (auto* old = dynamic_cast<TImageView*>(io.AttachedView())) old->Unsubscribe(&io);
  io.SetAttachedView(view);
  if (view)
    view->Subscribe(&io, [&io, view](int code) {
      io.SetAttachedView(code == 0 ? view : nullptr);
    });
}

void AttachToView(TImageProc& proc, TImageView* view) {
  if (auto* old = dynamic_cast<TImageView*>(proc.AttachedView())) old->Unsubscribe(&proc);
  proc.SetAttachedView(view);
  if (view) view->Subscribe(&proc, [&proc, view](int code) { proc.SetAttachedView(code == 0 ? view : nullptr); });
}
