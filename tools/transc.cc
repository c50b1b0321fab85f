// transc IMAGE [SECTION ...]: codes the 1-bit page IMAGE (a BMP or PBM file,
// named with or without its extension) into the JBIG2 file BASENAME.jb2.
// Each further word is one page section in the encoder's parameter language.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/version.h"
#include "encoder/transclib.h"
#include "tools/file_names.h"

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

void PrintHelp() {
  std::printf(
      "Usage: transc IMAGE [SECTION ...]\n"
      "       transc --help | --version\n"
      "\n"
      "Codes one bi-level page into a JBIG2 (ITU-T T.88) file. IMAGE is a 1-bit BMP\n"
      "(Windows or OS/2) or PBM (P4 or P1) file, named with its extension (page.bmp,\n"
      "page.pbm) or without it (page: page.bmp, else page.pbm). The output is the\n"
      "base name with .jb2 (page.jb2). The image's resolution is kept.\n"
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
      "  transc page \"ht htpattern=1 (0,300,1100,900)\" gr\n");
  PrintKeywords(PARAMETER_PAGE, "Page and file keywords (read from the first section):");
  PrintKeywords(PARAMETER_GENERIC, "Generic sections (gr):");
  PrintKeywords(PARAMETER_TEXT, "Text sections (sr):");
  PrintKeywords(PARAMETER_HALFTONE, "Halftone sections (ht; lossy: each 4 x 4 cell keeps its count of black pixels):");
  std::printf(
      "\n"
      "A keyword that nothing reads, a value that is reduced or clamped, and\n"
      "malformed co-ordinates get a warning. A value that cannot make a conformant\n"
      "file (an adaptive pixel on or after the pixel coded) is refused.\n"
      "\n"
      "Exit status: 0 when the file was written (also after warnings); 1 when the\n"
      "image cannot be loaded, the section words are refused, or the file cannot\n"
      "be written (no file is left then).\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (jb2tool::Asks(argc, argv, "-h", "--help")) {
    PrintHelp();
    return 0;
  }
  if (jb2tool::Asks(argc, argv, "-V", "--version")) {
    std::printf("transc (%s) %s\n", JB2_CODEC_NAME, JB2_CODEC_VERSION);
    return 0;
  }
  if (argc <= 1) {
    PrintProgramError("Syntax: transc BMPFILE (with or without .bmp or .pbm) Parameters");
    PrintInstructions();
    return 0;
  }

  const long nWords = argc - 2;
  long nSections = nWords;
  if (nSections == 0) {
    PrintProgramWarning("No parameters... using default settings");
    PrintInstructions();
    nSections = 1;  // one zeroed record: a generic region over the whole page
  }
  PARAMETER* sections = static_cast<PARAMETER*>(std::calloc(static_cast<size_t>(nSections), sizeof(PARAMETER)));
  ParameterAnalysis(nWords, argv + 2, sections);

  int status = 0;
  BMP* image = static_cast<BMP*>(std::calloc(1, sizeof(BMP)));
  const jb2tool::Names names = jb2tool::ResolveInput(argv[1], {".bmp", ".pbm"});
  const std::string outputName = names.base + ".jb2";
  if (names.base.size() + std::strlen(".bmp") >= kNameBufferSize) {
    PrintProgramError("Base name too long (at most 1019 characters)");
    status = 1;
  } else if (CheckParameters(nWords, argv + 2, sections, nSections, PrintReport, nullptr) != 0) {
    PrintProgramError("Section Words Refused - No File Written");
    status = 1;
  } else if (LoadPageImage(names.input.c_str(), image) != 0) {
    // 1: the file cannot be opened; 2: it is not a loadable 1-bit image (the
    // reason has been printed). Nothing is written then.
    std::fprintf(stderr, "\nERROR: Could not load file %s \n", names.input.c_str());
    status = 1;
  } else {
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
