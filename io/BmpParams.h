#pragma once
// Fields of TIOParams that the Bmp reader reports or reads.

#include <cstdint>

struct TBmpParams {
};
