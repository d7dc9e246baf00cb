// Heap blocks for the engine, and the task allocator whose blocks callers of
// the class layer release with CoTaskMemFree.
#include <stdlib.h>
#include <string.h>

#include "tlx_com.h"
#include "tlx_system.h"

extern "C" {

void* tlx_sqa_malloc(size_t size) { return malloc(size); }

void* tlx_sqa_calloc(size_t size) { return calloc(1, size == 0 ? 1 : size); }

char* tlx_sqa_strndup(const char* text, size_t length) {
  if (text == nullptr || length == SIZE_MAX) return nullptr;
  char* copy = static_cast<char*>(malloc(length + 1));
  if (copy == nullptr) return nullptr;
  if (length != 0) memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

wchar_t* tlx_sqa_wcsndup(const wchar_t* text, size_t length) {
  if (text == nullptr || length >= SIZE_MAX / sizeof(wchar_t) - 1) return nullptr;
  wchar_t* copy = static_cast<wchar_t*>(malloc((length + 1) * sizeof(wchar_t)));
  if (copy == nullptr) return nullptr;
  if (length != 0) memcpy(copy, text, length * sizeof(wchar_t));
  copy[length] = L'\0';
  return copy;
}

void tlx_sqa_free(void* block) { free(block); }

#if !defined(_WIN32)
// A zero-byte request still yields a distinct block, as the platform
// allocator does.
void* CoTaskMemAlloc(size_t size) { return malloc(size == 0 ? 1 : size); }
void CoTaskMemFree(void* block) { free(block); }
#endif

}  // extern "C"
