// Declarations shared by the decoder's parsing and page decoding and not
// exported: the parse steps and the dispatch of a segment to its decoder.
#pragma once

#include <cstdint>

#include "decoder/untransclib.h"

// Parsing (T.88 7.2, Annex D).
void ReadSegmentHeader(DECODER* reader, SEGMENT_HEADER** segments, uint32_t* count, unsigned long* capacity);
void SkipUnknownSegmentLength(DECODER* reader);
void DecodePageSegment(SEGMENT_HEADER* seg);
void BuildSegmentTree(SEGMENT_HEADER* segments, uint32_t count);
void FreeSegmentHeader(SEGMENT_HEADER* seg);

// Decodes one segment with `file`'s shared coding state and a reader of its
// own over its data, by its type.
void DecodeSegment(JB2FILE* file, SEGMENT_HEADER* seg);
