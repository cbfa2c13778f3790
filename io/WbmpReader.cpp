// Reader stub: not decoded yet; every load ends with Aborting set.
#include "io/ImageIO.h"

void TImageIO::LoadFromFileWbmp(const std::string& fileName) {
  TLoadOptions options;
  options.FileType = ioWBMP;
  options.ViewResolution = false;
  options.AdjustDpiStep = false;
  RunFormatLoad(fileName, options, [](TImStream&, TLoadProgress& progress, std::unique_ptr<TImMask>&) {
    progress.Abort();
  });
}
