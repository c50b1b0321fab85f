// Where a document's bytes go while its pages are coded: out as each page is
// filed, in page order, so that no more than the coded bytes still needed
// stay in memory. A standalone file in the sequential organisation and the
// PDF and embedded streams are written page by page; the random-access
// organisation puts every segment header before any data (T.88 D.2), so its
// data wait in a temporary file until the last page.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "common/bit_writer.h"
#include "encoder/pdf_writer.h"

enum class OutputKind { kFile, kPdf, kEmbedded };

// Takes bytes in order: stream 0 is the file or the PDF; embedded, stream 0
// is the globals of the pages that follow (given only when there are any:
// before the first page, and before the first page of each later group
// with a dictionary of its own) and stream n page n's, each in one call.
// False stops the document.
using ByteSink = std::function<bool(uint32_t stream, const unsigned char* data, size_t size)>;

class DocumentOutput {
 public:
  // The pages come in groups of `group` pages (the last may have fewer),
  // each with its own globals, given with the group's first page.
  DocumentOutput(OutputKind kind, int sequential, uint32_t pages, uint32_t group, ByteSink sink);
  ~DocumentOutput();
  DocumentOutput(const DocumentOutput&) = delete;
  DocumentOutput& operator=(const DocumentOutput&) = delete;

  // Hands out the segments `enc` filed since the last call (the first call:
  // the ones before the first page too), which end with a whole page, and
  // frees their blocks. False when the sink refused, memory ran out or
  // the temporary file failed (sinkFailed() tells which).
  [[nodiscard]] bool Flush(ENCODER* enc);
  // After the end-of-file segment: the rest of the output.
  [[nodiscard]] bool Finish(ENCODER* enc);
  bool sinkFailed() const { return sinkFailed_; }

 private:
  bool Give(uint32_t stream, const std::string& bytes);
  bool FlushFile(ENCODER* enc);
  bool FlushSplit(ENCODER* enc);
  bool FinishOutput(ENCODER* enc);

  OutputKind kind_;
  int sequential_;
  uint32_t pages_;
  uint32_t group_;
  ByteSink sink_;
  uint32_t flushed_ = 0;     // segments handed out (or spilled) so far
  uint32_t pagesOut_ = 0;    // pages handed out so far
  std::FILE* spill_ = nullptr;  // random access: the data of the segments so far
  bool inMemory_ = false;       // random access without a temporary file: the data stay filed
  bool sinkFailed_ = false;
  jb2pdf::PdfStream pdf_;
};
