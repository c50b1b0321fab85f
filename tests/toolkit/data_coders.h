// The test toolkit's data coders: a bit sink for Huffman-coded and plain
// fields and an arithmetic sink (MQ coder, integer coding, generic and
// refinement bitmaps) written from T.88 in the encoding direction, for the
// data parts of segments no encoder writes; and bitmaps drawn from text.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "common/huffman_table.h"
#include "common/integer_coding.h"
#include "common/mq_coder.h"
#include "decoder/untransclib.h"
#include "kernels/context_template.h"
#include "tests/mq_model.h"

namespace jb2test {

// The fifteen standard tables, for coding test data.
struct StandardTables {
  HUFFTABLE t[kNumStandardTables];
  StandardTables() { InitializeHuffStandard(t); }
  ~StandardTables() { FreeHuffStandard(t); }
  HUFFTABLE* B(int n) { return &t[n - 1]; }
};
// One set for the whole test program: the tables never change once built.
inline StandardTables& Tables() {
  static StandardTables tables;
  return tables;
}

// Bits most significant first into a byte vector.
struct BitSink {
  std::vector<uint8_t> bytes;
  int used = 8;  // bits used in the last byte
  void Bits(uint64_t value, int n) {
    for (int i = n - 1; i >= 0; --i) {
      if (used == 8) {
        bytes.push_back(0);
        used = 0;
      }
      if ((value >> i) & 1) bytes.back() |= static_cast<uint8_t>(0x80 >> used);
      ++used;
    }
  }
  void Align() { used = 8; }
  void Append(const std::vector<uint8_t>& more) {
    Align();
    bytes.insert(bytes.end(), more.begin(), more.end());
  }
  void Huff(HUFFTABLE* table, long value) {
    unsigned long code, codeLen, rangeBits, rangeLen;
    EncodeHuffNum(table, value, &code, &codeLen, &rangeBits, &rangeLen);
    Bits(code, static_cast<int>(codeLen));
    Bits(rangeBits, static_cast<int>(rangeLen));
  }
  void OOB(HUFFTABLE* table) {
    unsigned long code, codeLen;
    EncodeHuffOOB(table, &code, &codeLen);
    Bits(code, static_cast<int>(codeLen));
  }
};

// One MQ code stream with the integer procedures and both context stores.
struct ArithSink {
  std::vector<uint8_t> out;
  MQENCODER enc{};
  MQINT ints{};
  MQBUFFER generic{}, refine{};
  explicit ArithSink(unsigned long codeLen) {
    MQSetOutFunction(&enc, CollectByte, &out);
    MQInitEnc(&enc);
    CreateMQInt(&ints, codeLen, &enc);
    CreateMQBuffer(&generic, 65536);
    CreateMQBuffer(&refine, 65536);
  }
  ~ArithSink() {
    DestroyMQInt(&ints);
    DestroyMQBuffer(&generic);
    DestroyMQBuffer(&refine);
  }
  void Int(int proc, long value) { MQEncodeInt(&ints.Proc[proc], value); }
  void OOB(int proc) { MQEncodeOOB(&ints.Proc[proc]); }
  // Restarts the coder for a separately sized chunk (Huffman refinements).
  void Restart() {
    out.clear();
    MQInitEnc(&enc);
  }
  // T.88 6.2, template `templ`, no typical prediction.
  void Generic(BMP* image, int templ, const long* atx, const long* aty) {
    long ax[4], ay[4];
    for (int k = 0; k < 4; ++k) {
      ax[k] = atx[k];
      ay[k] = aty[k];
    }
    CONTEXT ctx;
    InitContext(&ctx, image, templ, ax, ay);
    for (uint32_t y = 0; y < image->lHeight; ++y) {
      NextContextRow(&ctx);
      int previous = 0;
      for (uint32_t x = 0; x < image->lWidth; ++x) {
        const uint32_t cx = GetContext(&ctx, previous);
        previous = (image->pData[y * image->lStride + x / 8] >> (7 - x % 8)) & 1;
        MQEncode(&enc, previous, generic.pIndex + cx, generic.pMPS + cx);
      }
    }
  }
  // T.88 6.3 without typical prediction.
  void Refine(BMP* image, BMP* ref, long dx, long dy, int templ, const long* ratx, const long* raty) {
    long ax[2] = {ratx[0], ratx[1]}, ay[2] = {raty[0], raty[1]};
    VisitRefinementDecisions(image, ref, templ, false, dx, dy, ax, ay, [&](int d, uint32_t cx) {
      MQEncode(&enc, d, refine.pIndex + cx, refine.pMPS + cx);
    });
  }
  std::vector<uint8_t> Finish() {
    MQFlush(&enc);
    return out;
  }
};

// A bitmap from rows of '#' (black) and '.' (white).
inline BMP Picture(const std::vector<const char*>& rows) {
  BMP b{};
  size_t width = 0;
  for (const char* r : rows) width = std::max(width, std::char_traits<char>::length(r));
  CreateBMP(&b, width, rows.size(), 0);
  for (size_t y = 0; y < rows.size(); ++y)
    for (size_t x = 0; rows[y][x]; ++x)
      if (rows[y][x] == '#') b.pData[y * b.lStride + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  return b;
}

// Owns a bitmap made by Picture.
struct OwnedBMP {
  BMP b;
  explicit OwnedBMP(const std::vector<const char*>& rows) : b(Picture(rows)) {}
  OwnedBMP(const OwnedBMP&) = delete;
  OwnedBMP& operator=(const OwnedBMP&) = delete;
  ~OwnedBMP() { DestroyBMP(&b); }
  BMP* get() { return &b; }
};

}  // namespace jb2test
