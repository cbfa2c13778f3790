// Reader stub: not decoded yet; every load ends with Aborting set.
#include "io/ImageIO.h"

void TImageIO::LoadFromFileIco(const std::string& fileName) {
  TLoadOptions options;
  options.FileType = ioICO;
  RunFormatLoad(fileName, options, [](TImStream&, TLoadProgress& progress, std::unique_ptr<TImMask>&) {
    progress.Abort();
  });
}

void TImageIO::LoadFromFileCur(const std::string& fileName) {
  TLoadOptions options;
  options.FileType = ioCUR;
  RunFormatLoad(fileName, options, [](TImStream&, TLoadProgress& progress, std::unique_ptr<TImMask>&) {
    progress.Abort();
  });
}
