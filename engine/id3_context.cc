// The engine context: creation and destruction, the content access through
// which every engine file reaches the audio file, and the write buffer.
#include <string.h>
#include <wchar.h>

#include "id3_internal.h"

namespace {

const char kParamInvalid[] = "in %s() parameter is invalid.";

void Release(tlx_id3_context* ctx) {
  // An open transaction is dropped with the context: its list goes too.
  if (ctx->work != nullptr) tlx_id3_v2_reset_work(ctx);
  tlx_sqa_free(ctx->path);
  tlx_sqa_free(ctx->allow_tag_id);
  tlx_sqa_free(ctx->work);
  ctx->path = nullptr;
  ctx->allow_tag_id = nullptr;
  ctx->work = nullptr;
}

// The empty ID3v2.3 tag of a new file: header, then size zero bytes.
int32_t WriteEmptyTag(tlx_id3_context* ctx, const tlx_id3_v2_header* header) {
  static const char kFunction[] = "tlx_id3_create_context";
  if (tlx_id3_seek_content(ctx, 0, 0) != 0) {
    tlx_trace_error("in %s() tlx_id3_seek_content() failed.", kFunction);
    return TLX_ID3_E_SEEK;
  }
  uint8_t bytes[TLX_ID3_HEADER_SIZE] = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0};
  bytes[5] = tlx_id3_v2_encode_header_flags(header, TLX_ID3_V23);
  tlx_id3_syncsafe_encode(static_cast<uint32_t>(header->size), bytes + 6);
  if (tlx_id3_write_content(ctx, bytes, sizeof(bytes)) != static_cast<int32_t>(sizeof(bytes))) {
    tlx_trace_error("in %s() tlx_id3_write_content() failed.", kFunction);
    return TLX_ID3_E_WRITE;
  }
  static const uint8_t kZeros[TLX_ID3_CHUNK] = {};
  uint32_t left = static_cast<uint32_t>(header->size);
  while (left > 0) {
    uint32_t chunk = left < TLX_ID3_CHUNK ? left : TLX_ID3_CHUNK;
    if (tlx_id3_write_content(ctx, kZeros, chunk) != static_cast<int32_t>(chunk)) {
      tlx_trace_error("in %s() tlx_id3_write_content() failed.", kFunction);
      return TLX_ID3_E_WRITE;
    }
    left -= chunk;
  }
  return TLX_ID3_OK;
}

}  // namespace

extern "C" {

int32_t tlx_id3_create_context(const wchar_t* path, int32_t mode,
                               const tlx_id3_v2_header* header, tlx_id3_context* ctx) {
  static const char kFunction[] = "tlx_id3_create_context";
  tlx_trace("tlx_id3_create_context() enter");
  // A new tag's size must fit the 28 bits of its sync-safe size field.
  if (path == nullptr || ctx == nullptr ||
      (mode == TLX_ID3_MODE_CREATE &&
       (header == nullptr || header->size < 0 || header->size > 0x0FFFFFFF))) {
    tlx_trace_error(kParamInvalid, kFunction);
    return TLX_ID3_E_PARAM;
  }
  // Only a regular file qualifies; the low 16 bits of the type are negative
  // for it alone. Checked before anything is allocated.
  if (mode != TLX_ID3_MODE_CREATE && static_cast<int16_t>(tlx_stat_mode(path)) >= 0) {
    tlx_trace_error("in %s() file is invalid.", kFunction);
    return TLX_ID3_E_NOT_FOUND;
  }
  memset(ctx, 0, sizeof(*ctx));
  ctx->fd = TLX_INVALID_HANDLE;
  ctx->work = static_cast<tlx_id3_work*>(tlx_sqa_calloc(sizeof(tlx_id3_work)));
  if (ctx->work == nullptr) {
    tlx_trace_error("in %s() tlx_sqa_calloc() failed.", kFunction);
    return TLX_ID3_E_NOMEM;
  }
  ctx->work->temp_fd = TLX_INVALID_HANDLE;
  ctx->work->temp_path[0] = L'\0';
  ctx->path = tlx_sqa_wcsndup(path, wcslen(path));
  if (ctx->path == nullptr) {
    tlx_trace_error("in %s() tlx_sqa_strndup() failed.", kFunction);
    Release(ctx);
    return TLX_ID3_E_NOMEM;
  }
  ctx->content_kind = 0;
  ctx->mode = mode;
  int32_t opened = tlx_id3_open_content(ctx, mode, &ctx->fd);
  if (opened != 0) {
    ctx->fd = TLX_INVALID_HANDLE;
    Release(ctx);
    return opened == TLX_ENOENT ? TLX_ID3_E_NOT_FOUND : TLX_ID3_E_OPEN;
  }
  ctx->state = TLX_ID3_STATE_IDLE;
  if (mode == TLX_ID3_MODE_CREATE) {
    int32_t code = WriteEmptyTag(ctx, header);
    if (code != TLX_ID3_OK) {
      // A half-written new file is nobody's: take it away again.
      tlx_id3_close_content(ctx);
      tlx_unlink(ctx->path);
      Release(ctx);
      return code;
    }
  }
  tlx_trace("tlx_id3_create_context() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_destroy_context(tlx_id3_context* ctx) {
  tlx_trace("tlx_id3_destroy_context() enter");
  if (ctx == nullptr) {
    tlx_trace_error(kParamInvalid, "tlx_id3_destroy_context");
    return TLX_ID3_E_PARAM;
  }
  if (tlx_id3_close_content(ctx) < 0) {
    Release(ctx);
    tlx_trace_error("in %s() tlx_close() failed.", "tlx_id3_destroy_context");
    return TLX_ID3_E_CLOSE;
  }
  Release(ctx);
  tlx_trace("tlx_id3_destroy_context() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_set_allow_tag_id(tlx_id3_context* ctx, const char* tag_id) {
  static const char kFunction[] = "tlx_id3_v2_set_allow_tag_id";
  tlx_trace("tlx_id3_v2_set_allow_tag_id() enter");
  if (ctx == nullptr || tag_id == nullptr) {
    tlx_trace_error(kParamInvalid, kFunction);
    return TLX_ID3_E_PARAM;
  }
  char* copy = tlx_sqa_strndup(tag_id, strlen(tag_id));
  if (copy == nullptr) {
    tlx_trace_error("in %s() tlx_sqa_strndup() failed.", kFunction);
    return TLX_ID3_E_NOMEM;
  }
  tlx_sqa_free(ctx->allow_tag_id);  // a second call replaces, never leaks
  ctx->allow_tag_id = copy;
  tlx_trace("tlx_id3_v2_set_allow_tag_id() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_get_mode(tlx_id3_context* ctx, int32_t* mode) {
  tlx_trace("tlx_id3_get_mode() enter");
  if (ctx == nullptr || mode == nullptr) {
    tlx_trace_error(kParamInvalid, "tlx_id3_get_mode");
    return TLX_ID3_E_PARAM;
  }
  *mode = ctx->mode;
  tlx_trace("tlx_id3_get_mode() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_get_path(tlx_id3_context* ctx, const wchar_t** path) {
  tlx_trace("tlx_id3_get_path() enter");
  if (ctx == nullptr || path == nullptr) {
    tlx_trace_error(kParamInvalid, "tlx_id3_get_path");
    return TLX_ID3_E_PARAM;
  }
  *path = ctx->path;
  tlx_trace("tlx_id3_get_path() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_flush_content(tlx_id3_context* ctx) {
  static const char kFunction[] = "tlx_id3_flush_content";
  tlx_trace("tlx_id3_flush_content() enter");
  if (ctx == nullptr || ctx->work == nullptr) {
    tlx_trace_error(kParamInvalid, kFunction);
    return TLX_ID3_E_PARAM;
  }
  tlx_id3_work* work = ctx->work;
  if (work->write_len != 0) {
    int32_t code = tlx_id3_write_buffer(ctx, work->write_len);
    if (code != TLX_ID3_OK) return code;
  }
  int32_t synced = work->temp_fd != TLX_INVALID_HANDLE ? tlx_fsync(work->temp_fd)
                                                        : tlx_id3_flush(ctx);
  if (synced < 0) {
    tlx_trace_error("in %s() tlx_fsync() failed.", kFunction);
    return TLX_ID3_E_SYSTEM;
  }
  tlx_trace("tlx_id3_flush_content() exit");
  return TLX_ID3_OK;
}

/* ---- Content access ----------------------------------------------------- */

int32_t tlx_id3_open_content(tlx_id3_context* ctx, int32_t mode, int* handle) {
  static const char kFunction[] = "tlx_id3_open_content";
  if (ctx == nullptr || ctx->content_kind != 0 || handle == nullptr) return -1;
  int32_t flags;
  switch (mode) {
    case TLX_ID3_MODE_READ: flags = TLX_O_RDONLY; break;
    case TLX_ID3_MODE_CREATE: flags = TLX_O_RDWR | TLX_O_CREAT | TLX_O_EXCL; break;
    case TLX_ID3_MODE_WRITE: flags = TLX_O_RDWR; break;
    default:
      tlx_trace_error("in %s() mode is invalid.", kFunction);
      return -1;
  }
  int32_t rc = tlx_open(ctx->path, flags, handle);
  if (rc != 0) tlx_trace_error("in %s() tlx_open() failed.", kFunction);
  return rc;
}

int32_t tlx_id3_seek_content(tlx_id3_context* ctx, int32_t offset, int32_t whence) {
  static const char kFunction[] = "tlx_id3_seek_content";
  if (ctx == nullptr || ctx->content_kind != 0) return -1;
  int32_t position = tlx_lseek(ctx->fd, offset, whence);
  if (position < 0) {
    tlx_trace_error("in %s() tlx_lseek() failed.", kFunction);
    return -1;
  }
  // The file layer stops at the end of the file; grow it with zeros up to
  // an absolute offset beyond it.
  if (position < offset) {
    static const uint8_t kZeros[256] = {};
    int32_t gap = offset - position;
    while (gap > 0) {
      uint32_t chunk = gap < 256 ? static_cast<uint32_t>(gap) : 256u;
      if (tlx_write(ctx->fd, kZeros, chunk) != static_cast<int32_t>(chunk)) {
        tlx_trace_error("in %s() tlx_write() failed.", kFunction);
        return -3;
      }
      gap -= static_cast<int32_t>(chunk);
    }
  }
  return position;
}

int32_t tlx_id3_read_content(tlx_id3_context* ctx, void* buffer, uint32_t count) {
  if (ctx == nullptr || ctx->content_kind != 0) return -1;
  int32_t n = tlx_read(ctx->fd, buffer, count);
  if (n < 0) tlx_trace_error("in %s() TLX_SQA_READ() failed.", "tlx_id3_read_content");
  return n;
}

int32_t tlx_id3_write_content(tlx_id3_context* ctx, const void* buffer, uint32_t count) {
  if (ctx == nullptr || ctx->content_kind != 0) return -1;
  int32_t n = tlx_write(ctx->fd, buffer, count);
  if (n < 0) tlx_trace_error("in %s() TLX_SQA_WRITE() failed.", "tlx_id3_write_content");
  return n;
}

int32_t tlx_id3_close_content(tlx_id3_context* ctx) {
  if (ctx == nullptr || ctx->content_kind != 0) return -1;
  int32_t rc = tlx_close(&ctx->fd);
  if (rc < 0) tlx_trace_error("in %s() tlx_close() failed.", "tlx_id3_close_content");
  return rc;
}

int32_t tlx_id3_flush(tlx_id3_context* ctx) {
  if (ctx == nullptr || ctx->content_kind != 0) return -1;
  int32_t rc = tlx_fsync(ctx->fd);
  if (rc < 0) tlx_trace_error("in %s() tlx_fsync() failed.", "tlx_id3_flush");
  return rc;
}

/* Writes count bytes of the write buffer at write_pos, to the temporary file
 * of a rewrite when one is open, else to the content. */
int32_t tlx_id3_write_buffer(tlx_id3_context* ctx, uint32_t count) {
  static const char kFunction[] = "tlx_id3_write_buffer";
  if (ctx == nullptr || ctx->work == nullptr || count > TLX_ID3_WRITE_BUF_SIZE) {
    tlx_trace_error(kParamInvalid, kFunction);
    return TLX_ID3_E_PARAM;
  }
  tlx_id3_work* work = ctx->work;
  if (tlx_id3_seek_content(ctx, static_cast<int32_t>(work->write_pos), 0) < 0) {
    tlx_trace_error("in %s() tlx_id3_seek_content() failed.", kFunction);
    return TLX_ID3_E_SEEK;
  }
  int32_t written = work->temp_fd != TLX_INVALID_HANDLE
                        ? tlx_write(work->temp_fd, work->write_buf, count)
                        : tlx_id3_write_content(ctx, work->write_buf, count);
  if (written != static_cast<int32_t>(count)) {
    tlx_trace_error("in %s() write failed.", kFunction);
    return TLX_ID3_E_WRITE;
  }
  work->write_pos += count;
  ctx->remaining -= count < ctx->remaining ? count : ctx->remaining;
  work->write_len = 0;
  return TLX_ID3_OK;
}

}  // extern "C"
