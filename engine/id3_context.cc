// The engine context: creation and destruction, the content access through
// which every engine file reaches the audio file, and the write buffer.
#include <string.h>
#include <wchar.h>

#include "id3_frame_decode.h"
#include "id3_internal.h"

namespace {

const char kParamInvalid[] = "in %s() parameter is invalid.";

void DropData(tlx_id3_read_cache* cache);
int32_t Write(tlx_id3_context* ctx, const void* buffer, uint32_t count);

void Release(tlx_id3_context* ctx) {
  // An open transaction is dropped with the context: its list goes too.
  if (ctx->work != nullptr) {
    tlx_id3_v2_reset_work(ctx);
    DropData(&ctx->work->cache);
  }
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

// ---- The content access underneath: one call of the file layer per
// operation, or, inside a read session, memory wherever it can answer.

// Remembers a failed read or positioning that the system, not the request,
// is to blame for; result passes through. Callers see -1 either way.
int32_t NoteIo(tlx_id3_context* ctx, int32_t result) {
  if (result < 0 && ctx->work != nullptr && tlx_last_failure() == TLX_FAILURE_IO) {
    ctx->work->cache.failed |= TLX_ID3_FAILED_IO;
  }
  return result;
}

const uint32_t kHeadFirstRead = 4096;
// Past the tag's declared end: the unsynchronisation-aware reads look one
// byte further.
const uint32_t kHeadSlack = 16;
// Larger tags are read from the file as far as they exceed this.
const uint32_t kHeadLimit = 16u << 20;

void ForgetHandle(tlx_id3_read_cache* cache) {
  cache->handle_known = 0;
  cache->handle_pos = 0;
}

void DropData(tlx_id3_read_cache* cache) {
  tlx_sqa_free(cache->head);
  cache->head = nullptr;
  cache->head_loaded = 0;
  cache->head_len = 0;
  cache->tail_loaded = 0;
  cache->tail_len = 0;
  cache->size_known = 0;
  tlx_sqa_free(cache->walk);
  cache->walk = nullptr;
  cache->header_known = 0;
  tlx_id3_free_decoded(cache->decoded);
  cache->decoded = nullptr;
  tlx_sqa_free(cache->lent);
  cache->lent = nullptr;
  cache->lent_capacity = 0;
}

void FreeCache(tlx_id3_read_cache* cache) {
  DropData(cache);
  cache->pos_known = 0;
}

tlx_id3_read_cache* Session(tlx_id3_context* ctx) {
  return ctx->work != nullptr && ctx->work->cache.active ? &ctx->work->cache : nullptr;
}

// After a session the handle may owe a move to the content position.
int32_t Resync(tlx_id3_context* ctx) {
  if (ctx->work == nullptr || !ctx->work->cache.resync) return 0;
  tlx_id3_read_cache* cache = &ctx->work->cache;
  if (NoteIo(ctx, tlx_lseek(ctx->fd, cache->resync_pos, 0)) != cache->resync_pos) return -1;
  cache->resync = 0;
  return 0;
}

int32_t RealSeek(tlx_id3_context* ctx, tlx_id3_read_cache* cache, int32_t offset,
                 int32_t whence) {
  int32_t position = NoteIo(ctx, tlx_lseek(ctx->fd, offset, whence));
  cache->handle_known = position >= 0;
  cache->handle_pos = position >= 0 ? position : 0;
  return position;
}

int32_t RealRead(tlx_id3_context* ctx, tlx_id3_read_cache* cache, void* buffer,
                 uint32_t count) {
  int32_t n = NoteIo(ctx, tlx_read(ctx->fd, buffer, count));
  if (n < 0) {
    ForgetHandle(cache);
  } else {
    cache->handle_pos += n;
  }
  return n;
}

int32_t EnsurePos(tlx_id3_context* ctx, tlx_id3_read_cache* cache) {
  if (cache->pos_known) return 0;
  int32_t position = RealSeek(ctx, cache, 0, 1);
  if (position < 0) return -1;
  cache->pos = position;
  cache->pos_known = 1;
  return 0;
}

int32_t EnsureSize(tlx_id3_context* ctx, tlx_id3_read_cache* cache) {
  if (cache->size_known) return 0;
  int32_t size = RealSeek(ctx, cache, 0, 2);
  if (size < 0) return -1;
  cache->size = size;
  cache->size_known = 1;
  return 0;
}

// Puts the handle at the content position before a real read or write.
int32_t SyncHandle(tlx_id3_context* ctx, tlx_id3_read_cache* cache) {
  if (cache->handle_known && cache->handle_pos == cache->pos) return 0;
  return RealSeek(ctx, cache, cache->pos, 0) == cache->pos ? 0 : -1;
}

bool HasTagMagic(const tlx_id3_context* ctx, const uint8_t* bytes) {
  if (memcmp(bytes, "ID3", 3) == 0) return true;
  if (ctx->allow_tag_id == nullptr) return false;
  size_t length = strlen(ctx->allow_tag_id);
  return length > 0 && length <= TLX_ID3_HEADER_SIZE &&
         memcmp(bytes, ctx->allow_tag_id, length) == 0;
}

// Reads the head of the file: a first block, and the rest of the tag region
// when the block starts a tag that reaches beyond it.
int32_t LoadHead(tlx_id3_context* ctx, tlx_id3_read_cache* cache) {
  if (!(cache->handle_known && cache->handle_pos == 0) && RealSeek(ctx, cache, 0, 0) != 0) {
    return -1;
  }
  // The first block goes on the stack: the one allocation is then made to
  // the size of the tag.
  uint8_t first[kHeadFirstRead];
  int32_t got = RealRead(ctx, cache, first, kHeadFirstRead);
  if (got < 0) return -1;
  uint32_t have = static_cast<uint32_t>(got);
  bool at_end = have < kHeadFirstRead;  // the file layer reads on to the count
  uint64_t want = have;
  if (!at_end && HasTagMagic(ctx, first)) {
    want = TLX_ID3_HEADER_SIZE + static_cast<uint64_t>(tlx_id3_syncsafe_decode(first + 6)) +
           kHeadSlack;
    if (want > kHeadLimit) want = kHeadLimit;
    if (want < have) want = have;
  }
  uint8_t* head = static_cast<uint8_t*>(tlx_sqa_malloc(want > 0 ? static_cast<size_t>(want) : 1));
  if (head == nullptr) {
    cache->failed |= TLX_ID3_FAILED_NOMEM;
    return -1;
  }
  memcpy(head, first, have);
  if (want > have) {
    uint32_t rest = static_cast<uint32_t>(want) - have;
    int32_t more = RealRead(ctx, cache, head + have, rest);
    if (more < 0) {
      tlx_sqa_free(head);
      return -1;
    }
    have += static_cast<uint32_t>(more);
    at_end = static_cast<uint32_t>(more) < rest;
  }
  tlx_sqa_free(cache->head);
  cache->head = head;
  cache->head_len = have;
  cache->head_loaded = 1;
  if (at_end) {
    cache->size = static_cast<int32_t>(have);
    cache->size_known = 1;
  }
  return 0;
}

// Reads the last bytes of the file, where the ID3v1 trailer lives: one call
// at the known length, the handle left where it may.
int32_t LoadTail(tlx_id3_context* ctx, tlx_id3_read_cache* cache) {
  int32_t length = cache->size < TLX_ID3_TRAILER_SIZE ? cache->size : TLX_ID3_TRAILER_SIZE;
  int32_t at = cache->size - length;
  ForgetHandle(cache);
  int32_t got = NoteIo(ctx, tlx_pread(ctx->fd, cache->tail, static_cast<uint32_t>(length), at));
  if (got < 0) return -1;
  cache->tail_at = at;
  cache->tail_len = static_cast<uint32_t>(got);
  cache->tail_loaded = 1;
  return 0;
}

// Keeps what a session read of the file's ends, for tlx_id3_get_file_ends
// after the session.
void NoteEnds(tlx_id3_read_cache* cache) {
  tlx_id3_file_ends* ends = &cache->ends;
  if (!cache->size_known) return;
  ends->file_size = cache->size;
  cache->ends_size_known = 1;
  if (!cache->ends_head_known && cache->head_loaded) {
    uint32_t n = cache->head_len < sizeof ends->head ? cache->head_len : sizeof ends->head;
    if (n == sizeof ends->head || static_cast<int32_t>(n) == cache->size) {
      memcpy(ends->head, cache->head, n);
      ends->head_size = n;
      cache->ends_head_known = 1;
    }
  }
  if (!cache->ends_tail_known && cache->tail_loaded &&
      static_cast<int64_t>(cache->tail_at) + cache->tail_len == cache->size) {
    memset(ends->trailer, 0, sizeof ends->trailer);
    if (cache->tail_len == TLX_ID3_TRAILER_SIZE) memcpy(ends->trailer, cache->tail, TLX_ID3_TRAILER_SIZE);
    ends->has_trailer = cache->tail_len == TLX_ID3_TRAILER_SIZE && memcmp(cache->tail, "TAG", 3) == 0;
    cache->ends_tail_known = 1;
  }
}

// A write makes what was noted of the file's ends stale.
void ForgetEnds(tlx_id3_read_cache* cache) {
  cache->ends_size_known = 0;
  cache->ends_head_known = 0;
  cache->ends_tail_known = 0;
}

// Reads what the session has not of the file's ends: the first bytes with
// one read at the start, the trailer with one read from the end. The
// content position stays where it was.
int32_t ReadEnds(tlx_id3_context* ctx, tlx_id3_read_cache* cache) {
  if (EnsurePos(ctx, cache) < 0) return TLX_ID3_E_SEEK;
  if (!cache->size_known && cache->ends_size_known) {
    cache->size = cache->ends.file_size;
    cache->size_known = 1;
  }
  if (!cache->size_known && EnsureSize(ctx, cache) < 0) {
    if (cache->failed & TLX_ID3_FAILED_IO) return TLX_ID3_E_SEEK;
    // Too long for the 32-bit offsets: the head alone, no trailer.
    cache->ends.file_size = -1;
    memset(cache->ends.trailer, 0, sizeof cache->ends.trailer);
    cache->ends.has_trailer = 0;
    cache->ends_tail_known = 1;
  }
  NoteEnds(cache);
  tlx_id3_file_ends* ends = &cache->ends;
  if (!cache->ends_head_known) {
    if (RealSeek(ctx, cache, 0, 0) != 0) return TLX_ID3_E_SEEK;
    int32_t got = RealRead(ctx, cache, ends->head, sizeof ends->head);
    if (got < 0) return TLX_ID3_E_READ;
    ends->head_size = static_cast<uint32_t>(got);
    cache->ends_head_known = 1;
  }
  if (!cache->ends_tail_known) {
    if (LoadTail(ctx, cache) < 0) return TLX_ID3_E_READ;
    NoteEnds(cache);
  }
  return TLX_ID3_OK;
}

int32_t SessionPosition(tlx_id3_context* ctx, tlx_id3_read_cache* cache, int32_t offset,
                        int32_t whence) {
  int64_t base = 0;
  if (whence == 1) {
    if (EnsurePos(ctx, cache) < 0) return -1;
    base = cache->pos;
  } else if (whence == 2) {
    if (EnsureSize(ctx, cache) < 0) return -1;
    base = cache->size;
  } else if (whence != 0) {
    return -1;
  }
  int64_t target = base + offset;
  if (target < 0) return -1;
  // Only a position beyond the bytes known to exist needs the file length.
  if (target > 0 && !(cache->head_loaded && target <= cache->head_len)) {
    if (EnsureSize(ctx, cache) < 0) return -1;
    if (target > cache->size) target = cache->size;
  }
  if (target > INT32_MAX) return -1;
  cache->pos = static_cast<int32_t>(target);
  cache->pos_known = 1;
  return cache->pos;
}

int32_t SessionRead(tlx_id3_context* ctx, tlx_id3_read_cache* cache, void* buffer,
                    uint32_t count) {
  if (buffer == nullptr || EnsurePos(ctx, cache) < 0) return -1;
  if (!cache->head_loaded && LoadHead(ctx, cache) < 0) return -1;
  uint64_t from = static_cast<uint32_t>(cache->pos);
  uint64_t to = from + count;
  if (cache->size_known && to > static_cast<uint64_t>(cache->size)) {
    to = from < static_cast<uint64_t>(cache->size) ? static_cast<uint64_t>(cache->size) : from;
  }
  const uint8_t* source = nullptr;
  if (to <= cache->head_len) {
    source = cache->head + from;
  } else if (from >= cache->head_len) {
    if (!cache->tail_loaded) {
      if (EnsureSize(ctx, cache) < 0) return -1;
      if (from + TLX_ID3_TRAILER_SIZE >= static_cast<uint64_t>(cache->size) &&
          LoadTail(ctx, cache) < 0) {
        return -1;
      }
    }
    if (cache->tail_loaded && from >= static_cast<uint64_t>(cache->tail_at) &&
        to <= static_cast<uint64_t>(cache->tail_at) + cache->tail_len) {
      source = cache->tail + (from - static_cast<uint64_t>(cache->tail_at));
    }
  }
  if (source != nullptr || from == to) {
    uint32_t n = static_cast<uint32_t>(to - from);
    if (n > 0) memcpy(buffer, source, n);
    cache->pos += static_cast<int32_t>(n);
    return static_cast<int32_t>(n);
  }
  if (SyncHandle(ctx, cache) < 0) return -1;
  int32_t n = RealRead(ctx, cache, buffer, count);
  if (n < 0) {
    cache->pos_known = 0;
    return -1;
  }
  cache->pos += n;
  return n;
}

int32_t Position(tlx_id3_context* ctx, int32_t offset, int32_t whence) {
  if (tlx_id3_read_cache* cache = Session(ctx)) {
    return SessionPosition(ctx, cache, offset, whence);
  }
  if (ctx->work != nullptr) {
    tlx_id3_read_cache* cache = &ctx->work->cache;
    ForgetHandle(cache);
    if (cache->resync && whence == 1) {
      // Relative to where the content stands, not the handle.
      int64_t target = static_cast<int64_t>(cache->resync_pos) + offset;
      if (target < INT32_MIN || target > INT32_MAX) return -1;
      int32_t position = NoteIo(ctx, tlx_lseek(ctx->fd, static_cast<int32_t>(target), 0));
      if (position >= 0) cache->resync = 0;
      return position;
    }
    int32_t position = NoteIo(ctx, tlx_lseek(ctx->fd, offset, whence));
    if (position >= 0) cache->resync = 0;
    return position;
  }
  return tlx_lseek(ctx->fd, offset, whence);
}

int32_t Read(tlx_id3_context* ctx, void* buffer, uint32_t count) {
  if (tlx_id3_read_cache* cache = Session(ctx)) return SessionRead(ctx, cache, buffer, count);
  if (ctx->work != nullptr) ForgetHandle(&ctx->work->cache);
  if (Resync(ctx) < 0) return -1;
  return NoteIo(ctx, tlx_read(ctx->fd, buffer, count));
}

// A write changes the file: a session forgets what it read.
int32_t Write(tlx_id3_context* ctx, const void* buffer, uint32_t count) {
  if (ctx->work != nullptr) {
    ctx->work->cache.opened_size_known = 0;
    ForgetEnds(&ctx->work->cache);
  }
  if (tlx_id3_read_cache* cache = Session(ctx)) {
    DropData(cache);
    if (EnsurePos(ctx, cache) < 0 || SyncHandle(ctx, cache) < 0) return -1;
    int32_t n = tlx_write(ctx->fd, buffer, count);
    if (n < 0) {
      ForgetHandle(cache);
      cache->pos_known = 0;
      return -1;
    }
    cache->handle_pos += n;
    cache->pos += n;
    return n;
  }
  if (ctx->work != nullptr) ForgetHandle(&ctx->work->cache);
  if (Resync(ctx) < 0) return -1;
  return tlx_write(ctx->fd, buffer, count);
}

// Opens an existing file for a new context: only a regular file qualifies,
// and an edit that a crash interrupted while copying into it is completed
// first, so that nobody reads a torn file.
int32_t OpenExisting(const wchar_t* path, int32_t mode, int* fd, int32_t* size) {
  static const char kFunction[] = "tlx_id3_create_context";
  if (mode != TLX_ID3_MODE_READ && mode != TLX_ID3_MODE_WRITE) {
    tlx_trace_error("in %s() mode is invalid.", kFunction);
    return TLX_ID3_E_OPEN;
  }
  switch (tlx_open_file(path, mode == TLX_ID3_MODE_READ ? TLX_O_RDONLY : TLX_O_RDWR, fd, size)) {
    case 0:
      return TLX_ID3_OK;
    case TLX_ENOENT:
      tlx_trace_error("in %s() file is invalid.", kFunction);
      return TLX_ID3_E_NOT_FOUND;
    case TLX_EUNFINISHED:
      tlx_trace_error("in %s() interrupted edit cannot be completed.", kFunction);
      return tlx_last_failure() == TLX_FAILURE_NOMEM ? TLX_ID3_E_NOMEM : TLX_ID3_E_SYSTEM;
    default:
      tlx_trace_error("in %s() tlx_open_file() failed.", kFunction);
      return TLX_ID3_E_OPEN;
  }
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
  // An existing file is opened before anything is allocated.
  int fd = TLX_INVALID_HANDLE;
  int32_t size = -1;
  if (mode != TLX_ID3_MODE_CREATE) {
    int32_t opened = OpenExisting(path, mode, &fd, &size);
    if (opened != TLX_ID3_OK) return opened;
  }
  memset(ctx, 0, sizeof(*ctx));
  ctx->fd = fd;
  ctx->work = static_cast<tlx_id3_work*>(tlx_sqa_malloc(sizeof(tlx_id3_work)));
  if (ctx->work == nullptr) {
    tlx_trace_error("in %s() tlx_sqa_malloc() failed.", kFunction);
    if (ctx->fd != TLX_INVALID_HANDLE) tlx_id3_close_content(ctx);
    return TLX_ID3_E_NOMEM;
  }
  tlx_id3_clear_work(ctx->work);
  ctx->path = tlx_sqa_wcsndup(path, wcslen(path));
  if (ctx->path == nullptr) {
    tlx_trace_error("in %s() tlx_sqa_strndup() failed.", kFunction);
    if (ctx->fd != TLX_INVALID_HANDLE) tlx_id3_close_content(ctx);
    Release(ctx);
    return TLX_ID3_E_NOMEM;
  }
  ctx->content_kind = 0;
  ctx->mode = mode;
  tlx_id3_read_cache* cache = &ctx->work->cache;
  if (mode == TLX_ID3_MODE_CREATE) {
    int32_t opened = tlx_id3_open_content(ctx, mode, &ctx->fd);
    if (opened != 0) {
      ctx->fd = TLX_INVALID_HANDLE;
      Release(ctx);
      return opened == TLX_ENOENT ? TLX_ID3_E_NOT_FOUND : TLX_ID3_E_OPEN;
    }
  } else {
    cache->handle_known = 1;  // a file opened stands at its start
    // The first read session takes the length from the open.
    cache->opened_size = size;
    cache->opened_size_known = size >= 0;
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
  if (ctx->work != nullptr) ctx->work->cache.header_known = 0;
  tlx_trace("tlx_id3_v2_set_allow_tag_id() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_set_options(tlx_id3_context* ctx, uint32_t options) {
  static const char kFunction[] = "tlx_id3_set_options";
  tlx_trace("tlx_id3_set_options() enter");
  const uint32_t known = TLX_ID3_OPTION_V24 | TLX_ID3_OPTION_SPLIT_LINKS;
  if (ctx == nullptr || ctx->work == nullptr || (options & ~known) != 0) {
    tlx_trace_error(kParamInvalid, kFunction);
    return TLX_ID3_E_PARAM;
  }
  if (ctx->state != TLX_ID3_STATE_IDLE) {
    tlx_trace_error("in %s() transaction is invalid.", kFunction);
    return TLX_ID3_E_STATE;
  }
  ctx->work->options = options;
  // A walk recorded under other options may have refused or read the tag
  // differently.
  tlx_sqa_free(ctx->work->cache.walk);
  ctx->work->cache.walk = nullptr;
  ctx->work->cache.header_known = 0;
  tlx_trace("tlx_id3_set_options() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_get_options(tlx_id3_context* ctx, uint32_t* options) {
  tlx_trace("tlx_id3_get_options() enter");
  if (ctx == nullptr || ctx->work == nullptr || options == nullptr) {
    tlx_trace_error(kParamInvalid, "tlx_id3_get_options");
    return TLX_ID3_E_PARAM;
  }
  *options = ctx->work->options;
  tlx_trace("tlx_id3_get_options() exit");
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
  if (rc != 0) {
    tlx_trace_error("in %s() tlx_open() failed.", kFunction);
  } else if (ctx->work != nullptr) {
    ForgetHandle(&ctx->work->cache);
    ctx->work->cache.handle_known = 1;  // a file opened stands at its start
  }
  return rc;
}

int32_t tlx_id3_seek_content(tlx_id3_context* ctx, int32_t offset, int32_t whence) {
  static const char kFunction[] = "tlx_id3_seek_content";
  if (ctx == nullptr || ctx->content_kind != 0) return -1;
  int32_t position = Position(ctx, offset, whence);
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
      if (Write(ctx, kZeros, chunk) != static_cast<int32_t>(chunk)) {
        tlx_trace_error("in %s() tlx_write() failed.", kFunction);
        return -3;
      }
      gap -= static_cast<int32_t>(chunk);
    }
  }
  return position;
}

int32_t tlx_id3_position_content(tlx_id3_context* ctx, int32_t offset, int32_t whence) {
  if (ctx == nullptr || ctx->content_kind != 0) return -1;
  int32_t position = Position(ctx, offset, whence);
  if (position < 0) tlx_trace_error("in %s() tlx_lseek() failed.", "tlx_id3_position_content");
  return position;
}

int32_t tlx_id3_read_content(tlx_id3_context* ctx, void* buffer, uint32_t count) {
  if (ctx == nullptr || ctx->content_kind != 0) return -1;
  int32_t n = Read(ctx, buffer, count);
  if (n < 0) tlx_trace_error("in %s() TLX_SQA_READ() failed.", "tlx_id3_read_content");
  return n;
}

int32_t tlx_id3_write_content(tlx_id3_context* ctx, const void* buffer, uint32_t count) {
  if (ctx == nullptr || ctx->content_kind != 0) return -1;
  int32_t n = Write(ctx, buffer, count);
  if (n < 0) tlx_trace_error("in %s() TLX_SQA_WRITE() failed.", "tlx_id3_write_content");
  return n;
}

int32_t tlx_id3_copy_content(tlx_id3_context* ctx, int output, uint32_t count) {
  if (ctx == nullptr || ctx->content_kind != 0) return -1;
  int32_t n;
  if (tlx_id3_read_cache* cache = Session(ctx)) {
    if (EnsurePos(ctx, cache) < 0 || SyncHandle(ctx, cache) < 0) return -1;
    n = tlx_copy(ctx->fd, output, count);
    if (n < 0) {
      ForgetHandle(cache);
      cache->pos_known = 0;
    } else {
      cache->handle_pos += n;
      cache->pos += n;
    }
  } else {
    if (ctx->work != nullptr) ForgetHandle(&ctx->work->cache);
    n = Resync(ctx) < 0 ? -1 : tlx_copy(ctx->fd, output, count);
  }
  if (n < 0) tlx_trace_error("in %s() tlx_copy() failed.", "tlx_id3_copy_content");
  return n;
}

void tlx_id3_forget_content(tlx_id3_context* ctx) {
  if (ctx == nullptr || ctx->work == nullptr) return;
  tlx_id3_read_cache* cache = &ctx->work->cache;
  FreeCache(cache);
  cache->active = 0;
  cache->resync = 0;
  cache->opened_size_known = 0;
  ForgetEnds(cache);
  ForgetHandle(cache);
}

int32_t tlx_id3_close_content(tlx_id3_context* ctx) {
  if (ctx == nullptr || ctx->content_kind != 0) return -1;
  // Whatever opens next is another file as far as the session knows.
  tlx_id3_forget_content(ctx);
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

int32_t tlx_id3_take_content_failure(tlx_id3_context* ctx) {
  if (ctx == nullptr || ctx->work == nullptr) return TLX_ID3_E_PARAM;
  const int32_t failed = ctx->work->cache.failed;
  ctx->work->cache.failed = 0;
  if (failed & TLX_ID3_FAILED_IO) return TLX_ID3_E_READ;
  if (failed & TLX_ID3_FAILED_NOMEM) return TLX_ID3_E_NOMEM;
  return TLX_ID3_OK;
}

int32_t tlx_id3_get_file_ends(tlx_id3_context* ctx, tlx_id3_file_ends* ends) {
  static const char kFunction[] = "tlx_id3_get_file_ends";
  if (ctx == nullptr || ends == nullptr || ctx->work == nullptr || ctx->content_kind != 0) {
    tlx_trace_error(kParamInvalid, kFunction);
    return TLX_ID3_E_PARAM;
  }
  // Streamed frame data relies on where the handle stands.
  if (ctx->state == TLX_ID3_STATE_READING || ctx->state == TLX_ID3_STATE_WRITING) {
    return TLX_ID3_E_STATE;
  }
  tlx_id3_read_cache* cache = &ctx->work->cache;
  if (!(cache->ends_head_known && cache->ends_tail_known)) {
    const bool own_session = !cache->active;
    if (own_session) tlx_id3_read_session_begin(ctx);
    int32_t rc = ReadEnds(ctx, cache);
    if (own_session) tlx_id3_read_session_end(ctx);
    if (rc != TLX_ID3_OK) {
      tlx_trace_error("in %s() the file cannot be read.", kFunction);
      return rc;
    }
  }
  *ends = cache->ends;
  return TLX_ID3_OK;
}

void tlx_id3_read_session_begin(tlx_id3_context* ctx) {
  if (ctx == nullptr || ctx->work == nullptr || ctx->content_kind != 0) return;
  tlx_id3_read_cache* cache = &ctx->work->cache;
  if (cache->active) return;
  FreeCache(cache);
  cache->active = 1;
  if (cache->opened_size_known) {
    cache->size = cache->opened_size;
    cache->size_known = 1;
    cache->opened_size_known = 0;
  }
  if (cache->resync) {
    cache->pos = cache->resync_pos;
    cache->pos_known = 1;
    cache->resync = 0;
  } else {
    cache->pos = cache->handle_pos;
    cache->pos_known = cache->handle_known;
  }
}

void tlx_id3_read_session_end(tlx_id3_context* ctx) {
  if (ctx == nullptr || ctx->work == nullptr) return;
  tlx_id3_read_cache* cache = &ctx->work->cache;
  if (!cache->active) return;
  // The handle may stand elsewhere than the content position; it is moved
  // only when something next relies on it.
  if (cache->pos_known && !(cache->handle_known && cache->handle_pos == cache->pos)) {
    cache->resync = 1;
    cache->resync_pos = cache->pos;
  }
  NoteEnds(cache);
  cache->active = 0;
  FreeCache(cache);
  ForgetHandle(cache);
}

const uint8_t* tlx_id3_session_bytes(tlx_id3_context* ctx, int32_t pos, uint32_t count) {
  tlx_id3_read_cache* cache = Session(ctx);
  if (cache == nullptr || !cache->head_loaded || pos < 0) return nullptr;
  if (static_cast<uint64_t>(pos) + count > cache->head_len) return nullptr;
  return cache->head + pos;
}

const uint8_t* tlx_id3_session_block(tlx_id3_context* ctx, uint32_t* length) {
  tlx_id3_read_cache* cache = Session(ctx);
  if (cache == nullptr || !cache->head_loaded) return nullptr;
  *length = cache->head_len;
  return cache->head;
}

uint8_t* tlx_id3_read_session_end_keep(tlx_id3_context* ctx) {
  tlx_id3_read_cache* cache = Session(ctx);
  if (cache == nullptr) return nullptr;
  NoteEnds(cache);
  uint8_t* head = cache->head;
  cache->head = nullptr;
  cache->head_loaded = 0;
  cache->head_len = 0;
  tlx_id3_read_session_end(ctx);
  return head;
}

uint8_t* tlx_id3_lend_buffer(tlx_id3_context* ctx, uint32_t count) {
  if (ctx->work == nullptr) return nullptr;
  tlx_id3_read_cache* cache = &ctx->work->cache;
  if (count == 0) count = 1;
  if (cache->lent_capacity >= count) return cache->lent;
  tlx_sqa_free(cache->lent);
  cache->lent_capacity = 0;
  cache->lent = static_cast<uint8_t*>(tlx_sqa_malloc(count));
  if (cache->lent != nullptr) cache->lent_capacity = count;
  return cache->lent;
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
