// Page images as transc reads them: 1-bit BMP and PBM files through the
// library's own loader, every other image (PNG, JPEG, TIFF of any page
// count and compression, PNM, BMP of any depth, GIF, WebP, JPEG 2000)
// through leptonica, grey and colour pages made 1-bit for text.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/bitmap.h"
#include "tools/binarize.h"

namespace jb2tool {

// The extensions of the files transc reads, in the order a base name
// tries them (page: page.bmp, else page.pbm, else page.png, ...).
inline constexpr std::initializer_list<const char*> kImageExtensions = {
    ".bmp", ".pbm", ".png", ".tif", ".tiff", ".jpg", ".jpeg", ".pgm", ".ppm", ".pnm", ".gif", ".webp", ".jp2"};

// Reads every page of the image file `path` ("-": standard input, read
// once, whose bytes every later call gets again; the format is recognised
// from the bytes, as for files) and
// appends them to `pages` as 1-bit bitmaps with the file's resolution (the
// caller destroys them). Grey and colour pages are made 1-bit with
// `threshold` (kAutoThreshold or 0..255, see binarize.h); 1-bit pages are
// taken as they are. Returns 0 when read, 1 when the file cannot be opened
// (nothing printed), 2 when it cannot be read as a page image (the reason
// has been printed; nothing is appended).
int LoadPages(const std::string& path, int threshold, std::vector<BMP>* pages);

// The pages of one image file, read one at a time, as LoadPages reads them.
class PageReader {
 public:
  // Reads the file: 0 when its pages can be asked for, else as LoadPages.
  int Open(const std::string& path, int threshold);
  uint32_t pages() const { return count_; }
  // The next page, which the caller destroys: 0, or 2 when it cannot be
  // read (the reason has been printed).
  int Next(BMP* page);

 private:
  std::string path_, name_, kind_;
  std::vector<uint8_t> data_;  // the file, while leptonica reads its pages
  int threshold_ = 0;
  int format_ = 0;
  bool library_ = false;       // a 1-bit BMP or PBM file: the library's loader
  uint32_t count_ = 0, next_ = 0;
  size_t offset_ = 0;          // of the next TIFF directory
};

// The number of pages in the file ("-": standard input): a TIFF file's
// count, 1 for any other file (also one that cannot be read: loading it
// says why).
uint32_t CountPages(const std::string& path);

}  // namespace jb2tool
