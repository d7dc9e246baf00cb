// ID3v2.4 behind TLX_ID3_OPTION_V24, on crafted tags with what the peer
// writers rarely produce: per-frame and tag-level unsynchronisation, data
// length indicators, compression, grouping and encryption, footers,
// extended headers and plain-integer frame sizes. Without the option every
// entry point still refuses the tag.
#include <gtest/gtest.h>

#include "engine_file.h"

namespace tagkit_test {
namespace {

// Stuffs a 00 after every FF that precedes 00, a byte >= E0, or the end.
Bytes Unsync(const Bytes& data) {
  Bytes out;
  for (size_t i = 0; i < data.size(); ++i) {
    out.push_back(data[i]);
    if (data[i] == 0xFF && (i + 1 == data.size() || data[i + 1] == 0 || data[i + 1] >= 0xE0)) out.push_back(0);
  }
  return out;
}

// A frame whose header stores its size as a plain 32-bit integer.
Bytes PlainSized(const std::string& id, const Bytes& data) {
  return Concat({Text(id), Be32(uint32_t(data.size())), {0, 0}, data});
}

Bytes Latin1(size_t n, char c) { return Concat({{0}, Bytes(n, uint8_t(c))}); }

const Bytes kCrcExtHeader = Concat({SyncSafe(12), {1, 0x20, 5}, {0x01, 0x23, 0x45, 0x67, 0x0F}});

tlx_id3_context* WithOption(EngineFile& file) {
  EXPECT_EQ(0, tlx_id3_set_options(file.ctx(), TLX_ID3_OPTION_V24));
  return file.ctx();
}

// Whole data read as the caller gets it, or "E<code>".
std::string DataOf(tlx_id3_context* ctx, const std::string& id) {
  Bytes out(1 << 16);
  uint32_t size = uint32_t(out.size());
  const int32_t rc = tlx_id3_v2_get_frame_data(ctx, Id(id), 0, &size, out.data());
  return rc ? "E" + std::to_string(rc) : std::string(out.begin(), out.begin() + size);
}

Bytes Streamed(tlx_id3_context* ctx, const std::string& id) {
  Bytes out;
  EXPECT_EQ(0, tlx_id3_v2_get_frame_data_init(ctx, Id(id), 0));
  uint8_t piece[7];
  for (uint32_t n = sizeof piece; n == sizeof piece;) {
    n = sizeof piece;
    EXPECT_EQ(0, tlx_id3_v2_get_frame_data_progress(ctx, &n, piece));
    out.insert(out.end(), piece, piece + n);
  }
  EXPECT_EQ(0, tlx_id3_v2_get_frame_data_fin(ctx));
  return out;
}

std::string Str(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(Id3V24, ReadsCraftedFrames) {
  const Bytes picture = Concat({{0}, Text("image/png"), {0, 3, 0}, {0xFF, 0xE2, 0xFF, 0x00, 0xFF}, Bytes(300, 0x89)});
  const Bytes zipped = Deflate(Latin1(300, 'x'));
  const struct {
    const char* name;
    Bytes file;
    std::string frames;
    const char* id;
    std::string data;  // as read whole, or "E<code>"
    Bytes streamed;    // as streamed, when given
  } cases[] = {
      {"sync-safe size", Id3v2Tag(4, 0, Concat({Frame24("TIT2", Latin1(200, 'a')), Frame24("TPE1", Latin1(1, 'b'))})),
       "TIT2:201 TPE1:2 pad:0", "TPE1", Str(Latin1(1, 'b')), {}},
      {"frame unsynchronised", Id3v2Tag(4, 0, Frame24("PRIV", Unsync({'o', 0, 0xFF, 0xE0, 0xFF, 0}), 0, 0x02)),
       "PRIV:6 pad:0", "PRIV", Str({'o', 0, 0xFF, 0xE0, 0xFF, 0}), {'o', 0, 0xFF, 0, 0xE0, 0xFF, 0, 0}},
      {"tag unsynchronised only", Id3v2Tag(4, 0x80, Concat({Frame24("TIT2", Unsync({0, 'a', 0xFF, 0})), Bytes(20, 0)})),
       "TIT2:4 pad:20", "TIT2", Str({0, 'a', 0xFF, 0}), {}},
      {"data length indicator", Id3v2Tag(4, 0, Frame24("TPE1", Concat({SyncSafe(4), Latin1(3, 'c')}), 0, 0x01)),
       "TPE1:4 pad:0", "TPE1", Str(Latin1(3, 'c')), Latin1(3, 'c')},
      {"compressed", Id3v2Tag(4, 0, Frame24("TALB", Concat({SyncSafe(301), zipped}), 0, 0x09)),
       "TALB:301 pad:0", "TALB", Str(Latin1(300, 'x')), zipped},
      {"compressed and unsynchronised",
       Id3v2Tag(4, 0, Frame24("APIC", Concat({SyncSafe(uint32_t(picture.size())), Unsync(Deflate(picture))}), 0, 0x0B)),
       "APIC:318 pad:0", "APIC", Str(picture), {}},
      {"forged data length indicator", Id3v2Tag(4, 0, Frame24("TALB", Concat({SyncSafe(0x0FFFFFFF), zipped}), 0, 0x09)),
       "TALB:301 pad:0", "TALB", Str(Latin1(300, 'x')), {}},
      {"damaged zlib data", Id3v2Tag(4, 0, Frame24("TALB", Concat({SyncSafe(9), Text("not zlib")}), 0, 0x09)),
       "TALB:8 pad:0", "TALB", "E12", {}},
      {"grouped and encrypted", Id3v2Tag(4, 0, Frame24("PRIV", Concat({{0x33, 0x80}, Text("secret")}), 0, 0x44)),
       "PRIV:6 pad:0", "PRIV", "secret", Text("secret")},
      {"encrypted data stays compressed",
       Id3v2Tag(4, 0, Frame24("TALB", Concat({{0x80}, SyncSafe(301), zipped}), 0, 0x0D)),
       "TALB:" + std::to_string(zipped.size()) + " pad:0", "TALB", Str(zipped), zipped},
      {"footer", Concat({Id3v2Tag(4, 0x10, Frame24("TIT2", Latin1(2, 'f'))), Text("3DI"), {4, 0, 0x10}, SyncSafe(13)}),
       "TIT2:3 pad:0", "TIT2", Str(Latin1(2, 'f')), {}},
      {"extended header", Id3v2Tag(4, 0x40, Concat({kCrcExtHeader, Frame24("TIT2", Latin1(2, 'e')), Bytes(9, 0)})),
       "TIT2:3 pad:9", "TIT2", Str(Latin1(2, 'e')), {}},
      {"plain sizes, a byte with bit 7", Id3v2Tag(4, 0, Concat({PlainSized("TIT2", Latin1(199, 'p')), PlainSized("TPE1", Latin1(1, 'q'))})),
       "TIT2:200 TPE1:2 pad:0", "TPE1", Str(Latin1(1, 'q')), {}},
      {"plain sizes, the walk decides",
       Id3v2Tag(4, 0, Concat({PlainSized("TIT2", Latin1(255, 'p')), PlainSized("TPE1", Latin1(1, 'q')), Bytes(10, 0)})),
       "TIT2:256 TPE1:2 pad:10", "TPE1", Str(Latin1(1, 'q')), {}},
      {"compressed ID3v2.3 frame", Id3v2Tag(3, 0, Frame23("TALB", Concat({Be32(301), zipped}), 0, 0x80)),
       "TALB:301 pad:0", "TALB", Str(Latin1(300, 'x')), zipped},
  };
  for (const auto& c : cases) {
    for (int session = 0; session < 2; ++session) {
      SCOPED_TRACE(std::string(c.name) + (session ? " in a read session" : ""));
      EngineFile file(Concat({c.file, Audio(100)}));
      tlx_id3_context* ctx = WithOption(file);
      if (session) tlx_id3_read_session_begin(ctx);
      EXPECT_EQ(c.frames, Frames(ctx));
      EXPECT_EQ(c.data, DataOf(ctx, c.id));
      if (!c.streamed.empty()) {
        EXPECT_EQ(c.streamed, Streamed(ctx, c.id));
      }
      tlx_id3_read_session_end(ctx);
    }
  }
}

TEST(Id3V24, HeaderRecordsOfFlagsAndExtraBytes) {
  EngineFile file(Concat({Id3v2Tag(4, 0x70, Concat({kCrcExtHeader, Frame24("PRIV", Concat({{0x33, 0x80}, SyncSafe(2), Text("xy")}), 0x70, 0x47)})),
                          Text("3DI"), {4, 0, 0x70}, SyncSafe(30), Audio(10)}));
  tlx_id3_context* ctx = WithOption(file);
  tlx_id3_v2_header h;
  ASSERT_EQ(0, tlx_id3_v2_get_header(ctx, &h));
  EXPECT_EQ(std::vector<int32_t>({TLX_ID3_V24, 30, 0, 0, 1, 1, 1}),
            std::vector<int32_t>({h.version, h.size, h.unsync, h.compression, h.has_ext_header, h.experimental, h.has_footer}));
  tlx_id3_v2_extended_header e;
  ASSERT_EQ(0, tlx_id3_v2_get_extended_header(ctx, &e));
  EXPECT_EQ(1, e.has_crc);
  EXPECT_EQ(Bytes({0x01, 0x23, 0x45, 0x67, 0x0F}), Bytes(e.crc, e.crc + 5));
  tlx_id3_v2_frame_header f;
  ASSERT_EQ(0, tlx_id3_v2_get_frame_header(ctx, Id("PRIV"), 0, &f));
  EXPECT_EQ(std::vector<uint32_t>({2, 1, 1, 1, 1, 0, 1, 1, 1, 0x33, 0x80, 2}),
            std::vector<uint32_t>({f.size, uint32_t(f.tag_alter_preserve), uint32_t(f.file_alter_preserve),
                                   uint32_t(f.read_only), uint32_t(f.grouping), uint32_t(f.compression),
                                   uint32_t(f.encryption), uint32_t(f.unsync), uint32_t(f.data_length), f.group_id,
                                   f.encryption_method, f.decompressed_size}));
  uint32_t offset = 0;
  ASSERT_EQ(0, tlx_id3_v2_get_frame_data_offset(ctx, Id("PRIV"), 0, &offset));
  EXPECT_EQ(10u + 12 + 10, offset);
}

// An edit keeps the tag ID3v2.4; each stored frame is written so that it
// stands on its own, and extended header, footer and the tag's
// unsynchronisation flag are dropped.
TEST_F(EngineTest, Id3V24EditsStayV24) {
  const Bytes own_unsync = Frame24("TIT2", Unsync({0, 'a', 0xFF, 0}), 0, 0x02);
  const Bytes read_only = Frame24("COMM", Concat({{0}, Text("eng"), {0}, Text("c")}), 0x10);
  const Bytes audio = Audio(500);
  const struct {
    const char* name;
    Bytes stored;
    std::function<void(tlx_id3_context*)> edit;
    Bytes body;
  } cases[] = {
      {"frames edited, extended header and footer dropped",
       Concat({Id3v2Tag(4, 0xD0, Concat({kCrcExtHeader, own_unsync, Frame24("TPE1", Unsync({0, 'c', 0xFF, 0})),
                                         Frame24("TALB", Latin1(1, 'e')), read_only})),
               Text("3DI"), {4, 0, 0xD0}, SyncSafe(0)}),
       [](tlx_id3_context* ctx) {
         EXPECT_EQ(0, tlx_id3_v2_remove_frame(ctx, Id("TALB"), 0));
         EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_remove_frame(ctx, Id("COMM"), 0));
         const Bytes text = {3, 'x'};
         const tlx_id3_v2_frame_header tpe1 = FrameRecord("TPE1", 2);
         EXPECT_EQ(0, tlx_id3_v2_update_frame(ctx, &tpe1, text.data(), 0));
         tlx_id3_v2_frame_header priv = FrameRecord("PRIV", 5);
         priv.read_only = priv.grouping = priv.data_length = 1;
         priv.group_id = 7;
         priv.decompressed_size = 5;
         EXPECT_EQ(0, tlx_id3_v2_add_frame(ctx, &priv, Text("hello").data()));
         EXPECT_EQ(0, tlx_id3_v2_remove_extended_header(ctx));
         tlx_id3_v2_extended_header ext{};
         EXPECT_EQ(TLX_ID3_E_UNSUPPORTED, tlx_id3_v2_add_extended_header(ctx, &ext));
       },
       Concat({own_unsync, Frame24("TPE1", {3, 'x'}), read_only, Frame24("PRIV", Concat({{7}, SyncSafe(5), Text("hello")}), 0x10, 0x41)})},
      {"tag unsynchronisation removed from frames without their own flag",
       Id3v2Tag(4, 0x80, Concat({own_unsync, Frame24("TPE1", Concat({SyncSafe(4), Unsync({0, 'c', 0xFF, 0})}), 0, 0x01)})),
       [](tlx_id3_context*) {}, Concat({own_unsync, Frame24("TPE1", Concat({SyncSafe(4), {0, 'c', 0xFF, 0}}), 0, 0x01)})},
      {"plain sizes written sync-safe", Id3v2Tag(4, 0, Concat({PlainSized("TIT2", Latin1(199, 'p')), PlainSized("TPE1", {0, 'q'})})),
       [](tlx_id3_context*) {}, Concat({Frame24("TIT2", Latin1(199, 'p')), Frame24("TPE1", {0, 'q'})})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Put(Concat({c.stored, audio}));
    {
      Context ctx(path_);
      ASSERT_EQ(0, tlx_id3_set_options(ctx.get(), TLX_ID3_OPTION_V24));
      ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
      c.edit(ctx.get());
      ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
    }
    EXPECT_EQ(Rewritten(4, 0, c.body, audio), Contents());
  }
  // Padding alone: the stored flags stay, but not those of what is dropped.
  Put(Concat({cases[0].stored, audio}));
  Context ctx(path_);
  ASSERT_EQ(0, tlx_id3_set_options(ctx.get(), TLX_ID3_OPTION_V24));
  ASSERT_EQ(0, tlx_id3_v2_adjust_padding_size(ctx.get(), 0));
  const Bytes stored_frames(cases[0].stored.begin() + 10 + kCrcExtHeader.size(), cases[0].stored.end() - 10);
  const Bytes frames = Concat({own_unsync, Frame24("TPE1", {0, 'c', 0xFF, 0}), Frame24("TALB", Latin1(1, 'e')), read_only});
  EXPECT_EQ(Concat({Id3v2Tag(4, 0, frames), audio}), Contents());
  EXPECT_TRUE(NoTempFiles());
}

// Without the option an ID3v2.4 tag is refused by every entry point, as
// every other unsupported version.
TEST_F(EngineTest, Id3V24RefusedWithoutTheOption) {
  const Bytes file = Concat({Id3v2Tag(4, 0x40, Concat({kCrcExtHeader, Frame24("TIT2", Latin1(2, 'a'))})), Audio(100)});
  Put(file);
  Context context(path_);
  tlx_id3_context* ctx = context.get();
  tlx_id3_v2_header h;
  tlx_id3_v2_extended_header e;
  tlx_id3_v2_frame_header f = FrameRecord("TIT2", 1);
  uint32_t n = 0;
  uint8_t buffer[8];
  const std::pair<const char*, std::function<int32_t()>> calls[] = {
      {"get_header", [&] { return tlx_id3_v2_get_header(ctx, &h); }},
      {"get_extended_header", [&] { return tlx_id3_v2_get_extended_header(ctx, &e); }},
      {"get_padding_size", [&] { return tlx_id3_v2_get_padding_size(ctx, &n); }},
      {"get_frame_total_num", [&] { return tlx_id3_v2_get_frame_total_num(ctx, &n); }},
      {"get_frame_header_by_index", [&] { return tlx_id3_v2_get_frame_header_by_index(ctx, 0, &f); }},
      {"get_frame_header", [&] { return tlx_id3_v2_get_frame_header(ctx, Id("TIT2"), 0, &f); }},
      {"get_frame_data", [&] { return tlx_id3_v2_get_frame_data(ctx, Id("TIT2"), 0, &(n = 8), buffer); }},
      {"get_frame_data_offset", [&] { return tlx_id3_v2_get_frame_data_offset(ctx, Id("TIT2"), 0, &n); }},
      {"get_frame_data_init", [&] { return tlx_id3_v2_get_frame_data_init(ctx, Id("TIT2"), 0); }},
      {"get_frame_data_init_by_index", [&] { return tlx_id3_v2_get_frame_data_init_by_index(ctx, 0); }},
      {"edit_frame_init", [&] { return tlx_id3_v2_edit_frame_init(ctx, &f, TLX_ID3_PLACE_APPEND, 0); }},
      {"adjust_padding_size", [&] { return tlx_id3_v2_adjust_padding_size(ctx, 0); }},
  };
  for (const auto& call : calls) {
    EXPECT_EQ(TLX_ID3_E_UNSUPPORTED, call.second()) << call.first;
    EXPECT_EQ(TLX_ID3_STATE_IDLE, ctx->state) << call.first;
  }
  EXPECT_EQ(file, Contents());
}

}  // namespace
}  // namespace tagkit_test
