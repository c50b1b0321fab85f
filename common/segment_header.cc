// JBIG2 file ID string and its check (T.88 D.4.1).
#include "common/segment_header.h"

#include <cstring>

const unsigned char kFileIdString[kFileIdLength] = {0x97, 0x4A, 0x42, 0x32, 0x0D, 0x0A, 0x1A, 0x0A};

bool ValidFileHeader(const unsigned char* bytes) {
  return std::memcmp(bytes, kFileIdString, kFileIdLength) == 0;
}
