#pragma once
// TImBitmap: the raster image of the whole program. Width, height, pixel
// format, rows padded to RowAlign bits (32 by default), row 0 the top row in
// every location, an optional 256-entry palette and an optional alpha channel
// (itself an im8gray TImBitmap, 0 transparent, 255 opaque).
//
// Pixels live in one of three locations: process memory (imHeap, rows
// bottom-up), a temporary file with one mapped row (imTempFile) or a QImage
// (imTBitmap). Unlike a raw allocation, every allocation here is zero-filled so
// that pixels a producer did not reach read as black, deterministically.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "image/ImTypes.h"

class QImage;
class TImMask;
class TImFileBuffer;

// Errors raised by the image model (allocation failures, forbidden formats).
class TImError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Palette entry: bytes blue, green, red.
struct TImRGB {
  uint8_t B = 0, G = 0, R = 0;
};

// Library-wide default for new buffers' MemoryThreshold: -1 stands for half of
// the physical memory available when the buffer is created (32 MiB when the
// platform reports none).
extern int64_t ImDefaultMemoryThreshold;
// Library-wide folder for temporary files; empty uses the platform's.
extern std::string ImTempDirectory;
// Half of the currently available physical memory, or 32 MiB when unknown.
int64_t ImResolveMemoryThreshold(int64_t configured);

// Row length in bytes for a width, bit count and alignment in bits.
inline int64_t ImRowLen(int64_t width, int bitCount, int rowAlign = 32) {
  if (rowAlign < 8) rowAlign = 8;
  return ((width * bitCount + rowAlign - 1) / rowAlign) * (rowAlign / 8);
}

// Plain scratch raster used inside resampling: rows bottom-up, padded to 4 bytes.
struct TImWorkBitmap {
  int Width = 0, Height = 0, BitsPerPixel = 0;
  int64_t RowLen = 0;
  std::vector<uint8_t> Bits;
  void Allocate(int width, int height, int bitsPerPixel);
  uint8_t* Scanline(int y) { return Bits.data() + RowLen * (Height - 1 - y); }
};

// Abstract base: the eight operations every raster offers.
class TImBaseBitmap {
 public:
  virtual ~TImBaseBitmap() = default;
  virtual uint8_t* Scanline(int row) = 0;
  virtual int BitCount() = 0;
  virtual int Height() = 0;
  virtual int Width() = 0;
  virtual TImPixelFormat PixelFormat() = 0;
  virtual int64_t RowLen() = 0;
  virtual void Allocate(int width, int height, TImPixelFormat format) = 0;
  virtual void Assign(TImBaseBitmap& source) = 0;

  // bit 0: rows will be read, bit 1: rows will be written (imTempFile only).
  uint8_t AccessMode = 3;
};

class TImBitmap : public TImBaseBitmap {
 public:
  TImBitmap();
  // Creates an alpha channel: IsAlphaChannel set, im8gray, filled with 255.
  // imTBitmap becomes imHeap.
  TImBitmap(int width, TImLocation location, int height);
  ~TImBitmap() override;
  TImBitmap(const TImBitmap&) = delete;
  TImBitmap& operator=(const TImBitmap&) = delete;

  // Address of row y (0 = top). For imTempFile the address is valid only
  // until the next row request on this buffer. Rows outside the image give
  // nullptr.
  uint8_t* Scanline(int row) override;
  int BitCount() override;
  int Height() override;
  int Width() override;
  TImPixelFormat PixelFormat() override;
  int64_t RowLen() override;
  void Allocate(int width, int height, TImPixelFormat format) override;
  void Assign(TImBaseBitmap& source) override;
  void Assign(TImBitmap& source);
  // Copies a QImage, converted by its depth (1-bit, 4-, 8-bit indexed, 15/16,
  // 24 and 32-bit).
  void AssignImage(const QImage& source);

  void FreeImage();
  void Fill(double value);
  void SetPaletteColor(int index, int32_t color);  // blue bits 0-7, green 8-15, red 16-23
  TImRGB* Palette() { return palette_.empty() ? nullptr : palette_.data(); }
  int PaletteCount() const { return static_cast<int>(palette_.size()); }

  TImBitmap* AlphaChannel();
  bool HasAlphaChannel() const { return alpha_ != nullptr; }
  void RemoveAlphaChannel();
  bool IsAlphaChannel() const { return isAlphaChannel_; }

  void SetPixelFormat(TImPixelFormat format);

  // Storage locations.
  TImLocation Location() const { return location_; }
  void SetLocation(TImLocation location);
  // Wraps a QImage without owning it (location imTBitmap).
  void AttachTBitmap(QImage* bitmap, bool freeFirst);
  // Wraps a block of bottom-up rows without owning it (location imHeap).
  void AttachMemory(uint8_t* block, int width, int height, TImPixelFormat format, bool freeFirst);
  // Moves to imTBitmap and returns the QImage.
  QImage* GetTBitmap();
  // Moves an imHeap or imTempFile buffer to imTBitmap and returns the image to
  // draw on with a QPainter (the next query re-reads size and depth).
  QImage* Canvas();
  // Brings size, format and row table up to date with the QImage.
  void SyncFromTBitmap();

  // Editing.
  void FillRect(int x1, int y1, int x2, int y2, double value);
  void SetWidth(int width);
  void SetHeight(int height);
  void Resize(int newWidth, int newHeight, double fillValue, int alphaFillValue,
              int horizAlign, int vertAlign);
  void CopyRectTo(TImBitmap& dest, int srcX, int srcY, int width, int height, int destX, int destY);
  void CopyFromMask(const TImMask* mask);

  // Drawing into a 24-bit QImage (QImage::Format_BGR888). See ImRender.cpp.
  //
  // Cache slots: a null slot means "compute here and drop afterwards". A slot
  // holding an empty vector receives the table built here when FreeTables is
  // false. A slot holding a table is used as it is, as long as it covers the
  // area drawn and points inside the source (otherwise it is ignored and left
  // alone); clear it whenever the geometry changes.
  // - DestRowCache: one address per row of dest (rebuilt when dest moved).
  // - ColumnCache: the source column for destination column x is
  //   (*ColumnCache)[x + ColumnCacheOffset]; RowCache likewise for rows. A
  //   view passes its zoomed-position tables with the offset scroll - origin.
  //   Tables built here are indexed by the destination column (row) itself and
  //   are stored only when the offset is 0.
  struct TRenderArgs {
    std::vector<uint8_t*>* DestRowCache = nullptr;
    uint8_t OpCode = 0;
    bool FreeTables = true;
    TResampleFilter Filter = rfNone;
    int Opacity = 255;
    bool RowDuplication = false;
    bool AlphaEnable = false;
    int SrcX = 0, SrcY = 0, SrcWidth = 0, SrcHeight = 0;
    int DestX = 0, DestY = 0, DestWidth = 0, DestHeight = 0;
    bool HasClip = false;
    int ClipLeft = 0, ClipTop = 0, ClipRight = 0, ClipBottom = 0;  // inclusive
    std::vector<int>* ColumnCache = nullptr;
    std::vector<int>* RowCache = nullptr;
    int ColumnCacheOffset = 0, RowCacheOffset = 0;
  };
  void Render(QImage& dest, const TRenderArgs& args);

  // One pass of the per-format drawing routines: fill destination columns
  // FirstCol..LastCol of rows FirstRow..LastRow. SrcCol[x - FirstCol] and
  // SrcRow[y - FirstRow] are the source pixel of each destination pixel (all
  // inside this buffer); DestRows[y] is the address of destination row y.
  struct TRenderPass {
    uint8_t* const* DestRows = nullptr;
    int FirstCol = 0, LastCol = -1, FirstRow = 0, LastRow = -1;
    const int* SrcCol = nullptr;
    const int* SrcRow = nullptr;
    bool RowDuplication = false;
    // Blending only: the alpha channel to blend through (null: opacity alone)
    // and the overall opacity; each pixel uses min(opacity, alpha).
    TImBitmap* Alpha = nullptr;
    int Opacity = 255;
  };

 protected:
  // Per-format drawing routines chosen by Render: a copying and a blending
  // routine for each of im24bgr, im1bit, im8gray, im8pal, im16gray, im32f.
  virtual void RenderCopy24(const TRenderPass& pass);
  virtual void RenderBlend24(const TRenderPass& pass);
  virtual void RenderCopy1(const TRenderPass& pass);
  virtual void RenderBlend1(const TRenderPass& pass);
  virtual void RenderCopyGray8(const TRenderPass& pass);
  virtual void RenderBlendGray8(const TRenderPass& pass);
  virtual void RenderCopyPal8(const TRenderPass& pass);
  virtual void RenderBlendPal8(const TRenderPass& pass);
  virtual void RenderCopyGray16(const TRenderPass& pass);
  virtual void RenderBlendGray16(const TRenderPass& pass);
  virtual void RenderCopyFloat32(const TRenderPass& pass);
  virtual void RenderBlendFloat32(const TRenderPass& pass);

 public:

  bool AlphaFull = false;
  int64_t MemoryThreshold;
  int RowAlign = 32;
  // Settings of conversions and rendering this program never changes.
  int ConvertColors = 256;
  double DisplayRangeMin = 0, DisplayRangeMax = 0;
  int RedOffset = 0, GreenOffset = 0, BlueOffset = 0, Contrast = 0;
  uint8_t ConvertOption = 1;

  // Test hook: the temporary file of an imTempFile buffer (empty otherwise).
  std::string TempFileName() const;

 private:
  friend class TImFileBuffer;
  void AllocateStorage(TImLocation wanted);
  void ReleaseStorage();
  void BuildRowTable();
  void SetTBitmapDepth(TImPixelFormat format);
  void CopyRowsFrom(TImBitmap& source);
  void TakeFrom(TImBitmap& other);  // moves storage and fields from other into this

  int width_ = 0, height_ = 0, bitCount_ = 0;
  int64_t rowLen_ = 0;
  TImPixelFormat format_ = imNone;
  std::vector<TImRGB> palette_;
  std::unique_ptr<TImBitmap> alpha_;
  bool isAlphaChannel_ = false;
  std::vector<uint8_t> heap_;       // owned imHeap block
  uint8_t* heapBlock_ = nullptr;    // imHeap block in use (owned or wrapped)
  QImage* tbitmap_ = nullptr;       // imTBitmap
  std::vector<uint8_t*> rowTable_;  // imTBitmap row addresses
  const uint8_t* tbitmapFirstRow_ = nullptr;
  TImLocation location_ = imTempFile;
  bool tbitmapNotOwned_ = false;
  bool heapNotOwned_ = false;
  std::unique_ptr<TImFileBuffer> fileStore_;
};

// 1- or 8-bit mask plane that readers fill and then copy into an alpha channel.
class TImMask {
 public:
  void Allocate(int width, int height, int bits);
  void Fill(uint8_t value);
  void SetPixel(int x, int y, int value);
  int GetPixel(int x, int y) const;
  uint8_t* Scanline(int y);
  const uint8_t* Scanline(int y) const;
  void Clear();
  bool IsEmpty() const { return X1 == 2147483647; }

  int Width = 0, Height = 0, BitsPerPixel = 0;
  int64_t RowLen = 0;
  int X1 = 2147483647, Y1 = 2147483647, X2 = 0, Y2 = 0;  // bounding box of set pixels
  bool Full = false;

 private:
  std::vector<uint8_t> bits_;  // rows bottom-up
};
