// One encoding run's shared coding state and the driver's internal entry
// points, used by every region coder of the encoder library.
#pragma once

#include <cstdint>

#include "common/bit_writer.h"
#include "common/bitmap.h"
#include "common/huffman_table.h"
#include "common/integer_coding.h"
#include "common/mq_coder.h"
#include "encoder/generic_region_encoder.h"
#include "encoder/segment_writer.h"
#include "encoder/settings.h"
#include "encoder/transclib.h"

inline constexpr unsigned long kEncoderStartCapacity = 0x80000;  // bytes of the run's bit writer
inline constexpr unsigned long kContextStoreSize = 65536;        // contexts per store (16-bit contexts)
inline constexpr unsigned long kRefinementContextStoreSize = 8192;  // refinement contexts have 13 bits

struct GLOBAL_SYMBOLS;
struct LOSSY_HOOKS;

typedef struct ENCODE_STATE {
  ENCODER Encoder;              // bit writer: every segment's data and header
  MQENCODER MQEncoder;          // writes through MQMainOut into Encoder
  MQBUFFER GenericContexts;     // generic region contexts (also dictionaries, halftones)
  MQBUFFER RefinementContexts;  // refinement region contexts
  MQINT IntContexts;            // integer coding contexts, created by the coders that use them
  HUFFTABLE aHuffStandard[kNumStandardTables];  // B.1 .. B.15
  // The operator that puts a section's regions on the page: OR, or XOR where
  // the page under the section may already hold black pixels (a black page,
  // or an earlier section's), so that each region changes only its own marks.
  uint32_t lPlaceOp;
  int64_t lLastStripeEnd;  // page row of the last end of stripe written, -1 for none
  SEGMENT_TABLES Segments;  // the segments finished so far
  // The symbols the document's pages share (global_symbols.h), coded in
  // the dictionary of segment pGlobals->lSegment; null for none.
  const GLOBAL_SYMBOLS* pGlobals;
  // The page the section being coded was copied from, when the section is
  // all of it, bit for bit (spare bits clear): it stays as it was while the
  // section's coders take the copy apart. Null otherwise.
  BMP* pSectionSource;
  // The page's resolution for lossy coding's gate (pixels per metre, the
  // smaller of the two written; 0 unknown).
  uint32_t lResolution;
  // Set when a text section of the page drew a mark as another's symbol.
  uint32_t bLossyPage;
  // Tests only (lossy_classes.h); null in every real run.
  const LOSSY_HOOKS* pLossyHooks;
} ENCODE_STATE;

// Writes the 19 data bytes of the page information segment (T.88 7.4.8);
// the resolution is the image's unless "resolution" is given.
void EncodePage(ENCODER* enc, uint32_t width, uint32_t height, const PageSettings& page, uint32_t xResolution,
                uint32_t yResolution);
// Codes one section bitmap with its settings.
void EncodeRegion(ENCODE_STATE* state, BMP* section, const SectionSettings& settings);

// One coder per section type. The text and halftone pipelines live in their
// own modules.
void EncodeGenericSection(ENCODE_STATE* state, BMP* section, const SectionSettings& settings);
// Writes the dictionary of the symbols a document's pages share, with the
// dictionary settings of `section`, and sets globals->lSegment.
void WriteGlobalDictionary(ENCODE_STATE* state, GLOBAL_SYMBOLS* globals, const SectionSettings& section);
void EncodeTextSection(ENCODE_STATE* state, BMP* section, const SectionSettings& settings);
void EncodeHalftoneSection(ENCODE_STATE* state, BMP* section, const SectionSettings& settings);
