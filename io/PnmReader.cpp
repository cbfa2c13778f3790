// Reader stub: not decoded yet; every load ends with Aborting set.
#include "io/ImageIO.h"

void TImageIO::LoadFromFilePxm(const std::string& fileName) {
  TLoadOptions options;
  options.FileType = ioPXM;
  options.ViewResolution = false;
  RunFormatLoad(fileName, options, [](TImStream&, TLoadProgress& progress, std::unique_ptr<TImMask>&) {
    progress.Abort();
  });
}
