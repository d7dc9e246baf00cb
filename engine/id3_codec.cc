// Integer layouts of ID3v2: sync-safe sizes (7 bits per byte), plain
// big-endian 24- and 32-bit fields, and the tag header's flags byte.
#include "id3_internal.h"

extern "C" {

uint32_t tlx_id3_syncsafe_decode(const uint8_t bytes[4]) {
  return (static_cast<uint32_t>(bytes[0] & 0x7F) << 21) |
         (static_cast<uint32_t>(bytes[1] & 0x7F) << 14) |
         (static_cast<uint32_t>(bytes[2] & 0x7F) << 7) | (bytes[3] & 0x7F);
}

// Keeps the low 28 bits: a tag can be no larger.
void tlx_id3_syncsafe_encode(uint32_t value, uint8_t bytes[4]) {
  bytes[0] = static_cast<uint8_t>((value >> 21) & 0x7F);
  bytes[1] = static_cast<uint8_t>((value >> 14) & 0x7F);
  bytes[2] = static_cast<uint8_t>((value >> 7) & 0x7F);
  bytes[3] = static_cast<uint8_t>(value & 0x7F);
}

uint32_t tlx_id3_be24_decode(const uint8_t bytes[3]) {
  return (static_cast<uint32_t>(bytes[0]) << 16) | (static_cast<uint32_t>(bytes[1]) << 8) |
         bytes[2];
}

void tlx_id3_be24_encode(uint32_t value, uint8_t bytes[3]) {
  bytes[0] = static_cast<uint8_t>(value >> 16);
  bytes[1] = static_cast<uint8_t>(value >> 8);
  bytes[2] = static_cast<uint8_t>(value);
}

uint32_t tlx_id3_be32_decode(const uint8_t bytes[4]) {
  return (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
         (static_cast<uint32_t>(bytes[2]) << 8) | bytes[3];
}

void tlx_id3_be32_encode(uint32_t value, uint8_t bytes[4]) {
  bytes[0] = static_cast<uint8_t>(value >> 24);
  bytes[1] = static_cast<uint8_t>(value >> 16);
  bytes[2] = static_cast<uint8_t>(value >> 8);
  bytes[3] = static_cast<uint8_t>(value);
}

// 0x40 means compression in ID3v2.2 but an extended header in ID3v2.3;
// other versions keep only the unsynchronisation bit.
uint8_t tlx_id3_v2_encode_header_flags(const tlx_id3_v2_header* header, int32_t version) {
  if (header == nullptr) return 0;
  uint8_t flags = header->unsync ? 0x80 : 0;
  if (version == TLX_ID3_V22) {
    if (header->compression) flags |= 0x40;
  } else if (version == TLX_ID3_V23) {
    if (header->has_ext_header) flags |= 0x40;
    if (header->experimental) flags |= 0x20;
  }
  return flags;
}

}  // extern "C"
