// Symbol dictionary segments (T.88 6.5, 7.4.2).
// Not decoded yet: the segment is skipped with a warning, and any segment
// that refers to it finds no result in it.
#include "common/messages.h"
#include "decoder/decoder_internal.h"

void DecodeSymbolDictionarySegment(SEGMENT_HEADER* seg) { PrintWarningRef("Segment Type not Supported: Skipped", seg->lNumber); }
