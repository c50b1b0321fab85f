// The halftone region segment (T.88 6.6, 7.4.5).
#pragma once

#include "decoder/untransclib.h"

void DecodeHalftoneRegionSegment(JB2FILE* file, SEGMENT_HEADER* seg, DECODER* input);  // types 20, 22, 23
