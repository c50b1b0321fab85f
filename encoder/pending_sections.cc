// Section coders whose pipelines are not yet part of the encoder: their
// sections are coded as generic regions so that no pixel is lost.
#include "common/messages.h"
#include "encoder/encode_state.h"

void EncodeHalftoneSection(ENCODE_STATE* state, BMP* section, PARAMETER* parameters) {
  PrintWarning("Halftone Regions Not Yet Supported - Coding Section as Generic Region");
  EncodeGenericSection(state, section, parameters);
}
