#include "encoder/coding_cost.h"

#include <cstring>
#include <new>

#include "encoder/refinement_region_encoder.h"

namespace {

void DiscardByte(void*, int) {}

}  // namespace

CostCoder::CostCoder() {
  std::memset(&state_, 0, sizeof state_);
  try {
    CreateMQBuffer(&state_.GenericContexts, kContextStoreSize);
    CreateMQBuffer(&state_.RefinementContexts, kRefinementContextStoreSize);
    MQSetOutFunction(&state_.MQEncoder, DiscardByte, nullptr);
    CreateMQInt(&state_.IntContexts, 0, &state_.MQEncoder);
  } catch (const std::bad_alloc&) {
    DestroyMQBuffer(&state_.GenericContexts);
    DestroyMQBuffer(&state_.RefinementContexts);
    throw;
  }
  MQInitEnc(&state_.MQEncoder);
}

CostCoder::~CostCoder() {
  DestroyMQInt(&state_.IntContexts);
  DestroyMQBuffer(&state_.GenericContexts);
  DestroyMQBuffer(&state_.RefinementContexts);
}

int64_t CostCoder::Bits() const {
  // Every byte taken out of C has passed 8 shifts (7 after a stuffed 0xFF,
  // which the estimate ignores); CT counts the shifts left before the next.
  const MQENCODER& mq = state_.MQEncoder;
  const int64_t bytes = int64_t{mq.lBytesOut} + mq.nHeldFF + mq.nHeld7F + (mq.bSkipByte ? 0 : 1);
  return 8 * bytes - int64_t{mq.CT};
}

void CostCoder::Reset() {
  ResetMQBuffer(&state_.GenericContexts, kContextStoreSize);
  ResetMQBuffer(&state_.RefinementContexts, kRefinementContextStoreSize);
  DestroyMQInt(&state_.IntContexts);
  CreateMQInt(&state_.IntContexts, 0, &state_.MQEncoder);
  MQInitEnc(&state_.MQEncoder);
}

int64_t CostCoder::GenericBits(const GRPARAM& gr, BMP* bitmap) {
  GRPARAM p = gr;
  p.pState = &state_;
  p.bMMR = 0;
  p.bUseSkip = 0;
  p.bEndMarker = 0;
  const int64_t before = Bits();
  EncodeGenericRegion(&p, bitmap);
  return Bits() - before;
}

int64_t CostCoder::RefinementBits(BMP* target, BMP* reference, long dx, long dy, int templ, long* atx, long* aty) {
  const int64_t before = Bits();
  EncodeRefinementRegion(&state_.MQEncoder, &state_.RefinementContexts, target, reference, dx, dy, templ, atx, aty,
                         false);
  return Bits() - before;
}

int64_t CostCoder::IntegerBits(int proc, long value) {
  const int64_t before = Bits();
  MQEncodeInt(&state_.IntContexts.Proc[proc], value);
  return Bits() - before;
}

int64_t CostCoder::OOBBits(int proc) {
  const int64_t before = Bits();
  MQEncodeOOB(&state_.IntContexts.Proc[proc]);
  return Bits() - before;
}
