// The system's two message forms, "ERROR!" plus three blanks and
// "Warning!" plus one. Every error and warning text of both libraries goes
// through these functions, and from here to the sink of the library call
// that is running on this thread: a host's callback (the embedding API), or
// standard error (the programs' entry points, and any call outside a sink).
//
// While a decoder works on a segment, its messages say where: the segment's
// number and page, in place of a number of their own. Within one library
// call a message is given once per cause: the same line is not repeated.
#pragma once

#include <cstdint>
#include <set>
#include <string>

void PrintError(const char* message);                    // "ERROR!   %s"
void PrintWarning(const char* message);                  // "Warning! %s"
// With a number: the segment's own number (said by the location when one is
// set), or another number the message is about, such as a symbol ID.
void PrintErrorRef(const char* message, long number);    // "ERROR!   %s [%u]"
void PrintWarningRef(const char* message, long number);  // "Warning! %s [%u]"

namespace jb2msg {

enum Severity : int { kWarning = 0, kError = 1 };

// Receives one message line, without its line end.
using Callback = void (*)(void* user, int severity, const char* line);

// Where the messages of a library call go, and what they amounted to.
struct Sink {
  Sink() = default;
  explicit Sink(Callback to, void* with = nullptr) : callback(to), user(with) {}
  Callback callback = nullptr;  // null: the messages are counted, not shown
  void* user = nullptr;
  uint64_t errors = 0;
  uint64_t warnings = 0;
  std::set<std::string> said;  // lines given so far in this call
};

// Prints a line to standard error: the sink of the programs' entry points.
void PrintToStderr(void* user, int severity, const char* line);

// Routes this thread's messages to `sink` while it lives (calls nest; the
// innermost sink is used). Without any, messages go straight to standard
// error (internal functions called on their own, as the unit tests do).
class ScopedSink {
 public:
  explicit ScopedSink(Sink* sink);
  ~ScopedSink();
  ScopedSink(const ScopedSink&) = delete;
  ScopedSink& operator=(const ScopedSink&) = delete;

 private:
  Sink* previous_;
};

// Installs `sink` unless a sink is already installed on this thread (an
// entry point called from within another keeps its caller's sink).
class ScopedDefaultSink {
 public:
  explicit ScopedDefaultSink(Sink* sink);
  ~ScopedDefaultSink();
  ScopedDefaultSink(const ScopedDefaultSink&) = delete;
  ScopedDefaultSink& operator=(const ScopedDefaultSink&) = delete;
  // The sink this call's messages went to.
  Sink* active() const;

 private:
  bool installed_;
  Sink* previous_;
};

// The messages of one entry point of the programs' interface: to its
// caller's sink when it runs inside one (the embedding API), else to standard
// error. Damaged() tells whether any of them was an error.
class CallScope {
 public:
  CallScope() : scope_(&stderrSink_), errorsBefore_(scope_.active()->errors) {}
  bool Damaged() const { return scope_.active()->errors != errorsBefore_; }
  uint64_t Errors() const { return scope_.active()->errors - errorsBefore_; }

 private:
  Sink stderrSink_{PrintToStderr};
  ScopedDefaultSink scope_;
  uint64_t errorsBefore_;
};

// Gives a line formed elsewhere (by another thread's sink) to this thread's
// sink, or to standard error, as if it were said here now.
void ForwardLine(int severity, const std::string& line);

// The segment a decoder is working on, for the messages given meanwhile.
class ScopedLocation {
 public:
  ScopedLocation(uint32_t segment, uint32_t page);
  ~ScopedLocation();
  ScopedLocation(const ScopedLocation&) = delete;
  ScopedLocation& operator=(const ScopedLocation&) = delete;

 private:
  bool previousSet_;
  uint32_t previousSegment_, previousPage_;
};

}  // namespace jb2msg

#if defined(JB2_DEBUG_CHECKS)
#include <cstdlib>
// Broken internal invariants abort in sanitizer builds so fuzzers see them.
#define JB2_DCHECK(cond) \
  do {                   \
    if (!(cond)) std::abort(); \
  } while (0)
#else
#define JB2_DCHECK(cond) \
  do {                   \
  } while (0)
#endif
