// Segment headers (T.88 7.2), the comment extension (T.88 7.4.14) and the
// file organisations of T.88 Annex D.
#include "encoder/segment_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>

#include "common/messages.h"
#include "common/segment_header.h"
#include "encoder/encode_state.h"

namespace {

// Makes room for entry t->nSegments; false (and the run failed) when it
// cannot be had.
bool ReserveSegment(SEGMENT_TABLES* t) {
  if (t->bFailed) return false;
  if (t->nSegments < t->nCapacity) return true;
  const uint32_t capacity = t->nCapacity == 0 ? 64 : t->nCapacity * 2;
  auto grow = [capacity](auto** table) {
    auto* grown = static_cast<std::remove_reference_t<decltype(**table)>*>(std::realloc(*table, sizeof(**table) * capacity));
    if (grown) *table = grown;
    return grown != nullptr;
  };
  if (capacity < t->nCapacity || !grow(&t->pData) || !grow(&t->lSizeData) || !grow(&t->pHeader) ||
      !grow(&t->lSizeHeader)) {
    t->bFailed = 1;
    return false;
  }
  t->nCapacity = capacity;
  return true;
}

// A copy of n bytes, or null (and the run failed).
unsigned char* CopyBlock(SEGMENT_TABLES* t, const unsigned char* src, uint32_t n) {
  auto* block = static_cast<unsigned char*>(std::malloc(n == 0 ? 1 : n));
  if (!block) {
    t->bFailed = 1;
    return nullptr;
  }
  if (n != 0) std::memcpy(block, src, n);
  return block;
}

void FreeBlocksFrom(SEGMENT_TABLES* t, uint32_t first) {
  for (uint32_t i = first; i < t->nSegments; ++i) {
    std::free(t->pData[i]);
    std::free(t->pHeader[i]);
    t->pData[i] = t->pHeader[i] = nullptr;
  }
}

void WriteHeaderFields(ENCODER* enc, uint32_t number, const SEGMENT_INFO* info, uint32_t dataLength) {
  uint32_t nReferred = info->nReferred;
  EncodeBits(enc, number, 32);
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
  int width = static_cast<int>(ReferredNumberSize(number)) * 8;
  for (uint32_t i = 0; i < nReferred; ++i) EncodeBits(enc, info->alReferred[i], width);
  EncodeBits(enc, info->lPage, info->lPage > 255 ? 32 : 8);
  EncodeBits(enc, dataLength, 32);
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

SEGMENT_TABLES* SegmentTables(ENCODER* enc) {
  return &reinterpret_cast<ENCODE_STATE*>(reinterpret_cast<char*>(enc) - offsetof(ENCODE_STATE, Encoder))->Segments;
}

uint32_t NextSegmentNumber(ENCODER* enc) {
  const SEGMENT_TABLES* t = SegmentTables(enc);
  return t->lFirstNumber + t->nSegments;
}

void StartSegment(ENCODER* enc) { InitEncoder(enc); }

void FinishSegment(ENCODER* enc, const SEGMENT_INFO* info) {
  if (info->nReferred > kMaxWrittenReferredSegments) {
    PrintError("Too Many Referred-To Segments");
    return;
  }
  SEGMENT_TABLES* t = SegmentTables(enc);
  if (!ReserveSegment(t)) return;
  const uint32_t n = t->nSegments;
  const uint32_t dataLength = enc->lSize;
  unsigned char* data = CopyBlock(t, enc->pBuffer, dataLength);
  StartSegment(enc);
  WriteHeaderFields(enc, t->lFirstNumber + n, info, dataLength);
  unsigned char* header = CopyBlock(t, enc->pBuffer, enc->lSize);
  if (!data || !header) {
    std::free(data);
    std::free(header);
    return;
  }
  t->pData[n] = data;
  t->lSizeData[n] = dataLength;
  t->pHeader[n] = header;
  t->lSizeHeader[n] = enc->lSize;
  t->nSegments = n + 1;
}

namespace {
// A header on the run's current page with no referred-to segments.
void SetBasicInfo(SEGMENT_INFO* info, ENCODER* enc, uint32_t type, uint32_t retain) {
  info->lType = type;
  info->lPage = SegmentTables(enc)->lPage;
  info->bDeferredNonRetain = 0;
  info->bRetain = retain;
  info->nReferred = 0;
}
}  // namespace

void FinishSegmentBasic(ENCODER* enc, uint32_t type, uint32_t retain) {
  SEGMENT_INFO info;
  SetBasicInfo(&info, enc, type, retain);
  FinishSegment(enc, &info);
}

void FinishSegmentRefPrev(ENCODER* enc, uint32_t type, uint32_t retain) {
  SEGMENT_INFO info;
  SetBasicInfo(&info, enc, type, retain);
  info.nReferred = 1;
  info.alReferred[0] = NextSegmentNumber(enc) - 1;
  info.abReferredRetain[0] = 0;
  FinishSegment(enc, &info);
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

void FileHeader(int sequential, uint32_t pages, unsigned char* header) {
  std::memcpy(header, kFileIdString, kFileIdLength);
  header[8] = sequential ? kFileFlagSequential : 0;
  header[9] = static_cast<unsigned char>(pages >> 24);
  header[10] = static_cast<unsigned char>(pages >> 16);
  header[11] = static_cast<unsigned char>(pages >> 8);
  header[12] = static_cast<unsigned char>(pages);
}

bool AssembleFile(ENCODER* enc, int sequential, uint32_t pages, std::vector<unsigned char>* out) {
  const SEGMENT_TABLES* t = SegmentTables(enc);
  if (t->bFailed) return false;
  const size_t start = out->size();
  try {
    unsigned char header[kFileHeaderSize];
    FileHeader(sequential, pages, header);
    out->insert(out->end(), header, header + kFileHeaderSize);
    auto append = [out](const unsigned char* bytes, uint32_t n) { out->insert(out->end(), bytes, bytes + n); };
    for (uint32_t i = 0; i < t->nSegments; ++i) {
      append(t->pHeader[i], t->lSizeHeader[i]);
      if (sequential) append(t->pData[i], t->lSizeData[i]);
    }
    if (!sequential)
      for (uint32_t i = 0; i < t->nSegments; ++i) append(t->pData[i], t->lSizeData[i]);
  } catch (const std::bad_alloc&) {
    out->resize(start);
    return false;
  }
  return true;
}

bool WriteWholeFile(const char* fileName, const std::vector<unsigned char>& bytes) {
  // The file is written under a temporary name in the same directory and
  // renamed when complete, so a failed run never leaves a truncated file.
  errno = 0;
  std::string tempName;
  std::FILE* file = CreateTempFile(fileName, &tempName);
  if (!file) {
    ReportWriteFailure("Cannot Create Output File", fileName);
    return false;
  }
  bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  written = std::fflush(file) == 0 && written;
  written = std::fclose(file) == 0 && written;
  if (written && std::rename(tempName.c_str(), fileName) == 0) return true;
  ReportWriteFailure("Cannot Write Output File", fileName);
  std::remove(tempName.c_str());
  return false;
}

uint64_t SegmentBytesFrom(ENCODER* enc, uint32_t first) {
  const SEGMENT_TABLES* t = SegmentTables(enc);
  uint64_t total = 0;
  for (uint32_t i = first - t->lFirstNumber; i < t->nSegments; ++i)
    total += uint64_t{t->lSizeData[i]} + t->lSizeHeader[i];
  return total;
}

void DiscardSegmentsFrom(ENCODER* enc, uint32_t first) {
  SEGMENT_TABLES* t = SegmentTables(enc);
  const uint32_t index = first - t->lFirstNumber;
  FreeBlocksFrom(t, index);
  if (index < t->nSegments) t->nSegments = index;
}

namespace {

// Reads back a header this writer wrote (T.88 7.2): its referred-to
// segments and retention bits, page association and type; false when it is
// not one.
bool ReadWrittenHeader(const unsigned char* h, uint32_t size, SEGMENT_INFO* info) {
  uint32_t pos = 0;
  auto take = [&](uint32_t n) -> uint64_t {
    uint64_t v = 0;
    for (uint32_t i = 0; i < n && pos < size; ++i) v = v << 8 | h[pos++];
    return v;
  };
  if (size < 11) return false;
  const uint32_t number = static_cast<uint32_t>(take(4));
  const uint32_t flags = static_cast<uint32_t>(take(1));
  info->lType = flags & kSegFlagTypeMask;
  info->bDeferredNonRetain = (flags & kSegFlagDeferredNonRetain) != 0;
  const uint32_t first = h[pos];
  uint32_t count = first >> 5;
  if (count <= kMaxShortReferredCount) {
    pos += 1;
    info->bRetain = first & 1;
    for (uint32_t i = 0; i < count; ++i) info->abReferredRetain[i] = (first >> (i + 1)) & 1;
  } else {
    count = static_cast<uint32_t>(take(4)) & 0x1FFFFFFF;
    if (count > kMaxWrittenReferredSegments) return false;
    for (uint32_t k = 0; k <= count; ++k) {
      const uint32_t bit = (h[pos + k / 8] >> (k % 8)) & 1;
      if (k == 0) info->bRetain = bit;
      else info->abReferredRetain[k - 1] = static_cast<uint8_t>(bit);
    }
    pos += (count + 8) / 8;
  }
  info->nReferred = count;
  for (uint32_t i = 0; i < count; ++i) info->alReferred[i] = static_cast<uint32_t>(take(ReferredNumberSize(number)));
  info->lPage = static_cast<uint32_t>(take(flags & kSegFlagPageSize4 ? 4 : 1));
  return pos + 4 == size;
}

}  // namespace

bool AppendRenumbered(ENCODER* enc, SEGMENT_TABLES* page) {
  SEGMENT_TABLES* t = SegmentTables(enc);
  SEGMENT_INFO info;
  for (uint32_t i = 0; i < page->nSegments; ++i) {
    if (!ReserveSegment(t) || !ReadWrittenHeader(page->pHeader[i], page->lSizeHeader[i], &info)) return false;
    const uint32_t n = t->nSegments;
    for (uint32_t k = 0; k < info.nReferred; ++k)
      if (info.alReferred[k] >= page->lFirstNumber) info.alReferred[k] = NextSegmentNumber(enc) - i + (info.alReferred[k] - page->lFirstNumber);
    StartSegment(enc);
    WriteHeaderFields(enc, t->lFirstNumber + n, &info, page->lSizeData[i]);
    unsigned char* header = CopyBlock(t, enc->pBuffer, enc->lSize);
    if (!header) return false;
    t->pHeader[n] = header;
    t->lSizeHeader[n] = enc->lSize;
    t->pData[n] = page->pData[i];  // the data moves as it is
    t->lSizeData[n] = page->lSizeData[i];
    page->pData[i] = nullptr;
    t->nSegments = n + 1;
  }
  return true;
}

void DropSegments(ENCODER* enc, uint32_t first, uint32_t end) {
  SEGMENT_TABLES* t = SegmentTables(enc);
  // The segments after the dropped ones, as a page coded on its own.
  SEGMENT_TABLES later{};
  later.lFirstNumber = end;
  later.lPage = t->lPage;
  const uint32_t kept = end - t->lFirstNumber;
  bool ok = true;
  for (uint32_t i = kept; i < t->nSegments; ++i) {
    if (!(ok = ReserveSegment(&later))) break;
    const uint32_t n = later.nSegments++;
    later.pData[n] = t->pData[i];
    later.lSizeData[n] = t->lSizeData[i];
    later.pHeader[n] = t->pHeader[i];
    later.lSizeHeader[n] = t->lSizeHeader[i];
    t->pData[i] = t->pHeader[i] = nullptr;
  }
  FreeBlocksFrom(t, kept);  // only what could not be moved
  t->nSegments = std::min(t->nSegments, kept);
  DiscardSegmentsFrom(enc, first);
  if (!ok || !AppendRenumbered(enc, &later)) t->bFailed = 1;
  FreeSegmentTables(&later);
}

void FreeSegmentTables(SEGMENT_TABLES* t) {
  FreeBlocksFrom(t, 0);
  std::free(t->pData);
  std::free(t->lSizeData);
  std::free(t->pHeader);
  std::free(t->lSizeHeader);
  *t = SEGMENT_TABLES{};
}
