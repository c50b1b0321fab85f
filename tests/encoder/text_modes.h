// The text section modes the round-trip tests run: each builds the section
// words for a page of the given size.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "encoder/transclib.h"
#include "tests/encoder/text_pages.h"
#include "tests/toolkit/jb2_reader.h"
#include "tests/toolkit/sections.h"

namespace jb2test {

struct TextMode {
  const char* name;
  std::function<void(Sections&, int32_t w, int32_t h)> build;
};

inline void Text(Sections& s, Sections::Keys keys) { s.Add(1, 0, 0, 0, 0, keys); }

#define MODE(name, ...) {name, [](Sections& s, int32_t, int32_t) { Text(s, __VA_ARGS__); }}

inline const TextMode kModes[] = {
    MODE("Default", {}),
    MODE("Exact", {{"soft", 0}}),
    MODE("LossyWithRefinementPass", {{"sbrefine", 0}}),
    MODE("RefinementPassTemplate1Tpron", {{"sbrefine", 0}, {"rtemplate", 1}, {"tpron", 1}}),
    MODE("RefinementPassTpronAT", {{"sbrefine", 0}, {"tpron", 1}, {"ratx1", -2}, {"raty1", 0}, {"ratx2", 1}, {"raty2", 1}}),
    MODE("RefDict", {{"refdict", 1}}),
    MODE("AllRefDict", {{"allrefdict", 1}}),
    MODE("RefDictLossy", {{"refdict", 1}, {"sbrefine", 0}}),
    MODE("RefTemplate1", {{"rtemplate", 1}, {"refdict", 1}}),
    MODE("RefAT", {{"ratx1", -3}, {"raty1", -1}, {"ratx2", 2}, {"raty2", 1}, {"allrefdict", 1}}),
    MODE("DictionaryTemplates", {{"template", 1}, {"atx1", -2}, {"aty1", -2}}),
    MODE("DictionaryTemplate3", {{"template", 3}, {"soft", 0}}),
    MODE("Residue", {{"residue", 3}}),
    MODE("ResidueEverything", {{"residue", 1000}}),
    MODE("ResidueMmr", {{"residue", 2}, {"mmr", 1}}),
    MODE("Invert", {{"invert", 1}}),
    MODE("InvertLossy", {{"invert", 1}, {"sbrefine", 0}}),
    MODE("DefPixelXor", {{"defpixel", 1}, {"combop", 2}}),
    MODE("DefPixelXorResidue", {{"defpixel", 1}, {"combop", 2}, {"residue", 2}}),
    MODE("DefPixelAnd", {{"defpixel", 1}, {"combop", 1}}),
    MODE("DefPixelXnorLossy", {{"defpixel", 1}, {"combop", 3}, {"sbrefine", 0}}),
    MODE("Xor", {{"combop", 2}}),
    MODE("Xnor", {{"combop", 3}, {"refdict", 1}}),
    MODE("Transposed0", {{"transposed", 1}, {"refcorner", 0}}),
    MODE("Transposed1", {{"transposed", 1}, {"refcorner", 1}, {"strip", 2}}),
    MODE("Transposed2", {{"transposed", 1}, {"refcorner", 2}, {"sbrefine", 0}}),
    MODE("Transposed3", {{"transposed", 1}, {"refcorner", 3}, {"huff", 1}, {"soft", 0}}),
    MODE("Corner1", {{"refcorner", 1}}),
    MODE("Corner2", {{"refcorner", 2}, {"strip", 1}}),
    MODE("Corner3", {{"refcorner", 3}, {"sbrefine", 0}}),
    MODE("Strip1", {{"strip", 1}, {"dsoffset", -2}}),
    MODE("Strip2", {{"strip", 2}, {"dsoffset", 5}}),
    MODE("Strip3", {{"strip", 3}, {"dsoffset", -16}, {"sbrefine", 0}}),
    MODE("Strip3Huffman", {{"strip", 3}, {"dsoffset", 15}, {"huff", 1}, {"soft", 0}}),
    MODE("MatchSettings", {{"match", 70}, {"matchoffset", 1}, {"sizeoffset", 2}, {"dictbonus", 3}}),
    MODE("ShiftedLossy", {{"match", 60}, {"matchoffset", 2}, {"sizeoffset", 3}, {"sbrefine", 0}}),
    MODE("ExactOnlyThreshold", {{"match", 100}}),
    MODE("Huffman", {{"huff", 1}, {"soft", 0}}),
    MODE("HuffmanDirect", {{"huff", 1}, {"soft", 0}, {"direct", 1}}),
    MODE("HuffmanLossy", {{"huff", 1}, {"sbrefine", 0}}),
    MODE("HuffmanTables",
         {{"huff", 1}, {"soft", 0}, {"hufffs", 1}, {"huffds", 2}, {"huffdt", 1}, {"huffdh", 1}, {"huffdw", 1}}),
    MODE("HuffmanTables2", {{"huff", 1}, {"sbrefine", 0}, {"huffds", 1}, {"huffdt", 2}, {"strip", 1}}),
    MODE("HuffmanRefine", {{"huff", 1}}),
    MODE("HuffmanRefineB14",
         {{"huff", 1}, {"huffrdw", 0}, {"huffrdh", 0}, {"huffrdx", 0}, {"huffrdy", 0}, {"sizeoffset", 4}}),
    MODE("HuffmanRefineTemplate1", {{"huff", 1}, {"rtemplate", 1}}),
    MODE("HuffmanRefDict", {{"huff", 1}, {"refdict", 1}, {"sbrefine", 0}}),
    MODE("HuffmanRefDictRefine", {{"huff", 1}, {"refdict", 1}}),
    MODE("HuffmanAllRefDictDirect", {{"huff", 1}, {"allrefdict", 1}, {"direct", 1}, {"rtemplate", 1}}),
    // Settings of fields the coding then does not use (T.88 7.4.2.1.1).
    MODE("HuffmanTemplate1", {{"huff", 1}, {"template", 1}}),
    MODE("RefTemplate1WithoutRefDict", {{"rtemplate", 1}}),
    MODE("TablesWithoutHuffman", {{"huffdh", 1}, {"huffdw", 1}}),
    {"MixedPage",
     [](Sections& s, int32_t w, int32_t h) {
       s.Add(0, 0, 0, w, h / 3, {{"template", 2}})
           .Add(1, 0, h / 3, w / 2, 2 * h / 3, {{"sbrefine", 0}})
           .Add(0, w / 2, h / 3, w, 2 * h / 3, {{"mmr", 1}})
           .Add(1, 0, 0, 0, 0, {{"refdict", 1}});
     }},
};

#undef MODE

inline std::string ModeName(const ::testing::TestParamInfo<TextMode>& info) { return info.param.name; }

// Encodes every test page with the mode into `dir` and hands each file with
// its source pixels to `check`.
inline void ForEachEncodedPage(const TextMode& mode, bool withSample,
                        const std::function<void(const std::string& jb2, const BMP& source)>& check) {
  std::vector<TextPage> pages = MakeTextPages(withSample);
  std::string dir = MakeTempDir();
  for (TextPage& page : pages) {
    SCOPED_TRACE(page.name);
    BMP source;
    CopyPage(&page.bmp, &source);
    Sections sections;
    mode.build(sections, static_cast<int32_t>(page.bmp.lWidth), static_cast<int32_t>(page.bmp.lHeight));
    std::string jb2 = dir + "/" + page.name + ".jb2";
    testing::internal::CaptureStderr();
    int result = Transcode(&page.bmp, 1, sections.data(), sections.size(), jb2.c_str());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, 0);
    check(jb2, source);
    DestroyBMP(&source);
    DestroyBMP(&page.bmp);
  }
}

}  // namespace jb2test
