/* The walk over the frames of a stored ID3v2 tag, shared by the frame index
 * and the frame-data queries. Private to the engine. */
#ifndef TAGKIT_ENGINE_ID3_V2_WALK_H_
#define TAGKIT_ENGINE_ID3_V2_WALK_H_

#include <stdint.h>

#include "id3_internal.h"

/* What the walk looks for: every frame, or only frames with one id; and
 * whether it stops at the target-th match (0-based) or counts them all. */
typedef struct tlx_id3_v2_walk_query {
  int32_t any_id;
  uint32_t id;
  int32_t search;
  uint32_t target;
} tlx_id3_v2_walk_query;

typedef struct tlx_id3_v2_walk_result {
  uint32_t matches;   /* frames that matched before the walk stopped */
  int32_t stopped;    /* 1: stopped inside the tag (found, or padding) */
  int32_t found;      /* 1: the target frame was found */
  int32_t frame_pos;  /* file position of the last frame header parsed */
  tlx_id3_v2_frame_header frame; /* last parse; all zero at padding */
} tlx_id3_v2_walk_result;

/* Walks the frames of the tag described by header. Returns 0, 2 (short read)
 * or 4 (positioning failed). After a successful search the file stands just
 * past the frame's header and extra bytes. */
int32_t tlx_id3_v2_walk(tlx_id3_context* ctx, const tlx_id3_v2_header* header,
                        const tlx_id3_v2_walk_query* query, tlx_id3_v2_walk_result* result);

/* Size of a frame header for a version code: 6 for ID3v2.2, 10 for ID3v2.3. */
static inline uint32_t tlx_id3_v2_frame_header_size(int32_t version) {
  return version == TLX_ID3_V22 ? 6u : 10u;
}

#endif /* TAGKIT_ENGINE_ID3_V2_WALK_H_ */
