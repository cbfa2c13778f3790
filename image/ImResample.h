#pragma once
// Resampling routines shared by TImageProc::Resample and Render.
//
// Every routine takes a source and a destination that is already allocated at
// the target size; a destination of a format the routine does not produce is
// left as it is. None of them reads or writes outside either buffer.

#include <cstdint>
#include <functional>
#include <vector>

#include "image/ImBitmap.h"

// Reports a percentage; may be empty.
using TImPercentFn = std::function<void(int percent)>;

// The source index the nearest-pixel copy takes for each destination index
// when a dimension of srcSize is stretched to dstSize (empty when either is
// not positive).
std::vector<int> ImNearestIndices(int srcSize, int dstSize);
// Nearest-pixel copy of src into dst (same pixel format, W x H).
void ImResampleNearest(TImBitmap& src, TImBitmap& dst, const TImPercentFn& progress);
// rfFastLinear: im24bgr into im24bgr, or im8gray into im8gray (alpha channels).
void ImResampleFastLinear(TImBitmap& src, TImBitmap& dst, const TImPercentFn& progress);
// Bilevel filtered path: im1bit src into im24bgr dst of gray pixels.
void ImResampleBilevel(TImBitmap& src, TImBitmap& dst, const TImPercentFn& progress);
// Bilevel box reduction of the src rectangle (x0,y0)-(x1,y1) (inclusive) into
// an im24bgr dst: each pixel is the share of white pixels in its box.
void ImBilevelBoxReduce(TImBitmap& src, int x0, int y0, int x1, int y1, TImBitmap& dst);
// Separable weighted-kernel resampling (im24bgr or im8gray, same format in
// dst) for rfTriangle .. rfLinear, rfBilinear and rfBicubic; see
// ImResampleFiltered.cpp for the kernels.
void ImResampleKernel(TImBitmap& src, TImBitmap& dst, TResampleFilter filter, const TImPercentFn& progress);
// Resampling with a filter: im1bit sources take the bilevel path (dst must be
// im24bgr); im24bgr and im8gray sources take rfFastLinear or the kernel
// resampler; the other formats, and rfNone, use the nearest-pixel copy.
void ImResampleFiltered(TImBitmap& src, TImBitmap& dst, TResampleFilter filter, const TImPercentFn& progress);

// Alpha values of row y of an alpha channel, as bytes (0 transparent, 255
// opaque), for columns 0 .. width - 1. Columns or rows the channel does not
// have read as 255. Works for every pixel format.
void ImReadAlphaRow(TImBitmap& alpha, int y, int width, uint8_t* out);
