// Helpers of the program tests: hand-made image files and a run of transc
// followed by untransc whose page is compared with the source.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "common/bitmap.h"
#include "tests/test_util.h"

namespace jb2tooltest {

const std::string kTransc = JB2_TRANSC_PATH;
const std::string kUntransc = JB2_UNTRANSC_PATH;

inline void Put(std::vector<uint8_t>* b, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A BMP file of `bits` per pixel with the given information header size (12:
// OS/2 core, 40: Windows), palette (blue, green, red per entry) and rows
// (top row first, already packed); `ppm` is the resolution.
inline std::vector<uint8_t> BmpFile(uint32_t width, uint32_t height, uint32_t bits, uint32_t infoSize,
                                    const std::vector<uint8_t>& palette, const std::vector<std::vector<uint8_t>>& rows,
                                    uint32_t ppm = 0) {
  const uint32_t entry = infoSize == 12 ? 3 : 4;
  const uint32_t paletteBytes = static_cast<uint32_t>(palette.size() / 3) * entry;
  const uint32_t offset = 14 + infoSize + paletteBytes;
  const uint32_t rowBytes = (width * bits + 31) / 32 * 4;
  std::vector<uint8_t> b = {'B', 'M'};
  Put(&b, offset + rowBytes * height, 4);
  Put(&b, 0, 4);
  Put(&b, offset, 4);
  Put(&b, infoSize, 4);
  if (infoSize == 12) {
    Put(&b, width, 2);
    Put(&b, height, 2);
    Put(&b, 1, 2);
    Put(&b, bits, 2);
  } else {
    Put(&b, width, 4);
    Put(&b, height, 4);
    Put(&b, 1, 2);
    Put(&b, bits, 2);
    for (uint32_t v : {0u, 0u, ppm, ppm, 0u, 0u}) Put(&b, v, 4);
  }
  for (size_t i = 0; i < palette.size(); i += 3) {
    b.insert(b.end(), palette.begin() + static_cast<long>(i), palette.begin() + static_cast<long>(i) + 3);
    if (entry == 4) b.push_back(0);
  }
  for (uint32_t y = height; y-- > 0;) {
    std::vector<uint8_t> row = rows[y];
    row.resize(rowBytes, 0);
    b.insert(b.end(), row.begin(), row.end());
  }
  return b;
}

struct RoundTrip {
  jb2test::CommandResult enc, dec;
  BMP page{};  // the decoded page (destroyed with the record)
  bool decoded = false;
  ~RoundTrip() { DestroyBMP(&page); }
};

// Runs transc with `args` in `dir`, then untransc on `base`, and loads
// base_1.bmp.
inline void EncodeDecode(const std::string& dir, const std::string& args, const std::string& base, RoundTrip* r) {
  std::remove((dir + "/" + base + ".jb2").c_str());
  std::remove((dir + "/" + base + "_1.bmp").c_str());
  r->enc = jb2test::RunCommand(kTransc + " " + args, dir);
  if (r->enc.exitStatus != 0) return;
  r->dec = jb2test::RunCommand(kUntransc + " " + base, dir);
  r->decoded = LoadBMP((dir + "/" + base + "_1.bmp").c_str(), &r->page) == 0;
}

// Section words separated by blanks, each quoted for the shell.
inline std::string Quoted(const std::string& words) {
  std::string out;
  size_t start = 0;
  while (start < words.size()) {
    size_t end = words.find(' ', start);
    if (end == std::string::npos) end = words.size();
    out += " '" + words.substr(start, end - start) + "'";
    start = end + 1;
  }
  return out;
}

// A program run in a child process of its own, measured.
struct ChildRun {
  int exitStatus = -1;  // -1: ended by a signal
  double cpuSeconds = 0;
  long peakRssKiB = 0;
  std::string err;
};

// Runs `program` with `args` in `dir`, standard error collected in
// dir/errName; `setup` runs in the child before the program starts (limits,
// environment).
inline ChildRun RunMeasured(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
                            const std::string& errName, const std::function<void()>& setup = {}) {
  const std::string errPath = dir + "/" + errName;
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    if (!freopen(errPath.c_str(), "w", stderr)) _exit(126);
    if (setup) setup();
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  ChildRun run;
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return run;
  if (WIFEXITED(status)) run.exitStatus = WEXITSTATUS(status);
  run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  run.peakRssKiB = usage.ru_maxrss;
  auto bytes = jb2test::ReadFileBytes(errPath);
  run.err.assign(bytes.begin(), bytes.end());
  return run;
}

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace jb2tooltest
