// Fuzz target over the whole decode path through the embedding interface:
// a standalone file, or, when the data lacks the file header, an embedded
// page stream; every page decoded with bitmaps capped far below the
// library's own limit so that runs stay short. Nothing is printed.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/segment_header.h"
#include "include/jbig2codec/jb2_decode.h"

namespace {
// Pages and regions above this many pixels are refused, as the program
// refuses those above kMaxBitmapPixels.
constexpr uint64_t kFuzzMaxPixels = uint64_t{1} << 20;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  jb2_decoder* decoder = nullptr;
  if (jb2_decoder_create(&decoder) != JB2_OK) return 0;
  jb2_decoder_set_limits(decoder, kFuzzMaxPixels, kFuzzMaxPixels);
  const bool standalone = size >= kFileIdLength && std::memcmp(data, kFileIdString, kFileIdLength) == 0;
  const jb2_status opened =
      standalone || size == 0 ? jb2_decoder_open(decoder, data, size) : jb2_decoder_open_embedded(decoder, data, size, nullptr, 0);
  if (opened == JB2_OK || opened == JB2_DAMAGED) {
    for (uint32_t i = 0; i < jb2_decoder_page_count(decoder); ++i) {
      jb2_page page;
      (void)jb2_decoder_decode_page(decoder, i, &page);
    }
  }
  jb2_decoder_destroy(decoder);
  return 0;
}
