#include "tools/image_checks.h"

#include <leptonica/allheaders.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string_view>
#include <vector>

namespace jb2tool {

namespace {

// Reads little- or big-endian integers at an offset, failing (false) past
// the end of the data instead of reading there.
class Bytes {
 public:
  Bytes(std::span<const uint8_t> data, bool little) : data_(data), little_(little) {}
  bool Get(uint64_t at, int count, uint64_t* value) const {
    if (at > data_.size() || static_cast<uint64_t>(count) > data_.size() - at) return false;
    uint64_t v = 0;
    for (int i = 0; i < count; ++i) {
      const uint64_t byte = data_[at + static_cast<uint64_t>(i)];
      v |= little_ ? byte << (8 * i) : byte << (8 * (count - 1 - i));
    }
    *value = v;
    return true;
  }
  uint64_t size() const { return data_.size(); }

 private:
  std::span<const uint8_t> data_;
  bool little_;
};

// TIFF compression codes (tag 259) and their names; `decoded` marks those
// libtiff decodes, so leptonica reads them.
struct Compression {
  uint32_t code;
  const char* name;
  bool decoded;
};
constexpr Compression kCompressions[] = {
    {1, "none", true},           {2, "CCITT RLE", true},        {3, "CCITT G3", true},
    {4, "CCITT G4", true},       {5, "LZW", true},              {6, "old-style JPEG", true},
    {7, "JPEG", true},           {8, "Deflate", true},          {32773, "PackBits", true},
    {32946, "Deflate", true},    {34661, "JBIG", true},         {34712, "JPEG 2000", false},
    {34887, "LERC", true},       {34925, "LZMA", true},         {50000, "Zstandard", true},
    {50001, "WebP", true},       {32809, "ThunderScan", false}, {34676, "SGI LogL", true},
    {34677, "SGI LogLuv", true},
};

std::string CompressionProblem(uint64_t code) {
  for (const Compression& c : kCompressions)
    if (c.code == code) return c.decoded ? "" : std::string("unsupported compression ") + c.name;
  return "unsupported compression (code " + std::to_string(code) + ")";
}

// Directory entries: tag, field type, value count, and the value or the
// offset of the values.
constexpr uint32_t kTagCompression = 259, kTagStripOffsets = 273, kTagStripByteCounts = 279;
constexpr uint32_t kTagTileOffsets = 324, kTagTileByteCounts = 325;
// Main-chain directories walked at most: a loop in the chain, or a file of
// more pages than any book, stops here.
constexpr uint32_t kMaxTiffPages = 100000;

// The values of a SHORT or LONG entry (offsets or byte counts of the
// image data); false when they lie past the end.
bool EntryValues(const Bytes& b, uint64_t entry, std::vector<uint64_t>* values) {
  uint64_t type = 0, count = 0;
  if (!b.Get(entry + 2, 2, &type) || !b.Get(entry + 4, 4, &count)) return false;
  const int size = type == 3 ? 2 : type == 4 ? 4 : 0;
  if (size == 0 || count > b.size() / static_cast<uint64_t>(size)) return false;
  uint64_t at = entry + 8;
  if (count * static_cast<uint64_t>(size) > 4 && !b.Get(entry + 8, 4, &at)) return false;
  values->resize(count);
  for (uint64_t i = 0; i < count; ++i)
    if (!b.Get(at + i * static_cast<uint64_t>(size), size, &(*values)[i])) return false;
  return true;
}

}  // namespace

TiffFacts WalkTiff(std::span<const uint8_t> data) {
  TiffFacts facts;
  if (data.size() < 8 || data[0] != data[1] || (data[0] != 'I' && data[0] != 'M')) {
    facts.problem = "not a TIFF file";
    return facts;
  }
  const Bytes b(data, data[0] == 'I');
  uint64_t version = 0, directory = 0;
  b.Get(2, 2, &version);
  if (version == 43) {
    facts.problem = "a BigTIFF file (unsupported)";
    return facts;
  }
  b.Get(4, 4, &directory);
  std::set<uint64_t> seen;
  while (directory != 0 && facts.pages < kMaxTiffPages && seen.insert(directory).second) {
    const std::string where = "page " + std::to_string(facts.pages + 1) + ": ";
    uint64_t entries = 0, next = 0;
    if (!b.Get(directory, 2, &entries) || !b.Get(directory + 2 + 12 * entries, 4, &next)) {
      facts.problem = where + "cut short (its directory lies past the end of the file)";
      return facts;
    }
    std::vector<uint64_t> offsets, counts;
    bool dataFound = true;
    for (uint64_t i = 0; i < entries; ++i) {
      const uint64_t entry = directory + 2 + 12 * i;
      uint64_t tag = 0, value = 0;
      b.Get(entry, 2, &tag);
      if (tag == kTagCompression) {
        uint64_t type = 0;
        b.Get(entry + 2, 2, &type);
        b.Get(entry + 8, type == 3 ? 2 : 4, &value);
        const std::string problem = CompressionProblem(value);
        if (!problem.empty()) {
          facts.problem = where + problem;
          return facts;
        }
      } else if (tag == kTagStripOffsets || tag == kTagTileOffsets) {
        dataFound = EntryValues(b, entry, &offsets) && dataFound;
      } else if (tag == kTagStripByteCounts || tag == kTagTileByteCounts) {
        dataFound = EntryValues(b, entry, &counts) && dataFound;
      }
    }
    bool inside = dataFound && offsets.size() == counts.size();
    for (size_t i = 0; inside && i < offsets.size(); ++i)
      inside = offsets[i] <= data.size() && counts[i] <= data.size() - offsets[i];
    if (!inside) {
      facts.problem = where + "cut short (its image data lies past the end of the file)";
      return facts;
    }
    ++facts.pages;
    directory = next;
  }
  return facts;
}

namespace {

bool EndsWithin(std::span<const uint8_t> data, std::string_view marker, size_t tail) {
  const size_t from = data.size() > tail ? data.size() - tail : 0;
  return std::search(data.begin() + static_cast<long>(from), data.end(), marker.begin(), marker.end()) != data.end();
}

// The bytes a BMP file's header announces: pixel data offset plus rows.
bool BmpShort(std::span<const uint8_t> data) {
  const Bytes b(data, true);
  uint64_t offset = 0, infoSize = 0, width = 0, height = 0, bits = 0, compression = 0;
  if (!b.Get(10, 4, &offset) || !b.Get(14, 4, &infoSize)) return true;
  const bool core = infoSize == 12;
  if (!b.Get(18, core ? 2 : 4, &width) || !b.Get(core ? 20 : 22, core ? 2 : 4, &height) ||
      !b.Get(core ? 24 : 28, 2, &bits))
    return true;
  if (!core && (!b.Get(30, 4, &compression) || (compression != 0 && compression != 3))) return false;
  if (!core && height >= 0x80000000u) height = 0x100000000u - height;  // top-down rows
  const uint64_t rowBytes = (width * bits + 31) / 32 * 4;
  return height != 0 && (data.size() < offset || (data.size() - offset) / height < rowBytes);
}

// The bytes a binary PNM header announces (P4, P5, P6).
bool PnmShort(std::span<const uint8_t> data) {
  if (data.size() < 2 || data[0] != 'P' || data[1] < '4' || data[1] > '6') return false;
  const int fields = data[1] == '4' ? 2 : 3;
  uint64_t values[3] = {0, 0, 0};
  size_t at = 2;
  for (int f = 0; f < fields; ++f) {
    while (at < data.size() && (std::isspace(data[at]) || data[at] == '#')) {
      if (data[at] == '#')
        while (at < data.size() && data[at] != '\n') ++at;
      else
        ++at;
    }
    if (at >= data.size() || !std::isdigit(data[at])) return true;
    while (at < data.size() && std::isdigit(data[at]) && values[f] < (uint64_t{1} << 32))
      values[f] = values[f] * 10 + (data[at++] - '0');
  }
  ++at;  // the single blank after the header
  const uint64_t sampleBytes = fields == 3 && values[2] > 255 ? 2 : 1;
  const uint64_t rowBytes = data[1] == '4' ? (values[0] + 7) / 8 : values[0] * sampleBytes * (data[1] == '6' ? 3 : 1);
  return values[1] != 0 && (data.size() < at || (data.size() - at) / values[1] < rowBytes);
}

}  // namespace

bool CutShort(int format, std::span<const uint8_t> data) {
  switch (format) {
    case IFF_PNG: return !EndsWithin(data, "IEND", 64);
    case IFF_JFIF_JPEG: return !EndsWithin(data, "\xFF\xD9", 1024);
    case IFF_BMP: return BmpShort(data);
    case IFF_PNM: return PnmShort(data);
    default: return false;
  }
}

}  // namespace jb2tool
