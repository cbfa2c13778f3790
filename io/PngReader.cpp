// PNG reader on libpng 1.6 and zlib.
//
// libpng reports fatal errors through the error function, which must not
// return: it sets Aborting and longjmps to the setjmp point of the guarded
// step that made the library call. Each guarded step is a function whose
// frame holds nothing with a destructor; the only frames between it and the
// error function are libpng's own and the read callback below, which owns
// nothing. The structures live in TPngDecoder, destroyed on every path.

#include "io/PngReader.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <vector>

#include <png.h>

#include "io/ImageIO.h"

namespace {

// The largest ratio deflate can reach: a complete image stream is never
// shorter than its unfiltered rows divided by this.
constexpr int64_t kMaxDeflateRatio = 1032;

struct TPngState {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  TImStream* Stream = nullptr;
  bool* Aborting = nullptr;
  // Zero bytes handed out past the end of the stream.
  size_t PastEnd = 0;
  // From IHDR.
  png_uint_32 Width = 0, Height = 0;
  int BitDepth = 0, ColorType = 0, Interlace = 0;
  // After the transformations.
  int Passes = 1;
  int Channels = 0;
  size_t RowBytes = 0;
  png_uint_32 ResX = 0, ResY = 0;
  int ResUnit = -1;
  std::vector<TImRGB> Palette;
};

void PNGCBAPI ErrorFn(png_structp png, png_const_charp) {
  auto* s = static_cast<TPngState*>(png_get_error_ptr(png));
  if (s && s->Aborting) *s->Aborting = true;
  png_longjmp(png, 1);
}

void PNGCBAPI WarningFn(png_structp, png_const_charp) {}

// Bytes past the end of the stream read as zero and are not reported: the
// rows the data that is there holds still decode, and libpng's own checks
// (zlib's stream, CRCs, chunk names) then fail on the zeros. A chunk length
// from the file can reach 2^31, and skipping such a chunk through zeros
// would take seconds, so the zeros stop at a bound and the read fails.
constexpr size_t kMaxZerosPastEnd = size_t(1) << 20;

void PNGCBAPI ReadFn(png_structp png, png_bytep data, size_t length) {
  auto* s = static_cast<TPngState*>(png_get_io_ptr(png));
  s->PastEnd += length - s->Stream->Read(data, length);
  if (s->PastEnd > kMaxZerosPastEnd) png_error(png, "Read past the end of the file");
}

// The guarded steps. Nothing in these frames has a destructor.

bool GuardedCreateInfo(TPngState& s) {
  if (setjmp(png_jmpbuf(s.Png))) return false;
  s.Info = png_create_info_struct(s.Png);
  return s.Info != nullptr;
}

bool GuardedReadInfo(TPngState& s) {
  if (setjmp(png_jmpbuf(s.Png))) return false;
  png_set_read_fn(s.Png, &s, ReadFn);
  // The library-wide pixel cap decides, not libpng's own default limits.
  const int64_t limit = std::min<int64_t>(ImMaxPixels, 0x7FFFFFFF);
  png_set_user_limits(s.Png, static_cast<png_uint_32>(limit), static_cast<png_uint_32>(limit));
  png_read_info(s.Png, s.Info);
  png_get_IHDR(s.Png, s.Info, &s.Width, &s.Height, &s.BitDepth, &s.ColorType, &s.Interlace, nullptr, nullptr);
  return true;
}

bool GuardedSetup(TPngState& s, bool transform) {
  if (setjmp(png_jmpbuf(s.Png))) return false;
  const int depth = s.BitDepth, type = s.ColorType;
  const bool gray = type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA;
  if (transform) {
    // Palette to RGB, low gray depths to 8 bits, tRNS to an alpha channel.
    if ((type == PNG_COLOR_TYPE_PALETTE && depth >= 2 && depth <= 8) ||
        (type == PNG_COLOR_TYPE_GRAY && depth >= 2 && depth <= 4))
      png_set_expand(s.Png);
    if (depth == 16) png_set_strip_16(s.Png);
    if (depth >= 2 && depth <= 7) png_set_packing(s.Png);
    if (gray && depth > 1) png_set_gray_to_rgb(s.Png);
    if (depth > 1) png_set_bgr(s.Png);
  }
  s.Passes = png_set_interlace_handling(s.Png);
  png_read_update_info(s.Png, s.Info);
  s.Channels = png_get_channels(s.Png, s.Info);
  s.RowBytes = png_get_rowbytes(s.Png, s.Info);
  png_uint_32 x = 0, y = 0;
  int unit = 0;
  if (png_get_pHYs(s.Png, s.Info, &x, &y, &unit)) {
    s.ResX = x;
    s.ResY = y;
    s.ResUnit = unit;
  }
  png_colorp plte = nullptr;
  int count = 0;
  if (type == PNG_COLOR_TYPE_PALETTE && png_get_PLTE(s.Png, s.Info, &plte, &count) && plte) {
    s.Palette.resize(static_cast<size_t>(std::clamp(count, 0, 256)));
    for (size_t i = 0; i < s.Palette.size(); ++i)
      s.Palette[i] = TImRGB{plte[i].blue, plte[i].green, plte[i].red};
  }
  return true;
}

// Where each row goes: straight into the target, or (four channels) through
// a B, G, R, A buffer split into the target and the mask.
struct TRowPlan {
  TImBitmap* Target = nullptr;
  TImMask* Mask = nullptr;  // set for four channels
  std::vector<uint8_t>* Buffer = nullptr;
  TLoadProgress* Progress = nullptr;
  int Width = 0, Height = 0;
};

// Rebuilds the B, G, R, A buffer of row y from what earlier passes left in
// the target and the mask, so that a pass changes only its own pixels.
void JoinRow(const TRowPlan& plan, int y, uint8_t* buf) {
  const uint8_t* rgb = plan.Target->Scanline(y);
  const uint8_t* a = plan.Mask->Scanline(y);
  for (int x = 0; x < plan.Width; ++x, buf += 4, rgb += 3) {
    buf[0] = rgb[0];
    buf[1] = rgb[1];
    buf[2] = rgb[2];
    buf[3] = a[x];
  }
}

void SplitRow(const TRowPlan& plan, int y, const uint8_t* buf) {
  uint8_t* rgb = plan.Target->Scanline(y);
  uint8_t* a = plan.Mask->Scanline(y);
  for (int x = 0; x < plan.Width; ++x, buf += 4, rgb += 3) {
    rgb[0] = buf[0];
    rgb[1] = buf[1];
    rgb[2] = buf[2];
    a[x] = buf[3];
  }
}

bool GuardedReadRows(TPngState& s, const TRowPlan& plan) {
  if (setjmp(png_jmpbuf(s.Png))) return false;
  for (int pass = 0; pass < s.Passes; ++pass) {
    for (int y = 0; y < plan.Height; ++y) {
      if (plan.Mask) {
        uint8_t* buf = plan.Buffer->data();
        if (s.Passes > 1) JoinRow(plan, y, buf);
        png_read_row(s.Png, buf, nullptr);
        SplitRow(plan, y, buf);
      } else {
        png_read_row(s.Png, plan.Target->Scanline(y), nullptr);
      }
      ++plan.Progress->Val;
      plan.Progress->Report(plan.Progress->Val);
      if (plan.Progress->IsAborting()) return true;
    }
  }
  return true;
}

bool GuardedReadEnd(TPngState& s) {
  if (setjmp(png_jmpbuf(s.Png))) return false;
  png_read_end(s.Png, nullptr);
  return true;
}

// Owns the read and info structures.
class TPngDecoder {
 public:
  TPngDecoder(TImStream& stream, bool* aborting) {
    s_.Stream = &stream;
    s_.Aborting = aborting;
  }
  ~TPngDecoder() {
    if (s_.Png) png_destroy_read_struct(&s_.Png, s_.Info ? &s_.Info : nullptr, nullptr);
  }
  TPngDecoder(const TPngDecoder&) = delete;
  TPngDecoder& operator=(const TPngDecoder&) = delete;

  bool Create() {
    s_.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s_, ErrorFn, WarningFn);
    return s_.Png && GuardedCreateInfo(s_);
  }
  TPngState& State() { return s_; }

 private:
  TPngState s_;
};

// Bits per pixel as stored in the file.
int FileBitsPerPixel(int colorType, int depth) {
  switch (colorType) {
    case PNG_COLOR_TYPE_RGB: return 3 * depth;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2 * depth;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4 * depth;
    default: return depth;
  }
}

// pixels per metre -> dots per inch, rounded half to even.
int32_t MetreToDpi(png_uint_32 ppm) {
  return static_cast<int32_t>(std::nearbyint(static_cast<double>(ppm) / 100.0 * 2.54));
}

void ReadPng(TImStream& stream, TImBitmap& target, TIOParams& p, TLoadProgress& progress,
             std::unique_ptr<TImMask>& alphaMask, bool headerOnly) {
  const int64_t available = stream.Remaining();
  TPngDecoder dec(stream, progress.Aborting);
  if (!dec.Create()) {
    progress.Abort();
    return;
  }
  TPngState& s = dec.State();
  if (!GuardedReadInfo(s)) return;
  const int w = static_cast<int>(std::min<png_uint_32>(s.Width, 0x7FFFFFFF));
  const int h = static_cast<int>(std::min<png_uint_32>(s.Height, 0x7FFFFFFF));
  // Refuse sizes beyond the cap, and sizes the data cannot hold even at the
  // best compression deflate reaches (the file is hopelessly short).
  const int64_t rowBytes = (static_cast<int64_t>(w) * FileBitsPerPixel(s.ColorType, s.BitDepth) + 7) / 8;
  if (!ImSizeAllowed(w, h) || (static_cast<int64_t>(h) * (rowBytes + 1)) / kMaxDeflateRatio > available) {
    progress.Abort();
    return;
  }

  if (!headerOnly) {
    if (!alphaMask) alphaMask = std::make_unique<TImMask>();
    alphaMask->Allocate(w, h, 8);
    alphaMask->Fill(255);
  }

  const bool native8 = p.NativePixelFormat && s.BitDepth == 8 &&
                       (s.ColorType == PNG_COLOR_TYPE_PALETTE || s.ColorType == PNG_COLOR_TYPE_GRAY);
  if (!GuardedSetup(s, !native8)) return;

  p.Width = w;
  p.Height = h;
  p.BitsPerSample = s.BitDepth;
  switch (s.ColorType) {
    case PNG_COLOR_TYPE_RGB: p.SamplesPerPixel = 3; break;
    case PNG_COLOR_TYPE_GRAY_ALPHA: p.SamplesPerPixel = 2; break;
    case PNG_COLOR_TYPE_RGB_ALPHA: p.SamplesPerPixel = 4; break;
    default: p.SamplesPerPixel = 1; break;
  }
  if (s.ResUnit == PNG_RESOLUTION_METER) {
    p.SetDpiX(MetreToDpi(s.ResX));
    p.SetDpiY(MetreToDpi(s.ResY));
  } else {
    p.SetDpiX(ImDefaultDpiX);
    p.SetDpiY(ImDefaultDpiY);
  }
  p.FreeColorMap();
  if (s.ColorType == PNG_COLOR_TYPE_PALETTE) p.SetColorMap(s.Palette.data(), static_cast<int>(s.Palette.size()));
  p.PngInterlaced = s.Interlace != PNG_INTERLACE_NONE;
  if (headerOnly) return;

  // The layout each pixel format needs; anything else is refused rather
  // than written past a row.
  TImPixelFormat format = im24bgr;
  size_t wantBytes = static_cast<size_t>(w) * 3;
  const bool fourChannels = !native8 && s.BitDepth > 1 && s.Channels == 4;
  if (s.BitDepth == 1) {
    format = im1bit;
    wantBytes = (static_cast<size_t>(w) + 7) / 8;
  } else if (native8) {
    format = s.ColorType == PNG_COLOR_TYPE_PALETTE ? im8pal : im8gray;
    wantBytes = static_cast<size_t>(w);
  } else if (fourChannels) {
    wantBytes = static_cast<size_t>(w) * 4;
  }
  if (s.RowBytes != wantBytes) {
    progress.Abort();
    return;
  }

  target.Allocate(w, h, format);
  if (format == im8pal) {
    // 2^8 entries: the palette, then black.
    for (int i = 0; i < 256; ++i) {
      const TImRGB c = i < p.ColorMapCount ? p.ColorMap[static_cast<size_t>(i)] : TImRGB{};
      target.SetPaletteColor(i, c.B | (c.G << 8) | (c.R << 16));
    }
  }
  progress.PerUnit = 100.0 / (static_cast<double>(h) * s.Passes);
  progress.Val = 0;
  std::vector<uint8_t> buffer;
  TRowPlan plan;
  plan.Target = &target;
  plan.Progress = &progress;
  plan.Width = w;
  plan.Height = h;
  if (fourChannels) {
    buffer.assign(wantBytes, 0);
    plan.Buffer = &buffer;
    plan.Mask = alphaMask.get();
  }
  GuardedReadRows(s, plan);
  if (fourChannels) alphaMask->Full = false;
  if (!progress.IsAborting()) GuardedReadEnd(s);
}

}  // namespace

void ReadPngStream(TImStream& stream, TImBitmap& target, TIOParams& params, TLoadProgress& progress,
                   std::unique_ptr<TImMask>& alphaMask, bool headerOnly) {
  // Without a flag of the caller's, failures still have to be seen here.
  bool localAborting = false;
  const bool ownFlag = progress.Aborting == nullptr;
  if (ownFlag) progress.Aborting = &localAborting;
  try {
    ReadPng(stream, target, params, progress, alphaMask, headerOnly);
  } catch (...) {
    if (ownFlag) progress.Aborting = nullptr;
    throw;
  }
  if (ownFlag) progress.Aborting = nullptr;
}

void TImageIO::LoadFromFilePng(const std::string& fileName) {
  TLoadOptions options;
  options.FileType = ioPNG;
  RunFormatLoad(fileName, options, [this](TImStream& stream, TLoadProgress& progress, std::unique_ptr<TImMask>& mask) {
    // The background goes to the reader and comes back from it (the reader
    // changes it only when it composites alpha over it).
    const TColor bg = ResolveSystemColor(Background());
    Params().PngBackground = TImRGB{uint8_t(bg >> 16), uint8_t(bg >> 8), uint8_t(bg)};
    ReadPngStream(stream, *Bitmap(), Params(), progress, mask);
    const TImRGB back = Params().PngBackground;
    SetBackground(back.R | (back.G << 8) | (back.B << 16));
  });
}
