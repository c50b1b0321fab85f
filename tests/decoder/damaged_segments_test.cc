// Damaged segments of every type end quickly: files cut inside a segment's
// data and files with one bit of a segment's first bytes flipped (where its
// sizes and counts are), taken from the corpus and from our own files of a
// full-size page with a large dictionary. The decoder keeps its default
// limits, as the program does; each file must decode within a second of CPU
// time (more under the sanitizers, which also check every access).
#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "encoder/transclib.h"
#include "tests/encoder/text_pages.h"
#include "tests/page_maker.h"
#include "tests/test_util.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/jb2_writer.h"
#include "tests/toolkit/sections.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr double kMaxCpuSeconds = 20.0;
constexpr int kStride = 4;  // every fourth variant
#else
constexpr double kMaxCpuSeconds = 1.0;
constexpr int kStride = 1;
#endif
// Bytes of a segment's data with a bit flipped, one file each.
constexpr size_t kFlippedBytes = 48;

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}


struct Source {
  std::string name;
  std::vector<uint8_t> bytes;
};

// Our files of an A4-wide 300 dpi page of noisy text (every glyph a little
// different, as in a scan, so the dictionaries are large) in each region type.
std::vector<Source> OwnFiles() {
  BMP page{};
  jb2test::MakeTestPage(&page, jb2test::PageKind::kText, jb2test::kA4Width300, 700);
  std::vector<uint8_t> noise(page.lStride * page.lHeight);
  std::mt19937 rng(9);
  for (size_t i = 0; i < noise.size(); ++i)
    if (page.pData[i] && rng() % 4 == 0) page.pData[i] ^= static_cast<unsigned char>(1u << (rng() % 8));
  const std::vector<std::pair<const char*, jb2test::Sections::Keys>> modes = {
      {"gr", {}}, {"mmr", {{"mmr", 1}}}, {"tpdon", {{"tpdon", 1}, {"template", 1}}}, {"stripes", {{"stripe", 300}}}};
  const std::vector<std::pair<const char*, jb2test::Sections::Keys>> textModes = {
      {"sr", {}}, {"sr-huff", {{"huff", 1}, {"soft", 0}}}, {"sr-refdict", {{"refdict", 1}}},
      {"sr-huff-refdict", {{"huff", 1}, {"refdict", 1}, {"sbrefine", 0}}}, {"sr-residue", {{"residue", 3}}}};
  std::vector<Source> files;
  const std::string dir = jb2test::MakeTempDir();
  auto code = [&](const std::string& name, int32_t type, const jb2test::Sections::Keys& keys) {
    BMP copy{};
    jb2test::CopyPage(&page, &copy);
    jb2test::Sections s;
    s.Add(type, 0, 0, 0, 0, keys);
    const std::string path = dir + "/" + name + ".jb2";
    testing::internal::CaptureStderr();
    const int status = Transcode(&copy, 1, s.data(), s.size(), path.c_str());
    testing::internal::GetCapturedStderr();
    DestroyBMP(&copy);
    if (status == 0) files.push_back({"ours:" + name, jb2test::ReadFileBytes(path)});
  };
  for (auto& [name, keys] : modes) code(name, 0, keys);
  for (auto& [name, keys] : textModes) code(name, 1, keys);
  code("ht", 2, {});
  DestroyBMP(&page);
  return files;
}

std::vector<Source> CorpusFiles() {
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(JB2_TEST_DATA_DIR "/corpus")) {
    const std::string ext = entry.path().extension().string();
    if (ext == ".jbig2" || ext == ".jb2") paths.push_back(entry.path().string());
  }
  std::sort(paths.begin(), paths.end());
  std::vector<Source> files;
  for (const std::string& p : paths) files.push_back({p.substr(p.rfind('/') + 1), jb2test::ReadFileBytes(p)});
  return files;
}

struct Target {
  const Source* source;
  size_t dataStart, dataLength;
  uint32_t type;
};

// Up to `perType` segments of each type, each from another file.
std::vector<Target> PickSegments(const std::vector<Source>& sources, size_t perType) {
  std::map<uint32_t, std::vector<Target>> byType;
  for (const Source& src : sources) {
    jb2test::ParsedFile pf(src.bytes);
    if (pf.status() != 0) continue;
    std::map<uint32_t, bool> taken;  // one segment of a type per file
    for (uint32_t i = 0; i < pf.file().nSegments; ++i) {
      const SEGMENT_HEADER& seg = pf.seg(i);
      if (seg.lDataLength == 0 || !seg.pDataStart || taken[seg.lType]) continue;
      auto& list = byType[seg.lType];
      if (list.size() >= perType) continue;
      taken[seg.lType] = true;
      list.push_back({&src, static_cast<size_t>(seg.pDataStart - pf.bytes().data()), seg.lDataLength, seg.lType});
    }
  }
  std::vector<Target> targets;
  for (auto& [type, list] : byType) targets.insert(targets.end(), list.begin(), list.end());
  return targets;
}

// The damaged copies of one segment's file.
std::vector<std::vector<uint8_t>> Variants(const Target& t) {
  const std::vector<uint8_t>& bytes = t.source->bytes;
  std::vector<std::vector<uint8_t>> out;
  for (size_t part : {1u, 2u, 3u}) {
    const size_t cut = t.dataStart + t.dataLength * part / 4;
    if (cut > t.dataStart && cut < bytes.size()) out.emplace_back(bytes.begin(), bytes.begin() + static_cast<long>(cut));
  }
  // The top bit of every other byte (the high bits of sizes and counts), a
  // lower bit of the others.
  for (size_t k = 0; k < std::min(t.dataLength, kFlippedBytes); ++k) {
    out.push_back(bytes);
    out.back()[t.dataStart + k] ^= static_cast<uint8_t>(1u << (k % 2 == 0 ? 7 : k % 7));
  }
  return out;
}

void ExpectQuickOnDamagedSegments(const std::vector<Source>& sources, size_t segmentsPerType) {
  const std::vector<Target> targets = PickSegments(sources, segmentsPerType);
  ASSERT_FALSE(targets.empty());
  for (const Target& t : targets) {
    const std::vector<std::vector<uint8_t>> variants = Variants(t);
    for (size_t v = 0; v < variants.size(); v += kStride) {
      const double start = CpuSeconds();
      {
        jb2test::QuietStderr quiet;
        jb2test::ParsedFile pf(variants[v]);
        if (pf.status() == 0) pf.Decode();
      }
      const double spent = CpuSeconds() - start;
      EXPECT_LT(spent, kMaxCpuSeconds) << t.source->name << ", segment type " << t.type << ", variant " << v;
    }
  }
}

TEST(DamagedSegments, CorpusFilesEndQuickly) { ExpectQuickOnDamagedSegments(CorpusFiles(), 3); }

TEST(DamagedSegments, OurFilesEndQuickly) { ExpectQuickOnDamagedSegments(OwnFiles(), 1); }

}  // namespace
