/* Frame data as callers get it: per-frame unsynchronisation removed and
 * zlib-compressed data inflated. The stored bytes are read in small pieces
 * and pass through the decoder to the caller's buffer, so memory never
 * depends on what a frame declares. Inside a read session the last decoded
 * frame is kept, so that the header query that reports its size and the data
 * call that follows share one decode. Private to the engine. */
#ifndef TAGKIT_ENGINE_ID3_FRAME_DECODE_H_
#define TAGKIT_ENGINE_ID3_FRAME_DECODE_H_

#include <stdint.h>

#include "id3_internal.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Where a frame's stored data lies and what undoes its encoding. */
typedef struct tlx_id3_frame_source {
  int32_t pos;             /* file position of the first data byte (past the extra bytes) */
  uint32_t stored;         /* stored data bytes; content bytes when content_unsync */
  uint32_t hint;           /* the decoded size the frame declares, 0 when none */
  uint8_t content_unsync;  /* ID3v2.2/2.3 tag unsynchronisation: read through it */
  uint8_t unsync;          /* ID3v2.4: remove the stuffing within the stored bytes */
  uint8_t inflate;         /* the data is a zlib stream */
} tlx_id3_frame_source;

/* Whether the frame just located (the content stands at its data) needs
 * decoding under the context's options; if so (*needed 1) its source is
 * filled. Without TLX_ID3_OPTION_V24 nothing needs decoding. */
int32_t tlx_id3_frame_source_of(tlx_id3_context* ctx, const tlx_id3_v2_header* header,
                                const tlx_id3_v2_frame_header* frame,
                                tlx_id3_frame_source* source, int32_t* needed);

/* Sets frame->size to the decoded size when the frame needs decoding, and
 * leaves the content at the frame's data. A frame that cannot be decoded
 * (damaged zlib data, stored bytes missing from the file) keeps its stored
 * size; only a failure to position or to allocate is returned. */
int32_t tlx_id3_report_decoded_size(tlx_id3_context* ctx, const tlx_id3_v2_header* header,
                                    tlx_id3_v2_frame_header* frame);

/* Decodes the frame into buffer, which holds *size bytes; *size becomes the
 * bytes handed out. TLX_ID3_E_READ when stored bytes are missing,
 * TLX_ID3_E_CORRUPT when the data does not inflate, TLX_ID3_E_NOMEM. */
int32_t tlx_id3_decode_frame(tlx_id3_context* ctx, const tlx_id3_frame_source* source,
                             uint8_t* buffer, uint32_t* size);

/* Releases the decoded frame a read session keeps (null is fine). */
void tlx_id3_free_decoded(void* decoded);

/* Removes ID3v2.4 stuffing (00 after FF) from bytes in place; *after_ff
 * carries a trailing FF from one piece to the next. Returns the bytes kept. */
uint32_t tlx_id3_remove_stuffing(uint8_t* bytes, uint32_t count, int32_t* after_ff);

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif /* TAGKIT_ENGINE_ID3_FRAME_DECODE_H_ */
