/** @file
 * The tag engine: a flat C interface over one audio file per context.
 *
 * Every function returns an engine result code (TLX_ID3_OK on success) and
 * takes the caller's context first. The caller owns the context record; the
 * engine owns everything the context points to. Frame identifiers are
 * numbers (TLX_ID3_FRAME_ID); occurrences and indexes count from 0.
 *
 * Codes common to every function: TLX_ID3_E_PARAM for a null context or
 * required pointer, TLX_ID3_E_STATE when the context's transaction state
 * forbids the call. Reading functions refuse the streaming states
 * (TLX_ID3_STATE_READING, TLX_ID3_STATE_WRITING); they stay usable during an
 * editing transaction and then read the stored file. A context serves one
 * thread at a time; distinct contexts are independent. */
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
/** Engine result codes. */
enum {
  TLX_ID3_OK = 0,            /**< success */
  TLX_ID3_E_OPEN = 1,        /**< opening the content or a backup file failed */
  TLX_ID3_E_READ = 2,        /**< short read */
  TLX_ID3_E_WRITE = 3,       /**< failed or short write */
  TLX_ID3_E_SEEK = 4,        /**< positioning failed */
  TLX_ID3_E_CLOSE = 5,       /**< closing a file failed */
  TLX_SQA_E_FORMAT = 6,      /**< container layer: not a file of that format */
  TLX_ID3_E_UNSUPPORTED = 7, /**< unsupported version or content */
  TLX_ID3_E_NOMEM = 8,       /**< allocation failed */
  TLX_ID3_E_NOT_FOUND = 9,   /**< file, tag, frame or trailer not found */
  TLX_ID3_E_PARAM = 10,      /**< invalid parameter */
  TLX_ID3_E_STATE = 11,      /**< the transaction state forbids the call */
  TLX_ID3_E_CORRUPT = 12,    /**< the stored tag is damaged: rewriting it would lose data */
  TLX_ID3_E_SYSTEM = -999    /**< a temporary-file, commit or replace step failed */
};

/** Context modes. */
enum {
  TLX_ID3_MODE_READ = 0,   /**< read only, the file must exist */
  TLX_ID3_MODE_CREATE = 1, /**< new file holding an empty ID3v2.3 tag */
  TLX_ID3_MODE_WRITE = 2   /**< read and write, the file must exist */
};

/** Transaction states (tlx_id3_context::state). */
enum {
  TLX_ID3_STATE_IDLE = 0,    /**< no transaction */
  TLX_ID3_STATE_READING = 1, /**< a frame's data is streamed out */
  TLX_ID3_STATE_EDITING = 2, /**< an editing transaction is open */
  TLX_ID3_STATE_WRITING = 3  /**< a frame's data is streamed in */
};

/** Version codes (tlx_id3_v2_header::version). */
enum {
  TLX_ID3_V22 = 0,              /**< ID3v2.2 */
  TLX_ID3_V23 = 1,              /**< ID3v2.3 */
  TLX_ID3_V24 = 2,              /**< ID3v2.4: refused unless TLX_ID3_OPTION_V24 is set */
  TLX_ID3_VERSION_OTHER = -999  /**< any other version or revision */
};

/** Options of a context (tlx_id3_set_options). */
enum {
  /** Read and edit ID3v2.4 tags. Without it a version 2.4 tag is refused
   * with TLX_ID3_E_UNSUPPORTED, as every other unsupported version. */
  TLX_ID3_OPTION_V24 = 0x1,
  /** A commit gives a file that has several hard links a new file of its
   * own under the context's path, leaving the other names on the old
   * content. Without it such a file is rewritten in place (all names see
   * the new tag). */
  TLX_ID3_OPTION_SPLIT_LINKS = 0x2
};

/** Frame identifiers are numbers: "TIT2" is 0x54495432, "TT2" 0x54543200. */
#define TLX_ID3_FRAME_ID(a, b, c, d)                                     \
  (((uint32_t)(unsigned char)(a) << 24) | ((uint32_t)(unsigned char)(b) << 16) | \
   ((uint32_t)(unsigned char)(c) << 8) | (uint32_t)(unsigned char)(d))

/* ---- Records ------------------------------------------------------------ */
typedef struct tlx_id3_work tlx_id3_work; /**< engine-owned work area */

/** One file under the engine. Caller-owned (on its stack or in its own
 * object); filled by tlx_id3_create_context and emptied by
 * tlx_id3_destroy_context. Everything it points to belongs to the engine;
 * callers read the fields but do not change them. */
typedef struct tlx_id3_context {
  int32_t mode;          /**< TLX_ID3_MODE_READ, _CREATE or _WRITE */
  wchar_t* path;         /**< engine-owned copy */
  int32_t content_kind;  /**< 0: a file on disk */
  int fd;                /**< handle of the open file */
  int32_t state;         /**< transaction state, TLX_ID3_STATE_IDLE ... */
  uint32_t remaining;    /**< bytes still to stream in the current frame */
  tlx_id3_work* work;    /**< engine-owned work area of the transactions */
  char* allow_tag_id;    /**< alternative tag magic besides "ID3", or null */
} tlx_id3_context;

/** The ID3v2 tag header. Flags are 1 when set, else 0. */
typedef struct tlx_id3_v2_header {
  int32_t version; /**< version code, TLX_ID3_V22 ... */
  int32_t size;    /**< tag size after the 10 header bytes */
  int32_t unsync;  /**< unsynchronisation, flag 0x80 */
  int32_t compression;    /**< ID3v2.2 flag 0x40 */
  int32_t has_ext_header; /**< ID3v2.3 and 2.4 flag 0x40 */
  int32_t experimental;   /**< ID3v2.3 and 2.4 flag 0x20 */
  int32_t has_footer;     /**< ID3v2.4 flag 0x10 */
} tlx_id3_v2_header;

/** The extended header of an ID3v2.3 or, with TLX_ID3_OPTION_V24, an
 * ID3v2.4 tag. */
typedef struct tlx_id3_v2_extended_header {
  uint32_t padding_size; /**< padding size it declares (ID3v2.3; 0 for 2.4) */
  int32_t has_crc;       /**< 1 when a CRC is present */
  uint8_t crc[5]; /**< ID3v2.3: the first four bytes hold the stored CRC;
                       ID3v2.4: the five stored bytes (35 bits, sync-safe) */
} tlx_id3_v2_extended_header;

/** A frame header. For ID3v2.2 frames only id and size are filled.
 *
 * As read from an ID3v2.4 tag (and from any tag with TLX_ID3_OPTION_V24),
 * size is the length of the data that tlx_id3_v2_get_frame_data hands out:
 * unsynchronisation and compression undone (an encrypted frame stays as
 * stored, only its unsynchronisation undone). A frame whose data cannot be
 * decoded (damaged compressed data, or data missing from the file) keeps
 * its stored size, and reading its data fails. Streaming hands out the stored
 * bytes: tlx_id3_v2_get_frame_data_init sets that count itself.
 *
 * When a frame is added, size is the length of the data given, which the
 * engine writes as it is: an ID3v2.4 frame gets the flags the record sets
 * (unsync marks data the caller unsynchronised), and a compressed one always
 * a data length indicator, decompressed_size. */
typedef struct tlx_id3_v2_frame_header {
  uint32_t id;   /**< identifier as a number (TLX_ID3_FRAME_ID) */
  uint32_t size; /**< data size less the extra header bytes (see above) */
  int32_t tag_alter_preserve;  /**< status flag 0x80 */
  int32_t file_alter_preserve; /**< status flag 0x40 */
  int32_t read_only;           /**< status flag 0x20 */
  int32_t grouping;            /**< format flag 0x20: group_id present */
  int32_t compression;         /**< format flag 0x80: decompressed_size present */
  int32_t encryption;          /**< format flag 0x40: encryption_method present */
  uint8_t encryption_method;   /**< extra byte of an encrypted frame */
  uint8_t group_id;            /**< extra byte of a grouped frame */
  uint32_t decompressed_size;  /**< extra field of a compressed frame; in
                                    ID3v2.4 the data length indicator */
  int32_t unsync;              /**< ID3v2.4 format flag 0x02 (stored data
                                    unsynchronised) */
  int32_t data_length;         /**< ID3v2.4 format flag 0x01:
                                    decompressed_size is present */
} tlx_id3_v2_frame_header;

/** One frame of an editing transaction's frame list. Stored frames have
 * offset != 0 and data == NULL; new frames have data; a streamed frame has
 * neither. Engine-owned. */
typedef struct tlx_id3_frame_entry {
  uint32_t offset;     /**< content offset in the stored tag; 0 for new frames */
  uint32_t new_offset; /**< file offset in the rewritten tag */
  uint32_t length;     /**< header + extra bytes + data */
  uint32_t data_size;  /**< data size as declared */
  uint8_t raw_header[10]; /**< the 6 or 10 header bytes in file layout */
  uint8_t extra_len;      /**< number of extra header bytes in extra */
  uint8_t extra[6];       /**< decompressed size, encryption method, group */
  uint8_t* data; /**< engine-owned copy of a new frame's data */
} tlx_id3_frame_entry;

/* ---- Context (engine context and content access) ------------------------ */
/** Opens (or, in TLX_ID3_MODE_CREATE, creates) the file at @p path and fills
 * the caller's record @p ctx. The file stays open until
 * tlx_id3_destroy_context: shared with readers in read mode, exclusive in
 * write and create mode. @p header is used only when creating: its size is
 * the padding of the new, empty ID3v2.3 tag.
 * An edit of the file that a crash interrupted is completed first (see
 * tlx_id3_complete_interrupted).
 * @return TLX_ID3_OK; TLX_ID3_E_NOT_FOUND (no such regular file);
 *   TLX_ID3_E_OPEN (access denied, sharing conflict, or the file to create
 *   exists); TLX_ID3_E_SYSTEM (an interrupted edit cannot be completed now);
 *   TLX_ID3_E_NOMEM; TLX_ID3_E_WRITE or TLX_ID3_E_SEEK while creating;
 *   TLX_ID3_E_PARAM. A failure leaves nothing allocated or open. */
TLX_API int32_t tlx_id3_create_context(const wchar_t* path, int32_t mode,
                                       const tlx_id3_v2_header* header,
                                       tlx_id3_context* ctx);
/** Closes the file and frees what the context points to; an open transaction
 * is dropped without committing. The record itself is the caller's and must
 * not be used again.
 * @return TLX_ID3_OK; TLX_ID3_E_CLOSE (memory is still freed). */
TLX_API int32_t tlx_id3_destroy_context(tlx_id3_context* ctx);
/** Accepts @p tag_id (e.g. "kq7") as tag magic besides "ID3"; the engine
 * keeps a copy. Call it right after creating the context.
 * @return TLX_ID3_OK; TLX_ID3_E_NOMEM; TLX_ID3_E_PARAM. */
TLX_API int32_t tlx_id3_v2_set_allow_tag_id(tlx_id3_context* ctx, const char* tag_id);
/** Sets the TLX_ID3_OPTION_* bits of the context; call it right after
 * creating the context, before anything is read.
 * @return TLX_ID3_OK; TLX_ID3_E_PARAM (null context or unknown bits);
 *   TLX_ID3_E_STATE unless idle. */
TLX_API int32_t tlx_id3_set_options(tlx_id3_context* ctx, uint32_t options);
/** The TLX_ID3_OPTION_* bits of the context. @return TLX_ID3_OK. */
TLX_API int32_t tlx_id3_get_options(tlx_id3_context* ctx, uint32_t* options);
/** Completes an edit of the file at @p path that was interrupted while its
 * new content was copied over it in place (a file with several hard links,
 * or whose folder cannot be written): the copy is done again from the
 * complete new content kept beside it, so that nobody reads a torn file.
 * tlx_id3_create_context does this itself before it opens a file.
 * @p completed (may be null) is set to 1 when an interrupted edit was
 * completed, else 0.
 * @return TLX_ID3_OK (also when nothing was interrupted); TLX_ID3_E_SYSTEM
 *   when the copy cannot be completed now (the record stays, so that the
 *   next attempt tries again); TLX_ID3_E_NOMEM; TLX_ID3_E_PARAM. */
TLX_API int32_t tlx_id3_complete_interrupted(const wchar_t* path, int32_t* completed);
/** The context's mode. @return TLX_ID3_OK. */
TLX_API int32_t tlx_id3_get_mode(tlx_id3_context* ctx, int32_t* mode);
/** The context's path; the string belongs to the engine and lives as long as
 * the context. @return TLX_ID3_OK. */
TLX_API int32_t tlx_id3_get_path(tlx_id3_context* ctx, const wchar_t** path);
/** Reports and clears what the context's access to its file failed at since
 * it was created or this was last called. The other functions turn a failed
 * read or positioning into codes (TLX_ID3_E_READ, TLX_ID3_E_SEEK,
 * TLX_ID3_E_NOT_FOUND) that also stand for a file that ends early or has no
 * tag; a caller that must not take an unreadable file for one without a tag
 * or frame asks this after reading. Reaching the end of the file and asking
 * for a position out of range count as nothing here.
 * @return TLX_ID3_OK when nothing failed; TLX_ID3_E_READ when the system
 *   failed a read or positioning (an I/O error); else TLX_ID3_E_NOMEM when a
 *   buffer of the file's content could not be allocated; TLX_ID3_E_PARAM. */
TLX_API int32_t tlx_id3_take_content_failure(tlx_id3_context* ctx);
/** The first bytes and the last 128 bytes of the file: what tells what it
 * holds (an ID3v2 tag header, MPEG audio right at its start, an ID3v1
 * trailer) and its length. */
typedef struct tlx_id3_file_ends {
  uint8_t head[10];      /**< the first bytes of the file */
  uint32_t head_size;    /**< bytes in head: 10, fewer only for a shorter file */
  uint8_t trailer[128];  /**< the last 128 bytes; zero for a shorter file */
  int32_t has_trailer;   /**< 1 when trailer begins with "TAG" */
  int32_t file_size;     /**< the file's length; -1 when it cannot be told
                              (2 GiB or more) */
} tlx_id3_file_ends;
/** Fills @p ends from the file. What a read session of the context already
 * read is not read again, also after the session, until something writes
 * the file: after a session that read the tag the head costs nothing, and
 * the trailer at most one positioning and one read (none when the session
 * needed it); later calls cost nothing.
 * @return TLX_ID3_OK; TLX_ID3_E_SEEK or TLX_ID3_E_READ when the file
 *   cannot be read; TLX_ID3_E_PARAM; TLX_ID3_E_STATE while frame data is
 *   streamed. */
TLX_API int32_t tlx_id3_get_file_ends(tlx_id3_context* ctx, tlx_id3_file_ends* ends);
/** Writes out buffered frame data and syncs the file (or the temporary file
 * of a rewrite) to disk.
 * @return TLX_ID3_OK; TLX_ID3_E_SEEK or TLX_ID3_E_WRITE for the buffer;
 *   TLX_ID3_E_SYSTEM when the sync fails; TLX_ID3_E_PARAM. */
TLX_API int32_t tlx_id3_flush_content(tlx_id3_context* ctx);

/* ---- ID3v2 header and frame index --------------------------------------- */
/** Reads the tag header into @p header.
 * @return TLX_ID3_OK; TLX_ID3_E_NOT_FOUND (no tag magic); TLX_ID3_E_UNSUPPORTED
 *   for a version other than 2.2 and 2.3, and 2.4 with TLX_ID3_OPTION_V24
 *   (version and size are still filled); TLX_ID3_E_READ; TLX_ID3_E_SEEK. */
TLX_API int32_t tlx_id3_v2_get_header(tlx_id3_context* ctx, tlx_id3_v2_header* header);
/** As tlx_id3_v2_get_header, but a missing or unsupported tag (also a file
 * shorter than a tag header) reads as an empty ID3v2.3 tag (version
 * TLX_ID3_V23, size 0) with TLX_ID3_OK.
 * @return TLX_ID3_OK; TLX_ID3_E_READ or TLX_ID3_E_SEEK when the file cannot
 *   be read (never taken for a missing tag); TLX_ID3_E_PARAM;
 *   TLX_ID3_E_STATE. */
TLX_API int32_t tlx_id3_v2_get_header2(tlx_id3_context* ctx, tlx_id3_v2_header* header);
/** Reads the extended header into @p ext (ID3v2.4: only the CRC applies).
 * @return TLX_ID3_OK; TLX_ID3_E_NOT_FOUND (none, or no tag); the codes of
 *   tlx_id3_v2_get_header; TLX_ID3_E_READ; TLX_ID3_E_SEEK. */
TLX_API int32_t tlx_id3_v2_get_extended_header(tlx_id3_context* ctx,
                                               tlx_id3_v2_extended_header* ext);
/** The padding size: bytes from the end of the last frame to the end of the
 * tag. Not during an editing transaction (TLX_ID3_E_STATE).
 * @return TLX_ID3_OK; TLX_ID3_E_OPEN when the frames cannot be walked; the
 *   codes of tlx_id3_v2_get_header. */
TLX_API int32_t tlx_id3_v2_get_padding_size(tlx_id3_context* ctx, uint32_t* size);
/** Number of frames in the tag.
 * @return TLX_ID3_OK; the codes of tlx_id3_v2_get_header; TLX_ID3_E_READ;
 *   TLX_ID3_E_SEEK. */
TLX_API int32_t tlx_id3_v2_get_frame_total_num(tlx_id3_context* ctx, uint32_t* count);
/** Number of frames with identifier @p id; 0 for a file without a tag.
 * @return TLX_ID3_OK; TLX_ID3_E_READ; TLX_ID3_E_SEEK (a file that cannot be
 *   read never counts as one without a tag). */
TLX_API int32_t tlx_id3_v2_get_frame_num(tlx_id3_context* ctx, uint32_t id, uint32_t* count);
/** The header of the @p index-th frame of the tag. An index that reaches
 * the padding gives an all-zero record (id 0) and TLX_ID3_OK.
 * @return TLX_ID3_OK; TLX_ID3_E_NOT_FOUND past the end of the tag; the codes
 *   of tlx_id3_v2_get_header; TLX_ID3_E_READ; TLX_ID3_E_SEEK. */
TLX_API int32_t tlx_id3_v2_get_frame_header_by_index(tlx_id3_context* ctx, uint32_t index,
                                                     tlx_id3_v2_frame_header* frame);
/** The header of the @p occurrence-th frame with identifier @p id, as
 * tlx_id3_v2_get_frame_header_by_index (an all-zero record when the walk
 * reaches the padding). */
TLX_API int32_t tlx_id3_v2_get_frame_header(tlx_id3_context* ctx, uint32_t id,
                                            uint32_t occurrence,
                                            tlx_id3_v2_frame_header* frame);

/* ---- Frame data --------------------------------------------------------- */
/** Copies the data of the @p occurrence-th frame @p id into the caller's
 * @p buffer, which holds @p *size bytes; @p *size becomes the bytes copied
 * (at most the frame's size). Unsynchronisation is removed (with
 * TLX_ID3_OPTION_V24 also compressed data inflated, in ID3v2.3 tags too),
 * and the first string of a UTF-16 big-endian text or URL frame is turned
 * little-endian.
 * @return TLX_ID3_OK; the codes of tlx_id3_v2_get_frame_header;
 *   TLX_ID3_E_READ (the buffer may then hold partial data);
 *   TLX_ID3_E_CORRUPT for compressed data that does not inflate;
 *   TLX_ID3_E_NOMEM. */
TLX_API int32_t tlx_id3_v2_get_frame_data(tlx_id3_context* ctx, uint32_t id,
                                          uint32_t occurrence, uint32_t* size,
                                          uint8_t* buffer);
/** Lends the data of the @p occurrence-th frame @p id, as
 * tlx_id3_v2_get_frame_data hands it out to a buffer large enough for all
 * of it, without copying it to the caller: @p *data points into memory the
 * context owns (inside a read session usually its copy of the tag) and
 * @p *size is the number of bytes there. The caller only reads them, and
 * only until its next call on the context; ending a read session ends the
 * loan too. A frame is refused before anything is allocated for it when its
 * stored data is larger than its whole tag or than the file holds, or when
 * it decodes to more bytes than the file holds.
 * @return TLX_ID3_OK; TLX_ID3_E_NOT_FOUND (no such frame, or no tag); the
 *   codes of tlx_id3_v2_get_header; TLX_ID3_E_READ (data missing from the
 *   file); TLX_ID3_E_CORRUPT (larger than its tag or than the file once
 *   decoded, or compressed data that does not inflate); TLX_ID3_E_SEEK;
 *   TLX_ID3_E_NOMEM. */
TLX_API int32_t tlx_id3_v2_lend_frame_data(tlx_id3_context* ctx, uint32_t id,
                                           uint32_t occurrence, const uint8_t** data,
                                           uint32_t* size);
/** The file offset of the data of the @p occurrence-th frame @p id: right
 * after its frame header, where its stored extra bytes and data begin.
 * @return TLX_ID3_OK; TLX_ID3_E_NOT_FOUND; the codes of
 *   tlx_id3_v2_get_header. */
TLX_API int32_t tlx_id3_v2_get_frame_data_offset(tlx_id3_context* ctx, uint32_t id,
                                                 uint32_t occurrence, uint32_t* offset);
/** Starts streaming out the data of the @p occurrence-th frame @p id
 * (state TLX_ID3_STATE_READING); needs the idle state.
 * @return TLX_ID3_OK; the codes of tlx_id3_v2_get_frame_header. */
TLX_API int32_t tlx_id3_v2_get_frame_data_init(tlx_id3_context* ctx, uint32_t id,
                                               uint32_t occurrence);
/** Starts streaming out the data of the @p index-th frame, as
 * tlx_id3_v2_get_frame_data_init. */
TLX_API int32_t tlx_id3_v2_get_frame_data_init_by_index(tlx_id3_context* ctx,
                                                        uint32_t index);
/** Reads the next piece of the streamed frame, as stored (no conversion),
 * into the caller's @p buffer of @p *size bytes; @p *size becomes the bytes
 * read, 0 once everything was handed out.
 * @return TLX_ID3_OK; TLX_ID3_E_READ (the stream stays open: end it with
 *   tlx_id3_v2_get_frame_data_fin). */
TLX_API int32_t tlx_id3_v2_get_frame_data_progress(tlx_id3_context* ctx, uint32_t* size,
                                                   uint8_t* buffer);
/** Ends streaming out; the state is idle again. @return TLX_ID3_OK. */
TLX_API int32_t tlx_id3_v2_get_frame_data_fin(tlx_id3_context* ctx);

/* ---- ID3v1 trailer ------------------------------------------------------ */
/* Getters need a trailer ("TAG" in the last 128 bytes): TLX_ID3_E_NOT_FOUND
 * without one (also for a file shorter than 128 bytes); TLX_ID3_E_SEEK or
 * TLX_ID3_E_READ when the file cannot be read, which never passes for a
 * missing trailer. Setters need the idle state and write their field into
 * the file at once, appending a new trailer when there is none;
 * TLX_ID3_E_WRITE (also on a read-only context), TLX_ID3_E_SEEK or
 * TLX_ID3_E_READ. Text is single-byte text ending in its zero byte, or
 * UTF-16 beginning with a byte-order mark and ending in two zero bytes; it is
 * read no further than those. */
/** Text getters: buffer holds *size + 1 bytes; *size becomes the text length
 * (at most 30, trailing white space removed). @return TLX_ID3_OK; the codes
 * of reading the trailer. */
TLX_API int32_t tlx_id3_v1_get_title(tlx_id3_context* ctx, uint32_t* size, char* buffer);
/** The artist, as tlx_id3_v1_get_title. */
TLX_API int32_t tlx_id3_v1_get_artist(tlx_id3_context* ctx, uint32_t* size, char* buffer);
/** The album, as tlx_id3_v1_get_title. */
TLX_API int32_t tlx_id3_v1_get_album(tlx_id3_context* ctx, uint32_t* size, char* buffer);
/** The comment, as tlx_id3_v1_get_title; it ends before the track number. */
TLX_API int32_t tlx_id3_v1_get_comment(tlx_id3_context* ctx, uint32_t* size, char* buffer);
/** The year as a number; 0 when blank. @return as tlx_id3_v1_get_title. */
TLX_API int32_t tlx_id3_v1_get_year(tlx_id3_context* ctx, int32_t* year);
/** The genre byte (255: none). @return as tlx_id3_v1_get_title. */
TLX_API int32_t tlx_id3_v1_get_genre(tlx_id3_context* ctx, uint32_t* genre);
/** The ID3v1.1 track number.
 * @return TLX_ID3_OK; TLX_ID3_E_NOT_FOUND also when the trailer has no track
 *   number. */
TLX_API int32_t tlx_id3_v1_get_tracknumebr(tlx_id3_context* ctx, uint8_t* track);
/** Writes the title, at most 30 bytes (else TLX_ID3_E_PARAM).
 * @return TLX_ID3_OK; TLX_ID3_E_PARAM; TLX_ID3_E_STATE; TLX_ID3_E_WRITE;
 *   TLX_ID3_E_SEEK. */
TLX_API int32_t tlx_id3_v1_set_title(tlx_id3_context* ctx, const char* title);
/** Writes the artist, as tlx_id3_v1_set_title. */
TLX_API int32_t tlx_id3_v1_set_artist(tlx_id3_context* ctx, const char* artist);
/** Writes the album, as tlx_id3_v1_set_title. */
TLX_API int32_t tlx_id3_v1_set_album(tlx_id3_context* ctx, const char* album);
/** Writes the year: 0 blanks it, else 1000 to 9999 (else TLX_ID3_E_PARAM).
 * @return as tlx_id3_v1_set_title. */
TLX_API int32_t tlx_id3_v1_set_year(tlx_id3_context* ctx, int32_t year);
/** Writes the comment, as tlx_id3_v1_set_title; a stored track number is
 * kept (the comment then has 28 bytes). */
TLX_API int32_t tlx_id3_v1_set_comment(tlx_id3_context* ctx, const char* comment);
/** Writes the genre byte. @return as tlx_id3_v1_set_title. */
TLX_API int32_t tlx_id3_v1_set_genre(tlx_id3_context* ctx, uint8_t genre);
/** Writes the ID3v1.1 track number. @return as tlx_id3_v1_set_title. */
TLX_API int32_t tlx_id3_v1_set_tracknumber(tlx_id3_context* ctx, uint8_t track);

/** ID3v1 fields, for tlx_id3_v1_stage. */
enum {
  TLX_ID3_V1_TITLE = 0,   /**< text, as tlx_id3_v1_set_title */
  TLX_ID3_V1_ARTIST = 1,  /**< text, as tlx_id3_v1_set_artist */
  TLX_ID3_V1_ALBUM = 2,   /**< text, as tlx_id3_v1_set_album */
  TLX_ID3_V1_YEAR = 3,    /**< number, as tlx_id3_v1_set_year */
  TLX_ID3_V1_COMMENT = 4, /**< text, as tlx_id3_v1_set_comment */
  TLX_ID3_V1_GENRE = 5,   /**< number (0 to 255), as tlx_id3_v1_set_genre */
  TLX_ID3_V1_TRACK = 6    /**< number (0 to 255), as tlx_id3_v1_set_tracknumber */
};
/** Inside an editing transaction: records a write of one ID3v1 field that
 * the commit (tlx_id3_v2_edit_end) makes in the new file before it replaces
 * the old one, so that the ID3v2 tag and the trailer change together. The
 * bytes that result are those of calling the fields' setters, in the order
 * staged, right after the commit. @p text is used for the text fields,
 * @p number for the others.
 * @return TLX_ID3_OK; TLX_ID3_E_PARAM for an unknown field or a value the
 *   setter would refuse; TLX_ID3_E_STATE outside a transaction;
 *   TLX_ID3_E_NOMEM. */
TLX_API int32_t tlx_id3_v1_stage(tlx_id3_context* ctx, int32_t field, const char* text,
                                 int32_t number);

/* ---- Editing transaction ------------------------------------------------ */
/** Opens an editing transaction (state TLX_ID3_STATE_EDITING) on the stored
 * tag, or on an empty ID3v2.3 tag when the file has none. Frame edits change
 * a list in memory; nothing reaches the file before tlx_id3_v2_edit_end.
 * With TLX_ID3_OPTION_V24 an ID3v2.4 tag stays ID3v2.4: new frames get
 * ID3v2.4 headers, stored ones are rewritten only as far as they must to
 * stand on their own (sync-safe sizes; stuffing that only the tag's
 * unsynchronisation flag covered is removed), and the extended header and
 * the footer are dropped.
 * @return TLX_ID3_OK; TLX_ID3_E_CORRUPT (no transaction) for a tag that runs
 *   past the end of the file or holds a frame that runs past the end of the
 *   tag: rewriting it would lose the data behind the damage;
 *   TLX_ID3_E_STATE unless idle; TLX_ID3_E_NOMEM; TLX_ID3_E_READ;
 *   TLX_ID3_E_SEEK. */
TLX_API int32_t tlx_id3_v2_edit_begin(tlx_id3_context* ctx);
/** Removes the @p occurrence-th frame @p id from the transaction.
 * @return TLX_ID3_OK; TLX_ID3_E_NOT_FOUND; TLX_ID3_E_PARAM for a read-only
 *   frame; TLX_ID3_E_STATE outside a transaction. */
TLX_API int32_t tlx_id3_v2_remove_frame(tlx_id3_context* ctx, uint32_t id,
                                        uint32_t occurrence);
/** Appends a frame built from @p frame and its @p frame->size bytes of
 * @p data; the engine keeps a copy, the caller keeps its buffers. An
 * existing frame with the same identifier stays.
 * @return TLX_ID3_OK; TLX_ID3_E_NOMEM; TLX_ID3_E_PARAM; TLX_ID3_E_STATE. */
TLX_API int32_t tlx_id3_v2_add_frame(tlx_id3_context* ctx,
                                     const tlx_id3_v2_frame_header* frame,
                                     const uint8_t* data);
/** As tlx_id3_v2_add_frame, but the frame goes first. */
TLX_API int32_t tlx_id3_v2_add_frame_at_head(tlx_id3_context* ctx,
                                             const tlx_id3_v2_frame_header* frame,
                                             const uint8_t* data);
/** Replaces the @p occurrence-th frame with the identifier @p frame->id in
 * place, copying @p data as tlx_id3_v2_add_frame does.
 * @return TLX_ID3_OK; TLX_ID3_E_NOT_FOUND; TLX_ID3_E_PARAM (also for a
 *   read-only frame); TLX_ID3_E_NOMEM; TLX_ID3_E_STATE. */
TLX_API int32_t tlx_id3_v2_update_frame(tlx_id3_context* ctx,
                                        const tlx_id3_v2_frame_header* frame,
                                        const uint8_t* data, uint32_t occurrence);
/** Commits the transaction: the whole file is rewritten through a temporary
 * file and put in place crash-safely, with 1009 to 1024 bytes of padding
 * that make the tag a multiple of 16 bytes, and with the ID3v1 writes staged
 * by tlx_id3_v1_stage. The temporary file is made beside the file (in the
 * system's temporary folder when the file's folder takes no new file); the
 * file keeps its links, owner, mode and extended attributes (see
 * tlx_replace; TLX_ID3_OPTION_SPLIT_LINKS). On success the state is idle.
 * A failure before the file is replaced leaves it unchanged and the
 * transaction open; when the file cannot be reopened after the move
 * (TLX_ID3_E_OPEN) the context is only fit to be destroyed.
 * @return TLX_ID3_OK; TLX_ID3_E_STATE (also when the extended header flag
 *   disagrees with the extended header held; ID3v2.4 holds none); TLX_ID3_E_SYSTEM, TLX_ID3_E_READ,
 *   TLX_ID3_E_WRITE, TLX_ID3_E_SEEK, TLX_ID3_E_CLOSE, TLX_ID3_E_OPEN or
 *   TLX_ID3_E_NOMEM from the rewrite. */
TLX_API int32_t tlx_id3_v2_edit_end(tlx_id3_context* ctx);

/** Placement of a streamed frame. */
enum {
  TLX_ID3_PLACE_APPEND = 0,  /**< after the stored frames */
  TLX_ID3_PLACE_HEAD = 1,    /**< before them */
  TLX_ID3_PLACE_REPLACE = 2  /**< in place of the occurrence-th frame with the id */
};
/** Commits the stored tag plus one frame whose @p frame->size data bytes
 * follow through tlx_id3_v2_edit_frame_progress (state
 * TLX_ID3_STATE_WRITING). The file must hold an ID3v2.2 or ID3v2.3 tag
 * (or ID3v2.4 with TLX_ID3_OPTION_V24);
 * needs the idle state.
 * @return TLX_ID3_OK; the codes of tlx_id3_v2_get_header; TLX_ID3_E_CORRUPT
 *   as tlx_id3_v2_edit_begin; TLX_ID3_E_NOT_FOUND
 *   or TLX_ID3_E_PARAM (read only) for the frame to replace; the codes of
 *   tlx_id3_v2_edit_end. */
TLX_API int32_t tlx_id3_v2_edit_frame_init(tlx_id3_context* ctx,
                                           const tlx_id3_v2_frame_header* frame,
                                           int32_t placement, uint32_t occurrence);
/** Writes the next @p size bytes of the streamed frame's data; the caller
 * keeps its buffer.
 * @return TLX_ID3_OK; TLX_ID3_E_PARAM (size 0, or more than is still owed);
 *   TLX_ID3_E_WRITE; TLX_ID3_E_SEEK; TLX_ID3_E_STATE. */
TLX_API int32_t tlx_id3_v2_edit_frame_progress(tlx_id3_context* ctx, uint32_t size,
                                               const uint8_t* data);
/** Ends streaming in; the state is idle again.
 * @return TLX_ID3_OK; TLX_ID3_E_PARAM while data is still owed (the stream
 *   stays open); TLX_ID3_E_WRITE; TLX_ID3_E_SEEK; TLX_ID3_E_STATE. */
TLX_API int32_t tlx_id3_v2_edit_frame_fin(tlx_id3_context* ctx);

/* ---- Padding, header flags, extended header ----------------------------- */
/** Sets the header flags that the commit writes, inside a transaction.
 * flags points at four 0/1 values: unsync, compression, has_ext_header,
 * experimental (the same order as in tlx_id3_v2_header).
 * @return TLX_ID3_OK; TLX_ID3_E_PARAM; TLX_ID3_E_STATE. */
TLX_API int32_t tlx_id3_v2_set_header_flag_info(tlx_id3_context* ctx, const int32_t* flags);
/** Drops the extended header from the transaction (ID3v2.3 and 2.4) and
 * clears its header flag.
 * @return TLX_ID3_OK; TLX_ID3_E_UNSUPPORTED for ID3v2.2; the codes of
 *   tlx_id3_v2_get_header (TLX_ID3_E_NOT_FOUND without a stored tag);
 *   TLX_ID3_E_STATE. */
TLX_API int32_t tlx_id3_v2_remove_extended_header(tlx_id3_context* ctx);
/** Sets or updates the extended header of the transaction (ID3v2.3 only);
 * the caller also sets the has_ext_header flag with
 * tlx_id3_v2_set_header_flag_info.
 * @return TLX_ID3_OK; TLX_ID3_E_UNSUPPORTED for ID3v2.2 and ID3v2.4, whose
 *   extended header the engine does not write; TLX_ID3_E_NOMEM;
 *   TLX_ID3_E_PARAM; TLX_ID3_E_STATE. */
TLX_API int32_t tlx_id3_v2_add_extended_header(tlx_id3_context* ctx,
                                               const tlx_id3_v2_extended_header* ext);
/** Gives the stored tag exactly @p padding bytes of padding and changes
 * nothing else, through a crash-safe rewrite; needs the idle state.
 * @return TLX_ID3_OK; the codes of tlx_id3_v2_get_padding_size, of
 *   tlx_id3_v2_edit_begin (TLX_ID3_E_CORRUPT) and of the rewrite (see
 *   tlx_id3_v2_edit_end). */
TLX_API int32_t tlx_id3_v2_adjust_padding_size(tlx_id3_context* ctx, uint32_t padding);

/* ---- Frame identifiers -------------------------------------------------- */
/** The identifier that names frame @p id in a tag of @p version: a
 * three-character ID3v2.2 identifier ("TP2", whose last byte is 0) for
 * TLX_ID3_V22, a four-character one ("TPE2") for TLX_ID3_V23 and
 * TLX_ID3_V24. An identifier already of the version's length is kept as it
 * is; the other length is translated for the frames both generations know.
 * Identifiers consist of the characters A-Z and 0-9.
 * @return TLX_ID3_OK; TLX_ID3_E_UNSUPPORTED when the version has no such
 *   frame (an ID3v2.4-only frame asked of ID3v2.2); TLX_ID3_E_PARAM for a
 *   malformed identifier, an unknown version or a null @p mapped. */
TLX_API int32_t tlx_id3_frame_id_for_version(uint32_t id, int32_t version, uint32_t* mapped);

/* ---- Backup and recovery ------------------------------------------------ */
/** Copies the ID3v2 tag of @p audio_path byte for byte into @p backup_path
 * and syncs it. @p tag_id is an alternative tag magic, or null. A failure
 * removes the partial backup.
 * @return TLX_ID3_OK; the codes of tlx_id3_create_context and
 *   tlx_id3_v2_get_header (TLX_ID3_E_NOT_FOUND without a tag);
 *   TLX_ID3_E_OPEN, TLX_ID3_E_READ, TLX_ID3_E_WRITE, TLX_ID3_E_SEEK,
 *   TLX_ID3_E_CLOSE; TLX_ID3_E_SYSTEM when the sync fails. */
TLX_API int32_t tlx_id3_v2_backup(const wchar_t* backup_path, const wchar_t* audio_path,
                                  const char* tag_id);
/** Rebuilds @p audio_path from the tag in @p backup_path and the file's
 * current audio data, through a crash-safe rewrite, then deletes the backup.
 * The file must still begin with a readable ID3v2.2/2.3 tag. A failure keeps
 * the backup, so recovery can be tried again.
 * @return TLX_ID3_OK; TLX_ID3_E_OPEN for the backup; the codes of
 *   tlx_id3_create_context and tlx_id3_v2_get_header; TLX_ID3_E_READ,
 *   TLX_ID3_E_SEEK, TLX_ID3_E_CLOSE; TLX_ID3_E_SYSTEM. */
TLX_API int32_t tlx_id3_v2_recover(const wchar_t* audio_path, const wchar_t* backup_path,
                                   const char* tag_id);

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif /* TAGKIT_ENGINE_TLX_ID3_H_ */
