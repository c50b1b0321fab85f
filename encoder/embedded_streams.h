// A JBIG2 file in the embedded organisation of T.88 Annex D.3, as PDF holds
// it: a globals stream with the segments of no page (page association 0),
// and one stream per page with that page's segments, each header followed by
// its data, without the file header, end-of-page or end-of-file segments,
// and with page association 1.
#pragma once

#include <cstddef>
#include <string>

#include "encoder/pdf_writer.h"

namespace jb2pdf {

struct EmbeddedDocument {
  std::string globals;
  std::vector<Page> pages;  // in page number order, with their sizes and resolutions
};

// Splits a standalone JBIG2 file (either organisation). False when it cannot
// be read so (cut short, a page without page information).
bool SplitFile(const unsigned char* data, size_t size, EmbeddedDocument* out);

}  // namespace jb2pdf
