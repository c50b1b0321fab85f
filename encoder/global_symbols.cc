#include "encoder/global_symbols.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <unordered_set>
#include <utility>

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

SharedMarkFinder::~SharedMarkFinder() {
  for (SYMBOL& s : kept_) DestroyBMP(&s.Bitmap);
}

SharedMarkFinder::Slot& SharedMarkFinder::Find(uint64_t hash) {
  const size_t mask = slots_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask)
    if (slots_[i].hash == hash || slots_[i].hash == 0) return slots_[i];
}

void SharedMarkFinder::Grow() {
  std::vector<Slot> old(slots_.empty() ? 4096 : slots_.size() * 2);
  old.swap(slots_);
  for (const Slot& s : old)
    if (s.hash) Find(s.hash) = s;
}

void SharedMarkFinder::TakePage(BMP* page, const GateSettings* gate) {
  // The marks are freed whatever happens, also when memory runs out during
  // the extraction (which files each mark as it goes).
  SYMBOL* marks = nullptr;
  unsigned long count = 0;
  struct Marks {
    SYMBOL** items;
    unsigned long* count;
    ~Marks() {
      for (unsigned long i = 0; *items && i < *count; ++i) DestroyBMP(&(*items)[i].Bitmap);
      std::free(*items);
    }
  } owned{&marks, &count};
  ExtractAllSymbols(page, &marks, &count);
  const uint32_t number = page_++;
  if (gate && !classes_) classes_ = std::make_unique<SharedClassFinder>(*gate, kMaxClassRepresentativeBytes);
  if (gate && classes_->gate() == *gate) classes_->AddMarks(marks, count, number);
  for (unsigned long i = 0; i < count; ++i) {
    if (4 * (used_ + 1) > 3 * slots_.size()) Grow();
    // A 64-bit hash of the pixels stands for them: two marks of other
    // pixels with one hash would only put one more symbol in the dictionary.
    uint64_t hash = std::hash<std::string>{}(Key(marks[i].Bitmap));
    hash += hash == 0;
    Slot& slot = Find(hash);
    if (slot.hash == 0) {
      slot = Slot{hash, number, 1};
      ++used_;
      continue;
    }
    if (slot.lastPage == number) continue;
    slot.lastPage = number;
    if (++slot.pages != 2) continue;
    if (kept_.size() == kept_.capacity()) kept_.reserve(kept_.size() * 2 + 64);
    keptHash_.push_back(hash);
    kept_.push_back(marks[i]);
    marks[i].Bitmap = BMP{};
  }
}

void SharedMarkFinder::AddPage(const BMP& page, const GateSettings* gate) {
  BMP copy{};
  CopyBMP(&copy, const_cast<BMP*>(&page));
  struct Free {
    BMP* b;
    ~Free() { DestroyBMP(b); }
  } free{&copy};
  TakePage(&copy, gate);
}

void SharedMarkFinder::Finish(GLOBAL_SYMBOLS* out) {
  std::vector<uint32_t> pages;
  for (size_t i = 0; i < kept_.size(); ++i) pages.push_back(Find(keptHash_[i]).pages);
  slots_ = std::vector<Slot>();
  used_ = 0;
  // The classes' representatives join the shared marks (once: one may be
  // a shared mark too).
  std::unordered_set<std::string> representatives;  // their keys
  if (classes_) {
    const size_t first = kept_.size();
    classes_->Finish(&kept_, &pages);
    std::unordered_map<std::string, size_t> where;  // key, index in kept_
    for (size_t i = 0; i < first; ++i) where.emplace(Key(kept_[i].Bitmap), i);
    size_t end = first;
    for (size_t i = first; i < kept_.size(); ++i) {
      std::string key = Key(kept_[i].Bitmap);
      const auto [it, added] = where.emplace(key, end);
      if (!added) {
        pages[it->second] = std::max(pages[it->second], pages[i]);
        DestroyBMP(&kept_[i].Bitmap);
      } else if (i != end) {
        kept_[end] = kept_[i];
        pages[end] = pages[i];
      }
      if (i != end) kept_[i] = SYMBOL{};
      if (added) ++end;
      representatives.insert(std::move(key));
    }
    kept_.resize(end);
    pages.resize(end);
  }
  // The most widespread first, within the dictionary limit.
  std::vector<std::pair<std::string, size_t>> shared;  // key, index in kept_
  for (size_t i = 0; i < kept_.size(); ++i) shared.emplace_back(Key(kept_[i].Bitmap), i);
  std::sort(shared.begin(), shared.end(), [&pages](const auto& a, const auto& b) {
    return pages[a.second] != pages[b.second] ? pages[a.second] > pages[b.second] : a.first < b.first;
  });
  uint64_t pixels = 0;
  // Room for all first: a mark moved here is no longer freed with kept_.
  std::vector<SYMBOL> kept;
  kept.reserve(shared.size());
  for (const auto& [key, i] : shared) {
    SYMBOL& mark = kept_[i];
    const uint64_t rows = mark.Bitmap.lHeight;
    pixels += StoredBitmapPixels(mark.Bitmap.lWidth, rows) + rows;
    if (pixels > kMaxSymbolDictionaryPixels) break;
    kept.push_back(mark);
    mark = SYMBOL{};
  }
  for (SYMBOL& s : kept_) DestroyBMP(&s.Bitmap);
  kept_.clear();
  keptHash_.clear();
  SortSymbolsByHeight(kept.data(), kept.size());
  // Equal heights and widths keep the order above; the IDs follow it.
  out->symbols = std::move(kept);
  for (size_t i = 0; i < out->symbols.size(); ++i) {
    out->symbols[i].lIndex = static_cast<int32_t>(i);
    out->symbols[i].bDictionary = 1;
    out->ids.emplace(Key(out->symbols[i].Bitmap), static_cast<int32_t>(i));
  }
  if (!classes_) return;
  // The representatives readied for the pages' marks.
  auto ready = std::make_unique<SharedRepresentatives>();
  ready->gate = classes_->gate();
  classes_.reset();
  ready->shapes.resize(out->symbols.size());
  for (size_t i = 0; i < out->symbols.size(); ++i) {
    const BMP& symbol = out->symbols[i].Bitmap;
    if (!representatives.count(Key(symbol))) continue;
    ready->shapes[i] = std::make_unique<GateShape>(symbol, ready->gate);
    ready->index.Add(static_cast<int32_t>(i), symbol, ready->shapes[i].get());
  }
  out->representatives = std::move(ready);
}
