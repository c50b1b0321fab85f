// The encoder's embedding interface: an encoder object holding its section
// words and message callback, coding pages held in memory into memory.
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "common/bitmap.h"
#include "common/limits.h"
#include "common/messages.h"
#include "encoder/parameters.h"
#include "encoder/transcode.h"
#include "include/jbig2codec/jb2_encode.h"

struct jb2_encoder {
  jb2msg::Sink sink;
  std::vector<PARAMETER> sections;  // empty: one generic region over the page

  ~jb2_encoder() { FreeParameters(static_cast<long>(sections.size()), sections.data()); }
};

namespace {

// CheckParameters' findings, given as the library's messages.
void Report(void*, int bError, const char* text) {
  if (bError) PrintError(text);
  else PrintWarning(text);
}

// The rows copied into a bitmap of our own (the coders clear what they code).
bool CopyPage(const unsigned char* rows, uint32_t width, uint32_t height, size_t stride, uint32_t xRes, uint32_t yRes,
              BMP* page) {
  CreateBMP(page, width, height, 0);
  if (!page->pData) return false;
  const uint32_t bytes = page->lBytesPerRow;
  const unsigned keep = width % 8 ? (0xFF00u >> (width % 8)) & 0xFF : 0xFF;
  for (uint32_t y = 0; y < height; ++y) {
    unsigned char* row = page->pData + static_cast<size_t>(y) * page->lStride;
    std::memcpy(row, rows + y * stride, bytes);
    row[bytes - 1] &= static_cast<unsigned char>(keep);  // bits after the last pixel
  }
  page->lXResolution = xRes;
  page->lYResolution = yRes;
  return true;
}

}  // namespace

jb2_status jb2_encoder_create(jb2_encoder** encoder) {
  if (!encoder) return JB2_ERROR_ARGUMENT;
  *encoder = new (std::nothrow) jb2_encoder;
  return *encoder ? JB2_OK : JB2_ERROR_NO_MEMORY;
}

void jb2_encoder_destroy(jb2_encoder* encoder) { delete encoder; }

void jb2_encoder_set_messages(jb2_encoder* encoder, jb2_message_fn callback, void* user) {
  if (!encoder) return;
  encoder->sink.callback = callback;
  encoder->sink.user = user;
}

jb2_status jb2_encoder_set_sections(jb2_encoder* encoder, int count, const char* const* words) {
  if (!encoder || count < 0 || (count > 0 && !words)) return JB2_ERROR_ARGUMENT;
  try {
    // The parser takes writable words: copies of the caller's.
    std::vector<std::string> copies(words, words + count);
    std::vector<char*> argv;
    for (std::string& w : copies) argv.push_back(w.data());
    std::vector<PARAMETER> records(static_cast<size_t>(count));
    jb2msg::ScopedSink scope(&encoder->sink);
    const int review = !ParseSections(count, argv.data(), records.data()) ? kReviewOutOfMemory
                       : count > 0 ? ReviewSections(count, argv.data(), records.data(), count, Report, nullptr)
                                   : kReviewPassed;
    if (review != kReviewPassed) {
      FreeParameters(count, records.data());
      return review == kReviewRefused ? JB2_ERROR_REFUSED : JB2_ERROR_NO_MEMORY;
    }
    FreeParameters(static_cast<long>(encoder->sections.size()), encoder->sections.data());
    encoder->sections = std::move(records);
  } catch (const std::bad_alloc&) {
    return JB2_ERROR_NO_MEMORY;
  }
  return JB2_OK;
}

jb2_status jb2_encode_page(jb2_encoder* encoder, const unsigned char* rows, uint32_t width, uint32_t height,
                           size_t stride, uint32_t x_resolution, uint32_t y_resolution, unsigned char** data,
                           size_t* size) {
  if (data) *data = nullptr;
  if (size) *size = 0;
  if (!encoder || !rows || !data || !size || width == 0 || height == 0 || stride < (size_t{width} + 7) / 8)
    return JB2_ERROR_ARGUMENT;
  // The same bounds as for a BMP file the program loads.
  if (width > kMaxBmpDimension || height > kMaxBmpDimension || StoredBitmapPixels(width, height) > kMaxBitmapPixels)
    return JB2_ERROR_LIMIT;
  jb2msg::ScopedSink scope(&encoder->sink);
  BMP page{};
  if (!CopyPage(rows, width, height, stride, x_resolution, y_resolution, &page)) return JB2_ERROR_NO_MEMORY;
  std::vector<unsigned char> bytes;
  const int status = TranscodeToMemory(&page, encoder->sections.data(), static_cast<long>(encoder->sections.size()),
                                       &bytes);
  DestroyBMP(&page);
  if (status == kTranscodeRefused) return JB2_ERROR_REFUSED;
  if (status == kTranscodeOutOfMemory) return JB2_ERROR_NO_MEMORY;
  if (status != kTranscodeDone) return JB2_ERROR_ARGUMENT;
  auto* out = static_cast<unsigned char*>(std::malloc(bytes.size()));
  if (!out) return JB2_ERROR_NO_MEMORY;
  std::memcpy(out, bytes.data(), bytes.size());
  *data = out;
  *size = bytes.size();
  return JB2_OK;
}
