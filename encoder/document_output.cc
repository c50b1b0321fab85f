#include "encoder/document_output.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "common/segment_header.h"
#include "encoder/embedded_streams.h"
#include "encoder/segment_writer.h"

DocumentOutput::DocumentOutput(OutputKind kind, int sequential, uint32_t pages, uint32_t group, ByteSink sink)
    : kind_(kind), sequential_(sequential), pages_(pages), group_(group ? group : pages), sink_(std::move(sink)) {}

DocumentOutput::~DocumentOutput() {
  if (spill_) std::fclose(spill_);
}

bool DocumentOutput::Give(uint32_t stream, const std::string& bytes) {
  if (sink_(stream, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size())) return true;
  sinkFailed_ = true;
  return false;
}

namespace {

// Frees the blocks of the filed segments [from, to); their entries stay,
// so that later segments keep their numbers.
void ReleaseBlocks(SEGMENT_TABLES* t, uint32_t from, uint32_t to, bool headers) {
  for (uint32_t i = from; i < to; ++i) {
    std::free(t->pData[i]);
    t->pData[i] = nullptr;
    if (!headers) continue;
    std::free(t->pHeader[i]);
    t->pHeader[i] = nullptr;
  }
}

std::string Bytes(const unsigned char* p, uint32_t n) { return std::string(reinterpret_cast<const char*>(p), n); }

}  // namespace

bool DocumentOutput::FlushFile(ENCODER* enc) {
  SEGMENT_TABLES* t = SegmentTables(enc);
  const uint32_t end = t->nSegments;
  if (sequential_) {
    std::string out;
    if (flushed_ == 0) {
      unsigned char header[kFileHeaderSize];
      FileHeader(1, pages_, header);
      out = Bytes(header, kFileHeaderSize);
    }
    for (uint32_t i = flushed_; i < end; ++i) out += Bytes(t->pHeader[i], t->lSizeHeader[i]) + Bytes(t->pData[i], t->lSizeData[i]);
    ReleaseBlocks(t, flushed_, end, true);
    flushed_ = end;
    return Give(0, out);
  }
  // Random access: the headers stay (they are small) and the data go to the
  // temporary file until every header has been written.
  if (!spill_ && !inMemory_ && !(spill_ = std::tmpfile())) inMemory_ = true;  // no temporary file: they stay
  if (inMemory_) return true;
  for (uint32_t i = flushed_; i < end; ++i)
    if (t->lSizeData[i] && std::fwrite(t->pData[i], 1, t->lSizeData[i], spill_) != t->lSizeData[i]) return false;
  ReleaseBlocks(t, flushed_, end, false);
  flushed_ = end;
  return true;
}

bool DocumentOutput::FlushSplit(ENCODER* enc) {
  // The new segments as a small sequential file of their own, split as a
  // whole file would be: the page's stream, and the globals before the
  // first page of each group.
  SEGMENT_TABLES* t = SegmentTables(enc);
  const uint32_t end = t->nSegments;
  std::vector<unsigned char> file(kFileHeaderSize);
  FileHeader(1, 1, file.data());
  for (uint32_t i = flushed_; i < end; ++i) {
    file.insert(file.end(), t->pHeader[i], t->pHeader[i] + t->lSizeHeader[i]);
    file.insert(file.end(), t->pData[i], t->pData[i] + t->lSizeData[i]);
  }
  const bool first = flushed_ == 0;
  ReleaseBlocks(t, flushed_, end, true);
  flushed_ = end;
  jb2pdf::EmbeddedDocument split;
  if (!jb2pdf::SplitFile(file.data(), file.size(), &split)) return false;
  file = std::vector<unsigned char>();
  if (first && kind_ == OutputKind::kPdf && !Give(0, pdf_.Begin(pages_, split.globals, group_))) return false;
  if (kind_ == OutputKind::kEmbedded && !split.globals.empty() && !Give(0, split.globals)) return false;
  for (const jb2pdf::Page& page : split.pages) {
    // A later group's dictionary comes with its first page, the only page
    // of its flush.
    if (kind_ == OutputKind::kPdf && pagesOut_ > 0 && pagesOut_ % group_ == 0 && !Give(0, pdf_.StartGroup(split.globals)))
      return false;
    ++pagesOut_;
    if (!Give(kind_ == OutputKind::kPdf ? 0 : pagesOut_, kind_ == OutputKind::kPdf ? pdf_.AddPage(page) : page.segments))
      return false;
  }
  return true;
}

bool DocumentOutput::Flush(ENCODER* enc) {
  if (SegmentTables(enc)->bFailed) return false;
  try {
    return kind_ == OutputKind::kFile ? FlushFile(enc) : FlushSplit(enc);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool DocumentOutput::Finish(ENCODER* enc) {
  try {
    return FinishOutput(enc);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool DocumentOutput::FinishOutput(ENCODER* enc) {
  SEGMENT_TABLES* t = SegmentTables(enc);
  if (t->bFailed) return false;
  if (kind_ == OutputKind::kPdf) {
    ReleaseBlocks(t, flushed_, t->nSegments, true);  // the end of file: not in a PDF
    flushed_ = t->nSegments;
    return Give(0, pdf_.End());
  }
  if (kind_ == OutputKind::kEmbedded) return true;
  if (!FlushFile(enc)) return false;
  if (sequential_) return true;
  unsigned char header[kFileHeaderSize];
  FileHeader(0, pages_, header);
  std::string out = Bytes(header, kFileHeaderSize);
  for (uint32_t i = 0; i < t->nSegments; ++i) out += Bytes(t->pHeader[i], t->lSizeHeader[i]);
  if (inMemory_)
    for (uint32_t i = 0; i < t->nSegments; ++i) out += Bytes(t->pData[i], t->lSizeData[i]);
  ReleaseBlocks(t, 0, t->nSegments, true);
  if (!Give(0, out) || inMemory_) return !sinkFailed_;
  // Then the data, in pieces.
  if (std::fflush(spill_) != 0 || std::fseek(spill_, 0, SEEK_SET) != 0) return false;
  std::string piece(size_t{1} << 16, '\0');
  size_t got = 0;
  while ((got = std::fread(piece.data(), 1, piece.size(), spill_)) > 0)
    if (!sink_(0, reinterpret_cast<const unsigned char*>(piece.data()), got)) return sinkFailed_ = true, false;
  return std::ferror(spill_) == 0;
}
