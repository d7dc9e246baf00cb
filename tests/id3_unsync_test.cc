// Reading and positioning in content bytes of unsynchronised data, checked
// against a direct byte-by-byte removal of the stuffing.
#include <gtest/gtest.h>

#include <random>

#include "engine_file.h"

namespace tagkit_test {
namespace {

// Content of `file` from `start`: every 00 that follows FF dropped. Also
// gives, for each content byte, the file offset just past it.
Bytes Deunsync(const Bytes& file, size_t start, std::vector<size_t>* ends) {
  Bytes out;
  for (size_t i = start; i < file.size(); ++i) {
    if (file[i] == 0x00 && i > start && file[i - 1] == 0xFF) {
      if (!ends->empty()) ends->back() = i + 1;  // stuffing belongs to the byte before
      continue;
    }
    out.push_back(file[i]);
    ends->push_back(i + 1);
  }
  return out;
}

// Bytes rich in FF, 00 and FF 00 pairs, crossing 4096-byte chunk borders.
Bytes StuffedBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) {
    unsigned r = rng() % 4;
    b = r == 0 ? 0xFF : r == 1 ? 0x00 : static_cast<uint8_t>(rng());
  }
  return out;
}

TEST(Id3Unsync, ReadMatchesDirectRemoval) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    Bytes file = StuffedBytes(9000, seed);
    file[4095] = 0xFF;  // stuffing exactly at a chunk border
    file[4096] = 0x00;
    std::vector<size_t> ends;
    Bytes content = Deunsync(file, 0, &ends);
    for (uint32_t count : {1u, 3u, 4096u, 5000u, static_cast<uint32_t>(content.size())}) {
      SCOPED_TRACE(testing::Message() << "seed " << seed << " count " << count);
      EngineFile f(file);
      Bytes out(count);
      int32_t consumed = tlx_id3_read_content_unsync(f.ctx(), out.data(), count, 1);
      ASSERT_GE(consumed, static_cast<int32_t>(count));
      EXPECT_EQ(out, Bytes(content.begin(), content.begin() + count));
      EXPECT_EQ(static_cast<size_t>(consumed), ends[count - 1]);
      EXPECT_EQ(static_cast<size_t>(tlx_id3_seek_content(f.ctx(), 0, 1)), ends[count - 1]);
      // Positioning by the same content offset lands at the same place.
      EXPECT_EQ(static_cast<size_t>(tlx_id3_seek_content_unsync(f.ctx(), count, 0, 1)),
                ends[count - 1]);
    }
  }
}

TEST(Id3Unsync, TrailingByteAfterFF) {
  struct Case {
    Bytes file;
    uint32_t count;
    Bytes content;
    int32_t consumed;
  } cases[] = {
      {{0xFF, 0x00, 0xE0, 0x41}, 3, {0xFF, 0xE0, 0x41}, 4},
      {{0x41, 0xFF, 0x00, 0x42}, 2, {0x41, 0xFF}, 3},  // stuffing after the last byte
      {{0x41, 0xFF, 0x42}, 2, {0x41, 0xFF}, 2},        // 0x42 is given back
      {{0x41, 0xFF}, 2, {0x41, 0xFF}, 2},              // FF at the end of the file
      {{0x00, 0x41}, 2, {0x00, 0x41}, 2},              // a leading 00 is content
  };
  for (Case& c : cases) {
    EngineFile f(c.file);
    Bytes out(c.count);
    EXPECT_EQ(tlx_id3_read_content_unsync(f.ctx(), out.data(), c.count, 1), c.consumed);
    EXPECT_EQ(out, c.content);
    EXPECT_EQ(tlx_id3_seek_content(f.ctx(), 0, 1), c.consumed);
    EXPECT_EQ(tlx_id3_seek_content_unsync(f.ctx(), c.count, 0, 1), c.consumed);
  }
}

TEST(Id3Unsync, EndOfFileAndPlainMode) {
  Bytes file = {0x01, 0xFF, 0x00, 0x02};
  EngineFile f(file, TLX_ID3_MODE_WRITE);
  uint8_t out[8];
  EXPECT_EQ(tlx_id3_read_content_unsync(f.ctx(), out, 4, 1), -1);  // only 3 content bytes
  EXPECT_EQ(tlx_id3_seek_content_unsync(f.ctx(), 4, 0, 1), -1);
  EXPECT_EQ(tlx_id3_read_content_unsync(nullptr, out, 1, 1), -1);
  // Without the flag: plain reads, and positioning from an origin.
  tlx_id3_seek_content(f.ctx(), 0, 0);
  EXPECT_EQ(tlx_id3_read_content_unsync(f.ctx(), out, 4, 0), 4);
  EXPECT_EQ(std::memcmp(out, file.data(), 4), 0);
  EXPECT_EQ(tlx_id3_seek_content_unsync(f.ctx(), 3, 0, 0), 3);
  tlx_id3_seek_content(f.ctx(), 1, 0);
  // From the current position 1, two content bytes are FF (with its stuffing) and 02.
  EXPECT_EQ(tlx_id3_seek_content_unsync(f.ctx(), 2, 1, 1), 4);
  // Positioning past the end never grows a file that is read.
  EXPECT_EQ(tlx_id3_seek_content_unsync(f.ctx(), 100, 0, 0), 4);
  EXPECT_EQ(f.Contents(), file);
}

TEST(Id3Unsync, LargeCountNeedsNoLargeBlock) {
  // A declared size of 256 MB on a small file fails quickly and cleanly.
  EngineFile f(StuffedBytes(1000, 9));
  Bytes out(2000, 0xAA);
  EXPECT_EQ(tlx_id3_read_content_unsync(f.ctx(), out.data(), 0x0FFFFFFF, 1), -1);
  EXPECT_EQ(out, Bytes(2000, 0xAA));  // nothing copied from a failed chunk
  EXPECT_EQ(tlx_id3_seek_content_unsync(f.ctx(), 0x0FFFFFFF, 0, 1), -1);
  EXPECT_EQ(tlx_id3_seek_content_unsync(f.ctx(), 0xFFFFFFFF, 0, 1), -1);
}

}  // namespace
}  // namespace tagkit_test
