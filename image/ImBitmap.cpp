#include "image/ImBitmap.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "image/ImFileBuffer.h"

int64_t ImDefaultMemoryThreshold = -1;
std::string ImTempDirectory;

namespace {

TSystemColorResolver gResolver = nullptr;

}  // namespace

TColor ResolveSystemColor(TColor c) {
  if (c >= 0) return c;
  if (gResolver) return gResolver(c);
  switch (static_cast<uint32_t>(c) & 0xFF) {
    case 0x05: return 0xFFFFFF;  // window
    case 0x0C: return 0xABABAB;  // application work space
    case 0x08: return 0x000000;  // window text
    default: return 0xF0F0F0;    // button face and the rest
  }
}

void SetSystemColorResolver(TSystemColorResolver resolver) { gResolver = resolver; }

int64_t ImResolveMemoryThreshold(int64_t configured) {
  if (configured != -1) return configured;
  long pages = ::sysconf(_SC_AVPHYS_PAGES);
  long pageSize = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 33554432;
  return static_cast<int64_t>(pages) * pageSize / 2;
}

void TImWorkBitmap::Allocate(int width, int height, int bitsPerPixel) {
  Width = std::max(width, 0);
  Height = std::max(height, 0);
  BitsPerPixel = bitsPerPixel;
  RowLen = ImRowLen(Width, bitsPerPixel);
  Bits.assign(static_cast<size_t>(RowLen * Height), 0);
}

// ---------------------------------------------------------------- helpers

namespace {

uint8_t GrayOf(uint8_t b, uint8_t g, uint8_t r) {
  return static_cast<uint8_t>((21 * r + 71 * g + 8 * b) / 100);
}

QImage::Format QtFormatFor(TImPixelFormat f) {
  switch (f) {
    case im1bit: return QImage::Format_Mono;
    case im8pal:
    case im8gray: return QImage::Format_Indexed8;
    default: return QImage::Format_BGR888;
  }
}

// Reads pixel x of a row in format f as blue, green, red.
void PixelToBgr(TImPixelFormat f, const uint8_t* row, int x, const TImRGB* pal, int palCount,
                uint8_t& b, uint8_t& g, uint8_t& r) {
  switch (f) {
    case im1bit: {
      uint8_t v = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
      b = g = r = v;
      return;
    }
    case im8pal: {
      uint8_t i = row[x];
      if (pal && i < palCount) { b = pal[i].B; g = pal[i].G; r = pal[i].R; }
      else b = g = r = 0;
      return;
    }
    case im8gray: b = g = r = row[x]; return;
    case im16gray: b = g = r = row[2 * x + 1]; return;
    case im24bgr: b = row[3 * x]; g = row[3 * x + 1]; r = row[3 * x + 2]; return;
    case im32f: {
      float v;
      std::memcpy(&v, row + 4 * x, 4);
      double d = std::clamp(static_cast<double>(v), 0.0, 1.0);
      b = g = r = static_cast<uint8_t>(d * 255.0);
      return;
    }
    default: b = g = r = 0; return;
  }
}

void BgrToPixel(TImPixelFormat f, uint8_t* row, int x, uint8_t b, uint8_t g, uint8_t r) {
  switch (f) {
    case im1bit:
      if (GrayOf(b, g, r) >= 128) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
      else row[x >> 3] &= static_cast<uint8_t>(~(0x80 >> (x & 7)));
      return;
    case im8pal:  // only reached from gray or bilevel sources, whose palette is a gray ramp
    case im8gray: row[x] = GrayOf(b, g, r); return;
    case im16gray: {
      uint16_t v = static_cast<uint16_t>(GrayOf(b, g, r) * 257);
      row[2 * x] = static_cast<uint8_t>(v);
      row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
      return;
    }
    case im24bgr: row[3 * x] = b; row[3 * x + 1] = g; row[3 * x + 2] = r; return;
    case im32f: {
      float v = static_cast<float>(GrayOf(b, g, r) / 255.0);
      std::memcpy(row + 4 * x, &v, 4);
      return;
    }
    default: return;
  }
}

bool CanConvert(TImPixelFormat from, TImPixelFormat to) {
  if (to == im8pal) return from == im1bit || from == im8gray;
  return to != imNone;
}

}  // namespace

// ---------------------------------------------------------------- TImBitmap

TImBitmap::TImBitmap()
    : MemoryThreshold(ImResolveMemoryThreshold(ImDefaultMemoryThreshold)),
      fileStore_(std::make_unique<TImFileBuffer>()) {}

TImBitmap::TImBitmap(int width, TImLocation location, int height) : TImBitmap() {
  isAlphaChannel_ = true;
  location_ = location == imTBitmap ? imHeap : location;
  Allocate(width, height, im8gray);
  Fill(255);
}

TImBitmap::~TImBitmap() {
  FreeImage();
  fileStore_.reset();
}

std::string TImBitmap::TempFileName() const { return fileStore_ ? fileStore_->FileName() : std::string(); }

void TImBitmap::SyncFromTBitmap() {
  if (location_ != imTBitmap || !tbitmap_) return;
  QImage& img = *tbitmap_;
  if (img.isNull()) {
    if (width_ != 0 || height_ != 0) {
      width_ = height_ = 0;
      bitCount_ = 0;
      rowLen_ = 0;
      rowTable_.clear();
      tbitmapFirstRow_ = nullptr;
    }
    return;
  }
  // Painting may have replaced the image with one of another format; bring it
  // back to one of the three depths the buffer understands.
  const QImage::Format qf = img.format();
  if (qf != QImage::Format_Mono && qf != QImage::Format_Indexed8 && qf != QImage::Format_BGR888) {
    if (img.depth() == 1) img = img.convertToFormat(QImage::Format_Mono);
    else img = img.convertToFormat(QImage::Format_BGR888);
  }
  TImPixelFormat f;
  if (img.depth() == 1) f = im1bit;
  else if (img.depth() == 8)
    f = (format_ == im8gray || format_ == im8pal) ? format_ : (isAlphaChannel_ ? im8gray : im8pal);
  else f = im24bgr;
  const uint8_t* first = img.bits();
  if (img.width() != width_ || img.height() != height_ || f != format_) {
    width_ = img.width();
    height_ = img.height();
    format_ = f;
    bitCount_ = kImBitCount[f];
    rowLen_ = ImRowLen(width_, bitCount_, RowAlign);
    if (f == im8pal && palette_.size() != 256) palette_.assign(256, TImRGB{});
    if (alpha_) alpha_->Allocate(width_, height_, im8gray);
    BuildRowTable();
  } else if (first != tbitmapFirstRow_) {
    BuildRowTable();
  }
}

void TImBitmap::BuildRowTable() {
  rowTable_.clear();
  tbitmapFirstRow_ = nullptr;
  if (!tbitmap_ || tbitmap_->isNull()) return;
  rowTable_.resize(static_cast<size_t>(tbitmap_->height()));
  for (int y = 0; y < tbitmap_->height(); ++y) rowTable_[static_cast<size_t>(y)] = tbitmap_->scanLine(y);
  tbitmapFirstRow_ = tbitmap_->bits();
}

uint8_t* TImBitmap::Scanline(int row) {
  SyncFromTBitmap();
  if (row < 0 || row >= height_ || rowLen_ == 0) return nullptr;
  switch (location_) {
    case imHeap:
      if (!heapBlock_) return nullptr;
      return heapBlock_ + rowLen_ * (static_cast<int64_t>(height_) - 1 - row);
    case imTempFile:
      return fileStore_->MapRow(static_cast<int64_t>(row) * rowLen_, rowLen_, AccessMode);
    case imTBitmap:
      if (static_cast<size_t>(row) >= rowTable_.size()) return nullptr;
      return rowTable_[static_cast<size_t>(row)];
  }
  return nullptr;
}

int TImBitmap::BitCount() { SyncFromTBitmap(); return bitCount_; }
int TImBitmap::Height() { SyncFromTBitmap(); return height_; }
int TImBitmap::Width() { SyncFromTBitmap(); return width_; }
TImPixelFormat TImBitmap::PixelFormat() { SyncFromTBitmap(); return format_; }
int64_t TImBitmap::RowLen() { SyncFromTBitmap(); return rowLen_; }

void TImBitmap::SetTBitmapDepth(TImPixelFormat format) {
  if (!tbitmap_) {
    tbitmap_ = new QImage();
    tbitmapNotOwned_ = false;
  }
  QImage img(std::max(width_, 1), std::max(height_, 1), QtFormatFor(format));
  if (img.isNull() && width_ > 0 && height_ > 0) throw TImError("Out of memory");
  if (format == im1bit) {
    img.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  } else if (format == im8gray || format == im8pal) {
    QList<QRgb> table(256);
    for (int i = 0; i < 256; ++i)
      table[i] = format == im8pal && i < static_cast<int>(palette_.size())
                     ? qRgb(palette_[i].R, palette_[i].G, palette_[i].B)
                     : qRgb(i, i, i);
    img.setColorTable(table);
  }
  img.fill(0);
  if (width_ <= 0 || height_ <= 0) img = QImage();
  *tbitmap_ = img;
  BuildRowTable();
}

void TImBitmap::AllocateStorage(TImLocation wanted) {
  const int64_t size = rowLen_ * height_;
  location_ = wanted;
  if (location_ == imTempFile && size < MemoryThreshold) location_ = imHeap;
  else if (location_ == imHeap && size > MemoryThreshold) location_ = imTempFile;
  if (location_ == imTempFile) {
    if (!fileStore_->Create(size)) location_ = imHeap;
  }
  if (location_ == imHeap) {
    try {
      heap_.assign(static_cast<size_t>(size), 0);
    } catch (const std::exception&) {  // bad_alloc, or length_error past max_size
      throw TImError("Out of memory allocating " + std::to_string(size) + " bytes of pixels");
    }
    heapBlock_ = heap_.data();
    heapNotOwned_ = false;
  } else if (location_ == imTBitmap) {
    if (format_ == im32f) throw TImError("im32f pixel format not allowed when Location=imTBitmap");
    if (format_ == im16gray) {
      format_ = im8gray;
      bitCount_ = 8;
      rowLen_ = ImRowLen(width_, 8, RowAlign);
    }
    SetTBitmapDepth(format_);
  }
}

void TImBitmap::ReleaseStorage() {
  heap_.clear();
  heap_.shrink_to_fit();
  heapBlock_ = nullptr;
  heapNotOwned_ = false;
  fileStore_->Release();
  if (tbitmap_) {
    if (!tbitmapNotOwned_) delete tbitmap_;
    tbitmap_ = nullptr;
  }
  tbitmapNotOwned_ = false;
  rowTable_.clear();
  tbitmapFirstRow_ = nullptr;
}

void TImBitmap::FreeImage() {
  ReleaseStorage();
  palette_.clear();
  alpha_.reset();
  width_ = height_ = bitCount_ = 0;
  rowLen_ = 0;
  AlphaFull = false;
}

void TImBitmap::Allocate(int width, int height, TImPixelFormat format) {
  const bool keepTBitmap = location_ == imTBitmap && tbitmap_ && tbitmapNotOwned_;
  if (keepTBitmap) RemoveAlphaChannel();
  else FreeImage();
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  format_ = format;
  bitCount_ = 0;
  rowLen_ = 0;
  if (width_ <= 0 || height_ <= 0 || format == imNone) {
    if (keepTBitmap) { *tbitmap_ = QImage(); BuildRowTable(); }
    return;
  }
  if (format == im8pal) palette_.assign(256, TImRGB{});
  bitCount_ = kImBitCount[format];
  rowLen_ = ImRowLen(width_, bitCount_, RowAlign);
  int64_t total = 0;
  if (__builtin_mul_overflow(rowLen_, static_cast<int64_t>(height_), &total)) {
    // No store can hold it; leave an empty buffer rather than a wrapped size.
    bitCount_ = 0;
    rowLen_ = 0;
    throw TImError("Out of memory allocating " + std::to_string(width_) + " x " + std::to_string(height_) +
                   " pixels");
  }
  if (keepTBitmap) {
    if (format == im32f) throw TImError("im32f pixel format not allowed when Location=imTBitmap");
    if (format == im16gray) {
      format_ = im8gray;
      bitCount_ = 8;
      rowLen_ = ImRowLen(width_, 8, RowAlign);
    }
    SetTBitmapDepth(format_);
    return;
  }
  AllocateStorage(location_);
}

void TImBitmap::CopyRowsFrom(TImBitmap& source) {
  const uint8_t srcMode = source.AccessMode, dstMode = AccessMode;
  source.AccessMode = 1;
  AccessMode = 2;
  const int64_t n = std::min(source.RowLen(), RowLen());
  const int h = std::min(source.Height(), Height());
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = source.Scanline(y);
    if (!s) break;
    // A temp-file row address is only valid until the next request on the
    // same buffer, so the source row is copied out before the destination
    // row is requested when both are the same kind of store.
    std::vector<uint8_t> tmp(s, s + n);
    uint8_t* d = Scanline(y);
    if (d) std::memcpy(d, tmp.data(), static_cast<size_t>(n));
  }
  source.AccessMode = srcMode;
  AccessMode = dstMode;
  if (location_ == imTempFile) fileStore_->UnmapAll();
  if (source.location_ == imTempFile) source.fileStore_->UnmapAll();
}

void TImBitmap::Assign(TImBaseBitmap& source) {
  if (auto* b = dynamic_cast<TImBitmap*>(&source)) Assign(*b);
}

void TImBitmap::Assign(TImBitmap& source) {
  if (&source == this) return;
  const int w = source.Width(), h = source.Height();
  const TImPixelFormat f = source.PixelFormat();
  RowAlign = source.RowAlign;
  if (location_ == imTBitmap && tbitmap_) {
    // The QImage object is kept (and so is an alpha channel the source lacks).
    width_ = w;
    height_ = h;
    format_ = f == im16gray || f == im32f ? im8gray : f;
    bitCount_ = (w > 0 && h > 0 && f != imNone) ? kImBitCount[format_] : 0;
    rowLen_ = bitCount_ ? ImRowLen(w, bitCount_, RowAlign) : 0;
    if (format_ == im8pal) palette_.assign(256, TImRGB{});
    SetTBitmapDepth(format_);
  } else {
    Allocate(w, h, f);
  }
  AlphaFull = source.AlphaFull;
  if (location_ == imTempFile && source.location_ == imTempFile && rowLen_ == source.rowLen_ &&
      height_ == source.height_) {
    source.fileStore_->UnmapAll();
    fileStore_->UnmapAll();
    if (!fileStore_->CopyFrom(*source.fileStore_, rowLen_ * height_)) CopyRowsFrom(source);
  } else if (bitCount_ > 0) {
    CopyRowsFrom(source);
  }
  if (!isAlphaChannel_ && source.alpha_) AlphaChannel()->Assign(*source.alpha_);
  for (size_t i = 0; i < palette_.size() && i < source.palette_.size(); ++i) palette_[i] = source.palette_[i];
  ConvertOption = source.ConvertOption;
  if (location_ == imTBitmap && tbitmap_ && format_ == im8pal) {
    for (int i = 0; i < 256; ++i) tbitmap_->setColor(i, qRgb(palette_[i].R, palette_[i].G, palette_[i].B));
  }
}

void TImBitmap::AssignImage(const QImage& sourceIn) {
  if (sourceIn.isNull()) {
    Allocate(0, 0, im24bgr);
    return;
  }
  QImage src = sourceIn;
  const int w = src.width(), h = src.height();
  const int depth = src.depth();
  auto isMonochrome = [&]() {
    const auto t = src.colorTable();
    return t.isEmpty() || (t.size() == 2 && qGray(t[0]) == 0 && (t[1] & 0xFFFFFF) == 0xFFFFFF);
  };
  if (location_ == imTBitmap) {
    TImPixelFormat f = depth == 1 ? im1bit : depth == 8 && src.format() == QImage::Format_Indexed8 ? im8pal : im24bgr;
    if (f == im1bit && (!isMonochrome() || src.format() != QImage::Format_Mono)) {
      src = src.convertToFormat(QImage::Format_BGR888);
      f = im24bgr;
    }
    if (f == im24bgr && src.format() != QImage::Format_BGR888) src = src.convertToFormat(QImage::Format_BGR888);
    if (!tbitmap_) { tbitmap_ = new QImage(); tbitmapNotOwned_ = false; }
    RemoveAlphaChannel();
    *tbitmap_ = src.copy();
    format_ = f;
    width_ = w;
    height_ = h;
    bitCount_ = kImBitCount[f];
    rowLen_ = ImRowLen(w, bitCount_, RowAlign);
    if (f == im8pal) {
      palette_.assign(256, TImRGB{});
      const auto t = src.colorTable();
      for (int i = 0; i < t.size() && i < 256; ++i)
        palette_[i] = TImRGB{static_cast<uint8_t>(qBlue(t[i])), static_cast<uint8_t>(qGreen(t[i])),
                             static_cast<uint8_t>(qRed(t[i]))};
    }
    BuildRowTable();
    return;
  }
  if (depth == 1) {
    if (src.format() != QImage::Format_Mono) src = src.convertToFormat(QImage::Format_Mono);
    if (isMonochrome()) {
      Allocate(w, h, im1bit);
      for (int y = 0; y < h; ++y)
        if (uint8_t* d = Scanline(y)) std::memcpy(d, src.constScanLine(y), static_cast<size_t>(std::min<int64_t>(rowLen_, src.bytesPerLine())));
      return;
    }
    Allocate(w, h, im8pal);
    const auto t = src.colorTable();
    for (int i = 0; i < 2 && i < t.size(); ++i) SetPaletteColor(i, static_cast<int32_t>(t[i] & 0xFFFFFF));
    for (int y = 0; y < h; ++y) {
      const uint8_t* s = src.constScanLine(y);
      uint8_t* d = Scanline(y);
      if (!d) continue;
      for (int x = 0; x < w; ++x) d[x] = (s[x >> 3] >> (7 - (x & 7))) & 1;
    }
    return;
  }
  if (depth == 8 && src.format() == QImage::Format_Indexed8) {
    Allocate(w, h, im8pal);
    const auto t = src.colorTable();
    for (int i = 0; i < t.size() && i < 256; ++i) SetPaletteColor(i, static_cast<int32_t>(t[i] & 0xFFFFFF));
    for (int y = 0; y < h; ++y)
      if (uint8_t* d = Scanline(y)) std::memcpy(d, src.constScanLine(y), static_cast<size_t>(w));
    return;
  }
  Allocate(w, h, im24bgr);
  if (src.format() == QImage::Format_RGB555 || src.format() == QImage::Format_RGB16) {
    const bool is555 = src.format() == QImage::Format_RGB555;
    for (int y = 0; y < h; ++y) {
      const uint8_t* s = src.constScanLine(y);
      uint8_t* d = Scanline(y);
      if (!d) continue;
      for (int x = 0; x < w; ++x) {
        const uint16_t v = static_cast<uint16_t>(s[2 * x] | (s[2 * x + 1] << 8));
        uint8_t r, g, b;
        if (is555) {
          r = static_cast<uint8_t>(((v >> 10) & 31) << 3);
          g = static_cast<uint8_t>(((v >> 5) & 31) << 3);
        } else {
          r = static_cast<uint8_t>((v >> 11) << 3);
          g = static_cast<uint8_t>(((v >> 5) & 63) << 2);
        }
        b = static_cast<uint8_t>((v & 31) << 3);
        d[3 * x] = b; d[3 * x + 1] = g; d[3 * x + 2] = r;
      }
    }
    return;
  }
  if (src.format() != QImage::Format_BGR888) src = src.convertToFormat(QImage::Format_BGR888);
  for (int y = 0; y < h; ++y)
    if (uint8_t* d = Scanline(y)) std::memcpy(d, src.constScanLine(y), static_cast<size_t>(3) * w);
}

void TImBitmap::Fill(double value) {
  const int64_t v = static_cast<int64_t>(std::trunc(value));
  SyncFromTBitmap();
  if (bitCount_ == 0) {
    AlphaFull = false;
    return;
  }
  std::vector<uint8_t> row(static_cast<size_t>(rowLen_), 0);
  switch (format_) {
    case im1bit: {
      bool set = value > 0;
      if (v < 0) {
        // A system colour code: resolve it and use white for a light colour.
        const TColor c = ResolveSystemColor(static_cast<TColor>(v));
        set = GrayOf(static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c)) >= 128;
      }
      std::fill(row.begin(), row.end(), set ? 0xFF : 0x00);
      AlphaFull = set;
      break;
    }
    case im8pal:
    case im8gray:
      std::fill(row.begin(), row.end(), static_cast<uint8_t>(v));
      AlphaFull = v == 255;
      break;
    case im16gray:
      for (int x = 0; x < width_; ++x) {
        row[2 * x] = static_cast<uint8_t>(v);
        row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
      }
      AlphaFull = (v & 0xFFFF) == 65535 && v == 65535;
      break;
    case im24bgr: {
      const TColor c = ResolveSystemColor(static_cast<TColor>(v));
      const uint8_t r = static_cast<uint8_t>(c), g = static_cast<uint8_t>(c >> 8), b = static_cast<uint8_t>(c >> 16);
      for (int x = 0; x < width_; ++x) {
        row[3 * x] = b;
        row[3 * x + 1] = g;
        row[3 * x + 2] = r;
      }
      AlphaFull = r == 255 && g == 255 && b == 255;
      break;
    }
    case im32f: {
      const float f = static_cast<float>(value);
      for (int x = 0; x < width_; ++x) std::memcpy(row.data() + 4 * x, &f, 4);
      AlphaFull = value == 1.0;
      break;
    }
    default: break;
  }
  const uint8_t mode = AccessMode;
  AccessMode = 2;
  for (int y = 0; y < height_; ++y)
    if (uint8_t* d = Scanline(y)) std::memcpy(d, row.data(), row.size());
  AccessMode = mode;
  if (location_ == imTempFile) fileStore_->UnmapAll();
}

void TImBitmap::SetPaletteColor(int index, int32_t color) {
  if (index < 0 || index >= PaletteCount()) return;
  palette_[index] = TImRGB{static_cast<uint8_t>(color), static_cast<uint8_t>(color >> 8), static_cast<uint8_t>(color >> 16)};
  if (location_ == imTBitmap && tbitmap_ && tbitmap_->format() == QImage::Format_Indexed8 && index < tbitmap_->colorCount())
    tbitmap_->setColor(index, qRgb(palette_[index].R, palette_[index].G, palette_[index].B));
}

TImBitmap* TImBitmap::AlphaChannel() {
  if (isAlphaChannel_) return nullptr;
  if (!alpha_) {
    SyncFromTBitmap();
    alpha_ = std::make_unique<TImBitmap>(width_, location_, height_);
    alpha_->MemoryThreshold = MemoryThreshold;
  }
  return alpha_.get();
}

void TImBitmap::RemoveAlphaChannel() {
  if (isAlphaChannel_) return;
  alpha_.reset();
}

void TImBitmap::TakeFrom(TImBitmap& o) {
  width_ = o.width_; height_ = o.height_; bitCount_ = o.bitCount_; rowLen_ = o.rowLen_;
  format_ = o.format_;
  palette_ = std::move(o.palette_);
  alpha_ = std::move(o.alpha_);
  isAlphaChannel_ = o.isAlphaChannel_;
  heap_ = std::move(o.heap_);
  heapBlock_ = o.heapBlock_;
  tbitmap_ = o.tbitmap_;
  rowTable_ = std::move(o.rowTable_);
  tbitmapFirstRow_ = o.tbitmapFirstRow_;
  location_ = o.location_;
  tbitmapNotOwned_ = o.tbitmapNotOwned_;
  heapNotOwned_ = o.heapNotOwned_;
  std::swap(fileStore_, o.fileStore_);
  AlphaFull = o.AlphaFull;
  RowAlign = o.RowAlign;
  o.heapBlock_ = nullptr;
  o.tbitmap_ = nullptr;
  o.tbitmapNotOwned_ = o.heapNotOwned_ = false;
  o.width_ = o.height_ = o.bitCount_ = 0;
  o.rowLen_ = 0;
  o.palette_.clear();
}

void TImBitmap::SetPixelFormat(TImPixelFormat format) {
  SyncFromTBitmap();
  if (format == format_) return;
  if (format_ == imNone || width_ == 0 || height_ == 0 || format == imNone) {
    Allocate(width_, height_, format);
    return;
  }
  if (!CanConvert(format_, format))
    throw TImError(std::string("Cannot convert ") + PixelFormatName(format_) + " to " + PixelFormatName(format));
  TImBitmap old;
  old.MemoryThreshold = MemoryThreshold;
  std::unique_ptr<TImBitmap> keptAlpha;
  if (location_ == imTBitmap) {
    old.location_ = imHeap;
    old.Assign(*this);
    old.alpha_.reset();
    width_ = old.width_;
    height_ = old.height_;
    format_ = format == im16gray || format == im32f ? im8gray : format;
    bitCount_ = kImBitCount[format_];
    rowLen_ = ImRowLen(width_, bitCount_, RowAlign);
    if (format_ == im8pal) palette_.assign(256, TImRGB{});
    SetTBitmapDepth(format_);
  } else {
    old.TakeFrom(*this);
    keptAlpha = std::move(old.alpha_);
    isAlphaChannel_ = old.isAlphaChannel_;
    location_ = old.location_;
    Allocate(old.width_, old.height_, format);
  }
  if (format_ == im8pal) {
    // Gray and bilevel sources get a gray ramp; the indices are the gray values.
    for (int i = 0; i < 256; ++i) palette_[i] = TImRGB{static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i)};
  }
  const uint8_t oldMode = old.AccessMode, mode = AccessMode;
  old.AccessMode = 1;
  AccessMode = 3;
  std::vector<uint8_t> srcRow(static_cast<size_t>(old.rowLen_));
  for (int y = 0; y < height_; ++y) {
    const uint8_t* s = old.Scanline(y);
    if (!s) break;
    std::memcpy(srcRow.data(), s, srcRow.size());
    uint8_t* d = Scanline(y);
    if (!d) continue;
    for (int x = 0; x < width_; ++x) {
      uint8_t b, g, r;
      PixelToBgr(old.format_, srcRow.data(), x, old.Palette(), old.PaletteCount(), b, g, r);
      BgrToPixel(format_, d, x, b, g, r);
    }
  }
  old.AccessMode = oldMode;
  AccessMode = mode;
  if (location_ == imTempFile) fileStore_->UnmapAll();
  if (format_ == im8pal && location_ == imTBitmap && tbitmap_)
    for (int i = 0; i < 256; ++i) tbitmap_->setColor(i, qRgb(i, i, i));
  if (keptAlpha) alpha_ = std::move(keptAlpha);
}

void TImBitmap::SetLocation(TImLocation location) {
  if (location == location_) return;
  TImBitmap old;
  old.MemoryThreshold = MemoryThreshold;
  SyncFromTBitmap();
  old.TakeFrom(*this);
  std::unique_ptr<TImBitmap> keptAlpha = std::move(old.alpha_);
  const bool wasAlpha = old.isAlphaChannel_;
  location_ = location;
  isAlphaChannel_ = wasAlpha;
  Allocate(old.width_, old.height_, old.format_);
  if (bitCount_ > 0) CopyRowsFrom(old);
  for (size_t i = 0; i < palette_.size() && i < old.palette_.size(); ++i) palette_[i] = old.palette_[i];
  if (location_ == imTBitmap && tbitmap_ && format_ == im8pal)
    for (int i = 0; i < 256; ++i) tbitmap_->setColor(i, qRgb(palette_[i].R, palette_[i].G, palette_[i].B));
  AlphaFull = old.AlphaFull;
  alpha_ = std::move(keptAlpha);
}

void TImBitmap::AttachTBitmap(QImage* bitmap, bool freeFirst) {
  if (freeFirst) FreeImage();
  if (!bitmap) return;
  ReleaseStorage();
  if (bitmap->format() != QImage::Format_Mono && bitmap->format() != QImage::Format_Indexed8 &&
      bitmap->format() != QImage::Format_BGR888 && !bitmap->isNull())
    *bitmap = bitmap->convertToFormat(bitmap->depth() == 1 ? QImage::Format_Mono : QImage::Format_BGR888);
  width_ = bitmap->width();
  height_ = bitmap->height();
  if (bitmap->depth() == 1) format_ = im1bit;
  else if (bitmap->depth() == 24) format_ = im24bgr;
  else if (bitmap->depth() == 8 && format_ != im8gray && format_ != im8pal) format_ = im8pal;
  bitCount_ = kImBitCount[format_];
  rowLen_ = ImRowLen(width_, bitCount_, RowAlign);
  if (format_ == im8pal && palette_.size() != 256) palette_.assign(256, TImRGB{});
  location_ = imTBitmap;
  tbitmap_ = bitmap;
  tbitmapNotOwned_ = true;
  BuildRowTable();
}

void TImBitmap::AttachMemory(uint8_t* block, int width, int height, TImPixelFormat format, bool freeFirst) {
  if (freeFirst) FreeImage();
  if (!block) return;
  ReleaseStorage();
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  format_ = format;
  bitCount_ = kImBitCount[format];
  rowLen_ = ImRowLen(width_, bitCount_, RowAlign);
  if (format == im8pal && palette_.size() != 256) palette_.assign(256, TImRGB{});
  location_ = imHeap;
  heapBlock_ = block;
  heapNotOwned_ = true;
}

QImage* TImBitmap::GetTBitmap() {
  SetLocation(imTBitmap);
  if (!tbitmap_) {
    tbitmap_ = new QImage();
    tbitmapNotOwned_ = false;
  }
  return tbitmap_;
}

QImage* TImBitmap::Canvas() { return GetTBitmap(); }

// ---------------------------------------------------------------- TImMask

void TImMask::Allocate(int width, int height, int bits) {
  Width = std::max(width, 0);
  Height = std::max(height, 0);
  BitsPerPixel = bits == 1 ? 1 : 8;
  RowLen = ImRowLen(Width, BitsPerPixel);
  bits_.assign(static_cast<size_t>(RowLen * Height), 0);
  X1 = Y1 = 2147483647;
  X2 = Y2 = 0;
  Full = false;
}

void TImMask::Fill(uint8_t value) {
  std::fill(bits_.begin(), bits_.end(), value);
  Full = BitsPerPixel != 8 || value == 255;
}

uint8_t* TImMask::Scanline(int y) {
  if (y < 0 || y >= Height) return nullptr;
  return bits_.data() + RowLen * (static_cast<int64_t>(Height) - 1 - y);
}

const uint8_t* TImMask::Scanline(int y) const { return const_cast<TImMask*>(this)->Scanline(y); }

void TImMask::SetPixel(int x, int y, int value) {
  if (x < 0 || y < 0 || x >= Width || y >= Height) return;
  if (value != 0) {
    X1 = std::min(X1, x); Y1 = std::min(Y1, y);
    X2 = std::max(X2, x); Y2 = std::max(Y2, y);
  }
  if (Full) Full = BitsPerPixel != 8 || value == 255;
  uint8_t* row = Scanline(y);
  if (BitsPerPixel == 1) {
    if (value) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    else row[x >> 3] &= static_cast<uint8_t>(~(0x80 >> (x & 7)));
  } else {
    row[x] = static_cast<uint8_t>(value);
  }
}

int TImMask::GetPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= Width || y >= Height) return 0;
  const uint8_t* row = Scanline(y);
  if (BitsPerPixel == 1) return row[x >> 3] & (0x80 >> (x & 7));
  return row[x];
}

void TImMask::Clear() {
  Fill(0);
  X1 = Y1 = 2147483647;
  X2 = Y2 = 0;
}
