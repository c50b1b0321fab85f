// The PDF's cross-reference table: readers find every object through it, and
// the strict ones (and those that do not rebuild a damaged table) show
// nothing when an offset is a byte off.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "encoder/pdf_writer.h"

namespace {

TEST(PdfWriter, CrossReferencesPointAtTheirObjects) {
  jb2pdf::Page page;
  page.width = 100;
  page.height = 40;
  page.segments = std::string("\x00\x00\x00\x01\x30", 5);
  for (const std::string& globals : {std::string(), std::string("globals")}) {
    SCOPED_TRACE(globals.empty() ? "no globals" : "globals");
    const std::string pdf = jb2pdf::WriteDocument({page, page}, globals);
    const size_t start = pdf.rfind("startxref\n");
    ASSERT_NE(start, std::string::npos);
    const size_t xref = std::strtoul(pdf.c_str() + start + 10, nullptr, 10);
    ASSERT_EQ(pdf.compare(xref, 5, "xref\n"), 0);
    size_t pos = pdf.find('\n', xref + 5);  // past "0 N"
    const size_t count = std::strtoul(pdf.c_str() + xref + 7, nullptr, 10);
    EXPECT_EQ(count, globals.empty() ? 9u : 10u);  // free entry, catalog, page tree, 3 a page, globals
    pos += 1 + 20;                                   // the free entry
    for (size_t object = 1; object < count; ++object, pos += 20) {
      const size_t offset = std::strtoul(pdf.c_str() + pos, nullptr, 10);
      const std::string header = std::to_string(object) + " 0 obj\n";
      EXPECT_EQ(pdf.compare(offset, header.size(), header), 0) << "object " << object;
    }
    EXPECT_EQ(pdf.compare(pos, 8, "trailer\n"), 0);
  }
}

}  // namespace
