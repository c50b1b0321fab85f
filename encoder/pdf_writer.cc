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
  // Objects: 1 catalog, 2 page tree, 3 globals (when any), then per page
  // the page, its image and its content stream.
  std::vector<std::string> objects;
  objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
  objects.push_back("");  // the page tree, once the pages are numbered
  const bool haveGlobals = !globals.empty();
  if (haveGlobals) objects.push_back(Stream("", globals));
  std::string kids;
  for (const Page& p : pages) {
    const size_t page = objects.size() + 1, image = page + 1, content = page + 2;
    const std::string w = Number(Points(p.width, p.xResolution)), h = Number(Points(p.height, p.yResolution));
    kids += std::to_string(page) + " 0 R ";
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + w + " " + h + "] /Resources << /XObject << /Im0 " +
                      std::to_string(image) + " 0 R >> >> /Contents " + std::to_string(content) + " 0 R >>");
    std::string imageDict = "/Type /XObject /Subtype /Image /Width " + std::to_string(p.width) + " /Height " +
                            std::to_string(p.height) +
                            " /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /JBIG2Decode ";
    if (haveGlobals) imageDict += "/DecodeParms << /JBIG2Globals 3 0 R >> ";
    objects.push_back(Stream(imageDict, p.segments));
    objects.push_back(Stream("", "q " + w + " 0 0 " + h + " 0 0 cm /Im0 Do Q"));
  }
  objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>";

  // The binary comment tells tools the file holds binary data.
  std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  char entry[24];
  for (size_t offset : offsets) {
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
    pdf += entry;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

}  // namespace jb2pdf
