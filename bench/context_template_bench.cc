// Time per pixel of context formation for the common templates over a
// letter page at 300 dpi, as the arithmetic coders drive it.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "common/bitmap.h"
#include "kernels/context_template.h"

namespace {

uint32_t RunPage(CONTEXT* ctx, BMP* bmp) {
  uint32_t sum = 0;
  for (uint32_t y = 0; y < bmp->lHeight; ++y) {
    NextContextRow(ctx);
    const unsigned char* row = bmp->pData + static_cast<size_t>(y) * bmp->lStride;
    int previous = 0;
    for (uint32_t x = 0; x < bmp->lWidth; ++x) {
      sum += GetContext(ctx, previous);
      previous = (row[x >> 3] >> (7 - (x & 7))) & 1;
    }
  }
  return sum;
}

void Report(const char* name, CONTEXT* ctx, BMP* bmp) {
  const auto start = std::chrono::steady_clock::now();
  const uint32_t sum = RunPage(ctx, bmp);
  const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
  std::printf("%-28s %6.2f ns/pixel (checksum %08x)\n", name, ns / (double(bmp->lWidth) * bmp->lHeight), sum);
}

}  // namespace

int main() {
  BMP page, ref;
  CreateBMP(&page, 2550, 3300, 0);
  CreateBMP(&ref, 2550, 3300, 0);
  std::mt19937 rng(7);
  for (uint32_t i = 0; i < page.lStride * page.lHeight; ++i) page.pData[i] = ref.pData[i] = rng() & rng() & 0xFF;
  CONTEXT ctx;
  long atx[4] = {3, -3, 2, -2}, aty[4] = {-1, -1, -2, -2};
  InitContext(&ctx, &page, 0, atx, aty);
  Report("GBTEMPLATE 0 nominal AT", &ctx, &page);
  long movedX[4] = {-1, -5, 4, -6}, movedY[4] = {0, -1, -2, -3};
  InitContext(&ctx, &page, 0, movedX, movedY);
  Report("GBTEMPLATE 0 moved AT", &ctx, &page);
  for (int templ = 1; templ < 4; ++templ) {
    long ax[4] = {templ == 1 ? 3 : 2}, ay[4] = {-1};
    InitContext(&ctx, &page, templ, ax, ay);
    char name[40];
    std::snprintf(name, sizeof name, "GBTEMPLATE %d nominal AT", templ);
    Report(name, &ctx, &page);
  }
  long rx[2] = {-1, -1}, ry[2] = {-1, -1};
  InitRefContext(&ctx, &ref, &page, 1, -1, 0, rx, ry);
  Report("GRTEMPLATE 0 nominal AT", &ctx, &page);
  InitRefContext(&ctx, &ref, &page, 1, -1, 1, rx, ry);
  Report("GRTEMPLATE 1", &ctx, &page);
  DestroyBMP(&page);
  DestroyBMP(&ref);
  return 0;
}
