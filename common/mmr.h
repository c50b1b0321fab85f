// MMR (T.6 two-dimensional) coding of whole bitmaps, both directions.
#pragma once

#include "common/bit_reader.h"
#include "common/bit_writer.h"
#include "common/bitmap.h"
#include "common/huffman_table.h"

typedef struct MMRTREES {
  HUFFNODE* pWhite;  // lines 0..63 terminating, 64..103 make-up 64*(index-63)
  HUFFNODE* pBlack;
  HUFFNODE* pMode;   // 0 pass, 1 horizontal, 2..8 vertical (index-5), 9 EOFB
} MMRTREES;

void MMREncode(ENCODER* writer, BMP* bmp, int eofb);
void InitializeMMR(MMRTREES* trees);
void FreeMMR(MMRTREES* trees);
void MMRDecode(DECODER* reader, MMRTREES* trees, BMP* bmp, int eofb);
