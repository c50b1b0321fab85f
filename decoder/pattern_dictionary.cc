// Pattern dictionary segments (T.88 6.7, 7.4.4).
// Not decoded yet: the segment is skipped with a warning, and any segment
// that refers to it finds no result in it.
#include "common/messages.h"
#include "decoder/decoder_internal.h"

void DecodeHalftoneDictionarySegment(SEGMENT_HEADER* seg) { PrintWarningRef("Segment Type not Supported: Skipped", seg->lNumber); }
