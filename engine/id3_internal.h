/* Engine internals shared by the engine's source files and the container
 * layer. Not installed. */
#ifndef TAGKIT_ENGINE_ID3_INTERNAL_H_
#define TAGKIT_ENGINE_ID3_INTERNAL_H_

#include <stdint.h>
#include <wchar.h>

#include "tlx_id3.h"
#include "tlx_system.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Trace hooks: they discard every message and cost nothing. --------- */
static inline void tlx_trace(const char* message) { (void)message; }
static inline void tlx_trace_error(const char* format, const char* function) {
  (void)format;
  (void)function;
}

#define TLX_ID3_WRITE_BUF_SIZE 4096
#define TLX_ID3_CHUNK 4096
#define TLX_ID3_HEADER_SIZE 10
#define TLX_ID3_TRAILER_SIZE 128

/* What a read session holds of the file (see tlx_id3_read_session_begin).
 * The transaction's reset keeps it: it describes the file, not the edit. */
typedef struct tlx_id3_read_cache {
  int32_t active;       /* a read session is open */
  int32_t handle_known; /* handle_pos holds where the handle stands */
  int32_t handle_pos;
  int32_t resync;       /* after a session: the handle must go to resync_pos
                           before its next relative use */
  int32_t resync_pos;
  int32_t pos_known;    /* pos holds the content position */
  int32_t pos;
  int32_t size_known; /* size holds the file length */
  int32_t size;
  int32_t opened_size_known; /* opened_size holds the length the open saw,
                                for the first session while nothing wrote */
  int32_t opened_size;
  int32_t head_loaded; /* head holds file bytes [0, head_len) */
  uint32_t head_len;
  uint8_t* head;
  int32_t tail_loaded; /* tail holds file bytes [tail_at, tail_at + tail_len) */
  int32_t tail_at;
  uint32_t tail_len;
  uint8_t tail[TLX_ID3_TRAILER_SIZE];
  void* decoded; /* the frame decoded last (id3_frame_decode.h), or null */
  void* walk; /* the frame walk over these bytes (one heap block), or null */
  int32_t header_known; /* header and header_rc hold the tag header as read */
  int32_t header_rc;
  tlx_id3_v2_header header;
  uint8_t* lent;          /* frame data lent to the caller (tlx_id3_v2_lend_frame_data) */
  uint32_t lent_capacity; /* bytes allocated at lent */
  /* The file's ends as far as read (tlx_id3_get_file_ends): unlike the
     data above they outlive the session, until something writes. */
  int32_t ends_size_known;
  int32_t ends_head_known;
  int32_t ends_tail_known;
  tlx_id3_file_ends ends;
  int32_t failed; /* TLX_ID3_FAILED_* bits of the content access since the
                     caller last took them (tlx_id3_take_content_failure);
                     kept by sessions and resets */
} tlx_id3_read_cache;

/* Bits of tlx_id3_read_cache::failed. */
#define TLX_ID3_FAILED_IO 0x1    /* the system failed a read or positioning */
#define TLX_ID3_FAILED_NOMEM 0x2 /* a buffer of the content access was refused */

/* The work area of a context. Everything before write_buf starts zeroed
 * (temp_fd -1); the two large buffers after it are never cleared as a
 * whole: write_len and temp_path[0] say what they hold. Clearing them on
 * every open and reset cost more than reading a whole tag. */
struct tlx_id3_work {
  uint32_t options;    /* TLX_ID3_OPTION_* bits; they outlive every reset */
  int32_t version;     /* version code of the tag being edited */
  int temp_fd;         /* temporary file of a rewrite, -1 when none */
  uint32_t frames_end; /* file offset just past the last frame */
  int32_t frames_damaged; /* the last frame list stopped at a frame that runs
                             past the tag's end */
  uint32_t write_pos;  /* where write_buf goes next */
  uint32_t write_len;
  uint8_t* header_flags; /* points at header_flags_byte once set */
  uint8_t* ext_header;   /* 14-byte copy of the extended header, or null */
  tlx_list* frame_list;  /* of tlx_id3_frame_entry */
  tlx_list* v1_stages;   /* ID3v1 field writes staged for the commit */
  uint8_t header_flags_byte;
  tlx_id3_read_cache cache;
  uint8_t write_buf[TLX_ID3_WRITE_BUF_SIZE];
  wchar_t temp_path[TLX_MAX_PATH];
};

/* Zeroes the small fields of a work area (temp_fd -1, no temporary path),
 * leaving the large buffers as they are. */
void tlx_id3_clear_work(struct tlx_id3_work* work);

/* Checks what every transaction call needs: a context with its work area
 * (else TLX_ID3_E_PARAM) in the given state (else TLX_ID3_E_STATE). */
int32_t tlx_id3_check_state(tlx_id3_context* ctx, int32_t state, const char* function);

/* ---- Content access (negative on failure; -1 when content_kind != 0) ---- */
int32_t tlx_id3_open_content(tlx_id3_context* ctx, int32_t mode, int* handle);
/* Positions like tlx_lseek and zero-fills the gap when offset lies past the
 * end; returns the position tlx_lseek reported, -1, or -3 for a failed fill. */
int32_t tlx_id3_seek_content(tlx_id3_context* ctx, int32_t offset, int32_t whence);
int32_t tlx_id3_read_content(tlx_id3_context* ctx, void* buffer, uint32_t count);
int32_t tlx_id3_write_content(tlx_id3_context* ctx, const void* buffer, uint32_t count);
int32_t tlx_id3_close_content(tlx_id3_context* ctx);
/* Forgets what the content access knows of the file (a read session, the
 * handle's position), keeping the handle open: the file is about to change
 * underneath it. */
void tlx_id3_forget_content(tlx_id3_context* ctx);
int32_t tlx_id3_flush(tlx_id3_context* ctx);
/* Positions like tlx_lseek (a position past the end stops at the end) and
 * never writes; returns the position or -1. */
int32_t tlx_id3_position_content(tlx_id3_context* ctx, int32_t offset, int32_t whence);
/* Copies up to count bytes from the content position into output; returns
 * what tlx_copy returns (-1 reading failed, -2 writing failed). */
int32_t tlx_id3_copy_content(tlx_id3_context* ctx, int output, uint32_t count);

/* ---- Read sessions ------------------------------------------------------
 * A caller that is about to run many queries over one file (the property
 * cache loads every property at once) opens a read session. Inside it the
 * content access reads the tag region at the head of the file with one or two
 * reads and the trailer with one, answers reads and positions from memory,
 * and asks the file for its length once. Any write or zero fill drops what
 * was read; closing the content ends the session. Outside a session every
 * content operation is one call of the file layer, as always.
 *
 * The session trusts that the handle is used only through the content
 * access while it is open; the sharing lock keeps other writers out. */
void tlx_id3_read_session_begin(tlx_id3_context* ctx);
void tlx_id3_read_session_end(tlx_id3_context* ctx);
/* The session's copy of the file bytes [pos, pos + count), or null when no
 * session holds them all. Valid until the content access next reads, writes
 * or the session ends. */
const uint8_t* tlx_id3_session_bytes(tlx_id3_context* ctx, int32_t pos, uint32_t count);
/* The block of file bytes that the session holds from the start of the
 * file, and its length in *length; null outside a session or before its
 * first read. tlx_id3_session_bytes and lent frame data point into it when
 * they can; it stays until the session ends or a write drops it. */
const uint8_t* tlx_id3_session_block(tlx_id3_context* ctx, uint32_t* length);
/* Ends the session as tlx_id3_read_session_end does, handing the caller its
 * block (tlx_id3_session_block) to free with tlx_sqa_free: what points into
 * it stays valid. Null when the session held none. */
uint8_t* tlx_id3_read_session_end_keep(tlx_id3_context* ctx);
/* A block of at least count bytes (never fewer than 1) that the context
 * keeps for lending frame data; its old content is lost. Null when memory
 * runs out. */
uint8_t* tlx_id3_lend_buffer(tlx_id3_context* ctx, uint32_t count);

/* ---- Codecs ------------------------------------------------------------- */
uint32_t tlx_id3_syncsafe_decode(const uint8_t bytes[4]);
void tlx_id3_syncsafe_encode(uint32_t value, uint8_t bytes[4]);
uint32_t tlx_id3_be24_decode(const uint8_t bytes[3]);
void tlx_id3_be24_encode(uint32_t value, uint8_t bytes[3]);
uint32_t tlx_id3_be32_decode(const uint8_t bytes[4]);
void tlx_id3_be32_encode(uint32_t value, uint8_t bytes[4]);
/* Header flags byte from a header record for a version code. */
uint8_t tlx_id3_v2_encode_header_flags(const tlx_id3_v2_header* header, int32_t version);

/* ---- Reading primitives ------------------------------------------------- */
/* Reads count content bytes, dropping unsynchronisation stuffing when unsync
 * is set; returns the file bytes consumed (>= count) or -1. */
int32_t tlx_id3_read_content_unsync(tlx_id3_context* ctx, void* buffer, uint32_t count,
                                    int32_t unsync);
/* Positions at a content offset counted from whence; returns the file
 * position or -1. */
int32_t tlx_id3_seek_content_unsync(tlx_id3_context* ctx, uint32_t offset, int32_t whence,
                                    int32_t unsync);
/* Reads and checks the 10 tag header bytes at offset 0. */
int32_t tlx_id3_v2_read_header(tlx_id3_context* ctx, uint8_t header[10]);
/* Offset of the first frame for a header record (10, or past the extended
 * header). */
int32_t tlx_id3_v2_first_frame_offset(tlx_id3_context* ctx, const tlx_id3_v2_header* header,
                                      uint32_t* offset);
/* Builds the work area's frame list from the stored tag; sets frames_end,
 * and frames_damaged when a frame runs past the tag's end (the list then
 * stops before it). */
int32_t tlx_id3_v2_read_frame_list(tlx_id3_context* ctx, const tlx_id3_v2_header* header);

/* ---- Editing primitives ------------------------------------------------- */
void tlx_id3_free_frame_list(tlx_id3_context* ctx);
/* Releases all transaction memory, zeroes the work area (temp_fd -1) and sets
 * state and remaining to 0. */
void tlx_id3_v2_reset_work(tlx_id3_context* ctx);
int32_t tlx_id3_write_buffer(tlx_id3_context* ctx, uint32_t count);
int32_t tlx_id3_v2_find_frame(tlx_id3_context* ctx, uint32_t id, uint32_t occurrence);
int32_t tlx_id3_v2_is_read_only(tlx_id3_context* ctx, int32_t index);
int32_t tlx_id3_v2_set_frame(tlx_id3_context* ctx, tlx_id3_frame_entry* entry,
                             const tlx_id3_v2_frame_header* frame, const uint8_t* data);
int32_t tlx_id3_v2_get_exist_ex_header(tlx_id3_context* ctx);
/* Like tlx_id3_v2_get_header2, but only a file that truly holds no usable
 * tag (no magic, unsupported version, shorter than a header) yields the
 * default ID3v2.3 record, with *present 0; a failed read or positioning is
 * returned as its code, so that it is never mistaken for a missing tag. */
int32_t tlx_id3_v2_get_header_for_edit(tlx_id3_context* ctx, tlx_id3_v2_header* header,
                                       int32_t* present);
/* Frees the staged ID3v1 field writes. */
void tlx_id3_v1_free_stages(struct tlx_id3_work* work);
/* Applies the staged ID3v1 field writes, in order, to the trailer of the
 * file behind handle (the rewrite's temporary file, complete). */
int32_t tlx_id3_v1_apply_stages(tlx_id3_context* ctx, int handle);
/* The rewrite through a temporary file, with the header read by the caller. */
int32_t tlx_id3_v2_commit(tlx_id3_context* ctx, const tlx_id3_v2_header* header);
int32_t tlx_id3_make_temp(tlx_id3_context* ctx, const char* name_template);
int32_t tlx_id3_close_temp(tlx_id3_context* ctx);
int32_t tlx_id3_replace_content(tlx_id3_context* ctx);

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif /* TAGKIT_ENGINE_ID3_INTERNAL_H_ */
