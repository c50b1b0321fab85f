// The byte layout of a JBIG2 file (T.88 Annex D) and of its segment headers
// (T.88 7.2): the ID string, the segment type numbers and the sizes of the
// fixed-length page-level structures. Shared by the encoder and the decoder.
#pragma once

#include <cstddef>
#include <cstdint>

// Segment types (T.88 7.3).
enum : uint32_t {
  kSegSymbolDictionary = 0,
  kSegIntermediateTextRegion = 4,
  kSegImmediateTextRegion = 6,
  kSegImmediateLosslessTextRegion = 7,
  kSegPatternDictionary = 16,
  kSegIntermediateHalftoneRegion = 20,
  kSegImmediateHalftoneRegion = 22,
  kSegImmediateLosslessHalftoneRegion = 23,
  kSegIntermediateGenericRegion = 36,
  kSegImmediateGenericRegion = 38,
  kSegImmediateLosslessGenericRegion = 39,
  kSegIntermediateRefinementRegion = 40,
  kSegImmediateRefinementRegion = 42,
  kSegImmediateLosslessRefinementRegion = 43,
  kSegPageInformation = 48,
  kSegEndOfPage = 49,
  kSegEndOfStripe = 50,
  kSegEndOfFile = 51,
  kSegProfiles = 52,
  kSegTables = 53,
  kSegExtension = 62,
};

// File header (T.88 D.4.1): 8-byte ID string, flags byte, 4-byte page count.
inline constexpr unsigned kFileIdLength = 8;
extern const unsigned char kFileIdString[kFileIdLength];
inline constexpr uint8_t kFileFlagSequential = 0x01;    // bit 0: 1 sequential, 0 random access
inline constexpr uint8_t kFileFlagPagesUnknown = 0x02;  // bit 1: page count field absent
inline constexpr unsigned kFileHeaderSize = 13;         // with the page count present

// Segment header fields (T.88 7.2).
inline constexpr uint8_t kSegFlagTypeMask = 0x3F;
inline constexpr uint8_t kSegFlagPageSize4 = 0x40;        // page association in 4 bytes
inline constexpr uint8_t kSegFlagDeferredNonRetain = 0x80;
inline constexpr uint32_t kMaxShortReferredCount = 4;     // counts above use the long form
inline constexpr uint32_t kLongReferredFormTag = 7;       // top 3 bits of the long form
inline constexpr uint32_t kUnknownDataLength = 0xFFFFFFFF;

// Fixed data sizes (T.88 7.4.1, 7.4.8).
inline constexpr unsigned kRegionInfoSize = 17;
inline constexpr unsigned kPageInfoSize = 19;
inline constexpr uint32_t kUnknownPageHeight = 0xFFFFFFFF;
inline constexpr uint16_t kPageStripedFlag = 0x8000;      // page striping field bit 15
inline constexpr uint16_t kMaxStripeSize = 0x7FFF;        // bits 0-14 of the striping field

// Extension segment (T.88 7.4.14): the comment extension type.
inline constexpr uint32_t kExtensionComment = 0x20000000;

// Width in bytes of each referred-to segment number in the header of segment
// `segmentNumber` (T.88 7.2.5).
inline constexpr unsigned ReferredNumberSize(uint32_t segmentNumber) {
  return segmentNumber <= 256 ? 1 : segmentNumber <= 65536 ? 2 : 4;
}

// One segment header as its bytes give it (T.88 7.2.2 to 7.2.7), read in
// place: the referred-to numbers and retention bits stay in the bytes.
struct SegmentHeaderFields {
  uint32_t number = 0;
  uint8_t flags = 0;           // type, page association size, deferred non-retain
  uint32_t referredCount = 0;
  // Retention bits: bit 0 of the first byte this segment's, bit j + 1
  // (counted on through the bytes) referred-to segment j's.
  const unsigned char* retention = nullptr;
  const unsigned char* referred = nullptr;  // ReferredNumberSize(number) bytes each
  uint32_t page = 0;
  uint32_t dataLength = 0;
  size_t pageOffset = 0;  // where the page association starts, from the header's first byte
  size_t size = 0;        // the header's bytes; after a failure, the bytes read before it

  uint32_t Type() const { return flags & kSegFlagTypeMask; }
  bool PageSize4() const { return (flags & kSegFlagPageSize4) != 0; }
  bool DeferredNonRetain() const { return (flags & kSegFlagDeferredNonRetain) != 0; }
  bool Retain() const { return retention[0] & 1; }
  bool ReferredRetain(uint32_t j) const { return (retention[(j + 1) / 8] >> ((j + 1) % 8)) & 1; }
  uint32_t Referred(uint32_t j) const;
};

enum class SegmentHeaderStatus {
  kOk,
  kCutShort,         // the bytes end inside the header
  kTooManyReferred,  // more than kMaxReferredSegments referred-to segments
};

// Reads the segment header at the start of `bytes`. The long form of the
// referred-to count (T.88 7.2.4) is read before its retention bytes, so a
// count beyond kMaxReferredSegments is reported as such, ahead of a header
// the bytes cannot hold.
SegmentHeaderStatus ReadSegmentHeaderFields(const unsigned char* bytes, size_t size, SegmentHeaderFields* out);

// True when the first eight bytes are the JBIG2 file ID string.
bool ValidFileHeader(const unsigned char* bytes);
