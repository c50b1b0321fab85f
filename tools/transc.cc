// transc IMAGE [SECTION ...]: codes the 1-bit page IMAGE (a BMP or PBM file,
// named with or without its extension) into the JBIG2 file BASENAME.jb2.
// "-" reads the image from standard input; -o - writes to standard output.
// Each further word is one page section in the encoder's parameter language.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include <vector>

#include "encoder/transclib.h"
#include "include/jbig2codec/jb2_encode.h"
#include "tools/file_names.h"
#include "tools/image_input.h"
#include "tools/interrupt_cleanup.h"
#include "tools/output_files.h"

namespace {

// Base name plus ".bmp" or ".jb2" and the terminator must fit this buffer.
constexpr size_t kNameBufferSize = 1024;

void PrintProgramError(const char* message) { std::fprintf(stderr, "ERROR!   %s\n", message); }
void PrintProgramWarning(const char* message) { std::fprintf(stderr, "Warning! %s\n", message); }
void PrintInstructions() { PrintProgramWarning("Run transc --help for instructions"); }

void PrintReport(void*, int bError, const char* text) {
  if (bError) PrintProgramError(text);
  else PrintProgramWarning(text);
}

std::string RangeText(const PARAMETER_KEYWORD& k) {
  if (k.lMin == INT32_MIN && k.lMax == INT32_MAX) return "any integer";
  if (k.lMax == INT32_MAX) return std::to_string(k.lMin) + " or more";
  if (k.lMin == 0 && k.lMax == 1) return "0 or 1";
  if (k.lMin == k.lMax) return std::to_string(k.lMin);
  return std::to_string(k.lMin) + " to " + std::to_string(k.lMax);
}

void PrintKeywords(uint32_t group, const char* title) {
  std::printf("\n%s\n", title);
  long count = 0;
  const PARAMETER_KEYWORD* keywords = GetParameterKeywords(&count);
  for (long i = 0; i < count; ++i) {
    const PARAMETER_KEYWORD& k = keywords[i];
    if (!(k.lSections & group)) continue;
    std::string line = "  " + std::string(k.pszName);
    line.resize(15, ' ');
    line += RangeText(k);
    if (!std::strstr(k.pszMeaning, "default:")) line += ", default " + std::to_string(k.lDefault);
    std::printf("%s: %s\n", line.c_str(), k.pszMeaning);
  }
}

const char kUsage[] =
    "Usage: transc [OPTIONS] IMAGE [IMAGE ...] [SECTION ...]\n"
    "       transc --help | --version\n";

void PrintHelp() {
  std::printf(
      "%s"
      "\n"
      "Codes bi-level pages into a JBIG2 (ITU-T T.88) file. IMAGE is a PNG, JPEG,\n"
      "TIFF, PNM, BMP, GIF, WebP or JPEG 2000 file, named with its extension\n"
      "(page.png) or without it (page: page.bmp, else page.pbm, page.png, page.tif,\n"
      "...). Grey and colour pages are made 1-bit for text. The output is the base\n"
      "name with .jb2 (page.jb2). The image's resolution is kept. IMAGE - reads\n"
      "the image from standard input (any of these formats; -o then names the\n"
      "output).\n"
      "\n"
      "A document: more image files after the first, a multi-page TIFF file, or a\n"
      "base name DOC whose pages are DOC_1, DOC_2, ... (the names untransc writes).\n"
      "Every page is coded with the same sections into one file DOC.jb2; with one\n"
      "text section over the page (sr), marks found on two pages or more of a group\n"
      "of pages (--dict-pages) are coded once, in a dictionary the group shares.\n"
      "\n"
      "Options:\n"
      "  --pdf         write DOC.pdf: one PDF page per image, JBIG2-coded\n"
      "  --embedded    write the streams a PDF holds: DOC_N.jb2e for page N and\n"
      "                DOC.jb2g with the shared symbols (when there are any;\n"
      "                DOC_N.jb2g for a later group's, N its first page)\n"
      "  -o BASE       name the output BASE.jb2 (BASE.pdf, BASE_N.jb2e)\n"
      "  -o -          write the .jb2 file (the PDF with --pdf) to standard output\n"
      "  -q, --quiet   no progress (shown on a terminal for documents)\n"
      "  --threads N   code a document's pages on N threads (default: one per\n"
      "                core); the file is the same whatever N\n"
      "  --dict-pages N  text documents: a new shared dictionary every N pages\n"
      "                (default 20; 0: one for all pages); a group's first\n"
      "                pass keeps its marks' hashes, a viewer decodes a page's\n"
      "                whole group dictionary to show it\n"
      "  --threshold auto|N  grey and colour pages: auto (default) follows the\n"
      "                paper under uneven light; N (0 to 255) makes black every\n"
      "                pixel darker than N\n"
      "  --            the options end: later words starting with - are files\n"
      "\n"
      "Any other word starting with - is refused (no section word starts with -).\n"
      "\n"
      "Each SECTION word describes one rectangle of the page and how it is coded;\n"
      "without any, the whole page is one generic region. Sections are coded in\n"
      "order and each one's pixels are cleared before the next, so a last section\n"
      "without co-ordinates codes what is left. Pixels that no section covers are\n"
      "coded as one more generic region (with a warning).\n"
      "\n"
      "A section word is tokens joined by any of : / \\ ^ # ' (or blanks, quoted),\n"
      "case-insensitive:\n"
      "  gr | sr | ht          generic (default), text (symbol) or halftone region\n"
      "  (x0,y0,x1,y1)         left, top, right, bottom (right and bottom exclusive;\n"
      "                        0 or missing: the page's width or height)\n"
      "  name=value            a keyword set to an integer\n"
      "  name                  a keyword set to 1\n"
      "\n"
      "Examples:\n"
      "  transc page.bmp                                 one generic region\n"
      "  transc page gr:mmr                              MMR (T.6) coding\n"
      "  transc page sr                                  text region: symbols\n"
      "  transc page \"gr/template=1/(0,0,1100,300)\" sr   header generic, rest text\n"
      "  transc page \"ht htpattern=1 (0,300,1100,900)\" gr\n",
      kUsage);
  PrintKeywords(PARAMETER_PAGE, "Page and file keywords (read from the first section):");
  PrintKeywords(PARAMETER_GENERIC, "Generic sections (gr):");
  PrintKeywords(PARAMETER_TEXT, "Text sections (sr):");
  PrintKeywords(PARAMETER_HALFTONE, "Halftone sections (ht; lossy: each 4 x 4 cell keeps its count of black pixels):");
  std::printf(
      "\n"
      "A keyword that nothing reads, a value that is reduced or clamped, and\n"
      "malformed co-ordinates get a warning. A value that is not an integer, or\n"
      "that cannot make a conformant file (an adaptive pixel on or after the pixel\n"
      "coded), is refused.\n"
      "\n"
      "Lossy text (sr:lossy): a mark is drawn as the symbol of its class of like\n"
      "marks (the first of them, or their per-pixel majority), without\n"
      "refinement, only when the two pass a shape gate. With one-pixel bumps and\n"
      "pits smoothed away (thin strokes kept), their boxes differ by at most r\n"
      "pixels each way, they have the same number of pieces and of holes (also\n"
      "with thin strokes removed), and every black pixel of each is within r\n"
      "pixels of the other's; small marks (under 14 r rows or 40 r^2 black\n"
      "pixels) and narrow ones only match identical marks; r = max(1,\n"
      "round(dpi / 300)), 300 dpi when unknown. Every other mark is coded as\n"
      "without lossy, and the file is checked against the gate before it is\n"
      "written. Pixels change (outlines move by up to r pixels, specks on a\n"
      "mark's edge go); no mark is removed. Nor is a mark drawn as a symbol\n"
      "that lies nearer another mark of the page the gate tells apart from it\n"
      "(counting differing pixels) than the mark itself, or when another mark\n"
      "lies at most r blank rows above or below it (a character noise broke).\n"
      "In a document, like marks of several pages are drawn as one symbol\n"
      "of the shared dictionary, when they also differ from it in at most a\n"
      "quarter of their black pixels.\n"
      "\n"
      "Exit status: 0 when the file was written (also after warnings); 1 when an\n"
      "option is unknown or lacks its value, the image cannot be loaded, the\n"
      "section words are refused, the file cannot be written, or the lossy check\n"
      "fails (no file is left then).\n");
}

// The command line: options, the page images, the section words.
struct CommandLine {
  bool pdf = false, embedded = false, quiet = false;
  unsigned threads = 0;            // --threads; 0: as many as the machine has
  long dictPages = -1;             // --dict-pages; -1: the library's default
  int threshold = jb2tool::kAutoThreshold;  // --threshold
  std::string outputBase;          // -o; empty: from the first image
  std::vector<std::string> words;  // section words
  std::vector<jb2tool::Names> images;
  bool document = false;           // BASE_1, BASE_2, ... found for BASE
  bool standardInput = false;      // an image is "-"
  std::string error;
  bool usage = false;              // the error is the command line's form: the usage follows
};

bool IsImageFile(const std::string& arg) {
  return !jb2tool::KnownExtension(arg, jb2tool::kImageExtensions).empty() && jb2tool::Exists(arg);
}

// Reads the option argv[*i] (and its value, moving *i on to it). No
// section word starts with '-', so any other such argument is refused.
void ReadOption(int argc, char** argv, int* i, CommandLine* c, bool* optionsEnd) {
  const std::string arg = argv[*i];
  auto refuse = [c](const std::string& reason) {
    if (c->error.empty()) c->error = reason;
    c->usage = true;
  };
  if ((arg == "-o" || arg == "--threads" || arg == "--threshold" || arg == "--dict-pages") && *i + 1 >= argc) {
    refuse("Option " + arg + " Needs a Value");
  } else if (arg == "--") {
    *optionsEnd = true;
  } else if (arg == "--pdf") {
    c->pdf = true;
  } else if (arg == "--embedded") {
    c->embedded = true;
  } else if (arg == "-q" || arg == "--quiet") {
    c->quiet = true;
  } else if (arg == "-o") {
    c->outputBase = argv[++*i];
  } else if (arg == "--threshold") {
    if (!jb2tool::ReadThreshold(argv[++*i], &c->threshold)) refuse("--threshold Takes auto or a Number from 0 to 255");
  } else if (arg == "--threads" || arg == "--dict-pages") {
    const std::string n = argv[++*i];
    if (n.empty() || n.size() > 6 || n.find_first_not_of("0123456789") != std::string::npos)
      refuse("Option " + arg + " Needs a Number, not " + n);
    else if (arg == "--threads") c->threads = static_cast<unsigned>(std::stoul(n));
    else c->dictPages = static_cast<long>(std::stoul(n));
  } else {
    refuse("Unknown Option " + arg);
  }
}

// The first argument that is not an option names the first image (or, when
// BASE.bmp and BASE.pbm do not exist but BASE_1.bmp or BASE_1.pbm does, the
// document BASE_1, BASE_2, ...); further existing .bmp or .pbm files are
// more pages; every other argument is a section word. After "--" every
// argument is an image or a section word.
CommandLine ReadCommandLine(int argc, char** argv) {
  CommandLine c;
  bool first = true, optionsEnd = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-") {  // standard input: an image with no name to make the output's from
      if (c.standardInput && c.error.empty()) c.error = "Standard Input (-) Named Twice";
      c.standardInput = true;
      c.images.push_back({"-", ""});
      first = false;
      continue;
    }
    if (!optionsEnd && !arg.empty() && arg[0] == '-') {
      ReadOption(argc, argv, &i, &c, &optionsEnd);
      continue;
    }
    if (first) {
      first = false;
      const jb2tool::Names names = jb2tool::ResolveInput(arg, jb2tool::kImageExtensions);
      if (!jb2tool::Exists(names.input) && jb2tool::KnownExtension(arg, jb2tool::kImageExtensions).empty()) {
        for (uint32_t n = 1;; ++n) {
          const jb2tool::Names page = jb2tool::ResolveInput(arg + "_" + std::to_string(n), jb2tool::kImageExtensions);
          if (!jb2tool::Exists(page.input)) break;
          c.images.push_back(page);
          c.document = true;
        }
      }
      if (c.images.empty()) c.images.push_back(names);
      if (c.outputBase.empty()) c.outputBase = c.document ? arg : names.base;
    } else if (IsImageFile(arg)) {
      c.images.push_back(jb2tool::ResolveInput(arg, jb2tool::kImageExtensions));
    } else {
      c.words.push_back(arg);
    }
  }
  if (first && c.error.empty()) c.error = "No Image Given";
  if (c.pdf && c.embedded && c.error.empty()) c.error = "Choose One of --pdf and --embedded";
  if (c.images.size() > 0 && c.images[0].input == "-" && c.outputBase.empty() && c.error.empty())
    c.error = "Standard Input Gives No Name: -o BASE Names the Output (-o - Writes to Standard Output)";
  if (c.embedded && c.outputBase == "-" && c.error.empty())
    c.error = "--embedded Writes Several Files: Not to Standard Output";
  return c;
}

void PrintMessage(void*, int, const char* line) { std::fprintf(stderr, "%s\n", line); }

void PrintProgress(void*, uint32_t page, uint32_t pages) {
  std::fprintf(stderr, "\rtransc: page %u of %u", page, pages);
  if (page == pages) std::fprintf(stderr, "\n");
}

// Reads the document's pages [from, to) (counted from 0 over every image in
// turn) and gives each to `take` until it fails (*status); false (with the
// reason printed) when a page cannot be read. `counts` are the images'
// page counts.
template <typename Take>
bool ForEachPage(const CommandLine& c, const std::vector<uint32_t>& counts, uint32_t from, uint32_t to, Take take,
                 jb2_status* status) {
  uint32_t first = 0;  // the image's first page in the document
  for (size_t i = 0; *status == JB2_OK && i < c.images.size() && first < to; first += counts[i], ++i) {
    if (first + counts[i] <= from) continue;
    jb2tool::PageReader reader;
    bool loaded = reader.Open(c.images[i].input, c.threshold) == 0;
    for (uint32_t n = 0; loaded && *status == JB2_OK && n < reader.pages() && first + n < to; ++n) {
      BMP page{};
      loaded = reader.Next(&page) == 0;
      const jb2_image image{page.pData, page.lWidth, page.lHeight, page.lStride, page.lXResolution, page.lYResolution};
      if (loaded && first + n >= from) *status = take(image);
      DestroyBMP(&page);
    }
    if (!loaded) {
      std::fprintf(stderr, "\nERROR: Could not load file %s \n", c.images[i].input.c_str());
      return false;
    }
  }
  return true;
}

// Codes every page into the chosen output, reading, coding and releasing
// one page at a time: one .jb2 file with all pages, a PDF, or the embedded
// streams (BASE.jb2g with the shared symbols, when any, and BASE_N.jb2e for
// page N). The files appear under their names only when all is written.
int CodeDocument(const CommandLine& c) {
  uint32_t total = 0;
  std::vector<uint32_t> counts;
  for (const jb2tool::Names& image : c.images) total += counts.emplace_back(jb2tool::CountPages(image.input));
  jb2_encoder* encoder = nullptr;
  if (jb2_encoder_create(&encoder) != JB2_OK) return 1;
  jb2_encoder_set_messages(encoder, PrintMessage, nullptr);
  if (!c.quiet && isatty(2)) jb2_encoder_set_progress(encoder, PrintProgress, nullptr);
  jb2_encoder_set_threads(encoder, c.threads);
  if (c.dictPages >= 0) jb2_encoder_set_dict_pages(encoder, static_cast<uint32_t>(c.dictPages));
  std::vector<const char*> words;
  for (const std::string& w : c.words) words.push_back(w.c_str());
  if (jb2_encoder_set_sections(encoder, static_cast<int>(words.size()), words.data()) != JB2_OK) {
    PrintProgramError("Section Words Refused - No File Written");
    jb2_encoder_destroy(encoder);
    return 1;
  }
  const jb2_output_kind kind = c.pdf ? JB2_OUTPUT_PDF : c.embedded ? JB2_OUTPUT_EMBEDDED : JB2_OUTPUT_FILE;
  jb2tool::OutputFiles files(kind, c.outputBase);
  jb2_document* doc = nullptr;
  jb2_status s = jb2_document_begin(encoder, total, kind, jb2tool::OutputFiles::Take, &files, &doc);
  // A text document whose pages share symbols reads each group's pages
  // twice: first for their marks, then to code them; no page is kept
  // between. (Standard input cannot be read twice: a group's pages are kept
  // instead.)
  bool loaded = true;
  const bool once = std::any_of(c.images.begin(), c.images.end(), [](const jb2tool::Names& n) { return n.input == "-"; });
  const bool twice = s == JB2_OK && jb2_document_shares_symbols(doc) && !once;
  const uint32_t group = s == JB2_OK && jb2_document_dict_pages(doc) ? jb2_document_dict_pages(doc) : total;
  auto scan = [doc](const jb2_image& image) { return jb2_document_scan_page(doc, &image); };
  auto add = [doc](const jb2_image& image) { return jb2_document_add_page(doc, &image); };
  for (uint32_t from = 0; s == JB2_OK && loaded && from < total; from += group) {
    const uint32_t to = total - from > group ? from + group : total;
    if (twice) loaded = ForEachPage(c, counts, from, to, scan, &s);
    if (s == JB2_OK && loaded) loaded = ForEachPage(c, counts, from, to, add, &s);
  }
  if (s == JB2_OK && loaded) {
    s = jb2_document_finish(doc);
  } else {
    jb2_document_cancel(doc);
  }
  // The files' own failures have been told as they happened.
  if (loaded && s != JB2_OK && s != JB2_ERROR_OUTPUT)
    std::fprintf(stderr, "ERROR!   Not Coded: %s\n", jb2_status_name(s));
  const bool written = loaded && s == JB2_OK && files.Commit();
  jb2_encoder_destroy(encoder);
  return written ? 0 : 1;
}

// Codes one page into BASE.jb2 through the programs' interface.
int CodePage(const CommandLine& c) {
  std::vector<std::string> copies = c.words;  // the parser takes writable words
  std::vector<char*> words;
  for (std::string& w : copies) words.push_back(w.data());
  const long nWords = static_cast<long>(words.size());
  long nSections = nWords;
  if (nSections == 0) {
    PrintProgramWarning("No parameters... using default settings");
    PrintInstructions();
    nSections = 1;  // one zeroed record: a generic region over the whole page
  }
  PARAMETER* sections = static_cast<PARAMETER*>(std::calloc(static_cast<size_t>(nSections), sizeof(PARAMETER)));
  ParameterAnalysis(nWords, words.data(), sections);

  int status = 0;
  BMP* image = static_cast<BMP*>(std::calloc(1, sizeof(BMP)));
  std::vector<BMP> loaded;
  const jb2tool::Names& names = c.images[0];
  const std::string outputName = names.base + ".jb2";
  if (names.base.size() + std::strlen(".bmp") >= kNameBufferSize) {
    PrintProgramError("Base name too long (at most 1019 characters)");
    status = 1;
  } else if (CheckParameters(nWords, words.data(), sections, nSections, PrintReport, nullptr) != 0) {
    PrintProgramError("Section Words Refused - No File Written");
    status = 1;
  } else if (jb2tool::LoadPages(names.input, jb2tool::kAutoThreshold, &loaded) != 0) {
    // 1: the file cannot be opened; 2: it is not a loadable image (the
    // reason has been printed). Nothing is written then.
    std::fprintf(stderr, "\nERROR: Could not load file %s \n", names.input.c_str());
    status = 1;
  } else {
    *image = loaded[0];
    char advice[kNameBufferSize];
    for (long i = 0; i < nWords; ++i)
      if (PortabilityAdvice(&sections[i], advice, sizeof advice)) PrintProgramWarning(advice);
    if (Transcode(image, 1, sections, nSections, outputName.c_str()) != 0) status = 1;  // Transcode has reported it
  }

  FreeParameters(nSections, sections);
  std::free(sections);
  DestroyBMP(image);
  std::free(image);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (jb2tool::AnswersHelpOrVersion(argc, argv, "transc", PrintHelp)) return 0;
  jb2tool::RemoveTemporariesOnInterrupt();
  if (argc <= 1) {
    PrintProgramError("Syntax: transc BMPFILE (with or without .bmp or .pbm) Parameters");
    PrintInstructions();
    return 0;
  }

  const CommandLine command = ReadCommandLine(argc, argv);
  if (!command.error.empty()) {
    PrintProgramError(command.error.c_str());
    if (command.usage) std::fputs(kUsage, stderr);
    return 1;
  }
  // Several pages, or an output other than one .jb2 file: the document coder.
  if (command.images.size() > 1 || command.pdf || command.embedded || command.document || command.quiet ||
      command.threads != 0 || command.threshold != jb2tool::kAutoThreshold ||
      jb2tool::CountPages(command.images[0].input) > 1 ||
      command.outputBase != command.images[0].base || command.outputBase == "-")
    return CodeDocument(command);

  return CodePage(command);
}


