// The encoder's run over one page, into memory: what Transcode and the
// embedding API share.
#pragma once

#include <vector>

#include "encoder/transclib.h"

enum : int { kTranscodeDone = 0, kTranscodeFailed = 1, kTranscodeRefused = 2, kTranscodeOutOfMemory = 3 };

// Codes `image` with the sections (none: one generic region) and appends the
// file's bytes to *out. Returns kTranscodeDone; kTranscodeRefused when
// CheckParameters refuses the sections; kTranscodeFailed for an empty image;
// kTranscodeOutOfMemory when an allocation failed (*out is then unchanged).
// A page coded as the complement of its image (pagepixel) is inverted while
// the run lasts and restored at its end.
int TranscodeToMemory(BMP* image, PARAMETER* sections, long nSections, std::vector<unsigned char>* out) noexcept;
