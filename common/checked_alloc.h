// Allocations that cannot come back empty: a failure throws std::bad_alloc,
// which every entry point of the libraries turns into a status (the coders
// run inside those entry points only).
#pragma once

#include <new>

#include "common/bitmap.h"

template <typename T>
T* Checked(T* p) {
  if (!p) throw std::bad_alloc();
  return p;
}

// CreateBMP for a bitmap the caller writes into: a size within the limits
// whose allocation fails throws.
inline void CreateBMPChecked(BMP* bmp, unsigned long width, unsigned long height, int fill) {
  CreateBMP(bmp, width, height, fill);
  if (!bmp->pData && width != 0 && height != 0) throw std::bad_alloc();
}
