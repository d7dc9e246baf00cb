// Frame-list steps shared by the setters of dates, pictures, music
// identifiers and encapsulated objects.
#ifndef TAGKIT_TAGKIT_TAGKIT_FRAME_EDIT_H_
#define TAGKIT_TAGKIT_TAGKIT_FRAME_EDIT_H_

#include <cstdint>

#include "tagkit.h"
#include "tlx_id3.h"

namespace tagkit_frames {

// Largest payload a frame of the version can carry: ID3v2.2 sizes are 24
// bits, and a whole ID3v2.3 tag must fit its 28-bit sync-safe size.
inline std::uint32_t MaxPayload(std::int32_t version) {
  return version == 0 ? 0xFFFFFFu - 6u : 0x0FFFFFFFu - 10u;
}

// Adds one frame with flags all clear. at_head puts it before every other
// frame, so that it is the first of its identifier. E_INVALIDARG when the
// payload cannot fit in a frame, E_FAIL when the engine refuses it.
inline HRESULT AddFrame(tlx_id3_context* ctx, std::int32_t version, std::uint32_t frame_id,
                        const unsigned char* payload, std::int64_t size, bool at_head) {
  if (size < 0 || size > static_cast<std::int64_t>(MaxPayload(version))) return E_INVALIDARG;
  tlx_id3_v2_frame_header header = {};
  header.id = frame_id;
  header.size = static_cast<std::uint32_t>(size);
  // The engine copies the data; it refuses a null pointer even for size 0.
  static const unsigned char kEmpty = 0;
  const unsigned char* data = payload != nullptr ? payload : &kEmpty;
  int32_t rc = at_head ? tlx_id3_v2_add_frame_at_head(ctx, &header, data)
                       : tlx_id3_v2_add_frame(ctx, &header, data);
  return rc == TLX_ID3_OK ? S_OK : E_FAIL;
}

// Removes every frame of the identifier from the transaction's frame list,
// whatever added it. A read-only frame stays where it is. E_FAIL on any other
// engine failure.
inline HRESULT RemoveAllFrames(tlx_id3_context* ctx, std::uint32_t frame_id) {
  if (ctx == nullptr) return E_FAIL;
  std::uint32_t occurrence = 0;
  // Each pass removes a frame or steps past one; the list is finite.
  for (int passes = 0; passes < (1 << 24); ++passes) {
    int32_t rc = tlx_id3_v2_remove_frame(ctx, frame_id, occurrence);
    if (rc == TLX_ID3_OK) continue;
    if (rc == TLX_ID3_E_NOT_FOUND) return S_OK;
    if (rc == TLX_ID3_E_PARAM) {  // read only: skip it
      ++occurrence;
      continue;
    }
    return E_FAIL;
  }
  return E_FAIL;
}

// Number of frames with the identifier in the stored tag, or -1.
inline std::int64_t StoredFrameCount(tlx_id3_context* ctx, std::uint32_t frame_id) {
  std::uint32_t count = 0;
  if (tlx_id3_v2_get_frame_num(ctx, frame_id, &count) != TLX_ID3_OK) return -1;
  return count;
}

}  // namespace tagkit_frames

#endif  // TAGKIT_TAGKIT_TAGKIT_FRAME_EDIT_H_
