// What kind of failure the calling thread's last file operation had: the
// engine tells a file that cannot be read from one that ends early.
#include <new>

#include "tlx_internal.h"
#include "tlx_system.h"

namespace {

thread_local int32_t g_last_failure = TLX_FAILURE_NONE;

}  // namespace

namespace tlx_internal {

int32_t NoteFailure(int32_t kind, int32_t result) {
  g_last_failure = kind;
  return result;
}

int32_t CaughtFailure(int32_t result) {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    g_last_failure = TLX_FAILURE_NOMEM;
  } catch (...) {
    g_last_failure = TLX_FAILURE_INVALID;
  }
  return result;
}

}  // namespace tlx_internal

extern "C" {

int32_t tlx_last_failure(void) { return g_last_failure; }

}  // extern "C"
