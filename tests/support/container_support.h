// Container files for tests: a tag with the "kq7" magic, the 96-byte codec
// data header and the audio after it; a fixture with one file and a context.
#ifndef TAGKIT_TESTS_SUPPORT_CONTAINER_SUPPORT_H_
#define TAGKIT_TESTS_SUPPORT_CONTAINER_SUPPORT_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "sqa_internal.h"
#include "test_support.h"
#include "tlx_system.h"

namespace tagkit_test {

// An ID3v2.3 tag with the container's magic; zero padding follows the frames.
inline Bytes Kq7Tag(const Bytes& frames, std::size_t padding = 0) {
  Bytes body = frames;
  body.resize(frames.size() + padding, 0);
  Bytes tag = Id3v2Tag(3, 0, body);
  std::memcpy(tag.data(), "kq7", 3);
  return tag;
}

// Version 1, size 96, encryption id 1, bytes 32-35 as given (by default codec
// 1, 44100 Hz, 2 channels, 768-byte frames). Bytes 8-31 and 88-95 carry
// recognisable patterns, 36-87 are zero.
inline Bytes CodecHeader(std::uint8_t codec = 1, std::uint8_t b33 = 0, std::uint8_t b34 = 0x28,
                         std::uint8_t b35 = 0x5F) {
  Bytes out = Concat({Text("KQ7"), {1, 0, 96, 0, 1}});
  for (int i = 8; i < 32; ++i) out.push_back(static_cast<std::uint8_t>(0x10 + i));
  out.insert(out.end(), {codec, b33, b34, b35});
  out.resize(88, 0);
  for (int i = 88; i < 96; ++i) out.push_back(static_cast<std::uint8_t>(0xA0 + i));
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

// song.sqa and its backup path in a fresh folder, and a context that is
// destroyed at the end when it is still open.
class SqaFileTest : public ::testing::Test {
 protected:
  SqaFileTest() { std::memset(&ctx_, 0, sizeof ctx_); }
  void TearDown() override {
#if defined(TLX_FAULT_INJECTION)
    tlx_fault_reset();
#endif
    if (ctx_.path != nullptr) {
      EXPECT_EQ(0, tlx_sqa_destroy_context(&ctx_));
    }
  }
  // Writes content to the file and creates ctx_ on it.
  int32_t Create(const Bytes& content, int32_t mode, const wchar_t* backup = nullptr) {
    WriteFile(file_, content);
    return tlx_sqa_create_context(wfile_.c_str(), mode, 0, backup, &ctx_);
  }
  std::string Title() {
    std::uint8_t buffer[64];
    std::uint32_t size = sizeof buffer;
    EXPECT_EQ(0, tlx_id3_v2_get_frame_data(&ctx_.id3, TLX_ID3_FRAME_ID('T', 'I', 'T', '2'), 0,
                                           &size, buffer));
    return std::string(buffer + 1, buffer + size);
  }

  TempDir dir_;
  const std::string file_ = dir_.File("song.sqa"), backup_ = dir_.File("song.bak");
  const std::wstring wfile_ = dir_.WFile("song.sqa"), wbackup_ = dir_.WFile("song.bak");
  tlx_sqa_context ctx_;
};

}  // namespace tagkit_test

#endif  // TAGKIT_TESTS_SUPPORT_CONTAINER_SUPPORT_H_
