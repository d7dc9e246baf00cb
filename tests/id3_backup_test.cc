// Backup of a tag into its own file, and recovery of a file from it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "engine_file.h"

namespace tagkit_test {
namespace {

class Id3Backup : public EngineTest {
 protected:
  int32_t Backup(const char* magic = nullptr) {
    return tlx_id3_v2_backup(Widen(backup_).c_str(), Widen(path_).c_str(), magic);
  }
  int32_t Recover(const char* magic = nullptr) {
    return tlx_id3_v2_recover(Widen(path_).c_str(), Widen(backup_).c_str(), magic);
  }
  std::string backup_ = dir_.File("song.bak");
};

// A tag of the given size (header excluded): one frame, then padding.
Bytes TagOfSize(uint32_t size, const std::string& magic = "ID3") {
  Bytes frame = Frame23("TIT2", Bytes(20, 'a'));
  Bytes tag = Id3v2Tag(3, 0, Concat({frame, Bytes(size - frame.size(), 0)}));
  std::copy(magic.begin(), magic.end(), tag.begin());
  return tag;
}

TEST_F(Id3Backup, BackupIsExactlyTheStoredTag) {
  const Bytes file = Concat({TagOfSize(2038), Audio(7000)});
  Put(file);
  WriteFile(backup_, Bytes(9000, 0xEE));  // a longer file there keeps no tail
  ASSERT_EQ(0, Backup());
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 2048), ReadFile(backup_));
  EXPECT_EQ(file, Contents());
  // Refusals create no backup.
  std::remove(backup_.c_str());
  const std::pair<Bytes, int32_t> refused[] = {
      {Audio(500), TLX_ID3_E_NOT_FOUND},
      {Id3v2Tag(4, 0, Bytes(40, 0)), TLX_ID3_E_UNSUPPORTED},
      {TagOfSize(100, "kq7"), TLX_ID3_E_NOT_FOUND},  // other magic, not allowed
  };
  for (const auto& c : refused) {
    Put(c.first);
    EXPECT_EQ(c.second, Backup());
    EXPECT_FALSE(FileExists(backup_));
  }
  EXPECT_EQ(TLX_ID3_E_OPEN, tlx_id3_v2_backup(Widen(dir_.path()).c_str(), Widen(path_).c_str(), "kq7"));
}

TEST_F(Id3Backup, BackupEditRecoverRestoresTheOriginal) {
  for (const char* magic : {static_cast<const char*>(nullptr), "kq7"}) {
    SCOPED_TRACE(magic ? magic : "ID3");
    const Bytes original = Concat({TagOfSize(700, magic ? magic : "ID3"), Audio(12345)});
    Put(original);
    ASSERT_EQ(0, Backup(magic));
    {
      Context ctx(path_);
      if (magic) {
        ASSERT_EQ(0, tlx_id3_v2_set_allow_tag_id(ctx.get(), magic));
      }
      ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
      const tlx_id3_v2_frame_header record = FrameRecord("PRIV", 3000);
      ASSERT_EQ(0, tlx_id3_v2_add_frame(ctx.get(), &record, Bytes(3000, 'p').data()));
      ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
    }
    ASSERT_EQ(Rewritten(3, 0, Concat({Frame23("TIT2", Bytes(20, 'a')), Frame23("PRIV", Bytes(3000, 'p'))}),
                        Audio(12345), magic ? magic : "ID3"),
              Contents());
    ASSERT_EQ(0, Recover(magic));
    EXPECT_EQ(original, Contents());
    EXPECT_FALSE(FileExists(backup_));
  }
  EXPECT_TRUE(NoTempFiles());
}

TEST_F(Id3Backup, FailedRecoveryKeepsFileAndBackup) {
  const Bytes tagged = Concat({TagOfSize(200), Audio(100)});
  const struct {
    const char* name;
    Bytes file, backup;  // no backup file when empty
    int32_t rc;
  } cases[] = {
      {"backup missing", tagged, {}, TLX_ID3_E_OPEN},
      {"file lost its tag", Audio(800), TagOfSize(100), TLX_ID3_E_NOT_FOUND},
      {"backup is not a tag", tagged, Audio(300), TLX_ID3_E_NOT_FOUND},
      {"backup shorter than a header", tagged, Text("ID3"), TLX_ID3_E_NOT_FOUND},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Put(c.file);
    std::remove(backup_.c_str());
    if (!c.backup.empty()) WriteFile(backup_, c.backup);
    EXPECT_EQ(c.rc, Recover());
    EXPECT_EQ(c.file, Contents());
    if (!c.backup.empty()) {
      EXPECT_EQ(c.backup, ReadFile(backup_));
    }
    EXPECT_TRUE(NoTempFiles());
  }
}

}  // namespace
}  // namespace tagkit_test
