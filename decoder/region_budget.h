// Bounds the work of one arithmetic-coded region loop by the data it has.
// Past the end of its data the MQ decoder stops reading (it sees a marker)
// and decodes 1-bits for ever, so a loop driven by a large region size over a
// few bytes would otherwise run for minutes; see kMqDecisionsPerByte and
// kMqDecisionsAfterMarker.
#pragma once

#include <cstdint>

#include "common/bit_reader.h"
#include "common/limits.h"
#include "common/mq_coder.h"
#include "common/messages.h"

namespace jb2dec {

class RegionBudget {
 public:
  // `mq`: the MQ decoder of an arithmetic loop that no other stream restarts
  // while it runs. Once that decoder has met the end of its data (a marker,
  // or bytes past the end, which read as one), only the last bytes before it
  // can still carry decisions, so the loop may spend little more.
  explicit RegionBudget(const DECODER* input, const MQDECODER* mq = nullptr)
      : input_(input),
        mq_(mq),
        limit_(2 * kMqDecisionsPerByte * (static_cast<uint64_t>(input->pEnd - input->pCur) + kMqSlackBytes)) {}

  // True while the loop may go on; prints one error when it may not.
  bool Allows() {
    if (stopped_) return false;
    bool filler = false;  // junk 1-bits from here on
    if (mq_ && mq_->bMarker) {
      if (!marked_) {
        marked_ = true;
        markDecisions_ = decisions_;
      }
      filler = decisions_ - markDecisions_ > kMqDecisionsAfterMarker;
    }
    if (!filler && spent_ <= limit_ && input_->nPastEnd <= kMaxPastEndBytes) return true;
    PrintError("Region Data Exhausted: Decoding Stopped");
    stopped_ = true;
    return false;
  }
  // One unit per row and per MQ decision.
  void Spend(uint64_t units) {
    spent_ += units;
    decisions_ += units;
  }
  // Units of work that are not decisions of the loop's own MQ stream (pixels
  // drawn or copied, bitmaps that another loop decodes).
  void SpendWork(uint64_t units) { spent_ += units; }

 private:
  const DECODER* input_;
  const MQDECODER* mq_;
  uint64_t limit_;
  uint64_t spent_ = 0;
  uint64_t decisions_ = 0;
  bool stopped_ = false;
  bool marked_ = false;
  uint64_t markDecisions_ = 0;
};

}  // namespace jb2dec
