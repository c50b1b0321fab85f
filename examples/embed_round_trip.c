/* Codes a page held in memory with the text (symbol) coder, decodes the
 * file again and compares: the embedding interface from C99. Built by
 * `tests/install/check_install.sh` against the installed libraries. */
#include <jbig2codec/jb2_decode.h>
#include <jbig2codec/jb2_encode.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kWidth = 200, kHeight = 60, kStride = (kWidth + 7) / 8 };

static void Show(void* user, int is_error, const char* line) {
  (void)user;
  (void)is_error;
  fprintf(stderr, "%s\n", line);
}

int main(void) {
  unsigned char rows[kHeight * kStride];
  memset(rows, 0, sizeof rows);
  for (int y = 10; y < 50; ++y) /* a row of little boxes: marks that repeat */
    for (int x = 8; x < kWidth - 8; ++x)
      if (x % 16 < 10 && (y < 14 || y > 45 || x % 16 < 3 || x % 16 > 6)) rows[y * kStride + x / 8] |= 0x80 >> (x % 8);

  jb2_encoder* encoder = NULL;
  if (jb2_encoder_create(&encoder) != JB2_OK) return 1;
  jb2_encoder_set_messages(encoder, Show, NULL);
  const char* words[] = {"sr"};
  unsigned char* file = NULL;
  size_t size = 0;
  jb2_status status = jb2_encoder_set_sections(encoder, 1, words);
  if (status == JB2_OK) status = jb2_encode_page(encoder, rows, kWidth, kHeight, kStride, 11811, 11811, &file, &size);
  jb2_encoder_destroy(encoder);
  if (status != JB2_OK) {
    fprintf(stderr, "encoding: %s\n", jb2_status_name(status));
    return 1;
  }

  jb2_decoder* decoder = NULL;
  if (jb2_decoder_create(&decoder) != JB2_OK) return 1;
  jb2_decoder_set_messages(decoder, Show, NULL);
  jb2_page page;
  status = jb2_decoder_open(decoder, file, size);
  if (status == JB2_OK) status = jb2_decoder_decode_page(decoder, 0, &page);
  int same = status == JB2_OK && page.width == kWidth && page.height == kHeight;
  for (int y = 0; same && y < kHeight; ++y) same = memcmp(page.pixels + y * page.stride, rows + y * kStride, kStride) == 0;
  jb2_decoder_destroy(decoder);
  jb2_free(file);
  printf("%s %s: %zu bytes, %s\n", "jbig2codec", jb2_version(), size, same ? "same pixels" : "DIFFERENT");
  return same ? 0 : 1;
}
