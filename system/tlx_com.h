/** @file
 * HRESULT-style result codes and the COM task allocator, for the class layer
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
/** A result code: 32-bit signed; failures are negative. */
typedef long HRESULT;
#else
/** A result code: 32-bit signed; failures are negative. */
typedef int32_t HRESULT;
#endif

/** Makes an HRESULT from its unsigned 32-bit pattern. */
#define TLX_HRESULT(value) ((HRESULT)(uint32_t)(value))
#ifndef S_OK
/** Success. */
#define S_OK TLX_HRESULT(0x00000000u)
#endif
#ifndef S_FALSE
/** Success, with a reservation the operation documents. */
#define S_FALSE TLX_HRESULT(0x00000001u)
#endif
#ifndef E_POINTER
/** A required pointer is null. */
#define E_POINTER TLX_HRESULT(0x80004003u)
#endif
#ifndef E_FAIL
/** The operation failed. */
#define E_FAIL TLX_HRESULT(0x80004005u)
#endif
#ifndef E_UNEXPECTED
/** The object is not in a state that allows the call. */
#define E_UNEXPECTED TLX_HRESULT(0x8000FFFFu)
#endif
#ifndef E_OUTOFMEMORY
/** An allocation failed. */
#define E_OUTOFMEMORY TLX_HRESULT(0x8007000Eu)
#endif
#ifndef E_INVALIDARG
/** An argument is out of range. */
#define E_INVALIDARG TLX_HRESULT(0x80070057u)
#endif
#ifndef SUCCEEDED
/** True for S_OK, S_FALSE and every other non-negative code. */
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#endif
#ifndef FAILED
/** True for a failure code (negative). */
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
/** Allocates @p size bytes for a buffer the library hands out; null on
 * failure. The caller frees the buffer with CoTaskMemFree. */
TLX_API void* CoTaskMemAlloc(size_t size);
/** Frees a block from CoTaskMemAlloc; null is ignored. */
TLX_API void CoTaskMemFree(void* block);
#endif
#ifdef __cplusplus
}
#endif

#endif /* TAGKIT_SYSTEM_TLX_COM_H_ */
