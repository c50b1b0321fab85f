// Placeholder until the parameter language lands.
#include "encoder/transclib.h"

void ParameterAnalysis(long nWords, char** words, PARAMETER* records) noexcept {
  (void)nWords; (void)words; (void)records;
}
int32_t GetParameterValue(const char* name, PARAMETER* record, int32_t defaultValue) noexcept {
  (void)name; (void)record;
  return defaultValue;
}
void FreeParameters(long nRecords, PARAMETER* records) noexcept { (void)nRecords; (void)records; }
