// The coding state of one run, with its stores: made whole or not at all,
// and released at the end of the run.
#pragma once

#include <new>

#include "encoder/encode_state.h"

// Owns the coding state of one run.
class EncodeStateOwner {
 public:
  // Throws std::bad_alloc, with nothing left allocated, when a store cannot
  // be had.
  EncodeStateOwner() : state_() {
    MQSetOutFunction(&state_.MQEncoder, MQMainOut, &state_.Encoder);
    try {
      CreateMQBuffer(&state_.GenericContexts, kContextStoreSize);
      CreateMQBuffer(&state_.RefinementContexts, kRefinementContextStoreSize);
      InitializeHuffStandard(state_.aHuffStandard);
      CreateEncoder(&state_.Encoder, kEncoderStartCapacity);
    } catch (const std::bad_alloc&) {
      Release();
      throw;
    }
  }
  ~EncodeStateOwner() { Release(); }
  void Release() {
    // A coder that ran out of memory midway leaves its integer contexts.
    DestroyMQInt(&state_.IntContexts);
    FreeSegmentTables(&state_.Segments);
    DestroyEncoder(&state_.Encoder);
    DestroyMQBuffer(&state_.GenericContexts);
    DestroyMQBuffer(&state_.RefinementContexts);
    FreeHuffStandard(state_.aHuffStandard);
  }
  EncodeStateOwner(const EncodeStateOwner&) = delete;
  EncodeStateOwner& operator=(const EncodeStateOwner&) = delete;
  ENCODE_STATE* get() { return &state_; }

 private:
  ENCODE_STATE state_;
};
