// transc BASENAME [SECTION ...]: codes the 1-bit image BASENAME.bmp into the
// JBIG2 file BASENAME.jb2. Each further word is one page section in the
// encoder's parameter language.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "encoder/transclib.h"

namespace {

// Base name plus ".bmp" or ".jb2" and the terminator must fit this buffer.
constexpr size_t kNameBufferSize = 1024;
constexpr const char* kInstructionsAddress = "https://jbig2codec.example.org/transc.html";

void PrintProgramError(const char* message) { std::fprintf(stderr, "ERROR!   %s\n", message); }
void PrintProgramWarning(const char* message) { std::fprintf(stderr, "Warning! %s\n", message); }
void PrintInstructions() { std::fprintf(stderr, "Warning! Visit %s for instructions\n", kInstructionsAddress); }

}  // namespace

int main(int argc, char** argv) {
  if (argc <= 1) {
    PrintProgramError("Syntax: transc BMPFILE (without .bmp extension) Parameters");
    PrintInstructions();
    return 0;
  }

  const long nWords = argc - 2;
  long nSections = nWords;
  if (nSections == 0) {
    PrintProgramWarning("No paramaters... using default settings");
    PrintInstructions();
    nSections = 1;  // one zeroed record: a generic region over the whole page
  }
  PARAMETER* sections = static_cast<PARAMETER*>(std::calloc(static_cast<size_t>(nSections), sizeof(PARAMETER)));
  ParameterAnalysis(nWords, argv + 2, sections);

  int status = 0;
  BMP* image = static_cast<BMP*>(std::calloc(1, sizeof(BMP)));
  char inputName[kNameBufferSize];
  char outputName[kNameBufferSize];
  if (std::strlen(argv[1]) + std::strlen(".bmp") >= kNameBufferSize) {
    PrintProgramError("Base name too long (at most 1019 characters)");
    status = 1;
  } else {
    std::snprintf(inputName, sizeof inputName, "%s.bmp", argv[1]);
    std::snprintf(outputName, sizeof outputName, "%s.jb2", argv[1]);
    // LoadBMP returns 1 when the file cannot be opened and 2 when it is not a
    // loadable 1-bit BMP (it has then printed why); nothing is written then.
    if (LoadBMP(inputName, image) != 0) {
      std::fprintf(stderr, "\nERROR: Could not load file %s \n", inputName);
      status = 1;
    } else {
      char advice[kNameBufferSize];
      for (long i = 0; i < nWords; ++i)
        if (PortabilityAdvice(&sections[i], advice, sizeof advice)) PrintProgramWarning(advice);
      if (Transcode(image, 1, sections, nSections, outputName) != 0) status = 1;  // Transcode has reported it
    }
  }

  FreeParameters(nSections, sections);
  std::free(sections);
  DestroyBMP(image);
  std::free(image);
  return status;
}
