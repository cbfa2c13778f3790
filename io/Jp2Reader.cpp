// JPEG 2000 reader: JP2 files and bare code streams, decoded by OpenJPEG
// from the file's bytes in memory. The content decides the decoder; the
// extension only decides FileType.
#include "io/Jp2Reader.h"

#include <openjpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "io/ImageIO.h"

namespace {

constexpr uint8_t kJp2Signature[12] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};
constexpr uint8_t kJ2kSignature[4] = {0xFF, 0x4F, 0xFF, 0x51};
// Images with more components than this are refused: no colour space used
// here needs them, and each one costs a full decoded plane.
constexpr uint32_t kMaxComponents = 11;

bool HasSignature(TImStream& stream, const uint8_t* sig, size_t n) {
  const std::span<const uint8_t> got = stream.Bytes(stream.Position(), static_cast<int64_t>(n));
  return got.size() == n && std::memcmp(got.data(), sig, n) == 0;
}

TJp2YCbCrTables BuildTables() {
  // Weights as single-precision values; each coefficient is computed in
  // extended precision and rounded to single precision.
  const float kr = 0.299f, kg = 0.587f, kb = 0.114f;
  const float qr = static_cast<float>(2.0L - 2.0L * kr);
  const float qb = static_cast<float>(2.0L - 2.0L * kb);
  const float qgr = static_cast<float>(static_cast<long double>(kr) * qr / kg);
  const float qgb = static_cast<float>(static_cast<long double>(kb) * qb / kg);
  TJp2YCbCrTables t{};
  for (int i = 0; i < 256; ++i) {
    const long double k = i - 128;
    // Rounding to nearest; no product falls on a half.
    t.RedFromCr[i] = static_cast<int32_t>(std::llrint(static_cast<long double>(qr) * k));
    t.BlueFromCb[i] = static_cast<int32_t>(std::llrint(static_cast<long double>(qb) * k));
    t.GreenFromCr[i] = -static_cast<int32_t>(std::llrint(static_cast<long double>(qgr) * k));
    t.GreenFromCb[i] = -static_cast<int32_t>(std::llrint(static_cast<long double>(qgb) * k));
  }
  return t;
}

const TJp2YCbCrTables kTables = BuildTables();

// OpenJPEG reads the file through these callbacks over the bounded stream.
struct TSource {
  std::span<const uint8_t> Data;
  size_t Pos = 0;
};

OPJ_SIZE_T SourceRead(void* buffer, OPJ_SIZE_T n, void* user) {
  TSource* src = static_cast<TSource*>(user);
  if (src->Pos >= src->Data.size()) return static_cast<OPJ_SIZE_T>(-1);
  const size_t got = std::min<size_t>(n, src->Data.size() - src->Pos);
  std::memcpy(buffer, src->Data.data() + src->Pos, got);
  src->Pos += got;
  return got;
}

OPJ_OFF_T SourceSkip(OPJ_OFF_T n, void* user) {
  TSource* src = static_cast<TSource*>(user);
  const int64_t size = static_cast<int64_t>(src->Data.size());
  const int64_t target = static_cast<int64_t>(src->Pos) + n;
  if (target < 0 || target > size) {
    src->Pos = target < 0 ? 0 : src->Data.size();
    return -1;
  }
  src->Pos = static_cast<size_t>(target);
  return n;
}

OPJ_BOOL SourceSeek(OPJ_OFF_T pos, void* user) {
  TSource* src = static_cast<TSource*>(user);
  if (pos < 0 || static_cast<uint64_t>(pos) > src->Data.size()) return OPJ_FALSE;
  src->Pos = static_cast<size_t>(pos);
  return OPJ_TRUE;
}

// The library's messages never reach the user.
void Quiet(const char*, void*) {}

struct TDecoded {
  opj_codec_t* Codec = nullptr;
  opj_stream_t* Stream = nullptr;
  opj_image_t* Image = nullptr;
  ~TDecoded() {
    if (Image) opj_image_destroy(Image);
    if (Stream) opj_stream_destroy(Stream);
    if (Codec) opj_destroy_codec(Codec);
  }
};

enum class TSpace { Gray, Rgb, YCbCr, Other };

TSpace SpaceOf(const opj_image_t& image) {
  switch (image.color_space) {
    case OPJ_CLRSPC_GRAY: return TSpace::Gray;
    case OPJ_CLRSPC_SRGB: return TSpace::Rgb;
    case OPJ_CLRSPC_SYCC: return TSpace::YCbCr;
    case OPJ_CLRSPC_UNKNOWN:
    case OPJ_CLRSPC_UNSPECIFIED:
      // A code stream carries no colour space (nor does a JP2 file that
      // describes its colours by a profile): three or more components are
      // RGB, one or two gray.
      return image.numcomps >= 3 ? TSpace::Rgb : TSpace::Gray;
    default: return TSpace::Other;
  }
}

// The component playing colour role `role` (0, 1, 2): the role-th component
// that is not an opacity channel, else the fallback index.
uint32_t FindComponent(const opj_image_t& image, int role, uint32_t fallback) {
  int seen = 0;
  for (uint32_t i = 0; i < image.numcomps; ++i) {
    if (image.comps[i].alpha) continue;
    if (seen++ == role) return i;
  }
  return fallback;
}

// The top 8 of a sample's precision bits, taken as they are (a negative value
// of a signed component gives its two's-complement pattern).
inline uint8_t Top8(int32_t v, int shift) {
  return static_cast<uint8_t>((static_cast<uint32_t>(v) << shift) >> 24);
}

struct TPlane {
  const opj_image_comp_t* Comp = nullptr;
  int Shift = 0;
  std::vector<int32_t> Cols, Rows;
  int32_t At(int x, int y) const {
    return Comp->data[static_cast<size_t>(Rows[y]) * Comp->w + static_cast<size_t>(Cols[x])];
  }
};

// Index maps from target pixels to component samples: the component's offset
// on the reference grid relative to the image, divided by its step.
void BuildMaps(TPlane& plane, const opj_image_t& image, int width, int height) {
  const opj_image_comp_t& c = *plane.Comp;
  const int64_t offX = static_cast<int64_t>(c.x0) * c.dx - image.x0;
  const int64_t offY = static_cast<int64_t>(c.y0) * c.dy - image.y0;
  plane.Cols.resize(width);
  plane.Rows.resize(height);
  for (int x = 0; x < width; ++x) {
    const int64_t i = (x - offX) / static_cast<int64_t>(c.dx);
    plane.Cols[x] = i < 0 || i >= c.w ? 0 : static_cast<int32_t>(i);
  }
  for (int y = 0; y < height; ++y) {
    const int64_t i = (y - offY) / static_cast<int64_t>(c.dy);
    plane.Rows[y] = i < 0 || i >= c.h ? 0 : static_cast<int32_t>(i);
  }
}

// The code stream of the data: all of a bare code stream, the contents of the
// first top-level "jp2c" box of a JP2 file (empty when there is none).
std::span<const uint8_t> CodeStreamOf(std::span<const uint8_t> data, bool jp2) {
  if (!jp2) return data;
  uint64_t pos = 0;
  while (pos + 8 <= data.size()) {
    uint64_t length = ImGetU32BE(data, pos);
    const uint32_t type = ImGetU32BE(data, pos + 4);
    uint64_t header = 8;
    if (length == 1) {
      if (pos + 16 > data.size()) return {};
      length = (static_cast<uint64_t>(ImGetU32BE(data, pos + 8)) << 32) | ImGetU32BE(data, pos + 12);
      header = 16;
    } else if (length == 0) {
      length = data.size() - pos;
    }
    if (length < header) return {};
    if (type == 0x6A703263) {  // "jp2c"
      const uint64_t end = std::min<uint64_t>(data.size(), pos + length);
      return data.subspan(static_cast<size_t>(pos + header), static_cast<size_t>(end - pos - header));
    }
    if (length > data.size() - pos) return {};
    pos += length;
  }
  return {};
}

// The image and tile sizes, read before the decoder sees them. The decoder
// sets up every tile and component as soon as it reads the header, so a few
// bytes that divide an image into tens of thousands of tiles cost it hundreds
// of megabytes and minutes. Every tile of a complete file takes at least a
// tile-part header and its start-of-data marker (14 bytes): a header that
// announces more tiles than the file could hold, or more components than are
// ever decoded, is refused.
bool HeaderPlausible(std::span<const uint8_t> data, bool jp2) {
  const std::span<const uint8_t> cs = CodeStreamOf(data, jp2);
  if (cs.size() < 40 || ImGetU16BE(cs, 0) != 0xFF4F || ImGetU16BE(cs, 2) != 0xFF51) return false;
  const uint64_t xsiz = ImGetU32BE(cs, 8), ysiz = ImGetU32BE(cs, 12);
  const uint64_t xtsiz = ImGetU32BE(cs, 24), ytsiz = ImGetU32BE(cs, 28);
  const uint64_t xtosiz = ImGetU32BE(cs, 32), ytosiz = ImGetU32BE(cs, 36);
  const uint32_t components = cs.size() >= 42 ? ImGetU16BE(cs, 40) : 0;
  if (xtsiz == 0 || ytsiz == 0 || xtosiz >= xsiz || ytosiz >= ysiz) return false;
  if (components == 0 || components > kMaxComponents) return false;
  const uint64_t tiles = ((xsiz - xtosiz + xtsiz - 1) / xtsiz) * ((ysiz - ytosiz + ytsiz - 1) / ytsiz);
  constexpr uint64_t kTileBytes = 14;
  return tiles <= std::max<uint64_t>(1, cs.size() / kTileBytes);
}

inline uint8_t Clamp255(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

void ReadJpeg2000(TImStream& stream, TImBitmap& bitmap, TIOParams& p, TLoadProgress& progress) {
  const bool jp2 = IsJp2Stream(stream);
  if (!jp2 && !IsJ2kStream(stream)) {
    progress.Abort();
    return;
  }
  TSource source{stream.Rest(), 0};
  if (!HeaderPlausible(source.Data, jp2)) {
    progress.Abort();
    return;
  }
  TDecoded d;
  d.Codec = opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
  d.Stream = opj_stream_create(65536, OPJ_TRUE);
  if (!d.Codec || !d.Stream) {
    progress.Abort();
    return;
  }
  opj_set_info_handler(d.Codec, Quiet, nullptr);
  opj_set_warning_handler(d.Codec, Quiet, nullptr);
  opj_set_error_handler(d.Codec, Quiet, nullptr);
  opj_stream_set_user_data(d.Stream, &source, nullptr);
  opj_stream_set_user_data_length(d.Stream, source.Data.size());
  opj_stream_set_read_function(d.Stream, SourceRead);
  opj_stream_set_skip_function(d.Stream, SourceSkip);
  opj_stream_set_seek_function(d.Stream, SourceSeek);
  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  if (!opj_setup_decoder(d.Codec, &parameters) || !opj_read_header(d.Stream, d.Codec, &d.Image) || !d.Image) {
    progress.Abort();
    return;
  }
  // The size is checked before the decoder allocates any sample plane.
  const int64_t areaW = static_cast<int64_t>(d.Image->x1) - d.Image->x0;
  const int64_t areaH = static_cast<int64_t>(d.Image->y1) - d.Image->y0;
  if (d.Image->numcomps == 0 || d.Image->numcomps > kMaxComponents ||
      !ImSizeDescribable(areaW, areaH, int64_t(8) * d.Image->numcomps, static_cast<int64_t>(source.Data.size())) ||
      !opj_decode(d.Codec, d.Stream, d.Image) || !opj_end_decompress(d.Codec, d.Stream)) {
    progress.Abort();
    return;
  }
  const opj_image_t& image = *d.Image;
  const TSpace space = SpaceOf(image);
  if (space == TSpace::Other) {
    progress.Abort();
    return;
  }
  const int planes = space == TSpace::Gray ? 1 : 3;
  TPlane plane[3];
  for (int k = 0; k < planes; ++k) {
    const uint32_t fallback = space == TSpace::Rgb ? static_cast<uint32_t>(k) : 0;
    uint32_t index = FindComponent(image, k, fallback);
    if (index >= image.numcomps) index = 0;
    const opj_image_comp_t& c = image.comps[index];
    // A used component the decoder left without samples, or of a shape
    // the index maps cannot address, makes the file unreadable.
    if (!c.data || c.w == 0 || c.h == 0 || c.dx == 0 || c.dy == 0 || c.prec < 1 || c.prec > 32 ||
        static_cast<int64_t>(c.w) * c.h > ImMaxPixels) {
      progress.Abort();
      return;
    }
    plane[k].Comp = &c;
    plane[k].Shift = 32 - static_cast<int>(c.prec);
  }
  p.BitsPerSample = static_cast<int32_t>(plane[0].Comp->prec);
  p.SamplesPerPixel = planes;
  p.SetDpiX(ImDefaultDpiX);
  p.SetDpiY(ImDefaultDpiY);
  p.FreeColorMap();
  const int width = static_cast<int>(areaW), height = static_cast<int>(areaH);
  p.Width = width;
  p.Height = height;

  const bool bilevel = p.BitsPerSample == 1 && p.SamplesPerPixel == 1;
  bitmap.SetWidth(1);
  bitmap.SetHeight(1);
  bitmap.SetPixelFormat(bilevel ? im1bit : im24bgr);
  bitmap.SetHeight(height);
  bitmap.SetWidth(width);
  progress.PerUnit = 100.0 / height;
  for (int k = 0; k < planes; ++k) BuildMaps(plane[k], image, width, height);

  for (int y = 0; y < height; ++y) {
    uint8_t* row = bitmap.Scanline(y);
    if (bilevel) {
      std::memset(row, 0, (static_cast<size_t>(width) + 7) / 8);
      for (int x = 0; x < width; ++x)
        if (Top8(plane[0].At(x, y), plane[0].Shift)) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    } else if (space == TSpace::Gray) {
      for (int x = 0; x < width; ++x) {
        const uint8_t v = Top8(plane[0].At(x, y), plane[0].Shift);
        row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = v;
      }
    } else if (space == TSpace::Rgb) {
      for (int x = 0; x < width; ++x) {
        row[3 * x] = Top8(plane[2].At(x, y), plane[2].Shift);
        row[3 * x + 1] = Top8(plane[1].At(x, y), plane[1].Shift);
        row[3 * x + 2] = Top8(plane[0].At(x, y), plane[0].Shift);
      }
    } else {
      for (int x = 0; x < width; ++x) {
        const int yy = Top8(plane[0].At(x, y), plane[0].Shift);
        const int cb = Top8(plane[1].At(x, y), plane[1].Shift);
        const int cr = Top8(plane[2].At(x, y), plane[2].Shift);
        row[3 * x] = Clamp255(yy + kTables.BlueFromCb[cb]);
        row[3 * x + 1] = Clamp255(yy + kTables.GreenFromCb[cb] + kTables.GreenFromCr[cr]);
        row[3 * x + 2] = Clamp255(yy + kTables.RedFromCr[cr]);
      }
    }
    progress.Report(y);
    if (progress.IsAborting()) break;
  }
}

}  // namespace

bool IsJp2Stream(TImStream& stream) { return HasSignature(stream, kJp2Signature, sizeof kJp2Signature); }
bool IsJ2kStream(TImStream& stream) { return HasSignature(stream, kJ2kSignature, sizeof kJ2kSignature); }
const TJp2YCbCrTables& Jp2YCbCrTables() { return kTables; }

void TImageIO::LoadFromFileJp2(const std::string& fileName) {
  TLoadOptions options;
  options.FileType = ioJP2;
  RunFormatLoad(fileName, options, [this](TImStream& stream, TLoadProgress& progress, std::unique_ptr<TImMask>&) {
    ReadJpeg2000(stream, *Bitmap(), Params(), progress);
  });
}

void TImageIO::LoadFromFileJ2k(const std::string& fileName) {
  TLoadOptions options;
  options.FileType = ioJ2K;
  RunFormatLoad(fileName, options, [this](TImStream& stream, TLoadProgress& progress, std::unique_ptr<TImMask>&) {
    ReadJpeg2000(stream, *Bitmap(), Params(), progress);
  });
}
