// The rewrite of a whole file through a temporary file: header flags, the
// extended header, the layout of the new tag with its padding, the copy of
// the stored frames and the audio data, and the crash-safe replace.
//
// Until the replace, the audio file is only read; the replace itself goes
// through tlx_rename, so the path always holds either the old or the whole
// new file.
#include <string.h>

#include "id3_internal.h"
#include "id3_v24.h"

namespace {

const char kParamInvalid[] = "in %s() parameter is invalid.";
const char kStateInvalid[] = "in %s() transaction is invalid.";
const char kNoExHeader[] = "in %s() content not support ex_header.";

// The audio data is copied in large pieces, by the kernel where it can: memory
// use does not depend on the file size.
const uint32_t kAudioChunk = 16u << 20;
const uint32_t kZeroChunk = 256;
const uint32_t kPaddingAlign = 16;
const uint32_t kPaddingBase = 1024;
const uint32_t kMaxTagSize = 0x0FFFFFFF;  // what a sync-safe size can hold
const uint8_t kFlagUnsync = 0x80;
const uint8_t kFlagExtHeader = 0x40;

uint8_t EncodeFlags(int32_t version, const int32_t* flags) {
  uint8_t byte = flags[0] ? 0x80 : 0;
  if (version == TLX_ID3_V22) {
    if (flags[1]) byte |= 0x40;
  } else if (version == TLX_ID3_V23 || version == TLX_ID3_V24) {
    if (flags[2]) byte |= 0x40;
    if (flags[3]) byte |= 0x20;
  }
  return byte;
}

uint32_t ExtHeaderLength(const uint8_t* ext) {
  return ext != nullptr ? 4 + tlx_id3_be32_decode(ext) : 0;
}

// Positions the output (the temporary file while one is open, else the
// content) and zero-fills up to offset when the file is shorter. Returns the
// position the file layer reported, -1, or -3 for a failed fill.
int32_t SeekOutput(tlx_id3_context* ctx, int32_t offset) {
  if (ctx->work->temp_fd == -1) return tlx_id3_seek_content(ctx, offset, 0);
  int handle = ctx->work->temp_fd;
  int32_t position = tlx_lseek(handle, offset, 0);
  if (position < 0) return -1;
  static const uint8_t zeros[kZeroChunk] = {0};
  for (int32_t at = position; at < offset;) {
    uint32_t n = (uint32_t)(offset - at) < kZeroChunk ? (uint32_t)(offset - at) : kZeroChunk;
    if (tlx_write(handle, zeros, n) != (int32_t)n) return -3;
    at += (int32_t)n;
  }
  return position;
}

int32_t WriteOutput(tlx_id3_context* ctx, const void* buffer, uint32_t count) {
  if (ctx->work->temp_fd != -1) return tlx_write(ctx->work->temp_fd, buffer, count);
  return tlx_id3_write_content(ctx, buffer, count);
}

// Positions the output and writes; 4 for a failed positioning, 3 for a
// failed fill or write.
int32_t PutAt(tlx_id3_context* ctx, uint32_t offset, const void* buffer, uint32_t count) {
  int32_t position = SeekOutput(ctx, (int32_t)offset);
  if (position == -3) return TLX_ID3_E_WRITE;
  if (position < 0) return TLX_ID3_E_SEEK;
  if (count != 0 && WriteOutput(ctx, buffer, count) != (int32_t)count) return TLX_ID3_E_WRITE;
  return TLX_ID3_OK;
}

// Positions the content for reading without ever growing it (the content's
// own positioning zero-fills past the end, which would touch the audio file
// before the replace). *at_end is set when the file is shorter than offset.
int32_t SeekContentForRead(tlx_id3_context* ctx, uint32_t offset, bool* at_end) {
  int32_t position = tlx_id3_position_content(ctx, (int32_t)offset, 0);
  if (position < 0) return TLX_ID3_E_SEEK;
  *at_end = (uint32_t)position < offset;
  return TLX_ID3_OK;
}

// Removes a temporary file that is no longer wanted. A failed removal is
// tried once more so that a passing failure leaves no stray file behind.
void RemoveTempFile(const wchar_t* path) {
  if (path == nullptr || path[0] == 0) return;
  if (tlx_unlink(path) == 0) return;
  if ((int16_t)tlx_stat_mode(path) < 0) tlx_unlink(path);
}

void DiscardTemp(tlx_id3_context* ctx) {
  wchar_t path[TLX_MAX_PATH];
  wcsncpy(path, ctx->work->temp_path, TLX_MAX_PATH - 1);
  path[TLX_MAX_PATH - 1] = 0;
  tlx_id3_close_temp(ctx);
  RemoveTempFile(path);
  ctx->work->temp_path[0] = 0;
}

// Sets new_offset of every entry, frames_end and, for a streamed entry, the
// write position of its data.
void Layout(tlx_id3_work* work) {
  uint32_t position = TLX_ID3_HEADER_SIZE + ExtHeaderLength(work->ext_header);
  for (tlx_list* node = tlx_list_first(work->frame_list); node != nullptr; node = node->next) {
    tlx_id3_frame_entry* entry = static_cast<tlx_id3_frame_entry*>(node->data);
    entry->new_offset = position;
    position += entry->length;
    if (entry->offset == 0 && entry->data == nullptr) {
      work->write_pos = position - entry->data_size;
    }
  }
  work->frames_end = position;
}

// Copies a stored frame, de-unsynchronised, from the content to the output.
// *content_at is the content offset the content is positioned at (or
// UINT32_MAX): stored frames that follow each other in the stored tag are
// read on without repositioning, which in an unsynchronised tag would mean
// reading from the start of the file again.
int32_t CopyStoredFrame(tlx_id3_context* ctx, const tlx_id3_frame_entry* entry,
                        int32_t unsync, uint32_t* content_at) {
  if (ctx->work->version == TLX_ID3_V24) {
    *content_at = UINT32_MAX;
    int32_t rc = PutAt(ctx, entry->new_offset, nullptr, 0);
    return rc != TLX_ID3_OK ? rc : tlx_id3_v24_copy_frame(ctx, entry, unsync, WriteOutput);
  }
  if (*content_at != entry->offset &&
      tlx_id3_seek_content_unsync(ctx, entry->offset, 0, unsync) < 0) {
    return TLX_ID3_E_SEEK;
  }
  *content_at = UINT32_MAX;
  int32_t position = SeekOutput(ctx, (int32_t)entry->new_offset);
  if (position == -3) return TLX_ID3_E_WRITE;
  if (position < 0) return TLX_ID3_E_SEEK;
  uint8_t chunk[TLX_ID3_CHUNK];
  for (uint32_t done = 0; done < entry->length;) {
    uint32_t n = entry->length - done < TLX_ID3_CHUNK ? entry->length - done : TLX_ID3_CHUNK;
    // The unsynchronisation-aware read leaves the position right after the
    // bytes it consumed, so chunks follow each other without repositioning.
    if (tlx_id3_read_content_unsync(ctx, chunk, n, unsync) < (int32_t)n) return TLX_ID3_E_READ;
    if (WriteOutput(ctx, chunk, n) != (int32_t)n) return TLX_ID3_E_WRITE;
    done += n;
  }
  *content_at = entry->offset + entry->length;
  return TLX_ID3_OK;
}

int32_t WriteNewFrame(tlx_id3_context* ctx, const tlx_id3_frame_entry* entry) {
  uint8_t head[16];
  uint32_t head_len;
  if (ctx->work->version == TLX_ID3_V22) {
    memcpy(head, entry->raw_header, 6);
    head_len = 6;
  } else {
    memcpy(head, entry->raw_header, 10);
    memcpy(head + 10, entry->extra, entry->extra_len);
    head_len = 10 + entry->extra_len;
  }
  int32_t rc = PutAt(ctx, entry->new_offset, head, head_len);
  if (rc != TLX_ID3_OK) return rc;
  if (entry->data != nullptr && entry->data_size != 0 &&
      WriteOutput(ctx, entry->data, entry->data_size) != (int32_t)entry->data_size) {
    return TLX_ID3_E_WRITE;
  }
  return TLX_ID3_OK;
}

// Copies the content from its current position to the end into the output.
int32_t CopyRest(tlx_id3_context* ctx, int output) {
  for (;;) {
    int32_t n = tlx_id3_copy_content(ctx, output, kAudioChunk);
    if (n == -2) return TLX_ID3_E_WRITE;
    if (n < 0) return TLX_ID3_E_READ;
    if (n == 0) return TLX_ID3_OK;
  }
}

// Writes the new file into the open temporary file: header with flags_byte
// and a tag of frames_end + pad bytes, the held extended header, the frames,
// zero padding, then the audio data of the stored file. R is the stored
// header the caller read (it gives the unsynchronisation of stored frames).
int32_t WriteTemp(tlx_id3_context* ctx, const tlx_id3_v2_header* r, uint32_t pad,
                  uint8_t flags_byte) {
  tlx_id3_work* work = ctx->work;
  uint32_t tag_end = work->frames_end + pad;
  if (tag_end - TLX_ID3_HEADER_SIZE > kMaxTagSize) {
    tlx_trace_error("in %s() tag is too large.", "tlx_id3_v2_commit");
    return TLX_ID3_E_PARAM;
  }

  // A readable stored header keeps its magic and version bytes; a file
  // without one gets an ID3v2.3 header.
  tlx_id3_v2_header stored;
  int32_t present = 0;
  int32_t rc = tlx_id3_v2_get_header_for_edit(ctx, &stored, &present);
  if (rc != TLX_ID3_OK) return rc;
  const bool has_tag = present != 0;
  uint8_t header[TLX_ID3_HEADER_SIZE] = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0};
  if (has_tag) {
    bool at_end = false;
    rc = SeekContentForRead(ctx, 0, &at_end);
    if (rc != TLX_ID3_OK) return rc;
    if (tlx_id3_read_content(ctx, header, TLX_ID3_HEADER_SIZE) != TLX_ID3_HEADER_SIZE) {
      return TLX_ID3_E_READ;
    }
  }
  header[5] = flags_byte;
  tlx_id3_syncsafe_encode(tag_end - TLX_ID3_HEADER_SIZE, header + 6);
  rc = PutAt(ctx, 0, header, sizeof header);
  if (rc != TLX_ID3_OK) return rc;

  if (work->ext_header != nullptr) {
    // The padding field describes the padding actually written.
    uint8_t ext[14];
    uint32_t ext_len = ExtHeaderLength(work->ext_header);
    memcpy(ext, work->ext_header, ext_len);
    tlx_id3_be32_encode(pad, ext + 6);
    rc = PutAt(ctx, TLX_ID3_HEADER_SIZE, ext, ext_len);
    if (rc != TLX_ID3_OK) return rc;
  }

  uint32_t content_at = UINT32_MAX;
  for (tlx_list* node = tlx_list_first(work->frame_list); node != nullptr; node = node->next) {
    const tlx_id3_frame_entry* entry = static_cast<const tlx_id3_frame_entry*>(node->data);
    if (entry->offset != 0 && entry->data == nullptr) {
      rc = CopyStoredFrame(ctx, entry, r->unsync, &content_at);
    } else {
      rc = WriteNewFrame(ctx, entry);
    }
    if (rc != TLX_ID3_OK) return rc;
  }

  // Padding (and a trailing streamed frame's data area) by zero fill.
  rc = PutAt(ctx, tag_end, nullptr, 0);
  if (rc != TLX_ID3_OK) return rc;
  if (tlx_set_end_of_file(work->temp_fd) != 0) return TLX_ID3_E_SYSTEM;

  // A stored header, even one of size 0, is never copied as audio data, nor
  // is the footer of an ID3v2.4 tag, which the rewrite drops.
  uint32_t audio_start = has_tag ? (uint32_t)stored.size + TLX_ID3_HEADER_SIZE : 0;
  if (has_tag && stored.has_footer) audio_start += TLX_ID3_HEADER_SIZE;
  bool at_end = false;
  rc = SeekContentForRead(ctx, audio_start, &at_end);
  if (rc != TLX_ID3_OK) return rc;
  if (!at_end) {
    rc = CopyRest(ctx, work->temp_fd);
    if (rc != TLX_ID3_OK) return rc;
  }
  return TLX_ID3_OK;
}

// Refuses to rewrite a file that was opened read only.
int32_t CheckWritable(tlx_id3_context* ctx, const char* function) {
  if (ctx->mode == TLX_ID3_MODE_READ) {
    tlx_trace_error("in %s() content is read only.", function);
    return TLX_ID3_E_OPEN;
  }
  return TLX_ID3_OK;
}

int32_t CheckHeaderFlag(tlx_id3_context* ctx) {
  tlx_id3_work* work = ctx->work;
  bool flagged = (work->header_flags_byte & kFlagExtHeader) != 0;
  if (flagged != (work->ext_header != nullptr)) {
    tlx_trace_error("in %s() flag is incorrect about ex_header.",
                    "tlx_id3_v2_check_header_flag");
    return TLX_ID3_E_STATE;
  }
  return TLX_ID3_OK;
}

// Writes the temporary file and puts it in the place of the content; on a
// failure before the replace the temporary file is removed.
int32_t WriteAndReplace(tlx_id3_context* ctx, const tlx_id3_v2_header* r, uint32_t pad,
                        uint8_t flags_byte) {
  int32_t rc = tlx_id3_make_temp(ctx, ".ID3_TEMP_XXXXXX");
  if (rc != TLX_ID3_OK) return rc;
  rc = WriteTemp(ctx, r, pad, flags_byte);
  if (rc != TLX_ID3_OK) {
    DiscardTemp(ctx);
    return rc;
  }
  return tlx_id3_replace_content(ctx);
}

}  // namespace

extern "C" {

int32_t tlx_id3_make_temp(tlx_id3_context* ctx, const char* name_template) {
  static const char kName[] = "tlx_id3_make_temp";
  (void)name_template;  // the platform names temporary files itself
  if (ctx == nullptr || ctx->work == nullptr) {
    tlx_trace_error(kParamInvalid, kName);
    return TLX_ID3_E_PARAM;
  }
  tlx_id3_work* work = ctx->work;
  wchar_t dir[TLX_MAX_PATH + 1];
  if (tlx_get_temp_dir(TLX_MAX_PATH + 1, dir) == 0) {
    tlx_trace_error("in %s() tlx_get_temp_dir() failed.", kName);
    return TLX_ID3_E_SYSTEM;
  }
  wchar_t name[TLX_MAX_PATH];
  if (tlx_get_temp_file_name(dir, name) == 0) {
    tlx_trace_error("in %s() tlx_get_temp_file_name() failed.", kName);
    return TLX_ID3_E_SYSTEM;
  }
  name[TLX_MAX_PATH - 1] = 0;
  int fd = -1;
  if (tlx_open(name, TLX_O_RDWR | TLX_O_CREAT | TLX_O_TRUNC, &fd) != 0) {
    tlx_trace_error("in %s() tlx_open() failed.", kName);
    RemoveTempFile(name);  // the name was reserved by creating the file
    return TLX_ID3_E_SYSTEM;
  }
  work->temp_fd = fd;
  wcsncpy(work->temp_path, name, TLX_MAX_PATH - 1);
  work->temp_path[TLX_MAX_PATH - 1] = 0;
  return TLX_ID3_OK;
}

int32_t tlx_id3_close_temp(tlx_id3_context* ctx) {
  if (ctx == nullptr || ctx->work == nullptr) return TLX_ID3_E_PARAM;
  tlx_id3_work* work = ctx->work;
  if (work->temp_fd == -1) return TLX_ID3_OK;
  int32_t rc = TLX_ID3_OK;
  if (tlx_close(&work->temp_fd) != 0) {
    tlx_trace_error("in %s() tlx_close() failed.", "tlx_id3_close_temp");
    rc = TLX_ID3_E_CLOSE;
  }
  // The handle is given up either way: the temporary file is about to be
  // removed and must not be written again.
  work->temp_fd = -1;
  return rc;
}

int32_t tlx_id3_replace_content(tlx_id3_context* ctx) {
  static const char kName[] = "tlx_id3_replace_content";
  if (ctx == nullptr || ctx->work == nullptr) {
    tlx_trace_error(kParamInvalid, kName);
    return TLX_ID3_E_PARAM;
  }
  tlx_id3_work* work = ctx->work;
  wchar_t temp[TLX_MAX_PATH];
  wcsncpy(temp, work->temp_path, TLX_MAX_PATH - 1);
  temp[TLX_MAX_PATH - 1] = 0;
  work->temp_path[0] = 0;

  if (tlx_id3_close_temp(ctx) != TLX_ID3_OK) {
    RemoveTempFile(temp);
    return TLX_ID3_E_CLOSE;
  }
  int32_t rc = TLX_ID3_OK;
  if (tlx_id3_close_content(ctx) < 0) {
    // A failed close releases the descriptor all the same: the file is left
    // as it was and opened again below.
    tlx_trace_error("in %s() tlx_close() failed.", kName);
    RemoveTempFile(temp);
    ctx->fd = TLX_INVALID_HANDLE;
    rc = TLX_ID3_E_CLOSE;
  } else if (tlx_rename(temp, ctx->path) != 0) {
    tlx_trace_error("in %s() tlx_rename() failed.", kName);
    RemoveTempFile(temp);
    rc = TLX_ID3_E_SYSTEM;
  } else if ((int16_t)tlx_stat_mode(temp) < 0) {
    // tlx_rename ignores a failed removal of its source; try again.
    RemoveTempFile(temp);
  }
  // Reopened on every path, so that the context stays usable (and the file
  // locked) after a failed rename as well.
  int fd = -1;
  if (tlx_id3_open_content(ctx, TLX_ID3_MODE_WRITE, &fd) < 0) {
    tlx_trace_error("in %s() tlx_open() failed.", kName);
    ctx->fd = TLX_INVALID_HANDLE;
    return rc != TLX_ID3_OK ? rc : TLX_ID3_E_OPEN;
  }
  ctx->fd = fd;
  return rc;
}

int32_t tlx_id3_v2_commit(tlx_id3_context* ctx, const tlx_id3_v2_header* header) {
  static const char kName[] = "tlx_id3_v2_commit";
  if (ctx == nullptr || ctx->work == nullptr || header == nullptr) {
    tlx_trace_error(kParamInvalid, kName);
    return TLX_ID3_E_PARAM;
  }
  int32_t rc = CheckWritable(ctx, kName);
  if (rc != TLX_ID3_OK) return rc;
  tlx_id3_work* work = ctx->work;
  // Frames are copied de-unsynchronised, so the new tag never is.
  work->header_flags = &work->header_flags_byte;
  work->header_flags_byte &= (uint8_t)~kFlagUnsync;
  if (work->version == TLX_ID3_V23 || work->version == TLX_ID3_V24) {
    rc = CheckHeaderFlag(ctx);
    if (rc != TLX_ID3_OK) return rc;
  }
  Layout(work);
  uint32_t pad = kPaddingBase - work->frames_end % kPaddingAlign;
  return WriteAndReplace(ctx, header, pad, work->header_flags_byte);
}

int32_t tlx_id3_v2_set_header_flag_info(tlx_id3_context* ctx, const int32_t* flags) {
  static const char kName[] = "tlx_id3_v2_set_header_flag_info";
  tlx_trace("tlx_id3_v2_set_header_flag_info() enter");
  if (ctx == nullptr || flags == nullptr || ctx->work == nullptr) {
    tlx_trace_error(kParamInvalid, kName);
    return TLX_ID3_E_PARAM;
  }
  if (ctx->state != TLX_ID3_STATE_EDITING) {
    tlx_trace_error(kStateInvalid, kName);
    return TLX_ID3_E_STATE;
  }
  ctx->work->header_flags = &ctx->work->header_flags_byte;
  ctx->work->header_flags_byte = EncodeFlags(ctx->work->version, flags);
  tlx_trace("tlx_id3_v2_set_header_flag_info() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_remove_extended_header(tlx_id3_context* ctx) {
  static const char kName[] = "tlx_id3_v2_remove_extended_header";
  tlx_trace("tlx_id3_v2_remove_extended_header() enter");
  if (ctx == nullptr || ctx->work == nullptr) {
    tlx_trace_error(kParamInvalid, kName);
    return TLX_ID3_E_PARAM;
  }
  if (ctx->work->version != TLX_ID3_V23 && ctx->work->version != TLX_ID3_V24) {
    tlx_trace_error(kNoExHeader, kName);
    return TLX_ID3_E_UNSUPPORTED;
  }
  if (ctx->state != TLX_ID3_STATE_EDITING) {
    tlx_trace_error(kStateInvalid, kName);
    return TLX_ID3_E_STATE;
  }
  tlx_sqa_free(ctx->work->ext_header);
  ctx->work->ext_header = nullptr;
  tlx_id3_v2_header header;
  int32_t rc = tlx_id3_v2_get_header(ctx, &header);
  if (rc != TLX_ID3_OK) return rc;
  header.has_ext_header = 0;
  ctx->work->header_flags = &ctx->work->header_flags_byte;
  ctx->work->header_flags_byte = EncodeFlags(ctx->work->version, &header.unsync);
  tlx_trace("tlx_id3_v2_remove_extended_header() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_add_extended_header(tlx_id3_context* ctx,
                                       const tlx_id3_v2_extended_header* ext) {
  static const char kName[] = "tlx_id3_v2_add_extended_header";
  tlx_trace("tlx_id3_v2_add_extended_header() enter");
  if (ctx == nullptr || ext == nullptr || ctx->work == nullptr) {
    tlx_trace_error(kParamInvalid, kName);
    return TLX_ID3_E_PARAM;
  }
  if (ctx->work->version != TLX_ID3_V23) {
    tlx_trace_error(kNoExHeader, kName);
    return TLX_ID3_E_UNSUPPORTED;
  }
  if (ctx->state != TLX_ID3_STATE_EDITING) {
    tlx_trace_error(kStateInvalid, kName);
    return TLX_ID3_E_STATE;
  }
  uint8_t* block = ctx->work->ext_header;
  if (block == nullptr) {
    block = static_cast<uint8_t*>(tlx_sqa_calloc(14));
    if (block == nullptr) {
      tlx_trace_error("in %s() tlx_sqa_calloc() failed.", kName);
      return TLX_ID3_E_NOMEM;
    }
    ctx->work->ext_header = block;
  }
  if (ext->has_crc == 1) {
    block[4] |= 0x80;
    tlx_id3_be32_encode(10, block);
    memcpy(block + 10, ext->crc, 4);
  } else {
    block[4] &= 0x7F;
    tlx_id3_be32_encode(6, block);
    memset(block + 10, 0, 4);
  }
  tlx_id3_be32_encode(ext->padding_size, block + 6);
  tlx_trace("tlx_id3_v2_add_extended_header() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_adjust_padding_size(tlx_id3_context* ctx, uint32_t padding) {
  static const char kName[] = "tlx_id3_v2_adjust_padding_size";
  tlx_trace("tlx_id3_v2_adjust_padding_size() enter");
  int32_t rc = tlx_id3_check_state(ctx, TLX_ID3_STATE_IDLE, kName);
  if (rc != TLX_ID3_OK) return rc;
  uint32_t current = 0;
  rc = tlx_id3_v2_get_padding_size(ctx, &current);
  if (rc != TLX_ID3_OK) return rc;
  rc = CheckWritable(ctx, kName);
  if (rc != TLX_ID3_OK) return rc;
  tlx_id3_v2_header r;
  rc = tlx_id3_v2_get_header(ctx, &r);
  if (rc != TLX_ID3_OK) return rc;
  rc = tlx_id3_v2_edit_begin(ctx);
  if (rc != TLX_ID3_OK) return rc;
  tlx_id3_work* work = ctx->work;
  // The stored flags stay, except unsynchronisation: the frames are written
  // de-unsynchronised, and a reader must not undo it a second time.
  uint8_t flags_byte = EncodeFlags(work->version, &r.unsync) & (uint8_t)~kFlagUnsync;
  // An ID3v2.4 extended header is not kept.
  if (work->ext_header == nullptr) flags_byte &= (uint8_t)~kFlagExtHeader;
  Layout(work);
  rc = WriteAndReplace(ctx, &r, padding, flags_byte);
  // A failure ends the transaction this operation opened, so the context is
  // idle again either way.
  tlx_id3_v2_reset_work(ctx);
  if (rc != TLX_ID3_OK) return rc;
  tlx_trace("tlx_id3_v2_adjust_padding_size() exit");
  return TLX_ID3_OK;
}

}  // extern "C"
