// untransc FILE: decodes FILE (BASENAME.jb2 or BASENAME.jbig2, named with or
// without its extension, or an embedded page stream BASENAME.jb2e with its
// globals) and writes each page as BASENAME_<page number>.bmp (or .pbm).
//
// Every page is written under a temporary name and renamed when complete, so
// a failure never leaves a half-written BMP file behind.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <cctype>
#include <string>

#include "common/bitmap.h"
#include "common/version.h"
#include "include/jbig2codec/jb2_decode.h"
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
      "Usage: untransc [--pbm] FILE\n"
      "       untransc [--pbm] [--globals GLOBALS] STREAM.jb2e\n"
      "       untransc --help | --version\n"
      "\n"
      "Decodes a JBIG2 (ITU-T T.88) file and writes each page as a 1-bit BMP file\n"
      "with the page's resolution (or, with --pbm, as a PBM P4 file). FILE is named\n"
      "with its extension (scan.jb2, scan.jbig2) or without it (scan: scan.jb2, else\n"
      "scan.jbig2). Page N is written as BASENAME_N.bmp next to the input\n"
      "(scan_1.bmp).\n"
      "\n"
      "A page stream as a PDF holds it (STREAM.jb2e, as pdfimages -all writes it)\n"
      "is decoded with its globals: GLOBALS when given, else STREAM.jb2g beside it,\n"
      "else BASE.jb2g when STREAM is BASE_N or BASE-NNN (as transc --embedded and\n"
      "pdfimages name them).\n"
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

void PrintMessage(void*, int, const char* line) { std::fprintf(stderr, "%s\n", line); }

// Writes a page as PBM (P4: 1 is black) under a temporary name, renamed
// when complete; the rows go out as they are, without a copy of the page.
bool WritePbm(const std::string& name, const jb2_page& page) {
  return jb2tool::WriteAtomically(name, [&](FILE* f) {
    bool ok = std::fprintf(f, "P4\n%u %u\n", page.width, page.height) > 0;
    const size_t rowBytes = (size_t{page.width} + 7) / 8;
    for (uint32_t y = 0; ok && y < page.height; ++y) ok = std::fwrite(page.pixels + y * page.stride, 1, rowBytes, f) == rowBytes;
    return ok;
  });
}

// The globals of an embedded page stream BASE: STREAM.jb2g, or BASE.jb2g
// when the stream is named BASE_N or BASE-NNN.
std::string GlobalsBeside(const std::string& base) {
  if (jb2tool::Exists(base + ".jb2g")) return base + ".jb2g";
  size_t end = base.size();
  while (end > 0 && std::isdigit(static_cast<unsigned char>(base[end - 1]))) --end;
  if (end > 1 && end < base.size() && (base[end - 1] == '_' || base[end - 1] == '-')) {
    const std::string shared = base.substr(0, end - 1) + ".jb2g";
    if (jb2tool::Exists(shared)) return shared;
  }
  return "";
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
  bool pbm = false;
  std::string globalsName, fileArg;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--pbm") pbm = true;
    else if (arg == "--globals" && i + 1 < argc) globalsName = argv[++i];
    else if (fileArg.empty()) fileArg = arg;
  }
  if (fileArg.empty()) {
    PrintProgramError("Syntax: untransc FILENAME (with or without .jb2 or .jbig2)");
    return 0;
  }
  const jb2tool::Names names = jb2tool::ResolveInput(fileArg, {".jb2", ".jbig2", ".jb2e"});
  if (names.input.size() >= kNameBuffer) {
    PrintProgramError("File Name too Long");
    return 1;
  }
  const bool embedded = !jb2tool::KnownExtension(names.input, {".jb2e"}).empty();
  if (embedded && globalsName.empty()) globalsName = GlobalsBeside(names.base);

  unsigned char* data = nullptr;
  unsigned long size = 0;
  ReadFile(names.input.c_str(), &data, &size);
  unsigned char* globals = nullptr;
  unsigned long globalsSize = 0;
  if (!globalsName.empty()) ReadFile(globalsName.c_str(), &globals, &globalsSize);

  jb2_decoder* decoder = nullptr;
  if (jb2_decoder_create(&decoder) != JB2_OK) return 1;
  jb2_decoder_set_messages(decoder, PrintMessage, nullptr);
  const jb2_status opened = embedded ? jb2_decoder_open_embedded(decoder, data, size, globals, globalsSize)
                                     : jb2_decoder_open(decoder, data, size);
  std::free(data);
  std::free(globals);
  if (opened != JB2_OK && opened != JB2_DAMAGED) {
    PrintProgramError(embedded ? "Invalid .JB2E Stream" : "Invalid .JB2 File");
    jb2_decoder_destroy(decoder);
    return 1;
  }
  // Damage (a file cut short, a segment that reported an error, no page)
  // is told apart from failure: every page is still written.
  const uint32_t count = jb2_decoder_page_count(decoder);
  bool damaged = opened == JB2_DAMAGED || count == 0;
  if (count == 0) PrintProgramError("No Page in the File");

  int status = 0;
  for (uint32_t i = 0; i < count; ++i) {
    jb2_page page;
    const jb2_status s = jb2_decoder_decode_page(decoder, i, &page);
    if (s == JB2_ERROR_LIMIT) {
      status = 1;  // reported: "Page Too Large: Not Decoded"
      continue;
    }
    if (s != JB2_OK && s != JB2_DAMAGED) {
      std::fprintf(stderr, "ERROR!   Page Not Decoded: %s\n", jb2_status_name(s));
      status = 1;
      continue;
    }
    damaged |= s == JB2_DAMAGED;
    const std::string outputName = names.base + "_" + std::to_string(page.number) + (pbm ? ".pbm" : ".bmp");
    // The temporary name adds ".part".
    if (outputName.size() + 5 >= kNameBuffer) {
      PrintProgramError("File Name too Long");
      status = 1;
      continue;
    }
    BMP view{};
    view.pData = const_cast<unsigned char*>(page.pixels);
    view.lWidth = page.width;
    view.lHeight = page.height;
    view.lBytesPerRow = (page.width + 7) / 8;
    view.lStride = static_cast<uint32_t>(page.stride);
    view.lXResolution = page.x_resolution;
    view.lYResolution = page.y_resolution;
    const bool written = pbm ? WritePbm(outputName, page) : WritePage(outputName.c_str(), &view);
    if (!written) {
      if (!pbm) std::fprintf(stderr, "ERROR!   Could not write %s\n", outputName.c_str());
      status = 1;
    }
  }
  jb2_decoder_destroy(decoder);
  return status != 0 ? status : damaged ? kExitDamaged : 0;
}
