#pragma once
// The image view controls.
//
// TImView is the base: a background colour, an optional sunken border and the
// list of components (loaders, processors) that want to hear when the image
// buffer is replaced or the view goes away.
//
// TImageView holds one TImBitmap and paints it fitted, centred and zoomed
// through TImBitmap::Render into a 24-bit back buffer that is re-rendered only
// when the layout or the image changed; exposures just copy the back buffer.
//
// TImageBox is a TImageView with its own loader and processor attached to it.

#include <QImage>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "image/ImAttachedView.h"
#include "image/ImBitmap.h"
#include "image/ImTypes.h"

class TImageIO;
class TImageProc;
struct TIOParams;

// How the area around the image is painted. Only imbsSolid is used; the two
// cropped styles change the fit margins.
enum TImBackgroundStyle {
  imbsSolid,
  imbsHorizontal,
  imbsVertical,
  imbsFDiagonal,
  imbsBDiagonal,
  imbsCross,
  imbsDiagCross,
  imbsChessboard,
  imbsDiagonals,
  imbsCropped,
  imbsCropShadow,
  imbsGradient,
};

enum TImBorderStyle { bsNone, bsSingle };

// Width and height of the sunken 3D edge, the metric the fit rules use.
inline constexpr int kImEdgeMetric = 2;

class TImView : public QWidget {
  Q_OBJECT
 public:
  explicit TImView(QWidget* parent = nullptr);
  ~TImView() override;

  // Colour of the area around the image and of Clear; a TColor, so it may be
  // a system colour code (default clBtnFace).
  TColor Background() const { return background_; }
  void SetBackground(TColor color);
  // The background as a plain red/green/blue value.
  TColor ResolvedBackground() const;

  // bsSingle with Ctl3D draws a sunken 2-pixel edge, without Ctl3D a
  // one-pixel line; bsNone draws none. The client area lies inside it.
  TImBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TImBorderStyle style);
  bool Ctl3D() const { return ctl3D_; }
  void SetCtl3D(bool on);
  // Thickness of the border on each side.
  int BorderThickness() const;

  // Subscriptions of attached components: the callback gets code 0 when the
  // image buffer is replaced and code 1 when the view is destroyed (the
  // component must then forget the view). One entry per component.
  using TViewNotify = std::function<void(int code)>;
  void Subscribe(void* component, TViewNotify callback);
  void Unsubscribe(void* component);
  int SubscriberCount() const { return static_cast<int>(subscribers_.size()); }

  std::function<void()> OnMouseEnter;
  std::function<void()> OnMouseLeave;

 protected:
  void NotifySubscribers(int code);
  // Called after the background changed.
  virtual void BackgroundChanged() {}
  // Paints the border around the client area.
  void PaintBorder(class QPainter& painter);
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void ApplyMargins();
  TColor background_ = clBtnFace;
  TImBorderStyle borderStyle_ = bsSingle;
  bool ctl3D_ = true;
  std::vector<std::pair<void*, TViewNotify>> subscribers_;
};

class TImageView : public TImView, public TImAttachedView {
  Q_OBJECT
 public:
  explicit TImageView(QWidget* parent = nullptr);
  ~TImageView() override;

  // The client size when the view has a parent window; 50 x 50 without one
  // (an invisible view made by code).
  int ViewWidth() const;
  int ViewHeight() const;

  // TImAttachedView.
  TImBitmap* ViewBitmap() override { return bitmap_.get(); }
  void SetViewResolution(int dpiX, int dpiY) override;
  void ViewUpdate() override { Update(); }
  void ViewImageChange() override;
  TColor ViewBackground() override { return Background(); }

  // The wrapped QImage the buffer keeps its pixels in (LegacyBitmap), or null.
  QImage* ToolkitBitmap() { return legacyBitmap_ ? toolkitBitmap_.get() : nullptr; }
  bool LegacyBitmap() const { return legacyBitmap_; }
  void SetLegacyBitmap(bool on);

  int DpiX() const { return dpiX_; }
  int DpiY() const { return dpiY_; }

  // Zoom in percent. Setting keeps the image point under the client centre in
  // place; values <= 0 and the current value are ignored.
  double Zoom() const { return zoom_; }
  void SetZoom(double value);
  double Scale() const { return scale_; }
  double InverseScale() const { return inverse_; }

  // Scroll position in zoomed pixels (the part scrolled off left and top).
  int ScrollX() const { return scrollX_; }
  int ScrollY() const { return scrollY_; }
  void SetScroll(int x, int y);
  int MaxScrollX() const { return maxX_; }
  int MaxScrollY() const { return maxY_; }

  bool Center() const { return center_; }
  void SetCenter(bool on);
  bool AutoFit() const { return autoFit_; }
  void SetAutoFit(bool on);
  bool AutoShrink() const { return autoShrink_; }
  void SetAutoShrink(bool on);
  bool AutoStretch() const { return autoStretch_; }
  void SetAutoStretch(bool on);
  TResampleFilter ZoomFilter() const { return zoomFilter_; }
  void SetZoomFilter(TResampleFilter filter);
  // When set, a zoom or scroll first repaints without the zoom filter; the
  // filtered picture follows once the event loop is idle.
  bool DelayZoomFilter() const { return delayZoomFilter_; }
  void SetDelayZoomFilter(bool on) { delayZoomFilter_ = on; }
  bool EnableAlphaChannel() const { return enableAlpha_; }
  void SetEnableAlphaChannel(bool on);
  TImBackgroundStyle BackgroundStyle() const { return backgroundStyle_; }
  void SetBackgroundStyle(TImBackgroundStyle style);
  // Kept for compatibility: painting always goes through the back buffer.
  bool DoubleBuffer = true;

  // Recomputes the layout from the image and the control size and schedules
  // a repaint.
  void Update();
  // Update as a queued call, for work finishing outside the current event.
  void PostUpdate();
  // Fills the image with the background colour, keeping size and format, and
  // drops its alpha channel.
  virtual void Clear();

  // Layout results of the last Update.
  int DrawnWidth() const { return drawnW_; }
  int DrawnHeight() const { return drawnH_; }
  int VisibleWidth() const { return visibleW_; }
  int VisibleHeight() const { return visibleH_; }
  int OffsetX() const { return offsetX_; }
  int OffsetY() const { return offsetY_; }
  // The source and destination rectangles Render gets (destination in client
  // coordinates).
  struct TPaintRects {
    int SrcX = 0, SrcY = 0, SrcWidth = 0, SrcHeight = 0;
    int DestX = 0, DestY = 0, DestWidth = 0, DestHeight = 0;
  };
  TPaintRects PaintRects();
  // Screen-to-image tables, indexed by the zoomed position.
  const std::vector<int>& ColumnTable() const { return columnTable_; }
  const std::vector<int>& RowTable() const { return rowTable_; }

  // The back buffer (client size, 24-bit), rendered if dirty. For tests and
  // for callers that want the picture without a screen.
  const QImage& BackBuffer();
  bool BackBufferDirty() const { return dirty_; }
  // How often the back buffer has been rendered.
  int RenderCount() const { return renderCount_; }

  // Rendering is skipped while locked.
  void LockPaint() { ++paintLock_; }
  void UnlockPaint();

  std::function<void()> OnDblClick;
  std::function<void()> OnImageChange;
  // Code 1 after a zoom change.
  std::function<void(int code)> OnViewChange;
  std::function<void()> OnPaint;

 signals:
  void doubleClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void BackgroundChanged() override;
  // Replaces the image buffer (subscribers hear code 0).
  void ReplaceBitmap(std::unique_ptr<TImBitmap> bitmap);

 private:
  struct TScrollRange {
    int MaxX = 0, MaxY = 0;
  };
  bool HasParentWindow() const;
  void FollowControlSize();
  void ComputeFit(int imgW, int imgH);
  TScrollRange ScrollRangeFor(int imgW, int imgH, double scale) const;
  void ComputeLayout(int imgW, int imgH);
  void RebuildTables(int imgW, int imgH);
  void RenderBackBuffer();
  void FillBackground();
  void WrapToolkitBitmap();
  void StartDelayedFilter();

  std::unique_ptr<TImBitmap> bitmap_;
  std::unique_ptr<QImage> toolkitBitmap_;
  bool legacyBitmap_ = true;
  int dpiX_ = 0, dpiY_ = 0;

  double zoom_ = 100.0, scale_ = 1.0, inverse_ = 1.0;
  int scrollX_ = 0, scrollY_ = 0, maxX_ = 0, maxY_ = 0;
  bool center_ = true, autoFit_ = false, autoShrink_ = false, autoStretch_ = false;
  TResampleFilter zoomFilter_ = rfNone;
  bool delayZoomFilter_ = false;
  bool delayActive_ = false;
  bool enableAlpha_ = false;
  TImBackgroundStyle backgroundStyle_ = imbsSolid;

  int lastImgW_ = -1, lastImgH_ = -1;
  int drawnW_ = 0, drawnH_ = 0, visibleW_ = 0, visibleH_ = 0, offsetX_ = 0, offsetY_ = 0;
  std::vector<int> columnTable_, rowTable_;
  double tableZoom_ = -1;
  int tableImgW_ = -1, tableImgH_ = -1, tableDrawnW_ = -1, tableDrawnH_ = -1;

  QImage back_;
  std::vector<uint8_t*> backRows_;
  bool dirty_ = true;
  bool fullRepaint_ = true;
  int paintLock_ = 0;
  int renderCount_ = 0;
  int wheelRemainder_ = 0;
  bool updatePosted_ = false;
  bool constructed_ = false;
  // Until something is loaded or processed, the image follows the control's
  // outer size and shows the background.
  bool followSize_ = true;
};

class TImageBox : public TImageView {
  Q_OBJECT
 public:
  explicit TImageBox(QWidget* parent = nullptr);
  ~TImageBox() override;

  // Loads a file through the embedded loader. A file that cannot be opened
  // leaves the view as it was and gives false; so does a file the reader
  // gave up on (Aborting set), which may leave a partly read image.
  bool LoadFromFile(const std::string& fileNameBytes);
  // Stretches the image through the embedded processor.
  void Resample(int width, int height, TResampleFilter filter);
  // The processor's clear: an undo copy "Clear" when AutoUndo is set, the
  // image filled with the background colour, Update and the image-changed
  // notification.
  void Clear() override;

  TIOParams& IOParams();
  TImageIO& IO() { return *io_; }
  TImageProc& Proc() { return *proc_; }
  bool AutoUndo() const;
  void SetAutoUndo(bool on);

 private:
  std::unique_ptr<TImageIO> io_;
  std::unique_ptr<TImageProc> proc_;
};

// Attaches an outside loader or processor to a view and subscribes it, so
// that it forgets the view when the view is destroyed (and follows a
// replaced buffer). A component that goes away before the view detaches
// first with nullptr.
void AttachToView(TImageIO& io, TImageView* view);
void AttachToView(TImageProc& proc, TImageView* view);
