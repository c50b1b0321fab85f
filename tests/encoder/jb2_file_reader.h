// A small reader of the files the encoder writes, for the encoder tests:
// file header, segment headers in either organisation, and segment data.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

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

// Named apart from the decoder tests' ParsedFile: both live in one test binary.
struct WrittenFile {
  bool ok = false;
  bool sequential = false;
  uint32_t pages = 0;
  std::vector<ParsedSegment> segments;
};

inline uint32_t Be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// Parses one segment header at bytes[*pos], advancing *pos. False when the
// bytes end early.
inline bool ParseSegmentHeader(const std::vector<uint8_t>& bytes, size_t* pos, ParsedSegment* seg,
                               uint32_t* dataLength) {
  size_t p = *pos;
  auto need = [&](size_t n) { return n <= bytes.size() - p; };
  if (!need(6)) return false;
  seg->number = Be32(&bytes[p]);
  uint8_t flags = bytes[p + 4];
  seg->type = flags & 0x3F;
  seg->pageSize4 = (flags & 0x40) != 0;
  p += 5;
  uint32_t count = bytes[p] >> 5;
  if (count <= 4) {
    seg->retain = bytes[p] & 1;
    for (uint32_t i = 0; i < count; ++i) seg->referredRetain.push_back((bytes[p] >> (i + 1)) & 1);
    p += 1;
  } else {
    if (!need(4)) return false;
    count = Be32(&bytes[p]) & 0x1FFFFFFF;
    p += 4;
    size_t nBytes = (count + 8) / 8;
    if (!need(nBytes)) return false;
    seg->retain = bytes[p] & 1;
    for (uint32_t i = 1; i <= count; ++i) seg->referredRetain.push_back((bytes[p + i / 8] >> (i % 8)) & 1);
    p += nBytes;
  }
  size_t width = seg->number <= 256 ? 1 : seg->number <= 65536 ? 2 : 4;
  if (!need(count * width)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t v = 0;
    for (size_t k = 0; k < width; ++k) v = v << 8 | bytes[p++];
    seg->referred.push_back(v);
  }
  size_t pageWidth = seg->pageSize4 ? 4 : 1;
  if (!need(pageWidth + 4)) return false;
  seg->page = pageWidth == 4 ? Be32(&bytes[p]) : bytes[p];
  p += pageWidth;
  *dataLength = Be32(&bytes[p]);
  p += 4;
  seg->header.assign(bytes.begin() + static_cast<long>(*pos), bytes.begin() + static_cast<long>(p));
  *pos = p;
  return true;
}

// Parses a whole file; segments are read until the end-of-file segment.
inline WrittenFile ParseJb2(const std::vector<uint8_t>& bytes) {
  WrittenFile file;
  if (bytes.size() < 13) return file;
  file.sequential = bytes[8] & 1;
  file.pages = Be32(&bytes[9]);
  size_t pos = 13;
  std::vector<uint32_t> lengths;
  while (pos < bytes.size()) {
    ParsedSegment seg;
    uint32_t length = 0;
    if (!ParseSegmentHeader(bytes, &pos, &seg, &length)) return file;
    if (file.sequential) {
      if (length > bytes.size() - pos) return file;
      seg.data.assign(bytes.begin() + static_cast<long>(pos), bytes.begin() + static_cast<long>(pos + length));
      pos += length;
    }
    lengths.push_back(length);
    file.segments.push_back(seg);
    if (seg.type == 51) break;
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

}  // namespace jb2test

#include <initializer_list>
#include <utility>

#include "encoder/transclib.h"

namespace jb2test {

// Owns the keyword storage of hand-built PARAMETER records.
class Sections {
 public:
  using Keys = std::vector<std::pair<const char*, int32_t>>;
  // Appends a section of `type` over (x0, y0, x1, y1) with the given keywords.
  Sections& Add(int32_t type, int32_t x0, int32_t y0, int32_t x1, int32_t y1, const Keys& keys = {}) {
    PARAMETER p{};
    p.lPage = 1;
    p.lType = type;
    p.lX0 = x0;
    p.lY0 = y0;
    p.lX1 = x1;
    p.lY1 = y1;
    auto& names = names_.emplace_back();
    auto& values = values_.emplace_back();
    for (auto& [name, value] : keys) {
      names.push_back(const_cast<char*>(name));
      values.push_back(value);
    }
    p.nKeys = static_cast<uint32_t>(names.size());
    records_.push_back(p);
    return *this;
  }
  Sections& Add(const Keys& keys = {}) { return Add(0, 0, 0, 0, 0, keys); }
  // Appends a keyword to the last section.
  Sections& AddKey(const char* name, int32_t value) {
    names_.back().push_back(const_cast<char*>(name));
    values_.back().push_back(value);
    records_.back().nKeys = static_cast<uint32_t>(names_.back().size());
    return *this;
  }
  // Whether the last section sets `name`.
  bool LastHasKey(const char* name) const {
    for (const char* k : names_.back())
      if (std::string(k) == name) return true;
    return false;
  }
  // The sections as transc words, e.g. "sr:huff:soft=0 gr:(0,0,50,20)".
  std::string Words() const {
    static const char* const kTypes[] = {"gr", "sr", "ht"};
    // Keywords that are switches read better bare when on.
    static const std::string kSwitches = " huff direct tpdon tpron mmr refdict allrefdict sequential invert "
                                         "transposed skip defpixel soft sbrefine ";
    std::string words;
    for (size_t i = 0; i < records_.size(); ++i) {
      const PARAMETER& p = records_[i];
      std::string word = p.lType >= 0 && p.lType <= 2 ? kTypes[p.lType] : "gr";
      if (p.lX0 || p.lY0 || p.lX1 || p.lY1) {
        word += ":(";
        word += std::to_string(p.lX0) + "," + std::to_string(p.lY0) + "," + std::to_string(p.lX1) + "," +
                std::to_string(p.lY1) + ")";
      }
      for (size_t k = 0; k < names_[i].size(); ++k) {
        const std::string name = names_[i][k];
        word += ":" + name;
        if (values_[i][k] != 1 || kSwitches.find(" " + name + " ") == std::string::npos)
          word.append("=").append(std::to_string(values_[i][k]));
      }
      words += (words.empty() ? "" : " ") + word;
    }
    return words;
  }
  // The records, with their arrays pointing into this object.
  PARAMETER* data() {
    for (size_t i = 0; i < records_.size(); ++i) {
      records_[i].ppszKeys = names_[i].data();
      records_[i].plValues = values_[i].data();
    }
    return records_.data();
  }
  long size() const { return static_cast<long>(records_.size()); }

 private:
  std::vector<PARAMETER> records_;
  std::vector<std::vector<char*>> names_;
  std::vector<std::vector<int32_t>> values_;
};

// Decodes the only page of a file with our decoder into *page (the caller
// destroys it), its messages into *err; false when the file does not hold
// exactly one page.
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
