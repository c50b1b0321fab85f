// A PDF document of JBIG2 page images: one PDF page per image, each drawn
// by an image XObject with /Filter /JBIG2Decode whose stream holds the
// page's segments in the embedded organisation (T.88 Annex D.3), and a
// /JBIG2Globals stream for the segments the pages share (one for each group
// of pages with a dictionary of its own). Only the few
// objects this needs are written: catalog, page tree, pages, images,
// content streams, cross-reference table and trailer (PDF 1.4).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jb2pdf {

struct Page {
  uint32_t width = 0, height = 0;                // pixels
  uint32_t xResolution = 0, yResolution = 0;     // pixels per metre; 0: unknown
  std::string segments;                          // the page's embedded stream
};

// The resolution a page without one is shown at: 300 dpi.
inline constexpr double kDefaultDpi = 300.0;

// The PDF bytes. `globals` may be empty (no /JBIG2Globals then). Each page
// is as large as its pixels at its resolution (kDefaultDpi where unknown).
std::string WriteDocument(const std::vector<Page>& pages, const std::string& globals);

// The same bytes in pieces, as the pages come: the head (catalog, page tree
// of `pages` pages, globals), each page in turn, then the cross-reference
// table and trailer. Only the offsets of the objects are kept. The pages
// come in groups of `group` (0: one group); each later group begins with
// StartGroup, whose globals its pages refer to (none when empty: the
// object numbered for them is then null).
class PdfStream {
 public:
  std::string Begin(size_t pages, const std::string& globals, size_t group = 0);
  std::string StartGroup(const std::string& globals);
  std::string AddPage(const Page& page);
  std::string End();

 private:
  std::string Object(const std::string& body);  // the next object, numbered

  size_t written_ = 0;          // bytes handed out so far
  std::vector<size_t> offsets_;  // of each object written, by number - 1
  size_t globals_ = 0;  // the current group's globals object; 0: none
};

}  // namespace jb2pdf
