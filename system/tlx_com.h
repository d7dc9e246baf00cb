/** @file
 * HRESULT-style result codes and the COM task allocator, for the class layer
 * and its callers. On Windows the platform supplies them. */
#ifndef TAGKIT_SYSTEM_TLX_COM_H_
#define TAGKIT_SYSTEM_TLX_COM_H_

#include <stddef.h>
#include <stdint.h>

#include "tlx_export.h"

#if defined(_WIN32)
#include <objbase.h>
#else
/** A result code is 32 bits wide on every platform: failures stay negative. */
typedef int32_t HRESULT;

/** Makes an HRESULT from its unsigned 32-bit pattern. */
#define TLX_HRESULT(value) ((HRESULT)(uint32_t)(value))
/** Success. */
#define S_OK TLX_HRESULT(0x00000000u)
/** Success, with a reservation the operation documents. */
#define S_FALSE TLX_HRESULT(0x00000001u)
/** A required pointer is null. */
#define E_POINTER TLX_HRESULT(0x80004003u)
/** The operation failed. */
#define E_FAIL TLX_HRESULT(0x80004005u)
/** The object is not in a state that allows the call. */
#define E_UNEXPECTED TLX_HRESULT(0x8000FFFFu)
/** An allocation failed. */
#define E_OUTOFMEMORY TLX_HRESULT(0x8007000Eu)
/** An argument is out of range. */
#define E_INVALIDARG TLX_HRESULT(0x80070057u)
/** True for S_OK, S_FALSE and every other non-negative code. */
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
/** True for a failure code (negative). */
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#ifdef __cplusplus
extern "C" {
#endif
/** Buffers that the library hands out are freed by the caller with
 * CoTaskMemFree. Allocates @p size bytes; null on failure. */
TLX_API void* CoTaskMemAlloc(size_t size);
/** Frees a block from CoTaskMemAlloc; null is ignored. */
TLX_API void CoTaskMemFree(void* block);
#ifdef __cplusplus
}
#endif
#endif /* _WIN32 */

#endif /* TAGKIT_SYSTEM_TLX_COM_H_ */
