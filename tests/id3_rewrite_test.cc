// The rewrite through a temporary file: exact bytes of the rewritten file,
// padding, header flags, the extended header, the padding adjustment, and the
// refusals and failures that must leave the file as it was.
#include <gtest/gtest.h>

#include <functional>

#include "engine_file.h"

namespace tagkit_test {
namespace {

// A zero byte after every 0xFF: a valid unsynchronisation.
Bytes Unsynchronise(const Bytes& in) {
  Bytes out;
  for (uint8_t b : in) {
    out.push_back(b);
    if (b == 0xFF) out.push_back(0);
  }
  return out;
}

// Extended header: size field 6 (10 with a CRC), flags, padding size.
Bytes ExtHeader(uint32_t padding, const Bytes& crc = {}) {
  return Concat({Be32(crc.empty() ? 6 : 10), {uint8_t(crc.empty() ? 0 : 0x80), 0}, Be32(padding), crc});
}

uint32_t PadFor(size_t frames_end) { return 1024 - uint32_t(frames_end % 16); }

void SetFlags(tlx_id3_context* ctx, int32_t unsync, int32_t second, int32_t ext, int32_t experimental) {
  const int32_t flags[4] = {unsync, second, ext, experimental};
  EXPECT_EQ(0, tlx_id3_v2_set_header_flag_info(ctx, flags));
}

const Bytes kTit2 = Frame23("TIT2", Concat({{0}, Text("title")}));
const Bytes kFrames23 = Concat({kTit2, Frame23("PRIV", {'o', 0, 0xFF, 0x00, 0xFF, 0xE0, 0x41, 0xFF})});
const Bytes kTt2 = Frame22("TT2", Concat({{0}, Text("title")}));
const Bytes kFrames22 = Concat({kTt2, Frame22("PIC", {'P', 0, 0xFF, 0xFB, 0xFF})});
const Bytes kAudio = Audio(4500);

using Id3Rewrite = EngineTest;

TEST_F(Id3Rewrite, RewrittenFilesHaveTheExactBytes) {
  auto none = [](tlx_id3_context*) {};
  const size_t ext_end = 10 + 10 + kFrames23.size();
  const struct {
    const char* name;
    Bytes file;
    std::function<void(tlx_id3_context*)> edit;
    Bytes expected;
  } cases[] = {
      {"ID3v2.3", Concat({Id3v2Tag(3, 0, Concat({kFrames23, Bytes(300, 0)})), kAudio}), none,
       Rewritten(3, 0, kFrames23, kAudio)},
      {"ID3v2.2 frames filling the tag", Concat({Id3v2Tag(2, 0, kFrames22), kAudio}), none,
       Rewritten(2, 0, kFrames22, kAudio)},
      {"extended header kept, its padding field brought up to date",
       Concat({Id3v2Tag(3, 0x40, Concat({ExtHeader(77), kFrames23, Bytes(77, 0)})), kAudio}),
       [](tlx_id3_context* c) { SetFlags(c, 0, 0, 1, 0); },
       Rewritten(3, 0x40, Concat({ExtHeader(PadFor(ext_end)), kFrames23}), kAudio)},
      {"extended header whose size field claims a CRC its flags deny",
       Concat({Id3v2Tag(3, 0x40, Concat({Be32(10), {0, 0}, Be32(0), Be32(0x11223344), kFrames23})), kAudio}),
       [](tlx_id3_context* c) { SetFlags(c, 0, 0, 1, 0); },
       Rewritten(3, 0x40, Concat({ExtHeader(PadFor(ext_end)), kFrames23}), kAudio)},
      {"extended header with CRC removed",
       Concat({Id3v2Tag(3, 0x40, Concat({ExtHeader(0, {1, 2, 3, 4}), kFrames23})), kAudio}),
       [](tlx_id3_context* c) { EXPECT_EQ(0, tlx_id3_v2_remove_extended_header(c)); },
       Rewritten(3, 0, kFrames23, kAudio)},
      {"unsynchronised ID3v2.3 written plain",
       Concat({Id3v2Tag(3, 0x80, Concat({Unsynchronise(kFrames23), Bytes(40, 0)})), kAudio}), none,
       Rewritten(3, 0, kFrames23, kAudio)},
      {"unsynchronised ID3v2.2 with a frame removed",
       Concat({Id3v2Tag(2, 0x80, Unsynchronise(Concat({kFrames22, kFrames22}))), kAudio}),
       [](tlx_id3_context* c) { EXPECT_EQ(0, tlx_id3_v2_remove_frame(c, Id("PIC"), 0)); },
       Rewritten(2, 0, Concat({kTt2, kFrames22}), kAudio)},
      {"experimental flag dropped unless set", Concat({Id3v2Tag(3, 0x20, kFrames23), kAudio}), none,
       Rewritten(3, 0, kFrames23, kAudio)},
      {"flags set in the transaction; unsynchronisation never written",
       Concat({Id3v2Tag(3, 0, kFrames23), kAudio}), [](tlx_id3_context* c) { SetFlags(c, 1, 1, 0, 1); },
       Rewritten(3, 0x20, kFrames23, kAudio)},
      {"file without a tag", kAudio, none, Rewritten(3, 0, {}, kAudio)},
      {"stored header of size 0 is not audio", Concat({Id3v2Tag(3, 0, {}), kAudio}), none,
       Rewritten(3, 0, {}, kAudio)},
      {"ID3v2.4 tag kept behind a new tag", Concat({Id3v2Tag(4, 0, kFrames23), kAudio}), none,
       Rewritten(3, 0, {}, Concat({Id3v2Tag(4, 0, kFrames23), kAudio}))},
      {"no audio", Id3v2Tag(3, 0, kFrames23), none, Rewritten(3, 0, kFrames23, {})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Put(c.file);
    EXPECT_EQ(0, EditFile(path_, c.edit));
    EXPECT_EQ(c.expected, Contents());
    EXPECT_TRUE(NoTempFiles());
  }
}

TEST_F(Id3Rewrite, PaddingMakesTheTagAMultipleOf16) {
  for (auto c : {std::make_pair(4096u, 1024u), std::make_pair(4111u, 1009u), std::make_pair(21u, 1019u)}) {
    Put(Concat({Id3v2Tag(3, 0, Concat({Frame23("PRIV", Bytes(c.first - 20, 'x')), Bytes(3000, 0)})), Audio(10)}));
    EXPECT_EQ(0, EditFile(path_, [](tlx_id3_context*) {}));
    const Bytes got = Contents();
    EXPECT_EQ(SyncSafe(c.first + c.second - 10), Bytes(got.begin() + 6, got.begin() + 10)) << c.first;
    EXPECT_EQ(c.first + c.second + 10, got.size()) << c.first;
  }
}

TEST_F(Id3Rewrite, ExtendedHeaderRules) {
  const Bytes with_ext = Concat({Id3v2Tag(3, 0x40, Concat({ExtHeader(0), kTit2})), kAudio});
  Context ctx(Put(with_ext));
  EXPECT_EQ(TLX_ID3_E_UNSUPPORTED, tlx_id3_v2_remove_extended_header(ctx.get()));  // no transaction
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  // A held extended header disagrees with an unset flags byte.
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_edit_end(ctx.get()));
  EXPECT_EQ(TLX_ID3_STATE_EDITING, ctx->state);
  EXPECT_EQ(with_ext, Contents());
  // The transaction survived: a CRC is added and the commit goes through.
  tlx_id3_v2_extended_header ext{};
  ext.padding_size = 5;
  ext.has_crc = 1;
  ext.crc[0] = 9;
  ext.crc[3] = 8;
  ASSERT_EQ(0, tlx_id3_v2_add_extended_header(ctx.get(), &ext));
  SetFlags(ctx.get(), 0, 0, 1, 0);
  ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
  EXPECT_EQ(Rewritten(3, 0x40, Concat({ExtHeader(PadFor(24 + kTit2.size()), {9, 0, 0, 8}), kTit2}), kAudio),
            Contents());
  // Updated without its CRC.
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  ext.has_crc = 0;
  ASSERT_EQ(0, tlx_id3_v2_add_extended_header(ctx.get(), &ext));
  SetFlags(ctx.get(), 0, 0, 1, 0);
  ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
  EXPECT_EQ(Rewritten(3, 0x40, Concat({ExtHeader(PadFor(20 + kTit2.size())), kTit2}), kAudio), Contents());
  // Only ID3v2.3 has one; without a stored tag there is no header to clear.
  for (const auto& c : {std::make_pair(Id3v2Tag(2, 0, kFrames22), TLX_ID3_E_UNSUPPORTED),
                        std::make_pair(Audio(50), TLX_ID3_E_NOT_FOUND)}) {
    ctx.Close();  // a file held open cannot be rewritten on Windows
    ctx.Open(Put(c.first));
    ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
    EXPECT_EQ(c.second, tlx_id3_v2_remove_extended_header(ctx.get()));
    EXPECT_EQ(c.second == TLX_ID3_E_UNSUPPORTED ? c.second : 0, tlx_id3_v2_add_extended_header(ctx.get(), &ext));
  }
}

TEST_F(Id3Rewrite, PaddingAdjustmentChangesOnlyThePadding) {
  const Bytes plain = Concat({Id3v2Tag(3, 0, Concat({kFrames23, Bytes(123, 0)})), kAudio});
  const Bytes ext = Concat({Id3v2Tag(3, 0x60, Concat({ExtHeader(40), kFrames23, Bytes(40, 0)})), kAudio});
  const Bytes v22 = Concat({Id3v2Tag(2, 0, Concat({kFrames22, Bytes(9, 0)})), kAudio});
  const struct {
    const char* name;
    Bytes file;
    uint32_t padding;
    Bytes expected;
  } cases[] = {
      {"same padding, same file", plain, 123, plain},
      {"same padding with extended header and flags", ext, 40, ext},
      {"same padding on ID3v2.2", v22, 9, v22},
      {"no padding", plain, 0, Concat({Id3v2Tag(3, 0, kFrames23), kAudio})},
      {"more padding", plain, 5000, Concat({Id3v2Tag(3, 0, Concat({kFrames23, Bytes(5000, 0)})), kAudio})},
      {"unsynchronised frames lose the flag with the stuffing",
       Concat({Id3v2Tag(3, 0x80, Concat({Unsynchronise(kFrames23), Bytes(20, 0)})), kAudio}), 20,
       Concat({Id3v2Tag(3, 0, Concat({kFrames23, Bytes(20, 0)})), kAudio})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Context ctx(Put(c.file));
    ASSERT_EQ(0, tlx_id3_v2_adjust_padding_size(ctx.get(), c.padding));
    EXPECT_EQ(TLX_ID3_STATE_IDLE, ctx->state);
    EXPECT_EQ(c.expected, Contents());
    EXPECT_TRUE(NoTempFiles());
  }
  Context ctx(Put(plain));
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_adjust_padding_size(ctx.get(), 10));
  ctx.Close();
  ctx.Open(Put(kAudio));
  EXPECT_EQ(TLX_ID3_E_NOT_FOUND, tlx_id3_v2_adjust_padding_size(ctx.get(), 10));
  EXPECT_EQ(kAudio, Contents());
}

// The new file is made beside the old one: an unusable temporary folder (a
// missing folder, a file in place of one) does not matter.
TEST_F(Id3Rewrite, UnusableTemporaryFolderDoesNotMatter) {
  const Bytes original = Concat({Id3v2Tag(3, 0, Concat({kTit2, Bytes(10, 0)})), kAudio});
  const std::string not_a_folder = dir_.File("plain-file");
  WriteFile(not_a_folder, Text("x"));
  for (const std::string& bad : {dir_.File("missing"), not_a_folder}) {
    SCOPED_TRACE(bad);
    ScopedTmpdir unusable(bad);
    Context ctx(Put(original));
    ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
    ASSERT_EQ(0, tlx_id3_v2_remove_frame(ctx.get(), Id("TIT2"), 0));
    ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
    EXPECT_EQ(Rewritten(3, 0, {}, kAudio), Contents());
    ASSERT_EQ(0, tlx_id3_v2_adjust_padding_size(ctx.get(), 0));
    EXPECT_EQ(Concat({Id3v2Tag(3, 0, {}), kAudio}), Contents());
  }
  EXPECT_FALSE(FileExists(dir_.File("missing")));
  EXPECT_EQ(Text("x"), ReadFile(not_a_folder));
  EXPECT_TRUE(NoTempFiles());
}

TEST_F(Id3Rewrite, ReadOnlyContextNeverRewrites) {
  const Bytes original = Concat({Id3v2Tag(3, 0, Concat({kTit2, Bytes(10, 0)})), kAudio});
  Context ctx(Put(original), TLX_ID3_MODE_READ);
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  ASSERT_EQ(0, tlx_id3_v2_remove_frame(ctx.get(), Id("TIT2"), 0));
  EXPECT_EQ(TLX_ID3_E_OPEN, tlx_id3_v2_edit_end(ctx.get()));
  EXPECT_EQ(TLX_ID3_STATE_EDITING, ctx->state);
  ctx.Open(path_, TLX_ID3_MODE_READ);
  const tlx_id3_v2_frame_header record = FrameRecord("TPE1", 4);
  EXPECT_EQ(TLX_ID3_E_OPEN, tlx_id3_v2_edit_frame_init(ctx.get(), &record, 0, 0));
  EXPECT_EQ(TLX_ID3_STATE_IDLE, ctx->state);
  EXPECT_EQ(TLX_ID3_E_OPEN, tlx_id3_v2_adjust_padding_size(ctx.get(), 0));
  EXPECT_EQ(original, Contents());
  EXPECT_TRUE(NoTempFiles());
}

#if defined(TLX_FAULT_INJECTION)
// The rewritten file is reopened and locked again, also after a failed
// rename, so that the transaction can be tried again; a failed reopen after
// the move ends the transaction and says so.
TEST_F(Id3Rewrite, ReplaceKeepsTheContextOnItsFile) {
  const Bytes original = Concat({Id3v2Tag(3, 0, Concat({kTit2, Bytes(10, 0)})), kAudio});
  const Bytes expected = Rewritten(3, 0, {}, kAudio);
  Context ctx(Put(original)), second;
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  ASSERT_EQ(0, tlx_id3_v2_remove_frame(ctx.get(), Id("TIT2"), 0));
  tlx_fault_reset();
  tlx_fault_arm(TLX_FAULT_RENAME, 1);
  EXPECT_EQ(TLX_ID3_E_SYSTEM, tlx_id3_v2_edit_end(ctx.get()));
  tlx_fault_reset();
  EXPECT_EQ(original, Contents());
  EXPECT_TRUE(NoTempFiles());
  EXPECT_EQ(TLX_ID3_STATE_EDITING, ctx->state);
  EXPECT_EQ(TLX_ID3_E_OPEN, second.Open(path_));  // still locked
  ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
  EXPECT_EQ(expected, Contents());
  EXPECT_EQ(TLX_ID3_E_OPEN, second.Open(path_));  // locked again after the replace
  uint32_t count = 9;
  EXPECT_EQ(0, tlx_id3_v2_get_frame_total_num(ctx.get(), &count));
  EXPECT_EQ(0u, count);

  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  tlx_fault_reset();
  tlx_fault_arm(TLX_FAULT_OPEN, 2);  // the temporary file, then the reopen
  EXPECT_EQ(TLX_ID3_E_OPEN, tlx_id3_v2_edit_end(ctx.get()));
  tlx_fault_reset();
  EXPECT_EQ(expected, Contents());
  EXPECT_EQ(TLX_ID3_STATE_IDLE, ctx->state);
  EXPECT_EQ(TLX_INVALID_HANDLE, ctx->fd);
  EXPECT_TRUE(NoTempFiles());
  EXPECT_EQ(TLX_ID3_E_CLOSE, ctx.Close());
  EXPECT_EQ(0, second.Open(path_));
}
#endif

}  // namespace
}  // namespace tagkit_test
