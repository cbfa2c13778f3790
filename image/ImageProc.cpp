#include "image/ImageProc.h"

#include "image/ImAttachedView.h"

TImageProc::TImageProc() : own_(std::make_unique<TImBitmap>()) {}

TImageProc::~TImageProc() = default;

void TImageProc::SetAttachedView(TImAttachedView* view) {
  view_ = view;
  external_ = nullptr;
}

void TImageProc::SetAttachedBitmap(TImBitmap* bitmap) {
  view_ = nullptr;
  external_ = bitmap;
}

TImBitmap* TImageProc::Bitmap() {
  if (view_) return view_->ViewBitmap();
  if (external_) return external_;
  return own_.get();
}

TColor TImageProc::Background() { return view_ ? view_->ViewBackground() : background_; }

void TImageProc::DoProgress(int percent) {
  if (OnProgress) OnProgress(this, percent);
}

void TImageProc::SaveUndoCaptioned(const std::string& caption) {
  TImBitmap* b = Bitmap();
  if (!b || UndoLimit <= 0) return;
  auto copy = std::make_unique<TImBitmap>();
  copy->Assign(*b);
  undo_.emplace_back(caption, std::move(copy));
  while (static_cast<int>(undo_.size()) > UndoLimit) undo_.pop_front();
}

double TImageProc::ComputeSimilarity(TImBitmap& other, TImBitmap* diffMap) {
  TImBitmap* self = Bitmap();
  if (!self) return 0.0;
  if (self->PixelFormat() != im24bgr) return 0.0;
  if (other.PixelFormat() != im24bgr) return 0.0;
  const int w = self->Width(), h = self->Height();
  if (w != other.Width()) return 0.0;
  if (h != other.Height()) return 0.0;
  // No pixels: nothing to compare (and no division by zero).
  if (w <= 0 || h <= 0) return 0.0;
  const bool sameStore = self == &other;
  std::vector<uint8_t> rowA(static_cast<size_t>(w) * 3);
  double acc = 1.0;
  for (int y = 0; y < h; ++y) {
    // Copy the first row out: a temp-file row is valid only until the next
    // request on the same buffer.
    const uint8_t* a = self->Scanline(y);
    if (!a) return 0.0;
    std::copy(a, a + rowA.size(), rowA.begin());
    const uint8_t* b = sameStore ? rowA.data() : other.Scanline(y);
    if (!b) return 0.0;
    uint8_t* map = nullptr;
    if (diffMap && y < diffMap->Height()) map = diffMap->Scanline(y);
    const int mapW = diffMap ? diffMap->Width() : 0;
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = rowA.data() + 3 * x;
      const uint8_t* q = b + 3 * x;
      const int ga = (21 * p[2] + 71 * p[1] + 8 * p[0]) / 100;
      const int gb = (21 * q[2] + 71 * q[1] + 8 * q[0]) / 100;
      const int d = ga > gb ? ga - gb : gb - ga;
      // The quotient and the sum are formed in extended precision; the
      // accumulator is stored back as a double after every pixel.
      acc = static_cast<double>(static_cast<long double>(acc) + static_cast<long double>(d) / 255.0L);
      if (map && x < mapW) map[x] = static_cast<uint8_t>(d);
    }
  }
  const int32_t n = static_cast<int32_t>(static_cast<uint32_t>(w) * static_cast<uint32_t>(h));
  return 1.0 - acc / n;
}
