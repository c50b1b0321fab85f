// Allocation failures through the embedding interface: the n-th allocation
// from a chosen point on fails (malloc, calloc and realloc return null,
// operator new throws), for every n up to the number a run makes. Each run
// must come back with a status, never crash; the sanitizer build's leak
// check at exit finds anything a failed run left behind.
//
// Built as its own program, linked with --wrap for the C allocation
// functions, so that every allocation of the library code goes through here.
#include <gtest/gtest.h>

// operator delete here frees what operator new here took from malloc.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

#include <cstddef>
#include <cstdlib>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "include/jbig2codec/jb2_decode.h"
#include "include/jbig2codec/jb2_encode.h"
#include "tests/glyph_grid.h"
#include "tests/page_maker.h"

extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t n, size_t size);
void* __real_realloc(void* p, size_t size);
}

namespace {

long gCountdown = -1;  // allocations left before the failing one; -1: none fails
long gMade = 0;        // allocations made since the count was reset

bool FailNow() {
  ++gMade;
  if (gCountdown < 0) return false;
  return gCountdown-- == 0;
}

}  // namespace

extern "C" {
void* __wrap_malloc(size_t size) { return FailNow() ? nullptr : __real_malloc(size); }
void* __wrap_calloc(size_t n, size_t size) { return FailNow() ? nullptr : __real_calloc(n, size); }
void* __wrap_realloc(void* p, size_t size) { return FailNow() ? nullptr : __real_realloc(p, size); }
}

void* operator new(size_t size) {
  if (FailNow()) throw std::bad_alloc();
  void* p = __real_malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return FailNow() ? nullptr : __real_malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

struct Page {
  Page() { jb2test::MakeTestPage(&bmp, jb2test::PageKind::kText, 300, 120); }
  // Two lines of text in one font, laid out from `seed`, their outlines
  // roughened as a scan's: like marks, not copies.
  Page(uint32_t width, uint32_t seed) {
    CreateBMP(&bmp, width, 80, 0);
    jb2test::DrawTextLines(&bmp, 6, 74, 24, 40 + seed, /*fontSeed=*/5);
    jb2test::AddEdgeNoise(&bmp, 70 + seed);
    bmp.lXResolution = bmp.lYResolution = 11811;  // 300 dpi
  }
  ~Page() { DestroyBMP(&bmp); }
  BMP bmp{};
};

// One encoding run; the file's bytes when it succeeded.
jb2_status EncodeOnce(const Page& page, const char* word, std::vector<unsigned char>* file) {
  jb2_encoder* enc = nullptr;
  jb2_status s = jb2_encoder_create(&enc);
  if (s != JB2_OK) return s;
  s = jb2_encoder_set_sections(enc, 1, &word);
  unsigned char* data = nullptr;
  size_t size = 0;
  if (s == JB2_OK) s = jb2_encode_page(enc, page.bmp.pData, page.bmp.lWidth, page.bmp.lHeight, page.bmp.lStride, 0, 0, &data, &size);
  if (s == JB2_OK && file) file->assign(data, data + size);
  jb2_free(data);
  jb2_encoder_destroy(enc);
  return s;
}

jb2_status DecodeOnce(const std::vector<unsigned char>& file) {
  jb2_decoder* dec = nullptr;
  jb2_status s = jb2_decoder_create(&dec);
  if (s != JB2_OK) return s;
  s = jb2_decoder_open(dec, file.data(), file.size());
  if (s == JB2_OK || s == JB2_DAMAGED) {
    jb2_page page;
    s = jb2_decoder_decode_page(dec, 0, &page);
  }
  jb2_decoder_destroy(dec);
  return s;
}

// Runs `run` once to count its allocations, then once for each of them
// failing; every run must end with one of `allowed`.
template <typename Run>
void FailEachAllocation(Run run, std::vector<jb2_status> allowed, long every = 400) {
  gCountdown = -1;
  gMade = 0;
  ASSERT_EQ(run(), JB2_OK);
  const long total = gMade;
  ASSERT_GT(total, 0);
  // Every allocation of runs up to `every` allocations; an even spread
  // over longer ones.
  const long step = total <= every ? 1 : total / every;
  for (long n = 0; n < total; n += step) {
    gMade = 0;
    gCountdown = n;
    const jb2_status s = run();
    gCountdown = -1;
    bool ok = false;
    for (jb2_status a : allowed) ok = ok || s == a;
    EXPECT_TRUE(ok) << "allocation " << n << " of " << total << " failed: " << jb2_status_name(s);
  }
}

TEST(AllocationFailures, SectionWordsReportOutOfMemory) {
  // Every allocation of parsing, each key of a word included.
  const char* words[] = {"sr:huff:refdict:match=90", "gr:template=1:atx1=2:(0,0,100,50)"};
  FailEachAllocation(
      [&] {
        jb2_encoder* enc = nullptr;
        jb2_status s = jb2_encoder_create(&enc);
        if (s == JB2_OK) s = jb2_encoder_set_sections(enc, 2, words);
        jb2_encoder_destroy(enc);
        return s;
      },
      {JB2_OK, JB2_ERROR_NO_MEMORY});
}

TEST(AllocationFailures, EncodingReportsOutOfMemory) {
  Page page;
  for (const char* word : {"gr", "sr", "sr:huff:refdict", "ht"}) {
    SCOPED_TRACE(word);
    FailEachAllocation([&] { return EncodeOnce(page, word, nullptr); }, {JB2_OK, JB2_ERROR_NO_MEMORY});
  }
  // Rough marks: soft matches refined within the text region (the integer
  // coders' contexts live while the instances are coded). Every allocation.
  const Page rough(150, 0);
  FailEachAllocation([&] { return EncodeOnce(rough, "sr", nullptr); }, {JB2_OK, JB2_ERROR_NO_MEMORY}, 2000);
}

int Append(void* user, uint32_t, const unsigned char* data, size_t size) {
  try {
    static_cast<std::string*>(user)->append(reinterpret_cast<const char*>(data), size);
  } catch (const std::bad_alloc&) {
    return 1;
  }
  return 0;
}

// One document of `pages` coded a page at a time on two threads, after a
// first pass over them with `firstPass`; out of memory also when the
// output string could not grow.
jb2_status CodeDocument(const char* word, jb2_output_kind kind, const std::vector<jb2_image>& pages, bool firstPass) {
  jb2_encoder* enc = nullptr;
  jb2_status s = jb2_encoder_create(&enc);
  if (s != JB2_OK) return s;
  jb2_encoder_set_threads(enc, 2);
  s = jb2_encoder_set_sections(enc, 1, &word);
  std::string out;
  jb2_document* doc = nullptr;
  const uint32_t count = static_cast<uint32_t>(pages.size());
  if (s == JB2_OK) s = jb2_document_begin(enc, count, kind, Append, &out, &doc);
  if (s == JB2_OK && firstPass && !jb2_document_shares_symbols(doc)) s = JB2_ERROR_ARGUMENT;
  for (uint32_t i = 0; s == JB2_OK && firstPass && i < count; ++i) s = jb2_document_scan_page(doc, &pages[i]);
  for (uint32_t i = 0; s == JB2_OK && i < count; ++i) s = jb2_document_add_page(doc, &pages[i]);
  if (s == JB2_OK) s = jb2_document_finish(doc);
  else jb2_document_cancel(doc);
  jb2_encoder_destroy(enc);
  return s == JB2_ERROR_OUTPUT ? JB2_ERROR_NO_MEMORY : s;  // only the string refuses
}

// A document a page at a time on two threads, into each output.
TEST(AllocationFailures, DocumentsReportOutOfMemory) {
  Page page;
  const std::vector<jb2_image> pages(3, {page.bmp.pData, page.bmp.lWidth, page.bmp.lHeight, page.bmp.lStride, 0, 0});
  // The random-access file's data wait in a temporary file; a PDF's pages
  // are split out of each page's segments; the text pages are kept.
  const std::pair<const char*, jb2_output_kind> runs[] = {{"gr", JB2_OUTPUT_FILE}, {"sr", JB2_OUTPUT_PDF}};
  for (const auto& [word, kind] : runs) {
    SCOPED_TRACE(std::string(word) + " " + std::to_string(kind));
    FailEachAllocation([&] { return CodeDocument(word, kind, pages, false); }, {JB2_OK, JB2_ERROR_NO_MEMORY});
  }
}

// A lossy text document of two rough pages set in one font: the classes of
// like marks found across the pages by the first pass, or without it once
// the last page has come, become shared symbols that each page's marks may
// be drawn as.
TEST(AllocationFailures, LossyDocumentsReportOutOfMemory) {
  const Page rough[] = {{300, 0}, {300, 1}};
  std::vector<jb2_image> pages;
  for (const Page& page : rough)
    pages.push_back({page.bmp.pData, page.bmp.lWidth, page.bmp.lHeight, page.bmp.lStride, page.bmp.lXResolution,
                     page.bmp.lYResolution});
  for (const bool firstPass : {true, false}) {
    SCOPED_TRACE(firstPass ? "first pass" : "pages kept");
    FailEachAllocation([&] { return CodeDocument("sr:lossy", JB2_OUTPUT_FILE, pages, firstPass); },
                       {JB2_OK, JB2_ERROR_NO_MEMORY});
  }
}

TEST(AllocationFailures, DecodingReportsOutOfMemoryOrDamage) {
  Page page;
  for (const char* word : {"gr", "sr", "sr:huff:refdict", "gr:mmr"}) {
    SCOPED_TRACE(word);
    std::vector<unsigned char> file;
    ASSERT_EQ(EncodeOnce(page, word, &file), JB2_OK);
    // A bitmap that cannot be had damages the page that needs it.
    FailEachAllocation([&] { return DecodeOnce(file); }, {JB2_OK, JB2_ERROR_NO_MEMORY, JB2_DAMAGED});
  }
}

}  // namespace
