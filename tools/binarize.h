// Grey and colour scans made 1-bit for text coding.
#pragma once

#include <cstdint>

#include "common/bitmap.h"

struct Pix;

namespace jb2tool {

// --threshold auto: the adaptive method below; 0..255: a fixed threshold.
inline constexpr int kAutoThreshold = -1;

// Reads the value of --threshold: "auto" or a whole number from 0 to 255.
bool ReadThreshold(const char* text, int* threshold);

// An 8-bit grey page (0 black, 255 white) made 1-bit (1 black).
//
// A fixed `threshold` makes every pixel darker than it black. The adaptive
// method (kAutoThreshold) follows the paper: it estimates the paper's
// brightness in small tiles from their light pixels, spreads it smoothly
// over the page, and makes black what is darker than half the paper around
// it, so uneven light, shadows and tinted paper change nothing. (Measured on
// a grey text page under light falling to 45%: 11% of the black pixels
// wrong against the true page, where Sauvola's local thresholds gave 12% at
// six times the time and Otsu's on tiles lost the darker side; see
// bench/scans.sh.) A page that is already black and white is cut in the
// middle. `adaptive` tells whether the adaptive method ran. Returns null
// when leptonica fails (out of memory).
Pix* BinarizeGrey(Pix* grey, int threshold, bool* adaptive);

// Light noise cleaning after the adaptive method: clears each black pixel
// that has no black neighbour (of its eight), a speck of scanner noise too
// small for any mark a reader needs at `dpi` 150 or more (0: unknown, taken
// as a scan's usual 300). Pages below 150 dpi are left alone: there one
// pixel can be the dot of an i.
void ClearLonePixels(BMP* page, uint32_t dpi);

}  // namespace jb2tool
