// The decoder library's exported interface: parse a whole JBIG2 file held in
// memory, decode its global segments, then each page into a bitmap.
//
// The caller owns the JB2FILE record and the file buffer: it zero-fills the
// record, sets pFileData and lFileSize, calls JB2ParseFile, UntranscodeGlobal
// once, then for each page creates pPages[i].Bitmap from pPages[i].Info and
// calls UntranscodePage, and finally JB2FreeFile.
#pragma once

#include <cstdint>

#include "common/bit_reader.h"
#include "common/bitmap.h"
#include "common/export.h"
#include "common/huffman_table.h"
#include "common/integer_coding.h"
#include "common/mmr.h"
#include "common/mq_coder.h"

JB2_EXTERN_C_BEGIN

// The decoded page information segment (T.88 7.4.8).
typedef struct PAGE_INFO {
  uint32_t lWidth;
  uint32_t lHeight;  // 0xFFFFFFFF: not known in advance (striped page)
  uint32_t lXResolution;
  uint32_t lYResolution;
  uint32_t lCombOp;          // page default combination operator
  uint32_t lMaxStripeSize;
  uint32_t bAuxBuffers;
  uint32_t bCombOpOverride;  // regions may use their own operator
  uint32_t bLossless;
  uint32_t bRefinements;
  uint32_t lDefaultPixel;
  uint32_t bStriped;
} PAGE_INFO;

// The region segment information field (T.88 7.4.1).
typedef struct REGION_INFO {
  uint32_t lWidth;
  uint32_t lHeight;
  uint32_t lX;
  uint32_t lY;
  uint32_t lCombOp;  // external combination operator, low 3 bits of the flags
} REGION_INFO;

typedef struct SEGMENT_HEADER {
  uint32_t lNumber;
  uint32_t lType;  // 0 to 63
  uint32_t lPage;  // 0: belongs to no page
  PAGE_INFO* pPageInfo;
  BMP* pPageBitmap;
  uint32_t bDeferredNonRetain;
  uint32_t bRetain;
  uint32_t lDataLength;
  const unsigned char* pDataStart;
  uint32_t bUnknownLength;
  REGION_INFO Region;
  DECODER* pInput;  // the file's Input
  BMP Bitmap;  // region image (kept for intermediate regions)
  uint32_t nPatterns;
  BMP* pPatterns;
  uint32_t lPatternWidth;
  uint32_t lPatternHeight;
  uint32_t nSymbols;
  BMP* pSymbols;
  HUFFTABLE Table;
  uint32_t nReferred;
  uint32_t* pReferredNumbers;
  uint8_t* pReferredRetain;
  uint32_t nSymbolDicts;
  struct SEGMENT_HEADER** ppSymbolDicts;
  uint32_t nTables;
  struct SEGMENT_HEADER** ppTables;
  uint32_t bHasRegionRef;
  struct SEGMENT_HEADER* pRegionRef;
  uint32_t bHasPatternDict;
  struct SEGMENT_HEADER* pPatternDict;
  uint32_t bSavedContexts;
  MQBUFFER SavedContexts[2];  // [0] generic, [1] refinement
} SEGMENT_HEADER;

struct JB2FILE;
// The decoder's own state between segments (decoder/decode_context.h).
struct JB2CONTEXT;

typedef struct JB2PAGE {
  uint32_t lPageNumber;
  uint32_t nSegments;
  SEGMENT_HEADER** ppSegments;
  BMP Bitmap;  // created and destroyed by the caller
  PAGE_INFO Info;
  struct JB2FILE* pFile;  // the file that holds the page (set by JB2ParseFile)
} JB2PAGE;

typedef struct JB2FILE {
  const unsigned char* pFileData;  // set by the caller, owned by the caller
  unsigned long lFileSize;         // set by the caller
  uint32_t nSegments;
  SEGMENT_HEADER* pSegments;
  uint32_t nPages;
  JB2PAGE* pPages;
  // The arithmetic decoder's reader between segments: each segment is
  // decoded with a reader of its own over its data, passed to its decoder.
  DECODER Input;
  MQDECODER MQ;
  MQBUFFER Contexts[2];  // [0] generic, [1] refinement; 65536 contexts each
  MQINT Integers;
  MMRTREES MMR;
  HUFFTABLE HuffStandard[kNumStandardTables];
  // Largest bitmap, in pixels, that any segment may create or a page may grow
  // to. JB2ParseFile sets it to kMaxBitmapPixels; a caller may lower it after
  // parsing (the fuzz target does, to keep runs short).
  uint64_t lMaxBitmapPixels;
  // Errors JB2ParseFile reported (a file cut short, damaged headers): its
  // pages may then be incomplete even when they decode without an error.
  uint32_t nParseErrors;
  struct JB2CONTEXT* pContext;  // created by JB2ParseFile, freed by JB2FreeFile
} JB2FILE;

// Returns 0 when the file was read (damaged parts are reported, and counted
// in nParseErrors), 1 when it is not a JBIG2 file, 2 when memory ran out
// (the record is then freed).
JB2_EXPORT int JB2ParseFile(JB2FILE* file) JB2_NOEXCEPT;
JB2_EXPORT void JB2FreeFile(JB2FILE* file) JB2_NOEXCEPT;
// Both return 0 when every segment decoded without an error, 1 when some
// segment reported one (the page may be incomplete or damaged).
JB2_EXPORT int UntranscodeGlobal(JB2FILE* file) JB2_NOEXCEPT;
JB2_EXPORT int UntranscodePage(JB2PAGE* page) JB2_NOEXCEPT;

JB2_EXTERN_C_END
