/* The tag engine: a flat C interface over one audio file per context.
 *
 * Every function returns an engine result code (TLX_ID3_OK on success) and
 * takes the caller's context first. The caller owns the context record; the
 * engine owns everything the context points to. */
#ifndef TAGKIT_ENGINE_TLX_ID3_H_
#define TAGKIT_ENGINE_TLX_ID3_H_

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#include "tlx_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ------------------------------------------------------- */
enum {
  TLX_ID3_OK = 0,
  TLX_ID3_E_OPEN = 1,        /* opening the content or a backup file failed */
  TLX_ID3_E_READ = 2,        /* short read */
  TLX_ID3_E_WRITE = 3,       /* failed or short write */
  TLX_ID3_E_SEEK = 4,        /* positioning failed */
  TLX_ID3_E_CLOSE = 5,       /* closing a file failed */
  TLX_SQA_E_FORMAT = 6,      /* container layer: not a file of that format */
  TLX_ID3_E_UNSUPPORTED = 7, /* unsupported version or content */
  TLX_ID3_E_NOMEM = 8,       /* allocation failed */
  TLX_ID3_E_NOT_FOUND = 9,   /* file, tag, frame or trailer not found */
  TLX_ID3_E_PARAM = 10,      /* invalid parameter */
  TLX_ID3_E_STATE = 11,      /* the transaction state forbids the call */
  TLX_ID3_E_SYSTEM = -999    /* a temporary-file, commit or replace step failed */
};

/* Context modes. */
enum {
  TLX_ID3_MODE_READ = 0,   /* read only, the file must exist */
  TLX_ID3_MODE_CREATE = 1, /* new file holding an empty ID3v2.3 tag */
  TLX_ID3_MODE_WRITE = 2   /* read and write, the file must exist */
};

/* Transaction states. */
enum {
  TLX_ID3_STATE_IDLE = 0,
  TLX_ID3_STATE_READING = 1, /* a frame's data is streamed out */
  TLX_ID3_STATE_EDITING = 2, /* an editing transaction is open */
  TLX_ID3_STATE_WRITING = 3  /* a frame's data is streamed in */
};

/* Version codes. */
enum {
  TLX_ID3_V22 = 0,
  TLX_ID3_V23 = 1,
  TLX_ID3_V24 = 2,
  TLX_ID3_VERSION_OTHER = -999
};

/* Frame identifiers are numbers: "TIT2" is 0x54495432, "TT2" 0x54543200. */
#define TLX_ID3_FRAME_ID(a, b, c, d)                                     \
  (((uint32_t)(unsigned char)(a) << 24) | ((uint32_t)(unsigned char)(b) << 16) | \
   ((uint32_t)(unsigned char)(c) << 8) | (uint32_t)(unsigned char)(d))

/* ---- Records ------------------------------------------------------------ */
typedef struct tlx_id3_work tlx_id3_work; /* engine-owned work area */

typedef struct tlx_id3_context {
  int32_t mode;
  wchar_t* path;         /* engine-owned copy */
  int32_t content_kind;  /* 0: a file on disk */
  int fd;
  int32_t state;
  uint32_t remaining;    /* bytes still to stream in the current frame */
  tlx_id3_work* work;
  char* allow_tag_id;    /* alternative tag magic besides "ID3", or null */
} tlx_id3_context;

typedef struct tlx_id3_v2_header {
  int32_t version; /* version code */
  int32_t size;    /* tag size after the 10 header bytes */
  int32_t unsync;
  int32_t compression;    /* ID3v2.2 flag 0x40 */
  int32_t has_ext_header; /* ID3v2.3 flag 0x40 */
  int32_t experimental;   /* ID3v2.3 flag 0x20 */
} tlx_id3_v2_header;

typedef struct tlx_id3_v2_extended_header {
  uint32_t padding_size;
  int32_t has_crc;
  uint8_t crc[5]; /* the first four bytes hold the stored CRC */
} tlx_id3_v2_extended_header;

typedef struct tlx_id3_v2_frame_header {
  uint32_t id;
  uint32_t size; /* data size less the extra header bytes read */
  int32_t tag_alter_preserve;
  int32_t file_alter_preserve;
  int32_t read_only;
  int32_t grouping;
  int32_t compression;
  int32_t encryption;
  uint8_t encryption_method;
  uint8_t group_id;
  uint32_t decompressed_size;
} tlx_id3_v2_frame_header;

/* One frame of an editing transaction's frame list. Stored frames have
 * offset != 0 and data == NULL; new frames have data; a streamed frame has
 * neither. */
typedef struct tlx_id3_frame_entry {
  uint32_t offset;     /* content offset in the stored tag; 0 for new frames */
  uint32_t new_offset; /* file offset in the rewritten tag */
  uint32_t length;     /* header + extra bytes + data */
  uint32_t data_size;
  uint8_t raw_header[10];
  uint8_t extra_len;
  uint8_t extra[6];
  uint8_t* data; /* engine-owned copy of a new frame's data */
} tlx_id3_frame_entry;

/* ---- Context (engine context and content access) ------------------------ */
TLX_API int32_t tlx_id3_create_context(const wchar_t* path, int32_t mode,
                                       const tlx_id3_v2_header* header,
                                       tlx_id3_context* ctx);
TLX_API int32_t tlx_id3_destroy_context(tlx_id3_context* ctx);
TLX_API int32_t tlx_id3_v2_set_allow_tag_id(tlx_id3_context* ctx, const char* tag_id);
TLX_API int32_t tlx_id3_get_mode(tlx_id3_context* ctx, int32_t* mode);
TLX_API int32_t tlx_id3_get_path(tlx_id3_context* ctx, const wchar_t** path);
TLX_API int32_t tlx_id3_flush_content(tlx_id3_context* ctx);

/* ---- ID3v2 header and frame index --------------------------------------- */
TLX_API int32_t tlx_id3_v2_get_header(tlx_id3_context* ctx, tlx_id3_v2_header* header);
TLX_API int32_t tlx_id3_v2_get_header2(tlx_id3_context* ctx, tlx_id3_v2_header* header);
TLX_API int32_t tlx_id3_v2_get_extended_header(tlx_id3_context* ctx,
                                               tlx_id3_v2_extended_header* ext);
TLX_API int32_t tlx_id3_v2_get_padding_size(tlx_id3_context* ctx, uint32_t* size);
TLX_API int32_t tlx_id3_v2_get_frame_total_num(tlx_id3_context* ctx, uint32_t* count);
TLX_API int32_t tlx_id3_v2_get_frame_num(tlx_id3_context* ctx, uint32_t id, uint32_t* count);
TLX_API int32_t tlx_id3_v2_get_frame_header_by_index(tlx_id3_context* ctx, uint32_t index,
                                                     tlx_id3_v2_frame_header* frame);
TLX_API int32_t tlx_id3_v2_get_frame_header(tlx_id3_context* ctx, uint32_t id,
                                            uint32_t occurrence,
                                            tlx_id3_v2_frame_header* frame);

/* ---- Frame data --------------------------------------------------------- */
TLX_API int32_t tlx_id3_v2_get_frame_data(tlx_id3_context* ctx, uint32_t id,
                                          uint32_t occurrence, uint32_t* size,
                                          uint8_t* buffer);
TLX_API int32_t tlx_id3_v2_get_frame_data_offset(tlx_id3_context* ctx, uint32_t id,
                                                 uint32_t occurrence, uint32_t* offset);
TLX_API int32_t tlx_id3_v2_get_frame_data_init(tlx_id3_context* ctx, uint32_t id,
                                               uint32_t occurrence);
TLX_API int32_t tlx_id3_v2_get_frame_data_init_by_index(tlx_id3_context* ctx,
                                                        uint32_t index);
TLX_API int32_t tlx_id3_v2_get_frame_data_progress(tlx_id3_context* ctx, uint32_t* size,
                                                   uint8_t* buffer);
TLX_API int32_t tlx_id3_v2_get_frame_data_fin(tlx_id3_context* ctx);

/* ---- ID3v1 trailer ------------------------------------------------------ */
/* Text getters: buffer holds *size + 1 bytes; *size becomes the text length. */
TLX_API int32_t tlx_id3_v1_get_title(tlx_id3_context* ctx, uint32_t* size, char* buffer);
TLX_API int32_t tlx_id3_v1_get_artist(tlx_id3_context* ctx, uint32_t* size, char* buffer);
TLX_API int32_t tlx_id3_v1_get_album(tlx_id3_context* ctx, uint32_t* size, char* buffer);
TLX_API int32_t tlx_id3_v1_get_comment(tlx_id3_context* ctx, uint32_t* size, char* buffer);
TLX_API int32_t tlx_id3_v1_get_year(tlx_id3_context* ctx, int32_t* year);
TLX_API int32_t tlx_id3_v1_get_genre(tlx_id3_context* ctx, uint32_t* genre);
TLX_API int32_t tlx_id3_v1_get_tracknumebr(tlx_id3_context* ctx, uint8_t* track);
TLX_API int32_t tlx_id3_v1_set_title(tlx_id3_context* ctx, const char* title);
TLX_API int32_t tlx_id3_v1_set_artist(tlx_id3_context* ctx, const char* artist);
TLX_API int32_t tlx_id3_v1_set_album(tlx_id3_context* ctx, const char* album);
TLX_API int32_t tlx_id3_v1_set_year(tlx_id3_context* ctx, int32_t year);
TLX_API int32_t tlx_id3_v1_set_comment(tlx_id3_context* ctx, const char* comment);
TLX_API int32_t tlx_id3_v1_set_genre(tlx_id3_context* ctx, uint8_t genre);
TLX_API int32_t tlx_id3_v1_set_tracknumber(tlx_id3_context* ctx, uint8_t track);

/* ---- Editing transaction ------------------------------------------------ */
TLX_API int32_t tlx_id3_v2_edit_begin(tlx_id3_context* ctx);
TLX_API int32_t tlx_id3_v2_remove_frame(tlx_id3_context* ctx, uint32_t id,
                                        uint32_t occurrence);
TLX_API int32_t tlx_id3_v2_add_frame(tlx_id3_context* ctx,
                                     const tlx_id3_v2_frame_header* frame,
                                     const uint8_t* data);
TLX_API int32_t tlx_id3_v2_add_frame_at_head(tlx_id3_context* ctx,
                                             const tlx_id3_v2_frame_header* frame,
                                             const uint8_t* data);
TLX_API int32_t tlx_id3_v2_update_frame(tlx_id3_context* ctx,
                                        const tlx_id3_v2_frame_header* frame,
                                        const uint8_t* data, uint32_t occurrence);
TLX_API int32_t tlx_id3_v2_edit_end(tlx_id3_context* ctx);

/* Placement of a streamed frame. */
enum { TLX_ID3_PLACE_APPEND = 0, TLX_ID3_PLACE_HEAD = 1, TLX_ID3_PLACE_REPLACE = 2 };
TLX_API int32_t tlx_id3_v2_edit_frame_init(tlx_id3_context* ctx,
                                           const tlx_id3_v2_frame_header* frame,
                                           int32_t placement, uint32_t occurrence);
TLX_API int32_t tlx_id3_v2_edit_frame_progress(tlx_id3_context* ctx, uint32_t size,
                                               const uint8_t* data);
TLX_API int32_t tlx_id3_v2_edit_frame_fin(tlx_id3_context* ctx);

/* ---- Padding, header flags, extended header ----------------------------- */
/* flags points at four 0/1 values: unsync, compression, has_ext_header,
 * experimental (the same order as in tlx_id3_v2_header). */
TLX_API int32_t tlx_id3_v2_set_header_flag_info(tlx_id3_context* ctx, const int32_t* flags);
TLX_API int32_t tlx_id3_v2_remove_extended_header(tlx_id3_context* ctx);
TLX_API int32_t tlx_id3_v2_add_extended_header(tlx_id3_context* ctx,
                                               const tlx_id3_v2_extended_header* ext);
TLX_API int32_t tlx_id3_v2_adjust_padding_size(tlx_id3_context* ctx, uint32_t padding);

/* ---- Backup and recovery ------------------------------------------------ */
TLX_API int32_t tlx_id3_v2_backup(const wchar_t* backup_path, const wchar_t* audio_path,
                                  const char* tag_id);
TLX_API int32_t tlx_id3_v2_recover(const wchar_t* audio_path, const wchar_t* backup_path,
                                   const char* tag_id);

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif /* TAGKIT_ENGINE_TLX_ID3_H_ */
