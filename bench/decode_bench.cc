// Decoding speed: decode_bench FILE.jb2 ... decodes each file repeatedly for
// about a second and prints the page megapixels decoded per second.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "decoder/untransclib.h"

namespace {

// Decodes every page once; returns the number of page pixels.
double DecodeOnce(const std::vector<unsigned char>& bytes) {
  JB2FILE file;
  std::memset(&file, 0, sizeof file);
  file.pFileData = bytes.data();
  file.lFileSize = bytes.size();
  if (JB2ParseFile(&file) != 0) return 0;
  UntranscodeGlobal(&file);
  double pixels = 0;
  for (uint32_t i = 0; i < file.nPages; ++i) {
    JB2PAGE* page = &file.pPages[i];
    CreateBMP(&page->Bitmap, page->Info.lWidth, page->Info.lHeight, static_cast<int>(page->Info.lDefaultPixel));
    UntranscodePage(page);
    pixels += static_cast<double>(page->Bitmap.lWidth) * page->Bitmap.lHeight;
    DestroyBMP(&page->Bitmap);
  }
  JB2FreeFile(&file);
  return pixels;
}

}  // namespace

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
