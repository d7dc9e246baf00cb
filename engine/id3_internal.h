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

/* The work area of a context: zero-filled at creation, temp_fd -1. */
struct tlx_id3_work {
  int32_t version;     /* version code of the tag being edited */
  int temp_fd;         /* temporary file of a rewrite, -1 when none */
  uint32_t frames_end; /* file offset just past the last frame */
  uint32_t write_pos;  /* where write_buf goes next */
  uint8_t write_buf[TLX_ID3_WRITE_BUF_SIZE];
  uint32_t write_len;
  uint8_t* header_flags; /* points at header_flags_byte once set */
  uint8_t* ext_header;   /* 14-byte copy of the extended header, or null */
  tlx_list* frame_list;  /* of tlx_id3_frame_entry */
  wchar_t temp_path[TLX_MAX_PATH];
  uint8_t header_flags_byte;
};

/* ---- Content access (negative on failure; -1 when content_kind != 0) ---- */
int32_t tlx_id3_open_content(tlx_id3_context* ctx, int32_t mode, int* handle);
/* Positions like tlx_lseek and zero-fills the gap when offset lies past the
 * end; returns the position tlx_lseek reported, -1, or -3 for a failed fill. */
int32_t tlx_id3_seek_content(tlx_id3_context* ctx, int32_t offset, int32_t whence);
int32_t tlx_id3_read_content(tlx_id3_context* ctx, void* buffer, uint32_t count);
int32_t tlx_id3_write_content(tlx_id3_context* ctx, const void* buffer, uint32_t count);
int32_t tlx_id3_close_content(tlx_id3_context* ctx);
int32_t tlx_id3_flush(tlx_id3_context* ctx);

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
/* Builds the work area's frame list from the stored tag; sets frames_end. */
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
/* The rewrite through a temporary file, with the header read by the caller. */
int32_t tlx_id3_v2_commit(tlx_id3_context* ctx, const tlx_id3_v2_header* header);
int32_t tlx_id3_make_temp(tlx_id3_context* ctx, const char* name_template);
int32_t tlx_id3_close_temp(tlx_id3_context* ctx);
int32_t tlx_id3_replace_content(tlx_id3_context* ctx);

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif /* TAGKIT_ENGINE_ID3_INTERNAL_H_ */
