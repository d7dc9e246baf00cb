// The transaction's frame list, described entry by entry for the class
// layer's edits of individual frames.
#include "id3_edit_list.h"

#include "id3_internal.h"

namespace {

const uint8_t kStatusReadOnly23 = 0x20;
const uint8_t kStatusReadOnly24 = 0x10;

uint32_t EntryId(const tlx_id3_frame_entry* entry, int32_t version) {
  const uint8_t* h = entry->raw_header;
  return TLX_ID3_FRAME_ID(h[0], h[1], h[2], version == TLX_ID3_V22 ? 0 : h[3]);
}

// Only stored frames carry the flag: new frames are written with clear flags.
int32_t ReadOnly(const tlx_id3_frame_entry* entry, int32_t version) {
  if (entry->offset == 0 || entry->data != nullptr) return 0;
  switch (version) {
    case TLX_ID3_V23:
      return (entry->raw_header[8] & kStatusReadOnly23) ? 1 : 0;
    case TLX_ID3_V24:
      return (entry->raw_header[8] & kStatusReadOnly24) ? 1 : 0;
    default:
      return 0;
  }
}

}  // namespace

extern "C" {

int32_t tlx_id3_v2_edit_list_frames(tlx_id3_context* ctx, uint32_t id, tlx_id3_edit_frame* frames,
                                    uint32_t capacity, uint32_t* count) {
  static const char kName[] = "tlx_id3_v2_edit_list_frames";
  if (count == nullptr || (frames == nullptr && capacity != 0)) return TLX_ID3_E_PARAM;
  *count = 0;
  int32_t rc = tlx_id3_check_state(ctx, TLX_ID3_STATE_EDITING, kName);
  if (rc != TLX_ID3_OK) return rc;
  const int32_t version = ctx->work->version;
  uint32_t found = 0;
  for (tlx_list* node = tlx_list_first(ctx->work->frame_list); node != nullptr; node = node->next) {
    const tlx_id3_frame_entry* entry = static_cast<const tlx_id3_frame_entry*>(node->data);
    const uint32_t entry_id = EntryId(entry, version);
    if (id != 0 && entry_id != id) continue;
    if (found < capacity) {
      tlx_id3_edit_frame& out = frames[found];
      out.id = entry_id;
      out.stored_offset = entry->data != nullptr ? 0 : entry->offset;
      out.read_only = ReadOnly(entry, version);
      out.data = entry->data;
      out.size = entry->data != nullptr ? entry->data_size : 0;
    }
    ++found;
  }
  *count = found;
  return TLX_ID3_OK;
}

}  // extern "C"
