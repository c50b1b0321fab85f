#include "common/messages.h"

#include <cstdio>
#include <new>

namespace {

using jb2msg::Sink;

thread_local Sink* tSink = nullptr;
thread_local bool tLocationSet = false;
thread_local uint32_t tSegment = 0;
thread_local uint32_t tPage = 0;

void Deliver(int severity, const std::string& line);

void EmitLine(int severity, const std::string& text) {
  std::string line = severity == jb2msg::kError ? "ERROR!   " : "Warning! ";
  line += text;
  if (tLocationSet) {
    line += " [segment " + std::to_string(tSegment);
    line += tPage ? ", page " + std::to_string(tPage) + "]" : "]";
  }
  Deliver(severity, line);
}

void Deliver(int severity, const std::string& line) {
  if (!tSink) {
    jb2msg::PrintToStderr(nullptr, severity, line.c_str());
    return;
  }
  if (!tSink->said.insert(line).second) return;  // once per cause
  if (severity == jb2msg::kError) ++tSink->errors;
  else ++tSink->warnings;
  if (tSink->callback) tSink->callback(tSink->user, severity, line.c_str());
}

// A message that cannot be formed for want of memory is dropped: messages
// never end a library call.
void Emit(int severity, const char* text) noexcept {
  try {
    EmitLine(severity, text);
  } catch (const std::bad_alloc&) {
  }
}

// A number a message is about: dropped when it is the segment the location
// names already; numbers are unsigned 32-bit values (segment numbers of 2^31
// and above included).
void EmitRef(int severity, const char* message, long number) noexcept {
  const uint32_t value = static_cast<uint32_t>(number);
  if (tLocationSet && value == tSegment) {
    Emit(severity, message);
    return;
  }
  try {
    EmitLine(severity, std::string(message) + " [" + std::to_string(value) + "]");
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace

void PrintError(const char* message) { Emit(jb2msg::kError, message); }
void PrintWarning(const char* message) { Emit(jb2msg::kWarning, message); }
void PrintErrorRef(const char* message, long number) { EmitRef(jb2msg::kError, message, number); }
void PrintWarningRef(const char* message, long number) { EmitRef(jb2msg::kWarning, message, number); }

namespace jb2msg {

void ForwardLine(int severity, const std::string& line) {
  try {
    Deliver(severity, line);
  } catch (const std::bad_alloc&) {
  }
}

void PrintToStderr(void*, int, const char* line) { std::fprintf(stderr, "%s\n", line); }

ScopedSink::ScopedSink(Sink* sink) : previous_(tSink) { tSink = sink; }
ScopedSink::~ScopedSink() { tSink = previous_; }

ScopedDefaultSink::ScopedDefaultSink(Sink* sink) : installed_(tSink == nullptr), previous_(tSink) {
  if (installed_) tSink = sink;
}
ScopedDefaultSink::~ScopedDefaultSink() {
  if (installed_) tSink = previous_;
}
Sink* ScopedDefaultSink::active() const { return tSink; }

ScopedLocation::ScopedLocation(uint32_t segment, uint32_t page)
    : previousSet_(tLocationSet), previousSegment_(tSegment), previousPage_(tPage) {
  tLocationSet = true;
  tSegment = segment;
  tPage = page;
}
ScopedLocation::~ScopedLocation() {
  tLocationSet = previousSet_;
  tSegment = previousSegment_;
  tPage = previousPage_;
}

}  // namespace jb2msg
