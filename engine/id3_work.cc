// Releasing the memory of an editing transaction: the frame list with its
// entries and their data, and the copy of the extended header.
#include <stddef.h>
#include <string.h>

#include "id3_internal.h"

void tlx_id3_free_frame_list(tlx_id3_context* ctx) {
  if (ctx == NULL || ctx->work == NULL) return;
  tlx_id3_work* work = ctx->work;
  for (tlx_list* node = tlx_list_first(work->frame_list); node != NULL; node = node->next) {
    tlx_id3_frame_entry* entry = static_cast<tlx_id3_frame_entry*>(node->data);
    if (entry != NULL) {
      tlx_sqa_free(entry->data);
      tlx_sqa_free(entry);
    }
    node->data = NULL;
  }
  if (work->frame_list != NULL) tlx_list_free(work->frame_list);
  work->frame_list = NULL;
}

int32_t tlx_id3_check_state(tlx_id3_context* ctx, int32_t state, const char* function) {
  if (ctx == NULL || ctx->work == NULL) {
    tlx_trace_error("in %s() parameter is invalid.", function);
    return TLX_ID3_E_PARAM;
  }
  if (ctx->state != state) {
    tlx_trace_error("in %s() transaction is invalid.", function);
    return TLX_ID3_E_STATE;
  }
  return TLX_ID3_OK;
}

void tlx_id3_clear_work(tlx_id3_work* work) {
  memset(work, 0, offsetof(tlx_id3_work, write_buf));
  work->temp_fd = -1;
  work->temp_path[0] = 0;
}

void tlx_id3_v2_reset_work(tlx_id3_context* ctx) {
  if (ctx == NULL) return;
  if (ctx->work != NULL) {
    tlx_id3_free_frame_list(ctx);
    tlx_id3_v1_free_stages(ctx->work);
    tlx_sqa_free(ctx->work->ext_header);
    // The read cache describes the file and the options are the caller's;
    // neither belongs to the transaction.
    tlx_id3_read_cache cache = ctx->work->cache;
    uint32_t options = ctx->work->options;
    tlx_id3_clear_work(ctx->work);
    ctx->work->cache = cache;
    ctx->work->options = options;
  }
  ctx->state = TLX_ID3_STATE_IDLE;
  ctx->remaining = 0;
}
