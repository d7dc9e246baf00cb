// The editing transaction: list edits and the streaming of one frame, checked
// through the exact bytes of the rewritten file.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "engine_file.h"

namespace tagkit_test {
namespace {

Bytes T(const std::string& id, const std::string& text, uint8_t status = 0) {
  return Frame23(id, Concat({{0}, Text(text)}), status);
}

const Bytes kTit2 = T("TIT2", "title"), kTpe1a = T("TPE1", "first"), kTalb = T("TALB", "album"),
            kTpe1b = T("TPE1", "second"), kTcon = T("TCON", "rock");
const Bytes kStored = Id3v2Tag(3, 0, Concat({kTit2, kTpe1a, kTalb, kTpe1b, Bytes(50, 0)}));

// Adds (or updates the occurrence-th frame with the id of) an encoded frame.
int32_t Add(tlx_id3_context* ctx, const Bytes& frame, bool at_head = false, int update = -1) {
  const tlx_id3_v2_frame_header record =
      FrameRecord(std::string(frame.begin(), frame.begin() + 4), uint32_t(frame.size() - 10));
  if (update >= 0) return tlx_id3_v2_update_frame(ctx, &record, frame.data() + 10, uint32_t(update));
  return at_head ? tlx_id3_v2_add_frame_at_head(ctx, &record, frame.data() + 10)
                 : tlx_id3_v2_add_frame(ctx, &record, frame.data() + 10);
}

using Id3Edit = EngineTest;

TEST_F(Id3Edit, ListEditsGiveTheExpectedFrameOrder) {
  const uint32_t tpe1 = Id("TPE1");
  const struct {
    const char* name;
    std::function<void(tlx_id3_context*)> edit;
    Bytes frames;  // of the rewritten tag, in order
  } cases[] = {
      {"remove the second occurrence", [&](tlx_id3_context* c) { EXPECT_EQ(0, tlx_id3_v2_remove_frame(c, tpe1, 1)); },
       Concat({kTit2, kTpe1a, kTalb})},
      {"remove the first occurrence", [&](tlx_id3_context* c) { EXPECT_EQ(0, tlx_id3_v2_remove_frame(c, tpe1, 0)); },
       Concat({kTit2, kTalb, kTpe1b})},
      {"add at the end keeps the frames of that id", [](tlx_id3_context* c) { EXPECT_EQ(0, Add(c, kTpe1a)); },
       Concat({kTit2, kTpe1a, kTalb, kTpe1b, kTpe1a})},
      {"add at the head", [](tlx_id3_context* c) { EXPECT_EQ(0, Add(c, kTcon, true)); },
       Concat({kTcon, kTit2, kTpe1a, kTalb, kTpe1b})},
      {"update in place", [](tlx_id3_context* c) { EXPECT_EQ(0, Add(c, T("TPE1", "x"), false, 1)); },
       Concat({kTit2, kTpe1a, kTalb, T("TPE1", "x")})},
      {"remove everything, then add",
       [&](tlx_id3_context* c) {
         for (const char* id : {"TIT2", "TPE1", "TALB", "TPE1"}) EXPECT_EQ(0, tlx_id3_v2_remove_frame(c, Id(id), 0));
         EXPECT_EQ(0, Add(c, kTcon));
       },
       kTcon},
      {"an added frame can be updated and removed",
       [&](tlx_id3_context* c) {
         EXPECT_EQ(0, Add(c, kTcon, true));
         EXPECT_EQ(0, Add(c, T("TCON", "jazz"), false, 0));
         EXPECT_EQ(0, Add(c, T("TPE1", "third")));
         EXPECT_EQ(0, tlx_id3_v2_remove_frame(c, tpe1, 2));
       },
       Concat({T("TCON", "jazz"), kTit2, kTpe1a, kTalb, kTpe1b})},
  };
  const Bytes audio = Audio(3000);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Put(Concat({kStored, audio}));
    EXPECT_EQ(0, EditFile(path_, c.edit));
    EXPECT_EQ(Rewritten(3, 0, c.frames, audio), Contents());
    EXPECT_TRUE(NoTempFiles());
  }
}

TEST_F(Id3Edit, RefusedEditsLeaveTheListAsItWas) {
  const Bytes locked = T("TCOP", "(c)", 0x20);  // status: read only
  const Bytes audio = Audio(500);
  Context ctx(Put(Concat({Id3v2Tag(3, 0, Concat({kTit2, locked, Bytes(20, 0)})), audio})));
  EXPECT_EQ(TLX_ID3_E_STATE, Add(ctx.get(), kTcon));  // no transaction yet
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_remove_frame(ctx.get(), Id("TIT2"), 0));
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_edit_end(ctx.get()));
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_edit_begin(ctx.get()));
  EXPECT_EQ(TLX_ID3_E_NOT_FOUND, tlx_id3_v2_remove_frame(ctx.get(), Id("TIT2"), 1));
  EXPECT_EQ(TLX_ID3_E_NOT_FOUND, Add(ctx.get(), kTalb, false, 0));
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_remove_frame(ctx.get(), Id("TCOP"), 0));
  EXPECT_EQ(TLX_ID3_E_PARAM, Add(ctx.get(), T("TCOP", "new"), false, 0));
  // A read-only frame made in this transaction is not protected.
  tlx_id3_v2_frame_header record = FrameRecord("TCOP", 2);
  record.read_only = 1;
  EXPECT_EQ(0, tlx_id3_v2_add_frame(ctx.get(), &record, kTcon.data()));
  EXPECT_EQ(0, tlx_id3_v2_remove_frame(ctx.get(), Id("TCOP"), 1));
  ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
  EXPECT_EQ(Rewritten(3, 0, Concat({kTit2, locked}), audio), Contents());
}

TEST_F(Id3Edit, FrameHeadersAreEncodedPerVersion) {
  // ID3v2.3: flags, then extra bytes in the order decompressed size,
  // encryption method, group id, counted in the size field.
  const Bytes data = Audio(100), audio = Audio(700);
  Put(Concat({Id3v2Tag(3, 0, Bytes(30, 0)), audio}));
  EXPECT_EQ(0, EditFile(path_, [&](tlx_id3_context* ctx) {
    tlx_id3_v2_frame_header all = FrameRecord("APIC", 100);
    all.encryption = all.compression = all.grouping = all.read_only = all.file_alter_preserve = 1;
    all.tag_alter_preserve = 1;
    all.encryption_method = 0x81;
    all.group_id = 0x82;
    all.decompressed_size = 0x01020304;
    EXPECT_EQ(0, tlx_id3_v2_add_frame(ctx, &all, data.data()));
  }));
  EXPECT_EQ(Rewritten(3, 0, Concat({Text("APIC"), Be32(106), {0xE0, 0xE0}, Be32(0x01020304), {0x81, 0x82}, data}),
                      audio),
            Contents());
  // ID3v2.2: three-character id and a 24-bit size; no flags.
  Put(Concat({Id3v2Tag(2, 0, Concat({Frame22("TT2", Text("abc")), Bytes(10, 0)})), audio}));
  EXPECT_EQ(0, EditFile(path_, [&](tlx_id3_context* ctx) {
    EXPECT_EQ(0, tlx_id3_v2_remove_frame(ctx, Id("TT2"), 0));
    tlx_id3_v2_frame_header record = FrameRecord("TP1", 5);
    record.compression = 1;
    EXPECT_EQ(0, tlx_id3_v2_add_frame(ctx, &record, data.data()));
    record.size = 0x1000000;  // does not fit
    EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_add_frame(ctx, &record, data.data()));
  }));
  EXPECT_EQ(Rewritten(2, 0, Frame22("TP1", Bytes(data.begin(), data.begin() + 5)), audio), Contents());
}

TEST_F(Id3Edit, EditingAFileWithoutTagCreatesAnId3v23Tag) {
  const Bytes audio = Audio(2000);
  Context ctx(Put(audio));
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  ASSERT_EQ(0, Add(ctx.get(), kTit2));
  ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
  EXPECT_EQ(Rewritten(3, 0, kTit2, audio), Contents());
  // The context goes on with the new file.
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  ASSERT_EQ(0, tlx_id3_v2_remove_frame(ctx.get(), Id("TIT2"), 0));
  ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
  EXPECT_EQ(Rewritten(3, 0, {}, audio), Contents());
}

#if defined(TLX_FAULT_INJECTION)
// A read failing while the frames are listed: a partial list would drop the
// unlisted frames at the commit, so no transaction stays open.
TEST_F(Id3Edit, BeginThatCannotListTheTagOpensNoTransaction) {
  const Bytes file = Concat({kStored, Audio(100)});
  Context ctx(Put(file));
  tlx_fault_reset();
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  const uint32_t reads = tlx_fault_calls(TLX_FAULT_READ);  // the last one lists a frame
  tlx_id3_v2_reset_work(ctx.get());
  ASSERT_GT(reads, 2u);
  tlx_fault_reset();
  tlx_fault_arm(TLX_FAULT_READ, reads);
  EXPECT_EQ(TLX_ID3_E_READ, tlx_id3_v2_edit_begin(ctx.get()));
  tlx_fault_reset();
  EXPECT_EQ(TLX_ID3_STATE_IDLE, ctx->state);
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_edit_end(ctx.get()));
  EXPECT_EQ(file, Contents());
}
#endif

TEST_F(Id3Edit, StreamedFrameArrivesInPieces) {
  const Bytes audio = Audio(5000), data = Audio(10000);
  Context ctx(Put(Concat({Id3v2Tag(3, 0, Concat({kTit2, kTalb, Bytes(100, 0)})), audio})));
  const tlx_id3_v2_frame_header record = FrameRecord("APIC", 10000);
  ASSERT_EQ(0, tlx_id3_v2_edit_frame_init(ctx.get(), &record, TLX_ID3_PLACE_APPEND, 0));
  EXPECT_EQ(TLX_ID3_STATE_WRITING, ctx->state);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(0, tlx_id3_v2_edit_frame_progress(ctx.get(), 3000, data.data() + 3000 * i));
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_edit_frame_progress(ctx.get(), 3000, data.data() + 9000));  // too much
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_edit_begin(ctx.get()));
  ASSERT_EQ(0, tlx_id3_v2_edit_frame_progress(ctx.get(), 999, data.data() + 9000));
  // One byte short: fin refuses, and the caller may deliver the rest.
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_edit_frame_fin(ctx.get()));
  ASSERT_EQ(0, tlx_id3_v2_edit_frame_progress(ctx.get(), 1, data.data() + 9999));
  ASSERT_EQ(0, tlx_id3_v2_edit_frame_fin(ctx.get()));
  EXPECT_EQ(TLX_ID3_STATE_IDLE, ctx->state);
  EXPECT_EQ(Rewritten(3, 0, Concat({kTit2, kTalb, Frame23("APIC", data)}), audio), Contents());
}

TEST_F(Id3Edit, StreamedFramePlacements) {
  const Bytes audio = Audio(1234), data = Audio(5000), f = Frame23("TPE1", data);
  const struct {
    int32_t placement;
    uint32_t occurrence;
    Bytes frames;
  } cases[] = {{TLX_ID3_PLACE_HEAD, 0, Concat({f, kTit2, kTpe1a, kTalb, kTpe1b})},
               {TLX_ID3_PLACE_REPLACE, 1, Concat({kTit2, kTpe1a, kTalb, f})},
               {TLX_ID3_PLACE_REPLACE, 0, Concat({kTit2, f, kTalb, kTpe1b})}};
  for (const auto& c : cases) {
    Context ctx(Put(Concat({kStored, audio})));
    const tlx_id3_v2_frame_header record = FrameRecord("TPE1", 5000);
    ASSERT_EQ(0, tlx_id3_v2_edit_frame_init(ctx.get(), &record, c.placement, c.occurrence));
    ASSERT_EQ(0, tlx_id3_v2_edit_frame_progress(ctx.get(), 5000, data.data()));
    ASSERT_EQ(0, tlx_id3_v2_edit_frame_fin(ctx.get()));
    EXPECT_EQ(Rewritten(3, 0, c.frames, audio), Contents()) << c.placement << " " << c.occurrence;
  }
}

// A tag that overruns the file, or a frame that overruns the tag, is read as
// far as it goes, but every edit is refused: the rewrite would drop the
// audio data, or the frames, behind the damage.
TEST_F(Id3Edit, DamagedTagsAreReadButNeverRewritten) {
  const Bytes overrun = Concat({Text("TPE1"), Be32(500), {0, 0}, Bytes(20, 'x')});
  const Bytes endless = Concat({Text("TPE1"), Be32(0xFFFFFFFF), {0, 0}, Bytes(20, 'x')});
  const Bytes cases[] = {
      Concat({Text("ID3"), {3, 0, 0}, SyncSafe(5000), kTit2, Bytes(40, 0), Audio(300)}),
      Concat({Id3v2Tag(3, 0, Concat({kTit2, overrun})), Audio(1000)}),
      Concat({Id3v2Tag(3, 0, Concat({kTit2, endless})), Audio(1000)}),
      Concat({Id3v2Tag(4, 0, Concat({Frame24("TIT2", Text("\3t")), Text("TPE1"), SyncSafe(500), {0, 0},
                                     Bytes(20, 'x')})),
              Audio(1000)}),
  };
  const tlx_id3_v2_frame_header record = FrameRecord("APIC", 10);
  for (const Bytes& file : cases) {
    SCOPED_TRACE(testing::Message() << "case of " << file.size() << " bytes");
    Context ctx(Put(file));
    ASSERT_EQ(0, tlx_id3_set_options(ctx.get(), TLX_ID3_OPTION_V24));
    uint32_t titles = 0;
    EXPECT_EQ(0, tlx_id3_v2_get_frame_num(ctx.get(), Id("TIT2"), &titles));
    EXPECT_EQ(1u, titles);
    EXPECT_EQ(TLX_ID3_E_CORRUPT, tlx_id3_v2_edit_begin(ctx.get()));
    EXPECT_EQ(TLX_ID3_E_CORRUPT, tlx_id3_v2_edit_frame_init(ctx.get(), &record, TLX_ID3_PLACE_APPEND, 0));
    EXPECT_EQ(TLX_ID3_E_CORRUPT, tlx_id3_v2_adjust_padding_size(ctx.get(), 100));
    EXPECT_EQ(TLX_ID3_STATE_IDLE, ctx->state);
    EXPECT_EQ(file, Contents());
  }
  EXPECT_TRUE(NoTempFiles());
}

TEST_F(Id3Edit, RefusedStreamingLeavesTheFileAlone) {
  const Bytes locked = Concat({Id3v2Tag(3, 0, Concat({kTit2, T("TPE1", "ro", 0x20)})), Audio(100)});
  const tlx_id3_v2_frame_header record = FrameRecord("TPE1", 10);
  const uint8_t data[10] = {0};
  const struct {
    Bytes file;
    int32_t placement, occurrence, rc;
  } cases[] = {
      {locked, 3, 0, TLX_ID3_E_PARAM},                               // no such placement
      {locked, TLX_ID3_PLACE_REPLACE, 1, TLX_ID3_E_NOT_FOUND},
      {locked, TLX_ID3_PLACE_REPLACE, 0, TLX_ID3_E_PARAM},           // read only
      {Audio(300), TLX_ID3_PLACE_APPEND, 0, TLX_ID3_E_NOT_FOUND},    // no tag to place it in
  };
  for (const auto& c : cases) {
    Context ctx(Put(c.file));
    EXPECT_EQ(c.rc, tlx_id3_v2_edit_frame_init(ctx.get(), &record, c.placement, uint32_t(c.occurrence)));
    EXPECT_EQ(TLX_ID3_STATE_IDLE, ctx->state);
    EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_edit_frame_progress(ctx.get(), 10, data));
    EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_edit_frame_fin(ctx.get()));
    ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));  // dropped with the context
    EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_edit_frame_init(ctx.get(), &record, 0, 0));
    EXPECT_EQ(c.file, Contents());
  }
  EXPECT_TRUE(NoTempFiles());
}

}  // namespace
}  // namespace tagkit_test
