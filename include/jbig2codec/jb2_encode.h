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

/* One page image of a document: as for jb2_encode_page. */
typedef struct jb2_image {
  const unsigned char* rows;
  uint32_t width;
  uint32_t height;
  size_t stride;
  uint32_t x_resolution; /* pixels per metre, 0 when unknown */
  uint32_t y_resolution;
} jb2_image;

/* Threads that code the pages of a document (0, the default: as many as
 * the machine has). The file's bytes are the same whatever their number. */
JB2_API void jb2_encoder_set_threads(jb2_encoder* encoder, unsigned threads);

/* Told as each page's coding starts (n = 1 .. pages, one call at a time,
 * perhaps from another thread). */
typedef void (*jb2_progress_fn)(void* user, uint32_t page, uint32_t pages);
JB2_API void jb2_encoder_set_progress(jb2_encoder* encoder, jb2_progress_fn callback, void* user);

/* A document whose pages share symbols (see jb2_encode_document) gets a new
 * shared dictionary every `pages` pages: the pages of each group refer to
 * their group's dictionary only, which a viewer decodes for any page of the
 * group. 0: one dictionary for all pages. The default: 20. */
JB2_API void jb2_encoder_set_dict_pages(jb2_encoder* encoder, uint32_t pages);

/* Codes `count` pages, each with the encoder's sections, into one
 * standalone file (pages 1 .. count). When the sections are one text
 * section over the whole page, marks found on two pages or more of a group
 * (jb2_encoder_set_dict_pages) are coded once, in a symbol dictionary of no
 * page that the group's pages refer to, before the group's first page.
 * Output as for jb2_encode_page. */
JB2_API jb2_status jb2_encode_document(jb2_encoder* encoder, const jb2_image* pages, uint32_t count, unsigned char** data,
                                       size_t* size);

/* The same document as a PDF: one PDF page per image, each an image
 * XObject with /Filter /JBIG2Decode and its group's shared symbols in
 * /JBIG2Globals; each PDF page as large as its image at its resolution
 * (300 dpi when it has none). */
JB2_API jb2_status jb2_encode_pdf(jb2_encoder* encoder, const jb2_image* pages, uint32_t count, unsigned char** data,
                                  size_t* size);

/* A document coded a page at a time, its bytes handed out as its pages
 * finish, in page order, whatever the number of threads (the same bytes as
 * jb2_encode_document, jb2_encode_pdf and jb2_split_embedded give for the
 * same pages). Only the pages being coded are held (one per thread), except
 * in a document whose pages share symbols and were not scanned first (see
 * jb2_document_scan_page), which keeps each group's pages until its last.
 *
 *   jb2_document* doc;
 *   jb2_document_begin(enc, 300, JB2_OUTPUT_PDF, write_bytes, file, &doc);
 *   for (each page) jb2_document_add_page(doc, &image);   // stop at the first failure
 *   jb2_status s = jb2_document_finish(doc);              // releases doc
 */
typedef struct jb2_document jb2_document;

typedef enum jb2_output_kind {
  JB2_OUTPUT_FILE = 0,    /* a standalone JBIG2 file (stream 0) */
  JB2_OUTPUT_PDF = 1,     /* a PDF (stream 0) */
  JB2_OUTPUT_EMBEDDED = 2 /* stream 0: the globals of the pages that follow, given
                             only when there are any, before the first page of each
                             group of jb2_document_dict_pages pages;
                             stream n: page n's stream, each in one call */
} jb2_output_kind;

/* Takes the next `size` bytes of `stream`, in order; returns 0 to go on,
 * anything else to stop the document (JB2_ERROR_OUTPUT). */
typedef int (*jb2_output_fn)(void* user, uint32_t stream, const unsigned char* data, size_t size);

/* Begins a document of `pages` pages (1 or more: the file header and the
 * PDF's page tree name the count before the first page) with the encoder's
 * sections, threads and progress; the encoder must outlive the document and
 * not change meanwhile. Messages go to the encoder's callback during each
 * call. JB2_ERROR_REFUSED as for jb2_encoder_set_sections. */
JB2_API jb2_status jb2_document_begin(jb2_encoder* encoder, uint32_t pages, jb2_output_kind kind, jb2_output_fn output,
                                      void* user, jb2_document** document);

/* Codes the next page (copied: the caller may release it on return). May
 * wait while every thread has a page, and hands out the pages finished so
 * far. A failure ends the document: later calls give it again. */
JB2_API jb2_status jb2_document_add_page(jb2_document* document, const jb2_image* page);

/* A document whose pages share symbols (one text section over the whole
 * page, see jb2_encode_document) finds the marks each group of pages shares
 * before it codes the group's first page. Given the group's pages first
 * through jb2_document_scan_page, in the order they will be added (every
 * page of the document first, or each group's just before its pages), it
 * keeps of them only a hash of each mark and a copy of each shared one (with
 * "lossy", also the representatives of the classes of like marks, within a
 * fixed budget), and then codes each page as jb2_document_add_page gives it
 * again (pages that differ from the scanned ones are still coded exactly,
 * sharing less); without that first pass it keeps a group's pages until its
 * last one. jb2_document_shares_symbols: 1 when the first pass is of use, 0
 * when scan_page would do nothing. jb2_document_dict_pages: the pages of
 * each group (the last may have fewer; the page count when there is one
 * group). */
JB2_API int jb2_document_shares_symbols(const jb2_document* document);
JB2_API uint32_t jb2_document_dict_pages(const jb2_document* document);
JB2_API jb2_status jb2_document_scan_page(jb2_document* document, const jb2_image* page);

/* Codes what is left, hands out the rest of the output and releases the
 * document. JB2_ERROR_ARGUMENT when fewer pages came than were begun with;
 * on any failure the output handed out so far is not a whole document. */
JB2_API jb2_status jb2_document_finish(jb2_document* document);

/* Releases a document without finishing it (after a failure, or to stop). */
JB2_API void jb2_document_cancel(jb2_document* document);

/* A buffer the library allocated; released with jb2_free. */
typedef struct jb2_buffer {
  unsigned char* data;
  size_t size;
} jb2_buffer;

/* Splits a standalone file into the embedded organisation of T.88 D.3, as
 * a PDF holds it: the globals stream (the segments of no page, every
 * group's dictionary among them; size 0 when there are none) and one stream per page, without the file header, the
 * end-of-page and end-of-file segments, each page's segments associated
 * with page 1. On JB2_OK *pages is an array of *count buffers; release each
 * buffer's data, then the array and the globals' data, with jb2_free. */
JB2_API jb2_status jb2_split_embedded(const unsigned char* file, size_t size, jb2_buffer* globals, jb2_buffer** pages,
                                      uint32_t* count);

#ifdef __cplusplus
}
#endif

#endif /* JBIG2CODEC_JB2_ENCODE_H */
