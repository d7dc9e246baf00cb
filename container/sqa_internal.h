/* Container-layer internals shared by its source files and its tests: the
 * codec data header codec and the layer's content access. Not installed. */
#ifndef TAGKIT_CONTAINER_SQA_INTERNAL_H_
#define TAGKIT_CONTAINER_SQA_INTERNAL_H_

#include <stddef.h>
#include <stdint.h>

#include "tlx_sqa.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The layer's trace hooks discard every message, like the engine's. */
static inline void tlx_sqa_trace(const char* message) { (void)message; }
static inline void tlx_sqa_trace_error(const char* format, const char* function) {
  (void)format;
  (void)function;
}
/* For the one message that carries a value besides the function name. */
static inline void tlx_sqa_trace_error_value(const char* format, const char* function,
                                             int32_t value) {
  (void)format;
  (void)function;
  (void)value;
}

/* True for a context that tlx_sqa_create_context filled and that was not
 * destroyed since. */
static inline int tlx_sqa_is_open(const tlx_sqa_context* ctx) {
  return ctx != NULL && ctx->path != NULL;
}

/* Writes the container's tag magic over the first bytes of the file. */
int32_t tlx_sqa_stamp_tag_id(tlx_sqa_context* ctx);

/* Modes 0, 1 and 2 stay; anything else becomes 0 (read only). */
int32_t tlx_sqa_conv_context_mode(int32_t mode);

/* Decodes 96 stored header bytes. Checks the magic and the declared size (6),
 * the version, the encryption id, the codec and the sampling rate (7). */
int32_t tlx_sqa_parse_codec_data_header(const uint8_t bytes[96],
                                        tlx_sqa_codec_data_header* header);
/* Decodes the codec number and its fields from header bytes 32-35. */
int32_t tlx_sqa_parse_codec_info(const uint8_t bytes[96], tlx_sqa_codec_data_header* header);
/* Encodes a record into 96 bytes; on failure the bytes are not to be written. */
int32_t tlx_sqa_write_codec_data_header(const tlx_sqa_codec_data_header* header,
                                        uint8_t bytes[96]);
/* Encodes the codec number and its fields into header bytes 32-35. */
int32_t tlx_sqa_set_codec_info(const tlx_sqa_codec_data_header* header, uint8_t bytes[96]);

/* Content access on ctx->fd, shaped like the engine's: negative on failure,
 * -1 at once when content_kind is not 0. */
int32_t tlx_sqa_open_content(tlx_sqa_context* ctx, int32_t mode, int* handle);
/* Grows the file with zero bytes up to an offset past its end (256 bytes per
 * write; -3 when a fill write fails); returns the position tlx_lseek gave,
 * or -1 without any fill when it failed. */
int32_t tlx_sqa_seek_content(tlx_sqa_context* ctx, int32_t offset, int32_t whence);
int32_t tlx_sqa_read_content(tlx_sqa_context* ctx, void* buffer, uint32_t count);
int32_t tlx_sqa_write_content(tlx_sqa_context* ctx, const void* buffer, uint32_t count);

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif /* TAGKIT_CONTAINER_SQA_INTERNAL_H_ */
