// Editing a container file's tag: the backup before the first edit, frame
// changes through the engine in between, re-padding at the end, recovery.
#include <gtest/gtest.h>

#include <cstring>

#include "container_support.h"
#include "sqa_internal.h"
#include "tlx_system.h"

namespace tagkit_test {
namespace {

const std::uint32_t kTit2 = TLX_ID3_FRAME_ID('T', 'I', 'T', '2');

const Bytes kOldFrames = Frame23("TIT2", TextData("Old title"));  // 20 bytes
const Bytes kTail = Concat({CodecHeader(), Audio(5000)});

class SqaEditTest : public ::testing::Test {
 protected:
  void SetUp() override { memset(&ctx_, 0, sizeof(ctx_)); }
  void TearDown() override {
    if (ctx_.path != nullptr) {
      EXPECT_EQ(0, tlx_sqa_destroy_context(&ctx_));
    }
  }
  // A container file whose tag holds kOldFrames and has the given size field.
  Bytes Original(std::uint32_t size_field = 400) {
    return Concat({Kq7Tag(kOldFrames, size_field - kOldFrames.size()), kTail});
  }
  void Open(const Bytes& content, bool with_backup = true) {
    WriteFile(file_, content);
    ASSERT_EQ(0, tlx_sqa_create_context(wfile_.c_str(), TLX_SQA_MODE_WRITE, 0,
                                        with_backup ? wbackup_.c_str() : nullptr, &ctx_));
  }
  void SetTitle(const std::string& title) {
    ASSERT_EQ(0, PutFrame(&ctx_.id3, "TIT2", TextData(title), 0));
  }
  void AddPrivate(std::size_t size) {
    ASSERT_EQ(0, PutFrame(&ctx_.id3, "PRIV", Bytes(size, 0x42)));
  }
  std::string Title() {
    std::uint8_t buffer[64];
    std::uint32_t size = sizeof(buffer);
    EXPECT_EQ(0, tlx_id3_v2_get_frame_data(&ctx_.id3, kTit2, 0, &size, buffer));
    return std::string(buffer + 1, buffer + size);
  }

  TempDir dir_;
  std::string file_ = dir_.File("song.sqa");
  std::wstring wfile_ = dir_.WFile("song.sqa");
  std::string backup_ = dir_.File("song.bak");
  std::wstring wbackup_ = dir_.WFile("song.bak");
  tlx_sqa_context ctx_;
};

TEST_F(SqaEditTest, EngineEditBetweenBeginAndEndWithOneBackup) {
  Bytes original = Original();
  Open(original);
  ASSERT_EQ(0, tlx_sqa_edit_begin(&ctx_));
  EXPECT_EQ(TLX_SQA_STATE_EDITING, ctx_.state);
  EXPECT_EQ(400u, ctx_.old_tag_size);
  Bytes old_tag(original.begin(), original.begin() + 410);
  EXPECT_EQ(old_tag, ReadFile(backup_));
  // Only the layer's own backup may read the file while the context holds it
  // for writing: other contexts and a backup taken from outside are refused.
  tlx_sqa_context reader;
  EXPECT_EQ(1, tlx_sqa_create_context(wfile_.c_str(), TLX_SQA_MODE_READ, 0, nullptr, &reader));
  EXPECT_EQ(1, tlx_id3_v2_backup(dir_.WFile("other.bak").c_str(), wfile_.c_str(), "kq7"));
  EXPECT_FALSE(FileExists(dir_.File("other.bak")));
  SetTitle("New title");
  ASSERT_EQ(0, tlx_sqa_edit_end(&ctx_));
  EXPECT_EQ(TLX_SQA_STATE_IDLE, ctx_.state);
  EXPECT_EQ(ctx_.id3.fd, ctx_.fd);

  // 20 bytes of frames: the old size 400 lies within 768 spare bytes, so the
  // rewrite's own padding (1024 - 30 % 16 = 1010 bytes) stays.
  Bytes edited = ReadFile(file_);
  EXPECT_EQ(Concat({Kq7Tag(Frame23("TIT2", TextData("New title")), 1010), kTail}), edited);
  EXPECT_EQ("New title", Title());
  tlx_sqa_codec_data_header header;
  EXPECT_EQ(0, tlx_sqa_get_codec_data_header(&ctx_, &header));

  // A second edit keeps the backup of the original tag.
  ASSERT_EQ(0, tlx_sqa_edit_begin(&ctx_));
  SetTitle("Third title");
  ASSERT_EQ(0, tlx_sqa_edit_end(&ctx_));
  EXPECT_EQ(old_tag, ReadFile(backup_));
  EXPECT_EQ("Third title", Title());
}

TEST_F(SqaEditTest, AnExistingBackupIsNeverOverwritten) {
  WriteFile(backup_, Text("an older backup"));
  Open(Original());
  ASSERT_EQ(0, tlx_sqa_edit_begin(&ctx_));
  SetTitle("Changed");
  ASSERT_EQ(0, tlx_sqa_edit_end(&ctx_));
  EXPECT_EQ(Text("an older backup"), ReadFile(backup_));
}

TEST_F(SqaEditTest, WithoutBackupPathNoBackupIsTaken) {
  Open(Original(), false);
  ASSERT_EQ(0, tlx_sqa_edit_begin(&ctx_));
  SetTitle("Changed");
  ASSERT_EQ(0, tlx_sqa_edit_end(&ctx_));
  EXPECT_FALSE(FileExists(backup_));
  EXPECT_EQ("Changed", Title());
}

TEST_F(SqaEditTest, AContainerFileWithoutTagGetsAContainerTag) {
  Open(kTail, false);
  ASSERT_EQ(0, tlx_sqa_edit_begin(&ctx_));
  Bytes data = TextData("First");
  ASSERT_EQ(0, PutFrame(&ctx_.id3, "TIT2", data));
  ASSERT_EQ(0, tlx_sqa_edit_end(&ctx_));
  // The tag grew from nothing: padded to 512 bytes.
  EXPECT_EQ(Concat({Kq7Tag(Frame23("TIT2", data), 486), kTail}), ReadFile(file_));
  EXPECT_EQ("First", Title());
}

TEST_F(SqaEditTest, TagIsRepaddedWhenItGrowsOrKeepsTooMuchSpace) {
  // kOldFrames plus a 2970-byte private frame: 3000 bytes of frames.
  struct Row {
    std::uint32_t old_size;
    std::size_t tag_length;
  };
  const Row rows[] = {
      {2000, 3072},  // grew: next multiple of 512 above 3010
      {3000, 4032},  // just fits: the rewrite's padding, 3008 + 1024
      {3768, 4032},  // 768 spare bytes are still fine
      {3769, 3072},  // more is given back
      {6000, 3072},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.old_size);
    Open(Original(row.old_size), false);
    ASSERT_EQ(0, tlx_sqa_edit_begin(&ctx_));
    AddPrivate(2970);
    ASSERT_EQ(0, tlx_sqa_edit_end(&ctx_));
    Bytes frames = Concat({kOldFrames, Frame23("PRIV", Bytes(2970, 0x42))});
    ASSERT_EQ(3000u, frames.size());
    EXPECT_EQ(Concat({Kq7Tag(frames, row.tag_length - 3010), kTail}), ReadFile(file_));
    std::uint32_t size = 0;
    EXPECT_EQ(0, tlx_sqa_get_tag_size(&ctx_, &size));
    EXPECT_EQ(row.tag_length, size);
    ASSERT_EQ(0, tlx_sqa_destroy_context(&ctx_));
  }
}

TEST_F(SqaEditTest, RecoveryRestoresTheTagAndDeletesTheBackup) {
  Bytes original = Original();
  Open(original);
  ASSERT_EQ(0, tlx_sqa_edit_begin(&ctx_));
  SetTitle("Unwanted");
  AddPrivate(1500);
  ASSERT_EQ(0, tlx_sqa_edit_end(&ctx_));
  ASSERT_NE(original, ReadFile(file_));

  // The context stays open: it sees the recovered file afterwards.
  ASSERT_EQ(0, tlx_sqa_recover_id3v2(wfile_.c_str(), wbackup_.c_str(), &ctx_));
  EXPECT_EQ(original, ReadFile(file_));
  EXPECT_FALSE(FileExists(backup_));
  EXPECT_EQ("Old title", Title());
  EXPECT_EQ(ctx_.id3.fd, ctx_.fd);
  // ...and can still edit it, taking a new backup.
  ASSERT_EQ(0, tlx_sqa_edit_begin(&ctx_));
  SetTitle("Again");
  ASSERT_EQ(0, tlx_sqa_edit_end(&ctx_));
  EXPECT_EQ(Bytes(original.begin(), original.begin() + 410), ReadFile(backup_));
  ASSERT_EQ(0, tlx_sqa_destroy_context(&ctx_));

  // Without a context.
  ASSERT_EQ(0, tlx_sqa_recover_id3v2(wfile_.c_str(), wbackup_.c_str(), nullptr));
  EXPECT_EQ(original, ReadFile(file_));
  EXPECT_FALSE(FileExists(backup_));
  EXPECT_EQ(1, tlx_sqa_recover_id3v2(wfile_.c_str(), wbackup_.c_str(), nullptr));
  EXPECT_EQ(original, ReadFile(file_));
}

TEST_F(SqaEditTest, CallsOutOfOrderAreRefused) {
  Bytes original = Original();
  Open(original);
  EXPECT_EQ(11, tlx_sqa_edit_end(&ctx_));
  // A transaction opened on the engine context directly is left alone.
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(&ctx_.id3));
  EXPECT_EQ(11, tlx_sqa_edit_begin(&ctx_));
  EXPECT_EQ(0, PutFrame(&ctx_.id3, "TIT2", TextData("Direct"), 0));
  ASSERT_EQ(0, tlx_id3_v2_edit_end(&ctx_.id3));
  EXPECT_EQ("Direct", Title());
  original = ReadFile(file_);
  ASSERT_EQ(0, tlx_sqa_edit_begin(&ctx_));
  EXPECT_EQ(11, tlx_sqa_edit_begin(&ctx_));
  EXPECT_EQ(11, tlx_sqa_recover_id3v2(wfile_.c_str(), wbackup_.c_str(), &ctx_));
  EXPECT_TRUE(FileExists(backup_));
  // Destroying drops the open edit: the file is as it was.
  ASSERT_EQ(0, tlx_sqa_destroy_context(&ctx_));
  EXPECT_EQ(original, ReadFile(file_));
  EXPECT_EQ(10, tlx_sqa_destroy_context(&ctx_));
}

#if defined(TLX_FAULT_INJECTION)
TEST_F(SqaEditTest, AFailedEndCanBeRepeatedAndAFailedRepaddingEndsTheEdit) {
  Bytes original = Original(2000);
  Open(original, false);
  ASSERT_EQ(0, tlx_sqa_edit_begin(&ctx_));
  AddPrivate(2970);
  // The rewrite cannot replace the file: the edit stays open.
  tlx_fault_reset();
  tlx_fault_arm(TLX_FAULT_RENAME, 1);
  EXPECT_EQ(-999, tlx_sqa_edit_end(&ctx_));
  EXPECT_EQ(TLX_SQA_STATE_EDITING, ctx_.state);
  EXPECT_EQ(original, ReadFile(file_));
  // Ending again commits the frames, but re-padding them fails: the file
  // holds the new tag with the rewrite's padding and the edit is over.
  tlx_fault_reset();
  tlx_fault_arm(TLX_FAULT_RENAME, 2);
  EXPECT_EQ(-999, tlx_sqa_edit_end(&ctx_));
  tlx_fault_reset();
  EXPECT_EQ(TLX_SQA_STATE_IDLE, ctx_.state);
  Bytes frames = Concat({kOldFrames, Frame23("PRIV", Bytes(2970, 0x42))});
  EXPECT_EQ(Concat({Kq7Tag(frames, 1022), kTail}), ReadFile(file_));
  // The next edit, even an empty one, brings the padding in line.
  ASSERT_EQ(0, tlx_sqa_edit_begin(&ctx_));
  ASSERT_EQ(0, tlx_sqa_edit_end(&ctx_));
  EXPECT_EQ(Concat({Kq7Tag(frames, 62), kTail}), ReadFile(file_));
}
#endif

TEST_F(SqaEditTest, AFailedBackupStopsTheEdit) {
  Bytes original = Original();
  WriteFile(file_, original);
  std::wstring unreachable = dir_.WFile("missing/song.bak");
  ASSERT_EQ(0, tlx_sqa_create_context(wfile_.c_str(), TLX_SQA_MODE_WRITE, 0,
                                      unreachable.c_str(), &ctx_));
  EXPECT_EQ(1, tlx_sqa_edit_begin(&ctx_));
  EXPECT_EQ(TLX_SQA_STATE_IDLE, ctx_.state);
  EXPECT_EQ(TLX_ID3_STATE_IDLE, ctx_.id3.state);
  EXPECT_EQ(original, ReadFile(file_));
}

}  // namespace
}  // namespace tagkit_test
