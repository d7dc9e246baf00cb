// The editing transaction: list edits and the streaming of one frame, checked
// through the exact bytes of the rewritten file.
#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rewrite_support.h"
#include "test_support.h"
#include "id3_internal.h"
#include "tlx_id3.h"
#include "tlx_system.h"

namespace tagkit_test {
namespace {

Bytes B(const char* bytes, std::size_t size) { return Bytes(bytes, bytes + size); }

class EditTest : public ::testing::Test {
 protected:
  EditTest() : tmp_(dir_.File("tmp")), tmpdir_(MakeDir(dir_.File("tmp"))) {}

  static const std::string& MakeDir(const std::string& path) {
    mkdir(path.c_str(), 0700);
    return path;
  }

  std::string Put(const Bytes& bytes) {
    std::string path = dir_.File("song.mp3");
    WriteFile(path, bytes);
    return path;
  }

  TempDir dir_;
  std::string tmp_;
  ScopedTmpdir tmpdir_;
};

const Bytes kTit2 = Frame23("TIT2", B("\0title", 6));
const Bytes kTpe1a = Frame23("TPE1", B("\0first", 6));
const Bytes kTalb = Frame23("TALB", B("\0album", 6));
const Bytes kTpe1b = Frame23("TPE1", B("\0second", 7));
const Bytes kTcon = Frame23("TCON", B("\0rock", 5));
const Bytes kTitNew = Frame23("TIT2", B("\0new title", 10));

Bytes StoredTag() {
  return Id3v2Tag(3, 0, Concat({kTit2, kTpe1a, kTalb, kTpe1b, Bytes(50, 0)}));
}

int32_t Add(tlx_id3_context* ctx, const Bytes& frame, bool at_head = false) {
  tlx_id3_v2_frame_header record =
      FrameRecord(std::string(frame.begin(), frame.begin() + 4), static_cast<uint32_t>(frame.size() - 10));
  return at_head ? tlx_id3_v2_add_frame_at_head(ctx, &record, frame.data() + 10)
                 : tlx_id3_v2_add_frame(ctx, &record, frame.data() + 10);
}

int32_t Update(tlx_id3_context* ctx, const Bytes& frame, uint32_t occurrence) {
  tlx_id3_v2_frame_header record =
      FrameRecord(std::string(frame.begin(), frame.begin() + 4), static_cast<uint32_t>(frame.size() - 10));
  return tlx_id3_v2_update_frame(ctx, &record, frame.data() + 10, occurrence);
}

struct ListEditCase {
  const char* name;
  std::function<void(tlx_id3_context*)> edit;
  Bytes frames;  // the frames of the rewritten tag, in order
};

TEST_F(EditTest, ListEditsGiveTheExpectedFrameOrder) {
  const uint32_t kTpe1 = FrameId("TPE1");
  const std::vector<ListEditCase> cases = {
      {"no change", [](tlx_id3_context*) {}, Concat({kTit2, kTpe1a, kTalb, kTpe1b})},
      {"remove second occurrence",
       [&](tlx_id3_context* c) { ASSERT_EQ(0, tlx_id3_v2_remove_frame(c, kTpe1, 1)); },
       Concat({kTit2, kTpe1a, kTalb})},
      {"remove first occurrence",
       [&](tlx_id3_context* c) { ASSERT_EQ(0, tlx_id3_v2_remove_frame(c, kTpe1, 0)); },
       Concat({kTit2, kTalb, kTpe1b})},
      {"add at end", [](tlx_id3_context* c) { ASSERT_EQ(0, Add(c, kTcon)); },
       Concat({kTit2, kTpe1a, kTalb, kTpe1b, kTcon})},
      {"add at head", [](tlx_id3_context* c) { ASSERT_EQ(0, Add(c, kTcon, true)); },
       Concat({kTcon, kTit2, kTpe1a, kTalb, kTpe1b})},
      {"adding twice gives two frames",
       [](tlx_id3_context* c) {
         ASSERT_EQ(0, Add(c, kTcon));
         ASSERT_EQ(0, Add(c, kTcon));
       },
       Concat({kTit2, kTpe1a, kTalb, kTpe1b, kTcon, kTcon})},
      {"update first keeps it first", [](tlx_id3_context* c) { ASSERT_EQ(0, Update(c, kTitNew, 0)); },
       Concat({kTitNew, kTpe1a, kTalb, kTpe1b})},
      {"update last keeps it last",
       [](tlx_id3_context* c) { ASSERT_EQ(0, Update(c, Frame23("TPE1", B("\0x", 2)), 1)); },
       Concat({kTit2, kTpe1a, kTalb, Frame23("TPE1", B("\0x", 2))})},
      {"remove everything, then add",
       [&](tlx_id3_context* c) {
         ASSERT_EQ(0, tlx_id3_v2_remove_frame(c, FrameId("TIT2"), 0));
         ASSERT_EQ(0, tlx_id3_v2_remove_frame(c, kTpe1, 1));
         ASSERT_EQ(0, tlx_id3_v2_remove_frame(c, kTpe1, 0));
         ASSERT_EQ(0, tlx_id3_v2_remove_frame(c, FrameId("TALB"), 0));
         ASSERT_EQ(0, Add(c, kTcon));
       },
       kTcon},
      {"an added frame can be updated and removed",
       [&](tlx_id3_context* c) {
         ASSERT_EQ(0, Add(c, kTcon, true));
         ASSERT_EQ(0, Update(c, Frame23("TCON", B("\0jazz", 5)), 0));
         ASSERT_EQ(0, Add(c, Frame23("TPE1", B("\0third", 6))));
         ASSERT_EQ(0, tlx_id3_v2_remove_frame(c, kTpe1, 2));
       },
       Concat({Frame23("TCON", B("\0jazz", 5)), kTit2, kTpe1a, kTalb, kTpe1b})},
  };
  const Bytes audio = Audio(3000);
  for (const ListEditCase& row : cases) {
    SCOPED_TRACE(row.name);
    std::string path = Put(Concat({StoredTag(), audio}));
    Context ctx;
    ASSERT_EQ(0, ctx.Open(path));
    ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
    ASSERT_EQ(TLX_ID3_STATE_EDITING, ctx->state);
    row.edit(ctx.get());
    ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
    EXPECT_EQ(TLX_ID3_STATE_IDLE, ctx->state);
    EXPECT_EQ(Rewritten(3, 0, row.frames, audio), ReadFile(path));
    EXPECT_TRUE(ListDir(tmp_).empty());
  }
}

TEST_F(EditTest, RefusedEditsLeaveTheListAsItWas) {
  Bytes locked = Frame23("TCOP", B("\0(c)", 4), 0x20);  // status: read only
  Bytes audio = Audio(500);
  std::string path = Put(Concat({Id3v2Tag(3, 0, Concat({kTit2, locked, Bytes(20, 0)})), audio}));
  Context ctx;
  ASSERT_EQ(0, ctx.Open(path));
  tlx_id3_v2_frame_header record = FrameRecord("TCOP", 3);
  const uint8_t data[3] = {0, 'x', 'y'};

  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_add_frame(ctx.get(), &record, data));
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_remove_frame(ctx.get(), FrameId("TIT2"), 0));
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_edit_end(ctx.get()));
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_edit_begin(ctx.get()));

  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_edit_begin(nullptr));
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_add_frame(ctx.get(), nullptr, data));
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_add_frame_at_head(ctx.get(), &record, nullptr));
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_update_frame(ctx.get(), &record, nullptr, 0));

  EXPECT_EQ(TLX_ID3_E_NOT_FOUND, tlx_id3_v2_remove_frame(ctx.get(), FrameId("TIT2"), 1));
  EXPECT_EQ(TLX_ID3_E_NOT_FOUND, tlx_id3_v2_remove_frame(ctx.get(), FrameId("TPE1"), 0));
  tlx_id3_v2_frame_header missing = FrameRecord("TALB", 3);
  EXPECT_EQ(TLX_ID3_E_NOT_FOUND, tlx_id3_v2_update_frame(ctx.get(), &missing, data, 0));
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_remove_frame(ctx.get(), FrameId("TCOP"), 0));
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_update_frame(ctx.get(), &record, data, 0));

  // A read-only frame made in this transaction is not protected.
  record.read_only = 1;
  ASSERT_EQ(0, tlx_id3_v2_add_frame(ctx.get(), &record, data));
  EXPECT_EQ(0, tlx_id3_v2_remove_frame(ctx.get(), FrameId("TCOP"), 1));

  ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
  EXPECT_EQ(Rewritten(3, 0, Concat({kTit2, locked}), audio), ReadFile(path));
}

TEST_F(EditTest, FrameHeadersAreEncodedPerVersion) {
  // ID3v2.3: flags, extra bytes in the order decompressed size, encryption
  // method, group id, and a size field that counts them.
  tlx_id3_v2_frame_header record = FrameRecord("APIC", 100);
  record.compression = 1;
  record.grouping = 1;
  record.decompressed_size = 0x01020304;
  record.group_id = 0x77;
  record.tag_alter_preserve = 1;
  Bytes data = Audio(100);
  Bytes audio = Audio(700);
  std::string path = Put(Concat({Id3v2Tag(3, 0, Bytes(30, 0)), audio}));
  {
    Context ctx;
    ASSERT_EQ(0, ctx.Open(path));
    ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
    ASSERT_EQ(0, tlx_id3_v2_add_frame(ctx.get(), &record, data.data()));
    tlx_id3_v2_frame_header all = FrameRecord("TXXX", 2);
    all.encryption = all.compression = all.grouping = all.read_only = all.file_alter_preserve = 1;
    all.encryption_method = 0x81;
    all.group_id = 0x82;
    all.decompressed_size = 9;
    ASSERT_EQ(0, tlx_id3_v2_add_frame(ctx.get(), &all, data.data()));
    ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
  }
  Bytes apic = Concat({Text("APIC"), Be32(105), {0x80, 0xA0}, Be32(0x01020304), {0x77}, data});
  Bytes txxx = Concat({Text("TXXX"), Be32(8), {0x60, 0xE0}, Be32(9), {0x81, 0x82},
                       Bytes(data.begin(), data.begin() + 2)});
  EXPECT_EQ(Rewritten(3, 0, Concat({apic, txxx}), audio), ReadFile(path));

  // ID3v2.2: three-character id and a 24-bit size; flags do not exist.
  path = Put(Concat({Id3v2Tag(2, 0, Concat({Frame22("TT2", B("\0abc", 4)), Bytes(10, 0)})), audio}));
  Context ctx;
  ASSERT_EQ(0, ctx.Open(path));
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  ASSERT_EQ(0, tlx_id3_v2_remove_frame(ctx.get(), FrameId("TT2"), 0));
  record = FrameRecord("TP1", 5);
  record.compression = 1;
  ASSERT_EQ(0, tlx_id3_v2_add_frame(ctx.get(), &record, data.data()));
  record = FrameRecord("TP1", 0x1000000);  // does not fit 24 bits
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_add_frame(ctx.get(), &record, data.data()));
  ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
  EXPECT_EQ(Rewritten(2, 0, Frame22("TP1", Bytes(data.begin(), data.begin() + 5)), audio),
            ReadFile(path));
}

TEST_F(EditTest, EditingAFileWithoutTagCreatesAnId3v23Tag) {
  Bytes old_file = Audio(2000);
  std::string path = Put(old_file);
  Context ctx;
  ASSERT_EQ(0, ctx.Open(path));
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  Bytes frame = Frame23("TIT2", Audio(20));
  ASSERT_EQ(0, Add(ctx.get(), frame));
  ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
  Bytes got = ReadFile(path);
  ASSERT_EQ(1056u + old_file.size(), got.size());
  EXPECT_EQ(Concat({Text("ID3"), {3, 0, 0}, {0x00, 0x00, 0x08, 0x16}, frame}),
            Bytes(got.begin(), got.begin() + 40));
  EXPECT_EQ(Bytes(1016, 0), Bytes(got.begin() + 40, got.begin() + 1056));
  EXPECT_EQ(old_file, Bytes(got.begin() + 1056, got.end()));

  // The context stays usable on the new file: a second transaction reads it.
  uint32_t count = 0;
  ASSERT_EQ(0, tlx_id3_v2_get_frame_total_num(ctx.get(), &count));
  EXPECT_EQ(1u, count);
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  ASSERT_EQ(0, tlx_id3_v2_remove_frame(ctx.get(), FrameId("TIT2"), 0));
  ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
  EXPECT_EQ(Rewritten(3, 0, {}, old_file), ReadFile(path));
}

#if defined(TLX_FAULT_INJECTION)
TEST_F(EditTest, BeginThatCannotListTheTagOpensNoTransaction) {
  // A read failing while the frames are listed: a partial list would drop
  // the unlisted frames at the commit, so no transaction stays open.
  const Bytes file = Concat({StoredTag(), Audio(100)});
  std::string path = Put(file);
  Context ctx;
  ASSERT_EQ(0, ctx.Open(path));
  // The last read of a clean begin belongs to the frame list.
  tlx_fault_reset();
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  uint32_t reads = tlx_fault_calls(TLX_FAULT_READ);
  tlx_id3_v2_reset_work(ctx.get());
  ASSERT_GT(reads, 2u);
  tlx_fault_reset();
  tlx_fault_arm(TLX_FAULT_READ, reads);
  EXPECT_EQ(TLX_ID3_E_READ, tlx_id3_v2_edit_begin(ctx.get()));
  tlx_fault_reset();
  EXPECT_EQ(TLX_ID3_STATE_IDLE, ctx->state);
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_edit_end(ctx.get()));
  EXPECT_EQ(file, ReadFile(path));
}
#endif

// ---- Streaming one frame in pieces --------------------------------------

TEST_F(EditTest, StreamedFrameArrivesInPieces) {
  Bytes audio = Audio(5000);
  std::string path = Put(Concat({Id3v2Tag(3, 0, Concat({kTit2, kTalb, Bytes(100, 0)})), audio}));
  Bytes data = Audio(10000);
  Context ctx;
  ASSERT_EQ(0, ctx.Open(path));
  tlx_id3_v2_frame_header record = FrameRecord("APIC", 10000);
  ASSERT_EQ(0, tlx_id3_v2_edit_frame_init(ctx.get(), &record, TLX_ID3_PLACE_APPEND, 0));
  EXPECT_EQ(TLX_ID3_STATE_WRITING, ctx->state);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(0, tlx_id3_v2_edit_frame_progress(ctx.get(), 3000, data.data() + 3000 * i));
  }
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_edit_frame_progress(ctx.get(), 3000, data.data() + 9000));
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_edit_frame_progress(ctx.get(), 0, data.data()));
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_edit_begin(ctx.get()));
  ASSERT_EQ(0, tlx_id3_v2_edit_frame_progress(ctx.get(), 999, data.data() + 9000));
  // One byte short: fin refuses and the caller may deliver the rest.
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_edit_frame_fin(ctx.get()));
  EXPECT_EQ(TLX_ID3_STATE_WRITING, ctx->state);
  ASSERT_EQ(0, tlx_id3_v2_edit_frame_progress(ctx.get(), 1, data.data() + 9999));
  ASSERT_EQ(0, tlx_id3_v2_edit_frame_fin(ctx.get()));
  EXPECT_EQ(TLX_ID3_STATE_IDLE, ctx->state);
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_edit_frame_fin(ctx.get()));
  EXPECT_EQ(Rewritten(3, 0, Concat({kTit2, kTalb, Frame23("APIC", data)}), audio), ReadFile(path));
}

TEST_F(EditTest, StreamedFramePlacements) {
  struct Case {
    const char* name;
    int32_t placement;
    uint32_t occurrence;
    std::function<Bytes(const Bytes&)> frames;
  };
  const std::vector<Case> cases = {
      {"head", TLX_ID3_PLACE_HEAD, 0, [](const Bytes& f) { return Concat({f, kTit2, kTpe1a, kTalb, kTpe1b}); }},
      {"replace the second TPE1", TLX_ID3_PLACE_REPLACE, 1,
       [](const Bytes& f) { return Concat({kTit2, kTpe1a, kTalb, f}); }},
      {"replace the first TPE1", TLX_ID3_PLACE_REPLACE, 0,
       [](const Bytes& f) { return Concat({kTit2, f, kTalb, kTpe1b}); }},
  };
  const Bytes audio = Audio(1234);
  const Bytes data = Audio(5000);
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    std::string path = Put(Concat({StoredTag(), audio}));
    Context ctx;
    ASSERT_EQ(0, ctx.Open(path));
    tlx_id3_v2_frame_header record = FrameRecord("TPE1", 5000);
    ASSERT_EQ(0, tlx_id3_v2_edit_frame_init(ctx.get(), &record, row.placement, row.occurrence));
    ASSERT_EQ(0, tlx_id3_v2_edit_frame_progress(ctx.get(), 5000, data.data()));
    ASSERT_EQ(0, tlx_id3_v2_edit_frame_fin(ctx.get()));
    EXPECT_EQ(Rewritten(3, 0, row.frames(Frame23("TPE1", data)), audio), ReadFile(path));
  }
}

TEST_F(EditTest, RefusedStreamingLeavesTheFileAlone) {
  const Bytes original = Concat({StoredTag(), Audio(100)});
  std::string path = Put(original);
  Context ctx;
  ASSERT_EQ(0, ctx.Open(path));
  tlx_id3_v2_frame_header record = FrameRecord("TPE1", 10);
  const uint8_t data[10] = {0};
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_edit_frame_init(ctx.get(), nullptr, 0, 0));
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_edit_frame_init(ctx.get(), &record, 3, 0));
  EXPECT_EQ(TLX_ID3_E_NOT_FOUND,
            tlx_id3_v2_edit_frame_init(ctx.get(), &record, TLX_ID3_PLACE_REPLACE, 2));
  EXPECT_EQ(TLX_ID3_STATE_IDLE, ctx->state);
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_edit_frame_progress(ctx.get(), 10, data));
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_edit_frame_fin(ctx.get()));
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_edit_frame_init(ctx.get(), &record, 0, 0));
  EXPECT_EQ(original, ReadFile(path));

  // Streaming needs a stored tag to place the frame in.
  std::string bare = dir_.File("bare.mp3");
  WriteFile(bare, Audio(300));
  Context other;
  ASSERT_EQ(0, other.Open(bare));
  EXPECT_EQ(TLX_ID3_E_NOT_FOUND, tlx_id3_v2_edit_frame_init(other.get(), &record, 0, 0));
  EXPECT_EQ(Audio(300), ReadFile(bare));
  EXPECT_TRUE(ListDir(tmp_).empty());
}

}  // namespace
}  // namespace tagkit_test
