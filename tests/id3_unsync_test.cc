// Reading and positioning in content bytes of unsynchronised data, checked
// against a direct removal of the stuffing.
#include <gtest/gtest.h>

#include <random>

#include "engine_file.h"

namespace tagkit_test {
namespace {

// Random bytes rich in FF, 00 and FF 00 pairs, with a pair across the
// 4096-byte chunk border of the reader.
Bytes StuffedBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = rng() % 4 == 0 ? 0xFF : rng() % 3 == 0 ? 0x00 : static_cast<uint8_t>(rng());
  if (n > 4096) out[4095] = 0xFF, out[4096] = 0x00;
  return out;
}

TEST(Id3Unsync, ReadAndSeekMatchDirectRemoval) {
  for (unsigned seed = 1; seed <= 3; ++seed) {
    const Bytes file = StuffedBytes(9000, seed);
    Bytes content;
    std::vector<size_t> ends;  // per content byte: the file offset past it and its stuffing
    for (size_t i = 0; i < file.size(); ++i) {
      if (i > 0 && file[i] == 0x00 && file[i - 1] == 0xFF) {
        ends.back() = i + 1;
      } else {
        content.push_back(file[i]);
        ends.push_back(i + 1);
      }
    }
    for (uint32_t count : {1u, 4096u, 5000u, static_cast<uint32_t>(content.size())}) {
      SCOPED_TRACE(testing::Message() << "seed " << seed << " count " << count);
      EngineFile f(file);
      Bytes out(count);
      EXPECT_EQ(static_cast<int32_t>(ends[count - 1]),
                tlx_id3_read_content_unsync(f.ctx(), out.data(), count, 1));
      EXPECT_EQ(Bytes(content.begin(), content.begin() + count), out);
      EXPECT_EQ(static_cast<int32_t>(ends[count - 1]), tlx_id3_seek_content(f.ctx(), 0, 1));
      EXPECT_EQ(static_cast<int32_t>(ends[count - 1]),
                tlx_id3_seek_content_unsync(f.ctx(), count, 0, 1));
    }
  }
}

TEST(Id3Unsync, ByteAfterATrailingFF) {
  const struct {
    Bytes file;
    uint32_t count;
    Bytes content;
    int32_t consumed;
  } cases[] = {
      {{0x41, 0xFF, 0x00, 0x42}, 2, {0x41, 0xFF}, 3},  // its stuffing is consumed
      {{0x41, 0xFF, 0x42}, 2, {0x41, 0xFF}, 2},        // any other byte is given back
      {{0x41, 0xFF}, 2, {0x41, 0xFF}, 2},              // the end of the file
      {{0x00, 0x41}, 2, {0x00, 0x41}, 2},              // a leading 00 is content
  };
  for (const auto& c : cases) {
    EngineFile f(c.file);
    Bytes out(c.count);
    EXPECT_EQ(c.consumed, tlx_id3_read_content_unsync(f.ctx(), out.data(), c.count, 1));
    EXPECT_EQ(c.content, out);
    EXPECT_EQ(c.consumed, tlx_id3_seek_content(f.ctx(), 0, 1));
    EXPECT_EQ(c.consumed, tlx_id3_seek_content_unsync(f.ctx(), c.count, 0, 1));
  }
}

TEST(Id3Unsync, EndOfFileNeverGrowsTheFile) {
  const Bytes file = {0x01, 0xFF, 0x00, 0x02};
  EngineFile f(file, TLX_ID3_MODE_WRITE);
  uint8_t out[8];
  EXPECT_EQ(-1, tlx_id3_read_content_unsync(f.ctx(), out, 4, 1));  // 3 content bytes
  EXPECT_EQ(-1, tlx_id3_seek_content_unsync(f.ctx(), 4, 0, 1));
  // From position 1, two content bytes are FF (with its stuffing) and 02.
  tlx_id3_seek_content(f.ctx(), 1, 0);
  EXPECT_EQ(4, tlx_id3_seek_content_unsync(f.ctx(), 2, 1, 1));
  // Positioning past the end stops there, and a declared 256 MB fails
  // without a block of that size.
  EXPECT_EQ(4, tlx_id3_seek_content_unsync(f.ctx(), 100, 0, 0));
  EXPECT_EQ(-1, tlx_id3_read_content_unsync(f.ctx(), out, 0x0FFFFFFF, 1));
  EXPECT_EQ(-1, tlx_id3_seek_content_unsync(f.ctx(), 0xFFFFFFFF, 0, 1));
  EXPECT_EQ(file, f.Contents());
}

}  // namespace
}  // namespace tagkit_test
