// Reader stub: not decoded yet; every load ends with Aborting set.
#include "io/ImageIO.h"

void TImageIO::ImportMetafile(const std::string& fileName, int, int, bool) {
  TLoadOptions options;
  options.FileType = ioWMF;
  RunFormatLoad(fileName, options, [](TImStream&, TLoadProgress& progress, std::unique_ptr<TImMask>&) {
    progress.Abort();
  });
}
