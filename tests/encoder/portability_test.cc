// PortabilityAdvice: the section words that common readers mis-read, and the
// portable words it names instead, which code the same page losslessly.
#include <gtest/gtest.h>

#include <string>

#include "encoder/transclib.h"

namespace {

std::string Advice(const char* word) {
  PARAMETER section{};
  char* words[] = {const_cast<char*>(word)};
  ParameterAnalysis(1, words, &section);
  char text[256];
  const int given = PortabilityAdvice(&section, text, sizeof text);
  FreeParameters(1, &section);
  EXPECT_EQ(given != 0, text[0] != '\0') << word;
  return text;
}

const std::string kPrefix = "Common Readers Mis-read ";
const std::string kSuffix = " Codes the Same Page for All Readers";

TEST(PortabilityAdvice, PortableModesGetNone) {
  for (const char* word : {"gr", "gr:template=2:tpdon", "sr", "sr:refdict", "sr:huff:sbrefine=0", "sr:huff:soft=0",
                           "sr:sbrefine=0:tpron=0", "ht", "ht:htpattern=1:template=3", "sr:defpixel:combop=2"})
    EXPECT_EQ(Advice(word), "") << word;
}

TEST(PortabilityAdvice, NamesWhatIsMisreadByWhomAndThePortableWords) {
  const struct {
    const char* word;
    const char* advice;
  } cases[] = {
      {"sr:huff", "Refinement in Huffman Text Regions (jbig2dec, pdf.js) - sr:huff:sbrefine=0"},
      {"SR:Huff:RefDict:sbrefine=1",
       "Refinement in Huffman Text Regions (jbig2dec, pdf.js) - sr:huff:sbrefine=0"},
      {"sr:huff:allrefdict:soft=0", "Refinement in Huffman Text Regions (jbig2dec, pdf.js) - sr:huff:soft=0"},
      // Refinement over text drawn on black is the next defect: exact matching instead.
      {"sr:huff:defpixel:combop=2", "Refinement in Huffman Text Regions (jbig2dec, pdf.js) - sr:huff:defpixel:combop=2:soft=0"},
      {"sr:(0,0,50,60):huff:direct:soft=0", "Uncompressed Collective Bitmaps (poppler) - sr:(0,0,50,60):huff:soft=0"},
      {"sr:huff:direct:tpron",
       "Refinement in Huffman Text Regions and Uncompressed Collective Bitmaps and Typical Prediction in Refinement "
       "Regions (jbig2dec, poppler, pdf.js) - sr:huff:sbrefine=0"},
      {"sr:sbrefine=0:tpron", "Typical Prediction in Refinement Regions (poppler) - sr:sbrefine=0"},
      {"sr:sbrefine=0:tpron:rtemplate", "Typical Prediction in Refinement Regions (jbig2dec, poppler) - sr:sbrefine=0:rtemplate"},
      {"sr:defpixel:combop=2:sbrefine=0", "Refinement Regions over Text Drawn on Black (pdf.js) - sr:defpixel:combop=2"},
      {"sr:residue=3:mmr", "MMR Coding (poppler) - sr:residue=3"},
      {"gr:mmr:stripe=64", "MMR Coding (poppler) - gr:stripe=64"},
      {"ht:mmr:skip", "Halftone Skipping and MMR Coding (poppler) - ht"},
  };
  for (const auto& c : cases) EXPECT_EQ(Advice(c.word), kPrefix + c.advice + kSuffix) << c.word;
}

TEST(PortabilityAdvice, ShortBufferGetsACutMessage) {
  PARAMETER section{};
  char word[] = "gr:mmr";
  char* words[] = {word};
  ParameterAnalysis(1, words, &section);
  char text[8];
  EXPECT_EQ(PortabilityAdvice(&section, text, sizeof text), 1);
  EXPECT_EQ(std::string(text), kPrefix.substr(0, 7));
  EXPECT_EQ(PortabilityAdvice(&section, nullptr, 0), 0);
  FreeParameters(1, &section);
}

}  // namespace
