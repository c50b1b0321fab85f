#include "tests/pdf_wrap.h"

#include <cstdio>

#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/sections.h"

namespace jb2test {

namespace {

constexpr uint32_t kPageInformation = 48, kEndOfPage = 49, kEndOfStripe = 50, kEndOfFile = 51;
constexpr uint32_t kUnknownHeight = 0xFFFFFFFF;

std::string Format(const char* format, uint32_t a, uint32_t b = 0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

}  // namespace

std::string PdfWithJbig2Image(uint32_t width, uint32_t height, const std::string& segments) {
  const std::string content = Format("q %u 0 0 %u 0 0 cm /Im0 Do Q", width, height);
  const std::string objects[] = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      Format("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %u %u] ", width, height) +
          "/Resources << /XObject << /Im0 4 0 R >> >> /Contents 5 0 R >>",
      Format("<< /Type /XObject /Subtype /Image /Width %u /Height %u ", width, height) +
          Format("/ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /JBIG2Decode /Length %u >>\nstream\n",
                 static_cast<uint32_t>(segments.size())) +
          segments + "\nendstream",
      Format("<< /Length %u >>\nstream\n", static_cast<uint32_t>(content.size())) + content + "\nendstream",
  };
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  uint32_t number = 0;
  for (const std::string& object : objects) {
    offsets.push_back(pdf.size());
    pdf += Format("%u 0 obj\n", ++number) + object + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += Format("xref\n0 %u\n0000000000 65535 f \n", number + 1);
  for (size_t offset : offsets) pdf += Format("%010u 00000 n \n", static_cast<uint32_t>(offset));
  pdf += Format("trailer\n<< /Size %u /Root 1 0 R >>\nstartxref\n%u\n%%%%EOF\n", number + 1,
                static_cast<uint32_t>(xref));
  return pdf;
}

bool EmbeddedSegments(const std::vector<uint8_t>& file, std::string* segments, uint32_t* width, uint32_t* height) {
  const WrittenFile parsed = ParseJb2(file);
  if (!parsed.ok) return false;
  segments->clear();
  *width = *height = 0;
  bool pageSeen = false;
  uint32_t stripeEnd = 0;
  for (const ParsedSegment& seg : parsed.segments) {
    if (seg.type == kEndOfPage || seg.type == kEndOfFile) continue;
    if (seg.type == kPageInformation) {
      if (pageSeen || seg.data.size() < 8) return false;
      pageSeen = true;
      *width = Be32(&seg.data[0]);
      *height = Be32(&seg.data[4]);
    }
    if (seg.type == kEndOfStripe && seg.data.size() >= 4) stripeEnd = Be32(&seg.data[0]) + 1;
    segments->append(seg.header.begin(), seg.header.end());
    segments->append(seg.data.begin(), seg.data.end());
  }
  if (*height == kUnknownHeight) *height = stripeEnd;
  return pageSeen && *width > 0 && *height > 0;
}

}  // namespace jb2test
