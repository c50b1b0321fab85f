#include "encoder/global_symbols.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/checked_alloc.h"
#include "common/limits.h"

namespace {

// The pixels of a bitmap as a key: size, then each row's bytes without the
// bits after the last pixel.
std::string Key(const BMP& b) {
  std::string key(8, '\0');
  std::memcpy(&key[0], &b.lWidth, 4);
  std::memcpy(&key[4], &b.lHeight, 4);
  const unsigned keep = b.lWidth % 8 ? (0xFF00u >> (b.lWidth % 8)) & 0xFF : 0xFF;
  for (uint32_t y = 0; y < b.lHeight; ++y) {
    const unsigned char* row = b.pData + static_cast<size_t>(y) * b.lStride;
    key.append(reinterpret_cast<const char*>(row), b.lBytesPerRow);
    if (b.lBytesPerRow) key.back() = static_cast<char>(static_cast<unsigned char>(key.back()) & keep);
  }
  return key;
}

struct Candidate {
  uint32_t pages = 0;
  long lastPage = -1;
  SYMBOL mark{};  // the first copy found
};

}  // namespace

GLOBAL_SYMBOLS::~GLOBAL_SYMBOLS() {
  for (SYMBOL& s : symbols) DestroyBMP(&s.Bitmap);
}

int32_t GLOBAL_SYMBOLS::Find(const BMP& mark) const {
  if (ids.empty()) return -1;
  const auto it = ids.find(Key(mark));
  return it == ids.end() ? -1 : it->second;
}

bool SharesSymbols(const std::vector<SectionSettings>& sections) {
  if (sections.size() != 1) return false;
  const SectionSettings& s = sections[0];
  if (s.type != 1 || s.x0 != 0 || s.y0 != 0 || s.x1 != 0 || s.y1 != 0) return false;
  return s.text.invert == 0 && s.text.defpixel == 0 && s.page.pagepixel == 0;
}

void CollectGlobalSymbols(const BMP* pages, long nPages, GLOBAL_SYMBOLS* out) {
  std::unordered_map<std::string, Candidate> seen;
  struct Owner {  // the first copies are freed unless they become symbols
    std::unordered_map<std::string, Candidate>* map;
    ~Owner() {
      for (auto& [key, c] : *map) DestroyBMP(&c.mark.Bitmap);
    }
  } owner{&seen};
  for (long p = 0; p < nPages; ++p) {
    // The copy and the marks are freed also when memory runs out midway
    // (the extraction files each mark as it goes).
    BMP copy{};
    SYMBOL* marks = nullptr;
    unsigned long count = 0;
    struct PageOwner {
      BMP* copy;
      SYMBOL** marks;
      unsigned long* count;
      ~PageOwner() {
        DestroyBMP(copy);
        for (unsigned long i = 0; *marks && i < *count; ++i) DestroyBMP(&(*marks)[i].Bitmap);
        std::free(*marks);
      }
    } pageOwner{&copy, &marks, &count};
    CopyBMP(&copy, const_cast<BMP*>(&pages[p]));
    ExtractAllSymbols(&copy, &marks, &count);
    for (unsigned long i = 0; i < count; ++i) {
      Candidate& c = seen[Key(marks[i].Bitmap)];
      if (c.lastPage != p) ++c.pages;
      c.lastPage = p;
      if (!c.mark.Bitmap.pData) std::swap(c.mark, marks[i]);
    }
  }
  // The most widespread first, within the dictionary limit.
  std::vector<std::pair<const std::string*, Candidate*>> shared;
  for (auto& [key, c] : seen)
    if (c.pages >= 2) shared.emplace_back(&key, &c);
  std::sort(shared.begin(), shared.end(), [](const auto& a, const auto& b) {
    return a.second->pages != b.second->pages ? a.second->pages > b.second->pages : *a.first < *b.first;
  });
  uint64_t pixels = 0;
  std::vector<SYMBOL> kept;
  for (auto& [key, c] : shared) {
    const uint64_t rows = c->mark.Bitmap.lHeight;
    pixels += StoredBitmapPixels(c->mark.Bitmap.lWidth, rows) + rows;
    if (pixels > kMaxSymbolDictionaryPixels) break;
    kept.push_back(c->mark);
    c->mark = SYMBOL{};
  }
  SortSymbolsByHeight(kept.data(), kept.size());
  // Equal heights and widths keep the order above; the IDs follow it.
  out->symbols = std::move(kept);
  for (size_t i = 0; i < out->symbols.size(); ++i) {
    out->symbols[i].lIndex = static_cast<int32_t>(i);
    out->symbols[i].bDictionary = 1;
    out->ids.emplace(Key(out->symbols[i].Bitmap), static_cast<int32_t>(i));
  }
}
