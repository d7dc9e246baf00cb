// The rewrite through a temporary file: exact bytes of the rewritten file,
// padding, header flags, the extended header, the padding adjustment, and
// the refusals that must leave the file untouched.
#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rewrite_support.h"
#include "test_support.h"
#include "tlx_id3.h"
#include "tlx_system.h"

namespace tagkit_test {
namespace {

Bytes B(const char* bytes, std::size_t size) { return Bytes(bytes, bytes + size); }

// Inserts a zero byte after every 0xFF: a valid unsynchronisation.
Bytes Unsynchronise(const Bytes& in) {
  Bytes out;
  for (std::uint8_t b : in) {
    out.push_back(b);
    if (b == 0xFF) out.push_back(0);
  }
  return out;
}

// Extended header: size field 6 (or 10 with a CRC), flags, padding size.
Bytes ExtHeader(std::uint32_t padding, const Bytes& crc = {}) {
  return Concat({Be32(crc.empty() ? 6 : 10), {std::uint8_t(crc.empty() ? 0 : 0x80), 0}, Be32(padding), crc});
}

std::uint32_t PadFor(std::size_t frames_end) {
  return 1024 - static_cast<std::uint32_t>(frames_end % 16);
}

class RewriteTest : public ::testing::Test {
 protected:
  RewriteTest() : tmp_(dir_.File("tmp")), tmpdir_(tmp_) { mkdir(tmp_.c_str(), 0700); }

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
const Bytes kBinary = Frame23("PRIV", Bytes{'o', 0, 0xFF, 0x00, 0xFF, 0xE0, 0x41, 0xFF});
const Bytes kTt2 = Frame22("TT2", B("\0title", 6));
const Bytes kPic = Frame22("PIC", Bytes{'P', 'N', 'G', 0, 0xFF, 0xFB, 0xFF});

struct ExactCase {
  const char* name;
  Bytes file;                                   // the stored file
  std::function<void(tlx_id3_context*)> edit;   // inside the transaction
  Bytes expected;                               // the rewritten file
};

void NoEdit(tlx_id3_context*) {}

void KeepExtHeader(tlx_id3_context* ctx) {
  const int32_t flags[4] = {0, 0, 1, 0};
  ASSERT_EQ(0, tlx_id3_v2_set_header_flag_info(ctx, flags));
}

void DropExtHeader(tlx_id3_context* ctx) { ASSERT_EQ(0, tlx_id3_v2_remove_extended_header(ctx)); }

TEST_F(RewriteTest, RewrittenFilesHaveTheExactBytes) {
  const Bytes audio = Audio(4500);
  const Bytes frames23 = Concat({kTit2, kBinary});
  const Bytes frames22 = Concat({kTt2, kPic});
  const std::size_t ext_end = 10 + 10 + frames23.size();
  const std::vector<ExactCase> cases = {
      {"ID3v2.3", Concat({Id3v2Tag(3, 0, Concat({frames23, Bytes(300, 0)})), audio}), NoEdit,
       Rewritten(3, 0, frames23, audio)},
      {"ID3v2.2", Concat({Id3v2Tag(2, 0, Concat({frames22, Bytes(7, 0)})), audio}), NoEdit,
       Rewritten(2, 0, frames22, audio)},
      {"ID3v2.3 frames filling the tag", Concat({Id3v2Tag(3, 0, frames23), audio}), NoEdit,
       Rewritten(3, 0, frames23, audio)},
      {"extended header kept, its padding field brought up to date",
       Concat({Id3v2Tag(3, 0x40, Concat({ExtHeader(77), frames23, Bytes(77, 0)})), audio}),
       KeepExtHeader,
       Rewritten(3, 0x40, Concat({ExtHeader(PadFor(ext_end)), frames23}), audio)},
      {"extended header with CRC removed",
       Concat({Id3v2Tag(3, 0x40, Concat({ExtHeader(0, {1, 2, 3, 4}), frames23})), audio}),
       DropExtHeader, Rewritten(3, 0, frames23, audio)},
      {"unsynchronised ID3v2.3 written plain",
       Concat({Id3v2Tag(3, 0x80, Concat({Unsynchronise(frames23), Bytes(40, 0)})), audio}), NoEdit,
       Rewritten(3, 0, frames23, audio)},
      {"unsynchronised ID3v2.2 written plain",
       Concat({Id3v2Tag(2, 0x80, Unsynchronise(frames22)), audio}), NoEdit,
       Rewritten(2, 0, frames22, audio)},
      {"experimental flag dropped unless set",
       Concat({Id3v2Tag(3, 0x20, frames23), audio}), NoEdit, Rewritten(3, 0, frames23, audio)},
      {"flags set in the transaction",
       Concat({Id3v2Tag(3, 0, frames23), audio}),
       [](tlx_id3_context* c) {
         const int32_t flags[4] = {1, 1, 0, 1};  // unsync is never written
         ASSERT_EQ(0, tlx_id3_v2_set_header_flag_info(c, flags));
       },
       Rewritten(3, 0x20, frames23, audio)},
      {"file without a tag", audio, NoEdit, Rewritten(3, 0, {}, audio)},
      {"stored header of size 0 is not kept as audio", Concat({Id3v2Tag(3, 0, {}), audio}), NoEdit,
       Rewritten(3, 0, {}, audio)},
      {"ID3v2.4 tag kept behind a new tag", Concat({Id3v2Tag(4, 0, frames23), audio}), NoEdit,
       Rewritten(3, 0, {}, Concat({Id3v2Tag(4, 0, frames23), audio}))},
      {"empty audio", Id3v2Tag(3, 0, frames23), NoEdit, Rewritten(3, 0, frames23, {})},
  };
  for (const ExactCase& row : cases) {
    SCOPED_TRACE(row.name);
    std::string path = Put(row.file);
    Context ctx;
    ASSERT_EQ(0, ctx.Open(path));
    ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
    row.edit(ctx.get());
    ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
    EXPECT_EQ(row.expected, ReadFile(path));
    EXPECT_TRUE(ListDir(tmp_).empty());
  }
}

TEST_F(RewriteTest, PaddingMakesTheTagAMultipleOf16) {
  struct Case {
    std::uint32_t frames_end;
    std::uint32_t pad;
  };
  for (Case row : {Case{4096, 1024}, Case{4111, 1009}, Case{4112, 1024}, Case{21, 1019}}) {
    SCOPED_TRACE(row.frames_end);
    Bytes frame = Frame23("PRIV", Bytes(row.frames_end - 20, 'x'));
    std::string path = Put(Concat({Id3v2Tag(3, 0, Concat({frame, Bytes(3000, 0)})), Audio(10)}));
    Context ctx;
    ASSERT_EQ(0, ctx.Open(path));
    ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
    ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
    Bytes got = ReadFile(path);
    EXPECT_EQ(SyncSafe(row.frames_end + row.pad - 10), Bytes(got.begin() + 6, got.begin() + 10));
    EXPECT_EQ(row.frames_end + row.pad + 10, got.size());
  }
}

TEST_F(RewriteTest, ExtendedHeaderRules) {
  const Bytes audio = Audio(600);
  const Bytes with_ext = Concat({Id3v2Tag(3, 0x40, Concat({ExtHeader(0), kTit2})), audio});
  std::string path = Put(with_ext);
  Context ctx;
  ASSERT_EQ(0, ctx.Open(path));
  // Outside a transaction no version is known.
  ASSERT_EQ(TLX_ID3_E_UNSUPPORTED, tlx_id3_v2_remove_extended_header(ctx.get()));
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  // The held extended header disagrees with an unset flags byte.
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_edit_end(ctx.get()));
  EXPECT_EQ(TLX_ID3_STATE_EDITING, ctx->state);
  EXPECT_EQ(with_ext, ReadFile(path));
  EXPECT_TRUE(ListDir(tmp_).empty());
  // A held CRC is replaced; the list survived the failed end.
  tlx_id3_v2_extended_header ext{};
  ext.padding_size = 5;
  ext.has_crc = 1;
  ext.crc[0] = 9;
  ext.crc[3] = 8;
  ASSERT_EQ(0, tlx_id3_v2_add_extended_header(ctx.get(), &ext));
  KeepExtHeader(ctx.get());
  ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
  std::size_t frames_end = 10 + 14 + kTit2.size();
  EXPECT_EQ(Rewritten(3, 0x40, Concat({ExtHeader(PadFor(frames_end), {9, 0, 0, 8}), kTit2}), audio),
            ReadFile(path));

  // An extended header can be added to a tag that has none.
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  DropExtHeader(ctx.get());
  ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  ext.has_crc = 0;
  ASSERT_EQ(0, tlx_id3_v2_add_extended_header(ctx.get(), &ext));
  KeepExtHeader(ctx.get());
  ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
  frames_end = 10 + 10 + kTit2.size();
  EXPECT_EQ(Rewritten(3, 0x40, Concat({ExtHeader(PadFor(frames_end)), kTit2}), audio), ReadFile(path));

  // Only ID3v2.3 has an extended header; a file without a tag has no header
  // to take the flags from.
  struct Refusal {
    const char* name;
    Bytes file;
    int32_t remove_rc;
    int32_t add_rc;
  };
  for (const Refusal& row : {Refusal{"ID3v2.2", Id3v2Tag(2, 0, kTt2), TLX_ID3_E_UNSUPPORTED, TLX_ID3_E_UNSUPPORTED},
                             Refusal{"no tag", Audio(50), TLX_ID3_E_NOT_FOUND, TLX_ID3_OK}}) {
    SCOPED_TRACE(row.name);
    std::string other = dir_.File("other.mp3");
    WriteFile(other, row.file);
    Context c;
    ASSERT_EQ(0, c.Open(other));
    ASSERT_EQ(0, tlx_id3_v2_edit_begin(c.get()));
    EXPECT_EQ(row.remove_rc, tlx_id3_v2_remove_extended_header(c.get()));
    EXPECT_EQ(row.add_rc, tlx_id3_v2_add_extended_header(c.get(), &ext));
  }
}

TEST_F(RewriteTest, PaddingAdjustment) {
  const Bytes audio = Audio(3333);
  const Bytes frames = Concat({kTit2, kBinary});
  struct Case {
    const char* name;
    Bytes file;
    std::uint32_t padding;
    Bytes expected;
  };
  const Bytes plain = Concat({Id3v2Tag(3, 0, Concat({frames, Bytes(123, 0)})), audio});
  const Bytes ext = Concat({Id3v2Tag(3, 0x60, Concat({ExtHeader(40), frames, Bytes(40, 0)})), audio});
  const Bytes v22 = Concat({Id3v2Tag(2, 0, Concat({kTt2, kPic, Bytes(9, 0)})), audio});
  const std::vector<Case> cases = {
      {"same padding leaves the file identical", plain, 123, plain},
      {"same padding with an extended header", ext, 40, ext},
      {"same padding on ID3v2.2", v22, 9, v22},
      {"no padding", plain, 0, Concat({Id3v2Tag(3, 0, frames), audio})},
      {"more padding", plain, 5000, Concat({Id3v2Tag(3, 0, Concat({frames, Bytes(5000, 0)})), audio})},
      {"unsynchronised frames lose the flag with the stuffing",
       Concat({Id3v2Tag(3, 0x80, Concat({Unsynchronise(frames), Bytes(20, 0)})), audio}), 20,
       Concat({Id3v2Tag(3, 0, Concat({frames, Bytes(20, 0)})), audio})},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    std::string path = Put(row.file);
    Context ctx;
    ASSERT_EQ(0, ctx.Open(path));
    ASSERT_EQ(0, tlx_id3_v2_adjust_padding_size(ctx.get(), row.padding));
    EXPECT_EQ(TLX_ID3_STATE_IDLE, ctx->state);
    EXPECT_EQ(row.expected, ReadFile(path));
    EXPECT_TRUE(ListDir(tmp_).empty());
  }

  std::string path = Put(plain);
  Context ctx;
  ASSERT_EQ(0, ctx.Open(path));
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v2_adjust_padding_size(ctx.get(), 10));
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_adjust_padding_size(nullptr, 10));
  path = dir_.File("bare.mp3");
  WriteFile(path, audio);
  Context bare;
  ASSERT_EQ(0, bare.Open(path));
  EXPECT_EQ(TLX_ID3_E_NOT_FOUND, tlx_id3_v2_adjust_padding_size(bare.get(), 10));
  EXPECT_EQ(audio, ReadFile(path));
}

// ---- Refusals: the file stays as it was --------------------------------

TEST_F(RewriteTest, UnusableTemporaryDirectoryLeavesTheFileUntouched) {
  // Tests run as root, for whom no directory is unwritable: a missing
  // directory and a regular file in place of one stand in for it.
  const Bytes audio = Audio(900);
  const Bytes original = Concat({Id3v2Tag(3, 0, Concat({kTit2, Bytes(10, 0)})), audio});
  const Bytes tpe1 = Frame23("TPE1", B("\0me", 3));
  std::string not_a_dir = dir_.File("plain-file");
  WriteFile(not_a_dir, Text("x"));
  for (const std::string& bad_dir : {dir_.File("missing"), not_a_dir}) {
    SCOPED_TRACE(bad_dir);
    std::string path = Put(original);
    Context ctx;
    ASSERT_EQ(0, ctx.Open(path));
    ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
    tlx_id3_v2_frame_header record = FrameRecord("TPE1", 3);
    ASSERT_EQ(0, tlx_id3_v2_add_frame(ctx.get(), &record, tpe1.data() + 10));
    {
      ScopedTmpdir bad(bad_dir);
      EXPECT_EQ(TLX_ID3_E_SYSTEM, tlx_id3_v2_edit_end(ctx.get()));
    }
    EXPECT_EQ(TLX_ID3_STATE_EDITING, ctx->state);
    EXPECT_EQ(original, ReadFile(path));
    // With a usable directory again the same transaction commits.
    ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
    EXPECT_EQ(Rewritten(3, 0, Concat({kTit2, tpe1}), audio), ReadFile(path));

    Bytes before = ReadFile(path);
    {
      ScopedTmpdir bad(bad_dir);
      EXPECT_EQ(TLX_ID3_E_SYSTEM, tlx_id3_v2_adjust_padding_size(ctx.get(), 0));
    }
    EXPECT_EQ(TLX_ID3_STATE_IDLE, ctx->state);
    EXPECT_EQ(before, ReadFile(path));
  }
  EXPECT_FALSE(FileExists(dir_.File("missing")));
  EXPECT_EQ(Text("x"), ReadFile(not_a_dir));
  EXPECT_TRUE(ListDir(tmp_).empty());
}

TEST_F(RewriteTest, ReadOnlyContextNeverRewrites) {
  const Bytes original = Concat({Id3v2Tag(3, 0, Concat({kTit2, Bytes(10, 0)})), Audio(900)});
  std::string path = Put(original);
  Context ctx;
  ASSERT_EQ(0, ctx.Open(path, TLX_ID3_MODE_READ));
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  ASSERT_EQ(0, tlx_id3_v2_remove_frame(ctx.get(), FrameId("TIT2"), 0));
  EXPECT_EQ(TLX_ID3_E_OPEN, tlx_id3_v2_edit_end(ctx.get()));
  EXPECT_EQ(TLX_ID3_STATE_EDITING, ctx->state);
  EXPECT_EQ(original, ReadFile(path));
  ctx.Close();

  ASSERT_EQ(0, ctx.Open(path, TLX_ID3_MODE_READ));
  tlx_id3_v2_frame_header record = FrameRecord("TPE1", 4);
  EXPECT_EQ(TLX_ID3_E_OPEN, tlx_id3_v2_edit_frame_init(ctx.get(), &record, 0, 0));
  EXPECT_EQ(TLX_ID3_STATE_IDLE, ctx->state);
  EXPECT_EQ(TLX_ID3_E_OPEN, tlx_id3_v2_adjust_padding_size(ctx.get(), 0));
  EXPECT_EQ(original, ReadFile(path));
  EXPECT_TRUE(ListDir(tmp_).empty());
}

TEST_F(RewriteTest, RewrittenFileStaysLockedAndUsable) {
  std::string path = Put(Concat({Id3v2Tag(3, 0, kTit2), Audio(100)}));
  Context ctx;
  ASSERT_EQ(0, ctx.Open(path));
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
  Context second;
  EXPECT_EQ(TLX_ID3_E_OPEN, second.Open(path));  // the reopened file is locked again
  uint32_t size = 6;
  uint8_t buffer[6];
  ASSERT_EQ(0, tlx_id3_v2_get_frame_data(ctx.get(), FrameId("TIT2"), 0, &size, buffer));
  EXPECT_EQ(B("\0title", 6), Bytes(buffer, buffer + size));
  ASSERT_EQ(0, ctx.Close());
  EXPECT_EQ(0, second.Open(path));
}

#if defined(TLX_FAULT_INJECTION)
// A failed replace must not leave the context without its file: a failed
// rename reopens (and locks) the old file, and the transaction can be tried
// again; a failed reopen after the move ends the transaction and says so.
TEST_F(RewriteTest, FailedReplaceKeepsTheContextUsable) {
  const Bytes audio = Audio(2000);
  const Bytes original = Concat({Id3v2Tag(3, 0, Concat({kTit2, Bytes(10, 0)})), audio});
  const Bytes expected = Rewritten(3, 0, {}, audio);
  std::string path = Put(original);
  Context ctx;
  ASSERT_EQ(0, ctx.Open(path));
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  ASSERT_EQ(0, tlx_id3_v2_remove_frame(ctx.get(), FrameId("TIT2"), 0));
  tlx_fault_reset();
  tlx_fault_arm(TLX_FAULT_RENAME, 1);
  EXPECT_EQ(TLX_ID3_E_SYSTEM, tlx_id3_v2_edit_end(ctx.get()));
  tlx_fault_reset();
  EXPECT_EQ(original, ReadFile(path));
  EXPECT_TRUE(ListDir(tmp_).empty());
  EXPECT_EQ(TLX_ID3_STATE_EDITING, ctx->state);
  EXPECT_NE(TLX_INVALID_HANDLE, ctx->fd);
  Context second;
  EXPECT_EQ(TLX_ID3_E_OPEN, second.Open(path));  // still locked
  ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
  EXPECT_EQ(expected, ReadFile(path));

  // The reopen after the move fails: the new file is in place, the
  // transaction is over, and the context reports its lost handle on close.
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  tlx_fault_reset();
  tlx_fault_arm(TLX_FAULT_OPEN, 2);  // the temporary file, then the reopen
  EXPECT_EQ(TLX_ID3_E_OPEN, tlx_id3_v2_edit_end(ctx.get()));
  tlx_fault_reset();
  EXPECT_EQ(expected, ReadFile(path));
  EXPECT_EQ(TLX_ID3_STATE_IDLE, ctx->state);
  EXPECT_EQ(TLX_INVALID_HANDLE, ctx->fd);
  EXPECT_TRUE(ListDir(tmp_).empty());
  EXPECT_EQ(TLX_ID3_E_CLOSE, ctx.Close());
  EXPECT_EQ(0, second.Open(path));
}
#endif

}  // namespace
}  // namespace tagkit_test
