// The fault seam: test builds count the calls of each file operation on the
// calling thread and can make one chosen call fail as the operation itself
// would fail.
#if defined(TLX_FAULT_INJECTION)

#include "tlx_internal.h"
#include "tlx_system.h"

namespace {

struct FaultState {
  uint32_t calls[TLX_FAULT_OP_COUNT] = {};
  int armed_op = -1;
  uint32_t armed_at = 0;
  int fired = 0;
};

thread_local FaultState g_fault;

}  // namespace

namespace tlx_internal {

bool FaultHit(tlx_fault_op op) {
  if (op < 0 || op >= TLX_FAULT_OP_COUNT) return false;
  uint32_t n = ++g_fault.calls[op];
  if (g_fault.armed_op != op || n != g_fault.armed_at) return false;
  g_fault.armed_op = -1;
  g_fault.fired = 1;
  NoteFailure(TLX_FAILURE_IO);
  return true;
}

}  // namespace tlx_internal

extern "C" {

void tlx_fault_reset(void) { g_fault = FaultState(); }

void tlx_fault_arm(tlx_fault_op op, uint32_t nth) {
  g_fault.fired = 0;
  if (op < 0 || op >= TLX_FAULT_OP_COUNT || nth == 0) {
    g_fault.armed_op = -1;
    return;
  }
  g_fault.armed_op = op;
  g_fault.armed_at = g_fault.calls[op] + nth;
}

uint32_t tlx_fault_calls(tlx_fault_op op) {
  return op >= 0 && op < TLX_FAULT_OP_COUNT ? g_fault.calls[op] : 0;
}

int tlx_fault_fired(void) { return g_fault.fired; }

}  // extern "C"

#endif  // TLX_FAULT_INJECTION
