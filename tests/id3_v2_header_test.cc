// The ID3v2 header, extended header, frame index and padding, on well-formed
// and on damaged tags.
#include <gtest/gtest.h>

#include <functional>

#include "engine_file.h"

namespace tagkit_test {
namespace {

// The value, or "E<code>" where reading it failed. By reference: read after the call.
template <typename T>
std::string Code(int32_t rc, const T& value) {
  return rc ? "E" + std::to_string(rc) : std::to_string(+value);
}

// "frames padding", each an engine code where the query fails.
std::string Counts(EngineFile& file) {
  uint32_t total = 0, padding = 0;
  std::string out = Code(tlx_id3_v2_get_frame_total_num(file.ctx(), &total), total);
  return out + " " + Code(tlx_id3_v2_get_padding_size(file.ctx(), &padding), padding);
}

// "id size" of a frame found by index (occurrence < 0) or by id.
std::string Find(EngineFile& file, const char* id, int occurrence, uint32_t index = 0) {
  tlx_id3_v2_frame_header f;
  int32_t rc = occurrence < 0 ? tlx_id3_v2_get_frame_header_by_index(file.ctx(), index, &f)
                              : tlx_id3_v2_get_frame_header(file.ctx(), Id(id), occurrence, &f);
  if (rc) return Code(rc, 0);
  if (f.id == 0) return "padding";
  return std::string(reinterpret_cast<const char*>(Be32(f.id).data()), f.id & 0xFF ? 4 : 3) + " " +
         std::to_string(f.size);
}

TEST(Id3V2Header, VersionsAndFlags) {
  const struct {
    uint8_t major, revision, flags;
    int32_t rc, version, unsync, compression, ext, experimental;
  } cases[] = {
      {2, 0, 0xC0, 0, TLX_ID3_V22, 1, 1, 0, 0},
      {3, 0, 0xE0, 0, TLX_ID3_V23, 1, 0, 1, 1},
      {4, 0, 0x00, TLX_ID3_E_UNSUPPORTED, TLX_ID3_V24, 0, 0, 0, 0},
      {3, 1, 0x00, TLX_ID3_E_UNSUPPORTED, TLX_ID3_VERSION_OTHER, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.major) << "." << int(c.revision));
    EngineFile file(Concat({Text("ID3"), {c.major, c.revision, c.flags}, SyncSafe(300), Bytes(300, 0)}));
    tlx_id3_v2_header h, h2;
    EXPECT_EQ(c.rc, tlx_id3_v2_get_header(file.ctx(), &h));
    EXPECT_EQ(c.version, h.version);
    EXPECT_EQ(300, h.size);
    EXPECT_EQ(c.unsync, h.unsync);
    EXPECT_EQ(c.compression, h.compression);
    EXPECT_EQ(c.ext, h.has_ext_header);
    EXPECT_EQ(c.experimental, h.experimental);
    // header2 reads an unsupported tag as an empty ID3v2.3 tag.
    EXPECT_EQ(0, tlx_id3_v2_get_header2(file.ctx(), &h2));
    EXPECT_EQ(c.rc ? TLX_ID3_V23 : c.version, h2.version);
    EXPECT_EQ(c.rc ? 0 : 300, h2.size);
  }
  // Other magic counts once allowed; the engine keeps its own copy, and a
  // second call replaces the first.
  Bytes tag = Id3v2Tag(3, 0, Frame23("TIT2", Text("x")));
  std::memcpy(tag.data(), "kq7", 3);
  EngineFile other(tag);
  char magic[] = "kq7";
  ASSERT_EQ(0, tlx_id3_v2_set_allow_tag_id(other.ctx(), "abc"));
  EXPECT_EQ("E9 E9", Counts(other));
  ASSERT_EQ(0, tlx_id3_v2_set_allow_tag_id(other.ctx(), magic));
  magic[0] = 'x';
  EXPECT_EQ("1 0", Counts(other));
}

TEST(Id3V2Header, MissingOrShortTag) {
  const std::pair<Bytes, std::string> cases[] = {
      {Audio(500), "E9"}, {Bytes(), "E2"}, {Text("ID3\x03"), "E2"}};
  for (const auto& c : cases) {
    EngineFile file(c.first);
    tlx_id3_v2_header h;
    EXPECT_EQ(0, tlx_id3_v2_get_header2(file.ctx(), &h));
    EXPECT_EQ(TLX_ID3_V23, h.version);
    EXPECT_EQ(0, h.size);
    EXPECT_EQ(c.second + " " + c.second, Counts(file));
    uint32_t count = 7;
    EXPECT_EQ(0, tlx_id3_v2_get_frame_num(file.ctx(), Id("TIT2"), &count));
    EXPECT_EQ(0u, count);
  }
}

TEST(Id3V2Header, FrameIndexAndPadding) {
  EngineFile v23(Concat({Id3v2Tag(3, 0, Concat({Frame23("TIT2", Text("a")), Frame23("TPE1", Text("bc")),
                                                Frame23("TIT2", Text("def")), Bytes(80, 0)})),
                         Audio(300)}));
  EXPECT_EQ("3 80", Counts(v23));
  EXPECT_EQ("TIT2 3", Find(v23, "TIT2", 1));
  EXPECT_EQ("TPE1 2", Find(v23, nullptr, -1, 1));
  // Searches that reach the padding answer an all-zero record.
  EXPECT_EQ("padding", Find(v23, "TIT2", 2));
  tlx_id3_v2_frame_header f;
  std::memset(&f, 0xAB, sizeof f);
  ASSERT_EQ(0, tlx_id3_v2_get_frame_header_by_index(v23.ctx(), 3, &f));
  EXPECT_EQ(Bytes(sizeof f, 0), Bytes(reinterpret_cast<uint8_t*>(&f), reinterpret_cast<uint8_t*>(&f + 1)));
  // Frames that fill the tag: searches run off its end.
  EngineFile v22(Id3v2Tag(2, 0, Concat({Frame22("TT2", Text("title")), Frame22("COM", Text("c1")),
                                        Frame22("COM", Text("c22"))})));
  EXPECT_EQ("3 0", Counts(v22));
  EXPECT_EQ("COM 3", Find(v22, "COM", 1));
  EXPECT_EQ("E9", Find(v22, "COM", 2));
  EXPECT_EQ("E9", Find(v22, nullptr, -1, 3));
  uint32_t count = 0;
  EXPECT_EQ(0, tlx_id3_v2_get_frame_num(v22.ctx(), Id("COM"), &count));
  EXPECT_EQ(2u, count);
}

TEST(Id3V2Header, FrameFlagsAndExtraBytes) {
  // Compressed and grouped, declared size 20: 4 + 1 extra bytes, 15 data.
  EngineFile file(Id3v2Tag(3, 0, Concat({Frame23("APIC", Concat({Be32(1234), {0x5A}, Bytes(15, 'd')}), 0xE0, 0xA0),
                                         Frame23("PRIV", Concat({{0x07}, Text("xyz")}), 0, 0x40)})));
  tlx_id3_v2_frame_header f;
  ASSERT_EQ(0, tlx_id3_v2_get_frame_header_by_index(file.ctx(), 0, &f));
  EXPECT_EQ(15u, f.size);
  EXPECT_EQ(1234u, f.decompressed_size);
  EXPECT_EQ(0x5A, f.group_id);
  EXPECT_EQ(1, f.compression & f.grouping & f.tag_alter_preserve & f.file_alter_preserve & f.read_only);
  EXPECT_EQ(0, f.encryption);
  ASSERT_EQ(0, tlx_id3_v2_get_frame_header(file.ctx(), Id("PRIV"), 0, &f));
  EXPECT_EQ(1, f.encryption);
  EXPECT_EQ(0x07, f.encryption_method);
  EXPECT_EQ(3u, f.size);
}

TEST(Id3V2Header, ExtendedHeader) {
  for (int crc = 0; crc < 2; ++crc) {
    SCOPED_TRACE(crc);
    Bytes ext = crc ? Concat({Be32(10), {0x80, 0}, Be32(0), Be32(0xDEADBEEF)}) : Concat({Be32(6), {0, 0}, Be32(40)});
    EngineFile file(Id3v2Tag(3, 0x40, Concat({ext, Frame23("TIT2", Text("t")), Bytes(40, 0)})));
    tlx_id3_v2_extended_header e;
    ASSERT_EQ(0, tlx_id3_v2_get_extended_header(file.ctx(), &e));
    EXPECT_EQ(crc ? 0u : 40u, e.padding_size);
    EXPECT_EQ(crc, e.has_crc);
    EXPECT_EQ(crc ? Be32(0xDEADBEEF) : Bytes(4, 0), Bytes(e.crc, e.crc + 4));
    EXPECT_EQ("TIT2 1", Find(file, nullptr, -1, 0));
    uint32_t offset = 0;
    ASSERT_EQ(0, tlx_id3_v2_get_frame_data_offset(file.ctx(), Id("TIT2"), 0, &offset));
    EXPECT_EQ(crc ? 34u : 30u, offset);
  }
  EngineFile plain(Id3v2Tag(3, 0, Frame23("TIT2", Text("t"))));
  tlx_id3_v2_extended_header e;
  EXPECT_EQ(TLX_ID3_E_NOT_FOUND, tlx_id3_v2_get_extended_header(plain.ctx(), &e));
}

// Damaged tags: every answer is a code, every walk ends, and reading through
// a writable context never changes the file.
TEST(Id3V2Header, DamagedTags) {
  const struct {
    const char* name;
    Bytes bytes;
    const char* counts;  // frames, and the declared tag end less the end of the frames (never below 0)
  } cases[] = {
      {"tag larger than file", Concat({Text("ID3"), {3, 0, 0}, SyncSafe(100000), Frame23("TIT2", Text("abc"))}),
       "1 99987"},
      {"frame past tag", Id3v2Tag(3, 0, Concat({Frame23("TIT2", Text("abc")), Text("TPE1"), Be32(0xFFFFFFFF), {0, 0}})),
       "2 0"},
      {"zero-size frames", Id3v2Tag(3, 0, Concat({Frame23("TIT2", {}), Frame23("TPE1", {}), Frame23("TALB", {})})),
       "3 0"},
      {"tag ends inside frame header",
       Id3v2Tag(3, 0, Concat({Frame23("TIT2", Text("abc")), Text(std::string("TPE1\0\0", 6))})), "1 6"},
      {"file ends inside frame header",
       Concat({Text("ID3"), {3, 0, 0}, SyncSafe(50), Frame23("TIT2", Text("abc")), Text("TPE1")}), "1 37"},
      {"all-0xFF size", Concat({Text("ID3"), {3, 0, 0}, {0xFF, 0xFF, 0xFF, 0xFF}, Bytes(64, 0)}), "0 268435455"},
      {"huge extended header", Concat({Text("ID3"), {3, 0, 0x40}, SyncSafe(40), Be32(0xFFFFFFF0), Bytes(36, 0)}),
       "0 0"},
      {"short extended header", Concat({Text("ID3"), {3, 0, 0x40}, SyncSafe(40), Be32(6)}), "E2 E1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EngineFile file(c.bytes, TLX_ID3_MODE_WRITE);
    ASSERT_EQ(0, file.open_rc());
    EXPECT_EQ(c.counts, Counts(file));
    Find(file, "TCON", 0);
    for (uint32_t i = 0; i < 5; ++i) Find(file, nullptr, -1, i);
    uint8_t buffer[64];
    uint32_t size = sizeof buffer;
    tlx_id3_v2_get_frame_data(file.ctx(), Id("TPE1"), 0, &size, buffer);
    EXPECT_EQ(c.bytes, file.Contents());
  }
}

TEST(Id3V2Header, FrameListForEditing) {
  Bytes tag = Id3v2Tag(3, 0, Concat({Frame23("TIT2", Text("abc")), Frame23("TPE1", Text("de"), 0x20), Bytes(20, 0)}));
  EngineFile file(tag);
  tlx_id3_v2_header h;
  ASSERT_EQ(0, tlx_id3_v2_get_header(file.ctx(), &h));
  ASSERT_EQ(0, tlx_id3_v2_read_frame_list(file.ctx(), &h));
  tlx_list* list = file.ctx()->work->frame_list;
  ASSERT_EQ(2u, tlx_list_length(list));
  auto* second = static_cast<tlx_id3_frame_entry*>(tlx_list_nth(list, 1)->data);
  EXPECT_EQ(23u, second->offset);
  EXPECT_EQ(12u, second->length);
  EXPECT_EQ(2u, second->data_size);
  EXPECT_EQ(Bytes(tag.begin() + 23, tag.begin() + 33), Bytes(second->raw_header, second->raw_header + 10));
  EXPECT_EQ(35u, file.ctx()->work->frames_end);
  // The padding query builds and drops a list of its own: not over this one.
  EXPECT_EQ("2 E11", Counts(file));
  tlx_id3_v2_reset_work(file.ctx());
  EXPECT_EQ("2 20", Counts(file));
}

TEST(Id3V2Header, StreamingStatesForbidReading) {
  EngineFile file(Id3v2Tag(3, 0, Frame23("TIT2", Text("x"))));
  tlx_id3_v2_header h;
  tlx_id3_v2_extended_header e;
  for (int32_t state : {TLX_ID3_STATE_READING, TLX_ID3_STATE_WRITING, TLX_ID3_STATE_EDITING}) {
    file.ctx()->state = state;
    const int32_t rc = state == TLX_ID3_STATE_EDITING ? 0 : TLX_ID3_E_STATE;
    EXPECT_EQ(rc, tlx_id3_v2_get_header(file.ctx(), &h));
    EXPECT_EQ(rc, tlx_id3_v2_get_header2(file.ctx(), &h));
    EXPECT_EQ(rc ? TLX_ID3_E_STATE : TLX_ID3_E_NOT_FOUND, tlx_id3_v2_get_extended_header(file.ctx(), &e));
    EXPECT_EQ(rc ? "E11" : "TIT2 1", Find(file, "TIT2", 0));
    EXPECT_EQ(rc ? "E11" : "TIT2 1", Find(file, nullptr, -1, 0));
    EXPECT_EQ(rc ? "E11 E11" : "1 E11", Counts(file));
  }
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
