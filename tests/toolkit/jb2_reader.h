// The test toolkit's reader: the segments of a file as written, read with
// the library's own segment header reader, and the decoder run over a file
// in memory.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/limits.h"
#include "common/segment_header.h"
#include "decoder/untransclib.h"

namespace jb2test {

struct ParsedSegment {
  uint32_t number = 0;
  uint32_t type = 0;
  bool pageSize4 = false;
  bool retain = false;
  std::vector<uint32_t> referred;
  std::vector<bool> referredRetain;
  uint32_t page = 0;
  std::vector<uint8_t> header;  // the header bytes as written
  std::vector<uint8_t> data;
};

// A file as its writer laid it out (ParsedFile below is the decoder's view).
struct WrittenFile {
  bool ok = false;
  bool sequential = false;
  uint32_t pages = 0;
  std::vector<ParsedSegment> segments;
};

inline uint32_t Be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// Parses a whole file; segments are read until the end-of-file segment.
inline WrittenFile ParseJb2(const std::vector<uint8_t>& bytes) {
  WrittenFile file;
  if (bytes.size() < kFileHeaderSize) return file;
  file.sequential = bytes[kFileIdLength] & kFileFlagSequential;
  file.pages = Be32(&bytes[kFileIdLength + 1]);
  size_t pos = kFileHeaderSize;
  std::vector<uint32_t> lengths;
  while (pos < bytes.size()) {
    SegmentHeaderFields h;
    if (ReadSegmentHeaderFields(bytes.data() + pos, bytes.size() - pos, &h) != SegmentHeaderStatus::kOk) return file;
    ParsedSegment seg;
    seg.number = h.number;
    seg.type = h.Type();
    seg.pageSize4 = h.PageSize4();
    seg.retain = h.Retain();
    for (uint32_t j = 0; j < h.referredCount; ++j) {
      seg.referred.push_back(h.Referred(j));
      seg.referredRetain.push_back(h.ReferredRetain(j));
    }
    seg.page = h.page;
    seg.header.assign(bytes.begin() + static_cast<long>(pos), bytes.begin() + static_cast<long>(pos + h.size));
    pos += h.size;
    if (file.sequential) {
      if (h.dataLength > bytes.size() - pos) return file;
      seg.data.assign(bytes.begin() + static_cast<long>(pos), bytes.begin() + static_cast<long>(pos + h.dataLength));
      pos += h.dataLength;
    }
    lengths.push_back(h.dataLength);
    file.segments.push_back(seg);
    if (seg.type == kSegEndOfFile) break;
  }
  if (!file.sequential) {
    for (size_t i = 0; i < file.segments.size(); ++i) {
      if (lengths[i] > bytes.size() - pos) return file;
      file.segments[i].data.assign(bytes.begin() + static_cast<long>(pos),
                                   bytes.begin() + static_cast<long>(pos + lengths[i]));
      pos += lengths[i];
    }
  }
  file.ok = pos == bytes.size();
  return file;
}

// Owns a file's bytes and its parsed records; Decode() renders every page.
class ParsedFile {
 public:
  explicit ParsedFile(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
    std::memset(&file_, 0, sizeof file_);
    file_.pFileData = bytes_.data();
    file_.lFileSize = bytes_.size();
    status_ = JB2ParseFile(&file_);
  }
  ~ParsedFile() {
    for (uint32_t i = 0; i < file_.nPages; ++i) DestroyBMP(&file_.pPages[i].Bitmap);
    if (status_ == 0) JB2FreeFile(&file_);
  }
  ParsedFile(const ParsedFile&) = delete;
  ParsedFile& operator=(const ParsedFile&) = delete;

  // Pages and regions above maxPixels are not decoded.
  void Decode(uint64_t maxPixels = kMaxBitmapPixels) {
    file_.lMaxBitmapPixels = maxPixels;
    UntranscodeGlobal(&file_);
    for (uint32_t i = 0; i < file_.nPages; ++i) {
      JB2PAGE* page = &file_.pPages[i];
      // As the program does: pages above the page limits or the pixel cap
      // are not decoded.
      uint64_t rows = page->Info.lHeight == 0xFFFFFFFFu ? 1 : page->Info.lHeight;
      if (!PageSizeAccepted(page->Info.lWidth, page->Info.lHeight)) continue;
      if (rows != 0 && page->Info.lWidth > maxPixels / rows) continue;
      CreateBMP(&page->Bitmap, page->Info.lWidth, page->Info.lHeight, static_cast<int>(page->Info.lDefaultPixel));
      UntranscodePage(page);
    }
  }
  int status() const { return status_; }
  JB2FILE& file() { return file_; }
  SEGMENT_HEADER& seg(uint32_t i) { return file_.pSegments[i]; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  JB2FILE file_;
  int status_ = 1;
};

// Decodes the only page of `bytes` into `page` (the caller destroys it),
// with the decoder's messages in `err`; false when the file has not exactly
// one page.
inline bool DecodeOnlyPage(const std::vector<uint8_t>& bytes, BMP* page, std::string* err) {
  JB2FILE file;
  std::memset(&file, 0, sizeof file);
  file.pFileData = bytes.data();
  file.lFileSize = bytes.size();
  testing::internal::CaptureStderr();
  const bool ok = JB2ParseFile(&file) == 0 && file.nPages == 1;
  if (ok) {
    UntranscodeGlobal(&file);
    JB2PAGE* p = &file.pPages[0];
    CreateBMP(&p->Bitmap, p->Info.lWidth, p->Info.lHeight, static_cast<int>(p->Info.lDefaultPixel));
    UntranscodePage(p);
    *page = p->Bitmap;
    p->Bitmap = BMP{};
  }
  *err = testing::internal::GetCapturedStderr();
  JB2FreeFile(&file);
  return ok;
}

}  // namespace jb2test
