// Text sections read back by a reader written from T.88 alone (segment types
// 0, 4, 6, 7, 38, 42 and the page segments, in the subset the encoder
// writes): every mode, including those the peer decoder mis-reads (Huffman
// refinement of instances, T.88 6.4.11, and of symbols, 6.5.8.2.2), must give
// back the page exactly.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "common/bit_reader.h"
#include "common/huffman_table.h"
#include "common/integer_coding.h"
#include "common/mmr.h"
#include "common/mq_coder.h"
#include "kernels/context_template.h"
#include "tests/encoder/text_modes.h"
#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/sections.h"

namespace {

using jb2test::ParsedSegment;

constexpr unsigned long kStore = 65536;

inline int Pixel(const BMP* b, long x, long y) {
  if (x < 0 || y < 0 || x >= static_cast<long>(b->lWidth) || y >= static_cast<long>(b->lHeight)) return 0;
  return (b->pData[static_cast<size_t>(y) * b->lStride + static_cast<size_t>(x >> 3)] >> (7 - (x & 7))) & 1;
}
inline void Put(BMP* b, long x, long y, int v) { jb2test::SetPixel(b, x, y, v); }

struct Reader {
  HUFFTABLE std[kNumStandardTables];
  MMRTREES mmr;
  MQBUFFER gb, gr;
  std::map<uint32_t, std::vector<BMP>> dictionaries;  // exported symbols by segment number
  std::map<uint32_t, std::pair<BMP, std::vector<uint32_t>>> intermediate;
  BMP page{};
  std::deque<BMP> owned;  // stable addresses
  bool ok = true;

  Reader() {
    InitializeHuffStandard(std);
    InitializeMMR(&mmr);
    CreateMQBuffer(&gb, kStore);
    CreateMQBuffer(&gr, kStore);
  }
  ~Reader() {
    FreeHuffStandard(std);
    FreeMMR(&mmr);
    DestroyMQBuffer(&gb);
    DestroyMQBuffer(&gr);
    for (BMP& b : owned) DestroyBMP(&b);
    DestroyBMP(&page);
  }
  BMP* NewBitmap(uint32_t w, uint32_t h, int fill) {
    owned.emplace_back();
    CreateBMP(&owned.back(), w, h, fill);
    return &owned.back();
  }
  int32_t Huff(DECODER* d, int table, int* oob = nullptr) {
    int o = 0;
    int32_t v = DecodeHuff(d, &std[table - 1], &o);
    if (oob) *oob = o;
    else if (o) ok = false;
    return v;
  }

  // T.88 6.2.5.
  void Generic(MQDECODER* mq, BMP* out, int templ, bool tpgdon, long* atx, long* aty) {
    static const uint32_t kTp[4] = {0x9B25, 0x0795, 0x00E5, 0x0195};
    CONTEXT ctx;
    InitContext(&ctx, out, templ, atx, aty);
    int ltp = 0;
    for (uint32_t y = 0; y < out->lHeight; ++y) {
      NextContextRow(&ctx);
      if (tpgdon) ltp ^= MQDecode(mq, gb.pIndex + kTp[templ], gb.pMPS + kTp[templ]);
      if (ltp) {
        for (uint32_t x = 0; x < out->lWidth; ++x) Put(out, x, y, Pixel(out, x, static_cast<long>(y) - 1));
        continue;
      }
      int prev = 0;
      for (uint32_t x = 0; x < out->lWidth; ++x) {
        uint32_t cx = GetContext(&ctx, prev);
        prev = MQDecode(mq, gb.pIndex + cx, gb.pMPS + cx);
        Put(out, x, y, prev);
      }
    }
  }
  // T.88 6.3.5.6.
  void Refine(MQDECODER* mq, BMP* out, BMP* ref, long dx, long dy, int templ, bool tpgron, long* atx, long* aty) {
    CONTEXT ctx;
    InitRefContext(&ctx, ref, out, dx, dy, templ, atx, aty);
    const uint32_t tp = templ ? 0x80 : 0x100;
    int ltp = 0;
    for (uint32_t y = 0; y < out->lHeight; ++y) {
      NextContextRow(&ctx);
      if (tpgron) ltp ^= MQDecode(mq, gr.pIndex + tp, gr.pMPS + tp);
      int prev = 0;
      for (uint32_t x = 0; x < out->lWidth; ++x) {
        uint32_t cx = GetContext(&ctx, prev);
        const long rx = static_cast<long>(x) - dx, ry = static_cast<long>(y) - dy;
        prev = ltp && Check3x3(ref, rx, ry) ? Pixel(ref, rx, ry) : MQDecode(mq, gr.pIndex + cx, gr.pMPS + cx);
        Put(out, x, y, prev);
      }
    }
  }
  // An arithmetic-coded refinement in its own byte range (Huffman mode).
  void RefineBytes(DECODER* d, uint32_t size, BMP* out, BMP* ref, long dx, long dy, int templ, long* atx, long* aty) {
    DecodeFlush(d);
    DECODER sub;
    InitDecoder(&sub, DecoderPtr(d), size);
    MQDECODER mq{};
    MQSetInFunction(&mq, MQMainIn, &sub);
    MQInitDec(&mq);
    Refine(&mq, out, ref, dx, dy, templ, false, atx, aty);
    DecSkipBytes(d, size);
  }

  std::vector<BMP> InputSymbols(const ParsedSegment& s) {
    std::vector<BMP> in;
    for (uint32_t r : s.referred)
      if (dictionaries.count(r)) in.insert(in.end(), dictionaries[r].begin(), dictionaries[r].end());
    return in;
  }

  // T.88 7.4.2 and 6.5, with REFAGGNINST = 1 only.
  void SymbolDictionary(const ParsedSegment& s) {
    DECODER d;
    InitDecoder(&d, s.data.data(), s.data.size());
    const uint32_t flags = DecodeBits(&d, 16);
    const bool huff = flags & 1, refAgg = flags & 2;
    const int dhTable = (flags >> 2 & 3) ? 5 : 4, dwTable = (flags >> 4 & 3) ? 3 : 2;
    const int templ = flags >> 10 & 3, rtempl = flags >> 12 & 1;
    long atx[4] = {}, aty[4] = {}, ratx[2] = {}, raty[2] = {};
    if (!huff)
      for (int k = 0; k < (templ == 0 ? 4 : 1); ++k) {
        atx[k] = static_cast<int8_t>(DecodeBits(&d, 8));
        aty[k] = static_cast<int8_t>(DecodeBits(&d, 8));
      }
    if (refAgg && rtempl == 0)
      for (int k = 0; k < 2; ++k) {
        ratx[k] = static_cast<int8_t>(DecodeBits(&d, 8));
        raty[k] = static_cast<int8_t>(DecodeBits(&d, 8));
      }
    const uint32_t nEx = DecodeBits(&d, 32), nNew = DecodeBits(&d, 32);
    std::vector<BMP> syms = InputSymbols(s);
    const size_t nIn = syms.size();
    uint32_t codeLen = 0;
    while (((nIn + nNew - 1) >> codeLen) != 0 && nIn + nNew > 1) ++codeLen;
    MQDECODER mq{};
    MQSetInFunction(&mq, MQMainIn, &d);
    MQINT ia;
    CreateMQInt(&ia, codeLen, &mq);
    ResetMQBuffer(&gb, kStore);
    ResetMQBuffer(&gr, kStore);
    if (!huff) MQInitDec(&mq);
    uint32_t height = 0;
    while (syms.size() - nIn < nNew && ok) {
      height += huff ? Huff(&d, dhTable) : MQDecodeInt(&ia.Proc[kIADH], nullptr);
      uint32_t width = 0, total = 0;
      const size_t first = syms.size();
      std::vector<uint32_t> widths;
      for (;;) {
        int oob = 0;
        int32_t dw = huff ? Huff(&d, dwTable, &oob) : MQDecodeInt(&ia.Proc[kIADW], &oob);
        if (oob) break;
        width += dw;
        total += width;
        if (refAgg) {
          BMP* b = NewBitmap(width, height, 0);
          const int32_t n = huff ? Huff(&d, 1) : MQDecodeInt(&ia.Proc[kIAAI], nullptr);
          if (n != 1) { ok = false; return; }
          const uint32_t id = huff ? DecodeBits(&d, static_cast<int>(std::max(codeLen, 1u)))
                                   : static_cast<uint32_t>(MQDecodeInt(&ia.Proc[kIAID], nullptr));
          const long rdx = huff ? Huff(&d, 15) : MQDecodeInt(&ia.Proc[kIARDX], nullptr);
          const long rdy = huff ? Huff(&d, 15) : MQDecodeInt(&ia.Proc[kIARDY], nullptr);
          if (id >= syms.size()) { ok = false; return; }
          if (huff) RefineBytes(&d, static_cast<uint32_t>(Huff(&d, 1)), b, &syms[id], rdx, rdy, rtempl, ratx, raty);
          else Refine(&mq, b, &syms[id], rdx, rdy, rtempl, false, ratx, raty);
          syms.push_back(*b);
        } else if (!huff) {
          BMP* b = NewBitmap(width, height, 0);
          Generic(&mq, b, templ, false, atx, aty);
          syms.push_back(*b);
        } else {
          widths.push_back(width);
          syms.push_back(BMP{});
        }
      }
      if (huff && !refAgg) {
        const uint32_t size = static_cast<uint32_t>(Huff(&d, 1));
        DecodeFlush(&d);
        BMP* collective = NewBitmap(total, height, 0);
        if (size == 0) {
          for (uint32_t y = 0; y < height; ++y)
            for (uint32_t i = 0; i < collective->lBytesPerRow; ++i)
              collective->pData[y * collective->lStride + i] = static_cast<unsigned char>(DecodeBits(&d, 8));
        } else {
          DECODER sub;
          InitDecoder(&sub, DecoderPtr(&d), size);
          MMRDecode(&sub, &mmr, collective, 0);
          DecSkipBytes(&d, size);
        }
        long x = 0;
        for (size_t k = 0; k < widths.size(); ++k) {
          BMP* b = NewBitmap(widths[k], height, 0);
          CombineBMP(b, collective, -x, 0, 4);
          syms[first + k] = *b;
          x += widths[k];
        }
      }
    }
    // T.88 6.5.10.
    std::vector<BMP> exported;
    bool flag = false;
    for (size_t i = 0; i < syms.size() && ok;) {
      const int32_t run = huff ? Huff(&d, 1) : MQDecodeInt(&ia.Proc[kIAEX], nullptr);
      for (int32_t k = 0; k < run && i < syms.size(); ++k, ++i)
        if (flag) exported.push_back(syms[i]);
      flag = !flag;
    }
    DestroyMQInt(&ia);
    if (exported.size() != nEx) ok = false;
    dictionaries[s.number] = exported;
  }

  // T.88 7.4.1: width, height, x, y and the operator byte.
  static std::vector<uint32_t> RegionInfo(DECODER* d) {
    std::vector<uint32_t> info;
    for (int k = 0; k < 4; ++k) info.push_back(DecodeBits(d, 32));
    info.push_back(DecodeBits(d, 8));
    return info;
  }

  // T.88 7.4.3 and 6.4.
  BMP* TextRegion(const ParsedSegment& s, std::vector<uint32_t>* info) {
    DECODER d;
    InitDecoder(&d, s.data.data(), s.data.size());
    *info = RegionInfo(&d);
    const uint32_t flags = DecodeBits(&d, 16);
    const bool huff = flags & 1, refine = flags & 2, transposed = flags >> 6 & 1;
    const int logStrips = flags >> 2 & 3, corner = flags >> 4 & 3, op = flags >> 7 & 3, defPixel = flags >> 9 & 1;
    const int dsOffset = static_cast<int>(flags >> 10 & 31) - ((flags >> 14 & 1) ? 32 : 0);
    const int rtempl = flags >> 15 & 1;
    int tFS = 6, tDS = 8, tDT = 11, tRD[4] = {15, 15, 15, 15};
    if (huff) {
      const uint32_t h = DecodeBits(&d, 16);
      tFS = (h & 3) ? 7 : 6;
      tDS = 8 + static_cast<int>(h >> 2 & 3);
      tDT = 11 + static_cast<int>(h >> 4 & 3);
      for (int k = 0; k < 4; ++k) tRD[k] = 14 + static_cast<int>(h >> (6 + 2 * k) & 3);
    }
    long ratx[2] = {}, raty[2] = {};
    if (refine && rtempl == 0)
      for (int k = 0; k < 2; ++k) {
        ratx[k] = static_cast<int8_t>(DecodeBits(&d, 8));
        raty[k] = static_cast<int8_t>(DecodeBits(&d, 8));
      }
    const uint32_t nInstances = DecodeBits(&d, 32);
    std::vector<BMP> syms = InputSymbols(s);
    const unsigned long nSyms = syms.size();
    HUFFNODE* idTree = nullptr;
    if (huff) {  // T.88 7.4.3.1.7
      unsigned long runLen[35], runCode[35];
      for (auto& l : runLen) l = DecodeBits(&d, 4);
      HuffGetPrefCodes(runLen, runCode, 35);
      HUFFNODE* runTree = nullptr;
      BuildHuffTree(&runTree, runCode, runLen, 35);
      std::vector<unsigned long> len;
      while (len.size() < nSyms && ok) {
        const long rc = DecodeHuffTree(&d, runTree);
        if (rc < 32) len.push_back(static_cast<unsigned long>(rc));
        else if (rc == 32) { const uint32_t n = DecodeBits(&d, 2) + 3; if (len.empty()) { ok = false; break; } for (uint32_t k = 0; k < n; ++k) len.push_back(len.back()); }
        else if (rc == 33) len.insert(len.end(), DecodeBits(&d, 3) + 3, 0);
        else len.insert(len.end(), DecodeBits(&d, 7) + 11, 0);
      }
      FreeHuffTree(runTree);
      if (len.size() != nSyms) { ok = false; return nullptr; }
      DecodeFlush(&d);
      std::vector<unsigned long> codes(nSyms);
      HuffGetPrefCodes(len.data(), codes.data(), nSyms);
      BuildHuffTree(&idTree, codes.data(), len.data(), nSyms);
    }
    uint32_t codeLen = 0;
    while (nSyms > 1 && ((nSyms - 1) >> codeLen) != 0) ++codeLen;
    MQDECODER mq{};
    MQSetInFunction(&mq, MQMainIn, &d);
    MQINT ia;
    CreateMQInt(&ia, codeLen, &mq);
    ResetMQBuffer(&gb, kStore);
    ResetMQBuffer(&gr, kStore);
    if (!huff) MQInitDec(&mq);
    BMP* region = NewBitmap((*info)[0], (*info)[1], defPixel);
    const long strips = 1L << logStrips;
    auto dec = [&](int table, int proc, int* oob = nullptr) -> long {
      return huff ? Huff(&d, table, oob) : MQDecodeInt(&ia.Proc[proc], oob);
    };
    long stripT = -dec(tDT, kIADT) * strips, firstS = 0;
    uint32_t n = 0;
    while (n < nInstances && ok) {
      stripT += dec(tDT, kIADT) * strips;
      long curS = 0;
      for (bool first = true;; first = false) {
        if (first) curS = firstS += dec(tFS, kIAFS);
        else {
          int oob = 0;
          const long ids = dec(tDS, kIADS, &oob);
          if (oob) break;
          curS += ids + dsOffset;
        }
        const long curT = strips == 1 ? 0 : huff ? static_cast<long>(DecodeBits(&d, logStrips)) : MQDecodeInt(&ia.Proc[kIAIT], nullptr);
        const long t = stripT + curT;
        const long id = huff ? DecodeHuffTree(&d, idTree) : MQDecodeInt(&ia.Proc[kIAID], nullptr);
        if (id < 0 || static_cast<unsigned long>(id) >= nSyms) { ok = false; break; }
        BMP* ib = &syms[static_cast<size_t>(id)];
        const int ri = !refine ? 0 : huff ? static_cast<int>(DecodeBits(&d, 1)) : MQDecodeInt(&ia.Proc[kIARI], nullptr);
        if (ri) {  // T.88 6.4.11
          const long rdw = dec(tRD[0], kIARDW), rdh = dec(tRD[1], kIARDH), rdx = dec(tRD[2], kIARDX),
                     rdy = dec(tRD[3], kIARDY);
          BMP* out = NewBitmap(static_cast<uint32_t>(ib->lWidth + rdw), static_cast<uint32_t>(ib->lHeight + rdh), 0);
          const long dx = (rdw >= 0 ? rdw / 2 : -((1 - rdw) / 2)) + rdx, dy = (rdh >= 0 ? rdh / 2 : -((1 - rdh) / 2)) + rdy;
          if (huff) RefineBytes(&d, static_cast<uint32_t>(Huff(&d, 1)), out, ib, dx, dy, rtempl, ratx, raty);
          else Refine(&mq, out, ib, dx, dy, rtempl, false, ratx, raty);
          ib = out;
        }
        const long w = ib->lWidth, h = ib->lHeight;
        if (!transposed && (corner == 2 || corner == 3)) curS += w - 1;
        if (transposed && (corner == 0 || corner == 2)) curS += h - 1;
        const long si = curS;
        long x, y;
        if (!transposed) {
          x = (corner == 2 || corner == 3) ? si - (w - 1) : si;
          y = (corner == 0 || corner == 2) ? t - (h - 1) : t;
        } else {
          y = (corner == 0 || corner == 2) ? si - (h - 1) : si;
          x = (corner == 2 || corner == 3) ? t - (w - 1) : t;
        }
        CombineBMP(region, ib, x, y, op);
        if (!transposed && (corner == 0 || corner == 1)) curS += w - 1;
        if (transposed && (corner == 1 || corner == 3)) curS += h - 1;
        ++n;
      }
    }
    if (idTree) FreeHuffTree(idTree);
    DestroyMQInt(&ia);
    return region;
  }

  void Place(BMP* region, const std::vector<uint32_t>& info) {
    CombineBMP(&page, region, static_cast<long>(info[2]), static_cast<long>(info[3]), static_cast<int>(info[4]));
  }

  void Segment(const ParsedSegment& s) {
    switch (s.type) {
      case 48: {
        CreateBMP(&page, jb2test::Be32(&s.data[0]), jb2test::Be32(&s.data[4]), (s.data[16] >> 2) & 1);
        break;
      }
      case 0: SymbolDictionary(s); break;
      case 4: case 6: case 7: {
        std::vector<uint32_t> info;
        BMP* region = TextRegion(s, &info);
        if (!region) return;
        if (s.type == 4) intermediate[s.number] = {*region, info};
        else Place(region, info);
        break;
      }
      case 38: {
        DECODER d;
        InitDecoder(&d, s.data.data(), s.data.size());
        const std::vector<uint32_t> info = RegionInfo(&d);
        const uint32_t flags = DecodeBits(&d, 8);
        BMP* region = NewBitmap(info[0], info[1], 0);
        if (flags & 1) {
          MMRDecode(&d, &mmr, region, 0);
        } else {
          const int templ = flags >> 1 & 3;
          long atx[4] = {}, aty[4] = {};
          for (int k = 0; k < (templ == 0 ? 4 : 1); ++k) {
            atx[k] = static_cast<int8_t>(DecodeBits(&d, 8));
            aty[k] = static_cast<int8_t>(DecodeBits(&d, 8));
          }
          MQDECODER mq{};
          MQSetInFunction(&mq, MQMainIn, &d);
          ResetMQBuffer(&gb, kStore);
          MQInitDec(&mq);
          Generic(&mq, region, templ, flags & 8, atx, aty);
        }
        Place(region, info);
        break;
      }
      case 42: {
        DECODER d;
        InitDecoder(&d, s.data.data(), s.data.size());
        const std::vector<uint32_t> info = RegionInfo(&d);
        const uint32_t flags = DecodeBits(&d, 8);
        long atx[2] = {}, aty[2] = {};
        if ((flags & 1) == 0)
          for (int k = 0; k < 2; ++k) {
            atx[k] = static_cast<int8_t>(DecodeBits(&d, 8));
            aty[k] = static_cast<int8_t>(DecodeBits(&d, 8));
          }
        if (s.referred.size() != 1 || !intermediate.count(s.referred[0])) { ok = false; return; }
        BMP* region = NewBitmap(info[0], info[1], 0);
        MQDECODER mq{};
        MQSetInFunction(&mq, MQMainIn, &d);
        ResetMQBuffer(&gr, kStore);
        MQInitDec(&mq);
        Refine(&mq, region, &intermediate[s.referred[0]].first, 0, 0, flags & 1, flags & 2, atx, aty);
        Place(region, info);
        break;
      }
      default: break;
    }
  }
};

class TextRoundTrip : public ::testing::TestWithParam<jb2test::TextMode> {};

TEST_P(TextRoundTrip, T88ReaderRebuildsThePage) {
  jb2test::ForEachEncodedPage(GetParam(), true, [](const std::string& jb2, const BMP& source) {
    jb2test::WrittenFile file = jb2test::ParseJb2(jb2test::ReadFileBytes(jb2));
    ASSERT_TRUE(file.ok);
    Reader reader;
    testing::internal::CaptureStderr();
    for (const ParsedSegment& s : file.segments) reader.Segment(s);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "");
    ASSERT_TRUE(reader.ok);
    EXPECT_TRUE(jb2test::SamePixels(&reader.page, &source));
  });
}

INSTANTIATE_TEST_SUITE_P(Text, TextRoundTrip, ::testing::ValuesIn(jb2test::kModes), jb2test::ModeName);

}  // namespace
