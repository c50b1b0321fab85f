// Adaptive pixel placements for the tests of the generic row coders and
// decoders: nominal, and moved as encoders choose them.
#pragma once

#include <cstring>

namespace jb2test {

inline constexpr long kNominalAtX[4] = {3, -3, 2, -2};
inline constexpr long kNominalAtY[4] = {-1, -1, -2, -2};

// Adaptive pixel offsets A1..A4 (templates 1 to 3 use A1 only).
struct At {
  long x[4], y[4];
};

// A1 of each template at its nominal place, the rest as template 0's.
inline At NominalAt(int templ) {
  At at;
  std::memcpy(at.x, kNominalAtX, sizeof at.x);
  std::memcpy(at.y, kNominalAtY, sizeof at.y);
  if (templ >= 2) at.x[0] = 2;
  return at;
}

// Moved places (placing 0 to 3) as encoders choose them: A1 one column right
// (a symbol dictionary's (3, -1) under templates 2 and 3), the far ends of
// the windows, both rows above, two pixels on one place.
inline At MovedAt(int templ, int placing) {
  static const long kX[4][4] = {{4, -3, 2, -2}, {-8, 8, 0, -8}, {8, -1, 5, -5}, {0, 0, 1, 7}};
  static const long kY[4][4] = {{-1, -1, -2, -2}, {-2, -1, -2, -1}, {-1, -2, -1, -2}, {-2, -2, -1, -2}};
  At at;
  for (int k = 0; k < 4; ++k) at.x[k] = kX[placing][k], at.y[k] = kY[placing][k];
  if (placing == 0 && templ >= 2) at.x[0] = 3;
  return at;
}

}  // namespace jb2test
