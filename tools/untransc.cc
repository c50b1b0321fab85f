// untransc FILE ...: decodes each FILE (BASENAME.jb2 or BASENAME.jbig2, named
// with or without its extension, or an embedded page stream with its
// globals) and writes each page as BASENAME_<page number>.bmp (or .pbm,
// .png), or all pages as BASENAME.tif, under the base name or into the
// folder given with -o; -o - writes a file's one page to standard output.
//
// Every page is written under a temporary name and renamed when complete, so
// a failure never leaves a half-written file behind; a file that exists is
// kept unless -f asks to replace it.
#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "common/bitmap.h"
#include "include/jbig2codec/jb2_decode.h"
#include "tools/file_names.h"
#include "tools/interrupt_cleanup.h"
#include "tools/page_output.h"

namespace {

constexpr size_t kNameBuffer = 1024;

// Exit statuses; several files exit with the worst of theirs (1 before 2).
constexpr int kExitDamaged = 2;  // decoded with errors, or no page
constexpr int kExitFailed = 1;   // not read, not JBIG2, a page not decoded or not written

int Worst(int a, int b) { return a == kExitFailed || b == kExitFailed ? kExitFailed : a > b ? a : b; }

const char kUsage[] =
    "Usage: untransc [--pbm | --png | --tiff] [-f] [-o OUT] FILE [FILE ...]\n"
    "       untransc [--pbm | --png | --tiff] [-f] [-o OUT] [--globals GLOBALS] STREAM [STREAM ...]\n"
    "       untransc [--pbm] -o - FILE\n"
    "       untransc --help | --version\n";

void PrintProgramError(const std::string& message) { std::fprintf(stderr, "ERROR!   %s\n", message.c_str()); }

// Reads the whole file; says why not and returns false when it cannot.
bool ReadFile(const std::string& name, std::vector<unsigned char>* bytes) {
  FILE* file = std::fopen(name.c_str(), "rb");
  if (!file) {
    std::fprintf(stderr, "Could not load %s\n", name.c_str());
    return false;
  }
  struct stat info;
  if (fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {  // opens, but its size means nothing
    std::fprintf(stderr, "Could not read %s (%s)\n", name.c_str(), std::strerror(EISDIR));
    std::fclose(file);
    return false;
  }
  long length = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) length = std::ftell(file);
  bool ok = length >= 0 && std::fseek(file, 0, SEEK_SET) == 0;
  try {
    if (ok) bytes->resize(static_cast<size_t>(length));
  } catch (const std::exception&) {  // more than the memory holds
    ok = false;
  }
  ok = ok && (length == 0 || std::fread(bytes->data(), bytes->size(), 1, file) == 1);
  std::fclose(file);
  if (!ok) std::fprintf(stderr, "Could not read %s\n", name.c_str());
  return ok;
}

// The size SaveBMP gives a complete file of this bitmap.
uint64_t ExpectedBmpSize(const BMP* bmp) {
  uint64_t rowBytes = (uint64_t{bmp->lBytesPerRow} + 3) / 4 * 4;
  return 62 + rowBytes * bmp->lHeight;
}

// Writes the page under a temporary name, then renames it into place.
bool WriteBmp(const std::string& name, const jb2_page& page) {
  BMP view{};
  view.pData = const_cast<unsigned char*>(page.pixels);
  view.lWidth = page.width;
  view.lHeight = page.height;
  view.lBytesPerRow = (page.width + 7) / 8;
  view.lStride = static_cast<uint32_t>(page.stride);
  view.lXResolution = page.x_resolution;
  view.lYResolution = page.y_resolution;
  const std::string temporary = name + ".part";
  const jb2tool::TemporaryName removedIfInterrupted(temporary);
  SaveBMP(temporary.c_str(), &view);
  struct stat info;
  const bool ok = stat(temporary.c_str(), &info) == 0 &&
                  static_cast<uint64_t>(info.st_size) == ExpectedBmpSize(&view) &&
                  std::rename(temporary.c_str(), name.c_str()) == 0;
  if (!ok) {
    std::remove(temporary.c_str());
    PrintProgramError("Could not write " + name);
  }
  return ok;
}

// A page as PBM (P4: 1 is black); the rows go out as they are, without a
// copy of the page.
bool PutPbm(FILE* f, const jb2_page& page) {
  bool ok = std::fprintf(f, "P4\n%u %u\n", page.width, page.height) > 0;
  const size_t rowBytes = (size_t{page.width} + 7) / 8;
  for (uint32_t y = 0; ok && y < page.height; ++y) ok = std::fwrite(page.pixels + y * page.stride, 1, rowBytes, f) == rowBytes;
  return ok;
}

// Writes a page as PBM under a temporary name, renamed when complete.
bool WritePbm(const std::string& name, const jb2_page& page) {
  return jb2tool::WriteAtomically(name, [&](FILE* f) { return PutPbm(f, page); });
}

// Writes a page as PBM to standard output (-o -).
bool WritePbmToStandardOutput(const jb2_page& page) {
  errno = 0;
  const bool ok = PutPbm(stdout, page) && std::fflush(stdout) == 0;
  if (!ok) PrintProgramError(std::string("Cannot Write to Standard Output (") + std::strerror(errno ? errno : EIO) + ")");
  return ok;
}

void PrintHelp() {
  std::printf(
      "%s"
      "\n"
      "Decodes a JBIG2 (ITU-T T.88) file and writes each page as a 1-bit BMP file\n"
      "with the page's resolution (or as PBM, PNG, or one TIFF file for all pages).\n"
      "FILE is named with its extension (scan.jb2, scan.jbig2) or without it (scan:\n"
      "scan.jb2, else scan.jbig2). Page N is written as BASENAME_N.bmp next to the\n"
      "input (scan_1.bmp). Every FILE named is decoded.\n"
      "\n"
      "A page stream as a PDF holds it (STREAM.jb2e, as pdfimages -all writes it)\n"
      "is decoded with its globals: GLOBALS when given, else STREAM.jb2g beside it,\n"
      "else, when STREAM is BASE_N, BASE_M.jb2g for the greatest M below N (a\n"
      "later group's globals, as transc --embedded --dict-pages names them), else\n"
      "BASE.jb2g when STREAM is BASE_N or BASE-NNN (as transc --embedded and\n"
      "pdfimages name them). With --globals, STREAM is the file named, whatever its\n"
      "extension (out.0000 with out.sym, as jbig2 -s -p names them).\n"
      "\n"
      "Options:\n"
      "  --pbm         write PBM (P4) files, BASENAME_N.pbm\n"
      "  --png         write 1-bit PNG files with the resolution, BASENAME_N.png\n"
      "  --tiff        write all pages of a file into one TIFF file (CCITT G4,\n"
      "                with the resolution), BASENAME.tif\n"
      "  -o OUT        write page N as OUT_N.bmp, or, when OUT is a folder (or ends\n"
      "                with /, made when missing), as OUT/BASENAME_N.bmp; with\n"
      "                several files OUT must be a folder\n"
      "  -o -          write the page of a one-page FILE to standard output as PBM\n"
      "                (a file of several pages is refused)\n"
      "  -f, --force   replace page files that exist (kept otherwise)\n"
      "  --globals G   the globals stream of the page streams named\n"
      "\n"
      "Damaged files are decoded as far as they go: errors are reported on\n"
      "standard error and every page is still written with what was decoded.\n"
      "With several files, each message starts with the name of its file.\n"
      "\n"
      "Exit status: 0 when every page was decoded without an error; 2 when a\n"
      "file is damaged (cut short, or a segment reported an error: its pages\n"
      "were written as far as they decoded) or holds no page; 1 when a file\n"
      "cannot be read or is not a JBIG2 file, when a page is too large to\n"
      "decode or cannot be written, when a page file exists and -f is not\n"
      "given (it is kept as it was), or when the options are wrong (nothing is\n"
      "decoded then). With several files, the worst of their statuses (1 before 2).\n",
      kUsage);
}

// Refuses the command line: the reason, then the usage lines; status 1.
int Refuse(const std::string& reason) {
  PrintProgramError(reason);
  std::fputs(kUsage, stderr);
  return kExitFailed;
}

enum class Format { kBmp, kPbm, kPng, kTiff };

struct Options {
  Format format = Format::kBmp;
  bool toStandardOutput = false;  // -o -
  bool force = false;
  std::string output;   // -o: a base name or a folder; empty: beside the input
  bool outputFolder = false;
  std::string globals;  // --globals
  std::vector<std::string> files;
};

bool IsFolder(const std::string& name) {
  struct stat info;
  return stat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The options anywhere among the files; "--" ends them. Returns the exit
// status of a refused command line, or -1.
int ReadOptions(int argc, char** argv, Options* o) {
  bool optionsEnd = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnd || arg.empty() || arg[0] != '-') {
      o->files.push_back(arg);
    } else if (arg == "--") {
      optionsEnd = true;
    } else if (arg == "--pbm" || arg == "--png" || arg == "--tiff") {
      const Format f = arg == "--pbm" ? Format::kPbm : arg == "--png" ? Format::kPng : Format::kTiff;
      if (o->format != Format::kBmp && o->format != f) return Refuse("Choose One of --pbm, --png and --tiff");
      o->format = f;
    } else if (arg == "-f" || arg == "--force") {
      o->force = true;
    } else if (arg == "-o" || arg == "--globals") {
      if (i + 1 >= argc) return Refuse("Option " + arg + " Needs a Value");
      (arg == "-o" ? o->output : o->globals) = argv[++i];
    } else {
      return Refuse("Unknown Option " + arg);
    }
  }
  if (o->output == "-") {
    o->toStandardOutput = true;
    if (o->format == Format::kPng || o->format == Format::kTiff)
      return Refuse("-o - Writes a PBM Page: --png and --tiff Write Files");
    if (o->files.size() > 1) return Refuse("-o - Writes One Page: Name One File");
    return -1;
  }
  // A folder named with a final "/" is made when missing (not its parents).
  if (!o->output.empty() && o->output.back() == '/' && !IsFolder(o->output.substr(0, o->output.size() - 1)) &&
      mkdir(o->output.c_str(), 0777) != 0)
    return Refuse("Cannot Make the Folder " + o->output + " (" + std::strerror(errno) + ")");
  o->outputFolder = !o->output.empty() && IsFolder(o->output);
  if (o->files.size() > 1 && !o->output.empty() && !o->outputFolder)
    return Refuse("With Several Files, -o Names a Folder: " + o->output + " Is None");
  return -1;
}

const char* Extension(Format f) {
  return f == Format::kPbm ? ".pbm" : f == Format::kPng ? ".png" : f == Format::kTiff ? ".tif" : ".bmp";
}

// The outputs of the file whose outputs are named from `base`, without
// their ending: beside it, OUT, or in the folder OUT.
std::string OutputStem(const Options& o, const std::string& base) {
  std::string stem = base;
  if (o.outputFolder) {
    const size_t slash = base.find_last_of('/');
    const std::string folder = o.output.back() == '/' ? o.output : o.output + "/";
    stem = folder + (slash == std::string::npos ? base : base.substr(slash + 1));
  } else if (!o.output.empty()) {
    stem = o.output;
  }
  return stem;
}

// The name of page `number` of the file whose outputs are named from `base`.
std::string PageFileName(const Options& o, const std::string& base, uint32_t number) {
  return OutputStem(o, base) + "_" + std::to_string(number) + Extension(o.format);
}

// STEM_M.jb2g for the greatest M below `page`, or "": the globals of the
// group of pages that page N belongs to, as transc --embedded names them
// after the group's first page.
std::string GroupGlobals(const std::string& stem, uint64_t page) {
  const size_t slash = stem.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : stem.substr(0, slash);
  const std::string prefix = stem.substr(slash == std::string::npos ? 0 : slash + 1) + "_";
  DIR* dir = opendir(folder.c_str());
  if (!dir) return "";
  std::string best;
  uint64_t bestPage = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() <= prefix.size() + 5 || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - 5, 5, ".jb2g") != 0)
      continue;
    const std::string digits = name.substr(prefix.size(), name.size() - 5 - prefix.size());
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    const uint64_t m = std::stoull(digits);
    if (m < page && m > bestPage) {
      bestPage = m;
      best = stem + "_" + digits + ".jb2g";
    }
  }
  closedir(dir);
  return best;
}

// The globals of an embedded page stream BASE: STREAM.jb2g, or, when the
// stream is named BASE_N, its group's (see GroupGlobals), or BASE.jb2g when
// it is named BASE_N or BASE-NNN.
std::string GlobalsBeside(const std::string& base) {
  if (jb2tool::Exists(base + ".jb2g")) return base + ".jb2g";
  size_t end = base.size();
  while (end > 0 && std::isdigit(static_cast<unsigned char>(base[end - 1]))) --end;
  if (end > 1 && end < base.size() && base[end - 1] == '_' && base.size() - end <= 9) {
    const std::string group = GroupGlobals(base.substr(0, end - 1), std::stoull(base.substr(end)));
    if (!group.empty()) return group;
  }
  if (end > 1 && end < base.size() && (base[end - 1] == '_' || base[end - 1] == '-')) {
    const std::string shared = base.substr(0, end - 1) + ".jb2g";
    if (jb2tool::Exists(shared)) return shared;
  }
  return "";
}

// A standalone file begins with the JBIG2 file header's identifier.
bool IsWholeFile(const std::vector<unsigned char>& bytes) {
  static const unsigned char kId[8] = {0x97, 0x4A, 0x42, 0x32, 0x0D, 0x0A, 0x1A, 0x0A};
  return bytes.size() >= sizeof kId && std::memcmp(bytes.data(), kId, sizeof kId) == 0;
}

// The decoder's lines, each after the file's name when several are decoded.
void PrintMessage(void* prefix, int, const char* line) {
  if (prefix) std::fprintf(stderr, "%s: %s\n", static_cast<const char*>(prefix), line);
  else std::fprintf(stderr, "%s\n", line);
}

// Decodes one file named on the command line and writes its pages; returns
// its exit status.
int DecodeFile(const Options& o, const std::string& arg, const std::vector<unsigned char>* sharedGlobals) {
  // With --globals, the stream is the file named when it exists, whatever
  // its extension; otherwise a base name finds its extension.
  jb2tool::Names names = jb2tool::ResolveInput(arg, {".jb2", ".jbig2", ".jb2e"});
  if (sharedGlobals && jb2tool::Exists(arg) && !IsFolder(arg))
    names = {arg, jb2tool::BaseName(arg, {".jb2", ".jbig2", ".jb2e"})};
  if (names.input.size() >= kNameBuffer) {
    PrintProgramError("File Name too Long");
    return kExitFailed;
  }
  std::vector<unsigned char> data, globalsBeside;
  if (!ReadFile(names.input, &data)) return kExitFailed;
  // Without --globals, .jb2e names a page stream whose globals lie beside it.
  const std::vector<unsigned char>* globals = sharedGlobals;
  bool embedded = sharedGlobals != nullptr;
  if (!embedded && !jb2tool::KnownExtension(names.input, {".jb2e"}).empty()) {
    embedded = true;
    const std::string beside = GlobalsBeside(names.base);
    if (!beside.empty() && !ReadFile(beside, &globalsBeside)) return kExitFailed;
    globals = &globalsBeside;
  }
  if (embedded && IsWholeFile(data)) {
    if (sharedGlobals)
      std::fprintf(stderr, "Warning! %s Is a Whole JBIG2 File: --globals Not Used\n", names.input.c_str());
    embedded = false;
  }

  jb2_decoder* decoder = nullptr;
  if (jb2_decoder_create(&decoder) != JB2_OK) return kExitFailed;
  // With several files, every line says which file it is about.
  char* prefix = o.files.size() > 1 ? const_cast<char*>(names.input.c_str()) : nullptr;
  auto sayError = [prefix](const std::string& text) { PrintMessage(prefix, 1, ("ERROR!   " + text).c_str()); };
  jb2_decoder_set_messages(decoder, PrintMessage, prefix);
  const jb2_status opened =
      embedded ? jb2_decoder_open_embedded(decoder, data.data(), data.size(), globals->data(), globals->size())
               : jb2_decoder_open(decoder, data.data(), data.size());
  data = {};
  if (opened != JB2_OK && opened != JB2_DAMAGED) {
    sayError(embedded ? "Invalid .JB2E Stream" : "Invalid .JB2 File");
    jb2_decoder_destroy(decoder);
    return kExitFailed;
  }
  // Damage (a file cut short, a segment that reported an error, no page)
  // is told apart from failure: every page is still written.
  const uint32_t count = jb2_decoder_page_count(decoder);
  bool damaged = opened == JB2_DAMAGED || count == 0;
  if (count == 0) sayError("No Page in the File");
  if (o.toStandardOutput && count > 1) {
    sayError(std::to_string(count) + " Pages in the File: -o - Writes One Page (Nothing Written)");
    jb2_decoder_destroy(decoder);
    return kExitFailed;
  }
  // --tiff: every page into one file, BASENAME.tif, put in place at the end.
  const std::string tiffName = OutputStem(o, names.base) + Extension(Format::kTiff);
  if (o.format == Format::kTiff && count > 0) {
    bool refused = true;
    if (tiffName.size() + 5 >= kNameBuffer)  // the temporary name adds ".part"
      sayError("File Name too Long");
    else if (!o.force && jb2tool::Exists(tiffName))
      PrintProgramError("Kept the Existing File " + tiffName + ": No Page Written (-f Replaces It, -o Writes Elsewhere)");
    else
      refused = false;
    if (refused) {
      jb2_decoder_destroy(decoder);
      return kExitFailed;
    }
  }
  jb2tool::TiffPages tiff(tiffName);

  int status = 0;
  for (uint32_t i = 0; i < count; ++i) {
    jb2_page page;
    const jb2_status s = jb2_decoder_decode_page(decoder, i, &page);
    if (s == JB2_ERROR_LIMIT) {
      status = kExitFailed;  // reported: "Page Too Large: Not Decoded"
      continue;
    }
    if (s != JB2_OK && s != JB2_DAMAGED) {
      sayError(std::string("Page Not Decoded: ") + jb2_status_name(s));
      status = kExitFailed;
      continue;
    }
    damaged |= s == JB2_DAMAGED;
    if (o.toStandardOutput || o.format == Format::kTiff) {
      if (!(o.toStandardOutput ? WritePbmToStandardOutput(page) : tiff.Add(page))) status = kExitFailed;
      continue;
    }
    const std::string outputName = PageFileName(o, names.base, page.number);
    // The temporary name adds ".part".
    if (outputName.size() + 5 >= kNameBuffer) {
      sayError("File Name too Long");
      status = kExitFailed;
      continue;
    }
    if (!o.force && jb2tool::Exists(outputName)) {
      PrintProgramError("Kept the Existing File " + outputName + ": Page " + std::to_string(page.number) +
                        " Not Written (-f Replaces It, -o Writes Elsewhere)");
      status = kExitFailed;
      continue;
    }
    const bool written = o.format == Format::kPbm   ? WritePbm(outputName, page)
                         : o.format == Format::kPng ? jb2tool::WritePngPage(outputName, page)
                                                    : WriteBmp(outputName, page);
    if (!written) status = kExitFailed;
  }
  if (tiff.pages() > 0 && !tiff.Finish()) status = kExitFailed;
  jb2_decoder_destroy(decoder);
  return status != 0 ? status : damaged ? kExitDamaged : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (jb2tool::AnswersHelpOrVersion(argc, argv, "untransc", PrintHelp)) return 0;
  jb2tool::RemoveTemporariesOnInterrupt();
  if (argc <= 1) {
    PrintProgramError("Syntax: untransc FILENAME (with or without .jb2 or .jbig2)");
    return 0;
  }
  Options options;
  const int refused = ReadOptions(argc, argv, &options);
  if (refused >= 0) return refused;
  if (options.files.empty()) return Refuse("No File Given");

  std::vector<unsigned char> globals;
  if (!options.globals.empty() && !ReadFile(options.globals, &globals)) return kExitFailed;
  int status = 0;
  for (const std::string& file : options.files)
    status = Worst(status, DecodeFile(options, file, options.globals.empty() ? nullptr : &globals));
  return status;
}
