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

struct PARAMETER;
typedef void (*PARAMETER_REPORT)(void* user, int bError, const char* text);

// ParameterAnalysis that tells of a failed allocation: false then (the
// records hold what was parsed and can be freed).
bool ParseSections(long nWords, char** words, PARAMETER* records) noexcept;

// CheckParameters with the reason of a refusal.
enum : int { kReviewPassed = 0, kReviewRefused = 1, kReviewOutOfMemory = 2 };
int ReviewSections(long nWords, char** words, PARAMETER* records, long nRecords, PARAMETER_REPORT report,
                   void* user) noexcept;
