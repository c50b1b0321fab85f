// Documents a page at a time: the bytes handed out as pages finish are the
// whole-document functions' bytes in all three outputs, on any number of
// threads; a failure midway ends the document and says so.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "include/jbig2codec/jb2_encode.h"
#include "tests/page_maker.h"
#include "tests/test_util.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Small pages of text in one font (so that a text document shares symbols).
class DocumentStream : public testing::Test {
 protected:
  void SetUp() override {
    pages_.resize(4);
    for (size_t p = 0; p < pages_.size(); ++p) {
      CreateBMP(&pages_[p], 500, 200 + 30 * static_cast<uint32_t>(p), 0);
      jb2test::DrawTextLines(&pages_[p], 8, pages_[p].lHeight - 8, 12, 40 + static_cast<uint32_t>(p), 5);
      images_.push_back({pages_[p].pData, pages_[p].lWidth, pages_[p].lHeight, pages_[p].lStride, 11811, 11811});
    }
  }
  void TearDown() override {
    for (BMP& p : pages_) DestroyBMP(&p);
  }

  jb2_encoder* Encoder(const char* word, unsigned threads) {
    jb2_encoder* enc = nullptr;
    EXPECT_EQ(jb2_encoder_create(&enc), JB2_OK);
    jb2_encoder_set_threads(enc, threads);
    EXPECT_EQ(jb2_encoder_set_sections(enc, 1, &word), JB2_OK);
    return enc;
  }

  std::vector<BMP> pages_;
  std::vector<jb2_image> images_;
};

// Each stream's bytes as they came; `refuseAfter` calls, the sink stops.
struct Streams {
  std::map<uint32_t, Bytes> bytes;
  std::vector<uint32_t> order;  // the stream of each call
  int refuseAfter = -1;
};

int Take(void* user, uint32_t stream, const unsigned char* data, size_t size) {
  auto* s = static_cast<Streams*>(user);
  if (s->refuseAfter == 0) return 1;
  --s->refuseAfter;
  s->order.push_back(stream);
  s->bytes[stream].insert(s->bytes[stream].end(), data, data + size);
  return 0;
}

TEST_F(DocumentStream, PagesHandedOutEqualTheWholeDocumentInEachOutputOnAnyThreads) {
  for (const char* word : {"sr", "gr", "gr:sequential", "ht"}) {
    SCOPED_TRACE(word);
    jb2_encoder* whole = Encoder(word, 1);
    unsigned char* data = nullptr;
    size_t size = 0;
    ASSERT_EQ(jb2_encode_document(whole, images_.data(), 4, &data, &size), JB2_OK);
    const Bytes file(data, data + size);
    jb2_free(data);
    ASSERT_EQ(jb2_encode_pdf(whole, images_.data(), 4, &data, &size), JB2_OK);
    const Bytes pdf(data, data + size);
    jb2_free(data);
    jb2_buffer globals{};
    jb2_buffer* split = nullptr;
    uint32_t count = 0;
    ASSERT_EQ(jb2_split_embedded(file.data(), file.size(), &globals, &split, &count), JB2_OK);
    std::map<uint32_t, Bytes> embedded;
    if (globals.size) embedded[0] = Bytes(globals.data, globals.data + globals.size);
    for (uint32_t i = 0; i < count; ++i) embedded[i + 1] = Bytes(split[i].data, split[i].data + split[i].size);
    for (uint32_t i = 0; i < count; ++i) jb2_free(split[i].data);
    jb2_free(split);
    jb2_free(globals.data);
    jb2_encoder_destroy(whole);

    for (unsigned threads : {1u, 3u}) {
      SCOPED_TRACE(threads);
      jb2_encoder* enc = Encoder(word, threads);
      for (jb2_output_kind kind : {JB2_OUTPUT_FILE, JB2_OUTPUT_PDF, JB2_OUTPUT_EMBEDDED}) {
        Streams out;
        jb2_document* doc = nullptr;
        ASSERT_EQ(jb2_document_begin(enc, 4, kind, Take, &out, &doc), JB2_OK);
        for (const jb2_image& image : images_) ASSERT_EQ(jb2_document_add_page(doc, &image), JB2_OK);
        ASSERT_EQ(jb2_document_finish(doc), JB2_OK);
        if (kind == JB2_OUTPUT_EMBEDDED) {
          EXPECT_EQ(out.bytes, embedded);
          EXPECT_TRUE(std::is_sorted(out.order.begin(), out.order.end()));
        } else {
          EXPECT_EQ(out.bytes[0], kind == JB2_OUTPUT_FILE ? file : pdf);
        }
      }
      jb2_encoder_destroy(enc);
    }
  }
}

// Groups of two pages, each with its dictionary: the pages scanned all
// first, a group at a time, or not at all give the same bytes on any
// threads, and the embedded output gives each group's globals before its
// first page. A page scanned once its group's pages are being added is
// refused.
TEST_F(DocumentStream, GroupsGiveTheSameBytesHoweverTheirPagesAreScanned) {
  enum Scan { kAllFirst, kEachGroup, kNone };
  for (jb2_output_kind kind : {JB2_OUTPUT_FILE, JB2_OUTPUT_PDF, JB2_OUTPUT_EMBEDDED}) {
    SCOPED_TRACE(kind);
    Streams first;
    for (unsigned threads : {1u, 3u}) {
      jb2_encoder* enc = Encoder("sr", threads);
      jb2_encoder_set_dict_pages(enc, 2);
      for (Scan scan : {kAllFirst, kEachGroup, kNone}) {
        SCOPED_TRACE(threads * 10 + scan);
        Streams out;
        jb2_document* doc = nullptr;
        ASSERT_EQ(jb2_document_begin(enc, 4, kind, Take, &out, &doc), JB2_OK);
        ASSERT_EQ(jb2_document_dict_pages(doc), 2u);
        for (size_t i = 0; scan == kAllFirst && i < 4; ++i) ASSERT_EQ(jb2_document_scan_page(doc, &images_[i]), JB2_OK);
        for (size_t i = 0; i < 4; ++i) {
          if (scan == kEachGroup && i % 2 == 0) {
            ASSERT_EQ(jb2_document_scan_page(doc, &images_[i]), JB2_OK);
            ASSERT_EQ(jb2_document_scan_page(doc, &images_[i + 1]), JB2_OK);
          }
          ASSERT_EQ(jb2_document_add_page(doc, &images_[i]), JB2_OK);
        }
        ASSERT_EQ(jb2_document_finish(doc), JB2_OK);
        if (first.bytes.empty()) first = out;
        EXPECT_EQ(out.bytes, first.bytes);
        EXPECT_EQ(out.order, first.order);
      }
      jb2_encoder_destroy(enc);
    }
    if (kind == JB2_OUTPUT_EMBEDDED) {
      const std::vector<uint32_t> streams(first.order.begin(), std::unique(first.order.begin(), first.order.end()));
      EXPECT_EQ(streams, (std::vector<uint32_t>{0, 1, 2, 0, 3, 4}));
    }
  }

  jb2_encoder* enc = Encoder("sr", 1);
  jb2_encoder_set_dict_pages(enc, 2);
  Streams out;
  jb2_document* doc = nullptr;
  ASSERT_EQ(jb2_document_begin(enc, 4, JB2_OUTPUT_FILE, Take, &out, &doc), JB2_OK);
  ASSERT_EQ(jb2_document_add_page(doc, &images_[0]), JB2_OK);
  ASSERT_EQ(jb2_document_scan_page(doc, &images_[1]), JB2_ERROR_ARGUMENT);
  jb2_document_cancel(doc);
  jb2_encoder_destroy(enc);
}

TEST_F(DocumentStream, AFailureMidwayEndsTheDocument) {
  jb2_encoder* enc = Encoder("gr:sequential", 2);
  // The output stops after the first page's bytes: the document stops.
  Streams out;
  out.refuseAfter = 1;
  jb2_document* doc = nullptr;
  ASSERT_EQ(jb2_document_begin(enc, 4, JB2_OUTPUT_FILE, Take, &out, &doc), JB2_OK);
  jb2_status s = JB2_OK;
  for (size_t i = 0; i < images_.size() && s == JB2_OK; ++i) s = jb2_document_add_page(doc, &images_[i]);
  if (s == JB2_OK) s = jb2_document_finish(doc);
  else jb2_document_cancel(doc);
  EXPECT_EQ(s, JB2_ERROR_OUTPUT);

  // Fewer pages than begun with, or more: refused, not a short document.
  Streams short_;
  ASSERT_EQ(jb2_document_begin(enc, 3, JB2_OUTPUT_PDF, Take, &short_, &doc), JB2_OK);
  ASSERT_EQ(jb2_document_add_page(doc, &images_[0]), JB2_OK);
  EXPECT_EQ(jb2_document_finish(doc), JB2_ERROR_ARGUMENT);
  ASSERT_EQ(jb2_document_begin(enc, 1, JB2_OUTPUT_FILE, Take, &short_, &doc), JB2_OK);
  ASSERT_EQ(jb2_document_add_page(doc, &images_[0]), JB2_OK);
  EXPECT_EQ(jb2_document_add_page(doc, &images_[1]), JB2_ERROR_ARGUMENT);
  jb2_document_cancel(doc);
  EXPECT_EQ(jb2_document_begin(enc, 0, JB2_OUTPUT_FILE, Take, &short_, &doc), JB2_ERROR_ARGUMENT);
  jb2_encoder_destroy(enc);
}

// transc codes a document a page at a time: a page that cannot be read
// after others were coded leaves no output file, neither whole nor in part.
TEST_F(DocumentStream, TranscLeavesNoOutputWhenAPageFailsMidway) {
  const std::string dir = jb2test::MakeTempDir();
  SaveBMP((dir + "/p1.bmp").c_str(), &pages_[0]);
  SaveBMP((dir + "/p3.bmp").c_str(), &pages_[2]);
  jb2test::WriteFileBytes(dir + "/p2.png", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H'});
  for (const char* output : {"", "--pdf", "--embedded"}) {
    SCOPED_TRACE(output);
    const auto r = jb2test::RunCommand(
        "'" + std::string(JB2_TRANSC_PATH) + "' -q --threads 1 " + output + " -o doc p1.bmp p2.png p3.bmp gr:sequential", dir);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("Could not load file p2.png"), std::string::npos) << r.err;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
      EXPECT_EQ(entry.path().filename().string().rfind("doc", 0), std::string::npos) << entry.path();
  }
}

}  // namespace
