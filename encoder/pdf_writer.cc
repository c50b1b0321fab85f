#include "encoder/pdf_writer.h"

#include <cmath>
#include <cstdio>

namespace jb2pdf {

namespace {

// Points (1/72 inch) that `pixels` cover at `perMetre` pixels per metre. A
// whole number of dots per inch, stored in whole pixels per metre, comes
// back within 0.013 dpi: it is taken as that whole number (300 dpi is 11811
// pixels per metre, 299.9994 dpi).
double Points(uint32_t pixels, uint32_t perMetre) {
  double dpi = perMetre ? perMetre * 0.0254 : kDefaultDpi;
  if (std::fabs(dpi - std::round(dpi)) < 0.02) dpi = std::round(dpi);
  return pixels * 72.0 / dpi;
}

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", v);
  std::string s = text;
  while (s.back() == '0') s.pop_back();  // "612.0000" -> "612"
  if (s.back() == '.') s.pop_back();
  return s;
}

std::string Stream(const std::string& dictionary, const std::string& bytes) {
  return "<< " + dictionary + "/Length " + std::to_string(bytes.size()) + " >>\nstream\n" + bytes + "\nendstream";
}

}  // namespace

std::string WriteDocument(const std::vector<Page>& pages, const std::string& globals) {
  PdfStream pdf;
  std::string bytes = pdf.Begin(pages.size(), globals);
  for (const Page& p : pages) bytes += pdf.AddPage(p);
  return bytes + pdf.End();
}

std::string PdfStream::Object(const std::string& body) {
  offsets_.push_back(written_);
  std::string text = std::to_string(offsets_.size()) + " 0 obj\n" + body + "\nendobj\n";
  written_ += text.size();
  return text;
}

std::string PdfStream::Begin(size_t pages, const std::string& globals, size_t group) {
  // Objects: 1 catalog, 2 page tree, 3 globals (when any), then per page
  // the page, its image and its content stream; each later group of pages
  // begins with one object for its globals.
  globals_ = globals.empty() ? 0 : 3;
  const size_t first = globals_ ? 4 : 3;
  if (group == 0) group = pages;
  std::string kids;
  for (size_t i = 0; i < pages; ++i) kids += std::to_string(first + 3 * i + i / group) + " 0 R ";
  // The binary comment tells tools the file holds binary data.
  std::string head = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  written_ = head.size();
  head += Object("<< /Type /Catalog /Pages 2 0 R >>");
  head += Object("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
  if (globals_) head += Object(Stream("", globals));
  return head;
}

std::string PdfStream::StartGroup(const std::string& globals) {
  globals_ = globals.empty() ? 0 : offsets_.size() + 1;
  return Object(globals.empty() ? "null" : Stream("", globals));
}

std::string PdfStream::AddPage(const Page& p) {
  const size_t page = offsets_.size() + 1, image = page + 1, content = page + 2;
  const std::string w = Number(Points(p.width, p.xResolution)), h = Number(Points(p.height, p.yResolution));
  std::string text = Object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + w + " " + h +
                            "] /Resources << /XObject << /Im0 " + std::to_string(image) + " 0 R >> >> /Contents " +
                            std::to_string(content) + " 0 R >>");
  std::string imageDict = "/Type /XObject /Subtype /Image /Width " + std::to_string(p.width) + " /Height " +
                          std::to_string(p.height) + " /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /JBIG2Decode ";
  if (globals_) imageDict += "/DecodeParms << /JBIG2Globals " + std::to_string(globals_) + " 0 R >> ";
  text += Object(Stream(imageDict, p.segments));
  text += Object(Stream("", "q " + w + " 0 0 " + h + " 0 0 cm /Im0 Do Q"));
  return text;
}

std::string PdfStream::End() {
  std::string tail = "xref\n0 " + std::to_string(offsets_.size() + 1) + "\n0000000000 65535 f \n";
  char entry[24];
  for (size_t offset : offsets_) {
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
    tail += entry;
  }
  tail += "trailer\n<< /Size " + std::to_string(offsets_.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
          std::to_string(written_) + "\n%%EOF\n";
  written_ += tail.size();
  return tail;
}

}  // namespace jb2pdf
