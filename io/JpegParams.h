#pragma once
// Fields of TIOParams that the Jpeg reader reports or reads.

#include <cstdint>

struct TJpegParams {
};
