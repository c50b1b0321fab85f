// untransc FILE: decodes FILE (BASENAME.jb2 or BASENAME.jbig2, named with or
// without its extension) and writes each page as BASENAME_<page number>.bmp.
//
// Every page is written under a temporary name and renamed when complete, so
// a failure never leaves a half-written BMP file behind.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/limits.h"
#include "common/version.h"
#include "decoder/untransclib.h"
#include "tools/file_names.h"

namespace {

constexpr size_t kNameBuffer = 1024;

void PrintProgramError(const char* message) { std::fprintf(stderr, "ERROR!   %s\n", message); }

// Reads the whole file; ends the process with status 1 when it cannot.
void ReadFile(const char* name, unsigned char** data, unsigned long* size) {
  FILE* file = std::fopen(name, "rb");
  if (!file) {
    std::fprintf(stderr, "Could not load %s\n", name);
    std::exit(1);
  }
  long length = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) length = std::ftell(file);
  unsigned char* buffer = nullptr;
  bool ok = length >= 0 && std::fseek(file, 0, SEEK_SET) == 0;
  if (ok) {
    buffer = static_cast<unsigned char*>(std::malloc(length > 0 ? static_cast<size_t>(length) : 1));
    ok = buffer && (length == 0 || std::fread(buffer, static_cast<size_t>(length), 1, file) == 1);
  }
  std::fclose(file);
  if (!ok) {
    std::fprintf(stderr, "Could not read %s\n", name);
    std::free(buffer);
    std::exit(1);
  }
  *data = buffer;
  *size = static_cast<unsigned long>(length);
}

// The size SaveBMP gives a complete file of this bitmap.
uint64_t ExpectedBmpSize(const BMP* bmp) {
  uint64_t rowBytes = (uint64_t{bmp->lBytesPerRow} + 3) / 4 * 4;
  return 62 + rowBytes * bmp->lHeight;
}

// Writes the page under a temporary name, then renames it into place.
bool WritePage(const char* name, BMP* bitmap) {
  char temporary[kNameBuffer + 8];
  std::snprintf(temporary, sizeof temporary, "%s.part", name);
  SaveBMP(temporary, bitmap);
  struct stat info;
  bool ok = stat(temporary, &info) == 0 && static_cast<uint64_t>(info.st_size) == ExpectedBmpSize(bitmap) &&
            std::rename(temporary, name) == 0;
  if (!ok) std::remove(temporary);
  return ok;
}

// The exit status of a file that decoded with errors or holds no page.
constexpr int kExitDamaged = 2;

void PrintHelp() {
  std::printf(
      "Usage: untransc FILE\n"
      "       untransc --help | --version\n"
      "\n"
      "Decodes a JBIG2 (ITU-T T.88) file and writes each page as a 1-bit BMP file\n"
      "with the page's resolution. FILE is named with its extension (scan.jb2,\n"
      "scan.jbig2) or without it (scan: scan.jb2, else scan.jbig2). Page N is\n"
      "written as BASENAME_N.bmp next to the input (scan_1.bmp).\n"
      "\n"
      "Damaged files are decoded as far as they go: errors are reported on\n"
      "standard error and every page is still written with what was decoded.\n"
      "\n"
      "Exit status: 0 when every page was decoded without an error; 2 when the\n"
      "file is damaged (cut short, or a segment reported an error: its pages\n"
      "were written as far as they decoded) or holds no page; 1 when it cannot\n"
      "be read or is not a JBIG2 file, or when a page is too large to decode or\n"
      "cannot be written.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (jb2tool::Asks(argc, argv, "-h", "--help")) {
    PrintHelp();
    return 0;
  }
  if (jb2tool::Asks(argc, argv, "-V", "--version")) {
    std::printf("untransc (%s) %s\n", JB2_CODEC_NAME, JB2_CODEC_VERSION);
    return 0;
  }
  if (argc == 1) {
    PrintProgramError("Syntax: untransc FILENAME (with or without .jb2 or .jbig2)");
    return 0;
  }
  const jb2tool::Names names = jb2tool::ResolveInput(argv[1], {".jb2", ".jbig2"});
  char inputName[kNameBuffer];
  if (names.input.size() >= sizeof inputName) {
    PrintProgramError("File Name too Long");
    return 1;
  }
  std::snprintf(inputName, sizeof inputName, "%s", names.input.c_str());

  JB2FILE file;
  std::memset(&file, 0, sizeof file);
  unsigned char* data = nullptr;
  ReadFile(inputName, &data, &file.lFileSize);
  file.pFileData = data;
  if (JB2ParseFile(&file) != 0) {
    PrintProgramError("Invalid .JB2 File");
    std::free(data);
    return 1;
  }
  // Damage (a file cut short, a segment that reported an error, no page)
  // is told apart from failure: every page is still written.
  bool damaged = file.nParseErrors != 0 || file.nPages == 0;
  if (file.nPages == 0) PrintProgramError("No Page in the File");
  damaged |= UntranscodeGlobal(&file) != 0;

  int status = 0;
  for (uint32_t i = 0; i < file.nPages; ++i) {
    JB2PAGE* page = &file.pPages[i];
    char outputName[kNameBuffer];
    int length = std::snprintf(outputName, sizeof outputName, "%s_%u.bmp", names.base.c_str(),
                               static_cast<unsigned>(page->lPageNumber));
    // The temporary name adds ".part".
    if (length < 0 || static_cast<size_t>(length) + 5 >= sizeof outputName) {
      PrintProgramError("File Name too Long");
      status = 1;
      continue;
    }
    // A page of unknown height starts as one row and grows with its stripes.
    if (!PageSizeAccepted(page->Info.lWidth, page->Info.lHeight)) {
      PrintProgramError("Page Too Large: Not Decoded");
      status = 1;
      continue;
    }
    CreateBMP(&page->Bitmap, page->Info.lWidth, page->Info.lHeight, static_cast<int>(page->Info.lDefaultPixel));
    damaged |= UntranscodePage(page) != 0;
    page->Bitmap.lXResolution = page->Info.lXResolution;
    page->Bitmap.lYResolution = page->Info.lYResolution;
    if (!WritePage(outputName, &page->Bitmap)) {
      std::fprintf(stderr, "ERROR!   Could not write %s\n", outputName);
      status = 1;
    }
    DestroyBMP(&page->Bitmap);
  }
  JB2FreeFile(&file);
  std::free(data);
  return status != 0 ? status : damaged ? kExitDamaged : 0;
}
