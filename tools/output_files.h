// The files transc writes for a document, filled as its pages finish: each
// under a temporary name beside its final one (NAME.part), renamed only
// when the whole document has been written, removed when it fails. An
// interrupted run leaves no half-written file under a final name. BASE "-"
// is standard output: the bytes are held until the whole document is
// written, so a run that fails writes nothing there.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "include/jbig2codec/jb2_encode.h"
#include "tools/file_names.h"
#include "tools/interrupt_cleanup.h"

namespace jb2tool {

class OutputFiles {
 public:
  // BASE.jb2, BASE.pdf, or BASE.jb2g (stream 0 before the first page;
  // BASE_N.jb2g before page N, for a later group's globals) and BASE_N.jb2e
  // (stream N).
  OutputFiles(jb2_output_kind kind, std::string base) : kind_(kind), base_(std::move(base)) {}
  ~OutputFiles() { Abandon(); }
  OutputFiles(const OutputFiles&) = delete;
  OutputFiles& operator=(const OutputFiles&) = delete;

  // The document's output callback: `user` is an OutputFiles.
  static int Take(void* user, uint32_t stream, const unsigned char* data, size_t size) {
    return static_cast<OutputFiles*>(user)->Write(stream, data, size) ? 0 : 1;
  }

  // Gives every file its final name; false (with the files removed and the
  // reason said) when one could not be written.
  bool Commit() {
    if (base_ == "-") return WriteStandardOutput(held_.data(), held_.size());
    bool ok = Close();
    for (size_t i = 0; ok && i < names_.size(); ++i)
      if (std::rename((names_[i] + ".part").c_str(), names_[i].c_str()) != 0) ok = Failed(names_[i], errno);
    if (!ok) Abandon();
    names_.clear();
    temporaries_.clear();
    return ok;
  }

  // Removes the temporary files.
  void Abandon() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    for (const std::string& name : names_) std::remove((name + ".part").c_str());
    names_.clear();
    temporaries_.clear();
  }

 private:
  std::string Name(uint32_t stream) const {
    if (kind_ == JB2_OUTPUT_FILE) return base_ + ".jb2";
    if (kind_ == JB2_OUTPUT_PDF) return base_ + ".pdf";
    if (stream != 0) return base_ + "_" + std::to_string(stream) + ".jb2e";
    return pagesSeen_ == 0 ? base_ + ".jb2g" : base_ + "_" + std::to_string(pagesSeen_ + 1) + ".jb2g";
  }

  bool Failed(const std::string& name, int reason) {
    std::fprintf(stderr, "ERROR!   Cannot Write Output File %s (%s)\n", name.c_str(), std::strerror(reason ? reason : EIO));
    return false;
  }

  // Closes the file being written; false when its bytes did not all reach it.
  bool Close() {
    if (!file_) return true;
    errno = 0;
    const bool flushed = std::fflush(file_) == 0;
    const int reason = errno;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return flushed && closed ? true : Failed(names_.back(), flushed ? errno : reason);
  }

  bool Write(uint32_t stream, const unsigned char* data, size_t size) {
    if (base_ == "-") {
      try {
        held_.insert(held_.end(), data, data + size);
      } catch (const std::exception&) {
        std::fprintf(stderr, "ERROR!   Cannot Write to Standard Output (%s)\n", std::strerror(ENOMEM));
        return false;
      }
      return true;
    }
    if (!file_ || stream != stream_) {
      if (!Close()) return false;
      const std::string name = Name(stream);
      temporaries_.push_back(std::make_unique<TemporaryName>(name + ".part"));
      errno = 0;
      file_ = std::fopen((name + ".part").c_str(), "wb");
      if (!file_) {
        std::fprintf(stderr, "ERROR!   Cannot Create Output File %s (%s)\n", name.c_str(), std::strerror(errno));
        return false;
      }
      names_.push_back(name);
      stream_ = stream;
      pagesSeen_ = std::max(pagesSeen_, stream);
    }
    errno = 0;
    return size == 0 || std::fwrite(data, 1, size, file_) == size ? true : Failed(names_.back(), errno);
  }

  jb2_output_kind kind_;
  std::string base_;
  std::vector<std::string> names_;  // final names of the files begun, in order
  std::vector<std::unique_ptr<TemporaryName>> temporaries_;  // removed if the run is interrupted
  std::FILE* file_ = nullptr;       // the one being written
  std::vector<unsigned char> held_;  // standard output's bytes, until Commit
  uint32_t stream_ = 0;
  uint32_t pagesSeen_ = 0;  // the last page stream begun
};

}  // namespace jb2tool
