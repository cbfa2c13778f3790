// Reader stub: not decoded yet; every load ends with Aborting set.
#include "io/PngReader.h"

#include "io/ImageIO.h"

void ReadPngStream(TImStream&, TImBitmap&, TIOParams&, TLoadProgress& progress, std::unique_ptr<TImMask>&, bool) {
  progress.Abort();
}

void TImageIO::LoadFromFilePng(const std::string& fileName) {
  TLoadOptions options;
  options.FileType = ioPNG;
  RunFormatLoad(fileName, options, [this](TImStream& stream, TLoadProgress& progress, std::unique_ptr<TImMask>& mask) {
    ReadPngStream(stream, *Bitmap(), Params(), progress, mask);
  });
}
