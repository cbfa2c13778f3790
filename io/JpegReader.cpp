// Reader stub: not decoded yet; every load ends with Aborting set.
#include "io/JpegReader.h"

#include "io/ImageIO.h"

int64_t FindJpegStart(TImStream& stream) {
  const int64_t p = stream.Position();
  const auto bytes = stream.Bytes(p, 102);
  for (size_t i = 0; i + 2 < bytes.size() && i < 100; ++i)
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xD8 && bytes[i + 2] == 0xFF) return p + static_cast<int64_t>(i);
  return -1;
}

void ReadJpegStream(TImStream&, TImStream*, TImBitmap&, TIOParams&, TLoadProgress& progress, bool, bool) {
  progress.Abort();
}

void TImageIO::LoadFromFileJpeg(const std::string& fileName) {
  TLoadOptions options;
  options.FileType = ioJPEG;
  RunFormatLoad(fileName, options, [this](TImStream& stream, TLoadProgress& progress, std::unique_ptr<TImMask>&) {
    ReadJpegStream(stream, nullptr, *Bitmap(), Params(), progress);
  });
}
