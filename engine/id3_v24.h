/* ID3v2.4 beside the 2.2 and 2.3 code: the extended header, the frame
 * header with its sync-safe size and its flag layout, the plain-integer
 * sizes that some writers store, and what an edit needs (the frame list,
 * new frame headers, stored frames copied so that each stands on its own).
 * Private to the engine.
 *
 * Frame headers are never unsynchronised in ID3v2.4, so everything here
 * works in plain file offsets, whatever the tag's unsynchronisation flag. */
#ifndef TAGKIT_ENGINE_ID3_V24_H_
#define TAGKIT_ENGINE_ID3_V24_H_

#include <stdint.h>

#include "id3_internal.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Frame format flags of ID3v2.4. */
#define TLX_ID3_V24_GROUPING 0x40
#define TLX_ID3_V24_COMPRESSION 0x08
#define TLX_ID3_V24_ENCRYPTION 0x04
#define TLX_ID3_V24_UNSYNC 0x02
#define TLX_ID3_V24_DATA_LENGTH 0x01

/* 1 when ctx reads and edits ID3v2.4 (TLX_ID3_OPTION_V24). */
int32_t tlx_id3_v24_enabled(const tlx_id3_context* ctx);

/* Offset of the first frame of a tag with an extended header: past the
 * header, whose sync-safe size counts itself. */
int32_t tlx_id3_v24_first_frame_offset(tlx_id3_context* ctx, uint32_t* offset);
/* The CRC of the extended header (the five stored bytes); padding_size is
 * 0, as ID3v2.4 keeps none. TLX_ID3_E_NOT_FOUND when a frame stands where
 * the flag announces the extended header; TLX_ID3_E_READ; TLX_ID3_E_SEEK. */
int32_t tlx_id3_v24_read_extended_header(tlx_id3_context* ctx, tlx_id3_v2_extended_header* ext);

/* Whether the frames in [first, end) store their sizes as plain 32-bit
 * integers rather than sync-safe ones (*plain 1): decided the way the peer
 * readers decide it, by walking the frames both ways. */
int32_t tlx_id3_v24_size_mode(tlx_id3_context* ctx, uint64_t first, uint64_t end,
                              int32_t* plain);
/* Parses the frame header at the current position, then its extra bytes;
 * the size is the stored size less the extra bytes. consumed is the whole
 * stored frame, 0 when fewer than 10 bytes remain. */
int32_t tlx_id3_v24_parse_frame_header(tlx_id3_context* ctx, uint64_t remaining,
                                       int32_t plain_sizes, tlx_id3_v2_frame_header* frame,
                                       uint64_t* consumed);
/* Number of extra bytes (group, encryption method, data length indicator)
 * that a format flags byte announces. */
uint32_t tlx_id3_v24_extra_bytes(uint8_t format);
/* The two halves of tlx_id3_v24_parse_frame_header over bytes in memory: the
 * 10 header bytes at raw, then the extra bytes they announce at extra. */
void tlx_id3_v24_decode_frame_header(const uint8_t* raw, int32_t plain_sizes,
                                     tlx_id3_v2_frame_header* frame, uint64_t* consumed);
void tlx_id3_v24_decode_frame_extra(const uint8_t* extra, tlx_id3_v2_frame_header* frame);

/* The frame list of an edit over the frames in [first, end). Stored entries
 * carry a header with a sync-safe size; a frame that was unsynchronised only
 * through the tag's flag gets the size it has once its stuffing is removed
 * (the copy removes it). Sets frames_end. */
int32_t tlx_id3_v24_read_frame_list(tlx_id3_context* ctx, const tlx_id3_v2_header* header,
                                    uint64_t first, uint64_t end);
/* The header and extra bytes of a new frame: sync-safe size, ID3v2.4 flag
 * bits, extra bytes in the order group, encryption method, data length
 * indicator (always present for a compressed frame).
 * TLX_ID3_E_PARAM when the frame is too large for a tag. */
int32_t tlx_id3_v24_encode_frame(const tlx_id3_v2_frame_header* frame,
                                 tlx_id3_frame_entry* entry);

/* Writes count bytes to the output of a rewrite; returns count on success. */
typedef int32_t (*tlx_id3_output_fn)(tlx_id3_context* ctx, const void* buffer, uint32_t count);
/* Copies a stored frame to the output, positioned at its new offset: its
 * header as listed, then its data, with the stuffing removed when the frame
 * was unsynchronised only through tag_unsync. */
int32_t tlx_id3_v24_copy_frame(tlx_id3_context* ctx, const tlx_id3_frame_entry* entry,
                               int32_t tag_unsync, tlx_id3_output_fn write);

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif /* TAGKIT_ENGINE_ID3_V24_H_ */
