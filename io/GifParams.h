#pragma once
// Fields of TIOParams that the Gif reader reports or reads.

#include <cstdint>

struct TGifParams {
};
