// Internal helpers of the parameter language (the records and exported
// functions are in transclib.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

inline constexpr const char* kSeparators = ": /\\^#'";
inline constexpr const char* kCoordinateDelimiters = "(,)";

// 1 + the index of the first of `count` strings equal to `key` (null entries
// never match), or 0 when none is.
int StringLookup(const char* const* table, long count, const char* key);

// The decimal integer at the start of `text`, read as atol does (leading
// blanks, optional sign, digits; no digits give 0). Values beyond 32 bits
// are clamped to the nearest 32-bit value rather than wrapped.
int32_t ReadInteger(const char* text);

// Calls `visit` with each token of a section word, lower-cased, and its
// length. A token longer than kMaxParameterToken is passed empty with its
// true length.
void ForEachToken(const char* word, const std::function<void(char* token, size_t length)>& visit);
