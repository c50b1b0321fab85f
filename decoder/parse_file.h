// The steps of parsing a file (T.88 7.2, Annex D) below JB2ParseFile, not
// exported; the tests drive them one by one.
#pragma once

#include <cstdint>

#include "decoder/untransclib.h"

void ReadSegmentHeader(DECODER* reader, SEGMENT_HEADER** segments, uint32_t* count, unsigned long* capacity);
void SkipUnknownSegmentLength(DECODER* reader);
void DecodePageSegment(SEGMENT_HEADER* seg);
void BuildSegmentTree(SEGMENT_HEADER* segments, uint32_t count);
// Frees what decoding the segment made for later segments (symbols, saved
// contexts, patterns, a table), as if it had never been decoded.
void ReleaseSegmentResults(SEGMENT_HEADER* seg);
void FreeSegmentHeader(SEGMENT_HEADER* seg);
