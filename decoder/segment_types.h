// Roles of the segment types (common/segment_header.h) in page composition.
#pragma once

#include <cstdint>

#include "common/segment_header.h"

namespace jb2dec {

// Intermediate regions keep their bitmap for a refinement that refers to them.
inline bool IsIntermediateRegion(uint32_t type) {
  return type == kSegIntermediateTextRegion || type == kSegIntermediateHalftoneRegion ||
         type == kSegIntermediateGenericRegion || type == kSegIntermediateRefinementRegion;
}

// Immediate regions are drawn on their page as soon as they are decoded.
inline bool IsImmediateRegion(uint32_t type) {
  switch (type) {
    case kSegImmediateTextRegion: case kSegImmediateLosslessTextRegion:
    case kSegImmediateHalftoneRegion: case kSegImmediateLosslessHalftoneRegion:
    case kSegImmediateGenericRegion: case kSegImmediateLosslessGenericRegion:
    case kSegImmediateRefinementRegion: case kSegImmediateLosslessRefinementRegion:
      return true;
    default:
      return false;
  }
}

}  // namespace jb2dec
