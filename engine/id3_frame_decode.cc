// Frame data decoded: the stored bytes are read piece by piece, their
// stuffing removed and, for a compressed frame, inflated, straight into the
// caller's buffer. Bytes beyond the buffer are counted, not kept, so that a
// forged data length indicator or a zip bomb costs time, never memory.
#include "id3_frame_decode.h"

#include <string.h>

#include "id3_inflate.h"
#include "id3_v24.h"

namespace {

// The largest decoded frame: what a whole tag can hold. Data that inflates
// further is taken for damaged rather than counted on.
const uint32_t kMaxDecoded = 0x0FFFFFFF;
const uint32_t kInputPiece = 4096;

// Keeps the first capacity decoded bytes and counts them all.
struct Sink {
  uint8_t* out;
  uint32_t capacity;
  uint32_t total;
};

int32_t Put(void* state, const uint8_t* bytes, uint32_t count) {
  Sink* sink = static_cast<Sink*>(state);
  if (count > kMaxDecoded - sink->total) return TLX_ID3_E_CORRUPT;
  if (sink->total < sink->capacity) {
    const uint32_t room = sink->capacity - sink->total;
    memcpy(sink->out + sink->total, bytes, count < room ? count : room);
  }
  sink->total += count;
  return TLX_ID3_OK;
}

// Runs the stored bytes of source through the decoder into sink.
int32_t Decode(tlx_id3_context* ctx, const tlx_id3_frame_source* source, Sink* sink) {
  if (tlx_id3_position_content(ctx, source->pos, 0) != source->pos) return TLX_ID3_E_SEEK;
  tlx_id3_inflater* inflater = NULL;
  if (source->inflate) {
    inflater = tlx_id3_inflate_begin();
    if (inflater == NULL) return TLX_ID3_E_NOMEM;
  }
  uint8_t piece[kInputPiece];
  int32_t after_ff = 0;
  int32_t rc = TLX_ID3_OK;
  for (uint32_t left = source->stored; left > 0 && rc == TLX_ID3_OK;) {
    if (inflater != NULL && tlx_id3_inflate_ended(inflater)) break;
    const uint32_t n = left < kInputPiece ? left : kInputPiece;
    if (tlx_id3_read_content_unsync(ctx, piece, n, source->content_unsync) <
        static_cast<int32_t>(n)) {
      rc = TLX_ID3_E_READ;
      break;
    }
    left -= n;
    const uint32_t kept = source->unsync ? tlx_id3_remove_stuffing(piece, n, &after_ff) : n;
    rc = inflater != NULL ? tlx_id3_inflate_feed(inflater, piece, kept, Put, sink)
                          : Put(sink, piece, kept);
  }
  if (rc == TLX_ID3_OK && inflater != NULL && !tlx_id3_inflate_ended(inflater)) {
    rc = TLX_ID3_E_CORRUPT;  // the stream was cut short
  }
  tlx_id3_inflate_end(inflater);
  return rc;
}

// The frame a read session decoded last: its source, the outcome, and the
// data when it is no larger than the file.
struct Decoded {
  tlx_id3_frame_source source;
  int32_t rc;
  uint32_t size;
  uint8_t* data;
};

bool SameSource(const tlx_id3_frame_source& a, const tlx_id3_frame_source& b) {
  return a.pos == b.pos && a.stored == b.stored && a.hint == b.hint &&
         a.content_unsync == b.content_unsync && a.unsync == b.unsync && a.inflate == b.inflate;
}

// Decodes into a block of its own, sized by what the frame declares, and
// once more at the true size when that was short. Nothing larger than the
// file is kept (data stays null). Without a believable size, that of
// compressed data unknown or beyond the file, the first pass only counts.
int32_t DecodeKept(tlx_id3_context* ctx, Decoded* kept) {
  const tlx_id3_frame_source* source = &kept->source;
  const int32_t length = tlx_id3_position_content(ctx, 0, 2);
  if (length < 0) return TLX_ID3_E_SEEK;
  const uint32_t limit = static_cast<uint32_t>(length);
  // Without compression the data only shrinks.
  uint64_t guess = source->inflate ? source->hint : source->stored;
  if (guess > limit) guess = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const uint32_t capacity = static_cast<uint32_t>(guess);
    kept->data = static_cast<uint8_t*>(tlx_sqa_malloc(capacity != 0 ? capacity : 1));
    if (kept->data == NULL) return TLX_ID3_E_NOMEM;
    Sink sink = {kept->data, capacity, 0};
    kept->rc = Decode(ctx, source, &sink);
    kept->size = sink.total;
    if (kept->rc == TLX_ID3_E_NOMEM || kept->rc == TLX_ID3_E_SEEK) return kept->rc;
    if (kept->rc == TLX_ID3_OK && sink.total <= capacity) return TLX_ID3_OK;
    tlx_sqa_free(kept->data);
    kept->data = NULL;
    if (kept->rc != TLX_ID3_OK || sink.total > limit) return TLX_ID3_OK;
    guess = sink.total;
  }
  return TLX_ID3_OK;
}

// The session's decode of source, made now unless it is the one kept.
// *kept is null outside a session.
int32_t SessionDecoded(tlx_id3_context* ctx, const tlx_id3_frame_source* source,
                       const Decoded** kept) {
  *kept = NULL;
  if (ctx->work == NULL || !ctx->work->cache.active) return TLX_ID3_OK;
  tlx_id3_read_cache* cache = &ctx->work->cache;
  const Decoded* last = static_cast<const Decoded*>(cache->decoded);
  if (last != NULL && SameSource(last->source, *source)) {
    *kept = last;
    return TLX_ID3_OK;
  }
  Decoded* fresh = static_cast<Decoded*>(tlx_sqa_calloc(sizeof(Decoded)));
  if (fresh == NULL) return TLX_ID3_E_NOMEM;
  fresh->source = *source;
  const int32_t rc = DecodeKept(ctx, fresh);
  if (rc != TLX_ID3_OK) {
    tlx_id3_free_decoded(fresh);
    return rc;
  }
  tlx_id3_free_decoded(cache->decoded);
  cache->decoded = fresh;
  *kept = fresh;
  return TLX_ID3_OK;
}

int32_t DecodedSize(tlx_id3_context* ctx, const tlx_id3_frame_source* source, uint32_t* size) {
  const Decoded* kept = NULL;
  int32_t rc = SessionDecoded(ctx, source, &kept);
  if (rc != TLX_ID3_OK) return rc;
  if (kept != NULL) {
    *size = kept->size;
    return kept->rc;
  }
  Sink count = {NULL, 0, 0};
  rc = Decode(ctx, source, &count);
  *size = count.total;
  return rc;
}

}  // namespace

extern "C" {

uint32_t tlx_id3_remove_stuffing(uint8_t* bytes, uint32_t count, int32_t* after_ff) {
  uint32_t kept = 0;
  int32_t ff = *after_ff;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t b = bytes[i];
    if (!(ff && b == 0x00)) bytes[kept++] = b;
    ff = b == 0xFF;
  }
  *after_ff = ff;
  return kept;
}

int32_t tlx_id3_frame_source_of(tlx_id3_context* ctx, const tlx_id3_v2_header* header,
                                const tlx_id3_v2_frame_header* frame,
                                tlx_id3_frame_source* source, int32_t* needed) {
  *needed = 0;
  if (!tlx_id3_v24_enabled(ctx) || header->version == TLX_ID3_V22) return TLX_ID3_OK;
  const bool v24 = header->version == TLX_ID3_V24;
  // Encrypted data cannot be inflated: it is handed out as stored.
  const bool inflate = frame->compression && !frame->encryption;
  const bool unsync = v24 && (frame->unsync || header->unsync);
  if (!inflate && !unsync) return TLX_ID3_OK;
  const int32_t pos = tlx_id3_position_content(ctx, 0, 1);
  if (pos < 0) return TLX_ID3_E_SEEK;
  memset(source, 0, sizeof *source);
  source->pos = pos;
  source->stored = frame->size;
  const bool declared = v24 ? frame->data_length != 0 : frame->compression != 0;
  source->hint = declared ? frame->decompressed_size : 0;
  source->content_unsync = !v24 && header->unsync;
  source->unsync = unsync;
  source->inflate = inflate;
  *needed = 1;
  return TLX_ID3_OK;
}

int32_t tlx_id3_report_decoded_size(tlx_id3_context* ctx, const tlx_id3_v2_header* header,
                                    tlx_id3_v2_frame_header* frame) {
  tlx_id3_frame_source source;
  int32_t needed = 0;
  int32_t rc = tlx_id3_frame_source_of(ctx, header, frame, &source, &needed);
  if (rc != TLX_ID3_OK || !needed) return rc;
  uint32_t size = 0;
  rc = DecodedSize(ctx, &source, &size);
  if (rc == TLX_ID3_OK) {
    frame->size = size;
  } else if (rc != TLX_ID3_E_READ && rc != TLX_ID3_E_CORRUPT) {
    return rc;
  }
  // Searches leave the content at the frame's data.
  if (tlx_id3_position_content(ctx, source.pos, 0) != source.pos) return TLX_ID3_E_SEEK;
  return TLX_ID3_OK;
}

int32_t tlx_id3_decode_frame(tlx_id3_context* ctx, const tlx_id3_frame_source* source,
                             uint8_t* buffer, uint32_t* size) {
  const Decoded* kept = NULL;
  int32_t rc = SessionDecoded(ctx, source, &kept);
  if (rc != TLX_ID3_OK) return rc;
  if (kept != NULL && (kept->rc != TLX_ID3_OK || kept->data != NULL)) {
    if (kept->rc != TLX_ID3_OK) return kept->rc;
    const uint32_t n = *size < kept->size ? *size : kept->size;
    if (n > 0) memcpy(buffer, kept->data, n);
    *size = n;
    return TLX_ID3_OK;
  }
  Sink sink = {buffer, *size, 0};
  rc = Decode(ctx, source, &sink);
  if (rc != TLX_ID3_OK) return rc;
  *size = *size < sink.total ? *size : sink.total;
  return TLX_ID3_OK;
}

void tlx_id3_free_decoded(void* decoded) {
  Decoded* kept = static_cast<Decoded*>(decoded);
  if (kept == NULL) return;
  tlx_sqa_free(kept->data);
  tlx_sqa_free(kept);
}

}  // extern "C"
