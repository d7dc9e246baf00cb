// Frame data read whole (unsynchronisation removed, UTF-16 turned
// little-endian) and streamed as stored, its offset, and the streaming states.
#include <gtest/gtest.h>

#include "engine_file.h"

namespace tagkit_test {
namespace {

Bytes ReadWhole(EngineFile& file, const char* id, uint32_t occurrence, uint32_t size) {
  Bytes out(size);
  EXPECT_EQ(0, tlx_id3_v2_get_frame_data(file.ctx(), Id(id), occurrence, &size, out.data()));
  out.resize(size);
  return out;
}

Bytes Stream(EngineFile& file, const char* id, uint32_t piece) {
  Bytes out;
  EXPECT_EQ(0, tlx_id3_v2_get_frame_data_init(file.ctx(), Id(id), 0));
  for (uint32_t n = piece; n != 0;) {
    uint8_t buffer[64];
    n = piece;
    EXPECT_EQ(0, tlx_id3_v2_get_frame_data_progress(file.ctx(), &n, buffer));
    out.insert(out.end(), buffer, buffer + n);
  }
  EXPECT_EQ(0, tlx_id3_v2_get_frame_data_fin(file.ctx()));
  return out;
}

TEST(Id3FrameData, SizeIsBoundedByCallerAndFrame) {
  const Bytes data = Audio(100);
  EngineFile file(Id3v2Tag(3, 0, Concat({Frame23("PRIV", Text("x")), Frame23("APIC", data)})));
  EXPECT_EQ(data, ReadWhole(file, "APIC", 0, 500));
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 4), ReadWhole(file, "APIC", 0, 4));
  EXPECT_EQ(data, Stream(file, "APIC", 7));
  uint32_t size = 4;
  uint8_t buffer[64];
  EXPECT_EQ(TLX_ID3_E_NOT_FOUND, tlx_id3_v2_get_frame_data(file.ctx(), Id("APIC"), 1, &size, buffer));

  // A frame claiming more than the file holds: a read error that leaves the
  // caller's size alone, and a stream that stays open until it is ended.
  EngineFile cut(Concat({Text("ID3"), {3, 0, 0}, SyncSafe(1000), Text("TIT2"), Be32(500), {0, 0},
                         Text("short")}));
  size = 64;
  EXPECT_EQ(TLX_ID3_E_READ, tlx_id3_v2_get_frame_data(cut.ctx(), Id("TIT2"), 0, &size, buffer));
  EXPECT_EQ(64u, size);
  ASSERT_EQ(0, tlx_id3_v2_get_frame_data_init(cut.ctx(), Id("TIT2"), 0));
  EXPECT_EQ(TLX_ID3_E_READ, tlx_id3_v2_get_frame_data_progress(cut.ctx(), &size, buffer));
  EXPECT_EQ(TLX_ID3_STATE_READING, cut.ctx()->state);
  EXPECT_EQ(0, tlx_id3_v2_get_frame_data_fin(cut.ctx()));
}

TEST(Id3FrameData, UnsynchronisedWholeVersusStreamed) {
  // PRIV stores FF 00 E0 41 for a declared size of 3.
  Bytes priv = Concat({Text("PRIV"), Be32(3), {0, 0}, {0xFF, 0x00, 0xE0, 0x41}});
  EngineFile file(Id3v2Tag(3, 0x80, Concat({priv, Frame23("TPE1", Text("z"))})));
  EXPECT_EQ(Bytes({0xFF, 0xE0, 0x41}), ReadWhole(file, "PRIV", 0, 10));
  EXPECT_EQ(Bytes({0xFF, 0x00, 0xE0}), Stream(file, "PRIV", 2));
  // The next frame lies past the stuffing, and the walk ends with the tag
  // although its content is one byte short of the declared size.
  EXPECT_EQ(Text("z"), ReadWhole(file, "TPE1", 0, 10));
  uint32_t count = 0;
  EXPECT_EQ(0, tlx_id3_v2_get_frame_total_num(file.ctx(), &count));
  EXPECT_EQ(2u, count);
  tlx_id3_v2_frame_header f;
  EXPECT_EQ(TLX_ID3_E_NOT_FOUND, tlx_id3_v2_get_frame_header(file.ctx(), Id("TALB"), 0, &f));
}

TEST(Id3FrameData, Utf16TurnedLittleEndian) {
  const struct {
    const char* id;
    Bytes stored, returned;
  } cases[] = {
      {"TIT2", {1, 0xFE, 0xFF, 0, 'A', 0, 'B'}, {1, 0xFF, 0xFE, 'A', 0, 'B', 0}},
      {"TIT2", {1, 0xFF, 0xFE, 'A', 0}, {1, 0xFF, 0xFE, 'A', 0}},
      {"TIT2", {1, 0xFE, 0xFF, 0, 'A', 0}, {1, 0xFF, 0xFE, 'A', 0, 0}},  // odd byte stays
      {"TIT2", {0, 0xFE, 0xFF, 0, 'A'}, {0, 0xFE, 0xFF, 0, 'A'}},        // not UTF-16
      {"APIC", {1, 0xFE, 0xFF, 0, 'A'}, {1, 0xFE, 0xFF, 0, 'A'}},        // not text
      {"TPE1", {1, 0xFE, 0xFF, 0, 'A', 0, 0, 0xFE, 0xFF, 0, 'B'},        // first string only
       {1, 0xFF, 0xFE, 'A', 0, 0, 0, 0xFE, 0xFF, 0, 'B'}},
      {"TXXX", {1, 0xFE, 0xFF, 0, 'd', 0, 0, 0xFE, 0xFF, 0, 'v'},        // description and value
       {1, 0xFF, 0xFE, 'd', 0, 0, 0, 0xFF, 0xFE, 'v', 0}},
      {"WXXX", {1, 0xFE, 0xFF, 0, 'd', 0, 0, 'h', 't'}, {1, 0xFF, 0xFE, 'd', 0, 0, 0, 'h', 't'}},
      {"COMM", {1, 'e', 'n', 'g', 0xFE, 0xFF, 0, 0, 0xFE, 0xFF, 0, 'c'},  // after the language
       {1, 'e', 'n', 'g', 0xFF, 0xFE, 0, 0, 0xFF, 0xFE, 'c', 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    EngineFile file(Id3v2Tag(3, 0, Frame23(c.id, c.stored)));
    EXPECT_EQ(c.returned, ReadWhole(file, c.id, 0, 64));
    EXPECT_EQ(c.stored, Stream(file, c.id, 64));
  }
  EngineFile v22(Id3v2Tag(2, 0, Frame22("TT2", {1, 0xFE, 0xFF, 0, 'A'})));
  EXPECT_EQ(Bytes({1, 0xFF, 0xFE, 'A', 0}), ReadWhole(v22, "TT2", 0, 64));
}

TEST(Id3FrameData, DataOffset) {
  EngineFile v23(Id3v2Tag(3, 0, Concat({Frame23("TIT2", Text("abc")), Frame23("TIT2", Text("d"))})));
  EngineFile v22(Id3v2Tag(2, 0, Frame22("TT2", Text("abc"))));
  uint32_t offset = 0;
  ASSERT_EQ(0, tlx_id3_v2_get_frame_data_offset(v23.ctx(), Id("TIT2"), 1, &offset));
  EXPECT_EQ(33u, offset);
  ASSERT_EQ(0, tlx_id3_v2_get_frame_data_offset(v22.ctx(), Id("TT2"), 0, &offset));
  EXPECT_EQ(16u, offset);
  EXPECT_EQ(TLX_ID3_E_NOT_FOUND, tlx_id3_v2_get_frame_data_offset(v22.ctx(), Id("TT2"), 1, &offset));
}

TEST(Id3FrameData, StreamingStates) {
  EngineFile file(Id3v2Tag(3, 0, Frame23("TIT2", Text("hello"))));
  tlx_id3_context* ctx = file.ctx();
  uint8_t buffer[16];
  uint32_t n = 16;
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_get_frame_data_progress(ctx, &n, buffer));
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_get_frame_data_fin(ctx));
  EXPECT_EQ(TLX_ID3_E_NOT_FOUND, tlx_id3_v2_get_frame_data_init(ctx, Id("TPE1"), 0));
  ASSERT_EQ(0, tlx_id3_v2_get_frame_data_init_by_index(ctx, 0));
  EXPECT_EQ(5u, ctx->remaining);
  // Nothing else may move the file while streaming.
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_get_frame_data(ctx, Id("TIT2"), 0, &n, buffer));
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_get_frame_data_init(ctx, Id("TIT2"), 0));
  ASSERT_EQ(0, tlx_id3_v2_get_frame_data_progress(ctx, &n, buffer));
  EXPECT_EQ(5u, n);
  EXPECT_EQ(0, tlx_id3_v2_get_frame_data_fin(ctx));
  ctx->state = TLX_ID3_STATE_EDITING;
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_get_frame_data_init_by_index(ctx, 0));
  ctx->state = TLX_ID3_STATE_IDLE;

  EngineFile v24(Id3v2Tag(4, 0, Frame23("TIT2", Text("x"))));
  EXPECT_EQ(TLX_ID3_E_UNSUPPORTED, tlx_id3_v2_get_frame_data(v24.ctx(), Id("TIT2"), 0, &n, buffer));
  EXPECT_EQ(TLX_ID3_E_UNSUPPORTED, tlx_id3_v2_get_frame_data_init(v24.ctx(), Id("TIT2"), 0));
  EXPECT_EQ(TLX_ID3_STATE_IDLE, v24.ctx()->state);
}

}  // namespace
}  // namespace tagkit_test
