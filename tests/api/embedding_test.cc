// The embedding interface as a host uses it: pages in memory in and out,
// statuses instead of printing, messages to a callback, embedded streams,
// and independent objects on several threads at once.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "encoder/embedded_streams.h"
#include "include/jbig2codec/jb2_decode.h"
#include "include/jbig2codec/jb2_encode.h"
#include "tests/page_maker.h"
#include "tests/test_util.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Coded {
  jb2_status status = JB2_ERROR_ARGUMENT;
  Bytes file;
};

Coded Encode(const BMP& page, std::vector<const char*> words, jb2_message_fn callback = nullptr, void* user = nullptr) {
  Coded c;
  jb2_encoder* enc = nullptr;
  EXPECT_EQ(jb2_encoder_create(&enc), JB2_OK);
  jb2_encoder_set_messages(enc, callback, user);
  c.status = jb2_encoder_set_sections(enc, static_cast<int>(words.size()), words.data());
  if (c.status == JB2_OK) {
    unsigned char* data = nullptr;
    size_t size = 0;
    c.status = jb2_encode_page(enc, page.pData, page.lWidth, page.lHeight, page.lStride, 11811, 11811, &data, &size);
    if (data) c.file.assign(data, data + size);
    jb2_free(data);
  }
  jb2_encoder_destroy(enc);
  return c;
}

struct Decoded {
  jb2_status opened = JB2_ERROR_ARGUMENT, status = JB2_ERROR_ARGUMENT;
  BMP page{};
  uint32_t xResolution = 0;
  Decoded() = default;
  Decoded(const Decoded&) = delete;
  ~Decoded() { DestroyBMP(&page); }
};

// Opens `file` (or, with globals given, the embedded `file` stream) and
// decodes its first page into a bitmap of our own.
void Decode(const Bytes& file, Decoded* out, const Bytes* globals = nullptr, jb2_message_fn callback = nullptr,
            void* user = nullptr) {
  jb2_decoder* dec = nullptr;
  ASSERT_EQ(jb2_decoder_create(&dec), JB2_OK);
  jb2_decoder_set_messages(dec, callback, user);
  out->opened = globals ? jb2_decoder_open_embedded(dec, file.data(), file.size(), globals->data(), globals->size())
                        : jb2_decoder_open(dec, file.data(), file.size());
  jb2_page page;
  out->status = jb2_decoder_decode_page(dec, 0, &page);
  if (page.pixels) {
    CreateBMP(&out->page, page.width, page.height, 0);
    for (uint32_t y = 0; y < page.height; ++y)
      std::memcpy(out->page.pData + y * out->page.lStride, page.pixels + y * page.stride, out->page.lBytesPerRow);
    out->xResolution = page.x_resolution;
  }
  jb2_decoder_destroy(dec);
}

void Collect(void* user, int isError, const char* line) {
  static_cast<std::vector<std::string>*>(user)->push_back(std::string(isError ? "E " : "W ") + line);
}

BMP TextPage() {
  BMP page{};
  jb2test::MakeTestPage(&page, jb2test::PageKind::kText, 1240, 600);
  return page;
}

TEST(Embedding, PagesRoundTripThroughMemoryWithoutPrinting) {
  BMP page = TextPage();
  for (std::vector<const char*> words : {std::vector<const char*>{}, {"sr"}, {"gr:mmr"}, {"sr:huff:soft=0"}}) {
    SCOPED_TRACE(words.empty() ? "defaults" : words[0]);
    testing::internal::CaptureStderr();
    const Coded c = Encode(page, words);
    Decoded d;
    Decode(c.file, &d);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(c.status, JB2_OK);
    EXPECT_EQ(d.opened, JB2_OK);
    EXPECT_EQ(d.status, JB2_OK);
    EXPECT_TRUE(jb2test::SamePixels(&d.page, &page));
    EXPECT_EQ(d.xResolution, 11811u);
  }
  DestroyBMP(&page);
}

TEST(Embedding, StatusesForBadArgumentsAndRefusedWords) {
  BMP page = TextPage();
  jb2_encoder* enc = nullptr;
  ASSERT_EQ(jb2_encoder_create(&enc), JB2_OK);
  unsigned char* data = reinterpret_cast<unsigned char*>(1);
  size_t size = 7;
  EXPECT_EQ(jb2_encode_page(enc, nullptr, 10, 10, 2, 0, 0, &data, &size), JB2_ERROR_ARGUMENT);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(jb2_encode_page(enc, page.pData, 100, 10, 2, 0, 0, &data, &size), JB2_ERROR_ARGUMENT);  // stride too short
  const char* refused[] = {"gr:aty1=1"};  // an adaptive pixel on the current row's right: never conformant
  std::vector<std::string> lines;
  jb2_encoder_set_messages(enc, Collect, &lines);
  EXPECT_EQ(jb2_encoder_set_sections(enc, 1, refused), JB2_ERROR_REFUSED);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].rfind("E ERROR!   ", 0), 0u) << lines[0];
  jb2_encoder_destroy(enc);

  jb2_decoder* dec = nullptr;
  ASSERT_EQ(jb2_decoder_create(&dec), JB2_OK);
  const unsigned char junk[] = {1, 2, 3};
  EXPECT_EQ(jb2_decoder_open(dec, junk, sizeof junk), JB2_ERROR_NOT_JBIG2);
  jb2_page p;
  EXPECT_EQ(jb2_decoder_decode_page(dec, 0, &p), JB2_ERROR_ARGUMENT);
  EXPECT_EQ(p.pixels, nullptr);
  jb2_decoder_destroy(dec);
  EXPECT_STREQ(jb2_status_name(JB2_DAMAGED), "damaged");
  EXPECT_STREQ(jb2_version(), JB2CODEC_VERSION_STRING);
  DestroyBMP(&page);
}

// A damaged page says so, and the callback receives exactly the lines the
// program prints for the same file.
TEST(Embedding, DamagedDataIsReportedToTheCallbackAsTheProgramPrintsIt) {
  BMP page = TextPage();
  const Coded c = Encode(page, {"sr"});
  ASSERT_EQ(c.status, JB2_OK);
  const Bytes cut(c.file.begin(), c.file.begin() + static_cast<long>(c.file.size() * 2 / 3));
  std::vector<std::string> lines;
  testing::internal::CaptureStderr();
  Decoded d;
  Decode(cut, &d, nullptr, Collect, &lines);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(d.status, JB2_DAMAGED);
  EXPECT_TRUE(d.page.pData != nullptr);

  const std::string dir = jb2test::MakeTempDir();
  jb2test::WriteFileBytes(dir + "/cut.jb2", std::vector<uint8_t>(cut.begin(), cut.end()));
  const auto r = jb2test::RunCommand(std::string("'") + JB2_UNTRANSC_PATH + "' cut", dir);
  EXPECT_EQ(r.exitStatus, 2);
  std::string fromCallback;
  for (const std::string& line : lines) fromCallback += line.substr(2) + "\n";
  EXPECT_EQ(fromCallback, r.err);
  DestroyBMP(&page);
}

// What a PDF holds: the page's segments and the globals, without the file
// header, decode to the same page.
TEST(Embedding, EmbeddedStreamsDecodeLikeTheFile) {
  BMP page = TextPage();
  const Coded c = Encode(page, {"sr"});
  ASSERT_EQ(c.status, JB2_OK);
  jb2pdf::EmbeddedDocument doc;
  ASSERT_TRUE(jb2pdf::SplitFile(c.file.data(), c.file.size(), &doc));
  ASSERT_EQ(doc.pages.size(), 1u);
  const Bytes stream(doc.pages[0].segments.begin(), doc.pages[0].segments.end());
  const Bytes globals(doc.globals.begin(), doc.globals.end());
  Decoded d;
  Decode(stream, &d, &globals);
  EXPECT_EQ(d.opened, JB2_OK);
  EXPECT_EQ(d.status, JB2_OK);
  EXPECT_TRUE(jb2test::SamePixels(&d.page, &page));
  DestroyBMP(&page);
}

// Two threads encoding and two decoding at once, many rounds: every result
// equals the single-threaded one.
TEST(Embedding, IndependentObjectsOnSeveralThreads) {
  std::vector<BMP> pages(2);
  jb2test::MakeTestPage(&pages[0], jb2test::PageKind::kText, 800, 300);
  jb2test::MakeTestPage(&pages[1], jb2test::PageKind::kTextTopInverted, 700, 400);
  const char* words[2] = {"sr", "gr:tpdon"};
  std::vector<Coded> reference;
  for (int i = 0; i < 2; ++i) reference.push_back(Encode(pages[i], {words[i]}));
  std::vector<int> mismatches(4, 0);
  const int rounds = 12;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      const int i = t % 2;
      for (int round = 0; round < rounds; ++round) {
        if (t < 2) {
          mismatches[t] += Encode(pages[i], {words[i]}).file != reference[i].file;
        } else {
          Decoded d;
          Decode(reference[i].file, &d);
          mismatches[t] += d.status != JB2_OK || !jb2test::SamePixels(&d.page, &pages[i]);
        }
      }
    });
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
  for (BMP& p : pages) DestroyBMP(&p);
}

// A document coded on one thread or on several: the same bytes, and the
// same pages back; the pages share a dictionary of no page.
TEST(Embedding, DocumentBytesDoNotDependOnTheThreads) {
  std::vector<BMP> pages(5);
  std::vector<jb2_image> images;
  for (size_t p = 0; p < pages.size(); ++p) {
    CreateBMP(&pages[p], 600, 300 + 40 * static_cast<uint32_t>(p), 0);
    jb2test::DrawTextLines(&pages[p], 10, pages[p].lHeight - 10, 14, 50 + static_cast<uint32_t>(p), 9);
    images.push_back({pages[p].pData, pages[p].lWidth, pages[p].lHeight, pages[p].lStride, 0, 0});
  }
  std::vector<Bytes> files;
  for (unsigned threads : {1u, 3u, 0u}) {
    jb2_encoder* enc = nullptr;
    ASSERT_EQ(jb2_encoder_create(&enc), JB2_OK);
    jb2_encoder_set_threads(enc, threads);
    const char* words[] = {"sr"};
    ASSERT_EQ(jb2_encoder_set_sections(enc, 1, words), JB2_OK);
    unsigned char* data = nullptr;
    size_t size = 0;
    ASSERT_EQ(jb2_encode_document(enc, images.data(), static_cast<uint32_t>(images.size()), &data, &size), JB2_OK);
    files.emplace_back(data, data + size);
    jb2_free(data);
    jb2_encoder_destroy(enc);
  }
  EXPECT_EQ(files[0], files[1]);
  EXPECT_EQ(files[0], files[2]);
  jb2_decoder* dec = nullptr;
  ASSERT_EQ(jb2_decoder_create(&dec), JB2_OK);
  ASSERT_EQ(jb2_decoder_open(dec, files[1].data(), files[1].size()), JB2_OK);
  ASSERT_EQ(jb2_decoder_page_count(dec), pages.size());
  for (uint32_t i = 0; i < pages.size(); ++i) {
    jb2_page page;
    ASSERT_EQ(jb2_decoder_decode_page(dec, i, &page), JB2_OK);
    BMP view{const_cast<unsigned char*>(page.pixels), page.width, page.height, (page.width + 7) / 8,
             static_cast<uint32_t>(page.stride), 0, 0};
    EXPECT_EQ(page.number, i + 1);
    EXPECT_TRUE(jb2test::SamePixels(&view, &pages[i])) << i;
  }
  jb2_decoder_destroy(dec);
  for (BMP& p : pages) DestroyBMP(&p);
}

}  // namespace
