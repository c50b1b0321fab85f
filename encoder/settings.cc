// The keyword table of the parameter language, and the reading of parsed
// sections into typed settings with their review: tokens and keywords that
// nothing reads, values that are reduced or clamped to a safe meaning,
// values that cannot make a conformant file (T.88 6.2.5.4 for the adaptive
// pixels), and the values the coders replace.
#include <algorithm>
#include <new>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/bitmap.h"
#include "common/messages.h"
#include "common/segment_header.h"
#include "encoder/parameters.h"
#include "encoder/settings.h"
#include "encoder/transclib.h"

namespace {

constexpr uint32_t G = PARAMETER_GENERIC, T = PARAMETER_TEXT, H = PARAMETER_HALFTONE, P = PARAMETER_PAGE;

// How the review treats a keyword's value. kCoder: a bad value is replaced
// when the settings are resolved (Resolve), with a note that the coder gives
// when it takes its record.
enum Check { kCoder, kSwitch, kClamp, kByte, kAdaptive, kTwoBits };

struct Rule {
  PARAMETER_KEYWORD keyword;
  Check check;
  Setting* (*field)(SectionSettings& s);  // where the value goes
};

#define FIELD(member) [](SectionSettings& s) { return &s.member; }

// The keyword table: each keyword's sections, default, range, meaning, check
// and place in the settings. A new keyword is one more line (and its field).
const Rule kRules[] = {
    {{"sequential", P, 0, 0, 1, "sequential file organisation (0: random access)"}, kSwitch, FIELD(page.sequential)},
    {{"stripe", P | G, 0, 0, 32767, "stripes of n rows (1: of 1024 rows; 0: none)"}, kCoder, FIELD(page.stripe)},
    {{"resolution", P, 0, 0, INT32_MAX, "pixels per metre, X and Y (11811 = 300 dpi; default: the image's)"}, kClamp, FIELD(page.resolution)},
    {{"pagepixel", P, 0, 0, 1, "page default pixel (1: black)"}, kSwitch, FIELD(page.pagepixel)},
    {{"pageop", P, 0, 0, 3, "page default operator: 0 OR, 1 AND, 2 XOR, 3 XNOR"}, kCoder, FIELD(page.pageop)},
    {{"opoverride", P, 1, 0, 1, "regions may use operators of their own"}, kSwitch, FIELD(page.opoverride)},
    {{"mmr", G | T | H, 0, 0, 1, "MMR (T.6) coding instead of arithmetic coding"}, kSwitch, FIELD(generic.mmr)},
    {{"template", G | T | H, 0, 0, 3, "generic template"}, kCoder, FIELD(generic.templ)},
    {{"tpdon", G | T, 0, 0, 1, "typical prediction"}, kSwitch, FIELD(generic.tpdon)},
    {{"atx1", G | T, 3, -128, 127, "adaptive pixel 1, x"}, kAdaptive, FIELD(generic.atx[0])},
    {{"aty1", G | T, -1, -128, 0, "adaptive pixel 1, y (0: only left of the pixel coded)"}, kAdaptive, FIELD(generic.aty[0])},
    {{"atx2", G | T, -3, -128, 127, "adaptive pixel 2, x (template 0)"}, kAdaptive, FIELD(generic.atx[1])},
    {{"aty2", G | T, -1, -128, 0, "adaptive pixel 2, y (template 0)"}, kAdaptive, FIELD(generic.aty[1])},
    {{"atx3", G | T, 2, -128, 127, "adaptive pixel 3, x (template 0)"}, kAdaptive, FIELD(generic.atx[2])},
    {{"aty3", G | T, -2, -128, 0, "adaptive pixel 3, y (template 0)"}, kAdaptive, FIELD(generic.aty[2])},
    {{"atx4", G | T, -2, -128, 127, "adaptive pixel 4, x (template 0)"}, kAdaptive, FIELD(generic.atx[3])},
    {{"aty4", G | T, -2, -128, 0, "adaptive pixel 4, y (template 0)"}, kAdaptive, FIELD(generic.aty[3])},
    {{"huff", T, 0, 0, 1, "Huffman coding of dictionaries and text region"}, kSwitch, FIELD(text.huff)},
    {{"huffdh", T, 0, 0, 1, "height class table: 0 B.4, 1 B.5"}, kCoder, FIELD(text.huffdh)},
    {{"huffdw", T, 0, 0, 1, "width table: 0 B.2, 1 B.3"}, kCoder, FIELD(text.huffdw)},
    {{"huffbmsize", T, 0, 0, 0, "bitmap size table: 0 B.1"}, kCoder, FIELD(text.huffbmsize)},
    {{"huffagginst", T, 0, 0, 0, "aggregate instance table: 0 B.1"}, kCoder, FIELD(text.huffagginst)},
    {{"direct", T, 0, 0, 1, "Huffman: collective bitmaps stored uncompressed"}, kSwitch, FIELD(text.direct)},
    {{"rtemplate", T, 0, 0, 1, "refinement template"}, kSwitch, FIELD(text.rtemplate)},
    {{"ratx1", T, -1, -128, 127, "refinement adaptive pixel 1, x"}, kByte, FIELD(text.ratx[0])},
    {{"raty1", T, -1, -128, 0, "refinement adaptive pixel 1, y"}, kByte, FIELD(text.raty[0])},
    {{"ratx2", T, -1, -128, 127, "refinement adaptive pixel 2, x"}, kByte, FIELD(text.ratx[1])},
    {{"raty2", T, -1, -128, 127, "refinement adaptive pixel 2, y"}, kByte, FIELD(text.raty[1])},
    {{"sbrefine", T, 1, 0, 1, "refinement in the text region"}, kSwitch, FIELD(text.sbrefine)},
    {{"strip", T, 0, 0, 3, "strips of 1, 2, 4 or 8 rows (log2)"}, kCoder, FIELD(text.strip)},
    {{"defpixel", T, 0, 0, 1, "text region default pixel"}, kSwitch, FIELD(text.defpixel)},
    {{"combop", T, 0, 0, 3, "symbol operator: 0 OR, 1 AND, 2 XOR, 3 XNOR"}, kCoder, FIELD(text.combop)},
    {{"transposed", T, 0, 0, 1, "symbols placed in columns"}, kSwitch, FIELD(text.transposed)},
    {{"refcorner", T, 0, 0, 3, "reference corner: 0 bottom left, 1 top left, 2 bottom right, 3 top right"}, kTwoBits, FIELD(text.refcorner)},
    {{"dsoffset", T, 0, -16, 15, "offset added between symbols"}, kCoder, FIELD(text.dsoffset)},
    {{"hufffs", T, 0, 0, 1, "first S table: 0 B.6, 1 B.7"}, kCoder, FIELD(text.hufffs)},
    {{"huffds", T, 0, 0, 2, "S difference table: 0 B.8, 1 B.9, 2 B.10"}, kCoder, FIELD(text.huffds)},
    {{"huffdt", T, 0, 0, 2, "T difference table: 0 B.11, 1 B.12, 2 B.13"}, kCoder, FIELD(text.huffdt)},
    {{"huffrdw", T, 1, 0, 1, "refinement width table: 0 B.14, 1 B.15"}, kCoder, FIELD(text.huffrdw)},
    {{"huffrdh", T, 1, 0, 1, "refinement height table: 0 B.14, 1 B.15"}, kCoder, FIELD(text.huffrdh)},
    {{"huffrdx", T, 1, 0, 1, "refinement x table: 0 B.14, 1 B.15"}, kCoder, FIELD(text.huffrdx)},
    {{"huffrdy", T, 1, 0, 1, "refinement y table: 0 B.14, 1 B.15"}, kCoder, FIELD(text.huffrdy)},
    {{"huffrsize", T, 0, 0, 0, "refinement size table: 0 B.1"}, kCoder, FIELD(text.huffrsize)},
    {{"tpron", T, 0, 0, 1, "typical prediction in refinement"}, kSwitch, FIELD(text.tpron)},
    {{"invert", T, 0, 0, 1, "white text on black: the section is coded complemented"}, kSwitch, FIELD(text.invert)},
    {{"residue", T, 0, 0, INT32_MAX, "marks of at most n x n pixels go to a generic region"}, kClamp, FIELD(text.residue)},
    {{"soft", T, 1, 0, 1, "soft (approximate) matching, refined"}, kSwitch, FIELD(text.soft)},
    {{"refdict", T, 0, 0, 1, "second, refinement/aggregate dictionary"}, kSwitch, FIELD(text.refdict)},
    {{"allrefdict", T, 0, 0, 1, "every refined symbol into that dictionary"}, kSwitch, FIELD(text.allrefdict)},
    {{"match", T, 80, 0, 100, "soft match threshold, percent of agreeing pixels"}, kClamp, FIELD(text.match)},
    {{"dictbonus", T, 0, INT32_MIN, INT32_MAX, "soft matching: penalty for candidates not yet symbols"}, kCoder, FIELD(text.dictbonus)},
    {{"sizeoffset", T, 0, 0, INT32_MAX, "largest size difference to a match candidate"}, kClamp, FIELD(text.sizeoffset)},
    {{"matchoffset", T, 0, 0, 8, "soft matching: shifts tried in each direction"}, kClamp, FIELD(text.matchoffset)},
    {{"lossy", T, 0, 0, 1, "lossy: a mark within the shape gate of a like mark is drawn as its symbol"}, kSwitch, FIELD(text.lossy)},
    {{"htpattern", H, 0, 0, 1, "patterns: 0 clustered-dot, 1 dispersed-dot"}, kSwitch, FIELD(halftone.htpattern)},
    {{"combop", H, 0, 0, 4, "pattern operator: 0 OR, 1 AND, 2 XOR, 3 XNOR, 4 REPLACE"}, kCoder, FIELD(halftone.combop)},
    {{"skip", H, 0, 0, 1, "skip cells outside the region"}, kSwitch, FIELD(halftone.skip)},
};
constexpr long kRuleCount = sizeof kRules / sizeof kRules[0];

// The public table, in the same order.
struct KeywordTable {
  PARAMETER_KEYWORD entries[kRuleCount];
  KeywordTable() {
    for (long i = 0; i < kRuleCount; ++i) entries[i] = kRules[i].keyword;
  }
};

const char* const kTypeNames[] = {"gr", "sr", "ht"};
const uint32_t kTypeBits[] = {G, T, H};

class Reviewer {
 public:
  Reviewer(PARAMETER_REPORT report, void* user) : report_(report), user_(user) {}
  bool refused() const { return refused_; }

  // Findings about a section start with its number and type word.
  void Section(long number, int32_t type) {
    prefix_ = "Section " + std::to_string(number) + " (" + kTypeNames[type >= 0 && type <= 2 ? type : 0] + "): ";
  }
  void Say(bool error, const std::string& text) {
    if (error) refused_ = true;
    if (!report_) return;
    const std::string line = prefix_ + text;
    report_(user_, error ? 1 : 0, line.c_str());
  }

 private:
  PARAMETER_REPORT report_;
  void* user_;
  std::string prefix_;
  bool refused_ = false;
};

size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string NearestWord(const std::string& word) {
  std::string best;
  size_t bestDistance = SIZE_MAX;
  auto consider = [&](const char* candidate) {
    const size_t d = EditDistance(word, candidate);
    if (d < bestDistance) {
      bestDistance = d;
      best = candidate;
    }
  };
  for (const Rule& r : kRules) consider(r.keyword.pszName);
  for (const char* t : kTypeNames) consider(t);
  return best;
}

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

// The rule for `name` in a section of type bits `typeBits` (page rules in the
// first section), the first rule of that name when none applies (*applies
// false), or null for an unknown name.
const Rule* FindRule(const char* name, uint32_t typeBits, bool first, bool* applies) {
  const Rule* any = nullptr;
  for (const Rule& r : kRules) {
    if (std::strcmp(r.keyword.pszName, name) != 0) continue;
    if ((r.keyword.lSections & typeBits) || (first && (r.keyword.lSections & P))) {
      *applies = true;
      return &r;
    }
    if (!any) any = &r;
  }
  *applies = false;
  return any;
}

// A keyword's value, reduced or clamped to the value the coders will use.
void ReviewValue(Reviewer& review, const Rule& rule, int32_t* value) {
  const PARAMETER_KEYWORD& k = rule.keyword;
  const int32_t v = *value;
  int32_t used = v;
  const char* why = " Outside Its Range";
  switch (rule.check) {
    case kCoder:
      return;
    case kSwitch:
      if (v == 0 || v == 1) return;
      used = 1;
      why = " Is a Switch";
      break;
    case kClamp:
      used = std::clamp(v, k.lMin, k.lMax);
      break;
    case kByte:
    case kAdaptive:
      if (v >= -128 && v <= 127) return;
      used = static_cast<int8_t>(v);  // a signed 8-bit field (T.88 7.4.6.3)
      why = " Does Not Fit Its 8-Bit Field";
      break;
    case kTwoBits:
      used = v & 3;
      why = " Does Not Fit Its 2-Bit Field";
      break;
  }
  if (used == v) return;
  const bool field = rule.check == kByte || rule.check == kAdaptive;
  char range[64];
  std::snprintf(range, sizeof range, " (%d to %d)", field ? -128 : k.lMin, field ? 127 : k.lMax);
  review.Say(false,
             std::string(k.pszName) + "=" + std::to_string(v) + why + range +
                 " - Using " + std::to_string(used));
  *value = used;
}

// Adaptive pixels that a generic template reads must lie in the field of
// T.88 6.2.5.4 (Figure 7): above the current row, or left of the current
// pixel on it.
void ReviewAdaptivePixels(Reviewer& review, const SectionSettings& s) {
  const GenericSettings& g = s.generic;
  const bool read = s.type == 0 ? g.mmr == 0 : g.mmr == 0 || s.text.huff == 0;
  if (!read) return;
  const int pixels = g.templ >= 1 && g.templ <= 3 ? 1 : 4;
  for (int k = 0; k < pixels; ++k) {
    const int32_t x = g.atx[k], y = g.aty[k];
    if (y < 0 || (y == 0 && x < 0)) continue;
    const std::string xn = "atx" + std::to_string(k + 1), yn = "aty" + std::to_string(k + 1);
    review.Say(true,
               "Adaptive Pixel (" + xn + "=" + std::to_string(x) + ", " + yn + "=" + std::to_string(y) +
                   ") Not Allowed: it must lie above the pixel coded (" + yn + " -128 to -1, " + xn +
                   " -128 to 127) or left of it on its row (" + yn + " 0, " + xn + " -128 to -1)");
  }
}

// Co-ordinates must be "(" and up to four integers separated by "," and
// closed by ")". Anything else is read as far as it goes and reported.
void ReviewCoordinates(Reviewer& review, const char* token, const PARAMETER* record) {
  const size_t len = std::strlen(token);
  bool wellFormed = len >= 2 && token[len - 1] == ')';
  int fields = 0;
  for (const char* p = token + 1; wellFormed && *p && *p != ')';) {
    char* end = nullptr;
    std::strtol(p, &end, 10);
    if (end == p || ++fields > 4) wellFormed = false;
    p = end;
    if (*p == ',') ++p;
    else if (*p != ')') wellFormed = false;
  }
  if (wellFormed) return;
  char used[96];
  std::snprintf(used, sizeof used, "(%d,%d,%d,%d)", record->lX0, record->lY0, record->lX1, record->lY1);
  const bool unclosed = std::strchr(token, ')') == nullptr;
  review.Say(false,
             "Co-Ordinates " + Quote(token) + (unclosed ? " Not Closed with \")\"" : " Malformed") + " - Read as " +
                 used + " (0 for a right or bottom edge means the page's)");
}

void ReviewWord(Reviewer& review, const char* word, const PARAMETER* record) {
  ForEachToken(word, [&](char* token, size_t len) {
    if (len > 0 && token[0] == '(') ReviewCoordinates(review, token, record);
  });
}

// The value a record holds for `name` (first occurrence), or null.
int32_t* ValueOf(PARAMETER* record, const char* name) {
  int index = StringLookup(record->ppszKeys, record->nKeys, name);
  return index ? &record->plValues[index - 1] : nullptr;
}

// Sets a keyword the review replaces, in the record and in its settings.
void Replace(PARAMETER* record, const char* name, Setting* setting, int32_t value) {
  if (int32_t* stored = ValueOf(record, name)) *stored = value;
  setting->value = value;
}

// Without "huff" the dictionaries and the text region are arithmetic-coded,
// and their table selections must be 0 (T.88 7.4.2.1.1, 7.4.3.1.1).
void ReviewUnusedTables(Reviewer& review, PARAMETER* record, SectionSettings& s) {
  for (const char* name : {"huffdh", "huffdw", "huffbmsize", "huffagginst", "hufffs", "huffds", "huffdt", "huffrdw",
                           "huffrdh", "huffrdx", "huffrdy", "huffrsize", "direct"}) {
    bool applies = false;
    Setting* setting = FindRule(name, T, false, &applies)->field(s);
    if (!setting->given || setting->value == 0) continue;
    review.Say(false, "Keyword " + Quote(name) + " Has No Effect without \"huff\" - Ignored");
    Replace(record, name, setting, 0);
  }
}

// Reads one record into *s: the table's defaults, then the keywords that
// apply to the section, each reviewed (values reduced or clamped are written
// back into the record).
void ReadSection(Reviewer& review, PARAMETER* record, bool first, SectionSettings* s) {
  *s = SectionSettings{};
  s->type = record->lType;
  s->x0 = record->lX0;
  s->y0 = record->lY0;
  s->x1 = record->lX1;
  s->y1 = record->lY1;
  for (const Rule& r : kRules) *r.field(*s) = Setting{r.keyword.lDefault, false};
  const int32_t type = record->lType >= 0 && record->lType <= 2 ? record->lType : 0;
  const uint32_t typeBits = kTypeBits[type];
  for (uint32_t i = 0; i < record->nKeys; ++i) {
    const char* name = record->ppszKeys[i];
    if (StringLookup(record->ppszKeys, i, name)) continue;  // a repeat: the first occurrence counts
    if (const char* eq = std::strchr(name, '=')) {
      const std::string keyword(name, eq);
      review.Say(true, "Keyword " + Quote(keyword) + " Given " + Quote(eq + 1) + ", Which Is Not an Integer");
      continue;
    }
    bool applies = false;
    const Rule* rule = FindRule(name, typeBits, first, &applies);
    if (!rule) {
      std::string text =
          "Unknown Keyword " + Quote(name) + " Ignored - Nearest Known Keyword: " + Quote(NearestWord(name));
      if (std::strchr(name, ',') || std::strchr(name, ';')) text += " (separate keywords with \":\")";
      review.Say(false, text);
      continue;
    }
    if (!applies) {
      const bool pageOnly = rule->keyword.lSections == P;
      review.Say(false,
                 "Keyword " + Quote(name) +
                     (pageOnly ? " Is Read from the First Section Only - Ignored"
                               : " Has No Effect in This Kind of Section - Ignored"));
      continue;
    }
    ReviewValue(review, *rule, &record->plValues[i]);
    *rule->field(*s) = Setting{record->plValues[i], true};
  }
  if (type == 0 || type == 1) ReviewAdaptivePixels(review, *s);
  if (type == 1 && s->text.huff == 0) ReviewUnusedTables(review, record, *s);
}

// With "opoverride" 0 every region must use the page's operator (T.88
// 7.4.8.5). Only OR on a white page, or XOR on either, can rebuild the page
// that way, and only when no text section needs AND or XNOR to draw itself.
void ReviewPageOperator(Reviewer& review, PARAMETER* first, std::vector<SectionSettings>& sections) {
  PageSettings& page = sections[0].page;
  if (!page.opoverride.given || page.opoverride != 0) return;
  const int32_t op = page.pageop >= 0 && page.pageop <= 3 ? page.pageop.value : 0;
  const bool black = page.pagepixel != 0;
  bool invert = false, defPixel = false;
  for (const SectionSettings& s : sections) {
    if (s.type != 1) continue;
    invert = invert || s.text.invert != 0;
    defPixel = defPixel || s.text.defpixel != 0;
  }
  const bool feasible = (op == kOpOr && !black && !invert && !defPixel) || (op == kOpXor && !invert);
  if (feasible) return;
  static const char* const kOps[] = {"OR", "AND", "XOR", "XNOR"};
  review.Say(false,
             std::string("opoverride=0 Would Make Every Region Use pageop=") + std::to_string(op) + " (" + kOps[op] +
                 "), Which Cannot Rebuild This Page - Using opoverride=1");
  Replace(first, "opoverride", &page.opoverride, 1);
}

inline constexpr uint32_t kDefaultStripeRows = 1024;  // "stripe" = 1

// Rows per stripe that a "stripe" value asks for, 0 for none.
uint32_t StripeRows(int32_t stripe) {
  if (stripe == 1) return kDefaultStripeRows;
  // The page striping field holds the stripe size in 15 bits (T.88 7.4.8.6).
  if (stripe < 0 || stripe > kMaxStripeSize) return 0;
  return static_cast<uint32_t>(stripe);
}

// A value outside [low, high] replaced by `used`, with the note the coder gives.
void Keep(Setting* setting, int32_t low, int32_t high, int32_t used, Notes* notes, const char* text) {
  if (setting->value >= low && setting->value <= high) return;
  notes->push_back(text);
  setting->value = used;
}

// SBDEFPIXEL and SBCOMBOP. Marks are black pixels of the section, or of its
// complement when SBDEFPIXEL is 1; drawn with OR or XOR on that background
// they rebuild the section. AND and XNOR rebuild it from complemented symbol
// bitmaps (invertSymbols). OR on black and AND on white cannot draw a mark
// at all, so XOR takes their place.
void ResolveDrawing(TextSettings& t) {
  const bool black = t.defpixel != 0;
  Keep(&t.combop, kOpOr, kOpXnor, kOpOr, &t.notes, "Invalid COMBOP for a Text Region - Using 0 (OR)");
  if (black) {
    if (t.combop != kOpXor) t.notes.push_back("Recommend COMBOP=2 (XOR) for DEFPIXEL=1");
  } else if (t.combop == kOpAnd || t.combop == kOpXor) {
    t.notes.push_back("Possibly incompatible DEFPIXEL & COMBOP");
  }
  if ((black && t.combop == kOpOr) || (!black && t.combop == kOpAnd)) {
    t.notes.push_back("DEFPIXEL & COMBOP Would Erase Every Mark - Using COMBOP=2 (XOR)");
    t.combop.value = kOpXor;
  }
  t.invertSymbols = t.combop == kOpAnd || t.combop == kOpXnor;
}

// The values the coders replace, with the notes they give then (in the
// order they give them).
void Resolve(SectionSettings& s) {
  PageSettings& page = s.page;
  page.stripeRows = StripeRows(page.stripe);
  // The page default operator has two bits (T.88 7.4.8.5).
  Keep(&page.pageop, 0, 3, kOpOr, &page.notes, "Invalid Page Combination Operator - Using OR");
  GenericSettings& g = s.generic;
  g.stripe = page.stripe;
  g.stripeRows = page.stripeRows;
  Keep(&g.templ, 0, 3, 0, &g.notes, "Invalid Template - Using Template 0");
  TextSettings& t = s.text;
  Keep(&t.strip, 0, 3, std::clamp(t.strip.value, 0, 3), &t.notes, "STRIP Outside 0 to 3 - Clamped");
  ResolveDrawing(t);
  // SBDSOFFSET is a signed 5-bit field.
  Keep(&t.dsoffset, -16, 15, std::clamp(t.dsoffset.value, -16, 15), &t.notes, "DSOFFSET Outside -16 to 15 - Clamped");
  // HCOMBOP has three bits and T.88 defines values 0 to 4 only.
  Keep(&s.halftone.combop, kOpOr, kOpReplace, kOpOr, &s.halftone.notes, "Invalid Combination Operator - Using OR");
}

}  // namespace

void ReportNotes(const Notes& notes) {
  for (const char* text : notes) PrintWarning(text);
}

const PARAMETER_KEYWORD* GetParameterKeywords(long* count) noexcept {
  static const KeywordTable table;
  if (count) *count = kRuleCount;
  return table.entries;
}

int ReadSections(long nWords, char** words, PARAMETER* records, long nRecords, PARAMETER_REPORT report, void* user,
                 std::vector<SectionSettings>* settings) noexcept {
  if (!records || nRecords < 1) return kReviewPassed;
  try {
    Reviewer review(report, user);
    std::vector<SectionSettings> read(static_cast<size_t>(nRecords));
    for (long i = 0; i < nRecords; ++i) {
      review.Section(i + 1, records[i].lType);
      if (words && i < nWords && words[i]) ReviewWord(review, words[i], &records[i]);
      ReadSection(review, &records[i], i == 0, &read[i]);
    }
    review.Section(1, records[0].lType);
    ReviewPageOperator(review, &records[0], read);
    for (SectionSettings& s : read) Resolve(s);
    if (settings) *settings = std::move(read);
    return review.refused() ? kReviewRefused : kReviewPassed;
  } catch (const std::bad_alloc&) {
    PrintError("Out of Memory");
    return kReviewOutOfMemory;
  }
}

SectionSettings SectionOf(const PARAMETER& record, bool first) {
  PARAMETER copy = record;  // the review writes into the values: its own copy
  std::vector<int32_t> values(record.plValues, record.plValues + (record.plValues ? record.nKeys : 0));
  copy.plValues = values.data();
  Reviewer silent(nullptr, nullptr);
  SectionSettings s;
  ReadSection(silent, &copy, first, &s);
  Resolve(s);
  return s;
}

int ReviewSections(long nWords, char** words, PARAMETER* records, long nRecords, PARAMETER_REPORT report,
                   void* user) noexcept {
  return ReadSections(nWords, words, records, nRecords, report, user, nullptr);
}

int CheckParameters(long nWords, char** words, PARAMETER* records, long nRecords, PARAMETER_REPORT report,
                    void* user) noexcept {
  return ReviewSections(nWords, words, records, nRecords, report, user) == kReviewPassed ? 0 : 1;
}
