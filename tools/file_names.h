// Command-line names of the two programs: a file may be named with its
// extension or by its base name, and outputs are named from the base name.
#pragma once

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/version.h"
#include "tools/interrupt_cleanup.h"

namespace jb2tool {

inline bool Exists(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

// The extension of the name's last component when it is one of
// `extensions` (case-insensitive, with the dot), else "".
inline std::string KnownExtension(const std::string& name, std::initializer_list<const char*> extensions) {
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (name.find_last_of('/') != std::string::npos && dot < name.find_last_of('/')))
    return "";
  std::string ext = name.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* known : extensions)
    if (ext == known) return name.substr(dot);
  return "";
}

struct Names {
  std::string input;  // the file to read
  std::string base;   // the name outputs are made from
};

// The name without its extension when that is one of `extensions`.
inline std::string BaseName(const std::string& name, std::initializer_list<const char*> extensions) {
  return name.substr(0, name.size() - KnownExtension(name, extensions).size());
}

// A name with one of `extensions` is the input itself; a base name takes the
// first extension whose file exists, else the first one.
inline Names ResolveInput(const std::string& arg, std::initializer_list<const char*> extensions) {
  if (!KnownExtension(arg, extensions).empty()) return {arg, BaseName(arg, extensions)};
  for (const char* e : extensions)
    if (Exists(arg + e)) return {arg + e, arg};
  return {arg + *extensions.begin(), arg};
}

// Whether any argument asks for `shortName` or `longName`.
inline bool Asks(int argc, char** argv, const char* shortName, const char* longName) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], shortName) == 0 || std::strcmp(argv[i], longName) == 0) return true;
  return false;
}

// Answers --help/-h (through help()) and --version/-V of `program`: true
// when either was asked for.
template <typename Help>
inline bool AnswersHelpOrVersion(int argc, char** argv, const char* program, Help help) {
  if (Asks(argc, argv, "-h", "--help")) {
    help();
    return true;
  }
  if (Asks(argc, argv, "-V", "--version")) {
    std::printf("%s (%s) %s\n", program, JB2_CODEC_NAME, JB2_CODEC_VERSION);
    return true;
  }
  return false;
}

// Writes `name` through write(FILE*) -> bool under a temporary name first,
// renamed when complete: a failed write leaves no file of that name. Says
// what failed and the system's reason.
template <typename Write>
inline bool WriteAtomically(const std::string& name, Write write) {
  const std::string temporary = name + ".part";
  const TemporaryName removedIfInterrupted(temporary);
  std::vector<char> buffer(size_t{1} << 16);  // whole blocks of rows per write; outlives the stream
  errno = 0;
  FILE* f = std::fopen(temporary.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "ERROR!   Cannot Create Output File %s (%s)\n", name.c_str(), std::strerror(errno));
    return false;
  }
  std::setvbuf(f, buffer.data(), _IOFBF, buffer.size());
  // The reason is the one of the first step that fails (a full disk shows
  // at the flush at the latest).
  int reason = 0;
  auto step = [&reason](bool done) {
    if (!done && reason == 0) reason = errno ? errno : EIO;
    return done;
  };
  bool ok = step(write(f));
  ok = step(std::fflush(f) == 0) && ok;
  ok = step(std::fclose(f) == 0) && ok;
  ok = ok && step(std::rename(temporary.c_str(), name.c_str()) == 0);
  if (!ok) {
    std::remove(temporary.c_str());
    std::fprintf(stderr, "ERROR!   Cannot Write Output File %s (%s)\n", name.c_str(), std::strerror(reason));
  }
  return ok;
}

// Writes the bytes to standard output (-o -); says what failed.
inline bool WriteStandardOutput(const unsigned char* data, size_t size) {
  errno = 0;
  const bool ok = (size == 0 || std::fwrite(data, 1, size, stdout) == size) && std::fflush(stdout) == 0;
  if (!ok) std::fprintf(stderr, "ERROR!   Cannot Write to Standard Output (%s)\n", std::strerror(errno ? errno : EIO));
  return ok;
}

inline bool WriteWholeFile(const std::string& name, const unsigned char* data, size_t size) {
  return WriteAtomically(name, [&](FILE* f) { return size == 0 || std::fwrite(data, 1, size, f) == size; });
}

}  // namespace jb2tool
