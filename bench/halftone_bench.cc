// Halftone decoding speed: codes a 2480 x 3504 page of gray ramps (A4 at
// 300 dpi) as one halftone section, arithmetic and MMR, then decodes each
// file repeatedly for about a second and prints page megapixels per second,
// beside jbig2dec on the same file when it is installed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "bench/decode_once.h"
#include "decoder/untransclib.h"
#include "encoder/transclib.h"

namespace {

constexpr uint32_t kWidth = 2480, kHeight = 3504;

void MakeGrayPage(BMP* page) {
  CreateBMP(page, kWidth, kHeight, 0);
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (uint32_t y = 0; y < kHeight; ++y)
    for (uint32_t x = 0; x < kWidth; ++x)
      if (u(rng) < ((x / 8 + y / 16) % 64) / 63.0) page->pData[y * page->lStride + x / 8] |= 0x80 >> (x % 8);
}


template <typename F>
double MegapixelsPerSecond(F&& decode) {
  auto start = std::chrono::steady_clock::now();
  double pixels = 0, seconds = 0;
  do {
    pixels += decode();
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  } while (seconds < 1.0);
  return pixels / seconds / 1e6;
}

}  // namespace

int main() {
  const bool peer = std::system("command -v jbig2dec >/dev/null 2>&1") == 0;
  const char* const options[][2] = {{"arithmetic", "ht"}, {"arithmetic-skip-t2", "ht template=2 skip"}, {"mmr", "ht mmr"}};
  for (const auto& option : options) {
    BMP page;
    MakeGrayPage(&page);
    std::string word = option[1];
    std::vector<char> text(word.begin(), word.end());
    text.push_back('\0');
    char* words[] = {text.data()};
    PARAMETER section{};
    ParameterAnalysis(1, words, &section);
    std::string path = std::string("/tmp/halftone_bench_") + option[0] + ".jb2";
    if (Transcode(&page, 1, &section, 1, path.c_str()) != 0) return 1;
    FreeParameters(1, &section);
    DestroyBMP(&page);

    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    double ours = MegapixelsPerSecond([&] { return DecodeOnce(bytes); });
    std::printf("%-20s %8zu bytes  ours %8.2f Mpixel/s", option[0], bytes.size(), ours);
    if (peer) {
      std::string command = "jbig2dec -t pbm -o /dev/null " + path + " >/dev/null 2>&1";
      double theirs = MegapixelsPerSecond([&] {
        return std::system(command.c_str()) == 0 ? double{kWidth} * kHeight : 0.0;
      });
      std::printf("  jbig2dec %8.2f Mpixel/s (with process start)", theirs);
    }
    std::printf("\n");
    std::remove(path.c_str());
  }
  return 0;
}
