// Bounds the work of one arithmetic-coded region loop by the data it has.
// Past the end of its data the MQ decoder stops reading (it sees a marker)
// and decodes 1-bits for ever, so a loop driven by a large region size over a
// few bytes would otherwise run for minutes; see kMqDecisionsPerByte.
#pragma once

#include <cstdint>

#include "common/bit_reader.h"
#include "common/limits.h"
#include "common/messages.h"

namespace jb2dec {

class RegionBudget {
 public:
  explicit RegionBudget(const DECODER* input)
      : input_(input),
        limit_(2 * kMqDecisionsPerByte * (static_cast<uint64_t>(input->pEnd - input->pCur) + kMqSlackBytes)) {}

  // True while the loop may go on; prints one error when it may not.
  bool Allows() {
    if (spent_ <= limit_ && input_->nPastEnd <= kMaxPastEndBytes) return true;
    PrintError("Region Data Exhausted: Decoding Stopped");
    limit_ = 0;
    spent_ = 1;
    return false;
  }
  // One unit per row and per MQ decision.
  void Spend(uint64_t units) { spent_ += units; }

 private:
  const DECODER* input_;
  uint64_t limit_;
  uint64_t spent_ = 0;
};

}  // namespace jb2dec
