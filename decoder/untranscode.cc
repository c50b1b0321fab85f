// Placeholder entry points until the decoder lands.
#include "decoder/untransclib.h"

int JB2ParseFile(JB2FILE* file) noexcept { (void)file; return 1; }
void JB2FreeFile(JB2FILE* file) noexcept { (void)file; }
int UntranscodeGlobal(JB2FILE* file) noexcept { (void)file; return 0; }
int UntranscodePage(JB2PAGE* page) noexcept { (void)page; return 0; }
