// Internal helpers of the parameter language (the records and exported
// functions are in transclib.h).
#pragma once

// 1 + the index of the first of `count` strings equal to `key` (null entries
// never match), or 0 when none is.
int StringLookup(const char* const* table, long count, const char* key);
