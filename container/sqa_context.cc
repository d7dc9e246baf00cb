// The container context: creation on a file through the tag engine, the
// layer's own content access, the tag and codec data header queries, and
// recovery from a backup.
#include <string.h>
#include <wchar.h>

#include "id3_internal.h"
#include "sqa_internal.h"

namespace {

const int32_t kFillChunk = 256;

void Release(tlx_sqa_context* ctx) {
  tlx_sqa_free(ctx->path);
  tlx_sqa_free(ctx->backup_path);
  ctx->path = nullptr;
  ctx->backup_path = nullptr;
  ctx->fd = TLX_INVALID_HANDLE;
}

// Positions for reading: never grows the file. 1 when the file ends before
// offset, 0 when positioned, -1 when positioning failed.
int32_t SeekForRead(tlx_sqa_context* ctx, uint32_t offset) {
  if (offset > 0x7FFFFFFFu) return -1;
  int32_t pos = tlx_lseek(ctx->fd, static_cast<int32_t>(offset), 0);
  if (pos < 0) return -1;
  return static_cast<uint32_t>(pos) == offset ? 0 : 1;
}

}  // namespace

extern "C" {

int32_t tlx_sqa_conv_context_mode(int32_t mode) {
  if (mode == TLX_SQA_MODE_READ || mode == TLX_SQA_MODE_CREATE || mode == TLX_SQA_MODE_WRITE) {
    return mode;
  }
  tlx_sqa_trace_error("in %s() mode is invalid.", "tlx_sqa_conv_context_mode");
  return TLX_SQA_MODE_READ;
}

// ---- Content access ------------------------------------------------------

int32_t tlx_sqa_open_content(tlx_sqa_context* ctx, int32_t mode, int* handle) {
  static const char kName[] = "tlx_sqa_open_content";
  if (ctx == nullptr || handle == nullptr || ctx->content_kind != 0) return -1;
  int32_t flags;
  switch (mode) {
    case TLX_SQA_MODE_READ: flags = TLX_O_RDONLY; break;
    case TLX_SQA_MODE_CREATE: flags = TLX_O_RDWR | TLX_O_CREAT | TLX_O_EXCL; break;
    case TLX_SQA_MODE_WRITE: flags = TLX_O_RDWR; break;
    default:
      tlx_sqa_trace_error("in %s() mode is invalid.", kName);
      return -1;
  }
  int32_t rc = tlx_open(ctx->path, flags, handle);
  if (rc < 0) tlx_sqa_trace_error("in %s() tlx_open() failed.", kName);
  return rc;
}

int32_t tlx_sqa_seek_content(tlx_sqa_context* ctx, int32_t offset, int32_t whence) {
  static const char kName[] = "tlx_sqa_seek_content";
  if (ctx == nullptr || ctx->content_kind != 0) return -1;
  int32_t pos = tlx_lseek(ctx->fd, offset, whence);
  if (pos < 0) {
    tlx_sqa_trace_error("in %s() tlx_lseek() failed.", kName);
    return -1;
  }
  if (whence == 0 && pos < offset) {
    static const uint8_t kZeros[kFillChunk] = {0};
    int32_t at = pos;
    while (at < offset) {
      int32_t n = offset - at < kFillChunk ? offset - at : kFillChunk;
      if (tlx_write(ctx->fd, kZeros, static_cast<uint32_t>(n)) != n) {
        tlx_sqa_trace_error("in %s() TLX_SQA_WRITE() failed.", kName);
        return -3;
      }
      at += n;
    }
  }
  return pos;
}

int32_t tlx_sqa_read_content(tlx_sqa_context* ctx, void* buffer, uint32_t count) {
  if (ctx == nullptr || ctx->content_kind != 0) return -1;
  int32_t n = tlx_read(ctx->fd, buffer, count);
  if (n < 0) tlx_sqa_trace_error("in %s() TLX_SQA_READ() failed.", "tlx_sqa_read_content");
  return n;
}

int32_t tlx_sqa_write_content(tlx_sqa_context* ctx, const void* buffer, uint32_t count) {
  if (ctx == nullptr || ctx->content_kind != 0) return -1;
  int32_t n = tlx_write(ctx->fd, buffer, count);
  if (n < 0 || static_cast<uint32_t>(n) != count) {
    tlx_sqa_trace_error("in %s() TLX_SQA_WRITE() failed.", "tlx_sqa_write_content");
  }
  return n;
}

int32_t tlx_sqa_stamp_tag_id(tlx_sqa_context* ctx) {
  if (tlx_sqa_seek_content(ctx, 0, 0) != 0) return TLX_ID3_E_SEEK;
  if (tlx_sqa_write_content(ctx, TLX_SQA_TAG_ID, 3) != 3) return TLX_ID3_E_WRITE;
  return TLX_ID3_OK;
}

// ---- Creation and destruction --------------------------------------------

int32_t tlx_sqa_create_context(const wchar_t* path, int32_t mode, uint32_t tag_size,
                               const wchar_t* backup_path, tlx_sqa_context* ctx) {
  static const char kName[] = "tlx_sqa_create_context";
  tlx_sqa_trace("tlx_sqa_create_context() enter");
  if (path == nullptr || ctx == nullptr) {
    tlx_sqa_trace_error("in %s() parameter is invalid.", kName);
    return TLX_ID3_E_PARAM;
  }
  memset(ctx, 0, sizeof(*ctx));
  ctx->fd = TLX_INVALID_HANDLE;
  ctx->id3.fd = TLX_INVALID_HANDLE;
  ctx->state = TLX_SQA_STATE_IDLE;

  ctx->path = tlx_sqa_wcsndup(path, wcslen(path));
  if (ctx->path == nullptr) {
    tlx_sqa_trace_error("in %s() tlx_sqa_strndup() failed.", kName);
    return TLX_ID3_E_NOMEM;
  }
  if (mode != TLX_SQA_MODE_READ && backup_path != nullptr) {
    ctx->backup_path = tlx_sqa_wcsndup(backup_path, wcslen(backup_path));
    if (ctx->backup_path == nullptr) {
      tlx_sqa_trace_error("in %s() tlx_sqa_strndup() failed.", kName);
      Release(ctx);
      return TLX_ID3_E_NOMEM;
    }
  }

  tlx_id3_v2_header* header = nullptr;
  if (mode == TLX_SQA_MODE_CREATE) {
    // The tag size field is a 28-bit sync-safe number.
    if (tag_size > 0x0FFFFFFFu) {
      tlx_sqa_trace_error("in %s() parameter is invalid.", kName);
      Release(ctx);
      return TLX_ID3_E_PARAM;
    }
    header = static_cast<tlx_id3_v2_header*>(tlx_sqa_calloc(sizeof(*header)));
    if (header == nullptr) {
      tlx_sqa_trace_error("in %s() tlx_sqa_calloc() failed.", kName);
      Release(ctx);
      return TLX_ID3_E_NOMEM;
    }
    header->size = static_cast<int32_t>(tag_size);
  }
  mode = tlx_sqa_conv_context_mode(mode);

  // A file that this call creates is removed again when creation fails.
  bool existed = mode == TLX_SQA_MODE_CREATE && tlx_stat_mode(ctx->path) != TLX_S_ERROR;
  int32_t rc = tlx_id3_create_context(ctx->path, mode, header, &ctx->id3);
  tlx_sqa_free(header);
  if (rc != TLX_ID3_OK) {
    if (mode == TLX_SQA_MODE_CREATE && !existed) tlx_unlink(ctx->path);
    Release(ctx);
    return rc;
  }
  // Undoes a creation that cannot be completed, a file made here included.
  auto fail = [ctx, mode](int32_t code) {
    tlx_id3_destroy_context(&ctx->id3);
    if (mode == TLX_SQA_MODE_CREATE) tlx_unlink(ctx->path);
    Release(ctx);
    return code;
  };
  rc = tlx_id3_v2_set_allow_tag_id(&ctx->id3, TLX_SQA_TAG_ID);
  if (rc != TLX_ID3_OK) return fail(rc);

  ctx->mode = mode;
  ctx->content_kind = 0;
  ctx->fd = ctx->id3.fd;

  if (mode == TLX_SQA_MODE_CREATE) {
    // The engine writes "ID3"; a container file carries its own magic.
    rc = tlx_sqa_stamp_tag_id(ctx);
    if (rc != TLX_ID3_OK) return fail(rc);
  }
  if (mode == TLX_SQA_MODE_READ) {
    tlx_sqa_codec_data_header scratch;
    if (tlx_sqa_get_codec_data_header(ctx, &scratch) != TLX_ID3_OK) {
      tlx_sqa_trace_error("in %s() not SQA file format.", kName);
      return fail(TLX_SQA_E_FORMAT);
    }
  }
  tlx_sqa_trace("tlx_sqa_create_context() exit");
  return TLX_ID3_OK;
}

int32_t tlx_sqa_destroy_context(tlx_sqa_context* ctx) {
  tlx_sqa_trace("tlx_sqa_destroy_context() enter");
  if (!tlx_sqa_is_open(ctx)) {
    tlx_sqa_trace_error("in %s() parameter is invalid.", "tlx_sqa_destroy_context");
    return TLX_ID3_E_PARAM;
  }
  int32_t rc = tlx_id3_destroy_context(&ctx->id3);
  Release(ctx);
  ctx->state = TLX_SQA_STATE_IDLE;
  if (rc == TLX_ID3_OK) tlx_sqa_trace("tlx_sqa_destroy_context() exit");
  return rc;
}

// ---- Tag queries ----------------------------------------------------------

int32_t tlx_sqa_get_tag_size(tlx_sqa_context* ctx, uint32_t* size) {
  tlx_sqa_trace("tlx_sqa_get_tag_size() enter");
  if (!tlx_sqa_is_open(ctx) || size == nullptr) {
    tlx_sqa_trace_error("in %s() parameter is invalid.", "tlx_sqa_get_tag_size");
    return TLX_ID3_E_PARAM;
  }
  tlx_id3_v2_header header;
  int32_t rc = tlx_id3_v2_get_header(&ctx->id3, &header);
  if (rc == TLX_ID3_E_NOT_FOUND) {
    *size = 0;
  } else if (rc != TLX_ID3_OK) {
    return rc;
  } else {
    *size = static_cast<uint32_t>(header.size) + TLX_ID3_HEADER_SIZE;
  }
  tlx_sqa_trace("tlx_sqa_get_tag_size() exit");
  return TLX_ID3_OK;
}

int32_t tlx_sqa_get_padding_size(tlx_sqa_context* ctx, uint32_t* size) {
  tlx_sqa_trace("tlx_sqa_get_padding_size() enter");
  if (!tlx_sqa_is_open(ctx) || size == nullptr) {
    tlx_sqa_trace_error("in %s() parameter is invalid.", "tlx_sqa_get_padding_size");
    return TLX_ID3_E_PARAM;
  }
  int32_t rc = tlx_id3_v2_get_padding_size(&ctx->id3, size);
  if (rc == TLX_ID3_OK) tlx_sqa_trace("tlx_sqa_get_padding_size() exit");
  return rc;
}

// ---- Codec data header ----------------------------------------------------

int32_t tlx_sqa_get_codec_data_header_size(tlx_sqa_context* ctx, uint32_t offset,
                                           uint32_t* size) {
  static const char kName[] = "tlx_sqa_get_codec_data_header_size";
  tlx_sqa_trace("tlx_sqa_get_codec_data_header_size() enter");
  if (!tlx_sqa_is_open(ctx) || size == nullptr || ctx->content_kind != 0) {
    tlx_sqa_trace_error("in %s() parameter is invalid.", kName);
    return TLX_ID3_E_PARAM;
  }
  uint8_t bytes[3];
  int32_t at = SeekForRead(ctx, offset);
  if (at < 0) return TLX_ID3_E_SEEK;
  if (at > 0 || tlx_sqa_read_content(ctx, bytes, 3) != 3) return TLX_ID3_E_READ;
  if (memcmp(bytes, "KQ7", 3) != 0) {
    tlx_sqa_trace_error("in %s() not SQA Format.", kName);
    return TLX_SQA_E_FORMAT;
  }
  at = SeekForRead(ctx, offset + 4);
  if (at < 0) return TLX_ID3_E_SEEK;
  if (at > 0 || tlx_sqa_read_content(ctx, bytes, 2) != 2) return TLX_ID3_E_READ;
  uint32_t declared = (static_cast<uint32_t>(bytes[0]) << 8) | bytes[1];
  if (declared < TLX_SQA_CODEC_DATA_HEADER_SIZE) {
    tlx_sqa_trace_error("in %s() codec_data_header size is inalid.", kName);
    return TLX_SQA_E_FORMAT;
  }
  *size = declared;
  tlx_sqa_trace("tlx_sqa_get_codec_data_header_size() exit");
  return TLX_ID3_OK;
}

int32_t tlx_sqa_get_codec_data_header(tlx_sqa_context* ctx,
                                      tlx_sqa_codec_data_header* header) {
  tlx_sqa_trace("tlx_sqa_get_codec_data_header() enter");
  if (!tlx_sqa_is_open(ctx) || header == nullptr || ctx->content_kind != 0) {
    tlx_sqa_trace_error("in %s() parameter is invalid.", "tlx_sqa_get_codec_data_header");
    return TLX_ID3_E_PARAM;
  }
  uint32_t tag_size = 0;
  int32_t rc = tlx_sqa_get_tag_size(ctx, &tag_size);
  if (rc != TLX_ID3_OK) return rc;
  // Reading never grows the file: a file that ends early has no header.
  int32_t at = SeekForRead(ctx, tag_size);
  if (at < 0) return TLX_ID3_E_SEEK;
  if (at > 0) return TLX_ID3_E_NOT_FOUND;
  uint8_t bytes[TLX_SQA_CODEC_DATA_HEADER_SIZE];
  int32_t n = tlx_sqa_read_content(ctx, bytes, sizeof(bytes));
  if (n < 0) return TLX_ID3_E_READ;
  if (n < static_cast<int32_t>(sizeof(bytes))) return TLX_ID3_E_NOT_FOUND;
  tlx_sqa_codec_data_header decoded;
  rc = tlx_sqa_parse_codec_data_header(bytes, &decoded);
  if (rc != TLX_ID3_OK) return rc;
  *header = decoded;
  tlx_sqa_trace("tlx_sqa_get_codec_data_header() exit");
  return TLX_ID3_OK;
}

int32_t tlx_sqa_set_codec_data_header(tlx_sqa_context* ctx,
                                      const tlx_sqa_codec_data_header* header) {
  static const char kName[] = "tlx_sqa_set_codec_data_header";
  tlx_sqa_trace("tlx_sqa_set_codec_data_header() enter");
  if (!tlx_sqa_is_open(ctx) || header == nullptr) {
    tlx_sqa_trace_error("in %s() parameter is invalid.", kName);
    return TLX_ID3_E_PARAM;
  }
  if (ctx->mode == TLX_SQA_MODE_READ) {
    tlx_sqa_trace_error("in %s() context is read only.", kName);
    return TLX_ID3_E_PARAM;
  }
  uint8_t bytes[TLX_SQA_CODEC_DATA_HEADER_SIZE];
  int32_t rc = tlx_sqa_write_codec_data_header(header, bytes);
  if (rc != TLX_ID3_OK) return rc;
  uint32_t tag_size = 0;
  rc = tlx_sqa_get_tag_size(ctx, &tag_size);
  if (rc != TLX_ID3_OK) return rc;
  // A tag that claims more than the file holds is damaged: the header's
  // place is unknown, and writing there would pad the file with zeros.
  int32_t at = SeekForRead(ctx, tag_size);
  if (at < 0) return TLX_ID3_E_SEEK;
  if (at > 0) {
    tlx_sqa_trace_error("in %s() tag runs past the end of the file.", kName);
    return TLX_ID3_E_CORRUPT;
  }
  int32_t pos = tlx_sqa_seek_content(ctx, static_cast<int32_t>(tag_size), 0);
  if (pos == -3) return TLX_ID3_E_WRITE;
  if (pos < 0) return TLX_ID3_E_SEEK;
  if (tlx_sqa_write_content(ctx, bytes, sizeof(bytes)) != static_cast<int32_t>(sizeof(bytes))) {
    return TLX_ID3_E_WRITE;
  }
  tlx_sqa_trace("tlx_sqa_set_codec_data_header() exit");
  return TLX_ID3_OK;
}

// ---- Recovery -------------------------------------------------------------

int32_t tlx_sqa_recover_id3v2(const wchar_t* path, const wchar_t* backup_path,
                              tlx_sqa_context* ctx) {
  static const char kName[] = "tlx_sqa_recover_id3v2";
  tlx_sqa_trace("tlx_sqa_recover_id3v2() enter");
  if (path == nullptr || backup_path == nullptr) {
    tlx_sqa_trace_error("in %s() parameter is invalid.", kName);
    return TLX_ID3_E_PARAM;
  }
  // The recovery replaces the file, so a context on it lets go of its handle
  // for the time being and then opens the file that results.
  bool reopen = tlx_sqa_is_open(ctx) && ctx->id3.fd != TLX_INVALID_HANDLE;
  if (reopen) {
    if (ctx->state != TLX_SQA_STATE_IDLE || ctx->id3.state != TLX_ID3_STATE_IDLE) {
      tlx_sqa_trace_error("in %s() transaction is invalid.", kName);
      return TLX_ID3_E_STATE;
    }
  }
  int32_t rc = TLX_ID3_OK;
  if (reopen && tlx_id3_close_content(&ctx->id3) != 0) {
    // A failed close releases the descriptor all the same; recover nothing,
    // but leave the context with a usable handle.
    rc = TLX_ID3_E_CLOSE;
  }
  if (reopen) {
    ctx->id3.fd = TLX_INVALID_HANDLE;
    ctx->fd = TLX_INVALID_HANDLE;
  }
  if (rc == TLX_ID3_OK) rc = tlx_id3_v2_recover(path, backup_path, TLX_SQA_TAG_ID);
  if (reopen) {
    int32_t mode = ctx->mode == TLX_SQA_MODE_READ ? TLX_SQA_MODE_READ : TLX_SQA_MODE_WRITE;
    if (tlx_sqa_open_content(ctx, mode, &ctx->id3.fd) < 0) {
      ctx->id3.fd = TLX_INVALID_HANDLE;
      if (rc == TLX_ID3_OK) rc = TLX_ID3_E_OPEN;
    }
    ctx->fd = ctx->id3.fd;
  }
  if (rc == TLX_ID3_OK) tlx_sqa_trace("tlx_sqa_recover_id3v2() exit");
  return rc;
}

}  // extern "C"
