#pragma once
// Fields of TIOParams that the Png reader reports or reads.

#include <cstdint>

struct TPngParams {
};
