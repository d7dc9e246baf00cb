// Decoding and encoding of the 96-byte codec data header.
#include <gtest/gtest.h>

#include <vector>

#include "container_support.h"

namespace tagkit_test {
namespace {

using Record = tlx_sqa_codec_data_header;

// Bytes 32-35 and the four fields they decode to: codec 1 (rate, channels,
// frame size) or codec 0 (flag_a, flag_b, 44100, frame size). Writing the
// record gives the stored bytes back, carried blocks included.
TEST(SqaCodecHeader, FieldsDecodeAndEncodeBack) {
  const struct {
    std::uint8_t codec, b33, b34, b35;
    std::vector<std::uint32_t> fields;
  } rows[] = {
      {1, 0, 0x28, 0x5F, {44100, 2, 768, 0}},  {1, 0, 0x35, 0xFF, {44100, 5, 4096, 0}},
      {1, 0, 0x00, 0x00, {32000, 0, 8, 0}},    {1, 0, 0x5F, 0xFF, {48000, 7, 8192, 0}},
      {0, 0, 0x20, 0x60, {0, 0, 44100, 768}},  {0, 2, 0x22, 0x00, {1, 0, 44100, 4096}},
      {0, 1, 0x23, 0xFF, {0, 1, 44100, 8184}}, {0, 3, 0x20, 0x00, {1, 1, 44100, 0}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "codec " << int(row.codec) << " frame " << row.fields[2]);
    const Bytes stored = CodecHeader(row.codec, row.b33, row.b34, row.b35);
    Record record;
    ASSERT_EQ(0, tlx_sqa_parse_codec_data_header(stored.data(), &record));
    EXPECT_EQ(row.codec, record.codec);
    const std::uint32_t* fields = &record.info.codec1.sampling_rate;
    EXPECT_EQ(row.fields, std::vector<std::uint32_t>(fields, fields + 4));
    Bytes written(96, 0xEE);
    EXPECT_EQ(0, tlx_sqa_write_codec_data_header(&record, written.data()));
    EXPECT_EQ(stored, written);
  }
  // Tolerated bytes are read, but written canonically; encryption id 0 marks
  // old files, which are read but never written so.
  Bytes stored = CodecHeader(1, 0x7F);  // byte 33 is unused by codec 1
  stored[4] = 0x01;                     // a longer header: 0x0160 bytes
  stored[50] = 0x55;
  Record record;
  ASSERT_EQ(0, tlx_sqa_parse_codec_data_header(stored.data(), &record));
  Bytes written(96);
  EXPECT_EQ(0, tlx_sqa_write_codec_data_header(&record, written.data()));
  EXPECT_EQ(CodecHeader(), written);
  stored = CodecHeader();
  stored[7] = 0;
  ASSERT_EQ(0, tlx_sqa_parse_codec_data_header(stored.data(), &record));
  EXPECT_EQ(TLX_ID3_E_UNSUPPORTED, tlx_sqa_write_codec_data_header(&record, written.data()));
}

TEST(SqaCodecHeader, BadStoredHeadersAreRefused) {
  const struct {
    const char* name;
    void (*change)(Bytes&);
    int32_t code;
  } rows[] = {
      {"magic KQ8", [](Bytes& b) { b[2] = '8'; }, TLX_SQA_E_FORMAT},
      {"tag magic", [](Bytes& b) { b[0] = 'k'; }, TLX_SQA_E_FORMAT},
      {"size 95", [](Bytes& b) { b[5] = 95; }, TLX_SQA_E_FORMAT},
      {"version 2", [](Bytes& b) { b[3] = 2; }, TLX_ID3_E_UNSUPPORTED},
      {"encryption 2", [](Bytes& b) { b[7] = 2; }, TLX_ID3_E_UNSUPPORTED},
      {"encryption 256", [](Bytes& b) { b[6] = 1; }, TLX_ID3_E_UNSUPPORTED},
      {"codec 2", [](Bytes& b) { b[32] = 2; }, TLX_ID3_E_UNSUPPORTED},
      {"codec 1 rate index 3", [](Bytes& b) { b[34] = 0x60; }, TLX_ID3_E_UNSUPPORTED},
      {"codec 1 rate index 7", [](Bytes& b) { b[34] = 0xE0; }, TLX_ID3_E_UNSUPPORTED},
      {"codec 0 rate 000", [](Bytes& b) { b[32] = 0, b[34] = 0x00; }, TLX_ID3_E_UNSUPPORTED},
      {"codec 0 rate 010", [](Bytes& b) { b[32] = 0, b[34] = 0x40; }, TLX_ID3_E_UNSUPPORTED},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes stored = CodecHeader();
    row.change(stored);
    Record record;
    EXPECT_EQ(row.code, tlx_sqa_parse_codec_data_header(stored.data(), &record));
  }
}

// A value that the header's fields cannot hold is refused, never stored as
// another value.
TEST(SqaCodecHeader, RecordsThatCannotBeStoredAreRefused) {
  const struct {
    const char* name;
    void (*change)(Record&);
    int32_t code;
  } rows[] = {
      {"encryption 2", [](Record& r) { r.encryption_id = 2; }, TLX_ID3_E_UNSUPPORTED},
      {"codec 3", [](Record& r) { r.codec = 3; }, TLX_ID3_E_UNSUPPORTED},
      {"rate 22050", [](Record& r) { r.info.codec1.sampling_rate = 22050; }, TLX_ID3_E_UNSUPPORTED},
      {"channels 8", [](Record& r) { r.info.codec1.channel_config = 8; }, TLX_ID3_E_PARAM},
      {"frame 0", [](Record& r) { r.info.codec1.frame_size = 0; }, TLX_ID3_E_PARAM},
      {"frame 770", [](Record& r) { r.info.codec1.frame_size = 770; }, TLX_ID3_E_PARAM},
      {"frame 8200", [](Record& r) { r.info.codec1.frame_size = 8200; }, TLX_ID3_E_PARAM},
      {"codec 0 at 48000", [](Record& r) { r.codec = 0, r.info.codec0 = {0, 0, 48000, 768}; }, TLX_ID3_E_UNSUPPORTED},
      {"codec 0 frame 8192", [](Record& r) { r.codec = 0, r.info.codec0 = {0, 0, 44100, 8192}; }, TLX_ID3_E_PARAM},
      {"codec 0 flag 2", [](Record& r) { r.codec = 0, r.info.codec0 = {2, 0, 44100, 768}; }, TLX_ID3_E_PARAM},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Record record;
    ASSERT_EQ(0, tlx_sqa_parse_codec_data_header(CodecHeader().data(), &record));
    row.change(record);
    Bytes written(96);
    EXPECT_EQ(row.code, tlx_sqa_write_codec_data_header(&record, written.data()));
  }
}

}  // namespace
}  // namespace tagkit_test
