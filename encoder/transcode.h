// The encoder's run over one page, into memory: what Transcode and the
// embedding API share.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "encoder/settings.h"
#include "encoder/transclib.h"

struct ENCODE_STATE;
struct LOSSY_HOOKS;

enum : int {
  kTranscodeDone = 0,
  kTranscodeFailed = 1,
  kTranscodeRefused = 2,
  kTranscodeOutOfMemory = 3,
  kTranscodeOutputFailed = 4,  // the document's output refused its bytes
  kTranscodeCheckFailed = 5     // lossy coding's check before writing failed
};

// Codes `image` with the sections (none: one generic region) and appends the
// file's bytes to *out. Returns kTranscodeDone; kTranscodeRefused when
// CheckParameters refuses the sections; kTranscodeFailed for an empty image;
// kTranscodeOutOfMemory when an allocation failed (*out is then unchanged);
// kTranscodeCheckFailed when lossy coding's check before writing found a
// mark drawn beyond its gate (an internal error; *out is unchanged).
// A page coded as the complement of its image (pagepixel) is inverted while
// the run lasts and restored at its end.
int TranscodeToMemory(BMP* image, PARAMETER* sections, long nSections, std::vector<unsigned char>* out) noexcept;

// Told of each page as its coding starts (page n of N, counted from 1).
using PageProgress = std::function<void(uint32_t page, uint32_t pages)>;

// A document of nImages pages into one file: every page is coded with the
// same sections (copied for each page), the pages of a document of several
// on `threads` threads (0: as many as the machine has), with the same bytes
// whatever their number. When the sections are one whole-page text section,
// marks found on two pages or more are coded once in a dictionary of no
// page, which every page's text region refers to. Progress is told from the
// coding threads, one call at a time. `hooks` are for tests (lossy_classes.h).
int TranscodeDocumentToMemory(BMP* images, long nImages, PARAMETER* sections, long nSections,
                              std::vector<unsigned char>* out, const PageProgress& progress, unsigned threads,
                              const LOSSY_HOOKS* hooks = nullptr) noexcept;

// The resolution a page is coded at (pixels per metre, the smaller of its
// two; 0 when unknown): the page's "resolution" word, else the image's.
uint32_t PageResolution(const BMP& image, const PageSettings& page);

// Codes one page of a run into state's segments as page `pageNumber`: its
// information, its sections (the page's own copies: their rectangles are
// completed with the page's size), the pixels no section covered, its end.
// Throws std::bad_alloc when memory runs out, LossyCheckFailure when lossy
// coding's check before writing fails.
void CodePage(ENCODE_STATE* state, BMP* image, std::vector<SectionSettings> sections, uint32_t pageNumber);
