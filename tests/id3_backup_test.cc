// Backup of a tag into its own file, and recovery of a file from it.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <string>

#include <gtest/gtest.h>

#include "rewrite_support.h"
#include "test_support.h"
#include "tlx_id3.h"

namespace tagkit_test {
namespace {

class BackupTest : public ::testing::Test {
 protected:
  BackupTest()
      : tmp_(dir_.File("tmp")), tmpdir_(tmp_), audio_path_(dir_.File("song.mp3")),
        backup_path_(dir_.File("song.bak")) {
    mkdir(tmp_.c_str(), 0700);
  }

  std::wstring Audio() const { return Widen(audio_path_); }
  std::wstring Backup() const { return Widen(backup_path_); }

  TempDir dir_;
  std::string tmp_;
  ScopedTmpdir tmpdir_;
  std::string audio_path_;
  std::string backup_path_;
};

// A tag of the given size (header excluded) holding one frame and padding.
Bytes TagOfSize(std::uint32_t size, const std::string& magic = "ID3") {
  Bytes frame = Frame23("TIT2", Bytes(20, 'a'));
  Bytes tag = Id3v2Tag(3, 0, Concat({frame, Bytes(size - frame.size(), 0)}));
  std::copy(magic.begin(), magic.end(), tag.begin());
  return tag;
}

TEST_F(BackupTest, BackupIsExactlyTheStoredTag) {
  const Bytes file = Concat({TagOfSize(2038), tagkit_test::Audio(7000)});
  WriteFile(audio_path_, file);
  // A longer file already at the backup path does not keep its tail.
  WriteFile(backup_path_, Bytes(9000, 0xEE));
  ASSERT_EQ(0, tlx_id3_v2_backup(Backup().c_str(), Audio().c_str(), nullptr));
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 2048), ReadFile(backup_path_));
  EXPECT_EQ(file, ReadFile(audio_path_));
}

TEST_F(BackupTest, BackupRefusals) {
  struct Case {
    const char* name;
    Bytes file;
    const char* magic;
    int32_t rc;
  };
  const Case cases[] = {
      {"no tag", tagkit_test::Audio(500), nullptr, TLX_ID3_E_NOT_FOUND},
      {"ID3v2.4", Id3v2Tag(4, 0, Bytes(40, 0)), nullptr, TLX_ID3_E_UNSUPPORTED},
      {"other magic not allowed", TagOfSize(100, "kq7"), nullptr, TLX_ID3_E_NOT_FOUND},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    WriteFile(audio_path_, row.file);
    EXPECT_EQ(row.rc, tlx_id3_v2_backup(Backup().c_str(), Audio().c_str(), row.magic));
    EXPECT_FALSE(FileExists(backup_path_));
    EXPECT_EQ(row.file, ReadFile(audio_path_));
  }
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_backup(nullptr, Audio().c_str(), nullptr));
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_backup(Backup().c_str(), nullptr, nullptr));
  EXPECT_EQ(TLX_ID3_E_NOT_FOUND,
            tlx_id3_v2_backup(Backup().c_str(), Widen(dir_.File("none.mp3")).c_str(), nullptr));
  // The backup path is a directory.
  WriteFile(audio_path_, TagOfSize(100));
  EXPECT_EQ(TLX_ID3_E_OPEN, tlx_id3_v2_backup(Widen(dir_.path()).c_str(), Audio().c_str(), nullptr));
  // The other magic once allowed.
  WriteFile(audio_path_, TagOfSize(100, "kq7"));
  ASSERT_EQ(0, tlx_id3_v2_backup(Backup().c_str(), Audio().c_str(), "kq7"));
  EXPECT_EQ(TagOfSize(100, "kq7"), ReadFile(backup_path_));
}

TEST_F(BackupTest, RecoveryPutsTheBackupInFrontOfTheCurrentAudio) {
  const Bytes backup = TagOfSize(2038);
  const Bytes file = Concat({TagOfSize(4990), tagkit_test::Audio(6000)});
  WriteFile(audio_path_, file);
  WriteFile(backup_path_, backup);
  ASSERT_EQ(0, tlx_id3_v2_recover(Audio().c_str(), Backup().c_str(), nullptr));
  EXPECT_EQ(Concat({backup, Bytes(file.begin() + 5000, file.end())}), ReadFile(audio_path_));
  EXPECT_FALSE(FileExists(backup_path_));
  EXPECT_TRUE(ListDir(tmp_).empty());
}

TEST_F(BackupTest, BackupEditRecoverRestoresTheOriginal) {
  for (const char* magic : {static_cast<const char*>(nullptr), "kq7"}) {
    SCOPED_TRACE(magic ? magic : "ID3");
    const Bytes original = Concat({TagOfSize(700, magic ? magic : "ID3"), tagkit_test::Audio(12345)});
    WriteFile(audio_path_, original);
    ASSERT_EQ(0, tlx_id3_v2_backup(Backup().c_str(), Audio().c_str(), magic));
    {
      Context ctx;
      ASSERT_EQ(0, ctx.Open(audio_path_));
      if (magic) {
        ASSERT_EQ(0, tlx_id3_v2_set_allow_tag_id(ctx.get(), magic));
      }
      ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
      tlx_id3_v2_frame_header record = FrameRecord("PRIV", 3000);
      Bytes data(3000, 'p');
      ASSERT_EQ(0, tlx_id3_v2_add_frame(ctx.get(), &record, data.data()));
      ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
    }
    ASSERT_NE(original, ReadFile(audio_path_));
    ASSERT_EQ(0, tlx_id3_v2_recover(Audio().c_str(), Backup().c_str(), magic));
    EXPECT_EQ(original, ReadFile(audio_path_));
    EXPECT_FALSE(FileExists(backup_path_));
  }
  EXPECT_TRUE(ListDir(tmp_).empty());
}

TEST_F(BackupTest, FailedRecoveryKeepsFileAndBackup) {
  struct Case {
    const char* name;
    Bytes file;
    Bytes backup;  // empty: no backup file
    int32_t rc;
  };
  const Bytes good_backup = TagOfSize(100);
  const Case cases[] = {
      {"backup missing", Concat({TagOfSize(200), tagkit_test::Audio(100)}), {}, TLX_ID3_E_OPEN},
      {"file lost its tag", tagkit_test::Audio(800), good_backup, TLX_ID3_E_NOT_FOUND},
      {"backup is not a tag", Concat({TagOfSize(200), tagkit_test::Audio(100)}),
       tagkit_test::Audio(300), TLX_ID3_E_NOT_FOUND},
      {"backup shorter than a header", Concat({TagOfSize(200), tagkit_test::Audio(100)}), Text("ID3"),
       TLX_ID3_E_NOT_FOUND},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    WriteFile(audio_path_, row.file);
    unlink(backup_path_.c_str());
    if (!row.backup.empty()) WriteFile(backup_path_, row.backup);
    EXPECT_EQ(row.rc, tlx_id3_v2_recover(Audio().c_str(), Backup().c_str(), nullptr));
    EXPECT_EQ(row.file, ReadFile(audio_path_));
    if (!row.backup.empty()) {
      EXPECT_EQ(row.backup, ReadFile(backup_path_));
    }
    EXPECT_TRUE(ListDir(tmp_).empty());
  }
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_recover(nullptr, Backup().c_str(), nullptr));
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_recover(Audio().c_str(), nullptr, nullptr));
}

}  // namespace
}  // namespace tagkit_test
