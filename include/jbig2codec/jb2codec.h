/* jbig2codec: a JBIG2 (ITU-T T.88) encoder and decoder for bi-level pages.
 *
 * The embedding interface, shared by both libraries: version, status codes,
 * the message callback and the release of buffers the libraries allocate.
 * Plain C (C99 and later, and C++ from C++11 on). Nothing here prints,
 * exits or aborts; every failure comes back as a status.
 *
 * Thread safety: encoders and decoders are independent objects. Any number
 * of threads may each use their own at the same time; one object must not
 * be used by two threads at once. Callbacks run on the calling thread. */
#ifndef JBIG2CODEC_JB2CODEC_H
#define JBIG2CODEC_JB2CODEC_H

#include <stddef.h>
#include <stdint.h>

#define JB2CODEC_VERSION_MAJOR 1
#define JB2CODEC_VERSION_MINOR 0
#define JB2CODEC_VERSION_PATCH 0
#define JB2CODEC_VERSION_STRING "1.0.0"

#if defined(_WIN32)
#define JB2_API
#else
#define JB2_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef enum jb2_status {
  JB2_OK = 0,
  /* Decoded, but the data was damaged (cut short, or a segment reported an
   * error): the page holds what could be decoded. */
  JB2_DAMAGED = 1,
  JB2_ERROR_ARGUMENT = 2,  /* a null pointer, an empty image, a page index out of range */
  JB2_ERROR_NOT_JBIG2 = 3, /* no JBIG2 file header */
  JB2_ERROR_LIMIT = 4,     /* a page larger than the limits set */
  JB2_ERROR_REFUSED = 5,   /* section words that cannot make a conformant file */
  JB2_ERROR_NO_MEMORY = 6, /* an allocation failed; nothing leaked */
  JB2_ERROR_OUTPUT = 7,    /* the output callback stopped the document */
  /* An internal check failed: lossy coding would have drawn a mark beyond
   * its shape gate. Nothing is written; the message callback says so. */
  JB2_ERROR_INTERNAL = 8
} jb2_status;

/* "ok", "damaged", "invalid argument", ... for any value. */
JB2_API const char* jb2_status_name(jb2_status status);

/* The libraries' version, e.g. "1.0.0" (JB2CODEC_VERSION_STRING when the
 * headers and library match). */
JB2_API const char* jb2_version(void);

/* Receives every message the programs would print, one line at a time
 * without its line end: "ERROR!   ..." (is_error 1) or "Warning! ..."
 * (is_error 0). Without a callback nothing is shown. */
typedef void (*jb2_message_fn)(void* user, int is_error, const char* line);

/* Releases a buffer the libraries allocated (jb2_encode_page's output). */
JB2_API void jb2_free(void* buffer);

#ifdef __cplusplus
}
#endif

#endif /* JBIG2CODEC_JB2CODEC_H */
