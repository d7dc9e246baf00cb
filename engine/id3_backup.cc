// Backup and recovery of a file's ID3v2 tag: the stored tag is copied byte
// for byte into a backup file, and a file is later rebuilt from that backup
// followed by the audio data it holds at that moment. Also the completion of
// an edit that a crash interrupted while it copied the new file in place.
#include <string.h>

#include "id3_internal.h"

namespace {

const char kParamInvalid[] = "in %s() parameter is invalid.";
const uint32_t kCopyChunk = 64 * 1024;

// Copies from the content (already positioned) to handle until a read yields
// nothing. limit bounds the bytes copied; 0 means no bound. Returns 0, 2
// for a failed read or a short read before limit, 3 for a short write.
int32_t CopyContent(tlx_id3_context* ctx, int handle, uint32_t limit) {
  uint8_t chunk[kCopyChunk];
  uint32_t done = 0;
  for (;;) {
    uint32_t want = kCopyChunk;
    if (limit != 0) {
      if (done == limit) return TLX_ID3_OK;
      if (limit - done < want) want = limit - done;
    }
    int32_t n = tlx_id3_read_content(ctx, chunk, want);
    if (n < 0) return TLX_ID3_E_READ;
    if (n == 0) return limit != 0 ? TLX_ID3_E_READ : TLX_ID3_OK;
    if (tlx_write(handle, chunk, (uint32_t)n) != n) return TLX_ID3_E_WRITE;
    done += (uint32_t)n;
  }
}

// Removes a file, trying once more after a failure if it still exists.
void RemoveFile(const wchar_t* path) {
  if (tlx_unlink(path) == 0) return;
  if ((int16_t)tlx_stat_mode(path) < 0) tlx_unlink(path);
}

// Closes a handle for good: a failed close is reported, but the handle is
// not used again.
int32_t CloseFile(int* handle) {
  if (*handle == -1) return 0;
  int32_t rc = tlx_close(handle);
  *handle = -1;
  return rc;
}

// Checks that a backup file starts with a tag header of the expected magic:
// recovering from anything else would put foreign bytes in front of the
// audio data.
int32_t CheckBackup(int handle, const char* tag_id) {
  uint8_t head[TLX_ID3_HEADER_SIZE];
  if (tlx_read(handle, head, sizeof head) != (int32_t)sizeof head) return TLX_ID3_E_NOT_FOUND;
  if (tlx_lseek(handle, 0, 0) != 0) return TLX_ID3_E_SEEK;
  if (memcmp(head, "ID3", 3) == 0) return TLX_ID3_OK;
  if (tag_id != nullptr && tag_id[0] != 0 && strlen(tag_id) <= sizeof head &&
      memcmp(head, tag_id, strlen(tag_id)) == 0) {
    return TLX_ID3_OK;
  }
  return TLX_ID3_E_NOT_FOUND;
}

}  // namespace

extern "C" {

int32_t tlx_id3_v2_backup(const wchar_t* backup_path, const wchar_t* audio_path,
                          const char* tag_id) {
  static const char kName[] = "tlx_id3_v2_backup";
  tlx_trace("tlx_id3_v2_backup() enter");
  if (backup_path == nullptr || audio_path == nullptr) {
    tlx_trace_error(kParamInvalid, kName);
    return TLX_ID3_E_PARAM;
  }
  tlx_id3_context ctx;
  int32_t rc = tlx_id3_create_context(audio_path, TLX_ID3_MODE_READ, nullptr, &ctx);
  if (rc != TLX_ID3_OK) return rc;
  tlx_id3_v2_header header;
  if (tag_id != nullptr) rc = tlx_id3_v2_set_allow_tag_id(&ctx, tag_id);
  if (rc == TLX_ID3_OK) rc = tlx_id3_v2_get_header(&ctx, &header);
  if (rc != TLX_ID3_OK) {
    tlx_id3_destroy_context(&ctx);
    return rc;
  }
  int backup = -1;
  if (tlx_open(backup_path, TLX_O_WRONLY | TLX_O_CREAT, &backup) != 0) {
    tlx_trace_error("in %s() backup file tlx_open() failed.", kName);
    tlx_id3_destroy_context(&ctx);
    return TLX_ID3_E_OPEN;
  }
  if (tlx_id3_seek_content(&ctx, 0, 0) != 0) {
    rc = TLX_ID3_E_SEEK;
  } else {
    rc = CopyContent(&ctx, backup, (uint32_t)header.size + TLX_ID3_HEADER_SIZE);
    if (rc == TLX_ID3_E_WRITE) tlx_trace_error("in %s() backup file tlx_write() failed.", kName);
  }
  // An existing longer file at the backup path must not keep its tail: the
  // backup is exactly the tag.
  if (rc == TLX_ID3_OK && tlx_set_end_of_file(backup) != 0) {
    tlx_trace_error("in %s() backup file tlx_write() failed.", kName);
    rc = TLX_ID3_E_WRITE;
  }
  if (rc == TLX_ID3_OK && tlx_fsync(backup) < 0) {
    tlx_trace_error("in %s() tlx_fsync() failed.", kName);
    rc = TLX_ID3_E_SYSTEM;
  }
  if (rc == TLX_ID3_OK && CloseFile(&backup) != 0) {
    tlx_trace_error("in %s() tlx_close() failed.", kName);
    rc = TLX_ID3_E_CLOSE;
  }
  if (rc != TLX_ID3_OK) {
    CloseFile(&backup);
    RemoveFile(backup_path);
    tlx_id3_destroy_context(&ctx);
    return rc;
  }
  rc = tlx_id3_destroy_context(&ctx);
  if (rc != TLX_ID3_OK) {
    RemoveFile(backup_path);
    return rc;
  }
  tlx_trace("tlx_id3_v2_backup() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v2_recover(const wchar_t* audio_path, const wchar_t* backup_path,
                           const char* tag_id) {
  static const char kName[] = "tlx_id3_v2_recover";
  tlx_trace("tlx_id3_v2_recover() enter");
  if (audio_path == nullptr || backup_path == nullptr) {
    tlx_trace_error(kParamInvalid, kName);
    return TLX_ID3_E_PARAM;
  }
  int backup = -1;
  if (tlx_open(backup_path, TLX_O_RDONLY, &backup) != 0) {
    tlx_trace_error("in %s() backup_file tlx_open() failed.", kName);
    return TLX_ID3_E_OPEN;
  }
  int32_t rc = CheckBackup(backup, tag_id);
  if (rc != TLX_ID3_OK) {
    tlx_trace_error("in %s() backup file is invalid.", kName);
    CloseFile(&backup);
    return rc;
  }
  tlx_id3_context ctx;
  rc = tlx_id3_create_context(audio_path, TLX_ID3_MODE_WRITE, nullptr, &ctx);
  if (rc != TLX_ID3_OK) {
    CloseFile(&backup);
    return rc;
  }
  if (tag_id != nullptr) rc = tlx_id3_v2_set_allow_tag_id(&ctx, tag_id);
  if (rc == TLX_ID3_OK) rc = tlx_id3_make_temp(&ctx, ".ID3_RECOVER_TEMP_XXXXXX");
  if (rc != TLX_ID3_OK) {
    tlx_id3_destroy_context(&ctx);
    CloseFile(&backup);
    return rc;
  }
  wchar_t temp[TLX_MAX_PATH];
  wcsncpy(temp, ctx.work->temp_path, TLX_MAX_PATH - 1);
  temp[TLX_MAX_PATH - 1] = 0;

  tlx_id3_v2_header header;
  rc = tlx_id3_v2_get_header(&ctx, &header);
  int temp_fd = ctx.work->temp_fd;
  if (rc == TLX_ID3_OK && tlx_lseek(temp_fd, 0, 0) != 0) rc = TLX_ID3_E_SEEK;
  if (rc == TLX_ID3_OK) {
    // The whole backup file, then the audio data behind the current tag.
    uint8_t chunk[kCopyChunk];
    for (;;) {
      int32_t n = tlx_read(backup, chunk, kCopyChunk);
      if (n < 0) {
        rc = TLX_ID3_E_READ;
        break;
      }
      if (n == 0) break;
      if (tlx_write(temp_fd, chunk, (uint32_t)n) != n) {
        rc = TLX_ID3_E_READ;
        break;
      }
    }
  }
  if (rc == TLX_ID3_OK) {
    uint32_t audio_start = (uint32_t)header.size + TLX_ID3_HEADER_SIZE;
    int32_t position = tlx_id3_position_content(&ctx, (int32_t)audio_start, 0);
    if (position < 0) {
      rc = TLX_ID3_E_SEEK;
    } else if ((uint32_t)position == audio_start) {
      rc = CopyContent(&ctx, temp_fd, 0);
      if (rc == TLX_ID3_E_WRITE) rc = TLX_ID3_E_READ;
    }
  }
  if (rc == TLX_ID3_OK && tlx_fsync(temp_fd) < 0) {
    tlx_trace_error("in %s() tlx_fsync() failed.", kName);
    rc = TLX_ID3_E_SYSTEM;
  }
  if (rc != TLX_ID3_OK) {
    tlx_id3_close_temp(&ctx);
    RemoveFile(temp);
    ctx.work->temp_path[0] = 0;
    tlx_id3_destroy_context(&ctx);
    CloseFile(&backup);
    return rc;
  }
  rc = tlx_id3_replace_content(&ctx);
  if (rc != TLX_ID3_OK) {
    tlx_id3_destroy_context(&ctx);
    CloseFile(&backup);
    return rc;
  }
  if (CloseFile(&backup) != 0) {
    tlx_trace_error("in %s() tlx_close() failed.", kName);
    tlx_id3_destroy_context(&ctx);
    return TLX_ID3_E_CLOSE;
  }
  if (tlx_unlink(backup_path) != 0) {
    tlx_trace_error("in %s() tlx_unlink() failed.", kName);
    tlx_id3_destroy_context(&ctx);
    return TLX_ID3_E_SYSTEM;
  }
  rc = tlx_id3_destroy_context(&ctx);
  if (rc != TLX_ID3_OK) return rc;
  tlx_trace("tlx_id3_v2_recover() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_complete_interrupted(const wchar_t* path, int32_t* completed) {
  tlx_trace("tlx_id3_complete_interrupted() enter");
  if (completed != nullptr) *completed = 0;
  if (path == nullptr) {
    tlx_trace_error(kParamInvalid, "tlx_id3_complete_interrupted");
    return TLX_ID3_E_PARAM;
  }
  int32_t rc = tlx_complete_replace(path);
  if (rc < 0) {
    tlx_trace_error("in %s() tlx_complete_replace() failed.", "tlx_id3_complete_interrupted");
    return tlx_last_failure() == TLX_FAILURE_NOMEM ? TLX_ID3_E_NOMEM : TLX_ID3_E_SYSTEM;
  }
  if (completed != nullptr) *completed = rc > 0 ? 1 : 0;
  tlx_trace("tlx_id3_complete_interrupted() exit");
  return TLX_ID3_OK;
}

}  // extern "C"
