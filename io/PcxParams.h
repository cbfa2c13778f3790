#pragma once
// Fields of TIOParams that the Pcx reader reports or reads.

#include <cstdint>

struct TPcxParams {
  uint8_t PcxVersion = 0;  // the header's version byte
};
