// ID3v2 integer layouts and the header flags byte. The tag tests pin these
// through whole files; here only the edges of each layout.
#include <gtest/gtest.h>

#include "id3_internal.h"

TEST(Id3Codec, IntegerLayoutsKeepOnlyTheirBits) {
  uint8_t out[4];
  tlx_id3_syncsafe_encode(0x1FFFFFFF, out);  // bits above 28 are dropped
  EXPECT_EQ(0x0FFFFFFFu, tlx_id3_syncsafe_decode(out));
  EXPECT_EQ(0x7F, out[0]);
  const uint8_t dirty[4] = {0x80, 0x80, 0xA7, 0x88};  // stray high bits are ignored
  EXPECT_EQ(5000u, tlx_id3_syncsafe_decode(dirty));
  tlx_id3_be24_encode(0xFF123456, out);
  EXPECT_EQ(0x123456u, tlx_id3_be24_decode(out));
  tlx_id3_be32_encode(0xDEADBEEF, out);
  EXPECT_EQ(0xDE, out[0]);
  EXPECT_EQ(0xDEADBEEFu, tlx_id3_be32_decode(out));
}

// 0x40 is compression in ID3v2.2 but the extended header in ID3v2.3.
TEST(Id3Codec, HeaderFlagsDependOnTheVersion) {
  tlx_id3_v2_header all = {};
  all.unsync = all.compression = all.has_ext_header = all.experimental = 1;
  EXPECT_EQ(0xC0, tlx_id3_v2_encode_header_flags(&all, TLX_ID3_V22));
  EXPECT_EQ(0xE0, tlx_id3_v2_encode_header_flags(&all, TLX_ID3_V23));
  EXPECT_EQ(0x80, tlx_id3_v2_encode_header_flags(&all, TLX_ID3_V24));
  all.compression = 0;
  EXPECT_EQ(0x80, tlx_id3_v2_encode_header_flags(&all, TLX_ID3_V22));
}
