// Times the MQ coder's fast and plain paths on page-like decisions: many
// contexts, most of them heavily skewed.
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "common/mq_coder.h"
#include "kernels/mq_decisions.h"

namespace {

void AppendByte(void* param, int byte) { static_cast<std::vector<unsigned char>*>(param)->push_back(static_cast<unsigned char>(byte)); }

struct Source {
  const std::vector<unsigned char>* bytes;
  size_t pos;
};
int NextByte(void* param) {
  auto* s = static_cast<Source*>(param);
  return s->pos < s->bytes->size() ? (*s->bytes)[s->pos++] : 0xFF;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  // Optional argument: run only variant 0 (wrapper), 1 (locals) or 2 (plain).
  const int only = argc > 1 ? argv[1][0] - '0' : -1;
  constexpr size_t kDecisions = 20000000;
  constexpr unsigned kContexts = 65536;
  std::mt19937 rng(1);
  std::vector<unsigned short> cx(kDecisions);
  std::vector<unsigned char> d(kDecisions);
  std::vector<float> p(kContexts);
  for (auto& v : p) v = static_cast<float>(std::uniform_real_distribution<double>(0, 1)(rng) < 0.9 ? 0.02 : 0.4);
  for (size_t i = 0; i < kDecisions; ++i) {
    cx[i] = static_cast<unsigned short>(rng() % 2048);
    d[i] = std::uniform_real_distribution<float>(0, 1)(rng) < p[cx[i]];
  }
  MQBUFFER store;
  CreateMQBuffer(&store, kContexts);
  std::vector<unsigned char> out;
  out.reserve(kDecisions / 4);
  static const char* const kNames[] = {"wrapper", "locals", "plain"};
  for (int round = 0; round < 3; ++round) {
    const int variant = round % 3;
    if (only >= 0 && variant != only) continue;
    const bool plain = variant == 2;
    out.clear();
    ResetMQBuffer(&store, kContexts);
    MQENCODER enc{};
    MQSetOutFunction(&enc, AppendByte, &out);
    MQInitEnc(&enc);
    auto t0 = std::chrono::steady_clock::now();
    if (variant == 1) {
      MQRegs r = MQLoadRegs(&enc);
      for (size_t i = 0; i < kDecisions; ++i) MQEncodeRegs(&enc, r, d[i], &store.pIndex[cx[i]], &store.pMPS[cx[i]]);
      MQStoreRegs(&enc, r);
    } else {
      for (size_t i = 0; i < kDecisions; ++i) {
        if (plain) {
          MQEncodePlain(&enc, d[i], &store.pIndex[cx[i]], &store.pMPS[cx[i]]);
        } else {
          MQEncode(&enc, d[i], &store.pIndex[cx[i]], &store.pMPS[cx[i]]);
        }
      }
    }
    MQFlush(&enc);
    const double te = Seconds(t0);
    ResetMQBuffer(&store, kContexts);
    Source src{&out, 0};
    MQDECODER dec{};
    MQSetInFunction(&dec, NextByte, &src);
    MQInitDec(&dec);
    size_t wrong = 0;
    t0 = std::chrono::steady_clock::now();
    if (variant == 1) {
      MQRegs r = MQLoadRegs(&dec);
      for (size_t i = 0; i < kDecisions; ++i) wrong += MQDecodeRegs(&dec, r, &store.pIndex[cx[i]], &store.pMPS[cx[i]]) != d[i];
      MQStoreRegs(&dec, r);
    }
    for (size_t i = 0; variant != 1 && i < kDecisions; ++i) {
      const int got = plain ? MQDecodePlain(&dec, &store.pIndex[cx[i]], &store.pMPS[cx[i]])
                            : MQDecode(&dec, &store.pIndex[cx[i]], &store.pMPS[cx[i]]);
      wrong += got != d[i];
    }
    const double td = Seconds(t0);
    std::printf("%s: %zu bytes, encode %.1f Mdec/s, decode %.1f Mdec/s, %zu wrong\n", kNames[variant],
                out.size(), kDecisions / te / 1e6, kDecisions / td / 1e6, wrong);
  }
  DestroyMQBuffer(&store);
  return 0;
}
