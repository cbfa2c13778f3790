#pragma once
// TIOParams: what a reader reports about the file it read, plus the per-format
// fields (one base struct per format, so that Params.BmpVersion etc. read as
// plain fields).

#include <cstdint>
#include <string>
#include <vector>

#include "image/ImBitmap.h"
#include "io/BmpParams.h"
#include "io/GifParams.h"
#include "io/IcoParams.h"
#include "io/JpegParams.h"
#include "io/PcxParams.h"
#include "io/PngParams.h"
#include "io/TgaParams.h"
#include "io/TiffParams.h"

class TImageIO;

// File type codes (FileType).
enum : int32_t {
  ioUnknown = 0,
  ioTIFF = 1,
  ioGIF = 2,
  ioJPEG = 3,
  ioPCX = 4,
  ioBMP = 5,
  ioICO = 6,
  ioCUR = 7,
  ioPNG = 8,
  ioWMF = 9,
  ioEMF = 10,
  ioTGA = 11,
  ioPXM = 12,
  ioJP2 = 13,
  ioJ2K = 14,
  ioAVI = 15,
  ioWBMP = 16,
  ioPS = 17,
  ioPDF = 18,
};

class TIOParams : public TBmpParams,
                  public TGifParams,
                  public TIcoParams,
                  public TJpegParams,
                  public TPcxParams,
                  public TPngParams,
                  public TTgaParams,
                  public TTiffParams {
 public:
  explicit TIOParams(TImageIO* owner = nullptr);

  // Resets every field to its default (only when the parameters are created).
  void SetDefaultParams();
  // Clears the metadata of the last load; the other fields keep their values.
  void ResetInfo();
  void SetDpiX(int32_t v);
  void SetDpiY(int32_t v);
  // Replaces the colour table (nullptr/0 frees it).
  void SetColorMap(const TImRGB* entries, int count);
  void FreeColorMap();

  TImageIO* Owner = nullptr;
  int32_t BitsPerSample = 8;
  int32_t SamplesPerPixel = 3;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t DpiX = 0;
  int32_t DpiY = 0;
  int32_t FileType = 0;
  // Metadata cleared by ResetInfo; nothing in this program reads it.
  double EXIF_XResolution = 0, EXIF_YResolution = 0;
  // Header comments of a portable bit/gray/pixmap, without their "#", trimmed.
  std::vector<std::string> PxmComments;
  bool NativePixelFormat = false;
  std::string FileName;  // bytes, as given to LoadFromFile
  std::vector<TImRGB> ColorMap;
  int32_t ColorMapCount = 0;
};
