// Segment type numbers of T.88 7.3 as the decoder dispatches them. Kept in a
// namespace of the decoder's own so that they never clash with the shared
// segment header module.
#pragma once

#include <cstdint>

namespace jb2dec {

enum SegmentType : uint32_t {
  kSymbolDictionary = 0,
  kIntermediateTextRegion = 4,
  kImmediateTextRegion = 6,
  kImmediateLosslessTextRegion = 7,
  kPatternDictionary = 16,
  kIntermediateHalftoneRegion = 20,
  kImmediateHalftoneRegion = 22,
  kImmediateLosslessHalftoneRegion = 23,
  kIntermediateGenericRegion = 36,
  kImmediateGenericRegion = 38,
  kImmediateLosslessGenericRegion = 39,
  kIntermediateRefinementRegion = 40,
  kImmediateRefinementRegion = 42,
  kImmediateLosslessRefinementRegion = 43,
  kPageInformation = 48,
  kEndOfPage = 49,
  kEndOfStripe = 50,
  kEndOfFile = 51,
  kProfiles = 52,
  kTables = 53,
  kExtension = 62,
};

// Intermediate regions keep their bitmap for a refinement that refers to them.
inline bool IsIntermediateRegion(uint32_t type) {
  return type == kIntermediateTextRegion || type == kIntermediateHalftoneRegion ||
         type == kIntermediateGenericRegion || type == kIntermediateRefinementRegion;
}

// Immediate regions are drawn on their page as soon as they are decoded.
inline bool IsImmediateRegion(uint32_t type) {
  switch (type) {
    case kImmediateTextRegion: case kImmediateLosslessTextRegion:
    case kImmediateHalftoneRegion: case kImmediateLosslessHalftoneRegion:
    case kImmediateGenericRegion: case kImmediateLosslessGenericRegion:
    case kImmediateRefinementRegion: case kImmediateLosslessRefinementRegion:
      return true;
    default:
      return false;
  }
}

}  // namespace jb2dec
