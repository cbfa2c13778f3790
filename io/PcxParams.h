#pragma once
// Fields of TIOParams that the Pcx reader reports or reads.

#include <cstdint>

struct TPcxParams {
};
