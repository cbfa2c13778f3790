// JPEG reader on libjpeg (version 6 interface, library version 62).
//
// libjpeg reports fatal errors through the error manager's error_exit, which
// must not return. Here it records the message and longjmps back to the
// setjmp point of the guarded step that made the library call. Each guarded
// step is a function whose frame holds nothing with a destructor, and the
// only frames between it and error_exit are libjpeg's own C frames and the
// callbacks below, which own nothing either; all state lives in the heap
// object TJpegDecoder::TState, which outlives every step.

#include "io/JpegReader.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>  // jpeglib.h uses FILE
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "io/Cmyk.h"
#include "io/ImageIO.h"
#include "io/JpegDecoder.h"

namespace {

constexpr int64_t kSourceBufferSize = 0x10000;
// Saved markers are kept up to the largest size a marker can have.
constexpr unsigned kMaxSavedMarker = 0xFFFF;
// Ordinary progressive files have about ten scans; thousands of tiny scans
// would each run over the whole coefficient buffer.
constexpr int kMaxScans = 1000;
// Memory the library may spend on whole-image coefficient buffers (files
// with several scans): a base amount plus 2 KiB per byte of data. Every
// 8 x 8 block costs at least one bit of Huffman-coded data in a complete
// file (its first DC code), and 128 bytes of buffer, so a complete file
// never needs more than 1 KiB of buffer per byte of data.
constexpr long kBaseCoefficientMemory = 64L << 20;
constexpr long kCoefficientMemoryPerByte = 2048;

struct TErrorMgr {
  jpeg_error_mgr Pub;  // first member: the library hands back its address
  jmp_buf Jump;
  bool* Aborting = nullptr;
  bool Failed = false;
  int LastWarningCode = 0;
  char Text[JMSG_LENGTH_MAX] = {};
};

struct TSourceMgr {
  jpeg_source_mgr Pub;  // first member: the library hands back its address
  TImStream* Stream = nullptr;
  JOCTET* Buffer = nullptr;  // kSourceBufferSize bytes
  bool StartOfFile = true;
  bool* Aborting = nullptr;
};

const JOCTET kFakeEoi[2] = {0xFF, 0xD9};

// The library's text for the current message code with every printf
// conversion shown as "?"; "Corrupted" for a code outside the tables.
void FormatLibraryMessage(j_common_ptr cinfo, char* out, size_t outSize) {
  const jpeg_error_mgr* err = cinfo->err;
  const int code = err->msg_code;
  const char* text = nullptr;
  if (err->jpeg_message_table && code >= 0 && code <= err->last_jpeg_message)
    text = err->jpeg_message_table[code];
  else if (err->addon_message_table && code >= err->first_addon_message && code <= err->last_addon_message)
    text = err->addon_message_table[code - err->first_addon_message];
  if (!text) text = "Corrupted";
  size_t n = 0;
  for (const char* c = text; *c && n + 1 < outSize; ++c) {
    if (*c != '%') {
      out[n++] = *c;
      continue;
    }
    if (c[1] == '%') {
      out[n++] = '%';
      ++c;
      continue;
    }
    // Flags, width, precision and length up to the conversion letter.
    while (c[1] && std::strchr("-+ #0123456789.hlLqjzt", c[1])) ++c;
    if (c[1]) ++c;
    out[n++] = '?';
  }
  out[n] = 0;
}

void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<TErrorMgr*>(cinfo->err);
  err->Failed = true;
  if (err->Aborting) *err->Aborting = true;
  FormatLibraryMessage(cinfo, err->Text, sizeof err->Text);
  std::longjmp(err->Jump, 1);
}

// Level -1 is a warning (corrupt data the library works around); other
// levels are trace messages.
void EmitMessage(j_common_ptr cinfo, int level) {
  if (level != -1) return;
  auto* err = reinterpret_cast<TErrorMgr*>(cinfo->err);
  err->Pub.num_warnings++;
  err->LastWarningCode = err->Pub.msg_code;
}

void OutputMessage(j_common_ptr) {}

void FormatMessage(j_common_ptr, char* buffer) { buffer[0] = 0; }

void ResetErrorMgr(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<TErrorMgr*>(cinfo->err);
  err->Pub.num_warnings = 0;
  err->Pub.msg_code = 0;
  err->LastWarningCode = 0;
}

void ProgressMonitor(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
    cinfo->err->msg_code = -1;  // outside the table: "Corrupted"
    cinfo->err->error_exit(cinfo);
  }
}

void InitSource(j_decompress_ptr cinfo) { reinterpret_cast<TSourceMgr*>(cinfo->src)->StartOfFile = true; }

// Hands the library up to 64 KiB of the stream. At the end of the data it
// hands over an end-of-image marker instead, so a truncated file decodes to
// its end (the library completes the missing rows and counts a warning); an
// empty stream sets Aborting.
boolean FillInputBuffer(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<TSourceMgr*>(cinfo->src);
  const int64_t remaining = std::max<int64_t>(src->Stream->Remaining(), 0);
  const size_t want = static_cast<size_t>(std::min<int64_t>(remaining, kSourceBufferSize));
  const size_t got = want ? src->Stream->Read(src->Buffer, want) : 0;
  if (got == 0) {
    if (src->StartOfFile && src->Aborting) *src->Aborting = true;
    src->Pub.next_input_byte = kFakeEoi;
    src->Pub.bytes_in_buffer = 2;
  } else {
    src->Pub.next_input_byte = src->Buffer;
    src->Pub.bytes_in_buffer = got;
  }
  src->StartOfFile = false;
  return TRUE;
}

// Skips within the buffer, then moves the stream on; a skip past the end
// leaves the stream at its end, where the next fill gives end-of-image.
void SkipInputData(j_decompress_ptr cinfo, long count) {
  auto* src = reinterpret_cast<TSourceMgr*>(cinfo->src);
  if (count <= 0) return;
  const size_t n = static_cast<size_t>(count);
  if (n <= src->Pub.bytes_in_buffer) {
    src->Pub.next_input_byte += n;
    src->Pub.bytes_in_buffer -= n;
    return;
  }
  int64_t rest = static_cast<int64_t>(n - src->Pub.bytes_in_buffer);
  src->Pub.next_input_byte = nullptr;
  src->Pub.bytes_in_buffer = 0;
  const int64_t remaining = src->Stream->Remaining();
  src->Stream->Skip(rest < remaining ? rest : remaining);
}

void TermSource(j_decompress_ptr) {}

int ColorSpaceCode(J_COLOR_SPACE cs) {
  switch (cs) {
    case JCS_RGB: return jcsRGB;
    case JCS_GRAYSCALE: return jcsGray;
    case JCS_YCbCr: return jcsYCbCr;
    case JCS_CMYK: return jcsCMYK;
    case JCS_YCCK: return jcsYCCK;
    default: return jcsUnknown;
  }
}

}  // namespace

struct TJpegDecoder::TState {
  jpeg_decompress_struct Info;
  TErrorMgr Err;
  TSourceMgr Src;
  jpeg_progress_mgr Progress;
  std::vector<JOCTET> SourceBuffer;
  TImStream* Stream = nullptr;
  TImStream* Tables = nullptr;
  bool Created = false;
  bool Started = false;
  bool HeaderRead = false;
  TJpegHeader Header;
  int OutputWidth = 0, OutputHeight = 0, ScaleDenominator = 1;
  // How rows leave the library: straight into the sink's buffer as B, G, R,
  // or through Scratch (CMYK and colour spaces the library cannot convert).
  bool Direct = true;
  bool Cmyk = false;
  int OutputComponents = 3;
  std::vector<uint8_t> Scratch;
  int Rows = 0;
  std::string ErrorText;
};

namespace {

using TState = TJpegDecoder::TState;

// The guarded steps. Nothing in these frames has a destructor.

bool GuardedCreate(TState& s) {
  if (setjmp(s.Err.Jump)) return false;
  jpeg_create_decompress(&s.Info);
  s.Created = true;
  return true;
}

bool GuardedReadHeader(TState& s) {
  if (setjmp(s.Err.Jump)) return false;
  jpeg_save_markers(&s.Info, JPEG_COM, kMaxSavedMarker);
  for (int m = 0; m < 16; ++m) jpeg_save_markers(&s.Info, JPEG_APP0 + m, kMaxSavedMarker);
  if (s.Tables) {
    s.Src.Stream = s.Tables;
    jpeg_read_header(&s.Info, FALSE);
    s.Src.Stream = s.Stream;
    s.Src.Pub.next_input_byte = nullptr;
    s.Src.Pub.bytes_in_buffer = 0;
  }
  jpeg_read_header(&s.Info, TRUE);
  return true;
}

bool GuardedStart(TState& s, bool headerOnly) {
  if (setjmp(s.Err.Jump)) return false;
  if (headerOnly) {
    jpeg_calc_output_dimensions(&s.Info);
  } else {
    jpeg_start_decompress(&s.Info);
    s.Started = true;
  }
  return true;
}

// Fills dst (OutputWidth pixels, B, G, R) from the scratch row.
void ConvertScratch(TState& s, uint8_t* dst) {
  const int w = s.OutputWidth;
  const uint8_t* src = s.Scratch.data();
  if (s.Cmyk) {
    ConvertCmykToBgr(src, dst, w);
    return;
  }
  // Components the library cannot convert: the first three as they are, or
  // the first one as gray when there are fewer than three.
  const int n = s.OutputComponents;
  for (int x = 0; x < w; ++x, src += n, dst += 3) {
    if (n >= 3) {
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
    } else {
      dst[0] = dst[1] = dst[2] = src[0];
    }
  }
}

// Returns 1 when every row was delivered or the sink stopped, 0 when the
// library delivered no row, -1 after a library error.
int GuardedReadRows(TState& s, TJpegRowSink& sink) {
  if (setjmp(s.Err.Jump)) return -1;
  jpeg_decompress_struct& ci = s.Info;
  while (ci.output_scanline < ci.output_height) {
    const int y = static_cast<int>(ci.output_scanline);
    uint8_t* dst = sink.RowBuffer(y);
    if (!dst) {
      const JDIMENSION left = ci.output_height - ci.output_scanline;
      const int want = sink.SkipCount(y);
      const JDIMENSION count = want < 1 ? 1 : static_cast<JDIMENSION>(want) < left ? static_cast<JDIMENSION>(want) : left;
      if (jpeg_skip_scanlines(&ci, count) != count) return 0;
      s.Rows += static_cast<int>(count);
      continue;
    }
    JSAMPROW row = s.Direct ? dst : s.Scratch.data();
    if (jpeg_read_scanlines(&ci, &row, 1) != 1) return 0;
    ++s.Rows;
    if (!s.Direct) ConvertScratch(s, dst);
    if (!sink.RowDone(y)) return 1;
  }
  return 1;
}

bool GuardedFinish(TState& s) {
  if (setjmp(s.Err.Jump)) return false;
  jpeg_finish_decompress(&s.Info);
  return true;
}

}  // namespace

TJpegDecoder::TJpegDecoder(TImStream& stream, TImStream* tables, bool* aborting) : s_(std::make_unique<TState>()) {
  TState& s = *s_;
  s.Stream = &stream;
  s.Tables = tables;
  s.SourceBuffer.assign(static_cast<size_t>(kSourceBufferSize), 0);
  jpeg_std_error(&s.Err.Pub);
  s.Err.Pub.error_exit = ErrorExit;
  s.Err.Pub.emit_message = EmitMessage;
  s.Err.Pub.output_message = OutputMessage;
  s.Err.Pub.format_message = FormatMessage;
  s.Err.Pub.reset_error_mgr = ResetErrorMgr;
  s.Err.Aborting = aborting;
  s.Info.err = &s.Err.Pub;
  if (!GuardedCreate(s)) {
    s.ErrorText = s.Err.Text;
    return;
  }
  s.Src.Pub.init_source = InitSource;
  s.Src.Pub.fill_input_buffer = FillInputBuffer;
  s.Src.Pub.skip_input_data = SkipInputData;
  s.Src.Pub.resync_to_restart = jpeg_resync_to_restart;
  s.Src.Pub.term_source = TermSource;
  s.Src.Pub.next_input_byte = nullptr;
  s.Src.Pub.bytes_in_buffer = 0;
  s.Src.Stream = tables ? tables : &stream;
  s.Src.Buffer = s.SourceBuffer.data();
  s.Src.Aborting = aborting;
  s.Info.src = &s.Src.Pub;
  s.Progress.progress_monitor = ProgressMonitor;
  s.Info.progress = &s.Progress;
  int64_t bytes = stream.Remaining() + (tables ? tables->Remaining() : 0);
  const int64_t cap = (int64_t(1) << 40) / kCoefficientMemoryPerByte;
  if (bytes > cap) bytes = cap;
  s.Info.mem->max_memory_to_use = kBaseCoefficientMemory + static_cast<long>(bytes) * kCoefficientMemoryPerByte;
}

TJpegDecoder::~TJpegDecoder() {
  if (s_->Created) jpeg_destroy_decompress(&s_->Info);
}

bool TJpegDecoder::ReadHeader() {
  TState& s = *s_;
  if (!s.Created) return false;
  if (!GuardedReadHeader(s)) {
    s.ErrorText = s.Err.Text;
    return false;
  }
  s.HeaderRead = true;
  const jpeg_decompress_struct& ci = s.Info;
  TJpegHeader& h = s.Header;
  h.Width = static_cast<int>(ci.image_width);
  h.Height = static_cast<int>(ci.image_height);
  h.Components = ci.num_components;
  h.ColorSpace = ColorSpaceCode(ci.jpeg_color_space);
  h.Progressive = ci.progressive_mode != 0;
  h.DensityUnit = ci.density_unit;
  h.XDensity = ci.X_density;
  h.YDensity = ci.Y_density;
  return true;
}

const TJpegHeader& TJpegDecoder::Header() const { return s_->Header; }

bool TJpegDecoder::Start(const TJpegStartOptions& options) {
  TState& s = *s_;
  if (!s.HeaderRead) return false;
  jpeg_decompress_struct& ci = s.Info;
  // The scan data left after the header must be able to describe the image.
  const int64_t dataBytes = s.Stream->Remaining() + static_cast<int64_t>(s.Src.Pub.bytes_in_buffer);
  if (!ImSizeDescribable(ci.image_width, ci.image_height, int64_t(8) * ci.num_components, dataBytes)) {
    s.Err.Failed = true;
    if (s.Err.Aborting) *s.Err.Aborting = true;
    s.ErrorText = "Image too large";
    return false;
  }
  switch (ci.jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_RGB:
      ci.out_color_space = JCS_EXT_BGR;
      break;
    case JCS_YCbCr:
      ci.out_color_space = options.RawYCbCr ? JCS_YCbCr : JCS_EXT_BGR;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      ci.out_color_space = JCS_CMYK;
      break;
    default:
      break;  // the library's default output
  }
  switch (options.DctMethod) {
    case 0: ci.dct_method = JDCT_ISLOW; break;
    case 1: ci.dct_method = JDCT_IFAST; break;
    case 2: ci.dct_method = JDCT_FLOAT; break;
    default: break;
  }
  if (options.ScaleDenominator == 1 || options.ScaleDenominator == 2 || options.ScaleDenominator == 4 ||
      options.ScaleDenominator == 8) {
    ci.scale_num = 1;
    ci.scale_denom = static_cast<unsigned>(options.ScaleDenominator);
  }
  if (!GuardedStart(s, options.HeaderOnly)) {
    s.ErrorText = s.Err.Text;
    return false;
  }
  s.OutputWidth = static_cast<int>(ci.output_width);
  s.OutputHeight = static_cast<int>(ci.output_height);
  s.ScaleDenominator = ci.scale_num == 1 ? static_cast<int>(ci.scale_denom) : 1;
  s.OutputComponents = ci.output_components;
  s.Cmyk = ci.out_color_space == JCS_CMYK && ci.output_components == 4;
  s.Direct = !s.Cmyk && ci.output_components == 3 &&
             (ci.out_color_space == JCS_EXT_BGR || ci.out_color_space == JCS_YCbCr);
  if (!s.Direct && !options.HeaderOnly)
    s.Scratch.assign(static_cast<size_t>(s.OutputWidth) * static_cast<size_t>(s.OutputComponents), 0);
  return true;
}

int TJpegDecoder::OutputWidth() const { return s_->OutputWidth; }
int TJpegDecoder::OutputHeight() const { return s_->OutputHeight; }
int TJpegDecoder::ScaleDenominator() const { return s_->ScaleDenominator; }

bool TJpegDecoder::ReadRows(TJpegRowSink& sink) {
  TState& s = *s_;
  if (!s.Started) return false;
  const int result = GuardedReadRows(s, sink);
  if (result < 0) s.ErrorText = s.Err.Text;
  return result > 0;
}

int TJpegDecoder::RowsRead() const { return s_->Rows; }

void TJpegDecoder::Finish() {
  TState& s = *s_;
  if (!s.Started) return;
  // An error here stops nothing the caller still needs: it does not count
  // as a failed read.
  bool* aborting = s.Err.Aborting;
  const bool was = aborting && *aborting;
  s.Err.Aborting = nullptr;
  GuardedFinish(s);
  s.Err.Aborting = aborting;
  if (aborting) *aborting = was;
}

TImMarkerList TJpegDecoder::Markers() const {
  TImMarkerList list;
  if (!s_->Created) return list;
  for (jpeg_saved_marker_ptr m = s_->Info.marker_list; m; m = m->next) {
    TImMarker marker;
    marker.Code = m->marker;
    if (m->data && m->data_length) marker.Data.assign(m->data, m->data + m->data_length);
    list.push_back(std::move(marker));
  }
  return list;
}

int TJpegDecoder::WarningCount() const { return static_cast<int>(s_->Err.Pub.num_warnings); }
int TJpegDecoder::LastWarningCode() const { return s_->Err.LastWarningCode; }
const std::string& TJpegDecoder::ErrorText() const { return s_->ErrorText; }

// ---------------------------------------------------------------- reader

int64_t FindJpegStart(TImStream& stream) {
  const int64_t p = stream.Position();
  const auto bytes = stream.Bytes(p, 102);
  for (size_t i = 0; i + 2 < bytes.size() && i < 100; ++i)
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xD8 && bytes[i + 2] == 0xFF) return p + static_cast<int64_t>(i);
  return -1;
}

namespace {

// Rows go straight into the target; progress after each.
class TTargetSink : public TJpegRowSink {
 public:
  TTargetSink(TImBitmap& target, TLoadProgress& progress) : target_(target), progress_(progress) {}
  uint8_t* RowBuffer(int y) override { return target_.Scanline(y); }
  bool RowDone(int) override {
    if (progress_.IsAborting()) return false;
    ++progress_.Val;
    progress_.Report(progress_.Val);
    return !progress_.IsAborting();
  }

 private:
  TImBitmap& target_;
  TLoadProgress& progress_;
};

// The denominator for JpegScale; 0 when the library's default stays.
int ScaleDenominatorFor(const TIOParams& p, const TJpegHeader& h) {
  switch (p.JpegScale) {
    case 1: return 1;
    case 2: return 2;
    case 3: return 4;
    case 4: return 8;
    case 0:
      // The smallest scale that still covers the size held before the read.
      if (p.Width > 0 && p.Height > 0)
        for (int n = 3; n >= 0; --n)
          if ((h.Width >> n) >= p.Width && (h.Height >> n) >= p.Height) return 1 << n;
      return 1;
    default: return 0;
  }
}

// Steps 2 to 13 of a read; returns with the decoder in whatever state the
// read reached.
void DecodeInto(TJpegDecoder& dec, TImBitmap& target, TIOParams& p, TLoadProgress& progress, bool headerOnly,
                bool rawYCbCr) {
  if (!dec.ReadHeader()) return;
  const TJpegHeader& h = dec.Header();
  p.BitsPerSample = 8;
  switch (h.ColorSpace) {
    case jcsGray: p.SamplesPerPixel = 1; break;
    case jcsRGB:
    case jcsYCbCr: p.SamplesPerPixel = 3; break;
    case jcsCMYK:
    case jcsYCCK: p.SamplesPerPixel = 4; break;
    default: break;
  }
  if (h.ColorSpace != jcsUnknown) p.JpegColorSpace = static_cast<uint8_t>(h.ColorSpace);
  if (h.DensityUnit == 0 || h.DensityUnit == 1) {
    p.SetDpiX(h.XDensity);
    p.SetDpiY(h.YDensity);
  } else if (h.DensityUnit == 2) {
    p.SetDpiX(static_cast<int32_t>(h.XDensity * 2.54));
    p.SetDpiY(static_cast<int32_t>(h.YDensity * 2.54));
  }
  p.FreeColorMap();
  p.JpegProgressive = h.Progressive;
  p.FullWidth = h.Width;
  p.FullHeight = h.Height;

  TJpegStartOptions options;
  options.DctMethod = p.JpegDctMethod;
  options.ScaleDenominator = ScaleDenominatorFor(p, h);
  options.RawYCbCr = rawYCbCr;
  options.HeaderOnly = headerOnly;
  if (!dec.Start(options)) return;
  p.JpegScaleDenominator = dec.ScaleDenominator();
  p.Width = dec.OutputWidth();
  p.Height = dec.OutputHeight();
  if (headerOnly) return;

  target.Allocate(p.Width, p.Height, im24bgr);
  progress.PerUnit = 100.0 / p.Height;
  progress.Val = 0;
  TTargetSink sink(target, progress);
  dec.ReadRows(sink);
  if (dec.RowsRead() < p.Height) progress.Abort();
}

}  // namespace

void ReadJpegStream(TImStream& stream, TImStream* tables, TImBitmap& target, TIOParams& params,
                    TLoadProgress& progress, bool headerOnly, bool rawYCbCr) {
  params.JpegWarningTotal = 0;
  params.JpegWarningCode = 0;
  params.JpegErrorText.clear();
  const int64_t start = FindJpegStart(stream);
  if (start < 0) {
    progress.Abort();
    return;
  }
  stream.Seek(start);
  // Without a flag of the caller's, failures still have to be seen here.
  bool localAborting = false;
  const bool ownFlag = progress.Aborting == nullptr;
  if (ownFlag) progress.Aborting = &localAborting;
  bool* aborting = progress.Aborting;
  TJpegDecoder dec(stream, tables, aborting);
  try {
    DecodeInto(dec, target, params, progress, headerOnly, rawYCbCr);
  } catch (...) {
    if (ownFlag) progress.Aborting = nullptr;
    throw;
  }
  if (ownFlag) progress.Aborting = nullptr;

  params.JpegMarkers = dec.Markers();
  if (!params.JpegMarkers.empty() && params.JpegMarkers.front().Code == JPEG_APP0)
    params.JpegMarkers.erase(params.JpegMarkers.begin());
  if (!*aborting && !headerOnly) dec.Finish();
  if (dec.WarningCount() > 0) {
    params.JpegWarningTotal = dec.WarningCount();
    params.JpegWarningCode = dec.LastWarningCode();
  }
  params.JpegErrorText = dec.ErrorText();
}

void TImageIO::LoadFromFileJpeg(const std::string& fileName) {
  TLoadOptions options;
  options.FileType = ioJPEG;
  RunFormatLoad(fileName, options, [this](TImStream& stream, TLoadProgress& progress, std::unique_ptr<TImMask>&) {
    ReadJpegStream(stream, nullptr, *Bitmap(), Params(), progress);
  });
}
