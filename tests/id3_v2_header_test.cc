// The ID3v2 header, extended header, frame index and padding, on well-formed
// and on damaged tags.
#include <gtest/gtest.h>

#include <functional>

#include "engine_file.h"

namespace tagkit_test {
namespace {

// "version size unsync compression ext experimental", or the code.
std::string Header(tlx_id3_context* ctx, bool header2 = false) {
  tlx_id3_v2_header h;
  const int32_t rc = header2 ? tlx_id3_v2_get_header2(ctx, &h) : tlx_id3_v2_get_header(ctx, &h);
  std::string out = rc ? Code(rc, 0) + " " : "";
  for (int32_t v : {h.version, h.size, h.unsync, h.compression, h.has_ext_header, h.experimental}) {
    out += std::to_string(v) + " ";
  }
  return out;
}

TEST(Id3V2Header, VersionsAndFlags) {
  const struct {
    uint8_t major, revision, flags;
    const char* header;
  } cases[] = {
      {2, 0, 0xC0, "0 300 1 1 0 0 "},
      {3, 0, 0xE0, "1 300 1 0 1 1 "},
      {4, 0, 0x00, "E7 2 300 0 0 0 0 "},  // recognised and refused
      {3, 1, 0x00, "E7 -999 300 0 0 0 0 "},
  };
  for (const auto& c : cases) {
    EngineFile file(Concat({Text("ID3"), {c.major, c.revision, c.flags}, SyncSafe(300), Bytes(300, 0)}));
    EXPECT_EQ(c.header, Header(file.ctx()));
    // header2 reads a refused tag as an empty ID3v2.3 tag.
    EXPECT_EQ(c.header[0] == 'E' ? "1 0 0 0 0 0 " : c.header, Header(file.ctx(), true));
  }
  for (const Bytes& bytes : {Audio(500), Bytes(), Text("ID3\x03")}) {
    EngineFile file(bytes);
    EXPECT_EQ(bytes.size() == 500 ? "E9 pad:E9" : "E2 pad:E2", Frames(file.ctx()));
    EXPECT_EQ("1 0 0 0 0 0 ", Header(file.ctx(), true));
    uint32_t count = 7;
    EXPECT_EQ(0, tlx_id3_v2_get_frame_num(file.ctx(), Id("TIT2"), &count));
    EXPECT_EQ(0u, count);
  }
  // Other magic counts once allowed; the engine keeps its own copy, and a
  // second call replaces the first.
  Bytes tag = Id3v2Tag(3, 0, Frame23("TIT2", Text("x")));
  std::memcpy(tag.data(), "kq7", 3);
  EngineFile other(tag);
  char magic[] = "kq7";
  ASSERT_EQ(0, tlx_id3_v2_set_allow_tag_id(other.ctx(), "abc"));
  EXPECT_EQ("E9 pad:E9", Frames(other.ctx()));
  ASSERT_EQ(0, tlx_id3_v2_set_allow_tag_id(other.ctx(), magic));
  magic[0] = 'x';
  EXPECT_EQ("TIT2:1 pad:0", Frames(other.ctx()));
}

TEST(Id3V2Header, FrameSearchesAndPadding) {
  EngineFile v23(Id3v2Tag(3, 0, Concat({Frame23("TIT2", Text("a")), Frame23("TPE1", Text("bc")),
                                        Frame23("TIT2", Text("def")), Bytes(80, 0)})));
  EngineFile v22(Id3v2Tag(2, 0, Concat({Frame22("TT2", Text("title")), Frame22("COM", Text("c1")),
                                        Frame22("COM", Text("c22"))})));
  EXPECT_EQ("TIT2:1 TPE1:2 TIT2:3 pad:80", Frames(v23.ctx()));
  EXPECT_EQ("TT2:5 COM:2 COM:3 pad:0", Frames(v22.ctx()));
  tlx_id3_v2_frame_header f;
  uint32_t count = 0;
  ASSERT_EQ(0, tlx_id3_v2_get_frame_header(v23.ctx(), Id("TIT2"), 1, &f));
  EXPECT_EQ(3u, f.size);
  EXPECT_EQ(0, tlx_id3_v2_get_frame_num(v22.ctx(), Id("COM"), &count));
  EXPECT_EQ(2u, count);
  // A search that reaches the padding answers an all-zero record; one that
  // runs off the end of the tag answers "not found".
  for (int by_index = 0; by_index < 2; ++by_index) {
    std::memset(&f, 0xAB, sizeof f);
    ASSERT_EQ(0, by_index ? tlx_id3_v2_get_frame_header_by_index(v23.ctx(), 3, &f)
                          : tlx_id3_v2_get_frame_header(v23.ctx(), Id("TIT2"), 2, &f));
    EXPECT_EQ(Bytes(sizeof f, 0), Bytes(reinterpret_cast<uint8_t*>(&f), reinterpret_cast<uint8_t*>(&f + 1)));
    EXPECT_EQ(TLX_ID3_E_NOT_FOUND, by_index ? tlx_id3_v2_get_frame_header_by_index(v22.ctx(), 3, &f)
                                            : tlx_id3_v2_get_frame_header(v22.ctx(), Id("COM"), 2, &f));
  }
}

TEST(Id3V2Header, FrameFlagsAndExtraBytes) {
  // Compressed and grouped, declared size 20: 4 + 1 extra bytes, 15 data.
  EngineFile file(Id3v2Tag(3, 0, Concat({Frame23("APIC", Concat({Be32(1234), {0x5A}, Bytes(15, 'd')}), 0xE0, 0xA0),
                                         Frame23("PRIV", Concat({{0x07}, Text("xyz")}), 0, 0x40)})));
  EXPECT_EQ("APIC:15 PRIV:3 pad:0", Frames(file.ctx()));
  tlx_id3_v2_frame_header f;
  ASSERT_EQ(0, tlx_id3_v2_get_frame_header_by_index(file.ctx(), 0, &f));
  EXPECT_EQ(1234u, f.decompressed_size);
  EXPECT_EQ(0x5A, f.group_id);
  EXPECT_EQ(1, f.compression & f.grouping & f.tag_alter_preserve & f.file_alter_preserve & f.read_only);
  EXPECT_EQ(0, f.encryption);
  ASSERT_EQ(0, tlx_id3_v2_get_frame_header(file.ctx(), Id("PRIV"), 0, &f));
  EXPECT_EQ(1, f.encryption);
  EXPECT_EQ(0x07, f.encryption_method);
}

TEST(Id3V2Header, ExtendedHeader) {
  for (int crc = 0; crc < 2; ++crc) {
    const Bytes ext = crc ? Concat({Be32(10), {0x80, 0}, Be32(0), Be32(0xDEADBEEF)})
                          : Concat({Be32(6), {0, 0}, Be32(40)});
    EngineFile file(Id3v2Tag(3, 0x40, Concat({ext, Frame23("TIT2", Text("t")), Bytes(40, 0)})));
    tlx_id3_v2_extended_header e;
    ASSERT_EQ(0, tlx_id3_v2_get_extended_header(file.ctx(), &e));
    EXPECT_EQ(crc ? 0u : 40u, e.padding_size);
    EXPECT_EQ(crc, e.has_crc);
    EXPECT_EQ(crc ? Be32(0xDEADBEEF) : Bytes(4, 0), Bytes(e.crc, e.crc + 4));
    EXPECT_EQ("TIT2:1 pad:40", Frames(file.ctx()));
    uint32_t offset = 0;
    ASSERT_EQ(0, tlx_id3_v2_get_frame_data_offset(file.ctx(), Id("TIT2"), 0, &offset));
    EXPECT_EQ(crc ? 34u : 30u, offset);
  }
  EngineFile plain(Id3v2Tag(3, 0, Frame23("TIT2", Text("t"))));
  tlx_id3_v2_extended_header e;
  EXPECT_EQ(TLX_ID3_E_NOT_FOUND, tlx_id3_v2_get_extended_header(plain.ctx(), &e));
}

// Damaged tags: every answer is a code, every walk ends, and reading through
// a writable context never changes the file. The padding is the declared
// tag end less the end of the frames, never below 0.
TEST(Id3V2Header, DamagedTags) {
  const Bytes tit2 = Frame23("TIT2", Text("abc"));
  const std::pair<Bytes, const char*> cases[] = {
      {Concat({Text("ID3"), {3, 0, 0}, SyncSafe(100000), tit2}), "TIT2:3 pad:99987"},  // tag larger than the file
      {Id3v2Tag(3, 0, Concat({tit2, Text("TPE1"), Be32(0xFFFFFFFF), {0, 0}})), "TIT2:3 TPE1:4294967295 pad:0"},
      {Id3v2Tag(3, 0, Concat({tit2, Text("TPE1"), Be32(0xFFFFFFF6), {0, 0}})), "TIT2:3 TPE1:4294967286 pad:0"},
      {Id3v2Tag(3, 0, Concat({Frame23("TIT2", {}), Frame23("TPE1", {}), Frame23("TALB", {})})),
       "TIT2:0 TPE1:0 TALB:0 pad:0"},
      {Id3v2Tag(3, 0, Concat({tit2, Text(std::string("TPE1\0\0", 6))})), "TIT2:3 pad:6"},  // tag ends in a header
      {Concat({Text("ID3"), {3, 0, 0}, SyncSafe(50), tit2, Text("TPE1")}), "TIT2:3 pad:37"},  // so does the file
      {Concat({Text("ID3"), {3, 0, 0}, {0xFF, 0xFF, 0xFF, 0xFF}, Bytes(64, 0)}), "pad:268435455"},
      {Concat({Text("ID3"), {3, 0, 0x40}, SyncSafe(40), Be32(0xFFFFFFF0), Bytes(36, 0)}), "pad:0"},
      {Concat({Text("ID3"), {3, 0, 0x40}, SyncSafe(40), Be32(6)}), "E2 pad:E1"},  // short extended header
  };
  for (const auto& c : cases) {
    EngineFile file(c.first, TLX_ID3_MODE_WRITE);
    ASSERT_EQ(0, file.open_rc());
    EXPECT_EQ(c.second, Frames(file.ctx()));
    tlx_id3_v2_frame_header f;
    tlx_id3_v2_get_frame_header(file.ctx(), Id("TCON"), 0, &f);
    uint8_t buffer[64];
    uint32_t size = sizeof buffer;
    tlx_id3_v2_get_frame_data(file.ctx(), Id("TPE1"), 0, &size, buffer);
    EXPECT_EQ(c.first, file.Contents());
  }
}

TEST(Id3V2Header, StatesThatForbidQueries) {
  EngineFile file(Id3v2Tag(3, 0, Concat({Frame23("TIT2", Text("abc")), Frame23("TPE1", Text("de"), 0x20),
                                         Bytes(20, 0)})));
  // The padding query builds and drops a frame list of its own: not over an
  // editing transaction's.
  tlx_id3_v2_header h;
  ASSERT_EQ(0, tlx_id3_v2_get_header(file.ctx(), &h));
  ASSERT_EQ(0, tlx_id3_v2_read_frame_list(file.ctx(), &h));
  EXPECT_EQ(35u, file.ctx()->work->frames_end);
  EXPECT_EQ("TIT2:3 TPE1:2 pad:E11", Frames(file.ctx()));
  tlx_id3_v2_reset_work(file.ctx());
  EXPECT_EQ("TIT2:3 TPE1:2 pad:20", Frames(file.ctx()));
  // Streaming in or out forbids every query that would move the file.
  file.ctx()->state = TLX_ID3_STATE_WRITING;
  EXPECT_EQ("E11 pad:E11", Frames(file.ctx()));
  EXPECT_EQ("E11 ", Header(file.ctx(), true).substr(0, 4));
  file.ctx()->state = TLX_ID3_STATE_IDLE;
}

#if defined(TLX_FAULT_INJECTION)
// Every read and positioning of each query fails in turn: the query reports
// a code and leaves nothing allocated or streaming.
TEST(Id3V2Header, FailedSystemCallsGiveCodes) {
  EngineFile file(Concat({Id3v2Tag(3, 0x40, Concat({Be32(6), {0, 0}, Be32(20), Frame23("TIT2", Text("abc"), 0, 0xA0),
                                                   Frame23("TIT2", Text("de")), Bytes(20, 0)})),
                          Id3v1("t", "a", "b", "2000", "c", 1, 2)}));
  tlx_id3_context* ctx = file.ctx();
  uint32_t n = 0;
  uint8_t buffer[16];
  tlx_id3_v2_frame_header f;
  tlx_id3_v2_extended_header e;
  const std::function<int32_t()> ops[] = {
      [&] { return tlx_id3_v2_get_frame_total_num(ctx, &n); },
      [&] { return tlx_id3_v2_get_frame_header_by_index(ctx, 1, &f); },
      [&] { return tlx_id3_v2_get_frame_header(ctx, Id("TIT2"), 1, &f); },
      [&] { return tlx_id3_v2_get_extended_header(ctx, &e); },
      [&] { return tlx_id3_v2_get_padding_size(ctx, &n); },
      [&] { n = sizeof buffer; return tlx_id3_v2_get_frame_data(ctx, Id("TIT2"), 1, &n, buffer); },
      [&] { return tlx_id3_v2_get_frame_data_offset(ctx, Id("TIT2"), 1, &n); },
      [&] { return tlx_id3_v2_get_frame_data_init(ctx, Id("TIT2"), 1); },
      [&] { return tlx_id3_v1_get_genre(ctx, &n); },
  };
  for (size_t op = 0; op < sizeof ops / sizeof ops[0]; ++op) {
    for (tlx_fault_op kind : {TLX_FAULT_READ, TLX_FAULT_SEEK}) {
      tlx_fault_reset();
      ASSERT_EQ(0, ops[op]()) << op;
      tlx_id3_v2_get_frame_data_fin(ctx);
      const uint32_t calls = tlx_fault_calls(kind);
      EXPECT_GT(calls, 0u);
      for (uint32_t nth = 1; nth <= calls; ++nth) {
        SCOPED_TRACE(testing::Message() << "op " << op << " kind " << kind << " call " << nth);
        tlx_fault_reset();
        tlx_fault_arm(kind, nth);
        EXPECT_NE(0, ops[op]());
        EXPECT_TRUE(tlx_fault_fired());
        EXPECT_EQ(TLX_ID3_STATE_IDLE, ctx->state);
        EXPECT_EQ(nullptr, ctx->work->frame_list);
      }
    }
  }
  tlx_fault_reset();
}
#endif

}  // namespace
}  // namespace tagkit_test
