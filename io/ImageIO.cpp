#include "io/ImageIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>

#include "image/ImAttachedView.h"
#include "image/ImageProc.h"

int32_t ImDefaultDpiX = 300;
int32_t ImDefaultDpiY = 300;
int64_t ImMaxPixels = int64_t(1) << 30;

namespace {

std::string AsciiLower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::vector<TImFileFormatInfo> BuildFileFormats() {
  // Order 1 to 12, 16, 13, 14, 17, 18.
  return {
      {ioTIFF, "TIFF Bitmap", "TIF;TIFF;FAX;G3N;G3F", true},
      {ioGIF, "CompuServe Bitmap", "GIF", true},
      {ioJPEG, "JPEG Bitmap", "JPG;JPEG;JPE", true},
      {ioPCX, "PaintBrush", "PCX", true},
      {ioBMP, "Windows Bitmap", "BMP;DIB;RLE", true},
      {ioICO, "Windows Icon", "ICO", true},
      {ioCUR, "Windows Cursor", "CUR", true},
      {ioPNG, "Portable Network Graphics", "PNG", true},
      {ioWMF, "Windows Metafile", "WMF", true},
      {ioEMF, "Enhanced Windows Metafile", "EMF", true},
      {ioTGA, "Targa Bitmap", "TGA;TARGA;VDA;ICB;VST;PIX", true},
      {ioPXM, "Portable Pixmap, GrayMap, BitMap", "PXM;PPM;PGM;PBM", true},
      {ioWBMP, "Wireless Bitmap", "WBMP", true},
      {ioJP2, "JPEG2000", "JP2", true},
      {ioJ2K, "JPEG2000 Code Stream", "J2K;JPC;J2C", true},
      {ioPS, "PostScript Level 2", "PS;EPS", false},
      {ioPDF, "Adobe PDF", "PDF", false},
  };
}

}  // namespace

const std::vector<TImFileFormatInfo>& FileFormats() {
  static const std::vector<TImFileFormatInfo> formats = BuildFileFormats();
  return formats;
}

const TImFileFormatInfo* FindFileFormat(const std::string& extension) {
  const std::string want = AsciiLower(extension);
  for (const auto& f : FileFormats()) {
    const std::string list = AsciiLower(f.Extensions);
    size_t start = 0;
    while (start <= list.size()) {
      size_t end = list.find(';', start);
      if (end == std::string::npos) end = list.size();
      if (list.compare(start, end - start, want) == 0 && end - start == want.size()) return &f;
      start = end + 1;
    }
  }
  return nullptr;
}

std::string ImExtractFileExt(const std::string& fileName) {
  const size_t slash = fileName.find_last_of('/');
  const size_t dot = fileName.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return AsciiLower(fileName.substr(dot));
}

// ---------------------------------------------------------------- TIOParams

TIOParams::TIOParams(TImageIO* owner) : Owner(owner) { SetDefaultParams(); }

void TIOParams::SetDefaultParams() {
  static_cast<TBmpParams&>(*this) = TBmpParams{};
  static_cast<TGifParams&>(*this) = TGifParams{};
  static_cast<TIcoParams&>(*this) = TIcoParams{};
  static_cast<TJpegParams&>(*this) = TJpegParams{};
  static_cast<TPcxParams&>(*this) = TPcxParams{};
  static_cast<TPngParams&>(*this) = TPngParams{};
  static_cast<TTgaParams&>(*this) = TTgaParams{};
  static_cast<TTiffParams&>(*this) = TTiffParams{};
  BitsPerSample = 8;
  SamplesPerPixel = 3;
  Width = Height = 0;
  DpiX = DpiY = 0;
  FileType = 0;
  NativePixelFormat = false;
  FileName.clear();
  FreeColorMap();
  ResetInfo();
}

void TIOParams::ResetInfo() {
  EXIF_XResolution = EXIF_YResolution = 0;
  JpegMarkers.clear();
  PxmComments.clear();
  GifComments.clear();
}

void TIOParams::SetDpiX(int32_t v) {
  DpiX = v;
  EXIF_XResolution = v;
}

void TIOParams::SetDpiY(int32_t v) {
  DpiY = v;
  EXIF_YResolution = v;
}

void TIOParams::SetColorMap(const TImRGB* entries, int count) {
  FreeColorMap();
  if (!entries || count <= 0) return;
  ColorMap.assign(entries, entries + count);
  ColorMapCount = count;
}

void TIOParams::FreeColorMap() {
  ColorMap.clear();
  ColorMapCount = 0;
}

// ---------------------------------------------------------------- TImageIO

TImageIO::TImageIO() : params_(this) {
  own_ = std::make_unique<TImBitmap>();
  target_ = own_.get();
}

TImageIO::~TImageIO() = default;

void TImageIO::SetAttachedView(TImAttachedView* view) {
  view_ = view;
  if (view) {
    own_.reset();
    target_ = view->ViewBitmap();
  } else {
    own_ = std::make_unique<TImBitmap>();
    target_ = own_.get();
  }
}

void TImageIO::SetAttachedBitmap(TImBitmap* bitmap) {
  view_ = nullptr;
  if (bitmap) {
    own_.reset();
    target_ = bitmap;
  } else {
    own_ = std::make_unique<TImBitmap>();
    target_ = own_.get();
  }
}

TColor TImageIO::Background() { return view_ ? view_->ViewBackground() : ownBackground_; }

void TImageIO::SetBackground(TColor c) {
  if (!view_) ownBackground_ = c;
}

std::vector<uint8_t> TImageIO::ReadWholeFile(const std::string& fileName) {
  const std::string message = "Cannot open file " + fileName;
  int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw TImOpenError(message);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw TImOpenError(message);
  }
  std::vector<uint8_t> data;
  try {
    data.reserve(st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0);
    uint8_t buf[65536];
    for (;;) {
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0) {
        if (errno == EINTR) continue;
        ::close(fd);
        throw TImOpenError(message);
      }
      if (n == 0) break;
      data.insert(data.end(), buf, buf + n);
    }
  } catch (const std::bad_alloc&) {
    ::close(fd);
    throw TImOpenError(message);
  }
  ::close(fd);
  return data;
}

void TImageIO::LoadFromFile(const std::string& fileName) {
  if (!target_) return;
  if (fileName.empty()) {
    Aborting = true;
    DoFinishWork();
    return;
  }
  const std::string ext = ImExtractFileExt(fileName);
  if (AsciiLower(fileName.substr(0, 7)) == "http://") {
    // Loading from web addresses is not supported.
    Aborting = true;
    DoFinishWork();
    return;
  }
  if (ext == ".jpg" || ext == ".jpeg" || ext == ".jpe") return LoadFromFileJpeg(fileName);
  if (ext == ".jp2") return LoadFromFileJp2(fileName);
  if (ext == ".j2k" || ext == ".jpc" || ext == ".j2c") return LoadFromFileJ2k(fileName);
  if (ext == ".png") return LoadFromFilePng(fileName);
  if (ext == ".tif" || ext == ".tiff" || ext == ".fax" || ext == ".g3n" || ext == ".g3f")
    return LoadFromFileTiff(fileName);
  if (ext == ".pcx") return LoadFromFilePcx(fileName);
  if (ext == ".gif") return LoadFromFileGif(fileName);
  if (ext == ".wmf" || ext == ".emf") return ImportMetafile(fileName, -1, -1, true);
  if (ext == ".bmp" || ext == ".dib" || ext == ".rle") return LoadFromFileBmp(fileName);
  if (ext == ".cur") return LoadFromFileCur(fileName);
  if (ext == ".ico") return LoadFromFileIco(fileName);
  if (ext == ".tga" || ext == ".targa" || ext == ".vda" || ext == ".icb" || ext == ".vst" ||
      ext == ".win" || ext == ".pix")
    return LoadFromFileTga(fileName);
  if (ext == ".pxm" || ext == ".ppm" || ext == ".pgm" || ext == ".pbm") return LoadFromFilePxm(fileName);
  if (ext == ".wbmp") return LoadFromFileWbmp(fileName);
  if (ext == ".avi") {
    // Video frames are not supported.
    Aborting = true;
    DoFinishWork();
    return;
  }

  // Format-list fallback. Every format with a reader is in the table above,
  // so only entries without a read operation and unknown extensions get here.
  params_.FileName.clear();
  params_.FileType = 0;
  params_.ResetInfo();
  const TImFileFormatInfo* info = FindFileFormat(ext.empty() ? ext : ext.substr(1));
  (void)info;
  Aborting = true;
  DoFinishWork();
}

void TImageIO::RunFormatLoad(const std::string& fileName, const TLoadOptions& options,
                             const TReaderBody& body) {
  Aborting = true;
  if (!target_) {
    DoFinishWork();
    return;
  }
  params_.ResetInfo();
  std::vector<uint8_t> data;
  try {
    data = ReadWholeFile(fileName);
  } catch (...) {
    DoFinishWork();
    throw;
  }
  Aborting = false;
  TLoadProgress progress;
  progress.Event = &OnProgress;
  progress.Sender = this;
  progress.Aborting = &Aborting;
  target_->RemoveAlphaChannel();
  try {
    TImStream stream(data);
    std::unique_ptr<TImMask> mask;
    body(stream, progress, mask);
    if (options.DefaultDpi) ApplyDefaultDpi();
    if (mask) {
      if (TImBitmap* alpha = target_->AlphaChannel()) alpha->CopyFromMask(mask.get());
      mask.reset();
    }
    if (options.AdjustDpiStep && AutoAdjustDPI) AdjustDpi();
    params_.FileName = fileName;
    params_.FileType = options.FileType;
    if (view_ && options.ViewResolution) view_->SetViewResolution(params_.DpiX, params_.DpiY);
    UpdateAttached();
  } catch (...) {
    DoFinishWork();
    throw;
  }
  DoFinishWork();
}

void TImageIO::ApplyDefaultDpi() {
  if (params_.DpiX < 2) params_.SetDpiX(ImDefaultDpiX);
  if (params_.DpiY < 2) params_.SetDpiY(ImDefaultDpiY);
}

void TImageIO::AdjustDpi() {
  TIOParams& p = params_;
  if (p.DpiX == p.DpiY || p.DpiX <= 0 || p.DpiY <= 0 || !target_) return;
  if (p.Height < p.Width) {
    p.Height = static_cast<int32_t>(static_cast<long double>(p.Height) / p.DpiY * p.DpiX);
    p.SetDpiY(p.DpiX);
  } else {
    p.Width = static_cast<int32_t>(static_cast<long double>(p.Width) / p.DpiX * p.DpiY);
    p.SetDpiX(p.DpiY);
  }
  if (target_->Width() == 0 || target_->Height() == 0) return;
  TImageProc proc;
  proc.AutoUndo = false;
  proc.SetAttachedBitmap(target_);
  if (FilteredAdjustDPI) {
    target_->SetPixelFormat(im24bgr);
    proc.Resample(p.Width, p.Height, rfFastLinear);
  } else {
    proc.Resample(p.Width, p.Height, rfNone);
  }
}

void TImageIO::UpdateAttached() {
  if (!view_) return;
  view_->ViewUpdate();
  view_->ViewImageChange();
}

void TImageIO::DoFinishWork() {
  if (OnProgress) OnProgress(this, 100);
  if (OnFinishWork) OnFinishWork(this);
}
