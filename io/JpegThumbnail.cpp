#include "io/JpegThumbnail.h"

#include <cstring>
#include <vector>

#include "image/ImBitmap.h"
#include "image/ImResample.h"
#include "io/ImageIO.h"
#include "io/JpegDecoder.h"
#include "io/JpegReader.h"

namespace {

// Takes the rows the stretch samples and drops the others undecoded.
class TSampleSink : public TJpegRowSink {
 public:
  TSampleSink(TImBitmap& thumb, int srcW, int srcH, const std::atomic<bool>* cancel)
      : thumb_(thumb), cols_(ImNearestIndices(srcW, thumb.Width())), rows_(ImNearestIndices(srcH, thumb.Height())),
        row_(static_cast<size_t>(srcW) * 3), cancel_(cancel) {}

  uint8_t* RowBuffer(int y) override {
    // rows_ never decreases; skip the thumbnail rows already filled.
    while (next_ < rows_.size() && rows_[next_] < y) ++next_;
    return next_ < rows_.size() && rows_[next_] == y ? row_.data() : nullptr;
  }

  int SkipCount(int y) override {
    return next_ < rows_.size() ? rows_[next_] - y : static_cast<int>(0x7FFFFFFF);
  }

  bool RowDone(int y) override {
    for (; next_ < rows_.size() && rows_[next_] == y; ++next_) {
      uint8_t* d = thumb_.Scanline(static_cast<int>(next_));
      if (!d) return false;
      for (size_t i = 0; i < cols_.size(); ++i) std::memcpy(d + 3 * i, row_.data() + 3 * static_cast<size_t>(cols_[i]), 3);
    }
    return !(cancel_ && cancel_->load(std::memory_order_relaxed));
  }

  // Every thumbnail row was filled.
  bool Complete() const { return next_ == rows_.size(); }

 private:
  TImBitmap& thumb_;
  std::vector<int> cols_, rows_;
  std::vector<uint8_t> row_;
  size_t next_ = 0;
  const std::atomic<bool>* cancel_;
};

}  // namespace

TJpegThumbnailResult ReadJpegThumbnail(const std::string& fileName, int width, int height, TImBitmap& thumb,
                                       const std::atomic<bool>* cancel) {
  TJpegThumbnailResult result;
  if (width <= 0 || height <= 0) return result;
  const std::vector<uint8_t> data = TImageIO::ReadWholeFile(fileName);
  TImStream stream(data);
  const int64_t start = FindJpegStart(stream);
  if (start < 0 || !stream.Seek(start)) return result;
  bool aborting = false;
  TJpegDecoder dec(stream, nullptr, &aborting);
  if (!dec.ReadHeader()) return result;
  // The loader's defaults: the accurate integer transform at full size.
  TJpegStartOptions options;
  options.DctMethod = 0;
  options.ScaleDenominator = 1;
  if (!dec.Start(options) || aborting) return result;
  const int w = dec.OutputWidth(), h = dec.OutputHeight();
  if (w <= 0 || h <= 0) return result;
  thumb.Allocate(width, height, im24bgr);
  if (thumb.Width() != width || thumb.Height() != height) return result;
  TSampleSink sink(thumb, w, h, cancel);
  if (!dec.ReadRows(sink) || aborting || dec.RowsRead() < h || !sink.Complete()) return result;
  if (dec.WarningCount() > 0) return result;
  dec.Finish();
  result.Done = true;
  result.Width = w;
  result.Height = h;
  return result;
}
