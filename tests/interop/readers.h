// The JBIG2 readers our files are judged by: untransc, jbig2dec (Ghostscript,
// MuPDF), poppler (pdfimages) and pdf.js (PDFium's decoder), each run as a
// black box over a batch of files.
#pragma once

#include <string>
#include <vector>

#include "common/bitmap.h"

namespace jb2test {

enum class Reader { kUntransc, kJbig2dec, kPoppler, kPdfjs };
inline constexpr Reader kReaders[] = {Reader::kUntransc, Reader::kJbig2dec, Reader::kPoppler, Reader::kPdfjs};
inline constexpr int kNumReaders = 4;

const char* ReaderName(Reader reader);

// Empty when the reader can run here, else what is missing.
std::string ReaderMissing(Reader reader);

// What a reader made of one file: the page it showed (none when pData is
// null) and what it reported on the way.
struct Reading {
  BMP page{};
  std::string messages;
  Reading() = default;
  Reading(Reading&& other) noexcept : page(other.page), messages(std::move(other.messages)) { other.page = BMP{}; }
  Reading(const Reading&) = delete;
  Reading& operator=(const Reading&) = delete;
  ~Reading() { DestroyBMP(&page); }
};

// Reads every NAME.jb2 file (one page each) with the reader, leaving its
// output files beside them. Empty, with *error set, when the reader itself
// could not be run (not when it mis-read a file).
std::vector<Reading> ReadFiles(Reader reader, const std::vector<std::string>& jb2Files, std::string* error);

}  // namespace jb2test
