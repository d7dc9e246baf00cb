// Reading and positioning in content bytes: with unsynchronisation, every
// 0x00 that follows a 0xFF in the file is stuffing and not content.
//
// Neither primitive ever writes: positioning past the end of the file stops at
// the end instead of growing the file, so reading a damaged tag through a
// writable context cannot change it.
#include <string.h>

#include "id3_internal.h"

namespace {

const char kReadName[] = "tlx_id3_read_content_unsync";
const char kSeekName[] = "tlx_id3_seek_content_unsync";

// After a read that ended on 0xFF, the next byte is stuffing when it is 0x00;
// any other byte is given back. Returns the extra bytes consumed (0 or 1) or
// -1 when giving a byte back fails.
int32_t ConsumeTrailingStuffing(tlx_id3_context* ctx) {
  uint8_t next = 0;
  int32_t got = tlx_id3_read_content(ctx, &next, 1);
  if (got < 1) return 0;  // end of file: nothing to give back
  if (next == 0x00) return 1;
  if (tlx_id3_seek_content(ctx, -1, 1) < 0) return -1;
  return 0;
}

}  // namespace

int32_t tlx_id3_read_content_unsync(tlx_id3_context* ctx, void* buffer, uint32_t count,
                                    int32_t unsync) {
  if (ctx == NULL || (buffer == NULL && count != 0)) {
    tlx_trace_error("in %s() parameter is invalid.", kReadName);
    return -1;
  }
  if (!unsync) return tlx_id3_read_content(ctx, buffer, count);

  // Work in bounded chunks rather than one block of the declared size: a
  // damaged tag may declare far more than the file holds.
  uint8_t chunk[TLX_ID3_CHUNK];
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint32_t have = 0;
  int64_t consumed = 0;
  uint8_t prev = 0;
  bool any = false;
  while (have < count) {
    uint32_t want = count - have;
    if (want > sizeof chunk) want = sizeof chunk;
    int32_t got = tlx_id3_read_content(ctx, chunk, want);
    if (got < 0 || static_cast<uint32_t>(got) < want) {
      tlx_trace_error("in %s() TLX_SQA_READ() failed.", kReadName);
      return -1;
    }
    for (uint32_t i = 0; i < want; ++i) {
      uint8_t b = chunk[i];
      if (!(b == 0x00 && any && prev == 0xFF)) out[have++] = b;
      prev = b;
      any = true;
    }
    consumed += want;
    if (consumed > INT32_MAX) return -1;
  }
  if (any && prev == 0xFF) {
    int32_t extra = ConsumeTrailingStuffing(ctx);
    if (extra < 0) {
      tlx_trace_error("in %s() tlx_lseek() failed.", kReadName);
      return -1;
    }
    consumed += extra;
  }
  return static_cast<int32_t>(consumed);
}

int32_t tlx_id3_seek_content_unsync(tlx_id3_context* ctx, uint32_t offset, int32_t whence,
                                    int32_t unsync) {
  if (ctx == NULL) {
    tlx_trace_error("in %s() parameter is invalid.", kSeekName);
    return -1;
  }
  int32_t origin = tlx_id3_seek_content(ctx, 0, whence);
  if (origin < 0) return -1;
  if (!unsync) {
    int64_t target = static_cast<int64_t>(origin) + offset;
    if (target > INT32_MAX) return -1;
    // Stops at the end of the file; no zero fill for a read.
    int32_t pos = tlx_id3_position_content(ctx, static_cast<int32_t>(target), 0);
    if (pos < 0) tlx_trace_error("in %s() tlx_lseek() failed.", kSeekName);
    return pos;
  }

  uint8_t chunk[TLX_ID3_CHUNK];
  uint32_t left = offset;
  int64_t sum = 0;
  uint8_t prev = 0;
  bool any = false;
  while (left > 0) {
    uint32_t want = left > sizeof chunk ? static_cast<uint32_t>(sizeof chunk) : left;
    int32_t got = tlx_id3_read_content(ctx, chunk, want);
    if (got < 0 || static_cast<uint32_t>(got) < want) {
      // A failed read, or the end of the file before the offset.
      tlx_trace_error("in %s() TLX_SQA_READ() failed.", kSeekName);
      return -1;
    }
    for (uint32_t i = 0; i < want; ++i) {
      uint8_t b = chunk[i];
      if (!(b == 0x00 && any && prev == 0xFF)) --left;
      prev = b;
      any = true;
    }
    sum += want;
  }
  if (any && prev == 0xFF) {
    int32_t extra = ConsumeTrailingStuffing(ctx);
    if (extra < 0) {
      tlx_trace_error("in %s() tlx_lseek() failed.", kSeekName);
      return -1;
    }
    sum += extra;
  }
  sum += origin;
  if (sum > INT32_MAX) return -1;
  return static_cast<int32_t>(sum);
}
