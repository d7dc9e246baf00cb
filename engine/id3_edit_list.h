/* The frames of an editing transaction as the class layer sees them: which
 * stored frame or new data each entry of the list stands for. Private to the
 * library. */
#ifndef TAGKIT_ENGINE_ID3_EDIT_LIST_H_
#define TAGKIT_ENGINE_ID3_EDIT_LIST_H_

#include <stdint.h>

#include "tlx_id3.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One entry of the transaction's frame list. */
typedef struct tlx_id3_edit_frame {
  uint32_t id;            /* identifier (TLX_ID3_FRAME_ID; 0 as last byte in ID3v2.2) */
  uint32_t stored_offset; /* where a stored frame lies in the stored tag; 0 for a new frame */
  int32_t read_only;      /* a stored frame flagged read only */
  const uint8_t* data;    /* a new frame's data (the engine's copy), else null */
  uint32_t size;          /* a new frame's data size */
} tlx_id3_edit_frame;

/* Lists the entries of the transaction's frame list with identifier id (any
 * identifier for 0), in list order: up to capacity records go to frames
 * (which may be null when capacity is 0), and *count becomes the number of
 * matching entries. The data of new frames stays valid until the list next
 * changes. Stored offsets are stable through the transaction, so that a
 * caller can tell which stored frame an entry is.
 * Returns TLX_ID3_OK; TLX_ID3_E_PARAM; TLX_ID3_E_STATE outside a
 * transaction. */
int32_t tlx_id3_v2_edit_list_frames(tlx_id3_context* ctx, uint32_t id, tlx_id3_edit_frame* frames,
                                    uint32_t capacity, uint32_t* count);

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif /* TAGKIT_ENGINE_ID3_EDIT_LIST_H_ */
