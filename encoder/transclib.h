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

// Codes images[0] with the given sections into fileName. Returns 0 when the
// file was written, non-zero when it could not be (an error was printed).
JB2_EXPORT int Transcode(BMP* images, long nImages, PARAMETER* sections, long nSections,
                         const char* fileName) JB2_NOEXCEPT;

// Advice for a section whose mode common JBIG2 readers (jbig2dec, poppler,
// pdf.js) mis-read although the file is conformant: writes into `text` (at
// most `size` bytes with the terminator) what they mis-read and the words of
// a mode that codes the same page losslessly for all of them, and returns 1.
// Returns 0, with `text` empty, for a portable section. Prints nothing.
JB2_EXPORT int PortabilityAdvice(PARAMETER* section, char* text, unsigned long size) JB2_NOEXCEPT;

JB2_EXTERN_C_END
