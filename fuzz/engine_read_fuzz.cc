// The engine's read path: header queries, the frame walk, frame data read
// whole and streamed, and the ID3v1 getters; once more with ID3v2.4 and
// decoding on, inside a read session for inputs of odd length.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "id3_internal.h"
#include "tlx_id3.h"

namespace {

using tagkit_fuzz::Fail;

const char kTarget[] = "engine_read";
// More frames than any seed has; the walk is cut there to keep runs short.
const std::uint32_t kMaxFrames = 64;
const std::uint32_t kStreamPiece = 61;

// Buffers are exactly as large as the size passed, so that the sanitizer
// sees any write past it. frame_size 0 means unknown.
void ReadWhole(tlx_id3_context* ctx, std::uint32_t id, std::uint32_t occurrence,
               std::uint32_t frame_size, std::uint32_t want) {
  std::vector<std::uint8_t> buffer(want > 0 ? want : 1);
  std::uint32_t got = want;
  if (tlx_id3_v2_get_frame_data(ctx, id, occurrence, &got, buffer.data()) != TLX_ID3_OK) return;
  const std::uint32_t expected = want < frame_size || frame_size == 0 ? want : frame_size;
  if (frame_size == 0 ? got > want : got != expected) {
    Fail(kTarget, "frame data read " + std::to_string(got) + " bytes, expected " +
                      std::to_string(expected));
  }
}

void Stream(tlx_id3_context* ctx, std::size_t file_size) {
  std::uint8_t piece[kStreamPiece];
  std::size_t total = 0;
  for (;;) {
    std::uint32_t got = sizeof piece;
    if (tlx_id3_v2_get_frame_data_progress(ctx, &got, piece) != TLX_ID3_OK || got == 0) break;
    if (got > sizeof piece) Fail(kTarget, "progress handed out more than asked");
    total += got;
    if (total > file_size) Fail(kTarget, "streamed more bytes than the file holds");
  }
  if (tlx_id3_v2_get_frame_data_fin(ctx) != TLX_ID3_OK || ctx->state != TLX_ID3_STATE_IDLE) {
    Fail(kTarget, "fin did not end the stream");
  }
}

void WalkFrames(tlx_id3_context* ctx, std::size_t file_size) {
  tlx_id3_v2_header header;
  tlx_id3_v2_get_header(ctx, &header);
  tlx_id3_v2_get_header2(ctx, &header);
  tlx_id3_v2_extended_header ext;
  tlx_id3_v2_get_extended_header(ctx, &ext);
  std::uint32_t padding = 0;
  tlx_id3_v2_get_padding_size(ctx, &padding);
  std::uint32_t total = 0;
  if (tlx_id3_v2_get_frame_total_num(ctx, &total) != TLX_ID3_OK) total = 0;
  std::map<std::uint32_t, std::uint32_t> seen;
  const std::uint32_t limit = total < kMaxFrames ? total : kMaxFrames;
  for (std::uint32_t index = 0; index < limit; ++index) {
    tlx_id3_v2_frame_header frame;
    if (tlx_id3_v2_get_frame_header_by_index(ctx, index, &frame) != TLX_ID3_OK) break;
    if (frame.id == 0) break;
    const std::uint32_t occurrence = seen[frame.id]++;
    std::uint32_t count = 0;
    tlx_id3_v2_get_frame_num(ctx, frame.id, &count);
    tlx_id3_v2_frame_header by_id;
    if (tlx_id3_v2_get_frame_header(ctx, frame.id, occurrence, &by_id) != TLX_ID3_OK) continue;
    // Data can be no longer than the file: a larger buffer would only
    // measure the allocator.
    const std::uint32_t cap =
        by_id.size < file_size ? by_id.size : static_cast<std::uint32_t>(file_size);
    ReadWhole(ctx, frame.id, occurrence, by_id.size, cap);
    ReadWhole(ctx, frame.id, occurrence, by_id.size, 3);
    std::uint32_t offset = 0;
    tlx_id3_v2_get_frame_data_offset(ctx, frame.id, occurrence, &offset);
    if (tlx_id3_v2_get_frame_data_init(ctx, frame.id, occurrence) == TLX_ID3_OK) {
      Stream(ctx, file_size);
    }
    if (tlx_id3_v2_get_frame_data_init_by_index(ctx, index) == TLX_ID3_OK) {
      Stream(ctx, file_size);
    }
  }
  // Frames that may be absent, and an occurrence past the last one.
  const std::uint32_t probes[] = {TLX_ID3_FRAME_ID('T', 'I', 'T', '2'),
                                  TLX_ID3_FRAME_ID('T', 'T', '2', 0),
                                  TLX_ID3_FRAME_ID('A', 'P', 'I', 'C')};
  for (std::uint32_t id : probes) {
    ReadWhole(ctx, id, 0, 0, 16);
    ReadWhole(ctx, id, 7, 0, 16);
  }
}

void ReadTrailer(tlx_id3_context* ctx) {
  typedef int32_t (*TextGetter)(tlx_id3_context*, uint32_t*, char*);
  const TextGetter getters[] = {tlx_id3_v1_get_title, tlx_id3_v1_get_artist,
                                tlx_id3_v1_get_album, tlx_id3_v1_get_comment};
  for (TextGetter get : getters) {
    for (std::uint32_t want : {30u, 64u, 5u, 0u}) {
      // The getters write want + 1 bytes at most, and never more than 31.
      std::vector<char> buffer((want < 30 ? want : 30) + 1);
      std::uint32_t size = want;
      if (get(ctx, &size, buffer.data()) == TLX_ID3_OK &&
          (size > want || size > 30 || std::strlen(buffer.data()) != size)) {
        Fail(kTarget, "ID3v1 text size is wrong");
      }
    }
  }
  int32_t year = 0;
  tlx_id3_v1_get_year(ctx, &year);
  uint32_t genre = 0;
  if (tlx_id3_v1_get_genre(ctx, &genre) == TLX_ID3_OK && genre > 255) {
    Fail(kTarget, "genre is more than a byte");
  }
  uint8_t track = 0;
  tlx_id3_v1_get_tracknumebr(ctx, &track);
}

}  // namespace

extern "C" int TagkitFuzzEngineRead(const std::uint8_t* data, std::size_t size) {
  const std::string path = tagkit_fuzz::WriteInput(data, size);
  const std::wstring wide = tagkit_fuzz::Wide(path);
  tlx_id3_context ctx;
  std::memset(&ctx, 0, sizeof ctx);
  if (tlx_id3_create_context(wide.c_str(), TLX_ID3_MODE_READ, nullptr, &ctx) != TLX_ID3_OK) {
    return 0;
  }
  WalkFrames(&ctx, size);
  ReadTrailer(&ctx);
  if (tlx_id3_set_options(&ctx, TLX_ID3_OPTION_V24) != TLX_ID3_OK) Fail(kTarget, "options refused");
  if (size % 2 == 1) tlx_id3_read_session_begin(&ctx);
  WalkFrames(&ctx, size);
  tlx_id3_read_session_end(&ctx);
  // The container's magic is accepted too once it is allowed.
  if (size >= 3 && std::memcmp(data, "kq7", 3) == 0 &&
      tlx_id3_v2_set_allow_tag_id(&ctx, "kq7") == TLX_ID3_OK) {
    WalkFrames(&ctx, size);
  }
  if (tlx_id3_destroy_context(&ctx) != TLX_ID3_OK) Fail(kTarget, "destroy failed");
  return 0;
}

#ifndef TAGKIT_FUZZ_NO_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return TagkitFuzzEngineRead(data, size);
}
#endif
