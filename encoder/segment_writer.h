// The segment writer: each segment's data is written into the run's bit
// writer, then copied out together with its header (T.88 7.2) into the
// process-wide segment tables; WriteFile assembles the file (T.88 Annex D).
#pragma once

#include <cstdint>

#include "common/bit_writer.h"
#include "common/limits.h"

// The description of one segment header handed to FinishSegment.
typedef struct SEGMENT_INFO {
  uint32_t lType;               // segment type
  uint32_t lPage;               // page association
  uint32_t bDeferredNonRetain;  // header flag bit 7
  uint32_t bRetain;             // retain bit of this segment
  uint32_t nReferred;           // referred-to segments, at most kMaxWrittenReferredSegments
  uint32_t alReferred[kMaxWrittenReferredSegments];
  uint8_t abReferredRetain[kMaxWrittenReferredSegments];
} SEGMENT_INFO;

// Segment tables, indexed by segment number; they grow as segments are
// finished. numSegments is also the number given to the next segment.
extern unsigned char** pDataSegment;
extern uint32_t* lSizeDataSegment;
extern unsigned char** pHeaderSegment;
extern uint32_t* lSizeHeaderSegment;
extern uint32_t numSegments;

void StartSegment(ENCODER* enc);
void FinishSegment(ENCODER* enc, const SEGMENT_INFO* info);
void FinishSegmentBasic(ENCODER* enc, uint32_t type, uint32_t retain);
void FinishSegmentRefPrev(ENCODER* enc, uint32_t type, uint32_t retain);
void WriteMem(const unsigned char* src, uint32_t n, unsigned char** dst);
void EncodeComment(ENCODER* enc, const char* const* names, const char* const* values, uint32_t n);

// Writes the file header and every filed segment to fileName (sequential or
// random-access organisation) and frees the filed blocks. The file appears
// under its name only when it was written completely; on failure an error is
// printed, no file of that name is left behind, and the result is false.
[[nodiscard]] bool WriteFile(const char* fileName, int sequential);

// Bytes, headers included, of the segments numbered `first` and after.
uint64_t SegmentBytesFrom(uint32_t first);
// Drops the segments numbered `first` and after, which nothing kept may
// refer to; the next segment finished is numbered `first`.
void DiscardSegmentsFrom(uint32_t first);

// Frees every filed block and sets numSegments to 0: the start of a run.
void ResetSegmentTables();
