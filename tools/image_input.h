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

// Reads every page of the image file `path` ("-": standard input) and
// appends them to `pages` as 1-bit bitmaps with the file's resolution (the
// caller destroys them). Grey and colour pages are made 1-bit with
// `threshold` (kAutoThreshold or 0..255, see binarize.h); 1-bit pages are
// taken as they are. Returns 0 when read, 1 when the file cannot be opened
// (nothing printed), 2 when it cannot be read as a page image (the reason
// has been printed; nothing is appended).
int LoadPages(const std::string& path, int threshold, std::vector<BMP>* pages);

// The number of pages in the file: a TIFF file's count, 1 for any other
// file (also one that cannot be read: loading it says why).
uint32_t CountPages(const std::string& path);

}  // namespace jb2tool
