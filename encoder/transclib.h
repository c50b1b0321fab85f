// The encoder library's exported interface: parameter parsing, BMP loading
// and Transcode, which codes one page into a JBIG2 (T.88) file.
#pragma once

#include <cstdint>

#include "common/bitmap.h"
#include "common/export.h"

JB2_EXTERN_C_BEGIN

// One parsed section word: a rectangle of the page, its region type and its
// keywords. The caller allocates the array zero-filled and owns it.
typedef struct PARAMETER {
  int32_t lPage;       // 1 for every section the parser fills
  int32_t lType;       // 0 generic, 1 symbol (text), 2 halftone
  int32_t lX0;         // left edge
  int32_t lY0;         // top edge
  int32_t lX1;         // right edge, exclusive; 0 = page width
  int32_t lY1;         // bottom edge, exclusive; 0 = page height
  uint32_t nKeys;      // keywords stored
  char** ppszKeys;     // keyword names, lower case
  int32_t* plValues;   // keyword values
} PARAMETER;

JB2_EXPORT void ParameterAnalysis(long nWords, char** words, PARAMETER* records) JB2_NOEXCEPT;
JB2_EXPORT int32_t GetParameterValue(const char* name, PARAMETER* record, int32_t defaultValue) JB2_NOEXCEPT;
JB2_EXPORT void FreeParameters(long nRecords, PARAMETER* records) JB2_NOEXCEPT;

// Where a keyword is read: bits of PARAMETER_KEYWORD.lSections.
enum { PARAMETER_GENERIC = 1, PARAMETER_TEXT = 2, PARAMETER_HALFTONE = 4, PARAMETER_PAGE = 8 };

// One keyword of the parameter language as the encoder reads it. A name may
// have several entries, one per kind of section that reads it differently.
typedef struct PARAMETER_KEYWORD {
  const char* pszName;
  uint32_t lSections;      // PARAMETER_* bits
  int32_t lDefault;
  int32_t lMin;            // the values with a meaning of their own
  int32_t lMax;
  const char* pszMeaning;  // one short line
} PARAMETER_KEYWORD;

// The keyword table, in the order the help text lists it.
JB2_EXPORT const PARAMETER_KEYWORD* GetParameterKeywords(long* count) JB2_NOEXCEPT;

// Receives the findings of CheckParameters: bError 1 for a refusal, 0 for a
// warning; `text` holds no line end.
typedef void (*PARAMETER_REPORT)(void* user, int bError, const char* text);

// Reviews parsed sections before coding and reports, through `report` (may
// be null), every token and keyword that nothing reads (with the nearest
// known keyword), malformed co-ordinates, values that are reduced or clamped
// (the records then hold the value used), and values that cannot make a
// conformant file. `words` (may be null) are the words the records were
// parsed from. Returns 0 when the sections can be coded, 1 when they must be
// refused. Transcode runs the same review silently.
JB2_EXPORT int CheckParameters(long nWords, char** words, PARAMETER* records, long nRecords,
                               PARAMETER_REPORT report, void* user) JB2_NOEXCEPT;

// Codes images[0] with the given sections into fileName. Returns 0 when the
// file was written, 1 when it could not be (an error was printed), 2 when
// CheckParameters refuses the sections (nothing is written).
JB2_EXPORT int Transcode(BMP* images, long nImages, PARAMETER* sections, long nSections,
                         const char* fileName) JB2_NOEXCEPT;

// Advice for a section whose mode common JBIG2 readers (jbig2dec, poppler,
// pdf.js) mis-read although the file is conformant: writes into `text` (at
// most `size` bytes with the terminator) what they mis-read and the words of
// a mode that codes the same page losslessly for all of them, and returns 1.
// Returns 0, with `text` empty, for a portable section. Prints nothing.
JB2_EXPORT int PortabilityAdvice(PARAMETER* section, char* text, unsigned long size) JB2_NOEXCEPT;

JB2_EXTERN_C_END
