// Placeholder driver until the generic encoder lands.
#include "encoder/transclib.h"

int Transcode(BMP* images, long nImages, PARAMETER* sections, long nSections,
              const char* fileName) noexcept {
  (void)images; (void)nImages; (void)sections; (void)nSections; (void)fileName;
  return 0;
}
