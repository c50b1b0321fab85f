// The encoder's embedding interface: an encoder object holding its section
// words and message callback, coding pages held in memory into memory.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "common/bitmap.h"
#include "common/limits.h"
#include "common/messages.h"
#include "encoder/document_coder.h"
#include "encoder/embedded_streams.h"
#include "encoder/parameters.h"
#include "encoder/pdf_writer.h"
#include "encoder/transcode.h"
#include "include/jbig2codec/jb2_encode.h"

// The pages of each group with a shared dictionary of its own, unless the
// caller chooses: the README's figures weigh the bytes more groups cost
// against the memory one group for a whole long document takes (its first
// pass keeps a hash of every mark of every page).
constexpr uint32_t kDefaultDictPages = 20;

struct jb2_encoder {
  jb2msg::Sink sink;
  std::vector<PARAMETER> sections;  // empty: one generic region over the page
  jb2_progress_fn progress = nullptr;
  void* progressUser = nullptr;
  unsigned threads = 0;  // 0: as many as the machine has
  uint32_t dictPages = kDefaultDictPages;

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
    // Advice on modes that common readers mis-read, as transc gives it for
    // every output it writes.
    char advice[1024];
    for (PARAMETER& record : records)
      if (PortabilityAdvice(&record, advice, sizeof advice)) PrintWarning(advice);
    FreeParameters(static_cast<long>(encoder->sections.size()), encoder->sections.data());
    encoder->sections = std::move(records);
  } catch (const std::bad_alloc&) {
    return JB2_ERROR_NO_MEMORY;
  }
  return JB2_OK;
}

void jb2_encoder_set_threads(jb2_encoder* encoder, unsigned threads) {
  if (encoder) encoder->threads = threads;
}

void jb2_encoder_set_dict_pages(jb2_encoder* encoder, uint32_t pages) {
  if (encoder) encoder->dictPages = pages;
}

void jb2_encoder_set_progress(jb2_encoder* encoder, jb2_progress_fn callback, void* user) {
  if (!encoder) return;
  encoder->progress = callback;
  encoder->progressUser = user;
}

namespace {

// A malloc'ed copy of n bytes for the caller.
jb2_status HandOut(const void* bytes, size_t n, unsigned char** data, size_t* size) {
  auto* out = static_cast<unsigned char*>(std::malloc(n ? n : 1));
  if (!out) return JB2_ERROR_NO_MEMORY;
  if (n) std::memcpy(out, bytes, n);
  *data = out;
  *size = n;
  return JB2_OK;
}

jb2_status ValidImage(const jb2_image& image) {
  if (!image.rows || image.width == 0 || image.height == 0 || image.stride < (size_t{image.width} + 7) / 8)
    return JB2_ERROR_ARGUMENT;
  // The same bounds as for a BMP file the program loads.
  if (image.width > kMaxBmpDimension || image.height > kMaxBmpDimension ||
      StoredBitmapPixels(image.width, image.height) > kMaxBitmapPixels)
    return JB2_ERROR_LIMIT;
  return JB2_OK;
}

jb2_status StatusOf(int transcode) {
  switch (transcode) {
    case kTranscodeDone: return JB2_OK;
    case kTranscodeRefused: return JB2_ERROR_REFUSED;
    case kTranscodeOutOfMemory: return JB2_ERROR_NO_MEMORY;
    case kTranscodeOutputFailed: return JB2_ERROR_OUTPUT;
    case kTranscodeCheckFailed: return JB2_ERROR_INTERNAL;
    default: return JB2_ERROR_ARGUMENT;
  }
}

}  // namespace

struct jb2_document {
  jb2_encoder* encoder = nullptr;
  std::unique_ptr<DocumentCoder> coder;
};

jb2_status jb2_document_begin(jb2_encoder* encoder, uint32_t pages, jb2_output_kind kind, jb2_output_fn output,
                              void* user, jb2_document** document) {
  if (document) *document = nullptr;
  if (!encoder || !document || !output || pages == 0 || kind < JB2_OUTPUT_FILE || kind > JB2_OUTPUT_EMBEDDED)
    return JB2_ERROR_ARGUMENT;
  jb2msg::ScopedSink scope(&encoder->sink);
  try {
    auto doc = std::make_unique<jb2_document>();
    doc->encoder = encoder;
    PageProgress progress;
    if (encoder->progress) {
      progress = [encoder](uint32_t page, uint32_t count) { encoder->progress(encoder->progressUser, page, count); };
    }
    const OutputKind to = kind == JB2_OUTPUT_PDF ? OutputKind::kPdf
                          : kind == JB2_OUTPUT_EMBEDDED ? OutputKind::kEmbedded
                                                        : OutputKind::kFile;
    auto sink = [output, user](uint32_t stream, const unsigned char* data, size_t size) {
      return output(user, stream, data, size) == 0;
    };
    const int status = DocumentCoder::Create(encoder->sections.data(), static_cast<long>(encoder->sections.size()),
                                             pages, to, sink, progress, encoder->threads, &doc->coder,
                                             encoder->dictPages);
    if (status != kTranscodeDone) return StatusOf(status);
    *document = doc.release();
  } catch (const std::bad_alloc&) {
    return JB2_ERROR_NO_MEMORY;
  }
  return JB2_OK;
}

jb2_status jb2_document_add_page(jb2_document* document, const jb2_image* page) {
  if (!document || !page) return JB2_ERROR_ARGUMENT;
  if (const jb2_status s = ValidImage(*page); s != JB2_OK) return s;
  jb2msg::ScopedSink scope(&document->encoder->sink);
  BMP copy{};
  if (!CopyPage(page->rows, page->width, page->height, page->stride, page->x_resolution, page->y_resolution, &copy))
    return JB2_ERROR_NO_MEMORY;
  return StatusOf(document->coder->AddPage(&copy, true));
}

int jb2_document_shares_symbols(const jb2_document* document) {
  return document && document->coder->SharesSymbols() ? 1 : 0;
}

uint32_t jb2_document_dict_pages(const jb2_document* document) {
  return document ? document->coder->GroupPages() : 0;
}

jb2_status jb2_document_scan_page(jb2_document* document, const jb2_image* page) {
  if (!document || !page) return JB2_ERROR_ARGUMENT;
  if (const jb2_status s = ValidImage(*page); s != JB2_OK) return s;
  if (!document->coder->SharesSymbols()) return JB2_OK;
  jb2msg::ScopedSink scope(&document->encoder->sink);
  BMP copy{};
  if (!CopyPage(page->rows, page->width, page->height, page->stride, page->x_resolution, page->y_resolution, &copy))
    return JB2_ERROR_NO_MEMORY;
  return StatusOf(document->coder->ScanPage(&copy, true));
}

jb2_status jb2_document_finish(jb2_document* document) {
  if (!document) return JB2_ERROR_ARGUMENT;
  jb2_status s;
  {
    jb2msg::ScopedSink scope(&document->encoder->sink);
    s = StatusOf(document->coder->Finish());
  }
  jb2_document_cancel(document);
  return s;
}

void jb2_document_cancel(jb2_document* document) {
  if (!document) return;
  jb2msg::ScopedSink scope(&document->encoder->sink);
  delete document;
}

namespace {

// The pages into one output in *bytes (stream 0; embedded streams are not
// asked for here).
jb2_status CodeDocument(jb2_encoder* encoder, const jb2_image* images, uint32_t count, jb2_output_kind kind,
                        std::string* bytes) {
  if (!encoder || !images || count == 0) return JB2_ERROR_ARGUMENT;
  for (uint32_t i = 0; i < count; ++i)
    if (const jb2_status s = ValidImage(images[i]); s != JB2_OK) return s;
  auto append = [](void* user, uint32_t, const unsigned char* data, size_t size) {
    try {
      static_cast<std::string*>(user)->append(reinterpret_cast<const char*>(data), size);
    } catch (const std::bad_alloc&) {
      return 1;
    }
    return 0;
  };
  jb2_document* doc = nullptr;
  jb2_status s = jb2_document_begin(encoder, count, kind, append, bytes, &doc);
  // The caller holds every page: a first pass over each group, just before
  // its pages, spares the document copies and holds one group's findings.
  const uint32_t group = s == JB2_OK ? jb2_document_dict_pages(doc) : count;
  for (uint32_t from = 0; s == JB2_OK && from < count; from += group) {
    const uint32_t to = count - from > group ? from + group : count;
    for (uint32_t i = from; s == JB2_OK && jb2_document_shares_symbols(doc) && i < to; ++i)
      s = jb2_document_scan_page(doc, &images[i]);
    for (uint32_t i = from; s == JB2_OK && i < to; ++i) s = jb2_document_add_page(doc, &images[i]);
  }
  if (s != JB2_OK) {
    jb2_document_cancel(doc);
    return s;
  }
  s = jb2_document_finish(doc);
  return s == JB2_ERROR_OUTPUT ? JB2_ERROR_NO_MEMORY : s;  // only the string can refuse
}

}  // namespace

jb2_status jb2_encode_document(jb2_encoder* encoder, const jb2_image* pages, uint32_t count, unsigned char** data,
                               size_t* size) {
  if (data) *data = nullptr;
  if (size) *size = 0;
  if (!data || !size) return JB2_ERROR_ARGUMENT;
  if (!encoder) return JB2_ERROR_ARGUMENT;
  try {
    std::string bytes;
    const jb2_status s = CodeDocument(encoder, pages, count, JB2_OUTPUT_FILE, &bytes);
    return s == JB2_OK ? HandOut(bytes.data(), bytes.size(), data, size) : s;
  } catch (const std::bad_alloc&) {
    return JB2_ERROR_NO_MEMORY;
  }
}

jb2_status jb2_encode_pdf(jb2_encoder* encoder, const jb2_image* pages, uint32_t count, unsigned char** data,
                          size_t* size) {
  if (data) *data = nullptr;
  if (size) *size = 0;
  if (!data || !size || !encoder) return JB2_ERROR_ARGUMENT;
  try {
    std::string bytes;
    const jb2_status s = CodeDocument(encoder, pages, count, JB2_OUTPUT_PDF, &bytes);
    return s == JB2_OK ? HandOut(bytes.data(), bytes.size(), data, size) : s;
  } catch (const std::bad_alloc&) {
    return JB2_ERROR_NO_MEMORY;
  }
}

jb2_status jb2_split_embedded(const unsigned char* file, size_t size, jb2_buffer* globals, jb2_buffer** pages,
                              uint32_t* count) {
  if (globals) *globals = jb2_buffer{};
  if (pages) *pages = nullptr;
  if (count) *count = 0;
  if (!file || !globals || !pages || !count) return JB2_ERROR_ARGUMENT;
  try {
    jb2pdf::EmbeddedDocument doc;
    if (!jb2pdf::SplitFile(file, size, &doc)) return JB2_ERROR_NOT_JBIG2;
    auto* array = static_cast<jb2_buffer*>(std::calloc(doc.pages.size() ? doc.pages.size() : 1, sizeof(jb2_buffer)));
    if (!array) return JB2_ERROR_NO_MEMORY;
    auto release = [&] {
      for (size_t i = 0; i < doc.pages.size(); ++i) std::free(array[i].data);
      std::free(array);
      std::free(globals->data);
      *globals = jb2_buffer{};
    };
    auto give = [](const std::string& s, jb2_buffer* b) { return HandOut(s.data(), s.size(), &b->data, &b->size); };
    jb2_status s = give(doc.globals, globals);
    for (size_t i = 0; s == JB2_OK && i < doc.pages.size(); ++i) s = give(doc.pages[i].segments, &array[i]);
    if (s != JB2_OK) {
      release();
      return s;
    }
    *pages = array;
    *count = static_cast<uint32_t>(doc.pages.size());
    return JB2_OK;
  } catch (const std::bad_alloc&) {
    return JB2_ERROR_NO_MEMORY;
  }
}

jb2_status jb2_encode_page(jb2_encoder* encoder, const unsigned char* rows, uint32_t width, uint32_t height,
                           size_t stride, uint32_t x_resolution, uint32_t y_resolution, unsigned char** data,
                           size_t* size) {
  if (data) *data = nullptr;
  if (size) *size = 0;
  const jb2_image image{rows, width, height, stride, x_resolution, y_resolution};
  return jb2_encode_document(encoder, &image, 1, data, size);
}
