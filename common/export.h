// Export control for the two shared libraries. Everything is built with
// -fvisibility=hidden; the exported API is marked JB2_EXPORT and each
// library's version script narrows it to that library's own list.
#pragma once

#define JB2_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
#define JB2_EXTERN_C_BEGIN extern "C" {
#define JB2_EXTERN_C_END }
#define JB2_NOEXCEPT noexcept
#else
#define JB2_EXTERN_C_BEGIN
#define JB2_EXTERN_C_END
#define JB2_NOEXCEPT
#endif
