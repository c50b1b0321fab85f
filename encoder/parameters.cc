// The encoder's parameter language: one word per page section, made of
// tokens joined by separators. A token is a type word ("gr", "sr", "ht"),
// co-ordinates "(x0,y0,x1,y1)", a keyword with a value ("template=2") or a
// bare keyword (a switch, value 1). Names are case-insensitive.
#include "encoder/parameters.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/limits.h"
#include "common/messages.h"
#include "encoder/transclib.h"

namespace {

const char* const TYPEIDS[3] = {"gr", "sr", "ht"};  // region types 0, 1, 2

char* CopyString(const char* s) {
  size_t n = std::strlen(s) + 1;
  char* copy = static_cast<char*>(std::malloc(n));
  if (!copy) throw std::bad_alloc();
  std::memcpy(copy, s, n);
  return copy;
}

void AppendKey(PARAMETER* record, const char* name, int32_t value) {
  record->ppszKeys[record->nKeys] = CopyString(name);
  record->plValues[record->nKeys] = value;
  ++record->nKeys;
}

// Reads up to four integers of "(x0,y0,x1,y1)" into the section rectangle;
// fields without a number keep their zero.
void ReadCoordinates(char* text, PARAMETER* record) {
  int32_t* fields[4] = {&record->lX0, &record->lY0, &record->lX1, &record->lY1};
  int n = 0;
  for (char* p = text; *p && n < 4;) {
    p += std::strspn(p, kCoordinateDelimiters);
    if (!*p) break;
    size_t len = std::strcspn(p, kCoordinateDelimiters);
    char saved = p[len];
    p[len] = '\0';
    *fields[n++] = ReadInteger(p);
    p[len] = saved;
    p += len;
  }
}

// An optional sign and decimal digits, nothing else.
bool IsInteger(const char* text) {
  if (*text == '+' || *text == '-') ++text;
  if (!*text) return false;
  for (; *text; ++text)
    if (!std::isdigit(static_cast<unsigned char>(*text))) return false;
  return true;
}

void ParseWord(const char* word, bool last, PARAMETER* record) {
  record->lPage = 1;
  // Each separator can end at most one token, so count + 1 slots suffice.
  size_t slots = 1;
  for (const char* p = word; *p; ++p) slots += std::strchr(kSeparators, *p) != nullptr;
  record->ppszKeys = static_cast<char**>(std::calloc(slots, sizeof(char*)));
  record->plValues = static_cast<int32_t*>(std::calloc(slots, sizeof(int32_t)));
  record->nKeys = 0;
  if (!record->ppszKeys || !record->plValues) throw std::bad_alloc();

  char coordinates[kMaxParameterToken + 1];
  bool haveCoordinates = false;
  ForEachToken(word, [&](char* token, size_t len) {
    if (len > kMaxParameterToken) {
      PrintError("Input Parameter; Bad Syntax (>1024 characters)");
      return;  // skipped: it does not fit the token buffer
    }
    if (int type = StringLookup(TYPEIDS, 3, token)) {
      record->lType = type - 1;
    } else if (token[0] == '(') {
      std::memcpy(coordinates, token, len + 1);
      haveCoordinates = true;
    } else if (char* eq = std::strchr(token, '=')) {
      if (eq == token || token[len - 1] == '=') {
        PrintError("Input Parameter; Bad Syntax with equal sign");
        return;
      }
      // A value that is not an integer keeps its whole token as the name,
      // which no keyword has: the review refuses it by that.
      if (!IsInteger(eq + 1)) {
        AppendKey(record, token, 0);
        return;
      }
      *eq = '\0';
      AppendKey(record, token, ReadInteger(eq + 1));
    } else {
      AppendKey(record, token, 1);
    }
  });

  if (haveCoordinates) {
    ReadCoordinates(coordinates, record);
    if (last) PrintWarning("Input Parameters: Last Section Should Have No Co-Ordinates");
  } else if (!last) {
    PrintWarning("Input Parameters: Only Last Section Should Have No Co-Ordinates");
  }
}

}  // namespace

int32_t ReadInteger(const char* text) {
  long v = std::strtol(text, nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

void ForEachToken(const char* word, const std::function<void(char* token, size_t length)>& visit) {
  char token[kMaxParameterToken + 1];
  for (const char* p = word; *p;) {
    p += std::strspn(p, kSeparators);
    if (!*p) break;
    const size_t len = std::strcspn(p, kSeparators);
    const char* start = p;
    p += len;
    if (len > kMaxParameterToken) {
      token[0] = '\0';
      visit(token, len);
      continue;
    }
    for (size_t i = 0; i < len; ++i) token[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(start[i])));
    token[len] = '\0';
    visit(token, len);
  }
}

int StringLookup(const char* const* table, long count, const char* key) {
  if (!table || !key) return 0;
  for (long i = 0; i < count; ++i)
    if (table[i] && std::strcmp(table[i], key) == 0) return static_cast<int>(i + 1);
  return 0;
}

bool ParseSections(long nWords, char** words, PARAMETER* records) noexcept {
  if (nWords <= 0 || !words || !records) return true;
  try {
    for (long i = 0; i < nWords; ++i) ParseWord(words[i] ? words[i] : "", i == nWords - 1, &records[i]);
  } catch (const std::bad_alloc&) {
    PrintError("Out of Memory");
    return false;  // the records hold what was parsed, and can be freed
  }
  return true;
}

void ParameterAnalysis(long nWords, char** words, PARAMETER* records) noexcept {
  (void)ParseSections(nWords, words, records);
}

int32_t GetParameterValue(const char* name, PARAMETER* record, int32_t defaultValue) noexcept {
  if (!record) return defaultValue;
  int index = StringLookup(record->ppszKeys, record->nKeys, name);
  return index ? record->plValues[index - 1] : defaultValue;
}

void FreeParameters(long nRecords, PARAMETER* records) noexcept {
  if (!records) return;
  for (long i = 0; i < nRecords; ++i) {
    PARAMETER* r = &records[i];
    if (r->ppszKeys)
      for (uint32_t k = 0; k < r->nKeys; ++k) std::free(r->ppszKeys[k]);
    std::free(r->ppszKeys);
    std::free(r->plValues);
    r->ppszKeys = nullptr;
    r->plValues = nullptr;
    r->nKeys = 0;
  }
}
