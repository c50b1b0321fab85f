// MMR coding (T.6 two-dimensional coding, no EOL between rows) of whole
// bitmaps: the encoder writes into the ENCODER, the decoder reads from a
// DECODER with the code trees of MMRTREES.
#include "common/mmr.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/limits.h"
#include "common/messages.h"

namespace {

// ---------------------------------------------------------------------------
// Code tables: T.4 Table 2 (terminating codes), T.4 Table 3 (make-up codes,
// extended make-up codes shared by both colours) and T.6 Table 1 (mode codes).

struct Code {
  uint16_t value;  // the code, right-aligned
  uint8_t length;  // bits
};

constexpr Code kWhiteTerminating[64] = {
    {0b00110101, 8}, {0b000111, 6},   {0b0111, 4},     {0b1000, 4},     {0b1011, 4},     {0b1100, 4},
    {0b1110, 4},     {0b1111, 4},     {0b10011, 5},    {0b10100, 5},    {0b00111, 5},    {0b01000, 5},
    {0b001000, 6},   {0b000011, 6},   {0b110100, 6},   {0b110101, 6},   {0b101010, 6},   {0b101011, 6},
    {0b0100111, 7},  {0b0001100, 7},  {0b0001000, 7},  {0b0010111, 7},  {0b0000011, 7},  {0b0000100, 7},
    {0b0101000, 7},  {0b0101011, 7},  {0b0010011, 7},  {0b0100100, 7},  {0b0011000, 7},  {0b00000010, 8},
    {0b00000011, 8}, {0b00011010, 8}, {0b00011011, 8}, {0b00010010, 8}, {0b00010011, 8}, {0b00010100, 8},
    {0b00010101, 8}, {0b00010110, 8}, {0b00010111, 8}, {0b00101000, 8}, {0b00101001, 8}, {0b00101010, 8},
    {0b00101011, 8}, {0b00101100, 8}, {0b00101101, 8}, {0b00000100, 8}, {0b00000101, 8}, {0b00001010, 8},
    {0b00001011, 8}, {0b01010010, 8}, {0b01010011, 8}, {0b01010100, 8}, {0b01010101, 8}, {0b00100100, 8},
    {0b00100101, 8}, {0b01011000, 8}, {0b01011001, 8}, {0b01011010, 8}, {0b01011011, 8}, {0b01001010, 8},
    {0b01001011, 8}, {0b00110010, 8}, {0b00110011, 8}, {0b00110100, 8},
};

constexpr Code kBlackTerminating[64] = {
    {0b0000110111, 10},   {0b010, 3},           {0b11, 2},            {0b10, 2},
    {0b011, 3},           {0b0011, 4},          {0b0010, 4},          {0b00011, 5},
    {0b000101, 6},        {0b000100, 6},        {0b0000100, 7},       {0b0000101, 7},
    {0b0000111, 7},       {0b00000100, 8},      {0b00000111, 8},      {0b000011000, 9},
    {0b0000010111, 10},   {0b0000011000, 10},   {0b0000001000, 10},   {0b00001100111, 11},
    {0b00001101000, 11},  {0b00001101100, 11},  {0b00000110111, 11},  {0b00000101000, 11},
    {0b00000010111, 11},  {0b00000011000, 11},  {0b000011001010, 12}, {0b000011001011, 12},
    {0b000011001100, 12}, {0b000011001101, 12}, {0b000001101000, 12}, {0b000001101001, 12},
    {0b000001101010, 12}, {0b000001101011, 12}, {0b000011010010, 12}, {0b000011010011, 12},
    {0b000011010100, 12}, {0b000011010101, 12}, {0b000011010110, 12}, {0b000011010111, 12},
    {0b000001101100, 12}, {0b000001101101, 12}, {0b000011011010, 12}, {0b000011011011, 12},
    {0b000001010100, 12}, {0b000001010101, 12}, {0b000001010110, 12}, {0b000001010111, 12},
    {0b000001100100, 12}, {0b000001100101, 12}, {0b000001010010, 12}, {0b000001010011, 12},
    {0b000000100100, 12}, {0b000000110111, 12}, {0b000000111000, 12}, {0b000000100111, 12},
    {0b000000101000, 12}, {0b000001011000, 12}, {0b000001011001, 12}, {0b000000101011, 12},
    {0b000000101100, 12}, {0b000001011010, 12}, {0b000001100110, 12}, {0b000001100111, 12},
};

// Make-up codes of 64 * (k + 1), k = 0 .. 26 (64 .. 1728).
constexpr Code kWhiteMakeUp[27] = {
    {0b11011, 5},     {0b10010, 5},     {0b010111, 6},    {0b0110111, 7},   {0b00110110, 8},
    {0b00110111, 8},  {0b01100100, 8},  {0b01100101, 8},  {0b01101000, 8},  {0b01100111, 8},
    {0b011001100, 9}, {0b011001101, 9}, {0b011010010, 9}, {0b011010011, 9}, {0b011010100, 9},
    {0b011010101, 9}, {0b011010110, 9}, {0b011010111, 9}, {0b011011000, 9}, {0b011011001, 9},
    {0b011011010, 9}, {0b011011011, 9}, {0b010011000, 9}, {0b010011001, 9}, {0b010011010, 9},
    {0b011000, 6},    {0b010011011, 9},
};

constexpr Code kBlackMakeUp[27] = {
    {0b0000001111, 10},    {0b000011001000, 12},  {0b000011001001, 12},  {0b000001011011, 12},
    {0b000000110011, 12},  {0b000000110100, 12},  {0b000000110101, 12},  {0b0000001101100, 13},
    {0b0000001101101, 13}, {0b0000001001010, 13}, {0b0000001001011, 13}, {0b0000001001100, 13},
    {0b0000001001101, 13}, {0b0000001110010, 13}, {0b0000001110011, 13}, {0b0000001110100, 13},
    {0b0000001110101, 13}, {0b0000001110110, 13}, {0b0000001110111, 13}, {0b0000001010010, 13},
    {0b0000001010011, 13}, {0b0000001010100, 13}, {0b0000001010101, 13}, {0b0000001011010, 13},
    {0b0000001011011, 13}, {0b0000001100100, 13}, {0b0000001100101, 13},
};

// Extended make-up codes of 1792 + 64 * k, k = 0 .. 11 (1792 .. 2496).
constexpr Code kExtendedMakeUp[12] = {
    {0b00000001000, 11},  {0b00000001100, 11},  {0b00000001101, 11},  {0b000000010010, 12},
    {0b000000010011, 12}, {0b000000010100, 12}, {0b000000010101, 12}, {0b000000010110, 12},
    {0b000000010111, 12}, {0b000000011100, 12}, {0b000000011101, 12}, {0b000000011110, 12},
};
constexpr Code kMakeUp2560 = {0b000000011111, 12};

constexpr const Code* kTerminating[2] = {kWhiteTerminating, kBlackTerminating};
constexpr const Code* kMakeUp[2] = {kWhiteMakeUp, kBlackMakeUp};

// Mode codes, in the line order of MMRTREES::pMode.
enum : long {
  kModePass = 0,
  kModeHorizontal = 1,
  kModeV0 = 5,  // vertical modes are kModeV0 + (a1 - b1), 2 .. 8
  kModeEOFB = 9,
  kNumModes = 10,
};
constexpr Code kModeCodes[kNumModes - 1] = {
    {0b0001, 4},    {0b001, 3},    {0b0000010, 7}, {0b000010, 6}, {0b010, 3},
    {0b1, 1},       {0b011, 3},    {0b000011, 6},  {0b0000011, 7},
};
// EOFB: two EOL codes, 000000000001 000000000001.
constexpr unsigned long kEOFBValue = 0x001001;
constexpr int kEOFBLength = 24;

// Run-length code lines of a decoding tree: 0..63 terminating, 64..103 make-up
// codes of 64 * (line - 63).
constexpr unsigned long kNumRunLines = 104;
constexpr long kFirstMakeUpLine = 64;

// ---------------------------------------------------------------------------
// Changing elements.

// For every byte value, the positions (0 = most significant bit) of its
// changes to one colour. Five slots so that four can always be copied from
// the second one on.
struct ByteChanges {
  uint8_t n;
  uint8_t pos[5];
};

// toColour 1: changes to black, taking the bit before the byte as white.
// toColour 0: changes to white, taking the bit before the byte as black.
constexpr std::array<ByteChanges, 256> MakeChangeTable(int toColour) {
  std::array<ByteChanges, 256> table{};
  for (int v = 0; v < 256; ++v) {
    int previous = 1 - toColour;
    ByteChanges entry{};
    for (int k = 0; k < 8; ++k) {
      int bit = (v >> (7 - k)) & 1;
      if (bit == toColour && previous != toColour) entry.pos[entry.n++] = static_cast<uint8_t>(k);
      previous = bit;
    }
    table[v] = entry;
  }
  return table;
}
constexpr std::array<ByteChanges, 256> kChangesToWhite = MakeChangeTable(0);
constexpr std::array<ByteChanges, 256> kChangesToBlack = MakeChangeTable(1);

// The changing elements of one row: pList[1] the changes to black, pList[0]
// the changes to white. Each list is -1, the columns in increasing order, then
// the width twice. The lists grow with the changes actually found, so a wide
// bitmap with few changes costs little memory.
struct ChangeLists {
  long* pList[2] = {nullptr, nullptr};
  long n[2] = {0, 0};
  unsigned long lCapacity = 0;
};

// Room for one more byte's changes: 4 list entries written unconditionally,
// and the two end marks.
constexpr unsigned long kByteSlack = 6;

[[nodiscard]] bool ReserveChanges(ChangeLists* lists, unsigned long capacity) {
  if (capacity <= lists->lCapacity) return true;
  for (long*& list : lists->pList) {
    void* grown = std::realloc(list, capacity * sizeof(long));
    if (grown == nullptr) return false;
    list = static_cast<long*>(grown);
  }
  lists->lCapacity = capacity;
  return true;
}

void FreeChanges(ChangeLists* lists) {
  for (long*& list : lists->pList) {
    std::free(list);
    list = nullptr;
  }
  lists->lCapacity = 0;
}

// Appends the changes of one byte (whose pixels start at column `base`)
// given the colour of the pixel before it.
inline void AddByteChanges(ChangeLists* lists, unsigned v, int previous, long base) {
  // The tables assume the bit before the byte differs from the change's colour;
  // drop position 0 when the real previous pixel already had that colour.
  const int first = static_cast<int>(v >> 7);
  const ByteChanges& black = kChangesToBlack[v];
  const int skipBlack = previous & first;
  long* out = lists->pList[1] + lists->n[1];
  for (int k = 0; k < 4; ++k) out[k] = base + black.pos[skipBlack + k];
  lists->n[1] += black.n - skipBlack;

  const ByteChanges& white = kChangesToWhite[v];
  const int skipWhite = (previous ^ 1) & (first ^ 1);
  out = lists->pList[0] + lists->n[0];
  for (int k = 0; k < 4; ++k) out[k] = base + white.pos[skipWhite + k];
  lists->n[0] += white.n - skipWhite;
}

// Forms both lists of a row (`row` null: a row outside the bitmap, no changes).
// The spare bits of the last byte take the colour of the last pixel.
[[nodiscard]] bool FindChangingElements(const unsigned char* row, const BMP* bmp, ChangeLists* lists) {
  const long width = bmp->lWidth;
  lists->n[0] = lists->n[1] = 0;
  lists->pList[0][lists->n[0]++] = -1;
  lists->pList[1][lists->n[1]++] = -1;
  if (row != nullptr && width > 0) {
    const unsigned long bytes = bmp->lBytesPerRow;
    int previous = 0;  // white before column 0
    for (unsigned long i = 0; i < bytes; ++i) {
      // Skip stretches of the current colour eight bytes at a time (never
      // the last byte, whose spare bits need masking).
      const uint64_t same = previous ? ~uint64_t{0} : 0;
      while (i + 8 < bytes) {
        uint64_t word;
        std::memcpy(&word, row + i, sizeof word);
        if (word != same) break;
        i += 8;
      }
      unsigned v = row[i];
      if (i + 1 == bytes) {
        const unsigned spare = static_cast<unsigned>(8 * bytes - static_cast<unsigned long>(width));
        const unsigned spareMask = (1u << spare) - 1;
        v = ((v >> spare) & 1) ? (v | spareMask) : (v & ~spareMask);
      }
      if (v == (previous ? 0xFFu : 0u)) continue;
      const unsigned long need =
          static_cast<unsigned long>(lists->n[0] > lists->n[1] ? lists->n[0] : lists->n[1]) + kByteSlack;
      if (need > lists->lCapacity && !ReserveChanges(lists, 2 * need)) return false;
      AddByteChanges(lists, v, previous, 8 * static_cast<long>(i));
      previous = static_cast<int>(v & 1);
    }
  }
  for (int c = 0; c < 2; ++c) {
    lists->pList[c][lists->n[c]++] = width;
    lists->pList[c][lists->n[c]++] = width;
  }
  return true;
}

// The first element of `list` above `threshold` (which is below the width, so
// the end mark always qualifies). The search starts where the previous search
// of the same list stopped, stepping back while the element before still
// qualifies, so a row costs time in proportion to its changes.
inline long FirstAbove(const long* list, long* cursor, long threshold) {
  long p = *cursor;
  while (p > 0 && list[p - 1] > threshold) --p;
  while (list[p] <= threshold) ++p;
  *cursor = p;
  return list[p];
}

// Row state shared by both directions: the position a0, the colour of a0,
// the reference row's changes and the search cursors.
struct RowCursor {
  long a0 = -1;
  int colour = 0;
  long refCursor[2] = {0, 0};
  long curCursor[2] = {0, 0};
};

// b1: the first change to the opposite colour above a0 on the reference row;
// b2: the first change to the current colour from b1 on.
inline void FindB1B2(const ChangeLists& ref, RowCursor* rc, long* b1, long* b2) {
  const int c = rc->colour;
  *b1 = FirstAbove(ref.pList[1 - c], &rc->refCursor[1 - c], rc->a0);
  *b2 = FirstAbove(ref.pList[c], &rc->refCursor[c], *b1 - 1);
}

// Owns the two row lists of a coding run.
struct RowPair {
  ChangeLists lists[2];
  ChangeLists* pRef = &lists[0];
  ChangeLists* pCur = &lists[1];
  ~RowPair() {
    FreeChanges(&lists[0]);
    FreeChanges(&lists[1]);
  }
  [[nodiscard]] bool Reserve(unsigned long width) {
    // Ordinary widths never grow; wider rows grow with their changes.
    const unsigned long initial = (width < kMMRInitialChangeRoom ? width : kMMRInitialChangeRoom) + 3 + kByteSlack;
    return ReserveChanges(&lists[0], initial) && ReserveChanges(&lists[1], initial);
  }
  void Swap() {
    ChangeLists* t = pRef;
    pRef = pCur;
    pCur = t;
  }
};

// ---------------------------------------------------------------------------
// Encoding.

inline void WriteCode(ENCODER* writer, const Code& code) { EncodeBits(writer, code.value, code.length); }

// One run of `colour` in horizontal mode: 2560 codes, an extended make-up
// code, a make-up code, then the terminating code (T.4 4.1.1).
void EncodeHorizontal(ENCODER* writer, long run, int colour) {
  while (run > 2559) {
    WriteCode(writer, kMakeUp2560);
    run -= 2560;
  }
  if (run > 1791) {
    const long k = (run - 1792) / 64;
    WriteCode(writer, kExtendedMakeUp[k]);
    run -= 1792 + 64 * k;
  }
  if (run > 63) {
    const long k = (run - 64) / 64;
    WriteCode(writer, kMakeUp[colour][k]);
    run -= 64 * (k + 1);
  }
  WriteCode(writer, kTerminating[colour][run]);
}

void EncodeRow(ENCODER* writer, const ChangeLists& ref, const ChangeLists& cur, long width) {
  RowCursor rc;
  while (rc.a0 < width) {
    long b1, b2;
    FindB1B2(ref, &rc, &b1, &b2);
    const int c = rc.colour;
    const long a1 = FirstAbove(cur.pList[1 - c], &rc.curCursor[1 - c], rc.a0);
    if (b2 < a1) {
      WriteCode(writer, kModeCodes[kModePass]);
      rc.a0 = b2;
    } else if (a1 - b1 >= -3 && a1 - b1 <= 3) {
      WriteCode(writer, kModeCodes[kModeV0 + (a1 - b1)]);
      rc.a0 = a1;
      rc.colour = 1 - c;
    } else {
      const long a2 = FirstAbove(cur.pList[c], &rc.curCursor[c], a1 - 1);
      const long a0 = rc.a0 < 0 ? 0 : rc.a0;
      WriteCode(writer, kModeCodes[kModeHorizontal]);
      EncodeHorizontal(writer, a1 - a0, c);
      EncodeHorizontal(writer, a2 - a1, 1 - c);
      rc.a0 = a2;
    }
  }
}

// ---------------------------------------------------------------------------
// Decoding.

// Sets `length` pixels from column x of a row to black, a byte at a time.
// Pixels at or beyond the width are never touched.
void SetBlackRun(unsigned char* row, long width, long x, long length) {
  if (length <= 0 || row == nullptr || x >= width) return;
  if (x < 0) {
    length += x;
    x = 0;
    if (length <= 0) return;
  }
  if (length > width - x) {
    length = width - x;
    PrintError("Unexpected in MMR: Back Run beyond width boundary");
  }
  const long end = x + length;  // one past the last pixel
  long first = x >> 3;
  const long last = (end - 1) >> 3;
  const unsigned head = 0xFFu >> (x & 7);
  const unsigned tail = (0xFF00u >> (((end - 1) & 7) + 1)) & 0xFFu;
  if (first == last) {
    row[first] |= static_cast<unsigned char>(head & tail);
    return;
  }
  row[first++] |= static_cast<unsigned char>(head);
  while (first < last) row[first++] = 0xFF;
  row[last] |= static_cast<unsigned char>(tail);
}

// One run length of a colour: make-up codes add 64 * (line - 63) and are
// followed by more codes; a terminating code ends the run.
long DecodeRun(DECODER* reader, HUFFNODE* tree) {
  long run = 0;
  for (;;) {
    const long line = DecodeHuffTree(reader, tree);
    if (line < kFirstMakeUpLine || line >= static_cast<long>(kNumRunLines)) return run + (line < 0 ? 0 : line);
    run += 64 * (line - 63);
    // A reader past its end delivers 1 bits, which end a run at once; this
    // keeps the sum bounded by the input all the same.
    if (run > kMMRMaxRun) run = kMMRMaxRun;
  }
}

enum class RowEnd { kNext, kEOFB, kStop };

struct DecodeState {
  DECODER* pReader;
  MMRTREES* pTrees;
  uint32_t nPastEndAtStart;
  bool bReportedStall = false;
};

// Decodes one row against the reference lists.
RowEnd DecodeRow(DecodeState* st, const ChangeLists& ref, unsigned char* row, long width) {
  RowCursor rc;
  while (rc.a0 < width) {
    if (st->pReader->nPastEnd - st->nPastEndAtStart > kMMRMaxBytesPastEnd) {
      PrintError("MMR: Data ends before the last row");
      return RowEnd::kStop;
    }
    long b1, b2;
    FindB1B2(ref, &rc, &b1, &b2);
    const int c = rc.colour;
    const long mode = DecodeHuffTree(st->pReader, st->pTrees->pMode);
    long next;
    if (mode == kModeEOFB) {
      return RowEnd::kEOFB;
    } else if (mode == kModeHorizontal) {
      const long a0 = rc.a0 < 0 ? 0 : rc.a0;
      const long run1 = DecodeRun(st->pReader, c ? st->pTrees->pBlack : st->pTrees->pWhite);
      const long run2 = DecodeRun(st->pReader, c ? st->pTrees->pWhite : st->pTrees->pBlack);
      if (c) SetBlackRun(row, width, a0, run1);
      else SetBlackRun(row, width, a0 + run1, run2);
      next = a0 + run1 + run2;
    } else if (mode >= kModeV0 - 3 && mode <= kModeV0 + 3) {
      next = b1 + (mode - kModeV0);
      if (c && next > rc.a0) SetBlackRun(row, width, rc.a0, next - rc.a0);
      rc.colour = 1 - c;
    } else {  // pass, and line 0 of a code in no tree
      if (c) SetBlackRun(row, width, rc.a0, b2 - rc.a0);
      next = b2;
    }
    if (next <= rc.a0) {
      // Only a corrupt stream moves a0 back; the searches and the pixels
      // already set rely on it moving on, so the row ends here.
      if (!st->bReportedStall) PrintError("MMR: Changing element does not advance, row ended");
      st->bReportedStall = true;
      return RowEnd::kNext;
    }
    rc.a0 = next;
  }
  return RowEnd::kNext;
}

}  // namespace

// ---------------------------------------------------------------------------

void MMREncode(ENCODER* writer, BMP* bmp, int eofb) {
  const long width = bmp->lWidth;
  RowPair rows;
  if (!rows.Reserve(bmp->lWidth) || !FindChangingElements(nullptr, bmp, rows.pRef)) {
    PrintError("MMR: Out of memory");
    return;
  }
  for (uint32_t y = 0; y < bmp->lHeight; ++y) {
    const unsigned char* row = bmp->pData + static_cast<size_t>(y) * bmp->lStride;
    if (!FindChangingElements(row, bmp, rows.pCur)) {
      PrintError("MMR: Out of memory");
      return;
    }
    EncodeRow(writer, *rows.pRef, *rows.pCur, width);
    rows.Swap();
  }
  if (eofb) EncodeBits(writer, kEOFBValue, kEOFBLength);
  EncodeFlush(writer);
}

void InitializeMMR(MMRTREES* trees) {
  unsigned long code[kNumRunLines];
  unsigned long length[kNumRunLines];
  for (int colour = 0; colour < 2; ++colour) {
    unsigned long line = 0;
    for (int i = 0; i < 64; ++i, ++line) {
      code[line] = kTerminating[colour][i].value;
      length[line] = kTerminating[colour][i].length;
    }
    for (int i = 0; i < 27; ++i, ++line) {
      code[line] = kMakeUp[colour][i].value;
      length[line] = kMakeUp[colour][i].length;
    }
    for (const Code& c : kExtendedMakeUp) {
      code[line] = c.value;
      length[line] = c.length;
      ++line;
    }
    code[line] = kMakeUp2560.value;
    length[line] = kMakeUp2560.length;
    BuildHuffTree(colour ? &trees->pBlack : &trees->pWhite, code, length, kNumRunLines);
  }
  for (long i = 0; i < kModeEOFB; ++i) {
    code[i] = kModeCodes[i].value;
    length[i] = kModeCodes[i].length;
  }
  code[kModeEOFB] = kEOFBValue;
  length[kModeEOFB] = kEOFBLength;
  BuildHuffTree(&trees->pMode, code, length, kNumModes);
}

void FreeMMR(MMRTREES* trees) {
  for (HUFFNODE** tree : {&trees->pWhite, &trees->pBlack, &trees->pMode}) {
    if (*tree != nullptr) FreeHuffTree(*tree);
    *tree = nullptr;
  }
}

void MMRDecode(DECODER* reader, MMRTREES* trees, BMP* bmp, int eofb) {
  const long width = bmp->lWidth;
  DecodeState st{reader, trees, reader->nPastEnd};
  RowPair rows;
  bool seenEOFB = false;
  bool stopped = false;
  if (!rows.Reserve(bmp->lWidth) || !FindChangingElements(nullptr, bmp, rows.pRef)) {
    PrintError("MMR: Out of memory");
    stopped = true;
  }
  for (uint32_t y = 0; y < bmp->lHeight && !stopped && !seenEOFB; ++y) {
    unsigned char* row = bmp->pData + static_cast<size_t>(y) * bmp->lStride;
    const RowEnd end = DecodeRow(&st, *rows.pRef, row, width);
    if (end == RowEnd::kStop) stopped = true;
    if (end == RowEnd::kEOFB) seenEOFB = true;
    if (end != RowEnd::kNext) break;
    if (y + 1 < bmp->lHeight) {
      if (!FindChangingElements(row, bmp, rows.pCur)) {
        PrintError("MMR: Out of memory");
        stopped = true;
      }
      rows.Swap();
    }
  }
  if (eofb && !seenEOFB && !stopped && DecodeHuffTree(reader, trees->pMode) != kModeEOFB)
    PrintWarning("MMR: EOS was expected");
  DecodeFlush(reader);
}
