#include "encoder/parameters.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "encoder/transclib.h"

namespace {

const std::string kEqualError = "ERROR!   Input Parameter; Bad Syntax with equal sign\n";
const std::string kLongError = "ERROR!   Input Parameter; Bad Syntax (>1024 characters)\n";
const std::string kLastWarning = "Warning! Input Parameters: Last Section Should Have No Co-Ordinates\n";
const std::string kOnlyLastWarning = "Warning! Input Parameters: Only Last Section Should Have No Co-Ordinates\n";

// Parses the words with stderr captured; the caller frees the records.
std::vector<PARAMETER> Parse(const std::vector<std::string>& words, std::string* err) {
  std::vector<std::string> copies = words;
  std::vector<char*> argv;
  for (std::string& w : copies) argv.push_back(w.data());
  std::vector<PARAMETER> records(words.empty() ? 1 : words.size(), PARAMETER{});
  testing::internal::CaptureStderr();
  ParameterAnalysis(static_cast<long>(argv.size()), argv.data(), records.data());
  *err = testing::internal::GetCapturedStderr();
  return records;
}

std::vector<std::pair<std::string, int32_t>> Keys(const PARAMETER& r) {
  std::vector<std::pair<std::string, int32_t>> keys;
  for (uint32_t i = 0; i < r.nKeys; ++i) keys.emplace_back(r.ppszKeys[i], r.plValues[i]);
  return keys;
}

struct WordCase {
  std::string word;
  int32_t type;
  std::vector<int32_t> rect;  // x0, y0, x1, y1
  std::vector<std::pair<std::string, int32_t>> keys;
  std::string err;
};

TEST(Parameters, SingleWordCases) {
  const std::string long1024(1024, 'k'), long1025(1025, 'k');
  const WordCase cases[] = {
      {"GR:TEMPLATE=2", 0, {0, 0, 0, 0}, {{"template", 2}}, ""},
      {"sr:huff:refdict", 1, {0, 0, 0, 0}, {{"huff", 1}, {"refdict", 1}}, ""},
      {"gr/template=1/tpdon/(0,0,1700,400)", 0, {0, 0, 1700, 400}, {{"template", 1}, {"tpdon", 1}}, kLastWarning},
      {"ht htpattern=1 (0,400,1700,900)", 2, {0, 400, 1700, 900}, {{"htpattern", 1}}, kLastWarning},
      {"template=", 0, {0, 0, 0, 0}, {}, kEqualError},
      {"=2:mmr", 0, {0, 0, 0, 0}, {{"mmr", 1}}, kEqualError},
      {"tpdon=0", 0, {0, 0, 0, 0}, {{"tpdon", 0}}, ""},
      {"template=1:template=3", 0, {0, 0, 0, 0}, {{"template", 1}, {"template", 3}}, ""},
      {"(10,20)", 0, {10, 20, 0, 0}, {}, kLastWarning},
      {"(1,2,3,4)(5,6)", 0, {1, 2, 3, 4}, {}, kLastWarning},  // one token: the first four numbers
      {"(1,2,3,4):(7,8,9,10,11)", 0, {7, 8, 9, 10}, {}, kLastWarning},
      {"(-3,x,7)", 0, {-3, 0, 7, 0}, {}, kLastWarning},
      {"sr:gr", 0, {0, 0, 0, 0}, {}, ""},
      {"HT", 2, {0, 0, 0, 0}, {}, ""},
      {"::a:: b//", 0, {0, 0, 0, 0}, {{"a", 1}, {"b", 1}}, ""},
      {"a:b c/d\\e^f#g'h", 0, {0, 0, 0, 0}, {{"a", 1}, {"b", 1}, {"c", 1}, {"d", 1}, {"e", 1}, {"f", 1}, {"g", 1}, {"h", 1}}, ""},
      // A value that is not an integer keeps its token whole, for the review to refuse.
      {"x=-5abc:y=abc:z=+7", 0, {0, 0, 0, 0}, {{"x=-5abc", 0}, {"y=abc", 0}, {"z", 7}}, ""},
      {"a=b=3", 0, {0, 0, 0, 0}, {{"a=b=3", 0}}, ""},
      {"big=99999999999:small=-99999999999", 0, {0, 0, 0, 0}, {{"big", INT32_MAX}, {"small", INT32_MIN}}, ""},
      {long1024 + ":mmr", 0, {0, 0, 0, 0}, {{long1024, 1}, {"mmr", 1}}, ""},
      {long1025 + ":mmr", 0, {0, 0, 0, 0}, {{"mmr", 1}}, kLongError},
      {"", 0, {0, 0, 0, 0}, {}, ""},
  };
  for (const WordCase& c : cases) {
    std::string err;
    std::vector<PARAMETER> r = Parse({c.word}, &err);
    const std::string label = c.word.substr(0, 40);
    EXPECT_EQ(r[0].lPage, 1) << label;
    EXPECT_EQ(r[0].lType, c.type) << label;
    EXPECT_EQ((std::vector<int32_t>{r[0].lX0, r[0].lY0, r[0].lX1, r[0].lY1}), c.rect) << label;
    EXPECT_EQ(Keys(r[0]), c.keys) << label;
    EXPECT_EQ(err, c.err) << label;
    FreeParameters(1, r.data());
  }
}

TEST(Parameters, LookupTakesFirstOccurrenceAndDefaults) {
  std::string err;
  std::vector<PARAMETER> r = Parse({"template=1:TEMPLATE=3:tpdon"}, &err);
  EXPECT_EQ(GetParameterValue("template", &r[0], 0), 1);
  EXPECT_EQ(GetParameterValue("tpdon", &r[0], 0), 1);
  EXPECT_EQ(GetParameterValue("match", &r[0], 80), 80);
  EXPECT_EQ(GetParameterValue("TEMPLATE", &r[0], -7), -7);  // names are stored lower case
  FreeParameters(1, r.data());
  EXPECT_EQ(r[0].nKeys, 0u);
  EXPECT_EQ(r[0].ppszKeys, nullptr);
  FreeParameters(1, r.data());  // a freed record can be freed again
  EXPECT_EQ(GetParameterValue("template", &r[0], 5), 5);

  // No words: the caller's zeroed record is the default section.
  std::vector<PARAMETER> none = Parse({}, &err);
  EXPECT_EQ(err, "");
  EXPECT_EQ(none[0].lPage, 0);
  EXPECT_EQ(none[0].lType, 0);
  EXPECT_EQ(GetParameterValue("stripe", &none[0], 0), 0);
  EXPECT_EQ(GetParameterValue("opoverride", &none[0], 1), 1);
  EXPECT_EQ(GetParameterValue("x", nullptr, 3), 3);
  FreeParameters(1, none.data());

  const char* table[] = {"gr", nullptr, "ht", "gr"};
  EXPECT_EQ(StringLookup(table, 4, "gr"), 1);
  EXPECT_EQ(StringLookup(table, 4, "ht"), 3);
  EXPECT_EQ(StringLookup(table, 2, "ht"), 0);
  EXPECT_EQ(StringLookup(table, 4, ""), 0);
}

TEST(Parameters, CoordinateWarningsAcrossWords) {
  struct Case {
    std::vector<std::string> words;
    std::string err;
  };
  const Case cases[] = {
      {{"sr", "gr"}, kOnlyLastWarning},
      {{"sr:(0,0,10,10)", "gr"}, ""},
      {{"sr", "(0,0,1,1)", "gr:(1,1)"}, kOnlyLastWarning + kLastWarning},
      {{"a=", "", "ht"}, kEqualError + kOnlyLastWarning + kOnlyLastWarning},
  };
  for (const Case& c : cases) {
    std::string err;
    std::vector<PARAMETER> r = Parse(c.words, &err);
    EXPECT_EQ(err, c.err) << c.words[0];
    for (const PARAMETER& p : r) EXPECT_EQ(p.lPage, 1);
    FreeParameters(static_cast<long>(r.size()), r.data());
  }
  std::string err;
  std::vector<PARAMETER> r = Parse({"sr:huff:(0,0,100,50)", "ht:mmr"}, &err);
  EXPECT_EQ(r[0].lType, 1);
  EXPECT_EQ(r[0].lY1, 50);
  EXPECT_EQ(r[1].lType, 2);
  EXPECT_EQ(GetParameterValue("huff", &r[1], 0), 0);  // keywords belong to their own section
  EXPECT_EQ(GetParameterValue("mmr", &r[1], 0), 1);
  FreeParameters(2, r.data());
}

}  // namespace
