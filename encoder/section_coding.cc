#include "encoder/section_coding.h"

void EncodeRegionSegment(ENCODER* enc, BMP* region, uint32_t x, uint32_t y, uint32_t combOp) {
  EncodeBits(enc, region->lWidth, 32);
  EncodeBits(enc, region->lHeight, 32);
  EncodeBits(enc, x, 32);
  EncodeBits(enc, y, 32);
  EncodeBits(enc, combOp, 8);
}

void GenericCoding(GRPARAM* param, ENCODE_STATE* state, const GenericSettings& g) {
  param->pState = state;
  param->bMMR = g.mmr != 0;
  param->lTemplate = static_cast<uint32_t>(g.templ.value);
  param->bTPGDON = g.tpdon != 0;
  param->bUseSkip = 0;
  param->pSkip = nullptr;
  for (int k = 0; k < 4; ++k) {
    param->alATX[k] = static_cast<int8_t>(g.atx[k].value);  // the fields are signed bytes
    param->alATY[k] = static_cast<int8_t>(g.aty[k].value);
  }
  param->bEndMarker = 0;
}

void ReadGenericParameters(GRPARAM* param, ENCODE_STATE* state, const GenericSettings& g) {
  ReportNotes(g.notes);
  GenericCoding(param, state, g);
}
