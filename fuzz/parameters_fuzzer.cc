// Fuzz target for the encoder's parameter language alone. The input is split
// at newlines into section words (as the shell would hand them to transc);
// every word is parsed, every stored keyword is looked up again, and the
// records are freed.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/messages.h"
#include "encoder/transclib.h"

namespace {
// More words than any command line would carry gain nothing but time.
constexpr size_t kMaxWords = 64;
// The keywords the coders ask for, so that lookups also hit stored names.
const char* const kNames[] = {"sequential", "stripe", "template", "atx1", "mmr", "huff", "match", "residue", ""};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> text(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\n') {
      if (text.size() == kMaxWords) break;
      text.emplace_back();
    } else {
      text.back().push_back(static_cast<char>(data[i]));  // a NUL ends the word early, as in argv
    }
  }
  std::vector<char*> words;
  for (std::string& w : text) words.push_back(w.data());

  const long n = static_cast<long>(words.size());
  PARAMETER* records = static_cast<PARAMETER*>(std::calloc(words.size(), sizeof(PARAMETER)));
  ParameterAnalysis(n, words.data(), records);
  for (long i = 0; i < n; ++i) {
    PARAMETER* r = &records[i];
    JB2_DCHECK(r->lPage == 1);
    JB2_DCHECK(r->lType >= 0 && r->lType <= 2);
    for (uint32_t k = 0; k < r->nKeys; ++k) {
      const char* name = r->ppszKeys[k];
      JB2_DCHECK(name != nullptr && name[0] != '\0');
      for (const char* c = name; *c; ++c) JB2_DCHECK(!std::isupper(static_cast<unsigned char>(*c)));
      // The first keyword of a name is the one every lookup finds.
      uint32_t first = 0;
      while (std::string(r->ppszKeys[first]) != name) ++first;
      JB2_DCHECK(GetParameterValue(name, r, -7) == r->plValues[first]);
    }
    for (const char* name : kNames) (void)GetParameterValue(name, r, 0);
  }
  // The review reports into a sink that checks each line, and leaves values
  // that a second review keeps as they are.
  if (n > 0) {
    [[maybe_unused]] const int first = CheckParameters(n, words.data(), records, n, [](void*, int, [[maybe_unused]] const char* text) {
      JB2_DCHECK(text != nullptr && std::strchr(text, '\n') == nullptr);
    }, nullptr);
    JB2_DCHECK(CheckParameters(n, words.data(), records, n, nullptr, nullptr) == first);
  }
  FreeParameters(n, records);
  std::free(records);
  return 0;
}
