#pragma once
// What the loader and the processor need from the view they are attached to.
// The core has no widgets; the image views implement this interface.

#include "image/ImTypes.h"

class TImBitmap;

class TImAttachedView {
 public:
  virtual ~TImAttachedView() = default;
  // The buffer the view shows; loads and processing write into it.
  virtual TImBitmap* ViewBitmap() = 0;
  // Sets the resolution; 0 leaves that value unchanged.
  virtual void SetViewResolution(int dpiX, int dpiY) = 0;
  // Recomputes layout and repaints.
  virtual void ViewUpdate() = 0;
  // Raises the view's image-changed notification.
  virtual void ViewImageChange() = 0;
  virtual TColor ViewBackground() = 0;
};
