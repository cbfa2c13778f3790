#pragma once
// Fields of TIOParams that the Tiff reader reports or reads.

#include <cstdint>

struct TTiffParams {
};
