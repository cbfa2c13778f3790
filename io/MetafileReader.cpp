// Metafile loader: recognises placeable Windows metafiles and enhanced
// metafiles, works out the pixel size, plays the records into a 24-bit raster
// filled with the background colour and derives the alpha channel from a
// second playback on a marker colour.
#include "io/MetafileReader.h"

#include <QImage>

#include <cstdlib>

#include "image/ImAttachedView.h"
#include "io/ImageIO.h"
#include "io/MetafilePlayer.h"

int32_t ImScreenPixelsPerInch = 96;

namespace {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr uint32_t kEmfSignature = 0x464D4520;
constexpr int kPlaceableSize = 22;
constexpr int kEmfHeaderSize = 100;
constexpr int32_t kMaxSide = 16000;
// Background of the second playback; pixels still holding it are transparent.
constexpr QRgb kAlphaMarker = 0xFF030201;  // red 3, green 2, blue 1

const char* const kNotValid = "Metafile is not valid";

bool ReadPlaceable(std::span<const uint8_t> data, TMetafileInfo& info) {
  if (data.size() < kPlaceableSize) return false;
  if (ImGetU32LE(data, 0) != kPlaceableKey) return false;
  uint16_t sum = 0;
  for (size_t i = 0; i < 10; ++i) sum ^= ImGetU16LE(data, 2 * i);
  if (sum != ImGetU16LE(data, 20)) return false;
  info.Enhanced = false;
  info.BoxLeft = static_cast<int16_t>(ImGetU16LE(data, 6));
  info.BoxTop = static_cast<int16_t>(ImGetU16LE(data, 8));
  info.BoxRight = static_cast<int16_t>(ImGetU16LE(data, 10));
  info.BoxBottom = static_cast<int16_t>(ImGetU16LE(data, 12));
  info.UnitsPerInch = ImGetU16LE(data, 14);
  const int32_t perInch = info.UnitsPerInch ? info.UnitsPerInch : 96;
  info.WidthHmm = ImMulDiv(int32_t(info.BoxRight) - info.BoxLeft, 2540, perInch);
  info.HeightHmm = ImMulDiv(int32_t(info.BoxBottom) - info.BoxTop, 2540, perInch);
  // The Windows metafile header: type 1 (memory) or 2 (disk), 9 words long.
  info.Records = data.subspan(kPlaceableSize);
  const uint16_t type = ImGetU16LE(info.Records, 0);
  const uint16_t headerWords = ImGetU16LE(info.Records, 2);
  return info.Records.size() >= 18 && (type == 1 || type == 2) && headerWords == 9;
}

bool ReadEnhanced(std::span<const uint8_t> data, TMetafileInfo& info) {
  const uint32_t headerSize = ImGetU32LE(data, 4);
  const uint32_t total = ImGetU32LE(data, 48);
  if (total > data.size() || headerSize < 88 || headerSize > total) return false;
  info.Enhanced = true;
  info.FrameLeft = static_cast<int32_t>(ImGetU32LE(data, 24));
  info.FrameTop = static_cast<int32_t>(ImGetU32LE(data, 28));
  info.FrameRight = static_cast<int32_t>(ImGetU32LE(data, 32));
  info.FrameBottom = static_cast<int32_t>(ImGetU32LE(data, 36));
  info.DevicePixelsX = static_cast<int32_t>(ImGetU32LE(data, 72));
  info.DevicePixelsY = static_cast<int32_t>(ImGetU32LE(data, 76));
  info.DeviceMmX = static_cast<int32_t>(ImGetU32LE(data, 80));
  info.DeviceMmY = static_cast<int32_t>(ImGetU32LE(data, 84));
  const int64_t w = int64_t(info.FrameRight) - info.FrameLeft;
  const int64_t h = int64_t(info.FrameBottom) - info.FrameTop;
  info.WidthHmm = w > INT32_MAX || w < INT32_MIN ? -1 : static_cast<int32_t>(w);
  info.HeightHmm = h > INT32_MAX || h < INT32_MIN ? -1 : static_cast<int32_t>(h);
  info.UnitsPerInch = 0;
  info.Records = data.subspan(0, total);
  return true;
}

// Pixel size along one axis from hundredths of a millimetre through a
// reference device; an unusable device counts as the screen.
int32_t ReferencePixels(int32_t hmm, int32_t pixels, int32_t mm) {
  if (pixels <= 0 || mm <= 0 || mm > INT32_MAX / 100) return ImMulDiv(hmm, ImScreenPixelsPerInch, 2540);
  return ImMulDiv(hmm, pixels, mm * 100);
}

// Plays the picture into a new raster filled with fill. Null when the raster
// cannot be had.
QImage Play(const TMetafileInfo& info, int width, int height, QRgb fill) {
  QImage image(width, height, QImage::Format_RGB32);
  if (image.isNull()) return image;
  image.fill(fill);
  metafile::TPlayer player(image);
  if (info.Enhanced) {
    player.SetupEmf(info);
    metafile::PlayEmf(player, info);
  } else {
    player.SetupWmf(info);
    metafile::PlayWmf(player, info);
  }
  return image;
}

}  // namespace

int32_t ImMulDiv(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return -1;
  const int64_t num = int64_t(a) * b;
  int64_t q = num / c;
  const int64_t r = num % c;
  // Round halves away from zero.
  if (std::llabs(r) * 2 >= std::llabs(int64_t(c))) q += ((num < 0) != (c < 0)) ? -1 : 1;
  if (q > INT32_MAX || q < INT32_MIN) return -1;
  return static_cast<int32_t>(q);
}

bool IsEnhancedMetafile(std::span<const uint8_t> data) {
  return data.size() > kEmfHeaderSize && ImGetU32LE(data, 0) == 1 && ImGetU32LE(data, 40) == kEmfSignature;
}

bool ReadMetafileInfo(std::span<const uint8_t> data, TMetafileInfo& info) {
  info = TMetafileInfo{};
  if (IsEnhancedMetafile(data)) return ReadEnhanced(data, info);
  return ReadPlaceable(data, info);
}

void MetafilePixelSize(const TMetafileInfo& info, int32_t& width, int32_t& height) {
  if (!info.Enhanced) {
    // A Windows metafile is converted for the screen: its reference device
    // is the screen too, whether the header gave units per inch or not.
    width = ImMulDiv(info.WidthHmm, ImScreenPixelsPerInch, 2540);
    height = ImMulDiv(info.HeightHmm, ImScreenPixelsPerInch, 2540);
    return;
  }
  width = ReferencePixels(info.WidthHmm, info.DevicePixelsX, info.DeviceMmX);
  height = ReferencePixels(info.HeightHmm, info.DevicePixelsY, info.DeviceMmY);
}

void TImageIO::ImportMetafile(const std::string& fileName, int width, int height, bool withAlpha) {
  Aborting = false;
  if (width == 0 || height == 0 || !target_) {
    DoFinishWork();
    return;
  }
  params_.ResetInfo();
  std::vector<uint8_t> data;
  TMetafileInfo info;
  try {
    data = ReadWholeFile(fileName);
    if (!ReadMetafileInfo(data, info)) throw TImMetafileError(kNotValid);
  } catch (...) {
    DoFinishWork();
    throw;
  }

  int32_t w = 0, h = 0;
  MetafilePixelSize(info, w, h);
  if (width >= 0 && height >= 0) {
    w = width;
    h = height;
  } else if (width < 0 && height >= 0) {
    w = h != 0 ? static_cast<int32_t>(int64_t(height) * w / h) : 0;
    h = height;
  } else if (height < 0 && width >= 0) {
    h = w != 0 ? static_cast<int32_t>(int64_t(width) * h / w) : 0;
    w = width;
  }
  // An empty picture, and one whose frame is inverted or beyond any size,
  // gives no bitmap.
  if (w <= 0 || h <= 0) {
    Aborting = true;
    DoFinishWork();
    return;
  }
  if (w > kMaxSide || h > kMaxSide) {
    if (w < h) {
      w = static_cast<int32_t>(int64_t(w) * kMaxSide / h);
      h = kMaxSide;
    } else {
      h = static_cast<int32_t>(int64_t(h) * kMaxSide / w);
      w = kMaxSide;
    }
    if (w < 1) w = 1;
    if (h < 1) h = 1;
  }
  if (!ImSizeAllowed(w, h)) {
    Aborting = true;
    DoFinishWork();
    return;
  }

  params_.FileName = fileName;
  params_.FileType = info.Enhanced ? ioEMF : ioWMF;
  params_.BitsPerSample = 8;
  params_.SamplesPerPixel = 3;
  params_.Width = w;
  params_.Height = h;
  params_.SetDpiX(ImDefaultDpiX);
  params_.SetDpiY(ImDefaultDpiY);
  params_.FreeColorMap();
  if (view_) view_->SetViewResolution(params_.DpiX, params_.DpiY);

  const TColor bg = ResolveSystemColor(Background());
  const QImage picture = Play(info, w, h, metafile::ColorRef(static_cast<uint32_t>(bg)).rgb());
  if (picture.isNull()) {
    Aborting = true;
    DoFinishWork();
    return;
  }
  try {
    target_->Allocate(w, h, im24bgr);
    for (int y = 0; y < h; ++y) {
      const QRgb* src = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
      uint8_t* dst = target_->Scanline(y);
      for (int x = 0; x < w; ++x) {
        dst[3 * x] = static_cast<uint8_t>(qBlue(src[x]));
        dst[3 * x + 1] = static_cast<uint8_t>(qGreen(src[x]));
        dst[3 * x + 2] = static_cast<uint8_t>(qRed(src[x]));
      }
    }
    target_->RemoveAlphaChannel();

    if (withAlpha) {
      const QImage marked = Play(info, w, h, kAlphaMarker);
      if (TImBitmap* alpha = marked.isNull() ? nullptr : target_->AlphaChannel()) {
        bool full = true;
        for (int y = 0; y < h; ++y) {
          const QRgb* src = reinterpret_cast<const QRgb*>(marked.constScanLine(y));
          uint8_t* dst = alpha->Scanline(y);
          for (int x = 0; x < w; ++x) {
            const bool clear = (src[x] | 0xFF000000u) == kAlphaMarker;
            dst[x] = clear ? 0 : 255;
            full = full && !clear;
          }
        }
        alpha->AlphaFull = full;
      }
    }
  } catch (const TImError&) {
    Aborting = true;
  }
  UpdateAttached();
  DoFinishWork();
}
