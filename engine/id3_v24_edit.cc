// Editing an ID3v2.4 tag: the frame list with headers that stand on their
// own, the headers of new frames, and the copy of stored frames.
//
// The rewritten tag never has the tag-level unsynchronisation flag, and its
// frame sizes are always sync-safe. A stored frame is therefore listed with a
// sync-safe size (some writers stored plain integers), and one that was
// unsynchronised only through the tag's flag is copied with its stuffing
// removed. A frame with its own unsynchronisation flag is copied as stored.
#include <string.h>

#include "id3_frame_decode.h"
#include "id3_v24.h"

namespace {

const char kName[] = "tlx_id3_v24_read_frame_list";
const uint32_t kFrameHeaderSize = 10;
const uint32_t kMaxFrameSize = 0x0FFFFFFF;  // what a sync-safe size holds
const uint32_t kPiece = 4096;

int32_t Fail(const char* format, int32_t code) {
  tlx_trace_error(format, kName);
  return code;
}

// Only the tag's flag makes this frame's data unsynchronised.
bool TagOnlyUnsync(int32_t tag_unsync, const uint8_t* raw_header) {
  return tag_unsync && !(raw_header[9] & TLX_ID3_V24_UNSYNC);
}

// The stored data of a frame: from past its header and extra bytes to its
// declared end, bounded by the end of the file.
struct DataSpan {
  uint32_t at;
  uint32_t length;
};

DataSpan StoredData(const uint8_t* raw_header, uint32_t offset, uint32_t stored,
                    uint64_t file_end) {
  const uint32_t extra = tlx_id3_v24_extra_bytes(raw_header[9]);
  DataSpan span = {offset + kFrameHeaderSize + extra, 0};
  uint64_t end = static_cast<uint64_t>(offset) + kFrameHeaderSize + stored;
  if (end > file_end) end = file_end;
  if (end > span.at) span.length = static_cast<uint32_t>(end - span.at);
  return span;
}

// The stuffing bytes in a span of the file.
int32_t CountStuffing(tlx_id3_context* ctx, DataSpan span, uint32_t* count) {
  *count = 0;
  if (span.length == 0) return TLX_ID3_OK;
  if (tlx_id3_position_content(ctx, static_cast<int32_t>(span.at), 0) !=
      static_cast<int32_t>(span.at)) {
    return TLX_ID3_E_SEEK;
  }
  uint8_t piece[kPiece];
  int32_t after_ff = 0;
  for (uint32_t left = span.length; left > 0;) {
    const uint32_t n = left < kPiece ? left : kPiece;
    if (tlx_id3_read_content(ctx, piece, n) != static_cast<int32_t>(n)) return TLX_ID3_E_READ;
    *count += n - tlx_id3_remove_stuffing(piece, n, &after_ff);
    left -= n;
  }
  return TLX_ID3_OK;
}

// A list entry for the stored frame at offset whose header is raw.
int32_t NewStoredEntry(tlx_id3_context* ctx, const tlx_id3_v2_header* header,
                       const uint8_t* raw, uint32_t offset, uint32_t stored, uint64_t file_end,
                       tlx_id3_frame_entry** out) {
  *out = NULL;
  uint32_t stuffing = 0;
  if (TagOnlyUnsync(header->unsync, raw)) {
    int32_t rc = CountStuffing(ctx, StoredData(raw, offset, stored, file_end), &stuffing);
    if (rc != TLX_ID3_OK) return rc;
  }
  tlx_id3_frame_entry* entry =
      static_cast<tlx_id3_frame_entry*>(tlx_sqa_calloc(sizeof(tlx_id3_frame_entry)));
  if (entry == NULL) return TLX_ID3_E_NOMEM;
  memcpy(entry->raw_header, raw, kFrameHeaderSize);
  tlx_id3_syncsafe_encode(stored - stuffing, entry->raw_header + 4);
  entry->offset = offset;
  entry->data_size = stored;
  entry->length = kFrameHeaderSize + stored - stuffing;
  *out = entry;
  return TLX_ID3_OK;
}

int32_t Append(tlx_id3_context* ctx, tlx_list** tail, tlx_id3_frame_entry* entry) {
  tlx_list* appended = tlx_list_append(*tail, entry);
  tlx_list* node = *tail == NULL ? appended : (*tail)->next;
  if (node == NULL || node->data != entry) return TLX_ID3_E_NOMEM;
  if (ctx->work->frame_list == NULL) ctx->work->frame_list = node;
  *tail = node;
  return TLX_ID3_OK;
}

}  // namespace

extern "C" {

int32_t tlx_id3_v24_read_frame_list(tlx_id3_context* ctx, const tlx_id3_v2_header* header,
                                    uint64_t first, uint64_t end) {
  int32_t plain = 0;
  int32_t rc = tlx_id3_v24_size_mode(ctx, first, end, &plain);
  if (rc != TLX_ID3_OK) return Fail("in %s() TLX_SQA_READ() failed.", rc);
  const int32_t file_length = tlx_id3_position_content(ctx, 0, 2);
  if (file_length < 0) return Fail("in %s() tlx_lseek() failed.", TLX_ID3_E_SEEK);
  tlx_list* tail = tlx_list_last(ctx->work->frame_list);
  uint64_t offset = first;
  while (offset < end && end - offset >= kFrameHeaderSize) {
    uint8_t raw[kFrameHeaderSize];
    const int32_t at = static_cast<int32_t>(offset);
    if (tlx_id3_position_content(ctx, at, 0) != at) {
      return Fail("in %s() tlx_lseek() failed.", TLX_ID3_E_SEEK);
    }
    if (tlx_id3_read_content(ctx, raw, kFrameHeaderSize) != static_cast<int32_t>(kFrameHeaderSize)) {
      return Fail("in %s() TLX_SQA_READ() failed.", TLX_ID3_E_READ);
    }
    if (raw[0] == 0) break;  // padding
    const uint32_t stored = plain ? tlx_id3_be32_decode(raw + 4) : tlx_id3_syncsafe_decode(raw + 4);
    if (stored > kMaxFrameSize) {
      // No tag holds such a frame; it ends the list like the end of the tag.
      offset = end;
      break;
    }
    tlx_id3_frame_entry* entry = NULL;
    rc = NewStoredEntry(ctx, header, raw, static_cast<uint32_t>(offset), stored,
                        static_cast<uint64_t>(file_length), &entry);
    if (rc == TLX_ID3_OK) {
      rc = Append(ctx, &tail, entry);
      if (rc != TLX_ID3_OK) tlx_sqa_free(entry);
    }
    if (rc != TLX_ID3_OK) return Fail("in %s() a frame cannot be listed.", rc);
    offset += kFrameHeaderSize + static_cast<uint64_t>(stored);
  }
  ctx->work->frames_end = offset > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(offset);
  return TLX_ID3_OK;
}

int32_t tlx_id3_v24_encode_frame(const tlx_id3_v2_frame_header* frame,
                                 tlx_id3_frame_entry* entry) {
  uint8_t status = 0;
  if (frame->tag_alter_preserve) status |= 0x40;
  if (frame->file_alter_preserve) status |= 0x20;
  if (frame->read_only) status |= 0x10;
  uint8_t format = 0;
  entry->extra_len = 0;
  if (frame->grouping) {
    format |= TLX_ID3_V24_GROUPING;
    entry->extra[entry->extra_len++] = frame->group_id;
  }
  if (frame->encryption) {
    format |= TLX_ID3_V24_ENCRYPTION;
    entry->extra[entry->extra_len++] = frame->encryption_method;
  }
  if (frame->compression) format |= TLX_ID3_V24_COMPRESSION;
  if (frame->unsync) format |= TLX_ID3_V24_UNSYNC;
  // A compressed frame always declares the length of its inflated data.
  if (frame->data_length || frame->compression) {
    format |= TLX_ID3_V24_DATA_LENGTH;
    tlx_id3_syncsafe_encode(frame->decompressed_size, entry->extra + entry->extra_len);
    entry->extra_len += 4;
  }
  if (frame->size > kMaxFrameSize - entry->extra_len) return TLX_ID3_E_PARAM;
  tlx_id3_be32_encode(frame->id, entry->raw_header);
  tlx_id3_syncsafe_encode(entry->extra_len + frame->size, entry->raw_header + 4);
  entry->raw_header[8] = status;
  entry->raw_header[9] = format;
  entry->length = kFrameHeaderSize + entry->extra_len + frame->size;
  return TLX_ID3_OK;
}

int32_t tlx_id3_v24_copy_frame(tlx_id3_context* ctx, const tlx_id3_frame_entry* entry,
                               int32_t tag_unsync, tlx_id3_output_fn write) {
  if (write(ctx, entry->raw_header, kFrameHeaderSize) != static_cast<int32_t>(kFrameHeaderSize)) {
    return TLX_ID3_E_WRITE;
  }
  const int32_t at = static_cast<int32_t>(entry->offset + kFrameHeaderSize);
  if (tlx_id3_position_content(ctx, at, 0) != at) return TLX_ID3_E_SEEK;
  // The extra bytes are never unsynchronised; the data after them may be.
  const uint32_t extra = tlx_id3_v24_extra_bytes(entry->raw_header[9]);
  const bool filter = TagOnlyUnsync(tag_unsync, entry->raw_header);
  uint8_t piece[kPiece];
  int32_t after_ff = 0;
  uint32_t done = 0;
  for (uint32_t left = entry->data_size; left > 0;) {
    uint32_t n = left < kPiece ? left : kPiece;
    if (filter && done < extra && n > extra - done) n = extra - done;
    if (tlx_id3_read_content(ctx, piece, n) != static_cast<int32_t>(n)) return TLX_ID3_E_READ;
    const uint32_t kept = filter && done >= extra ? tlx_id3_remove_stuffing(piece, n, &after_ff) : n;
    if (kept > 0 && write(ctx, piece, kept) != static_cast<int32_t>(kept)) return TLX_ID3_E_WRITE;
    done += n;
    left -= n;
  }
  return TLX_ID3_OK;
}

}  // extern "C"
