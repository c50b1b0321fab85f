// What transc says about section words, and what it writes for them: every
// token that nothing reads is named, values that cannot make a conformant
// file are refused, and whatever is written decodes to the source page.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "include/jbig2codec/jb2_encode.h"
#include "tests/encoder/text_pages.h"
#include "tests/tools/tool_runs.h"

namespace {

using jb2tooltest::Contains;

struct Fixture {
  std::string dir = jb2test::MakeTempDir();
  jb2test::TextPage page = jb2test::RepeatedGlyphsPage(true, 4);
  Fixture() { SaveBMP((dir + "/page.bmp").c_str(), &page.bmp); }
  ~Fixture() { DestroyBMP(&page.bmp); }
};

TEST(TranscWords, TokensThatNothingReadsAreNamedWithTheNearestKeyword) {
  Fixture f;
  struct Case {
    const char* words;
    std::vector<const char*> said;
  } cases[] = {
      {"sr:hufff", {"Section 1 (sr): Unknown Keyword \"hufff\" Ignored - Nearest Known Keyword: \"huff\""}},
      {"gr:templat=1", {"Section 1 (gr): Unknown Keyword \"templat\" Ignored - Nearest Known Keyword: \"template\""}},
      {"txt", {"Section 1 (gr): Unknown Keyword \"txt\""}},
      {"gr,mmr", {"Section 1 (gr): Unknown Keyword \"gr,mmr\" Ignored - Nearest Known Keyword: \"mmr\" (separate keywords with \":\")"}},
      {"(0,0,100,100", {"Section 1 (gr): Co-Ordinates \"(0,0,100,100\" Not Closed with \")\" - Read as (0,0,100,100)"}},
      {"gr:huff", {"Section 1 (gr): Keyword \"huff\" Has No Effect in This Kind of Section - Ignored"}},
      {"gr:(0,0,10,10) gr:pagepixel=1",
       {"Section 2 (gr): Keyword \"pagepixel\" Is Read from the First Section Only - Ignored"}},
      {"sr:huffdh=1", {"Section 1 (sr): Keyword \"huffdh\" Has No Effect without \"huff\" - Ignored"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words);
    jb2tooltest::RoundTrip r;
    jb2tooltest::EncodeDecode(f.dir, "page" + jb2tooltest::Quoted(c.words), "page", &r);
    EXPECT_EQ(r.enc.exitStatus, 0);
    for (const char* s : c.said) EXPECT_TRUE(Contains(r.enc.err, std::string("Warning! ") + s)) << r.enc.err;
    ASSERT_TRUE(r.decoded);
    EXPECT_TRUE(jb2test::SamePixels(&r.page, &f.page.bmp));
  }
}

TEST(TranscWords, ValuesThatCannotMakeAConformantFileAreRefused) {
  Fixture f;
  for (const char* words : {"gr:aty1=1", "gr:template=3:atx1=0:aty1=0", "sr:atx4=5:aty4=0"}) {
    SCOPED_TRACE(words);
    const jb2test::CommandResult r = jb2test::RunCommand(jb2tooltest::kTransc + " page" + jb2tooltest::Quoted(words), f.dir);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(Contains(r.err, "Not Allowed: it must lie above the pixel coded")) << r.err;
    EXPECT_TRUE(Contains(r.err, "-128 to -1")) << r.err;
    EXPECT_TRUE(Contains(r.err, "ERROR!   Section Words Refused - No File Written\n")) << r.err;
    EXPECT_FALSE(jb2test::FileExists(f.dir + "/page.jb2"));
  }
  // Unread adaptive pixels (template 1 has one, MMR none) are not refused.
  for (const char* words : {"gr:template=1:aty2=5", "gr:mmr:aty1=1"}) {
    SCOPED_TRACE(words);
    EXPECT_EQ(jb2test::RunCommand(jb2tooltest::kTransc + " page" + jb2tooltest::Quoted(words), f.dir).exitStatus, 0);
  }
}

// A value that is not an integer is refused with the keyword and the value
// named, by the program and by the library, instead of being read as 0.
TEST(TranscWords, ValuesThatAreNotIntegersAreRefused) {
  Fixture f;
  for (const char* words : {"gr:mmr=yes", "sr:match=abc", "match=12abc"}) {
    SCOPED_TRACE(words);
    const std::string word = words;
    const size_t eq = word.find('='), start = word.find_last_of(':', eq);
    const std::string keyword = word.substr(start == std::string::npos ? 0 : start + 1, eq - (start + 1));
    const std::string said = "Keyword \"" + keyword + "\" Given \"" + word.substr(eq + 1) + "\", Which Is Not an Integer";
    const jb2test::CommandResult r = jb2test::RunCommand(jb2tooltest::kTransc + " page" + jb2tooltest::Quoted(words), f.dir);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(Contains(r.err, "ERROR!   Section 1 (")) << r.err;
    EXPECT_TRUE(Contains(r.err, said)) << r.err;
    EXPECT_TRUE(Contains(r.err, "ERROR!   Section Words Refused - No File Written\n")) << r.err;
    EXPECT_FALSE(jb2test::FileExists(f.dir + "/page.jb2"));

    jb2_encoder* enc = nullptr;
    ASSERT_EQ(jb2_encoder_create(&enc), JB2_OK);
    std::string messages;
    jb2_encoder_set_messages(
        enc, [](void* user, int, const char* text) { *static_cast<std::string*>(user) += text; }, &messages);
    EXPECT_EQ(jb2_encoder_set_sections(enc, 1, &words), JB2_ERROR_REFUSED);
    EXPECT_TRUE(Contains(messages, said)) << messages;
    jb2_encoder_destroy(enc);
  }
}

TEST(TranscWords, ReducedOrClampedValuesSayWhatIsUsed) {
  Fixture f;
  struct Case {
    const char* words;
    const char* said;
  } cases[] = {
      {"gr:atx1=200", "Section 1 (gr): atx1=200 Does Not Fit Its 8-Bit Field (-128 to 127) - Using -56"},
      {"sr:match=150", "Section 1 (sr): match=150 Outside Its Range (0 to 100) - Using 100"},
      {"sr:matchoffset=50", "Section 1 (sr): matchoffset=50 Outside Its Range (0 to 8) - Using 8"},
      {"gr:tpdon=7", "Section 1 (gr): tpdon=7 Is a Switch (0 to 1) - Using 1"},
      {"sr:refcorner=6", "Section 1 (sr): refcorner=6 Does Not Fit Its 2-Bit Field (0 to 3) - Using 2"},
      {"gr:opoverride=0:pageop=3",
       "Section 1 (gr): opoverride=0 Would Make Every Region Use pageop=3 (XNOR), Which Cannot Rebuild This Page - "
       "Using opoverride=1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words);
    jb2tooltest::RoundTrip r;
    jb2tooltest::EncodeDecode(f.dir, "page" + jb2tooltest::Quoted(c.words), "page", &r);
    EXPECT_EQ(r.enc.exitStatus, 0);
    EXPECT_TRUE(Contains(r.enc.err, std::string("Warning! ") + c.said + "\n")) << r.enc.err;
    ASSERT_TRUE(r.decoded);
    EXPECT_TRUE(jb2test::SamePixels(&r.page, &f.page.bmp));
  }
}

// Each of these decoded to another page before: a black page default under
// OR, operators imposed by the page, sections that cover part of the page,
// and a complemented text section over an earlier one.
TEST(TranscWords, PagesComposeExactly) {
  Fixture f;
  const char* const cases[] = {
      "gr:pagepixel=1",
      "sr:pagepixel=1:invert",
      "gr:opoverride=0:pageop=3",
      "sr:pageop=1:opoverride=0",
      "gr:opoverride=0:pageop=2 sr:defpixel=1:residue=3",
      "sr:pageop=1:opoverride=0 gr",
      "gr sr:invert",
      "gr:(0,0,150,157) sr:defpixel=1:residue=4",
      "(10,10,5,5)",
      "(0,0,100)",
      "sr:stripe=32:(0,40,301,100)",
  };
  for (const char* words : cases) {
    SCOPED_TRACE(words);
    jb2tooltest::RoundTrip r;
    jb2tooltest::EncodeDecode(f.dir, "page" + jb2tooltest::Quoted(words), "page", &r);
    EXPECT_EQ(r.enc.exitStatus, 0) << r.enc.err;
    ASSERT_TRUE(r.decoded) << r.dec.err;
    EXPECT_TRUE(jb2test::SamePixels(&r.page, &f.page.bmp)) << r.enc.err;
  }
  // A stripe of 1024 rows needs the section at the page's corner.
  jb2tooltest::RoundTrip stripe;
  jb2tooltest::EncodeDecode(f.dir, "page 'gr:stripe:(0,10)'", "page", &stripe);
  EXPECT_TRUE(Contains(stripe.enc.err, "ERROR!   Invalid Stripe Settings - Ignoring STRIPE\n")) << stripe.enc.err;
  ASSERT_TRUE(stripe.decoded);
  EXPECT_TRUE(jb2test::SamePixels(&stripe.page, &f.page.bmp));
  // Uncovered pixels are coded with a warning that says so.
  jb2tooltest::RoundTrip r;
  jb2tooltest::EncodeDecode(f.dir, "page '(0,0,100)'", "page", &r);
  EXPECT_TRUE(Contains(r.enc.err, "Warning! Pixels No Section Covers - Coded as One More Generic Region\n"));
}

}  // namespace
