// Text region segments (T.88 6.4, 7.4.3).
// Not decoded yet: the segment is skipped with a warning, and any segment
// that refers to it finds no result in it.
#include "common/messages.h"
#include "decoder/decoder_internal.h"

void DecodeSymbolRegionSegment(SEGMENT_HEADER* seg) { PrintWarningRef("Segment Type not Supported: Skipped", seg->lNumber); }
