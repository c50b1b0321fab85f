// Fuzz target over the whole decode path: parse, global segments, every page
// (with bitmaps capped far below the library's own limit so that runs stay
// short), free.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/limits.h"
#include "decoder/untransclib.h"

namespace {
// Pages and regions above this many pixels are refused, as the program
// refuses those above kMaxBitmapPixels.
constexpr uint64_t kFuzzMaxPixels = uint64_t{1} << 20;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  JB2FILE file;
  std::memset(&file, 0, sizeof file);
  file.pFileData = data;
  file.lFileSize = size;
  if (JB2ParseFile(&file) != 0) return 0;
  file.lMaxBitmapPixels = kFuzzMaxPixels;
  UntranscodeGlobal(&file);
  for (uint32_t i = 0; i < file.nPages; ++i) {
    JB2PAGE* page = &file.pPages[i];
    uint64_t rows = page->Info.lHeight == 0xFFFFFFFFu ? 1 : page->Info.lHeight;
    if (!PageSizeAccepted(page->Info.lWidth, page->Info.lHeight) ||
        StoredBitmapPixels(page->Info.lWidth, rows) > kFuzzMaxPixels)
      continue;
    CreateBMP(&page->Bitmap, page->Info.lWidth, page->Info.lHeight, static_cast<int>(page->Info.lDefaultPixel));
    UntranscodePage(page);
    DestroyBMP(&page->Bitmap);
  }
  JB2FreeFile(&file);
  return 0;
}
