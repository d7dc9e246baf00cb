// Frame data read whole and streamed, the UTF-16 byte-order conversion, the
// data offset query and the streaming states.
#include <gtest/gtest.h>

#include "engine_file.h"

namespace tagkit_test {
namespace {

Bytes ReadWhole(EngineFile& file, uint32_t id, uint32_t occurrence, uint32_t size,
                int32_t* rc) {
  Bytes out(size + 1, 0xEE);
  uint32_t n = size;
  *rc = tlx_id3_v2_get_frame_data(file.ctx(), id, occurrence, &n, out.data());
  out.resize(*rc == 0 ? n : 0);
  return out;
}

Bytes Stream(EngineFile& file, uint32_t id, uint32_t piece) {
  Bytes out;
  EXPECT_EQ(tlx_id3_v2_get_frame_data_init(file.ctx(), id, 0), 0);
  for (;;) {
    uint8_t buffer[64];
    uint32_t n = piece;
    EXPECT_EQ(tlx_id3_v2_get_frame_data_progress(file.ctx(), &n, buffer), 0);
    if (n == 0) break;
    out.insert(out.end(), buffer, buffer + n);
  }
  EXPECT_EQ(tlx_id3_v2_get_frame_data_fin(file.ctx()), 0);
  return out;
}

TEST(Id3FrameData, SizeIsBoundedByCallerAndFrame) {
  Bytes data = Audio(100);
  EngineFile file(Id3v2Tag(3, 0, Concat({Frame23("PRIV", Text("x")), Frame23("APIC", data)})));
  int32_t rc = 0;
  EXPECT_EQ(ReadWhole(file, Id("APIC"), 0, 500, &rc), data);
  EXPECT_EQ(ReadWhole(file, Id("APIC"), 0, 4, &rc), Bytes(data.begin(), data.begin() + 4));
  EXPECT_EQ(ReadWhole(file, Id("APIC"), 1, 4, &rc), Bytes());  // runs off the end
  EXPECT_EQ(rc, TLX_ID3_E_NOT_FOUND);
  EXPECT_EQ(Stream(file, Id("APIC"), 7), data);
}

TEST(Id3FrameData, UnsynchronisedWholeVersusStreamed) {
  // Stored FF 00 E0 41 with a declared size of 3.
  Bytes frame = Concat({Text("PRIV"), Be32(3), {0, 0}, {0xFF, 0x00, 0xE0, 0x41}});
  EngineFile file(Id3v2Tag(3, 0x80, Concat({frame, Frame23("TPE1", Text("z"))})));
  int32_t rc = 0;
  EXPECT_EQ(ReadWhole(file, Id("PRIV"), 0, 10, &rc), Bytes({0xFF, 0xE0, 0x41}));
  EXPECT_EQ(Stream(file, Id("PRIV"), 2), Bytes({0xFF, 0x00, 0xE0}));
  // The next frame is found at its content offset, past the stuffing, and
  // the walk ends with the tag although its content is one byte short of it.
  EXPECT_EQ(ReadWhole(file, Id("TPE1"), 0, 10, &rc), Text("z"));
  uint32_t count = 0;
  EXPECT_EQ(tlx_id3_v2_get_frame_total_num(file.ctx(), &count), 0);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(tlx_id3_v2_get_frame_header(file.ctx(), Id("TALB"), 0, nullptr), TLX_ID3_E_PARAM);
  tlx_id3_v2_frame_header f;
  EXPECT_EQ(tlx_id3_v2_get_frame_header(file.ctx(), Id("TALB"), 0, &f), TLX_ID3_E_NOT_FOUND);
}

TEST(Id3FrameData, Utf16TurnedLittleEndian) {
  struct Case {
    const char* id;
    Bytes stored;
    Bytes returned;
  } cases[] = {
      {"TIT2", {1, 0xFE, 0xFF, 0, 'A', 0, 'B'}, {1, 0xFF, 0xFE, 'A', 0, 'B', 0}},
      {"TIT2", {1, 0xFF, 0xFE, 'A', 0}, {1, 0xFF, 0xFE, 'A', 0}},
      {"TIT2", {1, 0xFE, 0xFF, 0, 'A', 0}, {1, 0xFF, 0xFE, 'A', 0, 0}},  // odd byte stays
      {"TIT2", {0, 0xFE, 0xFF, 0, 'A'}, {0, 0xFE, 0xFF, 0, 'A'}},        // not UTF-16
      {"APIC", {1, 0xFE, 0xFF, 0, 'A'}, {1, 0xFE, 0xFF, 0, 'A'}},        // not text
      // First string only in a multi-string text frame.
      {"TPE1", {1, 0xFE, 0xFF, 0, 'A', 0, 0, 0xFE, 0xFF, 0, 'B'},
       {1, 0xFF, 0xFE, 'A', 0, 0, 0, 0xFE, 0xFF, 0, 'B'}},
      // Description and value of user-defined text; a URL stays as stored.
      {"TXXX", {1, 0xFE, 0xFF, 0, 'd', 0, 0, 0xFE, 0xFF, 0, 'v'},
       {1, 0xFF, 0xFE, 'd', 0, 0, 0, 0xFF, 0xFE, 'v', 0}},
      {"WXXX", {1, 0xFE, 0xFF, 0, 'd', 0, 0, 'h', 't'}, {1, 0xFF, 0xFE, 'd', 0, 0, 0, 'h', 't'}},
      // Comment: language, then description and text, each with its own mark.
      {"COMM", {1, 'e', 'n', 'g', 0xFE, 0xFF, 0, 0, 0xFE, 0xFF, 0, 'c'},
       {1, 'e', 'n', 'g', 0xFF, 0xFE, 0, 0, 0xFF, 0xFE, 'c', 0}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.id);
    EngineFile file(Id3v2Tag(3, 0, Frame23(c.id, c.stored)));
    int32_t rc = 0;
    EXPECT_EQ(ReadWhole(file, Id(c.id), 0, 64, &rc), c.returned);
    EXPECT_EQ(Stream(file, Id(c.id), 64), c.stored);  // streaming hands out bytes as stored
  }
  // Version 2.2 identifiers: "TT2" and "WXX".
  EngineFile v22(Id3v2Tag(2, 0, Frame22("TT2", {1, 0xFE, 0xFF, 0, 'A'})));
  int32_t rc = 0;
  EXPECT_EQ(ReadWhole(v22, 0x54543200u, 0, 64, &rc), Bytes({1, 0xFF, 0xFE, 'A', 0}));
}

TEST(Id3FrameData, DataOffset) {
  Bytes tag = Id3v2Tag(3, 0, Concat({Frame23("TIT2", Text("abc")), Frame23("TIT2", Text("d")),
                                     Bytes(30, 0)}));
  EngineFile file(tag);
  uint32_t offset = 0;
  ASSERT_EQ(tlx_id3_v2_get_frame_data_offset(file.ctx(), Id("TIT2"), 1, &offset), 0);
  EXPECT_EQ(offset, 33u);
  ASSERT_EQ(tlx_id3_v2_get_frame_data_offset(file.ctx(), Id("TPE1"), 0, &offset), 0);
  EXPECT_EQ(offset, 34u + 10u);  // the padding, plus a header size
  EngineFile full(Id3v2Tag(2, 0, Frame22("TT2", Text("abc"))));
  EXPECT_EQ(tlx_id3_v2_get_frame_data_offset(full.ctx(), 0x54543200u, 0, &offset), 0);
  EXPECT_EQ(offset, 16u);
  EXPECT_EQ(tlx_id3_v2_get_frame_data_offset(full.ctx(), 0x54543200u, 1, &offset),
            TLX_ID3_E_NOT_FOUND);
}

TEST(Id3FrameData, StreamingStates) {
  EngineFile file(Id3v2Tag(3, 0, Frame23("TIT2", Text("hello"))));
  tlx_id3_context* ctx = file.ctx();
  uint8_t buffer[16];
  uint32_t n = 16;
  EXPECT_EQ(tlx_id3_v2_get_frame_data_fin(ctx), TLX_ID3_E_STATE);
  EXPECT_EQ(tlx_id3_v2_get_frame_data_progress(ctx, &n, buffer), TLX_ID3_E_STATE);
  EXPECT_EQ(tlx_id3_v2_get_frame_data_init(ctx, Id("TPE1"), 0), TLX_ID3_E_NOT_FOUND);
  EXPECT_EQ(ctx->state, TLX_ID3_STATE_IDLE);

  ASSERT_EQ(tlx_id3_v2_get_frame_data_init_by_index(ctx, 0), 0);
  EXPECT_EQ(ctx->state, TLX_ID3_STATE_READING);
  EXPECT_EQ(ctx->remaining, 5u);
  // Nothing else may move the file while streaming.
  EXPECT_EQ(tlx_id3_v2_get_frame_data(ctx, Id("TIT2"), 0, &n, buffer), TLX_ID3_E_STATE);
  EXPECT_EQ(tlx_id3_v2_get_frame_data_offset(ctx, Id("TIT2"), 0, &n), TLX_ID3_E_STATE);
  EXPECT_EQ(tlx_id3_v2_get_frame_data_init(ctx, Id("TIT2"), 0), TLX_ID3_E_STATE);
  EXPECT_EQ(tlx_id3_v2_get_frame_data_progress(ctx, nullptr, buffer), TLX_ID3_E_PARAM);
  n = 16;
  ASSERT_EQ(tlx_id3_v2_get_frame_data_progress(ctx, &n, buffer), 0);
  EXPECT_EQ(n, 5u);
  n = 16;
  EXPECT_EQ(tlx_id3_v2_get_frame_data_progress(ctx, &n, buffer), 0);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(tlx_id3_v2_get_frame_data_fin(ctx), 0);
  EXPECT_EQ(ctx->remaining, 0u);

  ctx->state = TLX_ID3_STATE_EDITING;
  EXPECT_EQ(tlx_id3_v2_get_frame_data_init(ctx, Id("TIT2"), 0), TLX_ID3_E_STATE);
  EXPECT_EQ(tlx_id3_v2_get_frame_data_init_by_index(ctx, 0), TLX_ID3_E_STATE);
  ctx->state = TLX_ID3_STATE_IDLE;
  EXPECT_EQ(tlx_id3_v2_get_frame_data(nullptr, 0, 0, &n, buffer), TLX_ID3_E_PARAM);
  EXPECT_EQ(tlx_id3_v2_get_frame_data(ctx, 0, 0, &n, nullptr), TLX_ID3_E_PARAM);
  EXPECT_EQ(tlx_id3_v2_get_frame_data_init(nullptr, 0, 0), TLX_ID3_E_PARAM);
}

TEST(Id3FrameData, ShortReadsAndUnsupportedTags) {
  // A frame that claims more than the file holds: 2, and the caller's size
  // stays as it was. A streamed read fails likewise and keeps streaming.
  Bytes tag = Concat({Text("ID3"), {3, 0, 0}, SyncSafe(1000), Text("TIT2"), Be32(500), {0, 0},
                      Text("short")});
  EngineFile file(tag);
  uint8_t buffer[64];
  uint32_t n = 64;
  EXPECT_EQ(tlx_id3_v2_get_frame_data(file.ctx(), Id("TIT2"), 0, &n, buffer), TLX_ID3_E_READ);
  EXPECT_EQ(n, 64u);
  ASSERT_EQ(tlx_id3_v2_get_frame_data_init(file.ctx(), Id("TIT2"), 0), 0);
  EXPECT_EQ(tlx_id3_v2_get_frame_data_progress(file.ctx(), &n, buffer), TLX_ID3_E_READ);
  EXPECT_EQ(file.ctx()->remaining, 500u);
  EXPECT_EQ(tlx_id3_v2_get_frame_data_fin(file.ctx()), 0);

  Bytes v24 = Id3v2Tag(4, 0, Frame23("TIT2", Text("x")));
  EngineFile refused(v24);
  EXPECT_EQ(tlx_id3_v2_get_frame_data(refused.ctx(), Id("TIT2"), 0, &n, buffer),
            TLX_ID3_E_UNSUPPORTED);
  EXPECT_EQ(tlx_id3_v2_get_frame_data_init(refused.ctx(), Id("TIT2"), 0),
            TLX_ID3_E_UNSUPPORTED);
  EXPECT_EQ(refused.ctx()->state, TLX_ID3_STATE_IDLE);
}

}  // namespace
}  // namespace tagkit_test
