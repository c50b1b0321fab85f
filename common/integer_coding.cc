// Integer arithmetic coding (T.88 A.2, the IAx procedures) and symbol
// identifier coding (T.88 A.3, IAID) over the MQ coder.
#include "common/integer_coding.h"

#include <limits>
#include <new>

#include "common/limits.h"
#include "common/messages.h"
#include "kernels/mq_decisions.h"

namespace {

constexpr unsigned long kIaContexts = 512;  // 9-bit PREV of T.88 A.2

// The value ranges of T.88 Table A.1: prefix length (number of 1 bits before
// the terminating 0, none for the last range), bits of V - start, start.
struct IntRange {
  int prefixOnes;
  int bits;
  uint32_t start;
};
constexpr IntRange kRanges[] = {{0, 2, 0},   {1, 4, 4},     {2, 6, 20},
                                {3, 8, 84},  {4, 12, 340},  {5, 32, 4436}};
constexpr int kNumRanges = sizeof(kRanges) / sizeof(kRanges[0]);

// PREV update of T.88 A.2 (kept to nine bits once it reaches 256) or plain
// shifting for IAID (A.3).
inline uint32_t NextPrev(const IAPROC* proc, uint32_t prev, int d) {
  if (prev >= 256 && !proc->bIAID) return (((prev << 1) | static_cast<uint32_t>(d)) & 511) | 256;
  return (prev << 1) | static_cast<uint32_t>(d);
}

inline void EncodeIntBit(IAPROC* proc, int d) {
  const uint32_t cx = proc->ulPrev;
  MQEncodeInline(proc->pEncoder, d, &proc->Contexts.pIndex[cx], &proc->Contexts.pMPS[cx]);
  proc->ulPrev = NextPrev(proc, cx, d);
}

// One integer's decisions with the coder's registers and PREV held locally
// (stores through the context arrays could otherwise alias them).
class IntDecoder {
 public:
  explicit IntDecoder(IAPROC* proc)
      : proc_(proc), dec_(proc->pDecoder), regs_(MQLoadRegs(dec_)), index_(proc->Contexts.pIndex),
        mps_(proc->Contexts.pMPS) {}
  ~IntDecoder() {
    MQStoreRegs(dec_, regs_);
    proc_->ulPrev = prev_;
  }
  IntDecoder(const IntDecoder&) = delete;
  IntDecoder& operator=(const IntDecoder&) = delete;

  int Bit() {
    const uint32_t cx = prev_;
    const int d = MQDecodeRegs(dec_, regs_, index_ + cx, mps_ + cx);
    prev_ = NextPrev(proc_, cx, d);
    return d;
  }
  // The next `count` decisions as a number, the first the most significant.
  uint32_t Bits(int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) value = (value << 1) | static_cast<uint32_t>(Bit());
    return value;
  }

 private:
  IAPROC* proc_;
  MQDECODER* dec_;
  MQRegs regs_;
  unsigned char* index_;
  unsigned char* mps_;
  uint32_t prev_ = 1;
};

// Codes the low `count` bits of `value`, most significant first.
void EncodeIntBits(IAPROC* proc, uint32_t value, int count) {
  for (int i = count - 1; i >= 0; --i) EncodeIntBit(proc, static_cast<int>((value >> i) & 1));
}


}  // namespace

void CreateMQInt(MQINT* ia, unsigned long codeLen, void* coder) {
  // A symbol identifier never has more bits than a symbol count (32); the
  // callers bound the count far lower (kMaxSymbolCodeLen).
  JB2_DCHECK(codeLen <= kMaxSymbolCodeLen);
  if (codeLen > kMaxSymbolCodeLen) codeLen = kMaxSymbolCodeLen;
  for (int i = 0; i < kNumIntProcs; ++i) {
    IAPROC* proc = &ia->Proc[i];
    proc->pEncoder = static_cast<MQENCODER*>(coder);
    proc->pDecoder = static_cast<MQDECODER*>(coder);
    proc->ulPrev = 1;
    if (i == kIAID) {
      proc->bIAID = 1;
      proc->lCodeLen = static_cast<uint32_t>(codeLen);
    } else {
      proc->bIAID = 0;
      proc->lCodeLen = 0;
    }
    proc->Contexts = MQBUFFER{};
  }
  try {
    for (int i = 0; i < kNumIntProcs; ++i)
      CreateMQBuffer(&ia->Proc[i].Contexts, i == kIAID ? 1UL << codeLen : kIaContexts);
  } catch (const std::bad_alloc&) {
    DestroyMQInt(ia);
    throw;
  }
}

void DestroyMQInt(MQINT* ia) {
  for (int i = 0; i < kNumIntProcs; ++i) DestroyMQBuffer(&ia->Proc[i].Contexts);
}

void MQEncodeInt(IAPROC* proc, long value) {
  proc->ulPrev = 1;
  if (proc->bIAID) {
    JB2_DCHECK(value >= 0 && static_cast<unsigned long>(value) >> proc->lCodeLen == 0);
    EncodeIntBits(proc, static_cast<uint32_t>(value), static_cast<int>(proc->lCodeLen));
    return;
  }
  // Values are signed 32-bit numbers; beyond that the 32-bit range field
  // could not carry them.
  JB2_DCHECK(value >= std::numeric_limits<int32_t>::min() && value <= std::numeric_limits<int32_t>::max());
  EncodeIntBit(proc, value < 0 ? 1 : 0);
  const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  int r = 0;
  while (r + 1 < kNumRanges && magnitude >= kRanges[r + 1].start) ++r;
  for (int i = 0; i < kRanges[r].prefixOnes; ++i) EncodeIntBit(proc, 1);
  if (r + 1 < kNumRanges) EncodeIntBit(proc, 0);
  EncodeIntBits(proc, static_cast<uint32_t>(magnitude - kRanges[r].start), kRanges[r].bits);
}

void MQEncodeOOB(IAPROC* proc) {
  JB2_DCHECK(!proc->bIAID);
  proc->ulPrev = 1;
  EncodeIntBit(proc, 1);
  EncodeIntBits(proc, 0, 3);
}

int32_t MQDecodeInt(IAPROC* proc, int* oob) {
  if (oob) *oob = 0;
  IntDecoder in(proc);
  if (proc->bIAID) return static_cast<int32_t>(in.Bits(static_cast<int>(proc->lCodeLen)));
  const int sign = in.Bit();
  int r = 0;
  while (r + 1 < kNumRanges && in.Bit()) ++r;
  const int64_t magnitude = int64_t{kRanges[r].start} + in.Bits(kRanges[r].bits);
  if (sign && magnitude == 0) {
    if (oob) *oob = 1;
    return 0;
  }
  // The last range reaches 4436 + 2^32 - 1, beyond 32 bits: such values
  // only come from damaged streams and are held at the nearest 32-bit value
  // instead of wrapping around to the opposite sign.
  const int64_t value = sign ? -magnitude : magnitude;
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}
