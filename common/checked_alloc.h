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

// Runs `f` when the scope ends, also when an exception leaves it: frees what
// a coder holds in plain records when an allocation fails further on.
template <typename F>
class ScopeExit {
 public:
  explicit ScopeExit(F f) : f_(f) {}
  ~ScopeExit() {
    if (armed_) f_();
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  void Dismiss() { armed_ = false; }

 private:
  F f_;
  bool armed_ = true;
};
