#pragma once
// Fields of TIOParams that the Tga reader reports or reads.

#include <cstdint>

struct TTgaParams {
};
