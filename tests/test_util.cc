#include "tests/test_util.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace jb2test {

namespace {
std::vector<std::string>& TempDirs() {
  static std::vector<std::string> dirs;
  return dirs;
}
struct Cleanup {
  // Builds the list first so that it is destroyed after this object.
  Cleanup() { TempDirs(); }
  ~Cleanup() {
    for (const auto& d : TempDirs()) {
      std::error_code ec;
      std::filesystem::remove_all(d, ec);
    }
  }
} gCleanup;

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream data;
  if (in) data << in.rdbuf();
  return data.str();
}
}  // namespace

std::string MakeTempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "jb2test.XXXXXX").string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) std::abort();
  TempDirs().push_back(buf.data());
  return buf.data();
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::string s = ReadWhole(path);
  return std::vector<uint8_t>(s.begin(), s.end());
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

CommandResult RunCommand(const std::string& commandLine, const std::string& dir) {
  std::string outDir = MakeTempDir();
  std::string outPath = outDir + "/out", errPath = outDir + "/err";
  std::string full = (dir.empty() ? std::string() : "cd '" + dir + "' && ") + "( " + commandLine +
                     " ) </dev/null >'" + outPath + "' 2>'" + errPath + "'";
  int status = std::system(full.c_str());
  CommandResult r;
  if (status != -1 && WIFEXITED(status)) r.exitStatus = WEXITSTATUS(status);
  r.out = ReadWhole(outPath);
  r.err = ReadWhole(errPath);
  return r;
}

void MakeRandomBMP(BMP* bmp, uint32_t width, uint32_t height, double density, std::mt19937& rng,
                   bool dirtySpareBits) {
  CreateBMP(bmp, width, height, 0);
  std::bernoulli_distribution black(density);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x)
      if (black(rng)) SetPixel(bmp, x, y, 1);
  if (dirtySpareBits && width % 8 != 0) {
    for (uint32_t y = 0; y < height; ++y)
      bmp->pData[y * bmp->lStride + bmp->lBytesPerRow - 1] |= static_cast<unsigned char>(0xFF >> (width % 8));
  }
}

void ClearOutside(BMP* bmp, uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1) {
  for (uint32_t y = 0; y < bmp->lHeight; ++y)
    for (uint32_t x = 0; x < bmp->lWidth; ++x)
      if (x < x0 || x >= x1 || y < y0 || y >= y1) SetPixel(bmp, x, y, 0);
}

bool SamePixels(const BMP* a, const BMP* b) {
  if (a->lWidth != b->lWidth || a->lHeight != b->lHeight) return false;
  // Whole bytes at once; the spare bits of a row's last byte do not count.
  const uint32_t whole = a->lWidth / 8, rest = a->lWidth % 8;
  const unsigned lastMask = (0xFF00u >> rest) & 0xFFu;
  for (uint32_t y = 0; y < a->lHeight; ++y) {
    const unsigned char* rowA = a->pData + static_cast<size_t>(y) * a->lStride;
    const unsigned char* rowB = b->pData + static_cast<size_t>(y) * b->lStride;
    if (std::memcmp(rowA, rowB, whole) != 0) return false;
    if (rest && ((rowA[whole] ^ rowB[whole]) & lastMask)) return false;
  }
  return true;
}

bool LoadPBM(const std::string& path, BMP* bmp) {
  std::string data = ReadWhole(path);
  size_t pos = 0;
  auto skipSpace = [&] {
    while (pos < data.size()) {
      if (data[pos] == '#') {
        while (pos < data.size() && data[pos] != '\n') ++pos;
      } else if (std::isspace(static_cast<unsigned char>(data[pos]))) {
        ++pos;
      } else {
        break;
      }
    }
  };
  auto readNum = [&](long* v) {
    skipSpace();
    if (pos >= data.size() || !std::isdigit(static_cast<unsigned char>(data[pos]))) return false;
    *v = 0;
    while (pos < data.size() && std::isdigit(static_cast<unsigned char>(data[pos]))) *v = *v * 10 + (data[pos++] - '0');
    return true;
  };
  if (data.size() < 2 || data[0] != 'P' || (data[1] != '1' && data[1] != '4')) return false;
  bool raw = data[1] == '4';
  pos = 2;
  long w, h;
  if (!readNum(&w) || !readNum(&h) || w <= 0 || h <= 0) return false;
  CreateBMP(bmp, w, h, 0);
  if (raw) {
    ++pos;  // single whitespace after the header
    size_t rowBytes = (w + 7) / 8;
    if (data.size() < pos + rowBytes * h) { DestroyBMP(bmp); return false; }
    for (long y = 0; y < h; ++y)
      std::memcpy(bmp->pData + y * bmp->lStride, data.data() + pos + y * rowBytes, rowBytes);
  } else {
    for (long y = 0; y < h; ++y)
      for (long x = 0; x < w; ++x) {
        skipSpace();
        if (pos >= data.size()) { DestroyBMP(bmp); return false; }
        SetPixel(bmp, x, y, data[pos++] == '1');
      }
  }
  return true;
}

QuietStderr::QuietStderr() : saved_(dup(2)) {
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 2);
  close(null);
}

QuietStderr::~QuietStderr() {
  dup2(saved_, 2);
  close(saved_);
}

}  // namespace jb2test
