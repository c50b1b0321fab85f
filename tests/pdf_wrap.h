// JBIG2 data inside a PDF, as PDF readers take it: an image XObject with the
// JBIG2Decode filter whose stream holds the page's segments in embedded form
// (T.88 Annex D.3). Test utility, meant to be shared with a PDF writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jb2test {

// A one-page PDF whose page shows one `width` x `height` 1-bit image
// (DeviceGray), filter JBIG2Decode, whose stream is `segments`.
std::string PdfWithJbig2Image(uint32_t width, uint32_t height, const std::string& segments);

// The segments of a one-page JBIG2 file as a JBIG2Decode stream holds them:
// every header followed by its data, without the file header and without
// the end-of-page and end-of-file segments. Also the page's size; a striped
// page of unknown height is as tall as its last end-of-stripe row + 1.
// False when the file cannot be read so.
bool EmbeddedSegments(const std::vector<uint8_t>& file, std::string* segments, uint32_t* width, uint32_t* height);

}  // namespace jb2test
