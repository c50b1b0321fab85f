// Fuzz target for the encoder's front: a BMP file and the section words of a
// command line, as transc takes them.
//
// Input layout: a 16-bit little-endian length n, then n bytes of section
// words (separated by newlines, parsed as ParameterAnalysis parses transc's
// arguments), then the BMP file. When the file loads and its page is small
// enough, Transcode codes it into a temporary file, which is then removed.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/bitmap.h"
#include "encoder/transclib.h"

namespace {
// Pages above this many pixels are skipped so that runs stay short; the
// loader's own limits are exercised all the same.
constexpr uint64_t kFuzzMaxPagePixels = uint64_t{1} << 17;
constexpr size_t kMaxWords = 16;

std::string OutputName() {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/encode_fuzzer_" + std::to_string(getpid()) + ".jb2";
}
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
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  const long nSections = words.empty() ? 1 : static_cast<long>(words.size());
  PARAMETER* sections = static_cast<PARAMETER*>(std::calloc(static_cast<size_t>(nSections), sizeof(PARAMETER)));
  ParameterAnalysis(static_cast<long>(words.size()), argv.data(), sections);

  const std::string output = OutputName();
  Transcode(&image, 1, sections, nSections, output.c_str());
  std::remove(output.c_str());

  FreeParameters(nSections, sections);
  std::free(sections);
  DestroyBMP(&image);
  return 0;
}
