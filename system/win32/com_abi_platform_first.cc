// tlx_com.h declares the result type and the task allocator without the
// platform's headers, so a caller may include it before or after them. This
// file checks the order "platform first"; a declaration that disagrees with the
// platform's fails to compile here.
#include "win32_api.h"

#include <objbase.h>

#include "tlx_com.h"

#include <type_traits>

static_assert(sizeof(HRESULT) == 4, "a result code is 32 bits");
static_assert(std::is_signed<HRESULT>::value, "failures are negative");
static_assert(std::is_same<decltype(CoTaskMemAlloc(1)), void*>::value, "allocator");
static_assert(S_OK == 0 && S_FALSE == 1 && E_FAIL == TLX_HRESULT(0x80004005u) &&
                  E_INVALIDARG == TLX_HRESULT(0x80070057u) &&
                  E_OUTOFMEMORY == TLX_HRESULT(0x8007000Eu) &&
                  E_POINTER == TLX_HRESULT(0x80004003u) && E_UNEXPECTED == TLX_HRESULT(0x8000FFFFu),
              "the platform's codes");
static_assert(FAILED(E_FAIL) && SUCCEEDED(S_FALSE), "sign test");
