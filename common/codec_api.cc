// What both libraries' embedding interfaces share: status names, the
// version and the release of the buffers they allocate.
#include <cstdlib>

#include "include/jbig2codec/jb2codec.h"

const char* jb2_status_name(jb2_status status) {
  switch (status) {
    case JB2_OK: return "ok";
    case JB2_DAMAGED: return "damaged";
    case JB2_ERROR_ARGUMENT: return "invalid argument";
    case JB2_ERROR_NOT_JBIG2: return "not JBIG2 data";
    case JB2_ERROR_LIMIT: return "over a limit";
    case JB2_ERROR_REFUSED: return "refused";
    case JB2_ERROR_NO_MEMORY: return "out of memory";
    case JB2_ERROR_OUTPUT: return "output stopped";
    case JB2_ERROR_INTERNAL: return "internal error";
  }
  return "unknown status";
}

const char* jb2_version(void) { return JB2CODEC_VERSION_STRING; }

void jb2_free(void* buffer) { std::free(buffer); }
