// Decoding and encoding of the 96-byte codec data header.
#include <gtest/gtest.h>

#include <cstring>

#include "container_support.h"
#include "sqa_internal.h"

namespace tagkit_test {
namespace {

using Record = tlx_sqa_codec_data_header;

// Bytes 33-35 and the fields they hold: codec 1 (rate, channels, frame size)
// or codec 0 (flag_a, flag_b, 44100, frame size).
struct Row {
  std::uint8_t codec, b33, b34, b35;
  std::uint32_t f1, f2, f3, f4;
};

const Row kRows[] = {
    {1, 0, 0x28, 0x5F, 44100, 2, 768, 0},   // index 1, channels 2, v 95
    {1, 0, 0x35, 0xFF, 44100, 5, 4096, 0},  // v 511: high bits 01
    {1, 0, 0x00, 0x00, 32000, 0, 8, 0},     // smallest frame
    {1, 0, 0x5F, 0xFF, 48000, 7, 8192, 0},  // every bit set
    {0, 0x00, 0x20, 0x60, 0, 0, 44100, 768},
    {0, 0x02, 0x22, 0x00, 1, 0, 44100, 4096},
    {0, 0x01, 0x23, 0xFF, 0, 1, 44100, 8184},
    {0, 0x03, 0x20, 0x00, 1, 1, 44100, 0},
};

Bytes Stored(const Row& row) {
  CodecHeaderFields fields;
  fields.codec = row.codec;
  fields.b33 = row.b33;
  fields.b34 = row.b34;
  fields.b35 = row.b35;
  return CodecHeader(fields);
}

Record Parsed(const Bytes& stored) {
  Record record;
  EXPECT_EQ(0, tlx_sqa_parse_codec_data_header(stored.data(), &record));
  return record;
}

TEST(SqaCodecHeader, FieldsDecodeAndEncodeBack) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(testing::Message() << "codec " << int(row.codec) << " frame " << row.f3 + row.f4);
    Bytes stored = Stored(row);
    Record record = Parsed(stored);
    EXPECT_EQ(1, record.version);
    EXPECT_EQ(1, record.encryption_id);
    EXPECT_EQ(row.codec, record.codec);
    const std::uint32_t* fields = &record.info.codec1.sampling_rate;
    EXPECT_EQ((std::vector<std::uint32_t>{row.f1, row.f2, row.f3, row.f4}),
              std::vector<std::uint32_t>(fields, fields + 4));
    EXPECT_EQ(0, std::memcmp(record.block_8, stored.data() + 8, 24));
    EXPECT_EQ(0, std::memcmp(record.block_88, stored.data() + 88, 8));
    Bytes written(96, 0xEE);
    EXPECT_EQ(0, tlx_sqa_write_codec_data_header(&record, written.data()));
    EXPECT_EQ(stored, written);
  }
}

TEST(SqaCodecHeader, ToleratedBytesAreReadButWrittenCanonically) {
  CodecHeaderFields fields;
  fields.size = 0x0140;  // a longer header
  fields.b33 = 0x7F;     // unused by codec 1
  Bytes stored = CodecHeader(fields);
  stored[50] = 0x55;
  Record record = Parsed(stored);
  Bytes written(96);
  EXPECT_EQ(0, tlx_sqa_write_codec_data_header(&record, written.data()));
  EXPECT_EQ(CodecHeader(), written);

  // Encryption id 0 marks old files: they are read, but never written so.
  fields = CodecHeaderFields();
  fields.encryption_id = 0;
  record = Parsed(CodecHeader(fields));
  EXPECT_EQ(0, record.encryption_id);
  EXPECT_EQ(7, tlx_sqa_write_codec_data_header(&record, written.data()));
}

TEST(SqaCodecHeader, BadStoredHeadersAreRefused) {
  struct Bad {
    const char* name;
    void (*change)(CodecHeaderFields&);
    int32_t code;
  };
  const Bad rows[] = {
      {"magic KQ8", [](CodecHeaderFields& s) { s.magic = "KQ8"; }, 6},
      {"tag magic", [](CodecHeaderFields& s) { s.magic = "kq7"; }, 6},
      {"version 2", [](CodecHeaderFields& s) { s.version = 2; }, 7},
      {"size 95", [](CodecHeaderFields& s) { s.size = 95; }, 6},
      {"encryption 2", [](CodecHeaderFields& s) { s.encryption_id = 2; }, 7},
      {"encryption 256", [](CodecHeaderFields& s) { s.encryption_id = 256; }, 7},
      {"codec 2", [](CodecHeaderFields& s) { s.codec = 2; }, 7},
      {"codec 1 rate index 3", [](CodecHeaderFields& s) { s.b34 = 0x60; }, 7},
      {"codec 1 rate index 7", [](CodecHeaderFields& s) { s.b34 = 0xE0; }, 7},
      {"codec 0 rate 000", [](CodecHeaderFields& s) { s.codec = 0, s.b34 = 0x00; }, 7},
      {"codec 0 rate 010", [](CodecHeaderFields& s) { s.codec = 0, s.b34 = 0x40; }, 7},
  };
  for (const Bad& row : rows) {
    SCOPED_TRACE(row.name);
    CodecHeaderFields fields;
    row.change(fields);
    Bytes stored = CodecHeader(fields);
    Record record;
    EXPECT_EQ(row.code, tlx_sqa_parse_codec_data_header(stored.data(), &record));
  }
}

TEST(SqaCodecHeader, RecordsThatCannotBeStoredWriteNothing) {
  struct Bad {
    const char* name;
    void (*change)(Record&);
    int32_t code;
  };
  const Bad rows[] = {
      {"encryption 2", [](Record& r) { r.encryption_id = 2; }, 7},
      {"version 2", [](Record& r) { r.version = 2; }, 7},
      {"codec 3", [](Record& r) { r.codec = 3; }, 7},
      {"rate 22050", [](Record& r) { r.info.codec1.sampling_rate = 22050; }, 7},
      {"channels 8", [](Record& r) { r.info.codec1.channel_config = 8; }, 10},
      {"frame 0", [](Record& r) { r.info.codec1.frame_size = 0; }, 10},
      {"frame 770", [](Record& r) { r.info.codec1.frame_size = 770; }, 10},
      {"frame 8200", [](Record& r) { r.info.codec1.frame_size = 8200; }, 10},
      {"codec 0 at 48000", [](Record& r) { r.codec = 0, r.info.codec0 = {0, 0, 48000, 768}; }, 7},
      {"codec 0 frame 8192", [](Record& r) { r.codec = 0, r.info.codec0 = {0, 0, 44100, 8192}; }, 10},
      {"codec 0 flag 2", [](Record& r) { r.codec = 0, r.info.codec0 = {2, 0, 44100, 768}; }, 10},
  };
  for (const Bad& row : rows) {
    SCOPED_TRACE(row.name);
    Record record = Parsed(CodecHeader());
    row.change(record);
    Bytes written(96);
    EXPECT_EQ(row.code, tlx_sqa_write_codec_data_header(&record, written.data()));
  }
}

}  // namespace
}  // namespace tagkit_test
