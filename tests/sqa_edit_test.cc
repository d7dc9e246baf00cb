// Editing a container file's tag: the backup before the first edit, frame
// changes through the engine in between, re-padding at the end, recovery.
#include <gtest/gtest.h>

#include "container_support.h"

namespace tagkit_test {
namespace {

const Bytes kOldFrames = Frame23("TIT2", TextData("Old title"));  // 20 bytes
const Bytes kPrivate = Frame23("PRIV", Bytes(2970, 0x42));        // 2980 bytes
const Bytes kTail = Concat({CodecHeader(), Audio(5000)});

class SqaEditTest : public SqaFileTest {
 protected:
  // A container file whose tag holds kOldFrames and has the given size field.
  static Bytes Original(std::uint32_t size_field = 400) {
    return Concat({Kq7Tag(kOldFrames, size_field - kOldFrames.size()), kTail});
  }
  void Open(const Bytes& content, bool with_backup = true) {
    ASSERT_EQ(0, Create(content, TLX_SQA_MODE_WRITE, with_backup ? wbackup_.c_str() : nullptr));
  }
  // One edit that sets the title, or adds the private frame when title is null.
  int32_t Edit(const char* title) {
    int32_t rc = tlx_sqa_edit_begin(&ctx_);
    if (rc != 0) return rc;
    rc = title ? PutFrame(&ctx_.id3, "TIT2", TextData(title), 0)
               : PutFrame(&ctx_.id3, "PRIV", Bytes(2970, 0x42));
    return rc != 0 ? rc : tlx_sqa_edit_end(&ctx_);
  }
};

TEST_F(SqaEditTest, EditsKeepOneBackupOfTheOriginalTag) {
  const Bytes original = Original();
  const Bytes old_tag(original.begin(), original.begin() + 410);
  Open(original);
  ASSERT_EQ(0, tlx_sqa_edit_begin(&ctx_));
  EXPECT_EQ(old_tag, ReadFile(backup_));
  // The layer's own backup read the file beside its writer; other contexts
  // and a backup taken from outside are still refused.
  tlx_sqa_context reader;
  EXPECT_EQ(TLX_ID3_E_OPEN, tlx_sqa_create_context(wfile_.c_str(), TLX_SQA_MODE_READ, 0, nullptr, &reader));
  EXPECT_EQ(TLX_ID3_E_OPEN, tlx_id3_v2_backup(dir_.WFile("other.bak").c_str(), wfile_.c_str(), "kq7"));
  EXPECT_FALSE(FileExists(dir_.File("other.bak")));
  ASSERT_EQ(0, PutFrame(&ctx_.id3, "TIT2", TextData("New title"), 0));
  ASSERT_EQ(0, tlx_sqa_edit_end(&ctx_));
  // 20 bytes of frames: the old size 400 lies within 768 spare bytes, so the
  // rewrite's own padding (1024 - 30 % 16 = 1010 bytes) stays.
  EXPECT_EQ(Concat({Kq7Tag(Frame23("TIT2", TextData("New title")), 1010), kTail}), ReadFile(file_));
  EXPECT_EQ(ctx_.id3.fd, ctx_.fd);
  EXPECT_EQ("New title", Title());
  // A second edit keeps the backup of the original tag, and so does a
  // backup that was there before the first.
  ASSERT_EQ(0, Edit("Third title"));
  EXPECT_EQ(old_tag, ReadFile(backup_));
  EXPECT_EQ("Third title", Title());
  ASSERT_EQ(0, tlx_sqa_destroy_context(&ctx_));
  WriteFile(backup_, Text("an older backup"));
  Open(original);
  ASSERT_EQ(0, Edit("Changed"));
  EXPECT_EQ(Text("an older backup"), ReadFile(backup_));
}

TEST_F(SqaEditTest, WithoutBackupPathAFileWithoutTagGetsAContainerTag) {
  Open(kTail, false);
  ASSERT_EQ(0, tlx_sqa_edit_begin(&ctx_));
  ASSERT_EQ(0, PutFrame(&ctx_.id3, "TIT2", TextData("First")));
  ASSERT_EQ(0, tlx_sqa_edit_end(&ctx_));
  // The tag grew from nothing: padded to 512 bytes, with the container magic.
  EXPECT_EQ(Concat({Kq7Tag(Frame23("TIT2", TextData("First")), 486), kTail}), ReadFile(file_));
  EXPECT_EQ("First", Title());
  EXPECT_FALSE(FileExists(backup_));
}

// 3000 bytes of frames after adding the private frame.
TEST_F(SqaEditTest, TagIsRepaddedWhenItGrowsOrKeepsTooMuchSpace) {
  const struct {
    std::uint32_t old_size;
    std::size_t tag_length;
  } rows[] = {
      {2000, 3072},  // grew: next multiple of 512 above 3010
      {3000, 4032},  // just fits: the rewrite's padding, 3008 + 1024
      {3768, 4032},  // 768 spare bytes are still fine
      {3769, 3072},  // more is given back
      {6000, 3072},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.old_size);
    Open(Original(row.old_size), false);
    ASSERT_EQ(0, Edit(nullptr));
    EXPECT_EQ(Concat({Kq7Tag(Concat({kOldFrames, kPrivate}), row.tag_length - 3010), kTail}),
              ReadFile(file_));
    std::uint32_t size = 0;  // the context sees the re-padded tag
    EXPECT_EQ(0, tlx_sqa_get_tag_size(&ctx_, &size));
    EXPECT_EQ(row.tag_length, size);
    ASSERT_EQ(0, tlx_sqa_destroy_context(&ctx_));
  }
}

TEST_F(SqaEditTest, RecoveryRestoresTheTagAndDeletesTheBackup) {
  const Bytes original = Original();
  Open(original);
  ASSERT_EQ(0, Edit(nullptr));
  ASSERT_EQ(0, Edit("Unwanted"));
  // The context stays open: it sees the recovered file and edits it again,
  // taking a new backup.
  ASSERT_EQ(0, tlx_sqa_recover_id3v2(wfile_.c_str(), wbackup_.c_str(), &ctx_));
  EXPECT_EQ(original, ReadFile(file_));
  EXPECT_FALSE(FileExists(backup_));
  EXPECT_EQ("Old title", Title());
  ASSERT_EQ(0, Edit("Again"));
  EXPECT_EQ(Bytes(original.begin(), original.begin() + 410), ReadFile(backup_));
  ASSERT_EQ(0, tlx_sqa_destroy_context(&ctx_));
  // Without a context; a second recovery finds no backup.
  ASSERT_EQ(0, tlx_sqa_recover_id3v2(wfile_.c_str(), wbackup_.c_str(), nullptr));
  EXPECT_EQ(original, ReadFile(file_));
  EXPECT_FALSE(FileExists(backup_));
  EXPECT_EQ(TLX_ID3_E_OPEN, tlx_sqa_recover_id3v2(wfile_.c_str(), wbackup_.c_str(), nullptr));
  EXPECT_EQ(original, ReadFile(file_));
}

TEST_F(SqaEditTest, CallsOutOfOrderAndAFailedBackupAreRefused) {
  Open(Original());
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_sqa_edit_end(&ctx_));
  // A transaction opened on the engine context directly is left alone.
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(&ctx_.id3));
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_sqa_edit_begin(&ctx_));
  EXPECT_EQ(0, PutFrame(&ctx_.id3, "TIT2", TextData("Direct"), 0));
  ASSERT_EQ(0, tlx_id3_v2_edit_end(&ctx_.id3));
  EXPECT_EQ("Direct", Title());
  const Bytes direct = ReadFile(file_);
  ASSERT_EQ(0, tlx_sqa_edit_begin(&ctx_));
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_sqa_edit_begin(&ctx_));
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_sqa_recover_id3v2(wfile_.c_str(), wbackup_.c_str(), &ctx_));
  EXPECT_TRUE(FileExists(backup_));
  // Destroying drops the open edit: the file is as it was.
  ASSERT_EQ(0, tlx_sqa_destroy_context(&ctx_));
  EXPECT_EQ(direct, ReadFile(file_));
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_sqa_destroy_context(&ctx_));
  // A backup that cannot be written stops the edit before it begins.
  const std::wstring unreachable = dir_.WFile("missing/song.bak");
  ASSERT_EQ(0, tlx_sqa_create_context(wfile_.c_str(), TLX_SQA_MODE_WRITE, 0, unreachable.c_str(), &ctx_));
  EXPECT_EQ(TLX_ID3_E_OPEN, tlx_sqa_edit_begin(&ctx_));
  EXPECT_EQ(TLX_ID3_STATE_IDLE, ctx_.id3.state);
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_sqa_edit_end(&ctx_));
  EXPECT_EQ(direct, ReadFile(file_));
}

// A tag that claims more than the file holds would take the codec header and
// the audio with it: refused before the backup, nothing written.
TEST_F(SqaEditTest, ATagPastTheEndOfTheFileIsRefused) {
  Bytes damaged = Original();
  damaged.resize(300);
  Open(damaged);
  EXPECT_EQ(TLX_ID3_E_CORRUPT, tlx_sqa_edit_begin(&ctx_));
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_sqa_edit_end(&ctx_));
  tlx_sqa_codec_data_header header{};
  header.version = 1;
  header.encryption_id = 1;
  header.codec = TLX_SQA_CODEC_1;
  header.info.codec1.sampling_rate = 44100;
  header.info.codec1.frame_size = 768;
  EXPECT_EQ(TLX_ID3_E_CORRUPT, tlx_sqa_set_codec_data_header(&ctx_, &header));
  EXPECT_FALSE(FileExists(backup_));
  EXPECT_EQ(damaged, ReadFile(file_));
}

#if defined(TLX_FAULT_INJECTION)
TEST_F(SqaEditTest, AFailedEndCanBeRepeatedAndAFailedRepaddingEndsTheEdit) {
  const Bytes original = Original(2000);
  Open(original, false);
  ASSERT_EQ(0, tlx_sqa_edit_begin(&ctx_));
  ASSERT_EQ(0, PutFrame(&ctx_.id3, "PRIV", Bytes(2970, 0x42)));
  // The rewrite cannot replace the file: the edit stays open.
  tlx_fault_reset();
  tlx_fault_arm(TLX_FAULT_RENAME, 1);
  EXPECT_EQ(TLX_ID3_E_SYSTEM, tlx_sqa_edit_end(&ctx_));
  EXPECT_EQ(TLX_SQA_STATE_EDITING, ctx_.state);
  EXPECT_EQ(original, ReadFile(file_));
  // Ending again commits the frames, but re-padding them fails: the file
  // holds the new tag with the rewrite's padding and the edit is over.
  tlx_fault_reset();
  tlx_fault_arm(TLX_FAULT_RENAME, 2);
  EXPECT_EQ(TLX_ID3_E_SYSTEM, tlx_sqa_edit_end(&ctx_));
  tlx_fault_reset();
  EXPECT_EQ(TLX_SQA_STATE_IDLE, ctx_.state);
  const Bytes frames = Concat({kOldFrames, kPrivate});
  EXPECT_EQ(Concat({Kq7Tag(frames, 1022), kTail}), ReadFile(file_));
  // The next edit, even an empty one, brings the padding in line.
  ASSERT_EQ(0, tlx_sqa_edit_begin(&ctx_));
  ASSERT_EQ(0, tlx_sqa_edit_end(&ctx_));
  EXPECT_EQ(Concat({Kq7Tag(frames, 62), kTail}), ReadFile(file_));
}
#endif

}  // namespace
}  // namespace tagkit_test
