// The typed settings of the encoder's sections. Each section's keywords are
// read once, against the one keyword table (settings.cc), into a record per
// kind of coding: page, generic, text and halftone. Unknown keywords, ranges,
// reductions and refusals are decided there; the coders take their record
// and never look a keyword up by name.
#pragma once

#include <cstdint>
#include <vector>

#include "encoder/transclib.h"

// One keyword's value: its default unless the section's word gives it.
struct Setting {
  int32_t value = 0;
  bool given = false;  // the word gives the keyword (any value)
  operator int32_t() const { return value; }
};

// Warnings that a coder gives when it takes its record (for values it
// replaces with others), at the place it always has.
using Notes = std::vector<const char*>;
void ReportNotes(const Notes& notes);

// Read from the first section only.
struct PageSettings {
  Setting sequential, stripe, resolution, pagepixel, opoverride;
  Setting pageop;       // 0 (OR) when outside 0 to 3
  uint32_t stripeRows;  // rows per stripe, 0 for none
  Notes notes;          // given when the page information is written
};

struct GenericSettings {
  Setting stripe;  // as given; stripeRows is what it asks for
  uint32_t stripeRows;
  Setting mmr, tpdon;
  Setting templ;  // 0 when outside 0 to 3
  Setting atx[4], aty[4];
  Notes notes;  // given when a coder takes the record (ReadGenericParameters)
};

struct TextSettings {
  Setting huff, huffdh, huffdw, huffbmsize, huffagginst, direct;
  Setting hufffs, huffds, huffdt, huffrdw, huffrdh, huffrdx, huffrdy, huffrsize;
  Setting rtemplate, ratx[2], raty[2], tpron, sbrefine;
  Setting strip;     // clamped to 0 to 3
  Setting dsoffset;  // clamped to -16 to 15
  Setting defpixel;
  Setting combop;      // the operator that can draw the marks on the default pixel
  bool invertSymbols;  // combop AND or XNOR: the symbols are the marks complemented
  Setting transposed, refcorner;
  Setting invert, residue, soft, refdict, allrefdict, match, dictbonus, sizeoffset, matchoffset;
  Setting lossy;  // marks within the shape gate of a like mark drawn as its symbol
  Notes notes;  // given when the text region's record is made
};

struct HalftoneSettings {
  Setting htpattern, skip;
  Setting combop;  // 0 (OR) when outside 0 to 4
  Notes notes;     // given when the halftone region's record is made
};

// One section: its type, its rectangle (0 right or bottom edge: the page's)
// and its records.
struct SectionSettings {
  int32_t type = 0;  // as given: 0 generic, 1 text, 2 halftone
  int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  PageSettings page;
  GenericSettings generic;
  TextSettings text;
  HalftoneSettings halftone;
};

// Reviews the parsed sections (CheckParameters) and reads them into
// *settings (may be null). Findings go to `report` (may be null); values
// that are reduced or clamped are written back into the records. Returns
// kReviewPassed, kReviewRefused or kReviewOutOfMemory (parameters.h).
int ReadSections(long nWords, char** words, PARAMETER* records, long nRecords, PARAMETER_REPORT report, void* user,
                 std::vector<SectionSettings>* settings) noexcept;

// The settings of one section record as it stands, without review (the
// record is not changed); `first`: page keywords count.
SectionSettings SectionOf(const PARAMETER& record, bool first);
