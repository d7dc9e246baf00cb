/* HRESULT-style result codes and the COM task allocator, for the class layer
 * and its callers. On Windows the platform's allocator is used; the header
 * does not pull the platform's headers into callers' code. */
#ifndef TAGKIT_SYSTEM_TLX_COM_H_
#define TAGKIT_SYSTEM_TLX_COM_H_

#include <stddef.h>
#include <stdint.h>

#include "tlx_export.h"

/* A result code is 32 bits wide on every platform: failures stay negative.
 * On Windows it is the platform's own type (long is 32 bits there), so that
 * callers may include the system headers and this one in either order. */
#if defined(_WIN32)
typedef long HRESULT;
#else
typedef int32_t HRESULT;
#endif

#define TLX_HRESULT(value) ((HRESULT)(uint32_t)(value))
#ifndef S_OK
#define S_OK TLX_HRESULT(0x00000000u)
#endif
#ifndef S_FALSE
#define S_FALSE TLX_HRESULT(0x00000001u)
#endif
#ifndef E_POINTER
#define E_POINTER TLX_HRESULT(0x80004003u)
#endif
#ifndef E_FAIL
#define E_FAIL TLX_HRESULT(0x80004005u)
#endif
#ifndef E_UNEXPECTED
#define E_UNEXPECTED TLX_HRESULT(0x8000FFFFu)
#endif
#ifndef E_OUTOFMEMORY
#define E_OUTOFMEMORY TLX_HRESULT(0x8007000Eu)
#endif
#ifndef E_INVALIDARG
#define E_INVALIDARG TLX_HRESULT(0x80070057u)
#endif
#ifndef SUCCEEDED
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#endif
#ifndef FAILED
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#endif

#ifdef __cplusplus
extern "C" {
#endif
/* Buffers that the library hands out are freed by the caller with
 * CoTaskMemFree. */
#if defined(_WIN32)
/* The COM task allocator of ole32.dll, declared as the platform declares it
 * (SIZE_T is unsigned long on 32-bit Windows). */
#if defined(_WIN64)
typedef unsigned long long tlx_com_size_t;
#else
typedef unsigned long tlx_com_size_t;
#endif
__declspec(dllimport) void* __stdcall CoTaskMemAlloc(tlx_com_size_t size);
__declspec(dllimport) void __stdcall CoTaskMemFree(void* block);
#else
/* The library's own allocator with the same contract. */
TLX_API void* CoTaskMemAlloc(size_t size);
TLX_API void CoTaskMemFree(void* block);
#endif
#ifdef __cplusplus
}
#endif

#endif /* TAGKIT_SYSTEM_TLX_COM_H_ */
