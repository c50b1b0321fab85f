// The test toolkit's section words: PARAMETER records built in code, for
// the encoder's interface and as transc words.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "encoder/transclib.h"

namespace jb2test {

// Owns the keyword storage of hand-built PARAMETER records.
class Sections {
 public:
  using Keys = std::vector<std::pair<const char*, int32_t>>;
  // Appends a section of `type` over (x0, y0, x1, y1) with the given keywords.
  Sections& Add(int32_t type, int32_t x0, int32_t y0, int32_t x1, int32_t y1, const Keys& keys = {}) {
    PARAMETER p{};
    p.lPage = 1;
    p.lType = type;
    p.lX0 = x0;
    p.lY0 = y0;
    p.lX1 = x1;
    p.lY1 = y1;
    auto& names = names_.emplace_back();
    auto& values = values_.emplace_back();
    for (auto& [name, value] : keys) {
      names.push_back(const_cast<char*>(name));
      values.push_back(value);
    }
    p.nKeys = static_cast<uint32_t>(names.size());
    records_.push_back(p);
    return *this;
  }
  Sections& Add(const Keys& keys = {}) { return Add(0, 0, 0, 0, 0, keys); }
  // Appends a keyword to the last section.
  Sections& AddKey(const char* name, int32_t value) {
    names_.back().push_back(const_cast<char*>(name));
    values_.back().push_back(value);
    records_.back().nKeys = static_cast<uint32_t>(names_.back().size());
    return *this;
  }
  // Whether the last section sets `name`.
  bool LastHasKey(const char* name) const {
    for (const char* k : names_.back())
      if (std::string(k) == name) return true;
    return false;
  }
  // The sections as transc words, e.g. "sr:huff:soft=0 gr:(0,0,50,20)".
  std::string Words() const {
    static const char* const kTypes[] = {"gr", "sr", "ht"};
    // Keywords that are switches read better bare when on.
    static const std::string kSwitches = " huff direct tpdon tpron mmr refdict allrefdict sequential invert "
                                         "transposed skip defpixel soft sbrefine lossy ";
    std::string words;
    for (size_t i = 0; i < records_.size(); ++i) {
      const PARAMETER& p = records_[i];
      std::string word = p.lType >= 0 && p.lType <= 2 ? kTypes[p.lType] : "gr";
      if (p.lX0 || p.lY0 || p.lX1 || p.lY1) {
        word += ":(";
        word += std::to_string(p.lX0) + "," + std::to_string(p.lY0) + "," + std::to_string(p.lX1) + "," +
                std::to_string(p.lY1) + ")";
      }
      for (size_t k = 0; k < names_[i].size(); ++k) {
        const std::string name = names_[i][k];
        word += ":" + name;
        if (values_[i][k] != 1 || kSwitches.find(" " + name + " ") == std::string::npos)
          word.append("=").append(std::to_string(values_[i][k]));
      }
      words += (words.empty() ? "" : " ") + word;
    }
    return words;
  }
  // The records, with their arrays pointing into this object.
  PARAMETER* data() {
    for (size_t i = 0; i < records_.size(); ++i) {
      records_[i].ppszKeys = names_[i].data();
      records_[i].plValues = values_[i].data();
    }
    return records_.data();
  }
  long size() const { return static_cast<long>(records_.size()); }

 private:
  std::vector<PARAMETER> records_;
  std::vector<std::vector<char*>> names_;
  std::vector<std::vector<int32_t>> values_;
};

}  // namespace jb2test
