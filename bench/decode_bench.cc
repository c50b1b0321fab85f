// Decoding speed: decode_bench FILE.jb2 ... decodes each file repeatedly for
// about a second and prints the page megapixels decoded per second.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "bench/decode_once.h"
#include "decoder/untransclib.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: decode_bench FILE.jb2 ...\n");
    return 1;
  }
  for (int a = 1; a < argc; ++a) {
    std::ifstream in(argv[a], std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto start = std::chrono::steady_clock::now();
    double pixels = 0, seconds = 0;
    int runs = 0;
    do {
      pixels += DecodeOnce(bytes);
      ++runs;
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    } while (seconds < 1.0);
    std::printf("%-50s %6d runs %9.2f Mpixel/s\n", argv[a], runs, pixels / seconds / 1e6);
  }
  return 0;
}
