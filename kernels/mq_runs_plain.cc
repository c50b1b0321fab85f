// MPS runs one decision at a time (see mq_runs_plain.h).
#include "kernels/mq_runs_plain.h"

namespace {

// The trial coders' byte functions: a byte would move only in a
// renormalisation, which ends the trial anyway.
int NoInput(void*) { return 0; }
void NoOutput(void*, int) {}

// n decisions of `code` on the trial coder, each of which must take the MPS
// path without renormalising: the MPS comes out, the state stays and A
// loses exactly Qe.
template <typename Coder, typename Code>
bool RunOfMPS(Coder* trial, unsigned state, uint32_t n, Code code) {
  for (uint32_t i = 0; i < n; ++i) {
    unsigned char index = static_cast<unsigned char>(state), mps = 0;
    const uint32_t a = trial->A;
    if (code(trial, &index, &mps) != 0 || index != state || trial->A != a - MQQe[state]) return false;
  }
  return true;
}

template <typename Coder>
void KeepRegisters(Coder* coder, const Coder& trial) {
  coder->C = trial.C;
  coder->A = trial.A;
  coder->CT = trial.CT;
}

}  // namespace

bool MQDecodeMPSRunPlain(MQDECODER* dec, unsigned state, uint32_t n) {
  MQDECODER trial = *dec;
  MQSetInFunction(&trial, NoInput, nullptr);
  if (!RunOfMPS(&trial, state, n, MQDecodePlain)) return false;
  KeepRegisters(dec, trial);
  return true;
}

bool MQEncodeMPSRunPlain(MQENCODER* enc, unsigned state, uint32_t n) {
  MQENCODER trial = *enc;
  MQSetOutFunction(&trial, NoOutput, nullptr);
  auto code = [](MQENCODER* e, unsigned char* index, unsigned char* mps) {
    MQEncodePlain(e, 0, index, mps);
    return 0;
  };
  if (!RunOfMPS(&trial, state, n, code)) return false;
  KeepRegisters(enc, trial);
  return true;
}
