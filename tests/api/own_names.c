/* A host that defines, for its own purposes, a function of every name the
 * libraries export beside the embedding interface (and the interface's
 * names it does not call). The libraries must call their own code, never
 * these: a page and a two-page document go through both libraries and come
 * back exactly, and none of the host's functions is called. */
#include <stdio.h>
#include <string.h>

#include "include/jbig2codec/jb2_decode.h"
#include "include/jbig2codec/jb2_encode.h"

static int calls; /* calls of the host's own functions below */

struct mine {
  int n;
};

#define HOST_OWN(name) \
  int name(struct mine* m) { \
    (void)m;               \
    ++calls;               \
    return 0;              \
  }
HOST_OWN(Transcode)
HOST_OWN(ParameterAnalysis)
HOST_OWN(GetParameterValue)
HOST_OWN(FreeParameters)
HOST_OWN(GetParameterKeywords)
HOST_OWN(CheckParameters)
HOST_OWN(PortabilityAdvice)
HOST_OWN(LoadBMP)
HOST_OWN(LoadPageImage)
HOST_OWN(DestroyBMP)
HOST_OWN(CreateBMP)
HOST_OWN(SaveBMP)
HOST_OWN(JB2ParseFile)
HOST_OWN(JB2FreeFile)
HOST_OWN(UntranscodeGlobal)
HOST_OWN(UntranscodePage)

const char* jb2_version(void) {
  ++calls;
  return "host";
}

enum { kWidth = 96, kHeight = 40, kStride = (kWidth + 7) / 8 };

/* Decodes every page of the file (or of the page stream with its globals)
 * and compares each with `rows`; 1 when all are the same. */
static int DecodesTo(const unsigned char* data, size_t size, const unsigned char* globals, size_t globalsSize,
                     int embedded, const unsigned char* rows, uint32_t pages) {
  jb2_decoder* decoder = NULL;
  if (jb2_decoder_create(&decoder) != JB2_OK) return 0;
  jb2_status s = embedded ? jb2_decoder_open_embedded(decoder, data, size, globals, globalsSize)
                          : jb2_decoder_open(decoder, data, size);
  int same = s == JB2_OK && jb2_decoder_page_count(decoder) == pages;
  for (uint32_t i = 0; same && i < pages; ++i) {
    jb2_page page;
    same = jb2_decoder_decode_page(decoder, i, &page) == JB2_OK && page.width == kWidth && page.height == kHeight;
    for (int y = 0; same && y < kHeight; ++y) same = memcmp(page.pixels + y * page.stride, rows + y * kStride, kStride) == 0;
  }
  jb2_decoder_destroy(decoder);
  return same;
}

int main(void) {
  unsigned char rows[kHeight * kStride];
  memset(rows, 0, sizeof rows);
  for (int y = 8; y < 32; ++y) /* boxes that repeat: text coding makes symbols of them */
    for (int x = 4; x < kWidth - 4; ++x)
      if (x % 12 < 8 && (y < 11 || y > 28 || x % 12 < 2 || x % 12 > 5)) rows[y * kStride + x / 8] |= 0x80 >> (x % 8);

  int ok = 1;
  const char* layouts[][2] = {{"gr", NULL}, {"sr", NULL}, {"gr:(0,0,48,40)", "sr"}, {"ht", NULL}};
  for (int l = 0; l < 4; ++l) {
    const char* const* words = layouts[l];
    const int count = words[1] ? 2 : 1;
    jb2_encoder* encoder = NULL;
    if (jb2_encoder_create(&encoder) != JB2_OK || jb2_encoder_set_sections(encoder, count, words) != JB2_OK) return 1;
    unsigned char* file = NULL;
    size_t size = 0;
    jb2_status s = jb2_encode_page(encoder, rows, kWidth, kHeight, kStride, 0, 0, &file, &size);
    /* halftone coding is lossy: only its decoding is asked for */
    const int lossy = strcmp(words[0], "ht") == 0;
    if (s != JB2_OK || (!lossy && !DecodesTo(file, size, NULL, 0, 0, rows, 1))) {
      fprintf(stderr, "page with %s: %s\n", words[0], jb2_status_name(s));
      ok = 0;
    }
    jb2_free(file);

    /* A document of two equal pages, and its embedded streams. */
    const jb2_image page = {rows, kWidth, kHeight, kStride, 0, 0};
    const jb2_image pages[2] = {page, page};
    s = jb2_encode_document(encoder, pages, 2, &file, &size);
    jb2_buffer globals = {NULL, 0};
    jb2_buffer* streams = NULL;
    uint32_t n = 0;
    if (s == JB2_OK) s = jb2_split_embedded(file, size, &globals, &streams, &n);
    if (s != JB2_OK || (!lossy && (!DecodesTo(file, size, NULL, 0, 0, rows, 2) ||
                                   !DecodesTo(streams[1].data, streams[1].size, globals.data, globals.size, 1, rows, 1)))) {
      fprintf(stderr, "document with %s: %s\n", words[0], jb2_status_name(s));
      ok = 0;
    }
    for (uint32_t i = 0; i < n; ++i) jb2_free(streams[i].data);
    jb2_free(streams);
    jb2_free(globals.data);
    jb2_free(file);
    jb2_encoder_destroy(encoder);
  }
  if (calls != 0) fprintf(stderr, "the libraries called %d of the host's own functions\n", calls);
  return ok && calls == 0 ? 0 : 1;
}
