// Table segments (T.88 7.4.13, B.2): the decoder's side beyond the dispatch.
#pragma once

#include "decoder/untransclib.h"

// Decodes a table segment (type 53) into seg->Table.
void DecodeTableSegment(JB2FILE* file, SEGMENT_HEADER* seg, DECODER* input);

// Frees a table segment's table (definition, lines and tree) and leaves the
// segment without one.
void ReleaseTableSegment(SEGMENT_HEADER* seg);
