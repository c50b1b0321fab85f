/* jbig2codec decoder: JBIG2 data in memory in, bi-level pages out.
 *
 * A standalone file (T.88 Annex D.1, D.2), or what a PDF holds (Annex D.3):
 * a page stream with the segments of one page and an optional globals
 * stream with the segments the pages share (/JBIG2Globals).
 *
 *   jb2_decoder* dec;
 *   if (jb2_decoder_create(&dec) != JB2_OK) return;
 *   jb2_status s = jb2_decoder_open(dec, bytes, size);
 *   for (uint32_t i = 0; s <= JB2_DAMAGED && i < jb2_decoder_page_count(dec); ++i) {
 *     jb2_page page;
 *     jb2_status ps = jb2_decoder_decode_page(dec, i, &page);  // JB2_OK or JB2_DAMAGED: pixels set
 *     ...
 *   }
 *   jb2_decoder_destroy(dec);
 */
#ifndef JBIG2CODEC_JB2_DECODE_H
#define JBIG2CODEC_JB2_DECODE_H

#include "jb2codec.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct jb2_decoder jb2_decoder;

/* A decoded page: `height` rows of `stride` bytes at `pixels`, one bit per
 * pixel, the leftmost pixel in the most significant bit, 1 black; the bits
 * after the last pixel of a row are 0. Valid until the next
 * jb2_decoder_decode_page, jb2_decoder_open* or jb2_decoder_destroy. */
typedef struct jb2_page {
  uint32_t number; /* the page number in the file */
  uint32_t width;
  uint32_t height;
  size_t stride;
  const unsigned char* pixels;
  uint32_t x_resolution; /* pixels per metre, 0 when unknown */
  uint32_t y_resolution;
} jb2_page;

JB2_API jb2_status jb2_decoder_create(jb2_decoder** decoder);
JB2_API void jb2_decoder_destroy(jb2_decoder* decoder);

JB2_API void jb2_decoder_set_messages(jb2_decoder* decoder, jb2_message_fn callback, void* user);

/* Limits for what the data may make the decoder allocate, set before
 * opening (0 keeps a default): the largest page, and the largest bitmap
 * of any other kind (region, symbol, pattern), in pixels. The defaults are
 * 2^32 each (512 MiB); a page over its limit gives JB2_ERROR_LIMIT, a
 * bitmap over its limit damages the page that needs it. */
JB2_API void jb2_decoder_set_limits(jb2_decoder* decoder, uint64_t max_page_pixels, uint64_t max_bitmap_pixels);

/* Reads a standalone JBIG2 file; the bytes are copied. JB2_OK, JB2_DAMAGED
 * (its structure is damaged: pages may be missing or incomplete), or
 * JB2_ERROR_NOT_JBIG2. A file may hold no page: jb2_decoder_page_count is
 * then 0. */
JB2_API jb2_status jb2_decoder_open(jb2_decoder* decoder, const unsigned char* data, size_t size);

/* Reads an embedded page stream and the globals stream it uses (null or
 * size 0: none), as a PDF's JBIG2Decode filter holds them. */
JB2_API jb2_status jb2_decoder_open_embedded(jb2_decoder* decoder, const unsigned char* page, size_t page_size,
                                             const unsigned char* globals, size_t globals_size);

JB2_API uint32_t jb2_decoder_page_count(const jb2_decoder* decoder);

/* Decodes page `index` (0 .. count - 1, in file order). JB2_OK: the page
 * decoded cleanly; JB2_DAMAGED: it holds what could be decoded; both set
 * *page. Otherwise *page is zeroed. */
JB2_API jb2_status jb2_decoder_decode_page(jb2_decoder* decoder, uint32_t index, jb2_page* page);

#ifdef __cplusplus
}
#endif

#endif /* JBIG2CODEC_JB2_DECODE_H */
