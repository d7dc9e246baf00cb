// Builders for container files: a tag with the "kq7" magic, the 96-byte codec
// data header, and the audio after it.
#ifndef TAGKIT_TESTS_SUPPORT_CONTAINER_SUPPORT_H_
#define TAGKIT_TESTS_SUPPORT_CONTAINER_SUPPORT_H_

#include <cstdint>
#include <string>

#include "test_support.h"
#include "tlx_id3.h"

namespace tagkit_test {

// An ID3v2.3-style tag with the container's magic; padding zero bytes follow
// the frames.
inline Bytes Kq7Tag(const Bytes& frames, std::size_t padding = 0) {
  Bytes body = frames;
  body.resize(frames.size() + padding, 0);
  Bytes tag = Id3v2Tag(3, 0, body);
  tag[0] = 'k';
  tag[1] = 'q';
  tag[2] = '7';
  return tag;
}

struct CodecHeaderFields {
  std::uint8_t codec = 1;
  std::uint8_t b33 = 0;
  std::uint8_t b34 = 0x28;  // 44100 Hz, channel configuration 2
  std::uint8_t b35 = 0x5F;  // 768-byte frames
  std::uint16_t encryption_id = 1;
  std::uint16_t size = 96;
  std::uint8_t version = 1;
  const char* magic = "KQ7";
};

// Bytes 8-31 and 88-95 carry recognisable patterns, 36-87 are zero.
inline Bytes CodecHeader(const CodecHeaderFields& fields = CodecHeaderFields()) {
  Bytes out(96, 0);
  for (int i = 0; i < 3; ++i) out[i] = static_cast<std::uint8_t>(fields.magic[i]);
  out[3] = fields.version;
  out[4] = static_cast<std::uint8_t>(fields.size >> 8);
  out[5] = static_cast<std::uint8_t>(fields.size);
  out[6] = static_cast<std::uint8_t>(fields.encryption_id >> 8);
  out[7] = static_cast<std::uint8_t>(fields.encryption_id);
  for (int i = 8; i < 32; ++i) out[i] = static_cast<std::uint8_t>(0x10 + i);
  out[32] = fields.codec;
  out[33] = fields.b33;
  out[34] = fields.b34;
  out[35] = fields.b35;
  for (int i = 88; i < 96; ++i) out[i] = static_cast<std::uint8_t>(0xA0 + i);
  return out;
}

// Text frame data: encoding byte 0, then the text.
inline Bytes TextData(const std::string& text) { return Concat({{0}, Text(text)}); }

// Adds (occurrence < 0) or replaces a frame in an engine transaction.
inline int32_t PutFrame(tlx_id3_context* id3, const char* id, const Bytes& data,
                        int occurrence = -1) {
  tlx_id3_v2_frame_header frame = {};
  frame.id = TLX_ID3_FRAME_ID(id[0], id[1], id[2], id[3]);
  frame.size = static_cast<std::uint32_t>(data.size());
  return occurrence < 0 ? tlx_id3_v2_add_frame(id3, &frame, data.data())
                        : tlx_id3_v2_update_frame(id3, &frame, data.data(),
                                                  static_cast<std::uint32_t>(occurrence));
}

}  // namespace tagkit_test

#endif  // TAGKIT_TESTS_SUPPORT_CONTAINER_SUPPORT_H_
