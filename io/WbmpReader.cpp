// Wireless bitmap reader (type 0: uncompressed bilevel, 1 = white).
#include "io/ImageIO.h"

namespace {

// A multi-byte integer of the wireless formats: seven bits per byte, most
// significant group first, bit 7 set on every byte but the last. Sizes of 128
// and more take two bytes or more. -1 when the value is cut short or does not
// fit in 31 bits.
int64_t ReadMultiByte(TImStream& s) {
  int64_t v = 0;
  for (int i = 0; i < 5; ++i) {
    if (s.AtEnd()) return -1;
    const uint8_t b = s.U8();
    v = (v << 7) | (b & 0x7F);
    if (!(b & 0x80)) return v <= 2147483647 ? v : -1;
  }
  return -1;
}

void ReadWbmp(TImStream& s, TImBitmap& bitmap, TIOParams& p, TLoadProgress& progress) {
  const uint8_t type = s.U8();
  const uint8_t fixed = s.U8();
  if (s.Failed() || type != 0 || fixed != 0) {
    progress.Abort();
    return;
  }
  const int64_t width = ReadMultiByte(s);
  const int64_t height = ReadMultiByte(s);
  p.BitsPerSample = 1;
  p.SamplesPerPixel = 1;
  p.Width = static_cast<int32_t>(width);
  p.Height = static_cast<int32_t>(height);
  p.SetDpiX(ImDefaultDpiX);
  p.SetDpiY(ImDefaultDpiY);
  p.FreeColorMap();
  // A zero, missing or oversized dimension leaves nothing to decode; the
  // target keeps its previous image.
  if (!ImSizeDescribable(width, height, 1, s.Remaining())) {
    progress.Abort();
    return;
  }
  progress.PerUnit = 100.0 / height;
  const int w = static_cast<int>(width), h = static_cast<int>(height);
  bitmap.Allocate(w, h, im1bit);
  const size_t rowBytes = (static_cast<size_t>(w) + 7) / 8;
  // Rows the file does not reach stay black (0), and the load counts as failed.
  for (int y = 0; y < h; ++y) {
    if (s.Read(bitmap.Scanline(y), rowBytes) < rowBytes) {
      progress.Abort();
      break;
    }
    progress.Report(y);
  }
}

}  // namespace

void TImageIO::LoadFromFileWbmp(const std::string& fileName) {
  TLoadOptions options;
  options.FileType = ioWBMP;
  options.ViewResolution = false;
  options.AdjustDpiStep = false;
  RunFormatLoad(fileName, options, [this](TImStream& stream, TLoadProgress& progress, std::unique_ptr<TImMask>&) {
    ReadWbmp(stream, *Bitmap(), Params(), progress);
  });
}
