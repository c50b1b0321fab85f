// Encoding speed of whole pages: examples/sample.bmp (1100 x 1700) and a
// 300 dpi letter page (2550 x 3300) tiled from it, with the default generic
// settings, with MMR, and as text sections ("sr", "sr:huff",
// "sr:sbrefine=0", "sr:refdict"). Prints megapixels per second, the best
// encoding time and output bytes.
//   encode_bench [SAMPLE.bmp] [REPEATS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "encoder/encode_state.h"
#include "encoder/transclib.h"

namespace {

// Tiles `src` over a width x height page, row by row and pixel by pixel, so
// the page is the same on every run.
void TilePage(const BMP* src, uint32_t width, uint32_t height, BMP* dst) {
  CreateBMP(dst, width, height, 0);
  for (uint32_t y = 0; y < height; ++y) {
    const unsigned char* s = src->pData + static_cast<size_t>(y % src->lHeight) * src->lStride;
    unsigned char* d = dst->pData + static_cast<size_t>(y) * dst->lStride;
    for (uint32_t x = 0; x < width; ++x) {
      uint32_t sx = x % src->lWidth;
      if (s[sx >> 3] & (0x80 >> (sx & 7))) d[x >> 3] |= static_cast<unsigned char>(0x80 >> (x & 7));
    }
  }
}

struct Result {
  double seconds = 0;
  uintmax_t bytes = 0;
};

Result Run(BMP* page, int32_t type, const char* keyword, int32_t value, const std::string& out, int repeats) {
  Result best{1e30, 0};
  for (int r = 0; r < repeats; ++r) {
    PARAMETER section{};
    section.lType = type;
    char* keys[1] = {const_cast<char*>(keyword)};
    int32_t values[1] = {value};
    if (keyword) {
      section.nKeys = 1;
      section.ppszKeys = keys;
      section.plValues = values;
    }
    auto start = std::chrono::steady_clock::now();
    if (Transcode(page, 1, &section, 1, out.c_str()) != 0) std::exit(1);
    std::chrono::duration<double> t = std::chrono::steady_clock::now() - start;
    best.seconds = std::min(best.seconds, t.count());
    best.bytes = std::filesystem::file_size(out);
  }
  return best;
}

// Seconds to code `page` with template 0 by the whole-byte row coder or the
// per-pixel one (best of `repeats`), without segment assembly or file output.
double TimeRegion(BMP* page, bool plain, int repeats) {
  ENCODE_STATE state{};
  CreateEncoder(&state.Encoder, kEncoderStartCapacity);
  MQSetOutFunction(&state.MQEncoder, MQMainOut, &state.Encoder);
  CreateMQBuffer(&state.GenericContexts, kContextStoreSize);
  GRPARAM param{};
  param.pState = &state;
  const int32_t atx[4] = {3, -3, 2, -2}, aty[4] = {-1, -1, -2, -2};
  for (int k = 0; k < 4; ++k) {
    param.alATX[k] = atx[k];
    param.alATY[k] = aty[k];
  }
  double best = 1e30;
  for (int r = 0; r < repeats; ++r) {
    auto start = std::chrono::steady_clock::now();
    InitEncoder(&state.Encoder);
    ResetMQBuffer(&state.GenericContexts, kContextStoreSize);
    MQInitEnc(&state.MQEncoder);
    if (plain) EncodeGenericRegionPlain(&param, page);
    else EncodeGenericRegion(&param, page);
    MQFlush(&state.MQEncoder);
    std::chrono::duration<double> t = std::chrono::steady_clock::now() - start;
    best = std::min(best, t.count());
  }
  DestroyMQBuffer(&state.GenericContexts);
  DestroyEncoder(&state.Encoder);
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  std::string samplePath = argc > 1 ? argv[1] : "examples/sample.bmp";
  int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  BMP sample{};
  if (LoadBMP(samplePath.c_str(), &sample) != 0) {
    std::fprintf(stderr, "cannot load %s\n", samplePath.c_str());
    return 1;
  }
  BMP letter{};
  TilePage(&sample, 2550, 3300, &letter);
  std::string out = (std::filesystem::temp_directory_path() / "encode_bench.jb2").string();
  struct Page {
    const char* name;
    BMP* bmp;
  } pages[] = {{"sample 1100x1700", &sample}, {"letter 2550x3300", &letter}};
  struct Mode {
    const char* name;
    int32_t type;
    const char* keyword;
    int32_t value;
  } modes[] = {{"generic template 0", 0, nullptr, 0}, {"generic mmr", 0, "mmr", 1},
               {"sr", 1, nullptr, 0},                 {"sr:huff", 1, "huff", 1},
               {"sr:sbrefine=0", 1, "sbrefine", 0},   {"sr:refdict", 1, "refdict", 1}};
  for (const Page& p : pages) {
    double mpix = static_cast<double>(p.bmp->lWidth) * p.bmp->lHeight / 1e6;
    for (const Mode& m : modes) {
      Result r = Run(p.bmp, m.type, m.keyword, m.value, out, repeats);
      std::printf("%-18s %-20s %8.1f Mpixel/s %8.1f ms %10ju bytes\n", p.name, m.name, mpix / r.seconds,
                  r.seconds * 1e3, r.bytes);
    }
  }
  double mpix = static_cast<double>(letter.lWidth) * letter.lHeight / 1e6;
  std::printf("%-18s %-20s %8.1f Mpixel/s (region coding only)\n", "letter 2550x3300", "template 0 rows",
              mpix / TimeRegion(&letter, false, repeats));
  std::printf("%-18s %-20s %8.1f Mpixel/s (region coding only)\n", "letter 2550x3300", "template 0 per pixel",
              mpix / TimeRegion(&letter, true, repeats));
  std::filesystem::remove(out);
  DestroyBMP(&letter);
  DestroyBMP(&sample);
  return 0;
}
