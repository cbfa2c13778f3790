// Reader stub: not decoded yet; every load ends with Aborting set.
#include "io/ImageIO.h"

void TImageIO::LoadFromFileJp2(const std::string& fileName) {
  TLoadOptions options;
  options.FileType = ioJP2;
  RunFormatLoad(fileName, options, [](TImStream&, TLoadProgress& progress, std::unique_ptr<TImMask>&) {
    progress.Abort();
  });
}

void TImageIO::LoadFromFileJ2k(const std::string& fileName) {
  TLoadOptions options;
  options.FileType = ioJ2K;
  RunFormatLoad(fileName, options, [](TImStream&, TLoadProgress& progress, std::unique_ptr<TImMask>&) {
    progress.Abort();
  });
}
