// zlib inflation for compressed frames. zlib allocates through the engine's
// allocator, so its state is counted and bounded like every other block.
#include "id3_inflate.h"

#include <string.h>
#include <zlib.h>

#include "id3_internal.h"

struct tlx_id3_inflater {
  z_stream stream;
  int32_t ended;
};

namespace {

// Inflated bytes leave through this piece of stack, whatever the sink.
const uint32_t kOutputPiece = 16384;

voidpf Allocate(voidpf, uInt items, uInt size) {
  if (size != 0 && items > UINT32_MAX / size) return Z_NULL;
  return tlx_sqa_malloc(static_cast<size_t>(items) * size);
}

void Release(voidpf, voidpf block) { tlx_sqa_free(block); }

}  // namespace

extern "C" {

tlx_id3_inflater* tlx_id3_inflate_begin(void) {
  tlx_id3_inflater* inflater =
      static_cast<tlx_id3_inflater*>(tlx_sqa_calloc(sizeof(tlx_id3_inflater)));
  if (inflater == NULL) return NULL;
  inflater->stream.zalloc = Allocate;
  inflater->stream.zfree = Release;
  inflater->stream.opaque = Z_NULL;
  if (inflateInit(&inflater->stream) != Z_OK) {
    tlx_sqa_free(inflater);
    return NULL;
  }
  return inflater;
}

int32_t tlx_id3_inflate_feed(tlx_id3_inflater* inflater, const uint8_t* input, uint32_t count,
                             tlx_id3_sink_fn sink, void* sink_state) {
  if (inflater->ended || count == 0) return TLX_ID3_OK;
  z_stream* stream = &inflater->stream;
  stream->next_in = const_cast<Bytef*>(input);
  stream->avail_in = count;
  uint8_t piece[kOutputPiece];
  do {
    stream->next_out = piece;
    stream->avail_out = sizeof piece;
    const int z = inflate(stream, Z_NO_FLUSH);
    if (z == Z_MEM_ERROR) return TLX_ID3_E_NOMEM;
    // Z_BUF_ERROR only says that no progress was possible: more input is due.
    if (z != Z_OK && z != Z_STREAM_END && z != Z_BUF_ERROR) return TLX_ID3_E_CORRUPT;
    const uint32_t produced = static_cast<uint32_t>(sizeof piece - stream->avail_out);
    if (produced > 0) {
      const int32_t rc = sink(sink_state, piece, produced);
      if (rc != TLX_ID3_OK) return rc;
    }
    if (z == Z_STREAM_END) {
      inflater->ended = 1;
      return TLX_ID3_OK;
    }
    if (z == Z_BUF_ERROR) break;
  } while (stream->avail_in > 0 || stream->avail_out == 0);
  return TLX_ID3_OK;
}

int32_t tlx_id3_inflate_ended(const tlx_id3_inflater* inflater) {
  return inflater != NULL && inflater->ended;
}

void tlx_id3_inflate_end(tlx_id3_inflater* inflater) {
  if (inflater == NULL) return;
  inflateEnd(&inflater->stream);
  tlx_sqa_free(inflater);
}

}  // extern "C"
