// What the section coders (generic, text, halftone) share below the page
// coder: the region segment information field and the generic coding record
// of a section's settings.
#pragma once

#include <cstdint>

#include "encoder/encode_state.h"

// Writes the 17-byte region segment information field (T.88 7.4.1).
void EncodeRegionSegment(ENCODER* enc, BMP* region, uint32_t x, uint32_t y, uint32_t combOp);

// The generic coding record of a section's settings; ReadGenericParameters
// also gives the settings' notes, as a coder that takes them does.
void GenericCoding(GRPARAM* param, ENCODE_STATE* state, const GenericSettings& settings);
void ReadGenericParameters(GRPARAM* param, ENCODE_STATE* state, const GenericSettings& settings);
