/* Inflation of zlib-compressed frame data, piece by piece, with the engine's
 * allocator. Private to the engine. */
#ifndef TAGKIT_ENGINE_ID3_INFLATE_H_
#define TAGKIT_ENGINE_ID3_INFLATE_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct tlx_id3_inflater tlx_id3_inflater; /* one zlib stream */

/* Receives inflated bytes; returns TLX_ID3_OK or a code that stops the
 * inflation and is handed back by tlx_id3_inflate_feed. */
typedef int32_t (*tlx_id3_sink_fn)(void* sink, const uint8_t* bytes, uint32_t count);

/* A new stream; null when memory runs out. */
tlx_id3_inflater* tlx_id3_inflate_begin(void);
/* Inflates count input bytes into the sink. Bytes after the end of the
 * stream are ignored. @return TLX_ID3_OK; TLX_ID3_E_CORRUPT for data that is
 * no zlib stream; TLX_ID3_E_NOMEM; or the sink's code. */
int32_t tlx_id3_inflate_feed(tlx_id3_inflater* inflater, const uint8_t* input, uint32_t count,
                             tlx_id3_sink_fn sink, void* sink_state);
/* 1 once the stream has ended: a stream cut short is damaged. */
int32_t tlx_id3_inflate_ended(const tlx_id3_inflater* inflater);
/* Releases the stream (null is fine). */
void tlx_id3_inflate_end(tlx_id3_inflater* inflater);

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif /* TAGKIT_ENGINE_ID3_INFLATE_H_ */
