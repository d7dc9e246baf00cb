// ID3v2 header, extended header, frame counting and search, padding and the
// frame list, on well-formed and on damaged tags.
#include <gtest/gtest.h>

#include <functional>

#include "engine_file.h"

namespace tagkit_test {
namespace {

Bytes Zeros(size_t n) { return Bytes(n, 0); }

// A 2.3 tag of size 100: one TIT2 frame with 10 data bytes, then padding.
Bytes PaddedTag() {
  return Concat({Id3v2Tag(3, 0, Concat({Frame23("TIT2", Text("0123456789")), Zeros(80)})),
                 Audio(300)});
}

TEST(Id3V2Header, VersionCodesAndFlags) {
  struct Case {
    uint8_t major, revision, flags;
    int32_t rc, version, unsync, compression, ext, experimental;
  } cases[] = {
      {2, 0, 0xC0, 0, TLX_ID3_V22, 1, 1, 0, 0},
      {3, 0, 0xA0, 0, TLX_ID3_V23, 1, 0, 0, 1},
      {3, 0, 0x00, 0, TLX_ID3_V23, 0, 0, 0, 0},
      {4, 0, 0x00, TLX_ID3_E_UNSUPPORTED, TLX_ID3_V24, 0, 0, 0, 0},
      {3, 1, 0x00, TLX_ID3_E_UNSUPPORTED, TLX_ID3_VERSION_OTHER, 0, 0, 0, 0},
      {5, 0, 0x00, TLX_ID3_E_UNSUPPORTED, TLX_ID3_VERSION_OTHER, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.major) << "." << int(c.revision));
    Bytes tag = Concat({Text("ID3"), {c.major, c.revision, c.flags}, SyncSafe(300), Zeros(300)});
    EngineFile file(tag);
    ASSERT_EQ(file.open_rc(), 0);
    tlx_id3_v2_header h;
    EXPECT_EQ(tlx_id3_v2_get_header(file.ctx(), &h), c.rc);
    EXPECT_EQ(h.version, c.version);
    EXPECT_EQ(h.size, 300);
    EXPECT_EQ(h.unsync, c.unsync);
    EXPECT_EQ(h.compression, c.compression);
    EXPECT_EQ(h.has_ext_header, c.ext);
    EXPECT_EQ(h.experimental, c.experimental);
    // An unsupported tag reads as an empty ID3v2.3 tag through header2.
    tlx_id3_v2_header h2;
    EXPECT_EQ(tlx_id3_v2_get_header2(file.ctx(), &h2), 0);
    EXPECT_EQ(h2.version, c.rc == 0 ? c.version : TLX_ID3_V23);
    EXPECT_EQ(h2.size, c.rc == 0 ? 300 : 0);
  }
}

TEST(Id3V2Header, MissingOrShortTag) {
  const Bytes inputs[] = {Audio(500), Bytes(), Text("ID3\x03")};
  const int32_t header_rc[] = {TLX_ID3_E_NOT_FOUND, TLX_ID3_E_READ, TLX_ID3_E_READ};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EngineFile file(inputs[i]);
    ASSERT_EQ(file.open_rc(), 0);
    tlx_id3_v2_header h;
    EXPECT_EQ(tlx_id3_v2_get_header(file.ctx(), &h), header_rc[i]);
    EXPECT_EQ(tlx_id3_v2_get_header2(file.ctx(), &h), 0);
    EXPECT_EQ(h.version, TLX_ID3_V23);
    EXPECT_EQ(h.size, 0);
    uint32_t count = 7;
    EXPECT_EQ(tlx_id3_v2_get_frame_num(file.ctx(), Id("TIT2"), &count), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(tlx_id3_v2_get_frame_total_num(file.ctx(), &count), header_rc[i]);
    uint32_t padding = 9;
    EXPECT_EQ(tlx_id3_v2_get_padding_size(file.ctx(), &padding), header_rc[i]);
    EXPECT_EQ(padding, 0u);
  }
}

TEST(Id3V2Header, AllowedTagId) {
  Bytes tag = Id3v2Tag(3, 0, Frame23("TIT2", Text("x")));
  std::memcpy(tag.data(), "kq7", 3);
  EngineFile file(tag);
  tlx_id3_v2_header h;
  EXPECT_EQ(tlx_id3_v2_get_header(file.ctx(), &h), TLX_ID3_E_NOT_FOUND);
  ASSERT_EQ(tlx_id3_v2_set_allow_tag_id(file.ctx(), "kq7"), 0);
  EXPECT_EQ(tlx_id3_v2_get_header(file.ctx(), &h), 0);
  uint32_t count = 0;
  EXPECT_EQ(tlx_id3_v2_get_frame_total_num(file.ctx(), &count), 0);
  EXPECT_EQ(count, 1u);
}

TEST(Id3V2FrameIndex, PaddingAndEndOfTag) {
  EngineFile file(PaddedTag());
  uint32_t count = 0, padding = 0;
  EXPECT_EQ(tlx_id3_v2_get_frame_total_num(file.ctx(), &count), 0);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(tlx_id3_v2_get_padding_size(file.ctx(), &padding), 0);
  EXPECT_EQ(padding, 80u);
  tlx_id3_v2_frame_header f;
  ASSERT_EQ(tlx_id3_v2_get_frame_header(file.ctx(), Id("TIT2"), 0, &f), 0);
  EXPECT_EQ(f.id, 0x54495432u);
  EXPECT_EQ(f.size, 10u);
  // Searches that run into padding answer 0 with an all-zero record.
  for (int i = 0; i < 2; ++i) {
    std::memset(&f, 0xAB, sizeof f);
    int32_t rc = i == 0 ? tlx_id3_v2_get_frame_header(file.ctx(), Id("TIT2"), 1, &f)
                        : tlx_id3_v2_get_frame_header_by_index(file.ctx(), 1, &f);
    EXPECT_EQ(rc, 0);
    tlx_id3_v2_frame_header zero;
    std::memset(&zero, 0, sizeof zero);
    EXPECT_EQ(std::memcmp(&f, &zero, sizeof f), 0);
  }

  // Frames filling the tag exactly: a search runs off the end.
  EngineFile full(Id3v2Tag(3, 0, Concat({Frame23("TIT2", Text("a")), Frame23("TIT2", Text("bc"))})));
  EXPECT_EQ(tlx_id3_v2_get_frame_header(full.ctx(), Id("TPE1"), 0, &f), TLX_ID3_E_NOT_FOUND);
  EXPECT_EQ(tlx_id3_v2_get_frame_header_by_index(full.ctx(), 2, &f), TLX_ID3_E_NOT_FOUND);
  ASSERT_EQ(tlx_id3_v2_get_frame_header(full.ctx(), Id("TIT2"), 1, &f), 0);
  EXPECT_EQ(f.size, 2u);
  ASSERT_EQ(tlx_id3_v2_get_frame_num(full.ctx(), Id("TIT2"), &count), 0);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(tlx_id3_v2_get_padding_size(full.ctx(), &padding), 0);
  EXPECT_EQ(padding, 0u);
}

TEST(Id3V2FrameIndex, Version22Frames) {
  EngineFile file(Id3v2Tag(2, 0, Concat({Frame22("TT2", Text("title")), Frame22("COM", Text("c1")),
                                         Frame22("COM", Text("c22")), Zeros(6)})));
  uint32_t count = 0;
  ASSERT_EQ(tlx_id3_v2_get_frame_num(file.ctx(), 0x434F4D00u, &count), 0);
  EXPECT_EQ(count, 2u);
  tlx_id3_v2_frame_header f;
  ASSERT_EQ(tlx_id3_v2_get_frame_header_by_index(file.ctx(), 0, &f), 0);
  EXPECT_EQ(f.id, 0x54543200u);
  EXPECT_EQ(f.size, 5u);
  ASSERT_EQ(tlx_id3_v2_get_frame_header(file.ctx(), 0x434F4D00u, 1, &f), 0);
  EXPECT_EQ(f.size, 3u);
  uint32_t padding = 0;
  EXPECT_EQ(tlx_id3_v2_get_padding_size(file.ctx(), &padding), 0);
  EXPECT_EQ(padding, 6u);
}

TEST(Id3V2FrameIndex, ExtraHeaderBytesAndFlags) {
  // Compressed and grouped, declared size 20: 4 + 1 extra bytes, 15 data.
  Bytes data = Concat({Be32(1234), {0x5A}, Text("fifteen bytes!!")});
  Bytes encrypted = Concat({{0x07}, Text("xyz")});
  EngineFile file(Id3v2Tag(3, 0, Concat({Frame23("APIC", data, 0xE0, 0xA0),
                                         Frame23("PRIV", encrypted, 0, 0x40)})));
  tlx_id3_v2_frame_header f;
  ASSERT_EQ(tlx_id3_v2_get_frame_header_by_index(file.ctx(), 0, &f), 0);
  EXPECT_EQ(f.size, 15u);
  EXPECT_EQ(f.decompressed_size, 1234u);
  EXPECT_EQ(f.group_id, 0x5A);
  EXPECT_EQ(f.compression + f.grouping + f.encryption, 2);
  EXPECT_EQ(f.tag_alter_preserve + f.file_alter_preserve + f.read_only, 3);
  ASSERT_EQ(tlx_id3_v2_get_frame_header(file.ctx(), Id("PRIV"), 0, &f), 0);
  EXPECT_EQ(f.encryption, 1);
  EXPECT_EQ(f.encryption_method, 0x07);
  EXPECT_EQ(f.size, 3u);
}

TEST(Id3V2FrameIndex, ExtendedHeader) {
  Bytes ext = Concat({Be32(6), {0, 0}, Be32(40)});
  Bytes ext_crc = Concat({Be32(10), {0x80, 0}, Be32(0), Be32(0xDEADBEEF)});
  for (int crc = 0; crc < 2; ++crc) {
    SCOPED_TRACE(crc);
    EngineFile file(Id3v2Tag(3, 0x40, Concat({crc ? ext_crc : ext, Frame23("TIT2", Text("t")),
                                              Zeros(40)})));
    tlx_id3_v2_extended_header e;
    ASSERT_EQ(tlx_id3_v2_get_extended_header(file.ctx(), &e), 0);
    EXPECT_EQ(e.padding_size, crc ? 0u : 40u);
    EXPECT_EQ(e.has_crc, crc);
    if (crc) {
      EXPECT_EQ(std::memcmp(e.crc, "\xDE\xAD\xBE\xEF", 4), 0);
    }
    tlx_id3_v2_frame_header f;
    ASSERT_EQ(tlx_id3_v2_get_frame_header_by_index(file.ctx(), 0, &f), 0);
    EXPECT_EQ(f.id, Id("TIT2"));
    uint32_t offset = 0;
    ASSERT_EQ(tlx_id3_v2_get_frame_data_offset(file.ctx(), Id("TIT2"), 0, &offset), 0);
    EXPECT_EQ(offset, crc ? 34u : 30u);  // frame at 20 (or 24), data 10 bytes later
  }
  EngineFile plain(PaddedTag());
  tlx_id3_v2_extended_header e;
  EXPECT_EQ(tlx_id3_v2_get_extended_header(plain.ctx(), &e), TLX_ID3_E_NOT_FOUND);
}

// Damaged tags: every answer is a code, the walk always ends, and reading a
// writable context never changes the file.
TEST(Id3V2FrameIndex, DamagedTags) {
  struct Case {
    const char* name;
    Bytes bytes;
    int32_t total_rc;
    uint32_t total;
    uint32_t padding;  // declared tag end less the end of the frames, never below 0
  } cases[] = {
      {"tag larger than file",
       Concat({Text("ID3"), {3, 0, 0}, SyncSafe(100000), Frame23("TIT2", Text("abc"))}), 0, 1, 99987},
      {"frame past tag", Id3v2Tag(3, 0, Concat({Frame23("TIT2", Text("abc")),
                                                Text("TPE1"), Be32(0xFFFFFFFF), {0, 0}})),
       0, 2, 0},
      {"zero-size frames", Id3v2Tag(3, 0, Concat({Frame23("TIT2", {}), Frame23("TPE1", {}),
                                                  Frame23("TALB", {})})),
       0, 3, 0},
      {"tag ends inside frame header",
       Id3v2Tag(3, 0, Concat({Frame23("TIT2", Text("abc")), Text(std::string("TPE1\0\0", 6))})), 0, 1, 6},
      {"file ends inside frame header",
       Concat({Text("ID3"), {3, 0, 0}, SyncSafe(50), Frame23("TIT2", Text("abc")), Text("TPE1")}),
       0, 1, 37},
      {"all-0xFF size", Concat({Text("ID3"), {3, 0, 0}, {0xFF, 0xFF, 0xFF, 0xFF}, Zeros(64)}), 0,
       0, 0x0FFFFFFF},
      {"huge extended header",
       Concat({Text("ID3"), {3, 0, 0x40}, SyncSafe(40), Be32(0xFFFFFFF0), Zeros(36)}), 0, 0, 0},
      {"short extended header", Concat({Text("ID3"), {3, 0, 0x40}, SyncSafe(40), Be32(6)}),
       TLX_ID3_E_READ, 0, 0},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    EngineFile file(c.bytes, TLX_ID3_MODE_WRITE);
    ASSERT_EQ(file.open_rc(), 0);
    uint32_t count = 99;
    EXPECT_EQ(tlx_id3_v2_get_frame_total_num(file.ctx(), &count), c.total_rc);
    if (c.total_rc == 0) {
      EXPECT_EQ(count, c.total);
    }
    tlx_id3_v2_frame_header f;
    tlx_id3_v2_get_frame_header(file.ctx(), Id("TCON"), 0, &f);
    for (uint32_t i = 0; i < 5; ++i) tlx_id3_v2_get_frame_header_by_index(file.ctx(), i, &f);
    uint32_t padding = 0;
    tlx_id3_v2_get_padding_size(file.ctx(), &padding);
    EXPECT_EQ(padding, c.padding);
    uint8_t buffer[64];
    uint32_t size = sizeof buffer;
    tlx_id3_v2_get_frame_data(file.ctx(), Id("TPE1"), 0, &size, buffer);
    EXPECT_EQ(file.Contents(), c.bytes);
  }
}

TEST(Id3V2FrameIndex, FrameListEntries) {
  Bytes tag = Id3v2Tag(3, 0, Concat({Frame23("TIT2", Text("abc")), Frame23("TPE1", Text("de"), 0x20),
                                     Zeros(20)}));
  EngineFile file(tag);
  tlx_id3_v2_header h;
  ASSERT_EQ(tlx_id3_v2_get_header(file.ctx(), &h), 0);
  ASSERT_EQ(tlx_id3_v2_read_frame_list(file.ctx(), &h), 0);
  tlx_list* list = file.ctx()->work->frame_list;
  ASSERT_EQ(tlx_list_length(list), 2u);
  auto* second = static_cast<tlx_id3_frame_entry*>(tlx_list_nth(list, 1)->data);
  EXPECT_EQ(second->offset, 23u);
  EXPECT_EQ(second->length, 12u);
  EXPECT_EQ(second->data_size, 2u);
  EXPECT_EQ(std::memcmp(second->raw_header, tag.data() + 23, 10), 0);
  EXPECT_EQ(file.ctx()->work->frames_end, 35u);
  // A frame list in place blocks the padding query, which would drop it.
  uint32_t padding = 0;
  EXPECT_EQ(tlx_id3_v2_get_padding_size(file.ctx(), &padding), TLX_ID3_E_STATE);
  tlx_id3_v2_reset_work(file.ctx());
  EXPECT_EQ(file.ctx()->work->frame_list, nullptr);
  EXPECT_EQ(file.ctx()->work->temp_fd, -1);
  EXPECT_EQ(tlx_id3_v2_get_padding_size(file.ctx(), &padding), 0);
  EXPECT_EQ(padding, 20u);
}

TEST(Id3V2FrameIndex, ChecksParametersAndState) {
  EngineFile file(PaddedTag());
  tlx_id3_context* ctx = file.ctx();
  tlx_id3_v2_header h;
  tlx_id3_v2_extended_header e;
  tlx_id3_v2_frame_header f;
  uint32_t n = 0;
  EXPECT_EQ(tlx_id3_v2_get_header(nullptr, &h), TLX_ID3_E_PARAM);
  EXPECT_EQ(tlx_id3_v2_get_header(ctx, nullptr), TLX_ID3_E_PARAM);
  EXPECT_EQ(tlx_id3_v2_get_header2(ctx, nullptr), TLX_ID3_E_PARAM);
  EXPECT_EQ(tlx_id3_v2_get_extended_header(ctx, nullptr), TLX_ID3_E_PARAM);
  EXPECT_EQ(tlx_id3_v2_get_padding_size(ctx, nullptr), TLX_ID3_E_PARAM);
  EXPECT_EQ(tlx_id3_v2_get_frame_total_num(ctx, nullptr), TLX_ID3_E_PARAM);
  EXPECT_EQ(tlx_id3_v2_get_frame_num(ctx, 0, nullptr), TLX_ID3_E_PARAM);
  EXPECT_EQ(tlx_id3_v2_get_frame_header_by_index(ctx, 0, nullptr), TLX_ID3_E_PARAM);
  EXPECT_EQ(tlx_id3_v2_get_frame_header(ctx, 0, 0, nullptr), TLX_ID3_E_PARAM);
  for (int32_t state : {TLX_ID3_STATE_READING, TLX_ID3_STATE_WRITING}) {
    ctx->state = state;
    EXPECT_EQ(tlx_id3_v2_get_header(ctx, &h), TLX_ID3_E_STATE);
    EXPECT_EQ(tlx_id3_v2_get_header2(ctx, &h), TLX_ID3_E_STATE);
    EXPECT_EQ(tlx_id3_v2_get_extended_header(ctx, &e), TLX_ID3_E_STATE);
    EXPECT_EQ(tlx_id3_v2_get_padding_size(ctx, &n), TLX_ID3_E_STATE);
    EXPECT_EQ(tlx_id3_v2_get_frame_total_num(ctx, &n), TLX_ID3_E_STATE);
    EXPECT_EQ(tlx_id3_v2_get_frame_num(ctx, 0, &n), TLX_ID3_E_STATE);
    EXPECT_EQ(tlx_id3_v2_get_frame_header_by_index(ctx, 0, &f), TLX_ID3_E_STATE);
    EXPECT_EQ(tlx_id3_v2_get_frame_header(ctx, 0, 0, &f), TLX_ID3_E_STATE);
  }
  ctx->state = TLX_ID3_STATE_EDITING;  // reading is allowed while editing
  EXPECT_EQ(tlx_id3_v2_get_frame_total_num(ctx, &n), 0);
  ctx->state = TLX_ID3_STATE_IDLE;
}

#if defined(TLX_FAULT_INJECTION)
// Every read and every positioning of each operation fails in turn: the
// operation reports a code and leaves nothing allocated or streaming.
TEST(Id3V2FrameIndex, FailedSystemCallsGiveCodes) {
  Bytes ext = Concat({Be32(6), {0, 0}, Be32(20)});
  EngineFile file(Concat({Id3v2Tag(3, 0x40, Concat({ext, Frame23("TIT2", Text("abc"), 0, 0xA0),
                                                   Frame23("TIT2", Text("de")), Zeros(20)})),
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
      ASSERT_EQ(ops[op](), 0) << op;
      tlx_id3_v2_get_frame_data_fin(ctx);
      uint32_t calls = tlx_fault_calls(kind);
      EXPECT_GT(calls, 0u);
      for (uint32_t nth = 1; nth <= calls; ++nth) {
        SCOPED_TRACE(testing::Message() << "op " << op << " kind " << kind << " call " << nth);
        tlx_fault_reset();
        tlx_fault_arm(kind, nth);
        EXPECT_NE(ops[op](), 0);
        EXPECT_TRUE(tlx_fault_fired());
        EXPECT_EQ(ctx->state, TLX_ID3_STATE_IDLE);
        EXPECT_EQ(ctx->work->frame_list, nullptr);
      }
    }
  }
  tlx_fault_reset();
}
#endif

}  // namespace
}  // namespace tagkit_test
