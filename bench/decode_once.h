// Decoding a whole file in memory, shared by the decode benchmarks.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "decoder/untransclib.h"

// Decodes every page once; returns the number of page pixels.
inline double DecodeOnce(const std::vector<unsigned char>& bytes) {
  JB2FILE file;
  std::memset(&file, 0, sizeof file);
  file.pFileData = bytes.data();
  file.lFileSize = bytes.size();
  if (JB2ParseFile(&file) != 0) return 0;
  UntranscodeGlobal(&file);
  double pixels = 0;
  for (uint32_t i = 0; i < file.nPages; ++i) {
    JB2PAGE* page = &file.pPages[i];
    CreateBMP(&page->Bitmap, page->Info.lWidth, page->Info.lHeight, static_cast<int>(page->Info.lDefaultPixel));
    UntranscodePage(page);
    pixels += static_cast<double>(page->Bitmap.lWidth) * page->Bitmap.lHeight;
    DestroyBMP(&page->Bitmap);
  }
  JB2FreeFile(&file);
  return pixels;
}
