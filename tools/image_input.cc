#include "tools/image_input.h"

#include <leptonica/allheaders.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

#include "common/limits.h"
#include "tools/binarize.h"
#include "tools/image_checks.h"

namespace jb2tool {

namespace {

// Largest image file read (also from standard input): 2 GiB, beyond any
// scanned page (a letter page at 1200 dpi in 24-bit colour, uncompressed,
// is 400 MB), and within what a size_t buffer grows to in one piece.
constexpr size_t kMaxImageFileBytes = size_t{1} << 31;

void PrintError(const std::string& name, const std::string& what) {
  std::fprintf(stderr, "ERROR!   Cannot read %s: %s\n", name.c_str(), what.c_str());
}

// Leptonica and the format libraries under it print their own terse lines
// when a file does not decode; while this lives, standard error goes
// nowhere, and the reason is told by the caller instead.
class SilentStderr {
 public:
  SilentStderr() {
    std::fflush(stderr);
    saved_ = dup(2);
    FILE* null = std::fopen("/dev/null", "w");
    if (null) {
      dup2(fileno(null), 2);
      std::fclose(null);
    }
  }
  ~SilentStderr() {
    std::fflush(stderr);
    if (saved_ >= 0) {
      dup2(saved_, 2);
      close(saved_);
    }
  }
  SilentStderr(const SilentStderr&) = delete;
  SilentStderr& operator=(const SilentStderr&) = delete;

 private:
  int saved_ = -1;
};

// Reads the rest of the stream; returns the problem, "" when read.
std::string ReadAll(FILE* f, std::vector<uint8_t>* data) {
  uint8_t chunk[1 << 16];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    if (data->size() + got > kMaxImageFileBytes) return "larger than 2 GiB";
    data->insert(data->end(), chunk, chunk + got);
  }
  return std::ferror(f) ? std::strerror(errno) : "";
}

const char* FormatName(int format) {
  switch (format) {
    case IFF_BMP: return "BMP";
    case IFF_JFIF_JPEG: return "JPEG";
    case IFF_PNG: return "PNG";
    case IFF_TIFF: return "TIFF";
    case IFF_PNM: return "PNM";
    case IFF_GIF: return "GIF";
    case IFF_JP2: return "JPEG 2000";
    case IFF_WEBP: return "WebP";
    default: return nullptr;
  }
}

// The 1-bit BMP and PBM files the library's own loader reads, as it always
// has: P1 or P4, or a BMP file of 1 bit per pixel. Files of no format read
// here (a PDF, a JBIG2 file, text) go there too, for the loader's messages.
bool LibraryReads(const std::vector<uint8_t>& data) {
  if (data.size() >= 2 && data[0] == 'P') return data[1] == '1' || data[1] == '4';
  if (data.size() >= 30 && data[0] == 'B' && data[1] == 'M') {
    const size_t bits = data[14] == 12 && data[15] == 0 && data[16] == 0 && data[17] == 0 ? 24 : 28;
    return data[bits] == 1 && data[bits + 1] == 0;
  }
  l_int32 format = IFF_UNKNOWN;
  return data.size() < 12 || findFileFormatBuffer(data.data(), &format) != 0 || !FormatName(format);
}

// Standard input, read once: a document asks for its page count before
// its pages.
struct StandardInput {
  std::vector<uint8_t> data;
  std::string problem;  // why it could not be read; "" when read
};

const StandardInput& ReadStandardInput() {
  static const StandardInput input = [] {
    StandardInput in;
    in.problem = ReadAll(stdin, &in.data);
    return in;
  }();
  return input;
}

bool IsTiff(const std::vector<uint8_t>& data) {
  return data.size() >= 4 && (std::memcmp(data.data(), "II*\0", 4) == 0 || std::memcmp(data.data(), "MM\0*", 4) == 0);
}

// A 1-bit BMP or PBM page from standard input, read by the library's own
// loader from an in-memory file of those bytes, as the file would be.
int LoadLibraryPageFromMemory(const std::vector<uint8_t>& data, BMP* page) {
  const bool bmp = data.size() >= 2 && data[0] == 'B' && data[1] == 'M';
  if (!bmp && !(data.size() >= 2 && data[0] == 'P')) {
    PrintError("standard input", "not a page image (transc reads PNG, JPEG, TIFF, PNM, BMP, GIF, WebP and JPEG 2000)");
    return 2;
  }
  const int fd = memfd_create("standard input", MFD_CLOEXEC);
  bool written = fd >= 0;
  for (size_t done = 0; written && done < data.size();) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) done += static_cast<size_t>(n);
  }
  const int status = written ? LoadPageImage(("/proc/self/fd/" + std::to_string(fd)).c_str(), page) : 1;
  if (status == 1) PrintError("standard input", std::strerror(errno ? errno : EIO));
  if (fd >= 0) close(fd);
  return status == 1 ? 2 : status;
}

uint32_t PixelsPerMetre(l_int32 ppi) { return ppi > 0 ? static_cast<uint32_t>(std::lround(ppi / 0.0254)) : 0; }

std::string SizeProblem(l_int32 w, l_int32 h) {
  if (w <= 0 || h <= 0) return "no pixels (" + std::to_string(w) + " x " + std::to_string(h) + ")";
  if (static_cast<uint32_t>(w) > kMaxBmpDimension || static_cast<uint32_t>(h) > kMaxBmpDimension ||
      StoredBitmapPixels(static_cast<uint64_t>(w), static_cast<uint64_t>(h)) > kMaxBitmapPixels)
    return "too large for a page (" + std::to_string(w) + " x " + std::to_string(h) + " pixels; at most " +
           std::to_string(kMaxBmpDimension) + " on a side)";
  return "";
}

// A 1 bpp leptonica page (1 black; 32-bit words, leftmost pixel in the
// most significant bit) as a bitmap; false when it cannot be allocated.
// (transc's library does not export CreateBMP: the page is laid out as it
// does, in memory that DestroyBMP frees.)
bool ToBitmap(Pix* binary, BMP* page) {
  page->lWidth = static_cast<uint32_t>(pixGetWidth(binary));
  page->lHeight = static_cast<uint32_t>(pixGetHeight(binary));
  page->lBytesPerRow = (page->lWidth + 7) / 8;
  page->lStride = page->lBytesPerRow + (page->lBytesPerRow & 1);
  page->pData = static_cast<unsigned char*>(std::calloc(size_t{page->lStride} * page->lHeight, 1));
  if (!page->pData) return false;
  const l_uint32* words = pixGetData(binary);
  const l_int32 wpl = pixGetWpl(binary);
  const uint32_t spare = page->lBytesPerRow * 8 - page->lWidth;
  const auto lastMask = static_cast<unsigned char>(0xFF << spare);
  for (uint32_t y = 0; y < page->lHeight; ++y) {
    const l_uint32* line = words + static_cast<size_t>(y) * static_cast<size_t>(wpl);
    unsigned char* row = page->pData + static_cast<size_t>(y) * page->lStride;
    for (uint32_t i = 0; i < page->lBytesPerRow; ++i) row[i] = static_cast<unsigned char>(line[i / 4] >> (24 - 8 * (i % 4)));
    row[page->lBytesPerRow - 1] &= lastMask;
  }
  page->lXResolution = PixelsPerMetre(pixGetXRes(binary));
  page->lYResolution = PixelsPerMetre(pixGetYRes(binary));
  return true;
}

// One page of any depth as a bitmap: 1-bit pages as they are (a palette
// decides which value is black), the others through the grey binarization.
// Returns the problem, "" when made.
std::string MakePage(Pix* pix, int threshold, BMP* page) {
  const l_int32 depth = pixGetDepth(pix);
  Pix* flat = pixGetColormap(pix) ? pixRemoveColormap(pix, REMOVE_CMAP_TO_GRAYSCALE)
              : depth == 32 && pixGetSpp(pix) == 4 ? pixAlphaBlendUniform(pix, 0xFFFFFF00)  // on white paper
                                                    : pixClone(pix);
  Pix* binary = nullptr;
  bool adaptive = false;
  if (flat && pixGetDepth(flat) == 1) {
    binary = pixClone(flat);
  } else if (flat) {
    Pix* grey = pixConvertTo8(flat, 0);
    if (grey) binary = depth == 1 ? pixThresholdToBinary(grey, 128) : BinarizeGrey(grey, threshold, &adaptive);
    pixDestroy(&grey);
  }
  pixDestroy(&flat);
  const bool made = binary && (pixCopyResolution(binary, pix), ToBitmap(binary, page));
  pixDestroy(&binary);
  if (!made) return "out of memory";
  if (adaptive) ClearLonePixels(page, static_cast<uint32_t>(std::max<l_int32>(pixGetXRes(pix), 0)));
  return "";
}

// What the file is: "" when leptonica reads it (*kind and *count set), else
// the problem.
std::string Recognise(const std::vector<uint8_t>& data, l_int32* format, std::string* kind, uint32_t* count) {
  if (data.size() < 12 || findFileFormatBuffer(data.data(), format) != 0 || !FormatName(*format))
    return "not a page image (transc reads PNG, JPEG, TIFF, PNM, BMP, GIF, WebP and JPEG 2000)";
  *kind = std::string("a ") + FormatName(*format) + " file";
  *count = 1;
  if (*format == IFF_TIFF) {
    const TiffFacts facts = WalkTiff(data);
    if (!facts.problem.empty()) return *kind + ", " + facts.problem;
    if (facts.pages == 0) return *kind + " without pages";
    *count = facts.pages;
  }
  return "";
}

}  // namespace

int PageReader::Open(const std::string& path, int threshold) {
  path_ = path;
  threshold_ = threshold;
  next_ = 0;
  offset_ = 0;
  const bool standardInput = path == "-";
  name_ = standardInput ? "standard input" : path;
  data_.clear();
  std::string unread;
  if (standardInput) {
    data_ = ReadStandardInput().data;  // read once: a document counts its pages first
    unread = ReadStandardInput().problem;
  } else {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 1;
    unread = ReadAll(f, &data_);
    std::fclose(f);
  }
  if (!unread.empty()) {
    PrintError(name_, unread);
    return 2;
  }
  library_ = LibraryReads(data_);
  if (library_) {
    count_ = 1;
    if (!standardInput) data_ = std::vector<uint8_t>();  // the loader reads the file itself
    return 0;
  }
  l_int32 format = IFF_UNKNOWN;
  const std::string problem = Recognise(data_, &format, &kind_, &count_);
  format_ = format;
  if (problem.empty()) return 0;
  PrintError(name_, problem);
  return 2;
}

int PageReader::Next(BMP* page) {
  *page = BMP{};
  const uint32_t n = next_++;
  if (library_) return path_ == "-" ? LoadLibraryPageFromMemory(data_, page) : LoadPageImage(path_.c_str(), page);
  const std::string where = count_ > 1 ? kind_ + ", page " + std::to_string(n + 1) + ": " : kind_ + ": ";
  std::string problem;
  {
    SilentStderr quiet;
    l_int32 w = 0, h = 0, bps = 0, spp = 0, res = 0, cmap = 0, f = 0;
    const bool header = format_ == IFF_TIFF
                            ? readHeaderMemTiff(data_.data(), data_.size(), static_cast<l_int32>(n), &w, &h, &bps, &spp,
                                                &res, &cmap, &f) == 0
                            : pixReadHeaderMem(data_.data(), data_.size(), &f, &w, &h, &bps, &spp, &cmap) == 0;
    if (header) problem = SizeProblem(w, h);
    Pix* pix = nullptr;
    l_int32 warnings = 0;
    if (!problem.empty()) {
      // too large: not decoded
    } else if (format_ == IFF_TIFF) {
      pix = pixReadMemFromMultipageTiff(data_.data(), data_.size(), &offset_);
    } else if (format_ == IFF_JFIF_JPEG) {
      pix = pixReadMemJpeg(data_.data(), data_.size(), 0, 1, &warnings, 0);
    } else {
      pix = pixReadMem(data_.data(), data_.size());
    }
    if (pix && warnings > 0) pixDestroy(&pix);  // a JPEG whose data end early or are damaged
    if (problem.empty() && !pix) problem = CutShort(format_, data_) ? "cut short" : "its data do not decode (damaged)";
    if (problem.empty()) problem = SizeProblem(pixGetWidth(pix), pixGetHeight(pix));
    if (problem.empty()) problem = MakePage(pix, threshold_, page);
    pixDestroy(&pix);
  }
  if (problem.empty()) return 0;
  DestroyBMP(page);
  *page = BMP{};
  PrintError(name_, where + problem);
  return 2;
}

int LoadPages(const std::string& path, int threshold, std::vector<BMP>* pages) {
  PageReader reader;
  if (const int status = reader.Open(path, threshold); status != 0) return status;
  const size_t before = pages->size();
  for (uint32_t n = 0; n < reader.pages(); ++n) {
    BMP page{};
    if (const int status = reader.Next(&page); status != 0) {
      for (size_t i = before; i < pages->size(); ++i) DestroyBMP(&(*pages)[i]);
      pages->resize(before);
      return status;
    }
    pages->push_back(page);
  }
  return 0;
}

uint32_t CountPages(const std::string& path) {
  if (path == "-") {
    const StandardInput& in = ReadStandardInput();
    return in.problem.empty() && IsTiff(in.data) ? std::max<uint32_t>(WalkTiff(in.data).pages, 1) : 1;
  }
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 1;
  std::vector<uint8_t> data(4);
  const bool tiff = std::fread(data.data(), 1, 4, f) == 4 && IsTiff(data);
  const bool read = tiff && ReadAll(f, &data).empty();
  std::fclose(f);
  return read ? std::max<uint32_t>(WalkTiff(data).pages, 1) : 1;
}

}  // namespace jb2tool
