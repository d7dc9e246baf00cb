// Reading ID3v2.4: the extended header, the frame header and its extra
// bytes, and which size encoding the frames of a tag really use.
//
// Sizes read here are claims, as everywhere in the walk: sums are kept in 64
// bits, and a size too small for the extra bytes it announces leaves no data.
#include <string.h>

#include "id3_v24.h"

namespace {

const uint8_t kStatusTagAlter = 0x40;
const uint8_t kStatusFileAlter = 0x20;
const uint8_t kStatusReadOnly = 0x10;
const uint8_t kExtFlagCrc = 0x20;
const uint8_t kExtFlagUpdate = 0x40;
const uint32_t kFrameHeaderSize = 10;
// The smallest extended header: size, flag count, one flags byte.
const uint32_t kMinExtSize = 6;

int32_t ReadAt(tlx_id3_context* ctx, uint64_t offset, uint8_t* bytes, uint32_t count) {
  if (offset > INT32_MAX) return TLX_ID3_E_SEEK;
  int32_t at = static_cast<int32_t>(offset);
  if (tlx_id3_position_content(ctx, at, 0) != at) return TLX_ID3_E_SEEK;
  int32_t got = tlx_id3_read_content(ctx, bytes, count);
  return got == static_cast<int32_t>(count) ? TLX_ID3_OK : TLX_ID3_E_READ;
}

bool IdChar(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

bool ValidId(const uint8_t* id) {
  return IdChar(id[0]) && IdChar(id[1]) && IdChar(id[2]) && IdChar(id[3]);
}

bool AllZero(const uint8_t* bytes, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

// One walk over the frame headers with one size encoding: how many frames
// carry a valid identifier, and how far past the end the walk lands
// (negative when it stops on padding).
struct SizeWalk {
  uint32_t valid = 0;
  uint32_t invalid = 0;
  int64_t overshoot = 0;
  bool unsafe_byte = false;  // a valid frame's size byte has bit 7 set
};

int32_t WalkSizes(tlx_id3_context* ctx, uint64_t first, uint64_t end, bool plain,
                  SizeWalk* walk) {
  const uint64_t length = end - first;
  uint64_t o = 0;
  while (o + kFrameHeaderSize < length) {
    uint8_t raw[kFrameHeaderSize];
    int32_t rc = ReadAt(ctx, first + o, raw, kFrameHeaderSize);
    if (rc != TLX_ID3_OK) return rc;
    if (AllZero(raw, kFrameHeaderSize)) {
      walk->overshoot = -static_cast<int64_t>((length - o) % kFrameHeaderSize);
      return TLX_ID3_OK;
    }
    bool valid = ValidId(raw);
    if (valid && (raw[4] | raw[5] | raw[6] | raw[7]) & 0x80) walk->unsafe_byte = true;
    const uint32_t size = plain ? tlx_id3_be32_decode(raw + 4) : tlx_id3_syncsafe_decode(raw + 4);
    o += kFrameHeaderSize + static_cast<uint64_t>(size);  // 64 bits: 10 + 0xFFFFFFF6 is no step
    if (valid) {
      ++walk->valid;
    } else {
      ++walk->invalid;
    }
  }
  walk->overshoot = static_cast<int64_t>(o - length);
  return TLX_ID3_OK;
}

}  // namespace

extern "C" {

int32_t tlx_id3_v24_enabled(const tlx_id3_context* ctx) {
  return ctx != NULL && ctx->work != NULL && (ctx->work->options & TLX_ID3_OPTION_V24) != 0;
}

uint32_t tlx_id3_v24_extra_bytes(uint8_t format) {
  uint32_t extra = 0;
  if (format & TLX_ID3_V24_GROUPING) extra += 1;
  if (format & TLX_ID3_V24_ENCRYPTION) extra += 1;
  if (format & TLX_ID3_V24_DATA_LENGTH) extra += 4;
  return extra;
}

int32_t tlx_id3_v24_first_frame_offset(tlx_id3_context* ctx, uint32_t* offset) {
  uint8_t size[4];
  int32_t rc = ReadAt(ctx, TLX_ID3_HEADER_SIZE, size, sizeof size);
  if (rc != TLX_ID3_OK) return rc;
  // Some taggers set the flag without writing an extended header: a frame
  // identifier stands there, which no sync-safe size of one can look like.
  if (ValidId(size)) {
    *offset = TLX_ID3_HEADER_SIZE;
    return TLX_ID3_OK;
  }
  uint32_t ext = tlx_id3_syncsafe_decode(size);
  *offset = TLX_ID3_HEADER_SIZE + (ext < kMinExtSize ? kMinExtSize : ext);
  return TLX_ID3_OK;
}

int32_t tlx_id3_v24_read_extended_header(tlx_id3_context* ctx,
                                         tlx_id3_v2_extended_header* ext) {
  // Size, flag count, flags; then each flagged field's length byte and data,
  // in the order update (no data), CRC (5 bytes), restrictions.
  uint8_t bytes[6 + 1 + 1 + 5];
  memset(bytes, 0, sizeof bytes);
  int32_t rc = ReadAt(ctx, TLX_ID3_HEADER_SIZE, bytes, 6);
  if (rc != TLX_ID3_OK) return rc;
  if (ValidId(bytes)) return TLX_ID3_E_NOT_FOUND;  // only the flag, see above
  const uint8_t flags = bytes[5];
  if (!(flags & kExtFlagCrc)) return TLX_ID3_OK;
  uint32_t at = 6 + ((flags & kExtFlagUpdate) ? 1 : 0);
  rc = ReadAt(ctx, TLX_ID3_HEADER_SIZE + at, bytes + 6, 6);
  if (rc != TLX_ID3_OK) return rc;
  ext->has_crc = 1;
  memcpy(ext->crc, bytes + 7, 5);
  return TLX_ID3_OK;
}

int32_t tlx_id3_v24_size_mode(tlx_id3_context* ctx, uint64_t first, uint64_t end,
                              int32_t* plain) {
  *plain = 0;
  if (end <= first) return TLX_ID3_OK;
  SizeWalk syncsafe;
  int32_t rc = WalkSizes(ctx, first, end, false, &syncsafe);
  if (rc != TLX_ID3_OK) return rc;
  // A size byte with bit 7 set cannot be sync-safe.
  if (syncsafe.unsafe_byte) {
    *plain = 1;
    return TLX_ID3_OK;
  }
  // A walk that meets only valid frames and ends on the padding or at the
  // end leaves nothing for plain sizes to win.
  if (syncsafe.invalid == 0 && syncsafe.overshoot <= 0) return TLX_ID3_OK;
  SizeWalk as_int;
  rc = WalkSizes(ctx, first, end, true, &as_int);
  if (rc != TLX_ID3_OK) return rc;
  *plain = as_int.valid > syncsafe.valid ||
           (as_int.valid == syncsafe.valid && syncsafe.overshoot >= 1 && as_int.overshoot <= 1);
  return TLX_ID3_OK;
}

void tlx_id3_v24_decode_frame_header(const uint8_t* raw, int32_t plain_sizes,
                                     tlx_id3_v2_frame_header* frame, uint64_t* consumed) {
  memset(frame, 0, sizeof *frame);
  frame->id = TLX_ID3_FRAME_ID(raw[0], raw[1], raw[2], raw[3]);
  frame->size = plain_sizes ? tlx_id3_be32_decode(raw + 4) : tlx_id3_syncsafe_decode(raw + 4);
  *consumed = kFrameHeaderSize + static_cast<uint64_t>(frame->size);
  const uint8_t status = raw[8];
  const uint8_t format = raw[9];
  frame->tag_alter_preserve = (status & kStatusTagAlter) ? 1 : 0;
  frame->file_alter_preserve = (status & kStatusFileAlter) ? 1 : 0;
  frame->read_only = (status & kStatusReadOnly) ? 1 : 0;
  frame->grouping = (format & TLX_ID3_V24_GROUPING) ? 1 : 0;
  frame->compression = (format & TLX_ID3_V24_COMPRESSION) ? 1 : 0;
  frame->encryption = (format & TLX_ID3_V24_ENCRYPTION) ? 1 : 0;
  frame->unsync = (format & TLX_ID3_V24_UNSYNC) ? 1 : 0;
  frame->data_length = (format & TLX_ID3_V24_DATA_LENGTH) ? 1 : 0;
}

void tlx_id3_v24_decode_frame_extra(const uint8_t* extra, tlx_id3_v2_frame_header* frame) {
  const uint32_t extra_len = (frame->grouping ? 1u : 0u) + (frame->encryption ? 1u : 0u) +
                             (frame->data_length ? 4u : 0u);
  if (extra_len == 0) return;
  uint32_t at = 0;
  if (frame->grouping) frame->group_id = extra[at++];
  if (frame->encryption) frame->encryption_method = extra[at++];
  if (frame->data_length) frame->decompressed_size = tlx_id3_syncsafe_decode(extra + at);
  frame->size = frame->size >= extra_len ? frame->size - extra_len : 0;
}

int32_t tlx_id3_v24_parse_frame_header(tlx_id3_context* ctx, uint64_t remaining,
                                       int32_t plain_sizes, tlx_id3_v2_frame_header* frame,
                                       uint64_t* consumed) {
  memset(frame, 0, sizeof *frame);
  *consumed = 0;
  if (remaining < kFrameHeaderSize) return TLX_ID3_OK;
  uint8_t raw[kFrameHeaderSize];
  if (tlx_id3_read_content(ctx, raw, kFrameHeaderSize) != static_cast<int32_t>(kFrameHeaderSize)) {
    return TLX_ID3_E_READ;
  }
  tlx_id3_v24_decode_frame_header(raw, plain_sizes, frame, consumed);
  uint8_t extra[6];
  const uint32_t extra_len = tlx_id3_v24_extra_bytes(raw[9]);
  if (extra_len == 0) return TLX_ID3_OK;
  if (tlx_id3_read_content(ctx, extra, extra_len) != static_cast<int32_t>(extra_len)) {
    return TLX_ID3_E_READ;
  }
  tlx_id3_v24_decode_frame_extra(extra, frame);
  return TLX_ID3_OK;
}

}  // extern "C"
