// Segment headers (T.88 7.2), the comment extension (T.88 7.4.14) and the
// file organisations of T.88 Annex D.
#include "encoder/segment_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/messages.h"
#include "common/segment_header.h"

unsigned char** pDataSegment = nullptr;
uint32_t* lSizeDataSegment = nullptr;
unsigned char** pHeaderSegment = nullptr;
uint32_t* lSizeHeaderSegment = nullptr;
uint32_t numSegments = 0;

namespace {

uint32_t gSegmentCapacity = 0;  // entries allocated in each of the four tables

template <typename T>
void GrowTable(T** table, uint32_t capacity) {
  *table = static_cast<T*>(std::realloc(*table, sizeof(T) * capacity));
}

// Makes room for the entry numSegments.
void ReserveSegment() {
  if (numSegments < gSegmentCapacity) return;
  uint32_t capacity = gSegmentCapacity == 0 ? 64 : gSegmentCapacity * 2;
  GrowTable(&pDataSegment, capacity);
  GrowTable(&lSizeDataSegment, capacity);
  GrowTable(&pHeaderSegment, capacity);
  GrowTable(&lSizeHeaderSegment, capacity);
  gSegmentCapacity = capacity;
}

void FreeSegmentBlocks() {
  for (uint32_t i = 0; i < numSegments; ++i) {
    std::free(pDataSegment[i]);
    std::free(pHeaderSegment[i]);
    pDataSegment[i] = pHeaderSegment[i] = nullptr;
  }
}

void WriteHeaderFields(ENCODER* enc, const SEGMENT_INFO* info, uint32_t dataLength) {
  uint32_t nReferred = info->nReferred;
  EncodeBits(enc, numSegments, 32);
  EncodeBits(enc, (info->lType & kSegFlagTypeMask) | (info->lPage > 255 ? kSegFlagPageSize4 : 0) |
                      (info->bDeferredNonRetain ? kSegFlagDeferredNonRetain : 0),
             8);
  if (nReferred <= kMaxShortReferredCount) {
    uint32_t byte = (info->bRetain ? 1 : 0) | (nReferred << 5);
    for (uint32_t i = 0; i < nReferred; ++i) byte |= (info->abReferredRetain[i] ? 1u : 0u) << (i + 1);
    EncodeBits(enc, byte, 8);
  } else {
    EncodeBits(enc, (kLongReferredFormTag << 29) | nReferred, 32);
    // Retention bits, eight to a byte, bit 0 first: this segment, then each
    // referred-to segment.
    uint32_t nBytes = (nReferred + 1 + 7) / 8;
    for (uint32_t b = 0; b < nBytes; ++b) {
      uint32_t byte = 0;
      for (uint32_t bit = 0; bit < 8; ++bit) {
        uint32_t k = b * 8 + bit;
        uint32_t set = k == 0 ? info->bRetain : k <= nReferred ? info->abReferredRetain[k - 1] : 0;
        if (set) byte |= 1u << bit;
      }
      EncodeBits(enc, byte, 8);
    }
  }
  int width = static_cast<int>(ReferredNumberSize(numSegments)) * 8;
  for (uint32_t i = 0; i < nReferred; ++i) EncodeBits(enc, info->alReferred[i], width);
  EncodeBits(enc, info->lPage, info->lPage > 255 ? 32 : 8);
  EncodeBits(enc, dataLength, 32);
}

// Writes n bytes, reporting whether all of them reached the stream.
[[nodiscard]] bool WriteBytes(std::FILE* file, const unsigned char* bytes, uint32_t n) {
  return n == 0 || std::fwrite(bytes, 1, n, file) == n;
}

[[nodiscard]] bool WriteSegments(std::FILE* file, int sequential) {
  unsigned char header[kFileHeaderSize];
  std::memcpy(header, kFileIdString, kFileIdLength);
  header[8] = sequential ? kFileFlagSequential : 0;
  header[9] = header[10] = header[11] = 0;
  header[12] = 1;  // one page
  if (!WriteBytes(file, header, kFileHeaderSize)) return false;
  if (sequential) {
    for (uint32_t i = 0; i < numSegments; ++i)
      if (!WriteBytes(file, pHeaderSegment[i], lSizeHeaderSegment[i]) ||
          !WriteBytes(file, pDataSegment[i], lSizeDataSegment[i]))
        return false;
    return true;
  }
  for (uint32_t i = 0; i < numSegments; ++i)
    if (!WriteBytes(file, pHeaderSegment[i], lSizeHeaderSegment[i])) return false;
  for (uint32_t i = 0; i < numSegments; ++i)
    if (!WriteBytes(file, pDataSegment[i], lSizeDataSegment[i])) return false;
  return true;
}

// Creates a new file beside fileName that no one else is using; its name is
// returned in tempName.
std::FILE* CreateTempFile(const char* fileName, std::string* tempName) {
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    *tempName = std::string(fileName) + ".part" + std::to_string(attempt);
    std::FILE* file = std::fopen(tempName->c_str(), "wbx");
    if (file) return file;
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

void ReportWriteFailure(const char* what, const char* fileName) {
  std::string message = std::string(what) + " " + fileName;
  if (errno != 0) message += std::string(" (") + std::strerror(errno) + ")";
  PrintError(message.c_str());
}

}  // namespace

void StartSegment(ENCODER* enc) { InitEncoder(enc); }

void FinishSegment(ENCODER* enc, const SEGMENT_INFO* info) {
  if (info->nReferred > kMaxWrittenReferredSegments) {
    PrintError("Too Many Referred-To Segments");
    return;
  }
  ReserveSegment();
  uint32_t dataLength = enc->lSize;
  WriteMem(enc->pBuffer, dataLength, &pDataSegment[numSegments]);
  lSizeDataSegment[numSegments] = dataLength;

  StartSegment(enc);
  WriteHeaderFields(enc, info, dataLength);
  WriteMem(enc->pBuffer, enc->lSize, &pHeaderSegment[numSegments]);
  lSizeHeaderSegment[numSegments] = enc->lSize;
  ++numSegments;
}

namespace {
// A header on page 1 with no referred-to segments.
void SetBasicInfo(SEGMENT_INFO* info, uint32_t type, uint32_t retain) {
  info->lType = type;
  info->lPage = 1;
  info->bDeferredNonRetain = 0;
  info->bRetain = retain;
  info->nReferred = 0;
}
}  // namespace

void FinishSegmentBasic(ENCODER* enc, uint32_t type, uint32_t retain) {
  SEGMENT_INFO info;
  SetBasicInfo(&info, type, retain);
  FinishSegment(enc, &info);
}

void FinishSegmentRefPrev(ENCODER* enc, uint32_t type, uint32_t retain) {
  SEGMENT_INFO info;
  SetBasicInfo(&info, type, retain);
  info.nReferred = 1;
  info.alReferred[0] = numSegments - 1;
  info.abReferredRetain[0] = 0;
  FinishSegment(enc, &info);
}

void WriteMem(const unsigned char* src, uint32_t n, unsigned char** dst) {
  *dst = static_cast<unsigned char*>(std::malloc(n == 0 ? 1 : n));
  if (n != 0) std::memcpy(*dst, src, n);
}

void EncodeComment(ENCODER* enc, const char* const* names, const char* const* values, uint32_t n) {
  EncodeBits(enc, kExtensionComment, 32);
  for (uint32_t i = 0; i < n; ++i) {
    for (const char* s : {names[i], values[i]}) {
      for (; *s; ++s) EncodeBits(enc, static_cast<unsigned char>(*s), 8);
      EncodeBits(enc, 0, 8);
    }
  }
  EncodeBits(enc, 0, 8);  // an empty name ends the list
  EncodeFlush(enc);
}

bool WriteFile(const char* fileName, int sequential) {
  // The file is written under a temporary name in the same directory and
  // renamed when complete, so a failed run never leaves a truncated file.
  errno = 0;
  std::string tempName;
  std::FILE* file = CreateTempFile(fileName, &tempName);
  bool ok = file != nullptr;
  if (!ok) {
    ReportWriteFailure("Cannot Create Output File", fileName);
  } else {
    bool written = WriteSegments(file, sequential);
    written = std::fflush(file) == 0 && written;
    written = std::fclose(file) == 0 && written;
    if (written && std::rename(tempName.c_str(), fileName) == 0) {
      ok = true;
    } else {
      ReportWriteFailure("Cannot Write Output File", fileName);
      std::remove(tempName.c_str());
      ok = false;
    }
  }
  FreeSegmentBlocks();
  return ok;
}

uint64_t SegmentBytesFrom(uint32_t first) {
  uint64_t total = 0;
  for (uint32_t i = first; i < numSegments; ++i) total += uint64_t{lSizeDataSegment[i]} + lSizeHeaderSegment[i];
  return total;
}

void DiscardSegmentsFrom(uint32_t first) {
  for (uint32_t i = first; i < numSegments; ++i) {
    std::free(pDataSegment[i]);
    std::free(pHeaderSegment[i]);
    pDataSegment[i] = pHeaderSegment[i] = nullptr;
  }
  if (first < numSegments) numSegments = first;
}

void ResetSegmentTables() {
  FreeSegmentBlocks();
  std::free(pDataSegment);
  std::free(lSizeDataSegment);
  std::free(pHeaderSegment);
  std::free(lSizeHeaderSegment);
  pDataSegment = pHeaderSegment = nullptr;
  lSizeDataSegment = lSizeHeaderSegment = nullptr;
  gSegmentCapacity = 0;
  numSegments = 0;
}
