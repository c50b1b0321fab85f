// Temporary output files (NAME.part) that an interrupted run removes on its
// way out: on SIGINT, SIGTERM or SIGHUP the files still registered are
// unlinked, then the signal takes its default course (the program ends as
// killed by it). Renamed files are unregistered first, so a final name is
// never touched.
#pragma once

#include <string>

namespace jb2tool {

// Installs the handler; the programs call it once at the start.
void RemoveTemporariesOnInterrupt();

// A temporary file's name, registered while the object lives (register it
// before the file is created; unlinking a name that is not there is
// harmless).
class TemporaryName {
 public:
  explicit TemporaryName(const std::string& path);
  ~TemporaryName();
  TemporaryName(const TemporaryName&) = delete;
  TemporaryName& operator=(const TemporaryName&) = delete;

 private:
  struct Entry* entry_;
};

}  // namespace jb2tool
