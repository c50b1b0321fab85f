// An encoder, or one set of parsed sections, that has coded one page codes
// the next exactly as a fresh one does: nothing of page A (its size, its
// whole-page rectangles) stays in the settings that code page B.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "include/jbig2codec/jb2_encode.h"
#include "tests/encoder/generic_modes.h"
#include "tests/encoder/halftone_modes.h"
#include "tests/encoder/text_modes.h"
#include "tests/test_util.h"

namespace {

using Bytes = std::vector<unsigned char>;

// One section layout of the compatibility table, built for a page of w x h.
struct Layout {
  std::string name;
  std::function<void(jb2test::Sections&, int32_t w, int32_t h)> build;
};

std::vector<Layout> AllLayouts() {
  std::vector<Layout> all;
  for (const jb2test::GenericMode& m : jb2test::kGenericModes) all.push_back({std::string("gr_") + m.name, m.build});
  for (const jb2test::TextMode& m : jb2test::kModes) all.push_back({std::string("sr_") + m.name, m.build});
  for (const jb2test::HalftoneCase& c : jb2test::kHalftoneCases)
    all.push_back({std::string("ht_") + c.name,
                   [c](jb2test::Sections& s, int32_t, int32_t) { jb2test::AddHalftoneSection(s, c, 0, 0, 0, 0); }});
  return all;
}

jb2_image Image(const BMP& page) { return {page.pData, page.lWidth, page.lHeight, page.lStride, 11811, 11811}; }

Bytes Take(jb2_status status, unsigned char* data, size_t size) {
  EXPECT_EQ(status, JB2_OK);
  Bytes out(data, data + size);
  jb2_free(data);
  return out;
}

Bytes EncodePage(jb2_encoder* enc, const BMP& page) {
  unsigned char* data = nullptr;
  size_t size = 0;
  const jb2_status s =
      jb2_encode_page(enc, page.pData, page.lWidth, page.lHeight, page.lStride, 11811, 11811, &data, &size);
  return Take(s, data, size);
}

Bytes EncodeDocument(jb2_encoder* enc, const std::vector<jb2_image>& pages) {
  unsigned char* data = nullptr;
  size_t size = 0;
  const jb2_status s = jb2_encode_document(enc, pages.data(), static_cast<uint32_t>(pages.size()), &data, &size);
  return Take(s, data, size);
}

jb2_encoder* MakeEncoder(const std::string& words) {
  std::vector<std::string> split;
  std::istringstream in(words);
  for (std::string w; in >> w;) split.push_back(w);
  std::vector<const char*> argv;
  for (const std::string& w : split) argv.push_back(w.c_str());
  jb2_encoder* enc = nullptr;
  EXPECT_EQ(jb2_encoder_create(&enc), JB2_OK);
  EXPECT_EQ(jb2_encoder_set_sections(enc, static_cast<int>(argv.size()), argv.data()), JB2_OK) << words;
  return enc;
}

// The bytes Transcode writes for `page` with `sections`.
Bytes TranscodeBytes(const BMP& page, jb2test::Sections& sections, const std::string& path) {
  BMP copy;
  jb2test::CopyPage(&page, &copy);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Transcode(&copy, 1, sections.data(), sections.size(), path.c_str()), 0);
  testing::internal::GetCapturedStderr();
  DestroyBMP(&copy);
  const std::vector<uint8_t> bytes = jb2test::ReadFileBytes(path);
  return Bytes(bytes.begin(), bytes.end());
}

TEST(EncoderReuse, PageAfterAnotherPageCodesAsFromAFreshEncoder) {
  jb2test::TextPage a = jb2test::RandomMarksPage(64, 48, 7);
  jb2test::TextPage b = jb2test::RandomMarksPage(150, 100, 3);
  const int32_t w = static_cast<int32_t>(b.bmp.lWidth), h = static_cast<int32_t>(b.bmp.lHeight);
  const std::string dir = jb2test::MakeTempDir();
  for (const Layout& layout : AllLayouts()) {
    SCOPED_TRACE(layout.name);
    jb2test::Sections sections;
    layout.build(sections, w, h);
    const std::string words = sections.Words();

    // Through the embedding interface: a page, and a document whose two
    // pages share their symbols, after page A.
    jb2_encoder* fresh = MakeEncoder(words);
    const Bytes freshPage = EncodePage(fresh, b.bmp);
    const Bytes freshDocument = EncodeDocument(fresh, {Image(b.bmp), Image(b.bmp)});
    jb2_encoder_destroy(fresh);
    jb2_encoder* reused = MakeEncoder(words);
    EncodePage(reused, a.bmp);
    EXPECT_EQ(EncodePage(reused, b.bmp), freshPage);
    EXPECT_EQ(EncodeDocument(reused, {Image(b.bmp), Image(b.bmp)}), freshDocument);
    jb2_encoder_destroy(reused);

    // Through Transcode, with one parameter set for both pages.
    jb2test::Sections once, anew;
    layout.build(once, w, h);
    layout.build(anew, w, h);
    TranscodeBytes(a.bmp, once, dir + "/a.jb2");
    EXPECT_EQ(TranscodeBytes(b.bmp, once, dir + "/b.jb2"), TranscodeBytes(b.bmp, anew, dir + "/fresh.jb2"));
  }
  DestroyBMP(&a.bmp);
  DestroyBMP(&b.bmp);
}

}  // namespace
