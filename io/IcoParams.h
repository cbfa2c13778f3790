#pragma once
// Fields of TIOParams that the Ico reader reports or reads.

#include <cstdint>

struct TIcoParams {
};
