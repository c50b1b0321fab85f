// Structure checks of image files, so that a page that cannot be read is
// refused with the reason (cut short, a compression nobody here decodes)
// instead of the terse word of the library underneath.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace jb2tool {

// What a walk over a TIFF file's directories found: the number of pages
// (images in the main chain of directories), and the first problem met (""
// when none): a directory or image data past the file's end, an unknown
// byte order, or a compression this build does not decode.
struct TiffFacts {
  uint32_t pages = 0;
  std::string problem;
};
TiffFacts WalkTiff(std::span<const uint8_t> data);

// Whether a PNG, JPEG, BMP or binary PNM file (`format`: the leptonica file
// format code) ends before its data does: a PNG without its closing IEND
// chunk, a JPEG without its end-of-image marker, a BMP or PNM with fewer
// pixel bytes than its header announces.
bool CutShort(int format, std::span<const uint8_t> data);

}  // namespace jb2tool
