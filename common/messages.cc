#include "common/messages.h"

#include <cstdio>

void PrintError(const char* message) { std::fprintf(stderr, "ERROR!   %s\n", message); }

void PrintWarning(const char* message) { std::fprintf(stderr, "Warning! %s\n", message); }

void PrintErrorRef(const char* message, long number) {
  std::fprintf(stderr, "ERROR!   %s [%d]\n", message, static_cast<int>(number));
}

void PrintWarningRef(const char* message, long number) {
  std::fprintf(stderr, "Warning! %s [%d]\n", message, static_cast<int>(number));
}
