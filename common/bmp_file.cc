// Uncompressed 1-bit Windows BMP files: reading (LoadBMP) and writing
// (SaveBMP). All multi-byte fields of a BMP file are little-endian.
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "common/bitmap.h"
#include "common/limits.h"
#include "common/messages.h"

namespace {

constexpr int kSavedHeaderBytes = 62;     // file header, 40-byte information header, two colours
constexpr int kFileHeaderBytes = 14;
constexpr uint32_t kCoreHeaderBytes = 12;  // OS/2 1.x (BITMAPCOREHEADER): 16-bit sizes, 3-byte colours
constexpr uint32_t kInfoHeaderMin = 40;    // Windows and OS/2 2.x headers share its first 40 bytes

struct FileCloser {
  FILE* f;
  ~FileCloser() { std::fclose(f); }
};

uint32_t Le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
uint32_t Le16(const unsigned char* p) { return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8; }

// Luminance of a palette entry (blue, green, red), scaled by 1000.
uint32_t Luminance(const unsigned char* bgr) { return 114u * bgr[0] + 587u * bgr[1] + 299u * bgr[2]; }
// A colour shows black on paper when it is darker than mid grey.
bool IsDark(const unsigned char* bgr) { return Luminance(bgr) < 1000u * 128u; }

// Size of the open file, or -1 when it cannot be told (then short reads are
// still caught row by row).
long FileSize(FILE* f) {
  if (std::fseek(f, 0, SEEK_END) != 0) return -1;
  long size = std::ftell(f);
  return size;
}

// The checked header fields of a 1-bit BMP file.
struct BmpLayout {
  uint32_t width = 0;
  uint32_t height = 0;
  bool topDown = false;
  uint64_t pixelOffset = 0;
  uint64_t paletteOffset = 0;
  uint32_t paletteEntries = 0;  // 0, 1 or 2 entries read for the polarity decision
  uint32_t entryBytes = 4;      // 3 in OS/2 core files
  uint32_t xResolution = 0;     // pixels per metre
  uint32_t yResolution = 0;
};

// The command that makes a 1-bit PBM of the image file `name` (or of an
// example name).
std::string ConversionHint(const char* name) {
  std::string in = name && *name ? name : "page.bmp";
  std::string out = in;
  const size_t dot = out.find_last_of('.');
  const size_t slash = out.find_last_of('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) out.resize(dot);
  out += out + ".pbm" == in ? "-1bit.pbm" : ".pbm";
  return "(convert it with: convert " + in + " -monochrome " + out + ")";
}

// Names the depth found and the command that makes a 1-bit image of the file.
void ReportDepth(uint32_t bitsPerPixel, const char* name) {
  const std::string message = "Invalid .BMP, Incorrect Bits Per Pixel: " + std::to_string(bitsPerPixel) +
                              " found, a 1-bit image is needed " + ConversionHint(name);
  PrintError(message.c_str());
}

// Says what a file that is neither BMP nor PBM is, by its first bytes, and
// returns true; false for anything else.
[[nodiscard]] bool ReportOtherFormat(const unsigned char* head, size_t n, const char* name) {
  struct Format {
    const char* magic;
    size_t length;
    const char* what;
    bool image;  // ImageMagick converts it
  };
  static const Format kFormats[] = {
      {"\x89PNG\r\n\x1A\n", 8, "a PNG Image", true},  {"\xFF\xD8\xFF", 3, "a JPEG Image", true},
      {"II*\0", 4, "a TIFF Image", true},               {"MM\0*", 4, "a TIFF Image", true},
      {"GIF8", 4, "a GIF Image", true},                  {"%PDF", 4, "a PDF Document", false},
      {"%!", 2, "a PostScript Document", false},         {"\x97JB2\r\n\x1A\n", 8, "a JBIG2 File", false},
  };
  for (const Format& f : kFormats) {
    if (n < f.length || std::memcmp(head, f.magic, f.length) != 0) continue;
    std::string message = "Invalid Image: ";
    message += name && *name ? name : "the file";
    message.append(" Is ").append(f.what).append(", not a BMP or PBM File");
    if (f.image) message.append(" ").append(ConversionHint(name));
    PrintError(message.c_str());
    return true;
  }
  return false;
}

// Checks the file header and the information header `info` (`infoBytes` of
// it read, at most 40); prints the reason and returns false when the file
// cannot be loaded.
[[nodiscard]] bool CheckHeader(const unsigned char* h, const unsigned char* info, uint32_t infoSize,
                               const char* name, BmpLayout* out) {
  bool formatReported = false;
  auto badFormat = [&formatReported] {
    if (!formatReported) PrintError("Invalid .BMP file format!");
    formatReported = true;
  };
  if (h[0] != 'B' || h[1] != 'M') badFormat();  // reported, and loading goes on
  const bool core = infoSize == kCoreHeaderBytes;
  if (!core && infoSize < kInfoHeaderMin) {
    badFormat();
    return false;
  }
  const uint32_t bitsPerPixel = Le16(info + (core ? 10 : 14));
  if (bitsPerPixel != 1) {
    // Without the signature the field is no depth: the file is no BMP.
    if (!formatReported) ReportDepth(bitsPerPixel, name);
    return false;
  }
  if (!core && Le32(info + 16) != 0) {
    PrintError("Invalid .BMP, Compressed Pixel Data Not Supported");
    return false;
  }
  const uint32_t width = core ? Le16(info + 4) : Le32(info + 4);
  const int64_t heightField = core ? int64_t{Le16(info + 6)} : int64_t{static_cast<int32_t>(Le32(info + 8))};
  const uint64_t height = static_cast<uint64_t>(heightField < 0 ? -heightField : heightField);
  if (width == 0 || height == 0 || width > kMaxBmpDimension || height > kMaxBmpDimension ||
      uint64_t{width} * height > kMaxBitmapPixels) {
    PrintError("Invalid .BMP, Image Width or Height Out of Range");
    return false;
  }
  out->width = width;
  out->height = static_cast<uint32_t>(height);
  out->topDown = heightField < 0;
  out->paletteOffset = kFileHeaderBytes + uint64_t{infoSize};
  out->entryBytes = core ? 3 : 4;
  if (!core) {
    out->xResolution = Le32(info + 24);
    out->yResolution = Le32(info + 28);
  }
  const uint32_t coloursUsed = core ? 0 : Le32(info + 32);
  const uint32_t declared = coloursUsed == 0 || coloursUsed > 2 ? 2 : coloursUsed;
  uint64_t pixelOffset = Le32(h + 10);
  if (pixelOffset == 0) pixelOffset = out->paletteOffset + out->entryBytes * declared;  // some writers leave it unset
  if (pixelOffset < out->paletteOffset) {
    badFormat();
    return false;
  }
  const uint64_t room = (pixelOffset - out->paletteOffset) / out->entryBytes;
  out->paletteEntries = static_cast<uint32_t>(room < declared ? room : declared);
  out->pixelOffset = pixelOffset;
  return true;
}

// Reads `n` bytes at `offset`; false when the file ends first.
[[nodiscard]] bool ReadAt(FILE* f, uint64_t offset, unsigned char* dst, size_t n) {
  if (offset > static_cast<uint64_t>(LONG_MAX)) return false;
  if (std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0) return false;
  return std::fread(dst, 1, n, f) == n;
}

void ReportFile(const char* what, const char* path) {
  char message[1100];
  std::snprintf(message, sizeof message, "%s %s", what, path);
  PrintError(message);
}

// Makes every pixel the colour its palette entry shows: a 1 bit is black.
// Entries of the same shade (ImageMagick writes an all-black page with two
// black entries) make every pixel that shade.
void ApplyPalette(const unsigned char* palette, uint32_t entries, uint32_t entryBytes, BMP* image) {
  if (entries < 2) return;  // no palette to go by: 1 bits are black
  const bool dark0 = IsDark(palette), dark1 = IsDark(palette + entryBytes);
  if (dark0 != dark1) {
    if (dark0) InvertBMP(image);
    return;
  }
  const unsigned char fill = dark0 ? 0xFF : 0x00;
  for (uint32_t y = 0; y < image->lHeight; ++y)
    std::memset(image->pData + static_cast<size_t>(y) * image->lStride, fill, image->lBytesPerRow);
}

}  // namespace

namespace {

// Opens `path` for LoadBMP and LoadPageImage: null when it cannot be
// opened; with *refused set when it is a directory, or a file of another
// format (said).
FILE* OpenImage(const char* path, bool* refused) {
  *refused = false;
  FILE* f = std::fopen(path, "rb");
  if (!f) return nullptr;
  struct stat info;
  if (fstat(fileno(f), &info) == 0 && S_ISDIR(info.st_mode)) {
    PrintError(("Invalid Image: " + std::string(path) + " Is a Directory, not a BMP or PBM File").c_str());
    *refused = true;
    return f;
  }
  unsigned char head[8];
  const size_t n = std::fread(head, 1, sizeof head, f);
  std::rewind(f);
  *refused = ReportOtherFormat(head, n, path);
  return f;
}

}  // namespace

// Returns 0 when loaded, 1 when the file cannot be opened, 2 when it was
// opened but is not a loadable 1-bit BMP (the reason has been printed). On
// 1 and 2 `bmp` is untouched.
int LoadBMP(const char* path, BMP* bmp) noexcept {
  bool refused = false;
  FILE* f = OpenImage(path, &refused);
  if (!f) return 1;
  FileCloser closer{f};
  return refused ? 2 : LoadBMPStream(f, bmp, path);
}

int LoadPageImage(const char* path, BMP* bmp) noexcept {
  bool refused = false;
  FILE* f = OpenImage(path, &refused);
  if (!f) return 1;
  FileCloser closer{f};
  if (refused) return 2;
  const int first = std::fgetc(f);
  std::rewind(f);
  return first == 'P' ? LoadPBMStream(f, bmp) : LoadBMPStream(f, bmp, path);
}

int LoadBMPStream(FILE* f, BMP* bmp, const char* name) noexcept {
  // The headers: 62 bytes as SaveBMP writes them (file header, 40-byte
  // information header, two colours), or 32 for an OS/2 core file; a file
  // that ends (or cannot be read) before them is reported once.
  unsigned char header[kSavedHeaderBytes];
  size_t headerBytes = kSavedHeaderBytes;
  for (size_t i = 0; i < headerBytes; ++i) {
    const int c = std::fgetc(f);
    if (c == EOF) {
      const std::string reason = std::strerror(errno);
      if (std::ferror(f)) PrintError(("Could not read file " + std::string(name ? name : "") + " (" + reason + ")").c_str());
      else PrintError("Unexpected EOF in input file");
      return 2;
    }
    header[i] = static_cast<unsigned char>(c);
    if (i == kFileHeaderBytes + 3 && Le32(header + kFileHeaderBytes) == kCoreHeaderBytes)
      headerBytes = kFileHeaderBytes + kCoreHeaderBytes + 2 * 3;
  }
  const unsigned char* info = header + kFileHeaderBytes;
  const uint32_t infoSize = Le32(info);

  BmpLayout layout;
  if (!CheckHeader(header, info, infoSize, name, &layout)) return 2;

  // The palette follows the information header, whatever its size.
  unsigned char palette[8] = {};
  if (layout.paletteEntries > 0 &&
      !ReadAt(f, layout.paletteOffset, palette, size_t{layout.entryBytes} * layout.paletteEntries)) {
    PrintError("Unexpected EOF in input file");
    return 2;
  }

  // Every row but the last must be complete with its padding; the last one
  // only needs its pixel bytes. Checked before the bitmap is allocated.
  const uint32_t bytesPerRow = layout.width / 8 + (layout.width % 8 != 0);
  const uint32_t pad = (4 - bytesPerRow % 4) % 4;
  const uint64_t needed = layout.pixelOffset + uint64_t{bytesPerRow + pad} * (layout.height - 1) + bytesPerRow;
  const long size = FileSize(f);
  if ((size >= 0 && static_cast<uint64_t>(size) < needed) || layout.pixelOffset > static_cast<uint64_t>(LONG_MAX) ||
      std::fseek(f, static_cast<long>(layout.pixelOffset), SEEK_SET) != 0) {
    PrintError("Unexpected EOF in input file");
    return 2;
  }

  BMP image;
  CreateBMP(&image, layout.width, layout.height, 0);
  if (!image.pData) {
    PrintError("Invalid .BMP, Image Width or Height Out of Range");
    return 2;
  }
  unsigned char padBytes[4];
  for (uint32_t i = 0; i < layout.height; ++i) {
    const uint32_t row = layout.topDown ? i : layout.height - 1 - i;
    if (std::fread(image.pData + static_cast<size_t>(row) * image.lStride, 1, bytesPerRow, f) != bytesPerRow ||
        (i + 1 < layout.height && std::fread(padBytes, 1, pad, f) != pad)) {
      PrintError("Unexpected EOF in input file");
      DestroyBMP(&image);
      return 2;
    }
  }
  ApplyPalette(palette, layout.paletteEntries, layout.entryBytes, &image);
  image.lXResolution = layout.xResolution;
  image.lYResolution = layout.yResolution;
  *bmp = image;
  return 0;
}

constexpr size_t kWriteBufferBytes = 1 << 16;  // SaveBMP's stream buffer

// A file that cannot be created or written is reported; nothing else happens.
void SaveBMP(const char* path, BMP* bmp) noexcept {
  // Whole blocks of rows per write instead of the default buffer's few KB
  // (it outlives the stream, which is closed below).
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kWriteBufferBytes]);
  FILE* f = std::fopen(path, "wb");
  if (!f) {
    ReportFile("Could not create file", path);
    return;
  }
  if (buffer) std::setvbuf(f, buffer.get(), _IOFBF, kWriteBufferBytes);
  const unsigned long bytesPerRow = bmp->lBytesPerRow, height = bmp->lHeight;
  const unsigned long pad = (4 - bytesPerRow % 4) % 4;
  WriteBytesToFile(f, 'B', 1);
  WriteBytesToFile(f, 'M', 1);
  WriteBytesToFile(f, (bytesPerRow + pad) * height + kSavedHeaderBytes, 4);
  WriteBytesToFile(f, 0, 4);
  WriteBytesToFile(f, kSavedHeaderBytes, 4);  // offset of the pixel data
  WriteBytesToFile(f, 40, 4);            // size of the information header
  WriteBytesToFile(f, bmp->lWidth, 4);
  WriteBytesToFile(f, height, 4);
  WriteBytesToFile(f, 1, 2);  // planes
  WriteBytesToFile(f, 1, 2);  // bits per pixel
  WriteBytesToFile(f, 0, 4);  // no compression
  WriteBytesToFile(f, 0, 4);  // image size
  WriteBytesToFile(f, bmp->lXResolution, 4);  // pixels per metre
  WriteBytesToFile(f, bmp->lYResolution, 4);
  WriteBytesToFile(f, 2, 4);  // colours used
  WriteBytesToFile(f, 2, 4);  // important colours
  WriteBytesToFile(f, 0x00FFFFFF, 4);  // colour 0: white
  WriteBytesToFile(f, 0, 4);           // colour 1: black
  // Rows bottom first, as held (spare bits included), each padded to 4 bytes.
  std::vector<unsigned char> line(bytesPerRow + pad, 0);
  bool ok = true;
  for (unsigned long i = 0; i < height && ok && bytesPerRow > 0; ++i) {
    std::memcpy(line.data(), bmp->pData + (height - 1 - i) * bmp->lStride, bytesPerRow);
    ok = std::fwrite(line.data(), 1, line.size(), f) == line.size();
  }
  if (std::fclose(f) != 0 || !ok) ReportFile("Could not write file", path);
}
