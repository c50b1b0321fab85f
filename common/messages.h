// The system's two message forms on standard error. Every error and warning
// text goes through these so that the layout ("ERROR!" plus three blanks,
// "Warning!" plus one) is the same everywhere.
#pragma once

void PrintError(const char* message);                  // "ERROR!   %s\n"
void PrintWarning(const char* message);                // "Warning! %s\n"
void PrintErrorRef(const char* message, long number);  // "ERROR!   %s [%d]\n"
void PrintWarningRef(const char* message, long number);  // "Warning! %s [%d]\n"

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
