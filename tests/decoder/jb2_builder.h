// Test helpers for the decoder: a small writer of JBIG2 files (file header,
// segment headers in both organisations) and an owner that parses and
// decodes a file in memory.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/limits.h"
#include "decoder/untransclib.h"

namespace jb2dectest {

struct TestSegment {
  uint32_t number = 0;
  uint32_t type = 0;
  uint32_t page = 1;
  std::vector<uint32_t> refs;
  std::vector<uint8_t> data;
  bool retain = false;
  bool longForm = false;      // force the long referred-to count form
  bool widePage = false;      // 4-byte page association
  bool unknownLength = false; // write 0xFFFFFFFF as the data length
};

// A segment of page 1.
inline TestSegment Seg(uint32_t number, uint32_t type, std::vector<uint8_t> data, std::vector<uint32_t> refs = {}) {
  TestSegment s;
  s.number = number;
  s.type = type;
  s.refs = std::move(refs);
  s.data = std::move(data);
  return s;
}

inline void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}
inline void PutU16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

inline std::vector<uint8_t> SegmentHeaderBytes(const TestSegment& s) {
  std::vector<uint8_t> out;
  PutU32(out, s.number);
  out.push_back(static_cast<uint8_t>(s.type | (s.widePage ? 0x40 : 0)));
  uint32_t n = static_cast<uint32_t>(s.refs.size());
  if (n <= 4 && !s.longForm) {
    out.push_back(static_cast<uint8_t>((n << 5) | (s.retain ? 1 : 0)));
  } else {
    PutU32(out, 0xE0000000u | n);
    std::vector<uint8_t> bits((n + 8) / 8, 0);
    if (s.retain) bits[0] |= 1;
    for (uint32_t j = 0; j < n; ++j)
      if (j % 2 == 0) bits[(j + 1) / 8] |= static_cast<uint8_t>(1u << ((j + 1) % 8));  // alternate retain bits
    out.insert(out.end(), bits.begin(), bits.end());
  }
  for (uint32_t r : s.refs) {
    if (s.number <= 256) out.push_back(static_cast<uint8_t>(r));
    else if (s.number <= 65536) PutU16(out, r);
    else PutU32(out, r);
  }
  if (s.widePage) PutU32(out, s.page);
  else out.push_back(static_cast<uint8_t>(s.page));
  PutU32(out, s.unknownLength ? 0xFFFFFFFFu : static_cast<uint32_t>(s.data.size()));
  return out;
}

inline std::vector<uint8_t> FileBytes(const std::vector<TestSegment>& segs, bool sequential) {
  std::vector<uint8_t> out = {0x97, 0x4A, 0x42, 0x32, 0x0D, 0x0A, 0x1A, 0x0A};
  out.push_back(sequential ? 1 : 0);
  PutU32(out, 1);
  for (const TestSegment& s : segs) {
    auto h = SegmentHeaderBytes(s);
    out.insert(out.end(), h.begin(), h.end());
    if (sequential) out.insert(out.end(), s.data.begin(), s.data.end());
  }
  if (!sequential)
    for (const TestSegment& s : segs) out.insert(out.end(), s.data.begin(), s.data.end());
  return out;
}

// Page information data (19 bytes).
inline std::vector<uint8_t> PageInfoData(uint32_t width, uint32_t height, uint8_t flags, uint16_t striping = 0) {
  std::vector<uint8_t> out;
  PutU32(out, width);
  PutU32(out, height);
  PutU32(out, 0);
  PutU32(out, 0);
  out.push_back(flags);
  PutU16(out, striping);
  return out;
}

// Region segment information (17 bytes).
inline std::vector<uint8_t> RegionInfoData(uint32_t w, uint32_t h, uint32_t x, uint32_t y, uint8_t op) {
  std::vector<uint8_t> out;
  PutU32(out, w);
  PutU32(out, h);
  PutU32(out, x);
  PutU32(out, y);
  out.push_back(op);
  return out;
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

}  // namespace jb2dectest
