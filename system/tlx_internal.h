/* Pieces shared between the system layer's own source files. Not part of
 * the layer's interface. */
#ifndef TAGKIT_SYSTEM_TLX_INTERNAL_H_
#define TAGKIT_SYSTEM_TLX_INTERNAL_H_

#include <stdint.h>

#include <string>

#include "tlx_system.h"

namespace tlx_internal {

/* True when the fault seam makes this call of op fail. Always counts the
 * call in builds with the seam; false and free in builds without it. */
#if defined(TLX_FAULT_INJECTION)
bool FaultHit(tlx_fault_op op);
#else
inline bool FaultHit(tlx_fault_op) { return false; }
#endif

/* Records kind as the calling thread's last failure (tlx_last_failure) and
 * returns result, for `return NoteFailure(TLX_FAILURE_IO);`. */
int32_t NoteFailure(int32_t kind, int32_t result = -1);
/* For the handler of a function-try-block: records the exception being
 * handled (std::bad_alloc: TLX_FAILURE_NOMEM) and returns result, so that no
 * exception leaves the layer's C functions. */
int32_t CaughtFailure(int32_t result);
/* The two kinds, for the return statements of the file operations. */
inline int32_t IoFailure(int32_t result = -1) { return NoteFailure(TLX_FAILURE_IO, result); }
inline int32_t InvalidRequest() { return NoteFailure(TLX_FAILURE_INVALID, -1); }

/* UTF-8 for the operating system's paths. Malformed input decodes to
 * U+FFFD; characters outside Unicode encode as U+FFFD. */
std::string WideToUtf8(const wchar_t* text, size_t length);
std::wstring Utf8ToWide(const char* text, size_t length);

/* Conversions of the code pages that the platform converts (all but 1252
 * and 65001, which are built in). Open checks that a code page is
 * available. Decode never fails: undecodable bytes give U+FFFD. Encode
 * gives '?' for characters the code page lacks. */
bool PlatformCodePageAvailable(uint32_t code_page);
/* The code page of a thread that has not chosen one. */
uint32_t PlatformThreadCodePage();
std::wstring PlatformDecode(uint32_t code_page, const char* bytes, size_t length);
std::string PlatformEncode(uint32_t code_page, const wchar_t* text, size_t length);

}  // namespace tlx_internal

#endif /* TAGKIT_SYSTEM_TLX_INTERNAL_H_ */
