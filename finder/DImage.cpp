#include "finder/DImage.h"

void TDImage::AddDuplicate(int32_t index) {
  Duplicates.push_back(index);
  HasDuplicates = true;
}
