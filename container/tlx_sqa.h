/** @file
 * The container-format layer: files that begin with an ID3v2-style tag whose
 * magic is "kq7", followed by a 96-byte codec data header that begins with
 * "KQ7", followed by the encoded audio.
 *
 * The tag is handled by the tag engine through the engine context held in
 * tlx_sqa_context::id3; this layer adds the codec data header, the tag size
 * and padding queries, and an edit of the tag that is protected by a backup
 * file and re-padded when it ends. Between tlx_sqa_edit_begin and
 * tlx_sqa_edit_end, frames are changed with the engine's transaction
 * operations (tlx_id3_v2_add_frame and the others) on &ctx->id3.
 *
 * Results are the engine's codes (engine/tlx_id3.h) plus TLX_SQA_E_FORMAT (6)
 * for a file without a valid codec data header. */
#ifndef TAGKIT_CONTAINER_TLX_SQA_H_
#define TAGKIT_CONTAINER_TLX_SQA_H_

#include <stdint.h>
#include <wchar.h>

#include "tlx_export.h"
#include "tlx_id3.h"

#ifdef __cplusplus
extern "C" {
#endif

/** Tag magic of a container file, used instead of "ID3". */
#define TLX_SQA_TAG_ID "kq7"
/** Size of the codec data header as written; a stored one may declare more. */
#define TLX_SQA_CODEC_DATA_HEADER_SIZE 96

/** Context modes, as for the engine. Any other value opens read only. */
enum {
  TLX_SQA_MODE_READ = 0,   /**< read only; the file must hold a codec data header */
  TLX_SQA_MODE_CREATE = 1, /**< new file holding an empty "kq7" tag */
  TLX_SQA_MODE_WRITE = 2   /**< read and write */
};

/** Layer states (tlx_sqa_context::state). */
enum {
  TLX_SQA_STATE_IDLE = 0,    /**< no edit open */
  TLX_SQA_STATE_EDITING = 3  /**< between tlx_sqa_edit_begin and tlx_sqa_edit_end */
};

/** Codec numbers (tlx_sqa_codec_data_header::codec). */
enum {
  TLX_SQA_CODEC_0 = 0, /**< fields in info.codec0 */
  TLX_SQA_CODEC_1 = 1  /**< fields in info.codec1 */
};

/** Caller-owned; filled by tlx_sqa_create_context and emptied by
 * tlx_sqa_destroy_context. Everything it points to belongs to the layer. */
typedef struct tlx_sqa_context {
  int32_t mode;         /**< mode given at creation */
  wchar_t* path;        /**< layer-owned copy */
  int32_t content_kind; /**< 0: a file on disk */
  int fd;               /**< the engine context's handle, refreshed after rewrites */
  int32_t state;        /**< TLX_SQA_STATE_IDLE or TLX_SQA_STATE_EDITING */
  tlx_id3_context id3;  /**< engine context on the same file, magic "kq7" */
  wchar_t* backup_path; /**< layer-owned copy, or null: edits take no backup */
  int32_t untagged;      /**< the current edit began on a container file without tag */
  uint32_t old_tag_size; /**< tag size field when the current edit began */
} tlx_sqa_context;

/** The decoded codec data header. The four codec fields are read through the
 * member of `info` that matches `codec`. */
typedef struct tlx_sqa_codec_data_header {
  uint8_t version;      /**< 1 */
  uint8_t block_8[24];  /**< header bytes 8-31, carried unchanged */
  uint32_t codec;       /**< TLX_SQA_CODEC_0 or TLX_SQA_CODEC_1 */
  /** Codec parameters; the member named after `codec` is valid. */
  union {
    /** Parameters of TLX_SQA_CODEC_0. */
    struct {
      uint32_t flag_a;        /**< 0 or 1 */
      uint32_t flag_b;        /**< 0 or 1 */
      uint32_t sampling_rate; /**< always 44100 */
      uint32_t frame_size;    /**< bytes, a multiple of 8 up to 8184 */
    } codec0;
    /** Parameters of TLX_SQA_CODEC_1. */
    struct {
      uint32_t sampling_rate;  /**< 32000, 44100 or 48000 */
      uint32_t channel_config; /**< 0-7 */
      uint32_t frame_size;     /**< bytes, a multiple of 8 from 8 to 8192 */
      uint32_t unused;         /**< carried unchanged */
    } codec1;
  } info;
  uint16_t encryption_id; /**< 0 or 1 when read; only 1 can be written */
  uint8_t block_88[8];    /**< header bytes 88-95, carried unchanged */
} tlx_sqa_codec_data_header;

/** Opens (mode 0 or 2) or creates (mode 1, with an empty tag of tag_size
 * padding bytes) the file at path. Mode 0 requires a valid codec data header
 * after the tag (else 6). backup_path, when given and mode is not 0, names the
 * file that keeps the original tag across edits. Any mode other than 0, 1, 2
 * opens read only. A failure leaves nothing allocated and nothing open.
 * @return TLX_ID3_OK; TLX_SQA_E_FORMAT; TLX_ID3_E_NOMEM; TLX_ID3_E_PARAM;
 *   the codes of tlx_id3_create_context. */
TLX_API int32_t tlx_sqa_create_context(const wchar_t* path, int32_t mode, uint32_t tag_size,
                                       const wchar_t* backup_path, tlx_sqa_context* ctx);
/** Closes the file and releases the context; an open edit is dropped.
 * @return TLX_ID3_OK; TLX_ID3_E_CLOSE; TLX_ID3_E_PARAM. */
TLX_API int32_t tlx_sqa_destroy_context(tlx_sqa_context* ctx);

/** Length of the tag including its 10-byte header; 0 when there is none.
 * @return TLX_ID3_OK; the codes of tlx_id3_v2_get_header other than
 *   TLX_ID3_E_NOT_FOUND. */
TLX_API int32_t tlx_sqa_get_tag_size(tlx_sqa_context* ctx, uint32_t* size);
/** The tag's padding size. @return as tlx_id3_v2_get_padding_size. */
TLX_API int32_t tlx_sqa_get_padding_size(tlx_sqa_context* ctx, uint32_t* size);
/** The size that the codec data header at a file offset declares (>= 96).
 * @return TLX_ID3_OK; TLX_SQA_E_FORMAT (no "KQ7" there, or a size below 96);
 *   TLX_ID3_E_READ; TLX_ID3_E_SEEK. */
TLX_API int32_t tlx_sqa_get_codec_data_header_size(tlx_sqa_context* ctx, uint32_t offset,
                                                   uint32_t* size);
/** Reads and decodes the 96 bytes that follow the tag.
 * @return TLX_ID3_OK; TLX_ID3_E_UNSUPPORTED (version, encryption, codec or
 *   sampling rate); TLX_ID3_E_NOT_FOUND (fewer than 96 bytes);
 *   TLX_ID3_E_READ; TLX_ID3_E_SEEK. */
TLX_API int32_t tlx_sqa_get_codec_data_header(tlx_sqa_context* ctx,
                                              tlx_sqa_codec_data_header* header);
/** Encodes the record and writes the 96 bytes after the tag; nothing is
 * written when the record cannot be encoded, or when the tag runs past the
 * end of the file (TLX_ID3_E_CORRUPT).
 * @return TLX_ID3_OK; TLX_ID3_E_CORRUPT; TLX_ID3_E_UNSUPPORTED (version other than 1,
 *   encryption id other than 1, codec or sampling rate); TLX_ID3_E_WRITE;
 *   TLX_ID3_E_SEEK; TLX_ID3_E_PARAM. */
TLX_API int32_t tlx_sqa_set_codec_data_header(tlx_sqa_context* ctx,
                                              const tlx_sqa_codec_data_header* header);

/** Rebuilds the file at path from the tag kept in backup_path and the file's
 * current audio, then deletes the backup; the file is either recovered whole
 * or left as it was, and the backup goes only after a recovery. ctx may be
 * null; when it is an idle context, its file is closed for the recovery and
 * opened again afterwards, so that the context sees the recovered file (1
 * when that open fails: ctx->fd is then -1 and the context only fit to be
 * destroyed).
 * @return the codes of tlx_id3_v2_recover; TLX_ID3_E_STATE for a context
 *   that is editing; TLX_ID3_E_CLOSE when its file cannot be let go
 *   (nothing recovered); TLX_ID3_E_OPEN as above; TLX_ID3_E_PARAM. */
TLX_API int32_t tlx_sqa_recover_id3v2(const wchar_t* path, const wchar_t* backup_path,
                                      tlx_sqa_context* ctx);

/** Opens an edit of the tag: takes the backup (only when no file exists at the
 * backup path yet) and begins the engine's transaction on &ctx->id3.
 * A damaged tag (TLX_ID3_E_CORRUPT of tlx_id3_v2_edit_begin) is refused
 * before the backup is taken.
 * @return TLX_ID3_OK; TLX_ID3_E_STATE when an edit is open; the codes of
 *   tlx_id3_v2_edit_begin and tlx_id3_v2_backup. */
TLX_API int32_t tlx_sqa_edit_begin(tlx_sqa_context* ctx);
/** Commits the engine's transaction and re-pads the tag: a tag that has to
 * grow, or that would keep more than 768 spare bytes, is padded to the next
 * multiple of 512 bytes. When the commit fails the edit stays open and may be
 * ended again; once the frames are committed the edit is over, even when the
 * re-padding then fails (the file keeps the commit's padding). A container
 * file that had no tag gets one with the "kq7" magic.
 * @return TLX_ID3_OK; TLX_ID3_E_STATE without an open edit; the codes of
 *   tlx_id3_v2_edit_end and tlx_id3_v2_adjust_padding_size. */
TLX_API int32_t tlx_sqa_edit_end(tlx_sqa_context* ctx);

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif /* TAGKIT_CONTAINER_TLX_SQA_H_ */
