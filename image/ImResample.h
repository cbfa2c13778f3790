#pragma once
// Resampling routines shared by TImageProc::Resample and Render.

#include <functional>

#include "image/ImBitmap.h"

// Reports a percentage; may be empty.
using TImPercentFn = std::function<void(int percent)>;

// Nearest-pixel copy of src into dst (already allocated W x H in src's format).
void ImResampleNearest(TImBitmap& src, TImBitmap& dst, const TImPercentFn& progress);
// rfFastLinear: im24bgr src into im24bgr dst (already allocated W x H).
void ImResampleFastLinear24(TImBitmap& src, TImBitmap& dst, const TImPercentFn& progress);
// Bilevel filtered path: im1bit src into im24bgr dst (already allocated W x H).
void ImResampleBilevel(TImBitmap& src, TImBitmap& dst, const TImPercentFn& progress);
// Bilevel box reduction of src rectangle (x0,y0)-(x1,y1) into im24bgr dst (W x H).
void ImBilevelBoxReduce(TImBitmap& src, int x0, int y0, int x1, int y1, TImBitmap& dst);
// Filtered resampling by filter into dst (allocated W x H, im24bgr), used by
// Render for the visible rectangle.
void ImResampleFiltered(TImBitmap& src, TImBitmap& dst, TResampleFilter filter, const TImPercentFn& progress);
