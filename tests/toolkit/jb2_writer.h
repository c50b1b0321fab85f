// The test toolkit's writer: JBIG2 files put together byte by byte (file
// header, segment headers in every form, both organisations, and the fixed
// data parts), for decoder tests that need files no encoder writes.
#pragma once

#include <cstdint>
#include <vector>

#include "common/segment_header.h"

namespace jb2test {

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
  for (uint32_t r : s.refs)
    for (int k = static_cast<int>(ReferredNumberSize(s.number)) - 1; k >= 0; --k) out.push_back(static_cast<uint8_t>(r >> (8 * k)));
  if (s.widePage) PutU32(out, s.page);
  else out.push_back(static_cast<uint8_t>(s.page));
  PutU32(out, s.unknownLength ? 0xFFFFFFFFu : static_cast<uint32_t>(s.data.size()));
  return out;
}

inline std::vector<uint8_t> FileBytes(const std::vector<TestSegment>& segs, bool sequential, uint32_t pages = 1) {
  std::vector<uint8_t> out(kFileIdString, kFileIdString + kFileIdLength);
  out.push_back(sequential ? kFileFlagSequential : 0);
  PutU32(out, pages);
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

}  // namespace jb2test
