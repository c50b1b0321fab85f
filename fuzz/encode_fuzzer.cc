// Fuzz target for the encoder's front: a BMP file and the section words of a
// command line, as transc takes them.
//
// Input layout: a 16-bit little-endian length n, then n bytes of section
// words (separated by newlines, taken as transc takes its arguments), then
// the BMP file. When the file loads and its page is small enough, the
// embedding interface codes it into memory; nothing is printed or written.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/bitmap.h"
#include "include/jbig2codec/jb2_encode.h"

namespace {
// Pages above this many pixels are skipped so that runs stay short; the
// loader's own limits are exercised all the same.
constexpr uint64_t kFuzzMaxPagePixels = uint64_t{1} << 17;
constexpr size_t kMaxWords = 16;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t textLength = data[0] | size_t{data[1]} << 8;
  if (textLength > size - 2) textLength = size - 2;
  const uint8_t* text = data + 2;
  const uint8_t* file = text + textLength;
  const size_t fileSize = size - 2 - textLength;

  BMP image{};
  FILE* stream = fmemopen(const_cast<uint8_t*>(file), fileSize, "rb");
  if (stream == nullptr) return 0;  // glibc refuses an empty buffer
  int loaded = LoadBMPStream(stream, &image);
  std::fclose(stream);
  if (loaded != 0) return 0;
  if (uint64_t{image.lWidth} * image.lHeight > kFuzzMaxPagePixels) {
    DestroyBMP(&image);
    return 0;
  }

  std::vector<std::string> words;
  if (textLength > 0) words.emplace_back();
  for (size_t i = 0; i < textLength; ++i) {
    if (text[i] == '\n') {
      if (words.size() == kMaxWords) break;
      words.emplace_back();
    } else {
      words.back().push_back(static_cast<char>(text[i]));
    }
  }
  std::vector<const char*> argv;
  for (std::string& w : words) argv.push_back(w.c_str());
  jb2_encoder* encoder = nullptr;
  if (jb2_encoder_create(&encoder) == JB2_OK) {
    if (jb2_encoder_set_sections(encoder, static_cast<int>(argv.size()), argv.data()) == JB2_OK) {
      unsigned char* coded = nullptr;
      size_t codedSize = 0;
      (void)jb2_encode_page(encoder, image.pData, image.lWidth, image.lHeight, image.lStride, 0, 0, &coded, &codedSize);
      jb2_free(coded);
    }
    jb2_encoder_destroy(encoder);
  }
  DestroyBMP(&image);
  return 0;
}
