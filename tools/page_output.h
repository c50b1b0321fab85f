// Decoded pages as untransc writes them through leptonica: PNG, one page a
// file, and TIFF (CCITT T.6, "G4"), every page of a file in one TIFF file.
// Both keep the page's resolution; both are written under a temporary name
// and renamed when complete, so a failure leaves no file of that name.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "include/jbig2codec/jb2_decode.h"
#include "tools/interrupt_cleanup.h"

namespace jb2tool {

// Writes the page as a 1-bit PNG file; says what failed and returns false.
bool WritePngPage(const std::string& name, const jb2_page& page);

// One TIFF file that takes the pages one after another.
class TiffPages {
 public:
  explicit TiffPages(std::string name) : name_(std::move(name)) {}
  ~TiffPages();  // an unfinished file is removed
  TiffPages(const TiffPages&) = delete;
  TiffPages& operator=(const TiffPages&) = delete;

  // Appends the page; says what failed and returns false (the file is then
  // abandoned: later calls and Finish fail without a further message).
  bool Add(const jb2_page& page);
  // Puts the file in place; false when it was not (said) or holds no page.
  bool Finish();
  uint32_t pages() const { return pages_; }

 private:
  bool Fail(int reason);
  std::string name_;
  TemporaryName temporary_{name_ + ".part"};  // removed if the run is interrupted
  FILE* file_ = nullptr;
  uint32_t pages_ = 0;
  bool failed_ = false;
};

}  // namespace jb2tool
