// The segment writer: each segment's data is written into the run's bit
// writer, then copied out together with its header (T.88 7.2) into the run's
// segment tables; AssembleFile makes the file of them (T.88 Annex D).
#pragma once

#include <cstdint>
#include <vector>

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

// The segments of one run, indexed by segment number, filed as they are
// finished: each one's data and header bytes. Every run (and every thread)
// has its own; they live in the run's ENCODE_STATE beside the ENCODER that
// fills them, which is how the functions below find them.
typedef struct SEGMENT_TABLES {
  unsigned char** pData;
  uint32_t* lSizeData;
  unsigned char** pHeader;
  uint32_t* lSizeHeader;
  uint32_t nSegments;  // segments filed; the next one is numbered lFirstNumber + nSegments
  uint32_t lFirstNumber;  // the number of the first segment filed (0 for a whole file)
  uint32_t lPage;      // page association of the segments FinishSegmentBasic/RefPrev finish
  uint32_t nCapacity;  // entries allocated in each table
  uint32_t bFailed;    // an allocation failed: the run cannot be written
} SEGMENT_TABLES;

// `enc` is the Encoder of an ENCODE_STATE throughout.
SEGMENT_TABLES* SegmentTables(ENCODER* enc);
uint32_t NextSegmentNumber(ENCODER* enc);

void StartSegment(ENCODER* enc);
void FinishSegment(ENCODER* enc, const SEGMENT_INFO* info);
void FinishSegmentBasic(ENCODER* enc, uint32_t type, uint32_t retain);
void FinishSegmentRefPrev(ENCODER* enc, uint32_t type, uint32_t retain);
void EncodeComment(ENCODER* enc, const char* const* names, const char* const* values, uint32_t n);

// The kFileHeaderSize bytes of a file header (T.88 7.4) with the number of
// pages.
void FileHeader(int sequential, uint32_t pages, unsigned char* header);

// The file header (with the number of pages) and every filed segment
// (sequential or random-access organisation) appended to *out. False, with *out as it was, when an
// allocation failed during the run or now.
[[nodiscard]] bool AssembleFile(ENCODER* enc, int sequential, uint32_t pages, std::vector<unsigned char>* out);

// Writes `bytes` to fileName. The file appears under its name only when it
// was written completely; on failure an error is printed, no file of that
// name is left behind, and the result is false.
[[nodiscard]] bool WriteWholeFile(const char* fileName, const std::vector<unsigned char>& bytes);

// Bytes, headers included, of the segments numbered `first` and after.
uint64_t SegmentBytesFrom(ENCODER* enc, uint32_t first);
// Drops the segments numbered `first` and after, which nothing kept may
// refer to; the next segment finished is numbered `first`.
void DiscardSegmentsFrom(ENCODER* enc, uint32_t first);

// Drops the segments numbered [first, end) and numbers the ones after them
// on from `first`, as AppendRenumbered does: nothing kept may refer to a
// dropped segment. An allocation failure fails the run.
void DropSegments(ENCODER* enc, uint32_t first, uint32_t end);

// Moves the segments of `page` (a page coded on its own, numbered from
// page->lFirstNumber) to the end of the tables of `enc`, numbered on from
// there: headers are written again with the new numbers, and references to
// segments of `page` follow them (references below page->lFirstNumber, such
// as to a dictionary of no page, stay). False when an allocation failed.
[[nodiscard]] bool AppendRenumbered(ENCODER* enc, SEGMENT_TABLES* page);

// Numbers a page coded on its own starts from: above any file's segments, so
// that its references to them and to its own segments stay apart.
inline constexpr uint32_t kLocalSegmentNumbers = 0x40000000;

// Frees every filed block and the tables: the end of a run.
void FreeSegmentTables(SEGMENT_TABLES* tables);
