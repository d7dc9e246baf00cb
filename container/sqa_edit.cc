// The container's edit of its tag: a backup of the original tag before the
// first edit, the engine's transaction in between, and re-padding after it.
#include "id3_internal.h"
#include "sqa_internal.h"

namespace {

// A tag keeps the engine's padding unless it grew, or unless it would hold
// more than this many bytes beyond its frames' needs.
const uint32_t kSpareLimit = 768;
const uint32_t kTagGranule = 512;

// True only for an existing regular file: the type query's low 16 bits are
// negative for nothing else.
bool RegularFileExists(const wchar_t* path) {
  return static_cast<int16_t>(tlx_stat_mode(path) & 0xFFFF) < 0;
}

// After a rewrite that failed once the file was closed, the engine context has
// no handle any more; open the file again so that the context stays usable.
void ReopenIfClosed(tlx_sqa_context* ctx) {
  if (ctx->id3.fd == TLX_INVALID_HANDLE) {
    if (tlx_sqa_open_content(ctx, TLX_SQA_MODE_WRITE, &ctx->id3.fd) < 0) {
      ctx->id3.fd = TLX_INVALID_HANDLE;
    }
  }
  ctx->fd = ctx->id3.fd;
}

// The backup keeps the tag as it was before the first edit: an existing
// backup is never overwritten.
int32_t TakeBackup(tlx_sqa_context* ctx) {
  if (ctx->backup_path == nullptr || RegularFileExists(ctx->backup_path)) return TLX_ID3_OK;
  // The backup reads the file through a context of its own while ours holds
  // it for writing; only that read-only open may share our hold.
  tlx_share_with_owner_begin();
  int32_t rc = tlx_id3_v2_backup(ctx->backup_path, ctx->path, TLX_SQA_TAG_ID);
  tlx_share_with_owner_end();
  return rc;
}

int32_t Repad(tlx_sqa_context* ctx) {
  uint32_t tag_size = 0;
  uint32_t padding = 0;
  int32_t rc = tlx_sqa_get_tag_size(ctx, &tag_size);
  if (rc != TLX_ID3_OK) return rc;
  rc = tlx_sqa_get_padding_size(ctx, &padding);
  if (rc != TLX_ID3_OK) return rc;
  if (tag_size < padding + TLX_ID3_HEADER_SIZE) return TLX_ID3_OK;
  uint32_t used = tag_size - padding - TLX_ID3_HEADER_SIZE;
  if (ctx->old_tag_size >= used && ctx->old_tag_size <= used + kSpareLimit) return TLX_ID3_OK;
  uint32_t length = (used + TLX_ID3_HEADER_SIZE + kTagGranule - 1) / kTagGranule * kTagGranule;
  return tlx_id3_v2_adjust_padding_size(&ctx->id3, length - used - TLX_ID3_HEADER_SIZE);
}

}  // namespace

extern "C" {

int32_t tlx_sqa_edit_begin(tlx_sqa_context* ctx) {
  static const char kName[] = "tlx_sqa_edit_begin";
  tlx_sqa_trace("tlx_sqa_edit_begin() enter");
  if (!tlx_sqa_is_open(ctx)) {
    tlx_sqa_trace_error("in %s() parameter is invalid.", kName);
    return TLX_ID3_E_PARAM;
  }
  // The engine context must be idle too: a transaction opened on it directly
  // is not this layer's to take over.
  if (ctx->state != TLX_SQA_STATE_IDLE || ctx->id3.state != TLX_ID3_STATE_IDLE) {
    tlx_sqa_trace_error("in %s() transaction is invalid.", kName);
    return TLX_ID3_E_STATE;
  }
  if (ctx->mode == TLX_SQA_MODE_READ) {
    tlx_sqa_trace_error("in %s() context is read only.", kName);
    return TLX_ID3_E_PARAM;
  }
  uint32_t tag_size = 0;
  int32_t rc = tlx_sqa_get_tag_size(ctx, &tag_size);
  if (rc != TLX_ID3_OK) return rc;
  ctx->old_tag_size = tag_size >= TLX_ID3_HEADER_SIZE ? tag_size - TLX_ID3_HEADER_SIZE : 0;
  tlx_sqa_codec_data_header scratch;
  ctx->untagged = tag_size == 0 && tlx_sqa_get_codec_data_header(ctx, &scratch) == TLX_ID3_OK;
  // The engine's transaction first: a damaged tag is refused before anything,
  // the backup included, is written.
  rc = tlx_id3_v2_edit_begin(&ctx->id3);
  if (rc == TLX_ID3_OK) rc = TakeBackup(ctx);
  if (rc != TLX_ID3_OK) {
    // A half-begun engine transaction would block every later edit.
    if (ctx->id3.state == TLX_ID3_STATE_EDITING) tlx_id3_v2_reset_work(&ctx->id3);
    return rc;
  }
  ctx->state = TLX_SQA_STATE_EDITING;
  tlx_sqa_trace("tlx_sqa_edit_begin() exit");
  return TLX_ID3_OK;
}

int32_t tlx_sqa_edit_end(tlx_sqa_context* ctx) {
  static const char kName[] = "tlx_sqa_edit_end";
  tlx_sqa_trace("tlx_sqa_edit_end() enter");
  if (!tlx_sqa_is_open(ctx)) {
    tlx_sqa_trace_error("in %s() parameter is invalid.", kName);
    return TLX_ID3_E_PARAM;
  }
  if (ctx->state != TLX_SQA_STATE_EDITING) {
    tlx_sqa_trace_error("in %s() transaction is invalid.", kName);
    return TLX_ID3_E_STATE;
  }
  int32_t rc = tlx_id3_v2_edit_end(&ctx->id3);
  if (rc != TLX_ID3_OK) {
    // The engine keeps its frame list, so the caller may end the edit again;
    // without one there is nothing left to end.
    ReopenIfClosed(ctx);
    if (ctx->id3.state != TLX_ID3_STATE_EDITING) ctx->state = TLX_SQA_STATE_IDLE;
    return rc;
  }
  // The frames are committed; a failed re-padding leaves a valid file with the
  // engine's padding, and the edit is over either way.
  rc = Repad(ctx);
  if (ctx->id3.state != TLX_ID3_STATE_IDLE) tlx_id3_v2_reset_work(&ctx->id3);
  ReopenIfClosed(ctx);
  // The engine gives a file without tag an "ID3" one; a container file gets
  // its own magic. Both read alike, so the file is valid before and after.
  if (rc == TLX_ID3_OK && ctx->untagged) rc = tlx_sqa_stamp_tag_id(ctx);
  ctx->state = TLX_SQA_STATE_IDLE;
  if (rc == TLX_ID3_OK) tlx_sqa_trace("tlx_sqa_edit_end() exit");
  return rc;
}

}  // extern "C"
