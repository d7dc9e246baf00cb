// The ID3v2 tag as the engine reads it: the 10-byte header, the extended
// header, the frame headers of versions 2.2 and 2.3 (2.4 in id3_v24_frame.cc),
// and the walk over the frames that counts them, finds one, or lists them for
// editing.
//
// Files come from anywhere, so every size read here is treated as a claim:
// the walk never goes past the end of the file, sums are kept in 64 bits so
// that a size of 0xFFFFFFFF cannot wrap, and every step moves forward by at
// least one frame header.
#include <string.h>

#include "id3_frame_decode.h"
#include "id3_internal.h"
#include "id3_v24.h"
#include "id3_v2_walk.h"

namespace {

bool StateForbidsReading(const tlx_id3_context* ctx) {
  return ctx->state == TLX_ID3_STATE_READING || ctx->state == TLX_ID3_STATE_WRITING;
}

int32_t Fail(const char* format, const char* name, int32_t code) {
  tlx_trace_error(format, name);
  return code;
}

int32_t VersionCode(uint8_t major, uint8_t revision) {
  if (revision != 0) return TLX_ID3_VERSION_OTHER;
  switch (major) {
    case 2: return TLX_ID3_V22;
    case 3: return TLX_ID3_V23;
    case 4: return TLX_ID3_V24;
    default: return TLX_ID3_VERSION_OTHER;
  }
}

int32_t ParseHeaderRecord(tlx_id3_context* ctx, const uint8_t raw[TLX_ID3_HEADER_SIZE],
                          tlx_id3_v2_header* header, const char* name);

// The header record without the public checks and traces. A read session
// keeps the record of a header that could be read: every query asks again.
int32_t ReadHeaderRecord(tlx_id3_context* ctx, tlx_id3_v2_header* header, const char* name) {
  tlx_id3_read_cache* cache =
      ctx->work != NULL && ctx->work->cache.active ? &ctx->work->cache : NULL;
  if (cache != NULL && cache->header_known &&
      tlx_id3_position_content(ctx, TLX_ID3_HEADER_SIZE, 0) == TLX_ID3_HEADER_SIZE) {
    *header = cache->header;
    return cache->header_rc;
  }
  memset(header, 0, sizeof *header);
  uint8_t raw[TLX_ID3_HEADER_SIZE];
  int32_t rc = tlx_id3_v2_read_header(ctx, raw);
  if (rc == TLX_ID3_OK) {
    rc = ParseHeaderRecord(ctx, raw, header, name);
  } else if (rc != TLX_ID3_E_NOT_FOUND) {
    return rc;  // not read whole
  }
  if (cache != NULL) {
    cache->header = *header;
    cache->header_rc = rc;
    cache->header_known = 1;
  }
  return rc;
}

int32_t ParseHeaderRecord(tlx_id3_context* ctx, const uint8_t raw[TLX_ID3_HEADER_SIZE],
                          tlx_id3_v2_header* header, const char* name) {
  header->version = VersionCode(raw[3], raw[4]);
  header->size = static_cast<int32_t>(tlx_id3_syncsafe_decode(raw + 6));
  const bool v24 = header->version == TLX_ID3_V24 && tlx_id3_v24_enabled(ctx);
  if (header->version != TLX_ID3_V22 && header->version != TLX_ID3_V23 && !v24) {
    return Fail("in %s() ID3v2 version is unsupported.", name, TLX_ID3_E_UNSUPPORTED);
  }
  header->unsync = (raw[5] & 0x80) ? 1 : 0;
  if (header->version == TLX_ID3_V22) {
    header->compression = (raw[5] & 0x40) ? 1 : 0;
  } else {
    header->has_ext_header = (raw[5] & 0x40) ? 1 : 0;
    header->experimental = (raw[5] & 0x20) ? 1 : 0;
    header->has_footer = v24 && (raw[5] & 0x10) ? 1 : 0;
  }
  return TLX_ID3_OK;
}

// Reads the 14 bytes at offset 10 that hold an ID3v2.3 extended header.
int32_t ReadExtendedHeaderBytes(tlx_id3_context* ctx, const tlx_id3_v2_header* header,
                                uint8_t bytes[14]) {
  if (tlx_id3_seek_content_unsync(ctx, TLX_ID3_HEADER_SIZE, 0, 0) != TLX_ID3_HEADER_SIZE) {
    return TLX_ID3_E_SEEK;
  }
  int32_t got = tlx_id3_read_content_unsync(ctx, bytes, 14, header->unsync);
  if (got < 14) return TLX_ID3_E_READ;
  return TLX_ID3_OK;
}

// Bytes in the file, or -1. The walk treats the end of the file as the end
// of the tag, so a tag that claims more than the file holds ends early.
int32_t FileLength(tlx_id3_context* ctx) { return tlx_id3_seek_content(ctx, 0, 2); }

// Where the walk reads: the tag end, bounded by the file length.
int32_t WalkEnd(tlx_id3_context* ctx, const tlx_id3_v2_header* header, uint64_t* end) {
  int32_t length = FileLength(ctx);
  if (length < 0) return TLX_ID3_E_SEEK;
  uint64_t tag_end = static_cast<uint64_t>(static_cast<uint32_t>(header->size)) +
                     TLX_ID3_HEADER_SIZE;
  *end = tag_end < static_cast<uint64_t>(length) ? tag_end : static_cast<uint64_t>(length);
  return TLX_ID3_OK;
}

// ID3v2.4 frame headers are never unsynchronised: its walk goes over plain
// file offsets whatever the tag's flag says.
int32_t WalkUnsync(const tlx_id3_v2_header* header) {
  return header->version == TLX_ID3_V24 ? 0 : header->unsync;
}

// Whether an ID3v2.4 tag stores plain 32-bit frame sizes; 0 for the others.
int32_t SizeMode(tlx_id3_context* ctx, const tlx_id3_v2_header* header, uint64_t first,
                 uint64_t end, int32_t* plain) {
  *plain = 0;
  if (header->version != TLX_ID3_V24) return TLX_ID3_OK;
  return tlx_id3_v24_size_mode(ctx, first, end, plain);
}

// Positions at content offset `offset`. With unsynchronisation the walk keeps
// the file position of the previous frame so that each step scans only the
// bytes between two frames, not the whole tag again.
struct Cursor {
  uint32_t content = 0;
  int32_t file = 0;
};

int32_t SeekFrame(tlx_id3_context* ctx, int32_t unsync, Cursor* cursor, uint64_t offset,
                  int32_t* position) {
  if (offset > INT32_MAX) return TLX_ID3_E_SEEK;
  int32_t pos;
  if (!unsync) {
    pos = tlx_id3_seek_content_unsync(ctx, static_cast<uint32_t>(offset), 0, 0);
  } else {
    // The cursor stands after any stuffing byte that follows its last 0xFF,
    // so scanning on from it matches a scan from the start of the file.
    if (offset < cursor->content) {
      *cursor = Cursor();
    }
    if (tlx_id3_seek_content_unsync(ctx, static_cast<uint32_t>(cursor->file), 0, 0) !=
        cursor->file) {
      return TLX_ID3_E_SEEK;
    }
    pos = tlx_id3_seek_content_unsync(ctx, static_cast<uint32_t>(offset) - cursor->content, 1,
                                      1);
    if (pos >= 0) {
      cursor->content = static_cast<uint32_t>(offset);
      cursor->file = pos;
    }
  }
  if (pos < 0) return TLX_ID3_E_SEEK;
  *position = pos;
  return TLX_ID3_OK;
}

// Bytes after an ID3v2.3 frame header that its format flags announce: the
// decompressed size, the encryption method, the group.
uint32_t ExtraBytes23(uint8_t format) {
  return ((format & 0x80) ? 4u : 0u) + ((format & 0x40) ? 1u : 0u) + ((format & 0x20) ? 1u : 0u);
}

// Decodes an ID3v2.2 or 2.3 frame header from its bytes.
void DecodeFrameHeader(int32_t version, const uint8_t* raw, tlx_id3_v2_frame_header* frame,
                       uint64_t* consumed) {
  memset(frame, 0, sizeof *frame);
  if (version == TLX_ID3_V22) {
    frame->id = TLX_ID3_FRAME_ID(raw[0], raw[1], raw[2], 0);
    frame->size = tlx_id3_be24_decode(raw + 3);
    *consumed = 6ull + frame->size;
    return;
  }
  frame->id = TLX_ID3_FRAME_ID(raw[0], raw[1], raw[2], raw[3]);
  frame->size = tlx_id3_be32_decode(raw + 4);
  *consumed = 10ull + frame->size;
  frame->tag_alter_preserve = (raw[8] & 0x80) ? 1 : 0;
  frame->file_alter_preserve = (raw[8] & 0x40) ? 1 : 0;
  frame->read_only = (raw[8] & 0x20) ? 1 : 0;
  frame->compression = (raw[9] & 0x80) ? 1 : 0;
  frame->encryption = (raw[9] & 0x40) ? 1 : 0;
  frame->grouping = (raw[9] & 0x20) ? 1 : 0;
}

// Takes the extra bytes of an ID3v2.3 frame header (ExtraBytes23). They are
// counted in the declared size; a size too small to hold them leaves no data
// rather than wrapping around.
void DecodeFrameExtra(const uint8_t* extra, tlx_id3_v2_frame_header* frame) {
  if (frame->compression) {
    frame->decompressed_size = tlx_id3_be32_decode(extra);
    frame->size = frame->size >= 4 ? frame->size - 4 : 0;
    extra += 4;
  }
  if (frame->encryption) {
    frame->encryption_method = *extra++;
    frame->size = frame->size >= 1 ? frame->size - 1 : 0;
  }
  if (frame->grouping) {
    frame->group_id = *extra;
    frame->size = frame->size >= 1 ? frame->size - 1 : 0;
  }
}

// Parses one frame header at the current position. consumed is 0 when fewer
// bytes than a frame header remain in the tag.
int32_t ParseFrameHeader(tlx_id3_context* ctx, const tlx_id3_v2_header* header,
                         int32_t plain_sizes, uint64_t remaining,
                         tlx_id3_v2_frame_header* frame, uint64_t* consumed) {
  if (header->version == TLX_ID3_V24) {
    return tlx_id3_v24_parse_frame_header(ctx, remaining, plain_sizes, frame, consumed);
  }
  memset(frame, 0, sizeof *frame);
  *consumed = 0;
  uint32_t header_size = tlx_id3_v2_frame_header_size(header->version);
  if (remaining < header_size) return TLX_ID3_OK;
  uint8_t raw[10];
  if (tlx_id3_read_content_unsync(ctx, raw, header_size, header->unsync) <
      static_cast<int32_t>(header_size)) {
    return TLX_ID3_E_READ;
  }
  DecodeFrameHeader(header->version, raw, frame, consumed);
  if (header->version == TLX_ID3_V22) return TLX_ID3_OK;
  // The extra bytes are read as stored, also in an unsynchronised tag.
  uint8_t extra[6];
  const uint32_t extra_len = ExtraBytes23(raw[9]);
  if (extra_len > 0 &&
      tlx_id3_read_content(ctx, extra, extra_len) < static_cast<int32_t>(extra_len)) {
    return TLX_ID3_E_READ;
  }
  DecodeFrameExtra(extra, frame);
  return TLX_ID3_OK;
}

// ParseFrameHeader over the bytes of a read session, for a tag whose walk
// goes over plain file offsets: no positioning or reading per frame. False
// when the session does not hold the whole header at pos; else *after is
// the position that reading the header would have left.
bool DecodeHeldFrameHeader(tlx_id3_context* ctx, const tlx_id3_v2_header* header,
                           int32_t plain_sizes, int32_t pos, uint64_t remaining,
                           tlx_id3_v2_frame_header* frame, uint64_t* consumed, int32_t* after) {
  const uint32_t header_size = tlx_id3_v2_frame_header_size(header->version);
  if (remaining < header_size) {
    memset(frame, 0, sizeof *frame);
    *consumed = 0;
    *after = pos;
    return true;
  }
  const uint8_t* raw = tlx_id3_session_bytes(ctx, pos, header_size);
  if (raw == NULL) return false;
  const bool v24 = header->version == TLX_ID3_V24;
  const uint32_t extra_len = header->version == TLX_ID3_V22 ? 0
                             : v24                           ? tlx_id3_v24_extra_bytes(raw[9])
                                                             : ExtraBytes23(raw[9]);
  if (extra_len > 0 && tlx_id3_session_bytes(ctx, pos, header_size + extra_len) == NULL) {
    return false;
  }
  if (v24) {
    tlx_id3_v24_decode_frame_header(raw, plain_sizes, frame, consumed);
    tlx_id3_v24_decode_frame_extra(raw + header_size, frame);
  } else {
    DecodeFrameHeader(header->version, raw, frame, consumed);
    if (extra_len > 0) DecodeFrameExtra(raw + header_size, frame);
  }
  *after = pos + static_cast<int32_t>(header_size + extra_len);
  return true;
}

// Runs a walk for a public operation: header, then the walk. A search
// reports the size of the frame it found as its data calls hand it out.
int32_t HeaderAndWalk(tlx_id3_context* ctx, const char* name, bool default_header,
                      const tlx_id3_v2_walk_query* query, tlx_id3_v2_walk_result* result) {
  tlx_id3_v2_header header;
  int32_t rc;
  if (default_header) {
    // Only a missing tag reads as an empty one; a failed read stays one.
    int32_t present = 0;
    rc = tlx_id3_v2_get_header_for_edit(ctx, &header, &present);
  } else {
    rc = ReadHeaderRecord(ctx, &header, name);
  }
  if (rc != TLX_ID3_OK) return rc;
  rc = tlx_id3_v2_walk(ctx, &header, query, result);
  if (rc != TLX_ID3_OK || !result->found) return rc;
  return tlx_id3_report_decoded_size(ctx, &header, &result->frame);
}

}  // namespace

int32_t tlx_id3_v2_read_header(tlx_id3_context* ctx, uint8_t header[10]) {
  static const char kName[] = "tlx_id3_v2_read_header";
  if (ctx == NULL || header == NULL) {
    return Fail("in %s() parameter is invalid.", kName, TLX_ID3_E_PARAM);
  }
  // A read session holds the header after its first read: every frame
  // query asks for it again.
  const uint8_t* held = tlx_id3_session_bytes(ctx, 0, TLX_ID3_HEADER_SIZE);
  if (held != NULL &&
      tlx_id3_position_content(ctx, TLX_ID3_HEADER_SIZE, 0) == TLX_ID3_HEADER_SIZE) {
    memcpy(header, held, TLX_ID3_HEADER_SIZE);
  } else {
    if (tlx_id3_seek_content_unsync(ctx, 0, 0, 0) != 0) {
      return Fail("in %s() tlx_lseek() failed.", kName, TLX_ID3_E_SEEK);
    }
    if (tlx_id3_read_content(ctx, header, TLX_ID3_HEADER_SIZE) < TLX_ID3_HEADER_SIZE) {
      return Fail("in %s() TLX_SQA_READ() failed.", kName, TLX_ID3_E_READ);
    }
  }
  if (memcmp(header, "ID3", 3) == 0) return TLX_ID3_OK;
  if (ctx->allow_tag_id != NULL) {
    size_t length = strlen(ctx->allow_tag_id);
    if (length > 0 && length <= TLX_ID3_HEADER_SIZE &&
        memcmp(header, ctx->allow_tag_id, length) == 0) {
      return TLX_ID3_OK;
    }
  }
  return Fail("in %s() ID3v2 is not found.", kName, TLX_ID3_E_NOT_FOUND);
}

int32_t tlx_id3_v2_first_frame_offset(tlx_id3_context* ctx, const tlx_id3_v2_header* header,
                                      uint32_t* offset) {
  if (ctx == NULL || header == NULL || offset == NULL) return TLX_ID3_E_PARAM;
  if (!header->has_ext_header) {
    *offset = TLX_ID3_HEADER_SIZE;
    return TLX_ID3_OK;
  }
  if (header->version == TLX_ID3_V24) return tlx_id3_v24_first_frame_offset(ctx, offset);
  uint8_t bytes[14];
  int32_t rc = ReadExtendedHeaderBytes(ctx, header, bytes);
  if (rc != TLX_ID3_OK) return rc;
  uint64_t first = 14ull + tlx_id3_be32_decode(bytes);
  *offset = first > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(first);
  return TLX_ID3_OK;
}

namespace {

// Inside a read session the walk over the whole tag is taken once and kept:
// every step with what it found, so that each query replays the steps up to
// where it stops instead of parsing the frames again. The steps do not
// depend on the query, only where a query stops does.
enum StepKind { kStepFrame, kStepEnd, kStepPadding, kStepFailed };

struct WalkStep {
  int32_t kind;
  int32_t rc;          /* kStepFailed: the walk's result */
  int32_t pos;         /* frame_pos of the step (kStepFailed: -1 before it) */
  int32_t after;       /* the content position after the frame header */
  uint64_t consumed;
  tlx_id3_v2_frame_header frame;
};

struct WalkMemo {
  tlx_id3_v2_header header;
  int32_t rc;          /* of the offset of the first frame and the tag end */
  uint64_t first;
  uint64_t end;
  int32_t final_pos;   /* the content position after the whole walk */
  uint32_t count;
  uint32_t capacity;
  WalkStep steps[1];
};

WalkMemo* GrowMemo(WalkMemo* memo) {
  uint32_t capacity = memo == NULL ? 32 : memo->capacity * 2;
  size_t bytes = sizeof(WalkMemo) + (capacity - 1) * sizeof(WalkStep);
  WalkMemo* grown = static_cast<WalkMemo*>(tlx_sqa_malloc(bytes));
  if (grown == NULL) return NULL;
  if (memo != NULL) {
    memcpy(grown, memo, sizeof(WalkMemo) + (memo->count - 1) * sizeof(WalkStep));
    tlx_sqa_free(memo);
  } else {
    memset(grown, 0, sizeof(WalkMemo));
  }
  grown->capacity = capacity;
  return grown;
}

WalkStep* AddStep(WalkMemo** memo, int32_t kind) {
  if ((*memo)->count == (*memo)->capacity) {
    WalkMemo* grown = GrowMemo(*memo);
    if (grown == NULL) return NULL;
    *memo = grown;
  }
  WalkStep* step = &(*memo)->steps[(*memo)->count++];
  memset(step, 0, sizeof *step);
  step->kind = kind;
  return step;
}

WalkMemo* DropMemo(WalkMemo* memo) {
  tlx_sqa_free(memo);
  return NULL;
}

// The walk over every frame, recorded. Null when memory runs out.
WalkMemo* RecordWalk(tlx_id3_context* ctx, const tlx_id3_v2_header* header) {
  WalkMemo* memo = GrowMemo(NULL);
  if (memo == NULL) return NULL;
  memo->header = *header;
  uint32_t first = 0;
  memo->rc = tlx_id3_v2_first_frame_offset(ctx, header, &first);
  if (memo->rc == TLX_ID3_OK) memo->rc = WalkEnd(ctx, header, &memo->end);
  memo->first = first;
  int32_t plain_sizes = 0;
  if (memo->rc == TLX_ID3_OK) memo->rc = SizeMode(ctx, header, first, memo->end, &plain_sizes);
  if (memo->rc != TLX_ID3_OK) return memo;
  Cursor cursor;
  uint64_t offset = first;
  // Where the content would stand after the steps decoded in memory, or -1.
  int32_t owed = -1;
  while (offset < memo->end) {
    if (!WalkUnsync(header) && offset < INT32_MAX) {
      const int32_t pos = static_cast<int32_t>(offset);
      tlx_id3_v2_frame_header frame;
      uint64_t consumed = 0;
      int32_t after = 0;
      if (DecodeHeldFrameHeader(ctx, header, plain_sizes, pos, memo->end - offset, &frame,
                                &consumed, &after)) {
        WalkStep* step =
            AddStep(&memo, consumed == 0 || frame.id == 0 ? kStepPadding : kStepFrame);
        if (step == NULL) return DropMemo(memo);
        step->pos = pos;
        step->frame = frame;
        step->consumed = consumed;
        step->after = owed = after;
        if (step->kind == kStepPadding) break;
        offset += consumed;
        continue;
      }
    }
    owed = -1;
    int32_t pos = 0;
    int32_t rc = SeekFrame(ctx, WalkUnsync(header), &cursor, offset, &pos);
    if (rc != TLX_ID3_OK) {
      WalkStep* step = AddStep(&memo, kStepFailed);
      if (step == NULL) return DropMemo(memo);
      step->rc = rc;
      step->pos = -1;
      return memo;
    }
    if (static_cast<uint64_t>(pos) >= memo->end) {
      WalkStep* step = AddStep(&memo, kStepEnd);
      if (step == NULL) return DropMemo(memo);
      step->pos = pos;
      break;
    }
    tlx_id3_v2_frame_header frame;
    uint64_t consumed = 0;
    rc = ParseFrameHeader(ctx, header, plain_sizes, memo->end - static_cast<uint64_t>(pos), &frame,
                          &consumed);
    WalkStep* step = AddStep(&memo, rc != TLX_ID3_OK ? kStepFailed
                                    : consumed == 0 || frame.id == 0 ? kStepPadding
                                                                     : kStepFrame);
    if (step == NULL) return DropMemo(memo);
    step->rc = rc;
    step->pos = pos;
    step->frame = frame;
    step->consumed = consumed;
    if (rc != TLX_ID3_OK) return memo;
    step->after = tlx_id3_position_content(ctx, 0, 1);
    if (step->kind == kStepPadding) break;
    offset += consumed;
  }
  if (owed >= 0 && tlx_id3_position_content(ctx, owed, 0) != owed) return DropMemo(memo);
  memo->final_pos = tlx_id3_position_content(ctx, 0, 1);
  return memo->final_pos < 0 ? DropMemo(memo) : memo;
}

// Answers a query from the recorded walk, leaving the content where the walk
// itself would have left it.
int32_t ReplayWalk(tlx_id3_context* ctx, const WalkMemo* memo,
                   const tlx_id3_v2_walk_query* query, tlx_id3_v2_walk_result* result) {
  if (memo->rc != TLX_ID3_OK) return memo->rc;
  uint64_t offset = memo->first;
  int32_t stand = memo->final_pos;
  // The result describes the last step visited; it is filled in once.
  const WalkStep* last = NULL;
  uint32_t i = 0;
  for (; i < memo->count && offset < memo->end; ++i) {
    const WalkStep* step = &memo->steps[i];
    if (step->kind != kStepFrame) break;
    last = step;
    if (query->any_id || step->frame.id == query->id) {
      if (query->search && result->matches == query->target) {
        result->found = 1;
        stand = step->after;
        break;
      }
      ++result->matches;
    }
    offset += step->consumed;
  }
  if (!result->found && i < memo->count && offset < memo->end) {
    // Stopped at a step without a frame: padding leaves the frame all zero.
    const WalkStep* step = &memo->steps[i];
    if (last != NULL && step->kind != kStepPadding) result->frame = last->frame;
    if (step->kind == kStepFailed) {
      if (step->pos >= 0) {
        result->frame_pos = step->pos;
      } else if (last != NULL) {
        result->frame_pos = last->pos;
      }
      return step->rc;
    }
    result->frame_pos = step->pos;
    if (step->kind == kStepEnd) offset = memo->end;
  } else if (last != NULL) {
    result->frame_pos = last->pos;
    result->frame = last->frame;
  }
  result->stopped = offset < memo->end ? 1 : 0;
  if (tlx_id3_position_content(ctx, stand, 0) != stand) return TLX_ID3_E_SEEK;
  return TLX_ID3_OK;
}

const WalkMemo* SessionWalk(tlx_id3_context* ctx, const tlx_id3_v2_header* header) {
  if (ctx->work == NULL || !ctx->work->cache.active) return NULL;
  tlx_id3_read_cache* cache = &ctx->work->cache;
  const WalkMemo* memo = static_cast<const WalkMemo*>(cache->walk);
  if (memo != NULL && memcmp(&memo->header, header, sizeof *header) == 0) return memo;
  WalkMemo* recorded = RecordWalk(ctx, header);
  if (recorded == NULL) return NULL;
  // Reading may have dropped and reloaded what the session holds.
  tlx_sqa_free(cache->walk);
  cache->walk = recorded;
  return recorded;
}

}  // namespace

int32_t tlx_id3_v2_walk(tlx_id3_context* ctx, const tlx_id3_v2_header* header,
                        const tlx_id3_v2_walk_query* query, tlx_id3_v2_walk_result* result) {
  memset(result, 0, sizeof *result);
  if (const WalkMemo* memo = SessionWalk(ctx, header)) {
    return ReplayWalk(ctx, memo, query, result);
  }

  uint32_t first = 0;
  int32_t rc = tlx_id3_v2_first_frame_offset(ctx, header, &first);
  if (rc != TLX_ID3_OK) return rc;
  uint64_t end = 0;
  rc = WalkEnd(ctx, header, &end);
  if (rc != TLX_ID3_OK) return rc;
  int32_t plain_sizes = 0;
  rc = SizeMode(ctx, header, first, end, &plain_sizes);
  if (rc != TLX_ID3_OK) return rc;

  Cursor cursor;
  uint64_t offset = first;
  while (offset < end) {
    int32_t pos = 0;
    rc = SeekFrame(ctx, WalkUnsync(header), &cursor, offset, &pos);
    if (rc != TLX_ID3_OK) return rc;
    result->frame_pos = pos;
    // Stuffing makes the file bytes of an unsynchronised tag outnumber its
    // content bytes: the tag ends where the file position reaches its end.
    if (static_cast<uint64_t>(pos) >= end) {
      offset = end;
      break;
    }
    uint64_t consumed = 0;
    rc = ParseFrameHeader(ctx, header, plain_sizes, end - static_cast<uint64_t>(pos),
                          &result->frame, &consumed);
    if (rc != TLX_ID3_OK) return rc;
    if (consumed == 0 || result->frame.id == 0) {
      memset(&result->frame, 0, sizeof result->frame);  // padding
      break;
    }
    if (query->any_id || result->frame.id == query->id) {
      if (query->search && result->matches == query->target) {
        result->found = 1;
        break;
      }
      ++result->matches;
    }
    offset += consumed;
  }
  result->stopped = offset < end ? 1 : 0;
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_read_frame_list(tlx_id3_context* ctx, const tlx_id3_v2_header* header) {
  static const char kName[] = "tlx_id3_v2_read_frame_list";
  if (ctx == NULL || header == NULL || ctx->work == NULL) {
    return Fail("in %s() parameter is invalid.", kName, TLX_ID3_E_PARAM);
  }
  uint32_t first = 0;
  int32_t rc = tlx_id3_v2_first_frame_offset(ctx, header, &first);
  if (rc != TLX_ID3_OK) return rc;
  uint64_t end = 0;
  rc = WalkEnd(ctx, header, &end);
  if (rc != TLX_ID3_OK) return rc;
  ctx->work->frames_damaged = 0;
  if (header->version == TLX_ID3_V24) return tlx_id3_v24_read_frame_list(ctx, header, first, end);

  const uint32_t header_size = tlx_id3_v2_frame_header_size(header->version);
  const uint64_t tag_end = static_cast<uint64_t>(static_cast<uint32_t>(header->size)) +
                           TLX_ID3_HEADER_SIZE;
  // Appending at the tail keeps building a long list linear.
  tlx_list* tail = tlx_list_last(ctx->work->frame_list);
  Cursor cursor;
  uint64_t offset = first;
  while (offset < end) {
    int32_t pos = 0;
    rc = SeekFrame(ctx, header->unsync, &cursor, offset, &pos);
    if (rc != TLX_ID3_OK) return Fail("in %s() tlx_lseek() failed.", kName, rc);
    // Stuffing can carry the last frame of an unsynchronised tag past the
    // tag's end even when its content offset stays inside.
    if (static_cast<uint64_t>(pos) > tag_end) ctx->work->frames_damaged = 1;
    if (static_cast<uint64_t>(pos) >= end) break;
    if (end - static_cast<uint64_t>(pos) < header_size) break;
    tlx_id3_frame_entry* entry =
        static_cast<tlx_id3_frame_entry*>(tlx_sqa_calloc(sizeof(tlx_id3_frame_entry)));
    if (entry == NULL) {
      return Fail("in %s() tlx_sqa_calloc() failed.", kName, TLX_ID3_E_NOMEM);
    }
    if (tlx_id3_read_content_unsync(ctx, entry->raw_header, header_size, header->unsync) <
        static_cast<int32_t>(header_size)) {
      tlx_sqa_free(entry);
      return Fail("in %s() TLX_SQA_READ() failed.", kName, TLX_ID3_E_READ);
    }
    if (entry->raw_header[0] == 0) {
      tlx_sqa_free(entry);
      break;
    }
    entry->data_size = header->version == TLX_ID3_V22
                           ? tlx_id3_be24_decode(entry->raw_header + 3)
                           : tlx_id3_be32_decode(entry->raw_header + 4);
    uint64_t length = static_cast<uint64_t>(header_size) + entry->data_size;
    if (offset + length > tag_end || length > UINT32_MAX) {
      // A frame that runs past the end of the tag ends the list like the end
      // of the tag would; an edit must not go on without it (it would be
      // dropped), so the list is marked damaged.
      tlx_sqa_free(entry);
      ctx->work->frames_damaged = 1;
      offset = end;
      break;
    }
    entry->length = static_cast<uint32_t>(length);
    entry->offset = static_cast<uint32_t>(offset);
    tlx_list* appended = tlx_list_append(tail, entry);
    tlx_list* node = tail == NULL ? appended : tail->next;
    if (node == NULL || node->data != entry) {
      tlx_sqa_free(entry);
      return Fail("in %s() tlx_sqa_calloc() failed.", kName, TLX_ID3_E_NOMEM);
    }
    if (ctx->work->frame_list == NULL) ctx->work->frame_list = node;
    tail = node;
    offset += length;
  }
  ctx->work->frames_end = offset > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(offset);
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_get_header(tlx_id3_context* ctx, tlx_id3_v2_header* header) {
  static const char kName[] = "tlx_id3_v2_get_header";
  tlx_trace("tlx_id3_v2_get_header() enter");
  if (ctx == NULL || header == NULL) {
    return Fail("in %s() parameter is invalid.", kName, TLX_ID3_E_PARAM);
  }
  if (StateForbidsReading(ctx)) {
    return Fail("in %s() transaction is invalid.", kName, TLX_ID3_E_STATE);
  }
  int32_t rc = ReadHeaderRecord(ctx, header, kName);
  if (rc != TLX_ID3_OK) return rc;
  tlx_trace("tlx_id3_v2_get_header() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_get_header2(tlx_id3_context* ctx, tlx_id3_v2_header* header) {
  static const char kName[] = "tlx_id3_v2_get_header2";
  tlx_trace("tlx_id3_v2_get_header2() enter");
  if (ctx == NULL || header == NULL) {
    return Fail("in %s() parameter is invalid.", kName, TLX_ID3_E_PARAM);
  }
  if (StateForbidsReading(ctx)) {
    return Fail("in %s() transaction is invalid.", kName, TLX_ID3_E_STATE);
  }
  // No usable tag reads as an empty ID3v2.3 tag; a file that cannot be read
  // is not one without a tag.
  int32_t present = 0;
  int32_t rc = tlx_id3_v2_get_header_for_edit(ctx, header, &present);
  if (rc != TLX_ID3_OK) return Fail("in %s() ID3v2 header cannot be read.", kName, rc);
  tlx_trace("tlx_id3_v2_get_header2() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_get_extended_header(tlx_id3_context* ctx,
                                       tlx_id3_v2_extended_header* ext) {
  static const char kName[] = "tlx_id3_v2_get_extended_header";
  tlx_trace("tlx_id3_v2_get_extended_header() enter");
  if (ctx == NULL || ext == NULL) {
    return Fail("in %s() parameter is invalid.", kName, TLX_ID3_E_PARAM);
  }
  if (StateForbidsReading(ctx)) {
    return Fail("in %s() transaction is invalid.", kName, TLX_ID3_E_STATE);
  }
  memset(ext, 0, sizeof *ext);
  tlx_id3_v2_header header;
  int32_t rc = ReadHeaderRecord(ctx, &header, kName);
  if (rc != TLX_ID3_OK) return rc;
  if (!header.has_ext_header) {
    return Fail("in %s() extendHeader is not found.", kName, TLX_ID3_E_NOT_FOUND);
  }
  if (header.version == TLX_ID3_V24) {
    rc = tlx_id3_v24_read_extended_header(ctx, ext);
    if (rc != TLX_ID3_OK) return Fail("in %s() TLX_SQA_READ() failed.", kName, rc);
    tlx_trace("tlx_id3_v2_get_extended_header() exit");
    return TLX_ID3_OK;
  }
  uint8_t bytes[14];
  rc = ReadExtendedHeaderBytes(ctx, &header, bytes);
  if (rc != TLX_ID3_OK) {
    return Fail(rc == TLX_ID3_E_SEEK ? "in %s() tlx_lseek() failed."
                                     : "in %s() TLX_SQA_READ() failed.",
                kName, rc);
  }
  ext->padding_size = tlx_id3_be32_decode(bytes + 6);
  if (bytes[4] & 0x80) {
    ext->has_crc = 1;
    memcpy(ext->crc, bytes + 10, 4);
  }
  tlx_trace("tlx_id3_v2_get_extended_header() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_get_padding_size(tlx_id3_context* ctx, uint32_t* size) {
  static const char kName[] = "tlx_id3_v2_get_padding_size";
  tlx_trace("tlx_id3_v2_get_padding_size() enter");
  if (ctx == NULL || size == NULL || ctx->work == NULL) {
    return Fail("in %s() parameter is invalid.", kName, TLX_ID3_E_PARAM);
  }
  // The query builds and drops a frame list of its own, so it must not run
  // while an editing transaction holds one.
  if (ctx->state != TLX_ID3_STATE_IDLE || ctx->work->frames_end != 0) {
    return Fail("in %s() transaction is invalid.", kName, TLX_ID3_E_STATE);
  }
  *size = 0;
  tlx_id3_v2_header header;
  int32_t rc = ReadHeaderRecord(ctx, &header, kName);
  if (rc != TLX_ID3_OK) return rc;
  rc = tlx_id3_v2_read_frame_list(ctx, &header);
  uint32_t frames_end = ctx->work->frames_end;
  tlx_id3_v2_reset_work(ctx);
  if (rc != TLX_ID3_OK) {
    return Fail("in %s() frame list cannot be built.", kName, TLX_ID3_E_OPEN);
  }
  // A last frame that runs past the end of the tag leaves no padding.
  uint64_t tag_end = static_cast<uint64_t>(static_cast<uint32_t>(header.size)) +
                     TLX_ID3_HEADER_SIZE;
  *size = frames_end < tag_end ? static_cast<uint32_t>(tag_end - frames_end) : 0;
  tlx_trace("tlx_id3_v2_get_padding_size() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_get_frame_total_num(tlx_id3_context* ctx, uint32_t* count) {
  static const char kName[] = "tlx_id3_v2_get_frame_total_num";
  tlx_trace("tlx_id3_v2_get_frame_total_num() enter");
  if (ctx == NULL || count == NULL) {
    return Fail("in %s() parameter is invalid.", kName, TLX_ID3_E_PARAM);
  }
  if (StateForbidsReading(ctx)) {
    return Fail("in %s() transaction is invalid.", kName, TLX_ID3_E_STATE);
  }
  tlx_id3_v2_walk_query query = {1, 0, 0, 0};
  tlx_id3_v2_walk_result result;
  int32_t rc = HeaderAndWalk(ctx, kName, false, &query, &result);
  if (rc != TLX_ID3_OK) return rc;
  *count = result.matches;
  tlx_trace("tlx_id3_v2_get_frame_total_num() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_get_frame_num(tlx_id3_context* ctx, uint32_t id, uint32_t* count) {
  static const char kName[] = "tlx_id3_v2_get_frame_num";
  tlx_trace("tlx_id3_v2_get_frame_num() enter");
  if (ctx == NULL || count == NULL) {
    return Fail("in %s() parameter is invalid.", kName, TLX_ID3_E_PARAM);
  }
  if (StateForbidsReading(ctx)) {
    return Fail("in %s() transaction is invalid.", kName, TLX_ID3_E_STATE);
  }
  tlx_id3_v2_walk_query query = {0, id, 0, 0};
  tlx_id3_v2_walk_result result;
  int32_t rc = HeaderAndWalk(ctx, kName, true, &query, &result);
  if (rc != TLX_ID3_OK) return rc;
  *count = result.matches;
  tlx_trace("tlx_id3_v2_get_frame_num() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_get_frame_header_by_index(tlx_id3_context* ctx, uint32_t index,
                                             tlx_id3_v2_frame_header* frame) {
  static const char kName[] = "tlx_id3_v2_get_frame_header_by_index";
  tlx_trace("tlx_id3_v2_get_frame_header_by_index() enter");
  if (ctx == NULL || frame == NULL) {
    return Fail("in %s() parameter is invalid.", kName, TLX_ID3_E_PARAM);
  }
  if (StateForbidsReading(ctx)) {
    return Fail("in %s() transaction is invalid.", kName, TLX_ID3_E_STATE);
  }
  tlx_id3_v2_walk_query query = {1, 0, 1, index};
  tlx_id3_v2_walk_result result;
  int32_t rc = HeaderAndWalk(ctx, kName, false, &query, &result);
  if (rc != TLX_ID3_OK) return rc;
  if (!result.stopped) {
    return Fail("in %s() ID3v2 frame is not found.", kName, TLX_ID3_E_NOT_FOUND);
  }
  *frame = result.frame;
  tlx_trace("tlx_id3_v2_get_frame_header_by_index() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_get_frame_header(tlx_id3_context* ctx, uint32_t id, uint32_t occurrence,
                                    tlx_id3_v2_frame_header* frame) {
  static const char kName[] = "tlx_id3_v2_get_frame_header";
  tlx_trace("tlx_id3_v2_get_frame_header() enter");
  if (ctx == NULL || frame == NULL) {
    return Fail("in %s() parameter is invalid.", kName, TLX_ID3_E_PARAM);
  }
  if (StateForbidsReading(ctx)) {
    return Fail("in %s() transaction is invalid.", kName, TLX_ID3_E_STATE);
  }
  tlx_id3_v2_walk_query query = {0, id, 1, occurrence};
  tlx_id3_v2_walk_result result;
  int32_t rc = HeaderAndWalk(ctx, kName, false, &query, &result);
  if (rc != TLX_ID3_OK) return rc;
  if (!result.stopped) {
    return Fail("in %s() ID3v2 frame is not found.", kName, TLX_ID3_E_NOT_FOUND);
  }
  *frame = result.frame;
  tlx_trace("tlx_id3_v2_get_frame_header() exit");
  return TLX_ID3_OK;
}
