// The decoder library's exported interface: parse a whole JBIG2 file held in
// memory, decode its global segments, then each page into a bitmap.
#pragma once

#include "common/bitmap.h"
#include "common/export.h"

JB2_EXTERN_C_BEGIN

typedef struct JB2FILE JB2FILE;
typedef struct JB2PAGE JB2PAGE;

JB2_EXPORT int JB2ParseFile(JB2FILE* file) JB2_NOEXCEPT;
JB2_EXPORT void JB2FreeFile(JB2FILE* file) JB2_NOEXCEPT;
JB2_EXPORT int UntranscodeGlobal(JB2FILE* file) JB2_NOEXCEPT;
JB2_EXPORT int UntranscodePage(JB2PAGE* page) JB2_NOEXCEPT;

JB2_EXTERN_C_END
