// JBIG2 file ID string and its check (T.88 D.4.1), and the segment header
// reader (T.88 7.2).
#include "common/segment_header.h"

#include <cstring>

#include "common/limits.h"

const unsigned char kFileIdString[kFileIdLength] = {0x97, 0x4A, 0x42, 0x32, 0x0D, 0x0A, 0x1A, 0x0A};

bool ValidFileHeader(const unsigned char* bytes) {
  return std::memcmp(bytes, kFileIdString, kFileIdLength) == 0;
}

namespace {

uint32_t BigEndian(const unsigned char* p, unsigned n) {
  uint32_t v = 0;
  for (unsigned i = 0; i < n; ++i) v = v << 8 | p[i];
  return v;
}

}  // namespace

uint32_t SegmentHeaderFields::Referred(uint32_t j) const {
  const unsigned width = ReferredNumberSize(number);
  return BigEndian(referred + size_t{j} * width, width);
}

SegmentHeaderStatus ReadSegmentHeaderFields(const unsigned char* bytes, size_t size, SegmentHeaderFields* out) {
  *out = SegmentHeaderFields{};
  // Fixed part: number (4), flags (1), first byte of the referred-to count.
  if (size < 6) return SegmentHeaderStatus::kCutShort;
  out->number = BigEndian(bytes, 4);
  out->flags = bytes[4];
  const uint32_t first = bytes[5];
  size_t pos = 6;
  uint64_t retentionBytes = 0;  // short form: the bits share the count's byte
  out->size = pos;
  if ((first >> 5) <= kMaxShortReferredCount) {
    out->referredCount = first >> 5;
    out->retention = bytes + 5;
  } else {
    // Long form (T.88 7.2.4): 29-bit count, then ceil((count + 1) / 8) bytes.
    if (size - pos < 3) return SegmentHeaderStatus::kCutShort;
    out->referredCount = (first & 0x1F) << 24 | BigEndian(bytes + pos, 3);
    pos += 3;
    out->size = pos;
    retentionBytes = (uint64_t{out->referredCount} + 8) / 8;
    out->retention = bytes + pos;
  }
  if (out->referredCount > kMaxReferredSegments) return SegmentHeaderStatus::kTooManyReferred;
  // T.88 7.2.5: the width of a referred-to number follows this segment's own.
  const unsigned width = ReferredNumberSize(out->number);
  const unsigned pageWidth = out->PageSize4() ? 4 : 1;
  const uint64_t need = retentionBytes + uint64_t{out->referredCount} * width + pageWidth + 4;
  if (need > size - pos) return SegmentHeaderStatus::kCutShort;
  pos += static_cast<size_t>(retentionBytes);
  out->referred = bytes + pos;
  pos += size_t{out->referredCount} * width;
  out->pageOffset = pos;
  out->page = BigEndian(bytes + pos, pageWidth);
  pos += pageWidth;
  out->dataLength = BigEndian(bytes + pos, 4);
  out->size = pos + 4;
  return SegmentHeaderStatus::kOk;
}
