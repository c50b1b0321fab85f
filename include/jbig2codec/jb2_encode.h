/* jbig2codec encoder: a bi-level page held in memory in, a JBIG2 file out.
 *
 *   jb2_encoder* enc;
 *   if (jb2_encoder_create(&enc) != JB2_OK) return;
 *   const char* words[] = {"sr"};                 // text (symbol) coding
 *   jb2_encoder_set_sections(enc, 1, words);
 *   unsigned char* file; size_t size;
 *   jb2_status s = jb2_encode_page(enc, rows, width, height, stride, 11811, 11811, &file, &size);
 *   ... use file[0 .. size) ...
 *   jb2_free(file);
 *   jb2_encoder_destroy(enc);
 */
#ifndef JBIG2CODEC_JB2_ENCODE_H
#define JBIG2CODEC_JB2_ENCODE_H

#include "jb2codec.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct jb2_encoder jb2_encoder;

/* A new encoder with the default settings: one generic region, no
 * messages shown. */
JB2_API jb2_status jb2_encoder_create(jb2_encoder** encoder);
JB2_API void jb2_encoder_destroy(jb2_encoder* encoder);

JB2_API void jb2_encoder_set_messages(jb2_encoder* encoder, jb2_message_fn callback, void* user);

/* The section words of transc ("gr", "sr:huff", "(0,0,100,50):gr sr", ...;
 * see the README), reviewed as transc reviews them: findings go to the
 * message callback, and words that cannot make a conformant file give
 * JB2_ERROR_REFUSED (the earlier sections stay). count 0: the defaults. */
JB2_API jb2_status jb2_encoder_set_sections(jb2_encoder* encoder, int count, const char* const* words);

/* Codes one page: `height` rows of `stride` bytes from `rows`, one bit per
 * pixel, the leftmost pixel in the most significant bit, 1 black. The
 * resolution is in pixels per metre (0: unknown). On JB2_OK *data holds a
 * standalone JBIG2 file of *size bytes that the caller releases with
 * jb2_free; otherwise *data is null and *size 0. */
JB2_API jb2_status jb2_encode_page(jb2_encoder* encoder, const unsigned char* rows, uint32_t width, uint32_t height,
                                   size_t stride, uint32_t x_resolution, uint32_t y_resolution, unsigned char** data,
                                   size_t* size);

#ifdef __cplusplus
}
#endif

#endif /* JBIG2CODEC_JB2_ENCODE_H */
