// The plain twins of kernels/mq_runs.h: n decisions of the plain MQ coder
// one at a time, kept only when every one takes the MPS path without
// renormalising. Not part of the libraries; the kernels test compares.
#pragma once

#include <cstdint>

#include "common/mq_coder.h"

// n MPS decisions in a context of state `state` (0..46) by MQDecodePlain /
// MQEncodePlain. When one of them returns (or codes) the LPS, changes the
// state or renormalises, the coder is left as it was and the result is
// false; no byte is read or written either way.
bool MQDecodeMPSRunPlain(MQDECODER* dec, unsigned state, uint32_t n);
bool MQEncodeMPSRunPlain(MQENCODER* enc, unsigned state, uint32_t n);
