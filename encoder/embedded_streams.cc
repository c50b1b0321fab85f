#include "encoder/embedded_streams.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <span>
#include <vector>

#include "common/segment_header.h"

namespace jb2pdf {

namespace {

// Reads big-endian fields off the front of a byte range; `ok` turns false
// (and stays so) once a read would pass its end.
class Cursor {
 public:
  explicit Cursor(std::span<const unsigned char> bytes) : bytes_(bytes) {}
  uint32_t Read(size_t n) {
    if (!ok || n > bytes_.size() - pos_) {
      ok = false;
      return 0;
    }
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i) v = v << 8 | bytes_[pos_ + i];
    pos_ += n;
    return v;
  }
  void Skip(size_t n) {
    if (!ok || n > bytes_.size() - pos_) ok = false;
    else pos_ += n;
  }
  size_t pos() const { return pos_; }
  bool AtEnd() const { return pos_ >= bytes_.size(); }
  bool ok = true;

 private:
  std::span<const unsigned char> bytes_;
  size_t pos_ = 0;
};

struct Segment {
  uint32_t type = 0, page = 0, dataLength = 0;
  std::string header;  // rewritten with page association 1 for page segments
  size_t dataStart = 0;
};

// Reads one segment header (T.88 7.2) and rewrites it for its stream.
bool ReadHeader(Cursor& in, std::span<const unsigned char> bytes, Segment* seg) {
  const size_t start = in.pos();
  SegmentHeaderFields h;
  if (ReadSegmentHeaderFields(bytes.data() + start, bytes.size() - start, &h) != SegmentHeaderStatus::kOk ||
      h.dataLength == kUnknownDataLength)
    return false;
  in.Skip(h.size);
  seg->type = h.Type();
  seg->page = h.page;
  seg->dataLength = h.dataLength;
  const auto text = [&](size_t from, size_t to) { return std::string(bytes.begin() + from, bytes.begin() + to); };
  const size_t end = start + h.size;
  if (seg->page == 0) {
    seg->header = text(start, end);
    return true;
  }
  // Page association 1, in its one-byte form.
  const size_t pageStart = start + h.pageOffset;
  seg->header = text(start, start + 4);
  seg->header += static_cast<char>(h.flags & ~kSegFlagPageSize4);
  seg->header += text(start + 5, pageStart);
  seg->header += '\x01';
  seg->header += text(pageStart + (h.PageSize4() ? 4 : 1), end);
  return true;
}

}  // namespace

bool SplitFile(const unsigned char* data, size_t size, EmbeddedDocument* out) {
  *out = EmbeddedDocument{};
  const std::span<const unsigned char> bytes(data, size);
  Cursor in(bytes);
  if (size < kFileIdLength + 1 || std::memcmp(data, kFileIdString, kFileIdLength) != 0) return false;
  in.Skip(kFileIdLength);
  const uint32_t fileFlags = in.Read(1);
  if (!(fileFlags & kFileFlagPagesUnknown)) in.Skip(4);
  const bool sequential = (fileFlags & kFileFlagSequential) != 0;
  std::vector<Segment> segments;
  while (in.ok && !in.AtEnd()) {
    Segment seg;
    if (!ReadHeader(in, bytes, &seg)) return false;
    if (sequential) {
      seg.dataStart = in.pos();
      in.Skip(seg.dataLength);
    }
    const bool endOfFile = seg.type == kSegEndOfFile;
    segments.push_back(seg);
    if (endOfFile) break;
  }
  if (!sequential) {  // random access: the data follows all the headers, in order
    for (Segment& seg : segments) {
      seg.dataStart = in.pos();
      in.Skip(seg.dataLength);
    }
  }
  if (!in.ok) return false;

  std::map<uint32_t, size_t> pageIndex;  // page number -> entry in out->pages
  std::map<uint32_t, uint32_t> stripeEnd;
  for (const Segment& seg : segments) {
    if (seg.type == kSegEndOfPage || seg.type == kSegEndOfFile) continue;
    const std::string body(bytes.begin() + seg.dataStart, bytes.begin() + seg.dataStart + seg.dataLength);
    if (seg.page == 0) {
      out->globals += seg.header + body;
      continue;
    }
    auto [it, added] = pageIndex.try_emplace(seg.page, out->pages.size());
    if (added) out->pages.emplace_back();
    Page& page = out->pages[it->second];
    if (seg.type == kSegPageInformation && body.size() >= kPageInfoSize) {
      Cursor info(std::span<const unsigned char>(bytes.data() + seg.dataStart, seg.dataLength));
      page.width = info.Read(4);
      page.height = info.Read(4);
      page.xResolution = info.Read(4);
      page.yResolution = info.Read(4);
    }
    if (seg.type == kSegEndOfStripe && body.size() >= 4) {
      Cursor row(std::span<const unsigned char>(bytes.data() + seg.dataStart, 4));
      stripeEnd[seg.page] = row.Read(4) + 1;
    }
    page.segments += seg.header + body;
  }
  // Pages of unknown height are as tall as their last end of stripe says.
  for (auto [number, index] : pageIndex) {
    Page& page = out->pages[index];
    if (page.height == kUnknownPageHeight) page.height = stripeEnd[number];
    if (page.width == 0 || page.height == 0) return false;
  }
  return true;
}

}  // namespace jb2pdf
