// The editing transaction: an in-memory list of the tag's frames that edits
// change, and the streaming of one frame's data into the rewritten file.
//
// Frames of the stored tag are never loaded; the list records where they
// lie and the rewrite copies them. Only new frames carry a copy of their data.
#include <string.h>

#include "id3_internal.h"
#include "id3_v24.h"

namespace {

const char kParamInvalid[] = "in %s() parameter is invalid.";
const char kStateInvalid[] = "in %s() transaction is invalid.";
const char kNotFound[] = "in %s() frame is not found.";
const char kReadOnly[] = "in %s() frame is read only.";
const char kCallocFailed[] = "in %s() tlx_sqa_calloc() failed.";
const char kMallocFailed[] = "in %s() tlx_sqa_malloc() failed.";

const uint8_t kStatusReadOnly = 0x20;
const uint8_t kStatusReadOnly24 = 0x10;
const uint32_t kMaxV22FrameSize = 0xFFFFFF;

tlx_id3_frame_entry* EntryAt(tlx_id3_context* ctx, int32_t index) {
  tlx_list* node = tlx_list_nth(tlx_list_first(ctx->work->frame_list), (uint32_t)index);
  return node != nullptr ? static_cast<tlx_id3_frame_entry*>(node->data) : nullptr;
}

void FreeEntry(tlx_id3_frame_entry* entry) {
  if (entry == nullptr) return;
  tlx_sqa_free(entry->data);
  tlx_sqa_free(entry);
}

// Allocates an entry and fills it from a frame record; data may be null (a
// streamed frame). On failure nothing stays allocated.
int32_t NewEntry(tlx_id3_context* ctx, const char* function,
                 const tlx_id3_v2_frame_header* frame, const uint8_t* data,
                 tlx_id3_frame_entry** out) {
  *out = nullptr;
  tlx_id3_frame_entry* entry =
      static_cast<tlx_id3_frame_entry*>(tlx_sqa_calloc(sizeof(tlx_id3_frame_entry)));
  if (entry == nullptr) {
    tlx_trace_error(kCallocFailed, function);
    return TLX_ID3_E_NOMEM;
  }
  int32_t rc = tlx_id3_v2_set_frame(ctx, entry, frame, data);
  if (rc != TLX_ID3_OK) {
    FreeEntry(entry);
    return rc;
  }
  *out = entry;
  return TLX_ID3_OK;
}

// Links entry at the tail or the head of the list. The list reports a failed
// node allocation only by returning itself unchanged.
int32_t LinkEntry(tlx_id3_context* ctx, const char* function, tlx_id3_frame_entry* entry,
                  bool at_head) {
  tlx_list* list = tlx_list_first(ctx->work->frame_list);
  tlx_list* result = at_head ? tlx_list_prepend(list, entry) : tlx_list_append(list, entry);
  tlx_list* check = at_head ? tlx_list_first(result) : tlx_list_last(result);
  if (check == nullptr || check->data != entry) {
    tlx_trace_error(kCallocFailed, function);
    return TLX_ID3_E_NOMEM;
  }
  ctx->work->frame_list = tlx_list_first(result);
  return TLX_ID3_OK;
}

// Puts entry in the place of the frame at index; the old entry is freed.
// No allocation, so a replacement never loses the old frame halfway.
void SwapEntry(tlx_id3_context* ctx, int32_t index, tlx_id3_frame_entry* entry) {
  tlx_list* node = tlx_list_nth(tlx_list_first(ctx->work->frame_list), (uint32_t)index);
  FreeEntry(static_cast<tlx_id3_frame_entry*>(node->data));
  node->data = entry;
}

// Finds the frame to change and refuses a read-only one.
int32_t FindWritable(tlx_id3_context* ctx, const char* function, uint32_t id,
                     uint32_t occurrence, int32_t* index) {
  *index = tlx_id3_v2_find_frame(ctx, id, occurrence);
  if (*index < 0) {
    tlx_trace_error(kNotFound, function);
    return TLX_ID3_E_NOT_FOUND;
  }
  if (tlx_id3_v2_is_read_only(ctx, *index)) {
    tlx_trace_error(kReadOnly, function);
    return TLX_ID3_E_PARAM;
  }
  return TLX_ID3_OK;
}

int32_t AddFrame(tlx_id3_context* ctx, const tlx_id3_v2_frame_header* frame,
                 const uint8_t* data, bool at_head, const char* function) {
  if (ctx == nullptr || frame == nullptr || data == nullptr || ctx->work == nullptr) {
    tlx_trace_error(kParamInvalid, function);
    return TLX_ID3_E_PARAM;
  }
  if (ctx->state != TLX_ID3_STATE_EDITING) {
    tlx_trace_error(kStateInvalid, function);
    return TLX_ID3_E_STATE;
  }
  tlx_id3_frame_entry* entry = nullptr;
  int32_t rc = NewEntry(ctx, function, frame, data, &entry);
  if (rc != TLX_ID3_OK) return rc;
  rc = LinkEntry(ctx, function, entry, at_head);
  if (rc != TLX_ID3_OK) FreeEntry(entry);
  return rc;
}

// Loads the stored tag's extended header (when flagged) and its frame list
// into the work area. Shared by edit_begin and edit_frame_init. An ID3v2.4
// extended header is not kept: the rewrite drops it.
int32_t LoadTag(tlx_id3_context* ctx, const tlx_id3_v2_header* header) {
  if (header->has_ext_header && header->version != TLX_ID3_V24) {
    int32_t rc = tlx_id3_v2_get_exist_ex_header(ctx);
    if (rc != TLX_ID3_OK) return rc;
  }
  return tlx_id3_v2_read_frame_list(ctx, header);
}

}  // namespace

extern "C" {

int32_t tlx_id3_v2_find_frame(tlx_id3_context* ctx, uint32_t id, uint32_t occurrence) {
  if (ctx == nullptr || ctx->work == nullptr) return -1;
  size_t id_len;
  switch (ctx->work->version) {
    case TLX_ID3_V22: id_len = 3; break;
    case TLX_ID3_V23:
    case TLX_ID3_V24: id_len = 4; break;
    default: return -1;
  }
  uint8_t want[4];
  tlx_id3_be32_encode(id, want);
  int32_t index = 0;
  uint32_t seen = 0;
  for (tlx_list* node = tlx_list_first(ctx->work->frame_list); node != nullptr;
       node = node->next, ++index) {
    const tlx_id3_frame_entry* entry = static_cast<const tlx_id3_frame_entry*>(node->data);
    if (memcmp(entry->raw_header, want, id_len) != 0) continue;
    if (seen == occurrence) return index;
    ++seen;
  }
  return -1;
}

int32_t tlx_id3_v2_is_read_only(tlx_id3_context* ctx, int32_t index) {
  if (ctx == nullptr || ctx->work == nullptr || index < 0) return 0;
  uint8_t flag;
  switch (ctx->work->version) {
    case TLX_ID3_V23: flag = kStatusReadOnly; break;
    case TLX_ID3_V24: flag = kStatusReadOnly24; break;
    default: return 0;
  }
  const tlx_id3_frame_entry* entry = EntryAt(ctx, index);
  if (entry == nullptr || entry->offset == 0 || entry->data != nullptr) return 0;
  return (entry->raw_header[8] & flag) ? 1 : 0;
}

int32_t tlx_id3_v2_set_frame(tlx_id3_context* ctx, tlx_id3_frame_entry* entry,
                             const tlx_id3_v2_frame_header* frame, const uint8_t* data) {
  static const char kName[] = "tlx_id3_v2_set_frame";
  if (ctx == nullptr || ctx->work == nullptr || entry == nullptr || frame == nullptr) {
    tlx_trace_error(kParamInvalid, kName);
    return TLX_ID3_E_PARAM;
  }
  memset(entry->raw_header, 0, sizeof entry->raw_header);
  memset(entry->extra, 0, sizeof entry->extra);
  entry->extra_len = 0;
  entry->length = 0;
  uint8_t id_bytes[4];
  tlx_id3_be32_encode(frame->id, id_bytes);
  switch (ctx->work->version) {
    case TLX_ID3_V22:
      // The 24-bit size field cannot describe a larger frame.
      if (frame->size > kMaxV22FrameSize) {
        tlx_trace_error(kParamInvalid, kName);
        return TLX_ID3_E_PARAM;
      }
      memcpy(entry->raw_header, id_bytes, 3);
      tlx_id3_be24_encode(frame->size, entry->raw_header + 3);
      entry->length = frame->size + 6;
      break;
    case TLX_ID3_V23: {
      memcpy(entry->raw_header, id_bytes, 4);
      uint8_t status = 0;
      uint8_t format = 0;
      if (frame->tag_alter_preserve) status |= 0x80;
      if (frame->file_alter_preserve) status |= 0x40;
      if (frame->read_only) status |= 0x20;
      if (frame->compression) {
        format |= 0x80;
        tlx_id3_be32_encode(frame->decompressed_size, entry->extra);
        entry->extra_len = 4;
      }
      if (frame->encryption) {
        format |= 0x40;
        entry->extra[entry->extra_len++] = frame->encryption_method;
      }
      if (frame->grouping) {
        format |= 0x20;
        entry->extra[entry->extra_len++] = frame->group_id;
      }
      if (frame->size > 0x7FFFFFFFu - 16) {
        tlx_trace_error(kParamInvalid, kName);
        return TLX_ID3_E_PARAM;
      }
      entry->raw_header[8] = status;
      entry->raw_header[9] = format;
      tlx_id3_be32_encode(entry->extra_len + frame->size, entry->raw_header + 4);
      entry->length = entry->extra_len + frame->size + 10;
      break;
    }
    case TLX_ID3_V24:
      if (tlx_id3_v24_encode_frame(frame, entry) != TLX_ID3_OK) {
        tlx_trace_error(kParamInvalid, kName);
        return TLX_ID3_E_PARAM;
      }
      break;
    default:
      break;
  }
  entry->data_size = frame->size;
  if (data != nullptr) {
    // A one-byte block for an empty frame keeps it a new frame (data set).
    uint8_t* copy = static_cast<uint8_t*>(tlx_sqa_malloc(frame->size != 0 ? frame->size : 1));
    if (copy == nullptr) {
      tlx_trace_error(kMallocFailed, kName);
      return TLX_ID3_E_NOMEM;
    }
    if (frame->size != 0) memcpy(copy, data, frame->size);
    tlx_sqa_free(entry->data);
    entry->data = copy;
  }
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_get_exist_ex_header(tlx_id3_context* ctx) {
  static const char kName[] = "tlx_id3_v2_get_exist_ex_header";
  if (ctx == nullptr || ctx->work == nullptr) {
    tlx_trace_error(kParamInvalid, kName);
    return TLX_ID3_E_PARAM;
  }
  tlx_id3_v2_header header;
  int32_t rc = tlx_id3_v2_get_header(ctx, &header);
  if (rc != TLX_ID3_OK) return rc;
  uint8_t* block = static_cast<uint8_t*>(tlx_sqa_calloc(14));
  if (block == nullptr) {
    tlx_trace_error(kMallocFailed, kName);
    return TLX_ID3_E_NOMEM;
  }
  if (tlx_id3_seek_content_unsync(ctx, TLX_ID3_HEADER_SIZE, 0, header.unsync) < 0) {
    tlx_sqa_free(block);
    return TLX_ID3_E_SEEK;
  }
  if (tlx_id3_read_content_unsync(ctx, block, 14, header.unsync) < 14) {
    tlx_sqa_free(block);
    return TLX_ID3_E_READ;
  }
  // Only sizes 6 (no CRC) and 10 (CRC) exist; a held header is written back
  // as 4 + size bytes, so an odd size field is brought in line with the CRC
  // flag rather than trusted.
  tlx_id3_be32_encode((block[4] & 0x80) ? 10 : 6, block);
  if (!(block[4] & 0x80)) memset(block + 10, 0, 4);
  tlx_sqa_free(ctx->work->ext_header);
  ctx->work->ext_header = block;
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_get_header_for_edit(tlx_id3_context* ctx, tlx_id3_v2_header* header,
                                       int32_t* present) {
  *present = 0;
  int32_t rc = tlx_id3_v2_get_header(ctx, header);
  if (rc == TLX_ID3_OK) {
    *present = 1;
    return TLX_ID3_OK;
  }
  if (rc == TLX_ID3_E_READ && ctx->content_kind == 0) {
    // A short read of the header is a missing tag only when the file is too
    // short to hold one.
    int32_t length = tlx_id3_position_content(ctx, 0, 2);
    if (length < 0) return TLX_ID3_E_SEEK;
    if (length >= TLX_ID3_HEADER_SIZE) return rc;
  } else if (rc != TLX_ID3_E_NOT_FOUND && rc != TLX_ID3_E_UNSUPPORTED) {
    return rc;
  }
  memset(header, 0, sizeof *header);
  header->version = TLX_ID3_V23;
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_edit_begin(tlx_id3_context* ctx) {
  static const char kName[] = "tlx_id3_v2_edit_begin";
  tlx_trace("tlx_id3_v2_edit_begin() enter");
  int32_t rc = tlx_id3_check_state(ctx, TLX_ID3_STATE_IDLE, kName);
  if (rc != TLX_ID3_OK) return rc;
  // An unreadable header must not pass for a missing tag: the commit would
  // drop every stored frame.
  tlx_id3_v2_header header;
  int32_t present;
  rc = tlx_id3_v2_get_header_for_edit(ctx, &header, &present);
  if (rc != TLX_ID3_OK) {
    tlx_trace_error("in %s() ID3v2 header cannot be read.", kName);
    return rc;
  }
  ctx->state = TLX_ID3_STATE_EDITING;
  ctx->work->version = header.version;
  rc = LoadTag(ctx, &header);
  if (rc != TLX_ID3_OK) {
    // A partial list would let a later commit drop the frames that were not
    // listed: leave no transaction behind instead.
    tlx_id3_v2_reset_work(ctx);
    return rc;
  }
  tlx_trace("tlx_id3_v2_edit_begin() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_remove_frame(tlx_id3_context* ctx, uint32_t id, uint32_t occurrence) {
  static const char kName[] = "tlx_id3_v2_remove_frame";
  tlx_trace("tlx_id3_v2_remove_frame() enter");
  int32_t rc = tlx_id3_check_state(ctx, TLX_ID3_STATE_EDITING, kName);
  if (rc != TLX_ID3_OK) return rc;
  int32_t index;
  rc = FindWritable(ctx, kName, id, occurrence, &index);
  if (rc != TLX_ID3_OK) return rc;
  tlx_id3_frame_entry* entry = EntryAt(ctx, index);
  ctx->work->frame_list = tlx_list_first(tlx_list_remove(tlx_list_first(ctx->work->frame_list), entry));
  FreeEntry(entry);
  tlx_trace("tlx_id3_v2_remove_frame() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_add_frame(tlx_id3_context* ctx, const tlx_id3_v2_frame_header* frame,
                             const uint8_t* data) {
  tlx_trace("tlx_id3_v2_add_frame() enter");
  int32_t rc = AddFrame(ctx, frame, data, false, "tlx_id3_v2_add_frame");
  if (rc == TLX_ID3_OK) tlx_trace("tlx_id3_v2_add_frame() exit");
  return rc;
}

int32_t tlx_id3_v2_add_frame_at_head(tlx_id3_context* ctx,
                                     const tlx_id3_v2_frame_header* frame,
                                     const uint8_t* data) {
  tlx_trace("tlx_id3_v2_add_frame_at_head() enter");
  int32_t rc = AddFrame(ctx, frame, data, true, "tlx_id3_v2_add_frame_at_head");
  if (rc == TLX_ID3_OK) tlx_trace("tlx_id3_v2_add_frame_at_head() exit");
  return rc;
}

int32_t tlx_id3_v2_update_frame(tlx_id3_context* ctx, const tlx_id3_v2_frame_header* frame,
                                const uint8_t* data, uint32_t occurrence) {
  static const char kName[] = "tlx_id3_v2_update_frame";
  tlx_trace("tlx_id3_v2_update_frame() enter");
  if (ctx == nullptr || frame == nullptr || data == nullptr || ctx->work == nullptr) {
    tlx_trace_error(kParamInvalid, kName);
    return TLX_ID3_E_PARAM;
  }
  if (ctx->state != TLX_ID3_STATE_EDITING) {
    tlx_trace_error(kStateInvalid, kName);
    return TLX_ID3_E_STATE;
  }
  int32_t index;
  int32_t rc = FindWritable(ctx, kName, frame->id, occurrence, &index);
  if (rc != TLX_ID3_OK) return rc;
  // The new entry is built before the old one goes, so a failure keeps the
  // old frame in the list.
  tlx_id3_frame_entry* entry = nullptr;
  rc = NewEntry(ctx, kName, frame, data, &entry);
  if (rc != TLX_ID3_OK) return rc;
  SwapEntry(ctx, index, entry);
  tlx_trace("tlx_id3_v2_update_frame() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_edit_end(tlx_id3_context* ctx) {
  static const char kName[] = "tlx_id3_v2_edit_end";
  tlx_trace("tlx_id3_v2_edit_end() enter");
  int32_t rc = tlx_id3_check_state(ctx, TLX_ID3_STATE_EDITING, kName);
  if (rc != TLX_ID3_OK) return rc;
  tlx_id3_v2_header header;
  int32_t present;
  rc = tlx_id3_v2_get_header_for_edit(ctx, &header, &present);
  if (rc != TLX_ID3_OK) {
    tlx_trace_error("in %s() ID3v2 header cannot be read.", kName);
    return rc;
  }
  rc = tlx_id3_v2_commit(ctx, &header);
  if (rc != TLX_ID3_OK) {
    // Without its content the list cannot be committed again (and after a
    // rename it describes a file that is gone): end the transaction.
    if (ctx->fd == TLX_INVALID_HANDLE) tlx_id3_v2_reset_work(ctx);
    return rc;
  }
  tlx_id3_v2_reset_work(ctx);
  tlx_trace("tlx_id3_v2_edit_end() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_edit_frame_init(tlx_id3_context* ctx, const tlx_id3_v2_frame_header* frame,
                                   int32_t placement, uint32_t occurrence) {
  static const char kName[] = "tlx_id3_v2_edit_frame_init";
  tlx_trace("tlx_id3_v2_edit_frame_init() enter");
  if (ctx == nullptr || frame == nullptr || ctx->work == nullptr) {
    tlx_trace_error(kParamInvalid, kName);
    return TLX_ID3_E_PARAM;
  }
  if (ctx->state != TLX_ID3_STATE_IDLE) {
    tlx_trace_error(kStateInvalid, kName);
    return TLX_ID3_E_STATE;
  }
  if (placement != TLX_ID3_PLACE_APPEND && placement != TLX_ID3_PLACE_HEAD &&
      placement != TLX_ID3_PLACE_REPLACE) {
    tlx_trace_error(kParamInvalid, kName);
    return TLX_ID3_E_PARAM;
  }
  tlx_id3_v2_header header;
  int32_t rc = tlx_id3_v2_get_header(ctx, &header);
  if (rc != TLX_ID3_OK) return rc;
  ctx->work->version = header.version;
  rc = LoadTag(ctx, &header);
  tlx_id3_frame_entry* entry = nullptr;
  if (rc == TLX_ID3_OK) rc = NewEntry(ctx, kName, frame, nullptr, &entry);
  if (rc == TLX_ID3_OK) {
    if (placement == TLX_ID3_PLACE_REPLACE) {
      int32_t index;
      rc = FindWritable(ctx, kName, frame->id, occurrence, &index);
      if (rc == TLX_ID3_OK) SwapEntry(ctx, index, entry);
    } else {
      rc = LinkEntry(ctx, kName, entry, placement == TLX_ID3_PLACE_HEAD);
    }
    if (rc != TLX_ID3_OK) FreeEntry(entry);
  }
  if (rc == TLX_ID3_OK) rc = tlx_id3_v2_commit(ctx, &header);
  if (rc != TLX_ID3_OK) {
    tlx_id3_v2_reset_work(ctx);
    return rc;
  }
  ctx->remaining = frame->size;
  ctx->work->write_len = 0;
  ctx->state = TLX_ID3_STATE_WRITING;
  tlx_trace("tlx_id3_v2_edit_frame_init() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_edit_frame_progress(tlx_id3_context* ctx, uint32_t size,
                                       const uint8_t* data) {
  static const char kName[] = "tlx_id3_v2_edit_frame_progress";
  if (ctx == nullptr || data == nullptr || size == 0 || ctx->work == nullptr) {
    tlx_trace_error(kParamInvalid, kName);
    return TLX_ID3_E_PARAM;
  }
  if (ctx->state != TLX_ID3_STATE_WRITING) {
    tlx_trace_error(kStateInvalid, kName);
    return TLX_ID3_E_STATE;
  }
  tlx_id3_work* work = ctx->work;
  if (size > ctx->remaining - work->write_len) {
    tlx_trace_error("in %s() write size is over.", kName);
    return TLX_ID3_E_PARAM;
  }
  while (size > 0) {
    uint32_t room = TLX_ID3_WRITE_BUF_SIZE - work->write_len;
    uint32_t take = size < room ? size : room;
    memcpy(work->write_buf + work->write_len, data, take);
    work->write_len += take;
    data += take;
    size -= take;
    if (work->write_len == TLX_ID3_WRITE_BUF_SIZE) {
      int32_t rc = tlx_id3_write_buffer(ctx, work->write_len);
      if (rc != TLX_ID3_OK) return rc;
    }
  }
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_edit_frame_fin(tlx_id3_context* ctx) {
  static const char kName[] = "tlx_id3_v2_edit_frame_fin";
  tlx_trace("tlx_id3_v2_edit_frame_fin() enter");
  int32_t rc = tlx_id3_check_state(ctx, TLX_ID3_STATE_WRITING, kName);
  if (rc != TLX_ID3_OK) return rc;
  if (ctx->work->write_len != 0) {
    rc = tlx_id3_write_buffer(ctx, ctx->work->write_len);
    if (rc != TLX_ID3_OK) return rc;
  }
  if (ctx->remaining != 0) {
    tlx_trace_error("in %s() frame data is lack.", kName);
    return TLX_ID3_E_PARAM;
  }
  tlx_id3_v2_reset_work(ctx);
  tlx_trace("tlx_id3_v2_edit_frame_fin() exit");
  return TLX_ID3_OK;
}

}  // extern "C"
