// ID3v2 integer layouts and the header flags byte.
#include <gtest/gtest.h>

#include "id3_internal.h"

namespace {

TEST(Id3CodecTest, IntegerLayouts) {
  struct Case {
    uint32_t value;
    uint8_t bytes[4];
  };
  const Case cases[] = {
      {0, {0, 0, 0, 0}},          {127, {0, 0, 0, 0x7F}},        {128, {0, 0, 1, 0}},
      {5000, {0, 0, 0x27, 0x08}}, {0x0FFFFFFF, {0x7F, 0x7F, 0x7F, 0x7F}},
  };
  for (const Case& c : cases) {
    uint8_t out[4];
    tlx_id3_syncsafe_encode(c.value, out);
    EXPECT_EQ(0, memcmp(c.bytes, out, 4)) << c.value;
    EXPECT_EQ(c.value, tlx_id3_syncsafe_decode(c.bytes));
  }
  // Bits above 28 are dropped; stray high bits in the bytes are ignored.
  uint8_t out[4];
  tlx_id3_syncsafe_encode(0x10000001, out);
  EXPECT_EQ(1u, tlx_id3_syncsafe_decode(out));
  const uint8_t dirty[4] = {0x80, 0x80, 0x80, 0x81};
  EXPECT_EQ(1u, tlx_id3_syncsafe_decode(dirty));
  uint8_t three[3];
  tlx_id3_be24_encode(0xFF123456, three);  // only 24 bits fit
  EXPECT_EQ(0x123456u, tlx_id3_be24_decode(three));
  tlx_id3_be32_encode(0xDEADBEEF, out);
  EXPECT_EQ(0xDE, out[0]);
  EXPECT_EQ(0xDEADBEEFu, tlx_id3_be32_decode(out));
}

TEST(Id3CodecTest, HeaderFlagsDependOnTheVersion) {
  tlx_id3_v2_header all = {};
  all.unsync = all.compression = all.has_ext_header = all.experimental = 1;
  EXPECT_EQ(0xC0, tlx_id3_v2_encode_header_flags(&all, TLX_ID3_V22));
  EXPECT_EQ(0xE0, tlx_id3_v2_encode_header_flags(&all, TLX_ID3_V23));
  EXPECT_EQ(0x80, tlx_id3_v2_encode_header_flags(&all, TLX_ID3_V24));
  EXPECT_EQ(0x80, tlx_id3_v2_encode_header_flags(&all, TLX_ID3_VERSION_OTHER));
  tlx_id3_v2_header ext_only = {};
  ext_only.has_ext_header = 1;
  EXPECT_EQ(0x00, tlx_id3_v2_encode_header_flags(&ext_only, TLX_ID3_V22));
  EXPECT_EQ(0x40, tlx_id3_v2_encode_header_flags(&ext_only, TLX_ID3_V23));
}

}  // namespace
