// Decoding and encoding of the 96-byte codec data header.
#include <gtest/gtest.h>

#include <cstring>

#include "container_support.h"
#include "sqa_internal.h"

namespace tagkit_test {
namespace {

struct Codec1Row {
  std::uint32_t rate, channels, frame_size;
  std::uint8_t b34, b35;
};

const Codec1Row kCodec1[] = {
    {44100, 2, 768, 0x28, 0x5F},   // index 1, channels 2, v 95
    {44100, 5, 4096, 0x35, 0xFF},  // v 511: high bits 01
    {32000, 0, 8, 0x00, 0x00},     // smallest frame
    {48000, 7, 8192, 0x5F, 0xFF},  // largest frame, every bit set
    {48000, 1, 1024, 0x44, 0x7F},
};

struct Codec0Row {
  std::uint32_t flag_a, flag_b, frame_size;
  std::uint8_t b33, b34, b35;
};

const Codec0Row kCodec0[] = {
    {0, 0, 768, 0x00, 0x20, 0x60},
    {1, 0, 4096, 0x02, 0x22, 0x00},
    {0, 1, 8184, 0x01, 0x23, 0xFF},
    {1, 1, 0, 0x03, 0x20, 0x00},
};

Bytes Encode(const tlx_sqa_codec_data_header& record, int32_t* rc) {
  Bytes out(96, 0xEE);
  *rc = tlx_sqa_write_codec_data_header(&record, out.data());
  return out;
}

TEST(SqaCodecHeader, Codec1DecodesAndEncodesBack) {
  for (const Codec1Row& row : kCodec1) {
    SCOPED_TRACE(row.frame_size);
    CodecHeaderSpec spec;
    spec.codec = 1;
    spec.b34 = row.b34;
    spec.b35 = row.b35;
    Bytes stored = CodecHeader(spec);
    tlx_sqa_codec_data_header record;
    ASSERT_EQ(0, tlx_sqa_parse_codec_data_header(stored.data(), &record));
    EXPECT_EQ(1, record.version);
    EXPECT_EQ(1u, record.codec);
    EXPECT_EQ(1, record.encryption_id);
    EXPECT_EQ(row.rate, record.info.codec1.sampling_rate);
    EXPECT_EQ(row.channels, record.info.codec1.channel_config);
    EXPECT_EQ(row.frame_size, record.info.codec1.frame_size);
    EXPECT_EQ(0, std::memcmp(record.block_8, stored.data() + 8, 24));
    EXPECT_EQ(0, std::memcmp(record.block_88, stored.data() + 88, 8));
    int32_t rc;
    EXPECT_EQ(stored, Encode(record, &rc));
    EXPECT_EQ(0, rc);
  }
}

TEST(SqaCodecHeader, Codec0DecodesAndEncodesBack) {
  for (const Codec0Row& row : kCodec0) {
    SCOPED_TRACE(row.frame_size);
    CodecHeaderSpec spec;
    spec.codec = 0;
    spec.b33 = row.b33;
    spec.b34 = row.b34;
    spec.b35 = row.b35;
    Bytes stored = CodecHeader(spec);
    tlx_sqa_codec_data_header record;
    ASSERT_EQ(0, tlx_sqa_parse_codec_data_header(stored.data(), &record));
    EXPECT_EQ(0u, record.codec);
    EXPECT_EQ(row.flag_a, record.info.codec0.flag_a);
    EXPECT_EQ(row.flag_b, record.info.codec0.flag_b);
    EXPECT_EQ(44100u, record.info.codec0.sampling_rate);
    EXPECT_EQ(row.frame_size, record.info.codec0.frame_size);
    int32_t rc;
    EXPECT_EQ(stored, Encode(record, &rc));
    EXPECT_EQ(0, rc);
  }
}

TEST(SqaCodecHeader, TolerantFieldsAreReadButNotCarried) {
  // A larger declared size, a stray byte 33 for codec 1 and bytes in 36-87
  // are read; the written header is the canonical one.
  CodecHeaderSpec spec;
  spec.size = 0x0140;
  spec.b33 = 0x7F;
  Bytes stored = CodecHeader(spec);
  stored[50] = 0x55;
  tlx_sqa_codec_data_header record;
  ASSERT_EQ(0, tlx_sqa_parse_codec_data_header(stored.data(), &record));
  EXPECT_EQ(768u, record.info.codec1.frame_size);
  int32_t rc;
  EXPECT_EQ(CodecHeader(), Encode(record, &rc));
  EXPECT_EQ(0, rc);
}

TEST(SqaCodecHeader, BadStoredHeadersAreRefused) {
  struct Row {
    const char* name;
    CodecHeaderSpec spec;
    int32_t code;
  };
  auto with = [](auto change) {
    CodecHeaderSpec spec;
    change(spec);
    return spec;
  };
  const Row rows[] = {
      {"magic KQ8", with([](CodecHeaderSpec& s) { s.magic = "KQ8"; }), 6},
      {"tag magic", with([](CodecHeaderSpec& s) { s.magic = "kq7"; }), 6},
      {"version 2", with([](CodecHeaderSpec& s) { s.version = 2; }), 7},
      {"version 0", with([](CodecHeaderSpec& s) { s.version = 0; }), 7},
      {"size 95", with([](CodecHeaderSpec& s) { s.size = 95; }), 6},
      {"size 0", with([](CodecHeaderSpec& s) { s.size = 0; }), 6},
      {"encryption 2", with([](CodecHeaderSpec& s) { s.encryption_id = 2; }), 7},
      {"encryption 256", with([](CodecHeaderSpec& s) { s.encryption_id = 256; }), 7},
      {"codec 2", with([](CodecHeaderSpec& s) { s.codec = 2; }), 7},
      {"codec 1 rate index 3", with([](CodecHeaderSpec& s) { s.b34 = 0x60; }), 7},
      {"codec 1 rate index 7", with([](CodecHeaderSpec& s) { s.b34 = 0xE0; }), 7},
      {"codec 0 rate bits 000", with([](CodecHeaderSpec& s) { s.codec = 0; s.b34 = 0x00; }), 7},
      {"codec 0 rate bits 010", with([](CodecHeaderSpec& s) { s.codec = 0; s.b34 = 0x40; }), 7},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes stored = CodecHeader(row.spec);
    tlx_sqa_codec_data_header record;
    std::memset(&record, 0x5A, sizeof(record));
    EXPECT_EQ(row.code, tlx_sqa_parse_codec_data_header(stored.data(), &record));
  }
}

TEST(SqaCodecHeader, EncryptionIdZeroIsReadButNotWritten) {
  CodecHeaderSpec spec;
  spec.encryption_id = 0;
  Bytes stored = CodecHeader(spec);
  tlx_sqa_codec_data_header record;
  ASSERT_EQ(0, tlx_sqa_parse_codec_data_header(stored.data(), &record));
  EXPECT_EQ(0, record.encryption_id);
  int32_t rc;
  Encode(record, &rc);
  EXPECT_EQ(7, rc);
}

TEST(SqaCodecHeader, RecordsThatCannotBeStoredAreRefused) {
  struct Row {
    const char* name;
    void (*change)(tlx_sqa_codec_data_header&);
    int32_t code;
  };
  const Row rows[] = {
      {"version 2", [](tlx_sqa_codec_data_header& r) { r.version = 2; }, 7},
      {"encryption 2", [](tlx_sqa_codec_data_header& r) { r.encryption_id = 2; }, 7},
      {"codec 3", [](tlx_sqa_codec_data_header& r) { r.codec = 3; }, 7},
      {"rate 22050", [](tlx_sqa_codec_data_header& r) { r.info.codec1.sampling_rate = 22050; }, 7},
      {"channels 8", [](tlx_sqa_codec_data_header& r) { r.info.codec1.channel_config = 8; }, 10},
      {"frame 0", [](tlx_sqa_codec_data_header& r) { r.info.codec1.frame_size = 0; }, 10},
      {"frame 770", [](tlx_sqa_codec_data_header& r) { r.info.codec1.frame_size = 770; }, 10},
      {"frame 8200", [](tlx_sqa_codec_data_header& r) { r.info.codec1.frame_size = 8200; }, 10},
      {"codec 0 at 48000",
       [](tlx_sqa_codec_data_header& r) {
         r.codec = 0;
         r.info.codec0 = {0, 0, 48000, 768};
       },
       7},
      {"codec 0 frame 8192",
       [](tlx_sqa_codec_data_header& r) {
         r.codec = 0;
         r.info.codec0 = {0, 0, 44100, 8192};
       },
       10},
      {"codec 0 flag 2",
       [](tlx_sqa_codec_data_header& r) {
         r.codec = 0;
         r.info.codec0 = {2, 0, 44100, 768};
       },
       10},
  };
  Bytes stored = CodecHeader();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    tlx_sqa_codec_data_header record;
    ASSERT_EQ(0, tlx_sqa_parse_codec_data_header(stored.data(), &record));
    row.change(record);
    int32_t rc;
    Encode(record, &rc);
    EXPECT_EQ(row.code, rc);
  }
}

}  // namespace
}  // namespace tagkit_test
