// Filtered resampling: placeholders until the filtered paths are written.
#include "image/ImResample.h"

void ImResampleFastLinear24(TImBitmap& src, TImBitmap& dst, const TImPercentFn& progress) {
  ImResampleNearest(src, dst, progress);
}
void ImResampleBilevel(TImBitmap& src, TImBitmap& dst, const TImPercentFn&) {
  (void)src;
  dst.Fill(0);
}
void ImBilevelBoxReduce(TImBitmap&, int, int, int, int, TImBitmap& dst) { dst.Fill(0); }
void ImResampleFiltered(TImBitmap& src, TImBitmap& dst, TResampleFilter, const TImPercentFn& progress) {
  ImResampleFastLinear24(src, dst, progress);
}
