// Replay driver for the fuzz targets when they are built without libFuzzer:
//
//   <target> [-mutate N] [-only SUFFIX]... PATH...
//
// Runs the target once on every file given, and on every file found under
// each directory given (recursively; with -only, only names ending in one of
// the suffixes). With -mutate N it also runs N random mutations of each
// input (bit flips, byte changes, truncations, insertions) from a fixed seed,
// so that every run tries the same inputs.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool EndsWithAny(const std::string& name, const std::vector<std::string>& suffixes) {
  if (suffixes.empty()) return true;
  for (const std::string& s : suffixes)
    if (name.size() >= s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0) return true;
  return false;
}

void Mutate(std::vector<uint8_t>& bytes, std::mt19937& rng) {
  int edits = 1 + static_cast<int>(rng() % 4);
  for (int e = 0; e < edits; ++e) {
    size_t n = bytes.size();
    switch (rng() % 5) {
      case 0:  // flip one bit
      case 1:
        if (n) bytes[rng() % n] ^= static_cast<uint8_t>(1u << (rng() % 8));
        break;
      case 2:  // set one byte, often to a boundary value
        if (n) {
          static const uint8_t kValues[] = {0x00, 0xFF, 0x7F, 0x80, 0x01};
          bytes[rng() % n] = (rng() & 1) ? kValues[rng() % 5] : static_cast<uint8_t>(rng());
        }
        break;
      case 3:  // truncate
        if (n) bytes.resize(rng() % n);
        break;
      default: {  // insert a few random bytes
        size_t at = n ? rng() % (n + 1) : 0;
        size_t count = 1 + rng() % 8;
        std::vector<uint8_t> extra(count);
        for (uint8_t& b : extra) b = static_cast<uint8_t>(rng());
        bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), extra.begin(), extra.end());
        break;
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  long mutations = 0;
  std::vector<std::string> suffixes, files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-mutate") == 0 && i + 1 < argc) {
      mutations = std::strtol(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "-only") == 0 && i + 1 < argc) {
      suffixes.push_back(argv[++i]);
    } else if (std::filesystem::is_directory(argv[i])) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[i]))
        if (entry.is_regular_file() && EndsWithAny(entry.path().string(), suffixes))
          files.push_back(entry.path().string());
    } else {
      files.push_back(argv[i]);
    }
  }
  std::sort(files.begin(), files.end());
  std::mt19937 rng(0x4A423200u);
  unsigned long runs = 0;
  for (const std::string& path : files) {
    std::vector<uint8_t> original = ReadAll(path);
    LLVMFuzzerTestOneInput(original.data(), original.size());
    ++runs;
    for (long m = 0; m < mutations; ++m) {
      std::vector<uint8_t> bytes = original;
      Mutate(bytes, rng);
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++runs;
    }
  }
  std::printf("replayed %lu inputs from %zu files\n", runs, files.size());
  return 0;
}
