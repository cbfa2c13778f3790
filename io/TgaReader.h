#pragma once
// Targa content test; the reader itself is TImageIO::LoadFromFileTga.

#include "io/ImStream.h"

// Whether the 18 bytes at the stream's position look like a Targa header
// (image type 1, 2, 3, 9, 10 or 11, pixel depth 1, 4, 8, 16, 24 or 32,
// colour-map type 0 or 1). The stream position is restored.
bool IsTargaStream(TImStream& stream);
