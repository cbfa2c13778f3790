// The image view: fit and centring, the rectangles handed to Render, the
// back buffer, the wheel zoom and Clear.
#include <gtest/gtest.h>

#include <QApplication>
#include <QWheelEvent>
#include <QWidget>

#include <cmath>

#include "image/ImageProc.h"
#include "io/ImageIO.h"
#include "view/ImageView.h"

namespace {

constexpr TColor kBlue = 0xFF0000;  // toolkit colour: red in the low byte

// Fills a view's buffer with a plain 24-bit image of one colour (bytes b, g, r).
void SetPlainImage(TImageView& view, int w, int h, uint8_t b, uint8_t g, uint8_t r) {
  TImBitmap* bmp = view.ViewBitmap();
  bmp->Allocate(w, h, im24bgr);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = bmp->Scanline(y);
    for (int x = 0; x < w; ++x) {
      row[3 * x] = b;
      row[3 * x + 1] = g;
      row[3 * x + 2] = r;
    }
  }
  // As a loader finishes: layout, then the image-changed notification.
  view.Update();
  view.ViewImageChange();
}

QRgb Pixel(const QImage& img, int x, int y) { return img.pixel(x, y) | 0xFF000000u; }

// The compare window's view: 687 x 501 outer, 683 x 497 client.
struct PreviewLike {
  QWidget parent;
  TImageBox* view = new TImageBox(&parent);
  PreviewLike() {
    parent.resize(687, 542);
    view->setGeometry(0, 0, 687, 501);
    view->SetAutoFit(true);
    view->SetAutoShrink(true);
    view->SetZoomFilter(rfFastLinear);
    view->SetAutoUndo(false);
    view->SetBackground(kBlue);
  }
};

void SendWheel(QWidget* w, int deltaY, bool* accepted = nullptr) {
  const QPointF pos(w->width() / 2.0, w->height() / 2.0);
  QWheelEvent e(pos, w->mapToGlobal(pos), QPoint(), QPoint(0, deltaY), Qt::NoButton, Qt::NoModifier,
                Qt::NoScrollPhase, false);
  QApplication::sendEvent(w, &e);
  if (accepted) *accepted = e.isAccepted();
}

}  // namespace

TEST(ImageView, FitZoomDrawnSizeAndOffsets) {
  struct Case {
    int w, h;
    double zoom;
    int drawnW, drawnH, offX, offY, destW, destH;
  } cases[] = {
      // Reduced: both ratios from the outer size minus twice the 2-pixel edge.
      {1600, 1200, 497.0 * 100 / 1200, 663, 497, 10, 0, 663, 497},
      // Enlarged: 50 x 6.83 = 341.5 rounds to 342 (half to even) for the
      // layout but truncates to 341 for the destination.
      {100, 50, 683, 683, 342, 0, 77, 683, 341},
      // Exactly the client size: shown at 100 %.
      {683, 497, 100, 683, 497, 0, 0, 683, 497},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << " x " << c.h);
    PreviewLike f;
    ASSERT_EQ(f.view->ViewWidth(), 683);
    ASSERT_EQ(f.view->ViewHeight(), 497);
    SetPlainImage(*f.view, c.w, c.h, 0, 0, 255);
    EXPECT_NEAR(f.view->Zoom(), c.zoom, 1e-9);
    EXPECT_EQ(f.view->DrawnWidth(), c.drawnW);
    EXPECT_EQ(f.view->DrawnHeight(), c.drawnH);
    EXPECT_EQ(f.view->OffsetX(), c.offX);
    EXPECT_EQ(f.view->OffsetY(), c.offY);
    const TImageView::TPaintRects r = f.view->PaintRects();
    EXPECT_EQ(r.DestX, c.offX);
    EXPECT_EQ(r.DestY, c.offY);
    EXPECT_EQ(r.DestWidth, c.destW);
    EXPECT_EQ(r.DestHeight, c.destH);
    EXPECT_EQ(r.SrcX, 0);
    EXPECT_EQ(r.SrcY, 0);
    EXPECT_EQ(r.SrcWidth, c.w);
    EXPECT_EQ(r.SrcHeight, c.h);
  }
}

TEST(ImageView, BackBufferShowsImageAndBackgroundAroundIt) {
  const QRgb blue = qRgb(0, 0, 255), red = qRgb(255, 0, 0);
  {
    // 100 x 50 enlarged to 683 x 341 at y 77: the row under it (the last row
    // of the 342-row layout) and the rows above are background.
    PreviewLike f;
    SetPlainImage(*f.view, 100, 50, 0, 0, 255);
    const QImage& back = f.view->BackBuffer();
    ASSERT_EQ(back.size(), QSize(683, 497));
    EXPECT_EQ(Pixel(back, 341, 76), blue);
    EXPECT_EQ(Pixel(back, 341, 77), red);
    EXPECT_EQ(Pixel(back, 0, 417), red);
    EXPECT_EQ(Pixel(back, 682, 417), red);
    EXPECT_EQ(Pixel(back, 341, 418), blue);
    EXPECT_FALSE(f.view->BackBufferDirty());
  }
  {
    // 1600 x 1200 reduced: columns 0..9 and 673.. are background.
    PreviewLike f;
    SetPlainImage(*f.view, 1600, 1200, 0, 0, 255);
    const QImage& back = f.view->BackBuffer();
    EXPECT_EQ(Pixel(back, 9, 200), blue);
    EXPECT_EQ(Pixel(back, 10, 200), red);
    EXPECT_EQ(Pixel(back, 672, 0), red);
    EXPECT_EQ(Pixel(back, 672, 496), red);
    EXPECT_EQ(Pixel(back, 673, 200), blue);
  }
  {
    // Same size as the client area: a 1:1 copy, every pixel as in the image.
    PreviewLike f;
    SetPlainImage(*f.view, 683, 497, 0, 0, 0);
    TImBitmap* b = f.view->ViewBitmap();
    for (int y = 0; y < 497; ++y)
      for (int x = 0; x < 683; ++x) b->Scanline(y)[3 * x] = static_cast<uint8_t>(x * 7 + y * 3);
    f.view->Update();
    const QImage& back = f.view->BackBuffer();
    bool same = true;
    for (int y = 0; y < 497 && same; ++y)
      for (int x = 0; x < 683 && same; ++x) same = qBlue(back.pixel(x, y)) == static_cast<uint8_t>(x * 7 + y * 3);
    EXPECT_TRUE(same);
  }
}

TEST(ImageView, BackBufferRendersOnlyWhenDirty) {
  PreviewLike f;
  SetPlainImage(*f.view, 100, 50, 0, 0, 255);
  f.view->BackBuffer();
  const int renders = f.view->RenderCount();
  f.view->BackBuffer();
  EXPECT_EQ(f.view->RenderCount(), renders);
  f.view->Update();
  f.view->BackBuffer();
  EXPECT_EQ(f.view->RenderCount(), renders + 1);
}

TEST(ImageView, ResizeRefitsAtOnce) {
  PreviewLike f;
  f.parent.show();
  SetPlainImage(*f.view, 1600, 1200, 0, 0, 255);
  EXPECT_NEAR(f.view->Zoom(), 497.0 * 100 / 1200, 1e-9);
  f.view->setGeometry(0, 0, 404, 304);  // client 400 x 300: 400 / 16 = 25 %
  EXPECT_NEAR(f.view->Zoom(), 25.0, 1e-9);
  EXPECT_EQ(f.view->DrawnWidth(), 400);
  EXPECT_EQ(f.view->DrawnHeight(), 300);
}

// The main window's small views: 210 x 136 outer, the image resampled to the
// client size, no AutoFit.
struct SmallView {
  QWidget parent;
  TImageView* view = new TImageView(&parent);
  SmallView() {
    parent.resize(300, 200);
    view->setGeometry(0, 0, 210, 136);
  }
};

TEST(ImageView, WheelZoomsAroundTheCentre) {
  SmallView f;
  ASSERT_EQ(f.view->ViewWidth(), 206);
  ASSERT_EQ(f.view->ViewHeight(), 132);
  SetPlainImage(*f.view, 206, 132, 10, 20, 30);
  ASSERT_EQ(f.view->Zoom(), 100);
  const double cx = 206 / 2, cy = 132 / 2;
  SendWheel(f.view, -120);  // one notch toward the user
  EXPECT_EQ(f.view->Zoom(), 108);
  // The image point under the centre is still the one that was there.
  EXPECT_NEAR((cx + f.view->ScrollX() - f.view->OffsetX()) / f.view->Scale(), cx, 1.0);
  EXPECT_NEAR((cy + f.view->ScrollY() - f.view->OffsetY()) / f.view->Scale(), cy, 1.0);
  EXPECT_GT(f.view->ScrollX(), 0);
  SendWheel(f.view, 120);  // and back out: step Round(8 x 1.08) = 9
  EXPECT_EQ(f.view->Zoom(), 99);
}

TEST(ImageView, WheelAtZoomOneStaysAndFittedViewIgnoresWheel) {
  SmallView f;
  SetPlainImage(*f.view, 206, 132, 10, 20, 30);
  f.view->SetZoom(1);
  SendWheel(f.view, 120);  // zoom out: 1 - max(Round(0.08), 1) = 0 is ignored
  EXPECT_EQ(f.view->Zoom(), 1);
  f.view->SetZoom(0);
  f.view->SetZoom(-5);
  EXPECT_EQ(f.view->Zoom(), 1);

  PreviewLike p;
  SetPlainImage(*p.view, 1600, 1200, 0, 0, 255);
  const double z = p.view->Zoom();
  bool accepted = true;
  SendWheel(p.view, -120, &accepted);
  EXPECT_EQ(p.view->Zoom(), z);
  EXPECT_FALSE(accepted);  // goes on to the window
}

TEST(ImageView, ClearKeepsSizeAndFillsBackground) {
  SmallView f;
  f.view->SetBackground(0x336699);  // r 0x99, g 0x66, b 0x33
  SetPlainImage(*f.view, 206, 132, 1, 2, 3);
  f.view->ViewBitmap()->AlphaChannel();
  f.view->Clear();
  TImBitmap* b = f.view->ViewBitmap();
  EXPECT_EQ(b->Width(), 206);
  EXPECT_EQ(b->Height(), 132);
  EXPECT_EQ(b->PixelFormat(), im24bgr);
  EXPECT_FALSE(b->HasAlphaChannel());
  const uint8_t* row = b->Scanline(131);
  EXPECT_EQ(row[3 * 205], 0x33);  // blue, green, red
  EXPECT_EQ(row[3 * 205 + 1], 0x66);
  EXPECT_EQ(row[3 * 205 + 2], 0x99);
}

TEST(ImageView, UnloadedViewShowsBackgroundImageOfItsSize) {
  QWidget parent;
  auto* view = new TImageView(&parent);
  parent.show();
  view->setGeometry(0, 0, 210, 136);
  QApplication::processEvents();
  EXPECT_EQ(view->ViewBitmap()->Width(), 210);
  EXPECT_EQ(view->ViewBitmap()->Height(), 136);
  EXPECT_EQ(view->ViewBitmap()->Location(), imTBitmap);
  EXPECT_NE(view->ToolkitBitmap(), nullptr);
}

TEST(ImageView, ViewWithoutParentComputesWith50) {
  TImageBox box;
  box.resize(64, 64);
  EXPECT_EQ(box.ViewWidth(), 50);
  EXPECT_EQ(box.ViewHeight(), 50);
}

TEST(ImageView, OneByOneImageShowsOnlyBackground) {
  PreviewLike f;
  SetPlainImage(*f.view, 1, 1, 0, 0, 255);
  const QImage& back = f.view->BackBuffer();
  EXPECT_EQ(Pixel(back, 341, 248), qRgb(0, 0, 255));
}

TEST(ImageView, OutsideLoaderForgetsDestroyedView) {
  TImageIO io;
  TImageProc proc;
  {
    QWidget parent;
    auto* view = new TImageView(&parent);
    AttachToView(io, view);
    AttachToView(proc, view);
    EXPECT_EQ(io.Bitmap(), view->ViewBitmap());
    EXPECT_EQ(proc.Bitmap(), view->ViewBitmap());
  }
  EXPECT_EQ(io.AttachedView(), nullptr);
  EXPECT_EQ(proc.AttachedView(), nullptr);
  ASSERT_NE(io.Bitmap(), nullptr);
  io.Bitmap()->Allocate(2, 2, im24bgr);  // its own buffer again, usable
}

TEST(ImageView, BufferReplacementKeepsPixelsAndReattachesComponents) {
  // The loader outlives the view it is subscribed to.
  TImageIO io;
  SmallView f;
  AttachToView(io, f.view);
  SetPlainImage(*f.view, 20, 10, 7, 8, 9);
  f.view->SetLegacyBitmap(false);
  EXPECT_EQ(f.view->ToolkitBitmap(), nullptr);
  EXPECT_NE(f.view->ViewBitmap()->Location(), imTBitmap);
  EXPECT_EQ(io.Bitmap(), f.view->ViewBitmap());  // followed the new buffer
  f.view->SetLegacyBitmap(true);
  ASSERT_NE(f.view->ToolkitBitmap(), nullptr);
  TImBitmap* b = f.view->ViewBitmap();
  EXPECT_EQ(b->Location(), imTBitmap);
  EXPECT_EQ(io.Bitmap(), b);
  ASSERT_EQ(b->Width(), 20);
  EXPECT_EQ(b->Scanline(9)[3 * 19 + 2], 9);
  EXPECT_EQ(f.view->ToolkitBitmap()->width(), 20);
}

TEST(ImageView, ClickTakesFocusAndDoubleClickIsReported) {
  QWidget window;
  auto* other = new QWidget(&window);
  other->setFocusPolicy(Qt::StrongFocus);
  auto* view = new TImageView(&window);
  view->setGeometry(0, 0, 210, 136);
  other->setGeometry(0, 140, 50, 20);
  int dbl = 0, sig = 0;
  view->OnDblClick = [&] { ++dbl; };
  QObject::connect(view, &TImageView::doubleClicked, [&] { ++sig; });
  window.show();
  window.activateWindow();
  other->setFocus();
  QApplication::processEvents();
  ASSERT_EQ(QApplication::focusWidget(), other);
  const QPointF at(20, 20);
  QMouseEvent press(QEvent::MouseButtonPress, at, view->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(view, &press);
  EXPECT_EQ(QApplication::focusWidget(), view);
  QMouseEvent dc(QEvent::MouseButtonDblClick, at, view->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                 Qt::NoModifier);
  QApplication::sendEvent(view, &dc);
  EXPECT_EQ(dbl, 1);
  EXPECT_EQ(sig, 1);
}

TEST(ImageView, ImageBoxClearSavesUndoOnlyWithAutoUndo) {
  for (bool autoUndo : {true, false}) {
    SCOPED_TRACE(autoUndo);
    QWidget parent;
    auto* box = new TImageBox(&parent);
    box->setGeometry(0, 0, 210, 136);
    box->SetAutoUndo(autoUndo);
    box->SetBackground(clWhite);
    SetPlainImage(*box, 30, 20, 1, 2, 3);
    int changes = 0;
    box->OnImageChange = [&] { ++changes; };
    box->Clear();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(box->ViewBitmap()->Width(), 30);
    EXPECT_EQ(box->ViewBitmap()->Scanline(0)[0], 255);
    ASSERT_EQ(box->Proc().UndoCount(), autoUndo ? 1 : 0);
    if (autoUndo) {
      EXPECT_EQ(box->Proc().UndoCaption(0), "Clear");
      EXPECT_EQ(box->Proc().UndoImage(0)->Scanline(0)[0], 1);
    }
  }
}

TEST(ImageView, ImageBoxLoadsAndResamples) {
  PreviewLike f;
  const std::string tga = std::string(TARVELLE_FIXTURES) + "/tga/rgb24.tga";
  ASSERT_TRUE(f.view->LoadFromFile(tga));
  const int w = f.view->IOParams().Width, h = f.view->IOParams().Height;
  EXPECT_EQ(f.view->ViewBitmap()->Width(), w);
  EXPECT_EQ(f.view->ViewBitmap()->Height(), h);
  f.view->Resample(64, 64, rfNone);
  EXPECT_EQ(f.view->ViewBitmap()->Width(), 64);
  // A file that is not there: false, the image stays.
  EXPECT_FALSE(f.view->LoadFromFile("/nonexistent/x.tga"));
  EXPECT_EQ(f.view->ViewBitmap()->Width(), 64);
}
