// Frame data: read whole (unsynchronisation removed, with TLX_ID3_OPTION_V24
// compressed data inflated, big-endian UTF-16 text turned little-endian),
// streamed as stored, or located by file offset.
#include <string.h>

#include "id3_frame_decode.h"
#include "id3_internal.h"
#include "id3_v2_walk.h"

namespace {

int32_t Fail(const char* format, const char* name, int32_t code) {
  tlx_trace_error(format, name);
  return code;
}

bool StateForbidsReading(const tlx_id3_context* ctx) {
  return ctx->state == TLX_ID3_STATE_READING || ctx->state == TLX_ID3_STATE_WRITING;
}

const uint32_t kWxx = TLX_ID3_FRAME_ID('W', 'X', 'X', 0);
const uint32_t kWxxx = TLX_ID3_FRAME_ID('W', 'X', 'X', 'X');
const uint32_t kTxx = TLX_ID3_FRAME_ID('T', 'X', 'X', 0);
const uint32_t kTxxx = TLX_ID3_FRAME_ID('T', 'X', 'X', 'X');
const uint32_t kCom = TLX_ID3_FRAME_ID('C', 'O', 'M', 0);
const uint32_t kComm = TLX_ID3_FRAME_ID('C', 'O', 'M', 'M');

// Turns the UTF-16 string whose byte-order mark stands at `at` little-endian
// when the mark is FE FF: swaps every whole pair up to the first 00 00 pair
// and rewrites the mark. Returns the offset just past the string's
// terminator, or n when it has none within the data.
uint32_t SwapString(uint8_t* data, uint32_t n, uint32_t at) {
  bool big_endian = at + 1 < n && data[at] == 0xFE && data[at + 1] == 0xFF;
  bool little_endian = at + 1 < n && data[at] == 0xFF && data[at + 1] == 0xFE;
  if (!big_endian && !little_endian) return n;
  uint32_t i = at + 2;
  for (; i + 1 < n; i += 2) {
    if (data[i] == 0 && data[i + 1] == 0) {
      i += 2;
      break;
    }
    if (big_endian) {
      uint8_t t = data[i];
      data[i] = data[i + 1];
      data[i + 1] = t;
    }
  }
  if (big_endian) {
    data[at] = 0xFF;
    data[at + 1] = 0xFE;
  }
  return i < n ? i : n;
}

// UTF-16 text with encoding byte 1 is handed out little-endian, the form the
// rest of the library works in. Text, user-defined URL descriptions and, so
// that no stored string is left big-endian, the value of a user-defined text
// frame and both strings of a comment.
void ToLittleEndian(uint32_t id, uint8_t* data, uint32_t n) {
  if (n <= 2 || data[0] != 1) return;
  bool text = (id >> 24) == 'T';
  if (text || id == kWxx || id == kWxxx) {
    uint32_t next = SwapString(data, n, 1);
    if (id == kTxx || id == kTxxx) SwapString(data, n, next);
  } else if (id == kCom || id == kComm) {
    uint32_t next = SwapString(data, n, 4);
    SwapString(data, n, next);
  }
}

// Whether ToLittleEndian may change the data: UTF-16 text of a frame it
// converts with a big-endian byte-order mark somewhere. A false alarm only
// costs a copy.
bool MayHoldBigEndianText(uint32_t id, const uint8_t* data, uint32_t n) {
  if (n <= 2 || data[0] != 1) return false;
  if ((id >> 24) != 'T' && id != kWxx && id != kWxxx && id != kCom && id != kComm) return false;
  for (uint32_t i = 1; i + 1 < n; ++i) {
    if (data[i] == 0xFE && data[i + 1] == 0xFF) return true;
  }
  return false;
}

// Lends n stored bytes at the content position: the session's copy when it
// holds them as handed out, else a copy in the context's lending block.
int32_t LendStored(tlx_id3_context* ctx, uint32_t id, int32_t unsync, uint32_t n,
                   const uint8_t** data, uint32_t* size) {
  const int32_t pos = tlx_id3_position_content(ctx, 0, 1);
  if (pos < 0) return TLX_ID3_E_SEEK;
  if (!unsync) {
    const uint8_t* held = tlx_id3_session_bytes(ctx, pos, n);
    if (held != NULL && !MayHoldBigEndianText(id, held, n)) {
      *data = held;
      *size = n;
      return TLX_ID3_OK;
    }
  }
  // A size the file cannot hold is refused before the block is allocated.
  const int32_t length = tlx_id3_position_content(ctx, 0, 2);
  if (length < 0 || tlx_id3_position_content(ctx, pos, 0) != pos) return TLX_ID3_E_SEEK;
  if (pos > length || n > static_cast<uint32_t>(length - pos)) return TLX_ID3_E_READ;
  uint8_t* buffer = tlx_id3_lend_buffer(ctx, n);
  if (buffer == NULL) return TLX_ID3_E_NOMEM;
  if (n > 0 && tlx_id3_read_content_unsync(ctx, buffer, n, unsync) < static_cast<int32_t>(n)) {
    return TLX_ID3_E_READ;
  }
  ToLittleEndian(id, buffer, n);
  *data = buffer;
  *size = n;
  return TLX_ID3_OK;
}

// Lends the decoded data of a frame; what decodes beyond the file's size is
// refused rather than held.
int32_t LendDecoded(tlx_id3_context* ctx, uint32_t id, const tlx_id3_frame_source* source,
                    const uint8_t** data, uint32_t* size) {
  uint32_t n = 0;
  int32_t rc = tlx_id3_decoded_size(ctx, source, &n);
  if (rc != TLX_ID3_OK) return rc;
  const int32_t length = tlx_id3_position_content(ctx, 0, 2);
  if (length < 0) return TLX_ID3_E_SEEK;
  if (n > static_cast<uint32_t>(length)) return TLX_ID3_E_CORRUPT;
  uint8_t* buffer = tlx_id3_lend_buffer(ctx, n);
  if (buffer == NULL) return TLX_ID3_E_NOMEM;
  rc = tlx_id3_decode_frame(ctx, source, buffer, &n);
  if (rc != TLX_ID3_OK) return rc;
  ToLittleEndian(id, buffer, n);
  *data = buffer;
  *size = n;
  return TLX_ID3_OK;
}

// Header then frame record by identifier or by index; the file is left at
// the frame's data.
int32_t LocateFrame(tlx_id3_context* ctx, const char* name, const tlx_id3_v2_walk_query* query,
                    tlx_id3_v2_header* header, tlx_id3_v2_walk_result* result) {
  int32_t rc = tlx_id3_v2_get_header(ctx, header);
  if (rc != TLX_ID3_OK) return rc;
  rc = tlx_id3_v2_walk(ctx, header, query, result);
  if (rc != TLX_ID3_OK) return Fail("in %s() TLX_SQA_READ() failed.", name, rc);
  if (!result->stopped) {
    return Fail("in %s() ID3v2 frame is not found.", name, TLX_ID3_E_NOT_FOUND);
  }
  return TLX_ID3_OK;
}

// What the frame data calls begin with: the state allows reading, then the
// occurrence of the identifier.
int32_t LocateOccurrence(tlx_id3_context* ctx, const char* name, uint32_t id, uint32_t occurrence,
                         tlx_id3_v2_header* header, tlx_id3_v2_walk_result* result) {
  if (StateForbidsReading(ctx)) return Fail("in %s() transaction is invalid.", name, TLX_ID3_E_STATE);
  tlx_id3_v2_walk_query query = {0, id, 1, occurrence};
  return LocateFrame(ctx, name, &query, header, result);
}

int32_t InitStreaming(tlx_id3_context* ctx, const char* name,
                      const tlx_id3_v2_walk_query* query) {
  if (ctx == NULL) return Fail("in %s() parameter is invalid.", name, TLX_ID3_E_PARAM);
  if (ctx->state != TLX_ID3_STATE_IDLE) {
    return Fail("in %s() transaction is invalid.", name, TLX_ID3_E_STATE);
  }
  tlx_id3_v2_header header;
  tlx_id3_v2_walk_result result;
  int32_t rc = LocateFrame(ctx, name, query, &header, &result);
  if (rc != TLX_ID3_OK) return rc;
  ctx->state = TLX_ID3_STATE_READING;
  ctx->remaining = result.frame.size;
  return TLX_ID3_OK;
}

}  // namespace

int32_t tlx_id3_v2_get_frame_data(tlx_id3_context* ctx, uint32_t id, uint32_t occurrence,
                                  uint32_t* size, uint8_t* buffer) {
  static const char kName[] = "tlx_id3_v2_get_frame_data";
  tlx_trace("tlx_id3_v2_get_frame_data() enter");
  if (ctx == NULL || size == NULL || buffer == NULL) {
    return Fail("in %s() parameter is invalid.", kName, TLX_ID3_E_PARAM);
  }
  tlx_id3_v2_header header;
  tlx_id3_v2_walk_result result;
  int32_t rc = LocateOccurrence(ctx, kName, id, occurrence, &header, &result);
  if (rc != TLX_ID3_OK) return rc;
  tlx_id3_frame_source source;
  int32_t decode = 0;
  rc = tlx_id3_frame_source_of(ctx, &header, &result.frame, &source, &decode);
  if (rc != TLX_ID3_OK) return Fail("in %s() tlx_lseek() failed.", kName, rc);
  uint32_t n = *size < result.frame.size ? *size : result.frame.size;
  if (decode) {
    n = *size;
    rc = tlx_id3_decode_frame(ctx, &source, buffer, &n);
    if (rc != TLX_ID3_OK) return Fail("in %s() frame data cannot be decoded.", kName, rc);
  } else if (n > 0 && tlx_id3_read_content_unsync(ctx, buffer, n, header.unsync) <
                          static_cast<int64_t>(n)) {
    return Fail("in %s() TLX_SQA_READ() failed.", kName, TLX_ID3_E_READ);
  }
  *size = n;
  ToLittleEndian(id, buffer, n);
  tlx_trace("tlx_id3_v2_get_frame_data() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_lend_frame_data(tlx_id3_context* ctx, uint32_t id, uint32_t occurrence,
                                   const uint8_t** data, uint32_t* size) {
  static const char kName[] = "tlx_id3_v2_lend_frame_data";
  if (ctx == NULL || data == NULL || size == NULL || ctx->work == NULL) {
    return Fail("in %s() parameter is invalid.", kName, TLX_ID3_E_PARAM);
  }
  *data = NULL;
  *size = 0;
  tlx_id3_v2_header header;
  tlx_id3_v2_walk_result result;
  int32_t rc = LocateOccurrence(ctx, kName, id, occurrence, &header, &result);
  if (rc != TLX_ID3_OK) return rc;
  if (!result.found) return Fail("in %s() ID3v2 frame is not found.", kName, TLX_ID3_E_NOT_FOUND);
  // No frame is larger than its tag: a bigger size is damage, not a reason
  // to allocate.
  if (result.frame.size > static_cast<uint32_t>(header.size)) {
    return Fail("in %s() frame is larger than its tag.", kName, TLX_ID3_E_CORRUPT);
  }
  tlx_id3_frame_source source;
  int32_t decode = 0;
  rc = tlx_id3_frame_source_of(ctx, &header, &result.frame, &source, &decode);
  if (rc != TLX_ID3_OK) return Fail("in %s() tlx_lseek() failed.", kName, rc);
  rc = decode ? LendDecoded(ctx, id, &source, data, size)
              : LendStored(ctx, id, header.unsync, result.frame.size, data, size);
  if (rc != TLX_ID3_OK) return Fail("in %s() frame data cannot be lent.", kName, rc);
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_get_frame_data_offset(tlx_id3_context* ctx, uint32_t id,
                                         uint32_t occurrence, uint32_t* offset) {
  static const char kName[] = "tlx_id3_v2_get_frame_data_offset";
  tlx_trace("tlx_id3_v2_get_frame_data_offset() enter");
  if (ctx == NULL || offset == NULL) {
    return Fail("in %s() parameter is invalid.", kName, TLX_ID3_E_PARAM);
  }
  tlx_id3_v2_header header;
  tlx_id3_v2_walk_result result;
  int32_t rc = LocateOccurrence(ctx, kName, id, occurrence, &header, &result);
  if (rc != TLX_ID3_OK) return rc;
  *offset = static_cast<uint32_t>(result.frame_pos) +
            tlx_id3_v2_frame_header_size(header.version);
  tlx_trace("tlx_id3_v2_get_frame_data_offset() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_get_frame_data_init(tlx_id3_context* ctx, uint32_t id,
                                       uint32_t occurrence) {
  static const char kName[] = "tlx_id3_v2_get_frame_data_init";
  tlx_trace("tlx_id3_v2_get_frame_data_init() enter");
  tlx_id3_v2_walk_query query = {0, id, 1, occurrence};
  int32_t rc = InitStreaming(ctx, kName, &query);
  if (rc != TLX_ID3_OK) return rc;
  tlx_trace("tlx_id3_v2_get_frame_data_init() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_get_frame_data_init_by_index(tlx_id3_context* ctx, uint32_t index) {
  static const char kName[] = "tlx_id3_v2_get_frame_data_init_by_index";
  tlx_trace("tlx_id3_v2_get_frame_data_init_by_index() enter");
  tlx_id3_v2_walk_query query = {1, 0, 1, index};
  int32_t rc = InitStreaming(ctx, kName, &query);
  if (rc != TLX_ID3_OK) return rc;
  tlx_trace("tlx_id3_v2_get_frame_data_init_by_index() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_get_frame_data_progress(tlx_id3_context* ctx, uint32_t* size,
                                           uint8_t* buffer) {
  static const char kName[] = "tlx_id3_v2_get_frame_data_progress";
  if (ctx == NULL || size == NULL || buffer == NULL) {
    return Fail("in %s() parameter is invalid.", kName, TLX_ID3_E_PARAM);
  }
  if (ctx->state != TLX_ID3_STATE_READING) {
    return Fail("in %s() transaction is invalid.", kName, TLX_ID3_E_STATE);
  }
  uint32_t n = *size < ctx->remaining ? *size : ctx->remaining;
  if (n > 0) {
    int32_t got = tlx_id3_read_content(ctx, buffer, n);
    if (got < 0 || static_cast<uint32_t>(got) < n) {
      return Fail("in %s() TLX_SQA_READ() failed.", kName, TLX_ID3_E_READ);
    }
  }
  ctx->remaining -= n;
  *size = n;
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_get_frame_data_fin(tlx_id3_context* ctx) {
  static const char kName[] = "tlx_id3_v2_get_frame_data_fin";
  tlx_trace("tlx_id3_v2_get_frame_data_fin() enter");
  if (ctx == NULL) return Fail("in %s() parameter is invalid.", kName, TLX_ID3_E_PARAM);
  if (ctx->state != TLX_ID3_STATE_READING) {
    return Fail("in %s() transaction is invalid.", kName, TLX_ID3_E_STATE);
  }
  ctx->state = TLX_ID3_STATE_IDLE;
  ctx->remaining = 0;
  tlx_trace("tlx_id3_v2_get_frame_data_fin() exit");
  return TLX_ID3_OK;
}
