#include "tools/page_output.h"

#include <leptonica/allheaders.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "tools/file_names.h"

namespace jb2tool {

namespace {

void SayNotWritten(const std::string& name, const std::string& reason) {
  std::fprintf(stderr, "ERROR!   Cannot Write Output File %s (%s)\n", name.c_str(), reason.c_str());
}

// The page as a 1 bpp leptonica image (1 black; 32-bit words, leftmost
// pixel in the most significant bit) with its resolution in dots per
// inch; null when it has no pixels or cannot be allocated.
Pix* ToPix(const jb2_page& page) {
  if (page.width == 0 || page.height == 0 || page.width > INT32_MAX || page.height > INT32_MAX) return nullptr;
  Pix* pix = pixCreate(static_cast<l_int32>(page.width), static_cast<l_int32>(page.height), 1);
  if (!pix) return nullptr;
  const size_t rowBytes = (size_t{page.width} + 7) / 8;
  const auto lastMask = static_cast<unsigned char>(0xFF << (rowBytes * 8 - page.width));
  l_uint32* words = pixGetData(pix);
  const size_t wpl = static_cast<size_t>(pixGetWpl(pix));
  for (uint32_t y = 0; y < page.height; ++y) {
    const unsigned char* row = page.pixels + y * page.stride;
    l_uint32* line = words + y * wpl;
    for (size_t i = 0; i < rowBytes; ++i) {
      const unsigned char byte = i + 1 == rowBytes ? row[i] & lastMask : row[i];
      line[i / 4] |= static_cast<l_uint32>(byte) << (24 - 8 * (i % 4));
    }
  }
  auto dpi = [](uint32_t ppm) { return static_cast<l_int32>(std::lround(ppm * 0.0254)); };
  pixSetResolution(pix, dpi(page.x_resolution), dpi(page.y_resolution));
  return pix;
}

const char* NoPixReason(const jb2_page& page) {
  return page.width == 0 || page.height == 0 ? "a page without pixels" : "out of memory";
}

}  // namespace

bool WritePngPage(const std::string& name, const jb2_page& page) {
  Pix* pix = ToPix(page);
  l_uint8* data = nullptr;
  size_t size = 0;
  const bool converted = pix != nullptr;
  const bool made = converted && pixWriteMemPng(&data, &size, pix, 0.0f) == 0;
  pixDestroy(&pix);
  if (!made) {
    SayNotWritten(name, converted ? "out of memory" : NoPixReason(page));
    return false;
  }
  const bool written = WriteWholeFile(name, data, size);
  lept_free(data);
  return written;
}

TiffPages::~TiffPages() {
  if (file_) {
    std::fclose(file_);
    std::remove((name_ + ".part").c_str());
  }
}

bool TiffPages::Fail(int reason) {
  SayNotWritten(name_, std::strerror(reason ? reason : EIO));
  failed_ = true;
  return false;
}

bool TiffPages::Add(const jb2_page& page) {
  if (failed_) return false;
  if (!file_) {
    errno = 0;
    file_ = std::fopen((name_ + ".part").c_str(), "w+b");  // appending reads the file's last directory
    if (!file_) {
      std::fprintf(stderr, "ERROR!   Cannot Create Output File %s (%s)\n", name_.c_str(), std::strerror(errno));
      failed_ = true;
      return false;
    }
  }
  Pix* pix = ToPix(page);
  if (!pix) {
    SayNotWritten(name_, NoPixReason(page));
    failed_ = true;
    return false;
  }
  errno = 0;
  const bool added = pixWriteStreamTiffWA(file_, pix, IFF_TIFF_G4, pages_ == 0 ? "w" : "a") == 0;
  pixDestroy(&pix);
  if (!added) return Fail(errno);
  ++pages_;
  return true;
}

bool TiffPages::Finish() {
  if (failed_ || !file_) return false;
  errno = 0;
  const bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
  const int reason = errno;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  const std::string temporary = name_ + ".part";
  if (!flushed || !closed || std::rename(temporary.c_str(), name_.c_str()) != 0) {
    const int why = flushed && closed ? errno : reason ? reason : errno;
    std::remove(temporary.c_str());
    return Fail(why);
  }
  return true;
}

}  // namespace jb2tool
