// Times CombineBMP on page composition: many small marks placed with OR at
// unaligned positions, and whole regions placed with REPLACE.
#include <cstdio>
#include <ctime>
#include <random>

#include "common/bitmap.h"

int main() {
  BMP page, mark, region;
  CreateBMP(&page, 2550, 3300, 0);
  CreateBMP(&mark, 23, 31, 1);
  CreateBMP(&region, 2400, 800, 1);
  std::mt19937 rng(1);
  std::uniform_int_distribution<long> x(-10, 2550), y(-10, 3300);
  const int marks = 2000000, regions = 2000;
  const std::clock_t t0 = std::clock();  // processor time: the machine may be shared
  for (int i = 0; i < marks; ++i) CombineBMP(&page, &mark, x(rng), y(rng), kOpOr);
  const std::clock_t t1 = std::clock();
  for (int i = 0; i < regions; ++i) CombineBMP(&page, &region, 75 + i % 8, 1000, i % 2 ? kOpReplace : kOpXor);
  const std::clock_t t2 = std::clock();
  const double nsPerTick = 1e9 / CLOCKS_PER_SEC;
  const double markNs = static_cast<double>(t1 - t0) * nsPerTick / marks;
  const double regionBytes = static_cast<double>(region.lBytesPerRow) * region.lHeight * regions;
  const double regionGBs = regionBytes / (static_cast<double>(t2 - t1) * nsPerTick);
  std::printf("23x31 mark, OR, unaligned: %.1f ns per placement\n", markNs);
  std::printf("2400x800 region, XOR/REPLACE, unaligned: %.2f GB/s of destination\n", regionGBs);
  std::printf("(area %u)\n", AreaBMP(&page));
  DestroyBMP(&page);
  DestroyBMP(&mark);
  DestroyBMP(&region);
  return 0;
}
